// Conformance of window classes and windows made by CreateWindowExA: creation and destruction
// messages, geometry, window longs, the default procedure, stale handles and the cursor.

#include "window_test_support.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace rh::test {
namespace {

using ::testing::ElementsAre;

TEST_F(WindowTest, ClassNamesAreUniqueCaseInsensitiveAndNeedAProcedure) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "recordingwindow";
    EXPECT_EQ(RegisterClassA(&wc), 0) << "a name differing only in case is taken";
    wc.lpszClassName = "Other";
    wc.lpfnWndProc = nullptr;
    EXPECT_EQ(RegisterClassA(&wc), 0) << "no procedure";
    EXPECT_EQ(RegisterClassA(nullptr), 0);
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                              nullptr, nullptr),
              nullptr);
    EXPECT_FALSE(UnregisterClassA("NoSuchClass", nullptr));
}

TEST_F(WindowTest, ClassWithLiveWindowCannotBeUnregistered) {
    HWND w = Make();
    EXPECT_FALSE(UnregisterClassA(kClassName, nullptr));
    DestroyWindow(w);
    EXPECT_TRUE(UnregisterClassA(kClassName, nullptr));
    // TearDown unregisters again; register it anew so that it can.
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = kClassName;
    EXPECT_NE(RegisterClassA(&wc), 0);
}

TEST_F(WindowTest, ClassAtomNamesTheClass) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "ByAtom";
    ATOM atom = RegisterClassA(&wc);
    ASSERT_NE(atom, 0);
    HWND w = CreateWindowExA(0, MAKEINTRESOURCEA(atom), "", WS_POPUP, 0, 0, 10, 10, nullptr,
                             nullptr, nullptr, nullptr);
    EXPECT_NE(w, nullptr);
    DestroyWindow(w);
    EXPECT_TRUE(UnregisterClassA("ByAtom", nullptr));
}

TEST_F(WindowTest, CreationSendsNcCreateThenCreateWithTheCreateStruct) {
    int tag = 0;
    const void* createParams[2] = {};
    TheRecorder().answer = [&](const Seen& s, LRESULT*) {
        if (s.msg == WM_NCCREATE) createParams[0] = reinterpret_cast<CREATESTRUCTA*>(s.lParam)->lpCreateParams;
        if (s.msg == WM_CREATE) createParams[1] = reinterpret_cast<CREATESTRUCTA*>(s.lParam)->lpCreateParams;
        return false;
    };
    HWND w = CreateWindowExA(0, kClassName, "made", WS_POPUP, 5, 6, 70, 80, nullptr, nullptr,
                             nullptr, &tag);
    made_.push_back(w);
    ASSERT_NE(w, nullptr);
    std::vector<UINT> first(TheRecorder().seen.size() >= 2 ? 2 : 0);
    for (size_t i = 0; i < first.size(); ++i) first[i] = TheRecorder().seen[i].msg;
    EXPECT_THAT(first, ElementsAre(WM_NCCREATE, WM_CREATE));
    EXPECT_EQ(createParams[0], &tag);
    EXPECT_EQ(createParams[1], &tag);
    char title[16] = "sentinel";
    EXPECT_EQ(GetWindowTextA(w, title, sizeof title), 4);
    EXPECT_STREQ(title, "made");
}

TEST_F(WindowTest, ProcedureCanRefuseCreation) {
    for (UINT refused : {UINT(WM_NCCREATE), UINT(WM_CREATE)}) {
        SCOPED_TRACE(refused);
        TheRecorder().answer = [refused](const Seen& s, LRESULT* r) {
            if (s.msg != refused) return false;
            *r = refused == WM_NCCREATE ? FALSE : -1;
            return true;
        };
        EXPECT_EQ(CreateWindowExA(0, kClassName, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  nullptr, nullptr),
                  nullptr);
    }
}

