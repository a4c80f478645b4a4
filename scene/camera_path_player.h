// The saver's camera: a node transform whose composed matrix is a view matrix. The player adds a
// position track and a rotation track; asked for its matrix at a time it evaluates both, turns
// the rotation into a direction and an up vector, stores them with the position and answers the
// view of that eye. The camera path files fill the two tracks.
#pragma once

#include "scene/key_track.h"
#include "scene/node_transform.h"

// Answers RefCounted's type query only.
class CameraPathPlayer : public NodeTransform {
public:
    // A default transform with empty tracks.
    CameraPathPlayer() = default;
    CameraPathPlayer(const CameraPathPlayer&) = delete;
    CameraPathPlayer& operator=(const CameraPathPlayer&) = delete;

    PositionTrack& GetPositionTrack() { return position_; }
    RotationTrack& GetRotationTrack() { return rotation_; }

    // Evaluates the tracks at `time`: the position from the position track (kept when it has no
    // keys); direction = (0, 0, 1) and up = (0, 1, 0) rotated by the rotation track's
    // quaternion (the identity when it has no keys). Stores them and answers the view matrix;
    // always true.
    bool GetMatrix(float time, TypedMatrix& out) override;
    // The position track's key range, joined with the rotation track's when both have keys;
    // otherwise the rotation track's answer.
    bool GetTimeRange(TimeRange& range) override;

    // base x scaling(scale) x the left-handed look-at view of an eye at the position looking
    // along the direction with the up vector. The orientation rows of the plain transform are
    // not used.
    void ComposeTransform(TypedMatrix& out) override;

private:
    PositionTrack position_;
    RotationTrack rotation_;
};
