// D3DX 9 maths: vectors, matrices, quaternions and planes with the conventions of Direct3D 9:
// row vectors (a point p transforms as p * M, so A * B applies A first), left-handed
// coordinates, angles in radians, rotations clockwise when looking along the axis towards the
// origin. Every function writes its result through the out pointer and returns it; unless a
// function says otherwise the out pointer may be one of the inputs. Results depend only on the
// inputs, bit for bit (the render-state cache compares matrices word by word).
#pragma once

#include "d3d9types.h"

#define D3DX_PI ((FLOAT)3.141592654f)
#define D3DXToRadian(degree) ((degree) * (D3DX_PI / 180.0f))
#define D3DXToDegree(radian) ((radian) * (180.0f / D3DX_PI))

// ---------------------------------------------------------------------------------------------
// Types. Default construction leaves the components unset, as plain structures do, so the
// types stay trivial and can sit in vertex structures; value-initialise ({}) for zeros.

struct D3DXVECTOR2 {
    FLOAT x;
    FLOAT y;

    D3DXVECTOR2() = default;
    // f points to two floats.
    explicit D3DXVECTOR2(const FLOAT* f) : x(f[0]), y(f[1]) {}
    D3DXVECTOR2(FLOAT vx, FLOAT vy) : x(vx), y(vy) {}

    operator FLOAT*() { return &x; }
    operator const FLOAT*() const { return &x; }

    D3DXVECTOR2& operator+=(const D3DXVECTOR2& v) { x += v.x; y += v.y; return *this; }
    D3DXVECTOR2& operator-=(const D3DXVECTOR2& v) { x -= v.x; y -= v.y; return *this; }
    D3DXVECTOR2& operator*=(FLOAT s) { x *= s; y *= s; return *this; }
    D3DXVECTOR2& operator/=(FLOAT s) { return *this *= 1.0f / s; }

    D3DXVECTOR2 operator+() const { return *this; }
    D3DXVECTOR2 operator-() const { return D3DXVECTOR2(-x, -y); }
    D3DXVECTOR2 operator+(const D3DXVECTOR2& v) const { return D3DXVECTOR2(x + v.x, y + v.y); }
    D3DXVECTOR2 operator-(const D3DXVECTOR2& v) const { return D3DXVECTOR2(x - v.x, y - v.y); }
    D3DXVECTOR2 operator*(FLOAT s) const { return D3DXVECTOR2(x * s, y * s); }
    D3DXVECTOR2 operator/(FLOAT s) const { return *this * (1.0f / s); }
    friend D3DXVECTOR2 operator*(FLOAT s, const D3DXVECTOR2& v) { return v * s; }

    bool operator==(const D3DXVECTOR2& v) const { return x == v.x && y == v.y; }
    bool operator!=(const D3DXVECTOR2& v) const { return !(*this == v); }
};

struct D3DXVECTOR3 : public D3DVECTOR {
    D3DXVECTOR3() = default;
    // f points to three floats.
    explicit D3DXVECTOR3(const FLOAT* f) : D3DVECTOR{f[0], f[1], f[2]} {}
    D3DXVECTOR3(const D3DVECTOR& v) : D3DVECTOR(v) {}
    D3DXVECTOR3(FLOAT vx, FLOAT vy, FLOAT vz) : D3DVECTOR{vx, vy, vz} {}

    operator FLOAT*() { return &x; }
    operator const FLOAT*() const { return &x; }

    D3DXVECTOR3& operator+=(const D3DXVECTOR3& v) { x += v.x; y += v.y; z += v.z; return *this; }
    D3DXVECTOR3& operator-=(const D3DXVECTOR3& v) { x -= v.x; y -= v.y; z -= v.z; return *this; }
    D3DXVECTOR3& operator*=(FLOAT s) { x *= s; y *= s; z *= s; return *this; }
    D3DXVECTOR3& operator/=(FLOAT s) { return *this *= 1.0f / s; }

