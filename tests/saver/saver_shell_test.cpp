// The saver shell's own rules in this process, offscreen, on the test's clock: where the
// loading screen's pictures go, the fade-out frame by frame, the states a frame leaves on the
// device, which window messages end the run, pictures that fail to load,
// and the fixed display mode that has to fall back.

#include "core/files/file_ref.h"
#include "core/time/clock_source.h"
#include "platform/d3d9/d3d9_testing.h"
#include "platform/win32/win32_testing.h"
#include "render/state_cache.h"
#include "render/texture.h"
#include "saver/saver_app.h"
#include "tests/support/scratch_dir.h"
#include "tools/zwfwrite/zwf_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

uint32_t g_now = 1000;
uint32_t g_step = 5;  // added at every read, so that timed loops and waits run on
std::function<void()> g_onClockRead;
bool g_inClockRead = false;

uint32_t FakeClock() {
    g_now += g_step;
    if (g_onClockRead && !g_inClockRead) {
        g_inClockRead = true;
        g_onClockRead();
        g_inClockRead = false;
    }
    return g_now;
}
uint64_t FakeTimerClock() { return g_now; }

struct Pixel {
    int r, g, b;
};
Pixel Unpack(DWORD p) { return Pixel{int((p >> 16) & 255), int((p >> 8) & 255), int(p & 255)}; }
bool IsBlack(DWORD p) { return (p & 0xFFFFFF) == 0; }

std::vector<DWORD> ReadFrame(int width, int height) {
    std::vector<DWORD> pixels;
    RECT rect{0, 0, width, height};
    EXPECT_TRUE(rh::d3d9::testing::ReadBackBuffer(g_device, rect, &pixels));
    return pixels;
}

// A 30-unit path, enough for the camera to have a time range.
void WriteTestPath(const std::string& path) {
    using rh::zwf::Node;
    Node root = Node::Compound("root");
    for (int i = 0; i < 2; ++i) {
        const float t = i == 0 ? 0.0f : 30.0f;
        rh::zwf::Packer pos;
        pos.Real(t).Real(0.0f).Real(0.0f).Real(-20.0f).Real(0.0f).Real(0).Real(0).Real(0);
        root.AddChild(Node::Leaf("pos" + std::to_string(i), "pos", pos.Take()));
        rh::zwf::Packer rot;
        rot.Real(t).Real(0.0f).Real(0.0f).Real(0.0f).Real(1.0f).Real(0).Real(0).Real(0);
        root.AddChild(Node::Leaf("rot" + std::to_string(i), "rot", rot.Take()));
    }
    std::string error;
    ASSERT_TRUE(rh::zwf::WriteFile(path, root, {}, {}, &error)) << error;
}

// An uncompressed 32-bit TGA, top row first, in four quadrants: red, green / blue, white. The
// quadrants show that the picture is neither flipped nor mirrored.
std::vector<unsigned char> QuadrantTga(int w, int h) {
    std::vector<unsigned char> tga(18, 0);
    tga[2] = 2;
    tga[12] = static_cast<unsigned char>(w & 255);
    tga[13] = static_cast<unsigned char>(w >> 8);
    tga[14] = static_cast<unsigned char>(h & 255);
    tga[15] = static_cast<unsigned char>(h >> 8);
    tga[16] = 32;
    tga[17] = 0x28;  // top-left origin, 8 alpha bits
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const bool right = x >= w / 2, bottom = y >= h / 2;
            DWORD argb = bottom ? (right ? 0xFFFFFFFF : 0xFF0000FF) : (right ? 0xFF00FF00 : 0xFFFF0000);
            tga.push_back(static_cast<unsigned char>(argb));
            tga.push_back(static_cast<unsigned char>(argb >> 8));
            tga.push_back(static_cast<unsigned char>(argb >> 16));
            tga.push_back(static_cast<unsigned char>(argb >> 24));
        }
    }
    return tga;
}

// A quad turns the depth test and depth writes off for itself only.
void ExpectDepthOn() {
    for (const D3DRENDERSTATETYPE s : {D3DRS_ZENABLE, D3DRS_ZWRITEENABLE}) {
        DWORD value = 0;
        g_device->GetRenderState(s, &value);
        EXPECT_EQ(value, 1u) << "render state " << s << " after the quad";
    }
}

