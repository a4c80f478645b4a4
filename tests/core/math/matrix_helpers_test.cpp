// Decomposition, blending and orientation of transforms; the vector, quaternion and wrap helpers.
#include "core/math/quaternion.h"
#include "core/math/typed_matrix.h"
#include "core/math/vec3.h"
#include "core/math/wrap.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

void ExpectVec3Near(Vec3 actual, Vec3 expected, float tol, const std::string& what) {
    EXPECT_NEAR(actual.x, expected.x, tol) << what;
    EXPECT_NEAR(actual.y, expected.y, tol) << what;
    EXPECT_NEAR(actual.z, expected.z, tol) << what;
}

void ExpectMatrixNear(const TypedMatrix& actual, const TypedMatrix& expected, float tol,
                      const std::string& what) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual.m[i], expected.m[i], tol) << what << ", element " << i;
}

TypedMatrix FromRows(const float (&rows)[16]) {
    TypedMatrix m;
    for (int i = 0; i < 16; ++i) m.m[i] = rows[i];
    m.kind = kMatrixGeneral;
    return m;
}

// A transform from its parts, the way the engine composes one.
TypedMatrix Compose(Vec3 position, Vec3 forward, Vec3 up, Vec3 scale) {
    TypedMatrix m;
    BuildOrientationMatrix(m, position, forward, up);
    return ScaleMatrixRows(m, scale.x, scale.y, scale.z);
}

// ---------------------------------------------------------------------------------------------

TEST(MatrixOrientation, RowsAreRightUpForwardPosition) {
    TypedMatrix m;
    m.valid = 0;
    BuildOrientationMatrix(m, {1, 2, 3}, {0, 0, 5}, {0, 2, 0});
    ExpectMatrixNear(m, FromRows({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1}), 0, "axis-aligned");
    EXPECT_EQ(m.kind, kMatrixGeneral);
    EXPECT_EQ(m.valid, 1);

    // Up is normalised but not made perpendicular to forward.
    BuildOrientationMatrix(m, {0, 0, 0}, {0, 0, 1}, {0, 1, 1});
    const float h = std::sqrt(0.5f);
    ExpectVec3Near({m.At(1, 0), m.At(1, 1), m.At(1, 2)}, {0, h, h}, 1e-6f, "row 1 is the given up");
    ExpectVec3Near({m.At(0, 0), m.At(0, 1), m.At(0, 2)}, {1, 0, 0}, 1e-6f, "row 0 is up x forward");
}

TEST(MatrixDecompose, RoundTrips) {
    const float h = std::sqrt(0.5f);
    struct Case {
        const char* what;
        Vec3 position, forward, up, scale;
    };
    const Case cases[] = {
        {"identity", {0, 0, 0}, {0, 0, 1}, {0, 1, 0}, {1, 1, 1}},
        {"moved and scaled", {4, -5, 6}, {0, 0, 1}, {0, 1, 0}, {2, 3, 0.5f}},
        {"turned 45 degrees about y", {1, 2, 3}, {h, 0, h}, {0, 1, 0}, {1, 1, 1}},
        {"tilted", {0, 0, 0}, {0, -h, h}, {0, h, h}, {3, 2, 1}},
        {"mirrored", {7, 8, 9}, {0, 0, 1}, {1, 0, 0}, {-2, 1, 1}},
    };
    for (const Case& c : cases) {
        Vec3 position{-1, -1, -1}, forward, up, scale;
        ASSERT_TRUE(
            DecomposeMatrix(Compose(c.position, c.forward, c.up, c.scale), position, forward, up, scale))
            << c.what;
        ExpectVec3Near(position, c.position, 1e-6f, std::string(c.what) + ": position");
        ExpectVec3Near(forward, c.forward, 1e-6f, std::string(c.what) + ": forward");
        ExpectVec3Near(up, c.up, 1e-6f, std::string(c.what) + ": up");
        ExpectVec3Near(scale, c.scale, 1e-6f, std::string(c.what) + ": scale");
    }
}

