#include "core/bounds/range_intersection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

// The common part of two closed ranges found by walking half-steps, so that a single common
// value, a common stretch and nothing are told apart without any interval arithmetic.
struct CommonPart {
    bool any = false;
    double low = 0;
    double high = 0;
};

CommonPart BruteCommon(int a0, int a1, int b0, int b1) {
    CommonPart part;
    for (double v = -1; v <= 12; v += 0.5) {
        const bool inA = v >= std::min(a0, a1) && v <= std::max(a0, a1);
        const bool inB = v >= std::min(b0, b1) && v <= std::max(b0, b1);
        if (inA && inB) {
            part.low = part.any ? part.low : v;
            part.high = v;
            part.any = true;
        }
    }
    return part;
}

constexpr int32_t kUntouched = -99;

// Every pair of ranges of positive length with ends in 0..10, each given in both orders.
TEST(RangeIntersectionTest, MatchesTheCommonPartOfClosedRanges) {
    for (int a0 = 0; a0 <= 10; ++a0)
        for (int a1 = 0; a1 <= 10; ++a1)
            for (int b0 = 0; b0 <= 10; ++b0)
                for (int b1 = 0; b1 <= 10; ++b1) {
                    if (a0 == a1 || b0 == b1) {
                        continue;
                    }
                    const CommonPart expected = BruteCommon(a0, a1, b0, b1);
                    int32_t low = kUntouched;
                    int32_t high = kUntouched;
                    const int32_t code = IntersectRanges(a0, a1, b0, b1, low, high);
                    SCOPED_TRACE(testing::Message() << "(" << a0 << ", " << a1 << ") with (" << b0
                                                    << ", " << b1 << ")");
                    if (!expected.any) {
                        EXPECT_EQ(code, kRangesApart);
                        EXPECT_EQ(low, kUntouched);
                        EXPECT_EQ(high, kUntouched);
                    } else if (expected.low == expected.high) {
                        EXPECT_EQ(code, kRangesShareValue);
                        EXPECT_EQ(low, expected.low);
                        EXPECT_EQ(high, kUntouched);
                    } else {
                        EXPECT_EQ(code, kRangesShareStretch);
                        EXPECT_EQ(low, expected.low);
                        EXPECT_EQ(high, expected.high);
                    }
                }
}

// Ranges of length 0 are told apart by where they lie, not by the length of the common part.
TEST(RangeIntersectionTest, RangesOfLengthZero) {
    struct Case {
        int a0, a1, b0, b1;
        int32_t code, low, high;
    } cases[] = {
        {5, 5, 5, 10, kRangesShareStretch, 5, 5},  // at the start of the other
        {5, 5, 2, 10, kRangesShareStretch, 5, 5},  // inside it
        {2, 10, 5, 5, kRangesShareStretch, 5, 5},
        {2, 10, 2, 2, kRangesShareStretch, 2, 2},
        {5, 5, 0, 5, kRangesShareValue, 5, kUntouched},  // at its far end
        {0, 5, 5, 5, kRangesShareValue, 5, kUntouched},
        {5, 5, 5, 5, kRangesShareValue, 5, kUntouched},
        {5, 5, 6, 6, kRangesApart, kUntouched, kUntouched},
    };
    for (const Case& c : cases) {
        int32_t low = kUntouched;
        int32_t high = kUntouched;
        EXPECT_EQ(IntersectRanges(c.a0, c.a1, c.b0, c.b1, low, high), c.code)
            << c.a0 << ", " << c.a1 << ", " << c.b0 << ", " << c.b1;
        EXPECT_EQ(low, c.low) << c.a0 << ", " << c.a1 << ", " << c.b0 << ", " << c.b1;
        EXPECT_EQ(high, c.high) << c.a0 << ", " << c.a1 << ", " << c.b0 << ", " << c.b1;
    }
}

// Every pair of rectangles of positive size with corners in 0..4, against the shape of the set
// of half-step points that they share.
TEST(RectIntersectionTest, MatchesTheShapeOfTheCommonPart) {
    std::vector<Rect> rects;
    for (int l = 0; l <= 4; ++l)
        for (int r = l + 1; r <= 4; ++r)
            for (int t = 0; t <= 4; ++t)
                for (int b = t + 1; b <= 4; ++b) rects.emplace_back(l, t, r, b);

    const Point untouchedPoint(kUntouched, kUntouched);
    const Rect untouchedRect(kUntouched, kUntouched, kUntouched, kUntouched);
    for (const Rect& a : rects) {
        for (const Rect& b : rects) {
            const CommonPart x = BruteCommon(a.left, a.right, b.left, b.right);
            const CommonPart y = BruteCommon(a.top, a.bottom, b.top, b.bottom);
            Point point = untouchedPoint;
            Rect segment = untouchedRect;
            Rect area = untouchedRect;
            const int32_t code = ClassifyRectIntersection(a, b, point, segment, area);

            SCOPED_TRACE(testing::Message() << "(" << a.left << ", " << a.top << ", " << a.right
                                            << ", " << a.bottom << ") with (" << b.left << ", "
                                            << b.top << ", " << b.right << ", " << b.bottom << ")");
            const Rect common(static_cast<int32_t>(x.low), static_cast<int32_t>(y.low),
                              static_cast<int32_t>(x.high), static_cast<int32_t>(y.high));
            const bool flatX = x.low == x.high;
            const bool flatY = y.low == y.high;
            int32_t expected = kRectsShareArea;
            if (!x.any || !y.any) {
                expected = kRectsApart;
            } else if (flatX && flatY) {
                expected = kRectsSharePoint;
            } else if (flatX || flatY) {
                expected = kRectsShareSegment;
            }
            ASSERT_EQ(code, expected);
            EXPECT_TRUE(RectsEqual(area, expected == kRectsShareArea ? common : untouchedRect));
            EXPECT_TRUE(
                RectsEqual(segment, expected == kRectsShareSegment ? common : untouchedRect));
            EXPECT_TRUE(PointsEqual(point, expected == kRectsSharePoint
                                               ? Point(common.left, common.top)
                                               : untouchedPoint));
        }
    }
}

}  // namespace
