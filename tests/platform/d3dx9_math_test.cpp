// Conformance of our D3DX 9 maths with the documented Direct3D conventions: row vectors,
// left-handed coordinates, clockwise rotations looking down the axis, results through out
// pointers that may alias the inputs.
#include "platform/d3dx9/matrix_local.h"

#include <d3dx9.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kTol = 1e-5f;

static_assert(offsetof(D3DMATRIX, _43) == offsetof(D3DMATRIX, m[3][2]));
static_assert(offsetof(D3DMATRIX, _12) == sizeof(float));
static_assert(offsetof(D3DCOLORVALUE, a) == 3 * sizeof(float));
static_assert(D3DERR_INVALIDCALL == static_cast<HRESULT>(0x8876086C));

void ExpectMatrixNear(const D3DXMATRIX& actual, const D3DXMATRIX& expected, float tol,
                      const std::string& what) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_NEAR(actual.m[r][c], expected.m[r][c], tol) << what << " at row " << r << " column " << c;
        }
    }
}

void ExpectVec3Near(const D3DXVECTOR3& actual, const D3DXVECTOR3& expected, float tol,
                    const std::string& what) {
    EXPECT_NEAR(actual.x, expected.x, tol) << what;
    EXPECT_NEAR(actual.y, expected.y, tol) << what;
    EXPECT_NEAR(actual.z, expected.z, tol) << what;
}

void ExpectQuatNear(const D3DXQUATERNION& actual, const D3DXQUATERNION& expected, float tol,
                    const std::string& what) {
    EXPECT_NEAR(actual.x, expected.x, tol) << what;
    EXPECT_NEAR(actual.y, expected.y, tol) << what;
    EXPECT_NEAR(actual.z, expected.z, tol) << what;
    EXPECT_NEAR(actual.w, expected.w, tol) << what;
}

D3DXMATRIX Identity() {
    D3DXMATRIX m;
    return *D3DXMatrixIdentity(&m);
}

D3DXMATRIX Counting() {
    return D3DXMATRIX(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16);
}

// A matrix filled with a value no function writes, to see that a failing call leaves it alone.
D3DXMATRIX Sentinel() {
    D3DXMATRIX m;
    for (int i = 0; i < 16; ++i) (&m._11)[i] = -777.0f;
    return m;
}

D3DXVECTOR3 TransformCoord(const D3DXVECTOR3& v, const D3DXMATRIX& m) {
    D3DXVECTOR3 r;
    return *D3DXVec3TransformCoord(&r, &v, &m);
}

// ---------------------------------------------------------------------------------------------
// Building matrices: what each one does to a point, hand-checked.

D3DXMATRIX RotX(float a) { D3DXMATRIX m; return *D3DXMatrixRotationX(&m, a); }
D3DXMATRIX RotY(float a) { D3DXMATRIX m; return *D3DXMatrixRotationY(&m, a); }
D3DXMATRIX RotZ(float a) { D3DXMATRIX m; return *D3DXMatrixRotationZ(&m, a); }
D3DXMATRIX RotAxis(D3DXVECTOR3 axis, float a) { D3DXMATRIX m; return *D3DXMatrixRotationAxis(&m, &axis, a); }
D3DXMATRIX Scale(float x, float y, float z) { D3DXMATRIX m; return *D3DXMatrixScaling(&m, x, y, z); }
D3DXMATRIX Move(float x, float y, float z) { D3DXMATRIX m; return *D3DXMatrixTranslation(&m, x, y, z); }