    D3DXVECTOR3 operator+() const { return *this; }
    D3DXVECTOR3 operator-() const { return D3DXVECTOR3(-x, -y, -z); }
    D3DXVECTOR3 operator+(const D3DXVECTOR3& v) const { return D3DXVECTOR3(x + v.x, y + v.y, z + v.z); }
    D3DXVECTOR3 operator-(const D3DXVECTOR3& v) const { return D3DXVECTOR3(x - v.x, y - v.y, z - v.z); }
    D3DXVECTOR3 operator*(FLOAT s) const { return D3DXVECTOR3(x * s, y * s, z * s); }
    D3DXVECTOR3 operator/(FLOAT s) const { return *this * (1.0f / s); }
    friend D3DXVECTOR3 operator*(FLOAT s, const D3DXVECTOR3& v) { return v * s; }

    bool operator==(const D3DXVECTOR3& v) const { return x == v.x && y == v.y && z == v.z; }
    bool operator!=(const D3DXVECTOR3& v) const { return !(*this == v); }
};

struct D3DXVECTOR4 {
    FLOAT x;
    FLOAT y;
    FLOAT z;
    FLOAT w;

    D3DXVECTOR4() = default;
    // f points to four floats.
    explicit D3DXVECTOR4(const FLOAT* f) : x(f[0]), y(f[1]), z(f[2]), w(f[3]) {}
    D3DXVECTOR4(const D3DVECTOR& v, FLOAT vw) : x(v.x), y(v.y), z(v.z), w(vw) {}
    D3DXVECTOR4(FLOAT vx, FLOAT vy, FLOAT vz, FLOAT vw) : x(vx), y(vy), z(vz), w(vw) {}

    operator FLOAT*() { return &x; }
    operator const FLOAT*() const { return &x; }

    D3DXVECTOR4& operator+=(const D3DXVECTOR4& v) { x += v.x; y += v.y; z += v.z; w += v.w; return *this; }
    D3DXVECTOR4& operator-=(const D3DXVECTOR4& v) { x -= v.x; y -= v.y; z -= v.z; w -= v.w; return *this; }
    D3DXVECTOR4& operator*=(FLOAT s) { x *= s; y *= s; z *= s; w *= s; return *this; }
    D3DXVECTOR4& operator/=(FLOAT s) { return *this *= 1.0f / s; }

    D3DXVECTOR4 operator+() const { return *this; }
    D3DXVECTOR4 operator-() const { return D3DXVECTOR4(-x, -y, -z, -w); }
    D3DXVECTOR4 operator+(const D3DXVECTOR4& v) const {
        return D3DXVECTOR4(x + v.x, y + v.y, z + v.z, w + v.w);
    }
    D3DXVECTOR4 operator-(const D3DXVECTOR4& v) const {
        return D3DXVECTOR4(x - v.x, y - v.y, z - v.z, w - v.w);
    }
    D3DXVECTOR4 operator*(FLOAT s) const { return D3DXVECTOR4(x * s, y * s, z * s, w * s); }
    D3DXVECTOR4 operator/(FLOAT s) const { return *this * (1.0f / s); }
    friend D3DXVECTOR4 operator*(FLOAT s, const D3DXVECTOR4& v) { return v * s; }

    bool operator==(const D3DXVECTOR4& v) const { return x == v.x && y == v.y && z == v.z && w == v.w; }
    bool operator!=(const D3DXVECTOR4& v) const { return !(*this == v); }
};

struct D3DXMATRIX : public D3DMATRIX {
    D3DXMATRIX() = default;
    // f points to sixteen floats, row by row.
    explicit D3DXMATRIX(const FLOAT* f);
    D3DXMATRIX(const D3DMATRIX& mat) : D3DMATRIX(mat) {}
    D3DXMATRIX(FLOAT f11, FLOAT f12, FLOAT f13, FLOAT f14,
               FLOAT f21, FLOAT f22, FLOAT f23, FLOAT f24,
               FLOAT f31, FLOAT f32, FLOAT f33, FLOAT f34,
               FLOAT f41, FLOAT f42, FLOAT f43, FLOAT f44);

