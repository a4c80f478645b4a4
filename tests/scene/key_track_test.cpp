// Key tracks: the edge cases of evaluation, the segment cache against tracks built afresh, GLM
// and the published identities of the Hermite, Catmull-Rom and slerp curves as oracles, bad
// keys, and the matrices of the concrete tracks.
#include "scene/key_track.h"
#include "scene/transform_animation.h"
#include "tests/scene/track_oracle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TrackKey V(float time, float x, float c = 0, float t = 0, float b = 0) {
    return TrackKey::Vector(time, Vec3{x, -x, 2 * x}, c, t, b);
}

// The quaternion of a turn by `angle` about the unit axis (x, y, z).
D3DXQUATERNION Turn(float x, float y, float z, float angle) {
    const float s = std::sin(angle / 2);
    return D3DXQUATERNION(x * s, y * s, z * s, std::cos(angle / 2));
}

template <typename Track>
void Fill(Track& track, const std::vector<TrackKey>& keys, int32_t flags = 0) {
    track.SetFlags(flags);
    for (const TrackKey& k : keys) EXPECT_TRUE(track.AddKey(k));
}

float X(VectorKeyTrack& track, float time) {
    Vec3 v{kNaN, kNaN, kNaN};
    EXPECT_TRUE(track.Evaluate(time, v));
    return v.x;
}

void ExpectSameBits(const void* a, const void* b, size_t size, const char* what) {
    EXPECT_EQ(std::memcmp(a, b, size), 0) << what;
}

// ---- The edge cases, in both forms --------------------------------------------------------

TEST(KeyTrackTest, EvaluationFollowsTheEdgeRulesInBothForms) {
    struct Case {
        const char* what;
        std::vector<TrackKey> keys;
        int32_t flags;  // kTrackLinear is added for the second form
        float time;
        float expected;
    };
    const std::vector<TrackKey> line = {V(0, 0), V(10, 10)};
    const std::vector<TrackKey> three = {V(1, 4, 0.3f, -0.2f, 0.5f), V(2, -1, -0.4f, 0.6f, 0.1f),
                                         V(4, 2, 0.2f, 0.1f, -0.7f)};
    const Case cases[] = {
        {"one key: its value before it", {V(3, 7)}, 0, -100, 7},
        {"one key: its value after it", {V(3, 7)}, 0, 1e30f, 7},
        {"one key with wrap", {V(3, 7)}, kTrackWrap, 55, 7},
        {"before the first key", three, 0, 0.5f, 4},
        {"after the last key", three, 0, 9, 2},
        {"at a key's time exactly, shaped keys", three, 0, 2, -1},
        {"at the last key's time", three, 0, 4, 2},
        {"two keys give the straight line: 0 to 10 is 5 at 5", line, 0, 5, 5},
        {"and 2.5 at 2.5", line, 0, 2.5f, 2.5f},
        {"keys closer than 0.0001 give the start value between them", {V(1, 3), V(1.00005f, 9)}, 0, 1.00002f, 3},
        {"wrap: 12 evaluates as 2", line, kTrackWrap, 12, 2},
        {"wrap: 10 evaluates as 0", line, kTrackWrap, 10, 0},
        {"wrap: -3 evaluates as 7", line, kTrackWrap, -3, 7},
        {"a NaN time gives the first key's value", three, 0, kNaN, 4},
        {"a NaN time with wrap", three, kTrackWrap, kNaN, 4},
        {"minus infinity", three, 0, -kInf, 4},
        {"plus infinity", three, 0, kInf, 2},
        {"a huge time with wrap", three, kTrackWrap, 3e38f, 4},
        {"a key at an equal time replaces the earlier one", {V(0, 0), V(5, 1), V(5, 8), V(10, 0)}, 0, 5, 8},
    };
    for (const Case& c : cases) {
        for (int32_t form : {0, kTrackLinear}) {
            VectorKeyTrack track;
            track.SetFlags(c.flags | form);
            for (const TrackKey& k : c.keys) ASSERT_TRUE(track.AddKey(k));
            EXPECT_NEAR(X(track, c.time), c.expected, 1e-5f) << c.what << (form ? " (linear)" : " (curve)");
        }
    }
}

