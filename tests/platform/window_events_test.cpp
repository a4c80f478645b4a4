// Conformance of SDL events turned into window messages: keys with their VK codes and lParam
// bits, characters, activation and focus, size, paint, close and the mouse. Events are
// injected with SDL_PushEvent, as the display server would report them.

#include "window_test_support.h"

#include <cstring>

namespace rh::test {
namespace {

using ::testing::ElementsAre;

class EventTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        w_ = Make(100, 80, 320, 240);
        Settle();
    }

    void PushKey(bool down, SDL_Scancode scancode, SDL_Keycode keycode, Uint16 mod = KMOD_NONE,
                 bool repeat = false) {
        SDL_Event e{};
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.windowID = SdlId(w_);
        e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.key.repeat = repeat ? 1 : 0;
        e.key.keysym.scancode = scancode;
        e.key.keysym.sym = keycode;
        e.key.keysym.mod = mod;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }

    void PushText(const char* utf8) {
        SDL_Event e{};
        e.type = SDL_TEXTINPUT;
        e.text.windowID = SdlId(w_);
        std::strncpy(e.text.text, utf8, sizeof e.text.text - 1);
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }

    void PushMotion(int x, int y) {
        SDL_Event e{};
        e.type = SDL_MOUSEMOTION;
        e.motion.windowID = SdlId(w_);
        e.motion.x = x;
        e.motion.y = y;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }

    void PushButton(bool down, Uint8 button, int x, int y) {
        SDL_Event e{};
        e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        e.button.windowID = SdlId(w_);
        e.button.button = button;
        e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.button.clicks = 1;
        e.button.x = x;
        e.button.y = y;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }

    // The next message the window's queue holds, removed; WM_NULL when none.
    MSG Next() {
        MSG m{};
        if (!PeekMessageA(&m, w_, 0, 0, PM_REMOVE)) m.message = WM_NULL;
        return m;
    }

    HWND w_ = nullptr;
};

