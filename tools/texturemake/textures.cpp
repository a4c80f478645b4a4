#include "tools/texturemake/textures.h"

#include <algorithm>
#include <cmath>

namespace rh::texturemake {

namespace {

constexpr float kPi = 3.14159265358979f;

// A 32-bit integer hash (two rounds of multiply and xor-shift) of a lattice point and a seed.
uint32_t Hash(int32_t x, int32_t y, uint32_t seed) {
    uint32_t h = uint32_t(x) * 0x8DA6B343u ^ uint32_t(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

float Unit(uint32_t h) { return float(h >> 8) / float(1u << 24); }  // [0, 1)

// Value noise on a lattice of px x py cells over the unit square, wrapping at its edges so
// that the picture tiles; smooth (quintic) between lattice points. [0, 1). Stretched grain
// takes fewer cells along its length (py < px), never a scaled coordinate, which would break
// the wrap.
float TiledNoise(float u, float v, int px, int py, uint32_t seed) {
    const float x = u * float(px), y = v * float(py);
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    const float fx = x - float(x0), fy = y - float(y0);
    auto fade = [](float t) { return t * t * t * (t * (t * 6.0f - 15.0f) + 10.0f); };
    auto at = [&](int ix, int iy) {
        const int wx = ((ix % px) + px) % px, wy = ((iy % py) + py) % py;
        return Unit(Hash(wx, wy, seed));
    };
    const float a = at(x0, y0), b = at(x0 + 1, y0), c = at(x0, y0 + 1), d = at(x0 + 1, y0 + 1);
    const float sx = fade(fx), sy = fade(fy);
    return (a + (b - a) * sx) + ((c + (d - c) * sx) - (a + (b - a) * sx)) * sy;
}

// Octaves of tiled noise, each twice the lattice and half the amplitude. [0, 1).
float Fbm(float u, float v, int px, int py, int octaves, uint32_t seed) {
    float sum = 0.0f, amplitude = 0.5f, total = 0.0f;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * TiledNoise(u, v, px << o, py << o, seed + uint32_t(o) * 101u);
        total += amplitude;
        amplitude *= 0.5f;
    }
    return sum / total;
}

uint8_t Byte(float value) { return uint8_t(std::clamp(value, 0.0f, 255.0f) + 0.5f); }

// Fills every pixel from colour(u, v) at the pixel centres -> r, g, b, a in 0..255.
template <typename Colour>
Picture Fill(int width, int height, Colour colour) {
    Picture picture(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float u = (float(x) + 0.5f) / float(width), v = (float(y) + 0.5f) / float(height);
            float rgba[4] = {0, 0, 0, 255};
            colour(u, v, x, y, rgba);
            uint8_t* p = picture.At(x, y);
            for (int c = 0; c < 4; ++c) p[c] = Byte(rgba[c]);
        }
    }
    return picture;
}

}  // namespace

Picture SnowPicture() {
    return Fill(256, 256, [](float u, float v, int x, int y, float* c) {
        const float n = Fbm(u, v, 8, 8, 5, 11u) - 0.5f;
        const bool sparkle = (Hash(x, y, 12u) & 0x3FFu) == 0;
        const float lift = sparkle ? 18.0f : 0.0f;
        c[0] = 226.0f + 30.0f * n + lift;
        c[1] = 232.0f + 28.0f * n + lift;
        c[2] = 246.0f + 16.0f * n + lift;
    });
}

Picture PlasterPicture() {
    return Fill(256, 256, [](float u, float v, int x, int y, float* c) {
        const float mottle = Fbm(u, v, 4, 4, 5, 21u) - 0.5f;
        const float grit = Unit(Hash(x, y, 22u)) - 0.5f;
        c[0] = 222.0f + 40.0f * mottle + 8.0f * grit;
        c[1] = 208.0f + 38.0f * mottle + 8.0f * grit;
        c[2] = 178.0f + 30.0f * mottle + 8.0f * grit;
    });
}

Picture TimberPicture() {
    return Fill(256, 256, [](float u, float v, int, int, float* c) {
        // Rings across u, bent by noise, repeating a whole number of times so the grain tiles.
        const float bend = Fbm(u, v, 4, 4, 4, 31u);
        const float ring = 0.5f + 0.5f * std::sin(2.0f * kPi * (6.0f * u + 1.5f * bend));
        const float fibre = Fbm(u, v, 16, 4, 3, 32u) - 0.5f;
        const float dark = 0.55f + 0.45f * ring;
        c[0] = (78.0f + 26.0f * fibre) * dark + 20.0f;
        c[1] = (50.0f + 16.0f * fibre) * dark + 12.0f;
        c[2] = (30.0f + 10.0f * fibre) * dark + 8.0f;
    });
}

Picture BarkPicture() {
    return Fill(128, 256, [](float u, float v, int, int, float* c) {
        const float streak = Fbm(u, v, 8, 1, 4, 41u);
        const float crack = streak < 0.42f ? 0.55f : 1.0f;
        const float n = Fbm(u, v, 8, 8, 4, 42u) - 0.5f;
        c[0] = (84.0f + 30.0f * n) * crack;
        c[1] = (66.0f + 24.0f * n) * crack;
        c[2] = (52.0f + 18.0f * n) * crack;
    });
}

Picture GlowPicture() {
    return Fill(128, 128, [](float u, float v, int, int, float* c) {
        // The glow ends inside the picture: its edge pixels are fully transparent.
        const float r = std::min(1.0f, 2.1f * std::hypot(u - 0.5f, v - 0.5f));
        const float fall = (1.0f - r) * (1.0f - r);
        c[0] = 255.0f;
        c[1] = 200.0f + 40.0f * fall;
        c[2] = 130.0f + 90.0f * fall * fall;
        c[3] = 255.0f * fall;
    });
}

Picture SnowflakePicture() {
    return Fill(32, 32, [](float u, float v, int, int, float* c) {
        const float dx = u - 0.5f, dy = v - 0.5f;
        const float r = std::min(1.0f, 2.2f * std::hypot(dx, dy));
        const float angle = std::atan2(dy, dx);
        // Six arms: bright along the directions k * 60 degrees, a soft core.
        const float arms = std::pow(std::abs(std::cos(3.0f * angle)), 12.0f) * std::max(0.0f, 1.0f - r);
        const float core = std::max(0.0f, 1.0f - 3.0f * r);
        c[0] = c[1] = c[2] = 255.0f;
        c[3] = 255.0f * std::min(1.0f, core + 0.8f * arms);
    });
}

bool MakeTextures(std::vector<MadeFile>* out, std::string* error) {
    struct Entry {
        const char* name;
        Picture (*make)();
        bool alpha;
    };
    const Entry entries[] = {
        {"Media/Txt/snow.jpg", &SnowPicture, false},       {"Media/Txt/plaster.jpg", &PlasterPicture, false},
        {"Media/Txt/timber.jpg", &TimberPicture, false},   {"Media/Txt/bark.jpg", &BarkPicture, false},
        {"Media/Txt/lampglow.png", &GlowPicture, true},    {"Media/Txt/snowflake.png", &SnowflakePicture, true},
    };
    out->clear();
    for (const Entry& e : entries) {
        MadeFile file;
        file.name = e.name;
        const Picture picture = e.make();
        const bool ok = e.alpha ? EncodePng(picture, &file.bytes, error) : EncodeJpeg(picture, 90, &file.bytes, error);
        if (!ok) return *error = file.name + ": " + *error, false;
        out->push_back(std::move(file));
    }
    return true;
}

}  // namespace rh::texturemake