TEST_F(WindowTest, PopupWindowIsAnOpenGlWindowAtItsRect) {
    HWND w = Make(30, 40, 200, 150);
    RECT r{-1, -1, -1, -1};
    ASSERT_TRUE(GetWindowRect(w, &r));
    EXPECT_EQ(r.left, 30);
    EXPECT_EQ(r.top, 40);
    EXPECT_EQ(r.right, 230);
    EXPECT_EQ(r.bottom, 190);
    ASSERT_TRUE(GetClientRect(w, &r));
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, 200);
    EXPECT_EQ(r.bottom, 150);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(w, GWL_STYLE)) & (WS_POPUP | WS_VISIBLE),
              DWORD(WS_POPUP | WS_VISIBLE));

    SDL_Window* sdl = rh::win32::SdlWindowOf(w);
    ASSERT_NE(sdl, nullptr);
    EXPECT_NE(SDL_GetWindowFlags(sdl) & SDL_WINDOW_OPENGL, 0u);
    EXPECT_EQ(rh::win32::WindowFromSdlWindow(sdl), w);
    EXPECT_EQ(rh::win32::WindowFromSdlWindow(nullptr), nullptr);
    EXPECT_EQ(rh::win32::SdlWindowOf(nullptr), nullptr);

    RECT adjusted{0, 0, 200, 150};
    EXPECT_TRUE(AdjustWindowRect(&adjusted, WS_CHILD | WS_VISIBLE, FALSE));
    EXPECT_EQ(adjusted.right, 200) << "a borderless window has no frame to add";
}

TEST_F(WindowTest, ChildSitsOverItsParentsClientAreaAndFollowsIt) {
    HWND parent = Make(100, 50, 300, 200);
    HWND child = Make(10, 20, 40, 30, WS_CHILD | WS_VISIBLE, parent);
    EXPECT_EQ(GetParent(child), parent);
    RECT r{};
    GetWindowRect(child, &r);
    EXPECT_EQ(r.left, 110);
    EXPECT_EQ(r.top, 70);
    EXPECT_EQ(r.right, 150);
    EXPECT_EQ(r.bottom, 100);

    ASSERT_TRUE(SetWindowPos(parent, nullptr, 200, 60, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
    GetWindowRect(child, &r);
    EXPECT_EQ(r.left, 210);
    EXPECT_EQ(r.top, 80);

    POINT p{215, 85};
    ASSERT_TRUE(ScreenToClient(child, &p));
    EXPECT_EQ(p.x, 5);
    EXPECT_EQ(p.y, 5);
}

TEST_F(WindowTest, ChildOfAForeignWindowNumberKeepsItsOwnRect) {
    // A preview parent handed over on the command line is not a window of this process.
    HWND foreign = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x12345));
    HWND child = Make(100, 100, 50, 50, WS_CHILD | WS_VISIBLE, foreign);
    EXPECT_EQ(GetParent(child), nullptr);
    RECT r{};
    GetWindowRect(child, &r);
    EXPECT_EQ(r.left, 100);
    EXPECT_EQ(r.top, 100);
    EXPECT_EQ(r.right, 150);
    EXPECT_EQ(r.bottom, 150);
}

TEST_F(WindowTest, DestroySendsDestroyAtOnceParentBeforeChild) {
    HWND parent = Make();
    HWND child = Make(0, 0, 10, 10, WS_CHILD | WS_VISIBLE, parent);
    Settle();
    ASSERT_TRUE(PostMessageA(parent, WM_USER, 0, 0));
    ASSERT_TRUE(DestroyWindow(parent));
    std::vector<std::pair<HWND, UINT>> destroys;
    for (const Seen& s : TheRecorder().seen) {
        if (s.msg == WM_DESTROY) destroys.emplace_back(s.hwnd, s.msg);
    }
    EXPECT_THAT(destroys, ElementsAre(std::make_pair(parent, UINT(WM_DESTROY)),
                                      std::make_pair(child, UINT(WM_DESTROY))));
    EXPECT_FALSE(IsWindow(parent));
    EXPECT_FALSE(IsWindow(child));
    MSG m;
    EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_USER, WM_USER, PM_REMOVE))
        << "a destroyed window's posted messages go with it";
}

TEST_F(WindowTest, DestroyFromWithinDestroyIsRefused) {
    HWND w = Make();
    BOOL inner = TRUE;
    TheRecorder().answer = [&](const Seen& s, LRESULT*) {
        if (s.msg == WM_DESTROY) inner = DestroyWindow(s.hwnd);
        return false;
    };
    EXPECT_TRUE(DestroyWindow(w));
    EXPECT_FALSE(inner);
    EXPECT_EQ(TheRecorder().Only({WM_DESTROY}).size(), 1u);
}

