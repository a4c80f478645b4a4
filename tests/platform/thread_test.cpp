// Thread priority: the saver lowers its own thread's claim on the processor to idle.

#include <windows.h>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <cerrno>
#include <unistd.h>

#include <thread>

namespace {

int OwnNice() {
    errno = 0;
    return getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
}

TEST(ThreadPriorityTest, IdleGivesTheCallingThreadNice19AndNoOtherThread) {
    const int before = OwnNice();
    int inside = 0;
    BOOL answered = FALSE;
    // A thread of its own: a nice value cannot be raised back without privileges.
    std::thread worker([&] {
        answered = SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
        inside = OwnNice();
    });
    worker.join();
    EXPECT_TRUE(answered);
    EXPECT_EQ(inside, 19);
    EXPECT_EQ(OwnNice(), before) << "the calling thread only";
}

TEST(ThreadPriorityTest, OtherHandlesAndPrioritiesAreRefused) {
    const int before = OwnNice();
    EXPECT_FALSE(SetThreadPriority(nullptr, THREAD_PRIORITY_IDLE));
    EXPECT_FALSE(SetThreadPriority(INVALID_HANDLE_VALUE, THREAD_PRIORITY_IDLE));
    EXPECT_FALSE(SetThreadPriority(GetCurrentThread(), 1));
    EXPECT_EQ(OwnNice(), before);
}

}  // namespace
