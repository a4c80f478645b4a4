#include "tools/texturemake/sky.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace rh::texturemake {

namespace {

// The fog's colour: the sky meets the fogged village in it at the horizon.
constexpr float kHaze[3] = {120.0f, 120.0f, 150.0f};
constexpr float kDusk[3] = {30.0f, 42.0f, 96.0f};   // the blue above the haze
constexpr float kZenith[3] = {6.0f, 10.0f, 36.0f};  // straight up
constexpr int kStarCount = 5200;                     // over the whole sphere
constexpr uint64_t kStarSeed = 0x5EEDF00DCAFEull;

// SplitMix64: a fixed stream of 64-bit values from a seed.
struct Stream {
    uint64_t state;
    uint64_t Next() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    float Unit() { return float(Next() >> 40) / float(1u << 24); }  // [0, 1)
};

float Dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

float Smooth(float edge0, float edge1, float x) {
    const float t = std::clamp((x - edge0) / (edge1 - edge0), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

struct Star {
    float direction[3];  // unit
    float brightness;    // 0..1, faded towards the horizon already
    float radius;        // the splat's standard deviation in texels
    float tint[3];       // multiplies white
};

std::vector<Star> MakeStars() {
    std::vector<Star> stars;
    Stream random{kStarSeed};
    for (int i = 0; i < kStarCount; ++i) {
        // Uniform on the sphere: height uniform in [-1, 1], angle uniform.
        const float y = 2.0f * random.Unit() - 1.0f;
        const float angle = 6.2831853f * random.Unit();
        const float ring = std::sqrt(std::max(0.0f, 1.0f - y * y));
        const float magnitude = random.Unit();
        const float hue = random.Unit();
        // Few bright stars, many faint ones; none low in the haze.
        const float fade = Smooth(0.03f, 0.45f, y);
        if (fade <= 0.0f) continue;
        Star s;
        s.direction[0] = ring * std::cos(angle);
        s.direction[1] = y;
        s.direction[2] = ring * std::sin(angle);
        s.brightness = fade * (0.22f + 0.78f * std::pow(magnitude, 7.0f));
        s.radius = 0.55f + 0.6f * std::pow(magnitude, 10.0f);
        // Mostly white, some faintly blue, some faintly warm.
        s.tint[0] = hue < 0.2f ? 0.85f : hue > 0.85f ? 1.0f : 0.95f;
        s.tint[1] = hue > 0.85f ? 0.9f : 0.96f;
        s.tint[2] = hue > 0.85f ? 0.78f : 1.0f;
        stars.push_back(s);
    }
    return stars;
}

}  // namespace

const std::vector<SkyFace>& SkyFaces() {
    // The sky box's quads show u along their local x and v down their local y; each face's
    // frame turns those into these world axes (y up).
    static const std::vector<SkyFace> faces = {
        {"skyfront", {0, 0, 1}, {1, 0, 0}, {0, -1, 0}},  {"skyback", {0, 0, -1}, {-1, 0, 0}, {0, -1, 0}},
        {"skyleft", {-1, 0, 0}, {0, 0, 1}, {0, -1, 0}},  {"skyright", {1, 0, 0}, {0, 0, -1}, {0, -1, 0}},
        {"skyup", {0, 1, 0}, {1, 0, 0}, {0, 0, 1}},      {"skydown", {0, -1, 0}, {1, 0, 0}, {0, 0, -1}},
    };
    return faces;
}

void SkyColour(const float direction[3], float rgb[3]) {
    const float length = std::sqrt(Dot(direction, direction));
    const float up = length > 0.0f ? std::max(0.0f, direction[1] / length) : 0.0f;
    // The haze is a thin band over the horizon; the dusk blue gives way to the zenith's slowly.
    const float haze = std::exp(-up / 0.075f);
    const float dusk = std::exp(-up / 0.33f);
    for (int c = 0; c < 3; ++c) {
        const float sky = kZenith[c] + (kDusk[c] - kZenith[c]) * dusk;
        rgb[c] = sky + (kHaze[c] - sky) * haze;
    }
}

std::vector<std::pair<std::string, Picture>> SkyPictures(float inset) {
    const int size = kSkyFaceSize;
    const float shown = 1.0f - 2.0f * inset;
    // Face coordinate of a texel's centre and back: the shown part [inset, 1 - inset] of the
    // picture spans [-1, 1].
    auto toFace = [&](int texel) { return ((float(texel) + 0.5f) / float(size) - inset) / shown * 2.0f - 1.0f; };
    auto toTexel = [&](float face) { return (inset + (face + 1.0f) * 0.5f * shown) * float(size) - 0.5f; };
    const std::vector<Star> stars = MakeStars();

    std::vector<std::pair<std::string, Picture>> out;
    for (const SkyFace& face : SkyFaces()) {
        // Starlight first: each star as a small Gaussian around where its direction meets this
        // face's plane, also when that lies just past the face's edge.
        std::vector<float> light(size_t(size) * size_t(size) * 3, 0.0f);
        for (const Star& star : stars) {
            const float k = Dot(star.direction, face.forward);
            if (k < 0.4f) continue;
            const float cx = toTexel(Dot(star.direction, face.across) / k);
            const float cy = toTexel(Dot(star.direction, face.down) / k);
            const int reach = int(std::ceil(3.0f * star.radius));
            if (cx < -float(reach) || cy < -float(reach) || cx > float(size + reach) || cy > float(size + reach)) continue;
            const int x0 = std::max(0, int(std::floor(cx)) - reach), x1 = std::min(size - 1, int(std::ceil(cx)) + reach);
            const int y0 = std::max(0, int(std::floor(cy)) - reach), y1 = std::min(size - 1, int(std::ceil(cy)) + reach);
            const float spread = 1.0f / (2.0f * star.radius * star.radius);
            for (int y = y0; y <= y1; ++y) {
                for (int x = x0; x <= x1; ++x) {
                    const float dx = float(x) - cx, dy = float(y) - cy;
                    const float w = star.brightness * std::exp(-(dx * dx + dy * dy) * spread);
                    float* texel = &light[(size_t(y) * size_t(size) + size_t(x)) * 3];
                    for (int c = 0; c < 3; ++c) texel[c] += w * star.tint[c];
                }
            }
        }
        Picture picture(size, size);
        Stream dither{0xD1CEull + uint64_t(face.name[3]) * 131u + uint64_t(face.name[4])};
        for (int y = 0; y < size; ++y) {
            const float t = toFace(y);
            for (int x = 0; x < size; ++x) {
                const float s = toFace(x);
                float direction[3];
                for (int c = 0; c < 3; ++c) direction[c] = face.forward[c] + s * face.across[c] + t * face.down[c];
                float rgb[3];
                SkyColour(direction, rgb);
                // Under half a level of noise, so the smooth gradient does not band.
                const float noise = dither.Unit() - 0.5f;
                const float* star = &light[(size_t(y) * size_t(size) + size_t(x)) * 3];
                uint8_t* p = picture.At(x, y);
                for (int c = 0; c < 3; ++c) {
                    const float value = rgb[c] + noise + 255.0f * std::min(1.0f, star[c]);
                    p[c] = uint8_t(std::clamp(value, 0.0f, 255.0f) + 0.5f);
                }
                p[3] = 255;
            }
        }
        out.emplace_back(std::string("Media/skybox/") + face.name + ".jpg", std::move(picture));
    }
    return out;
}

}  // namespace rh::texturemake
