// What two integer ranges or rectangles have in common, told apart by the shape of the common
// part: the texture atlas packer scores placements by shared areas, edges and corners.
#pragma once

#include "core/types/point_rect.h"

#include <cstdint>

// Codes of IntersectRanges.
constexpr int32_t kRangesApart = 0;
constexpr int32_t kRangesShareValue = 1;
constexpr int32_t kRangesShareStretch = 2;

// Codes of ClassifyRectIntersection.
constexpr int32_t kRectsApart = 0;
constexpr int32_t kRectsShareSegment = 10;
constexpr int32_t kRectsSharePoint = 12;
constexpr int32_t kRectsShareArea = 13;

// The ranges [a0, a1] and [b0, b1], each taken in either order. kRangesShareStretch with
// outLow..outHigh the common stretch; kRangesShareValue when they only meet end to start, with
// outLow the common value and outHigh untouched; kRangesApart with both outputs untouched.
// A range of length 0 at the start of a longer range or inside it answers kRangesShareStretch
// with outLow == outHigh; at its far end, or on another range of length 0, kRangesShareValue.
int32_t IntersectRanges(int32_t a0, int32_t a1, int32_t b0, int32_t b1, int32_t& outLow,
                        int32_t& outHigh);

// a and b as corners (left, top, right, bottom), compared as closed sets through
// IntersectRanges on x and on y. Writes only the output that the code names:
//   kRectsShareArea     outArea = the common rectangle;
//   kRectsShareSegment  outSegment = the common edge as corners (its two ends; left == right or
//                       top == bottom);
//   kRectsSharePoint    outPoint = the common corner;
//   kRectsApart         nothing.
int32_t ClassifyRectIntersection(const Rect& a, const Rect& b, Point& outPoint, Rect& outSegment,
                                 Rect& outArea);
