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
// kBoxInside. A corner exactly on a plane counts as in front of it.
int32_t ClassifyBoxAgainstFrustum(const BoundingBox& box, const FrustumPlane* planes);
