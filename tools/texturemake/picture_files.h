// PNG and baseline JPEG writing for the media tools: PNG (libpng) for pictures with alpha,
// baseline JPEG (libjpeg) for colour textures and light maps. No time stamps or other
// varying fields are written, so the same pixels always give the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rh::texturemake {

// A picture of width x height pixels, top row first, four bytes a pixel: r, g, b, a.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;

    Picture(int w, int h) : width(w), height(h), rgba(size_t(w) * size_t(h) * 4, 0) {}
    uint8_t* At(int x, int y) { return &rgba[(size_t(y) * size_t(width) + size_t(x)) * 4]; }
};

// An 8-bit RGBA PNG, best compression, no ancillary chunks. False with a message on failure.
bool EncodePng(const Picture& picture, std::vector<uint8_t>* out, std::string* error);
// A baseline JPEG (JFIF, 4:2:0) of the colour channels at `quality` (1 to 100).
bool EncodeJpeg(const Picture& picture, int quality, std::vector<uint8_t>* out, std::string* error);

// Writes bytes to a file, making its folders. False with a message on failure.
bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);

}  // namespace rh::texturemake
