// The packed box-against-frustum test against the plane-by-plane one it must answer exactly as.
#include "core/bounds/frustum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

// The test as culling ran it before the planes were packed: plane after plane, the positive
// then the negative corner, stopping at the first plane the box is wholly behind.
int32_t FormerClassify(const BoundingBox& box, const FrustumPlane* planes) {
    const auto corner = [&box](int k) {
        const float* sign = kBoxCornerSigns[(k >= 0 && k < 8) ? k : 7];
        return Vec3{box.centre.x + sign[0] * (box.size.x / 2), box.centre.y + sign[1] * (box.size.y / 2),
                    box.centre.z + sign[2] * (box.size.z / 2)};
    };
    const auto behind = [](const FrustumPlane& plane, const Vec3& p) {
        return plane.a * p.x + plane.b * p.y + plane.c * p.z < -plane.d;
    };
    int32_t result = kBoxInside;
    for (int i = 0; i < kFrustumPlaneCount; ++i) {
        if (behind(planes[i], corner(planes[i].positiveCorner))) return kBoxOutside;
        if (behind(planes[i], corner(planes[i].negativeCorner))) result = kBoxCrossing;
    }
    return result;
}

// Each plane against the box's centre and its half-size projected on the normal: the same
// answers in exact arithmetic, but rounded differently.
int32_t CentreAndExtent(const BoundingBox& box, const FrustumPlane* planes) {
    int32_t result = kBoxInside;
    for (int i = 0; i < kFrustumPlaneCount; ++i) {
        const FrustumPlane& p = planes[i];
        const float distance = p.a * box.centre.x + p.b * box.centre.y + p.c * box.centre.z + p.d;
        const float extent =
            std::fabs(p.a) * box.size.x / 2 + std::fabs(p.b) * box.size.y / 2 + std::fabs(p.c) * box.size.z / 2;
        if (distance + extent < 0) return kBoxOutside;
        if (distance - extent < 0) result = kBoxCrossing;
    }
    return result;
}

// The corners a camera would give a plane: positive on the larger side of each axis whose
// component is not negative.
void SetCornersFromSigns(FrustumPlane& plane) {
    const bool x = !(plane.a < 0), y = !(plane.b < 0), z = !(plane.c < 0);
    for (int k = 0; k < 8; ++k) {
        const float* s = kBoxCornerSigns[k];
        if ((s[0] > 0) == x && (s[1] > 0) == y && (s[2] > 0) == z) plane.positiveCorner = k;
        if ((s[0] > 0) != x && (s[1] > 0) != y && (s[2] > 0) != z) plane.negativeCorner = k;
    }
}

// A plane every corner of every finite box is in front of.
FrustumPlane Everywhere() { return FrustumPlane{0, 0, 0, 1, 5, 3}; }

BoundingBox Box(Vec3 centre, Vec3 size) {
    BoundingBox box;
    box.centre = centre;
    box.size = size;
    return box;
}

::testing::AssertionResult AnswersAsBefore(const BoundingBox& box, const FrustumPlane* planes) {
    const int32_t expected = FormerClassify(box, planes);
    const int32_t packed = ClassifyBoxAgainstFrustum(box, PackFrustumPlanes(planes));
    const int32_t records = ClassifyBoxAgainstFrustum(box, planes);
    if (packed == expected && records == expected) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "packed " << packed << ", records " << records << ", before "
                                         << expected << " for the box at (" << box.centre.x << ", "
                                         << box.centre.y << ", " << box.centre.z << ") of size ("
                                         << box.size.x << ", " << box.size.y << ", " << box.size.z << ")";
}

class RandomValues {
public:
    explicit RandomValues(uint32_t seed) : rng_(seed) {}

