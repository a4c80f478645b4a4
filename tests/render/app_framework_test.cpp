// The application framework against a test-double Direct3D: the registries' walk order, the
// device's creation, loss and reset protocol, the declaration cache and the message handling.
#include "render/app_framework.h"

#include "platform/log/log_testing.h"
#include "render/state_cache.h"
#include "tests/render/support/fake_device.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using rh::test::DeviceCall;
using rh::test::FakeDevice;
using rh::test::FakeVertexDeclaration;
using rh::test::FrameworkDirect3D;

using Log = std::vector<std::string>;

FrameworkDirect3D* g_fakeDirect3D = nullptr;

IDirect3D9* MakeFakeDirect3D(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION || g_fakeDirect3D == nullptr) return nullptr;
    g_fakeDirect3D->AddRef();
    return g_fakeDirect3D;
}

// Opens the protected steps for the tests.
class TestApp : public AppFramework {
public:
    using AppFramework::CheckWindowSize;
    using AppFramework::Reset;
    ~TestApp() override { ReleaseDevice(); }
};

class RecordingResource : public DeviceResource {
public:
    RecordingResource(std::string name, Log& log) : name_(std::move(name)), log_(log) {
        deviceExisted = RegisterDeviceResource(this);
    }
    bool OnDeviceRestore() override {
        log_.push_back("restore " + name_);
        return restoreAnswer;
    }
    bool OnDeviceLost() override {
        log_.push_back("lost " + name_);
        return true;
    }

    bool deviceExisted = false;
    bool restoreAnswer = true;

private:
    std::string name_;
    Log& log_;
};

class RecordingListener : public MessageListener {
public:
    RecordingListener(std::string name, Log& log) : name_(std::move(name)), log_(log) {}
    LRESULT OnWindowMessage(HWND, UINT msg, WPARAM, LPARAM) override {
        log_.push_back(name_ + " " + std::to_string(msg));
        return 12345;  // ignored by the framework
    }

private:
    std::string name_;
    Log& log_;
};

class AppFrameworkTest : public ::testing::Test {
protected:
    AppFrameworkTest() {
        g_fakeDirect3D = &direct3d;
        SetDirect3DFactory(MakeFakeDirect3D);
        device.caps = direct3d.caps;
    }
    ~AppFrameworkTest() override {
        SetDirect3DFactory(nullptr);
        g_fakeDirect3D = nullptr;
    }

    // Create and a full-screen device from the default (empty) request.
    void OpenDevice(TestApp& app, HWND hwnd = nullptr) {
        ASSERT_TRUE(app.Create(nullptr, hwnd));
        ASSERT_TRUE(app.RecreateDevice(true));
        ASSERT_EQ(g_device, &device);
    }

    FakeDevice device;
    FrameworkDirect3D direct3d{&device};
    Log log;
};

TEST(AppFrameworkRegistryTest, WithoutFrameworkNothingRegisters) {
    Log log;
    RecordingResource resource("r", log);
    RecordingListener listener("l", log);
    EXPECT_FALSE(resource.deviceExisted);
    EXPECT_FALSE(AddMessageListener(&listener));
    EXPECT_EQ(GetVertexDeclaration(VertexFormat()), nullptr);
}

// A walk tells the newest entry first, then the others from the oldest; unregistering the
// newest makes the one before it the start.
TEST_F(AppFrameworkTest, ResourcesAreToldNewestFirstThenFromTheOldest) {
    TestApp app;
    RecordingResource a("A", log), b("B", log), c("C", log);
    EXPECT_TRUE(app.RestoreDeviceObjects());
    EXPECT_EQ(log, (Log{"restore C", "restore A", "restore B"}));

    log.clear();
    EXPECT_TRUE(app.RestoreDeviceObjects());
    EXPECT_EQ(log, (Log{"restore C", "restore A", "restore B"})) << "a walk ends where it began";

    log.clear();
    {
        RecordingResource d("D", log);
        EXPECT_TRUE(app.InvalidateDeviceObjects());
        EXPECT_EQ(log, (Log{"lost D", "lost A", "lost B", "lost C"}));
    }
    log.clear();
    app.InvalidateDeviceObjects();
    EXPECT_EQ(log, (Log{"lost C", "lost A", "lost B"})) << "D unregistered in its destructor";

    log.clear();
    UnregisterDeviceResource(&c);
    app.InvalidateDeviceObjects();
    EXPECT_EQ(log, (Log{"lost B", "lost A"}));
    EXPECT_FALSE(RegisterDeviceResource(&a)) << "no device yet";
    log.clear();
    app.InvalidateDeviceObjects();
    EXPECT_EQ(log, (Log{"lost B", "lost A"})) << "registering twice keeps one entry and its place";
}

