#include "render/camera_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "tests/render/camera_test_support.h"

namespace {

using camera_test::Clip;
using camera_test::ClipOf;
using camera_test::PlaneValue;
using camera_test::RandomCameras;

void ExpectMatrixNear(const TypedMatrix& actual, const float (&expected)[16], float tolerance) {
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(actual.m[i], expected[i], tolerance) << "element " << i / 4 << ", " << i % 4;
    }
}

void ExpectMatricesEqual(const TypedMatrix& a, const TypedMatrix& b) {
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(a.m[i], b.m[i]) << "element " << i / 4 << ", " << i % 4;
    }
    EXPECT_EQ(a.kind, b.kind);
}

// The plane's unit normal and its distance from the origin along that normal.
struct UnitPlane {
    Vec3 normal;
    float offset;  // the plane is normal . p = offset
};

UnitPlane Normalised(const FrustumPlane& plane) {
    const float length = Vec3Length(Vec3{plane.a, plane.b, plane.c});
    return UnitPlane{Vec3{plane.a / length, plane.b / length, plane.c / length}, -plane.d / length};
}

TEST(CameraViewTest, DefaultCamera) {
    const CameraView view;
    EXPECT_EQ(view.GetEye().x, 0);
    EXPECT_EQ(view.GetEye().y, 0);
    EXPECT_EQ(view.GetEye().z, 0);
    EXPECT_EQ(view.GetDirection().z, 1);
    EXPECT_EQ(view.GetUp().y, 1);
    EXPECT_EQ(view.GetNear(), 1);

    // 60 degrees, aspect 0.75, near 1, far 1000.
    const float s = 1.7320508f;
    const float q = 1000.0f / 999.0f;
    const float projection[16] = {s / 0.75f, 0, 0, 0, 0, s, 0, 0, 0, 0, q, 1, 0, 0, -q, 0};
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const TypedMatrix p = view.GetProjectionMatrix();
    const TypedMatrix v = view.GetViewMatrix();
    const TypedMatrix vp = view.GetViewProjectionMatrix();
    ExpectMatrixNear(p, projection, 1e-5f);
    ExpectMatrixNear(v, identity, 0);
    ExpectMatrixNear(vp, projection, 1e-5f);
    for (const TypedMatrix* m : {&p, &v, &vp}) {
        EXPECT_EQ(m->kind, kMatrixGeneral) << "derived matrices are stored as general ones";
        EXPECT_EQ(m->valid, 1);
    }

    const FrustumPlane* planes = view.GetFrustumPlanes();
    const UnitPlane nearPlane = Normalised(planes[kFrustumNear]);
    EXPECT_NEAR(nearPlane.normal.z, 1, 1e-6f);
    EXPECT_NEAR(nearPlane.offset, 1, 1e-5f);
    const UnitPlane farPlane = Normalised(planes[kFrustumFar]);
    EXPECT_NEAR(farPlane.normal.z, -1, 1e-6f);
    // 1 - far / (far - near) loses most of its digits in floats.
    EXPECT_NEAR(farPlane.offset, -1000, 0.1f);

    // The side planes pass through the eye and open by half the field of view.
    const float halfHeight = std::tan(1.0471976f / 2);
    const float halfWidth = halfHeight * 0.75f;
    struct Side {
        int plane;
        Vec3 onPlane;
        Vec3 inside;
    } sides[] = {
        {kFrustumLeft, {-halfWidth * 10, 0, 10}, {0, 0, 10}},
        {kFrustumRight, {halfWidth * 10, 3, 10}, {0, 0, 10}},
        {kFrustumTop, {-1, halfHeight * 10, 10}, {0, 0, 10}},
        {kFrustumBottom, {2, -halfHeight * 10, 10}, {0, 0, 10}},
    };
    for (const Side& side : sides) {
        EXPECT_NEAR(PlaneValue(planes[side.plane], Vec3{0, 0, 0}), 0, 1e-6f)
            << "plane " << side.plane;
        EXPECT_NEAR(PlaneValue(planes[side.plane], side.onPlane), 0, 1e-5f)
            << "plane " << side.plane;
        EXPECT_GT(PlaneValue(planes[side.plane], side.inside), 0) << "plane " << side.plane;
    }

    // Normals with zero components: a zero counts as not negative.
    struct Corners {
        int plane;
        int32_t positive, negative;
    } corners[] = {
        {kFrustumLeft, 5, 3},    // (+, 0, +)
        {kFrustumRight, 4, 2},   // (-, 0, +)
        {kFrustumTop, 6, 0},     // (0, -, +)
        {kFrustumBottom, 5, 3},  // (0, +, +)
        {kFrustumNear, 5, 3},    // (0, 0, +)
        {kFrustumFar, 1, 7},     // (0, 0, -)
    };
    for (const Corners& c : corners) {
        EXPECT_EQ(planes[c.plane].positiveCorner, c.positive) << "plane " << c.plane;
        EXPECT_EQ(planes[c.plane].negativeCorner, c.negative) << "plane " << c.plane;
    }
}

