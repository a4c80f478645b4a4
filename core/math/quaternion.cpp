#include "core/math/quaternion.h"

#include "core/math/typed_matrix.h"

#include <cmath>

D3DXQUATERNION QuaternionScale(const D3DXQUATERNION& q, float s) {
    return D3DXQUATERNION(q.x * s, q.y * s, q.z * s, q.w * s);
}

D3DXQUATERNION QuaternionNormalize(const D3DXQUATERNION& q) {
    const float length = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    if (length == 0.0f) return q;
    return QuaternionScale(q, 1.0f / length);
}

D3DXQUATERNION QuaternionFromMatrix(const TypedMatrix& m) {
    D3DXMATRIX d;
    CopyToD3DX(m, d);
    D3DXQUATERNION q;
    D3DXQuaternionRotationMatrix(&q, &d);
    return q;
}