TEST(D3DXMatrixBuild, MapsPointsAsDocumented) {
    struct Case {
        const char* what;
        D3DXMATRIX m;
        D3DXVECTOR3 in;
        D3DXVECTOR3 out;
    };
    const Case cases[] = {
        {"RotationX 90 turns +y to +z", RotX(kPi / 2), {0, 1, 0}, {0, 0, 1}},
        {"RotationX 90 turns +z to -y", RotX(kPi / 2), {0, 0, 1}, {0, -1, 0}},
        {"RotationY 90 turns +x to -z", RotY(kPi / 2), {1, 0, 0}, {0, 0, -1}},
        {"RotationY 90 turns +z to +x", RotY(kPi / 2), {0, 0, 1}, {1, 0, 0}},
        {"RotationZ 90 turns +x to +y", RotZ(kPi / 2), {1, 0, 0}, {0, 1, 0}},
        {"RotationZ 90 turns +y to -x", RotZ(kPi / 2), {0, 1, 0}, {-1, 0, 0}},
        {"RotationAxis normalises its axis", RotAxis({0, 0, 5}, kPi / 2), {1, 0, 0}, {0, 1, 0}},
        {"RotationAxis about -y equals RotationY of minus the angle",
         RotAxis({0, -1, 0}, kPi / 2),
         {1, 0, 0},
         {0, 0, 1}},
        {"RotationAxis (1,1,1) by 120 cycles x to y", RotAxis({1, 1, 1}, 2 * kPi / 3), {1, 0, 0}, {0, 1, 0}},
        {"RotationAxis (1,1,1) by 120 cycles y to z", RotAxis({1, 1, 1}, 2 * kPi / 3), {0, 1, 0}, {0, 0, 1}},
        {"Scaling", Scale(2, 3, 4), {1, 1, -1}, {2, 3, -4}},
        {"Translation", Move(1, 2, 3), {1, 1, 1}, {2, 3, 4}},
        {"Identity", Identity(), {7, -8, 9}, {7, -8, 9}},
    };
    for (const Case& c : cases) ExpectVec3Near(TransformCoord(c.in, c.m), c.out, kTol, c.what);
}

TEST(D3DXMatrixBuild, RotationsKeepRowFourAndColumnFour) {
    const D3DXMATRIX rotations[] = {RotX(0.7f), RotY(0.7f), RotZ(0.7f), RotAxis({1, 2, 3}, 0.7f)};
    for (const D3DXMATRIX& m : rotations) {
        EXPECT_EQ(m._14, 0.0f);
        EXPECT_EQ(m._24, 0.0f);
        EXPECT_EQ(m._34, 0.0f);
        EXPECT_EQ(m._41, 0.0f);
        EXPECT_EQ(m._42, 0.0f);
        EXPECT_EQ(m._43, 0.0f);
        EXPECT_EQ(m._44, 1.0f);
    }
}

TEST(D3DXMatrixBuild, PerspectiveFovLHElements) {
    D3DXMATRIX p = Sentinel();
    D3DXMatrixPerspectiveFovLH(&p, kPi / 3, 0.75f, 1.0f, 1000.0f);
    // s = 1 / tan(30 degrees) = sqrt(3); q = 1000 / 999.
    const float s = 1.7320508f;
    const float q = 1000.0f / 999.0f;
    const D3DXMATRIX expected(s / 0.75f, 0, 0, 0,
                              0, s, 0, 0,
                              0, 0, q, 1,
                              0, 0, -q, 0);
    ExpectMatrixNear(p, expected, 1e-5f, "60 degrees, aspect 0.75, 1 to 1000");

    // Depth runs from 0 at the near plane to 1 at the far plane after the divide by w.
    EXPECT_NEAR(TransformCoord({0, 0, 1}, p).z, 0.0f, kTol);
    EXPECT_NEAR(TransformCoord({0, 0, 1000}, p).z, 1.0f, kTol);
    // A point on the top edge of the field of view lands on y = 1.
    EXPECT_NEAR(TransformCoord({0, std::tan(kPi / 6) * 10, 10}, p).y, 1.0f, kTol);
}

TEST(D3DXMatrixBuild, LookAtLHLooksAlongPlusZ) {
    const D3DXVECTOR3 up(0, 1, 0);
    struct Case {
        const char* what;
        D3DXVECTOR3 eye, at;
        D3DXMATRIX expected;
    };
    const Case cases[] = {
        {"from -5 z towards the origin", {0, 0, -5}, {0, 0, 0},
         D3DXMATRIX(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 5, 1)},
        // z = +x, x = up x z = -z, y = +y: rows are (x_i, y_i, z_i, 0).
        {"from the origin towards +x", {0, 0, 0}, {3, 0, 0},
         D3DXMATRIX(0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 0, 1)},
        {"from (1,2,3) towards +x", {1, 2, 3}, {4, 2, 3},
         D3DXMATRIX(0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 3, -2, -1, 1)},
    };
    for (const Case& c : cases) {
        D3DXMATRIX v = Sentinel();
        D3DXMatrixLookAtLH(&v, &c.eye, &c.at, &up);
        ExpectMatrixNear(v, c.expected, kTol, c.what);
        ExpectVec3Near(TransformCoord(c.eye, v), {0, 0, 0}, kTol,
                       std::string(c.what) + ": the eye goes to the origin");
    }
}

