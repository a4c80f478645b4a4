// The saver application in this process, offscreen, with the engine clock driven by the test:
// start-up in full-screen mode from the built-in settings and a test camera path, the loading
// screen, the path's fades and its replay, a device loss in the middle of the run, and the
// keep-awake key press. A test subclass draws a marker at the world's origin so the camera's
// motion shows in the read-back frames.

#include "core/time/clock_source.h"
#include "platform/d3d9/d3d9_testing.h"
#include "render/input_manager.h"
#include "render/state_cache.h"
#include "render/texture.h"
#include "saver/saver_app.h"
#include "tests/support/scratch_dir.h"
#include "tools/zwfwrite/zwf_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

uint32_t g_now = 1000;
uint32_t g_step = 0;  // added at every read: lets start-up's timed loops run on
uint32_t FakeClock() {
    g_now += g_step;
    return g_now;
}

struct Pixel {
    int r, g, b;
};
Pixel Unpack(DWORD p) { return Pixel{int((p >> 16) & 255), int((p >> 8) & 255), int(p & 255)}; }

void WritePng(const std::vector<DWORD>& pixels, int width, int height, const std::string& path) {
    const std::string ppm = path + ".ppm";
    FILE* file = std::fopen(ppm.c_str(), "wb");
    if (file == nullptr) return;
    std::fprintf(file, "P6\n%d %d\n255\n", width, height);
    for (DWORD p : pixels) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 8),
                                      static_cast<unsigned char>(p)};
        std::fwrite(rgb, 1, 3, file);
    }
    std::fclose(file);
    const std::string command = "convert '" + ppm + "' '" + path + "' && rm '" + ppm + "'";
    if (std::system(command.c_str()) != 0) ADD_FAILURE() << "convert failed for " << path;
}

std::vector<DWORD> ReadFrame(int width, int height) {
    std::vector<DWORD> pixels;
    RECT rect{0, 0, width, height};
    EXPECT_TRUE(rh::d3d9::testing::ReadBackBuffer(g_device, rect, &pixels));
    return pixels;
}

// A path of 30 units (3 s) sliding the camera from x = 0 to x = 12, looking along +z at the
// origin from 20 units away.
void WriteTestPath(const std::string& path) {
    using rh::zwf::Node;
    Node root = Node::Compound("root");
    const float times[2] = {0.0f, 30.0f};
    const float xs[2] = {0.0f, 12.0f};
    for (int i = 0; i < 2; ++i) {
        rh::zwf::Packer pos;
        pos.Real(times[i]).Real(xs[i]).Real(0.0f).Real(-20.0f).Real(0.0f).Real(0).Real(0).Real(0);
        root.AddChild(Node::Leaf("pos" + std::to_string(i), "pos", pos.Take()));
        rh::zwf::Packer rot;
        rot.Real(times[i]).Real(0.0f).Real(0.0f).Real(0.0f).Real(1.0f).Real(0).Real(0).Real(0);
        root.AddChild(Node::Leaf("rot" + std::to_string(i), "rot", rot.Take()));
    }
    std::string error;
    ASSERT_TRUE(rh::zwf::WriteFile(path, root, {}, {}, &error)) << error;
}

// What the test saver saw of the frame drawn in the pass before.
struct FrameRecord {
    int frame;
    float pathTime;
    Pixel corner;    // far from the marker: clear colour and fade only
    int markerX;     // the marker's left edge, -1 when none was seen on the middle row
};

class MarkerSaver : public SaverApp {
public:
    int maxFrames = 60;
    int frames = 0;
    int width = 0, height = 0;
    std::vector<FrameRecord> records;
    std::function<void(MarkerSaver&)> atLoadScene;
    std::function<void(MarkerSaver&)> eachPass;

    bool LoadScene() override {
        if (atLoadScene) atLoadScene(*this);
        return true;
    }

