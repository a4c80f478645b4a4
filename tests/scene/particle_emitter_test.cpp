// Particle emitters without a device: the key readers and switches, the laws the spawn draws
// follow (seeded, Kolmogorov-Smirnov and chi-square), the exact order of the draws, the
// kinematics and expiry on a hand-driven clock, the spawn limit, and hostile key values.

#include "scene/particle_emitter.h"

#include "core/object/property_node.h"
#include "core/time/clock_source.h"
#include "render/material.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

uint32_t g_now = 1000;
uint32_t TestClock() { return g_now; }

class ParticleTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_now = 1000;
        SetClockSource(&TestClock);
        material_.SetRenderContext(&context_);
        g_particleTimeStep = 0.1f;
    }
    void TearDown() override { SetClockSource(nullptr); }

    // A property tree: "key" -> text, or "key" -> list of texts named "0", "1", ...
    static void Set(PropertyNode& props, const char* key, const std::string& text) {
        props.SetChildString(String(key), String(text.c_str()));
    }
    static void SetList(PropertyNode& props, const char* key, const std::vector<std::string>& items) {
        props.SetChildString(String(key), String(""));
        PropertyNode* list = props.Child(String(key));
        for (size_t i = 0; i < items.size(); ++i) {
            list->SetChildString(String(std::to_string(i).c_str()), String(items[i].c_str()));
        }
    }

    MultiMaterial material_;
    RenderContext context_;
};

// The largest distance between the sample's empirical distribution and cdf.
double KolmogorovSmirnov(std::vector<double> sample, const std::function<double(double)>& cdf) {
    std::sort(sample.begin(), sample.end());
    double n = static_cast<double>(sample.size()), d = 0.0;
    for (size_t i = 0; i < sample.size(); ++i) {
        double f = cdf(sample[i]);
        d = std::max({d, std::fabs(f - i / n), std::fabs((i + 1) / n - f)});
    }
    return d;
}
// The critical distance at the 0.1 % level.
double Critical(size_t n) { return 1.95 / std::sqrt(static_cast<double>(n)); }

constexpr int kDraws = 20000;
constexpr double kPi = 3.14159265358979;

TEST_F(ParticleTest, KeyReadersFollowTheirTables) {
    PropertyNode props;
    SetList(props, "argb", {"0.3", "1", "1", "1"});
    SetList(props, "rgb", {"0.5", "0.5", "0.5"});
    Set(props, "grey", "0.5");
    SetList(props, "five", {"1", "2", "3", "4", "5"});
    SetList(props, "three", {"1", "2", "3"});
    SetList(props, "two", {"2", "6"});
    SetList(props, "vec", {"1", "2"});
    Set(props, "scalar", "4");
    Set(props, "word", "snow");
    auto key = [&](const char* name) { return props.Child(String(name)); };

    struct ColourCase {
        const char* key;
        ArgbColor expected;
    };
    for (const ColourCase& c : {ColourCase{"argb", {0.3f, 1.0f, 1.0f, 1.0f}}, ColourCase{"rgb", {1.0f, 0.5f, 0.5f, 0.5f}},
                                ColourCase{"grey", {1.0f, 0.5f, 0.5f, 0.5f}}, ColourCase{"five", {1.0f, 1.0f, 1.0f, 1.0f}},
                                ColourCase{"absent", {1.0f, 1.0f, 1.0f, 1.0f}}}) {
        EXPECT_TRUE(ColorsEqual(PropertyAsColor(key(c.key)), c.expected)) << c.key;
    }
    // Three or five numbers give the constant 0; a missing key the constant 1.
    for (const char* name : {"three", "five"}) {
        RandomValue r = PropertyAsRange(key(name));
        EXPECT_TRUE(r.IsConstant()) << name;
        EXPECT_EQ(r.x0, 0.0f) << name;
    }
    EXPECT_EQ(PropertyAsRange(nullptr).x0, 1.0f);
    EXPECT_TRUE(PropertyAsRange(nullptr).IsConstant());
    RandomValue two = PropertyAsRange(key("two"));
    EXPECT_EQ(two.x0, 2.0f);
    EXPECT_EQ(two.w0, 1.0f);
    EXPECT_EQ(two.x1, 6.0f);
    EXPECT_EQ(two.w1, 1.0f);
    Vec3 v = PropertyAsVector(key("vec"));
    EXPECT_EQ(v.x, 1.0f);
    EXPECT_EQ(v.y, 2.0f);
    EXPECT_EQ(v.z, 0.0f);
    Vec3 s = PropertyAsVector(key("scalar"));
    EXPECT_EQ(s.y, 4.0f);
    EXPECT_EQ(PropertyAsInt(key("word")), 0);
    EXPECT_EQ(PropertyAsInt(nullptr), 0);
    EXPECT_EQ(PropertyAsFloat(key("scalar")), 4.0f);
}

