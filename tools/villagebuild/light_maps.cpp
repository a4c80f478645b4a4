#include "tools/villagebuild/light_maps.h"

#include <algorithm>
#include <cmath>

namespace rh::villagebuild {

namespace {

constexpr Vec3f kAmbient{0.22f, 0.25f, 0.33f};
constexpr Vec3f kMoon{0.30f, 0.36f, 0.52f};
constexpr Vec3f kTowardMoon{-0.36f, 0.80f, -0.48f};  // unit length
constexpr Vec3f kLamp{1.00f, 0.72f, 0.42f};
constexpr float kLampPower = 1000.0f;  // light 1.0 at about thirty units (3 m)

float Dot(Vec3f a, Vec3f b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

}  // namespace

Vec3f LightAt(Vec3f p, Vec3f n, const std::vector<Vec3f>& lamps) {
    Vec3f light = kAmbient;
    const float moon = std::max(0.0f, Dot(n, kTowardMoon));
    light = {light.x + kMoon.x * moon, light.y + kMoon.y * moon, light.z + kMoon.z * moon};
    for (const Vec3f& lamp : lamps) {
        const Vec3f d{lamp.x - p.x, lamp.y - p.y, lamp.z - p.z};
        const float d2 = Dot(d, d) + 1.0f;  // no pole at the lamp itself
        const float facing = std::max(0.0f, Dot(n, d) / std::sqrt(d2));
        const float s = kLampPower * facing / d2;
        light = {light.x + kLamp.x * s, light.y + kLamp.y * s, light.z + kLamp.z * s};
    }
    return light;
}

int LightMapSize(const MeshPart& part) {
    // About 16 x 16 texels a face.
    const size_t faces = part.indices.size() / 3;
    int size = 32;
    while (size < 1024 && size_t(size) * size_t(size) < faces * 256) size *= 2;
    return size;
}

rh::texturemake::Picture BakeLightMap(const MeshPart& part, const std::vector<Vec3f>& lamps, int size) {
    rh::texturemake::Picture picture(size, size);
    std::vector<uint8_t> filled(size_t(size) * size_t(size), 0);
    for (size_t t = 0; t + 2 < part.indices.size(); t += 3) {
        const Vertex& a = part.vertices[part.indices[t]];
        const Vertex& b = part.vertices[part.indices[t + 1]];
        const Vertex& c = part.vertices[part.indices[t + 2]];
        const float ax = a.lightUv[0] * size, ay = a.lightUv[1] * size;
        const float bx = b.lightUv[0] * size, by = b.lightUv[1] * size;
        const float cx = c.lightUv[0] * size, cy = c.lightUv[1] * size;
        const float area = (bx - ax) * (cy - ay) - (cx - ax) * (by - ay);
        if (std::abs(area) < 1e-9f) continue;
        const int x0 = std::max(0, int(std::floor(std::min({ax, bx, cx}))));
        const int x1 = std::min(size - 1, int(std::ceil(std::max({ax, bx, cx}))));
        const int y0 = std::max(0, int(std::floor(std::min({ay, by, cy}))));
        const int y1 = std::min(size - 1, int(std::ceil(std::max({ay, by, cy}))));
        for (int y = y0; y <= y1; ++y) {
            for (int x = x0; x <= x1; ++x) {
                const float px = float(x) + 0.5f, py = float(y) + 0.5f;
                const float wb = ((px - ax) * (cy - ay) - (cx - ax) * (py - ay)) / area;
                const float wc = ((bx - ax) * (py - ay) - (px - ax) * (by - ay)) / area;
                const float wa = 1.0f - wb - wc;
                if (wa < 0.0f || wb < 0.0f || wc < 0.0f) continue;
                const Vec3f p{wa * a.position.x + wb * b.position.x + wc * c.position.x,
                              wa * a.position.y + wb * b.position.y + wc * c.position.y,
                              wa * a.position.z + wb * b.position.z + wc * c.position.z};
                const Vec3f light = LightAt(p, a.normal, lamps);
                uint8_t* texel = picture.At(x, y);
                texel[0] = uint8_t(std::clamp(128.0f * light.x, 0.0f, 255.0f));
                texel[1] = uint8_t(std::clamp(128.0f * light.y, 0.0f, 255.0f));
                texel[2] = uint8_t(std::clamp(128.0f * light.z, 0.0f, 255.0f));
                texel[3] = 255;
                filled[size_t(y) * size_t(size) + size_t(x)] = 1;
            }
        }
    }
    // Grow the cells into the gaps between them (corners included, for the smaller mip levels);
    // what stays empty is neutral.
    for (int pass = 0; pass < 16; ++pass) {
        std::vector<uint8_t> next = filled;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                if (filled[size_t(y) * size_t(size) + size_t(x)]) continue;
                for (const auto& [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
                    const int nx = x + dx, ny = y + dy;
                    if (nx < 0 || ny < 0 || nx >= size || ny >= size) continue;
                    if (!filled[size_t(ny) * size_t(size) + size_t(nx)]) continue;
                    std::copy_n(picture.At(nx, ny), 4, picture.At(x, y));
                    next[size_t(y) * size_t(size) + size_t(x)] = 1;
                    break;
                }
            }
        }
        filled.swap(next);
    }
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (filled[size_t(y) * size_t(size) + size_t(x)]) continue;
            uint8_t* texel = picture.At(x, y);
            texel[0] = texel[1] = texel[2] = 128;
            texel[3] = 255;
        }
    }
    return picture;
}

}  // namespace rh::villagebuild
