// The free camera steered through the real input path: SDL events pushed as the display server
// reports them reach DirectInput's devices and the window's messages, the input manager reads
// them, and the camera reads the manager. Where a check would need a marker drawn on screen,
// the marker is drawn as a red box and found in the frame read back.
#include "scene/free_camera.h"

#include "core/time/clock_source.h"
#include "render/camera_view.h"
#include "render/material.h"
#include "tests/scene/support/box_scene.h"

#include "platform/d3d9/d3d9_testing.h"

#include <d3dx9math.h>

#include <gtest/gtest.h>

#include <SDL.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr DWORD kSaverCooperation = DISCL_NONEXCLUSIVE | DISCL_FOREGROUND;
constexpr float kSpeed = 0.25f;  // a power of two: ten steps add up exactly
constexpr float kTurn = 0.3f;

class CameraApp;
CameraApp* g_app = nullptr;
LRESULT CALLBACK CameraWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

class CameraApp : public AppFramework {
public:
    CameraApp() { g_app = this; }
    ~CameraApp() override {
        ReleaseDevice();
        if (hwnd_ != nullptr) DestroyWindow(hwnd_);
        UnregisterClassA("FreeCameraTest", nullptr);
        g_app = nullptr;
    }
    bool Open() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = CameraWindowProc;
        wc.lpszClassName = "FreeCameraTest";
        RegisterClassA(&wc);
        hwnd_ = CreateWindowExA(0, wc.lpszClassName, kTitle, WS_POPUP | WS_VISIBLE, 0, 0, 320, 240, nullptr, nullptr,
                                nullptr, nullptr);
        if (hwnd_ == nullptr) return false;
        CurrentSettings().windowed = true;
        CurrentSettings().backBufferFormat = D3DFMT_X8R8G8B8;
        return Create(nullptr, hwnd_) && RecreateDevice(false);
    }
    static constexpr char kTitle[] = "free camera test";

private:
    HWND hwnd_ = nullptr;
};

LRESULT CALLBACK CameraWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (g_app != nullptr) return g_app->MsgProc(hwnd, msg, wParam, lParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

uint32_t g_now = 0;
uint32_t TestClock() { return g_now; }

void PumpMessages() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
        if (msg.message == WM_QUIT) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

Uint32 WindowId() {
    for (Uint32 id = 1; id < 4096; ++id) {
        SDL_Window* w = SDL_GetWindowFromID(id);
        if (w != nullptr && std::string(SDL_GetWindowTitle(w)) == CameraApp::kTitle) return id;
    }
    ADD_FAILURE() << "no window titled " << CameraApp::kTitle;
    return 0;
}

bool SameBits(Vec3 a, Vec3 b) { return std::memcmp(&a, &b, sizeof a) == 0; }

class FreeCameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_now = 1000;
        SetClockSource(&TestClock);
        ASSERT_TRUE(app_.Open());
        Focus(true);
        ASSERT_TRUE(input_.InitInput(true, kSaverCooperation, kSaverCooperation));
        Move(100, 100);
    }
    void TearDown() override {
        // The pointer's buttons are the system's state, shared by every test.
        Button(SDL_BUTTON_LEFT, false);
        Button(SDL_BUTTON_RIGHT, false);
        PumpMessages();
        SetClockSource(nullptr);
    }

    void Focus(bool gained) {
        Push(SDL_WINDOWEVENT, [&](SDL_Event& e) {
            e.window.windowID = WindowId();
            e.window.event = gained ? SDL_WINDOWEVENT_FOCUS_GAINED : SDL_WINDOWEVENT_FOCUS_LOST;
        });
        PumpMessages();
    }
    void Key(SDL_Scancode scancode, bool down) {
        Push(down ? SDL_KEYDOWN : SDL_KEYUP, [&](SDL_Event& e) {
            e.key.windowID = WindowId();
            e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
            e.key.keysym.scancode = scancode;
        });
    }
    void Button(Uint8 button, bool down) {
        Push(down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP, [&](SDL_Event& e) {
            e.button.windowID = WindowId();
            e.button.button = button;
            e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
            e.button.x = cursor_.x;
            e.button.y = cursor_.y;
        });
    }
    // The pointer to client (x, y).
    void Move(int x, int y) {
        Push(SDL_MOUSEMOTION, [&](SDL_Event& e) {
            e.motion.windowID = WindowId();
            e.motion.x = x;
            e.motion.y = y;
            e.motion.xrel = x - cursor_.x;
            e.motion.yrel = y - cursor_.y;
        });
        cursor_ = Point(x, y);
    }
    template <typename Fill>
    void Push(Uint32 type, Fill fill) {
        SDL_Event e{};
        e.type = type;
        fill(e);
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }

    // One pass of the main loop: messages drained, the immediate state refreshed, one step.
    // Without the focus the devices are not acquired and the refresh fails, as on Windows; the
    // state read before stays.
    void Step() {
        PumpMessages();
        g_now += 16;
        const bool refreshed = input_.UpdateInputState(0);
        EXPECT_EQ(refreshed, input_.HasFocus());
        camera_.Update();
    }

    CameraApp app_;
    InputManager input_;
    FreeCamera camera_;
    Point cursor_{0, 0};
};

