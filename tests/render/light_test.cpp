// Lights without a device: the colour each kind gives at a point against the attenuation and
// cone formulas worked out here in double precision, which boxes each kind reaches, influence,
// and the regrouping of light sets by influence.
#include "render/light.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

const ArgbColor kDiffuse(0.5f, 0.8f, 0.4f, 0.2f);  // alpha, red, green, blue

void ExpectColorNear(const ArgbColor& actual, const ArgbColor& expected, const std::string& what) {
    const float tolerance = 1e-5f * std::max(1.0f, std::fabs(expected.r));
    EXPECT_NEAR(actual.a, expected.a, tolerance) << what;
    EXPECT_NEAR(actual.r, expected.r, tolerance) << what;
    EXPECT_NEAR(actual.g, expected.g, tolerance) << what;
    EXPECT_NEAR(actual.b, expected.b, tolerance) << what;
}

ArgbColor Scaled(const ArgbColor& c, double f) {
    return ArgbColor(static_cast<float>(c.a * f), static_cast<float>(c.r * f), static_cast<float>(c.g * f),
                     static_cast<float>(c.b * f));
}

SharedRef<Light> MakePoint(Vec3 position, float range, float a0, float a1, float a2) {
    auto* light = new PointLight;
    light->SetPosition(position);
    light->SetRange(range);
    light->SetAttenuation(a0, a1, a2);
    light->SetDiffuse(kDiffuse);
    return SharedRef<Light>(light);
}

// Theta and phi are the angles between the axis and the cone's edge.
SharedRef<Light> MakeSpot(Vec3 position, Vec3 direction, float range, float theta, float phi) {
    auto* light = new SpotLight;
    light->SetPosition(position);
    light->SetDirection(direction);
    light->SetRange(range);
    light->SetAttenuation(1.0f, 0.5f, 0.0f);
    light->SetInnerCone(theta);
    light->SetOuterCone(phi);
    light->SetDiffuse(kDiffuse);
    return SharedRef<Light>(light);
}

// A directional light whose influence is exactly v (intensity of opaque (v, 0, 0)).
SharedRef<Light> MakeDir(float v, const char* name = "") {
    auto* light = new DirLight;
    light->SetDiffuse(ArgbColor(1.0f, v, 0.0f, 0.0f));
    light->SetName(name);
    return SharedRef<Light>(light);
}

// A point at distance d from the origin, at angle (radians) from the +z axis in the xz plane.
Vec3 AtAngle(double d, double angle) {
    return Vec3{static_cast<float>(d * std::sin(angle)), 0.0f, static_cast<float>(d * std::cos(angle))};
}