TEST(D3DXMatrixBuild, LookAtLHKeepsAnOffAxisTargetAheadAndUpUp) {
    const D3DXVECTOR3 eye(3, -2, 7), at(-1, 4, 2), up(0, 1, 0);
    D3DXMATRIX v;
    D3DXMatrixLookAtLH(&v, &eye, &at, &up);
    const D3DXVECTOR3 d = at - eye;
    ExpectVec3Near(TransformCoord(at, v), {0, 0, D3DXVec3Length(&d)}, 1e-4f,
                   "the target lies straight ahead");
    EXPECT_GT(TransformCoord(eye + up, v).y, 0.0f) << "up stays up";
}

// ---------------------------------------------------------------------------------------------
// Products

TEST(D3DXMatrixMultiply, HandCheckedProduct) {
    const D3DXMATRIX a = Counting();
    const D3DXMATRIX expected(90, 100, 110, 120,
                              202, 228, 254, 280,
                              314, 356, 398, 440,
                              426, 484, 542, 600);
    D3DXMATRIX out = Sentinel();
    EXPECT_EQ(D3DXMatrixMultiply(&out, &a, &a), &out);
    EXPECT_TRUE(out == expected);
    EXPECT_TRUE(a * a == expected);
}

TEST(D3DXMatrixMultiply, LeftOperandActsFirst) {
    // Move along x, then turn 90 degrees about z: the origin ends on +y.
    const D3DXMATRIX move = Move(1, 0, 0), turn = RotZ(kPi / 2);
    D3DXMATRIX moveThenTurn, turnThenMove;
    D3DXMatrixMultiply(&moveThenTurn, &move, &turn);
    D3DXMatrixMultiply(&turnThenMove, &turn, &move);
    ExpectVec3Near(TransformCoord({0, 0, 0}, moveThenTurn), {0, 1, 0}, kTol, "translation then rotation");
    ExpectVec3Near(TransformCoord({0, 0, 0}, turnThenMove), {1, 0, 0}, kTol, "rotation then translation");
}

TEST(D3DXMatrixMultiply, OutputMayBeEitherOperand) {
    const D3DXMATRIX a = Counting();
    const D3DXMATRIX b = RotAxis({1, -2, 0.5f}, 0.9f) * Move(4, 5, 6);
    D3DXMATRIX expected;
    D3DXMatrixMultiply(&expected, &a, &b);

    D3DXMATRIX left = a;
    D3DXMatrixMultiply(&left, &left, &b);
    EXPECT_TRUE(left == expected) << "out is the left operand";

    D3DXMATRIX right = b;
    D3DXMatrixMultiply(&right, &a, &right);
    EXPECT_TRUE(right == expected) << "out is the right operand";

    D3DXMATRIX both = a;
    D3DXMatrixMultiply(&both, &both, &both);
    EXPECT_TRUE(both == a * a) << "out is both operands";

    D3DXMATRIX op = a;
    op *= b;
    EXPECT_TRUE(op == expected) << "operator*=";
}

// ---------------------------------------------------------------------------------------------
// Inverse

TEST(D3DXMatrixInverse, TimesItselfGivesIdentity) {
    D3DXMATRIX perspective;
    D3DXMatrixPerspectiveFovLH(&perspective, 1.0f, 1.5f, 0.5f, 200.0f);
    struct Case {
        const char* what;
        D3DXMATRIX m;
        float determinant;
    };
    const Case cases[] = {
        {"identity", Identity(), 1.0f},
        {"translation", Move(3, -4, 5), 1.0f},
        {"scaling", Scale(2, 3, 4), 24.0f},
        {"mirror", Scale(-1, 1, 1), -1.0f},
        {"rotation", RotAxis({1, 2, 3}, 1.2f), 1.0f},
        {"scale, rotation, translation", Scale(0.5f, 2, 3) * RotAxis({-1, 0, 2}, 2.5f) * Move(10, 20, 30),
         3.0f},
        // det = (s / aspect) * s * (zn * q) with s = 1 / tan(0.5), q = zf / (zf - zn).
        {"perspective", perspective,
         static_cast<float>((1 / std::tan(0.5) / 1.5) * (1 / std::tan(0.5)) * (0.5 * 200 / 199.5))},
        {"full", D3DXMATRIX(2, 1, 0, 1, 0, 3, 1, 0, 1, 0, 4, 2, 0, 1, 1, 5), 119.0f},
    };
    for (const Case& c : cases) {
        D3DXMATRIX inv = Sentinel();
        float det = 0.0f;
        ASSERT_EQ(D3DXMatrixInverse(&inv, &det, &c.m), &inv) << c.what;
        EXPECT_NEAR(det, c.determinant, 1e-4f * std::fabs(c.determinant)) << c.what;
        ExpectMatrixNear(c.m * inv, Identity(), 1e-5f, std::string(c.what) + ": M * inverse");
        ExpectMatrixNear(inv * c.m, Identity(), 1e-5f, std::string(c.what) + ": inverse * M");
    }
}

