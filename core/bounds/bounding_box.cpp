#include "core/bounds/bounding_box.h"

#include <d3dx9.h>

#include <algorithm>
#include <cmath>

namespace {

// Twice the distance within which a point counts as on a face.
constexpr float kSurfaceTolerance = 1e-5f;

BoundingBox BoxFromMinMax(const Vec3& low, const Vec3& high) {
    BoundingBox box;
    box.centre = Vec3{(low.x + high.x) / 2, (low.y + high.y) / 2, (low.z + high.z) / 2};
    box.size = Vec3{high.x - low.x, high.y - low.y, high.z - low.z};
    return box;
}

}  // namespace

BoundingBox BoundingBox::Union(const BoundingBox& a, const BoundingBox& b) {
    const Vec3 aHalf{a.size.x / 2, a.size.y / 2, a.size.z / 2};
    const Vec3 bHalf{b.size.x / 2, b.size.y / 2, b.size.z / 2};
    const Vec3 low{std::min(a.centre.x - aHalf.x, b.centre.x - bHalf.x),
                   std::min(a.centre.y - aHalf.y, b.centre.y - bHalf.y),
                   std::min(a.centre.z - aHalf.z, b.centre.z - bHalf.z)};
    const Vec3 high{std::max(a.centre.x + aHalf.x, b.centre.x + bHalf.x),
                    std::max(a.centre.y + aHalf.y, b.centre.y + bHalf.y),
                    std::max(a.centre.z + aHalf.z, b.centre.z + bHalf.z)};
    return BoxFromMinMax(low, high);
}

BoundingBox BoundingBox::Transform(const TypedMatrix& m) const {
    D3DXMATRIX matrix;
    CopyToD3DX(m, matrix);
    Vec3 corners[8];
    for (int k = 0; k < 8; ++k) {
        const Vec3 corner = Corner(k);
        const D3DXVECTOR3 in(corner.x, corner.y, corner.z);
        D3DXVECTOR3 out;
        D3DXVec3TransformCoord(&out, &in, &matrix);
        corners[k] = Vec3{out.x, out.y, out.z};
    }
    return ComputePointBounds(corners, 8);
}

int32_t BoundingBox::Overlaps(const BoundingBox& other) const {
    if (2 * std::fabs(centre.x - other.centre.x) > size.x + other.size.x ||
        2 * std::fabs(centre.y - other.centre.y) > size.y + other.size.y ||
        2 * std::fabs(centre.z - other.centre.z) > size.z + other.size.z) {
        return kBoxesApart;
    }
    return kBoxesOverlap;
}

BoundingBox ComputeVertexBounds(const void* firstPosition, uint32_t strideBytes, uint32_t count) {
    if (count == 0) {
        return BoundingBox{};
    }
    D3DXVECTOR3 low(0, 0, 0);
    D3DXVECTOR3 high(0, 0, 0);
    if (D3DXComputeBoundingBox(static_cast<const D3DXVECTOR3*>(firstPosition), count, strideBytes,
                               &low, &high) != S_OK) {
        return BoundingBox{};
    }
    return BoxFromMinMax(Vec3{low.x, low.y, low.z}, Vec3{high.x, high.y, high.z});
}

BoundingBox ComputePointBounds(const Vec3* points, int count) {
    Vec3 low = points[0];
    Vec3 high = points[0];
    for (int i = 1; i < count; ++i) {
        const Vec3& p = points[i];
        low = Vec3{std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = Vec3{std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    return BoxFromMinMax(low, high);
}

int32_t ClassifyPointInBox(const BoundingBox& box, const Vec3& p) {
    const float e[3] = {2 * std::fabs(box.centre.x - p.x), 2 * std::fabs(box.centre.y - p.y),
                        2 * std::fabs(box.centre.z - p.z)};
    const float size[3] = {box.size.x, box.size.y, box.size.z};
    for (int axis = 0; axis < 3; ++axis) {
        const int other1 = (axis + 1) % 3;
        const int other2 = (axis + 2) % 3;
        if (std::fabs(e[axis] - size[axis]) <= kSurfaceTolerance && e[other1] <= size[other1] &&
            e[other2] <= size[other2]) {
            return kBoxOnSurface;
        }
    }
    if (e[0] <= size[0] && e[1] <= size[1] && e[2] <= size[2]) {
        return kBoxInside;
    }
    return kBoxOutside;
}

int32_t ClassifyBoxInBox(const BoundingBox& outer, const BoundingBox& inner) {
    int inside = 0;
    for (int k = 0; k < 8; ++k) {
        if (ClassifyPointInBox(outer, inner.Corner(k)) == kBoxInside) {
            ++inside;
        }
    }
    if (inside == 8) {
        return kBoxInside;
    }
    return inside > 0 ? kBoxOnSurface : kBoxOutside;
}

Vec3 PerpendicularXY(const Vec3& v) {
    return Vec3{-v.y, v.x, 0.0f};
}
