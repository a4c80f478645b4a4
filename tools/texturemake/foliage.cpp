#include "tools/texturemake/foliage.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace rh::texturemake {

namespace {

uint32_t Mix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}

float Unit(uint32_t h) { return float(h >> 8) / float(1u << 24); }  // [0, 1)

// Distance from p to the segment a-b, and where along it (0..1) the nearest point lies.
float SegmentDistance(float px, float py, float ax, float ay, float bx, float by, float* along) {
    const float dx = bx - ax, dy = by - ay;
    const float length2 = dx * dx + dy * dy;
    float t = length2 > 0.0f ? ((px - ax) * dx + (py - ay) * dy) / length2 : 0.0f;
    t = std::clamp(t, 0.0f, 1.0f);
    *along = t;
    return std::hypot(px - (ax + t * dx), py - (ay + t * dy));
}

}  // namespace

Picture BushPicture() {
    constexpr int kSize = 128;
    Picture picture(kSize, kSize);
    // Branches: from the stem at the bottom middle, fanning upward, shorter towards the top.
    struct Branch {
        float ax, ay, bx, by, width;
    };
    std::vector<Branch> branches;
    uint32_t state = 0x5EEDB05Eu;
    auto next = [&state]() { return Unit(state = Mix(state + 0x9E3779B9u)); };
    for (int i = 0; i < 26; ++i) {
        const float rise = 0.15f + 0.8f * next();                       // where it leaves the stem
        const float side = (i % 2 == 0 ? -1.0f : 1.0f) * (0.15f + 0.35f * next());
        const float reach = 0.45f * (1.0f - rise) + 0.12f;
        const float ax = 0.5f, ay = 1.0f - 0.9f * rise;
        const float bx = std::clamp(ax + side * reach * 1.4f, 0.04f, 0.96f);
        const float by = std::clamp(ay - reach * (0.35f + 0.4f * next()), 0.03f, 0.97f);
        branches.push_back({ax, ay, bx, by, 0.05f + 0.05f * next()});
    }
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const float u = (float(x) + 0.5f) / kSize, v = (float(y) + 0.5f) / kSize;
            // Needles: a fine hashed texture thins the branches' edges into tufts.
            const float grain = Unit(Mix(uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ 0xB05Eu));
            float cover = 0.0f, snow = 0.0f;
            for (const Branch& b : branches) {
                float along = 0.0f;
                const float d = SegmentDistance(u, v, b.ax, b.ay, b.bx, b.by, &along);
                const float width = b.width * (1.0f - 0.6f * along);
                if (d < width) {
                    const float c = 1.0f - d / width;
                    cover = std::max(cover, c);
                    // Snow on the upper side: above the branch's line.
                    const float ly = b.ay + along * (b.by - b.ay);
                    if (v < ly) snow = std::max(snow, c);
                }
            }
            // The stem.
            if (std::abs(u - 0.5f) < 0.025f && v > 0.1f) cover = std::max(cover, 0.9f);
            uint8_t* px = picture.At(x, y);
            const bool solid = cover > 0.15f + 0.45f * grain;
            const float shade = 0.7f + 0.3f * grain;
            if (snow > 0.35f && grain > 0.3f) {
                px[0] = uint8_t(215 * shade + 30), px[1] = uint8_t(222 * shade + 28), px[2] = uint8_t(235 * shade + 20);
            } else {
                px[0] = uint8_t(34 * shade), px[1] = uint8_t(78 * shade), px[2] = uint8_t(46 * shade);
            }
            px[3] = solid ? 255 : 0;
        }
    }
    return picture;
}

}  // namespace rh::texturemake