TEST(KeyTrackTest, AnEmptyTrackGivesNothing) {
    VectorKeyTrack vectors;
    Vec3 v{1, 2, 3};
    EXPECT_FALSE(vectors.Evaluate(0, v));
    RotationKeyTrack rotations;
    D3DXQUATERNION q(1, 2, 3, 4);
    EXPECT_FALSE(rotations.Evaluate(0, q));
    TypedMatrix m;
    PositionTrack position;
    ScaleTrack scale;
    RotationTrack rotation;
    EXPECT_FALSE(position.GetMatrix(0, m));
    EXPECT_FALSE(scale.GetMatrix(0, m));
    EXPECT_FALSE(rotation.GetMatrix(0, m));
    TimeRange range{1, 2};
    EXPECT_FALSE(position.GetTimeRange(range));
    EXPECT_EQ(range.first, 1.0f);
}

// At a key's time the value is the key's, bit for bit, whatever the shape parameters.
TEST(KeyTrackTest, KeyTimesGiveTheKeysExactly) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> value(-5, 5), shape(-1, 1);
    std::vector<TrackKey> keys;
    for (int i = 0; i < 8; ++i) {
        keys.push_back(TrackKey{float(i) * 1.5f, {value(rng), value(rng), value(rng), value(rng)}, shape(rng),
                                shape(rng), shape(rng)});
    }
    for (int32_t flags : {0, kTrackLoop, kTrackLinear}) {
        VectorKeyTrack vectors;
        Fill(vectors, keys, flags);
        RotationKeyTrack rotations;
        Fill(rotations, keys, flags);
        for (const TrackKey& k : keys) {
            Vec3 v;
            D3DXQUATERNION q;
            // Evaluate next to the key first, so that the segment is cached and the fast path
            // for times inside it is taken where it may be.
            vectors.Evaluate(k.time + 0.75f, v);
            rotations.Evaluate(k.time - 0.75f, q);
            ASSERT_TRUE(vectors.Evaluate(k.time, v));
            ASSERT_TRUE(rotations.Evaluate(k.time, q));
            ExpectSameBits(&v, k.value, sizeof v, "vector");
            ExpectSameBits(&q, k.value, sizeof q, "rotation");
        }
    }
}

// ---- The segment cache ----------------------------------------------------------------------

// Keys are added one by one between evaluations that fill the cache; after each addition the
// track must agree bit for bit with a track built afresh from the same keys. A key added
// between two cached segments changes both sides; with the loop flag a key anywhere changes
// the end segments' made-up neighbours.
TEST(KeyTrackTest, AddingKeysLeavesNoStaleSegment) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> value(-3, 3), shape(-0.8f, 0.8f), time(0, 20);
    for (int32_t flags : {0, kTrackLoop, kTrackLinear, kTrackLoop | kTrackWrap}) {
        for (int round = 0; round < 30; ++round) {
            SCOPED_TRACE(testing::Message() << "flags " << flags << " round " << round);
            VectorKeyTrack vectors;
            RotationKeyTrack rotations;
            vectors.SetFlags(flags);
            rotations.SetFlags(flags);
            std::vector<TrackKey> added;
            for (int i = 0; i < 10; ++i) {
                const TrackKey key{i == 3 && !added.empty() ? added[0].time : std::round(time(rng) * 4) / 4,
                                   {value(rng), value(rng), value(rng), value(rng)}, shape(rng), shape(rng),
                                   shape(rng)};
                added.push_back(key);
                vectors.AddKey(key);
                rotations.AddKey(key);
                VectorKeyTrack freshVectors;
                Fill(freshVectors, added, flags);
                RotationKeyTrack freshRotations;
                Fill(freshRotations, added, flags);
                for (float t = -1; t < 21; t += 0.37f) {
                    Vec3 a, b;
                    D3DXQUATERNION qa, qb;
                    vectors.Evaluate(t, a);
                    freshVectors.Evaluate(t, b);
                    rotations.Evaluate(t, qa);
                    freshRotations.Evaluate(t, qb);
                    ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "vector at " << t << " after key " << i;
                    ASSERT_EQ(std::memcmp(&qa, &qb, sizeof qa), 0) << "rotation at " << t << " after key " << i;
                }
            }
        }
    }
}

