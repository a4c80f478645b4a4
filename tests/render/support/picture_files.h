// Pictures for the texture tests, written by the tests themselves: uncompressed TGA files of
// given pixels, simple patterns, and the pixels of a texture level read back from GL.
#pragma once

#include "platform/d3d9/d3d9_testing.h"

#include <d3d9.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace rh::test {

// A picture as 0xAARRGGBB words, top row first.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> pixels;

    uint32_t At(uint32_t x, uint32_t y) const { return pixels[size_t(y) * width + x]; }
};

// Four quadrants of four colours, with a one-pixel frame of `edge` round them, so that a
// shifted, flipped, scaled or cropped copy never matches.
inline Picture Quadrants(uint32_t width, uint32_t height, const uint32_t colours[4], uint32_t edge) {
    Picture p{width, height, {}};
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint32_t c = colours[(y >= height / 2 ? 2 : 0) + (x >= width / 2 ? 1 : 0)];
            if (x == 0 || y == 0 || x + 1 == width || y + 1 == height) c = edge;
            p.pixels.push_back(c);
        }
    }
    return p;
}

inline Picture Solid(uint32_t width, uint32_t height, uint32_t colour) {
    return Picture{width, height, std::vector<uint32_t>(size_t(width) * height, colour)};
}

// The bytes of an uncompressed 32-bit TGA file (image type 2) of the picture, rows stored top
// row first (descriptor bit 5) with 8 alpha bits.
inline std::string TgaFile(const Picture& p) {
    std::string bytes(18, '\0');
    bytes[2] = 2;
    bytes[12] = char(p.width & 0xFF);
    bytes[13] = char(p.width >> 8);
    bytes[14] = char(p.height & 0xFF);
    bytes[15] = char(p.height >> 8);
    bytes[16] = 32;
    bytes[17] = 0x28;
    for (uint32_t c : p.pixels) {
        bytes += char(c & 0xFF);          // blue
        bytes += char((c >> 8) & 0xFF);   // green
        bytes += char((c >> 16) & 0xFF);  // red
        bytes += char(c >> 24);           // alpha
    }
    return bytes;
}

// Level `level` of a texture (face 0) as GL holds it.
inline Picture ReadLevel(IDirect3DBaseTexture9* texture, UINT level) {
    Picture p;
    std::vector<DWORD> pixels;
    if (texture == nullptr || !rh::d3d9::testing::ReadTextureLevel(texture, 0, level, &pixels)) return p;
    D3DSURFACE_DESC desc{};
    static_cast<IDirect3DTexture9*>(texture)->GetLevelDesc(level, &desc);
    p.width = desc.Width;
    p.height = desc.Height;
    p.pixels.assign(pixels.begin(), pixels.end());
    return p;
}

// The rectangle [x, x + part.width) x [y, y + part.height) of `whole` equals `part`.
inline ::testing::AssertionResult ShowsAt(const Picture& whole, uint32_t x, uint32_t y, const Picture& part) {
    if (x + part.width > whole.width || y + part.height > whole.height) {
        return ::testing::AssertionFailure() << "the part does not fit at " << x << ", " << y;
    }
    for (uint32_t py = 0; py < part.height; ++py) {
        for (uint32_t px = 0; px < part.width; ++px) {
            const uint32_t got = whole.At(x + px, y + py);
            if (got != part.At(px, py)) {
                char text[96];
                std::snprintf(text, sizeof text, "at %u, %u: %08X, expected %08X", x + px, y + py, unsigned(got),
                              unsigned(part.At(px, py)));
                return ::testing::AssertionFailure() << text;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace rh::test
