// CP_ACP conversions: bytes 0-255 are code points 0-255, whatever the process locale.

#include <windows.h>

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

TEST(CodePage, WideToBytesMapsCodePointsBelow256AndReplacesTheRest) {
    const WCHAR wide[] = {u'A', 0x00E9, 0x00FF, 0x0100, 0x20AC, 0};
    char out[8];
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, out, sizeof out, nullptr, &usedDefault);
    ASSERT_EQ(n, 6);  // with the terminator
    EXPECT_EQ(std::string(out), std::string("A\xE9\xFF??"));
    EXPECT_TRUE(usedDefault);

    const char star = '*';
    n = WideCharToMultiByte(CP_ACP, 0, wide + 3, 2, out, sizeof out, &star, nullptr);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(std::string(out, 2), "**");
}

TEST(CodePage, SizesAndFailures) {
    const WCHAR wide[] = {u'a', u'b', u'c', 0};
    char out[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr), 4);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, -1, out, 2, nullptr, nullptr), 0);  // too small
    EXPECT_EQ(WideCharToMultiByte(65001, 0, wide, -1, out, 4, nullptr, nullptr), 0);   // not supported
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, nullptr, -1, out, 4, nullptr, nullptr), 0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, 0, out, 4, nullptr, nullptr), 0);
}

TEST(CodePage, BytesToWideIsTheIdentityForEveryByteAndIgnoresTheLocale) {
    std::setlocale(LC_ALL, "C");
    char bytes[256];
    for (int i = 0; i < 256; ++i) bytes[i] = static_cast<char>(i == 0 ? 1 : i);
    WCHAR wide[256];
    ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, bytes, 256, wide, 256), 256);
    for (int i = 1; i < 256; ++i) ASSERT_EQ(wide[i], i) << i;
    char back[256];
    ASSERT_EQ(WideCharToMultiByte(CP_ACP, 0, wide, 256, back, 256, nullptr, nullptr), 256);
    EXPECT_EQ(std::string(back, 256), std::string(bytes, 256));
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, nullptr, 0), 4);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, wide, 3), 0);
}

}  // namespace
