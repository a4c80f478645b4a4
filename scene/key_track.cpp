#include "scene/key_track.h"

#include "core/debug/debug_trace.h"
#include "core/math/wrap.h"

#include <algorithm>
#include <cmath>

namespace {

// Segments whose keys are no further apart than this give their start value throughout.
constexpr float kMinSegmentLength = 0.0001f;

Vec3 Scaled(Vec3 v, float s) { return Vec3Scale(v, s); }

bool AllFinite(const float* values, int count) {
    for (int i = 0; i < count; ++i) {
        if (!std::isfinite(values[i])) return false;
    }
    return true;
}

bool ShapeIsFinite(const TrackKey& key) {
    const float shape[] = {key.continuity, key.tension, key.bias};
    return AllFinite(shape, 3);
}

// The Kochanek-Bartels tangent of key k (value vk) between the values before (va) and after
// (ve), with k's parameters. `starts`: k starts the segment (its outgoing tangent), else k ends
// it (its incoming tangent).
Vec3 KochanekBartelsTangent(const TrackKey& k, Vec3 va, Vec3 vk, Vec3 ve, bool starts) {
    const Vec3 d1 = Scaled(Vec3Subtract(vk, va), 1.0f + k.bias);
    const Vec3 d2 = Scaled(Vec3Subtract(ve, vk), 1.0f - k.bias);
    const Vec3 m = Scaled(Vec3Subtract(d2, d1), 0.5f);
    const float c = starts ? 1.0f + k.continuity : 1.0f - k.continuity;
    return Scaled(Vec3Add(d1, Scaled(m, c)), 1.0f - k.tension);
}

// The inner control quaternion of key k (qk) between qa and qe with k's parameters: outgoing
// when k starts the segment, incoming when it ends it.
D3DXQUATERNION RotationControl(const TrackKey& k, const D3DXQUATERNION& qa, const D3DXQUATERNION& qk,
                               const D3DXQUATERNION& qe, bool starts) {
    const D3DXQUATERNION l1 = Slerp(qk, qa, -(1.0f + k.bias) / 3.0f);
    const D3DXQUATERNION l2 = Slerp(qk, qe, (1.0f - k.bias) / 3.0f);
    if (starts) {
        const D3DXQUATERNION c = Slerp(l1, l2, (1.0f + k.continuity) / 2.0f);
        return Slerp(qk, c, 1.0f - k.tension);
    }
    const D3DXQUATERNION c = Slerp(l1, l2, (1.0f - k.continuity) / 2.0f);
    return Slerp(qk, c, k.tension - 1.0f);
}

// The parameter of a time inside [t0, t1], eased.
float SegmentParameter(float time, float t0, float t1, float easeIn, float easeOut) {
    return EaseCurve((time - t0) / (t1 - t0), easeIn, easeOut);
}

// A refused key is traced once per run: a damaged file would otherwise fill the trace.
void TraceRefusedKey() {
    static bool traced = false;
    if (traced) return;
    traced = true;
    DebugTrace("Key track: a key that is not finite was refused\n");
}


// The index of the first of the `count` ascending times that is not below `time` (count when
// none is): std::lower_bound with a conditional move instead of a branch at each halving,
// which random look-ups would mispredict about half the time.
int32_t FirstNotBefore(const float* times, int32_t count, float time) {
    if (count == 0) return 0;
    const float* base = times;
    int32_t n = count;
    while (n > 1) {
        const int32_t half = n / 2;
        base = base[half] < time ? base + half : base;
        n -= half;
    }
    return static_cast<int32_t>(base - times) + (*base < time ? 1 : 0);
}

}  // namespace

D3DXQUATERNION Slerp(const D3DXQUATERNION& from, const D3DXQUATERNION& to, float s) {
    D3DXQUATERNION out;
    D3DXQuaternionSlerp(&out, &from, &to, s);
    return out;
}

float EaseCurve(float u, float easeIn, float easeOut) {
    const float sum = easeIn + easeOut;
    if (sum > 1.0f) {
        easeIn /= sum;
        easeOut /= sum;
    }
    if (sum == 0.0f) return u;
    const float k = 1.0f / (2.0f - easeIn - easeOut);
    if (easeIn > 0.0f && u < easeIn) return k * u * u / easeIn;
    if (easeOut <= 0.0f || u < 1.0f - easeOut) return k * (2.0f * u - easeIn);
    return 1.0f - k * (1.0f - u) * (1.0f - u) / easeOut;
}

TrackKey TrackKey::Vector(float time, Vec3 v, float continuity, float tension, float bias) {
    return TrackKey{time, {v.x, v.y, v.z, 0.0f}, continuity, tension, bias};
}

