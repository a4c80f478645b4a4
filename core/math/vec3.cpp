#include "core/math/vec3.h"

#include <cmath>

float Vec3Length(Vec3 v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

Vec3 Vec3Add(Vec3 a, Vec3 b) { return Vec3{a.x + b.x, a.y + b.y, a.z + b.z}; }

Vec3 Vec3Subtract(Vec3 a, Vec3 b) { return Vec3{a.x - b.x, a.y - b.y, a.z - b.z}; }

Vec3 Vec3Scale(Vec3 v, float s) { return Vec3{s * v.x, s * v.y, s * v.z}; }

float Vec3Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vec3 Vec3Normalize(Vec3 v) {
    const float squared = v.x * v.x + v.y * v.y + v.z * v.z;
    if (squared == 0.0f) return Vec3{0.0f, 0.0f, 0.0f};
    const float inv = 1.0f / std::sqrt(squared);
    return Vec3{v.x * inv, v.y * inv, v.z * inv};
}

Vec3 Vec3Cross(Vec3 a, Vec3 b) {
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
