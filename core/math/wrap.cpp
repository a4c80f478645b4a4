#include "core/math/wrap.h"

#include <cmath>
#include <cstdint>

float WrapToRange(float x, float low, float high) {
    const float width = high - low;
    if (std::fabs(width) <= 0.0001f) return low;
    float d = x - low;
    const float periods = d / width;
    // Truncation toward zero through a 64-bit integer; outside its range the conversion would
    // be undefined, so such values (and NaN) are refused.
    if (!(std::fabs(periods) < 9.2233720e18f)) return low;
    d = d - width * static_cast<float>(static_cast<int64_t>(periods));
    if (d < 0) d = d + width;
    const float result = low + d;
    // A tiny negative d plus the width can round up to exactly the width; the range is
    // half-open, so that is the start of the next period.
    if (width > 0 && result >= high) return low;
    return result;
}