    float Uniform(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng_); }
    int Integer(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    // Mostly ordinary values, with ±0, huge, tiny, infinite and NaN ones among them.
    float Awkward() {
        const float sign = rng_() % 2 ? -1.0f : 1.0f;
        switch (rng_() % 12) {
            case 0: return sign * 0.0f;
            case 1: return sign * std::ldexp(Uniform(1, 2), Integer(60, 127));
            case 2: return sign * std::ldexp(Uniform(1, 2), -Integer(60, 149));
            case 3: return sign * kInfinity;
            case 4: return std::numeric_limits<float>::quiet_NaN();
            case 5: return static_cast<float>(Integer(-3, 3));
            default: return Uniform(-100, 100);
        }
    }

    std::mt19937& Engine() { return rng_; }

private:
    std::mt19937 rng_;
};

TEST(PackedFrustum, AnswersAsBeforeForAnyPlanesAndBoxes) {
    RandomValues values(1109);
    for (int trial = 0; trial < 20000; ++trial) {
        FrustumPlane planes[kFrustumPlaneCount];
        for (FrustumPlane& plane : planes) {
            plane = FrustumPlane{values.Awkward(), values.Awkward(), values.Awkward(), values.Awkward(), 0, 0};
            if (trial % 3 == 0) {
                // Corner numbers that need not match the normal, out of range ones included.
                const int numbers[] = {0, 1, 2, 3, 4, 5, 6, 7, -1, 8, 1000};
                plane.positiveCorner = numbers[values.Integer(0, 10)];
                plane.negativeCorner = numbers[values.Integer(0, 10)];
            } else {
                SetCornersFromSigns(plane);
            }
        }
        const bool awkward = trial % 2 == 0;
        const auto coordinate = [&] { return awkward ? values.Awkward() : values.Uniform(-100, 100); };
        const auto extent = [&] { return awkward ? values.Awkward() : values.Uniform(0, 50); };
        const BoundingBox box = Box({coordinate(), coordinate(), coordinate()}, {extent(), extent(), extent()});
        ASSERT_TRUE(AnswersAsBefore(box, planes)) << "trial " << trial;
    }
}

// Small integers keep every step exact, so a corner lies exactly on the plane and the tie is
// decided by "on the plane counts as in front".
TEST(PackedFrustum, CornersExactlyOnAPlane) {
    RandomValues values(7);
    struct Tie {
        const char* name;
        bool positiveOnPlane;  // else the negative corner is on it
        bool flat;             // the box has no depth along the normal
        int32_t code;
    };
    const Tie ties[] = {
        {"positive corner on the plane, the rest behind", true, false, kBoxCrossing},
        {"negative corner on the plane, the rest in front", false, false, kBoxInside},
        {"a flat box lying in the plane", true, true, kBoxInside},
    };
    for (const Tie& tie : ties) {
        for (int trial = 0; trial < 500; ++trial) {
            FrustumPlane planes[kFrustumPlaneCount] = {Everywhere(), Everywhere(), Everywhere(),
                                                       Everywhere(), Everywhere(), Everywhere()};
            FrustumPlane& plane = planes[trial % kFrustumPlaneCount];
            plane.a = static_cast<float>(values.Integer(-4, 4));
            plane.b = static_cast<float>(values.Integer(-4, 4));
            plane.c = static_cast<float>(values.Integer(1, 4) * (trial % 2 ? 1 : -1));
            SetCornersFromSigns(plane);
            Vec3 size{2.0f * values.Integer(0, 8), 2.0f * values.Integer(0, 8), 2.0f * values.Integer(1, 8)};
            if (tie.flat) {
                // Flat along z, and along x and y wherever the normal has a part there.
                size.z = 0;
                if (plane.a != 0) size.x = 0;
                if (plane.b != 0) size.y = 0;
            }
            const int onPlane = tie.positiveOnPlane ? plane.positiveCorner : plane.negativeCorner;
            const Vec3 corner{static_cast<float>(values.Integer(-50, 50)), static_cast<float>(values.Integer(-50, 50)),
                              static_cast<float>(values.Integer(-50, 50))};
            plane.d = -(plane.a * corner.x + plane.b * corner.y + plane.c * corner.z);
            const float* s = kBoxCornerSigns[onPlane];
            const BoundingBox box =
                Box({corner.x - s[0] * size.x / 2, corner.y - s[1] * size.y / 2, corner.z - s[2] * size.z / 2}, size);
            ASSERT_TRUE(AnswersAsBefore(box, planes)) << tie.name << ", trial " << trial;
            ASSERT_EQ(ClassifyBoxAgainstFrustum(box, PackFrustumPlanes(planes)), tie.code)
                << tie.name << ", trial " << trial;
        }
    }
}

