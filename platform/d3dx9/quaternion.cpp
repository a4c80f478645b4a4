// D3DX quaternion functions and the D3DXQUATERNION product operators.
#include <d3dx9math.h>

#include <cfloat>
#include <cmath>

D3DXQUATERNION& D3DXQUATERNION::operator*=(const D3DXQUATERNION& q) {
    D3DXQuaternionMultiply(this, this, &q);
    return *this;
}

D3DXQUATERNION D3DXQUATERNION::operator*(const D3DXQUATERNION& q) const {
    D3DXQUATERNION r;
    D3DXQuaternionMultiply(&r, this, &q);
    return r;
}

D3DXQUATERNION* WINAPI D3DXQuaternionMultiply(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                              const D3DXQUATERNION* pQ2) {
    // The Hamilton product p q with p = q2 and q = q1, so that q1 acts first.
    const D3DXQUATERNION p = *pQ2, q = *pQ1;
    *pOut = D3DXQUATERNION(p.w * q.x + p.x * q.w + p.y * q.z - p.z * q.y,
                           p.w * q.y - p.x * q.z + p.y * q.w + p.z * q.x,
                           p.w * q.z + p.x * q.y - p.y * q.x + p.z * q.w,
                           p.w * q.w - p.x * q.x - p.y * q.y - p.z * q.z);
    return pOut;
}

D3DXQUATERNION* WINAPI D3DXQuaternionRotationMatrix(D3DXQUATERNION* pOut, const D3DXMATRIX* pM) {
    const D3DXMATRIX& m = *pM;
    const FLOAT trace = m._11 + m._22 + m._33;
    D3DXQUATERNION q;
    // Divide by the largest of the four candidate components (4w, 4x, 4y or 4z) to keep the
    // square root away from zero.
    if (trace > 0.0f) {
        const FLOAT s = 2.0f * std::sqrt(trace + 1.0f);
        q = D3DXQUATERNION((m._23 - m._32) / s, (m._31 - m._13) / s, (m._12 - m._21) / s, 0.25f * s);
    } else if (m._11 >= m._22 && m._11 >= m._33) {
        const FLOAT s = 2.0f * std::sqrt(1.0f + m._11 - m._22 - m._33);
        q = D3DXQUATERNION(0.25f * s, (m._12 + m._21) / s, (m._13 + m._31) / s, (m._23 - m._32) / s);
    } else if (m._22 >= m._33) {
        const FLOAT s = 2.0f * std::sqrt(1.0f + m._22 - m._11 - m._33);
        q = D3DXQUATERNION((m._12 + m._21) / s, 0.25f * s, (m._23 + m._32) / s, (m._31 - m._13) / s);
    } else {
        const FLOAT s = 2.0f * std::sqrt(1.0f + m._33 - m._11 - m._22);
        q = D3DXQUATERNION((m._13 + m._31) / s, (m._23 + m._32) / s, 0.25f * s, (m._12 - m._21) / s);
    }
    *pOut = q;
    return pOut;
}

D3DXQUATERNION* WINAPI D3DXQuaternionSlerp(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                           const D3DXQUATERNION* pQ2, FLOAT t) {
    const D3DXQUATERNION a = *pQ1;
    D3DXQUATERNION b = *pQ2;
    FLOAT d = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
    if (d < 0.0f) {
        b = -b;
        d = -d;
    }
    FLOAT wa = 1.0f - t;
    FLOAT wb = t;
    if (1.0f - d > FLT_EPSILON) {
        const FLOAT theta = std::atan2(std::sqrt(1.0f - d * d), d);
        const FLOAT sinTheta = std::sin(theta);
        wa = std::sin((1.0f - t) * theta) / sinTheta;
        wb = std::sin(t * theta) / sinTheta;
    }
    *pOut =
        D3DXQUATERNION(wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z, wa * a.w + wb * b.w);
    return pOut;
}
