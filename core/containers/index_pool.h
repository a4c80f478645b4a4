// A pool of free small integers handed out lowest first (the device light indices). Its set
// holds the free ranges as Point keys {first index, last index}, both ends inclusive, in
// insertion order.
#pragma once

#include "core/containers/ordered_map.h"
#include "core/types/point_rect.h"

#include <cstdint>

// Indices are not given back one by one; the pool is refilled only by Reset.
class IndexPool : public OrderedSet<Point> {
public:
    // As Reset(bound).
    explicit IndexPool(int32_t bound);

    // Every index from 0 to bound (bound + 1 of them) becomes free again. A negative bound
    // leaves the pool empty.
    void Reset(int32_t bound);

    // The lowest free index, or -1 when none is left.
    int32_t Take();

    // The highest index of the pool.
    int32_t bound() const { return bound_; }

private:
    int32_t bound_ = 0;
};
