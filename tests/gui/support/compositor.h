// A small software compositor for the GUI drawing tests: the picture the frame should show,
// worked out from the pictures, the tile rectangles, their order and blending alone, so that a
// frame read back from the device can be compared with something the drawing code did not make.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace rh::test {

struct Rgbf {
    double r, g, b;
};

// `src` (0xAARRGGBB) over `dst` by its alpha (SRCALPHA, INVSRCALPHA).
inline Rgbf Over(Rgbf dst, DWORD src) {
    const double a = ((src >> 24) & 0xFF) / 255.0;
    return {((src >> 16) & 0xFF) * a + dst.r * (1 - a), ((src >> 8) & 0xFF) * a + dst.g * (1 - a),
            (src & 0xFF) * a + dst.b * (1 - a)};
}

inline Rgbf ToRgbf(DWORD c) {
    return {static_cast<double>((c >> 16) & 0xFF), static_cast<double>((c >> 8) & 0xFF),
            static_cast<double>(c & 0xFF)};
}

// An RGB canvas painted back to front.
class Canvas {
public:
    Canvas(int width, int height, DWORD clear)
        : width_(width), height_(height), pixels_(static_cast<size_t>(width) * height, ToRgbf(clear)) {}

    // Paints the screen rectangle (x, y, w, h) cut to the clip rectangle (cx, cy, cw, ch): pixel
    // (px, py) takes texel(px - x, py - y); with `blend` by the texel's alpha times
    // `opacity`, else opaque.
    void Paint(int x, int y, int w, int h, int cx, int cy, int cw, int ch,
               const std::function<DWORD(int, int)>& texel, bool blend, double opacity = 1.0) {
        const int left = std::max({x, cx, 0}), top = std::max({y, cy, 0});
        const int right = std::min({x + w, cx + cw, width_}), bottom = std::min({y + h, cy + ch, height_});
        for (int py = top; py < bottom; ++py) {
            for (int px = left; px < right; ++px) {
                Rgbf& dst = pixels_[static_cast<size_t>(py) * width_ + px];
                DWORD t = texel(px - x, py - y);
                if (!blend) {
                    dst = ToRgbf(t);
                    continue;
                }
                const auto alpha = static_cast<DWORD>(std::lround(((t >> 24) & 0xFF) * opacity));
                dst = Over(dst, (t & 0xFFFFFF) | (alpha << 24));
            }
        }
    }
    void Paint(int x, int y, int w, int h, const std::function<DWORD(int, int)>& texel, bool blend,
               double opacity = 1.0) {
        Paint(x, y, w, h, 0, 0, width_, height_, texel, blend, opacity);
    }

    // 0x00RRGGBB, rounded.
    DWORD At(int x, int y) const {
        const Rgbf& p = pixels_[static_cast<size_t>(y) * width_ + x];
        auto byte = [](double v) { return static_cast<DWORD>(std::clamp(std::lround(v), 0L, 255L)); };
        return (byte(p.r) << 16) | (byte(p.g) << 8) | byte(p.b);
    }
    // 0xFFRRGGBB words, top row first.
    std::vector<uint32_t> Pixels() const {
        std::vector<uint32_t> out;
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) out.push_back(0xFF000000u | At(x, y));
        }
        return out;
    }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    int width_, height_;
    std::vector<Rgbf> pixels_;
};

}  // namespace rh::test
