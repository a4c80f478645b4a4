// Lists of transform sources multiplied in list order, and the animation of a node: a scale, a
// rotation and a position track multiplied as scale x rotation x translation.
#pragma once

#include "core/containers/linked_list.h"
#include "scene/key_track.h"
#include "scene/transform_source.h"

// Holds pointers to sources it does not own; they must outlive the list.
class TransformSourceList : public TransformSource {
public:
    TransformSourceList() = default;
    TransformSourceList(const TransformSourceList&) = delete;
    TransformSourceList& operator=(const TransformSourceList&) = delete;

    // Appends to the end of the list.
    void Add(TransformSource* source);

    // Every source in list order: the first matrix obtained is the result and each further one
    // is multiplied on the right; sources answering false are skipped. False when none answered.
    bool GetMatrix(float time, TypedMatrix& out) override;
    // The union of the ranges of the sources that have one; false when none has.
    bool GetTimeRange(TimeRange& range) override;
    // Its own id and RefCounted's.
    bool QueryInterface(int32_t id, void** out) override;

private:
    LinkedList<TransformSource*> sources_;
};

// Owns its three tracks and lists them as scale, rotation, position. Loaders fill the tracks
// and set their flags through the accessors.
class TransformAnimation : public TransformSourceList {
public:
    TransformAnimation();

    ScaleTrack& GetScaleTrack() { return scale_; }
    RotationTrack& GetRotationTrack() { return rotation_; }
    PositionTrack& GetPositionTrack() { return position_; }

    // Its own id, TransformSourceList's and RefCounted's.
    bool QueryInterface(int32_t id, void** out) override;

private:
    ScaleTrack scale_;
    RotationTrack rotation_;
    PositionTrack position_;
};