    // row and column 0 to 3.
    FLOAT& operator()(UINT row, UINT col) { return m[row][col]; }
    FLOAT operator()(UINT row, UINT col) const { return m[row][col]; }

    operator FLOAT*() { return &_11; }
    operator const FLOAT*() const { return &_11; }

    // this = this * mat (the matrix product).
    D3DXMATRIX& operator*=(const D3DXMATRIX& mat);
    D3DXMATRIX& operator+=(const D3DXMATRIX& mat);
    D3DXMATRIX& operator-=(const D3DXMATRIX& mat);
    D3DXMATRIX& operator*=(FLOAT s);
    D3DXMATRIX& operator/=(FLOAT s);

    D3DXMATRIX operator+() const { return *this; }
    D3DXMATRIX operator-() const;
    // The matrix product this * mat.
    D3DXMATRIX operator*(const D3DXMATRIX& mat) const;
    D3DXMATRIX operator+(const D3DXMATRIX& mat) const;
    D3DXMATRIX operator-(const D3DXMATRIX& mat) const;
    D3DXMATRIX operator*(FLOAT s) const;
    D3DXMATRIX operator/(FLOAT s) const;
    friend D3DXMATRIX operator*(FLOAT s, const D3DXMATRIX& mat) { return mat * s; }

    // Exact comparison of all sixteen elements.
    bool operator==(const D3DXMATRIX& mat) const;
    bool operator!=(const D3DXMATRIX& mat) const { return !(*this == mat); }
};

// A quaternion x i + y j + z k + w: w is the scalar part. A rotation by angle a about the unit
// axis n is (n sin(a/2), cos(a/2)).
struct D3DXQUATERNION {
    FLOAT x;
    FLOAT y;
    FLOAT z;
    FLOAT w;

    D3DXQUATERNION() = default;
    // f points to four floats x, y, z, w.
    explicit D3DXQUATERNION(const FLOAT* f) : x(f[0]), y(f[1]), z(f[2]), w(f[3]) {}
    D3DXQUATERNION(FLOAT qx, FLOAT qy, FLOAT qz, FLOAT qw) : x(qx), y(qy), z(qz), w(qw) {}

    operator FLOAT*() { return &x; }
    operator const FLOAT*() const { return &x; }

    D3DXQUATERNION& operator+=(const D3DXQUATERNION& q) {
        x += q.x;
        y += q.y;
        z += q.z;
        w += q.w;
        return *this;
    }
    D3DXQUATERNION& operator-=(const D3DXQUATERNION& q) {
        x -= q.x;
        y -= q.y;
        z -= q.z;
        w -= q.w;
        return *this;
    }
    // this = D3DXQuaternionMultiply(this, q): the rotation this followed by q.
    D3DXQUATERNION& operator*=(const D3DXQUATERNION& q);
    D3DXQUATERNION& operator*=(FLOAT s) { x *= s; y *= s; z *= s; w *= s; return *this; }
    D3DXQUATERNION& operator/=(FLOAT s) { return *this *= 1.0f / s; }

    D3DXQUATERNION operator+() const { return *this; }
    D3DXQUATERNION operator-() const { return D3DXQUATERNION(-x, -y, -z, -w); }
    D3DXQUATERNION operator+(const D3DXQUATERNION& q) const {
        return D3DXQUATERNION(x + q.x, y + q.y, z + q.z, w + q.w);
    }
    D3DXQUATERNION operator-(const D3DXQUATERNION& q) const {
        return D3DXQUATERNION(x - q.x, y - q.y, z - q.z, w - q.w);
    }
    // D3DXQuaternionMultiply(this, q).
    D3DXQUATERNION operator*(const D3DXQUATERNION& q) const;
    D3DXQUATERNION operator*(FLOAT s) const { return D3DXQUATERNION(x * s, y * s, z * s, w * s); }
    D3DXQUATERNION operator/(FLOAT s) const { return *this * (1.0f / s); }
    friend D3DXQUATERNION operator*(FLOAT s, const D3DXQUATERNION& q) { return q * s; }

