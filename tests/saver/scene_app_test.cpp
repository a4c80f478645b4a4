// The scene application in this process, offscreen, on the test's clock: the village from the
// media archive (or a small city on disk that shadows it), the lamps and their blink, the
// planes, the snow, the music's fade, the paths with their fades, the statistics text, and the
// pictures. With RIMEHOLT_FRAME_DIR naming a folder the frames are written there as PNG files.
//
// Each test runs in a process of its own (one device and one texture registry per process).

#include "core/settings/frame_stats.h"
#include "core/time/clock_source.h"
#include "gui/font_manager.h"
#include "render/texture_registry.h"
#include "platform/d3d9/d3d9_testing.h"
#include "render/material.h"
#include "render/state_cache.h"
#include "saver/music.h"
#include "saver/scene_saver_app.h"
#include "scene/scene_node.h"
#include "tests/support/png_file.h"
#include "tests/support/scratch_dir.h"
#include "tools/zwfwrite/scene_values.h"
#include "tools/zwfwrite/zwf_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace {

uint32_t g_now = 1000;
uint32_t g_step = 0;  // added at every read: lets start-up's timed loops run on
uint32_t FakeClock() {
    g_now += g_step;
    return g_now;
}

std::vector<uint32_t> ReadFrame(int width, int height) {
    std::vector<DWORD> pixels;
    RECT rect{0, 0, width, height};
    EXPECT_TRUE(rh::d3d9::testing::ReadBackBuffer(g_device, rect, &pixels));
    return std::vector<uint32_t>(pixels.begin(), pixels.end());
}

int CountDifferent(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    int n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) n += (a[i] & 0xFFFFFF) != (b[i] & 0xFFFFFF);
    return n;
}

// Outside the labels' corners (the frame counter top-left, the clock bottom-right): the clock
// shows the real time, which may tick between two frames.
int CountDifferentOutsideLabels(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int width,
                                int height) {
    int n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        const int x = static_cast<int>(i) % width, y = static_cast<int>(i) / width;
        if ((x < 300 && y < 150) || y > height - 120) continue;
        n += (a[i] & 0xFFFFFF) != (b[i] & 0xFFFFFF);
    }
    return n;
}

// Black everywhere but in the labels' corners (the labels are drawn over the fade).
bool AllBlack(const std::vector<uint32_t>& frame, int width, int height) {
    for (size_t i = 0; i < frame.size(); ++i) {
        const int x = static_cast<int>(i) % width, y = static_cast<int>(i) / width;
        if ((x < 300 && y < 150) || y > height - 120) continue;
        if ((frame[i] & 0xFFFFFF) != 0) return false;
    }
    return !frame.empty();
}

// The scene application with a hook in every pass of the main loop: the hook runs after the
// scene's own update, before the frame is drawn, and may read the frame drawn in the pass
// before. The run ends after maxFrames passes.
class TestScene : public SceneSaverApp {
public:
    int maxFrames = 10;
    int frames = 0;
    uint32_t loadedAt = 0;  // the clock when the scene had loaded (the music timer's start)
    std::function<void(TestScene&)> eachPass;
    std::vector<String> startedPaths;

    bool LoadScene() override {
        const bool ok = SceneSaverApp::LoadScene();
        loadedAt = g_now;
        return ok;
    }
    void PathStarted() override {
        SceneSaverApp::PathStarted();
        startedPaths.push_back(flights().current());
    }
    bool UpdateScene() override {
        SceneSaverApp::UpdateScene();
        if (eachPass) eachPass(*this);
        ++frames;
        if (frames >= maxFrames) quit_ = true;
        return true;
    }
    int width() { return GetRenderRect().right; }
    int height() { return GetRenderRect().bottom; }
    std::vector<uint32_t> Frame() { return ReadFrame(width(), height()); }
    void SetQuit() { quit_ = true; }
};

class SceneAppTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_.Enter();
        setenv("XDG_CONFIG_HOME", scratch_.Path("config").c_str(), 1);
        setenv("TMPDIR", scratch_.path().c_str(), 1);
        g_now = 1000;
        g_step = 5;
        SetClockSource(FakeClock);
    }
    void TearDown() override {
        SetClockSource(nullptr);
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("TMPDIR");
    }
    // The registry file with these value lines under the built-in key.
    void WriteRegistry(const std::string& values) {
        scratch_.Write("config/rimeholt/registry",
                       "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\LARCHMERE Studio\\Glintwold 3D ScreenSaver]\n" +
                           values);
    }
    // The village as the saver starts it; the clock then stands still.
    void Start(TestScene& app) {
        ASSERT_TRUE(app.Create(nullptr, SaverMode::FullScreen, 0));
        g_step = 0;
    }

    rh::testing::ScratchDir scratch_{"rh_scene_app"};
};

// ---- A small city on disk, shadowing the archive's

using rh::zwf::Node;

Node Group(const std::string& name, std::vector<std::pair<std::string, std::string>> props, float x, float y, float z) {
    Node g = Node::Compound(name, "Dummy");
    g.AddChild(rh::zwf::Props(props));
    g.AddChild(Node::Bytes("NodeTM", rh::zwf::PackMatrix(rh::zwf::Translation(x, y, z))));
    g.AddChild(Node::Bytes("ObjectTM", rh::zwf::PackMatrix(rh::zwf::kIdentity16)));
    return g;
}

// Three lamps whose names pick each kind, a "Plane" of draw order 0, a plane of order 1, a
// house holding a lamp of its own (not at the top level: it stays) and a snow generator.
void WriteSmallCity(const std::string& path) {
    ASSERT_EQ(std::system(("mkdir -p '" + path.substr(0, path.rfind('/')) + "'").c_str()), 0);
    Node root = Node::Compound("");
    Node children = Node::Compound("Children");
    children.AddChild(Group("LampAB", {}, 10, 5, 0));
    children.AddChild(Group("Plane", {}, 0, 0, 0));
    children.AddChild(Group("LampB2", {}, 20, 5, 0));
    children.AddChild(Group("MoonPlane", {{"AlphaOrder", "1"}}, 0, 300, 900));
    children.AddChild(Group("StreetLamp", {}, 30, 5, 0));
    Node house = Group("House", {}, 0, 0, 50);
    Node inside = Node::Compound("Children");
    inside.AddChild(Group("HouseLamp", {}, 0, 3, 0));
    house.AddChild(inside);
    children.AddChild(house);
    Node snow = Group("SnowGenerator", {{"NodeType", "ParticleEmitter"}, {"Texture", "snowflake.png"},
                                        {"ParticleLife", "18000"}, {"SpawnArea", "300"}, {"ParticleSize", "0.75"}},
                      0, 0, 0);
    children.AddChild(snow);
    root.AddChild(children);
    std::string error;
    ASSERT_TRUE(rh::zwf::WriteFile(path, root, {}, {}, &error)) << error;
}

bool HasChildContaining(SceneNode& node, const char* part) {
    for (int32_t i = 0; i < node.childCount(); ++i) {
        if (std::strstr(node.child(i)->GetName().Text(), part) != nullptr) return true;
    }
    return false;
}

// ---- Rules without a device

TEST(SceneRules, LampKinds) {
    const struct {
        const char* name;
        int32_t kind;
    } rows[] = {{"LampAB", 0}, {"LampB2", 1}, {"StreetLamp", 2}, {"LampBLampA", 0}, {"lampa", 2}, {"LampC7", 2}};
    for (const auto& row : rows) EXPECT_EQ(LampKind(String(row.name)), row.kind) << row.name;
}