TEST(MatrixDecompose, Checks) {
    struct Case {
        const char* what;
        TypedMatrix m;
        bool ok;
    };
    const Case cases[] = {
        {"row lengths summing to 0.01 fail", FromRows({0.01f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 1}),
         false},
        {"row lengths summing to 0.0101 pass",
         FromRows({0.0101f, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 1}), true},
        {"up and forward 0.2 off perpendicular fail",
         FromRows({1, 0, 0, 0, 0, 1, 0, 0, 0, 0.2f, 0.98f, 0, 0, 0, 0, 1}), false},
        {"row 0 and forward 0.2 off perpendicular fail",
         FromRows({0.98f, 0, 0.2f, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}), false},
        {"up and forward 0.05 off perpendicular pass",
         FromRows({1, 0, 0, 0, 0, 1, 0, 0, 0, 0.05f, 1, 0, 0, 0, 0, 1}), true},
        {"a shear between rows 0 and 1 alone passes",
         FromRows({1, 0.9f, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}), true},
    };
    for (const Case& c : cases) {
        Vec3 position{-1, -1, -1}, forward, up, scale;
        EXPECT_EQ(DecomposeMatrix(c.m, position, forward, up, scale), c.ok) << c.what;
        if (!c.ok) ExpectVec3Near(position, {-1, -1, -1}, 0, std::string(c.what) + ": position untouched");
    }
}

TEST(MatrixDecompose, FailureStillWritesAxesAndScales) {
    // Forward leans 0.6 towards up: rejected, but the caller sees the unit axes and scales.
    const TypedMatrix m = FromRows({2, 0, 0, 0, 0, 3, 0, 0, 0, 3, 4, 0, 7, 7, 7, 1});
    Vec3 position{-1, -1, -1}, forward{}, up{}, scale{};
    ASSERT_FALSE(DecomposeMatrix(m, position, forward, up, scale));
    ExpectVec3Near(up, {0, 1, 0}, 0, "up");
    ExpectVec3Near(forward, {0, 0.6f, 0.8f}, 1e-7f, "forward");
    ExpectVec3Near(scale, {2, 3, 5}, 0, "scale");
    ExpectVec3Near(position, {-1, -1, -1}, 0, "position");
}

TEST(MatrixBlend, EndsRebuildTheirMatrix) {
    const float h = std::sqrt(0.5f);
    const TypedMatrix a = Compose({1, 2, 3}, {h, 0, h}, {0, 1, 0}, {2, 2, 2});
    const TypedMatrix b = Compose({-4, 0, 8}, {0, h, h}, {0, h, -h}, {-1, 3, 0.5f});
    TypedMatrix out;
    ASSERT_TRUE(BlendMatrices(a, b, 1.0f, out));
    ExpectMatrixNear(out, a, 1e-6f, "t = 1 gives a");
    EXPECT_EQ(out.kind, kMatrixGeneral);
    EXPECT_EQ(out.valid, 1);
    ASSERT_TRUE(BlendMatrices(a, b, 0.0f, out));
    ExpectMatrixNear(out, b, 1e-6f, "t = 0 gives b, mirror included");
}

TEST(MatrixBlend, MixesPartsLinearly) {
    const TypedMatrix a = Compose({2, 0, 0}, {0, 0, 1}, {0, 1, 0}, {1, 1, 1});
    const TypedMatrix b = Compose({0, 4, 0}, {0, 0, 1}, {0, 1, 0}, {3, 3, 3});
    TypedMatrix out;
    ASSERT_TRUE(BlendMatrices(a, b, 0.25f, out));
    ExpectMatrixNear(out, Compose({0.5f, 3, 0}, {0, 0, 1}, {0, 1, 0}, {2.5f, 2.5f, 2.5f}), 1e-6f,
                     "a quarter of a");
}