TEST_F(WindowTest, StaleHandleFailsEveryCallSafely) {
    HWND w = Make();
    DestroyWindow(w);
    RECT r{7, 7, 7, 7};
    POINT p{7, 7};
    MSG m{};
    EXPECT_FALSE(IsWindow(w));
    EXPECT_FALSE(DestroyWindow(w));
    EXPECT_FALSE(GetWindowRect(w, &r));
    EXPECT_FALSE(GetClientRect(w, &r));
    EXPECT_EQ(r.left, 7) << "a failing call leaves the out-parameter alone";
    EXPECT_FALSE(ScreenToClient(w, &p));
    EXPECT_EQ(p.x, 7);
    EXPECT_EQ(GetWindowLongA(w, GWL_STYLE), 0);
    EXPECT_EQ(SetWindowLongA(w, GWL_USERDATA, 5), 0);
    EXPECT_FALSE(SetWindowPos(w, nullptr, 0, 0, 1, 1, SWP_NOZORDER));
    EXPECT_FALSE(ShowWindow(w, SW_SHOW));
    EXPECT_FALSE(UpdateWindow(w));
    EXPECT_FALSE(PostMessageA(w, WM_USER, 0, 0));
    EXPECT_EQ(SendMessageA(w, WM_USER, 0, 0), 0);
    EXPECT_EQ(DefWindowProcA(w, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(SetTimer(w, 1, 100, nullptr), 0u);
    EXPECT_FALSE(KillTimer(w, 1));
    EXPECT_FALSE(PeekMessageA(&m, w, 0, 0, PM_REMOVE));
    EXPECT_EQ(GetMessageA(&m, w, 0, 0), -1);
    EXPECT_EQ(rh::win32::SdlWindowOf(w), nullptr);
    EXPECT_TRUE(TheRecorder().Only({WM_USER, WM_CLOSE}).empty());
}

TEST_F(WindowTest, WindowLongsRoundTrip) {
    HWND w = Make();
    struct Case {
        int index;
        LONG value;
    };
    const Case cases[] = {
        {GWL_STYLE, static_cast<LONG>(WS_POPUP | WS_VISIBLE | WS_CAPTION)},
        {GWL_EXSTYLE, static_cast<LONG>(WS_EX_TOPMOST)},
        {GWL_USERDATA, -12345},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.index);
        LONG before = GetWindowLongA(w, c.index);
        EXPECT_EQ(SetWindowLongA(w, c.index, c.value), before) << "answers the previous value";
        EXPECT_EQ(GetWindowLongA(w, c.index), c.value);
    }
    EXPECT_EQ(GetWindowLongA(w, 12345), 0) << "an unknown index";
}

TEST_F(WindowTest, SetWindowPosMovesSizesAndSendsSize) {
    HWND w = Make(0, 0, 100, 100);
    Settle();
    ASSERT_TRUE(SetWindowPos(w, HWND_NOTOPMOST, 40, 50, 320, 240, SWP_SHOWWINDOW));
    RECT r{};
    GetWindowRect(w, &r);
    EXPECT_EQ(r.left, 40);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right, 360);
    EXPECT_EQ(r.bottom, 290);
    const Seen* size = TheRecorder().Last(WM_SIZE);
    ASSERT_NE(size, nullptr) << "WM_SIZE arrives during SetWindowPos";
    EXPECT_EQ(size->wParam, WPARAM(SIZE_RESTORED));
    EXPECT_EQ(LOWORD(size->lParam), 320);
    EXPECT_EQ(HIWORD(size->lParam), 240);

    ASSERT_TRUE(SetWindowPos(w, nullptr, 1, 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
    GetWindowRect(w, &r);
    EXPECT_EQ(r.right - r.left, 320);
    EXPECT_EQ(r.left, 1);
}

TEST_F(WindowTest, DefaultProcedureClosesThroughTheSystemCommand) {
    HWND w = Make();
    Settle();
    EXPECT_EQ(SendMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0), 0);
    EXPECT_THAT(TheRecorder().Only({WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY}),
                ElementsAre(WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY));
    EXPECT_FALSE(IsWindow(w));
}

TEST_F(WindowTest, DefaultProcedureTurnsAltF4IntoClose) {
    HWND w = Make();
    Settle();
    LPARAM altDown = 1 | (0x3E << 16) | (1 << 29);
    SendMessageA(w, WM_SYSKEYDOWN, VK_F4, altDown);
    const Seen* command = TheRecorder().Last(WM_SYSCOMMAND);
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->wParam, WPARAM(SC_CLOSE));
    EXPECT_FALSE(IsWindow(w));

    HWND other = Make();
    SendMessageA(other, WM_SYSKEYDOWN, VK_F4, 1 | (0x3E << 16)) ;  // F4 without Alt
    EXPECT_TRUE(IsWindow(other));
}

