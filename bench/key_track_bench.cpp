// What the key tracks cost per evaluation, against a plain peer in the same run: keys in a
// sorted std::vector, the segment found with std::upper_bound and evaluated with GLM
// (glm::catmullRom for positions; for rotations the control quaternions recomputed with
// glm::slerp at every call, no cache). Times run frame by frame (0.16 units apart, as the
// saver's camera advances) or at random. Also the camera path player's whole view per frame and
// the read of an unchanged node transform against a plain matrix copy.
#include "scene/camera_path_player.h"
#include "scene/key_track.h"
#include "scene/node_transform.h"

#include <benchmark/benchmark.h>

#include <glm/glm.hpp>
#include <glm/gtc/quaternion.hpp>
#define GLM_ENABLE_EXPERIMENTAL
#include <glm/gtx/spline.hpp>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr float kFrameStep = 0.16f;
// Enough random times that no branch predictor learns the cycle: with a few thousand, a
// branchy search over a short track was predicted from the repeating pattern and looked
// several times cheaper than it is.
constexpr int kRandomTimes = 1 << 16;

struct Keys {
    std::vector<TrackKey> keys;
    float end = 0;
};

// `count` position keys one unit apart at random places.
Keys MakeKeys(int count) {
    std::mt19937 rng(static_cast<uint32_t>(count));
    std::uniform_real_distribution<float> value(-10, 10);
    Keys k;
    for (int i = 0; i < count; ++i) k.keys.push_back(TrackKey::Vector(float(i), Vec3{value(rng), value(rng), value(rng)}));
    k.end = float(count - 1);
    return k;
}

// `count` rotation keys one unit apart, each a modest turn from the one before.
std::vector<TrackKey> RotationKeys(int count) {
    std::mt19937 rng(static_cast<uint32_t>(count) + 1);
    std::uniform_real_distribution<float> angle(0.05f, 0.4f);
    std::vector<TrackKey> keys;
    D3DXQUATERNION q(0, 0, 0, 1);
    for (int i = 0; i < count; ++i) {
        const float a = angle(rng), s = std::sin(a / 2);
        const D3DXQUATERNION step(0.6f * s, 0.8f * s, 0, std::cos(a / 2));
        D3DXQuaternionMultiply(&q, &q, &step);
        keys.push_back(TrackKey::Rotation(float(i), q));
    }
    return keys;
}

std::vector<float> RandomTimes(float end) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> time(0, end);
    std::vector<float> times(kRandomTimes);
    for (float& t : times) t = time(rng);
    return times;
}

// ---- The peer -------------------------------------------------------------------------------

struct PeerVectorTrack {
    std::vector<float> times;
    std::vector<glm::vec3> values;

    explicit PeerVectorTrack(const std::vector<TrackKey>& keys) {
        for (const TrackKey& k : keys) {
            times.push_back(k.time);
            values.push_back(glm::vec3(k.value[0], k.value[1], k.value[2]));
        }
    }
    glm::vec3 Evaluate(float t) const {
        const size_t n = times.size();
        const size_t hi = size_t(std::upper_bound(times.begin(), times.end(), t) - times.begin());
        if (hi == 0) return values.front();
        if (hi == n) return values.back();
        const size_t lo = hi - 1;
        const float s = (t - times[lo]) / (times[hi] - times[lo]);
        return glm::catmullRom(values[lo == 0 ? 0 : lo - 1], values[lo], values[hi], values[hi + 1 < n ? hi + 1 : hi],
                               s);
    }
};

struct PeerRotationTrack {
    std::vector<float> times;
    std::vector<glm::quat> values;

    explicit PeerRotationTrack(const std::vector<TrackKey>& keys) {
        for (const TrackKey& k : keys) {
            times.push_back(k.time);
            values.push_back(glm::quat(k.value[3], k.value[0], k.value[1], k.value[2]));
        }
    }
    // The same control quaternions as the track's interior segments (shape parameters 0), made
    // again at every call.
    static glm::quat Control(glm::quat a, glm::quat k, glm::quat e, bool starts) {
        const glm::quat l1 = glm::slerp(k, a, -1.0f / 3), l2 = glm::slerp(k, e, 1.0f / 3);
        return glm::slerp(k, glm::slerp(l1, l2, 0.5f), starts ? 1.0f : -1.0f);
    }
    glm::quat Evaluate(float t) const {
        const size_t n = times.size();
        const size_t hi = size_t(std::upper_bound(times.begin(), times.end(), t) - times.begin());
        if (hi == 0) return values.front();
        if (hi == n) return values.back();
        const size_t lo = hi - 1;
        const float s = (t - times[lo]) / (times[hi] - times[lo]);
        const glm::quat q0 = values[lo], q1 = values[hi];
        const glm::quat a = Control(values[lo == 0 ? 0 : lo - 1], q0, q1, true);
        const glm::quat b = Control(q0, q1, values[hi + 1 < n ? hi + 1 : hi], false);
        const glm::quat qa = glm::slerp(q0, a, s), qb = glm::slerp(a, b, s), qc = glm::slerp(b, q1, s);
        return glm::slerp(glm::slerp(qa, qb, s), glm::slerp(qb, qc, s), s);
    }
};