TEST_F(ParticleTest, SetupSwitchesAndHostileValues) {
    struct Case {
        const char* maxParticles;
        int32_t limit;
    };
    for (Case c : {Case{"8000", 8000}, Case{"2000000", kMaxParticleLimit}, Case{"-5", 0},
                   Case{"99999999999", 0}, Case{"nan", 0}}) {
        PropertyNode props;
        Set(props, "MaxParticles", c.maxParticles);
        ParticleEmitter emitter;
        emitter.Setup(props, material_, nullptr);
        EXPECT_EQ(emitter.particleLimit, c.limit) << c.maxParticles;
    }

    PropertyNode props;
    Set(props, "ParticleSize", "0.75");
    SetList(props, "StartColor", {"0.3", "1", "1", "1"});
    SetList(props, "EndColor", {"0.3", "1", "1", "1"});
    ParticleEmitter emitter;
    emitter.Setup(props, material_, nullptr);
    EXPECT_TRUE(emitter.constantSize);
    EXPECT_TRUE(emitter.equalColours);
    EXPECT_TRUE(emitter.singleTexture);
    EXPECT_TRUE(emitter.pointSpritesAllowed);
    EXPECT_EQ(emitter.particleLimit, 0);
    EXPECT_TRUE(material_.sub(0).vertexAlpha);

    // Several names force quads; the names keep their weights.
    PropertyNode named;
    SetList(named, "ParticleSize", {"1", "2"});
    named.SetChildString(String("TexGen"), String(""));
    named.Child(String("TexGen"))->SetChildString(String("flake"), String("10"));
    named.Child(String("TexGen"))->SetChildString(String("star"), String("30"));
    ParticleEmitter several;
    several.Setup(named, material_, nullptr);
    EXPECT_FALSE(several.singleTexture);
    EXPECT_FALSE(several.constantSize);
    EXPECT_EQ(several.textureNames.weights.count(), 2);

    // A huge or NaN life is held in the int range (its plain conversion is undefined).
    for (auto [text, expected] : {std::pair<const char*, int32_t>{"1e20", INT32_MAX}, {"-1e20", INT32_MIN}}) {
        PropertyNode p;
        Set(p, "ParticleLife", text);
        ParticleEmitter e;
        e.Setup(p, material_, nullptr);
        Particle particle;
        e.SpawnParticle(&material_, particle);
        EXPECT_EQ(particle.life, expected) << text;
    }
}

// Without "MaxParticles" the limit is 0: the scheduler runs, nothing spawns.
TEST_F(ParticleTest, NoLimitNeverSpawnsAndTheLimitKeepsTheLatestDueSpawns) {
    PropertyNode props;
    Set(props, "GenPeriod", "10");
    ParticleEmitter none;
    none.Setup(props, material_, nullptr);
    g_now += 1000;
    none.UpdateParticles(&material_);
    EXPECT_EQ(none.particles.count(), 0);

    g_now = 5000;
    Set(props, "MaxParticles", "3");
    Set(props, "ParticleLife", "100000");
    ParticleEmitter limited;
    limited.Setup(props, material_, nullptr);
    g_now += 100;  // ten spawns due: 5010 ... 5100
    limited.UpdateParticles(&material_);
    ASSERT_EQ(limited.particles.count(), 3);
    std::vector<int64_t> births;
    limited.BeginParticles();
    for (int i = 0; i < 3; ++i) births.push_back(limited.NextParticle()->birth);
    std::sort(births.begin(), births.end());
    EXPECT_EQ(births, (std::vector<int64_t>{5080, 5090, 5100}));
}