// Each plane's expression is the clip-space combination it stands for: left w + x,
// right w - x, top w - y, bottom w + y, near z, far w - z.
TEST(CameraViewTest, PlanesAreTheClipSpaceBounds) {
    RandomCameras cameras(11);
    for (int i = 0; i < 200; ++i) {
        const CameraView view = cameras.Next();
        const FrustumPlane* planes = view.GetFrustumPlanes();
        for (int j = 0; j < 10; ++j) {
            const Vec3 p = Vec3Add(view.GetEye(), cameras.Direction(cameras.Uniform(0, 300)));
            const Clip c = ClipOf(view, p);
            const float expected[kFrustumPlaneCount] = {c.w + c.x, c.w - c.x, c.w - c.y,
                                                        c.w + c.y, c.z,       c.w - c.z};
            const float tolerance =
                1e-4f * (std::fabs(c.x) + std::fabs(c.y) + std::fabs(c.z) + std::fabs(c.w) + 1);
            for (int k = 0; k < kFrustumPlaneCount; ++k) {
                EXPECT_NEAR(PlaneValue(planes[k], p), expected[k], tolerance)
                    << "camera " << i << ", plane " << k;
            }
        }
    }
}

// Looking from the eye along the direction: depth 0 at the near distance and 1 at the far one,
// up on the screen's +y, up x direction on its +x.
TEST(CameraViewTest, ProjectsAlongTheViewDirection) {
    RandomCameras cameras(12);
    for (int i = 0; i < 200; ++i) {
        CameraView view = cameras.Next();
        const float nearDistance = view.GetNear();
        const Vec3 forward = Vec3Normalize(view.GetDirection());
        const Vec3 right = Vec3Normalize(Vec3Cross(view.GetUp(), forward));
        const Vec3 up = Vec3Cross(forward, right);
        const Vec3 eye = view.GetEye();

        const Clip atNear = ClipOf(view, Vec3Add(eye, Vec3Scale(forward, nearDistance)));
        EXPECT_NEAR(atNear.w, nearDistance, 1e-3f) << "camera " << i;
        EXPECT_NEAR(atNear.z / atNear.w, 0, 1e-4f) << "camera " << i;
        EXPECT_NEAR(atNear.x / atNear.w, 0, 1e-4f) << "camera " << i;
        EXPECT_NEAR(atNear.y / atNear.w, 0, 1e-4f) << "camera " << i;

        const Vec3 ahead = Vec3Add(eye, Vec3Scale(forward, 2 * nearDistance));
        EXPECT_GT(ClipOf(view, Vec3Add(ahead, Vec3Scale(up, 0.1f * nearDistance))).y, 0)
            << "camera " << i;
        EXPECT_GT(ClipOf(view, Vec3Add(ahead, Vec3Scale(right, 0.1f * nearDistance))).x, 0)
            << "camera " << i;
    }

    // The far distance is not readable through the view; check it on a known camera.
    CameraView view;
    view.SetProjection(2, 50, 1, 1.5f);
    view.SetView(Vec3{1, 2, 3}, Vec3{0, -4, 0}, Vec3{0, 0, 1});
    const Clip atFar = ClipOf(view, Vec3{1, -48, 3});
    EXPECT_NEAR(atFar.z / atFar.w, 1, 1e-5f);
    EXPECT_NEAR(atFar.w, 50, 1e-4f);
}

