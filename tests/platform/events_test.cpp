// Conformance of event objects and WaitForMultipleObjects: which index a wait answers, what it
// resets, and the handles and counts it refuses.

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Events {
    std::vector<HANDLE> handles;
    Events(std::initializer_list<bool> manualReset) {
        for (bool manual : manualReset) handles.push_back(CreateEventA(nullptr, manual, FALSE, nullptr));
    }
    ~Events() {
        for (HANDLE h : handles) CloseHandle(h);
    }
    DWORD WaitAny() const { return WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, 0); }
    DWORD WaitAll() const { return WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, 0); }
};

TEST(EventTest, TheLowestSignalledIndexWinsAndOnlyItsAutoResetEventIsReset) {
    // Two auto-reset events, then a manual-reset one.
    Events e({false, false, true});
    for (HANDLE h : e.handles) ASSERT_NE(h, nullptr);
    EXPECT_EQ(e.WaitAny(), WAIT_TIMEOUT) << "created not signalled";

    ASSERT_TRUE(SetEvent(e.handles[1]));
    ASSERT_TRUE(SetEvent(e.handles[0]));
    EXPECT_EQ(e.WaitAny(), WAIT_OBJECT_0 + 0);
    EXPECT_EQ(e.WaitAny(), WAIT_OBJECT_0 + 1) << "the second stayed signalled";
    EXPECT_EQ(e.WaitAny(), WAIT_TIMEOUT) << "each auto-reset event satisfied one wait";

    ASSERT_TRUE(SetEvent(e.handles[2]));
    EXPECT_EQ(e.WaitAny(), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(e.WaitAny(), WAIT_OBJECT_0 + 2) << "a manual-reset event stays signalled";

    // Signalling twice is one signal.
    Events one({false});
    SetEvent(one.handles[0]);
    SetEvent(one.handles[0]);
    EXPECT_EQ(one.WaitAny(), WAIT_OBJECT_0);
    EXPECT_EQ(one.WaitAny(), WAIT_TIMEOUT);
}

TEST(EventTest, WaitAllNeedsEveryEventAndResetsTheAutoResetOnes) {
    Events e({false, true});
    SetEvent(e.handles[0]);
    EXPECT_EQ(e.WaitAll(), WAIT_TIMEOUT);
    EXPECT_EQ(e.WaitAny(), WAIT_OBJECT_0) << "a failed wait for all resets nothing";
    SetEvent(e.handles[0]);
    SetEvent(e.handles[1]);
    EXPECT_EQ(e.WaitAll(), WAIT_OBJECT_0);
    EXPECT_EQ(e.WaitAny(), WAIT_OBJECT_0 + 1) << "only the manual-reset event is still signalled";
}

TEST(EventTest, ACreatedSignalledEventSatisfiesTheFirstWait) {
    HANDLE h = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(1, &h, FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(1, &h, FALSE, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForMultipleObjects(1, &h, FALSE, 5), WAIT_TIMEOUT) << "a wait that finds nothing ends";
    EXPECT_TRUE(CloseHandle(h));
}

TEST(EventTest, BadWaitsAndHandlesAreRefused) {
    Events e({false, false});
    HANDLE closed = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    ASSERT_TRUE(CloseHandle(closed));
    EXPECT_FALSE(CloseHandle(closed)) << "closed once";
    EXPECT_FALSE(SetEvent(closed));
    EXPECT_FALSE(SetEvent(nullptr));
    EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, "named"), nullptr) << "named events are not offered";

    const HANDLE same[2] = {e.handles[0], e.handles[0]};
    const HANDLE withClosed[2] = {e.handles[0], closed};
    std::vector<HANDLE> tooMany(MAXIMUM_WAIT_OBJECTS + 1, e.handles[0]);
    struct Case {
        const char* what;
        DWORD count;
        const HANDLE* handles;
        BOOL waitAll;
    };
    const Case cases[] = {
        {"no handles", 0, e.handles.data(), FALSE},
        {"more than MAXIMUM_WAIT_OBJECTS", MAXIMUM_WAIT_OBJECTS + 1, tooMany.data(), FALSE},
        {"a null array", 1, nullptr, FALSE},
        {"a closed handle", 2, withClosed, FALSE},
        {"one event twice in a wait for all", 2, same, TRUE},
    };
    SetEvent(e.handles[0]);
    for (const Case& c : cases) {
        EXPECT_EQ(WaitForMultipleObjects(c.count, c.handles, c.waitAll, 0), WAIT_FAILED) << c.what;
    }
    EXPECT_EQ(WaitForMultipleObjects(2, same, FALSE, 0), WAIT_OBJECT_0) << "twice is fine for any one";
}

TEST(EventTest, HandlesAreNeverGivenTwice) {
    HANDLE first = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(first);
    HANDLE second = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_NE(first, second) << "a stale handle would name the new event";
    EXPECT_FALSE(SetEvent(first));
    CloseHandle(second);
}

}  // namespace
