// D3DX matrix functions and the D3DXMATRIX operators.
#include <d3dx9math.h>

#include "platform/d3dx9/matrix_local.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

D3DXMATRIX Product(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DXMATRIX r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] +
                        a.m[i][3] * b.m[3][j];
        }
    }
    return r;
}

D3DXMATRIX Identity() {
    return D3DXMATRIX(1.0f, 0.0f, 0.0f, 0.0f,
                      0.0f, 1.0f, 0.0f, 0.0f,
                      0.0f, 0.0f, 1.0f, 0.0f,
                      0.0f, 0.0f, 0.0f, 1.0f);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// D3DXMATRIX

D3DXMATRIX::D3DXMATRIX(const FLOAT* f) {
    for (int i = 0; i < 16; ++i) (&_11)[i] = f[i];
}

D3DXMATRIX::D3DXMATRIX(FLOAT f11, FLOAT f12, FLOAT f13, FLOAT f14,
                       FLOAT f21, FLOAT f22, FLOAT f23, FLOAT f24,
                       FLOAT f31, FLOAT f32, FLOAT f33, FLOAT f34,
                       FLOAT f41, FLOAT f42, FLOAT f43, FLOAT f44) {
    _11 = f11; _12 = f12; _13 = f13; _14 = f14;
    _21 = f21; _22 = f22; _23 = f23; _24 = f24;
    _31 = f31; _32 = f32; _33 = f33; _34 = f34;
    _41 = f41; _42 = f42; _43 = f43; _44 = f44;
}

D3DXMATRIX& D3DXMATRIX::operator*=(const D3DXMATRIX& mat) {
    *this = Product(*this, mat);
    return *this;
}

D3DXMATRIX& D3DXMATRIX::operator+=(const D3DXMATRIX& mat) {
    for (int i = 0; i < 16; ++i) (&_11)[i] += (&mat._11)[i];
    return *this;
}

D3DXMATRIX& D3DXMATRIX::operator-=(const D3DXMATRIX& mat) {
    for (int i = 0; i < 16; ++i) (&_11)[i] -= (&mat._11)[i];
    return *this;
}

D3DXMATRIX& D3DXMATRIX::operator*=(FLOAT s) {
    for (int i = 0; i < 16; ++i) (&_11)[i] *= s;
    return *this;
}

D3DXMATRIX& D3DXMATRIX::operator/=(FLOAT s) { return *this *= 1.0f / s; }

D3DXMATRIX D3DXMATRIX::operator-() const { return *this * -1.0f; }

D3DXMATRIX D3DXMATRIX::operator*(const D3DXMATRIX& mat) const { return Product(*this, mat); }

D3DXMATRIX D3DXMATRIX::operator+(const D3DXMATRIX& mat) const {
    D3DXMATRIX r = *this;
    return r += mat;
}

D3DXMATRIX D3DXMATRIX::operator-(const D3DXMATRIX& mat) const {
    D3DXMATRIX r = *this;
    return r -= mat;
}

D3DXMATRIX D3DXMATRIX::operator*(FLOAT s) const {
    D3DXMATRIX r = *this;
    return r *= s;
}

D3DXMATRIX D3DXMATRIX::operator/(FLOAT s) const {
    D3DXMATRIX r = *this;
    return r /= s;
}

bool D3DXMATRIX::operator==(const D3DXMATRIX& mat) const {
    for (int i = 0; i < 16; ++i) {
        if ((&_11)[i] != (&mat._11)[i]) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Functions

D3DXMATRIX* WINAPI D3DXMatrixIdentity(D3DXMATRIX* pOut) {
    *pOut = Identity();
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixMultiply(D3DXMATRIX* pOut, const D3DXMATRIX* pM1, const D3DXMATRIX* pM2) {
    // Formed in a temporary first, so pOut may be either operand.
    *pOut = Product(*pM1, *pM2);
    return pOut;
}

namespace rh::d3dx9 {

// The inverse by cofactors of a, the matrix's elements in double. Every caller runs the same
// arithmetic; inlined where elements are known constants, the compiler drops what they
// decide, and since it folds only exact results the answer keeps the same bits (the build
// fuses no multiply-adds; the translations test in d3dx9_math_test would show it if it did).
[[gnu::always_inline]] inline D3DXMATRIX* InverseByCofactors(D3DXMATRIX* pOut, FLOAT* pDeterminant,
                                                            const double (&a)[4][4]) {
    // Cofactors from the 2x2 minors of the top two and bottom two rows, in double so that a
    // nearly singular matrix loses as little as possible before the final rounding.
    const double s0 = a[0][0] * a[1][1] - a[1][0] * a[0][1];
    const double s1 = a[0][0] * a[1][2] - a[1][0] * a[0][2];
    const double s2 = a[0][0] * a[1][3] - a[1][0] * a[0][3];
    const double s3 = a[0][1] * a[1][2] - a[1][1] * a[0][2];
    const double s4 = a[0][1] * a[1][3] - a[1][1] * a[0][3];
    const double s5 = a[0][2] * a[1][3] - a[1][2] * a[0][3];
    const double c5 = a[2][2] * a[3][3] - a[3][2] * a[2][3];
    const double c4 = a[2][1] * a[3][3] - a[3][1] * a[2][3];
    const double c3 = a[2][1] * a[3][2] - a[3][1] * a[2][2];
    const double c2 = a[2][0] * a[3][3] - a[3][0] * a[2][3];
    const double c1 = a[2][0] * a[3][2] - a[3][0] * a[2][2];
    const double c0 = a[2][0] * a[3][1] - a[3][0] * a[2][1];
    const double det = s0 * c5 - s1 * c4 + s2 * c3 + s3 * c2 - s4 * c1 + s5 * c0;
    const FLOAT detf = static_cast<FLOAT>(det);
    if (pDeterminant != nullptr) *pDeterminant = detf;
    if (detf == 0.0f || !std::isfinite(detf)) return nullptr;

    const double k = 1.0 / det;
    const double b[4][4] = {
        {(a[1][1] * c5 - a[1][2] * c4 + a[1][3] * c3) * k,
         (-a[0][1] * c5 + a[0][2] * c4 - a[0][3] * c3) * k,
         (a[3][1] * s5 - a[3][2] * s4 + a[3][3] * s3) * k,
         (-a[2][1] * s5 + a[2][2] * s4 - a[2][3] * s3) * k},
        {(-a[1][0] * c5 + a[1][2] * c2 - a[1][3] * c1) * k,
         (a[0][0] * c5 - a[0][2] * c2 + a[0][3] * c1) * k,
         (-a[3][0] * s5 + a[3][2] * s2 - a[3][3] * s1) * k,
         (a[2][0] * s5 - a[2][2] * s2 + a[2][3] * s1) * k},
        {(a[1][0] * c4 - a[1][1] * c2 + a[1][3] * c0) * k,
         (-a[0][0] * c4 + a[0][1] * c2 - a[0][3] * c0) * k,
         (a[3][0] * s4 - a[3][1] * s2 + a[3][3] * s0) * k,
         (-a[2][0] * s4 + a[2][1] * s2 - a[2][3] * s0) * k},
        {(-a[1][0] * c3 + a[1][1] * c1 - a[1][2] * c0) * k,
         (a[0][0] * c3 - a[0][1] * c1 + a[0][2] * c0) * k,
         (-a[3][0] * s3 + a[3][1] * s1 - a[3][2] * s0) * k,
         (a[2][0] * s3 - a[2][1] * s1 + a[2][2] * s0) * k},
    };
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) pOut->m[i][j] = static_cast<FLOAT>(b[i][j]);
    }
    return pOut;
}

D3DXMATRIX* GeneralMatrixInverse(D3DXMATRIX* pOut, FLOAT* pDeterminant, const D3DXMATRIX* pM) {
    double a[4][4];
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) a[i][j] = pM->m[i][j];
    }
    return InverseByCofactors(pOut, pDeterminant, a);
}

}  // namespace rh::d3dx9

