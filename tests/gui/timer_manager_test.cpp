#include "gui/timer_manager.h"

#include "core/time/clock_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

uint32_t g_now = 0;
uint32_t TestClock() { return g_now; }

// The clock is driven by hand; no test sleeps.
class TimerManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_now = 1000;
        SetClockSource(&TestClock);
    }
    void TearDown() override { SetClockSource(nullptr); }

    // Every entry in the manager's order and findable by its key: fired and due were only
    // changed while the entry was out of the set.
    static ::testing::AssertionResult SetIsSound(const TimerManager& manager) {
        const auto& set = manager.entries();
        auto* node = set.first();
        for (int32_t i = 0; i < set.count(); ++i, node = node->next) {
            if (set.FindNode(node->key) != node) {
                return ::testing::AssertionFailure() << "entry " << i << " cannot be found by its key";
            }
            if (i > 0 && TimerEntryOrder()(node->prev->key, node->key) >= 0) {
                return ::testing::AssertionFailure() << "entry " << i << " is out of order";
            }
            if (node->key->owner() != &manager) {
                return ::testing::AssertionFailure() << "entry " << i << " names another owner";
            }
        }
        return ::testing::AssertionSuccess();
    }

    TimerManager manager_;
};

// Runs a function when invoked: what a window's update request or a caret blink would do.
struct Action {
    std::function<void()> run;
    void Invoke() { run(); }
};

// A delegate that counts its own destruction, to see an entry deleted exactly once.
class CountedDelegate final : public Delegate {
public:
    CountedDelegate(int* fired, int* destroyed) : fired_(fired), destroyed_(destroyed) {}
    ~CountedDelegate() override { ++*destroyed_; }
    void Invoke() override { ++*fired_; }

private:
    int* fired_;
    int* destroyed_;
};

TEST_F(TimerManagerTest, DueEntriesFireInDueOrderThenByAddress) {
    std::vector<int> order;
    std::vector<Action> actions(6);
    std::vector<TimerEntry*> entries;
    const int32_t periods[] = {30, 10, 20, 10, 10, 500};
    for (int i = 0; i < 6; ++i) {
        actions[static_cast<size_t>(i)].run = [&order, i] { order.push_back(i); };
        entries.push_back(
            manager_.CreateTimer(Delegate::Create(&actions[static_cast<size_t>(i)], &Action::Invoke), periods[i], false,
                                 TimerEntry::kRepeatForever));
    }
    g_now += 30;
    manager_.Update();
    // Three entries share the due time 1010: they go by address.
    std::vector<int> tied = {1, 3, 4};
    std::sort(tied.begin(), tied.end(), [&](int a, int b) {
        return reinterpret_cast<uintptr_t>(entries[static_cast<size_t>(a)]) <
               reinterpret_cast<uintptr_t>(entries[static_cast<size_t>(b)]);
    });
    EXPECT_EQ(order, (std::vector<int>{tied[0], tied[1], tied[2], 2, 0}));
    EXPECT_TRUE(SetIsSound(manager_));
    for (TimerEntry* entry : entries) delete entry;
    EXPECT_EQ(manager_.count(), 0);
}

// A 1000 ms entry fires at most once a second however often Update runs, and its next due
// time counts from the firing, not from the old due time.
TEST_F(TimerManagerTest, PeriodCountsFromTheFiring) {
    int fired = 0, destroyed = 0, idleFired = 0, idleDestroyed = 0;
    TimerEntry* entry =
        manager_.CreateTimer(new CountedDelegate(&fired, &destroyed), 1000, false, TimerEntry::kRepeatForever);
    // Another entry behind it, as there always is: the walk moves on to it while the fired
    // entry is re-inserted at the front.
    TimerEntry* idle = manager_.CreateTimer(new CountedDelegate(&idleFired, &idleDestroyed), 1000000, false,
                                            TimerEntry::kRepeatForever);
    struct Step {
        uint32_t now;
        int firedSoFar;
    };
    const Step steps[] = {{1999, 0}, {2500, 1}, {2500, 1}, {3000, 1}, {3499, 1}, {3500, 2}, {3600, 2}, {9000, 3}};
    for (const Step& step : steps) {
        g_now = step.now;
        manager_.Update();
        EXPECT_EQ(fired, step.firedSoFar) << "at " << step.now;
    }
    EXPECT_EQ(entry->start(), 9000);
    EXPECT_EQ(entry->due(), 10000);
    delete entry;
    delete idle;
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(idleFired, 0);
}

