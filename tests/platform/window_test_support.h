// A recording window class for the window and message-queue conformance tests: every message
// the procedure receives is logged, in order, with the depth of nesting it arrived at.
#pragma once

#include "platform/win32/sdl_window_local.h"

#include <windows.h>

#include <SDL.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace rh::test {

struct Seen {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

// What the recording procedure does: logs, then asks `answer` (when set) and falls back to
// DefWindowProcA.
struct Recorder {
    std::vector<Seen> seen;
    std::function<bool(const Seen&, LRESULT*)> answer;

    std::vector<UINT> Messages(HWND hwnd = nullptr) const {
        std::vector<UINT> out;
        for (const Seen& s : seen) {
            if (hwnd == nullptr || s.hwnd == hwnd) out.push_back(s.msg);
        }
        return out;
    }
    // The messages among `only` that arrived, in order.
    std::vector<UINT> Only(std::initializer_list<UINT> only) const {
        std::vector<UINT> out;
        for (const Seen& s : seen) {
            for (UINT m : only) {
                if (s.msg == m) out.push_back(m);
            }
        }
        return out;
    }
    const Seen* Last(UINT msg) const {
        for (auto it = seen.rbegin(); it != seen.rend(); ++it) {
            if (it->msg == msg) return &*it;
        }
        return nullptr;
    }
};

inline Recorder& TheRecorder() {
    static Recorder recorder;
    return recorder;
}

inline LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Seen s{hwnd, msg, wParam, lParam};
    TheRecorder().seen.push_back(s);
    LRESULT result = 0;
    auto answer = TheRecorder().answer;  // a copy: the answer may replace itself
    if (answer && answer(s, &result)) return result;
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

inline constexpr char kClassName[] = "RecordingWindow";

// Registers the recording class, makes windows and takes down what is left at the end.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        TheRecorder() = Recorder{};
        WNDCLASSA wc{};
        wc.lpfnWndProc = RecordingProc;
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.lpszClassName = kClassName;
        ASSERT_NE(RegisterClassA(&wc), 0);
    }

    void TearDown() override {
        TheRecorder().answer = nullptr;
        for (HWND w : made_) {
            if (IsWindow(w)) DestroyWindow(w);
        }
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        }
        EXPECT_TRUE(UnregisterClassA(kClassName, nullptr));
    }

    HWND Make(int x = 10, int y = 20, int cx = 160, int cy = 120, DWORD style = WS_POPUP | WS_VISIBLE,
              HWND parent = nullptr) {
        HWND w = CreateWindowExA(0, kClassName, "test", style, x, y, cx, cy, parent, nullptr,
                                 nullptr, nullptr);
        EXPECT_NE(w, nullptr);
        made_.push_back(w);
        return w;
    }

    // Retrieves, translates and dispatches until nothing is left, then forgets what was seen,
    // so a test starts from a quiet queue.
    static void Settle() {
        Drain();
        TheRecorder().seen.clear();
    }

    // Retrieves, translates and dispatches everything the filter sees.
    static void Drain(HWND filter = nullptr) {
        MSG m;
        // Bounded: a window that is never validated keeps WM_PAINT due forever.
        for (int i = 0; i < 1000 && PeekMessageA(&m, filter, 0, 0, PM_REMOVE); ++i) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
    }

    static Uint32 SdlId(HWND hwnd) { return SDL_GetWindowID(rh::win32::SdlWindowOf(hwnd)); }

    static void PushWindowEvent(HWND hwnd, Uint8 kind, int data1 = 0, int data2 = 0) {
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.windowID = SdlId(hwnd);
        e.window.event = kind;
        e.window.data1 = data1;
        e.window.data2 = data2;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
    }

    std::vector<HWND> made_;
};

}  // namespace rh::test