D3DXMATRIX* WINAPI D3DXMatrixInverse(D3DXMATRIX* pOut, FLOAT* pDeterminant, const D3DXMATRIX* pM) {
    // A pure translation (the upper 3x3 and the last column the identity's, bit for bit) is
    // what most objects are placed with: its other elements are known constants.
    static constexpr uint32_t kIdentityBits[16] = {0x3F800000, 0, 0, 0, 0, 0x3F800000, 0, 0,
                                                   0, 0, 0x3F800000, 0, 0, 0, 0, 0x3F800000};
    uint32_t bits[16];
    std::memcpy(bits, &pM->m[0][0], sizeof bits);
    uint32_t differs = bits[15] ^ kIdentityBits[15];
    for (int i = 0; i < 12; ++i) differs |= bits[i] ^ kIdentityBits[i];
    if (differs == 0) {
        const double a[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {pM->m[3][0], pM->m[3][1], pM->m[3][2], 1}};
        return rh::d3dx9::InverseByCofactors(pOut, pDeterminant, a);
    }
    return rh::d3dx9::GeneralMatrixInverse(pOut, pDeterminant, pM);
}

D3DXMATRIX* WINAPI D3DXMatrixScaling(D3DXMATRIX* pOut, FLOAT sx, FLOAT sy, FLOAT sz) {
    *pOut = Identity();
    pOut->_11 = sx;
    pOut->_22 = sy;
    pOut->_33 = sz;
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixTranslation(D3DXMATRIX* pOut, FLOAT x, FLOAT y, FLOAT z) {
    *pOut = Identity();
    pOut->_41 = x;
    pOut->_42 = y;
    pOut->_43 = z;
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationX(D3DXMATRIX* pOut, FLOAT angle) {
    const FLOAT c = std::cos(angle), s = std::sin(angle);
    *pOut = Identity();
    pOut->_22 = c;
    pOut->_23 = s;
    pOut->_32 = -s;
    pOut->_33 = c;
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationY(D3DXMATRIX* pOut, FLOAT angle) {
    const FLOAT c = std::cos(angle), s = std::sin(angle);
    *pOut = Identity();
    pOut->_11 = c;
    pOut->_13 = -s;
    pOut->_31 = s;
    pOut->_33 = c;
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationZ(D3DXMATRIX* pOut, FLOAT angle) {
    const FLOAT c = std::cos(angle), s = std::sin(angle);
    *pOut = Identity();
    pOut->_11 = c;
    pOut->_12 = s;
    pOut->_21 = -s;
    pOut->_22 = c;
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationAxis(D3DXMATRIX* pOut, const D3DXVECTOR3* pV, FLOAT angle) {
    D3DXVECTOR3 n;
    D3DXVec3Normalize(&n, pV);
    const FLOAT c = std::cos(angle), s = std::sin(angle), t = 1.0f - c;
    *pOut = Identity();
    pOut->_11 = t * n.x * n.x + c;
    pOut->_12 = t * n.x * n.y + s * n.z;
    pOut->_13 = t * n.x * n.z - s * n.y;
    pOut->_21 = t * n.x * n.y - s * n.z;
    pOut->_22 = t * n.y * n.y + c;
    pOut->_23 = t * n.y * n.z + s * n.x;
    pOut->_31 = t * n.x * n.z + s * n.y;
    pOut->_32 = t * n.y * n.z - s * n.x;
    pOut->_33 = t * n.z * n.z + c;
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixRotationQuaternion(D3DXMATRIX* pOut, const D3DXQUATERNION* pQ) {
    const FLOAT x = pQ->x, y = pQ->y, z = pQ->z, w = pQ->w;
    *pOut = Identity();
    pOut->_11 = 1.0f - 2.0f * (y * y + z * z);
    pOut->_12 = 2.0f * (x * y + z * w);
    pOut->_13 = 2.0f * (x * z - y * w);
    pOut->_21 = 2.0f * (x * y - z * w);
    pOut->_22 = 1.0f - 2.0f * (x * x + z * z);
    pOut->_23 = 2.0f * (y * z + x * w);
    pOut->_31 = 2.0f * (x * z + y * w);
    pOut->_32 = 2.0f * (y * z - x * w);
    pOut->_33 = 1.0f - 2.0f * (x * x + y * y);
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixPerspectiveFovLH(D3DXMATRIX* pOut, FLOAT fovy, FLOAT aspect, FLOAT zn,
                                              FLOAT zf) {
    const FLOAT s = 1.0f / std::tan(fovy / 2.0f);
    const FLOAT q = zf / (zf - zn);
    *pOut = D3DXMATRIX(s / aspect, 0.0f, 0.0f, 0.0f,
                       0.0f, s, 0.0f, 0.0f,
                       0.0f, 0.0f, q, 1.0f,
                       0.0f, 0.0f, -zn * zf / (zf - zn), 0.0f);
    return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixLookAtLH(D3DXMATRIX* pOut, const D3DXVECTOR3* pEye, const D3DXVECTOR3* pAt,
                                      const D3DXVECTOR3* pUp) {
    const D3DXVECTOR3 eye = *pEye;
    D3DXVECTOR3 z = *pAt - eye;
    D3DXVec3Normalize(&z, &z);
    D3DXVECTOR3 x;
    D3DXVec3Cross(&x, pUp, &z);
    D3DXVec3Normalize(&x, &x);
    D3DXVECTOR3 y;
    D3DXVec3Cross(&y, &z, &x);
    *pOut = D3DXMATRIX(x.x, y.x, z.x, 0.0f,
                       x.y, y.y, z.y, 0.0f,
                       x.z, y.z, z.z, 0.0f,
                       -D3DXVec3Dot(&x, &eye), -D3DXVec3Dot(&y, &eye), -D3DXVec3Dot(&z, &eye), 1.0f);
    return pOut;
}