TEST(D3DXMatrixInverse, HandCheckedInverse) {
    // Scale by 2 then move by (2, 4, 6): the inverse moves back and halves.
    const D3DXMATRIX m = Scale(2, 2, 2) * Move(2, 4, 6);
    D3DXMATRIX inv;
    ASSERT_NE(D3DXMatrixInverse(&inv, nullptr, &m), nullptr);
    ExpectMatrixNear(inv, D3DXMATRIX(0.5f, 0, 0, 0, 0, 0.5f, 0, 0, 0, 0, 0.5f, 0, -1, -2, -3, 1), 1e-6f,
                     "inverse");
}

// Translations take a shorter way; the answer must be the general one's to the bit (signed
// zeros included: callers compare inverses bitwise to skip work), singular cases too.
TEST(D3DXMatrixInverse, TranslationsGiveTheGeneralFormulasBits) {
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> values = {0.0f,  -0.0f,   1.0f,     -1.0f, 0.3f,  -6.0f, 123456.7f, -1e-30f, 1e-45f,
                                 -1e-45f, 1e-38f, 3.4e38f, -3.4e38f, inf, -inf, std::nanf("")};
    std::mt19937 random(17);
    for (int i = 0; i < 200; ++i) {
        const uint32_t bits = static_cast<uint32_t>(random());
        float f;
        std::memcpy(&f, &bits, sizeof f);
        values.push_back(f);
    }
    for (size_t i = 0; i < values.size(); ++i) {
        for (size_t j = 0; j < 24; ++j) {
            const float t[3] = {values[i], values[(i * 7 + j) % values.size()], values[(i + j * 13) % values.size()]};
            for (int turn = 0; turn < 3; ++turn) {
                const D3DXMATRIX m = Move(t[turn], t[(turn + 1) % 3], t[(turn + 2) % 3]);
                D3DXMATRIX fast = Sentinel(), general = Sentinel();
                float fastDet = 7.0f, generalDet = 7.0f;
                const bool fastMade = D3DXMatrixInverse(&fast, &fastDet, &m) != nullptr;
                const bool generalMade = rh::d3dx9::GeneralMatrixInverse(&general, &generalDet, &m) != nullptr;
                const std::string what = "translation " + std::to_string(t[turn]) + ", " +
                                         std::to_string(t[(turn + 1) % 3]) + ", " + std::to_string(t[(turn + 2) % 3]);
                ASSERT_EQ(fastMade, generalMade) << what;
                ASSERT_EQ(std::memcmp(&fastDet, &generalDet, sizeof fastDet), 0) << what;
                ASSERT_EQ(std::memcmp(&fast, &general, sizeof fast), 0) << what;
            }
        }
    }
}

TEST(D3DXMatrixInverse, SingularReturnsNullAndLeavesOutput) {
    const float nan = std::nanf("");
    struct Case {
        const char* what;
        D3DXMATRIX m;
    };
    const Case cases[] = {
        {"a zero scale", Scale(1, 0, 1)},
        {"two equal rows", D3DXMATRIX(1, 2, 3, 4, 1, 2, 3, 4, 0, 0, 1, 0, 0, 0, 0, 1)},
        {"the counting matrix (rank 2)", Counting()},
        {"zero", Scale(0, 0, 0) * 0.0f},
        {"not a number", D3DXMATRIX(nan, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1)},
    };
    for (const Case& c : cases) {
        D3DXMATRIX out = Sentinel();
        float det = 123.0f;
        EXPECT_EQ(D3DXMatrixInverse(&out, &det, &c.m), nullptr) << c.what;
        EXPECT_TRUE(out == Sentinel()) << c.what << ": the output is left alone";
        EXPECT_TRUE(det == 0.0f || std::isnan(det)) << c.what << ": determinant " << det;
    }
}