    bool UpdateScene() override {
        const Rect render = GetRenderRect();
        width = render.right;
        height = render.bottom;
        if (frames == 0) {
            // From here on each pass is 100 ms: one path unit.
            g_step = 0;
            pathClock_.Reset();
        } else {
            std::vector<DWORD> frame = ReadFrame(width, height);
            FrameRecord record{frames, pathTime(), Unpack(frame[20 * width + width - 20]), -1};
            const int row = height / 2;
            for (int x = 0; x < width; ++x) {
                const Pixel p = Unpack(frame[row * width + x]);
                if (p.g > p.r + 60 && p.g > p.b + 60) {
                    record.markerX = x;
                    break;
                }
            }
            records.push_back(record);
        }
        if (eachPass) eachPass(*this);
        ++frames;
        g_now += 100;
        if (frames >= maxFrames) quit_ = true;
        return true;
    }

    // A green square at the projection of the world's origin.
    bool DrawScene() override {
        const TypedMatrix vp = cameraView().GetViewProjectionMatrix();
        const float x = vp.At(3, 0), y = vp.At(3, 1), w = vp.At(3, 3);
        if (w <= 0.0f) return true;
        const float sx = (x / w * 0.5f + 0.5f) * width;
        const float sy = (0.5f - y / w * 0.5f) * height;
        struct V {
            float x, y, z, rhw;
            DWORD color;
        };
        const DWORD green = 0xFF00FF00;
        const V quad[6] = {{sx - 20, sy - 20, 0.5f, 1, green}, {sx + 20, sy - 20, 0.5f, 1, green},
                           {sx + 20, sy + 20, 0.5f, 1, green}, {sx - 20, sy - 20, 0.5f, 1, green},
                           {sx + 20, sy + 20, 0.5f, 1, green}, {sx - 20, sy + 20, 0.5f, 1, green}};
        IDirect3DDevice9* device = Device();
        device->SetTexture(0, nullptr);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        device->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        // Pre-transformed vertices carry no fog factor: with fog on they would be all fog.
        device->SetRenderState(D3DRS_FOGENABLE, FALSE);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
        device->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
        IDirect3DVertexBuffer9* buffer = nullptr;
        if (device->CreateVertexBuffer(sizeof quad, 0, D3DFVF_XYZRHW | D3DFVF_DIFFUSE, D3DPOOL_MANAGED, &buffer,
                                       nullptr) == D3D_OK) {
            void* data = nullptr;
            if (buffer->Lock(0, 0, &data, 0) == D3D_OK) {
                std::memcpy(data, quad, sizeof quad);
                buffer->Unlock();
                device->SetStreamSource(0, buffer, 0, sizeof(V));
                device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 2);
                device->SetStreamSource(0, nullptr, 0, 0);
            }
            buffer->Release();
        }
        // The state cache no longer knows what the device holds.
        InvalidateStateCache();
        return true;
    }
};

class SaverAppTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_.Enter();
        setenv("XDG_CONFIG_HOME", scratch_.Path("config").c_str(), 1);
        // Every path the built-in settings name is the test path.
        for (int i = 1; i <= 20; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Media/c%02d.cam", i);
            scratch_.Write(name, "");
            WriteTestPath(scratch_.Path(name));
        }
        g_now = 1000;
        g_step = 5;
        SetClockSource(FakeClock);
    }
    void TearDown() override {
        SetClockSource(nullptr);
        unsetenv("XDG_CONFIG_HOME");
    }
    // The registry file with these value lines under the built-in key.
    void WriteRegistry(const std::string& values) {
        scratch_.Write("config/rimeholt/registry",
                       "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\LARCHMERE Studio\\Glintwold 3D ScreenSaver]\n" +
                           values);
    }

    rh::testing::ScratchDir scratch_{"rh_saver_app"};
};

float ExpectedFade(float t, float end) {
    float opacity = 0.0f;
    return PathFadeOpacity(t, end, &opacity) ? opacity : 0.0f;
}

