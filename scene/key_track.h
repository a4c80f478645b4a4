// Keyframe tracks of positions, scales and rotations. A track keeps its keys sorted by time and
// evaluates a value at any time: between two keys it builds, caches and evaluates a curve
// segment from the neighbouring keys -- a Hermite segment with Kochanek-Bartels tangents for
// three-component values, a spherical Bezier segment built from slerps for rotations -- or
// interpolates linearly when the track asks for it. Each concrete track is a TransformSource
// whose matrix is the translation, scaling or rotation of the evaluated value.
//
// Key times are in the units of the track's clock (camera paths count in units of 100 ms).
// Key times only bound the segments: they never enter the tangents or control points, so the
// tangents are not divided by a segment's duration.
#pragma once

#include "core/containers/dyn_array.h"
#include "core/containers/ordered_map.h"
#include "core/math/vec3.h"
#include "core/types/flag_word.h"
#include "scene/transform_source.h"

#include <d3dx9math.h>

#include <cstdint>
#include <type_traits>

// One key: 32 bytes, stored in files exactly as in memory (little-endian floats).
struct TrackKey {
    float time = 0.0f;
    // A rotation quaternion (x, y, z, w), or x, y, z and a fourth float that vector tracks
    // ignore (0 in the keys they make).
    float value[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    // The Kochanek-Bartels shape parameters c, t and b.
    float continuity = 0.0f;
    float tension = 0.0f;
    float bias = 0.0f;

    static TrackKey Vector(float time, Vec3 v, float continuity = 0.0f, float tension = 0.0f, float bias = 0.0f);
    static TrackKey Rotation(float time, const D3DXQUATERNION& q, float continuity = 0.0f, float tension = 0.0f,
                             float bias = 0.0f);
};

static_assert(sizeof(TrackKey) == 32 && std::is_standard_layout_v<TrackKey> &&
              std::is_trivially_copyable_v<TrackKey>);

// Track flags.
constexpr int32_t kTrackLoop = 1;    // the neighbours past either end come from the other end
constexpr int32_t kTrackWrap = 2;    // times wrap into [first key time, last key time)
constexpr int32_t kTrackLinear = 4;  // straight lines and plain slerps instead of the curves

// The cached curve between two adjacent keys of a vector track.
struct VectorSegment {
    using Value = Vec3;
    // Values the key's reads: time, x, y, z and the shape parameters (not the fourth value).
    static bool IsUsableKey(const TrackKey& key);
    static Vec3 ValueOf(const TrackKey& key) { return Vec3{key.value[0], key.value[1], key.value[2]}; }
    // The segment from k0 to k1 with the keys around them; prev and next are null at the ends
    // of a track that does not loop.
    static VectorSegment Build(const TrackKey* prev, const TrackKey& k0, const TrackKey& k1, const TrackKey* next);
    // The value at `time`, which lies in [t0, t1]: the start value when the keys are no more
    // than 0.0001 apart, else the Hermite curve or, when linear, the straight line.
    Vec3 At(float time, bool linear) const;

    float t0, t1;
    Vec3 p0, p1;
    Vec3 T0, T1;  // tangents at the start and end
    float easeIn, easeOut;
};

// The cached curve between two adjacent keys of a rotation track: q0 and q1 with the inner
// control quaternions a (after q0) and b (before q1).
struct RotationSegment {
    using Value = D3DXQUATERNION;
    // Every float of the key.
    static bool IsUsableKey(const TrackKey& key);
    static D3DXQUATERNION ValueOf(const TrackKey& key) { return D3DXQUATERNION(key.value); }
    static RotationSegment Build(const TrackKey* prev, const TrackKey& k0, const TrackKey& k1, const TrackKey* next);
    // The start value when the keys are no more than 0.0001 apart, else the de Casteljau curve
    // of slerps or, when linear, one slerp from q0 to q1.
    D3DXQUATERNION At(float time, bool linear) const;

    float t0, t1;
    D3DXQUATERNION q0, q1;
    D3DXQUATERNION a, b;
    float easeIn, easeOut;
};

// A key in its track, with the cached segment that starts at it once built. The cache lives
// beside the keys so that one lookup finds a key and its segment together.
template <typename Segment>
struct KeyEntry {
    TrackKey key;
    Segment segment;
    bool cached;
};

// What the two track kinds share: the keys by time, the segment cache, the flags and
// evaluation. The plain tracks answer false from GetMatrix; the concrete tracks below give
// matrices.
template <typename Segment>
class KeyTrack : public virtual TransformSource {
public:
    using Value = typename Segment::Value;
    using KeyMap = OrderedMap<float, KeyEntry<Segment>>;

    KeyTrack() : keys_(true) {}
    KeyTrack(const KeyTrack&) = delete;
    KeyTrack& operator=(const KeyTrack&) = delete;
    ~KeyTrack() override;

