// Conformance of the message queue: send and post, retrieval filters and order, WM_QUIT,
// WM_PAINT and timers.

#include "platform/win32/win32_testing.h"
#include "window_test_support.h"

#include <cstdint>

namespace rh::test {
namespace {

using ::testing::ElementsAre;

const HWND kThreadOnly = reinterpret_cast<HWND>(static_cast<INT_PTR>(-1));

// Every message the filter retrieves, removing them, without dispatching.
std::vector<std::pair<HWND, UINT>> TakeAll(HWND filter, UINT minFilter = 0, UINT maxFilter = 0) {
    std::vector<std::pair<HWND, UINT>> out;
    MSG m;
    while (out.size() < 100 && PeekMessageA(&m, filter, minFilter, maxFilter, PM_REMOVE))
        out.emplace_back(m.hwnd, m.message);
    return out;
}

class QueueTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        // Not WS_VISIBLE: no WM_PAINT falls due unless a test asks for it.
        a_ = Make(0, 0, 50, 50, WS_POPUP);
        b_ = Make(60, 0, 50, 50, WS_POPUP);
        child_ = Make(0, 0, 10, 10, WS_CHILD, a_);
        Settle();
    }
    HWND a_ = nullptr, b_ = nullptr, child_ = nullptr;
};

TEST_F(QueueTest, SendIsHandledBeforeItReturnsPostWaitsForDispatch) {
    TheRecorder().answer = [](const Seen& s, LRESULT* r) {
        *r = 77;
        return s.msg == WM_USER;
    };
    EXPECT_EQ(SendMessageA(a_, WM_USER, 1, 2), 77);
    EXPECT_THAT(TheRecorder().Messages(), ElementsAre(WM_USER));

    TheRecorder().seen.clear();
    ASSERT_TRUE(PostMessageA(a_, WM_USER + 1, 3, 4));
    EXPECT_TRUE(TheRecorder().seen.empty());
    MSG m{};
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.hwnd, a_);
    EXPECT_EQ(m.message, UINT(WM_USER + 1));
    EXPECT_EQ(m.wParam, 3u);
    EXPECT_EQ(m.lParam, 4);
    EXPECT_TRUE(TheRecorder().seen.empty()) << "retrieving does not call the procedure";
    EXPECT_EQ(DispatchMessageA(&m), 0);
    EXPECT_THAT(TheRecorder().Messages(), ElementsAre(WM_USER + 1));
}

TEST_F(QueueTest, PostedMessagesComeOutInOrder) {
    for (UINT i = 0; i < 5; ++i) PostMessageA(i % 2 ? a_ : b_, WM_USER + i, 0, 0);
    EXPECT_THAT(TakeAll(nullptr),
                ElementsAre(std::make_pair(b_, UINT(WM_USER)), std::make_pair(a_, UINT(WM_USER + 1)),
                            std::make_pair(b_, UINT(WM_USER + 2)), std::make_pair(a_, UINT(WM_USER + 3)),
                            std::make_pair(b_, UINT(WM_USER + 4))));
}

TEST_F(QueueTest, NoRemoveLeavesTheMessage) {
    PostMessageA(a_, WM_USER, 0, 0);
    MSG m{};
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(QueueTest, WindowFilterTakesTheWindowAndItsChildrenNeverThreadMessages) {
    PostMessageA(a_, WM_USER, 0, 0);
    PostMessageA(nullptr, WM_USER + 1, 0, 0);  // a thread message
    PostMessageA(b_, WM_USER + 2, 0, 0);
    PostMessageA(child_, WM_USER + 3, 0, 0);
    PostQuitMessage(0);
    EXPECT_THAT(TakeAll(a_), ElementsAre(std::make_pair(a_, UINT(WM_USER)),
                                         std::make_pair(child_, UINT(WM_USER + 3))));
    EXPECT_THAT(TakeAll(kThreadOnly), ElementsAre(std::make_pair(HWND(nullptr), UINT(WM_USER + 1)),
                                                  std::make_pair(HWND(nullptr), UINT(WM_QUIT))));
    EXPECT_THAT(TakeAll(nullptr), ElementsAre(std::make_pair(b_, UINT(WM_USER + 2))));
}

TEST_F(QueueTest, RangeFilterKeepsOrderAmongWhatMatches) {
    PostMessageA(a_, WM_USER + 1, 0, 0);
    PostMessageA(a_, WM_USER + 5, 0, 0);
    PostMessageA(a_, WM_USER + 9, 0, 0);
    PostMessageA(a_, WM_USER + 2, 0, 0);
    EXPECT_THAT(TakeAll(nullptr, WM_USER + 2, WM_USER + 5),
                ElementsAre(std::make_pair(a_, UINT(WM_USER + 5)), std::make_pair(a_, UINT(WM_USER + 2))));
    EXPECT_THAT(TakeAll(nullptr), ElementsAre(std::make_pair(a_, UINT(WM_USER + 1)),
                                              std::make_pair(a_, UINT(WM_USER + 9))));
}

TEST_F(QueueTest, QuitComesAfterPostedMessagesAndEndsGetMessage) {
    PostQuitMessage(7);
    PostMessageA(a_, WM_USER, 0, 0);
    MSG m{};
    EXPECT_EQ(GetMessageA(&m, a_, 0, 0), 1);
    EXPECT_EQ(m.message, UINT(WM_USER));
    EXPECT_FALSE(PeekMessageA(&m, a_, 0, 0, PM_NOREMOVE)) << "a window filter never sees WM_QUIT";
    // WM_QUIT passes any range.
    ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE));
    EXPECT_EQ(m.message, UINT(WM_QUIT));
    EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), 0);
    EXPECT_EQ(m.message, UINT(WM_QUIT));
    EXPECT_EQ(m.wParam, 7u);
    EXPECT_EQ(m.hwnd, nullptr);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) << "retrieved once";
}

