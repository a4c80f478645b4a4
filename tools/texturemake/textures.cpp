#include "tools/texturemake/textures.h"

#include <algorithm>
#include <cmath>
#include <iterator>

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

// The nearest and second-nearest of jittered points on an nx x ny lattice over the unit
// square, wrapping at its edges so that the picture tiles; distances in lattice cells.
struct CellHit {
    float nearest = 1e9f;
    float second = 1e9f;
    uint32_t id = 0;  // a hash of the nearest point's cell
};

CellHit Cells(float u, float v, int nx, int ny, uint32_t seed, float jitter) {
    const float x = u * float(nx), y = v * float(ny);
    const int ix = int(std::floor(x)), iy = int(std::floor(y));
    CellHit hit;
    for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
            const int cx = ix + dx, cy = iy + dy;
            const int wx = ((cx % nx) + nx) % nx, wy = ((cy % ny) + ny) % ny;
            const float px = float(cx) + 0.5f + jitter * (Unit(Hash(wx, wy, seed)) - 0.5f);
            const float py = float(cy) + 0.5f + jitter * (Unit(Hash(wx, wy, seed + 1u)) - 0.5f);
            const float d = std::hypot(x - px, y - py);
            if (d < hit.nearest) {
                hit.second = hit.nearest;
                hit.nearest = d;
                hit.id = Hash(wx, wy, seed + 2u);
            } else if (d < hit.second) {
                hit.second = d;
            }
        }
    }
    return hit;
}

