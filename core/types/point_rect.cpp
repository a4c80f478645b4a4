#include "core/types/point_rect.h"

Point PointDifference(Point a, Point b) { return Point(a.x - b.x, a.y - b.y); }

Point PointScale(Point p, float f) {
    return Point(static_cast<int32_t>(static_cast<float>(p.x) * f),
                 static_cast<int32_t>(static_cast<float>(p.y) * f));
}

bool PointsEqual(Point a, Point b) { return a.x == b.x && a.y == b.y; }
bool PointsDiffer(Point a, Point b) { return !PointsEqual(a, b); }
bool PointLess(Point a, Point b) { return a.x < b.x || (a.x == b.x && a.y < b.y); }
bool PointGreater(Point a, Point b) { return a.x > b.x || (a.x == b.x && a.y > b.y); }

void Rect::Set(int32_t l, int32_t t, int32_t r, int32_t b) {
    left = l;
    top = t;
    right = r;
    bottom = b;
}

void Rect::Clear() { Set(0, 0, 0, 0); }

void Rect::CornersToSize() {
    right -= left;
    bottom -= top;
}

void Rect::SizeToCorners() {
    right += left;
    bottom += top;
}

void Rect::CornersOf(Rect& out) const { out.Set(left, top, left + right, top + bottom); }

int32_t& Rect::Component(int k) {
    switch (k) {
    case 0: return left;
    case 1: return top;
    case 2: return right;
    default: return bottom;
    }
}

const int32_t& Rect::Component(int k) const { return const_cast<Rect*>(this)->Component(k); }

void Rect::CopyTo(Rect& out) const { out = *this; }

bool RectsEqual(const Rect& a, const Rect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

bool RectsDiffer(const Rect& a, const Rect& b) { return !RectsEqual(a, b); }

bool IntersectRects(const Rect& inA, const Rect& inB, Rect& out, bool sizeForm) {
    Rect a = inA;
    Rect b = inB;
    if (sizeForm) {
        a.SizeToCorners();
        b.SizeToCorners();
    }
    int32_t left = a.left > b.left ? a.left : b.left;
    int32_t top = a.top > b.top ? a.top : b.top;
    int32_t right = a.right < b.right ? a.right : b.right;
    int32_t bottom = a.bottom < b.bottom ? a.bottom : b.bottom;
    if (left > b.right || top > b.bottom || a.right < b.left || a.bottom < b.top) {
        return false;
    }
    if (sizeForm) {
        out.Set(left, top, right - left, bottom - top);
    } else {
        out.Set(left, top, right, bottom);
    }
    return true;
}