// n steps of size s: v = v0 + n a s, p = p0 + n s v0 + a s^2 n (n + 1) / 2.
TEST_F(ParticleTest, StepsFollowTheClosedFormAndExpireAtBirthPlusLife) {
    ParticleEmitter emitter;
    emitter.particleLimit = 10;
    emitter.acceleration = Vec3{0.5f, -2.0f, 0.0f};
    emitter.lastUpdate = g_now;
    Particle p;
    p.position = Vec3{1.0f, 2.0f, 3.0f};
    p.velocity = Vec3{0.25f, 1.0f, -1.0f};
    p.life = 500;
    p.birth = g_now;
    emitter.particles.Append(p);
    Particle lamp = p;
    lamp.life = -1;
    emitter.particles.Append(lamp);

    const int steps = 40;
    const double s = 20 * 0.1f;  // 20 ms per update
    for (int n = 1; n <= steps; ++n) {
        g_now += 20;
        emitter.UpdateParticles(&material_);
        if (n * 20 >= 500) {
            EXPECT_EQ(emitter.particles.count(), 1) << "expired at birth + life, step " << n;
        } else {
            EXPECT_EQ(emitter.particles.count(), 2) << n;
        }
    }
    ASSERT_EQ(emitter.particles.count(), 1);
    const Particle& left = emitter.particles.first()->element;
    EXPECT_EQ(left.life, -1);
    double vy = 1.0 + steps * -2.0 * s;
    double py = 2.0 + steps * s * 1.0 + -2.0 * s * s * steps * (steps + 1) / 2.0;
    double px = 1.0 + steps * s * 0.25 + 0.5 * s * s * steps * (steps + 1) / 2.0;
    EXPECT_NEAR(left.velocity.y, vy, 1e-3);
    EXPECT_NEAR(left.position.y, py, std::fabs(py) * 1e-5);
    EXPECT_NEAR(left.position.x, px, std::fabs(px) * 1e-5);
}

// With accuracy 1 and DT 0.1 a step must exceed 1: 10 ms give exactly 1.0 in floats (10 x
// 0.1f rounds to 1.0f), so the first move comes at 11 ms; before, the elapsed time keeps
// growing and nothing moves.
TEST_F(ParticleTest, StepsNotAboveTheAccuracyMoveNothing) {
    ParticleEmitter emitter;
    emitter.particleLimit = 1;
    emitter.iterationAccuracy = 1.0f;
    emitter.lastUpdate = g_now;
    Particle p;
    p.velocity = Vec3{1.0f, 0.0f, 0.0f};
    p.life = -1;
    emitter.particles.Append(p);
    const int64_t start = g_now;
    for (int i = 0; i < 10; ++i) {
        g_now += 1;
        emitter.UpdateParticles(&material_);
        EXPECT_EQ(emitter.particles.first()->element.position.x, 0.0f);
        EXPECT_EQ(emitter.lastUpdate, start);
    }
    g_now += 1;
    emitter.UpdateParticles(&material_);
    EXPECT_NEAR(emitter.particles.first()->element.position.x, 1.1f, 1e-5);
    EXPECT_EQ(emitter.lastUpdate, start + 11);
}

// The draws of one spawn, replayed: radius, angle 1, angle 2, size, life, deviation, spin,
// speed.
TEST_F(ParticleTest, SpawnDrawsInTheFixedOrder) {
    ParticleEmitter emitter;
    emitter.spawnRadius = RandomValue(0.0f, 1.0f, 300.0f, 300.0f);
    emitter.size = RandomValue(0.5f, 1.0f, 2.0f, 1.0f);
    emitter.life = RandomValue(1000.0f, 1.0f, 9000.0f, 1.0f);
    emitter.directionDeviation = RandomValue(0.0f, 10.0f, 1.7f, 5.0f);
    emitter.startSpeed = RandomValue(0.01f, 10.0f, 0.02f, 5.0f);
    emitter.emitDirection = Vec3{0.0f, -1.0f, 0.0f};
    for (unsigned seed : {7u, 12345u}) {
        std::srand(seed);
        Particle p;
        emitter.SpawnParticle(&material_, p);

        std::srand(seed);
        float radius = emitter.spawnRadius.Sample();
        float a1 = RandomAngle();
        float a2 = RandomAngle();
        float side = emitter.size.Sample();
        float life = emitter.life.Sample();
        float deviation = emitter.directionDeviation.Sample();
        Vec3 d = DeviateDirection(Vec3{0.0f, -1.0f, 0.0f}, deviation);  // the spin
        float speed = emitter.startSpeed.Sample();
        Vec3 position = PickSpherePoint(Vec3{0.0f, 0.0f, 0.0f}, radius, a1, a2);
        Vec3 velocity = Vec3Scale(Vec3Normalize(d), speed);
        EXPECT_EQ(p.position.x, position.x);
        EXPECT_EQ(p.position.y, position.y);
        EXPECT_EQ(p.position.z, position.z);
        EXPECT_EQ(p.width, side);
        EXPECT_EQ(p.height, side);
        EXPECT_EQ(p.life, static_cast<int32_t>(life));
        EXPECT_EQ(p.velocity.x, velocity.x);
        EXPECT_EQ(p.velocity.y, velocity.y);
        EXPECT_EQ(p.velocity.z, velocity.z);
        // Two draws per one-segment value, one per angle: thirteen in all.
        int after = std::rand();
        std::srand(seed);
        for (int i = 0; i < 13; ++i) std::rand();
        EXPECT_EQ(after, std::rand());
    }
}

