// An independent model of key-track evaluation for the tests, written from the published
// forms: Kochanek-Bartels tangents in their expanded form, the curves by GLM (glm::hermite,
// glm::slerp), the neighbours and end cases from the track's documented rules. Tracks are
// compared against it on random keys, flags and times.
#pragma once

#include "scene/key_track.h"

#include <glm/glm.hpp>
#include <glm/gtc/quaternion.hpp>
#define GLM_ENABLE_EXPERIMENTAL
#include <glm/gtx/spline.hpp>
#include <glm/ext/matrix_clip_space.hpp>
#include <glm/ext/matrix_transform.hpp>

#include <algorithm>
#include <cmath>
#include <vector>

namespace track_oracle {

inline glm::vec3 Vec(const TrackKey& k) { return glm::vec3(k.value[0], k.value[1], k.value[2]); }
// GLM's constructor takes the scalar first.
inline glm::quat Quat(const TrackKey& k) { return glm::quat(k.value[3], k.value[0], k.value[1], k.value[2]); }
inline glm::quat Quat(const D3DXQUATERNION& q) { return glm::quat(q.w, q.x, q.y, q.z); }

// The keys in time order, one per time (a later key of an equal time replaces the earlier).
inline std::vector<TrackKey> Sorted(const std::vector<TrackKey>& keys) {
    std::vector<TrackKey> out;
    for (const TrackKey& k : keys) {
        auto at = std::find_if(out.begin(), out.end(), [&](const TrackKey& o) { return o.time == k.time; });
        if (at != out.end()) {
            *at = k;
        } else {
            out.push_back(k);
        }
    }
    std::sort(out.begin(), out.end(), [](const TrackKey& a, const TrackKey& b) { return a.time < b.time; });
    return out;
}

// The expanded forms: (1 - t)[(1 + b)(1 -+ c)/2 (k - a) + (1 - b)(1 +- c)/2 (e - k)].
inline glm::vec3 StartTangent(const TrackKey& k, glm::vec3 a, glm::vec3 e) {
    const float c = k.continuity, t = k.tension, b = k.bias;
    return (1 - t) * ((1 + b) * (1 - c) / 2 * (Vec(k) - a) + (1 - b) * (1 + c) / 2 * (e - Vec(k)));
}
inline glm::vec3 EndTangent(const TrackKey& k, glm::vec3 a, glm::vec3 e) {
    const float c = k.continuity, t = k.tension, b = k.bias;
    return (1 - t) * ((1 + b) * (1 + c) / 2 * (Vec(k) - a) + (1 - b) * (1 - c) / 2 * (e - Vec(k)));
}

struct Window {
    const TrackKey* p;
    const TrackKey* k0;
    const TrackKey* k1;
    const TrackKey* n;
    bool exact;          // the time is before, after or at a key: value is that key's
    const TrackKey* at;  // which key, when exact
};

// Finds the segment of `time` (already wrapped) and its neighbours, made up for loops.
inline Window Locate(const std::vector<TrackKey>& keys, int32_t flags, float time) {
    Window w{};
    if (std::isnan(time) || time <= keys.front().time) {
        w.exact = true;
        w.at = &keys.front();
        if (!std::isnan(time) && time == keys.front().time) w.at = &keys.front();
        return w;
    }
    for (size_t i = 0; i + 1 < keys.size(); ++i) {
        if (time == keys[i + 1].time) {
            w.exact = true;
            w.at = &keys[i + 1];
            return w;
        }
        if (time > keys[i].time && time < keys[i + 1].time) {
            w.k0 = &keys[i];
            w.k1 = &keys[i + 1];
            w.p = i > 0 ? &keys[i - 1] : nullptr;
            w.n = i + 2 < keys.size() ? &keys[i + 2] : nullptr;
            if (flags & kTrackLoop) {
                if (!w.p && !w.n) {
                    w.p = w.k1;
                    w.n = w.k0;
                } else if (!w.n) {
                    w.n = &keys[1];
                } else if (!w.p) {
                    w.p = &keys[keys.size() - 2];
                }
            }
            return w;
        }
    }
    w.exact = true;
    w.at = &keys.back();
    return w;
}

inline float Wrapped(const std::vector<TrackKey>& keys, int32_t flags, float time) {
    if (!(flags & kTrackWrap)) return time;
    const float low = keys.front().time, high = keys.back().time;
    const float width = high - low;
    if (std::fabs(width) <= 0.0001f || std::isnan(time)) return low;
    float r = low + std::fmod(time - low, width);
    if (r < low) r += width;
    return r >= high ? low : r;
}

inline float Parameter(const Window& w, float time) { return (time - w.k0->time) / (w.k1->time - w.k0->time); }

inline glm::vec3 Vector(const std::vector<TrackKey>& unsortedKeys, int32_t flags, float time) {
    const std::vector<TrackKey> keys = Sorted(unsortedKeys);
    time = Wrapped(keys, flags, time);
    const Window w = Locate(keys, flags, time);
    if (w.exact) return Vec(*w.at);
    if (std::fabs(w.k1->time - w.k0->time) <= 0.0001f) return Vec(*w.k0);
    const float s = Parameter(w, time);
    const glm::vec3 v0 = Vec(*w.k0), v1 = Vec(*w.k1);
    if (flags & kTrackLinear) return v0 + s * (v1 - v0);
    glm::vec3 t0, t1;
    if (w.p && w.n) {
        t0 = StartTangent(*w.k0, Vec(*w.p), v1);
        t1 = EndTangent(*w.k1, v0, Vec(*w.n));
    } else if (w.n) {
        t1 = EndTangent(*w.k1, v0, Vec(*w.n));
        t0 = (1 - w.k0->tension) * (1.5f * (v1 - v0) - 0.5f * t1);
    } else if (w.p) {
        t0 = StartTangent(*w.k0, Vec(*w.p), v1);
        t1 = (1 - w.k1->tension) * (1.5f * (v1 - v0) + 0.5f * t0);
    } else {
        t0 = t1 = v1 - v0;
    }
    return glm::hermite(v0, t0, v1, t1, s);
}

// Control quaternions, by GLM's slerp (which extrapolates for parameters outside [0, 1]).
inline glm::quat Control(const TrackKey& k, glm::quat a, glm::quat e, bool starts) {
    const glm::quat q = Quat(k);
    const glm::quat l1 = glm::slerp(q, a, -(1 + k.bias) / 3);
    const glm::quat l2 = glm::slerp(q, e, (1 - k.bias) / 3);
    const glm::quat c = glm::slerp(l1, l2, starts ? (1 + k.continuity) / 2 : (1 - k.continuity) / 2);
    return glm::slerp(q, c, starts ? 1 - k.tension : k.tension - 1);
}

inline glm::quat Rotation(const std::vector<TrackKey>& unsortedKeys, int32_t flags, float time) {
    const std::vector<TrackKey> keys = Sorted(unsortedKeys);
    time = Wrapped(keys, flags, time);
    const Window w = Locate(keys, flags, time);
    if (w.exact) return Quat(*w.at);
    if (std::fabs(w.k1->time - w.k0->time) <= 0.0001f) return Quat(*w.k0);
    const float s = Parameter(w, time);
    const glm::quat q0 = Quat(*w.k0), q1 = Quat(*w.k1);
    if (flags & kTrackLinear) return glm::slerp(q0, q1, s);
    glm::quat a = q0, b = q1;
    if (w.p && w.n) {
        a = Control(*w.k0, Quat(*w.p), q1, true);
        b = Control(*w.k1, q0, Quat(*w.n), false);
    } else if (w.n) {
        a = glm::slerp(q0, q1, (1 + w.k0->continuity * w.k0->bias) * (1 - w.k0->tension) / 3);
        b = Control(*w.k1, q0, Quat(*w.n), false);
    } else if (w.p) {
        a = Control(*w.k0, Quat(*w.p), q1, true);
        b = glm::slerp(q1, q0, (1 - w.k1->continuity * w.k1->bias) * (1 - w.k1->tension) / 3);
    }
    const glm::quat qa = glm::slerp(q0, a, s), qb = glm::slerp(a, b, s), qc = glm::slerp(b, q1, s);
    return glm::slerp(glm::slerp(qa, qb, s), glm::slerp(qb, qc, s), s);
}

// A camera on a path, evaluated in software: the eye from the position keys (kept at `eye`
// when there are none), direction (0, 0, 1) and up (0, 1, 0) turned by the rotation keys
// (unturned without them), viewed through GLM's left-handed look-at and the left-handed
// perspective with depth 0 to 1.
struct Screen {
    float width, height;
    float fieldOfView;  // vertical, radians
    float nearPlane, farPlane;
};

// Where `point` appears in pixels: x to the right from the left edge, y down from the top edge.
inline glm::vec2 ProjectOnPath(const std::vector<TrackKey>& positions, const std::vector<TrackKey>& rotations,
                               float time, glm::vec3 eye, glm::vec3 point, const Screen& screen) {
    if (!positions.empty()) eye = Vector(positions, 0, time);
    const glm::quat q = rotations.empty() ? glm::quat(1, 0, 0, 0) : Rotation(rotations, 0, time);
    const glm::vec3 direction = q * glm::vec3(0, 0, 1), up = q * glm::vec3(0, 1, 0);
    const glm::mat4 view = glm::lookAtLH(eye, eye + direction, up);
    const glm::mat4 projection =
        glm::perspectiveLH_ZO(screen.fieldOfView, screen.width / screen.height, screen.nearPlane, screen.farPlane);
    const glm::vec4 clip = projection * view * glm::vec4(point, 1);
    const glm::vec2 ndc(clip.x / clip.w, clip.y / clip.w);
    return glm::vec2((ndc.x + 1) / 2 * screen.width, (1 - ndc.y) / 2 * screen.height);
}

}  // namespace track_oracle
