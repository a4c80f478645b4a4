// The pictures of the settings and about dialogs and of the preview: the saver's village drawn
// by the light-map baker's ray tracer (the about box's two emblems are views of it too), written
// as 24-bit BMP files. The same bytes every run.
#pragma once

#include "tools/picturemake/village_view.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dialogpictures {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // top row first, 3 bytes a pixel

    Picture(int w, int h) : width(w), height(h), rgb(static_cast<size_t>(w) * h * 3, 0) {}
    uint8_t* At(int x, int y) { return &rgb[(static_cast<size_t>(y) * width + x) * 3]; }
};

// The saver's village from `camera`, drawn at twice the size and averaged down.
Picture DrawVillageView(int width, int height, const picturemake::ViewCamera& camera);

// The bytes of a BITMAPFILEHEADER, a BITMAPINFOHEADER and bottom-up 24-bit rows padded to 4.
std::vector<uint8_t> EncodeBmp(const Picture& picture);
bool WriteBmp(const Picture& picture, const std::string& path);

}  // namespace dialogpictures
