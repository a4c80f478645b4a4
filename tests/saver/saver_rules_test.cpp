// The main loop's and the frame's rules on their own: the clock's texts, the frame rate on a
// fake clock, the path fades' opacity and the gamma ramps.

#include "saver/saver_app.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SaverRules, ClockTexts) {
    struct Case {
        WORD hour, minute, second;
        bool hours24;
        const char* clock;
        const char* suffix;
    };
    const Case cases[] = {
        {13, 5, 9, true, "13:05:09", ""},       {0, 0, 0, true, "0:00:00", ""},
        {9, 10, 59, true, "9:10:59", ""},       {0, 5, 9, false, "12:05:09", "am"},
        {0, 0, 0, false, "12:00:00", "am"},     {11, 59, 59, false, "11:59:59", "am"},
        {12, 0, 0, false, "12:00:00", "pm"},    {23, 59, 59, false, "11:59:59", "pm"},
        {13, 0, 1, false, "1:00:01", "pm"},
    };
    for (const Case& c : cases) {
        SYSTEMTIME t{};
        t.wHour = c.hour;
        t.wMinute = c.minute;
        t.wSecond = c.second;
        String clock, suffix("x");
        ClockTexts(t, c.hours24, &clock, &suffix);
        EXPECT_STREQ(clock.Text(), c.clock) << c.hour << ":" << c.minute << ":" << c.second;
        EXPECT_STREQ(suffix.Text(), c.suffix) << c.hour;
    }
}

// Frames at steady intervals read as the true rate from the end of the first second on, and a
// frame on the very start time does not divide by zero.
TEST(SaverRules, FrameRateOnAFakeClock) {
    struct Case {
        uint64_t interval;
        int64_t rateAfterTwoSeconds;
    };
    for (const Case c : {Case{100, 10}, Case{40, 25}, Case{250, 4}, Case{1000, 1}}) {
        FrameRateCounter counter;
        counter.start = 5000;
        for (uint64_t now = 5000; now <= 7000; now += c.interval) counter.Frame(now);
        EXPECT_EQ(counter.rate, c.rateAfterTwoSeconds) << c.interval << " ms a frame";
    }
    FrameRateCounter counter;
    counter.start = 10;
    counter.Frame(10);
    EXPECT_EQ(counter.rate, 0);
    EXPECT_EQ(counter.count, 1);
    counter.Frame(60);
    EXPECT_EQ(counter.rate, 40) << "two frames in 50 ms";
}

TEST(SaverRules, PathFadeOpacity) {
    struct Case {
        float time, end;
        bool fades;
        float opacity;
    };
    const Case cases[] = {
        {0.0f, 30.0f, true, 1.0f},    {5.0f, 30.0f, true, 0.5f},   {9.9f, 30.0f, true, 0.01f},
        {10.0f, 30.0f, false, 0.0f},  {20.0f, 30.0f, false, 0.0f}, {25.0f, 30.0f, true, 0.5f},
        {30.0f, 30.0f, true, 1.0f},
        // A path under 20 units: the start's rule below 10, the end's from there.
        {8.0f, 15.0f, true, 0.2f},    {12.0f, 15.0f, true, 0.7f},
        // A long frame past the end gives more than full black; the texture factor holds it.
        {32.0f, 30.0f, true, 1.2f},
    };
    for (const Case& c : cases) {
        float opacity = -1.0f;
        EXPECT_EQ(PathFadeOpacity(c.time, c.end, &opacity), c.fades) << c.time << " of " << c.end;
        if (c.fades) {
            EXPECT_NEAR(opacity, c.opacity, 1e-5f) << c.time << " of " << c.end;
        }
    }
}

TEST(SaverRules, GammaRamps) {
    D3DGAMMARAMP ramp;
    BuildGammaRamp(0, &ramp);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(ramp.red[i], 256 * i);
    BuildGammaRamp(100, &ramp);
    EXPECT_EQ(ramp.green[0], 20000);
    EXPECT_EQ(ramp.blue[177], 65312);
    EXPECT_EQ(ramp.red[178], 65535) << "held at the top";
    EXPECT_EQ(ramp.red[255], 65535);
    BuildGammaRamp(-100, &ramp);
    for (int i = 0; i <= 78; ++i) ASSERT_EQ(ramp.red[i], 0) << i;
    EXPECT_EQ(ramp.red[79], 224);
    EXPECT_EQ(ramp.blue[255], 65280 - 20000);
    BuildGammaRamp(-1000, &ramp);
    EXPECT_EQ(ramp.red[255], 0);
    BuildGammaRamp(1000, &ramp);
    EXPECT_EQ(ramp.red[0], 65535);
}

}  // namespace