class ShellSaver : public SaverApp {
public:
    std::set<int32_t> failingPictures;
    std::function<void(ShellSaver&)> atLoadScene;
    std::function<void(ShellSaver&)> inDrawScene;
    std::function<void(HWND, UINT)> onMessage;

    void ClearQuit() { quit_ = false; }
    bool LoadScene() override {
        if (atLoadScene) atLoadScene(*this);
        return true;
    }
    bool DrawScene() override {
        if (inDrawScene) inDrawScene(*this);
        return true;
    }
    LRESULT MsgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
        const LRESULT result = SaverApp::MsgProc(hwnd, msg, wParam, lParam);
        if (onMessage) onMessage(hwnd, msg);
        return result;
    }

protected:
    // A failing picture is read from the settings script's resource: bytes that are no picture.
    Texture* LoadPicture(int32_t id) override {
        return SaverApp::LoadPicture(failingPictures.count(id) != 0 ? 239 : id);
    }
};

class SaverShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_.Enter();
        setenv("XDG_CONFIG_HOME", scratch_.Path("config").c_str(), 1);
        for (int i = 1; i <= 20; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Media/c%02d.cam", i);
            scratch_.Write(name, "");
            WriteTestPath(scratch_.Path(name));
        }
        g_now = 1000;
        g_step = 5;
        g_onClockRead = nullptr;
        SetClockSource(FakeClock);
        rh::win32::SetTimerClock(FakeTimerClock);
    }
    void TearDown() override {
        g_onClockRead = nullptr;
        SetClockSource(nullptr);
        rh::win32::SetTimerClock(nullptr);
        unsetenv("XDG_CONFIG_HOME");
    }
    void WriteRegistry(const std::string& values) {
        scratch_.Write("config/rimeholt/registry",
                       "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\LARCHMERE Studio\\Glintwold 3D ScreenSaver]\n" +
                           values);
    }

    rh::testing::ScratchDir scratch_{"rh_saver_shell"};
};

// Each placement at 1024 x 768 puts the picture's pixels exactly in its rectangle, upright;
// the fade's quad reaches every edge pixel, the top-left one included.
TEST_F(SaverShellTest, PicturePlacementsAndTheFadeQuad) {
    ShellSaver app;
    ASSERT_TRUE(app.Create(nullptr, SaverMode::FullScreen, 0));
    const Rect render = app.GetRenderRect();
    ASSERT_EQ(render.right, 1024);
    ASSERT_EQ(render.bottom, 768);
    const int W = 1024, H = 768, pw = 64, ph = 32;

    const std::vector<unsigned char> tga = QuadrantTga(pw, ph);
    Texture picture;
    TextureRequest request;
    request.locator = FileRef::Memory(tga.data(), static_cast<int32_t>(tga.size()), false);
    ASSERT_TRUE(picture.Load(request));
    ASSERT_EQ(picture.GetImageInfo().Width, static_cast<UINT>(pw));

    struct Case {
        int placement;
        int left, top, right, bottom;
    };
    const Case cases[] = {
        {4, 0, H - ph, pw, H},
        {5, 0, 0, pw, ph},
        {6, W - pw, 0, W, ph},
        {2, W - pw, H - ph, W, H},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("placement " + std::to_string(c.placement));
        ASSERT_EQ(g_device->BeginScene(), D3D_OK);
        // Depth at its nearest: the quad is drawn whatever the depth buffer holds.
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.0f, 0);
        app.DrawPicture(&picture, 1.0f, c.placement);
        ExpectDepthOn();
        g_device->EndScene();
        const std::vector<DWORD> frame = ReadFrame(W, H);
        int left = W, top = H, right = -1, bottom = -1, lit = 0;
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                if (IsBlack(frame[y * W + x])) continue;
                ++lit;
                left = std::min(left, x);
                top = std::min(top, y);
                right = std::max(right, x + 1);
                bottom = std::max(bottom, y + 1);
            }
        }
        EXPECT_EQ(left, c.left);
        EXPECT_EQ(top, c.top);
        EXPECT_EQ(right, c.right);
        EXPECT_EQ(bottom, c.bottom);
        EXPECT_EQ(lit, pw * ph);
        // The middle of each quadrant.
        const Pixel tl = Unpack(frame[(c.top + ph / 4) * W + c.left + pw / 4]);
        const Pixel tr = Unpack(frame[(c.top + ph / 4) * W + c.left + 3 * pw / 4]);
        const Pixel bl = Unpack(frame[(c.top + 3 * ph / 4) * W + c.left + pw / 4]);
        const Pixel br = Unpack(frame[(c.top + 3 * ph / 4) * W + c.left + 3 * pw / 4]);
        EXPECT_TRUE(tl.r > 200 && tl.g < 50 && tl.b < 50) << "red at the top left";
        EXPECT_TRUE(tr.g > 200 && tr.r < 50 && tr.b < 50) << "green at the top right";
        EXPECT_TRUE(bl.b > 200 && bl.r < 50 && bl.g < 50) << "blue at the bottom left";
        EXPECT_TRUE(br.r > 200 && br.g > 200 && br.b > 200) << "white at the bottom right";
    }

    // The fade over a grey screen: opacity 1 leaves every pixel black, 0.5 halves every one.
    for (const float opacity : {1.0f, 0.5f}) {
        SCOPED_TRACE("fade " + std::to_string(opacity));
        ASSERT_EQ(g_device->BeginScene(), D3D_OK);
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFC8C8C8, 0.0f, 0);
        app.DrawFade(opacity);
        ExpectDepthOn();
        g_device->EndScene();
        const std::vector<DWORD> frame = ReadFrame(W, H);
        int off = 0;
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                if (std::abs(Unpack(frame[y * W + x]).r - 200.0f * (1.0f - opacity)) > 3) ++off;
            }
        }
        EXPECT_EQ(off, 0);
        EXPECT_NEAR(Unpack(frame[0]).g, 200.0f * (1.0f - opacity), 3) << "the top-left pixel";
    }
}

