// The engine clock, interval timers and the random-interval scheduler, driven by a hand-set
// millisecond source: nothing here sleeps or depends on the speed of the machine.
#include "core/time/clock.h"

#include "core/time/clock_source.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

uint32_t g_manualNow = 0;
uint32_t ReadManualNow() { return g_manualNow; }

// Every test starts on a fresh clock that reads g_manualNow, and leaves the real one behind.
class ManualClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_manualNow = 0;
        SetClockSource(&ReadManualNow);
    }
    void TearDown() override { SetClockSource(nullptr); }

    static void SetNow(uint32_t ms) { g_manualNow = ms; }
    // A fresh clock reading ms: moving the source back would count as a wrap.
    static void Restart(uint32_t ms) {
        g_manualNow = ms;
        SetClockSource(&ReadManualNow);
    }
    static void Advance(uint32_t ms) { g_manualNow += ms; }  // wraps like the timer
};

std::vector<int64_t> Walk(const LinkedList<int64_t>& list) {
    std::vector<int64_t> out;
    const LinkedList<int64_t>::Node* node = list.first();
    for (int32_t i = 0; i < list.count(); ++i, node = node->next) out.push_back(node->element);
    return out;
}

// ---------------------------------------------------------------------------------------------
// ClockNow and FreezeClock

using ClockTest = ManualClockTest;

TEST_F(ClockTest, CountsWrapsOfTheThirtyTwoBitTimer) {
    SetNow(0xFFFFFFF0u);
    EXPECT_EQ(ClockNow(), 0xFFFFFFF0u) << "before the first wrap the clock is the timer";
    SetNow(0x10u);
    EXPECT_EQ(ClockNow(), 0x100000010u);
    SetNow(0x10u);
    EXPECT_EQ(ClockNow(), 0x100000010u) << "an unchanged reading is no wrap";
    SetNow(0xFFFFFFFFu);
    EXPECT_EQ(ClockNow(), 0x1FFFFFFFFu);
    SetNow(5);
    EXPECT_EQ(ClockNow(), 0x200000005u);
}

TEST_F(ClockTest, FreezingTwiceKeepsTheFirstTimeAndReleaseJumpsToRealTime) {
    SetNow(1000);
    FreezeClock(true);
    Advance(500);
    EXPECT_EQ(ClockNow(), 1000u);
    FreezeClock(true);
    Advance(500);
    EXPECT_EQ(ClockNow(), 1000u) << "a second freeze must not move the frozen time";
    FreezeClock(false);
    EXPECT_EQ(ClockNow(), 2000u) << "no offset is kept for the frozen span";
    FreezeClock(false);
    EXPECT_EQ(ClockNow(), 2000u);
}

TEST_F(ClockTest, FreezingAcrossTheWrapSeesTheWrap) {
    SetNow(0xFFFFFF00u);
    EXPECT_EQ(ClockNow(), 0xFFFFFF00u);
    SetNow(0x100u);
    FreezeClock(true);
    EXPECT_EQ(ClockNow(), 0x100000100u);
    FreezeClock(false);
}

TEST(RealClockTest, NeverGoesBack) {
    uint64_t before = ClockNow();
    for (int i = 0; i < 1000; ++i) {
        const uint64_t now = ClockNow();
        ASSERT_GE(now, before);
        before = now;
    }
}

// ---------------------------------------------------------------------------------------------
// IntervalTimer

using IntervalTimerTest = ManualClockTest;

TEST_F(IntervalTimerTest, CheckFiresOnEitherDistance) {
    const uint64_t start = 50000;
    struct Case {
        const char* name;
        uint32_t now;
        int64_t interval;
        bool fires;
    } cases[] = {
        {"same moment", 50000, 1000, false},
        {"just short, later", 50999, 1000, false},
        {"interval reached, later", 51000, 1000, true},
        {"far later", 900000, 1000, true},
        {"just short, earlier", 49001, 1000, false},
        {"interval reached, earlier", 49000, 1000, true},
        {"start far in the future", 0, 1000, true},
        {"interval 0 always fires", 50000, 0, true},
    };
    for (const Case& c : cases) {
        Restart(c.now);
        IntervalTimer timer;
        timer.SetStart(start);
        EXPECT_EQ(timer.Check(c.interval), c.fires) << c.name;
        EXPECT_EQ(timer.start(), c.fires ? uint64_t{c.now} : start)
            << c.name << ": a firing check restarts at now, a quiet one leaves the start";
    }
}