// A window's update request: period 0, repeat without end, and a delegate that deletes its own
// entry. It runs once, and the walk goes on to the entries after it (ASan watches the freed
// entry).
TEST_F(TimerManagerTest, DelegateDeletingItsOwnEntry) {
    std::vector<int> ran;
    TimerEntry* requests[3] = {};
    Action actions[3];
    for (int i = 0; i < 3; ++i) {
        actions[i].run = [&, i] {
            ran.push_back(i);
            delete requests[i];
            requests[i] = nullptr;
        };
        requests[i] = manager_.CreateTimer(Delegate::Create(&actions[i], &Action::Invoke), 0, false,
                                           TimerEntry::kRepeatForever);
    }
    manager_.Update();
    EXPECT_EQ(ran.size(), 3u);
    EXPECT_EQ(manager_.count(), 0);
    manager_.Update();
    EXPECT_EQ(ran.size(), 3u);
}

// A delegate that deletes an entry further on: that entry never fires.
TEST_F(TimerManagerTest, DelegateDeletingALaterEntry) {
    int laterFired = 0, laterDestroyed = 0;
    TimerEntry* later =
        manager_.CreateTimer(new CountedDelegate(&laterFired, &laterDestroyed), 5, false, TimerEntry::kRepeatForever);
    Action killer{[&] {
        delete later;
        later = nullptr;
    }};
    TimerEntry* first = manager_.CreateTimer(Delegate::Create(&killer, &Action::Invoke), 1, false, 1);
    g_now += 10;
    manager_.Update();
    EXPECT_EQ(laterFired, 0);
    EXPECT_EQ(laterDestroyed, 1);
    EXPECT_EQ(first->repeat(), 0);
    EXPECT_TRUE(SetIsSound(manager_));
}

// repeat n fires n times; the Update after the last firing deletes the entry, once. repeat 0
// is deleted by the first Update without firing.
TEST_F(TimerManagerTest, FiniteRepeatsFireThenTheManagerDeletesTheEntry) {
    for (const int32_t repeat : {0, 1, 3}) {
        SCOPED_TRACE(repeat);
        int fired = 0, destroyed = 0;
        manager_.CreateTimer(new CountedDelegate(&fired, &destroyed), 10, false, repeat);
        for (int update = 0; update < repeat + 3; ++update) {
            g_now += 10;
            manager_.Update();
            EXPECT_EQ(fired, std::min(update + 1, repeat));
            EXPECT_EQ(destroyed, update >= repeat ? 1 : 0) << "after update " << update;
            EXPECT_EQ(manager_.count(), update >= repeat ? 0 : 1);
        }
    }
}

// Started with defer from inside a delegate, an entry waits for the next Update even when it
// is already due; pass 2 re-arms it from its start.
TEST_F(TimerManagerTest, DeferredStartFiresInTheNextUpdate) {
    int fired = 0, destroyed = 0;
    TimerEntry* deferred = nullptr;
    Action starter{[&] {
        deferred = manager_.CreateTimer(new CountedDelegate(&fired, &destroyed), 0, /*defer=*/true,
                                        TimerEntry::kRepeatForever);
    }};
    manager_.CreateTimer(Delegate::Create(&starter, &Action::Invoke), 0, false, 1);
    manager_.Update();
    ASSERT_NE(deferred, nullptr);
    EXPECT_EQ(fired, 0);
    EXPECT_FALSE(deferred->fired());
    EXPECT_EQ(deferred->due(), 1000);
    EXPECT_TRUE(SetIsSound(manager_));
    manager_.Update();
    EXPECT_EQ(fired, 1);
    delete deferred;
}

// Deferring an entry that is already in the set marks it fired, which is part of its key: the
// mark must be made outside the set, or the entry can no longer be found (and deleting it
// would leave a freed pointer in the set).
TEST_F(TimerManagerTest, DeferringAListedEntryKeepsTheSetSound) {
    int fired = 0, destroyed = 0, otherFired = 0, otherDestroyed = 0;
    TimerEntry* waiting =
        manager_.CreateTimer(new CountedDelegate(&fired, &destroyed), 5, false, TimerEntry::kRepeatForever);
    // Not due, and in front of `waiting`: marked fired in place, `waiting` would sit behind it.
    TimerEntry* other =
        manager_.CreateTimer(new CountedDelegate(&otherFired, &otherDestroyed), 2, false, TimerEntry::kRepeatForever);
    Action adder{[&] {
        manager_.Add(waiting, /*defer=*/true);
        EXPECT_TRUE(SetIsSound(manager_));
    }};
    manager_.CreateTimer(Delegate::Create(&adder, &Action::Invoke), 0, false, 1);
    manager_.Update();
    EXPECT_EQ(fired, 0) << "deferred in the running Update";
    EXPECT_FALSE(waiting->fired()) << "re-armed at the end of the Update";
    EXPECT_TRUE(SetIsSound(manager_));
    g_now += 5;
    manager_.Update();
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(otherFired, 1);
    delete waiting;
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(manager_.count(), 1);
    EXPECT_EQ(manager_.entries().first()->key, other);
    delete other;
}