// The keys a time falls between, found through the track's index, against std::upper_bound
// over the same times, for spacings that fill the index unevenly: clusters, keys closer than
// the shortest segment, a range far wider than the spacing, and one time for every key.
TEST(KeyTrackTest, UnevenKeyTimesFindTheirSegments) {
    const std::vector<std::vector<float>> spacings = {
        {-3, 0, 0.5f, 0.50005f, 0.7f, 2, 2.5f, 2.50001f, 40, 41, 1000},
        {-1e30f, 0, 1, 1e30f},
        {0, 1e-7f, 2e-7f, 1},
        {5, 5, 5},
        {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 1e6f},
    };
    for (const std::vector<float>& times : spacings) {
        VectorKeyTrack track;
        track.SetFlags(kTrackLinear);
        std::vector<float> unique;  // equal times: the later key replaces the earlier
        for (size_t k = 0; k < times.size(); ++k) {
            track.AddKey(TrackKey::Vector(times[k], Vec3{float(k), 0, 0}));
            if (unique.empty() || unique.back() != times[k]) unique.push_back(times[k]);
        }
        std::vector<float> values;
        for (float t : unique) values.push_back(float(std::upper_bound(times.begin(), times.end(), t) - times.begin() - 1));
        std::vector<float> probes;
        for (size_t k = 0; k < unique.size(); ++k) {
            probes.push_back(unique[k]);
            probes.push_back(std::nextafter(unique[k], -INFINITY));
            probes.push_back(std::nextafter(unique[k], INFINITY));
            if (k + 1 < unique.size()) probes.push_back(unique[k] + 0.37f * (unique[k + 1] - unique[k]));
        }
        for (float t : probes) {
            const size_t hi = size_t(std::upper_bound(unique.begin(), unique.end(), t) - unique.begin());
            float expected;
            if (hi == 0) {
                expected = values.front();
            } else if (hi == unique.size() || unique[hi - 1] == t) {
                expected = values[hi - 1];
            } else if (unique[hi] - unique[hi - 1] <= 0.0001f) {
                expected = values[hi - 1];
            } else {
                const float s = (t - unique[hi - 1]) / (unique[hi] - unique[hi - 1]);
                expected = values[hi - 1] + s * (values[hi] - values[hi - 1]);
            }
            Vec3 v;
            ASSERT_TRUE(track.Evaluate(t, v));
            EXPECT_NEAR(v.x, expected, 1e-4f) << "time " << t << " of " << times.size() << " keys";
        }
    }
}

TEST(KeyTrackTest, ChangingTheFlagsDropsTheSegments) {
    const std::vector<TrackKey> keys = {V(0, 0), V(1, 3), V(2, -2), V(3, 5), V(4, 0)};
    VectorKeyTrack track;
    Fill(track, keys);
    for (float t = 0; t < 4; t += 0.5f) X(track, t + 0.25f);
    EXPECT_EQ(track.CachedSegmentCount(), 4);
    track.SetFlags(kTrackLoop);
    EXPECT_EQ(track.CachedSegmentCount(), 0);
    VectorKeyTrack looped;
    Fill(looped, keys, kTrackLoop);
    EXPECT_EQ(X(track, 0.5f), X(looped, 0.5f));
    EXPECT_EQ(X(track, 3.5f), X(looped, 3.5f));
    track.Clear();
    Vec3 v;
    EXPECT_FALSE(track.Evaluate(1, v));
    EXPECT_EQ(track.CachedSegmentCount(), 0);
}

// ---- Oracles --------------------------------------------------------------------------------

// With continuity, tension and bias 0, interior segments are uniform Catmull-Rom: GLM's
// catmullRom of the four keys at the segment parameter (the tangents are (n - p) / 2).
TEST(KeyTrackOracleTest, InteriorSegmentsAreGlmCatmullRom) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> value(-1, 1), gap(0.5f, 3), fraction(0, 1);
    for (int round = 0; round < 50; ++round) {
        std::vector<TrackKey> keys;
        float t = 0;
        for (int i = 0; i < 7; ++i) {
            keys.push_back(TrackKey::Vector(t, Vec3{value(rng), value(rng), value(rng)}));
            t += gap(rng);
        }
        VectorKeyTrack track;
        Fill(track, keys);
        for (size_t i = 1; i + 2 < keys.size(); ++i) {
            const float s = fraction(rng);
            const float time = keys[i].time + s * (keys[i + 1].time - keys[i].time);
            Vec3 v;
            ASSERT_TRUE(track.Evaluate(time, v));
            const float u = (time - keys[i].time) / (keys[i + 1].time - keys[i].time);
            using track_oracle::Vec;
            const glm::vec3 expected =
                glm::catmullRom(Vec(keys[i - 1]), Vec(keys[i]), Vec(keys[i + 1]), Vec(keys[i + 2]), u);
            EXPECT_NEAR(v.x, expected.x, 1e-5f) << round << " segment " << i;
            EXPECT_NEAR(v.y, expected.y, 1e-5f);
            EXPECT_NEAR(v.z, expected.z, 1e-5f);
        }
    }
}