TEST_F(SaverAppTest, StartsShowsTheLoadingScreenFadesAndReplaysThePath) {
    WriteRegistry("\"ShowFps\"=dword:00000001\n");
    MarkerSaver app;
    app.maxFrames = 45;
    bool loadingChecked = false;
    app.atLoadScene = [&](MarkerSaver& saver) {
        // The pictures through the engine: their sizes as the resources hold them.
        ASSERT_NE(saver.loadingPicture(), nullptr);
        EXPECT_EQ(saver.loadingPicture()->GetImageInfo().Width, 1024u);
        EXPECT_EQ(saver.loadingPicture()->GetImageInfo().Height, 768u);
        for (int i = 0; i < 3; ++i) {
            ASSERT_NE(saver.cornerPicture(i), nullptr);
            EXPECT_EQ(saver.cornerPicture(i)->GetImageInfo().Width, 1u);
            EXPECT_EQ(saver.cornerPicture(i)->GetImageInfo().Height, 1u);
        }
        ASSERT_NE(saver.cornerPicture(3), nullptr);
        EXPECT_EQ(saver.cornerPicture(3)->GetImageInfo().Width, 256u);
        EXPECT_EQ(saver.cornerPicture(3)->GetImageInfo().Height, 128u);

        const Rect render = saver.GetRenderRect();
        const int w = render.right, h = render.bottom;
        std::vector<DWORD> full = ReadFrame(w, h);
        WritePng(full, w, h, std::string(RH_SCREENSHOT_DIR) + "/saver_loading_screen.png");
        // The picture alone, without its corners.
        ASSERT_EQ(g_device->BeginScene(), D3D_OK);
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        saver.DrawPicture(saver.loadingPicture(), 1.0f, 1);
        g_device->EndScene();
        std::vector<DWORD> bare = ReadFrame(w, h);
        int titlePixels = 0, otherDifferences = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                if (full[y * w + x] == bare[y * w + x]) continue;
                if (x >= w - 256 && y >= h - 128) {
                    ++titlePixels;
                } else {
                    ++otherDifferences;
                }
            }
        }
        EXPECT_GT(titlePixels, 1000) << "the title is drawn in the bottom-right 256 x 128";
        EXPECT_EQ(otherDifferences, 0) << "the transparent corners change nothing";
        const Pixel sky = Unpack(bare[10 * w + 10]);
        EXPECT_GT(sky.b, sky.r) << "the night sky at the top";

        // Half way through the fade-out each pixel is half as bright.
        saver.DrawLoadingScreen(saver.loadingPicture(), 0.5f, 1);
        std::vector<DWORD> half = ReadFrame(w, h);
        WritePng(half, w, h, std::string(RH_SCREENSHOT_DIR) + "/saver_loading_fade.png");
        for (const POINT p : {POINT{10, 10}, POINT{512, 700}, POINT{100, 600}}) {
            const Pixel a = Unpack(bare[p.y * w + p.x]);
            const Pixel b = Unpack(half[p.y * w + p.x]);
            EXPECT_NEAR(b.r, a.r / 2.0, 3) << p.x << "," << p.y;
            EXPECT_NEAR(b.b, a.b / 2.0, 3) << p.x << "," << p.y;
        }
        loadingChecked = true;
    };
    std::vector<DWORD> fadeFrame;
    app.eachPass = [&](MarkerSaver& saver) {
        if (std::fabs(saver.pathTime() - 5.0f) < 0.001f && fadeFrame.empty()) {
            fadeFrame = ReadFrame(saver.width, saver.height);
        }
    };
    ASSERT_TRUE(app.Create(nullptr, SaverMode::FullScreen, 0));
    EXPECT_TRUE(loadingChecked);
    EXPECT_EQ(app.loadingPicture(), nullptr) << "the pictures are released after the fade";
    EXPECT_EQ(app.remainingPaths().count(), 20);
    EXPECT_TRUE(app.settings().showFps) << "the registry's value";
    EXPECT_FALSE(app.settings().exitOnMouseMove) << "the built-in script's value";
    EXPECT_EQ(app.Run(), 1);

    ASSERT_FALSE(fadeFrame.empty());
    WritePng(fadeFrame, app.width, app.height, std::string(RH_SCREENSHOT_DIR) + "/saver_path_fade.png");

    // The built-in clear colour 120, 120, 150, under the black quad of the path's fades.
    const Pixel clear{120, 120, 150};
    bool sawStart = false, sawHalf = false, sawClear = false, sawEnd = false;
    int markerAt12 = -1, markerAt18 = -1;
    for (const FrameRecord& r : app.records) {
        SCOPED_TRACE("frame " + std::to_string(r.frame) + ", path time " + std::to_string(r.pathTime));
        const float opacity = ExpectedFade(r.pathTime, 30.0f);
        EXPECT_NEAR(r.corner.r, clear.r * (1.0f - opacity), 3);
        EXPECT_NEAR(r.corner.b, clear.b * (1.0f - opacity), 3);
        sawStart = sawStart || r.pathTime == 0.0f;
        sawHalf = sawHalf || r.pathTime == 5.0f || r.pathTime == 25.0f;
        sawClear = sawClear || (r.pathTime >= 10.0f && r.pathTime <= 20.0f);
        sawEnd = sawEnd || r.pathTime == 30.0f;
        if (r.pathTime == 12.0f) markerAt12 = r.markerX;
        if (r.pathTime == 18.0f) markerAt18 = r.markerX;
    }
    EXPECT_TRUE(sawStart && sawHalf && sawClear && sawEnd) << "the path replayed from 0 after its end";
    ASSERT_GE(markerAt12, 0);
    ASSERT_GE(markerAt18, 0);
    EXPECT_LT(markerAt18, markerAt12) << "the camera moves right, so the origin moves left";
    EXPECT_STREQ(app.fpsText().Text(), "10") << "ten passes a second";
    SYSTEMTIME now;
    GetLocalTime(&now);
    String clock, suffix;
    ClockTexts(now, false, &clock, &suffix);
    EXPECT_STREQ(app.amPmText().Text(), suffix.Text());
}