TEST(LightTest, LightAtFollowsTheAttenuationAndConeFormulas) {
    const Vec3 origin{0, 0, 0};
    const Vec3 p{1, 2, 3};
    struct Case {
        const char* what;
        SharedRef<Light> light;
        Vec3 point;
        bool lit;
        double scale;  // of the diffuse colour, when lit
    };
    const double cone = 0.5;  // phi of the spot lights; theta 0.2
    const Case cases[] = {
        // Attenuation (1, 0, 0): the diffuse colour unchanged anywhere within range...
        {"constant attenuation, near", MakePoint(p, 10, 1, 0, 0), Vec3{1, 2, 3.5f}, true, 1.0},
        {"constant attenuation, at the range", MakePoint(p, 10, 1, 0, 0), Vec3{1, 12, 3}, true, 1.0},
        // ...and 1000 times it exactly at the light, whatever the factors.
        {"at the light, constant", MakePoint(p, 10, 1, 0, 0), p, true, 1000.0},
        {"at the light, quadratic", MakePoint(p, 10, 0, 0, 1), p, true, 1000.0},
        {"linear attenuation", MakePoint(origin, 10, 0, 1, 0), Vec3{0, 4, 0}, true, 1.0 / 4},
        {"all three factors", MakePoint(origin, 10, 1, 0.5f, 0.25f), Vec3{0, 0, -2}, true, 1.0 / 3},
        {"just beyond the range", MakePoint(origin, 10, 1, 0, 0), Vec3{0, 10.001f, 0}, false, 0},
        {"NaN range reaches nothing", MakePoint(origin, kNaN, 1, 0, 0), Vec3{0, 1, 0}, false, 0},
        // Spot lights: attenuation (1, 0.5, 0) times the cone factor.
        {"spot on its axis", MakeSpot(origin, Vec3{0, 0, 3}, 10, 0.2f, 0.5f), Vec3{0, 0, 4}, true, 1.0 / 3},
        {"spot inside theta", MakeSpot(origin, Vec3{0, 0, 1}, 10, 0.2f, 0.5f), AtAngle(2, 0.15), true, 1.0 / 2},
        // Between theta and phi the factor is the ratio raised to the falloff, 0 here: 1.
        {"spot between theta and phi", MakeSpot(origin, Vec3{0, 0, 1}, 10, 0.2f, 0.5f), AtAngle(6, 0.45), true,
         1.0 / 4},
        // Phi is the angle from the axis, not half the cone's opening: 0.45 is inside.
        {"spot just inside the whole phi", MakeSpot(origin, Vec3{0, 0, 1}, 10, 0.1f, 0.5f), AtAngle(2, cone - 0.01),
         true, 1.0 / 2},
        {"spot outside phi", MakeSpot(origin, Vec3{0, 0, 1}, 10, 0.2f, 0.5f), AtAngle(2, cone + 0.01), false, 0},
        {"spot behind", MakeSpot(origin, Vec3{0, 0, 1}, 10, 0.2f, 0.5f), Vec3{0, 0, -2}, false, 0},
        {"spot beyond its range", MakeSpot(origin, Vec3{0, 0, 1}, 10, 0.2f, 0.5f), Vec3{0, 0, 10.01f}, false, 0},
        {"directional, anywhere", MakeDir(0.0f), Vec3{-1e6f, 3, 7}, true, 1.0},
    };
    for (const Case& c : cases) {
        // The directional row checks its own diffuse colour.
        const ArgbColor diffuse = c.light.Get()->GetDiffuse();
        ArgbColor out(0.25f, 0.25f, 0.25f, 0.25f);
        const ArgbColor before = out;
        EXPECT_EQ(c.light.Get()->LightAt(c.point, &out), c.lit) << c.what;
        if (c.lit) {
            ExpectColorNear(out, Scaled(diffuse, c.scale), c.what);
        } else {
            EXPECT_TRUE(ColorsEqual(out, before)) << c.what << ": an unlit point must leave the colour alone";
        }
    }
}

TEST(LightTest, IsVisibleTestsTheBoxAgainstTheCubeAroundTheLight) {
    const float kQuarter = static_cast<float>(M_PI / 4);
    const SharedRef<Light> point = MakePoint({0, 0, 0}, 5, 1, 0, 0);
    // The spot cube: axis +z (given unnormalised), range 10, phi pi/4: centre (0, 0, 5), edge
    // 2 sqrt(10^2 + 10^2) = 28.28, so it spans z from -9.14 to 19.14 and x from -14.14 to 14.14.
    const SharedRef<Light> spot = MakeSpot({0, 0, 0}, {0, 0, 2}, 10, 0.1f, kQuarter);
    const Vec3 small{0.1f, 0.1f, 0.1f};
    const Vec3 large{10, 10, 10};
    struct Case {
        const char* what;
        SharedRef<Light> light;
        BoundingBox box;
        bool visible;
    };
    const Case cases[] = {
        {"point: inside the face of the cube of edge 2 x range", point, {{5.04f, 0, 0}, small}, true},
        {"point: just apart", point, {{5.2f, 0, 0}, {0.2f, 0.2f, 0.2f}}, false},
        {"point: a corner of the cube, beyond the sphere", point, {{4.9f, 4.9f, 4.9f}, {0, 0, 0}}, true},
        {"spot: far end of the cube", spot, {{0, 0, 19.0f}, small}, true},
        {"spot: past the far end", spot, {{0, 0, 19.3f}, small}, false},
        {"spot: the cube's side", spot, {{14.0f, 0, 5}, small}, true},
        {"spot: past the side", spot, {{14.3f, 0, 5}, small}, false},
        {"spot: behind, still in the cube", spot, {{0, 0, -9.0f}, small}, true},
        {"spot of range 0.0005 around its own position", MakeSpot({0, 0, 0}, {0, 0, 1}, 0.0005f, 0.1f, kQuarter),
         {{0, 0, 0}, large}, false},
        {"spot of range -0.0005", MakeSpot({0, 0, 0}, {0, 0, 1}, -0.0005f, 0.1f, kQuarter), {{0, 0, 0}, large}, false},
        {"spot without a direction", MakeSpot({0, 0, 0}, {0, 0, 0}, 10, 0.1f, kQuarter), {{0, 0, 0}, large}, false},
        {"directional: anywhere", MakeDir(1), {{1e9f, 0, 0}, {0, 0, 0}}, true},
    };
    for (const Case& c : cases) EXPECT_EQ(c.light.Get()->IsVisible(c.box), c.visible) << c.what;
}

