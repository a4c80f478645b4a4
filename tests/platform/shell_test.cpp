// ShellExecuteA "open" hands the address to xdg-open without waiting for it.

#include "tests/support/recording_opener.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

INT_PTR Code(HINSTANCE h) { return reinterpret_cast<INT_PTR>(h); }

TEST(ShellExecute, OpenRunsTheDesktopOpenerWithTheAddress) {
    rh::testing::RecordingOpener opener;
    const char* address = "https://example.org/a page?x=1&y=2";
    EXPECT_GT(Code(ShellExecuteA(nullptr, "open", address, nullptr, nullptr, SW_SHOWNORMAL)), 32);
    EXPECT_GT(Code(ShellExecuteA(nullptr, nullptr, "file:///tmp/x", nullptr, nullptr, SW_SHOWNORMAL)), 32);
    auto opened = opener.WaitForOpened(2);
    ASSERT_EQ(opened.size(), 2u);
    // Detached, so the two may finish in either order.
    EXPECT_TRUE((opened[0] == address && opened[1] == "file:///tmp/x") ||
                (opened[1] == address && opened[0] == "file:///tmp/x"));
}

TEST(ShellExecute, FailuresAnswerCodesOfAtMost32) {
    rh::testing::RecordingOpener opener;
    EXPECT_LE(Code(ShellExecuteA(nullptr, "print", "x", nullptr, nullptr, SW_SHOWNORMAL)), 32);
    EXPECT_LE(Code(ShellExecuteA(nullptr, "open", "", nullptr, nullptr, SW_SHOWNORMAL)), 32);
    EXPECT_LE(Code(ShellExecuteA(nullptr, "open", nullptr, nullptr, nullptr, SW_SHOWNORMAL)), 32);

    std::string saved = std::getenv("PATH");
    setenv("PATH", "/nonexistent", 1);
    EXPECT_LE(Code(ShellExecuteA(nullptr, "open", "https://example.org", nullptr, nullptr, SW_SHOWNORMAL)), 32);
    setenv("PATH", saved.c_str(), 1);
    EXPECT_TRUE(opener.Opened().empty());
}

}  // namespace
