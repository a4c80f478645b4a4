// Quaternion helpers. The engine's quaternion is the D3DX one: x, y, z, then the scalar w.
// Results come back by value; inputs are never modified.
#pragma once

#include <d3dx9math.h>

struct TypedMatrix;

// All four components times s.
D3DXQUATERNION QuaternionScale(const D3DXQUATERNION& q, float s);
// q times 1 / length, the length taken over all four components; a quaternion of length
// exactly 0 comes back unchanged.
D3DXQUATERNION QuaternionNormalize(const D3DXQUATERNION& q);
// The rotation quaternion of m's upper 3x3 part (by D3DXQuaternionRotationMatrix), which should
// be a pure rotation: scales are not divided out.
D3DXQUATERNION QuaternionFromMatrix(const TypedMatrix& m);