TEST_F(IntervalTimerTest, CheckAfterResetWaitsOneInterval) {
    SetNow(7000);
    IntervalTimer timer;
    EXPECT_EQ(timer.start(), 7000u) << "a new timer starts now";
    SetNow(9000);
    EXPECT_EQ(timer.Reset(), 9000u);
    EXPECT_FALSE(timer.Check(1000));
    Advance(1000);
    EXPECT_TRUE(timer.Check(1000));
    EXPECT_EQ(timer.start(), 10000u);
    EXPECT_FALSE(timer.Check(1000));
}

TEST_F(IntervalTimerTest, StartAtZeroFiresTheFirstCheck) {
    SetNow(123456);
    IntervalTimer timer;
    timer.SetStart(0);
    EXPECT_TRUE(timer.Check(30));
    EXPECT_FALSE(timer.Check(30));
}

TEST_F(IntervalTimerTest, ElapsedStandsStillWhileFrozenAndCatchesUpAfter) {
    SetNow(1000);
    IntervalTimer timer;
    Advance(100);
    FreezeClock(true);
    Advance(400);
    EXPECT_EQ(timer.Elapsed(), 100);
    Advance(400);
    EXPECT_EQ(timer.Elapsed(), 100);
    FreezeClock(false);
    EXPECT_EQ(timer.Elapsed(), 900);
}

TEST_F(IntervalTimerTest, ElapsedIsNegativeForAStartInTheFuture) {
    SetNow(1000);
    IntervalTimer timer;
    timer.SetStart(1500);
    EXPECT_EQ(timer.Elapsed(), -500);
}

// A timer running when the 32-bit timer wraps must see the few milliseconds that passed, not a
// start 49.7 days in the future.
TEST_F(IntervalTimerTest, RunsAcrossTheWrapOfTheTimer) {
    SetNow(0xFFFFFF00u);
    IntervalTimer timer;
    Advance(0x200);  // wraps to 0x100
    EXPECT_EQ(timer.Elapsed(), 0x200);
    EXPECT_FALSE(timer.Check(1000));
    Advance(1000);
    EXPECT_TRUE(timer.Check(1000));
}

// ---------------------------------------------------------------------------------------------
// RandomIntervalScheduler

class RandomIntervalSchedulerTest : public ManualClockTest {
protected:
    static constexpr uint32_t kStart = 1000000;

    // A scheduler started at kStart with the given interval.
    static RandomIntervalScheduler Started(const RandomValue& interval) {
        RandomIntervalScheduler scheduler;
        scheduler.SetInterval(interval);
        SetNow(kStart);
        scheduler.Start();
        return scheduler;
    }
};

TEST_F(RandomIntervalSchedulerTest, EventTimesOfConstantIntervals) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        float length;
        int64_t now;  // after the start
        int32_t max;
        std::vector<int64_t> events;  // after the start
        int64_t next;                 // nextTime after the call, after the start
        float carried;                // accumulated after the call
    } cases[] = {
        {"250 over 1000 ms", 250, 1000, 1000, {250, 500, 750, 1000}, 1000, 0},
        {"250 over 999 ms", 250, 999, 1000, {250, 500, 750}, 750, 0},
        {"fractions add up", 100.4f, 301, 1000, {100, 200, 301}, 301, 301.2f - 301},
        {"fraction carried", 100.4f, 300, 1000, {100, 200}, 200, 200.8f - 200},
        {"list full: consumed all the same", 250, 1000, 2, {250, 500}, 1000, 0},
        {"no room at all", 250, 1000, 0, {}, 1000, 0},
        {"nothing due yet", 250, 0, 1000, {}, 0, 0},
        {"now before the start", 250, -100, 1000, {}, 0, 0},
        {"interval 0", 0, 1000, 1000, {}, 0, 0},
        {"negative interval", -5, 1000, 1000, {}, 0, 0},
        {"NaN interval", nan, 1000, 1000, {}, 0, 0},
        {"interval beyond int64", 1e30f, 1000, 1000, {}, 0, 0},
    };
    for (const Case& c : cases) {
        RandomIntervalScheduler scheduler = Started(RandomValue(c.length));
        LinkedList<int64_t> due;
        scheduler.Generate(due, c.max, kStart + c.now);
        std::vector<int64_t> expected;
        for (int64_t e : c.events) expected.push_back(kStart + e);
        EXPECT_EQ(Walk(due), expected) << c.name;
        EXPECT_EQ(scheduler.nextTime(), kStart + c.next) << c.name;
        EXPECT_FLOAT_EQ(scheduler.accumulated(), c.carried) << c.name;
    }
}

