// SystemParametersInfoA with SPI_SETSCREENSAVERRUNNING keeps the flag and holds off the
// desktop's screensaver while it is set.

#include "platform/win32/win32_local.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

TEST(SystemParameters, ScreensaverRunningFlag) {
    EXPECT_FALSE(rh::win32::ScreensaverRunningFlag());
    BOOL previous = 7;
    EXPECT_TRUE(SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, TRUE, &previous, 0));
    EXPECT_EQ(previous, FALSE);
    EXPECT_TRUE(rh::win32::ScreensaverRunningFlag());
    // The offscreen video driver of the tests stands in for a desktop.
    EXPECT_TRUE(rh::win32::DesktopScreensaverInhibited());

    EXPECT_TRUE(SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, TRUE, &previous, 0));
    EXPECT_EQ(previous, TRUE);

    EXPECT_TRUE(SystemParametersInfoA(SPI_SETSCREENSAVERRUNNING, FALSE, nullptr, 0));
    EXPECT_FALSE(rh::win32::ScreensaverRunningFlag());
    EXPECT_FALSE(rh::win32::DesktopScreensaverInhibited());
}

TEST(SystemParameters, OtherActionsAreNotSupported) {
    EXPECT_FALSE(SystemParametersInfoA(0x0010 /* SPI_GETSCREENSAVEACTIVE */, 0, nullptr, 0));
    EXPECT_FALSE(rh::win32::ScreensaverRunningFlag());
}

}  // namespace