TrackKey TrackKey::Rotation(float time, const D3DXQUATERNION& q, float continuity, float tension, float bias) {
    return TrackKey{time, {q.x, q.y, q.z, q.w}, continuity, tension, bias};
}

// ---- Vector segments ------------------------------------------------------------------------

bool VectorSegment::IsUsableKey(const TrackKey& key) {
    return std::isfinite(key.time) && AllFinite(key.value, 3) && ShapeIsFinite(key);
}

VectorSegment VectorSegment::Build(const TrackKey* prev, const TrackKey& k0, const TrackKey& k1,
                                   const TrackKey* next) {
    const Vec3 v0 = ValueOf(k0), v1 = ValueOf(k1);
    const Vec3 chord = Vec3Subtract(v1, v0);
    Vec3 t0, t1;
    if (prev != nullptr && next != nullptr) {
        t0 = KochanekBartelsTangent(k0, ValueOf(*prev), v0, v1, true);
        t1 = KochanekBartelsTangent(k1, v0, v1, ValueOf(*next), false);
    } else if (next != nullptr) {
        // The first segment: the start tangent mirrors the end tangent about the chord.
        t1 = KochanekBartelsTangent(k1, v0, v1, ValueOf(*next), false);
        t0 = Scaled(Vec3Subtract(Scaled(chord, 1.5f), Scaled(t1, 0.5f)), 1.0f - k0.tension);
    } else if (prev != nullptr) {
        // The last segment adds half the start tangent where the first segment subtracts half
        // the end tangent; the paths have always been shaped this way at their ends, so it is
        // kept.
        t0 = KochanekBartelsTangent(k0, ValueOf(*prev), v0, v1, true);
        t1 = Scaled(Vec3Add(Scaled(chord, 1.5f), Scaled(t0, 0.5f)), 1.0f - k1.tension);
    } else {
        t0 = chord;
        t1 = chord;
    }
    return VectorSegment{k0.time, k1.time, v0, v1, t0, t1, 0.0f, 0.0f};
}

Vec3 VectorSegment::At(float time, bool linear) const {
    if (std::fabs(t0 - t1) <= kMinSegmentLength) return p0;
    const float s = SegmentParameter(time, t0, t1, easeIn, easeOut);
    if (linear) return Vec3Add(p0, Scaled(Vec3Subtract(p1, p0), s));
    const float s2 = s * s;
    const float s3 = s2 * s;
    const float h00 = 2.0f * s3 - 3.0f * s2 + 1.0f;
    const float h10 = s3 - 2.0f * s2 + s;
    const float h01 = 3.0f * s2 - 2.0f * s3;
    const float h11 = s3 - s2;
    return Vec3{h00 * p0.x + h10 * T0.x + h01 * p1.x + h11 * T1.x,
                h00 * p0.y + h10 * T0.y + h01 * p1.y + h11 * T1.y,
                h00 * p0.z + h10 * T0.z + h01 * p1.z + h11 * T1.z};
}

// ---- Rotation segments ----------------------------------------------------------------------

bool RotationSegment::IsUsableKey(const TrackKey& key) {
    return std::isfinite(key.time) && AllFinite(key.value, 4) && ShapeIsFinite(key);
}

RotationSegment RotationSegment::Build(const TrackKey* prev, const TrackKey& k0, const TrackKey& k1,
                                       const TrackKey* next) {
    const D3DXQUATERNION q0 = ValueOf(k0), q1 = ValueOf(k1);
    D3DXQUATERNION a = q0, b = q1;
    if (prev != nullptr && next != nullptr) {
        a = RotationControl(k0, ValueOf(*prev), q0, q1, true);
        b = RotationControl(k1, q0, q1, ValueOf(*next), false);
    } else if (next != nullptr) {
        // The product c * b, not a sum: the paths have always been shaped this way at their
        // start, so it is kept.
        a = Slerp(q0, q1, (1.0f + k0.continuity * k0.bias) * (1.0f - k0.tension) / 3.0f);
        b = RotationControl(k1, q0, q1, ValueOf(*next), false);
    } else if (prev != nullptr) {
        a = RotationControl(k0, ValueOf(*prev), q0, q1, true);
        b = Slerp(q1, q0, (1.0f - k1.continuity * k1.bias) * (1.0f - k1.tension) / 3.0f);
    }
    return RotationSegment{k0.time, k1.time, q0, q1, a, b, 0.0f, 0.0f};
}