TEST_F(RandomIntervalSchedulerTest, NonPositiveLengthsAreDrawnAgainNextCall) {
    RandomIntervalScheduler scheduler = Started(RandomValue(0));
    LinkedList<int64_t> due;
    scheduler.Generate(due, 10, kStart + 1000);
    EXPECT_EQ(scheduler.current(), -1.0f);
    scheduler.SetInterval(RandomValue(400));
    scheduler.Generate(due, 10, kStart + 1000);
    EXPECT_EQ(Walk(due), (std::vector<int64_t>{kStart + 400, kStart + 800}));
}

// Lengths drawn from a range that crosses zero: the original loop never ended on the first
// negative draw. Every call must end, and the events must stay in order and due.
TEST_F(RandomIntervalSchedulerTest, LengthsCrossingZeroEndEveryCall) {
    RandomIntervalScheduler scheduler = Started(RandomValue(-20, 1, 30, 1));
    std::srand(99);
    int64_t last = kStart;
    int events = 0;
    for (int64_t now = kStart; now <= kStart + 5000; now += 16) {
        LinkedList<int64_t> due;
        scheduler.Generate(due, 1000, now);
        for (int64_t t : Walk(due)) {
            EXPECT_GE(t, last);
            EXPECT_LE(t, now);
            last = t;
            ++events;
        }
        EXPECT_LE(scheduler.nextTime(), now);
    }
    EXPECT_GT(events, 0) << "positive draws still make events";
}

TEST_F(RandomIntervalSchedulerTest, FractionsCarryFromCallToCall) {
    RandomIntervalScheduler once = Started(RandomValue(100.4f));
    LinkedList<int64_t> inOneCall;
    once.Generate(inOneCall, 1000, kStart + 1204);

    RandomIntervalScheduler often = Started(RandomValue(100.4f));
    LinkedList<int64_t> callByCall;
    for (int64_t now = kStart; now <= kStart + 1204; ++now) often.Generate(callByCall, 1000, now);

    std::vector<int64_t> expected;
    for (int64_t e : {100, 200, 301, 401, 502, 602, 702, 803, 903, 1004, 1104, 1204}) {
        expected.push_back(kStart + e);
    }
    EXPECT_EQ(Walk(inOneCall), expected);
    EXPECT_EQ(Walk(callByCall), expected);
}

TEST_F(RandomIntervalSchedulerTest, AppendsAfterTheCursorAndCountsEntriesAlreadyThere) {
    RandomIntervalScheduler scheduler = Started(RandomValue(250));
    LinkedList<int64_t> due;
    due.Append(-7);
    due.Append(-3);
    due.SetCursor(due.first());
    scheduler.Generate(due, 4, kStart + 1000);
    EXPECT_EQ(Walk(due), (std::vector<int64_t>{-7, kStart + 250, kStart + 500, -3}));
    EXPECT_EQ(scheduler.nextTime(), kStart + 1000);
}

// Dropped events still draw their lengths, so a full list leaves the rand sequence and the
// schedule exactly where a roomy one would.
TEST_F(RandomIntervalSchedulerTest, DroppedEventsDrawLikeKeptOnes) {
    const RandomValue lengths(100, 1, 200, 1);
    std::srand(5);
    RandomIntervalScheduler full = Started(lengths);
    LinkedList<int64_t> none;
    full.Generate(none, 0, kStart + 1000);
    const int afterFull = std::rand();

    std::srand(5);
    RandomIntervalScheduler roomy = Started(lengths);
    LinkedList<int64_t> all;
    roomy.Generate(all, 1000, kStart + 1000);
    const int afterRoomy = std::rand();

    EXPECT_EQ(none.count(), 0);
    EXPECT_GE(all.count(), 4);
    EXPECT_EQ(afterFull, afterRoomy);
    EXPECT_EQ(full.nextTime(), roomy.nextTime());
    EXPECT_EQ(full.current(), roomy.current());
}