// BlinkPeriod 2000: kind 0 is bright from 500 to 1500 ms of each period, kinds 1 and 2 the same
// shifted by 666 and 1333 ms.
TEST(SceneRules, LampBlink) {
    for (int kind = 0; kind < 3; ++kind) {
        const int offset = 2000 * kind / 3;
        for (int64_t period = 0; period < 3; ++period) {
            for (int t = 0; t < 2000; ++t) {
                const int64_t now = period * 2000 + ((t - offset) % 2000 + 2000) % 2000 + 40000;
                const bool bright = t >= 500 && t <= 1500;
                ASSERT_EQ(LampAlpha(now, 2000, kind), bright ? 1.0f : 0.3f) << "kind " << kind << " at " << t;
            }
        }
    }
    EXPECT_EQ(666, 2000 * 1 / 3);
    EXPECT_EQ(1333, 2000 * 2 / 3);
    EXPECT_EQ(LampAlpha(500, 0, 0), 0.3f) << "a period of 0 does not divide by zero";
}

TEST(SceneRules, SnowRows) {
    const struct {
        int32_t quality, limit;
        float period;
    } rows[] = {{0, 6000, 3.0f}, {1, 12000, 1.0f}, {2, 24000, 0.1f}, {7, 24000, 0.1f}, {-1, 24000, 0.1f}};
    for (const auto& row : rows) {
        const SnowRow got = SnowRowFor(row.quality);
        EXPECT_EQ(got.limit, row.limit) << row.quality;
        EXPECT_EQ(got.period, row.period) << row.quality;
    }
}

TEST(SceneRules, SnowGeneratorAheadOfTheCamera) {
    const Vec3 eye{10.0f, 50.0f, -5.0f};
    const struct {
        Vec3 direction, expected;
    } rows[] = {
        {{0, -1, 0}, {10, 50, 195}},          // straight down: along +z
        {{0, 1, 0}, {10, 50, 195}},           // straight up too
        {{1, -5, 0}, {210, 50, -5}},          // the pitch does not matter
        {{-3, 0, 4}, {-110, 50, 155}},        // 200 along the flat direction
    };
    for (const auto& row : rows) {
        const Vec3 got = SnowGeneratorPosition(eye, row.direction);
        EXPECT_NEAR(got.x, row.expected.x, 1e-3);
        EXPECT_NEAR(got.y, row.expected.y, 1e-3);
        EXPECT_NEAR(got.z, row.expected.z, 1e-3);
    }
}

// (1, sqrt(r / 2), sqrt(g / 2), sqrt(b / 2)) on materials of exactly two sub-materials, the
// first of them also taking the highlight power; others keep theirs.
TEST(SceneRules, TwoPassFogColour) {
    EXPECT_EQ(TwoPassFogColor(ArgbColor(1.0f, 0.5f, 0.0f, 1.0f)), 0xFF8000B5u);
    EXPECT_EQ(TwoPassFogColor(ArgbColor(1.0f, 120 / 255.0f, 120 / 255.0f, 150 / 255.0f)), 0xFF7C7C8Au);

    SceneNode root;
    auto* two = new SceneNode;
    two->SetName(String("Two"));
    two->GetMaterial().SetCount(2);
    two->GetMaterial().sub(0).ownFogColor = true;
    two->GetMaterial().sub(1).ownFogColor = true;
    auto* one = new SceneNode;
    one->SetName(String("One"));
    one->GetMaterial().sub(0).ownFogColor = true;
    one->GetMaterial().sub(0).fogColor = 0x12345678;
    auto* deep = new SceneNode;
    deep->SetName(String("Deep"));
    deep->GetMaterial().SetCount(2);
    one->AddChild(deep);
    root.AddChild(two);
    root.AddChild(one);
    PrepareTwoPassMaterials(&root, ArgbColor(1.0f, 0.5f, 0.0f, 1.0f), 33.0f);
    for (SceneNode* node : {two, deep}) {
        for (int i = 0; i < 2; ++i) {
            EXPECT_FALSE(node->GetMaterial().sub(i).ownFogColor);
            EXPECT_EQ(node->GetMaterial().sub(i).fogColor, 0xFF8000B5u);
        }
        EXPECT_EQ(node->GetMaterial().sub(0).colors.GetPower(), 33.0f);
    }
    EXPECT_TRUE(one->GetMaterial().sub(0).ownFogColor);
    EXPECT_EQ(one->GetMaterial().sub(0).fogColor, 0x12345678u);
    PrepareTwoPassMaterials(nullptr, ArgbColor(1.0f), 1.0f);
}