// The frame counter at the top left and the clock at the bottom right, drawn over the scene with
// the baked fonts from the media archive; the 12-hour clock has its am/pm label beside it.
TEST_F(SaverAppTest, LabelsShowTheCounterAndTheClock) {
    struct Case {
        const char* registry;
        bool fps, clock, amPm;
        int clockWidth;  // at 1024 pixels across
    };
    const Case cases[] = {
        {"\"ShowFps\"=dword:00000001\n", true, true, true, 400},
        {"\"ShowFps\"=dword:00000000\n\"TimeStyle\"=dword:00000001\n", false, true, false, 300},
        {"\"ShowFps\"=dword:00000001\n\"ShowTime\"=dword:00000000\n", true, false, false, 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.registry);
        WriteRegistry(c.registry);
        g_step = 5;  // the last run's passes stopped the clock
        MarkerSaver app;
        app.maxFrames = 16;
        std::vector<DWORD> frame;
        app.eachPass = [&](MarkerSaver& saver) {
            // Path time 14: no fade, the clear colour everywhere but the marker and the labels.
            if (saver.frames == 15) frame = ReadFrame(saver.width, saver.height);
        };
        ASSERT_TRUE(app.Create(nullptr, SaverMode::FullScreen, 0));
        EXPECT_EQ(app.Run(), 1);
        const int w = app.width, h = app.height;
        ASSERT_EQ(frame.size(), static_cast<size_t>(w * h));
        const float scale = static_cast<float>(w) / 1024.0f;
        const RECT counter{10, 10, 266, 138};
        const RECT corner{w - static_cast<int>(static_cast<float>(c.clockWidth) * scale), h - static_cast<int>(74 * scale), w, h};
        int counterInk = 0, cornerInk = 0, strayInk = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const Pixel p = Unpack(frame[y * w + x]);
                if (std::abs(p.r - 120) <= 2 && std::abs(p.g - 120) <= 2 && std::abs(p.b - 150) <= 2) continue;
                if (p.g > p.r + 60 && p.g > p.b + 60) continue;  // the marker
                if (x >= counter.left && x < counter.right && y >= counter.top && y < counter.bottom) {
                    ++counterInk;
                } else if (x >= corner.left && y >= corner.top) {
                    ++cornerInk;
                } else {
                    ++strayInk;
                }
            }
        }
        if (c.fps && c.clock) {
            WritePng(frame, w, h, std::string(RH_SCREENSHOT_DIR) + "/saver_labels.png");
        }
        EXPECT_EQ(counterInk > 200, c.fps) << counterInk;
        EXPECT_EQ(cornerInk > 1000, c.clock) << cornerInk;
        EXPECT_EQ(strayInk, 0);
        if (c.fps) {
            ASSERT_EQ(app.fpsLabel().glyphRows().size(), 1u);
            EXPECT_EQ(app.fpsLabel().glyphRows()[0].size(), static_cast<size_t>(app.fpsText().length()));
        }
        if (c.clock) {
            // The box at the corner; every character of the text inside it.
            EXPECT_EQ(app.clockLabel().GetSize().x, corner.right - corner.left);
            ASSERT_EQ(app.clockLabel().glyphRows().size(), 1u);
            EXPECT_EQ(app.clockLabel().glyphRows()[0].size(), static_cast<size_t>(app.clockText().length()));
            EXPECT_EQ(app.amPmLabel().IsShown(), c.amPm);
        }
        if (c.amPm) {
            ASSERT_EQ(app.amPmLabel().glyphRows().size(), 1u);
            EXPECT_EQ(app.amPmLabel().glyphRows()[0].size(), 2u);
            EXPECT_GE(app.amPmLabel().glyphRows()[0].front().left, w - static_cast<int>(100 * scale));
        }
    }
}

