#include "scene/transform_source.h"

#include "core/types/float_range.h"

bool TransformSource::GetTimeRange(TimeRange&) { return false; }

TimeRange UniteRanges(const TimeRange& a, const TimeRange& b) {
    TimeRange r;
    RangeUnion(a.first, a.last, b.first, b.last, r.first, r.last);
    return r;
}