TEST(MatrixBlend, FailedDecompositionLeavesTheOutput) {
    const TypedMatrix good = Compose({1, 2, 3}, {0, 0, 1}, {0, 1, 0}, {1, 1, 1});
    const TypedMatrix collapsed = FromRows({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 1});
    const TypedMatrix sentinel = FromRows({9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
    for (int collapsedSide = 0; collapsedSide < 2; ++collapsedSide) {
        TypedMatrix out = sentinel;
        EXPECT_FALSE(collapsedSide == 0 ? BlendMatrices(collapsed, good, 0.5f, out)
                                        : BlendMatrices(good, collapsed, 0.5f, out));
        ExpectMatrixNear(out, sentinel, 0, "untouched");
    }
}

// ---------------------------------------------------------------------------------------------

TEST(MatrixMathVec3, Helpers) {
    ExpectVec3Near(Vec3Normalize({0, 0, 0}), {0, 0, 0}, 0, "zero stays zero");
    ExpectVec3Near(Vec3Normalize({0, -3, 4}), {0, -0.6f, 0.8f}, 1e-7f, "normalise");
    ExpectVec3Near(Vec3Cross({1, 2, 3}, {4, 5, 6}), {-3, 6, -3}, 0, "cross");
    ExpectVec3Near(Vec3Subtract({1, 2, 3}, {4, 6, 8}), {-3, -4, -5}, 0, "subtract");
    ExpectVec3Near(Vec3Scale({1, -2, 3}, 2), {2, -4, 6}, 0, "scale");
    EXPECT_EQ(Vec3Length({2, 3, 6}), 7.0f);
}

TEST(QuaternionHelpers, NormalizeScaleAndFromMatrix) {
    const D3DXQUATERNION zero(0, 0, 0, 0);
    EXPECT_EQ(QuaternionNormalize(zero), zero);
    const D3DXQUATERNION n = QuaternionNormalize(D3DXQUATERNION(0, 3, 0, 4));
    EXPECT_FLOAT_EQ(n.y, 0.6f);
    EXPECT_FLOAT_EQ(n.w, 0.8f);
    EXPECT_EQ(QuaternionScale(D3DXQUATERNION(1, 2, 3, 4), -2), D3DXQUATERNION(-2, -4, -6, -8));

    D3DXMATRIX d;
    D3DXMatrixRotationY(&d, 1.2f);
    TypedMatrix m;
    CopyFromD3DX(d, m);
    const D3DXQUATERNION q = QuaternionFromMatrix(m);
    EXPECT_NEAR(q.x, 0, 1e-6f);
    EXPECT_NEAR(q.y, std::sin(0.6f), 1e-6f);
    EXPECT_NEAR(q.z, 0, 1e-6f);
    EXPECT_NEAR(q.w, std::cos(0.6f), 1e-6f);
}

TEST(WrapToRange, Table) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        float x, low, high, expected;
    };
    const Case cases[] = {
        {-0.5f, 0, 2, 1.5f},
        {2, 0, 2, 0},
        {0, 0, 2, 0},
        {1.25f, 0, 2, 1.25f},
        {5.5f, 0, 2, 1.5f},
        {-4, 0, 2, 0},
        {-4.5f, 0, 2, 1.5f},
        {3, 1, 2, 1},
        {-7, -10, -5, -7},
        {12, 10, 15, 12},
        // A range of width 0.0001 or less always gives low.
        {7, 2, 2.00005f, 2},
        {-3, 2, 2.00005f, 2},
        {2.00001f, 2, 2.00005f, 2},
        // Just below low: d + width rounds to the width; the result stays in [low, high).
        {-1e-9f, 0, 2, 0},
        // Too far out to count whole periods in 64 bits, or not a number.
        {1e30f, 0, 2, 0},
        {nan, 1, 2, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WrapToRange(c.x, c.low, c.high), c.expected)
            << c.x << " in [" << c.low << ", " << c.high << ")";
    }
}

}  // namespace