TEST_F(EventTest, KeysArriveWithVirtualKeyAndScanCodes) {
    struct Case {
        const char* name;
        SDL_Scancode scancode;
        SDL_Keycode keycode;
        WPARAM vk;
        int scan;
        bool extended;
    };
    const Case cases[] = {
        {"letter", SDL_SCANCODE_A, SDLK_a, 'A', 0x1E, false},
        {"letter by its label (AZERTY A)", SDL_SCANCODE_Q, SDLK_a, 'A', 0x10, false},
        {"digit", SDL_SCANCODE_7, SDLK_7, '7', 0x08, false},
        {"F3", SDL_SCANCODE_F3, SDLK_F3, VK_F3, 0x3D, false},
        {"F12", SDL_SCANCODE_F12, SDLK_F12, VK_F12, 0x58, false},
        {"Escape", SDL_SCANCODE_ESCAPE, SDLK_ESCAPE, VK_ESCAPE, 0x01, false},
        {"Enter", SDL_SCANCODE_RETURN, SDLK_RETURN, VK_RETURN, 0x1C, false},
        {"keypad Enter", SDL_SCANCODE_KP_ENTER, SDLK_KP_ENTER, VK_RETURN, 0x1C, true},
        {"space", SDL_SCANCODE_SPACE, SDLK_SPACE, VK_SPACE, 0x39, false},
        {"left arrow", SDL_SCANCODE_LEFT, SDLK_LEFT, VK_LEFT, 0x4B, true},
        {"page down", SDL_SCANCODE_PAGEDOWN, SDLK_PAGEDOWN, VK_NEXT, 0x51, true},
        {"keypad 4", SDL_SCANCODE_KP_4, SDLK_KP_4, VK_NUMPAD4, 0x4B, false},
        {"left shift", SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, VK_SHIFT, 0x2A, false},
        {"right control", SDL_SCANCODE_RCTRL, SDLK_RCTRL, VK_CONTROL, 0x1D, true},
        {"minus", SDL_SCANCODE_MINUS, SDLK_MINUS, VK_OEM_MINUS, 0x0C, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PushKey(true, c.scancode, c.keycode);
        PushKey(true, c.scancode, c.keycode, KMOD_NONE, true);
        DWORD codes = (DWORD(c.scan) << 16) | (c.extended ? 1u << 24 : 0u);
        MSG down = Next(), again = Next();
        EXPECT_LT(GetAsyncKeyState(static_cast<int>(c.vk)), 0) << "held down";
        PushKey(false, c.scancode, c.keycode);
        MSG up = Next();
        EXPECT_GE(GetAsyncKeyState(static_cast<int>(c.vk)), 0);
        EXPECT_EQ(down.message, UINT(WM_KEYDOWN));
        EXPECT_EQ(down.wParam, c.vk);
        EXPECT_EQ(DWORD(down.lParam), 1u | codes) << "repeat 1, was up, no Alt";
        EXPECT_EQ(again.message, UINT(WM_KEYDOWN));
        EXPECT_EQ(DWORD(again.lParam), 1u | codes | (1u << 30)) << "auto-repeat: was down";
        EXPECT_EQ(up.message, UINT(WM_KEYUP));
        EXPECT_EQ(up.wParam, c.vk);
        EXPECT_EQ(DWORD(up.lParam), 1u | codes | (1u << 30) | (1u << 31));
    }
}

TEST_F(EventTest, AltCombinationsAndF10AreSystemKeys) {
    PushKey(true, SDL_SCANCODE_X, SDLK_x, KMOD_LALT);
    PushKey(false, SDL_SCANCODE_X, SDLK_x, KMOD_LALT);
    PushKey(true, SDL_SCANCODE_F10, SDLK_F10);
    PushKey(true, SDL_SCANCODE_X, SDLK_x, KMOD_LALT | KMOD_LCTRL);  // AltGr types characters
    MSG m = Next();
    EXPECT_EQ(m.message, UINT(WM_SYSKEYDOWN));
    EXPECT_EQ(m.wParam, WPARAM('X'));
    EXPECT_NE(m.lParam & (1 << 29), 0) << "context code: Alt is down";
    EXPECT_EQ(Next().message, UINT(WM_SYSKEYUP));
    m = Next();
    EXPECT_EQ(m.message, UINT(WM_SYSKEYDOWN));
    EXPECT_EQ(m.wParam, WPARAM(VK_F10));
    EXPECT_EQ(m.lParam & (1 << 29), 0);
    EXPECT_EQ(Next().message, UINT(WM_KEYDOWN));
}

TEST_F(EventTest, AltF4ClosesTheWindowThroughTheDefaultProcedure) {
    PushKey(true, SDL_SCANCODE_F4, SDLK_F4, KMOD_LALT);
    Drain(w_);
    EXPECT_THAT(TheRecorder().Only({WM_SYSKEYDOWN, WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY}),
                ElementsAre(WM_SYSKEYDOWN, WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY));
    EXPECT_EQ(TheRecorder().Last(WM_SYSCOMMAND)->wParam, WPARAM(SC_CLOSE));
    EXPECT_FALSE(IsWindow(w_));
}

TEST_F(EventTest, TranslateMessageTypesCharactersBeforeLaterInput) {
    struct Case {
        const char* name;
        SDL_Scancode scancode;
        SDL_Keycode keycode;
        const char* text;  // the text input SDL reports for the key, or null
        std::vector<WPARAM> chars;
    };
    const Case cases[] = {
        {"letter", SDL_SCANCODE_A, SDLK_a, "a", {'a'}},
        {"shifted letter", SDL_SCANCODE_A, SDLK_a, "A", {'A'}},
        {"Latin-1 letter", SDL_SCANCODE_E, SDLK_e, "\xC3\xA9", {0xE9}},
        {"outside the code page", SDL_SCANCODE_E, SDLK_e, "\xE2\x82\xAC", {'?'}},
        {"Enter", SDL_SCANCODE_RETURN, SDLK_RETURN, nullptr, {'\r'}},
        {"Escape", SDL_SCANCODE_ESCAPE, SDLK_ESCAPE, nullptr, {0x1B}},
        {"Backspace", SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE, nullptr, {'\b'}},
        {"F3 types nothing", SDL_SCANCODE_F3, SDLK_F3, nullptr, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PushKey(true, c.scancode, c.keycode);
        if (c.text != nullptr) PushText(c.text);
        PushKey(false, c.scancode, c.keycode);
        MSG down = Next();
        ASSERT_EQ(down.message, UINT(WM_KEYDOWN));
        EXPECT_TRUE(TranslateMessage(&down));
        std::vector<WPARAM> typed;
        MSG m = Next();
        for (; m.message == WM_CHAR; m = Next()) {
            typed.push_back(m.wParam);
            EXPECT_EQ(m.lParam, down.lParam) << "a character carries its key's lParam";
        }
        EXPECT_EQ(typed, c.chars);
        EXPECT_EQ(m.message, UINT(WM_KEYUP));
        EXPECT_EQ(Next().message, UINT(WM_NULL));
    }
}

TEST_F(EventTest, WithoutTranslateMessageNoCharacters) {
    PushKey(true, SDL_SCANCODE_A, SDLK_a);
    PushText("a");
    PushKey(false, SDL_SCANCODE_A, SDLK_a);
    EXPECT_EQ(Next().message, UINT(WM_KEYDOWN));
    EXPECT_EQ(Next().message, UINT(WM_KEYUP));
    EXPECT_EQ(Next().message, UINT(WM_NULL));
}

TEST_F(EventTest, FocusChangesActivateThenFocusAndDeactivateThenKillFocus) {
    PushWindowEvent(w_, SDL_WINDOWEVENT_FOCUS_GAINED);
    Drain();
    PushWindowEvent(w_, SDL_WINDOWEVENT_FOCUS_LOST);
    Drain();
    auto seen = TheRecorder().seen;
    std::vector<std::pair<UINT, WPARAM>> order;
    for (const Seen& s : seen) {
        if (s.msg == WM_ACTIVATE || s.msg == WM_SETFOCUS || s.msg == WM_KILLFOCUS)
            order.emplace_back(s.msg, s.msg == WM_ACTIVATE ? LOWORD(s.wParam) : 0);
    }
    EXPECT_THAT(order, ElementsAre(std::make_pair(UINT(WM_ACTIVATE), WPARAM(WA_ACTIVE)),
                                   std::make_pair(UINT(WM_SETFOCUS), WPARAM(0)),
                                   std::make_pair(UINT(WM_ACTIVATE), WPARAM(WA_INACTIVE)),
                                   std::make_pair(UINT(WM_KILLFOCUS), WPARAM(0))));
}

TEST_F(EventTest, MinimiseRestoreAndResizeSendSize) {
    PushWindowEvent(w_, SDL_WINDOWEVENT_MINIMIZED);
    Drain();
    const Seen* size = TheRecorder().Last(WM_SIZE);
    ASSERT_NE(size, nullptr);
    EXPECT_EQ(size->wParam, WPARAM(SIZE_MINIMIZED));

    PushWindowEvent(w_, SDL_WINDOWEVENT_RESTORED);
    Drain();
    size = TheRecorder().Last(WM_SIZE);
    EXPECT_EQ(size->wParam, WPARAM(SIZE_RESTORED));
    EXPECT_EQ(LOWORD(size->lParam), 320);
    EXPECT_EQ(HIWORD(size->lParam), 240);

    TheRecorder().seen.clear();
    PushWindowEvent(w_, SDL_WINDOWEVENT_RESIZED, 400, 300);
    Drain();
    EXPECT_THAT(TheRecorder().Only({WM_SIZE, WM_EXITSIZEMOVE}), ElementsAre(WM_SIZE, WM_EXITSIZEMOVE));
    size = TheRecorder().Last(WM_SIZE);
    EXPECT_EQ(LOWORD(size->lParam), 400);
    EXPECT_EQ(HIWORD(size->lParam), 300);
    RECT client{};
    GetClientRect(w_, &client);
    EXPECT_EQ(client.right, 400);
    EXPECT_EQ(client.bottom, 300);
}

TEST_F(EventTest, ExposeQueuesPaint) {
    Drain();  // validated
    PushWindowEvent(w_, SDL_WINDOWEVENT_EXPOSED);
    MSG m = Next();
    EXPECT_EQ(m.message, UINT(WM_PAINT));
}

TEST_F(EventTest, CloseRequestSendsClose) {
    TheRecorder().answer = [](const Seen& s, LRESULT* r) {
        *r = 0;
        return s.msg == WM_CLOSE;  // a program that keeps its window open
    };
    PushWindowEvent(w_, SDL_WINDOWEVENT_CLOSE);
    Drain();
    EXPECT_THAT(TheRecorder().Only({WM_CLOSE, WM_DESTROY}), ElementsAre(WM_CLOSE));
    EXPECT_TRUE(IsWindow(w_));

    TheRecorder().answer = nullptr;  // the default procedure destroys it
    PushWindowEvent(w_, SDL_WINDOWEVENT_CLOSE);
    Drain();
    EXPECT_FALSE(IsWindow(w_));
}

TEST_F(EventTest, MouseMoveCoordinatesAgreeWithTheCursorPosition) {
    PushMotion(3, 4);
    PushMotion(37, 21);  // moves pile up into the newest
    MSG m = Next();
    ASSERT_EQ(m.message, UINT(WM_MOUSEMOVE));
    EXPECT_EQ(LOWORD(m.lParam), 37);
    EXPECT_EQ(HIWORD(m.lParam), 21);
    const Seen* setCursor = TheRecorder().Last(WM_SETCURSOR);
    ASSERT_NE(setCursor, nullptr) << "the window is asked for the pointer shape";
    EXPECT_EQ(LOWORD(setCursor->lParam), HTCLIENT);
    EXPECT_EQ(HIWORD(setCursor->lParam), WM_MOUSEMOVE);

    POINT p{};
    ASSERT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(p.x, 100 + 37) << "screen pixels";
    EXPECT_EQ(p.y, 80 + 21);
    ASSERT_TRUE(ScreenToClient(w_, &p));
    EXPECT_EQ(p.x, 37);
    EXPECT_EQ(p.y, 21);
    EXPECT_EQ(Next().message, UINT(WM_NULL));
}

// Windows asks for the pointer's shape before every mouse move it delivers; a program that
// answers with SetCursor(NULL) has no pointer over its window.
TEST_F(EventTest, EveryMouseMoveAsksForThePointerShapeFirst) {
    TheRecorder().answer = [](const Seen& s, LRESULT* result) {
        if (s.msg != WM_SETCURSOR) return false;
        SetCursor(nullptr);
        *result = TRUE;
        return true;
    };
    PushMotion(3, 4);
    PushKey(true, SDL_SCANCODE_A, SDLK_a);  // keeps the two moves apart in the queue
    PushMotion(5, 6);
    Drain();
    EXPECT_THAT(TheRecorder().Only({WM_SETCURSOR, WM_MOUSEMOVE}),
                ElementsAre(WM_SETCURSOR, WM_MOUSEMOVE, WM_SETCURSOR, WM_MOUSEMOVE));
    const Seen* setCursor = TheRecorder().Last(WM_SETCURSOR);
    ASSERT_NE(setCursor, nullptr);
    EXPECT_EQ(setCursor->wParam, reinterpret_cast<WPARAM>(w_));
    EXPECT_EQ(LOWORD(setCursor->lParam), HTCLIENT);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE) << "SetCursor(NULL) hides the pointer";

    // The default handling sets the class cursor again, and the pointer is back.
    TheRecorder().answer = nullptr;
    PushMotion(7, 8);
    Drain();
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
    PushKey(false, SDL_SCANCODE_A, SDLK_a);
    Drain();
}

TEST_F(EventTest, ButtonsArriveAndShowInTheKeyState) {
    struct Case {
        Uint8 button;
        int vk;
        UINT downMsg, upMsg;
        WPARAM mk;
    };
    const Case cases[] = {
        {SDL_BUTTON_LEFT, VK_LBUTTON, WM_LBUTTONDOWN, WM_LBUTTONUP, MK_LBUTTON},
        {SDL_BUTTON_RIGHT, VK_RBUTTON, WM_RBUTTONDOWN, WM_RBUTTONUP, MK_RBUTTON},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.vk);
        PushButton(true, c.button, 5, 6);
        MSG down = Next();
        EXPECT_EQ(down.message, c.downMsg);
        EXPECT_EQ(down.wParam & c.mk, c.mk);
        EXPECT_EQ(LOWORD(down.lParam), 5);
        EXPECT_EQ(HIWORD(down.lParam), 6);
        EXPECT_LT(GetAsyncKeyState(c.vk), 0);
        PushButton(false, c.button, 5, 6);
        MSG up = Next();
        EXPECT_EQ(up.message, c.upMsg);
        EXPECT_EQ(up.wParam & c.mk, 0u);
        EXPECT_GE(GetAsyncKeyState(c.vk), 0);
    }
}