// ---- Vector tracks --------------------------------------------------------------------------

// Argument: key count.
void BM_VectorTrackFrames(benchmark::State& state) {
    const Keys k = MakeKeys(int(state.range(0)));
    VectorKeyTrack track;
    for (const TrackKey& key : k.keys) track.AddKey(key);
    float t = 0;
    for (auto _ : state) {
        Vec3 v;
        track.Evaluate(t, v);
        benchmark::DoNotOptimize(v);
        t += kFrameStep;
        if (t > k.end) t = 0;
    }
}

void BM_PeerVectorFrames(benchmark::State& state) {
    const Keys k = MakeKeys(int(state.range(0)));
    const PeerVectorTrack track(k.keys);
    float t = 0;
    for (auto _ : state) {
        glm::vec3 v = track.Evaluate(t);
        benchmark::DoNotOptimize(v);
        t += kFrameStep;
        if (t > k.end) t = 0;
    }
}

void BM_VectorTrackRandom(benchmark::State& state) {
    const Keys k = MakeKeys(int(state.range(0)));
    VectorKeyTrack track;
    for (const TrackKey& key : k.keys) track.AddKey(key);
    const std::vector<float> times = RandomTimes(k.end);
    for (const float t : times) {  // every segment cached, as after the first pass of a path
        Vec3 v;
        track.Evaluate(t, v);
    }
    size_t i = 0;
    for (auto _ : state) {
        Vec3 v;
        track.Evaluate(times[i], v);
        benchmark::DoNotOptimize(v);
        i = (i + 1) & (kRandomTimes - 1);
    }
}

void BM_PeerVectorRandom(benchmark::State& state) {
    const Keys k = MakeKeys(int(state.range(0)));
    const PeerVectorTrack track(k.keys);
    const std::vector<float> times = RandomTimes(k.end);
    size_t i = 0;
    for (auto _ : state) {
        glm::vec3 v = track.Evaluate(times[i]);
        benchmark::DoNotOptimize(v);
        i = (i + 1) & (kRandomTimes - 1);
    }
}

// ---- Rotation tracks ------------------------------------------------------------------------

void BM_RotationTrackFrames(benchmark::State& state) {
    const std::vector<TrackKey> keys = RotationKeys(int(state.range(0)));
    RotationKeyTrack track;
    for (const TrackKey& key : keys) track.AddKey(key);
    const float end = keys.back().time;
    float t = 0;
    for (auto _ : state) {
        D3DXQUATERNION q;
        track.Evaluate(t, q);
        benchmark::DoNotOptimize(q);
        t += kFrameStep;
        if (t > end) t = 0;
    }
}

void BM_PeerRotationFrames(benchmark::State& state) {
    const std::vector<TrackKey> keys = RotationKeys(int(state.range(0)));
    const PeerRotationTrack track(keys);
    const float end = keys.back().time;
    float t = 0;
    for (auto _ : state) {
        glm::quat q = track.Evaluate(t);
        benchmark::DoNotOptimize(q);
        t += kFrameStep;
        if (t > end) t = 0;
    }
}

// ---- The camera and node transforms ---------------------------------------------------------

void BM_CameraPathPlayerFrame(benchmark::State& state) {
    const Keys positions = MakeKeys(40);
    const std::vector<TrackKey> rotations = RotationKeys(40);
    CameraPathPlayer player;
    for (const TrackKey& key : positions.keys) player.GetPositionTrack().AddKey(key);
    for (const TrackKey& key : rotations) player.GetRotationTrack().AddKey(key);
    float t = 0;
    for (auto _ : state) {
        TypedMatrix view;
        player.GetMatrix(t, view);
        benchmark::DoNotOptimize(view);
        t += kFrameStep;
        if (t > positions.end) t = 0;
    }
}

void BM_UnchangedNodeTransformRead(benchmark::State& state) {
    NodeTransform transform;
    transform.SetPosition(Vec3{1, 2, 3});
    transform.SetOrientation(Vec3{1, 0, 1}, Vec3{0, 1, 0});
    TypedMatrix out;
    transform.ComposeTransform(out);
    for (auto _ : state) {
        transform.ComposeTransform(out);
        benchmark::DoNotOptimize(out);
    }
}

void BM_PlainMatrixCopy(benchmark::State& state) {
    TypedMatrix source;
    source.m[12] = 1;
    TypedMatrix out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(source);
        out = source;
        benchmark::DoNotOptimize(out);
    }
}

}  // namespace

BENCHMARK(BM_VectorTrackFrames)->Arg(20)->Arg(200)->Arg(2000);
BENCHMARK(BM_PeerVectorFrames)->Arg(200);
BENCHMARK(BM_VectorTrackRandom)->Arg(20)->Arg(200)->Arg(2000);
BENCHMARK(BM_PeerVectorRandom)->Arg(20)->Arg(200)->Arg(2000);
BENCHMARK(BM_RotationTrackFrames)->Arg(200);
BENCHMARK(BM_PeerRotationFrames)->Arg(200);
BENCHMARK(BM_CameraPathPlayerFrame);
BENCHMARK(BM_UnchangedNodeTransformRead);
BENCHMARK(BM_PlainMatrixCopy);

BENCHMARK_MAIN();