TEST(LightTest, InfluenceIsTheAttenuatedIntensityAtTheBoxLessItsLargestSize) {
    // Intensity of the diffuse colour with all four components scaled by f: a f |f| |rgb|.
    const double rgb = std::sqrt(0.8 * 0.8 + 0.4 * 0.4 + 0.2 * 0.2);
    auto scaledIntensity = [&](double f) { return 0.5 * f * std::fabs(f) * rgb; };
    struct Case {
        const char* what;
        SharedRef<Light> light;
        BoundingBox box;
        double expected;
    };
    const Case cases[] = {
        // Distance 10 to the centre, less the largest size 4 (the full size, not half): 6.
        {"point, linear", MakePoint({0, 0, 0}, 20, 0, 1, 0), {{0, 10, 0}, {1, 4, 2}}, scaledIntensity(1.0 / 6)},
        // A box bigger than its distance: -1, still through the formula.
        {"point, negative distance", MakePoint({0, 0, 0}, 20, 0, 1, 0), {{2, 0, 0}, {3, 1, 1}}, scaledIntensity(-1.0)},
        {"point, distance exactly 0", MakePoint({0, 0, 0}, 20, 0, 1, 0), {{3, 0, 0}, {3, 1, 1}},
         scaledIntensity(1000.0)},
        {"point, box beyond the range", MakePoint({0, 0, 0}, 5, 1, 0, 0), {{0, 0, 9}, {2, 2, 2}}, 0.0},
        {"point, box edge within the range", MakePoint({0, 0, 0}, 5, 1, 0, 0), {{0, 0, 7}, {2, 2, 2}},
         scaledIntensity(1.0)},
        {"spot: always 0", MakeSpot({0, 0, 0}, {0, 0, 1}, 100, 0.2f, 0.5f), {{0, 0, 1}, {1, 1, 1}}, 0.0},
        {"directional: the diffuse intensity", MakeDir(0.75f), {{5, 5, 5}, {1, 1, 1}}, 0.75},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(c.light.Get()->Influence(c.box), c.expected, 1e-6 * std::max(1.0, std::fabs(c.expected))) << c.what;
    }
}

// The names of the set's lights from its cursor, one letter each.
std::string Order(const LightSet& set) {
    std::string names;
    const LightSet::LightMap::Node* n = set.lights.cursor();
    for (int32_t i = 0; i < set.lights.count(); ++i, n = n->next) names += n->key.Get()->name().Text();
    return names;
}

TEST(LightSetTest, RankLightsGroupsByInfluenceInFirstOccurrenceOrder) {
    struct Case {
        const char* what;
        std::vector<float> influences;  // of lights A, B, C, ... in that order
        int cursor;                     // which light the set's cursor rests on
        int32_t limit;
        const char* expected;
    };
    const Case cases[] = {
        {"5, 9, 5 with a limit of 2: the two fives, the later one first", {5, 9, 5}, 0, 2, "CA"},
        {"3, 7, 3, 7: groups by first occurrence, not by strength", {3, 7, 3, 7}, 0, -1, "CADB"},
        {"all equal: the last, then the rest in order", {1, 1, 1, 1}, 0, -1, "DABC"},
        {"all different: unchanged", {4, 3, 2, 1}, 0, -1, "ABCD"},
        {"visited from the cursor", {1, 2, 1}, 1, -1, "BAC"},
        {"a limit of 0 keeps nothing", {1, 2}, 0, 0, ""},
        {"a limit above the count keeps all", {1, 2, 1}, 0, 7, "CAB"},
        // NaN equals nothing: it must join the zero group, not open one per light or fall
        // into whatever group the map compares it with.
        {"NaN counts as 0", {kNaN, 2, 0, kNaN}, 0, -1, "DACB"},
        {"NaN among others", {2, kNaN, 2, 0}, 0, -1, "CADB"},
    };
    const char* letters = "ABCDEFG";
    for (const Case& c : cases) {
        LightSet set;
        set.ambient = ArgbColor(0.5f, 0.25f, 0.125f, 1.0f);
        std::vector<LightSet::LightMap::Node*> nodes;
        for (size_t i = 0; i < c.influences.size(); ++i) {
            set.Add(MakeDir(c.influences[i], std::string(1, letters[i]).c_str()));
            nodes.push_back(set.lights.cursor());
        }
        set.lights.SetCursor(nodes[static_cast<size_t>(c.cursor)]);
        set.RankLights(BoundingBox{}, c.limit);
        EXPECT_EQ(Order(set), c.expected) << c.what;
        if (set.lights.count() > 0) {
            EXPECT_EQ(set.lights.cursor(), set.lights.first()) << c.what;
        }
        EXPECT_TRUE(ColorsEqual(set.ambient, ArgbColor(0.5f, 0.25f, 0.125f, 1.0f))) << c.what << ": ambient kept";
    }
}