D3DXQUATERNION RotationSegment::At(float time, bool linear) const {
    if (std::fabs(t0 - t1) <= kMinSegmentLength) return q0;
    const float s = SegmentParameter(time, t0, t1, easeIn, easeOut);
    if (linear) return Slerp(q0, q1, s);
    const D3DXQUATERNION qa = Slerp(q0, a, s);
    const D3DXQUATERNION qb = Slerp(a, b, s);
    const D3DXQUATERNION qc = Slerp(b, q1, s);
    return Slerp(Slerp(qa, qb, s), Slerp(qb, qc, s), s);
}

// ---- Tracks ---------------------------------------------------------------------------------

template <typename Segment>
KeyTrack<Segment>::~KeyTrack() = default;

template <typename Segment>
bool KeyTrack<Segment>::AddKey(const TrackKey& key) {
    if (!Segment::IsUsableKey(key)) {
        TraceRefusedKey();
        return false;
    }
    KeyNode* node = keys_.FindNode(key.time);
    if (node != nullptr) {
        node->value.key = key;
    } else {
        node = keys_.Insert(key.time, KeyEntry<Segment>{key, Segment{}, false}, 1);
        indexStale_ = true;
    }
    lastSegment_ = nullptr;
    KeyNode* before = Before(node);
    if (before != nullptr) {
        DropSegment(Before(before));
        DropSegment(before);
    }
    DropSegment(node);
    DropSegment(After(node));
    if (flags_.Test(kTrackLoop)) {
        DropSegment(keys_.first());
        DropSegment(Before(keys_.first()->prev));
    }
    return true;
}

template <typename Segment>
void KeyTrack<Segment>::DropSegment(KeyNode* node) {
    if (node == nullptr || !node->value.cached) return;
    node->value.cached = false;
    --cachedSegments_;
}

template <typename Segment>
void KeyTrack<Segment>::Clear() {
    lastSegment_ = nullptr;
    cachedSegments_ = 0;
    keys_.Clear();
    indexStale_ = true;
}

template <typename Segment>
void KeyTrack<Segment>::IndexKeys() {
    indexTimes_.Resize(keys_.count());
    indexNodes_.Resize(keys_.count());
    KeyNode* node = keys_.first();
    for (int32_t i = 0; i < keys_.count(); ++i, node = node->next) {
        indexTimes_.items()[i] = node->key;
        indexNodes_.items()[i] = node;
    }
    const int32_t count = keys_.count();
    const float* times = indexTimes_.items();
    bucketScale_ = 0.0f;
    if (count > 1) {
        const float scale = static_cast<float>(count) / (times[count - 1] - times[0]);
        if (std::isfinite(scale)) bucketScale_ = scale;
    }
    const int32_t buckets = bucketScale_ > 0.0f ? count : 1;
    indexBuckets_.Resize(buckets + 1);
    int32_t* starts = indexBuckets_.items();
    int32_t key = 0;
    for (int32_t b = 0; b < buckets; ++b) {
        while (key < count && BucketOf(times[key]) < b) ++key;
        starts[b] = key;
    }
    starts[buckets] = count;
    indexStale_ = false;
}

template <typename Segment>
int32_t KeyTrack<Segment>::BucketOf(float time) const {
    if (bucketScale_ == 0.0f) return 0;
    const float at = (time - indexTimes_.items()[0]) * bucketScale_;
    const int32_t last = keys_.count() - 1;
    return at <= 0.0f ? 0 : at >= static_cast<float>(last) ? last : static_cast<int32_t>(at);
}

template <typename Segment>
int32_t KeyTrack<Segment>::FindKey(float time) const {
    const float* times = indexTimes_.items();
    const int32_t count = keys_.count();
    if (time <= times[0]) return 0;
    if (time > times[count - 1]) return count;
    // Keys of earlier buckets lie before the time and keys of later ones after it.
    const int32_t bucket = BucketOf(time);
    const int32_t lo = indexBuckets_.items()[bucket];
    const int32_t hi = indexBuckets_.items()[bucket + 1];
    const int32_t inside = hi - lo;
    if (inside <= 2) {
        // The common case, without a branch on the times: a loop whose length varies at random
        // would be mispredicted as often as the search it replaces.
        const float a = times[std::min(lo, count - 1)];
        const float b = times[std::min(lo + 1, count - 1)];
        return lo + static_cast<int32_t>((inside > 0) & (a < time)) + static_cast<int32_t>((inside > 1) & (b < time));
    }
    return lo + FirstNotBefore(times + lo, inside, time);
}

template <typename Segment>
void KeyTrack<Segment>::SetFlags(int32_t flags) {
    if (flags == flags_.value) return;
    flags_.value = flags;
    // The loop flag changes the neighbours of the end segments; the cache is rebuilt lazily.
    lastSegment_ = nullptr;
    KeyNode* node = keys_.first();
    for (int32_t i = 0; i < keys_.count(); ++i, node = node->next) node->value.cached = false;
    cachedSegments_ = 0;
}

