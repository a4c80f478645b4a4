// Integer points and rectangles, used by textures, text and layout.
#pragma once

#include <cstdint>

// An integer point, also used as a size (x = width, y = height). Default construction gives
// (0, 0) so that no field is ever read unset.
struct Point {
    int32_t x = 0;
    int32_t y = 0;

    constexpr Point() = default;
    constexpr Point(int32_t px, int32_t py) : x(px), y(py) {}
};

Point PointDifference(Point a, Point b);
// Each product truncated toward zero; it must fit in an int32.
Point PointScale(Point p, float f);
bool PointsEqual(Point a, Point b);
bool PointsDiffer(Point a, Point b);
// Lexicographic order: x first, then y.
bool PointLess(Point a, Point b);
bool PointGreater(Point a, Point b);

// An integer rectangle as two corners, top-left and bottom-right. Where an operation says so
// the same four ints hold x, y, width and height instead (the size form). Default construction
// gives all zeros so that no field is ever read unset.
struct Rect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    constexpr Rect() = default;
    constexpr Rect(int32_t l, int32_t t, int32_t r, int32_t b)
        : left(l), top(t), right(r), bottom(b) {}

    void Set(int32_t l, int32_t t, int32_t r, int32_t b);
    void Clear();
    // In place, corners to size form: right -= left, bottom -= top.
    void CornersToSize();
    // In place, size form to corners: right += left, bottom += top.
    void SizeToCorners();
    // Reads this rectangle in size form; out = its corners (x, y, x + width, y + height).
    void CornersOf(Rect& out) const;
    // 0 left, 1 top, 2 right, any other k bottom.
    int32_t& Component(int k);
    const int32_t& Component(int k) const;
    void CopyTo(Rect& out) const;
};

bool RectsEqual(const Rect& a, const Rect& b);
bool RectsDiffer(const Rect& a, const Rect& b);

// The overlap of a and b, both read in size form when sizeForm is set. Rectangles that only
// touch along an edge intersect, with zero width or height. Returns false and leaves out
// untouched when they are apart; otherwise writes out (in size form when sizeForm is set) and
// returns true. out may be a or b.
bool IntersectRects(const Rect& a, const Rect& b, Rect& out, bool sizeForm);
