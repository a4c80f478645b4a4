// The village's geometry: the same every run, well-formed meshes (indices in range, front faces
// wound as their normals say, light-map cells inside the unit square), names and extents as
// the saver expects, and a view of it drawn through our layer and looked at.
#include "tools/texturemake/textures.h"
#include "tools/villagebuild/light_maps.h"
#include "tools/villagebuild/scene_files.h"
#include "tools/villagebuild/village_geometry.h"
#include "tools/villageplan/village_plan.h"

#include "tests/render/support/layer_app.h"

#include <d3dx9math.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

namespace {

using rh::villagebuild::MeshPart;
using rh::villagebuild::Vec3f;
using rh::villagebuild::Vertex;

constexpr uint32_t kSeed = 20261211;

Vec3f Sub(Vec3f a, Vec3f b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3f Cross(Vec3f a, Vec3f b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Dot(Vec3f a, Vec3f b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

TEST(VillageGeometry, SameVillageEveryRun) {
    const std::vector<MeshPart> one = rh::villagebuild::BuildVillage(kSeed);
    const std::vector<MeshPart> two = rh::villagebuild::BuildVillage(kSeed);
    ASSERT_EQ(one.size(), two.size());
    for (size_t i = 0; i < one.size(); ++i) {
        EXPECT_EQ(one[i].name, two[i].name);
        ASSERT_EQ(one[i].vertices.size(), two[i].vertices.size());
        EXPECT_EQ(std::memcmp(one[i].vertices.data(), two[i].vertices.data(), one[i].vertices.size() * sizeof(Vertex)), 0);
        EXPECT_EQ(one[i].indices, two[i].indices);
    }
}

TEST(VillageGeometry, MeshesAreWellFormed) {
    const std::vector<MeshPart> parts = rh::villagebuild::BuildVillage(kSeed);
    std::set<std::string> names;
    std::map<std::string, int> kinds;
    const std::set<std::string> materials = {"Plaster", "PlasterOchre", "PlasterRose", "Timber", "TimberDark",
                                             "FenceWood", "Snow", "Needles", "Stone", "Iron", "Cobbles",
                                             "Foliage"};
    for (const MeshPart& part : parts) {
        SCOPED_TRACE(part.name);
        EXPECT_TRUE(names.insert(part.name).second) << "names are unique";
        // Lamps are found by name: only the lamps themselves may carry it.
        EXPECT_EQ(part.name.find("Lamp"), std::string::npos);
        EXPECT_EQ(materials.count(part.material), 1u);
        ASSERT_FALSE(part.indices.empty());
        ASSERT_EQ(part.indices.size() % 3, 0u);
        for (uint32_t index : part.indices) ASSERT_LT(index, part.vertices.size());
        // Tangent frames: unit directions across the normal, along which the colour texture's
        // u and v grow (what a height map's slopes are measured against).
        ASSERT_EQ(part.tangents.size(), part.vertices.size());
        ASSERT_EQ(part.binormals.size(), part.vertices.size());
        for (size_t i = 0; i < part.vertices.size(); ++i) {
            const Vec3f t = part.tangents[i], b = part.binormals[i], n = part.vertices[i].normal;
            EXPECT_NEAR(Dot(t, t), 1.0f, 1e-4f);
            EXPECT_NEAR(Dot(b, b), 1.0f, 1e-4f);
            EXPECT_NEAR(Dot(t, n), 0.0f, 1e-4f);
            EXPECT_NEAR(Dot(b, n), 0.0f, 1e-4f);
        }
        for (size_t t = 0; t < part.indices.size(); t += 3) {
            const size_t i0 = part.indices[t], i1 = part.indices[t + 1];
            const Vertex& a = part.vertices[i0];
            const Vertex& b = part.vertices[i1];
            const Vec3f edge = Sub(b.position, a.position);
            const float du = b.uv[0] - a.uv[0], dv = b.uv[1] - a.uv[1];
            // Along an edge, u and v change as the edge runs along the tangent and binormal
            // (in texture repeats per unit length, the same for the whole face).
            const float alongT = Dot(edge, part.tangents[i0]), alongB = Dot(edge, part.binormals[i0]);
            if (std::abs(alongT) > 1e-3f) {
                EXPECT_GT(du * alongT, 0.0f) << "u grows along the tangent";
            }
            if (std::abs(alongB) > 1e-3f) {
                EXPECT_GT(dv * alongB, 0.0f) << "v grows along the binormal";
            }
        }
        for (const Vertex& v : part.vertices) {
            EXPECT_NEAR(Dot(v.normal, v.normal), 1.0f, 1e-4f);
            EXPECT_LE(std::abs(v.position.x), 1500.0f);
            EXPECT_LE(std::abs(v.position.z), 1500.0f);
            EXPECT_GE(v.position.y, -0.01f);
            EXPECT_LE(v.position.y, 260.0f) << "no higher than the church tower";
            for (float t : v.lightUv) {
                EXPECT_GE(t, 0.0f);
                EXPECT_LE(t, 1.0f);
            }
        }
        // Direct3D's front faces run clockwise: the winding's normal agrees with the vertices'.
        for (size_t t = 0; t < part.indices.size(); t += 3) {
            const Vertex& a = part.vertices[part.indices[t]];
            const Vertex& b = part.vertices[part.indices[t + 1]];
            const Vertex& c = part.vertices[part.indices[t + 2]];
            const Vec3f wound = Cross(Sub(b.position, a.position), Sub(c.position, a.position));
            ASSERT_GT(Dot(wound, a.normal), 0.0f) << "triangle " << t / 3;
        }
        // The kind: the name up to its number ("House" of "House07Roof").
        ++kinds[part.name.substr(0, part.name.find_first_of("0123456789"))];
    }
    EXPECT_GE(kinds["Ground"], 2) << "the ground in tiles";
    EXPECT_GE(kinds["House"], 3 * 20) << "twenty houses or more, three parts each";
    EXPECT_GE(kinds["Fir"], 100) << "a hundred firs or more, one part each";
    EXPECT_GE(kinds["Post"], 8);
    EXPECT_GE(kinds["Fence"], 4);
    EXPECT_EQ(kinds["ChurchWalls"] + kinds["ChurchTowerWalls"] + kinds["ChurchRoof"] + kinds["ChurchSpire"], 4);
    EXPECT_EQ(kinds["Square"], 1);
    EXPECT_GE(kinds["Bush"], 10);
    EXPECT_GE(kinds["~Woodpile"], 3);
    EXPECT_LE(kinds["~Woodpile"], 8) << "a few";
}

// The cobbles draw in two passes, the first pushed back by a depth bias worth units of
// distance where the square is seen from: the ground must leave a hole under it, or the snow
// beneath hides the first pass (a dark patch, only the light map's pass left on the snow).
TEST(VillageGeometry, TheGroundLeavesAHoleUnderTheSquare) {
    const std::vector<MeshPart> parts = rh::villagebuild::BuildVillage(kSeed);
    std::vector<const MeshPart*> tiles;
    const MeshPart* square = nullptr;
    for (const MeshPart& part : parts) {
        if (part.name.rfind("Ground", 0) == 0) tiles.push_back(&part);
        if (part.name == "Square") square = &part;
    }
    ASSERT_FALSE(tiles.empty());
    ASSERT_NE(square, nullptr);
    float lo[2] = {1e9f, 1e9f}, hi[2] = {-1e9f, -1e9f};
    for (const Vertex& v : square->vertices) {
        lo[0] = std::min(lo[0], v.position.x), hi[0] = std::max(hi[0], v.position.x);
        lo[1] = std::min(lo[1], v.position.z), hi[1] = std::max(hi[1], v.position.z);
    }
    ASSERT_LT(lo[0], hi[0]);
    ASSERT_LT(lo[1], hi[1]);
    double covered = 0.0;  // the ground's area inside the square's footprint
    double area = 0.0;     // the ground's whole area (the tiles' sum: no tile overlaps another)
    for (const MeshPart* ground : tiles) {
        for (size_t t = 0; t < ground->indices.size(); t += 3) {
            const Vec3f a = ground->vertices[ground->indices[t]].position;
            const Vec3f b = ground->vertices[ground->indices[t + 1]].position;
            const Vec3f c = ground->vertices[ground->indices[t + 2]].position;
            area += 0.5f * std::abs((b.x - a.x) * (c.z - a.z) - (c.x - a.x) * (b.z - a.z));
            // Each triangle is half of an axis-aligned rectangle: its box overlapping the footprint
            // with an area means ground under the square.
            const float x0 = std::max(std::min({a.x, b.x, c.x}), lo[0]), x1 = std::min(std::max({a.x, b.x, c.x}), hi[0]);
            const float z0 = std::max(std::min({a.z, b.z, c.z}), lo[1]), z1 = std::min(std::max({a.z, b.z, c.z}), hi[1]);
            if (x1 > x0 && z1 > z0) covered += (x1 - x0) * (z1 - z0);
        }
    }
    EXPECT_EQ(covered, 0.0) << "ground under the square";
    // The rest of the ground is all there.
    const float footprint = (hi[0] - lo[0]) * (hi[1] - lo[1]);
    EXPECT_NEAR(area, 3000.0f * 3000.0f - footprint, 1e-5f * 3000.0f * 3000.0f);
}

// Each "~" thing is small and stands behind a tall house: from every point of the lane in
// front of that house (the nearest lane along x, at eye height, over the house's width) the
// line of sight to the thing runs through the house's box; and it stands in no building.
TEST(VillageGeometry, YardThingsHideBehindTallHouses) {
    const auto buildings = rh::village::Buildings();
    int things = 0;
    for (const MeshPart& part : rh::villagebuild::BuildVillage(kSeed)) {
        if (part.name[0] != '~') continue;
        SCOPED_TRACE(part.name);
        ++things;
        Vec3f lo{1e9f, 1e9f, 1e9f}, hi{-1e9f, -1e9f, -1e9f};
        for (const Vertex& v : part.vertices) {
            lo = {std::min(lo.x, v.position.x), std::min(lo.y, v.position.y), std::min(lo.z, v.position.z)};
            hi = {std::max(hi.x, v.position.x), std::max(hi.y, v.position.y), std::max(hi.z, v.position.z)};
        }
        EXPECT_LE(hi.y, 8.0f) << "small";
        EXPECT_LE(std::max(hi.x - lo.x, hi.z - lo.z), 12.0f) << "small";
        const Vec3f centre{(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2};
        bool hidden = false;
        for (const auto& b : buildings) {
            const bool inside = lo.x < b.centreX + b.halfX && hi.x > b.centreX - b.halfX && lo.z < b.centreZ + b.halfZ &&
                                hi.z > b.centreZ - b.halfZ;
            ASSERT_FALSE(inside) << "inside the building at " << b.centreX << " " << b.centreZ;
            if (b.height < 85.0f || b.height > 100.0f) continue;
            const float lane = std::round(b.centreZ / rh::village::kLaneSpacing) * rh::village::kLaneSpacing;
            bool all = true;
            for (int k = 0; k <= 10; ++k) {
                const Vec3f eye{b.centreX - b.halfX + 2 * b.halfX * float(k) / 10.0f, rh::village::kEyeHeight, lane};
                // Does the segment eye -> centre cross the house's box? (slab test)
                float t0 = 0.0f, t1 = 1.0f;
                const float from[3] = {eye.x, eye.y, eye.z};
                const float to[3] = {centre.x, centre.y, centre.z};
                const float boxLo[3] = {b.centreX - b.halfX, 0.0f, b.centreZ - b.halfZ};
                const float boxHi[3] = {b.centreX + b.halfX, b.height * 0.6f, b.centreZ + b.halfZ};
                for (int a = 0; a < 3 && t0 <= t1; ++a) {
                    const float d = to[a] - from[a];
                    if (std::abs(d) < 1e-6f) {
                        if (from[a] < boxLo[a] || from[a] > boxHi[a]) t0 = 2.0f;
                        continue;
                    }
                    float e0 = (boxLo[a] - from[a]) / d, e1 = (boxHi[a] - from[a]) / d;
                    if (e0 > e1) std::swap(e0, e1);
                    t0 = std::max(t0, e0);
                    t1 = std::min(t1, e1);
                }
                all = all && t0 <= t1;
            }
            hidden = hidden || all;
        }
        EXPECT_TRUE(hidden) << "behind a tall house, seen from its lane";
    }
    EXPECT_GE(things, 3);
}

// The engine's reader keys a compound's children by name and keeps one of each: in the scene
// files every compound's children have different names (two maps of one sub-material, say).
TEST(VillageScenes, ChildrenOfACompoundHaveDifferentNames) {
    const std::vector<MeshPart> parts = rh::villagebuild::BuildVillage(kSeed);
    for (const rh::zwf::Node& root :
         {rh::villagebuild::CityScene(parts, rh::villagebuild::LampPositions()), rh::villagebuild::SkyBoxScene()}) {
        int compounds = 0;
        std::vector<const rh::zwf::Node*> pending{&root};
        while (!pending.empty()) {
            const rh::zwf::Node* node = pending.back();
            pending.pop_back();
            if (!node->isCompound()) continue;
            ++compounds;
            std::set<std::string> names;
            for (const rh::zwf::Node& child : node->children()) {
                EXPECT_TRUE(names.insert(child.name()).second) << node->name() << "/" << child.name();
                pending.push_back(&child);
            }
        }
        EXPECT_GT(compounds, 10);
    }
}

// The snow generator's ranges and vectors are lists under its properties: without them the
// emitter falls back to its defaults (every flake spawned at one point, a radius of 1), and the
// snow gathers in a ball ahead of the camera.
TEST(VillageScenes, TheSnowGeneratorCarriesItsLists) {
    const rh::zwf::Node city = rh::villagebuild::CityScene(rh::villagebuild::BuildVillage(kSeed), rh::villagebuild::LampPositions());
    const rh::zwf::Node* children = city.Find("Children");
    ASSERT_NE(children, nullptr);
    const rh::zwf::Node* snow = children->Find("SnowGenerator");
    ASSERT_NE(snow, nullptr);
    const rh::zwf::Node* props = snow->Find("Props");
    ASSERT_NE(props, nullptr);
    const std::map<std::string, size_t> lists = {{"EmitDir", 3},    {"DirDeviation", 4}, {"Acceleration", 3},
                                                 {"StartColor", 4}, {"EndColor", 4},     {"SpawnArea", 4},
                                                 {"StartSpeed", 4}};
    for (const auto& [key, items] : lists) {
        const rh::zwf::Node* list = props->Find(key);
        ASSERT_NE(list, nullptr) << key;
        EXPECT_EQ(list->children().size(), items) << key;
    }
}

// The village stands on the plan the camera flights were planned on: every house and church
// vertex inside a plan building box, and nothing but the ground in a lane's open strip.
TEST(VillageGeometry, BuildingsStandOnThePlanAndTheLanesStayClear) {
    const auto buildings = rh::village::Buildings();
    int checked = 0;
    for (const MeshPart& part : rh::villagebuild::BuildVillage(kSeed)) {
        SCOPED_TRACE(part.name);
        if (part.name.rfind("Ground", 0) == 0) continue;
        const bool building = part.name.rfind("House", 0) == 0 || part.name.rfind("Church", 0) == 0;
        for (const Vertex& v : part.vertices) {
            const Vec3f p = v.position;
            if (building) {
                bool inside = false;
                for (const auto& b : buildings) {
                    inside = inside || (std::abs(p.x - b.centreX) <= b.halfX + 0.01f &&
                                        std::abs(p.z - b.centreZ) <= b.halfZ + 0.01f && p.y <= b.height + 0.01f);
                }
                ASSERT_TRUE(inside) << p.x << " " << p.y << " " << p.z;
            }
            for (int lane = -2; lane <= 2; ++lane) {
                const float at = float(lane) * rh::village::kLaneSpacing;
                const bool inVillage = std::abs(p.x) <= 650.0f && std::abs(p.z) <= 650.0f;
                if (!inVillage) continue;
                ASSERT_GE(std::abs(p.x - at), rh::village::kLaneClearance - 0.01f) << "lane x = " << at;
                ASSERT_GE(std::abs(p.z - at), rh::village::kLaneClearance - 0.01f) << "lane z = " << at;
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 10000);
}

// The snow lies flat where the houses stand and the flights run, and rolls in gentle hills
// beyond; the firs stand on it (neither floating nor buried), and so does the ground's mesh.
TEST(VillageGeometry, HillsBeyondTheVillageWithTheFirsStandingOnThem) {
    using rh::villagebuild::GroundHeight;
    float highest = 0.0f;
    for (float x = -1500.0f; x <= 1500.0f; x += 25.0f) {
        for (float z = -1500.0f; z <= 1500.0f; z += 25.0f) {
            const float h = GroundHeight(x, z);
            ASSERT_GE(h, 0.0f) << x << " " << z;
            ASSERT_LE(h, rh::villagebuild::kHillHeight) << x << " " << z;
            if (std::max(std::abs(x), std::abs(z)) <= rh::villagebuild::kFlatHalfSize) {
                ASSERT_EQ(h, 0.0f) << x << " " << z;
            }
            // Gentle: no step steeper than 1 in 4 between neighbours 25 units apart.
            ASSERT_LE(std::abs(GroundHeight(x + 25.0f, z) - h), 25.0f / 4) << x << " " << z;
            ASSERT_LE(std::abs(GroundHeight(x, z + 25.0f) - h), 25.0f / 4) << x << " " << z;
            highest = std::max(highest, h);
        }
    }
    EXPECT_GT(highest, rh::villagebuild::kHillHeight * 0.6f) << "hills that show";
    int firs = 0;
    for (const MeshPart& part : rh::villagebuild::BuildVillage(kSeed)) {
        const bool ground = part.name.rfind("Ground", 0) == 0;
        if (!ground && part.name.rfind("Fir", 0) != 0) continue;
        SCOPED_TRACE(part.name);
        float x = 0, z = 0, lowest = 1e9f;
        for (const Vertex& v : part.vertices) {
            if (ground) {
                ASSERT_NEAR(v.position.y, GroundHeight(v.position.x, v.position.z), 1e-3f);
            }
            x += v.position.x / float(part.vertices.size());
            z += v.position.z / float(part.vertices.size());
            lowest = std::min(lowest, v.position.y);
        }
        if (ground) continue;
        ++firs;
        // The fir's lowest point, its trunk's foot: at most a unit and a half into the snow and
        // never above it.
        EXPECT_LE(lowest, GroundHeight(x, z) + 0.01f);
        EXPECT_GE(lowest, GroundHeight(x, z) - 1.5f);
    }
    EXPECT_GE(firs, 100);
}

// The frame-rate budget's share of geometry: the whole village in at most 200,000 triangles.
TEST(VillageGeometry, TheVillageKeepsToItsTriangleBudget) {
    size_t triangles = 0;
    for (const MeshPart& part : rh::villagebuild::BuildVillage(kSeed)) triangles += part.indices.size() / 3;
    EXPECT_LE(triangles, 200000u);
    RecordProperty("triangles", int(triangles));
}

// The needles texture holds bare needles in one band, bark in another and lying snow in a
// third: sampled where each face of a fir takes its colour, every face is green, white or
// brown, all three are there on every fir, the trunk's bark reaches below the lowest needles,
// and the snow ends above the lowest needles, so a green skirt shows beneath it.
TEST(VillageGeometry, FirsCarrySnowOnTheirTiers) {
    const rh::texturemake::Picture needles = rh::texturemake::NeedlesPicture();
    auto colour = [&](float u, float v, float rgb[3]) {
        const int x = int(std::floor((u - std::floor(u)) * float(needles.width)));
        const int y = int(std::floor((v - std::floor(v)) * float(needles.height)));
        for (int c = 0; c < 3; ++c) rgb[c] = 0;
        // A small neighbourhood's mean: the picture's own strokes average out.
        for (int dy = -6; dy <= 6; ++dy) {
            for (int dx = -6; dx <= 6; ++dx) {
                const uint8_t* p = needles.rgba.data() +
                                   4 * (size_t((y + dy + needles.height) % needles.height) * size_t(needles.width) +
                                        size_t((x + dx + needles.width) % needles.width));
                for (int c = 0; c < 3; ++c) rgb[c] += float(p[c]) / 169.0f;
            }
        }
    };
    int crowns = 0;
    for (const MeshPart& part : rh::villagebuild::BuildVillage(kSeed)) {
        if (part.material != "Needles") continue;
        SCOPED_TRACE(part.name);
        ++crowns;
        int green = 0, white = 0, bark = 0;
        float lowestGreen = 1e9f, lowestWhite = 1e9f, lowestBark = 1e9f;
        // The builder fans each face from its first vertex: a face is a run of triangles
        // sharing it.
        for (size_t t = 0; t < part.indices.size(); t += 3) {
            const Vertex& a = part.vertices[part.indices[t]];
            const Vertex& b = part.vertices[part.indices[t + 1]];
            const Vertex& c = part.vertices[part.indices[t + 2]];
            if (a.normal.y < 0.0f) continue;  // the tiers' undersides
            float rgb[3];
            colour((a.uv[0] + b.uv[0] + c.uv[0]) / 3, (a.uv[1] + b.uv[1] + c.uv[1]) / 3, rgb);
            const float low = std::min({a.position.y, b.position.y, c.position.y});
            if (rgb[0] > 170 && rgb[1] > 170 && rgb[2] > 180) {
                ++white;
                lowestWhite = std::min(lowestWhite, low);
            } else if (rgb[0] > rgb[1]) {
                // The trunk's bark: brown, under the tiers.
                ASSERT_LT(rgb[0], 120.0f) << "bark, triangle " << t / 3;
                ++bark;
                lowestBark = std::min(lowestBark, low);
            } else {
                ASSERT_GT(rgb[1], rgb[0] + 10) << "green, triangle " << t / 3;
                ASSERT_LT(rgb[1], 140.0f) << "green, triangle " << t / 3;
                ++green;
                lowestGreen = std::min(lowestGreen, low);
            }
        }
        EXPECT_GT(green, 0);
        EXPECT_GT(white, 0);
        EXPECT_GT(bark, 0);
        EXPECT_GT(lowestWhite, lowestGreen + 2.0f);
        EXPECT_LT(lowestBark, lowestGreen) << "the trunk stands under the lowest tier";
    }
    EXPECT_GE(crowns, 100);
}

// One style, varied: the houses' walls come in several plaster washes, their beams in more
// than one timber and their roofs in different pitches.
TEST(VillageGeometry, HousesVaryWithinOneStyle) {
    std::set<std::string> plasters, timbers;
    std::set<int> pitches;  // ridge rise over half the span, in tenths
    int houses = 0;
    for (const MeshPart& part : rh::villagebuild::BuildVillage(kSeed)) {
        if (part.name.rfind("House", 0) != 0) continue;
        if (part.name.ends_with("Walls")) plasters.insert(part.material);
        if (part.name.ends_with("Beams")) timbers.insert(part.material);
        if (!part.name.ends_with("Roof")) continue;
        ++houses;
        float lowY = 1e9f, highY = -1e9f;
        Vec3f lo{1e9f, 0, 1e9f}, hi{-1e9f, 0, -1e9f};
        for (const Vertex& v : part.vertices) {
            lowY = std::min(lowY, v.position.y), highY = std::max(highY, v.position.y);
            lo = {std::min(lo.x, v.position.x), 0, std::min(lo.z, v.position.z)};
            hi = {std::max(hi.x, v.position.x), 0, std::max(hi.z, v.position.z)};
        }
        const float halfSpan = std::min(hi.x - lo.x, hi.z - lo.z) / 2;
        pitches.insert(int(std::round(10.0f * (highY - lowY) / halfSpan)));
    }
    EXPECT_GE(houses, 20);
    EXPECT_GE(plasters.size(), 3u);
    EXPECT_GE(timbers.size(), 2u);
    EXPECT_GE(pitches.size(), 3u);
}

// Drawn with one directional light and a colour per material: written to
// /tmp/rh-village.ppm with RH_VILLAGE_TEST_IMAGES.
TEST(VillageGeometry, AViewOfTheVillage) {
    constexpr int kWidth = 320, kHeight = 200;
    rh::test::LayerApp app;
    ASSERT_TRUE(app.Open(kWidth, kHeight));
    const std::map<std::string, DWORD> colours = {
        {"Plaster", 0xE0D2B4}, {"PlasterOchre", 0xDEBC80}, {"PlasterRose", 0xDCB2A4}, {"Timber", 0x5A3820},
        {"TimberDark", 0x322824}, {"FenceWood", 0x80746A}, {"Snow", 0xEEF2FA},
        {"Needles", 0x2E5A32}, {"Stone", 0x9A9A94}, {"Iron", 0x303438}, {"Cobbles", 0x7E7A76}, {"Foliage", 0x2A5A34}};
    // One vertex and index buffer per material.
    std::map<std::string, std::pair<std::vector<Vertex>, std::vector<uint32_t>>> batches;
    for (const MeshPart& part : rh::villagebuild::BuildVillage(kSeed)) {
        auto& [vertices, indices] = batches[part.material];
        const uint32_t base = uint32_t(vertices.size());
        vertices.insert(vertices.end(), part.vertices.begin(), part.vertices.end());
        for (uint32_t i : part.indices) indices.push_back(base + i);
    }
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF101828, 1.0f, 0);
    D3DXMATRIX view, projection, world;
    const D3DXVECTOR3 eye(-20.0f, 24.0f, -110.0f), at(-10.0f, 4.0f, 20.0f), up(0.0f, 1.0f, 0.0f);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovLH(&projection, 0.9f, float(kWidth) / float(kHeight), 1.0f, 3000.0f);
    D3DXMatrixIdentity(&world);
    g_device->SetTransform(D3DTS_VIEW, &view);
    g_device->SetTransform(D3DTS_PROJECTION, &projection);
    g_device->SetTransform(D3DTS_WORLD, &world);
    g_device->SetRenderState(D3DRS_LIGHTING, TRUE);
    g_device->SetRenderState(D3DRS_ZENABLE, TRUE);
    g_device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    g_device->SetRenderState(D3DRS_AMBIENT, 0xFF404858);
    D3DLIGHT9 moon{};
    moon.Type = D3DLIGHT_DIRECTIONAL;
    moon.Diffuse = {0.8f, 0.82f, 0.9f, 1.0f};
    moon.Direction = {0.4f, -0.7f, 0.6f};
    g_device->SetLight(0, &moon);
    g_device->LightEnable(0, TRUE);
    g_device->SetFVF(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX2);
    ASSERT_EQ(g_device->BeginScene(), D3D_OK);
    for (auto& [material, batch] : batches) {
        const auto& [vertices, indices] = batch;
        const DWORD c = colours.at(material);
        D3DMATERIAL9 m{};
        m.Diffuse = {float((c >> 16) & 0xFF) / 255.0f, float((c >> 8) & 0xFF) / 255.0f, float(c & 0xFF) / 255.0f, 1.0f};
        m.Ambient = m.Diffuse;
        g_device->SetMaterial(&m);
        IDirect3DVertexBuffer9* vb = nullptr;
        IDirect3DIndexBuffer9* ib = nullptr;
        ASSERT_EQ(g_device->CreateVertexBuffer(UINT(vertices.size() * sizeof(Vertex)), 0, 0, D3DPOOL_MANAGED, &vb, nullptr), D3D_OK);
        ASSERT_EQ(g_device->CreateIndexBuffer(UINT(indices.size() * 4), 0, D3DFMT_INDEX32, D3DPOOL_MANAGED, &ib, nullptr), D3D_OK);
        void* p = nullptr;
        vb->Lock(0, 0, &p, 0);
        std::memcpy(p, vertices.data(), vertices.size() * sizeof(Vertex));
        vb->Unlock();
        ib->Lock(0, 0, &p, 0);
        std::memcpy(p, indices.data(), indices.size() * 4);
        ib->Unlock();
        g_device->SetStreamSource(0, vb, 0, sizeof(Vertex));
        g_device->SetIndices(ib);
        EXPECT_EQ(g_device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, UINT(vertices.size()), 0,
                                                 UINT(indices.size() / 3)),
                  D3D_OK)
            << material;
        g_device->SetStreamSource(0, nullptr, 0, 0);
        g_device->SetIndices(nullptr);
        vb->Release();
        ib->Release();
    }
    g_device->EndScene();
    const std::vector<DWORD> frame = app.ReadFrame();
    if (std::getenv("RH_VILLAGE_TEST_IMAGES") != nullptr) {
        FILE* out = std::fopen("/tmp/rh-village.ppm", "wb");
        if (out != nullptr) {
            std::fprintf(out, "P6 %d %d 255\n", kWidth, kHeight);
            for (DWORD px : frame) {
                const unsigned char rgb[3] = {uint8_t(px >> 16), uint8_t(px >> 8), uint8_t(px)};
                std::fwrite(rgb, 1, 3, out);
            }
            std::fclose(out);
        }
    }
    // The snow covers the lower half; houses stand above the horizon in the upper half.
    int lowerSnow = 0, upperDrawn = 0;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const DWORD px = frame[size_t(y) * kWidth + size_t(x)] & 0xFFFFFF;
            if (y >= kHeight * 3 / 4 && ((px >> 16) & 0xFF) > 150) ++lowerSnow;
            if (y < kHeight / 2 && px != 0x101828) ++upperDrawn;
        }
    }
    EXPECT_GT(lowerSnow, kWidth * kHeight / 4 * 8 / 10);
    EXPECT_GT(upperDrawn, kWidth * kHeight / 2 / 20);
}

}  // namespace