    // Inserts the key under its time (a key at an equal time is replaced) and drops the cached
    // segments whose curves depend on it: those starting at the key before its predecessor, its
    // predecessor, itself and its successor, and with kTrackLoop also the first and the last
    // segment, whose made-up neighbours come from the other end. A key with a float the track
    // reads that is not finite is refused (false, traced once per run): a NaN time would break
    // the ordering of the keys, NaN values would reach the view.
    bool AddKey(const TrackKey& key);
    // Removes every key and cached segment.
    void Clear();

    // The value at `time`; false only without keys. Before the first key the first key's
    // value, after the last the last key's, at a key's time exactly that key's value. With
    // kTrackWrap the time is wrapped into [first, last) first. A NaN time gives the first key's
    // value.
    bool Evaluate(float time, Value& out);

    // The times of the first and last key; false without keys.
    bool GetTimeRange(TimeRange& range) override;
    bool GetMatrix(float time, TypedMatrix& out) override;

    int32_t flags() const { return flags_.value; }
    // Replaces the flags; a change drops every cached segment.
    void SetFlags(int32_t flags);
    // The keys in time order (the node values also carry the cache).
    const KeyMap& keys() const { return keys_; }
    // Segments built and not yet dropped.
    int32_t CachedSegmentCount() const { return cachedSegments_; }

private:
    using KeyNode = typename KeyMap::Node;

    KeyNode* Before(KeyNode* node) const { return node == keys_.first() ? nullptr : node->prev; }
    KeyNode* After(KeyNode* node) const { return node->next == keys_.first() ? nullptr : node->next; }
    void DropSegment(KeyNode* node);
    const Segment& SegmentFrom(KeyNode* lo, KeyNode* hi);
    // Refills the flat index from the key map.
    void IndexKeys();
    // The index of the first key whose time is not before `time` (the key count when none is);
    // `time` is not NaN and the index is fresh.
    int32_t FindKey(float time) const;
    // The bucket of a time inside the keys' range; the same float steps for keys and look-ups,
    // so that a key and a time compare as their buckets do.
    int32_t BucketOf(float time) const;

    FlagWord flags_{0};
    KeyMap keys_;
    int32_t cachedSegments_ = 0;
    // The key times in order beside their nodes, rebuilt on the first evaluation after the keys
    // change: a binary search in one block finds a time's keys faster than a walk down the
    // tree, whose nodes lie all over the heap.
    DynArray<float> indexTimes_;
    DynArray<KeyNode*> indexNodes_;
    // The keys' range cut into as many buckets of equal length as there are keys, each holding
    // the index of its first key (and one more entry, the key count): a time's bucket leaves a
    // search among the few keys inside it, so evenly spaced keys (camera paths, sampled
    // animations) are found in about the same time however long the track is. A bucket scale
    // of 0 (all keys at one time) makes one bucket.
    DynArray<int32_t> indexBuckets_;
    float bucketScale_ = 0.0f;  // buckets per time unit
    bool indexStale_ = true;
    // The segment the last evaluation between two keys used: a time strictly inside it needs
    // no lookup. Null whenever a segment may have been dropped.
    const Segment* lastSegment_ = nullptr;
};

extern template class KeyTrack<VectorSegment>;
extern template class KeyTrack<RotationSegment>;

// Three-component keys; GetMatrix answers false.
class VectorKeyTrack : public KeyTrack<VectorSegment> {
public:
    // Its own id and RefCounted's.
    bool QueryInterface(int32_t id, void** out) override;
};

// Quaternion keys; GetMatrix answers false.
class RotationKeyTrack : public KeyTrack<RotationSegment> {
public:
    bool QueryInterface(int32_t id, void** out) override;
};

// The translation by the value: kind 6, valid 1.
class PositionTrack : public VectorKeyTrack {
public:
    bool GetMatrix(float time, TypedMatrix& out) override;
    bool QueryInterface(int32_t id, void** out) override;
};

// The scaling by the value: kind 5, valid 1.
class ScaleTrack : public VectorKeyTrack {
public:
    bool GetMatrix(float time, TypedMatrix& out) override;
    bool QueryInterface(int32_t id, void** out) override;
};

// The rotation matrix of the quaternion: kind 0 and, as the scene has always had it, valid 0.
class RotationTrack : public RotationKeyTrack {
public:
    bool GetMatrix(float time, TypedMatrix& out) override;
    bool QueryInterface(int32_t id, void** out) override;
};

// Ease in and out of a segment parameter u in [0, 1]: u itself when both amounts are 0 (the
// amounts of every segment a track builds). Amounts that sum to more than 1 are scaled down to
// sum to 1. An amount of 0 has no ease piece, so neither end divides by it.
float EaseCurve(float u, float easeIn, float easeOut);

// D3DXQuaternionSlerp by value: the shorter arc, not normalised, extrapolating outside [0, 1].
D3DXQUATERNION Slerp(const D3DXQUATERNION& from, const D3DXQUATERNION& to, float s);