float Smooth(float edge0, float edge1, float x) {
    const float t = std::clamp((x - edge0) / (edge1 - edge0), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

void Mix(float* c, const float* a, const float* b, float t) {
    for (int k = 0; k < 3; ++k) c[k] = a[k] + (b[k] - a[k]) * t;
}

// Shared by a colour texture and its height map, so that the bumps sit on the drawn shapes.
// Cobbles: rounded stones on an 8 x 8 lattice; 1 on a stone's crown, 0 in the joints.
float CobbleHeight(float u, float v, CellHit* hit) {
    *hit = Cells(u, v, 8, 8, 51u, 0.8f);
    const float edge = 0.5f * (hit->second - hit->nearest);  // distance to the joint, in cells
    const float dome = Smooth(0.0f, 0.16f, edge);
    return dome * (0.75f + 0.25f * Unit(hit->id)) * (0.9f + 0.1f * Fbm(u, v, 16, 16, 2, 52u));
}

// Stone walls: courses of blocks, 6 rows of 3 to 4 blocks with staggered joints and chipped,
// bulging faces; 1 on a block's face, 0 in the mortar.
float StoneHeight(float u, float v, uint32_t* block) {
    const int rows = 6;
    const float ry = v * float(rows);
    const int row = std::min(rows - 1, int(ry));
    const float fy = ry - float(row);
    const int blocks = 3 + int(Hash(row, 0, 61u) & 1u);
    const float shift = Unit(Hash(row, 1, 61u));
    float bx = u * float(blocks) + shift;
    const int column = int(std::floor(bx));
    const float fx = bx - float(column);
    *block = Hash(((column % blocks) + blocks) % blocks, row, 62u);
    // Distance to the block's nearest side in pixels of a 512 picture, roughened.
    const float rough = 0.02f * (Fbm(u, v, 16, 16, 3, 63u) - 0.5f);
    const float sx = std::min(fx, 1.0f - fx) / float(blocks), sy = std::min(fy, 1.0f - fy) / float(rows);
    const float edge = std::min(sx, sy) + rough;
    const float face = Smooth(0.004f, 0.02f, edge);
    return face * (0.8f + 0.2f * Fbm(u, v, 8, 8, 4, 64u));
}

// Timber: fibres along v with a few deeper cracks; 1 on the surface.
float TimberHeight(float u, float v) {
    const float fibre = Fbm(u, v, 24, 2, 3, 32u);
    const float crack = Smooth(0.30f, 0.36f, Fbm(u, v, 12, 1, 3, 33u));
    return 0.55f + 0.35f * fibre - 0.35f * (1.0f - crack);
}

Picture Height(int width, int height, float (*h)(float, float)) {
    return Fill(width, height, [&](float u, float v, int, int, float* c) { c[0] = c[1] = c[2] = 255.0f * h(u, v); });
}

}  // namespace

Picture SnowPicture() {
    return Fill(512, 512, [](float u, float v, int x, int y, float* c) {
        // Soft wind ripples and fine grain; the repeat is small on the ground, so little of the
        // broad variation that would show the tiling.
        const float drift = Fbm(u, v, 4, 4, 4, 11u) - 0.5f;
        const float grain = Fbm(u, v, 64, 64, 2, 13u) - 0.5f;
        float shade = 10.0f * drift + 12.0f * grain;
        // Sparkle: lone crystals, some catching the light as a small cross.
        const uint32_t h = Hash(x, y, 12u);
        const bool crystal = (h & 0x1FFu) == 0;
        const bool arm = (Hash(x - 1, y, 12u) & 0x1FFu) == 0 || (Hash(x + 1, y, 12u) & 0x1FFu) == 0 ||
                         (Hash(x, y - 1, 12u) & 0x1FFu) == 0 || (Hash(x, y + 1, 12u) & 0x1FFu) == 0;
        const float lift = crystal ? 34.0f : arm ? 10.0f : 0.0f;
        const float blue = ((h >> 9) & 3u) == 0 ? 1.0f : 0.0f;  // a few crystals glint blue
        c[0] = 224.0f + shade + lift * (1.0f - 0.25f * blue);
        c[1] = 231.0f + shade + lift;
        c[2] = 246.0f + 0.6f * shade + lift;
    });
}

namespace {

// Lime plaster of a given wash colour: mottled and trowelled, grey-brown weather stains. The
// seed moves the stains, so that two washes do not look stamped from one picture.
Picture Plaster(const float (&wash)[3], uint32_t seed) {
    return Fill(512, 512, [&wash, seed](float u, float v, int x, int y, float* c) {
        const float mottle = Fbm(u, v, 4, 4, 5, seed) - 0.5f;
        const float trowel = Fbm(u, v, 12, 3, 3, seed + 2u) - 0.5f;  // broad, flat strokes
        const float grit = Unit(Hash(x, y, seed + 1u)) - 0.5f;
        const float stain = Smooth(0.55f, 0.8f, Fbm(u, v, 3, 3, 3, seed + 3u));
        const float shade = 26.0f * mottle + 10.0f * trowel + 7.0f * grit;
        c[0] = wash[0] + shade - 34.0f * stain;
        c[1] = wash[1] + shade - 36.0f * stain;
        c[2] = wash[2] + 0.8f * shade - 34.0f * stain;
    });
}

// Oak beams: rings across u, bent by noise, repeating a whole number of times so the grain
// tiles; `tone` is the wood's colour at its lightest.
Picture Timber(const float (&tone)[3]) {
    return Fill(256, 512, [&tone](float u, float v, int, int, float* c) {
        const float bend = Fbm(u, v, 4, 4, 4, 31u);
        const float ring = 0.5f + 0.5f * std::sin(2.0f * kPi * (5.0f * u + 1.5f * bend));
        const float surface = TimberHeight(u, v);
        const float dark = (0.6f + 0.4f * ring) * (0.55f + 0.45f * surface);
        for (int i = 0; i < 3; ++i) c[i] = tone[i] * dark + tone[i] * 0.14f;
    });
}

}  // namespace

Picture PlasterPicture() {
    static constexpr float kCream[3] = {226.0f, 214.0f, 186.0f};
    return Plaster(kCream, 21u);
}

Picture PlasterOchrePicture() {
    static constexpr float kOchre[3] = {222.0f, 188.0f, 128.0f};
    return Plaster(kOchre, 25u);
}

Picture PlasterRosePicture() {
    static constexpr float kRose[3] = {220.0f, 178.0f, 164.0f};
    return Plaster(kRose, 29u);
}

Picture TimberPicture() {
    static constexpr float kBrown[3] = {98.0f, 64.0f, 38.0f};
    return Timber(kBrown);
}

Picture TimberDarkPicture() {
    // Tarred beams, nearly black, a little cold.
    static constexpr float kTarred[3] = {50.0f, 40.0f, 36.0f};
    return Timber(kTarred);
}

Picture TimberHeightPicture() { return Height(256, 512, &TimberHeight); }

Picture RoofPicture() {
    return Fill(512, 512, [](float u, float v, int, int, float* c) {
        // Wooden shingles: 16 courses of 12, every other course half a shingle along; each
        // shingle its own shade, shadowed under the course above, dark in the gaps.
        const int courses = 16, across = 12;
        const float cy = v * float(courses);
        const int course = std::min(courses - 1, int(cy));
        const float fy = cy - float(course);
        const float cx = u * float(across) + (course % 2 == 0 ? 0.0f : 0.5f);
        const int shingle = int(std::floor(cx));
        const float fx = cx - float(shingle);
        const uint32_t id = Hash(((shingle % across) + across) % across, course, 71u);
        // The lower end of each shingle is rounded: the course below shows at its corners.
        const float round = 1.0f - 0.6f * (2.0f * fx - 1.0f) * (2.0f * fx - 1.0f);
        const bool below = fy > 0.72f + 0.28f * round;
        const float gap = below ? 0.45f : Smooth(0.0f, 0.05f, std::min(fx, 1.0f - fx));
        const float shadow = 0.5f + 0.5f * Smooth(0.0f, 0.4f, fy);
        const float grain = Fbm(u, v, 48, 4, 3, 72u) - 0.5f;
        const float tone = 0.8f + 0.3f * Unit(id) + 0.35f * grain;
        const float weather = Fbm(u, v, 4, 4, 3, 73u);
        const float k = tone * shadow * (0.35f + 0.65f * gap);
        const float brown[3] = {104.0f, 70.0f, 52.0f}, grey[3] = {92.0f, 86.0f, 84.0f};
        float base[3];
        Mix(base, brown, grey, Smooth(0.4f, 0.7f, weather));
        for (int i = 0; i < 3; ++i) c[i] = base[i] * k;
    });
}

Picture StonePicture() {
    return Fill(512, 512, [](float u, float v, int x, int y, float* c) {
        uint32_t block = 0;
        const float face = StoneHeight(u, v, &block);
        const float tone = 0.82f + 0.3f * Unit(block);
        const float warm = Unit(block >> 8) - 0.5f;
        const float fleck = Unit(Hash(x, y, 65u)) - 0.5f;
        const float lichen = Smooth(0.6f, 0.8f, Fbm(u, v, 6, 6, 3, 66u));
        const float rock[3] = {(150.0f + 18.0f * warm) * tone, (145.0f + 8.0f * warm) * tone, (136.0f - 6.0f * warm) * tone};
        const float mortar[3] = {176.0f, 172.0f, 162.0f};
        Mix(c, mortar, rock, Smooth(0.05f, 0.25f, face));
        const float shade = 0.75f + 0.25f * face;
        for (int i = 0; i < 3; ++i) c[i] = c[i] * shade + 10.0f * fleck;
        c[0] -= 12.0f * lichen;
        c[2] -= 18.0f * lichen;
    });
}

Picture StoneHeightPicture() {
    return Fill(512, 512, [](float u, float v, int, int, float* c) {
        uint32_t block = 0;
        c[0] = c[1] = c[2] = 255.0f * StoneHeight(u, v, &block);
    });
}

Picture CobblesPicture() {
    return Fill(512, 512, [](float u, float v, int x, int y, float* c) {
        CellHit hit;
        const float h = CobbleHeight(u, v, &hit);
        const float tone = 0.75f + 0.4f * Unit(hit.id);
        const float hue = Unit(hit.id >> 8) - 0.5f;
        const float fleck = Unit(Hash(x, y, 53u)) - 0.5f;
        const float stone[3] = {(112.0f + 20.0f * hue) * tone, (106.0f + 8.0f * hue) * tone, (100.0f - 10.0f * hue) * tone};
        // Snow packed into the joints.
        const float snow[3] = {214.0f, 222.0f, 238.0f};
        Mix(c, snow, stone, Smooth(0.02f, 0.14f, h));
        const float shade = 0.6f + 0.4f * h;
        for (int i = 0; i < 3; ++i) c[i] = c[i] * shade + 8.0f * fleck;
    });
}

Picture CobblesHeightPicture() {
    return Fill(512, 512, [](float u, float v, int, int, float* c) {
        CellHit hit;
        c[0] = c[1] = c[2] = 255.0f * CobbleHeight(u, v, &hit);
    });
}

Picture NeedlesPicture() {
    return Fill(256, 512, [](float u, float v, int x, int y, float* c) {
        // Needles as short strokes in two slanting directions over dark shadow. Three bands, so
        // that a whole fir is one part, one draw: round v = 0 (the picture wraps) bare needles
        // with a light dusting, for the tiers; round v = 0.5 snow lying on them with a few
        // needle tips showing through, for the snow on the tiers; round v = 0.25 bark, for the
        // trunk. The bands blend smoothly, so the picture still tiles.
        // Slanted by whole repeats (u +- 2v, the picture twice as tall), so that the strokes tile.
        const float a = Fbm(u + 2.0f * v, v, 64, 16, 2, 81u);
        const float b = Fbm(u - 2.0f * v + 2.0f, v, 64, 16, 2, 82u);
        const float needles = std::max(Smooth(0.45f, 0.7f, a), Smooth(0.45f, 0.7f, b));
        const float depth = Fbm(u, v, 4, 8, 3, 83u);
        const float dusting = Smooth(0.6f, 0.8f, Fbm(u, v, 8, 16, 4, 84u)) * Smooth(0.3f, 0.7f, needles);
        const float lying = 1.0f - Smooth(0.08f, 0.17f, std::abs(v - 0.5f));  // 1 in the snow band
        const float lumps = Fbm(u, v, 6, 12, 3, 85u) - 0.5f;
        const float tips = lying * Smooth(0.62f, 0.72f, a) * 0.35f;
        const float green[3] = {34.0f + 30.0f * needles, 62.0f + 46.0f * needles, 44.0f + 26.0f * needles};
        const float white[3] = {214.0f + 26.0f * lumps, 222.0f + 26.0f * lumps, 238.0f + 14.0f * lumps};
        const float k = 0.55f + 0.45f * depth;
        const float shaded[3] = {green[0] * k, green[1] * k, green[2] * k};
        const float snow = std::max(0.6f * dusting * (1.0f - lying), lying * (1.0f - tips));
        Mix(c, shaded, white, snow);
        // Bark: plates between furrows running along the trunk (across u, which goes round it).
        const float trunk = 1.0f - Smooth(0.04f, 0.08f, std::abs(v - 0.25f));
        if (trunk > 0.0f) {
            const float wander = Fbm(u, v, 4, 2, 3, 43u) - 0.5f;
            const float plate = Smooth(0.12f, 0.45f, std::abs(std::sin(kPi * (12.0f * u + 0.8f * wander))));
            const float scale = Fbm(u, v, 8, 16, 3, 42u) - 0.5f;
            const float fleck = Unit(Hash(x, y, 44u)) - 0.5f;
            const float shade = 0.4f + 0.6f * plate;
            const float bark[3] = {(86.0f + 28.0f * scale) * shade + 6.0f * fleck,
                                   (68.0f + 20.0f * scale) * shade + 6.0f * fleck,
                                   (54.0f + 14.0f * scale) * shade + 6.0f * fleck};
            const float here[3] = {c[0], c[1], c[2]};
            Mix(c, here, bark, trunk);
        }
    });
}

Picture FenceWoodPicture() {
    return Fill(256, 512, [](float u, float v, int, int, float* c) {
        // Weathered silver-grey boards, grain along v, a knot or two.
        const float grain = Fbm(u, v, 32, 2, 3, 91u) - 0.5f;
        const float streak = Fbm(u, v, 8, 1, 3, 92u) - 0.5f;
        CellHit knot = Cells(u, v, 2, 3, 93u, 0.7f);
        const float ring = knot.nearest < 0.12f ? 0.5f + 0.5f * std::cos(knot.nearest * 90.0f) : 0.0f;
        const float k = 1.0f + 0.35f * grain + 0.2f * streak - 0.3f * ring * (Unit(knot.id) < 0.5f ? 1.0f : 0.0f);
        c[0] = 128.0f * k;
        c[1] = 116.0f * k;
        c[2] = 102.0f * k;
    });
}

Picture IronPicture() {
    return Fill(64, 64, [](float u, float v, int x, int y, float* c) {
        const float n = Fbm(u, v, 4, 4, 3, 101u) - 0.5f;
        const float fleck = Unit(Hash(x, y, 102u)) - 0.5f;
        c[0] = 46.0f + 12.0f * n + 4.0f * fleck;
        c[1] = 45.0f + 10.0f * n + 4.0f * fleck;
        c[2] = 50.0f + 10.0f * n + 4.0f * fleck;
    });
}

Picture GlowPicture() {
    return Fill(128, 128, [](float u, float v, int, int, float* c) {
        // The saver draws a lamp's glow two units across, smaller than its lantern, so the
        // sprite spends its whole width on light: a hot, nearly white core filling the middle
        // and a warm body that stays opaque well out, softening only in the outer third. The
        // edge pixels are fully transparent, so no square outline shows.
        const float r = 2.0f * std::hypot(u - 0.5f, v - 0.5f);  // 1 at the picture's side
        const float core = std::exp(-(r * r) / (2.0f * 0.22f * 0.22f));
        const float body = 1.0f - Smooth(0.45f, 0.95f, r);
        const float alpha = std::min(1.0f, 0.6f * core + body);
        const float hot = std::min(1.0f, core * 1.2f);
        c[0] = 255.0f;
        c[1] = 196.0f + 56.0f * hot;
        c[2] = 112.0f + 118.0f * hot;
        c[3] = 255.0f * alpha;
    });
}

Picture SnowflakePicture() {
    return Fill(32, 32, [](float u, float v, int, int, float* c) {
        // Soft: a round blur with a faint six-armed star in it, as a flake looks in passing.
        const float dx = u - 0.5f, dy = v - 0.5f;
        const float r = 2.0f * std::hypot(dx, dy);  // 1 at the picture's side
        const float angle = std::atan2(dy, dx);
        const float blur = std::exp(-(r * r) / (2.0f * 0.28f * 0.28f));
        const float arms = std::pow(std::abs(std::cos(3.0f * angle)), 8.0f) * std::max(0.0f, 1.0f - r / 0.8f) *
                           Smooth(0.1f, 0.35f, r);
        const float fade = 1.0f - Smooth(0.8f, 0.97f, r);
        c[0] = c[1] = c[2] = 255.0f;
        c[3] = 255.0f * std::min(1.0f, (0.95f * blur + 0.3f * arms) * fade);
    });
}

Picture MoonPicture() {
    return Fill(128, 128, [](float u, float v, int, int, float* c) {
        // A full moon: a disc of a third of the picture, darker seas, a brighter rim fading at
        // the limb, in a faint cold halo that ends inside the picture.
        const float dx = u - 0.5f, dy = v - 0.5f;
        const float r = std::hypot(dx, dy) / 0.2f;  // 1 at the disc's edge
        const float disc = 1.0f - Smooth(0.96f, 1.02f, r);
        const float seas = Smooth(0.5f, 0.7f, Fbm(u * 0.5f + 0.25f, v * 0.5f + 0.25f, 4, 4, 4, 111u));
        const float craters = Fbm(u, v, 16, 16, 2, 112u) - 0.5f;
        const float limb = std::sqrt(std::max(0.0f, 1.0f - 0.5f * r * r));
        const float face = (0.92f - 0.3f * seas + 0.1f * craters) * (0.75f + 0.25f * limb);
        const float side = 2.0f * std::hypot(dx, dy);  // 1 at the picture's side
        const float halo = 0.35f * std::exp(-(side * side) / (2.0f * 0.28f * 0.28f)) * (1.0f - Smooth(0.7f, 0.97f, side));
        const float alpha = disc + (1.0f - disc) * halo;
        const float lit[3] = {236.0f * face, 238.0f * face, 244.0f * face};
        const float glow[3] = {170.0f, 186.0f, 220.0f};
        const float t = alpha > 0.0f ? disc / alpha : 0.0f;
        Mix(c, glow, lit, t);
        c[3] = 255.0f * alpha;
    });
}

namespace {

// Every texture in a fixed order. Colour textures and height maps are baseline JPEG, sprites
// with alpha PNG.
const TextureEntry kTextureEntries[] = {
    {"Media/Txt/snow.jpg", &SnowPicture, false},
    {"Media/Txt/plaster.jpg", &PlasterPicture, false},
    {"Media/Txt/plaster_ochre.jpg", &PlasterOchrePicture, false},
    {"Media/Txt/plaster_rose.jpg", &PlasterRosePicture, false},
    {"Media/Txt/timber.jpg", &TimberPicture, false},
    {"Media/Txt/timber_dark.jpg", &TimberDarkPicture, false},
    {"Media/Txt/timber_height.jpg", &TimberHeightPicture, false},
    {"Media/Txt/roof.jpg", &RoofPicture, false},
    {"Media/Txt/stone.jpg", &StonePicture, false},
    {"Media/Txt/stone_height.jpg", &StoneHeightPicture, false},
    {"Media/Txt/cobbles.jpg", &CobblesPicture, false},
    {"Media/Txt/cobbles_height.jpg", &CobblesHeightPicture, false},
    {"Media/Txt/needles.jpg", &NeedlesPicture, false},
    {"Media/Txt/fencewood.jpg", &FenceWoodPicture, false},
    {"Media/Txt/iron.jpg", &IronPicture, false},
    {"Media/Txt/lampglow.png", &GlowPicture, true},
    {"Media/Txt/snowflake.png", &SnowflakePicture, true},
    {"Media/Txt/moon.png", &MoonPicture, true},
};

}  // namespace

const std::vector<TextureEntry>& TextureEntries() {
    static const std::vector<TextureEntry> entries(std::begin(kTextureEntries), std::end(kTextureEntries));
    return entries;
}

const std::vector<std::string>& TextureNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const TextureEntry& e : kTextureEntries) out.push_back(e.name);
        return out;
    }();
    return names;
}

bool MakeTextures(std::vector<MadeFile>* out, std::string* error) {
    out->clear();
    for (const TextureEntry& e : kTextureEntries) {
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