TEST_F(FreeCameraTest, KeysAndButtonsMoveOneSpeedPerUpdateAlongTheCamerasAxes) {
    struct Case {
        const char* what;
        bool key;  // else a mouse button
        int code;
        Vec3 step;
    };
    const Case cases[] = {
        {"W: up", true, SDL_SCANCODE_W, {0, 1, 0}},
        {"S: down", true, SDL_SCANCODE_S, {0, -1, 0}},
        {"A: left (direction x up)", true, SDL_SCANCODE_A, {-1, 0, 0}},
        {"D: right", true, SDL_SCANCODE_D, {1, 0, 0}},
        {"left button: forward", false, SDL_BUTTON_LEFT, {0, 0, 1}},
        {"right button: back", false, SDL_BUTTON_RIGHT, {0, 0, -1}},
    };
    camera_.AttachInput(&input_, kSpeed, kTurn);
    for (const Case& c : cases) {
        camera_.SetPosition(Vec3{0, 0, 0});
        if (c.key) {
            Key(static_cast<SDL_Scancode>(c.code), true);
        } else {
            Button(static_cast<Uint8>(c.code), true);
        }
        for (int i = 0; i < 10; ++i) Step();
        if (c.key) {
            Key(static_cast<SDL_Scancode>(c.code), false);
        } else {
            Button(static_cast<Uint8>(c.code), false);
        }
        Step();
        const Vec3 expected = Vec3Scale(c.step, 10 * kSpeed);
        EXPECT_TRUE(SameBits(camera_.GetPosition(), expected))
            << c.what << ": " << camera_.GetPosition().x << " " << camera_.GetPosition().y << " "
            << camera_.GetPosition().z;
    }
    // The view follows the moved eye.
    TypedMatrix view;
    camera_.ComposeTransform(view);
    const D3DXVECTOR3 eye(0, 0, -10 * kSpeed), at(0, 0, 1 - 10 * kSpeed), up(0, 1, 0);
    D3DXMATRIX expected;
    D3DXMatrixLookAtLH(&expected, &eye, &at, &up);
    for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(view.m[i], expected.m[i / 4][i % 4]) << i;
}

// Shift with a 40-pixel move yaws by 40 x 0.00625 x the turn factor: a red marker box straight
// ahead, drawn through the camera's view, moves left on screen by the predicted amount. A
// vertical move pitches.
TEST_F(FreeCameraTest, ShiftAndTheMouseYawAndPitch) {
    camera_.AttachInput(&input_, kSpeed, kTurn);
    Key(SDL_SCANCODE_LSHIFT, true);
    Step();
    constexpr int kWidth = 320, kHeight = 240;
    const std::unique_ptr<box_scene::Box> marker =
        box_scene::MakeBox(Vec3{0, 0, 50}, Vec3{2, 2, 2}, box_scene::kMarkerRed, false);
    CameraView screen;
    screen.SetProjection(1, 1000, 0.7853982f, float(kWidth) / float(kHeight));
    RenderContext context;
    MultiMaterial material;
    material.sub(0).vertexColor = true;
    material.SetRenderContext(&context);
    // The marker's centre on screen, from the pixels of a frame drawn through the camera.
    auto markerAt = [&] {
        camera_.ComposeTransform(context.view);
        context.projection = screen.GetProjectionMatrix();
        context.viewProjection = MultiplyMatrices(context.view, context.projection);
        context.world = IdentityMatrix();
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        EXPECT_EQ(g_device->BeginScene(), D3D_OK);
        EXPECT_TRUE(marker->mesh.Render(&material).Succeeded());
        EXPECT_EQ(g_device->EndScene(), D3D_OK);
        std::vector<DWORD> frame;
        EXPECT_TRUE(rh::d3d9::testing::ReadBackBuffer(g_device, RECT{0, 0, kWidth, kHeight}, &frame));
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
        return box_scene::FindMarker(frame, kWidth, kHeight);
    };
    const box_scene::Blob ahead = markerAt();
    ASSERT_GT(ahead.count, 100);
    EXPECT_NEAR(ahead.x, kWidth / 2.0, 0.5) << "straight ahead";
    EXPECT_NEAR(ahead.y, kHeight / 2.0, 0.5) << "straight ahead";

    Move(140, 100);
    Step();
    const float yaw = 40 * 0.00625f * kTurn;
    EXPECT_NEAR(camera_.GetDirection().x, std::sin(yaw), 1e-6f);
    EXPECT_NEAR(camera_.GetDirection().y, 0, 1e-6f);
    EXPECT_NEAR(camera_.GetDirection().z, std::cos(yaw), 1e-6f);
    EXPECT_NEAR(camera_.GetUp().y, 1, 1e-6f);
    // Turned right by yaw, the marker lies yaw to the left of the view axis.
    const double scale = 1 / std::tan(0.7853982 / 2) / (double(kWidth) / kHeight);
    const box_scene::Blob turned = markerAt();
    ASSERT_GT(turned.count, 100);
    EXPECT_NEAR(turned.x, kWidth / 2.0 - std::tan(double(yaw)) * scale * kWidth / 2, 2.0);
    EXPECT_NEAR(turned.y, kHeight / 2.0, 2.0);

    camera_.SetOrientation(Vec3{0, 0, 1}, Vec3{0, 1, 0});
    Move(140, 120);
    Step();
    const float pitch = 20 * 0.01f * kTurn;
    EXPECT_NEAR(camera_.GetDirection().y, -std::sin(pitch), 1e-6f) << "moving down looks down";
    EXPECT_NEAR(camera_.GetDirection().z, std::cos(pitch), 1e-6f);
    EXPECT_NEAR(camera_.GetUp().z, std::sin(pitch), 1e-6f);
    Key(SDL_SCANCODE_LSHIFT, false);
    Step();
}