// ---- The application's settings, without a device

TEST_F(SceneAppTest, SceneKeysOfTheScriptAndTheRegistry) {
    const struct {
        const char* fogLine;
        bool fog;
    } rows[] = {{"FogEnable = 1\n", true}, {"FogEnable = 2\n", false}, {"", false}};
    for (const auto& row : rows) {
        scratch_.Write("CustomData/settings.txt",
                       std::string(row.fogLine) + "BlinkPeriod = 1500.7\nSpecularDir = array(1,2,3)\nDT = 0.25\n");
        SceneSaverApp app;
        app.LoadConfig();
        EXPECT_EQ(app.fogEnable, row.fog) << row.fogLine;
        EXPECT_EQ(app.blinkPeriod, 1500);
        EXPECT_EQ(app.highlightDir.z, 3.0f);
        EXPECT_EQ(app.highlightPower, 40.0f) << "the default";
        EXPECT_EQ(g_particleTimeStep, 0.25f);
    }
    // SnowQuality 7 is kept and saved again as it was.
    std::remove(scratch_.Path("CustomData/settings.txt").c_str());
    WriteRegistry("\"SnowQuality\"=dword:00000007\n\"UseShaders\"=dword:00000000\n\"Volume\"=dword:00000032\n");
    {
        // One application at a time: the framework allows exactly one (asserted in debug builds).
        SceneSaverApp app;
        app.LoadConfig();
        app.LoadAppSettings();
        ASSERT_TRUE(app.LoadRegistrySettings());
        EXPECT_EQ(app.sceneValues().snowQuality, 7);
        EXPECT_FALSE(app.sceneValues().useShaders);
        EXPECT_EQ(app.settings().volume, 50) << "the base's values follow";
        ASSERT_TRUE(app.SaveRegistrySettings());
    }
    SceneSaverApp again;
    again.LoadConfig();
    again.LoadAppSettings();
    ASSERT_TRUE(again.LoadRegistrySettings());
    EXPECT_EQ(again.sceneValues().snowQuality, 7);
    EXPECT_FALSE(again.sceneValues().useShaders);
}