TEST(D3DXMatrixInverse, OutputMayBeTheInput) {
    const D3DXMATRIX m = RotAxis({0, 1, 1}, 0.4f) * Move(1, 2, 3);
    D3DXMATRIX expected;
    D3DXMatrixInverse(&expected, nullptr, &m);
    D3DXMATRIX inPlace = m;
    ASSERT_EQ(D3DXMatrixInverse(&inPlace, nullptr, &inPlace), &inPlace);
    EXPECT_TRUE(inPlace == expected);
}

// ---------------------------------------------------------------------------------------------
// Vectors

TEST(D3DXVec3, DotCrossLength) {
    const D3DXVECTOR3 x(1, 0, 0), y(0, 1, 0), z(0, 0, 1);
    D3DXVECTOR3 r;
    ExpectVec3Near(*D3DXVec3Cross(&r, &x, &y), z, 0, "x cross y");
    ExpectVec3Near(*D3DXVec3Cross(&r, &y, &z), x, 0, "y cross z");
    ExpectVec3Near(*D3DXVec3Cross(&r, &z, &x), y, 0, "z cross x");
    const D3DXVECTOR3 a(1, 2, 3), b(4, 5, 6);
    ExpectVec3Near(*D3DXVec3Cross(&r, &a, &b), {-3, 6, -3}, 0, "a cross b");
    D3DXVECTOR3 alias = a;
    ExpectVec3Near(*D3DXVec3Cross(&alias, &alias, &b), {-3, 6, -3}, 0, "a cross b into a");
    EXPECT_EQ(D3DXVec3Dot(&a, &b), 32.0f);
    const D3DXVECTOR3 v(3, 4, 12);
    EXPECT_EQ(D3DXVec3Length(&v), 13.0f);
}

TEST(D3DXVec3, Normalize) {
    D3DXVECTOR3 v(0, 3, 4);
    ExpectVec3Near(*D3DXVec3Normalize(&v, &v), {0, 0.6f, 0.8f}, 1e-7f, "in place");
    const D3DXVECTOR3 zero(0, 0, 0);
    D3DXVECTOR3 out(9, 9, 9);
    D3DXVec3Normalize(&out, &zero);
    EXPECT_EQ(out.x, 0.0f);
    EXPECT_EQ(out.y, 0.0f);
    EXPECT_EQ(out.z, 0.0f);
}

TEST(D3DXVec3, TransformCoordDividesByW) {
    // Column 4 is (1, 1, 1, 2): w = x + y + z + 2.
    const D3DXMATRIX m(1, 0, 0, 1,
                       0, 1, 0, 1,
                       0, 0, 1, 1,
                       10, 20, 30, 2);
    ExpectVec3Near(TransformCoord({1, 2, 3}, m), {11.0f / 8, 22.0f / 8, 33.0f / 8}, kTol, "w = 8");
    D3DXVECTOR3 v(1, 2, 3);
    D3DXVec3TransformCoord(&v, &v, &m);
    ExpectVec3Near(v, {11.0f / 8, 22.0f / 8, 33.0f / 8}, kTol, "in place");
}

TEST(D3DXVec3, TransformNormalIgnoresTranslation) {
    const D3DXMATRIX m = Scale(2, 3, 4) * Move(100, 200, 300);
    D3DXVECTOR3 v(1, 1, 1);
    D3DXVec3TransformNormal(&v, &v, &m);
    ExpectVec3Near(v, {2, 3, 4}, 0, "scaled, not moved");
}

TEST(D3DXVec4, Transform) {
    const D3DXMATRIX m = Counting();
    // (1, 0, -1, 2) * M = row0 - row2 + 2 row3.
    D3DXVECTOR4 v(1, 0, -1, 2);
    D3DXVec4Transform(&v, &v, &m);
    EXPECT_EQ(v, D3DXVECTOR4(1 - 9 + 26, 2 - 10 + 28, 3 - 11 + 30, 4 - 12 + 32));
}

// ---------------------------------------------------------------------------------------------
// Quaternions

D3DXQUATERNION AxisAngle(D3DXVECTOR3 axis, float angle) {
    D3DXVec3Normalize(&axis, &axis);
    const float s = std::sin(angle / 2);
    return D3DXQUATERNION(axis.x * s, axis.y * s, axis.z * s, std::cos(angle / 2));
}

