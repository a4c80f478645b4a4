#include "core/containers/index_pool.h"

#include <gtest/gtest.h>

namespace {

TEST(IndexPoolTest, HandsOutEveryIndexLowestFirstUntilReset) {
    IndexPool pool(100);
    EXPECT_EQ(pool.bound(), 100);
    for (int expected = 0; expected <= 100; ++expected) {
        ASSERT_EQ(pool.Take(), expected);
        ASSERT_EQ(pool.count(), expected < 100 ? 1 : 0) << "one range until the last index";
    }
    EXPECT_EQ(pool.Take(), -1);
    EXPECT_EQ(pool.Take(), -1);

    pool.Reset(100);
    EXPECT_EQ(pool.Take(), 0);
    EXPECT_EQ(pool.Take(), 1);
    pool.Reset(2);
    EXPECT_EQ(pool.bound(), 2);
    for (int expected : {0, 1, 2, -1}) EXPECT_EQ(pool.Take(), expected);
}

TEST(IndexPoolTest, SmallestPools) {
    struct Case {
        int bound;
        int firstTake;
    } cases[] = {{0, 0}, {-1, -1}};
    for (const Case& c : cases) {
        IndexPool pool(c.bound);
        EXPECT_EQ(pool.Take(), c.firstTake) << "bound " << c.bound;
        EXPECT_EQ(pool.Take(), -1) << "bound " << c.bound;
        EXPECT_EQ(pool.count(), 0) << "bound " << c.bound;
    }
}

}  // namespace
