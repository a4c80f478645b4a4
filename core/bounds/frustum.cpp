#include "core/bounds/frustum.h"

namespace {

// True when point p is behind the plane, that is a p.x + b p.y + c p.z < -d.
inline bool Behind(const FrustumPlane& plane, const Vec3& p) {
    return plane.a * p.x + plane.b * p.y + plane.c * p.z < -plane.d;
}

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
