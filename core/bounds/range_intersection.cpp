#include "core/bounds/range_intersection.h"

#include <algorithm>

int32_t IntersectRanges(int32_t a0, int32_t a1, int32_t b0, int32_t b1, int32_t& outLow,
                        int32_t& outHigh) {
    const int32_t aLow = std::min(a0, a1);
    const int32_t aHigh = std::max(a0, a1);
    const int32_t bLow = std::min(b0, b1);
    const int32_t bHigh = std::max(b0, b1);

    if (aLow <= bLow && bLow < aHigh) {
        outLow = bLow;
        outHigh = std::min(aHigh, bHigh);
        return kRangesShareStretch;
    }
    if (bLow <= aLow && aLow < bHigh) {
        outLow = aLow;
        outHigh = std::min(aHigh, bHigh);
        return kRangesShareStretch;
    }
    if (aHigh == bLow) {
        outLow = aHigh;
        return kRangesShareValue;
    }
    if (aLow == bHigh) {
        outLow = aLow;
        return kRangesShareValue;
    }
    return kRangesApart;
}

int32_t ClassifyRectIntersection(const Rect& a, const Rect& b, Point& outPoint, Rect& outSegment,
                                 Rect& outArea) {
    int32_t xLow = 0;
    int32_t xHigh = 0;
    int32_t yLow = 0;
    int32_t yHigh = 0;
    const int32_t x = IntersectRanges(a.left, a.right, b.left, b.right, xLow, xHigh);
    if (x == kRangesApart) {
        return kRectsApart;
    }
    const int32_t y = IntersectRanges(a.top, a.bottom, b.top, b.bottom, yLow, yHigh);
    if (y == kRangesApart) {
        return kRectsApart;
    }

    if (x == kRangesShareValue && y == kRangesShareValue) {
        outPoint = Point(xLow, yLow);
        return kRectsSharePoint;
    }
    if (x == kRangesShareValue) {
        outSegment = Rect(xLow, yLow, xLow, yHigh);
        return kRectsShareSegment;
    }
    if (y == kRangesShareValue) {
        outSegment = Rect(xLow, yLow, xHigh, yLow);
        return kRectsShareSegment;
    }
    outArea = Rect(xLow, yLow, xHigh, yHigh);
    return kRectsShareArea;
}
