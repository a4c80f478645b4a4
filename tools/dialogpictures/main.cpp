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
        // The settings picture fills its static at the dialog's base units on Windows (6 x 13):
        // a lane at eye height towards the church. The preview: over the roofs to the church
        // under the moon, as the loading picture.
        {"settings_picture.bmp", DrawVillageView(255, 185, {{0.0f, 35.0f, -540.0f}, {120.0f, 60.0f, -150.0f}, 1.0f})},
        {"about_right.bmp", DrawEmblem(70, true)},
        {"about_left.bmp", DrawEmblem(70, false)},
        {"preview.bmp", DrawVillageView(155, 115, {{430.0f, 120.0f, -500.0f}, {70.0f, 110.0f, 20.0f}, 1.0f})},
    };
    for (const Out& o : outs) {
        if (!WriteBmp(o.picture, dir + "/" + o.name)) {
            std::fprintf(stderr, "dialogpictures: cannot write %s/%s\n", dir.c_str(), o.name);
            return 1;
        }
    }
    return 0;
}