    bool operator==(const D3DXQUATERNION& q) const { return x == q.x && y == q.y && z == q.z && w == q.w; }
    bool operator!=(const D3DXQUATERNION& q) const { return !(*this == q); }
};

// The plane a x + b y + c z + d = 0; (a, b, c) is its normal.
struct D3DXPLANE {
    FLOAT a;
    FLOAT b;
    FLOAT c;
    FLOAT d;

    D3DXPLANE() = default;
    // f points to four floats a, b, c, d.
    explicit D3DXPLANE(const FLOAT* f) : a(f[0]), b(f[1]), c(f[2]), d(f[3]) {}
    D3DXPLANE(FLOAT pa, FLOAT pb, FLOAT pc, FLOAT pd) : a(pa), b(pb), c(pc), d(pd) {}

    operator FLOAT*() { return &a; }
    operator const FLOAT*() const { return &a; }

    bool operator==(const D3DXPLANE& p) const { return a == p.a && b == p.b && c == p.c && d == p.d; }
    bool operator!=(const D3DXPLANE& p) const { return !(*this == p); }
};

static_assert(sizeof(D3DXVECTOR2) == 8);
static_assert(sizeof(D3DXVECTOR3) == 12);
static_assert(sizeof(D3DXVECTOR4) == 16);
static_assert(sizeof(D3DXMATRIX) == 64);
static_assert(sizeof(D3DXQUATERNION) == 16);
static_assert(sizeof(D3DXPLANE) == 16);

// ---------------------------------------------------------------------------------------------
// 3-component vectors

// v1 . v2.
FLOAT WINAPI D3DXVec3Dot(const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2);
// |v|.
FLOAT WINAPI D3DXVec3Length(const D3DXVECTOR3* pV);
// v1 x v2 = (y1 z2 - z1 y2, z1 x2 - x1 z2, x1 y2 - y1 x2).
D3DXVECTOR3* WINAPI D3DXVec3Cross(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV1, const D3DXVECTOR3* pV2);
// v / |v|; a vector of length 0 gives (0, 0, 0).
D3DXVECTOR3* WINAPI D3DXVec3Normalize(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV);
// The point (x, y, z, 1) * M projected back to w = 1: each component divided by the w of the
// product (no guard: w = 0 gives infinities, as the division does).
D3DXVECTOR3* WINAPI D3DXVec3TransformCoord(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV, const D3DXMATRIX* pM);
// The direction (x, y, z, 0) * M: row 4 (the translation) is ignored.
D3DXVECTOR3* WINAPI D3DXVec3TransformNormal(D3DXVECTOR3* pOut, const D3DXVECTOR3* pV, const D3DXMATRIX* pM);

// ---------------------------------------------------------------------------------------------
// 4-component vectors

// v * M.
D3DXVECTOR4* WINAPI D3DXVec4Transform(D3DXVECTOR4* pOut, const D3DXVECTOR4* pV, const D3DXMATRIX* pM);

// ---------------------------------------------------------------------------------------------
// Matrices