TEST_F(AppFrameworkTest, ListenersSeeEveryMessageOnceInWalkOrder) {
    TestApp app;
    RecordingListener first("first", log), second("second", log);
    EXPECT_TRUE(AddMessageListener(&first));
    EXPECT_TRUE(AddMessageListener(&second));
    EXPECT_TRUE(AddMessageListener(&first));
    app.MsgProc(nullptr, WM_USER, 0, 0);
    EXPECT_EQ(log, (Log{"second 1024", "first 1024"}));

    log.clear();
    {
        RecordingListener third("third", log);
        AddMessageListener(&third);
    }
    RemoveMessageListener(&second);
    app.MsgProc(nullptr, WM_USER, 0, 0);
    EXPECT_EQ(log, (Log{"first 1024"}));
}

TEST_F(AppFrameworkTest, ResourceRegisteredBeforeTheDeviceIsRestoredAtCreation) {
    TestApp app;
    RecordingResource early("early", log);
    EXPECT_FALSE(early.deviceExisted);
    OpenDevice(app);
    EXPECT_EQ(log, (Log{"restore early"}));
    RecordingResource late("late", log);
    EXPECT_TRUE(late.deviceExisted);
}

TEST_F(AppFrameworkTest, CreateFindsBothSlotsAndFailsCleanly) {
    {
        TestApp app;
        ASSERT_TRUE(app.Create(nullptr, nullptr));
        EXPECT_FALSE(app.FullscreenSettings().windowed);
        EXPECT_TRUE(app.WindowedSettings().windowed);
        EXPECT_EQ(app.FullscreenSettings().displayMode.Width, 800u);
        EXPECT_EQ(app.FullscreenSettings().depthStencilFormat, D3DFMT_D24S8);
        EXPECT_EQ(app.GetDesktopMode().Height, 600u);
        EXPECT_GT(direct3d.refs, 1u);
    }
    EXPECT_EQ(direct3d.refs, 1u) << "the framework releases its Direct3D object";

    struct Row {
        const char* name;
        bool haveDirect3D;
        int32_t flags;
        UINT width;
    };
    const Row rows[] = {
        {"no Direct3D", false, 0, 0},
        {"no mode of the requested size", true, kMatchSize, 1024},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        g_fakeDirect3D = r.haveDirect3D ? &direct3d : nullptr;
        TestApp app;
        app.CurrentSettings().matchFlags = r.flags;
        app.CurrentSettings().displayMode.Width = r.width;
        app.CurrentSettings().displayMode.Height = 768;
        EXPECT_FALSE(app.Create(nullptr, nullptr));
        EXPECT_EQ(direct3d.refs, 1u) << "a failed Create holds no Direct3D object";
        EXPECT_FALSE(app.RecreateDevice(true));
        g_fakeDirect3D = &direct3d;
    }
}