TEST_F(QueueTest, GetMessageRejectsBadArguments) {
    EXPECT_EQ(GetMessageA(nullptr, nullptr, 0, 0), -1);
    EXPECT_FALSE(PeekMessageA(nullptr, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(DispatchMessageA(nullptr), 0);
    EXPECT_FALSE(TranslateMessage(nullptr));
}

TEST_F(QueueTest, PaintStaysDueUntilValidatedAndYieldsToPostedMessages) {
    ShowWindow(a_, SW_SHOW);  // showing makes the window need painting
    PostMessageA(a_, WM_USER, 0, 0);
    MSG m{};
    ASSERT_TRUE(PeekMessageA(&m, a_, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, UINT(WM_USER));
    ASSERT_TRUE(PeekMessageA(&m, a_, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, UINT(WM_PAINT));
    ASSERT_TRUE(PeekMessageA(&m, a_, 0, 0, PM_REMOVE)) << "PM_REMOVE does not validate";
    EXPECT_EQ(m.message, UINT(WM_PAINT));

    // A procedure that handles WM_PAINT without validating keeps receiving it.
    TheRecorder().answer = [](const Seen& s, LRESULT* r) {
        *r = 0;
        return s.msg == WM_PAINT && TheRecorder().Only({WM_PAINT}).size() == 1;
    };
    DispatchMessageA(&m);
    ASSERT_TRUE(PeekMessageA(&m, a_, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, UINT(WM_PAINT));
    DispatchMessageA(&m);  // now DefWindowProcA validates
    EXPECT_FALSE(PeekMessageA(&m, a_, 0, 0, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&m, b_, 0, 0, PM_REMOVE)) << "a hidden window is never painted";
}

TEST_F(QueueTest, UpdateWindowSendsPaintAtOnce) {
    ShowWindow(a_, SW_SHOW);
    ASSERT_TRUE(UpdateWindow(a_));
    EXPECT_THAT(TheRecorder().Only({WM_PAINT}), ElementsAre(WM_PAINT)) << "before any retrieval";
}

// Timers run on a clock the tests move by hand, so no test sleeps or depends on how fast it
// runs.
uint64_t g_now = 0;
uint64_t ManualNow() { return g_now; }

class TimerTest : public QueueTest {
protected:
    void SetUp() override {
        g_now = 1'000'000;
        rh::win32::SetTimerClock(&ManualNow);
        QueueTest::SetUp();
    }
    void TearDown() override {
        QueueTest::TearDown();
        rh::win32::SetTimerClock(nullptr);
    }
    static void Advance(uint64_t ms) { g_now += ms; }
};

TEST_F(TimerTest, TimerFiresAfterItsIntervalAndStopsWhenKilled) {
    EXPECT_EQ(SetTimer(a_, 1, 60'000, nullptr), 1u);
    MSG m{};
    Advance(59'999);
    EXPECT_FALSE(PeekMessageA(&m, a_, 0, 0, PM_REMOVE)) << "not before the interval";
    EXPECT_EQ(SetTimer(a_, 1, 20, nullptr), 1u) << "restarting an existing timer";
    Advance(19);
    EXPECT_FALSE(PeekMessageA(&m, a_, 0, 0, PM_REMOVE)) << "restarting counts from now";
    Advance(1);
    ASSERT_EQ(GetMessageA(&m, a_, 0, 0), 1);
    EXPECT_EQ(m.message, UINT(WM_TIMER));
    EXPECT_EQ(m.hwnd, a_);
    EXPECT_EQ(m.wParam, 1u);
    DispatchMessageA(&m);
    EXPECT_THAT(TheRecorder().Messages(), ElementsAre(WM_TIMER));

    EXPECT_TRUE(KillTimer(a_, 1));
    EXPECT_FALSE(KillTimer(a_, 1));
    Advance(60);
    EXPECT_FALSE(PeekMessageA(&m, a_, 0, 0, PM_REMOVE));
}

TEST_F(TimerTest, ShortIntervalsAreRaisedToTenMilliseconds) {
    SetTimer(a_, 5, 1, nullptr);
    Advance(9);
    EXPECT_THAT(TakeAll(a_), ElementsAre());
    Advance(1);
    EXPECT_THAT(TakeAll(a_), ElementsAre(std::make_pair(a_, UINT(WM_TIMER))));
    KillTimer(a_, 5);
}

TEST_F(TimerTest, LateTimerDeliversOneMessageNotAPile) {
    SetTimer(a_, 2, 500, nullptr);
    Advance(1600);
    EXPECT_THAT(TakeAll(a_), ElementsAre(std::make_pair(a_, UINT(WM_TIMER))));
    // The next one falls due an interval after the late one was taken.
    Advance(499);
    EXPECT_THAT(TakeAll(a_), ElementsAre());
    Advance(1);
    EXPECT_THAT(TakeAll(a_), ElementsAre(std::make_pair(a_, UINT(WM_TIMER))));
    KillTimer(a_, 2);
}

TEST_F(TimerTest, TimersYieldToPostedMessagesAndDieWithTheirWindow) {
    SetTimer(b_, 3, 10, nullptr);
    Advance(30);
    PostMessageA(b_, WM_USER, 0, 0);
    MSG first{}, second{};
    ASSERT_TRUE(PeekMessageA(&first, b_, 0, 0, PM_REMOVE));
    ASSERT_TRUE(PeekMessageA(&second, b_, 0, 0, PM_REMOVE));
    EXPECT_EQ(first.message, UINT(WM_USER));
    EXPECT_EQ(second.message, UINT(WM_TIMER));
    DestroyWindow(b_);
    Advance(30);
    MSG m{};
    EXPECT_FALSE(PeekMessageA(&m, nullptr, WM_TIMER, WM_TIMER, PM_REMOVE));
}

std::vector<UINT_PTR> g_timerCalls;
void CALLBACK RecordTimer(HWND, UINT msg, UINT_PTR id, DWORD) {
    if (msg == WM_TIMER) g_timerCalls.push_back(id);
}

TEST_F(TimerTest, TimerProcedureIsCalledByDispatchInsteadOfTheWindow) {
    g_timerCalls.clear();
    SetTimer(a_, 4, 10, RecordTimer);
    Advance(10);
    MSG m{};
    ASSERT_EQ(GetMessageA(&m, a_, WM_TIMER, WM_TIMER), 1);
    EXPECT_EQ(m.lParam, reinterpret_cast<LPARAM>(&RecordTimer));
    DispatchMessageA(&m);
    EXPECT_THAT(g_timerCalls, ElementsAre(4u));
    EXPECT_TRUE(TheRecorder().seen.empty());
    KillTimer(a_, 4);

    // A WM_TIMER posted by hand names no running timer: nothing is called.
    PostMessageA(a_, WM_TIMER, 9, reinterpret_cast<LPARAM>(&RecordTimer));
    ASSERT_TRUE(PeekMessageA(&m, a_, 0, 0, PM_REMOVE));
    EXPECT_EQ(DispatchMessageA(&m), 0);
    EXPECT_THAT(g_timerCalls, ElementsAre(4u));
}

TEST_F(TimerTest, ThreadTimerGetsItsOwnId) {
    UINT_PTR first = SetTimer(nullptr, 0, 10, RecordTimer);
    UINT_PTR second = SetTimer(nullptr, 0, 10, RecordTimer);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, first);
    Advance(10);
    MSG m{};
    ASSERT_EQ(GetMessageA(&m, kThreadOnly, 0, 0), 1);
    EXPECT_EQ(m.hwnd, nullptr);
    EXPECT_EQ(m.message, UINT(WM_TIMER));
    EXPECT_FALSE(PeekMessageA(&m, a_, WM_TIMER, WM_TIMER, PM_REMOVE)) << "not a window's timer";
    EXPECT_TRUE(KillTimer(nullptr, first));
    EXPECT_TRUE(KillTimer(nullptr, second));
}

}  // namespace
}  // namespace rh::test