TEST_F(RandomIntervalSchedulerTest, StoppedSchedulerDrawsNothing) {
    RandomIntervalScheduler scheduler;
    scheduler.SetInterval(RandomValue(10, 1, 20, 1));
    std::srand(3);
    const int first = std::rand();
    std::srand(3);
    LinkedList<int64_t> due;
    SetNow(5000);
    scheduler.Generate(due, 10);
    EXPECT_EQ(due.count(), 0);
    EXPECT_EQ(scheduler.nextTime(), RandomIntervalScheduler::kStopped);
    EXPECT_EQ(std::rand(), first) << "a stopped scheduler must not draw";
}

TEST_F(RandomIntervalSchedulerTest, NowDefaultsToTheClock) {
    RandomIntervalScheduler scheduler = Started(RandomValue(250));
    Advance(600);
    LinkedList<int64_t> due;
    scheduler.Generate(due, 10);
    EXPECT_EQ(Walk(due), (std::vector<int64_t>{kStart + 250, kStart + 500}));
}

TEST_F(RandomIntervalSchedulerTest, StartForgetsTheCarriedState) {
    RandomIntervalScheduler scheduler = Started(RandomValue(100.4f));
    LinkedList<int64_t> due;
    scheduler.Generate(due, 10, kStart + 150);
    ASSERT_GT(scheduler.accumulated(), 0.0f);
    SetNow(kStart + 5000);
    scheduler.Start();
    EXPECT_EQ(scheduler.nextTime(), kStart + 5000);
    EXPECT_EQ(scheduler.accumulated(), 0.0f);
    EXPECT_EQ(scheduler.current(), -1.0f);
}

// After a stall (a suspended machine) or with lengths far below a millisecond, one call does
// a bounded amount of work, drops the backlog and counts on from now.
TEST_F(RandomIntervalSchedulerTest, CatchUpIsBounded) {
    struct Case {
        const char* name;
        float length;
        int64_t stall;
        std::vector<int64_t> firstEvents;  // after the start
    } cases[] = {
        {"a day's stall at 1 ms", 1.0f, 86400000, {1, 2, 3}},
        {"lengths below float resolution", 1e-7f, 1000, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        RandomIntervalScheduler scheduler = Started(RandomValue(c.length));
        LinkedList<int64_t> due;
        const int64_t now = kStart + c.stall;
        scheduler.Generate(due, 3, now);
        std::vector<int64_t> expected;
        for (int64_t e : c.firstEvents) expected.push_back(kStart + e);
        EXPECT_EQ(Walk(due), expected) << c.name;
        EXPECT_EQ(scheduler.nextTime(), now) << c.name << ": the backlog is dropped";
        EXPECT_EQ(scheduler.accumulated(), 0.0f) << c.name;
    }

    RandomIntervalScheduler scheduler = Started(RandomValue(1.0f));
    LinkedList<int64_t> due;
    scheduler.Generate(due, 0, kStart + 86400000);
    scheduler.Generate(due, 10, kStart + 86400002);
    EXPECT_EQ(Walk(due), (std::vector<int64_t>{kStart + 86400001, kStart + 86400002}))
        << "events resume one length after the stall";
}

// A frame's worth of events, however many, is never cut short by the bound.
TEST_F(RandomIntervalSchedulerTest, BoundLeavesOrdinaryBacklogsWhole) {
    RandomIntervalScheduler scheduler = Started(RandomValue(1.0f));
    LinkedList<int64_t> due;
    const int32_t n = RandomIntervalScheduler::kMaxEventsPerCall;
    scheduler.Generate(due, n, kStart + n);
    EXPECT_EQ(due.count(), n);
    EXPECT_EQ(scheduler.nextTime(), kStart + n);
}

}  // namespace
