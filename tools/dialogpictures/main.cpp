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
        // The about box's emblems: the church's spire against the moon, and a street lamp by a
        // house with its windows lit.
        {"about_right.bmp", DrawVillageView(70, 70, {{-505.0f, 24.0f, 28.0f}, {-440.0f, 24.0f, -62.0f}, 0.9f})},
        {"about_left.bmp", DrawVillageView(70, 70, {{330.0f, 77.0f, -329.0f}, {192.0f, 135.0f, -95.0f}, 0.7f})},
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