// The loading screen's fade-out on the test clock, 25 ms a reading: one frame at each of 25,
// 50, ... 175 ms with opacity 1 - elapsed x 0.005, none at 200 ms or after.
TEST_F(SaverShellTest, LoadingScreenFadeFrameByFrame) {
    ShellSaver app;
    Pixel full{0, 0, 0};
    int probeX = 0, probeY = 0, width = 0, height = 0;
    std::vector<Pixel> shown;  // what the back buffer held at each clock reading during the fade
    app.atLoadScene = [&](ShellSaver& saver) {
        const Rect render = saver.GetRenderRect();
        width = render.right;
        height = render.bottom;
        // A bright part of the picture, away from the corner pictures.
        const std::vector<DWORD> frame = ReadFrame(width, height);
        for (int y = height / 2; y < height && full.b + full.r + full.g < 200; y += 7) {
            for (int x = width / 4; x < width / 2; x += 5) {
                const Pixel p = Unpack(frame[y * width + x]);
                if (p.r + p.g + p.b > full.r + full.g + full.b) {
                    full = p;
                    probeX = x;
                    probeY = y;
                }
            }
        }
        g_step = 25;
        g_onClockRead = [&] {
            std::vector<DWORD> pixel;
            RECT rect{probeX, probeY, probeX + 1, probeY + 1};
            if (rh::d3d9::testing::ReadBackBuffer(g_device, rect, &pixel)) shown.push_back(Unpack(pixel[0]));
        };
    };
    ASSERT_TRUE(app.Create(nullptr, SaverMode::FullScreen, 0));
    g_onClockRead = nullptr;
    const int brightest = std::max(full.r, std::max(full.g, full.b));
    ASSERT_GT(brightest, 100) << "a bright probe pixel";
    auto channel = [&](const Pixel& p) { return brightest == full.r ? p.r : brightest == full.g ? p.g : p.b; };

    // Successive readings of one frame are the same; the full-opacity frame comes first.
    std::vector<int> frames;
    for (const Pixel& p : shown) {
        const int v = channel(p);
        if (v == brightest && frames.empty()) continue;
        if (frames.empty() || frames.back() != v) frames.push_back(v);
    }
    std::vector<float> expected;
    for (int elapsed = 25; elapsed < 200; elapsed += 25) expected.push_back(1.0f - elapsed * 0.005f);
    ASSERT_EQ(frames.size(), expected.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_NEAR(frames[i], brightest * expected[i], 3) << "frame " << i;
    }
    EXPECT_EQ(app.loadingPicture(), nullptr) << "released after the fade";
}

