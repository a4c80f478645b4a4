// The engine's point and vector: three floats in the order x, y, z, the layout of D3DVECTOR.
// The helpers return their result by value and never modify their inputs.
#pragma once

#include <d3d9types.h>

#include <type_traits>

struct Vec3 {
    float x;
    float y;
    float z;
};

static_assert(sizeof(Vec3) == sizeof(D3DVECTOR) && std::is_standard_layout_v<Vec3>);

// sqrt(x*x + y*y + z*z).
float Vec3Length(Vec3 v);
Vec3 Vec3Add(Vec3 a, Vec3 b);
// a - b.
Vec3 Vec3Subtract(Vec3 a, Vec3 b);
// s * v.
Vec3 Vec3Scale(Vec3 v, float s);
// a . b.
float Vec3Dot(Vec3 a, Vec3 b);
// v times 1 / sqrt(x*x + y*y + z*z); (0, 0, 0) when that squared length is exactly 0.
Vec3 Vec3Normalize(Vec3 v);
// a x b = (a.y*b.z - a.z*b.y, a.z*b.x - a.x*b.z, a.x*b.y - a.y*b.x).
Vec3 Vec3Cross(Vec3 a, Vec3 b);

// Conversions to and from the Direct3D vector; D3DXVECTOR3 converts from D3DVECTOR.
inline D3DVECTOR ToD3DVector(Vec3 v) { return D3DVECTOR{v.x, v.y, v.z}; }
inline Vec3 FromD3DVector(const D3DVECTOR& v) { return Vec3{v.x, v.y, v.z}; }