TEST_F(FreeCameraTest, ControlAndTheMouseRoll) {
    camera_.AttachInput(&input_, kSpeed, kTurn);
    Key(SDL_SCANCODE_LCTRL, true);
    Step();
    Move(140, 130);  // the vertical part does not roll
    Step();
    const float roll = 40 * 0.00625f * kTurn;
    EXPECT_NEAR(camera_.GetUp().x, std::sin(roll), 1e-6f);
    EXPECT_NEAR(camera_.GetUp().y, std::cos(roll), 1e-6f);
    EXPECT_NEAR(camera_.GetUp().z, 0, 1e-6f);
    EXPECT_TRUE(SameBits(camera_.GetDirection(), Vec3{0, 0, 1})) << "the direction is kept";
    Key(SDL_SCANCODE_LCTRL, false);
    Step();
}

TEST_F(FreeCameraTest, ZReturnsToTheOriginWhateverElseIsHeld) {
    camera_.AttachInput(&input_, kSpeed, kTurn);
    camera_.SetPosition(Vec3{5, 6, 7});
    for (SDL_Scancode key : {SDL_SCANCODE_W, SDL_SCANCODE_A, SDL_SCANCODE_Z}) Key(key, true);
    Button(SDL_BUTTON_LEFT, true);
    for (int i = 0; i < 3; ++i) {
        Step();
        EXPECT_TRUE(SameBits(camera_.GetPosition(), Vec3{0, 0, 0})) << i;
    }
    for (SDL_Scancode key : {SDL_SCANCODE_W, SDL_SCANCODE_A, SDL_SCANCODE_Z}) Key(key, false);
    Step();
}

// The first step after attaching, and the first after a focus change, has no movement, however
// far the cursor went; a step without a whole pixel of movement, or without Shift or Control,
// turns nothing.
TEST_F(FreeCameraTest, NoTurnWithoutAMovementSinceTheLastStep) {
    Key(SDL_SCANCODE_LSHIFT, true);
    Move(300, 10);
    PumpMessages();
    camera_.AttachInput(&input_, kSpeed, kTurn);
    Step();
    EXPECT_TRUE(SameBits(camera_.GetDirection(), Vec3{0, 0, 1})) << "the first step after attaching";
    EXPECT_TRUE(camera_.HasLastCursor());

    Step();
    EXPECT_TRUE(SameBits(camera_.GetDirection(), Vec3{0, 0, 1})) << "no movement";
    EXPECT_TRUE(SameBits(camera_.GetUp(), Vec3{0, 1, 0}));

    Focus(false);
    EXPECT_FALSE(camera_.HasLastCursor()) << "a lost focus forgets the cursor";
    Move(200, 60);
    Step();
    EXPECT_FALSE(camera_.HasLastCursor()) << "no step without the focus";
    Focus(true);
    // The devices were re-acquired with nothing held: press Shift again.
    Key(SDL_SCANCODE_LSHIFT, true);
    Step();
    EXPECT_TRUE(SameBits(camera_.GetDirection(), Vec3{0, 0, 1})) << "the first step after the focus came back";
    Move(240, 60);
    Step();
    EXPECT_GT(camera_.GetDirection().x, 0.0f) << "Shift is held: the next movement turns";

    Key(SDL_SCANCODE_LSHIFT, false);
    Step();
    const Vec3 direction = camera_.GetDirection();
    Move(100, 200);
    Step();
    EXPECT_TRUE(SameBits(camera_.GetDirection(), direction)) << "without Shift or Control the mouse does not turn";
}

TEST_F(FreeCameraTest, NothingHappensWithoutInputOrFocus) {
    Key(SDL_SCANCODE_W, true);
    Step();
    EXPECT_TRUE(SameBits(camera_.GetPosition(), Vec3{0, 0, 0})) << "not attached";
    camera_.AttachInput(&input_, kSpeed, kTurn);
    Focus(false);
    Step();
    EXPECT_TRUE(SameBits(camera_.GetPosition(), Vec3{0, 0, 0})) << "without the focus";
    Focus(true);
    Key(SDL_SCANCODE_W, false);
    Step();

    // A camera that is gone no longer hears the window.
    {
        FreeCamera gone;
        gone.AttachInput(&input_, kSpeed, kTurn);
    }
    Focus(false);
    Focus(true);
}

}  // namespace