// q and -q are the same rotation.
void ExpectSameRotation(const D3DXQUATERNION& a, const D3DXQUATERNION& b, float tol,
                        const std::string& what) {
    const float d = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
    ExpectQuatNear(d < 0 ? -a : a, b, tol, what);
}

TEST(D3DXQuaternion, MatrixOfAxisAngleMatchesRotationAxis) {
    const D3DXVECTOR3 axes[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 2, 3}, {-2, 0.5f, 1}};
    const float angles[] = {0.0f, 0.3f, kPi / 2, 2.0f, kPi, -1.0f};
    for (const D3DXVECTOR3& axis : axes) {
        for (float angle : angles) {
            const D3DXQUATERNION q = AxisAngle(axis, angle);
            D3DXMATRIX fromQuat;
            D3DXMatrixRotationQuaternion(&fromQuat, &q);
            ExpectMatrixNear(fromQuat, RotAxis(axis, angle), 1e-6f, "angle " + std::to_string(angle));
        }
    }
}

TEST(D3DXQuaternion, RotationMatrixRoundTrip) {
    // Angles near 180 degrees make the trace negative and take each diagonal branch in turn.
    const D3DXVECTOR3 axes[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 2, 3}, {3, -1, 0.5f}, {0.2f, 0.1f, -3}};
    const float angles[] = {0.0f, 0.5f, 1.5f, 2.5f, 3.0f, kPi, -2.8f};
    for (const D3DXVECTOR3& axis : axes) {
        for (float angle : angles) {
            const std::string what = "axis (" + std::to_string(axis.x) + ", " + std::to_string(axis.y) +
                                     ", " + std::to_string(axis.z) + ") angle " + std::to_string(angle);
            const D3DXMATRIX m = RotAxis(axis, angle);
            D3DXQUATERNION q;
            D3DXQuaternionRotationMatrix(&q, &m);
            ExpectSameRotation(q, AxisAngle(axis, angle), 1e-5f, what);
            D3DXMATRIX back;
            D3DXMatrixRotationQuaternion(&back, &q);
            ExpectMatrixNear(back, m, 1e-5f, what);
        }
    }
}

TEST(D3DXQuaternion, RotationMatrixHandChecked) {
    const D3DXMATRIX m = RotZ(kPi / 2);
    D3DXQUATERNION q;
    D3DXQuaternionRotationMatrix(&q, &m);
    ExpectQuatNear(q, {0, 0, std::sqrt(0.5f), std::sqrt(0.5f)}, 1e-6f, "90 degrees about z");
    const D3DXMATRIX identity = Identity();
    D3DXQuaternionRotationMatrix(&q, &identity);
    ExpectQuatNear(q, {0, 0, 0, 1}, 0, "identity");
}

TEST(D3DXQuaternion, MultiplyAppliesTheFirstOperandFirst) {
    const D3DXQUATERNION a = AxisAngle({1, 0, 0}, 0.7f), b = AxisAngle({0, 1, 2}, -1.3f);
    D3DXQUATERNION ab;
    D3DXQuaternionMultiply(&ab, &a, &b);
    D3DXMATRIX fromProduct;
    D3DXMatrixRotationQuaternion(&fromProduct, &ab);
    ExpectMatrixNear(fromProduct, RotAxis({1, 0, 0}, 0.7f) * RotAxis({0, 1, 2}, -1.3f), 1e-5f, "a then b");
    D3DXQUATERNION alias = a;
    D3DXQuaternionMultiply(&alias, &alias, &b);
    EXPECT_EQ(alias, ab);
    EXPECT_EQ(a * b, ab);
}