TEST_F(AppFrameworkTest, DeviceIsMadeFromTheChosenSlot) {
    struct Row {
        int32_t vertexProcessing;
        DWORD behaviour;
    };
    const Row rows[] = {{0, 0x20}, {1, 0x80}, {2, 0x40}, {3, 0x50}};
    device.Answer(DeviceCall::CreateQuery, D3D_OK);
    TestApp app;
    ASSERT_TRUE(app.Create(nullptr, nullptr));
    for (const Row& r : rows) {
        SCOPED_TRACE(r.vertexProcessing);
        DeviceSettings settings = app.FullscreenSettings();
        settings.vertexProcessing = r.vertexProcessing;
        app.SetDeviceSettings(settings);
        ASSERT_TRUE(app.RecreateDevice(true));
        EXPECT_EQ(direct3d.lastBehaviour, r.behaviour);
    }
    const D3DPRESENT_PARAMETERS& p = direct3d.lastParams;
    EXPECT_EQ(p.BackBufferWidth, 800u);
    EXPECT_EQ(p.BackBufferHeight, 600u);
    EXPECT_EQ(p.FullScreen_RefreshRateInHz, 60u);
    EXPECT_EQ(p.BackBufferCount, 1u);
    EXPECT_EQ(p.SwapEffect, D3DSWAPEFFECT_DISCARD);
    EXPECT_EQ(p.Windowed, FALSE);
    EXPECT_EQ(p.EnableAutoDepthStencil, TRUE);
    EXPECT_EQ(p.AutoDepthStencilFormat, D3DFMT_D24S8);
    EXPECT_EQ(p.Flags, static_cast<DWORD>(D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL));
    EXPECT_EQ(p.PresentationInterval, static_cast<UINT>(D3DPRESENT_INTERVAL_IMMEDIATE));
    EXPECT_TRUE(app.IsActive());
    EXPECT_FALSE(app.IsWindowed());

    EXPECT_EQ(g_deviceCaps.MaxPointSize, 64.0f);
    EXPECT_TRUE(app.SupportsPointSprites());
    EXPECT_TRUE(app.SupportsPointSize());
    EXPECT_TRUE(app.OcclusionQueriesEnabled());
}

TEST_F(AppFrameworkTest, CapabilityFlagsFollowTheDevice) {
    device.caps.MaxPointSize = 1.0f;
    device.caps.FVFCaps = 8;
    TestApp app;
    OpenDevice(app);
    EXPECT_FALSE(app.SupportsPointSprites());
    EXPECT_FALSE(app.SupportsPointSize());
    EXPECT_FALSE(app.OcclusionQueriesEnabled()) << "the device answers D3DERR_NOTAVAILABLE for queries";
    EXPECT_EQ(device.Calls(DeviceCall::CreateQuery), 1) << "probed once, at creation";
}

TEST_F(AppFrameworkTest, RefusedDeviceChangesNothing) {
    TestApp app;
    RecordingResource r("r", log);
    ASSERT_TRUE(app.Create(nullptr, nullptr));
    direct3d.createAnswer = D3DERR_NOTAVAILABLE;
    EXPECT_FALSE(app.RecreateDevice(true));
    EXPECT_EQ(g_device, nullptr);
    EXPECT_TRUE(log.empty());
}

// The lost-device protocol: only "not reset" resets; every other answer draws the frame.
TEST_F(AppFrameworkTest, CheckDeviceResetsOnlyWhenTheDeviceCanBeReset) {
    struct Row {
        const char* name;
        HRESULT cooperative;
        bool resets;
    };
    const Row rows[] = {
        {"ok", D3D_OK, false},
        {"lost", D3DERR_DEVICELOST, false},
        {"driver error", D3DERR_DRIVERINTERNALERROR, false},
        {"not reset", D3DERR_DEVICENOTRESET, true},
    };
    TestApp app;
    RecordingResource a("A", log), b("B", log);
    OpenDevice(app);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        log.clear();
        device.ResetCounts();
        device.Answer(DeviceCall::TestCooperativeLevel, r.cooperative);
        EXPECT_TRUE(app.CheckDevice());
        EXPECT_EQ(device.Calls(DeviceCall::Reset), r.resets ? 1 : 0);
        EXPECT_EQ(log, r.resets ? (Log{"lost B", "lost A", "restore B", "restore A"}) : Log{});
    }
}

TEST_F(AppFrameworkTest, ResetInvalidatesTheStateCache) {
    TestApp app;
    OpenDevice(app);
    StateCache::SetRenderState(D3DRS_LIGHTING, FALSE);
    device.Answer(DeviceCall::TestCooperativeLevel, D3DERR_DEVICENOTRESET);
    ASSERT_TRUE(app.CheckDevice());
    device.ResetCounts();
    StateCache::SetRenderState(D3DRS_LIGHTING, FALSE);
    EXPECT_EQ(device.Calls(DeviceCall::SetRenderState), 1) << "the device holds its defaults after a reset";
}

