#include "core/settings/frame_stats.h"

#include <gtest/gtest.h>

namespace {

TEST(FrameStatsTest, StartsEnabledAndEmptyOnSlotZero) {
    FrameStats stats;
    EXPECT_TRUE(stats.enabled);
    EXPECT_EQ(stats.current(), 0);
    for (int32_t i = 0; i < FrameStats::kSlotCount; ++i) {
        EXPECT_EQ(stats.Slot(i).count(), 0) << "slot " << i;
    }
    EXPECT_TRUE(g_frameStats.enabled);
    EXPECT_EQ(g_frameStats.current(), 0);
}

TEST(FrameStatsTest, CountersAddUpFromZeroOnlyWhileEnabled) {
    FrameStats stats;
    stats.Add(kStatNodes, 3);
    stats.Add(kStatNodes, 4);
    stats.Add(kStatTriangles, 12);
    EXPECT_EQ(stats.Read(0, kStatNodes), 7);
    EXPECT_EQ(stats.Read(0, "NODES"), 7) << "property names ignore case";
    EXPECT_EQ(stats.Read(0, kStatTriangles), 12);
    EXPECT_EQ(stats.Read(0, kStatOccluded), 0) << "an absent counter reads 0";

    stats.enabled = false;
    stats.Add(kStatNodes, 100);
    stats.Add(kStatClipped, 1);
    EXPECT_EQ(stats.Read(0, kStatNodes), 7);
    EXPECT_EQ(stats.Slot(0).Child(kStatClipped), nullptr);
}

TEST(FrameStatsTest, EffectLoadTimeSurvivesEveryFrameReset) {
    FrameStats stats;
    stats.Slot(FrameStats::kLoadTimeSlot).SetIntProperty(kStatEffectLoadTime, 345);
    for (int frame = 0; frame < 3; ++frame) {
        stats.Add(kStatTriangles, 10);
        stats.Add(kStatOccluded, 1);
        EXPECT_EQ(stats.Read(0, kStatTriangles), 10) << "each frame counts from 0 again";
        stats.ClearFrameCounters();
        EXPECT_EQ(stats.Slot(0).count(), 0);
        EXPECT_EQ(stats.Read(FrameStats::kLoadTimeSlot, kStatEffectLoadTime), 345);
    }
}

TEST(FrameStatsTest, ReadIgnoresValuesThatAreNotInts) {
    FrameStats stats;
    stats.Slot(0).SetChildString(kStatNodes, "12");
    EXPECT_EQ(stats.Read(0, kStatNodes), 0);
}

}  // namespace