// "SpawnArea" [0, 1, 300, 300]: radius density rising linearly from 1 to 300. Spawn type 1
// keeps every particle on its horizontal circle; type 0 gives y / r the arcsine law.
TEST_F(ParticleTest, SpawnPositionsFollowTheirLaws) {
    std::srand(2024);
    ParticleEmitter circle;
    circle.spawnRadius = RandomValue(0.0f, 1.0f, 300.0f, 300.0f);
    circle.spawnType = 1;
    std::vector<double> radii;
    for (int i = 0; i < kDraws; ++i) {
        Particle p;
        circle.SpawnParticle(&material_, p);
        ASSERT_EQ(p.position.y, 0.0f);
        radii.push_back(std::hypot(p.position.x, p.position.z));
    }
    auto linear = [](double x) { return (x + 299.0 / 600.0 * x * x) / 45150.0; };
    EXPECT_LT(KolmogorovSmirnov(radii, linear), Critical(radii.size()));
    // Uniform radii would fail the same test.
    EXPECT_GT(KolmogorovSmirnov(radii, [](double x) { return x / 300.0; }), Critical(radii.size()));

    ParticleEmitter sphere;
    sphere.spawnRadius = RandomValue(2.0f);
    std::vector<double> heights;
    for (int i = 0; i < kDraws; ++i) {
        Particle p;
        sphere.SpawnParticle(&material_, p);
        ASSERT_NEAR(Vec3Length(p.position), 2.0f, 1e-4);
        heights.push_back(p.position.y / 2.0);
    }
    auto arcsine = [](double u) { return 0.5 + std::asin(std::clamp(u, -1.0, 1.0)) / kPi; };
    EXPECT_LT(KolmogorovSmirnov(heights, arcsine), Critical(heights.size()));
    EXPECT_GT(KolmogorovSmirnov(heights, [](double u) { return (u + 1.0) / 2.0; }), Critical(heights.size()))
        << "not uniform on the sphere";
}

// "DirDeviation" [0, 10, 1.7, 5]: the tilt follows the density from 10 down to 5, the turn
// about the emit direction is uniform.
TEST_F(ParticleTest, DirectionsDeviateByTheDensityAndTurnUniformly) {
    std::srand(99);
    ParticleEmitter emitter;
    emitter.emitDirection = Vec3{0.0f, -1.0f, 0.0f};
    emitter.directionDeviation = RandomValue(0.0f, 10.0f, 1.7f, 5.0f);
    emitter.startSpeed = RandomValue(1.0f);
    std::vector<double> tilts, turns;
    for (int i = 0; i < kDraws; ++i) {
        Particle p;
        emitter.SpawnParticle(&material_, p);
        Vec3 v = Vec3Normalize(p.velocity);
        tilts.push_back(std::acos(std::clamp(static_cast<double>(-v.y), -1.0, 1.0)));
        turns.push_back(std::atan2(v.z, v.x));
    }
    auto tiltCdf = [](double x) { return (10.0 * x - 5.0 / 3.4 * x * x) / 12.75; };
    EXPECT_LT(KolmogorovSmirnov(tilts, tiltCdf), Critical(tilts.size()));
    EXPECT_LT(KolmogorovSmirnov(turns, [](double t) { return (t + kPi) / (2.0 * kPi); }), Critical(turns.size()));
}

