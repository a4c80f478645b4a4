// The preview's wait in this process: WM_USER starts a timer, and the wait ends when it falls
// due 500 ms later on the test clock, or when the window is destroyed meanwhile. The host is an
// X window of the tests' server, as a host program's would be.

#include "core/time/clock_source.h"
#include "platform/win32/win32_testing.h"
#include "saver/saver_app.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cstdlib>
#include <functional>

namespace {

uint32_t g_now = 1000;
uint32_t FakeClock() { return g_now += 5; }
uint64_t FakeTimerClock() { return g_now += 5; }

class WaitingSaver : public SaverApp {
public:
    std::function<void(HWND, UINT)> onMessage;
    LRESULT MsgProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override {
        const LRESULT result = SaverApp::MsgProc(hwnd, msg, wParam, lParam);
        if (onMessage) onMessage(hwnd, msg);
        return result;
    }
};

TEST(PreviewWaitTest, EndsOnTheTimerOrWhenTheWindowIsGone) {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) GTEST_SKIP() << "needs the tests' X server";
    // A child of another program's window needs the X driver, whatever the other tests use.
    setenv("SDL_VIDEODRIVER", "x11", 1);
    rh::testing::ScratchDir scratch{"rh_saver_preview_wait"};
    scratch.Enter();
    setenv("XDG_CONFIG_HOME", scratch.Path("config").c_str(), 1);
    SetClockSource(FakeClock);
    rh::win32::SetTimerClock(FakeTimerClock);
    for (const bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "window destroyed" : "timer");
        const Window host = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 160, 120, 0, 0, 0);
        XMapWindow(display, host);
        XSync(display, False);
        WaitingSaver app;
        int users = 0, timers = 0;
        uint32_t userAt = 0, timerAt = 0;
        app.onMessage = [&](HWND hwnd, UINT msg) {
            if (msg == WM_USER) {
                ++users;
                userAt = g_now;
                if (destroy) DestroyWindow(hwnd);
            }
            if (msg == WM_TIMER) {
                ++timers;
                timerAt = g_now;
                EXPECT_FALSE(app.previewWaiting()) << "the timer ends the wait";
            }
        };
        ASSERT_TRUE(app.Create(nullptr, SaverMode::Preview, static_cast<LONG>(host)));
        EXPECT_FALSE(app.previewWaiting());
        EXPECT_EQ(users, 1);
        if (destroy) {
            EXPECT_EQ(timers, 0);
        } else {
            ASSERT_EQ(timers, 1);
            EXPECT_GE(timerAt - userAt, 500u);
            EXPECT_LT(timerAt - userAt, 600u);
        }
        if (app.window() != nullptr && IsWindow(app.window())) DestroyWindow(app.window());
        XDestroyWindow(display, host);
        XSync(display, False);
    }
    SetClockSource(nullptr);
    rh::win32::SetTimerClock(nullptr);
    unsetenv("XDG_CONFIG_HOME");
    XCloseDisplay(display);
}

}  // namespace