D3DXMATRIX* WINAPI D3DXMatrixIdentity(D3DXMATRIX* pOut);
// M1 * M2: the transform M1 followed by M2.
D3DXMATRIX* WINAPI D3DXMatrixMultiply(D3DXMATRIX* pOut, const D3DXMATRIX* pM1, const D3DXMATRIX* pM2);
// The general inverse. The determinant goes to *pDeterminant when it is not null, also for a
// singular matrix. A singular matrix (determinant 0, or not finite) returns NULL and leaves
// *pOut unchanged.
D3DXMATRIX* WINAPI D3DXMatrixInverse(D3DXMATRIX* pOut, FLOAT* pDeterminant, const D3DXMATRIX* pM);
// diag(sx, sy, sz, 1).
D3DXMATRIX* WINAPI D3DXMatrixScaling(D3DXMATRIX* pOut, FLOAT sx, FLOAT sy, FLOAT sz);
// The identity with row 4 = (x, y, z, 1).
D3DXMATRIX* WINAPI D3DXMatrixTranslation(D3DXMATRIX* pOut, FLOAT x, FLOAT y, FLOAT z);
// Rows (1, 0, 0), (0, cos, sin), (0, -sin, cos).
D3DXMATRIX* WINAPI D3DXMatrixRotationX(D3DXMATRIX* pOut, FLOAT angle);
// Rows (cos, 0, -sin), (0, 1, 0), (sin, 0, cos).
D3DXMATRIX* WINAPI D3DXMatrixRotationY(D3DXMATRIX* pOut, FLOAT angle);
// Rows (cos, sin, 0), (-sin, cos, 0), (0, 0, 1).
D3DXMATRIX* WINAPI D3DXMatrixRotationZ(D3DXMATRIX* pOut, FLOAT angle);
// The rotation by angle about the axis, which is normalised first (a zero axis leaves
// cos(angle) times the identity in the 3x3 part).
D3DXMATRIX* WINAPI D3DXMatrixRotationAxis(D3DXMATRIX* pOut, const D3DXVECTOR3* pV, FLOAT angle);
// The rotation of a unit quaternion; the quaternion is used as given, not normalised.
D3DXMATRIX* WINAPI D3DXMatrixRotationQuaternion(D3DXMATRIX* pOut, const D3DXQUATERNION* pQ);
// Left-handed perspective projection, depth 0 at zn and 1 at zf. With s = 1 / tan(fovy / 2)
// the rows are (s / aspect, 0, 0, 0), (0, s, 0, 0), (0, 0, zf / (zf - zn), 1),
// (0, 0, -zn zf / (zf - zn), 0).
D3DXMATRIX* WINAPI D3DXMatrixPerspectiveFovLH(D3DXMATRIX* pOut, FLOAT fovy, FLOAT aspect, FLOAT zn, FLOAT zf);
// Left-handed view matrix: z = normalise(at - eye), x = normalise(up x z), y = z x x; rows
// (x.x, y.x, z.x, 0), (x.y, y.y, z.y, 0), (x.z, y.z, z.z, 0), (-x.eye, -y.eye, -z.eye, 1).
D3DXMATRIX* WINAPI D3DXMatrixLookAtLH(D3DXMATRIX* pOut, const D3DXVECTOR3* pEye, const D3DXVECTOR3* pAt,
                                      const D3DXVECTOR3* pUp);

// ---------------------------------------------------------------------------------------------
// Quaternions

// The rotation q1 followed by q2 (the Hamilton product q2 q1).
D3DXQUATERNION* WINAPI D3DXQuaternionMultiply(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                              const D3DXQUATERNION* pQ2);
// The rotation quaternion of the upper 3x3 part, which should be a pure rotation.
D3DXQUATERNION* WINAPI D3DXQuaternionRotationMatrix(D3DXQUATERNION* pOut, const D3DXMATRIX* pM);
// Spherical interpolation from q1 (t = 0) to q2 (t = 1) along the shorter arc (q2 is negated
// when q1 . q2 < 0). Nearly parallel quaternions (1 - |q1 . q2| at most the float epsilon)
// interpolate linearly. The result is not normalised; t outside [0, 1] extrapolates along the
// same arc.
D3DXQUATERNION* WINAPI D3DXQuaternionSlerp(D3DXQUATERNION* pOut, const D3DXQUATERNION* pQ1,
                                           const D3DXQUATERNION* pQ2, FLOAT t);
