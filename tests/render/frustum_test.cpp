#include "core/bounds/frustum.h"

#include <gtest/gtest.h>

#include <cmath>

#include "render/camera_view.h"
#include "tests/render/camera_test_support.h"

namespace {

using camera_test::RandomCameras;

BoundingBox Box(float cx, float cy, float cz, float sx, float sy, float sz) {
    BoundingBox box;
    box.centre = Vec3{cx, cy, cz};
    box.size = Vec3{sx, sy, sz};
    return box;
}

// All eight corners against every plane: outside when some plane has every corner behind it,
// crossing when some plane has any corner behind it, else inside.
int32_t BruteForceClassify(const BoundingBox& box, const FrustumPlane* planes) {
    int32_t result = kBoxInside;
    for (int k = 0; k < kFrustumPlaneCount; ++k) {
        const FrustumPlane& plane = planes[k];
        int behind = 0;
        for (int corner = 0; corner < 8; ++corner) {
            const Vec3 c = box.Corner(corner);
            behind += plane.a * c.x + plane.b * c.y + plane.c * c.z < -plane.d ? 1 : 0;
        }
        if (behind == 8) {
            return kBoxOutside;
        }
        if (behind > 0) {
            result = kBoxCrossing;
        }
    }
    return result;
}

TEST(FrustumTest, MatchesAllCornersOnRandomCameras) {
    RandomCameras cameras(21);
    int seen[6] = {};
    for (int i = 0; i < 300; ++i) {
        const CameraView view = cameras.Next();
        const FrustumPlane* planes = view.GetFrustumPlanes();
        const Vec3 forward = Vec3Normalize(view.GetDirection());
        for (int j = 0; j < 30; ++j) {
            // Boxes scattered around the visible part, of sizes from specks to walls.
            const float distance = cameras.Uniform(-20, 250);
            const Vec3 centre =
                Vec3Add(Vec3Add(view.GetEye(), Vec3Scale(forward, distance)),
                        cameras.Direction(cameras.Uniform(0, std::fabs(distance) + 10)));
            const float scale = cameras.Uniform(0.01f, 60);
            const BoundingBox box =
                Box(centre.x, centre.y, centre.z, scale * cameras.Uniform(0.1f, 1),
                    scale * cameras.Uniform(0.1f, 1), scale * cameras.Uniform(0.1f, 1));
            // The view answers through its packed planes; the records must agree with it.
            const int32_t code = ClassifyBoxAgainstFrustum(box, view);
            ASSERT_EQ(code, BruteForceClassify(box, planes)) << "camera " << i << ", box " << j;
            ASSERT_EQ(ClassifyBoxAgainstFrustum(box, planes), code) << "camera " << i << ", box " << j;
            ++seen[code];
        }
    }
    EXPECT_GT(seen[kBoxInside], 100);
    EXPECT_GT(seen[kBoxCrossing], 100);
    EXPECT_GT(seen[kBoxOutside], 100);
}

// The default camera: eye at the origin looking along +z, 60 degrees, aspect 0.75, near 1,
// far 1000; at z = 10 the side planes are x = +-4.33 and y = +-5.77.
TEST(FrustumTest, BoxesAroundTheDefaultFrustum) {
    const CameraView view;
    struct Case {
        const char* name;
        BoundingBox box;
        int32_t code;
    } cases[] = {
        {"ahead", Box(0, 0, 10, 1, 1, 1), kBoxInside},
        {"straddling the near plane", Box(0, 0, 1, 0.2f, 0.2f, 1), kBoxCrossing},
        {"touching the near plane from inside", Box(0, 0, 2, 0.2f, 0.2f, 2), kBoxInside},
        {"touching the near plane from outside", Box(0, 0, 0.5f, 0.2f, 0.2f, 1), kBoxCrossing},
        {"behind the eye", Box(0, 0, -5, 1, 1, 1), kBoxOutside},
        {"between the eye and the near plane", Box(0, 0, 0.5f, 0.2f, 0.2f, 0.5f), kBoxOutside},
        {"straddling the far plane", Box(0, 0, 1000, 10, 10, 10), kBoxCrossing},
        {"beyond the far plane", Box(0, 0, 1100, 10, 10, 10), kBoxOutside},
        {"crossing the left plane", Box(-4.33f, 0, 10, 1, 1, 1), kBoxCrossing},
        {"left of the frustum", Box(-100, 0, 10, 1, 1, 1), kBoxOutside},
        {"above the frustum", Box(0, 7, 10, 1, 1, 1), kBoxOutside},
        {"crossing the bottom plane", Box(0, -5.77f, 10, 1, 1, 1), kBoxCrossing},
        {"enclosing the frustum", Box(0, 0, 0, 5000, 5000, 5000), kBoxCrossing},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyBoxAgainstFrustum(c.box, view), c.code) << c.name;
        EXPECT_EQ(ClassifyBoxAgainstFrustum(c.box, view.GetFrustumPlanes()), c.code) << c.name;
    }
}

TEST(FrustumTest, FollowsTheCameraAfterAChange) {
    CameraView view;
    const BoundingBox box = Box(0, 0, 10, 1, 1, 1);
    EXPECT_EQ(ClassifyBoxAgainstFrustum(box, view), kBoxInside);
    view.SetEye(Vec3{0, 0, 20});
    EXPECT_EQ(ClassifyBoxAgainstFrustum(box, view), kBoxOutside);
    view.SetView(Vec3{0, 0, 20}, Vec3{0, 0, -1}, Vec3{0, 1, 0});
    EXPECT_EQ(ClassifyBoxAgainstFrustum(box, view), kBoxInside);
}

}  // namespace