TEST(LightSetTest, RankLightsPutsSpotAndUnreachedLightsInTheZeroGroup) {
    LightSet set;
    SharedRef<Light> far = MakePoint({100, 0, 0}, 5, 1, 0, 0);
    far.Get()->SetName("A");
    set.Add(far);
    set.Add(MakeDir(3, "B"));
    SharedRef<Light> spot = MakeSpot({0, 0, 0}, {0, 0, 1}, 10, 0.2f, 0.5f);
    spot.Get()->SetName("C");
    set.Add(spot);
    set.Add(MakeDir(0, "D"));
    set.lights.SetCursor(set.lights.first());
    set.RankLights(BoundingBox{{0, 0, 0}, {1, 1, 1}}, -1);
    EXPECT_EQ(Order(set), "DACB");
}

TEST(LightSetTest, CollectLightsKeepsTheReachingLightsInTheSourceOrder) {
    LightSet source;
    source.ambient = ArgbColor(1.0f, 0.1f, 0.2f, 0.3f);
    SharedRef<Light> far = MakePoint({100, 0, 0}, 5, 1, 0, 0);
    far.Get()->SetName("A");
    SharedRef<Light> near = MakePoint({3, 0, 0}, 5, 1, 0, 0);
    near.Get()->SetName("B");
    SharedRef<Light> tiny = MakeSpot({0, 0, 0}, {0, 0, 1}, 0.0005f, 0.2f, 0.5f);
    tiny.Get()->SetName("C");
    source.Add(far);
    source.Add(MakeDir(1, "D"));
    source.Add(near);
    source.Add(tiny);
    source.Add(MakeDir(2, "E"));
    auto* sourceCursor = source.lights.first()->next;  // on D
    source.lights.SetCursor(sourceCursor);

    const BoundingBox box{{0, 0, 0}, {2, 2, 2}};
    LightSet out;
    out.Add(far);  // replaced, not kept
    CollectLights(source, box, &out);
    EXPECT_EQ(Order(out), "EDB") << "visited from the source's cursor; the out cursor rests on the last added";
    EXPECT_TRUE(ColorsEqual(out.ambient, source.ambient));
    EXPECT_EQ(source.lights.cursor(), sourceCursor) << "the source's cursor stays";
    EXPECT_EQ(*near.refs(), 3) << "source, out and the test share the light";

    // Collecting a set into itself filters it in place.
    CollectLights(source, box, &source);
    EXPECT_EQ(Order(source), "EDB");
}

TEST(LightSetTest, ACopySharesTheLightsAndKeepsTheCursor) {
    LightSet source;
    source.ambient = ArgbColor(1.0f, 0.5f, 0.5f, 0.5f);
    source.Add(MakeDir(1, "A"));
    source.Add(MakeDir(2, "B"));
    source.Add(MakeDir(1, "C"));
    source.lights.SetCursor(source.lights.first()->next);  // on B

    LightSet copy(source);
    EXPECT_EQ(Order(copy), Order(source));
    EXPECT_EQ(*source.lights.first()->key.refs(), 2);
    copy.RankLights(BoundingBox{}, -1);
    EXPECT_EQ(Order(copy), "BAC");
    EXPECT_EQ(Order(source), "BCA") << "ranking the copy leaves the source alone";

    LightSet assigned;
    assigned = source;
    EXPECT_EQ(Order(assigned), "BCA");
    EXPECT_TRUE(ColorsEqual(assigned.ambient, source.ambient));
}

TEST(LightTest, EachKindAnswersItsOwnTypeAndLight) {
    PointLight point;
    SpotLight spot;
    DirLight dir;
    EXPECT_EQ(point.GetType(), D3DLIGHT_POINT);
    EXPECT_EQ(spot.GetType(), D3DLIGHT_SPOT);
    EXPECT_EQ(dir.GetType(), D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(QueryAs<Light>(&spot), static_cast<Light*>(&spot));
    EXPECT_EQ(QueryAs<SpotLight>(&spot), &spot);
    EXPECT_EQ(QueryAs<PointLight>(&spot), nullptr);
    EXPECT_EQ(QueryAs<DirLight>(&dir), &dir);
    EXPECT_EQ(point.deviceIndex(), -1);
    EXPECT_FALSE(point.enabled());
}

}  // namespace