// Each name gets exactly its weight's share; weights of 0 or less get none, and a table that
// sums to nothing still draws once.
TEST_F(ParticleTest, WeightedPicksFollowTheWeights) {
    WeightedNameTable table;
    table.weights.Insert(String("A"), 10, 1);
    table.weights.Insert(String("zero"), 0, 1);
    table.weights.Insert(String("B"), 30, 1);
    table.weights.Insert(String("minus"), -50, 1);
    table.Rebuild();
    std::srand(5);
    int a = 0, b = 0;
    const int draws = 40000;
    for (int i = 0; i < draws; ++i) {
        String name = table.Pick();
        a += name.Text() == std::string("A") ? 1 : 0;
        b += name.Text() == std::string("B") ? 1 : 0;
    }
    EXPECT_EQ(a + b, draws);
    double chi = (a - draws / 4.0) * (a - draws / 4.0) / (draws / 4.0) +
                 (b - draws * 0.75) * (b - draws * 0.75) / (draws * 0.75);
    EXPECT_LT(chi, 10.83);  // one degree of freedom, 0.1 %

    // Two names of weight 10: every value of r maps to exactly ten of the twenty.
    WeightedNameTable even;
    even.weights.Insert(String("A"), 10, 1);
    even.weights.Insert(String("B"), 10, 1);
    even.Rebuild();
    int counts[2] = {};
    for (int r = 0; r < 20; ++r) {
        decltype(even.cumulative)::Node *floor = nullptr, *ceiling = nullptr;
        even.cumulative.FindBounds(r % 20 + 1, floor, ceiling);
        ASSERT_NE(ceiling, nullptr);
        ++counts[ceiling->value.Text() == std::string("A") ? 0 : 1];
    }
    EXPECT_EQ(counts[0], 10);
    EXPECT_EQ(counts[1], 10);

    WeightedNameTable nothing;
    nothing.weights.Insert(String("minus"), -5, 1);
    nothing.Rebuild();
    std::srand(3);
    EXPECT_EQ(std::string(nothing.Pick().Text()), "");
    int next = std::rand();
    std::srand(3);
    std::rand();
    EXPECT_EQ(next, std::rand()) << "the pick still drew once";
    EXPECT_EQ(std::string(WeightedNameTable().Pick().Text()), "");
}

// Without a device the draw fails cleanly, after the particles moved.
TEST_F(ParticleTest, DrawWithoutDeviceFails) {
    ParticleEmitter emitter;
    emitter.particleLimit = 4;
    Particle p;
    p.life = -1;
    emitter.particles.Append(p);
    EXPECT_EQ(emitter.UpdateParticles(&material_).value, 0);
    EXPECT_EQ(emitter.UpdateParticles(nullptr).value, 0);
    void* out = nullptr;
    EXPECT_TRUE(emitter.QueryInterface(TypeId<Mesh>::Get(), &out));
    EXPECT_TRUE(emitter.QueryInterface(TypeId<ParticleRenderNode>::Get(), &out));
    EXPECT_TRUE(emitter.QueryInterface(TypeId<ParticleMesh>::Get(), &out));
}

