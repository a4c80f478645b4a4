// timeGetTime and GetLocalTime.

#include <mmsystem.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <ctime>

namespace {

TEST(Time, MultimediaTimerCountsMillisecondsForward) {
    DWORD a = timeGetTime();
    timespec pause = {0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
    DWORD b = timeGetTime();
    // Unsigned difference, so a wrap between the two reads is harmless.
    EXPECT_GE(static_cast<DWORD>(b - a), 20u);
}

TEST(Time, LocalTimeMatchesTheCLibrary) {
    time_t before = time(nullptr);
    SYSTEMTIME st;
    GetLocalTime(&st);
    tm local;
    localtime_r(&before, &local);
    EXPECT_EQ(st.wYear, local.tm_year + 1900);
    EXPECT_EQ(st.wMonth, local.tm_mon + 1);
    EXPECT_GE(st.wDay, 1);
    EXPECT_LE(st.wDay, 31);
    EXPECT_LE(st.wHour, 23);
    EXPECT_LE(st.wMinute, 59);
    EXPECT_LE(st.wSecond, 60);
    EXPECT_LE(st.wMilliseconds, 999);
    GetLocalTime(nullptr);  // harmless
}

}  // namespace
