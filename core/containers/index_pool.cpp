#include "core/containers/index_pool.h"

IndexPool::IndexPool(int32_t bound) : OrderedSet<Point>(false) { Reset(bound); }

void IndexPool::Reset(int32_t bound) {
    bound_ = bound;
    Clear();
    if (bound >= 0) Insert(Point(0, bound), 1);
}

int32_t IndexPool::Take() {
    SetCursor(first());
    if (count() == 0) return -1;
    Node* range = cursor();
    const int32_t index = range->key.x;
    if (range->key.x == range->key.y) {
        EraseAtCursor();
    } else {
        // Ranges are disjoint, so raising the low end keeps the tree's key order.
        range->key.x = index + 1;
    }
    return index;
}