// F4 switches occlusion culling on its release only; the event still reaches the shell.
TEST_F(SceneAppTest, F4OnKeyUp) {
    SceneSaverApp app;
    ASSERT_TRUE(app.occlusionOn());
    const struct {
        InputEventKind kind;
        int32_t key;
        bool after;
    } steps[] = {{InputEventKind::kKeyDown, 62, true},  {InputEventKind::kKeyUp, 62, false},
                 {InputEventKind::kKeyUp, 61, false},   {InputEventKind::kKeyDown, 62, false},
                 {InputEventKind::kKeyUp, 62, true},    {InputEventKind::kCharacter, 62, true}};
    for (const auto& step : steps) {
        app.OnInputEvent(step.kind, 0, 0, 0, 0, 0, 0, step.key);
        EXPECT_EQ(app.occlusionOn(), step.after) << static_cast<int>(step.kind) << " " << step.key;
    }
    app.OnInputEvent(InputEventKind::kLeftButtonDown, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_TRUE(app.QuitRequested()) << "the shell's reaction follows";
}

// ---- The small city

// The walk over the city's top level: lamps of each kind become particles and leave the tree,
// a plane with a draw order leaves it for the plane list, a "Plane" of order 0 and a lamp
// inside a house stay, the snow generator leaves and is seeded.
TEST_F(SceneAppTest, TheTopLevelWalk) {
    WriteSmallCity(scratch_.Path("media/city.zwf"));
    TestScene app;
    Start(app);
    SceneNode& root = app.city().GetRoot();
    EXPECT_NE(root.FindChild(String("Plane")), nullptr) << "draw order 0 stays in the city";
    EXPECT_NE(root.FindByName(String("HouseLamp")), nullptr) << "only the top level is walked";
    EXPECT_FALSE(HasChildContaining(root, "Lamp"));
    EXPECT_EQ(root.FindByName(String("SnowGenerator")), nullptr);
    EXPECT_EQ(root.FindChild(String("MoonPlane")), nullptr);
    ASSERT_EQ(app.planes().count(), 1);
    SceneNode* moon = app.planes().first()->element;
    EXPECT_STREQ(moon->GetName().Text(), "MoonPlane");
    EXPECT_EQ(moon->GetParent(), nullptr);
    EXPECT_TRUE(moon->GetMaterial().sub(0).noFog);

    ParticleEmitter& lamps = app.lampEmitter();
    ASSERT_EQ(lamps.particles.count(), 3);
    EXPECT_EQ(lamps.particleLimit, 3);
    const int kinds[3] = {0, 1, 2};
    const float xs[3] = {10, 20, 30};
    auto* node = lamps.particles.first();
    for (int i = 0; i < 3; ++i, node = node->next) {
        const Particle& p = node->element;
        EXPECT_EQ(p.playback.delay, kinds[i]);
        EXPECT_EQ(p.position.x, xs[i]);
        EXPECT_EQ(p.position.y, 5.0f);
        EXPECT_EQ(p.width, 2.0f);
        EXPECT_EQ(p.life, -1);
    }
    ASSERT_NE(app.lampMaterial(), nullptr);
    EXPECT_TRUE(app.lampMaterial()->sub(0).noFog);

    ASSERT_NE(app.snowNode(), nullptr);
    EXPECT_EQ(app.snowNode()->GetParent(), nullptr);
    ParticleEmitter* snow = app.snowEmitter();
    ASSERT_NE(snow, nullptr);
    EXPECT_EQ(snow->particleLimit, 12000) << "SnowQuality 1";
    EXPECT_FALSE(snow->pointSpritesAllowed) << "only heavy snow may use sprites";
    EXPECT_EQ(snow->particles.count(), 6000) << "half the limit seeded";
    EXPECT_EQ(snow->spawnType, 0);
    // Spread ages: births between now and 99 % of a life ago, in many steps.
    std::set<int64_t> births;
    int64_t oldest = INT64_MAX, youngest = 0;
    auto* flake = snow->particles.first();
    for (int32_t i = 0; i < snow->particles.count(); ++i, flake = flake->next) {
        births.insert(flake->element.birth);
        oldest = std::min(oldest, flake->element.birth);
        youngest = std::max(youngest, flake->element.birth);
        EXPECT_EQ(flake->element.life, 18000);
    }
    EXPECT_EQ(births.size(), 100u);
    EXPECT_GE(oldest, int64_t(app.loadedAt) - 17820 - 100);
    EXPECT_LE(youngest, int64_t(g_now));

    // The sylfaen font was loaded by the start-up and again by the scene: one style per size,
    // the pictures shared. A third load adds nothing either.
    const int32_t styles = g_fontManager.Styles().count();
    const int32_t textures = g_textureRegistry.TextureCount();
    EXPECT_EQ(styles, 2) << "sylfaen and the 64-point font";
    EXPECT_TRUE(g_fontManager.LoadFont(app.MediaFileRef(String("media/fonts/sylfaen.fs"))).Succeeded());
    EXPECT_EQ(g_fontManager.Styles().count(), styles);
    EXPECT_EQ(g_textureRegistry.TextureCount(), textures);

    // The camera looking straight down: the generator goes 200 along +z.
    app.freeCamera().SetPosition(Vec3{5, 40, 7});
    app.freeCamera().SetDirection(Vec3{0, -1, 0});
    app.freeCamera().SetUp(Vec3{0, 0, 1});
    app.UpdateScene();
    const Vec3 at = app.snowNode()->GetNodeTransform(false).GetPosition();
    EXPECT_EQ(at.x, 5.0f);
    EXPECT_EQ(at.y, 40.0f);
    EXPECT_EQ(at.z, 207.0f);

    // Flakes below y = -20 go at the next clean-up, at most every 10 ms.
    flake = snow->particles.first();
    for (int i = 0; i < 100; ++i, flake = flake->next) flake->element.position.y = -20.5f;
    snow->particles.first()->element.position.y = -20.0f;  // not below
    // (Seeded flakes lie in a ball of 300 around the camera: some were below already.)
    int below = 0;
    flake = snow->particles.first();
    for (int32_t i = 0; i < snow->particles.count(); ++i, flake = flake->next) below += flake->element.position.y < -20.0f;
    EXPECT_GE(below, 99);
    g_now += 10;
    app.UpdateScene();
    EXPECT_EQ(snow->particles.count(), 6000) << "10 ms are not more than 10 ms";
    g_now += 1;
    app.UpdateScene();
    EXPECT_EQ(snow->particles.count(), 6000 - below);
    flake = snow->particles.first();
    for (int32_t i = 0; i < snow->particles.count(); ++i, flake = flake->next) {
        ASSERT_GE(flake->element.position.y, -20.0f);
    }

    // A new path seeds afresh.
    app.sceneValues().snowQuality = 0;
    app.PathStarted();
    EXPECT_EQ(snow->particleLimit, 6000);
    EXPECT_EQ(snow->particles.count(), 3000);
}

// The fade: Volume x elapsed x 0.00025, reaching Volume after 4 s; nothing with Volume 0 or
// the music off (the volume stays at the 0 the start set).
struct MusicRow {
    const char* name;
    const char* registry;
    int at500, at2000, at4000, at9000;
    bool sample;
};
void PrintTo(const MusicRow& row, std::ostream* out) { *out << row.name; }

class MusicFadeTest : public SceneAppTest, public ::testing::WithParamInterface<MusicRow> {};

TEST_P(MusicFadeTest, VolumesOnTheTestClock) {
    const MusicRow row = GetParam();
    WriteSmallCity(scratch_.Path("media/city.zwf"));
    WriteRegistry(row.registry);
    TestScene app;
    Start(app);
    ASSERT_NE(TheSoundLibrary().module, nullptr) << "the library loads from its temporary file";
    EXPECT_EQ(app.musicSample() != 0, row.sample);
    EXPECT_EQ(LastMusicVolume(), 0) << "silent until the fade";
    const int expected[4] = {row.at500, row.at2000, row.at4000, row.at9000};
    const uint32_t times[4] = {500, 2000, 4000, 9000};
    for (int i = 0; i < 4; ++i) {
        g_now = app.loadedAt + times[i];
        app.UpdateScene();
        EXPECT_EQ(LastMusicVolume(), expected[i]) << "at " << times[i] << " ms";
    }
    app.ShutdownSound();
    EXPECT_EQ(TheSoundLibrary().module, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Rows, MusicFadeTest,
                         ::testing::Values(MusicRow{"Volume80", "\"Volume\"=dword:00000050\n", 10, 40, 80, 80, true},
                                           MusicRow{"Volume0", "\"Volume\"=dword:00000000\n", 0, 0, 0, 0, true},
                                           MusicRow{"MusicOff", "\"Music\"=dword:00000000\n", 0, 0, 0, 0, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// A city file that cannot be read: the city stays empty, one line names the file, the run
// goes on.
TEST_F(SceneAppTest, AnUnreadableCityLeavesItEmpty) {
    scratch_.Write("media/city.zwf", "not a scene file at all");
    TestScene app;
    app.maxFrames = 3;
    testing::internal::CaptureStderr();
    Start(app);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("media/city.zwf"), std::string::npos) << err;
    EXPECT_EQ(err.find("skybox"), std::string::npos) << err;
    EXPECT_EQ(app.city().GetRoot().childCount(), 0);
    EXPECT_EQ(app.snowNode(), nullptr);
    EXPECT_EQ(app.lampMaterial(), nullptr);
    EXPECT_EQ(app.Run(), 1);
    EXPECT_EQ(app.frames, 3);
}

// Twenty switches fly every path once, in random order; each path starts from black, is clear
// in its middle and half dark half a second before its end.
TEST_F(SceneAppTest, TwentyPathsWithoutRepeatsAndTheirFades) {
    WriteSmallCity(scratch_.Path("media/city.zwf"));
    const char* many = std::getenv("RH_PATH_SWITCHES");
    const int switches = many != nullptr ? std::atoi(many) : 20;
    TestScene app;
    Start(app);
    app.maxFrames = 1 << 30;
    int phase = 0;  // 0: the path's first frame drawn; 1: its middle; 2: near its end
    int blackStarts = 0, clearMiddles = 0, halfEnds = 0;
    double middleSum = 0;
    std::vector<uint32_t> previous;
    app.eachPass = [&](TestScene& saver) {
        TimeRange range;
        ASSERT_TRUE(saver.pathPlayer().GetTimeRange(range));
        const std::vector<uint32_t> frame = saver.Frame();
        int bright = 0;
        double sum = 0;
        for (uint32_t p : frame) {
            bright += ((p >> 16) & 255) > 40;
            sum += ((p >> 16) & 255) + ((p >> 8) & 255) + (p & 255);
        }
        if (phase == 0) {
            if (saver.frames > 0) blackStarts += AllBlack(frame, saver.width(), saver.height());
            g_now += static_cast<uint32_t>((range.last - range.first) * 50.0f);  // to the middle
            phase = 1;
        } else if (phase == 1) {
            clearMiddles += bright > static_cast<int>(frame.size()) / 2;
            middleSum = sum;
            g_now += static_cast<uint32_t>((range.last - saver.pathTime() - 5.0f) * 100.0f);
            phase = 2;
        } else {
            // Half a second before the end the black quad is half opaque: the frame has about
            // half the middle's brightness (the camera has moved, so only about).
            const double ratio = sum / middleSum;
            halfEnds += ratio > 0.35 && ratio < 0.65;
            if (!(ratio > 0.35 && ratio < 0.65)) std::printf("end/middle brightness %.3f\n", ratio);
            g_now += 1000;  // past the end: the next frame starts the next path
            phase = 0;
            if (static_cast<int>(saver.startedPaths.size()) == switches) saver.SetQuit();
        }
    };
    const String first = app.flights().current();
    EXPECT_EQ(app.Run(), 1);
    // The pass that ends the run still draws its frame, which may start one path more.
    ASSERT_GE(static_cast<int>(app.startedPaths.size()), switches);
    std::set<std::string> names{first.Text()};
    for (int i = 0; i < 19 && i < switches; ++i) names.insert(app.startedPaths[i].Text());
    EXPECT_EQ(names.size(), std::min<size_t>(20, switches + 1)) << "the first twenty paths are all different";
    EXPECT_EQ(blackStarts, switches);
    EXPECT_EQ(clearMiddles, switches + 1);
    EXPECT_EQ(halfEnds, switches + 1);
}

// ---- The village

struct VillageRow {
    const char* name;
    int snowQuality;
    bool shaders;
};

void PrintTo(const VillageRow& row, std::ostream* out) { *out << row.name; }

class VillageTest : public SceneAppTest, public ::testing::WithParamInterface<VillageRow> {};

// The village from the archive, still on the test clock in the middle of a path: sky, city in
// fog, the lamps and the snow each change the picture, the statistics text counts the frame.
TEST_P(VillageTest, DrawsTheVillage) {
    const VillageRow row = GetParam();
    WriteRegistry("\"SnowQuality\"=dword:0000000" + std::to_string(row.snowQuality) + "\n\"UseShaders\"=dword:0000000" +
                  std::to_string(row.shaders ? 1 : 0) + "\n\"ShowFps\"=dword:00000001\n");
    TestScene app;
    Start(app);
    ASSERT_NE(app.snowEmitter(), nullptr);
    EXPECT_EQ(app.snowEmitter()->pointSpritesAllowed, row.snowQuality == 2);
    EXPECT_EQ(app.snowEmitter()->particleLimit, SnowRowFor(row.snowQuality).limit);
    EXPECT_EQ(app.lampEmitter().particles.count(), 16);
    int kinds[3] = {0, 0, 0};
    auto* lamp = app.lampEmitter().particles.first();
    for (int32_t i = 0; i < app.lampEmitter().particles.count(); ++i, lamp = lamp->next) {
        ++kinds[lamp->element.playback.delay];
    }
    EXPECT_EQ(kinds[0], 6);
    EXPECT_EQ(kinds[1], 5);
    EXPECT_EQ(kinds[2], 5);
    EXPECT_TRUE(app.fogEnable) << "the built-in script's FogEnable 1";

    std::vector<std::vector<uint32_t>> frames;
    LinkedList<Particle> flakes;
    app.maxFrames = 8;
    app.eachPass = [&](TestScene& saver) {
        if (saver.frames == 0) g_now += 150 * 100;  // path time 150: past the fade
        if (saver.frames >= 2) frames.push_back(saver.Frame());
        ParticleEmitter* snow = saver.snowEmitter();
        if (saver.frames == 2) {  // frame 3 without snow
            flakes = snow->particles;
            snow->particles.Clear();
            snow->particleLimit = 0;
        }
        if (saver.frames == 3) {  // frame 4 without lamps, snow back
            snow->particles = flakes;
            snow->particleLimit = SnowRowFor(row.snowQuality).limit;
            saver.lampEmitter().particleLimit = 0;
        }
        if (saver.frames == 4) {  // frame 5 without fog
            saver.lampEmitter().particleLimit = 16;
            saver.fogEnable = false;
        }
        if (saver.frames == 5) saver.fogEnable = true;
        if (saver.frames == 6) {  // frame 7 without the labels
            saver.fpsLabel().Hide();
            saver.clockLabel().Hide();
            saver.amPmLabel().Hide();
        }
    };
    EXPECT_EQ(app.Run(), 1);
    ASSERT_EQ(frames.size(), 6u);
    const int w = app.width(), h = app.height();
    const std::vector<uint32_t>& full = frames[0];
    rh::testing::SavePicture("RIMEHOLT_FRAME_DIR", std::string("village-") + row.name, w, h, full);
    rh::testing::SavePicture("RIMEHOLT_FRAME_DIR", std::string("village-") + row.name + "-nofog", w, h, frames[3]);
    rh::testing::SavePicture("RIMEHOLT_FRAME_DIR", std::string("village-") + row.name + "-nosnow", w, h, frames[1]);
    EXPECT_EQ(CountDifferentOutsideLabels(full, frames[4], w, h), 0) << "the clock stands still: the same frame again";
    const int snowPixels = CountDifferentOutsideLabels(full, frames[1], w, h);
    const int lampPixels = CountDifferentOutsideLabels(full, frames[2], w, h);
    const int fogPixels = CountDifferent(full, frames[3]);
    const int labelPixels = CountDifferent(frames[4], frames[5]);
    std::printf("%s: snow %d, lamps %d, fog %d, labels %d pixels\n", row.name, snowPixels, lampPixels, fogPixels,
                labelPixels);
    EXPECT_GT(labelPixels, 1000) << "the frame counter and the clock";
    EXPECT_GT(snowPixels, 200) << "snow falls";
    EXPECT_GT(lampPixels, 0) << "lamps shine";
    EXPECT_GT(fogPixels, w * h / 4) << "fog covers the village and the sky";
    const std::string stats = app.statisticsText().Text();
    EXPECT_EQ(stats.rfind("<RAW>tris: ", 0), 0u) << stats;
    EXPECT_EQ(stats.find("tris: 0\n"), std::string::npos) << "the city's triangles are counted: " << stats;
    EXPECT_NE(stats.find("\n   occluded: "), std::string::npos) << stats;
}

INSTANTIATE_TEST_SUITE_P(Rows, VillageTest,
                         ::testing::Values(VillageRow{"light", 0, true}, VillageRow{"normal", 1, true},
                                           VillageRow{"heavy", 2, true}, VillageRow{"noshaders", 1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