// A resource that fails to restore: creation still succeeds, the reset does not, and the
// objects are invalidated each time so that lost always follows restore.
TEST_F(AppFrameworkTest, FailedRestoreKeepsTheDeviceButFailsTheReset) {
    TestApp app;
    RecordingResource good("good", log), bad("bad", log);
    bad.restoreAnswer = false;
    OpenDevice(app);
    EXPECT_EQ(log, (Log{"restore bad", "restore good", "lost bad", "lost good"}));

    log.clear();
    device.Answer(DeviceCall::TestCooperativeLevel, D3DERR_DEVICENOTRESET);
    EXPECT_FALSE(app.CheckDevice()) << "the frame is skipped";
    EXPECT_EQ(log, (Log{"restore bad", "restore good", "lost bad", "lost good"}))
        << "not restored, so nothing is told lost before the reset";

    log.clear();
    bad.restoreAnswer = true;
    EXPECT_TRUE(app.CheckDevice()) << "the next frame tries again";
    EXPECT_EQ(device.Calls(DeviceCall::Reset), 2);
    EXPECT_EQ(log, (Log{"restore bad", "restore good"}));

    log.clear();
    device.Answer(DeviceCall::Reset, D3DERR_DEVICELOST);
    EXPECT_FALSE(app.CheckDevice());
    EXPECT_EQ(log, (Log{"lost bad", "lost good"})) << "a refused reset restores nothing";
}