// The positive corner of every plane is the corner of a box that lies farthest along the
// plane's normal, and the negative corner the one least far, whatever the box.
TEST(CameraViewTest, CornerIndicesPickTheExtremeCorners) {
    RandomCameras cameras(13);
    for (int i = 0; i < 200; ++i) {
        const CameraView view = cameras.Next();
        BoundingBox box;
        box.centre = cameras.Direction(cameras.Uniform(0, 100));
        box.size =
            Vec3{cameras.Uniform(0.1f, 20), cameras.Uniform(0.1f, 20), cameras.Uniform(0.1f, 20)};
        const FrustumPlane* planes = view.GetFrustumPlanes();
        for (int k = 0; k < kFrustumPlaneCount; ++k) {
            const FrustumPlane& plane = planes[k];
            const float positive = PlaneValue(plane, box.Corner(plane.positiveCorner));
            const float negative = PlaneValue(plane, box.Corner(plane.negativeCorner));
            const float tolerance = 1e-5f * (std::fabs(positive) + std::fabs(negative) + 1);
            for (int corner = 0; corner < 8; ++corner) {
                const float value = PlaneValue(plane, box.Corner(corner));
                EXPECT_LE(value, positive + tolerance)
                    << "camera " << i << ", plane " << k << ", corner " << corner;
                EXPECT_GE(value, negative - tolerance)
                    << "camera " << i << ", plane " << k << ", corner " << corner;
            }
        }
    }
}

// Every setter makes the next derived read recompute; the vectors are kept as given.
TEST(CameraViewTest, SettersTakeEffectAtTheNextRead) {
    struct Change {
        const char* name;
        std::function<void(CameraView&)> apply;
        bool projectionChanges;
    } changes[] = {
        {"projection", [](CameraView& v) { v.SetProjection(0.5f, 200, 0.8f, 1.25f); }, true},
        {"view",
         [](CameraView& v) {
             v.SetView(Vec3{1, 2, 3}, Vec3{1, 0, 1}, Vec3{0, 1, 0});
         },
         false},
        {"eye",
         [](CameraView& v) {
             v.SetEye(Vec3{0, 0, 5});
         },
         false},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        CameraView view;
        const TypedMatrix projection = view.GetProjectionMatrix();
        const TypedMatrix viewProjection = view.GetViewProjectionMatrix();
        const FrustumPlane nearPlane = view.GetFrustumPlanes()[kFrustumNear];

        change.apply(view);
        const TypedMatrix newProjection = view.GetProjectionMatrix();
        EXPECT_EQ(newProjection.m[0] != projection.m[0], change.projectionChanges);
        EXPECT_NE(view.GetViewProjectionMatrix().m[14], viewProjection.m[14]);
        EXPECT_NE(view.GetFrustumPlanes()[kFrustumNear].d, nearPlane.d);
    }
}

TEST(CameraViewTest, MovingTheEyeKeepsTheProjection) {
    CameraView view;
    const TypedMatrix projection = view.GetProjectionMatrix();
    view.SetEye(Vec3{0, 0, 5});
    ExpectMatricesEqual(view.GetProjectionMatrix(), projection);

    const TypedMatrix v = view.GetViewMatrix();
    EXPECT_EQ(v.At(3, 2), -5);
    const FrustumPlane& nearPlane = view.GetFrustumPlanes()[kFrustumNear];
    EXPECT_NEAR(PlaneValue(nearPlane, Vec3{0, 0, 6}), 0, 1e-5f);
    EXPECT_LT(PlaneValue(nearPlane, Vec3{0, 0, 5.9f}), 0);
}

// Lengths of direction and up do not matter to the matrices, and are kept as given.
TEST(CameraViewTest, VectorsAreStoredUnnormalised) {
    CameraView scaled;
    scaled.SetView(Vec3{0, 0, 0}, Vec3{0, 0, 5}, Vec3{0, 3, 0});
    EXPECT_EQ(scaled.GetDirection().z, 5);
    EXPECT_EQ(scaled.GetUp().y, 3);
    ExpectMatricesEqual(scaled.GetViewMatrix(), CameraView().GetViewMatrix());
}

}  // namespace
