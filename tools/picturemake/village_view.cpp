#include "tools/picturemake/village_view.h"

#include "tools/lightbake/light_baker.h"
#include "tools/texturemake/sky.h"
#include "tools/texturemake/textures.h"
#include "tools/villagebuild/light_maps.h"
#include "tools/villagebuild/scene_files.h"
#include "tools/villagebuild/village_geometry.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <thread>

namespace picturemake {

namespace {

namespace lb = rh::lightbake;
namespace tmk = rh::texturemake;
namespace vb = rh::villagebuild;

constexpr float kFog[3] = {120.0f, 120.0f, 150.0f};
constexpr float kFogStart = -500.0f, kFogEnd = 3000.0f;
constexpr float kAmbient = 225.0f / 255.0f;      // the saver's ambient light on lit materials
using tmk::kSkyInset;                            // the sky box quads' texture inset
constexpr float kSkyHalf = 400.0f;               // the sky box's half size
constexpr float kMoonHalf = 120.0f;              // the city's moon plane's half size
constexpr float kGlowHalf = 6.0f;                // a lamp glow's half size

struct V {
    float x, y, z;
};
V operator+(V a, V b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V operator-(V a, V b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V operator*(V a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float Dot(V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V Cross(V a, V b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V Unit(V a) { return a * (1.0f / std::sqrt(Dot(a, a))); }

// A picture's colour at (u, v), repeating, bilinear; 0..255 each and alpha.
void Sample(const tmk::Picture& p, float u, float v, float out[4]) {
    const float x = (u - std::floor(u)) * float(p.width) - 0.5f, y = (v - std::floor(v)) * float(p.height) - 0.5f;
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    const float fx = x - float(x0), fy = y - float(y0);
    auto at = [&](int ix, int iy) {
        ix = ((ix % p.width) + p.width) % p.width;
        iy = ((iy % p.height) + p.height) % p.height;
        return &p.rgba[(size_t(iy) * size_t(p.width) + size_t(ix)) * 4];
    };
    const uint8_t *a = at(x0, y0), *b = at(x0 + 1, y0), *c = at(x0, y0 + 1), *d = at(x0 + 1, y0 + 1);
    for (int k = 0; k < 4; ++k) {
        out[k] = (float(a[k]) * (1 - fx) + float(b[k]) * fx) * (1 - fy) + (float(c[k]) * (1 - fx) + float(d[k]) * fx) * fy;
    }
}

// As the light maps shape light above 1.5 (drawn modulate 2x, so at most 2).
float Shape(float light) { return light <= 1.5f ? light : 1.5f + 0.5f * std::tanh((light - 1.5f) / 0.5f); }

void Fog(float rgb[3], float distance) {
    const float f = std::clamp((kFogEnd - distance) / (kFogEnd - kFogStart), 0.0f, 1.0f);
    for (int k = 0; k < 3; ++k) rgb[k] = rgb[k] * f + kFog[k] * (1.0f - f);
}

}  // namespace

Image RenderVillage(int width, int height, const ViewCamera& camera) {
    const std::vector<vb::MeshPart> parts = vb::BuildVillage(vb::kVillageSeed);
    const std::vector<vb::Vec3f> lamps = vb::LampPositions();
    const vb::VillageLightMaps light(parts, lamps);

    // Every triangle, for the eye's rays, with the part and first index it came from.
    std::vector<lb::Triangle> triangles;
    std::vector<std::pair<uint32_t, uint32_t>> source;
    for (uint32_t p = 0; p < parts.size(); ++p) {
        const vb::MeshPart& part = parts[p];
        // Foliage cards are cut out by an alpha test this tracer does not do: left out.
        if (part.material == "Foliage") continue;
        for (uint32_t t = 0; t + 2 < part.indices.size(); t += 3) {
            const auto& a = part.vertices[part.indices[t]].position;
            const auto& b = part.vertices[part.indices[t + 1]].position;
            const auto& c = part.vertices[part.indices[t + 2]].position;
            triangles.push_back({{a.x, a.y, a.z}, {b.x, b.y, b.z}, {c.x, c.y, c.z}});
            source.emplace_back(p, t);
        }
    }
    const lb::Bvh scene(std::move(triangles));

    // The materials' colour textures, as the city names them; anything else a plain grey.
    std::map<std::string, tmk::Picture> textures;
    for (const vb::MeshPart& part : parts) {
        if (part.material == "Foliage" || textures.count(part.material) != 0) continue;
        const std::string file = "Media/Txt/" + vb::TextureFileOf(part.material);
        for (const tmk::TextureEntry& entry : tmk::TextureEntries()) {
            if (file == entry.name) textures.emplace(part.material, entry.make());
        }
    }
    const auto sky = tmk::SkyPictures(kSkyInset);
    const tmk::Picture moon = tmk::MoonPicture(), glow = tmk::GlowPicture();
    const vb::Vec3f towardMoon = vb::TowardMoon();
    const V moonDir{towardMoon.x, towardMoon.y, towardMoon.z};
    V moonU = Unit(Cross(V{0, 1, 0}, moonDir)), moonV = Cross(moonDir, moonU);
    const float moonAngle = kMoonHalf / 2200.0f;

    const V eye{camera.eye[0], camera.eye[1], camera.eye[2]};
    const V forward = Unit(V{camera.target[0], camera.target[1], camera.target[2]} - eye);
    const V right = Unit(Cross(V{0, 1, 0}, forward));
    const V up = Cross(forward, right);
    const float ty = std::tan(camera.fovY / 2), tx = ty * float(width) / float(height);

    Image image(width, height);
    std::atomic<int> nextRow{0};
    auto work = [&] {
        for (int y = nextRow++; y < height; y = nextRow++) {
            for (int x = 0; x < width; ++x) {
                const float sx = ((float(x) + 0.5f) / float(width) * 2 - 1) * tx;
                const float sy = (1 - (float(y) + 0.5f) / float(height) * 2) * ty;
                const V d = Unit(forward + right * sx + up * sy);
                float rgb[3];
                lb::Bvh::Hit hit;
                if (scene.Intersect({eye.x, eye.y, eye.z}, {d.x, d.y, d.z}, 8000.0f, &hit)) {
                    const auto [p, t] = source[hit.triangle];
                    const vb::MeshPart& part = parts[p];
                    const vb::Vertex& a = part.vertices[part.indices[t]];
                    const vb::Vertex& b = part.vertices[part.indices[t + 1]];
                    const vb::Vertex& c = part.vertices[part.indices[t + 2]];
                    const float wa = 1 - hit.u - hit.v;
                    const float u = a.uv[0] * wa + b.uv[0] * hit.u + c.uv[0] * hit.v;
                    const float v = a.uv[1] * wa + b.uv[1] * hit.u + c.uv[1] * hit.v;
                    const V at = eye + d * hit.t;
                    float colour[4] = {128, 128, 128, 255};
                    const auto texture = textures.find(part.material);
                    if (texture != textures.end()) Sample(texture->second, u, v, colour);
                    const vb::Vec3f l = light.LightAt({at.x, at.y, at.z}, a.normal, uint32_t(y) * 4099u + uint32_t(x));
                    rgb[0] = colour[0] * kAmbient * Shape(l.x);
                    rgb[1] = colour[1] * kAmbient * Shape(l.y);
                    rgb[2] = colour[2] * kAmbient * Shape(l.z);
                    Fog(rgb, hit.t);
                } else {
                    // The sky box round the eye: the face the direction points into.
                    const auto& faces = tmk::SkyFaces();
                    size_t best = 0;
                    float most = -2;
                    for (size_t f = 0; f < faces.size(); ++f) {
                        const float k = d.x * faces[f].forward[0] + d.y * faces[f].forward[1] + d.z * faces[f].forward[2];
                        if (k > most) most = k, best = f;
                    }
                    const auto& face = faces[best];
                    const float s = (d.x * face.across[0] + d.y * face.across[1] + d.z * face.across[2]) / most;
                    const float tt = (d.x * face.down[0] + d.y * face.down[1] + d.z * face.down[2]) / most;
                    float colour[4];
                    Sample(sky[best].second, kSkyInset + (s + 1) / 2 * (1 - 2 * kSkyInset),
                           kSkyInset + (tt + 1) / 2 * (1 - 2 * kSkyInset), colour);
                    for (int k = 0; k < 3; ++k) rgb[k] = colour[k];
                    Fog(rgb, kSkyHalf / most);
                    // The moon plane, added, unfogged.
                    const float facing = Dot(d, moonDir);
                    if (facing > 0) {
                        const float mu = Dot(d, moonU) / facing / moonAngle, mv = -Dot(d, moonV) / facing / moonAngle;
                        if (std::abs(mu) < 1 && std::abs(mv) < 1) {
                            float m[4];
                            Sample(moon, (mu + 1) / 2, (mv + 1) / 2, m);
                            for (int k = 0; k < 3; ++k) rgb[k] += m[k] * m[3] / 255.0f;
                        }
                    }
                }
                uint8_t* out = image.At(x, y);
                for (int k = 0; k < 3; ++k) out[k] = uint8_t(std::clamp(rgb[k], 0.0f, 255.0f) + 0.5f);
                out[3] = 255;
            }
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < lb::AvailableThreads(); ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();

    // The lamps' glows, added where the eye sees the lamp.
    for (const vb::Vec3f& lamp : lamps) {
        const V to = V{lamp.x, lamp.y, lamp.z} - eye;
        const float depth = Dot(to, forward);
        if (depth < 1) continue;
        const float distance = std::sqrt(Dot(to, to));
        lb::Bvh::Hit hit;
        if (scene.Intersect({eye.x, eye.y, eye.z}, {to.x / distance, to.y / distance, to.z / distance}, distance - 3.0f,
                            &hit)) {
            continue;
        }
        const float cx = (Dot(to, right) / depth / tx + 1) / 2 * float(width);
        const float cy = (1 - Dot(to, up) / depth / ty) / 2 * float(height);
        const float half = kGlowHalf / depth / ty * float(height) / 2 * 1.6f;
        for (int y = std::max(0, int(cy - half)); y < std::min(height, int(cy + half) + 1); ++y) {
            for (int x = std::max(0, int(cx - half)); x < std::min(width, int(cx + half) + 1); ++x) {
                float g[4];
                Sample(glow, (float(x) + 0.5f - cx) / (2 * half) + 0.5f, (float(y) + 0.5f - cy) / (2 * half) + 0.5f, g);
                if (std::abs(float(x) + 0.5f - cx) > half || std::abs(float(y) + 0.5f - cy) > half) continue;
                uint8_t* out = image.At(x, y);
                for (int k = 0; k < 3; ++k) out[k] = uint8_t(std::min(255.0f, float(out[k]) + g[k] * g[3] / 255.0f));
            }
        }
    }
    return image;
}

}  // namespace picturemake