// Planes and boxes of a real scene, each box moved a few units in the last place about the
// position where a corner touches a plane: the answer there is decided by rounding, and the
// packed test must round exactly as the plane-by-plane one.
TEST(PackedFrustum, RoundingAtNearTiesAsBefore) {
    RandomValues values(2107);
    int centreAndExtentDiffers = 0;
    int answers[6] = {};
    for (int trial = 0; trial < 4000; ++trial) {
        FrustumPlane planes[kFrustumPlaneCount] = {Everywhere(), Everywhere(), Everywhere(),
                                                   Everywhere(), Everywhere(), Everywhere()};
        FrustumPlane& plane = planes[trial % kFrustumPlaneCount];
        plane.a = values.Uniform(-2, 2);
        plane.b = values.Uniform(-2, 2);
        plane.c = values.Uniform(0.2f, 2) * (trial % 2 ? 1 : -1);
        plane.d = values.Uniform(-500, 500);
        SetCornersFromSigns(plane);
        const Vec3 size{values.Uniform(0.1f, 40), values.Uniform(0.1f, 40), values.Uniform(0.1f, 40)};
        const int touching = trial % 4 < 2 ? plane.positiveCorner : plane.negativeCorner;
        const float* s = kBoxCornerSigns[touching];
        // The corner's x and y are free; its z puts it on the plane as nearly as floats allow.
        const float x = values.Uniform(-300, 300), y = values.Uniform(-300, 300);
        const float z = (-plane.d - plane.a * x - plane.b * y) / plane.c;
        const Vec3 centre{x - s[0] * (size.x / 2), y - s[1] * (size.y / 2), z - s[2] * (size.z / 2)};
        for (int ulps = -3; ulps <= 3; ++ulps) {
            BoundingBox box = Box(centre, size);
            for (int step = 0; step < std::abs(ulps); ++step) {
                box.centre.z = std::nextafter(box.centre.z, ulps < 0 ? -kInfinity : kInfinity);
            }
            ASSERT_TRUE(AnswersAsBefore(box, planes)) << "trial " << trial << ", " << ulps << " ulps";
            const int32_t code = FormerClassify(box, planes);
            ++answers[code];
            if (CentreAndExtent(box, planes) != code) ++centreAndExtentDiffers;
        }
    }
    // The fixture is close enough to the ties to tell roundings apart, and reaches every answer.
    EXPECT_GT(centreAndExtentDiffers, 100);
    EXPECT_GT(answers[kBoxInside], 1000);
    EXPECT_GT(answers[kBoxCrossing], 1000);
    EXPECT_GT(answers[kBoxOutside], 1000);
}

TEST(PackedFrustum, SpareLanesNeverCountAsBehind) {
    // Six planes nothing is behind: whatever the box, inside, also for boxes at infinity or NaN.
    const FrustumPlane planes[kFrustumPlaneCount] = {Everywhere(), Everywhere(), Everywhere(),
                                                     Everywhere(), Everywhere(), Everywhere()};
    const PackedFrustum packed = PackFrustumPlanes(planes);
    for (float v : {0.0f, -1e30f, kInfinity, -kInfinity, std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_EQ(ClassifyBoxAgainstFrustum(Box({v, v, v}, {1, 1, 1}), packed), kBoxInside) << v;
    }
}

}  // namespace
