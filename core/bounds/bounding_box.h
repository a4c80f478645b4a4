// Axis-aligned boxes kept as a centre and a full size, and the tests that classify points and
// boxes against them. The numeric result codes are part of the contract: callers store and
// compare them as plain ints.
#pragma once

#include "core/math/typed_matrix.h"
#include "core/math/vec3.h"

#include <cstdint>

// Codes of ClassifyPointInBox, ClassifyBoxInBox and ClassifyBoxAgainstFrustum.
constexpr int32_t kBoxOnSurface = 2;  // a point on the surface; a box with some corners inside
constexpr int32_t kBoxInside = 3;
constexpr int32_t kBoxOutside = 4;
constexpr int32_t kBoxCrossing = 5;  // a box that crosses a frustum plane

// Codes of BoundingBox::Overlaps.
constexpr int32_t kBoxesOverlap = 4;  // overlapping or touching
constexpr int32_t kBoxesApart = 0;

// A box spans centre - size / 2 to centre + size / 2 on each axis; size is the full extent.
// Whether a box means anything is said by a flag beside it (BoundsProvider), never by the box.
struct BoundingBox {
    Vec3 centre{0.0f, 0.0f, 0.0f};
    Vec3 size{0.0f, 0.0f, 0.0f};

    // Corner k, with h = size / 2:
    //   k:  0  1  2  3  4  5  6  7
    //   x:  -  +  +  -  -  +  +  -
    //   y:  +  +  -  -  +  +  -  -
    //   z:  -  -  -  -  +  +  +  +
    // Any k outside 0..7 gives corner 7. Frustum planes name their corners by these numbers.
    // Inline: culling asks for two corners per plane of every node every frame.
    Vec3 Corner(int k) const;

    // The smallest box holding both, taken as they are (valid or not: the caller decides).
    static BoundingBox Union(const BoundingBox& a, const BoundingBox& b);

    // The box of the eight corners after each is transformed as a point (divided by w) by m.
    BoundingBox Transform(const TypedMatrix& m) const;

    // kBoxesOverlap when the boxes share any point (touching counts), else kBoxesApart.
    int32_t Overlaps(const BoundingBox& other) const;
};

// Per corner number, the side of the centre on x, y and z.
inline constexpr float kBoxCornerSigns[8][3] = {
    {-1, +1, -1}, {+1, +1, -1}, {+1, -1, -1}, {-1, -1, -1},
    {-1, +1, +1}, {+1, +1, +1}, {+1, -1, +1}, {-1, -1, +1},
};

// The signs of corner k, k outside 0..7 giving corner 7's, as BoundingBox::Corner reads them.
inline const float* BoxCornerSigns(int k) { return kBoxCornerSigns[(k >= 0 && k < 8) ? k : 7]; }

inline Vec3 BoundingBox::Corner(int k) const {
    const float* sign = BoxCornerSigns(k);
    // sign * h is exactly +h or -h, so each coordinate is centre +- size / 2.
    return Vec3{centre.x + sign[0] * (size.x / 2), centre.y + sign[1] * (size.y / 2),
                centre.z + sign[2] * (size.z / 2)};
}

// The box of count positions, the first at firstPosition and each next one strideBytes further
// on (the position is the vertex's first three floats at that address). A count of 0 gives the
// box of size 0 at the origin without reading anything.
BoundingBox ComputeVertexBounds(const void* firstPosition, uint32_t strideBytes, uint32_t count);

// The box of count contiguous points; count >= 1.
BoundingBox ComputePointBounds(const Vec3* points, int count);

// kBoxOnSurface when p lies within 1e-5 (measured on twice its distance from the centre) of a
// face while inside or on the box along the other two axes; else kBoxInside when p is inside,
// else kBoxOutside. The tolerance is absolute, so it shrinks to nothing for large coordinates.
int32_t ClassifyPointInBox(const BoundingBox& box, const Vec3& p);

// Counts the inner box's corners that ClassifyPointInBox finds inside the outer box (a corner
// on the surface does not count): kBoxInside for all eight, kBoxOnSurface for some, kBoxOutside
// for none. An inner box that encloses the outer one, or crosses it with no corner inside,
// therefore also answers kBoxOutside; to ask whether two boxes share any point use Overlaps.
int32_t ClassifyBoxInBox(const BoundingBox& outer, const BoundingBox& inner);

// (-v.y, v.x, 0): v turned a quarter turn about z, flattened onto the xy plane.
Vec3 PerpendicularXY(const Vec3& v);
