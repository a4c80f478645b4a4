// Animation tracks play a transform source (typically a TransformAnimation) against the engine
// clock: the milliseconds since the start, scaled by a speed, become the source's time, wrapped
// or clamped into a range; with the cache flag a matrix is reused while that time moves less
// than a tolerance. A track set holds a scene node's tracks by integer id and multiplies their
// matrices into the node's animation matrix.
#pragma once

#include "core/containers/ordered_map.h"
#include "core/containers/shared_ref.h"
#include "core/math/typed_matrix.h"
#include "core/types/flag_word.h"
#include "scene/transform_source.h"

#include <cstdint>

// AnimTrack flags, set as a whole by the owner.
constexpr int32_t kAnimWrapSource = 2;  // wrap the time into the source range
constexpr int32_t kAnimPlayRange = 4;   // wrap into the play range, and start from it
constexpr int32_t kAnimClamp = 8;       // clamp the time to the source range
constexpr int32_t kAnimCache = 0x10;    // reuse the last matrix within the tolerance

// A plain value; copies share the source.
class AnimTrack {
public:
    // No source, ranges (0, 0), speed 1, stopped, tolerance 0.1, nothing cached.
    AnimTrack() = default;

    // Takes the source, forgets the cached matrix and sets the source range to the source's
    // time range, or (0, 0) when it has none. The track is not started.
    void SetSource(SharedRef<TransformSource> source);
    // Asks the source for its range again (as SetSource does); false without a source or a
    // range, the range then (0, 0).
    bool QuerySourceRange();
    void SetPlayRange(float first, float last) { playRange_ = TimeRange{first, last}; }
    // Source-time seconds per clock second.
    void SetSpeed(float speed) { speed_ = speed; }
    void SetTolerance(float tolerance) { tolerance_ = tolerance; }
    void SetFlags(int32_t flags) { flags_.value = flags; }

    // Running from now (ClockNow).
    void Start();
    // Holds the first time of its range: the play range's with kAnimPlayRange, else the source
    // range's.
    void Stop() { running_ = false; }

    // The source time for an unmapped time t, the first rule that applies winning: kAnimClamp
    // clamps to the source range, kAnimWrapSource wraps into it, kAnimPlayRange wraps into the
    // play range; otherwise t.
    float LocalTime(float t) const;
    // The matrix for the current clock time: while running, LocalTime(elapsed ms x speed x
    // 0.001); stopped, the first time of the range. False without a source or when the source
    // answers false.
    bool GetMatrixNow(TypedMatrix& out);
    // The matrix at LocalTime(t), t in source units.
    bool GetMatrixAt(float t, TypedMatrix& out);

    TransformSource* source() const { return source_.Get(); }
    const TimeRange& sourceRange() const { return sourceRange_; }
    const TimeRange& playRange() const { return playRange_; }
    float speed() const { return speed_; }
    float tolerance() const { return tolerance_; }
    int32_t flags() const { return flags_.value; }
    bool running() const { return running_; }
    uint64_t start() const { return start_; }

private:
    // The cache step and the source's answer at source time t.
    bool MatrixAtSourceTime(float t, TypedMatrix& out);

    FlagWord flags_{0};
    SharedRef<TransformSource> source_;
    TimeRange sourceRange_;
    TimeRange playRange_;
    float speed_ = 1.0f;
    uint64_t start_ = 0;
    bool running_ = false;
    TypedMatrix cached_{{}, kMatrixGeneral, 0};
    float cachedTime_ = 0.0f;
    float tolerance_ = 0.1f;
    bool cacheValid_ = false;
};

// A node's tracks by id; products and the all-track operations go in increasing id order.
class AnimTrackSet {
public:
    // Every operation on all tracks.
    static constexpr int32_t kAllTracks = -1;

    AnimTrackSet() : tracks_(true) {}
    AnimTrackSet(const AnimTrackSet&) = delete;
    AnimTrackSet& operator=(const AnimTrackSet&) = delete;

    // The track of that id, made (default) when there is none.
    AnimTrack& AddTrack(int32_t id) { return tracks_.GetOrInsert(id)->value; }
    // The track of that id, or null.
    AnimTrack* FindTrack(int32_t id);
    int32_t count() const { return tracks_.count(); }

    // operation(AnimTrack&) on the track with that id, or on every track in id order for
    // kAllTracks; a missing id does nothing.
    template <typename Operation>
    void ForEach(int32_t id, Operation operation) {
        if (id != kAllTracks) {
            if (AnimTrack* track = FindTrack(id)) operation(*track);
            return;
        }
        typename Tracks::Node* node = tracks_.first();
        for (int32_t i = 0; i < tracks_.count(); ++i, node = node->next) operation(node->value);
    }

    void Start(int32_t id);
    bool AnyRunning();
    // Asks every track's source for its range again and answers their union; false when no
    // source has a range.
    bool GetTimeRange(TimeRange& range);
    // The product of every track's matrix that is obtained, from the identity in id order:
    // out = out x matrix. False, with out the identity, when no track gave one.
    bool GetMatrixNow(TypedMatrix& out);
    bool GetMatrixAt(float t, TypedMatrix& out);

private:
    using Tracks = OrderedMap<int32_t, AnimTrack>;

    template <typename Get>
    bool Product(TypedMatrix& out, Get get);

    Tracks tracks_;
};
