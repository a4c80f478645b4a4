#include "core/bounds/frustum.h"

#include <cstring>
#include <limits>

namespace {

// True when point p is behind the plane, that is a p.x + b p.y + c p.z < -d.
inline bool Behind(const FrustumPlane& plane, const Vec3& p) {
    return plane.a * p.x + plane.b * p.y + plane.c * p.z < -plane.d;
}

// Four floats as one value: GCC and clang turn arithmetic on it into vector instructions where
// the target has them, each lane doing exactly the scalar operation written, in the order
// written. (x86-64 without -mfma has no fused multiply-add, so no step is fused.)
typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));

// Elements 4 * half to 4 * half + 3 of a packed field.
Float4 Lanes(const float (&field)[8], int half) {
    Float4 v;
    std::memcpy(&v, &field[4 * half], sizeof v);
    return v;
}

Float4 Splat(float s) { return Float4{s, s, s, s}; }

static_assert(kFrustumPlaneCount <= 8, "the packed frustum holds eight planes");

}  // namespace

int32_t ClassifyBoxAgainstFrustum(const BoundingBox& box, const FrustumPlane* planes) {
    int32_t result = kBoxInside;
    for (int i = 0; i < kFrustumPlaneCount; ++i) {
        const FrustumPlane& plane = planes[i];
        if (Behind(plane, box.Corner(plane.positiveCorner))) {
            return kBoxOutside;
        }
        if (Behind(plane, box.Corner(plane.negativeCorner))) {
            result = kBoxCrossing;
        }
    }
    return result;
}

PackedFrustum PackFrustumPlanes(const FrustumPlane* planes) {
    PackedFrustum packed{};
    for (float& negatedD : packed.negatedD) negatedD = -std::numeric_limits<float>::infinity();
    for (int k = 0; k < kFrustumPlaneCount; ++k) {
        const FrustumPlane& plane = planes[k];
        packed.a[k] = plane.a;
        packed.b[k] = plane.b;
        packed.c[k] = plane.c;
        packed.negatedD[k] = -plane.d;
        const float* positive = BoxCornerSigns(plane.positiveCorner);
        const float* negative = BoxCornerSigns(plane.negativeCorner);
        for (int axis = 0; axis < 3; ++axis) {
            packed.positiveSide[axis][k] = positive[axis];
            packed.negativeSide[axis][k] = negative[axis];
        }
    }
    return packed;
}

int32_t ClassifyBoxAgainstFrustum(const BoundingBox& box, const PackedFrustum& frustum) {
    const Float4 cx = Splat(box.centre.x), cy = Splat(box.centre.y), cz = Splat(box.centre.z);
    const Float4 hx = Splat(box.size.x / 2), hy = Splat(box.size.y / 2), hz = Splat(box.size.z / 2);
    // Per plane, 2 when the positive corner is behind it and 1 when the negative corner is.
    Int4 behind = {0, 0, 0, 0};
    for (int half = 0; half < 2; ++half) {
        const Float4 a = Lanes(frustum.a, half), b = Lanes(frustum.b, half), c = Lanes(frustum.c, half);
        const Float4 negatedD = Lanes(frustum.negatedD, half);
        // BoundingBox::Corner's coordinates and Behind's sum, four planes at a time.
        const auto value = [&](const float (&side)[3][8]) {
            return a * (cx + Lanes(side[0], half) * hx) + b * (cy + Lanes(side[1], half) * hy) +
                   c * (cz + Lanes(side[2], half) * hz);
        };
        behind |= ((value(frustum.positiveSide) < negatedD) & 2) | ((value(frustum.negativeSide) < negatedD) & 1);
    }
    // Indexed rather than branched on: which answer comes next is as good as random in a scene.
    static constexpr int32_t kAnswers[4] = {kBoxInside, kBoxCrossing, kBoxOutside, kBoxOutside};
    return kAnswers[behind[0] | behind[1] | behind[2] | behind[3]];
}
