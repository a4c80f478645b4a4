// The six planes of a view frustum and the box-against-frustum test that culling runs for
// every node of every frame.
#pragma once

#include "core/bounds/bounding_box.h"

#include <cstdint>

// The order of the planes in a frustum's six records.
enum FrustumPlaneIndex : int32_t {
    kFrustumLeft = 0,
    kFrustumRight = 1,
    kFrustumTop = 2,
    kFrustumBottom = 3,
    kFrustumNear = 4,
    kFrustumFar = 5,
    kFrustumPlaneCount = 6,
};

// The plane a x + b y + c z + d = 0, not normalised; inside is where the expression is not
// negative. The corners are BoundingBox::Corner numbers: positiveCorner is the corner of any
// box that lies farthest along the normal (a, b, c), negativeCorner the opposite one, so one
// corner each answers whether the whole box is behind the plane or only part of it.
struct FrustumPlane {
    float a;
    float b;
    float c;
    float d;
    int32_t positiveCorner;
    int32_t negativeCorner;
};

// planes points at kFrustumPlaneCount records. kBoxOutside as soon as a box's positive corner
// lies behind a plane; else kBoxCrossing when a negative corner lies behind one; else
// kBoxInside. A corner exactly on a plane counts as in front of it. For many boxes against the
// same planes, pack them once and use the form below.
int32_t ClassifyBoxAgainstFrustum(const BoundingBox& box, const FrustumPlane* planes);

// The six records rearranged so that one vector operation tests a corner against four planes:
// each field holds one value of every plane, plane k in element k. Elements 6 and 7 are planes
// nothing lies behind (d = +infinity). The sides are the corners' signs (+1 or -1 per axis, as
// BoundingBox::Corner numbers them, out-of-range numbers giving corner 7).
struct PackedFrustum {
    alignas(16) float a[8];
    alignas(16) float b[8];
    alignas(16) float c[8];
    alignas(16) float negatedD[8];
    alignas(16) float positiveSide[3][8];  // x, y, z
    alignas(16) float negativeSide[3][8];
};

// planes points at kFrustumPlaneCount records.
PackedFrustum PackFrustumPlanes(const FrustumPlane* planes);

// The answer ClassifyBoxAgainstFrustum gives on the records frustum was packed from, for every
// box, ties and NaN included: each corner coordinate is centre + side * (size / 2) and each plane
// value a x + b y + c z summed left to right and compared with -d, exactly as there. Only the
// order of the planes differs (all are tested, none stops early), and the answer does not
// depend on it. Branch-free, for culling loops.
int32_t ClassifyBoxAgainstFrustum(const BoundingBox& box, const PackedFrustum& frustum);
