#include "scene/anim_track.h"

#include "core/math/wrap.h"
#include "core/time/clock.h"

#include <cmath>
#include <utility>

void AnimTrack::SetSource(SharedRef<TransformSource> source) {
    source_ = std::move(source);
    cacheValid_ = false;
    QuerySourceRange();
}

bool AnimTrack::QuerySourceRange() {
    sourceRange_ = TimeRange{};
    if (source_.Get() == nullptr) return false;
    TimeRange range;
    if (!source_.Get()->GetTimeRange(range)) return false;
    sourceRange_ = range;
    return true;
}

void AnimTrack::Start() {
    running_ = true;
    start_ = ClockNow();
}

float AnimTrack::LocalTime(float t) const {
    if (flags_.Test(kAnimClamp)) {
        if (t < sourceRange_.first) return sourceRange_.first;
        if (t > sourceRange_.last) return sourceRange_.last;
        return t;
    }
    if (flags_.Test(kAnimWrapSource)) return WrapToRange(t, sourceRange_.first, sourceRange_.last);
    if (flags_.Test(kAnimPlayRange)) return WrapToRange(t, playRange_.first, playRange_.last);
    return t;
}

bool AnimTrack::GetMatrixNow(TypedMatrix& out) {
    if (source_.Get() == nullptr) return false;
    float t = flags_.Test(kAnimPlayRange) ? playRange_.first : sourceRange_.first;
    if (running_) {
        const int64_t elapsed = static_cast<int64_t>(ClockNow() - start_);
        t = LocalTime(static_cast<float>(elapsed) * speed_ * 0.001f);
    }
    return MatrixAtSourceTime(t, out);
}

bool AnimTrack::GetMatrixAt(float t, TypedMatrix& out) {
    if (source_.Get() == nullptr) return false;
    return MatrixAtSourceTime(LocalTime(t), out);
}

bool AnimTrack::MatrixAtSourceTime(float t, TypedMatrix& out) {
    const bool caching = flags_.Test(kAnimCache);
    if (caching) {
        if (cacheValid_ && std::fabs(t - cachedTime_) < tolerance_) {
            out = cached_;
            return true;
        }
        cacheValid_ = false;
    }
    if (!source_.Get()->GetMatrix(t, out)) return false;
    if (caching) {
        cached_ = out;
        cachedTime_ = t;
        cacheValid_ = true;
    }
    return true;
}

AnimTrack* AnimTrackSet::FindTrack(int32_t id) {
    Tracks::Node* node = tracks_.FindNode(id);
    return node != nullptr ? &node->value : nullptr;
}

void AnimTrackSet::Start(int32_t id) {
    ForEach(id, [](AnimTrack& track) { track.Start(); });
}

bool AnimTrackSet::AnyRunning() {
    bool any = false;
    ForEach(kAllTracks, [&any](AnimTrack& track) { any = any || track.running(); });
    return any;
}

bool AnimTrackSet::GetTimeRange(TimeRange& range) {
    bool any = false;
    ForEach(kAllTracks, [&](AnimTrack& track) {
        if (!track.QuerySourceRange()) return;
        range = any ? UniteRanges(range, track.sourceRange()) : track.sourceRange();
        any = true;
    });
    return any;
}

template <typename Get>
bool AnimTrackSet::Product(TypedMatrix& out, Get get) {
    out = IdentityMatrix();
    bool any = false;
    ForEach(kAllTracks, [&](AnimTrack& track) {
        TypedMatrix m;
        if (!get(track, m)) return;
        out = MultiplyMatrices(out, m);
        any = true;
    });
    return any;
}

bool AnimTrackSet::GetMatrixNow(TypedMatrix& out) {
    return Product(out, [](AnimTrack& track, TypedMatrix& m) { return track.GetMatrixNow(m); });
}

bool AnimTrackSet::GetMatrixAt(float t, TypedMatrix& out) {
    return Product(out, [t](AnimTrack& track, TypedMatrix& m) { return track.GetMatrixAt(t, m); });
}
