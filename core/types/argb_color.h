#pragma once

#include <d3d9types.h>

#include <cstdint>

// A floating-point colour, alpha first; 1.0 is full intensity. Byte and packed forms convert
// with a factor of 1/255.
struct ArgbColor {
    float a = 1.0f;
    float r = 1.0f;
    float g = 1.0f;
    float b = 1.0f;

    // Opaque white.
    constexpr ArgbColor() = default;
    constexpr ArgbColor(float ca, float cr, float cg, float cb) : a(ca), r(cr), g(cg), b(cb) {}
    // Opaque.
    constexpr ArgbColor(float cr, float cg, float cb) : a(1.0f), r(cr), g(cg), b(cb) {}
    // Opaque grey: r = g = b = v.
    explicit constexpr ArgbColor(float v) : a(1.0f), r(v), g(v), b(v) {}
    // Opaque, from byte values 0 to 255.
    ArgbColor(int cr, int cg, int cb);
    // From byte values 0 to 255.
    ArgbColor(int ca, int cr, int cg, int cb);
    // From a packed 0xAARRGGBB value.
    explicit ArgbColor(unsigned argb);

    // Packed 0xAARRGGBB. Each component times 256, truncated and limited to 0..255, so 1.0 packs
    // as 255 and 0.5 as 128; unpacking divides by 255, so a round trip is not exact. Negative
    // and NaN components pack as 0.
    uint32_t ToARGB() const;
    // The Direct3D colour value: the same components in the order r, g, b, a.
    D3DCOLORVALUE ToColorValue() const;
    // a * sqrt(r*r + g*g + b*b).
    float Intensity() const;
};

// All four components times f.
ArgbColor ScaleColor(const ArgbColor& c, float f);
// Exact float comparison of all four components.
bool ColorsEqual(const ArgbColor& x, const ArgbColor& y);
bool ColorsDiffer(const ArgbColor& x, const ArgbColor& y);
