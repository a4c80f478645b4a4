// The framework on the real layer: a window over SDL2, Direct3D 9 over OpenGL. An application
// with two device resources and a message listener opens a full-screen device the way the saver
// does (a desktop-mode request and a fixed 800x600 request, each retried without the
// multisample flag when the device is refused), clears to a colour every frame (read back),
// survives a forced device loss and reset, and ends cleanly. Runs offscreen; the second suite
// does the same on a real X display when one is there.
#include "render/app_framework.h"

#include "platform/d3d9/d3d9_testing.h"
#include "platform/log/log_testing.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Log = std::vector<std::string>;

class NamedResource : public DeviceResource {
public:
    NamedResource(const char* name, Log& log) : name_(name), log_(log) { RegisterDeviceResource(this); }
    bool OnDeviceRestore() override {
        log_.push_back(std::string("restore ") + name_);
        return true;
    }
    bool OnDeviceLost() override {
        log_.push_back(std::string("lost ") + name_);
        return true;
    }

private:
    const char* name_;
    Log& log_;
};

class CountingListener : public MessageListener {
public:
    LRESULT OnWindowMessage(HWND, UINT msg, WPARAM, LPARAM) override {
        ++messages;
        if (msg == WM_CLOSE) sawClose = true;
        return 0;
    }
    int messages = 0;
    bool sawClose = false;
};

class DemoApp;
DemoApp* g_demo = nullptr;

LRESULT CALLBACK DemoWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

class DemoApp : public AppFramework {
public:
    DemoApp() { g_demo = this; }
    ~DemoApp() override {
        ReleaseDevice();
        if (hwnd_ != nullptr) DestroyWindow(hwnd_);
        UnregisterClassA("FrameworkDemo", nullptr);
        g_demo = nullptr;
    }

    // The saver's window: a visible popup at the origin.
    bool MakeWindow(int width, int height) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DemoWindowProc;
        wc.lpszClassName = "FrameworkDemo";
        RegisterClassA(&wc);
        hwnd_ = CreateWindowExA(0, wc.lpszClassName, "demo", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                                nullptr, nullptr, nullptr);
        return hwnd_ != nullptr;
    }

    // The saver's choice: request A is stored when it matches (the desktop request falls back
    // to 800x600 first); otherwise the fullscreen slot Create filled stays. When the device is
    // refused, the looser request B (A's first form without the multisample flag) is stored and
    // tried.
    bool OpenFullscreen(DeviceSettings a, bool desktop) {
        DeviceSettings b = a;
        b.matchFlags &= ~kMatchMultiSample;
        DeviceSettings found = a;
        bool matched = Enumeration().FindBestSettings(found);
        if (!matched && desktop) {
            a.matchFlags = kMatchMultiSample | kMatchSize;
            a.displayMode.Width = 800;
            a.displayMode.Height = 600;
            found = a;
            matched = Enumeration().FindBestSettings(found);
        }
        if (matched) SetDeviceSettings(found);
        if (RecreateDevice(true)) return true;
        usedLooserRequest = true;
        found = b;
        if (!Enumeration().FindBestSettings(found)) return false;
        SetDeviceSettings(found);
        return RecreateDevice(true);
    }

    HWND window() const { return hwnd_; }
    bool usedLooserRequest = false;

private:
    HWND hwnd_ = nullptr;
};

