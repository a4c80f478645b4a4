// Three-way key comparisons for the ordered containers: negative, zero or positive. Each
// container instance names its comparison as a template argument; these are the defaults.
#pragma once

#include "core/types/point_rect.h"

#include <cstdint>
#include <type_traits>

// Integers in their own signedness, pointers by address (unsigned), floats numerically (equal
// only when exactly equal).
template <typename K>
struct ThreeWayCompare {
    int operator()(const K& a, const K& b) const {
        if constexpr (std::is_pointer_v<K>) {
            auto x = reinterpret_cast<uintptr_t>(a);
            auto y = reinterpret_cast<uintptr_t>(b);
            return x < y ? -1 : (x > y ? 1 : 0);
        } else {
            return a < b ? -1 : (b < a ? 1 : 0);
        }
    }
};

// Points: x first, then y, both signed.
template <>
struct ThreeWayCompare<Point> {
    int operator()(const Point& a, const Point& b) const {
        if (a.x != b.x) return a.x < b.x ? -1 : 1;
        if (a.y != b.y) return a.y < b.y ? -1 : 1;
        return 0;
    }
};