// Every segment (interior, first, last, two keys, looped) with random shape parameters
// against the model: Kochanek-Bartels tangents in their expanded form into glm::hermite, and
// rotation controls and the de Casteljau curve by glm::slerp. The model pins the end
// segments as they have always been: the first vector segment subtracts half the end
// tangent, the last adds half the start tangent, and the first rotation segment uses c x b.
TEST(KeyTrackOracleTest, EverySegmentMatchesHermiteAndSlerpModels) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> value(-1, 1), shape(-0.9f, 0.9f), gap(0.5f, 2), angle(0.3f, 1.2f);
    for (int32_t flags : {0, kTrackLoop, kTrackLinear}) {
        for (int round = 0; round < 40; ++round) {
            SCOPED_TRACE(testing::Message() << "flags " << flags << " round " << round);
            std::vector<TrackKey> keys;
            const int count = 2 + round % 5;
            float t = 0;
            D3DXQUATERNION q(0, 0, 0, 1);
            for (int i = 0; i < count; ++i) {
                // Rotations a good way apart, so that every slerp stays well conditioned.
                const D3DXQUATERNION step = Turn(0.6f, 0.8f, 0, angle(rng));
                D3DXQuaternionMultiply(&q, &q, &step);
                keys.push_back(TrackKey{t, {q.x, q.y, q.z, q.w}, shape(rng), shape(rng), shape(rng)});
                t += gap(rng);
            }
            VectorKeyTrack vectors;
            Fill(vectors, keys, flags);
            RotationKeyTrack rotations;
            Fill(rotations, keys, flags);
            for (float time = -0.5f; time < t; time += 0.13f) {
                Vec3 v;
                D3DXQUATERNION r;
                ASSERT_TRUE(vectors.Evaluate(time, v));
                ASSERT_TRUE(rotations.Evaluate(time, r));
                const glm::vec3 ev = track_oracle::Vector(keys, flags, time);
                const glm::quat er = track_oracle::Rotation(keys, flags, time);
                EXPECT_NEAR(v.x, ev.x, 1e-5f) << time;
                EXPECT_NEAR(v.y, ev.y, 1e-5f) << time;
                EXPECT_NEAR(v.z, ev.z, 1e-5f) << time;
                EXPECT_NEAR(r.x, er.x, 1e-5f) << time;
                EXPECT_NEAR(r.y, er.y, 1e-5f) << time;
                EXPECT_NEAR(r.z, er.z, 1e-5f) << time;
                EXPECT_NEAR(r.w, er.w, 1e-5f) << time;
            }
        }
    }
}

TEST(KeyTrackOracleTest, TheLinearFormIsGlmSlerp) {
    const D3DXQUATERNION q0 = Turn(0, 1, 0, 0.4f), q1 = Turn(1, 0, 0, 2.0f);
    RotationKeyTrack track;
    Fill(track, {TrackKey::Rotation(0, q0), TrackKey::Rotation(4, q1)}, kTrackLinear);
    for (float s : {0.0f, 0.1f, 0.25f, 0.5f, 0.8f, 1.0f}) {
        D3DXQUATERNION r;
        ASSERT_TRUE(track.Evaluate(4 * s, r));
        const glm::quat e = glm::slerp(track_oracle::Quat(q0), track_oracle::Quat(q1), s);
        EXPECT_NEAR(r.x, e.x, 1e-5f) << s;
        EXPECT_NEAR(r.y, e.y, 1e-5f) << s;
        EXPECT_NEAR(r.z, e.z, 1e-5f) << s;
        EXPECT_NEAR(r.w, e.w, 1e-5f) << s;
    }
}

