// Everything in the scene that yields a transform, possibly as a function of time, does so
// through TransformSource: node transforms, key tracks and their animations, the camera path
// player. Owners share sources through SharedRef; the interface keeps RefCounted's state.
#pragma once

#include "core/math/typed_matrix.h"
#include "core/object/ref_counted.h"

// The span of time over which a source changes, in the source's own time units.
struct TimeRange {
    float first = 0.0f;
    float last = 0.0f;
};

class TransformSource : public virtual RefCounted {
public:
    // The transform at `time`; false (out unspecified) when the source has nothing to give.
    virtual bool GetMatrix(float time, TypedMatrix& out) = 0;
    // The span of time over which the source changes. A static source answers false and
    // leaves `range` untouched.
    virtual bool GetTimeRange(TimeRange& range);
};

// The union of two ranges: the smaller first, the larger last.
TimeRange UniteRanges(const TimeRange& a, const TimeRange& b);