// At trace level a run's device can be followed: the settings it is made from, its creation
// or refusal, a loss once however many frames it lasts, each reset's outcome, its release.
TEST_F(AppFrameworkTest, TraceFollowsTheDeviceLife) {
    using Texts = std::vector<std::string>;
    const Texts description = {
        "----------------------",
        "Fullscreen 800x600X8R8G8B8, D24S8Present Interval: D3DPRESENT_INTERVAL_IMMEDIATE",
        "Vertex Proccessing: HARDWARE_VP",
        "MultiSample: D3DMULTISAMPLE_NONE , Quality:0",
        "----------------------",
    };
    auto describedThen = [&](const Texts& after) {
        Texts texts = description;
        texts.insert(texts.end(), after.begin(), after.end());
        return texts;
    };
    rh::testing::LogCapture capture(rh::LogLevel::Trace);
    TestApp app;
    RecordingResource resource("r", log);
    ASSERT_TRUE(app.Create(nullptr, nullptr));
    EXPECT_TRUE(capture.lines().empty()) << "Create describes nothing";

    direct3d.createAnswer = D3DERR_NOTAVAILABLE;
    EXPECT_FALSE(app.RecreateDevice(true));
    EXPECT_EQ(capture.texts(), describedThen({"Device creation failed: 0x8876086A"}));
    capture.clear();
    direct3d.createAnswer = D3D_OK;
    ASSERT_TRUE(app.RecreateDevice(true));
    EXPECT_EQ(capture.texts(), describedThen({"Device created: 800x600, full screen"}));

    struct Step {
        const char* name;
        HRESULT cooperative;
        HRESULT reset;
        bool restores;
        Texts expected;
    };
    const Step steps[] = {
        {"first lost frame", D3DERR_DEVICELOST, D3D_OK, true, {"Device lost"}},
        {"still lost", D3DERR_DEVICELOST, D3D_OK, true, {}},
        {"can be reset", D3DERR_DEVICENOTRESET, D3D_OK, true, {"Device reset: 800x600"}},
        {"back to normal", D3D_OK, D3D_OK, true, {}},
        {"lost again, reset refused", D3DERR_DEVICENOTRESET, D3DERR_DEVICELOST, true,
         {"Device lost", "Device reset failed: 0x88760868"}},
        {"refused again", D3DERR_DEVICENOTRESET, D3DERR_DEVICELOST, true, {"Device reset failed: 0x88760868"}},
        {"reset, restore fails", D3DERR_DEVICENOTRESET, D3D_OK, false,
         {"Device reset, but its objects failed to restore"}},
        // That reset went through, so the loss had ended: not-reset once more is a new loss.
        {"lost once more", D3DERR_DEVICENOTRESET, D3D_OK, true, {"Device lost", "Device reset: 800x600"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        capture.clear();
        device.Answer(DeviceCall::TestCooperativeLevel, step.cooperative);
        device.Answer(DeviceCall::Reset, step.reset);
        resource.restoreAnswer = step.restores;
        app.CheckDevice();
        EXPECT_EQ(capture.texts(), step.expected);
    }

    capture.clear();
    app.MsgProc(nullptr, WM_QUIT, 0, 0);
    EXPECT_EQ(capture.texts(), Texts{"Device released"});
}

TEST_F(AppFrameworkTest, DeclarationsAreSharedAndDroppedWithTheDevice) {
    VertexFormat a, b;
    a.SetFromFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    b.SetFromFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    {
        TestApp app;
        EXPECT_EQ(app.GetVertexDeclaration(a), nullptr) << "no device";
        OpenDevice(app);
        EXPECT_EQ(app.GetVertexDeclaration(VertexFormat()), nullptr) << "no end marker";
        IDirect3DVertexDeclaration9* d = GetVertexDeclaration(a);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(a.GetDeclaration(), d);
        EXPECT_EQ(GetVertexDeclaration(b), d);
        EXPECT_EQ(device.Calls(DeviceCall::CreateVertexDeclaration), 1);
        EXPECT_EQ(FakeVertexDeclaration::live, 1);

        device.Answer(DeviceCall::TestCooperativeLevel, D3DERR_DEVICENOTRESET);
        ASSERT_TRUE(app.CheckDevice());
        EXPECT_EQ(FakeVertexDeclaration::live, 0) << "the cache is emptied when the device is lost";

        device.Answer(DeviceCall::CreateVertexDeclaration, E_FAIL);
        EXPECT_EQ(GetVertexDeclaration(a), nullptr);
        device.Answer(DeviceCall::CreateVertexDeclaration, S_OK);
        EXPECT_NE(GetVertexDeclaration(a), nullptr) << "a refused format is not cached";
        EXPECT_EQ(device.Calls(DeviceCall::CreateVertexDeclaration), 3);
    }
    EXPECT_EQ(FakeVertexDeclaration::live, 0);
}

TEST_F(AppFrameworkTest, DestructionReleasesEverythingAndClearsTheGlobals) {
    std::unique_ptr<RecordingResource> outlives;
    {
        TestApp app;
        outlives = std::make_unique<RecordingResource>("r", log);
        OpenDevice(app);
        EXPECT_EQ(g_appFramework, &app);
        EXPECT_EQ(device.refs, 2u);
        log.clear();
    }
    EXPECT_EQ(log, (Log{"lost r"}));
    EXPECT_EQ(g_device, nullptr);
    EXPECT_EQ(g_appFramework, nullptr);
    EXPECT_EQ(device.refs, 1u);
    EXPECT_EQ(direct3d.refs, 1u);
    outlives.reset();  // unregistering without a framework does nothing
}

// What MsgProc answers for the messages it handles itself, full screen and windowed.
TEST_F(AppFrameworkTest, MessageHandlingTable) {
    struct Row {
        const char* name;
        UINT msg;
        WPARAM wParam;
        LRESULT fullscreen;  // -1: whatever DefWindowProcA answers
        LRESULT windowed;
    };
    const LRESULT kDefault = -1;
    const Row rows[] = {
        {"SC_SIZE", WM_SYSCOMMAND, SC_SIZE, 1, kDefault},
        {"SC_MOVE", WM_SYSCOMMAND, SC_MOVE, 1, kDefault},
        {"SC_MAXIMIZE", WM_SYSCOMMAND, SC_MAXIMIZE, 1, kDefault},
        {"SC_KEYMENU", WM_SYSCOMMAND, SC_KEYMENU, 1, kDefault},
        {"SC_MONITORPOWER", WM_SYSCOMMAND, SC_MONITORPOWER, 1, kDefault},
        {"SC_MOVE with system bits", WM_SYSCOMMAND, SC_MOVE | 2, kDefault, kDefault},
        {"SC_RESTORE", WM_SYSCOMMAND, SC_RESTORE, kDefault, kDefault},
        {"hit test", WM_NCHITTEST, 0, HTCLIENT, kDefault},
        {"query suspend", WM_POWERBROADCAST, PBT_APMQUERYSUSPEND, 1, 1},
        {"resume", WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 1, 1},
        {"other power event", WM_POWERBROADCAST, 0x000A, kDefault, kDefault},
    };
    TestApp app;
    RecordingListener listener("l", log);
    AddMessageListener(&listener);
    ASSERT_TRUE(app.Create(nullptr, nullptr));
    for (bool fullscreen : {true, false}) {
        ASSERT_TRUE(app.RecreateDevice(fullscreen));
        for (const Row& r : rows) {
            SCOPED_TRACE(std::string(r.name) + (fullscreen ? " full screen" : " windowed"));
            log.clear();
            const LRESULT expected = fullscreen ? r.fullscreen : r.windowed;
            const LRESULT answer = app.MsgProc(nullptr, r.msg, r.wParam, 0);
            EXPECT_EQ(answer, expected == kDefault ? DefWindowProcA(nullptr, r.msg, r.wParam, 0) : expected);
            EXPECT_EQ(log.size(), 1u) << "the listener sees the message whatever the framework does";
        }
    }
}

TEST_F(AppFrameworkTest, ActivationCloseAndQuit) {
    MSG msg;
    {
        TestApp app;
        OpenDevice(app);
        app.MsgProc(nullptr, WM_ACTIVATE, WA_INACTIVE, 0);
        EXPECT_FALSE(app.IsActive());
        app.MsgProc(nullptr, WM_ACTIVATE, MAKEWPARAM(WA_CLICKACTIVE, 1), 0);
        EXPECT_TRUE(app.IsActive());

        EXPECT_EQ(app.MsgProc(nullptr, WM_QUIT, 0, 0), 0);
        EXPECT_TRUE(app.QuitRequested());
        EXPECT_EQ(g_device, nullptr);
        EXPECT_EQ(direct3d.refs, 1u);
        EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "WM_QUIT posts nothing";
    }
    TestApp app;
    OpenDevice(app);
    EXPECT_EQ(app.MsgProc(nullptr, WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(app.QuitRequested());
    EXPECT_EQ(g_device, nullptr);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
}

LRESULT CALLBACK PlainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Coming back from minimised or maximised resets the device only when the client area changed.
TEST_F(AppFrameworkTest, RestoringTheWindowResetsOnlyOnANewSize) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = PlainProc;
    wc.lpszClassName = "AppFrameworkTestWindow";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "test", WS_POPUP, 0, 0, 320, 240, nullptr, nullptr,
                                nullptr, nullptr);
    if (hwnd == nullptr) GTEST_SKIP() << "no display for a window";
    {
        TestApp app;
        ASSERT_TRUE(app.Create(nullptr, hwnd));
        ASSERT_TRUE(app.RecreateDevice(false));
        EXPECT_EQ(direct3d.lastParams.BackBufferWidth, 320u);
        EXPECT_EQ(app.GetRenderRect().right, 320);

        app.MsgProc(hwnd, WM_SIZE, SIZE_MINIMIZED, 0);
        app.MsgProc(hwnd, WM_SIZE, SIZE_RESTORED, 0);
        EXPECT_EQ(device.Calls(DeviceCall::Reset), 0) << "same size: no reset";

        app.MsgProc(hwnd, WM_SIZE, SIZE_MAXIMIZED, 0);
        SetWindowPos(hwnd, nullptr, 0, 0, 400, 300, SWP_NOZORDER | SWP_NOMOVE);
        app.MsgProc(hwnd, WM_SIZE, SIZE_RESTORED, 0);
        EXPECT_EQ(device.Calls(DeviceCall::Reset), 1);
        EXPECT_EQ(device.lastReset.BackBufferWidth, 400u);
        EXPECT_EQ(device.lastReset.BackBufferHeight, 300u);

        app.MsgProc(hwnd, WM_SIZE, SIZE_RESTORED, 0);
        EXPECT_EQ(device.Calls(DeviceCall::Reset), 1) << "neither minimised nor maximised before";
    }
    DestroyWindow(hwnd);
    UnregisterClassA(wc.lpszClassName, nullptr);
}

}  // namespace
