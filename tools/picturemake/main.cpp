// picturemake OUTDIR FONT BOLDFONT: writes loading.jpg, corner_top_left.tga,
// corner_top_right.tga, corner_bottom_left.tga and title.tga into OUTDIR.

#include "tools/picturemake/pictures.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    using namespace picturemake;
    if (argc != 4) {
        std::fprintf(stderr, "usage: picturemake OUTDIR FONT BOLDFONT\n");
        return 2;
    }
    const std::string out = argv[1];
    TextPainter regular(argv[2]);
    TextPainter bold(argv[3]);
    if (!regular.ok() || !bold.ok()) {
        std::fprintf(stderr, "picturemake: cannot use the fonts %s and %s\n", argv[2], argv[3]);
        return 1;
    }
    // The three small corners show nothing: one transparent pixel each.
    Image empty(1, 1);
    bool ok = WriteJpeg(DrawLoadingPicture(regular), out + "/loading.jpg") &&
              WriteTga(empty, out + "/corner_top_left.tga") && WriteTga(empty, out + "/corner_top_right.tga") &&
              WriteTga(empty, out + "/corner_bottom_left.tga") &&
              WriteTga(DrawTitlePicture(regular, bold), out + "/title.tga");
    if (!ok) {
        std::fprintf(stderr, "picturemake: cannot write into %s\n", out.c_str());
        return 1;
    }
    return 0;
}