// ---- Published identities ------------------------------------------------------------------

// The cubic Hermite weights of p0, T0, p1, T1 at s = 0.5 are 0.5, 0.125, 0.5 and -0.125.
TEST(KeyTrackIdentityTest, HermiteWeightsAtTheMidpoint) {
    const std::vector<TrackKey> keys = {V(0, 1), V(1, 4), V(2, -2), V(3, 3)};
    VectorKeyTrack track;
    Fill(track, keys);
    // The middle segment's Catmull-Rom tangents (n - p) / 2.
    const float p0 = 4, p1 = -2, t0 = (-2 - 1) / 2.0f, t1 = (3 - 4) / 2.0f;
    EXPECT_NEAR(X(track, 1.5f), 0.5f * p0 + 0.125f * t0 + 0.5f * p1 - 0.125f * t1, 1e-6f);
}

// The weights of p0 and p1 sum to 1: keys of one value give that value throughout, whatever
// the shape parameters.
TEST(KeyTrackIdentityTest, TheValueWeightsSumToOne) {
    VectorKeyTrack track;
    Fill(track, {V(0, 2.5f, 0.3f, 0.2f, -0.4f), V(1.5f, 2.5f, -0.6f, 0.5f, 0.1f), V(2, 2.5f, 0.9f, -0.3f, 0.7f),
                 V(5, 2.5f)});
    for (float t = 0; t <= 5; t += 0.1f) EXPECT_NEAR(X(track, t), 2.5f, 1e-6f) << t;
}

// A uniform Catmull-Rom spline reproduces a quadratic: keys k^2 at k = 0..6 give (k + s)^2 on
// the interior segments. Unequal spacing does not, because the tangents are not divided by
// the segment's duration.
TEST(KeyTrackIdentityTest, UniformCatmullRomReproducesAQuadratic) {
    std::vector<TrackKey> keys;
    for (int k = 0; k <= 6; ++k) keys.push_back(V(float(k), float(k * k)));
    VectorKeyTrack track;
    Fill(track, keys);
    for (float x = 1; x <= 5; x += 0.125f) EXPECT_NEAR(X(track, x), x * x, 1e-4f) << x;

    const float times[] = {0, 1, 3, 4, 7, 8};
    std::vector<TrackKey> uneven;
    for (float t : times) uneven.push_back(V(t, t * t));
    VectorKeyTrack unevenTrack;
    Fill(unevenTrack, uneven);
    EXPECT_GT(std::fabs(X(unevenTrack, 3.5f) - 3.5f * 3.5f), 0.1f) << "unequal spacing bends the curve";
}

// Two rotation keys: the de Casteljau curve with a = q0 and b = q1 is slerp(q0, q1, 3s^2 - 2s^3),
// which turns at a constant axis; slerp of a quaternion with itself is that quaternion; the
// endpoints are exact; the linear form turns at constant speed (the angle to q0 is s times the
// whole angle); and q1 and -q1 give the same result in both forms.
TEST(KeyTrackIdentityTest, TwoRotationKeys) {
    const D3DXQUATERNION q0 = Turn(0, 0, 1, 0.3f), q1 = Turn(0, 0, 1, 1.9f);
    const D3DXQUATERNION negated(-q1.x, -q1.y, -q1.z, -q1.w);
    RotationKeyTrack curve;
    Fill(curve, {TrackKey::Rotation(0, q0), TrackKey::Rotation(1, q1)});
    RotationKeyTrack curveNegated;
    Fill(curveNegated, {TrackKey::Rotation(0, q0), TrackKey::Rotation(1, negated)});
    RotationKeyTrack linear;
    Fill(linear, {TrackKey::Rotation(0, q0), TrackKey::Rotation(1, q1)}, kTrackLinear);
    RotationKeyTrack linearNegated;
    Fill(linearNegated, {TrackKey::Rotation(0, q0), TrackKey::Rotation(1, negated)}, kTrackLinear);
    const float whole = 1.9f - 0.3f;
    for (float s = 0.05f; s < 1; s += 0.1f) {
        D3DXQUATERNION c, cn, l, ln;
        curve.Evaluate(s, c);
        curveNegated.Evaluate(s, cn);
        linear.Evaluate(s, l);
        linearNegated.Evaluate(s, ln);
        const D3DXQUATERNION smooth = Slerp(q0, q1, 3 * s * s - 2 * s * s * s);
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(c[i], smooth[i], 1e-5f) << s;
            EXPECT_NEAR(cn[i], c[i], 1e-5f) << s;
            EXPECT_NEAR(ln[i], l[i], 1e-5f) << s;
        }
        // The angle between unit quaternions is twice the angle of their dot product.
        const float dot = l.x * q0.x + l.y * q0.y + l.z * q0.z + l.w * q0.w;
        EXPECT_NEAR(2 * std::acos(std::min(1.0f, dot)), s * whole, 1e-4f) << s;
    }
    for (float s : {0.0f, 0.3f, 1.0f, 1.5f, -0.5f}) {
        const D3DXQUATERNION same = Slerp(q1, q1, s);
        for (int i = 0; i < 4; ++i) EXPECT_NEAR(same[i], q1[i], 1e-6f) << s;
    }
    D3DXQUATERNION end;
    curve.Evaluate(1, end);
    ExpectSameBits(&end, &q1, sizeof end, "the end key exactly");
}

