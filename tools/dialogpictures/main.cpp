// dialogpictures DIR: writes the dialogs' and the preview's pictures into DIR.
#include "tools/dialogpictures/dialog_pictures.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    using namespace dialogpictures;
    struct Out {
        const char* name;
        Picture picture;
    } outs[] = {
        // The settings picture fills its static at the dialog's base units on Windows (6 x 13).
        {"settings_picture.bmp", DrawVillage(255, 185, 121)},
        {"about_right.bmp", DrawEmblem(70, true)},
        {"about_left.bmp", DrawEmblem(70, false)},
        {"preview.bmp", DrawVillage(155, 115, 1053)},
    };
    for (const Out& o : outs) {
        if (!WriteBmp(o.picture, dir + "/" + o.name)) {
            std::fprintf(stderr, "dialogpictures: cannot write %s/%s\n", dir.c_str(), o.name);
            return 1;
        }
    }
    return 0;
}