// The states a frame sets before the scene draws, read from the device, after another user
// of the device left every one of them otherwise; fill mode and depth also after the frame.
TEST_F(SaverShellTest, FrameSetsItsStates) {
    ShellSaver app;
    ASSERT_TRUE(app.Create(nullptr, SaverMode::FullScreen, 0));
    struct Case {
        bool fog;
        float fogStart, fogEnd;
        DWORD ambient, fogColor;
    };
    const Case cases[] = {{true, 12.5f, 99.0f, 0xFF102030, 0xFF405060}, {false, 0.0f, 1.0f, 0xFFA0B0C0, 0xFF000000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fog ? "fog on" : "fog off");
        app.fogEnable = c.fog;
        app.fogStart = c.fogStart;
        app.fogEnd = c.fogEnd;
        app.ambient = ArgbColor(c.ambient);
        app.fogColor = ArgbColor(c.fogColor);
        // Someone else's values, past the cache.
        g_device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
        g_device->SetRenderState(D3DRS_ZENABLE, 0);
        g_device->SetRenderState(D3DRS_ZWRITEENABLE, 0);
        g_device->SetRenderState(D3DRS_FOGENABLE, c.fog ? 0 : 1);
        g_device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_EXP);
        g_device->SetRenderState(D3DRS_RANGEFOGENABLE, 0);
        g_device->SetRenderState(D3DRS_AMBIENT, 0);
        g_device->SetRenderState(D3DRS_FOGCOLOR, 0xFFFFFFFF);
        g_device->SetRenderState(D3DRS_FOGSTART, 0);
        g_device->SetRenderState(D3DRS_FOGEND, 0);
        for (const D3DSAMPLERSTATETYPE s : {D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER, D3DSAMP_MAGFILTER}) {
            g_device->SetSamplerState(0, s, D3DTEXF_POINT);
        }
        InvalidateStateCache();

        DWORD startBits = 0, endBits = 0;
        std::memcpy(&startBits, &c.fogStart, 4);
        std::memcpy(&endBits, &c.fogEnd, 4);
        const struct {
            D3DRENDERSTATETYPE state;
            DWORD value;
        } renderStates[] = {
            {D3DRS_FILLMODE, D3DFILL_SOLID},
            {D3DRS_ZENABLE, 1},
            {D3DRS_AMBIENT, c.ambient},
            {D3DRS_FOGENABLE, c.fog ? 1u : 0u},
            {D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR},
            {D3DRS_FOGCOLOR, c.fogColor},
            {D3DRS_FOGSTART, startBits},
            {D3DRS_FOGEND, endBits},
            {D3DRS_RANGEFOGENABLE, 1},
        };
        int checked = 0;
        app.inDrawScene = [&](ShellSaver&) {
            for (const auto& r : renderStates) {
                DWORD value = 0xDEADBEEF;
                EXPECT_EQ(g_device->GetRenderState(r.state, &value), D3D_OK);
                EXPECT_EQ(value, r.value) << "render state " << r.state;
            }
            for (const D3DSAMPLERSTATETYPE s : {D3DSAMP_MINFILTER, D3DSAMP_MIPFILTER, D3DSAMP_MAGFILTER}) {
                DWORD value = 0;
                EXPECT_EQ(g_device->GetSamplerState(0, s, &value), D3D_OK);
                EXPECT_EQ(value, static_cast<DWORD>(D3DTEXF_LINEAR)) << "sampler state " << s;
            }
            ++checked;
        };
        ASSERT_TRUE(app.RenderFrame());
        EXPECT_EQ(checked, 1);
        app.inDrawScene = nullptr;
        // The path's fade was drawn this frame (path time 0); depth is back on after its quad.
        for (const D3DRENDERSTATETYPE s : {D3DRS_FILLMODE, D3DRS_ZENABLE, D3DRS_ZWRITEENABLE}) {
            DWORD value = 0;
            g_device->GetRenderState(s, &value);
            EXPECT_EQ(value, s == D3DRS_FILLMODE ? static_cast<DWORD>(D3DFILL_SOLID) : 1u) << "after the frame: " << s;
        }
    }
}