TEST_F(WindowTest, DefaultProcedureAnswers) {
    HWND w = Make();
    EXPECT_EQ(DefWindowProcA(w, WM_NCHITTEST, 0, 0), HTCLIENT);
    EXPECT_EQ(DefWindowProcA(w, WM_USER + 9, 1, 2), 0);
    EXPECT_EQ(DefWindowProcA(w, WM_SETCURSOR, reinterpret_cast<WPARAM>(w),
                             MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
              TRUE);
}

TEST_F(WindowTest, ShowCursorCountsAndHidesBelowZero) {
    Make();  // SDL video is up from here
    ASSERT_EQ(ShowCursor(TRUE), 1) << "the count starts at 0";
    EXPECT_EQ(ShowCursor(FALSE), 0);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    EXPECT_EQ(ShowCursor(FALSE), -2);
    EXPECT_EQ(ShowCursor(TRUE), -1);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE) << "still below 0";
    EXPECT_EQ(ShowCursor(TRUE), 0);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
}

TEST_F(WindowTest, SystemCursorsOnly) {
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    EXPECT_NE(arrow, nullptr);
    EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), arrow) << "one shared handle";
    for (LPCSTR id : {IDC_SIZENWSE, IDC_SIZENESW, IDC_SIZEWE, IDC_SIZENS}) {
        EXPECT_NE(LoadCursorA(nullptr, id), nullptr);
    }
    EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(1)), nullptr);
    EXPECT_EQ(LoadCursorA(reinterpret_cast<HINSTANCE>(1), IDC_ARROW), nullptr);
    HCURSOR sizeWe = LoadCursorA(nullptr, IDC_SIZEWE);
    HCURSOR before = SetCursor(sizeWe);
    EXPECT_EQ(GetCursor(), sizeWe);
    EXPECT_EQ(SetCursor(nullptr), sizeWe);
    EXPECT_EQ(GetCursor(), nullptr);
    EXPECT_EQ(SetCursor(before), nullptr);
    EXPECT_EQ(GetCursor(), before);
}

// SDL falls back to its offscreen driver when no display answers; a window there is never seen.
// Without a display and without SDL_VIDEODRIVER asking for such a driver, windows and the GL
// probe fail, and the layer says so once, however often it is asked.
TEST(WindowWithoutDisplayTest, WindowsFailAndTheLayerSaysSoOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: SDL not started yet
    auto oneLineNamingTheDisplay = [](const std::string& errors) {
        size_t newline = errors.find('\n');
        return newline != std::string::npos && newline + 1 == errors.size() &&
               errors.find("no display") != std::string::npos;
    };
    EXPECT_EXIT(
        {
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            unsetenv("SDL_VIDEODRIVER");
            // With no runtime directory, the Wayland client library SDL tries complains by itself.
            char runtime[] = "/tmp/rh-nodisplay-XXXXXX";
            if (mkdtemp(runtime) != nullptr) setenv("XDG_RUNTIME_DIR", runtime, 1);
            WNDCLASSA wc{};
            wc.lpfnWndProc = DefWindowProcA;
            wc.lpszClassName = "Unseen";
            RegisterClassA(&wc);
            bool failed = true;
            for (int attempt = 0; attempt < 2; ++attempt) {
                failed = failed && CreateWindowExA(0, "Unseen", "", WS_POPUP | WS_VISIBLE, 0, 0, 640, 480, nullptr,
                                                   nullptr, nullptr, nullptr) == nullptr;
            }
            failed = failed && !rh::win32::ProbeGlDriver().hasContext;
            rmdir(runtime);
            std::exit(failed ? 0 : 1);
        },
        testing::ExitedWithCode(0), testing::Truly(oneLineNamingTheDisplay));
}

}  // namespace
}  // namespace rh::test
