// rand and srand reproduce the original runtime's generator, for every caller in the process.

#include <cstdlib>

#include <gtest/gtest.h>

namespace {

TEST(Rand, SeededSequencesOfTheOriginalGenerator) {
    srand(1);
    const int seededWithOne[] = {41, 18467, 6334, 26500, 19169};
    for (int expected : seededWithOne) EXPECT_EQ(rand(), expected);

    // state = state * 214013 + 2531011; result = (state >> 16) & 0x7FFF
    srand(12345);
    unsigned state = 12345;
    for (int i = 0; i < 1000; ++i) {
        state = state * 214013u + 2531011u;
        ASSERT_EQ(rand(), static_cast<int>((state >> 16) & 0x7FFF)) << "draw " << i;
    }
}

TEST(Rand, ResultsStayWithinFifteenBits) {
    srand(0xFFFFFFFFu);
    int highest = 0;
    for (int i = 0; i < 100000; ++i) {
        int r = std::rand();
        ASSERT_GE(r, 0);
        highest = r > highest ? r : highest;
    }
    EXPECT_EQ(highest, 32767);
}

}  // namespace
