// Keys from a fuzz input into both kinds of key track, a TransformAnimation, an AnimTrack over
// it and a camera path player, evaluated at fuzzed times on a fuzzed test clock. Input layout,
// read from the front (fields past the end read as zero):
//   byte    vector-track flags (low 3 bits: loop, wrap, linear)
//   byte    rotation-track flags (low 3 bits)
//   byte    AnimTrack flags (wrap 2, play range 4, clamp 8, cache 0x10)
//   float   speed, tolerance, play range first, play range last
//   u32     clock at Start, u32 clock at the GetMatrixNow calls
//   byte    key count (at most 64); per key: a byte choosing the track (value mod 5: the
//           animation's scale, rotation or position track, the plain vector or rotation
//           track), then the 32-byte key
//   rest    evaluation times, 4 bytes each; after half of them the track flags flip
// Besides what the sanitizers see, a result that is not finite aborts when every float of the
// input other than the evaluation times is finite and within the bounds below, where every
// step of the curves stays in range (times may be anything: NaN and infinities included).

#include "core/time/clock_source.h"
#include "fuzz/fuzz_input.h"
#include "scene/anim_track.h"
#include "scene/camera_path_player.h"
#include "scene/key_track.h"
#include "scene/transform_animation.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using fuzz_input::Check;

constexpr float kMaxTime = 1e6f;
constexpr float kMaxValue = 1e3f;
constexpr float kMaxShape = 4.0f;
constexpr float kMaxSpeed = 1e3f;

uint32_t g_now = 0;
uint32_t FuzzClock() { return g_now; }

float Real(fuzz_input::Reader& in) {
    const uint32_t bits = in.Number(4);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

bool Within(float v, float bound) { return std::isfinite(v) && std::fabs(v) <= bound; }

bool KeyWithinBounds(const TrackKey& k) {
    if (!Within(k.time, kMaxTime)) return false;
    for (float v : k.value) {
        if (!Within(v, kMaxValue)) return false;
    }
    return Within(k.continuity, kMaxShape) && Within(k.tension, kMaxShape) && Within(k.bias, kMaxShape);
}

bool Finite(const float* values, int count) {
    for (int i = 0; i < count; ++i) {
        if (!std::isfinite(values[i])) return false;
    }
    return true;
}

void CheckMatrix(bool answered, const TypedMatrix& m, bool bounded) {
    if (answered && bounded) Check(Finite(m.m, 16));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::Reader in(data, size);
    int32_t vectorFlags = in.Byte() & 7;
    int32_t rotationFlags = in.Byte() & 7;
    const int32_t animFlags = in.Byte() & 0x1E;
    const float speed = Real(in), tolerance = Real(in), playFirst = Real(in), playLast = Real(in);
    const uint32_t startClock = in.Number(4), nowClock = in.Number(4);
    bool bounded = Within(speed, kMaxSpeed) && std::isfinite(tolerance) && std::isfinite(playFirst) &&
                   std::isfinite(playLast);

    TransformAnimation* animation = new TransformAnimation;
    VectorKeyTrack vectors;
    RotationKeyTrack rotations;
    CameraPathPlayer player;
    const int keyCount = in.Byte() % 65;
    for (int i = 0; i < keyCount; ++i) {
        const int target = in.Byte() % 5;
        TrackKey key;
        const std::string bytes = in.Bytes(sizeof key);
        std::memset(&key, 0, sizeof key);
        std::memcpy(&key, bytes.data(), bytes.size());
        bounded = bounded && KeyWithinBounds(key);
        switch (target) {
            case 0: animation->GetScaleTrack().AddKey(key); break;
            case 1:
                animation->GetRotationTrack().AddKey(key);
                player.GetRotationTrack().AddKey(key);
                break;
            case 2:
                animation->GetPositionTrack().AddKey(key);
                player.GetPositionTrack().AddKey(key);
                break;
            case 3: vectors.AddKey(key); break;
            default: rotations.AddKey(key); break;
        }
    }
    std::vector<float> times;
    while (in.Left() >= 4) times.push_back(Real(in));

    g_now = startClock;
    SetClockSource(&FuzzClock);
    AnimTrack track;
    track.SetSource(SharedRef<TransformSource>(animation));
    track.SetFlags(animFlags);
    track.SetSpeed(speed);
    track.SetTolerance(tolerance);
    track.SetPlayRange(playFirst, playLast);
    track.Start();
    g_now = nowClock;

    for (size_t i = 0; i < times.size(); ++i) {
        if (i == times.size() / 2) {
            // Flipped flags drop every cached segment; the loop flag changes the end segments.
            vectorFlags ^= kTrackLoop | kTrackLinear;
            rotationFlags ^= kTrackLoop | kTrackWrap;
        }
        for (VectorKeyTrack* t : {static_cast<VectorKeyTrack*>(&vectors),
                                  static_cast<VectorKeyTrack*>(&animation->GetScaleTrack()),
                                  static_cast<VectorKeyTrack*>(&animation->GetPositionTrack()),
                                  static_cast<VectorKeyTrack*>(&player.GetPositionTrack())}) {
            t->SetFlags(vectorFlags);
        }
        for (RotationKeyTrack* t : {static_cast<RotationKeyTrack*>(&rotations),
                                    static_cast<RotationKeyTrack*>(&animation->GetRotationTrack()),
                                    static_cast<RotationKeyTrack*>(&player.GetRotationTrack())}) {
            t->SetFlags(rotationFlags);
        }
        const float time = times[i];
        Vec3 v;
        if (vectors.Evaluate(time, v) && bounded) Check(Finite(&v.x, 3));
        D3DXQUATERNION q;
        if (rotations.Evaluate(time, q) && bounded) Check(Finite(&q.x, 4));
        TypedMatrix m;
        CheckMatrix(animation->GetMatrix(time, m), m, bounded);
        CheckMatrix(track.GetMatrixAt(time, m), m, bounded);
        CheckMatrix(track.GetMatrixNow(m), m, bounded);
        CheckMatrix(player.GetMatrix(time, m), m, bounded);
        TimeRange range;
        if (player.GetTimeRange(range) && bounded) Check(std::isfinite(range.first) && std::isfinite(range.last));
    }
    SetClockSource(nullptr);
    return 0;
}