template <typename Segment>
bool KeyTrack<Segment>::GetTimeRange(TimeRange& range) {
    if (keys_.count() == 0) return false;
    range.first = keys_.first()->key;
    range.last = keys_.first()->prev->key;
    return true;
}

template <typename Segment>
bool KeyTrack<Segment>::GetMatrix(float, TypedMatrix&) {
    return false;
}

template <typename Segment>
const Segment& KeyTrack<Segment>::SegmentFrom(KeyNode* lo, KeyNode* hi) {
    KeyEntry<Segment>& entry = lo->value;
    if (entry.cached) return entry.segment;
    const TrackKey* prev = Before(lo) != nullptr ? &Before(lo)->value.key : nullptr;
    const TrackKey* next = After(hi) != nullptr ? &After(hi)->value.key : nullptr;
    if (flags_.Test(kTrackLoop)) {
        // The first and last keys mark the same point of the loop. Only the values of the
        // made-up neighbours matter: times never enter the curve.
        const KeyNode* first = keys_.first();
        const KeyNode* last = first->prev;
        if (prev == nullptr && next == nullptr) {
            prev = &hi->value.key;
            next = &lo->value.key;
        } else if (next == nullptr) {
            next = &first->next->value.key;
        } else if (prev == nullptr) {
            prev = &last->prev->value.key;
        }
    }
    entry.segment = Segment::Build(prev, entry.key, hi->value.key, next);
    entry.cached = true;
    ++cachedSegments_;
    return entry.segment;
}

template <typename Segment>
bool KeyTrack<Segment>::Evaluate(float time, Value& out) {
    if (keys_.count() == 0) return false;
    if (flags_.Test(kTrackWrap)) time = WrapToRange(time, keys_.first()->key, keys_.first()->prev->key);
    const bool linear = flags_.Test(kTrackLinear);
    if (lastSegment_ != nullptr && lastSegment_->t0 < time && time < lastSegment_->t1) {
        out = lastSegment_->At(time, linear);
        return true;
    }
    if (std::isnan(time)) {
        // NaN compares equal to every key in the map's ordering; the first key is the answer.
        out = Segment::ValueOf(keys_.first()->value.key);
        return true;
    }
    if (indexStale_) IndexKeys();
    // hi: the first key at or after the time; lo: the last key at or before it.
    const float* times = indexTimes_.items();
    const int32_t count = keys_.count();
    const int32_t hi = FindKey(time);
    if (hi == 0) {
        out = Segment::ValueOf(indexNodes_.items()[0]->value.key);
    } else if (hi == count || times[hi] == time) {
        out = Segment::ValueOf(indexNodes_.items()[hi == count ? count - 1 : hi]->value.key);
    } else {
        const Segment& segment = SegmentFrom(indexNodes_.items()[hi - 1], indexNodes_.items()[hi]);
        lastSegment_ = &segment;
        out = segment.At(time, linear);
    }
    return true;
}

template class KeyTrack<VectorSegment>;
template class KeyTrack<RotationSegment>;

bool VectorKeyTrack::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<VectorKeyTrack, RefCounted>(this, id, out);
}

bool RotationKeyTrack::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<RotationKeyTrack, RefCounted>(this, id, out);
}

bool PositionTrack::GetMatrix(float time, TypedMatrix& out) {
    Vec3 v;
    if (!Evaluate(time, v)) return false;
    D3DXMATRIX m;
    D3DXMatrixTranslation(&m, v.x, v.y, v.z);
    CopyFromD3DX(m, out);
    out.kind = kMatrixTranslation;
    return true;
}

bool PositionTrack::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<PositionTrack, VectorKeyTrack, RefCounted>(this, id, out);
}

bool ScaleTrack::GetMatrix(float time, TypedMatrix& out) {
    Vec3 v;
    if (!Evaluate(time, v)) return false;
    D3DXMATRIX m;
    D3DXMatrixScaling(&m, v.x, v.y, v.z);
    CopyFromD3DX(m, out);
    out.kind = kMatrixScale;
    return true;
}

bool ScaleTrack::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<ScaleTrack, VectorKeyTrack, RefCounted>(this, id, out);
}

bool RotationTrack::GetMatrix(float time, TypedMatrix& out) {
    D3DXQUATERNION q;
    if (!Evaluate(time, q)) return false;
    D3DXMATRIX m;
    D3DXMatrixRotationQuaternion(&m, &q);
    CopyFromD3DX(m, out);
    out.valid = 0;
    return true;
}

bool RotationTrack::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<RotationTrack, RotationKeyTrack, RefCounted>(this, id, out);
}
