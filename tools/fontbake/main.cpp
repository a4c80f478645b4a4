// rh_fontbake FONT.ttf OUTDIR
//
// Bakes the saver's two fonts from FONT.ttf into OUTDIR (made when missing): "sylfaen.fs",
// "sylfaen14.css", "sylfaen14.png", "64font.fs", "64font.css" and "64font.png".

#include "tools/fontbake/font_baker.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: rh_fontbake FONT.ttf OUTDIR\n");
        return 2;
    }
    std::error_code ec;
    std::filesystem::create_directories(argv[2], ec);
    if (ec) {
        std::fprintf(stderr, "rh_fontbake: cannot make %s: %s\n", argv[2], ec.message().c_str());
        return 1;
    }
    std::string error;
    if (!rh::fontbake::BakeSaverFonts(argv[1], argv[2], &error)) {
        std::fprintf(stderr, "rh_fontbake: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