// ---- Bad keys -------------------------------------------------------------------------------

TEST(KeyTrackTest, KeysThatAreNotFiniteAreRefused) {
    struct Case {
        const char* what;
        TrackKey key;
        bool vectorTakes, rotationTakes;
    };
    const Case cases[] = {
        {"a NaN time", TrackKey{kNaN, {1, 2, 3, 4}, 0, 0, 0}, false, false},
        {"an infinite time", TrackKey{kInf, {1, 2, 3, 4}, 0, 0, 0}, false, false},
        {"a NaN value", TrackKey{1, {1, kNaN, 3, 4}, 0, 0, 0}, false, false},
        {"an infinite value", TrackKey{1, {-kInf, 2, 3, 4}, 0, 0, 0}, false, false},
        {"a NaN fourth value, which vector tracks do not read", TrackKey{1, {1, 2, 3, kNaN}, 0, 0, 0}, true, false},
        {"a NaN continuity", TrackKey{1, {1, 2, 3, 4}, kNaN, 0, 0}, false, false},
        {"an infinite tension", TrackKey{1, {1, 2, 3, 4}, 0, kInf, 0}, false, false},
        {"a NaN bias", TrackKey{1, {1, 2, 3, 4}, 0, 0, kNaN}, false, false},
        {"the largest finite floats", TrackKey{3.4e38f, {3.4e38f, -3.4e38f, 0, 1}, 0, 0, 0}, true, true},
    };
    for (const Case& c : cases) {
        VectorKeyTrack vectors;
        RotationKeyTrack rotations;
        EXPECT_EQ(vectors.AddKey(c.key), c.vectorTakes) << c.what;
        EXPECT_EQ(rotations.AddKey(c.key), c.rotationTakes) << c.what;
        EXPECT_EQ(vectors.keys().count(), c.vectorTakes ? 1 : 0) << c.what;
        EXPECT_EQ(rotations.keys().count(), c.rotationTakes ? 1 : 0) << c.what;
    }
}

bool Finite(const D3DXQUATERNION& q) {
    return std::isfinite(q.x) && std::isfinite(q.y) && std::isfinite(q.z) && std::isfinite(q.w);
}

// Zero-length and opposite quaternions and keys at one time give finite rotations.
TEST(KeyTrackTest, DegenerateRotationsStayFinite) {
    const D3DXQUATERNION zero(0, 0, 0, 0), q(0, 0.6f, 0, 0.8f), opposite(0, -0.6f, 0, -0.8f);
    const std::vector<std::vector<TrackKey>> tracks = {
        {TrackKey::Rotation(0, zero), TrackKey::Rotation(1, q), TrackKey::Rotation(2, zero)},
        {TrackKey::Rotation(0, q), TrackKey::Rotation(1, opposite), TrackKey::Rotation(2, q),
         TrackKey::Rotation(3, opposite)},
        {TrackKey::Rotation(0, zero), TrackKey::Rotation(1, zero), TrackKey::Rotation(2, zero)},
        {TrackKey::Rotation(0, q, 0.5f, 0.5f, 0.5f), TrackKey::Rotation(0, opposite), TrackKey::Rotation(0.00001f, q),
         TrackKey::Rotation(5, zero)},
    };
    for (size_t i = 0; i < tracks.size(); ++i) {
        for (int32_t flags : {0, kTrackLoop, kTrackLinear}) {
            RotationTrack track;
            Fill(track, tracks[i], flags);
            for (float t = -1; t < 6; t += 0.05f) {
                D3DXQUATERNION r;
                ASSERT_TRUE(track.Evaluate(t, r));
                EXPECT_TRUE(Finite(r)) << "track " << i << " flags " << flags << " at " << t;
                TypedMatrix m;
                ASSERT_TRUE(track.GetMatrix(t, m));
                for (float e : m.m) EXPECT_TRUE(std::isfinite(e));
            }
        }
    }
}

