#include "core/types/argb_color.h"

#include <cmath>

namespace {

constexpr float kByteToUnit = 1.0f / 255.0f;

// Component times 256, truncated, limited to 0..255. A negative or NaN component must not
// spill into the neighbouring channels of the packed word, so it packs as 0; the limit is
// tested before the conversion so that huge values never reach an out-of-range cast.
uint32_t PackComponent(float c) {
    if (!(c > 0.0f)) {
        return 0;
    }
    float scaled = c * 256.0f;
    if (scaled >= 255.0f) {
        return 255;
    }
    return static_cast<uint32_t>(scaled);
}

}  // namespace

ArgbColor::ArgbColor(int cr, int cg, int cb)
    : a(1.0f),
      r(static_cast<float>(cr) * kByteToUnit),
      g(static_cast<float>(cg) * kByteToUnit),
      b(static_cast<float>(cb) * kByteToUnit) {}

ArgbColor::ArgbColor(int ca, int cr, int cg, int cb)
    : a(static_cast<float>(ca) * kByteToUnit),
      r(static_cast<float>(cr) * kByteToUnit),
      g(static_cast<float>(cg) * kByteToUnit),
      b(static_cast<float>(cb) * kByteToUnit) {}

ArgbColor::ArgbColor(unsigned argb)
    : ArgbColor(static_cast<int>((argb >> 24) & 0xFF), static_cast<int>((argb >> 16) & 0xFF),
                static_cast<int>((argb >> 8) & 0xFF), static_cast<int>(argb & 0xFF)) {}

uint32_t ArgbColor::ToARGB() const {
    return (PackComponent(a) << 24) | (PackComponent(r) << 16) | (PackComponent(g) << 8) |
           PackComponent(b);
}

D3DCOLORVALUE ArgbColor::ToColorValue() const { return D3DCOLORVALUE{r, g, b, a}; }

float ArgbColor::Intensity() const { return a * std::sqrt(r * r + g * g + b * b); }

ArgbColor ScaleColor(const ArgbColor& c, float f) {
    return ArgbColor(c.a * f, c.r * f, c.g * f, c.b * f);
}

bool ColorsEqual(const ArgbColor& x, const ArgbColor& y) {
    return x.a == y.a && x.r == y.r && x.g == y.g && x.b == y.b;
}

bool ColorsDiffer(const ArgbColor& x, const ArgbColor& y) { return !ColorsEqual(x, y); }
