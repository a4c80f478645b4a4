// Input end to end: SDL mouse events pushed on a real window (offscreen driver) go through the
// layer's window messages and DirectInput, the input manager and the GUI root to a frame
// window's HandleEvent, which resizes the window by its right edge.
#include "gui/frame_window.h"
#include "gui/gui_root.h"
#include "render/app_framework.h"
#include "render/input_manager.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <string>
#include <vector>

namespace {

class InputApp;
InputApp* g_app = nullptr;

LRESULT CALLBACK InputWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

class InputApp : public AppFramework {
public:
    InputApp() { g_app = this; }
    ~InputApp() override {
        ReleaseDevice();
        if (hwnd_ != nullptr) DestroyWindow(hwnd_);
        UnregisterClassA("GuiInputTest", nullptr);
        g_app = nullptr;
    }
    bool Open() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = InputWindowProc;
        wc.lpszClassName = "GuiInputTest";
        RegisterClassA(&wc);
        hwnd_ = CreateWindowExA(0, wc.lpszClassName, kTitle, WS_POPUP | WS_VISIBLE, 40, 30, 320,
                                240, nullptr, nullptr, nullptr, nullptr);
        if (hwnd_ == nullptr) return false;
        CurrentSettings().windowed = true;
        CurrentSettings().backBufferFormat = D3DFMT_X8R8G8B8;
        return Create(nullptr, hwnd_) && RecreateDevice(false);
    }
    static constexpr char kTitle[] = "gui input test";

private:
    HWND hwnd_ = nullptr;
};

LRESULT CALLBACK InputWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (g_app != nullptr) return g_app->MsgProc(hwnd, msg, wParam, lParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

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
        if (w != nullptr && std::string(SDL_GetWindowTitle(w)) == InputApp::kTitle) return id;
    }
    return 0;
}

// A frame that logs the GUI types it is handed, then handles them as a frame.
class LoggingFrame : public FrameWindow {
public:
    bool HandleEvent(GuiEvent event) override {
        log.push_back(static_cast<int>(event.type()));
        return FrameWindow::HandleEvent(event);
    }
    std::vector<int> log;
};

TEST(GuiInputDevice, InjectedMouseReachesAndResizesAFrame) {
    InputApp app;
    ASSERT_TRUE(app.Open());
    const Uint32 id = WindowId();
    ASSERT_NE(id, 0u);
    auto push = [id](SDL_Event e) {
        e.window.windowID = id;  // the same field offset for every kind used here
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    };
    SDL_Event focus{};
    focus.type = SDL_WINDOWEVENT;
    focus.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
    push(focus);
    PumpMessages();

    InputManager input;
    input.AddListener(&g_guiRoot);
    ASSERT_TRUE(input.InitInput(true, DISCL_NONEXCLUSIVE | DISCL_FOREGROUND,
                                DISCL_NONEXCLUSIVE | DISCL_FOREGROUND));
    LoggingFrame frame;
    frame.SetRect(10, 10, 100, 50);
    frame.Show();

    auto motion = [&](int x, int y, int dx, int dy) {
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        e.motion.windowID = id;
        e.motion.x = x;
        e.motion.y = y;
        e.motion.xrel = dx;
        e.motion.yrel = dy;
        push(e);
        PumpMessages();
        input.PollInput();
    };
    auto button = [&](bool down, int x, int y) {
        SDL_Event e{};
        e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        e.button.windowID = id;
        e.button.button = SDL_BUTTON_LEFT;
        e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.button.x = x;
        e.button.y = y;
        push(e);
        PumpMessages();
        input.PollInput();
    };
    motion(200, 200, 0, 0);  // outside
    motion(108, 30, -92, -170);  // onto the right edge (local 98, 20)
    EXPECT_EQ(frame.zone(), FrameWindow::kRight);
    EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, IDC_SIZEWE));
    button(true, 108, 30);
    EXPECT_TRUE(frame.resizing());
    EXPECT_EQ(g_guiRoot.focusWindow(), &frame);
    motion(160, 30, 52, 0);
    button(false, 160, 30);
    EXPECT_FALSE(frame.resizing());
    EXPECT_EQ(frame.rect().right, 151) << "the right edge followed the pointer to local x 150";
    // Entered; the button down; the drag's focus event; left (the pointer ran ahead of the
    // edge, and the drag follows it anyway); the button up. Axis updates reach the focus
    // window as type 0 and are left out.
    std::vector<int> pointerTypes;
    for (int t : frame.log) {
        if (t != 0) pointerTypes.push_back(t);
    }
    EXPECT_EQ(pointerTypes, (std::vector<int>{3, 6, 1, 5, 7}));
    frame.KillFocus();
    g_guiRoot.DispatchEvents();
    frame.Detach();
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
}

}  // namespace