// ---- Matrices and type queries -------------------------------------------------------------

TEST(KeyTrackTest, ConcreteTracksGiveTheirMatrices) {
    TypedMatrix m;
    PositionTrack position;
    Fill(position, {TrackKey::Vector(0, Vec3{1, 2, 3}), TrackKey::Vector(2, Vec3{3, 2, 1})});
    ASSERT_TRUE(position.GetMatrix(1, m));
    EXPECT_EQ(m.kind, kMatrixTranslation);
    EXPECT_EQ(m.valid, 1);
    EXPECT_FLOAT_EQ(m.m[12], 2);
    EXPECT_FLOAT_EQ(m.m[13], 2);
    EXPECT_FLOAT_EQ(m.m[14], 2);
    TimeRange range;
    ASSERT_TRUE(position.GetTimeRange(range));
    EXPECT_EQ(range.first, 0);
    EXPECT_EQ(range.last, 2);

    ScaleTrack scale;
    Fill(scale, {TrackKey::Vector(0, Vec3{2, 3, 4})});
    ASSERT_TRUE(scale.GetMatrix(0, m));
    EXPECT_EQ(m.kind, kMatrixScale);
    EXPECT_EQ(m.valid, 1);
    EXPECT_EQ(m.m[0], 2);
    EXPECT_EQ(m.m[5], 3);
    EXPECT_EQ(m.m[10], 4);

    // A quarter turn about +y takes the direction (0, 0, 1) to (1, 0, 0).
    RotationTrack rotation;
    Fill(rotation, {TrackKey::Rotation(0, Turn(0, 1, 0, 1.5707964f))});
    ASSERT_TRUE(rotation.GetMatrix(0, m));
    EXPECT_EQ(m.kind, kMatrixGeneral);
    EXPECT_EQ(m.valid, 0);
    EXPECT_NEAR(m.m[8], 1, 1e-6f);   // row 2, the image of (0, 0, 1)
    EXPECT_NEAR(m.m[9], 0, 1e-6f);
    EXPECT_NEAR(m.m[10], 0, 1e-6f);

    VectorKeyTrack plain;
    Fill(plain, {V(0, 1)});
    EXPECT_FALSE(plain.GetMatrix(0, m)) << "the plain tracks give no matrix";
}

TEST(KeyTrackTest, TracksAnswerTheirOwnAndTheirTrackBasesIds) {
    PositionTrack position;
    ScaleTrack scale;
    RotationTrack rotation;
    TransformAnimation animation;
    struct Case {
        const char* what;
        RefCounted* object;
        int32_t id;
        bool answers;
    };
    const Case cases[] = {
        {"position: its own", &position, TypeId<PositionTrack>::Get(), true},
        {"position: its track base", &position, TypeId<VectorKeyTrack>::Get(), true},
        {"position: RefCounted", &position, TypeId<RefCounted>::Get(), true},
        {"position: not a scale track", &position, TypeId<ScaleTrack>::Get(), false},
        {"position: not a rotation track", &position, TypeId<RotationKeyTrack>::Get(), false},
        {"scale: its own", &scale, TypeId<ScaleTrack>::Get(), true},
        {"scale: not a position track", &scale, TypeId<PositionTrack>::Get(), false},
        {"rotation: its track base", &rotation, TypeId<RotationKeyTrack>::Get(), true},
        {"rotation: not a vector track", &rotation, TypeId<VectorKeyTrack>::Get(), false},
        {"animation: its own", &animation, TypeId<TransformAnimation>::Get(), true},
        {"animation: its list base", &animation, TypeId<TransformSourceList>::Get(), true},
        {"animation: not a track", &animation, TypeId<PositionTrack>::Get(), false},
    };
    for (const Case& c : cases) {
        void* part = nullptr;
        EXPECT_EQ(c.object->QueryInterface(c.id, &part), c.answers) << c.what;
        if (c.answers) {
            EXPECT_NE(part, nullptr) << c.what;
        }
    }
    EXPECT_EQ(QueryAs<VectorKeyTrack>(&position), static_cast<VectorKeyTrack*>(&position));
    EXPECT_EQ(QueryAs<RefCounted>(&rotation), static_cast<RefCounted*>(&rotation));
}

