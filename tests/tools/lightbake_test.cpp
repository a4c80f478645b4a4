// The light-map baker: its hierarchy answers occlusion and nearest hits exactly as a test of
// every triangle does; on small scenes, shadows from the moon are soft at their edges and whole behind an
// occluder, lamps fall off and are blocked, area lights shine only to their front, panes take
// their own light and the sky darkens in a corner; a bake is the same whatever the number of
// threads. Then the village's maps: lamp pools, lit and dark windows, a house's moon shadow.
#include "tools/lightbake/light_baker.h"
#include "tools/villagebuild/light_maps.h"
#include "tools/villagebuild/scene_files.h"
#include "tools/villagebuild/village_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

namespace lb = rh::lightbake;
using lb::V3;

V3 Add(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 Sub(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 Scale(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float Dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 Cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
V3 Unit(V3 a) { return Scale(a, 1.0f / std::sqrt(Dot(a, a))); }

// A fixed stream of values in [0, 1).
struct Stream {
    uint32_t state;
    float Next() {
        state = state * 1664525u + 1013904223u;
        return float(state >> 8) / float(1u << 24);
    }
};

// Whether the ray crosses the triangle, computed the long way: the plane's crossing point, then
// inside-ness by the signs of three edge tests.
bool Crosses(const lb::Triangle& t, V3 o, V3 d, float distance) {
    const V3 n = Cross(Sub(t.b, t.a), Sub(t.c, t.a));
    const float along = Dot(n, d);
    if (std::abs(along) < 1e-9f) return false;
    const float hit = Dot(n, Sub(t.a, o)) / along;
    if (hit <= 1e-4f || hit >= distance) return false;
    const V3 p = Add(o, Scale(d, hit));
    const float e0 = Dot(n, Cross(Sub(t.b, t.a), Sub(p, t.a)));
    const float e1 = Dot(n, Cross(Sub(t.c, t.b), Sub(p, t.b)));
    const float e2 = Dot(n, Cross(Sub(t.a, t.c), Sub(p, t.c)));
    return (e0 >= 0 && e1 >= 0 && e2 >= 0) || (e0 <= 0 && e1 <= 0 && e2 <= 0);
}

TEST(LightBaker, TheHierarchyAnswersAsEveryTriangleDoes) {
    Stream random{7};
    std::vector<lb::Triangle> triangles;
    for (int i = 0; i < 600; ++i) {
        const V3 c{random.Next() * 200 - 100, random.Next() * 200 - 100, random.Next() * 200 - 100};
        auto corner = [&] { return Add(c, V3{random.Next() * 20 - 10, random.Next() * 20 - 10, random.Next() * 20 - 10}); };
        triangles.push_back({corner(), corner(), corner()});
    }
    const lb::Bvh bvh(triangles);
    EXPECT_EQ(bvh.triangleCount(), triangles.size());
    int blocked = 0, disagree = 0;
    for (int r = 0; r < 3000; ++r) {
        const V3 o{random.Next() * 240 - 120, random.Next() * 240 - 120, random.Next() * 240 - 120};
        const V3 d = Unit(V3{random.Next() - 0.5f, random.Next() - 0.5f, random.Next() - 0.5f});
        const float distance = 10.0f + random.Next() * 200.0f;
        bool want = false;
        for (const lb::Triangle& t : triangles) want = want || Crosses(t, o, d, distance);
        const bool got = bvh.Occluded(o, d, distance);
        // Grazing hits may fall either way in float; they are rare.
        if (got != want) ++disagree;
        if (want) ++blocked;
        // The nearest hit: the first triangle along the ray, with its own index and the point
        // its weights give.
        float nearest = distance;
        int which = -1;
        for (size_t i = 0; i < triangles.size(); ++i) {
            if (!Crosses(triangles[i], o, d, nearest)) continue;
            const lb::Triangle& t = triangles[i];
            const V3 n = Cross(Sub(t.b, t.a), Sub(t.c, t.a));
            nearest = Dot(n, Sub(t.a, o)) / Dot(n, d);
            which = int(i);
        }
        lb::Bvh::Hit hit;
        const bool found = bvh.Intersect(o, d, distance, &hit);
        if (found != (which >= 0) || (found && int(hit.triangle) != which)) {
            ++disagree;
            continue;
        }
        if (found) {
            EXPECT_NEAR(hit.t, nearest, 1e-2f);
            const lb::Triangle& t = triangles[hit.triangle];
            const V3 at = Add(Add(Scale(t.a, 1 - hit.u - hit.v), Scale(t.b, hit.u)), Scale(t.c, hit.v));
            const V3 along = Add(o, Scale(d, hit.t));
            EXPECT_NEAR(at.x, along.x, 1e-2f);
            EXPECT_NEAR(at.y, along.y, 1e-2f);
            EXPECT_NEAR(at.z, along.z, 1e-2f);
        }
    }
    EXPECT_GT(blocked, 200);
    EXPECT_LE(disagree, 6);
    EXPECT_FALSE(lb::Bvh({}).Occluded({0, 0, 0}, {0, 1, 0}, 100.0f));
}

// A floor of two triangles from -200 to 200 and, with `block`, a box 20 wide and 40 high at
// the origin standing on it.
std::vector<lb::Triangle> Floor(bool block) {
    std::vector<lb::Triangle> t = {{{-200, 0, -200}, {-200, 0, 200}, {200, 0, 200}},
                                   {{-200, 0, -200}, {200, 0, 200}, {200, 0, -200}}};
    if (block) {
        const V3 lo{-10, 0, -10}, hi{10, 40, 10};
        const V3 p[8] = {{lo.x, lo.y, lo.z}, {hi.x, lo.y, lo.z}, {hi.x, lo.y, hi.z}, {lo.x, lo.y, hi.z},
                         {lo.x, hi.y, lo.z}, {hi.x, hi.y, lo.z}, {hi.x, hi.y, hi.z}, {lo.x, hi.y, hi.z}};
        const int quads[5][4] = {{0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}, {4, 5, 6, 7}};
        for (const auto& q : quads) {
            t.push_back({p[q[0]], p[q[1]], p[q[2]]});
            t.push_back({p[q[0]], p[q[2]], p[q[3]]});
        }
    }
    return t;
}

lb::Lighting MoonOnly() {
    lb::Lighting lighting;
    lighting.moon.toward = Unit(V3{1, 1, 0});  // 45 degrees up, from +x
    lighting.moon.radius = 0.05f;
    lighting.moon.colour = {1, 1, 1};
    lighting.moon.samples = 16;
    lighting.sky.samples = 0;
    return lighting;
}

TEST(LightBaker, MoonShadowsAreWholeBehindAnOccluderAndSoftAtTheirEdge) {
    const lb::Baker baker(Floor(true), MoonOnly());
    const V3 up{0, 1, 0};
    const float open = baker.LightAt({100, 0, 100}, up, 1).x;
    EXPECT_NEAR(open, std::sqrt(0.5f), 0.01f) << "cosine of the moon's height, unshadowed";
    // The box's shadow falls towards -x: 40 high at 45 degrees reaches 40 beyond its side.
    EXPECT_LT(baker.LightAt({-25, 0, 0}, up, 1).x, 0.01f) << "inside the shadow";
    // Across the shadow's far edge (x = -50) the light rises over a few units, never falling.
    float last = -1;
    int between = 0;
    for (float x = -40; x >= -60; x -= 0.5f) {
        float sum = 0;
        for (uint32_t seed = 0; seed < 8; ++seed) sum += baker.LightAt({x, 0, 0}, up, seed).x / 8;
        EXPECT_GE(sum, last - 0.08f) << x;
        last = std::max(last, sum);
        if (sum > 0.1f * open && sum < 0.9f * open) ++between;
    }
    EXPECT_GE(between, 3) << "a penumbra";
    EXPECT_NEAR(last, open, 0.01f);
    // Facing away from the moon: nothing.
    EXPECT_EQ(baker.LightAt({100, 30, 100}, Unit(V3{-1, -1, 0}), 1).x, 0.0f);
}

TEST(LightBaker, LampsFallOffAndAreBlocked) {
    lb::Lighting lighting;
    lighting.moon.samples = 0;
    lighting.sky.samples = 0;
    lighting.points.push_back({{0, 20, -30}, 1.0f, {1, 0.5f, 0.25f}, 400.0f, 150.0f});
    lighting.pointSamples = 4;
    const lb::Baker baker(Floor(true), lighting);
    const V3 up{0, 1, 0};
    const V3 below = baker.LightAt({0, 0, -30}, up, 1);
    const V3 near = baker.LightAt({0, 0, -50}, up, 1);
    const V3 far = baker.LightAt({0, 0, -140}, up, 1);
    EXPECT_NEAR(below.x, 400.0f / (400.0f + 1.0f), 0.01f);
    EXPECT_NEAR(below.y, below.x * 0.5f, 1e-4f) << "the lamp's colour";
    EXPECT_GT(below.x, near.x);
    EXPECT_GT(near.x, far.x);
    EXPECT_EQ(baker.LightAt({0, 0, -200}, up, 1).x, 0.0f) << "out of range";
    EXPECT_EQ(baker.LightAt({0, 0, 25}, up, 1).x, 0.0f) << "behind the box";
}

TEST(LightBaker, AreaLightsShineForwardAndPanesKeepTheirLight) {
    lb::Lighting lighting;
    lighting.moon.samples = 0;
    lighting.sky.samples = 0;
    // A window 10 x 10 on the plane z = -10 facing -z, 5 to 15 above the floor.
    lb::AreaLight window;
    window.corner = {5, 5, -10.3f};
    window.edgeU = {-10, 0, 0};
    window.edgeV = {0, 10, 0};
    window.colour = {1, 1, 1};
    window.radiance = 2.0f;
    window.range = 100.0f;
    ASSERT_GT(Dot(Cross(window.edgeU, window.edgeV), V3{0, 0, -1}), 0.0f) << "the fixture faces -z";
    lighting.areas.push_back(window);
    lighting.areaSamples = 3;
    lighting.panes.push_back({{-5, 5, -10}, {10, 0, 0}, {0, 10, 0}, {3, 2, 1}, 0.5f});
    const lb::Baker baker(Floor(true), lighting);
    const V3 up{0, 1, 0};
    EXPECT_GT(baker.LightAt({0, 0, -20}, up, 1).x, 0.05f) << "in front";
    EXPECT_EQ(baker.LightAt({0, 0, 20}, up, 1).x, 0.0f) << "behind";
    EXPECT_GT(baker.LightAt({0, 0, -20}, up, 1).x, baker.LightAt({0, 0, -60}, up, 1).x);
    // Far off to the side, still within range: the light reaches however the baker sorts the
    // lights by place.
    EXPECT_GT(baker.LightAt({0, 0, -60}, up, 1).x, 0.0f);
    EXPECT_GT(baker.LightAt({70, 0, -50}, up, 1).x, 0.0f);
    EXPECT_GT(baker.LightAt({-70, 0, -50}, up, 1).x, 0.0f);
    EXPECT_EQ(baker.LightAt({0, 0, -115}, up, 1).x, 0.0f) << "out of range";
    const V3 pane = baker.LightAt({0, 10, -10}, V3{0, 0, -1}, 1);
    EXPECT_EQ(pane.x, 3.0f);
    EXPECT_EQ(pane.z, 1.0f);
    EXPECT_NE(baker.LightAt({0, 20, -10}, V3{0, 0, -1}, 1).x, 3.0f) << "above the pane";
}

TEST(LightBaker, TheSkyDarkensBesideAWall) {
    lb::Lighting lighting;
    lighting.moon.samples = 0;
    lighting.sky.colour = {1, 1, 1};
    lighting.sky.samples = 64;
    lighting.sky.range = 80.0f;
    const lb::Baker baker(Floor(true), lighting);
    const V3 up{0, 1, 0};
    const float open = baker.LightAt({150, 0, 150}, up, 3).x;
    const float corner = baker.LightAt({11, 0, 0}, up, 3).x;
    EXPECT_NEAR(open, 1.0f, 1e-6f);
    EXPECT_LT(corner, 0.8f);
    EXPECT_GT(corner, 0.3f);
}

TEST(LightBaker, ABakeIsTheSameWhateverTheThreads) {
    lb::Lighting lighting = MoonOnly();
    lighting.sky.samples = 8;
    lighting.sky.colour = {0.2f, 0.2f, 0.3f};
    const lb::Baker baker(Floor(true), lighting);
    // The floor as one chart.
    lb::Chart chart;
    chart.vertices = {{{-200, 0, -200}, {0, 1, 0}, 0.05f, 0.05f}, {{-200, 0, 200}, {0, 1, 0}, 0.05f, 0.95f},
                      {{200, 0, 200}, {0, 1, 0}, 0.95f, 0.95f}, {{200, 0, -200}, {0, 1, 0}, 0.95f, 0.05f}};
    chart.indices = {0, 1, 2, 0, 2, 3};
    const auto one = baker.Bake(chart, 64, 9, 1);
    const auto three = baker.Bake(chart, 64, 9, 3);
    EXPECT_TRUE(one.rgba == three.rgba);
    // Every texel written and opaque; the padding outside the chart took its neighbours'.
    for (size_t i = 3; i < one.rgba.size(); i += 4) ASSERT_EQ(one.rgba[i], 255);
    auto at = [&](int x, int y) { return one.rgba[(size_t(y) * 64 + size_t(x)) * 4 + 2]; };
    EXPECT_EQ(at(0, 32), at(4, 32));
    EXPECT_EQ(at(63, 63), at(60, 60));
}

// The village: warm pools under the lamps and cool light elsewhere, below neutral; windows,
// most lit; the moon's shadow behind a house; and the ground's map the same every bake.
TEST(VillageLightMaps, LampPoolsWindowsAndMoonShadows) {
    namespace vb = rh::villagebuild;
    const std::vector<vb::MeshPart> parts = vb::BuildVillage(20261211);
    const std::vector<vb::Vec3f> lamps = vb::LampPositions();
    const vb::VillageLightMaps maps(parts, lamps);
    const vb::Vec3f up{0, 1, 0};
    // Just beside the post, which shades the point right under the lamp.
    const vb::Vec3f below = maps.LightAt({lamps[0].x + 4, 0, lamps[0].z}, up);
    const vb::Vec3f near = maps.LightAt({lamps[0].x + 25, 0, lamps[0].z}, up);
    const vb::Vec3f far = maps.LightAt({900, 0, 900}, up);
    EXPECT_GT(below.x, near.x);
    EXPECT_GT(near.x, far.x + 0.2f);
    EXPECT_GT(below.x, below.z) << "warm under a lamp";
    EXPECT_LT(far.x, far.z) << "cool away from the lamps";
    EXPECT_LT(far.z, 1.0f);
    EXPECT_GT(maps.litWindows(), maps.darkWindows());
    // The moonlight comes from where the city's moon plane stands.
    const rh::zwf::Node city = vb::CityScene(parts, lamps);
    const rh::zwf::Node* moonPlane = nullptr;
    for (const rh::zwf::Node& child : city.Find("Children")->children()) {
        if (child.name() == "MoonPlane") moonPlane = &child;
    }
    ASSERT_NE(moonPlane, nullptr);
    float tm[16];
    // Sixteen floats, then the matrix's kind.
    ASSERT_GE(moonPlane->Find("NodeTM")->data().size(), sizeof tm);
    std::memcpy(tm, moonPlane->Find("NodeTM")->data().data(), sizeof tm);
    const float distance = std::sqrt(tm[12] * tm[12] + tm[13] * tm[13] + tm[14] * tm[14]);
    const vb::Vec3f toward = vb::TowardMoon();
    EXPECT_NEAR(toward.x, tm[12] / distance, 1e-4f);
    EXPECT_NEAR(toward.y, tm[13] / distance, 1e-4f);
    EXPECT_NEAR(toward.z, tm[14] / distance, 1e-4f);
    EXPECT_GT(maps.darkWindows(), 0);

    // A house's shadow: the ground just beyond its far side from the moon, against the ground
    // as far beyond its near side.
    const vb::MeshPart* walls = nullptr;
    for (const vb::MeshPart& part : parts) {
        if (part.name == "House01Walls") walls = &part;
    }
    ASSERT_NE(walls, nullptr);
    float x0 = 1e9f, x1 = -1e9f, z0 = 1e9f, z1 = -1e9f;
    for (const vb::Vertex& v : walls->vertices) {
        x0 = std::min(x0, v.position.x), x1 = std::max(x1, v.position.x);
        z0 = std::min(z0, v.position.z), z1 = std::max(z1, v.position.z);
    }
    const vb::Vec3f moon = vb::TowardMoon();
    const float flat = std::hypot(moon.x, moon.z);
    // Far enough out along the diagonal to clear the walls, the beams and the eaves.
    const float cx = (x0 + x1) / 2, cz = (z0 + z1) / 2, reach = 0.75f * std::max(x1 - x0, z1 - z0) + 15;
    const vb::Vec3f shadowed = maps.LightAt({cx - moon.x / flat * reach, 0, cz - moon.z / flat * reach}, up);
    const vb::Vec3f lit = maps.LightAt({cx + moon.x / flat * reach, 0, cz + moon.z / flat * reach}, up);
    EXPECT_LT(shadowed.z, lit.z - 0.1f) << "the moon's shadow";

    // The ground tile under the first lamp.
    const vb::MeshPart* ground = nullptr;
    for (const vb::MeshPart& part : parts) {
        if (part.name.rfind("Ground", 0) != 0 || part.name.rfind("GroundFar", 0) == 0) continue;
        float x0 = 1e9f, x1 = -1e9f, z0 = 1e9f, z1 = -1e9f;
        for (const vb::Vertex& v : part.vertices) {
            x0 = std::min(x0, v.position.x), x1 = std::max(x1, v.position.x);
            z0 = std::min(z0, v.position.z), z1 = std::max(z1, v.position.z);
        }
        if (lamps[0].x >= x0 && lamps[0].x <= x1 && lamps[0].z >= z0 && lamps[0].z <= z1) ground = &part;
    }
    ASSERT_NE(ground, nullptr);
    EXPECT_EQ(vb::LightMapSize(*ground), 256);
    const auto one = maps.Bake(*ground, 2);
    const auto two = maps.Bake(*ground, 5);
    EXPECT_TRUE(one.rgba == two.rgba);
    int brightest = 0;
    for (size_t i = 0; i < one.rgba.size(); i += 4) brightest = std::max<int>(brightest, one.rgba[i]);
    EXPECT_GT(brightest, 200);
}

}  // namespace
