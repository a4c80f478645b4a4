#include "tools/villagebuild/light_maps.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace rh::villagebuild {

namespace {

namespace lb = rh::lightbake;

// Where the city's moon plane stands (scene_files.cpp), the village round the origin.
constexpr Vec3f kMoonPlane{-1200.0f, 900.0f, 1600.0f};
// Texel sizes: walls, where the windows are, finest; then the ground, whose tiles hold the
// lamps' pools and the windows' light on the snow; the firs round the village, seen from
// afar, coarsest.
constexpr float kWallUnitsPerTexel = 0.6f;
constexpr float kGroundUnitsPerTexel = 1.5f;
constexpr float kFarGroundUnitsPerTexel = 6.5f;  // among the firs round the village
constexpr float kUnitsPerTexel = 3.0f;
constexpr float kFirUnitsPerTexel = 16.0f;

lb::V3 ToV3(Vec3f v) { return {v.x, v.y, v.z}; }
Vec3f ToVec3f(lb::V3 v) { return {v.x, v.y, v.z}; }
lb::V3 Sub(lb::V3 a, lb::V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
lb::V3 Add(lb::V3 a, lb::V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
lb::V3 Scale(lb::V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float Dot3(lb::V3 a, lb::V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
lb::V3 Cross3(lb::V3 a, lb::V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

uint32_t Hash(uint32_t a, uint32_t b, uint32_t c) {
    uint32_t h = a * 0x8DA6B343u ^ b * 0xD8163841u ^ c * 0xCB1AB31Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    h *= 0x297A2D39u;
    h ^= h >> 15;
    return h;
}

// The faces of a part, as the builder lays them out: each face's vertices in a row, its
// triangles fanned from its first vertex. Returns (first vertex, vertex count) per face.
std::vector<std::pair<uint32_t, uint32_t>> Faces(const MeshPart& part) {
    std::map<uint32_t, uint32_t> triangles;
    for (size_t t = 0; t + 2 < part.indices.size(); t += 3) ++triangles[part.indices[t]];
    std::vector<std::pair<uint32_t, uint32_t>> faces;
    for (const auto& [first, count] : triangles) faces.emplace_back(first, count + 2);
    return faces;
}

// The windows of one house's walls: on each side wall, one row in each storey (below and above
// the mid beam), as many as the wall's width has room for. Most houses have their lights on,
// and most windows of those; every window gets its pane, lit or dark. The church has one row of
// tall windows, all lit.
void Windows(const MeshPart& walls, uint32_t house, bool church, lb::Lighting* lighting, int* lit, int* dark) {
    const bool home = church || Hash(house, 0, 7u) % 10 < 8;
    int index = 0;
    for (const auto& [first, count] : Faces(walls)) {
        if (count != 4) continue;
        const Vertex* v = &walls.vertices[first];
        if (std::abs(v[0].normal.y) > 0.1f) continue;
        // The bottom edge along the wall, and the wall's height.
        float bottom = 1e30f, top = -1e30f;
        for (int k = 0; k < 4; ++k) bottom = std::min(bottom, v[k].position.y), top = std::max(top, v[k].position.y);
        const Vertex* low[2] = {nullptr, nullptr};
        for (int k = 0; k < 4; ++k) {
            if (v[k].position.y > bottom + 0.01f) continue;
            low[low[0] == nullptr ? 0 : 1] = &v[k];
        }
        if (low[0] == nullptr || low[1] == nullptr) continue;
        const lb::V3 start = ToV3(low[0]->position), along = Sub(ToV3(low[1]->position), start);
        const float width = std::sqrt(Dot3(along, along));
        const float height = top - bottom;
        if (width < 20.0f || height < 20.0f) continue;
        const lb::V3 normal = ToV3(v[0].normal);
        const lb::V3 unitAlong = Scale(along, 1.0f / width);
        const int perRow = std::max(1, int(width / (church ? 24.0f : 28.0f)));
        const float paneWidth = std::min(church ? 7.0f : 9.0f, width / float(perRow) * 0.45f);
        const float paneHeight = church ? std::min(24.0f, height * 0.4f) : std::min(12.0f, height * 0.24f);
        for (int storey = 0; storey < (church ? 1 : 2); ++storey) {
            const float centreY = bottom + height * (church ? 0.5f : storey == 0 ? 0.27f : 0.74f);
            for (int w = 0; w < perRow; ++w) {
                const float centre = width * (float(w) + 0.5f) / float(perRow);
                lb::V3 corner = Add(start, Scale(unitAlong, centre - paneWidth * 0.5f));
                corner.y = centreY - paneHeight * 0.5f;
                lb::V3 edgeU = Scale(unitAlong, paneWidth), edgeV{0, paneHeight, 0};
                // The rectangle faces out of the wall: edgeU x edgeV along the normal.
                if (Dot3(Cross3(edgeU, edgeV), normal) < 0.0f) {
                    corner = Add(corner, edgeU);
                    edgeU = Scale(edgeU, -1.0f);
                }
                const bool on = church || (home && Hash(house, uint32_t(index), 8u) % 10 < 7);
                ++index;
                lb::Pane pane;
                pane.corner = corner;
                pane.edgeU = edgeU;
                pane.edgeV = edgeV;
                pane.light = on ? lb::V3{2.3f, 1.7f, 0.95f} : lb::V3{0.09f, 0.11f, 0.17f};
                lighting->panes.push_back(pane);
                if (!on) {
                    ++*dark;
                    continue;
                }
                ++*lit;
                lb::AreaLight light;
                light.corner = Add(corner, Scale(normal, 0.3f));
                light.edgeU = edgeU;
                light.edgeV = edgeV;
                light.colour = {1.0f, 0.7f, 0.38f};
                light.radiance = 3.2f;
                light.range = 70.0f;
                lighting->areas.push_back(light);
            }
        }
    }
}

}  // namespace

Vec3f TowardMoon() {
    const float l = std::sqrt(kMoonPlane.x * kMoonPlane.x + kMoonPlane.y * kMoonPlane.y + kMoonPlane.z * kMoonPlane.z);
    return {kMoonPlane.x / l, kMoonPlane.y / l, kMoonPlane.z / l};
}

VillageLightMaps::VillageLightMaps(const std::vector<MeshPart>& parts, const std::vector<Vec3f>& lamps) {
    // Everything casts shadows but the lanterns, which the lamps shine out of, and the foliage
    // cards, whose pictures are mostly gaps.
    std::vector<lb::Triangle> triangles;
    for (const MeshPart& part : parts) {
        if (part.material == "Foliage") continue;
        const bool post = part.name.rfind("Post", 0) == 0;
        for (size_t t = 0; t + 2 < part.indices.size(); t += 3) {
            const Vec3f a = part.vertices[part.indices[t]].position, b = part.vertices[part.indices[t + 1]].position,
                        c = part.vertices[part.indices[t + 2]].position;
            if (post && std::min({a.y, b.y, c.y}) >= 20.9f) continue;
            triangles.push_back({ToV3(a), ToV3(b), ToV3(c)});
        }
    }
    lb::Lighting lighting;
    lighting.floor = {0.035f, 0.04f, 0.06f};
    lighting.sky.colour = {0.15f, 0.18f, 0.29f};
    lighting.sky.range = 60.0f;
    lighting.sky.samples = 8;
    lighting.moon.toward = ToV3(TowardMoon());
    lighting.moon.radius = 0.035f;  // about two degrees: soft shadow edges
    lighting.moon.colour = {0.46f, 0.54f, 0.76f};
    lighting.moon.samples = 8;
    for (const Vec3f& lamp : lamps) {
        lb::PointLight light;
        light.position = ToV3(lamp);
        light.radius = 1.5f;
        light.colour = {1.0f, 0.68f, 0.36f};
        light.power = 750.0f;
        light.range = 260.0f;
        lighting.points.push_back(light);
    }
    lighting.pointSamples = 2;
    lighting.areaSamples = 2;
    uint32_t house = 0;
    for (const MeshPart& part : parts) {
        if (part.name.rfind("House", 0) == 0 && part.name.size() > 5 &&
            part.name.compare(part.name.size() - 5, 5, "Walls") == 0) {
            Windows(part, ++house, false, &lighting, &litWindows_, &darkWindows_);
        } else if (part.name == "ChurchWalls" || part.name == "ChurchTowerWalls") {
            Windows(part, 0, true, &lighting, &litWindows_, &darkWindows_);
        }
    }
    baker_ = std::make_unique<lb::Baker>(std::move(triangles), std::move(lighting));
}

Vec3f VillageLightMaps::LightAt(Vec3f position, Vec3f normal, uint32_t seed) const {
    return ToVec3f(baker_->LightAt(ToV3(position), ToV3(normal), seed));
}

rh::texturemake::Picture VillageLightMaps::Bake(const MeshPart& part, int threads) const {
    lb::Chart chart;
    chart.vertices.reserve(part.vertices.size());
    for (const Vertex& v : part.vertices) {
        chart.vertices.push_back({ToV3(v.position), ToV3(v.normal), v.lightUv[0], v.lightUv[1]});
    }
    chart.indices = part.indices;
    uint32_t seed = 2166136261u;
    for (char c : part.name) seed = (seed ^ uint8_t(c)) * 16777619u;
    return baker_->Bake(chart, LightMapSize(part), seed, threads);
}

lb::LayoutRules LightChartRules(const std::string& name) {
    auto starts = [&name](const char* stem) { return name.rfind(stem, 0) == 0; };
    const bool walls = name.size() > 5 && name.compare(name.size() - 5, 5, "Walls") == 0;
    lb::LayoutRules rules;
    rules.unitsPerTexel = walls                 ? kWallUnitsPerTexel
                          : starts("GroundFar") ? kFarGroundUnitsPerTexel
                          : starts("Ground")    ? kGroundUnitsPerTexel
                          : starts("Fir")       ? kFirUnitsPerTexel
                                                : kUnitsPerTexel;
    rules.minSize = 32;
    // The firs, many and seen from afar, in the smallest maps: a light map of 256 texels holds
    // 64 of theirs.
    rules.maxSize = starts("Fir") ? 32 : 256;
    // Thin things seen small (many faces of a texel or two, lit alike) keep a narrower gutter,
    // which their maps' sizes would otherwise be mostly made of.
    rules.padding = starts("Fir") || starts("Fence") || starts("Post") ? 1 : 2;
    // The ground's tiles rise into hills round the village: one chart each all the same.
    rules.heightField = starts("Ground");
    return rules;
}

int LightMapSize(const MeshPart& part) { return part.lightMapSize; }

}  // namespace rh::villagebuild