// ---- Animations -----------------------------------------------------------------------------

Vec3 Apply(const TypedMatrix& m, Vec3 p) {
    return Vec3{p.x * m.m[0] + p.y * m.m[4] + p.z * m.m[8] + m.m[12],
                p.x * m.m[1] + p.y * m.m[5] + p.z * m.m[9] + m.m[13],
                p.x * m.m[2] + p.y * m.m[6] + p.z * m.m[10] + m.m[14]};
}

TEST(TransformAnimationTest, TracksMultiplyAsScaleRotationTranslation) {
    TransformAnimation animation;
    TypedMatrix m;
    EXPECT_FALSE(animation.GetMatrix(0, m)) << "no track filled";
    TimeRange range;
    EXPECT_FALSE(animation.GetTimeRange(range));

    animation.GetPositionTrack().AddKey(TrackKey::Vector(1, Vec3{5, 0, 0}));
    animation.GetPositionTrack().AddKey(TrackKey::Vector(3, Vec3{5, 0, 0}));
    ASSERT_TRUE(animation.GetMatrix(2, m));
    EXPECT_EQ(m.kind, kMatrixTranslation) << "a pure translation";
    EXPECT_EQ(m.m[12], 5);

    animation.GetScaleTrack().AddKey(TrackKey::Vector(0, Vec3{2, 2, 2}));
    animation.GetRotationTrack().AddKey(TrackKey::Rotation(6, Turn(0, 1, 0, 1.5707964f)));
    ASSERT_TRUE(animation.GetMatrix(2, m));
    // (0, 0, 1) doubled, turned onto +x, then moved by 5.
    const Vec3 p = Apply(m, Vec3{0, 0, 1});
    EXPECT_NEAR(p.x, 7, 1e-5f);
    EXPECT_NEAR(p.y, 0, 1e-5f);
    EXPECT_NEAR(p.z, 0, 1e-5f);
    ASSERT_TRUE(animation.GetTimeRange(range));
    EXPECT_EQ(range.first, 0);
    EXPECT_EQ(range.last, 6);
}

// ---- Ease curve -----------------------------------------------------------------------------

TEST(EaseCurveTest, EasesInAndOutAndNeverDividesByAZeroAmount) {
    struct Case {
        float u, easeIn, easeOut, expected;
    };
    const Case cases[] = {
        {0.3f, 0, 0, 0.3f},       {-0.2f, 0, 0, -0.2f},    {1.7f, 0, 0, 1.7f},
        // k = 1 / (2 - 0.5 - 0.5) = 1
        {0.25f, 0.5f, 0.5f, 0.125f}, {0.5f, 0.5f, 0.5f, 0.5f}, {0.75f, 0.5f, 0.5f, 0.875f}, {1, 0.5f, 0.5f, 1},
        // amounts summing past 1 are scaled to sum to 1
        {0.25f, 1, 1, 0.125f},
        // one amount 0: only the other end eases, and u = 1 or u < 0 divide by nothing
        {1, 0.5f, 0, 1},          {0, 0, 0.5f, 0},         {-0.1f, 0, 0.5f, -0.2f / 1.5f},
        {0.25f, 0.5f, 0, 0.0625f / 0.5f / 1.5f},
    };
    for (const Case& c : cases) {
        const float r = EaseCurve(c.u, c.easeIn, c.easeOut);
        EXPECT_NEAR(r, c.expected, 1e-6f) << c.u << " " << c.easeIn << " " << c.easeOut;
    }
}

}  // namespace