// SetPeriod keeps the start: shortening the period can make the entry due at once.
TEST_F(TimerManagerTest, SetPeriodKeepsTheStart) {
    int fired = 0, destroyed = 0;
    TimerEntry* entry =
        manager_.CreateTimer(new CountedDelegate(&fired, &destroyed), 500, false, TimerEntry::kRepeatForever);
    g_now = 1200;
    manager_.Update();
    EXPECT_EQ(fired, 0);
    entry->SetPeriod(100);
    EXPECT_EQ(entry->start(), 1000);
    EXPECT_EQ(entry->due(), 1100);
    EXPECT_TRUE(SetIsSound(manager_));
    manager_.Update();
    EXPECT_EQ(fired, 1);
    // A 64-bit period far beyond the clock saturates instead of wrapping into the past.
    entry->SetPeriod(INT64_MAX);
    g_now = 5000;
    manager_.Update();
    EXPECT_EQ(fired, 1);
    delete entry;
}

// An entry moved to another manager leaves the first one's set; otherwise deleting it would
// leave a freed pointer there.
TEST_F(TimerManagerTest, AddingToAnotherManagerLeavesTheFirst) {
    int fired = 0, destroyed = 0;
    TimerEntry* entry = manager_.CreateTimer(new CountedDelegate(&fired, &destroyed), 0, false, -1);
    TimerManager other;
    other.Add(entry, false);
    EXPECT_EQ(manager_.count(), 0);
    EXPECT_EQ(entry->owner(), &other);
    other.Update();
    EXPECT_EQ(fired, 1);
    delete entry;
    manager_.Update();
    other.Update();
}

// A manager that goes first leaves the endless entries to their creators, unowned, and
// deletes the finite ones, which are its own.
TEST_F(TimerManagerTest, DestroyingTheManager) {
    int fired = 0, endlessDestroyed = 0, finiteDestroyed = 0;
    auto manager = std::make_unique<TimerManager>();
    TimerEntry* endless = manager->CreateTimer(new CountedDelegate(&fired, &endlessDestroyed), 10, false, -1);
    manager->CreateTimer(new CountedDelegate(&fired, &finiteDestroyed), 10, false, 2);
    manager.reset();
    EXPECT_EQ(finiteDestroyed, 1);
    EXPECT_EQ(endlessDestroyed, 0);
    EXPECT_EQ(endless->owner(), nullptr);
    delete endless;
    EXPECT_EQ(endlessDestroyed, 1);
}

// A bound call reaches its operation on the right part of the object, also through a second
// base; a call with ints passes them on; a null object calls nothing.
struct Left {
    int left = 1;
};
struct Counter {
    int count = 0;
    int lastA = 0, lastB = 0;
    void Bump() { ++count; }
    bool Both(int32_t a, int32_t b) {
        lastA = a;
        lastB = b;
        return true;
    }
};
struct Both : Left, Counter {};

TEST(Delegate, CallsThroughTheAdjustment) {
    Both object;
    std::unique_ptr<Delegate> bump(Delegate::Create(&object, &Counter::Bump));
    bump->Invoke();
    bump->Invoke();
    EXPECT_EQ(object.count, 2);
    EXPECT_EQ(object.left, 1);

    std::unique_ptr<DelegateWithInts> both(DelegateWithInts::Create(&object, &Counter::Both, 7, -3));
    both->Invoke();
    EXPECT_EQ(object.lastA, 7);
    EXPECT_EQ(object.lastB, -3);

    std::unique_ptr<Delegate> none(Delegate::Create(static_cast<Both*>(nullptr), &Counter::Bump));
    none->Invoke();
    std::unique_ptr<Delegate> noOperation(Delegate::Create(&object, static_cast<void (Counter::*)()>(nullptr)));
    noOperation->Invoke();
    EXPECT_EQ(object.count, 2);
}

}  // namespace