TEST(D3DXQuaternion, SlerpAlongTheArc) {
    const D3DXQUATERNION id(0, 0, 0, 1);
    const D3DXQUATERNION z90 = AxisAngle({0, 0, 1}, kPi / 2);
    struct Case {
        const char* what;
        D3DXQUATERNION from, to;
        float t;
        D3DXQUATERNION expected;
    };
    const Case cases[] = {
        {"start", id, z90, 0.0f, id},
        {"end", id, z90, 1.0f, z90},
        {"halfway is 45 degrees", id, z90, 0.5f, AxisAngle({0, 0, 1}, kPi / 4)},
        {"a quarter is 22.5 degrees", id, z90, 0.25f, AxisAngle({0, 0, 1}, kPi / 8)},
        // The negated end is the same rotation; the shorter arc still passes through +45.
        {"shorter arc", id, -z90, 0.5f, AxisAngle({0, 0, 1}, kPi / 4)},
        {"end of the shorter arc is the negated end", id, -z90, 1.0f, z90},
        {"t = 2 extrapolates to 180 degrees", id, z90, 2.0f, AxisAngle({0, 0, 1}, kPi)},
        {"t = -1 extrapolates backwards", id, z90, -1.0f, AxisAngle({0, 0, 1}, -kPi / 2)},
        {"equal ends stay put", z90, z90, 0.3f, z90},
        // Nearly parallel ends blend linearly, so lengths blend too: nothing is normalised.
        {"unnormalised ends blend linearly", id * 2.0f, id * 4.0f, 0.25f, id * 2.5f},
    };
    for (const Case& c : cases) {
        D3DXQUATERNION out(9, 9, 9, 9);
        EXPECT_EQ(D3DXQuaternionSlerp(&out, &c.from, &c.to, c.t), &out);
        ExpectQuatNear(out, c.expected, 1e-6f, c.what);
    }
}

TEST(D3DXQuaternion, SlerpEndPointsAreExactAndOutputMayAlias) {
    const D3DXQUATERNION a = AxisAngle({1, 2, 3}, 0.4f), b = AxisAngle({-1, 0, 1}, 2.0f);
    D3DXQUATERNION out;
    D3DXQuaternionSlerp(&out, &a, &b, 0.0f);
    EXPECT_EQ(out, a);
    D3DXQUATERNION alias = a;
    D3DXQuaternionSlerp(&alias, &alias, &b, 0.6f);
    D3DXQuaternionSlerp(&out, &a, &b, 0.6f);
    EXPECT_EQ(alias, out);
}

// ---------------------------------------------------------------------------------------------
// Bounding box

TEST(D3DXComputeBoundingBox, StridedVertices) {
    struct Vertex {
        float pos[3];
        DWORD colour;
        float uv[2];
    };
    const Vertex vertices[] = {
        {{1, -2, 3}, 0xFFFFFFFFu, {-100, 100}},
        {{-4, 5, 0.5f}, 0u, {-100, 100}},
        {{2, 0, -6}, 0u, {-100, 100}},
    };
    D3DXVECTOR3 lo(9, 9, 9), hi(9, 9, 9);
    ASSERT_EQ(
        D3DXComputeBoundingBox(reinterpret_cast<const D3DXVECTOR3*>(vertices), 3, sizeof(Vertex), &lo, &hi),
        S_OK);
    EXPECT_EQ(lo, D3DXVECTOR3(-4, -2, -6));
    EXPECT_EQ(hi, D3DXVECTOR3(2, 5, 3));

    ASSERT_EQ(
        D3DXComputeBoundingBox(reinterpret_cast<const D3DXVECTOR3*>(vertices), 1, sizeof(Vertex), &lo, &hi),
        S_OK);
    EXPECT_EQ(lo, D3DXVECTOR3(1, -2, 3)) << "one vertex is a box of size 0 at it";
    EXPECT_EQ(hi, D3DXVECTOR3(1, -2, 3));
}

TEST(D3DXComputeBoundingBox, NoVerticesGiveAnEmptyBoxAtTheOrigin) {
    const D3DXVECTOR3 p(5, 6, 7);
    D3DXVECTOR3 lo(9, 9, 9), hi(9, 9, 9);
    ASSERT_EQ(D3DXComputeBoundingBox(&p, 0, sizeof p, &lo, &hi), S_OK);
    EXPECT_EQ(lo, D3DXVECTOR3(0, 0, 0));
    EXPECT_EQ(hi, D3DXVECTOR3(0, 0, 0));
}

TEST(D3DXComputeBoundingBox, NullPointersAreInvalidCalls) {
    const D3DXVECTOR3 p(5, 6, 7);
    D3DXVECTOR3 lo(9, 9, 9), hi(9, 9, 9);
    EXPECT_EQ(D3DXComputeBoundingBox(nullptr, 1, sizeof p, &lo, &hi), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXComputeBoundingBox(&p, 1, sizeof p, nullptr, &hi), D3DERR_INVALIDCALL);
    EXPECT_EQ(D3DXComputeBoundingBox(&p, 1, sizeof p, &lo, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(lo, D3DXVECTOR3(9, 9, 9));
    EXPECT_EQ(hi, D3DXVECTOR3(9, 9, 9));
}

}  // namespace