// RemoveBelow with the moves noting the particles below the height against the same emitter
// walking its whole list: on a random run of spawns, moves, expiries, skipped moves, clean-ups
// and changes made to the list from outside, both keep the same particles in the same order
// with the cursor on the same particle after every step.
TEST_F(ParticleTest, RemoveBelowWithNotedParticlesMatchesTheWalk) {
    constexpr float kFloor = -20.0f;
    auto setUp = [&](ParticleEmitter& e) {
        e.particleLimit = 300;
        e.iterationAccuracy = 1.0f;
        e.lastUpdate = g_now;
        e.spawnCentre = Vec3{0.0f, 5.0f, 0.0f};
        e.spawnRadius = RandomValue(0.0f, 1.0f, 50.0f, 1.0f);
        e.life = RandomValue(100.0f, 1.0f, 3000.0f, 1.0f);
        e.size = RandomValue(1.0f);
        e.startSpeed = RandomValue(0.0f, 1.0f, 1.0f, 1.0f);
        e.emitDirection = Vec3{0.0f, -1.0f, 0.0f};
        e.directionDeviation = RandomValue(0.0f, 1.0f, 0.5f, 1.0f);
        e.acceleration = Vec3{0.0f, -0.02f, 0.0f};
        e.spawnScheduler.SetInterval(RandomValue(1.0f, 1.0f, 8.0f, 1.0f));
        e.spawnScheduler.Start();
    };
    // The positions from the first particle, and where the cursor is among them (-1: nowhere).
    auto snapshot = [](ParticleEmitter& e, std::vector<float>* out) {
        out->clear();
        auto* node = e.particles.first();
        int cursorAt = -1;
        for (int32_t i = 0; i < e.particles.count(); ++i, node = node->next) {
            if (node == e.particles.cursor()) cursorAt = i;
            out->insert(out->end(), {node->element.position.x, node->element.position.y, node->element.position.z});
        }
        out->push_back(static_cast<float>(cursorAt));
    };
    for (unsigned seed : {1u, 2u, 3u}) {
        ParticleEmitter walked, noted;
        setUp(walked);
        setUp(noted);
        noted.TrackBelow(kFloor);
        std::srand(seed * 7919u);
        std::vector<float> a, b;
        for (int step = 0; step < 600; ++step) {
            const unsigned draw = static_cast<unsigned>(std::rand());
            // Mostly frame-sized steps; some too short to move anything.
            g_now += draw % 5 == 0 ? 1 + draw % 7 : 10 + draw % 25;
            const unsigned spawnSeed = static_cast<unsigned>(std::rand());
            for (ParticleEmitter* e : {&walked, &noted}) {
                std::srand(spawnSeed);
                e->UpdateParticles(&material_);
            }
            std::srand(spawnSeed + 1);
            const unsigned what = static_cast<unsigned>(std::rand()) % 16;
            if (what == 0) {
                // A particle put in from outside, below the floor: the noted ones no longer hold.
                Particle p;
                p.position = Vec3{static_cast<float>(step), -25.0f, 0.0f};
                p.life = -1;
                walked.particles.Append(p);
                noted.particles.Append(p);
            } else if (what == 1 && step % 97 == 0) {
                walked.particles.Clear();
                noted.particles.Clear();
            }
            if (what % 3 != 2) {
                EXPECT_EQ(walked.RemoveBelow(kFloor), noted.RemoveBelow(kFloor)) << "seed " << seed << " step " << step;
            }
            snapshot(walked, &a);
            snapshot(noted, &b);
            ASSERT_EQ(a, b) << "seed " << seed << " step " << step;
        }
    }
}

// Every particle below the floor, and a floor other than the noted one: the same as the walk.
TEST_F(ParticleTest, RemoveBelowTakesAllAndOtherHeights) {
    for (float floor : {-20.0f, 100.0f}) {
        ParticleEmitter emitter;
        emitter.particleLimit = 10;
        emitter.lastUpdate = g_now;
        emitter.TrackBelow(-20.0f);
        for (int i = 0; i < 4; ++i) {
            Particle p;
            p.position = Vec3{static_cast<float>(i), -30.0f + static_cast<float>(i) * 20.0f, 0.0f};
            p.life = -1;
            emitter.particles.Append(p);
        }
        g_now += 20;
        emitter.UpdateParticles(&material_);
        const int expected = floor > 0.0f ? 4 : 1;
        EXPECT_EQ(emitter.RemoveBelow(floor), expected) << floor;
        EXPECT_EQ(emitter.particles.count(), 4 - expected) << floor;
        if (emitter.particles.count() > 0) {
            EXPECT_EQ(emitter.particles.cursor()->element.position.x, 3.0f) << "the walk leaves the cursor on the last one";
        }
    }
    ParticleEmitter all;
    all.particleLimit = 10;
    all.lastUpdate = g_now;
    all.TrackBelow(-20.0f);
    for (int i = 0; i < 3; ++i) {
        Particle p;
        p.position = Vec3{0.0f, -40.0f, 0.0f};
        p.life = -1;
        all.particles.Append(p);
    }
    g_now += 20;
    all.UpdateParticles(&material_);
    EXPECT_EQ(all.RemoveBelow(-20.0f), 3);
    EXPECT_EQ(all.particles.count(), 0);
    EXPECT_EQ(all.RemoveBelow(-20.0f), 0);
}

}  // namespace