TEST_F(EventTest, WheelReportsMultiplesOfWheelDelta) {
    SDL_Event e{};
    e.type = SDL_MOUSEWHEEL;
    e.wheel.windowID = SdlId(w_);
    e.wheel.y = -2;
    e.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    ASSERT_EQ(SDL_PushEvent(&e), 1);
    MSG m = Next();
    ASSERT_EQ(m.message, UINT(WM_MOUSEWHEEL));
    EXPECT_EQ(static_cast<SHORT>(HIWORD(m.wParam)), -2 * WHEEL_DELTA) << "towards the user";
}

TEST_F(EventTest, EventsOfForeignWindowsAreIgnored) {
    SDL_Window* foreign = SDL_CreateWindow("", 0, 0, 10, 10, SDL_WINDOW_HIDDEN);
    ASSERT_NE(foreign, nullptr);
    EXPECT_EQ(rh::win32::WindowFromSdlWindow(foreign), nullptr);
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = SDL_GetWindowID(foreign);
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    SDL_PushEvent(&e);
    e.type = SDL_MOUSEMOTION;
    e.motion.windowID = SDL_GetWindowID(foreign);
    SDL_PushEvent(&e);
    Drain();
    EXPECT_TRUE(TheRecorder().Only({WM_CLOSE, WM_MOUSEMOVE}).empty());
    EXPECT_TRUE(IsWindow(w_));
    SDL_DestroyWindow(foreign);
}

}  // namespace
}  // namespace rh::test