// A label font that does not load ends the start-up with one error line that names it (a disk
// file shadows the archive's member; this one names a charset that exists nowhere).
TEST_F(SaverAppTest, MissingFontEndsTheStartUpWithOneLine) {
    scratch_.Write("Media/Fonts/sylfaen.fs", "Styles[0].Size = 14;\nStyles[0].Charsets = array(\"gone.css\");\n");
    MarkerSaver app;
    ::testing::internal::CaptureStderr();
    const bool created = app.Create(nullptr, SaverMode::FullScreen, 0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(created);
    EXPECT_NE(err.find("rimeholt: error: the font Media/Fonts/sylfaen.fs could not be loaded"), std::string::npos)
        << err;
    int errors = 0;
    for (size_t at = err.find("error:"); at != std::string::npos; at = err.find("error:", at + 1)) ++errors;
    EXPECT_EQ(errors, 1) << err;
}

// A device lost during the run: its frames have no effect, the run goes on, and after the reset
// the frames are drawn as before.
TEST_F(SaverAppTest, DeviceLossDuringTheRun) {
    MarkerSaver app;
    app.maxFrames = 24;
    app.eachPass = [](MarkerSaver& saver) {
        if (saver.frames == 12) rh::d3d9::testing::ForceDeviceLoss(g_device, true);
        if (saver.frames == 15) rh::d3d9::testing::ForceDeviceLoss(g_device, false);
    };
    ASSERT_TRUE(app.Create(nullptr, SaverMode::FullScreen, 0));
    EXPECT_EQ(app.Run(), 1);
    ASSERT_EQ(app.frames, 24);
    int checked = 0;
    for (const FrameRecord& r : app.records) {
        if (r.frame < 18) continue;  // well after the reset
        SCOPED_TRACE(r.frame);
        const float opacity = ExpectedFade(r.pathTime, 30.0f);
        EXPECT_NEAR(r.corner.r, 120 * (1.0f - opacity), 3);
        EXPECT_GE(r.markerX, 0) << "the scene is drawn again";
        ++checked;
    }
    EXPECT_GT(checked, 3);
}

// Every 30 s the saver presses F3 and lets it go: the window and the input devices see it, the
// run goes on, and no key is left down.
TEST_F(SaverAppTest, KeepAwakePressEndsNothing) {
    MarkerSaver app;
    app.maxFrames = 305;
    bool keyUpSeen = false;
    ASSERT_TRUE(app.Create(nullptr, SaverMode::FullScreen, 0));
    app.eachPass = [&](MarkerSaver& saver) {
        if (saver.frames == 302) keyUpSeen = !saver.input().IsKeyDown(0x3D);
    };
    EXPECT_EQ(app.Run(), 1);
    EXPECT_EQ(app.frames, 305) << "the F3 press did not end the run";
    EXPECT_TRUE(keyUpSeen) << "F3 is up again";
}

}  // namespace