LRESULT CALLBACK DemoWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (g_demo != nullptr) return g_demo->MsgProc(hwnd, msg, wParam, lParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

struct Rgb {
    int r, g, b;
};

// The average colour of a block around the back buffer's centre, read before Present (a
// discarded back buffer is undefined afterwards).
Rgb CentreColour(int width, int height) {
    constexpr int kBlock = 32;
    const RECT block{width / 2 - kBlock / 2, height / 2 - kBlock / 2, width / 2 + kBlock / 2, height / 2 + kBlock / 2};
    std::vector<DWORD> pixels;
    if (!rh::d3d9::testing::ReadBackBuffer(g_device, block, &pixels) || pixels.size() != kBlock * kBlock) {
        ADD_FAILURE() << "the back buffer cannot be read";
        return {-1, -1, -1};
    }
    long sum[3] = {0, 0, 0};
    for (DWORD p : pixels) {
        sum[0] += (p >> 16) & 0xFF;
        sum[1] += (p >> 8) & 0xFF;
        sum[2] += p & 0xFF;
    }
    const long n = kBlock * kBlock;
    return {static_cast<int>(sum[0] / n), static_cast<int>(sum[1] / n), static_cast<int>(sum[2] / n)};
}

// One frame as the saver draws it. Answers the colour read back, or {-1, -1, -1} when the frame
// was skipped or the device is lost (nothing reaches the screen then).
Rgb DrawFrame(DemoApp& app, D3DCOLOR colour) {
    PumpMessages();
    if (!app.CheckDevice()) return {-1, -1, -1};
    const bool lost = g_device->TestCooperativeLevel() != D3D_OK;
    g_device->BeginScene();
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, colour, 1.0f, 0);
    g_device->EndScene();
    const Rgb seen = lost ? Rgb{-1, -1, -1} : CentreColour(app.PresentParams().BackBufferWidth,
                                                          app.PresentParams().BackBufferHeight);
    const HRESULT presented = g_device->Present(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(presented, lost ? D3DERR_DEVICELOST : D3D_OK);
    return seen;
}

void ExpectColour(const Rgb& seen, int r, int g, int b) {
    EXPECT_NEAR(seen.r, r, 2);
    EXPECT_NEAR(seen.g, g, 2);
    EXPECT_NEAR(seen.b, b, 2);
}

// Whether adapter 0 shows width x height in X8R8G8B8.
bool OffersMode(IDirect3D9* direct3d, UINT width, UINT height) {
    const UINT count = direct3d->GetAdapterModeCount(0, D3DFMT_X8R8G8B8);
    for (UINT i = 0; i < count; ++i) {
        D3DDISPLAYMODE mode{};
        if (direct3d->EnumAdapterModes(0, D3DFMT_X8R8G8B8, i, &mode) == D3D_OK && mode.Width == width &&
            mode.Height == height) {
            return true;
        }
    }
    return false;
}

// The trace lines captured so far, without the warnings and errors the capture also holds.
std::vector<std::string> TraceTexts(const rh::testing::LogCapture& capture) {
    std::vector<std::string> texts;
    for (const rh::testing::LoggedLine& line : capture.lines()) {
        if (line.level == rh::LogLevel::Trace) texts.push_back(line.text);
    }
    return texts;
}

struct Request {
    const char* name;
    bool desktop;
    int32_t flags;
    UINT width, height;
};

// The whole life of the saver's device on whatever display SDL opened.
void RunDemonstration(const Request& request) {
    SCOPED_TRACE(request.name);
    rh::testing::LogCapture capture(rh::LogLevel::Trace);
    Log log;
    DemoApp app;
    NamedResource first("first", log);
    CountingListener listener;
    ASSERT_TRUE(AddMessageListener(&listener));
    // The window comes first, as in the saver: windows are made with the device's pixel
    // format, so the device's context can be made current on it (EGL is strict about that).
    ASSERT_TRUE(app.MakeWindow(800, 600));
    ASSERT_TRUE(app.Create(nullptr, app.window()));
    NamedResource second("second", log);

    DeviceSettings a;
    a.matchFlags = request.flags;
    a.windowed = false;
    a.displayMode.Width = request.width;
    a.displayMode.Height = request.height;
    a.backBufferFormat = D3DFMT_X8R8G8B8;
    // Four samples: kept by the multisample flag whether offered or not, so a layer without
    // them refuses the device and request B is tried.
    a.multiSampleType = D3DMULTISAMPLE_4_SAMPLES;
    a.vertexProcessing = kHardwareVertexProcessing;
    a.presentInterval = 0;
    // What the display offers decides the path: a layer that can multisample four times takes
    // request A as it is; a display without the fixed size never stores A, so the fullscreen
    // slot Create filled (the desktop's mode, no multisampling) is used at once.
    IDirect3D9* direct3d = app.Enumeration().GetDirect3D();
    const bool offersFourSamples = direct3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, FALSE,
                                                                        D3DMULTISAMPLE_4_SAMPLES, nullptr) == D3D_OK;
    const bool offersSize = request.desktop || OffersMode(direct3d, request.width, request.height);
    ASSERT_TRUE(app.OpenFullscreen(a, request.desktop));
    EXPECT_EQ(app.usedLooserRequest, offersSize && !offersFourSamples);
    ASSERT_NE(g_device, nullptr);
    EXPECT_FALSE(app.IsWindowed());
    EXPECT_EQ(log, (Log{"restore second", "restore first"}));

    const D3DPRESENT_PARAMETERS& p = app.PresentParams();
    if (request.desktop || !offersSize) {
        EXPECT_EQ(p.BackBufferWidth, app.GetDesktopMode().Width);
        EXPECT_EQ(p.BackBufferHeight, app.GetDesktopMode().Height);
    } else {
        EXPECT_EQ(p.BackBufferWidth, request.width);
        EXPECT_EQ(p.BackBufferHeight, request.height);
    }
    EXPECT_EQ(p.MultiSampleType,
              offersSize && offersFourSamples ? D3DMULTISAMPLE_4_SAMPLES : D3DMULTISAMPLE_NONE);
    // The trace ends with the settings the device was made from and its creation.
    const std::string size = std::to_string(p.BackBufferWidth) + "x" + std::to_string(p.BackBufferHeight);
    std::vector<std::string> traced = TraceTexts(capture);
    ASSERT_GE(traced.size(), 6u);
    EXPECT_EQ(traced.back(), "Device created: " + size + ", full screen");
    EXPECT_EQ(traced[traced.size() - 6], "----------------------");
    EXPECT_EQ(traced[traced.size() - 5].rfind("Fullscreen " + size, 0), 0u) << traced[traced.size() - 5];
    EXPECT_EQ(traced[traced.size() - 2], "----------------------");

    ExpectColour(DrawFrame(app, 0xFF4080C0), 0x40, 0x80, 0xC0);
    ExpectColour(DrawFrame(app, 0xFFC08040), 0xC0, 0x80, 0x40);

    // Lost: frames go on without effect, nobody is told anything.
    log.clear();
    capture.clear();
    rh::d3d9::testing::ForceDeviceLoss(g_device, true);
    EXPECT_TRUE(app.CheckDevice());
    DrawFrame(app, 0xFF00FF00);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(TraceTexts(capture), std::vector<std::string>{"Device lost"}) << "traced once, not every frame";

    // The loss ends: the next frame resets, telling every resource lost and then restored.
    rh::d3d9::testing::ForceDeviceLoss(g_device, false);
    EXPECT_EQ(g_device->TestCooperativeLevel(), D3DERR_DEVICENOTRESET);
    ExpectColour(DrawFrame(app, 0xFF102030), 0x10, 0x20, 0x30);
    EXPECT_EQ(log, (Log{"lost second", "lost first", "restore second", "restore first"}));
    EXPECT_EQ(g_device->TestCooperativeLevel(), D3D_OK);
    EXPECT_EQ(TraceTexts(capture), (std::vector<std::string>{"Device lost", "Device reset: " + size}));

    // Closing: the device goes, the Direct3D object goes, the loop is told to quit.
    log.clear();
    capture.clear();
    SendMessageA(app.window(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(listener.sawClose);
    EXPECT_TRUE(app.QuitRequested());
    EXPECT_EQ(g_device, nullptr);
    EXPECT_EQ(log, (Log{"lost second", "lost first"}));
    EXPECT_EQ(TraceTexts(capture), std::vector<std::string>{"Device released"});
    // The window itself stays (the framework only releases the device), so its other
    // messages are dispatched: an undispatched WM_PAINT would come back for ever, as on
    // Windows, until the window procedure validates it.
    MSG msg;
    bool quit = false;
    for (int i = 0; i < 1000 && !quit && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        quit = msg.message == WM_QUIT;
        if (!quit) DispatchMessageA(&msg);
    }
    EXPECT_TRUE(quit);
    EXPECT_GT(listener.messages, 0);
}

const Request kRequests[] = {
    // The saver's "use the desktop" request: multisample flag only, so the desktop's size.
    {"desktop mode", true, kMatchMultiSample, 0, 0},
    // The saver's fixed mode: size, bit depth and multisampling.
    {"fixed 800x600", false, kMatchSize | kMatchBackBufferBits | kMatchMultiSample, 800, 600},
};

TEST(AppFrameworkDeviceTest, FullscreenLifeOffscreen) {
    for (const Request& r : kRequests) RunDemonstration(r);
}

// The same under a real X server (Xvfb in CI): SDL must choose its X11 driver, so the offscreen
// choice of the test environment is dropped before SDL starts.
TEST(AppFrameworkDeviceTest, FullscreenLifeOnX11) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') GTEST_SKIP() << "no DISPLAY";
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0 && std::strcmp(SDL_GetCurrentVideoDriver(), "x11") != 0) {
        GTEST_SKIP() << "SDL already runs another video driver in this process; run this test alone";
    }
    unsetenv("SDL_VIDEODRIVER");
    for (const Request& r : kRequests) RunDemonstration(r);
}

}  // namespace