// Which window messages end the run, posted to the saver's window and dispatched as the main
// loop does.
TEST_F(SaverShellTest, QuitRules) {
    ShellSaver app;
    ASSERT_TRUE(app.Create(nullptr, SaverMode::FullScreen, 0));
    struct Case {
        const char* what;
        UINT msg;
        WPARAM wParam;
        bool quits;
    };
    const Case cases[] = {
        {"SC_NEXTWINDOW", WM_SYSCOMMAND, SC_NEXTWINDOW, true},
        {"SC_PREVWINDOW", WM_SYSCOMMAND, SC_PREVWINDOW, true},
        {"SC_CLOSE", WM_SYSCOMMAND, SC_CLOSE, true},
        {"SC_NEXTWINDOW with the low bits set", WM_SYSCOMMAND, SC_NEXTWINDOW | 0x3, true},
        {"SC_SCREENSAVE", WM_SYSCOMMAND, SC_SCREENSAVE, false},
        {"Alt", WM_SYSKEYDOWN, VK_MENU, true},
        {"F10", WM_SYSKEYDOWN, VK_F10, true},
        {"Alt+F3", WM_SYSKEYDOWN, VK_F3, false},
        {"a letter", WM_KEYDOWN, 'A', true},
        {"F2", WM_KEYDOWN, VK_F2, false},
        {"F6", WM_KEYDOWN, VK_F6, false},
        {"WM_CLOSE", WM_CLOSE, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        app.ClearQuit();
        ASSERT_TRUE(PostMessageA(app.window(), c.msg, c.wParam, 0));
        MSG msg;
        int dispatched = 0;
        while (PeekMessageA(&msg, app.window(), 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            ++dispatched;
        }
        EXPECT_GE(dispatched, 1);
        EXPECT_EQ(app.QuitRequested(), c.quits);
    }
    app.ClearQuit();
    EXPECT_EQ(SendMessageA(app.window(), WM_SYSCOMMAND, SC_SCREENSAVE, 0), 0) << "swallowed";
    EXPECT_FALSE(app.QuitRequested());
}

// The loading picture and a corner picture that do not load are left out of the loading
// screen, with one warning each; the others show and the start-up goes on.
TEST_F(SaverShellTest, PictureThatFailsToLoadIsSkipped) {
    ShellSaver app;
    app.failingPictures = {224, 232};
    bool checked = false;
    app.atLoadScene = [&](ShellSaver& saver) {
        EXPECT_EQ(saver.loadingPicture(), nullptr);
        EXPECT_NE(saver.cornerPicture(0), nullptr);
        EXPECT_EQ(saver.cornerPicture(1), nullptr);
        EXPECT_NE(saver.cornerPicture(2), nullptr);
        ASSERT_NE(saver.cornerPicture(3), nullptr);
        // Black but for the title at the bottom right.
        const Rect render = saver.GetRenderRect();
        const int w = render.right, h = render.bottom;
        const std::vector<DWORD> frame = ReadFrame(w, h);
        int title = 0, elsewhere = 0;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                if (IsBlack(frame[y * w + x])) continue;
                (x >= w - 256 && y >= h - 128 ? title : elsewhere)++;
            }
        }
        EXPECT_GT(title, 1000);
        EXPECT_EQ(elsewhere, 0);
        checked = true;
    };
    ::testing::internal::CaptureStderr();
    const bool created = app.Create(nullptr, SaverMode::FullScreen, 0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(created) << err;
    EXPECT_TRUE(checked);
    int warnings = 0;
    for (size_t at = err.find("could not be loaded"); at != std::string::npos;
         at = err.find("could not be loaded", at + 1)) {
        ++warnings;
    }
    EXPECT_EQ(warnings, 2) << err;
    EXPECT_TRUE(app.RenderFrame()) << "the run draws";
}

// A fixed mode the display does not offer (headless there is only the desktop's) matches no
// request; the device is then made in the mode the framework chose, and the start-up goes on.
TEST_F(SaverShellTest, FixedModeThatIsNotOfferedStartsInTheDesktopMode) {
    WriteRegistry("\"UseDesktop\"=dword:00000000\n\"Width\"=dword:00000320\n\"Height\"=dword:00000258\n");
    ShellSaver app;
    ASSERT_TRUE(app.Create(nullptr, SaverMode::FullScreen, 0));
    EXPECT_FALSE(app.settings().useDesktop);
    EXPECT_EQ(app.settings().width, 800);
    ASSERT_NE(g_device, nullptr);
    const Rect render = app.GetRenderRect();
    EXPECT_EQ(render.right, static_cast<int>(g_desktopMode.Width));
    EXPECT_EQ(render.bottom, static_cast<int>(g_desktopMode.Height));
    EXPECT_FLOAT_EQ(app.guiScale(), static_cast<float>(render.right) / 1024.0f);
    EXPECT_TRUE(app.RenderFrame());
}

}  // namespace
