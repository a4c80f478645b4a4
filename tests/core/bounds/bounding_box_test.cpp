#include "core/bounds/bounding_box.h"

#include <d3dx9math.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <vector>

#include "core/bounds/bounds_provider.h"

std::ostream& operator<<(std::ostream& out, const Vec3& v) {
    return out << "(" << v.x << ", " << v.y << ", " << v.z << ")";
}

std::ostream& operator<<(std::ostream& out, const BoundingBox& box) {
    return out << "centre " << box.centre << " size " << box.size;
}

namespace {

BoundingBox Box(float cx, float cy, float cz, float sx, float sy, float sz) {
    BoundingBox box;
    box.centre = Vec3{cx, cy, cz};
    box.size = Vec3{sx, sy, sz};
    return box;
}

void ExpectVecNear(const Vec3& actual, const Vec3& expected, float tolerance) {
    EXPECT_NEAR(actual.x, expected.x, tolerance) << actual << " vs " << expected;
    EXPECT_NEAR(actual.y, expected.y, tolerance) << actual << " vs " << expected;
    EXPECT_NEAR(actual.z, expected.z, tolerance) << actual << " vs " << expected;
}

void ExpectBoxNear(const BoundingBox& actual, const BoundingBox& expected, float tolerance) {
    ExpectVecNear(actual.centre, expected.centre, tolerance);
    ExpectVecNear(actual.size, expected.size, tolerance);
}

// Random boxes whose centres and sizes are multiples of 1/2 on a small grid, so every face and
// corner is exact in floats and faces of different boxes often coincide (touching cases).
class DyadicBoxes {
public:
    BoundingBox Next() {
        return Box(Coordinate(), Coordinate(), Coordinate(), Size(), Size(), Size());
    }
    // A point whose coordinates each lie well inside, exactly on a face or outside the box.
    Vec3 PointNear(const BoundingBox& box) {
        return Vec3{Near(box.centre.x, box.size.x), Near(box.centre.y, box.size.y),
                    Near(box.centre.z, box.size.z)};
    }

private:
    float Coordinate() {
        return static_cast<float>(std::uniform_int_distribution<int>(-6, 6)(rng_)) / 2;
    }
    float Size() { return static_cast<float>(std::uniform_int_distribution<int>(0, 8)(rng_)) / 2; }
    // centre + k/4 of the half size, k in -6..6: |k| = 4 is on a face, |k| > 4 outside.
    float Near(float centre, float size) {
        const int k = std::uniform_int_distribution<int>(-6, 6)(rng_);
        return centre + static_cast<float>(k) * size / 8;
    }
    std::mt19937 rng_{20240607};
};

// Per axis the low and high faces, exact for dyadic boxes.
struct Extent {
    float low[3];
    float high[3];
};

Extent ExtentOf(const BoundingBox& box) {
    const float c[3] = {box.centre.x, box.centre.y, box.centre.z};
    const float s[3] = {box.size.x, box.size.y, box.size.z};
    Extent e;
    for (int i = 0; i < 3; ++i) {
        e.low[i] = c[i] - s[i] / 2;
        e.high[i] = c[i] + s[i] / 2;
    }
    return e;
}

// ---------------------------------------------------------------------------------------------
// Corners, union and the boxes of points

TEST(BoundingBoxTest, CornerNumbering) {
    const BoundingBox box = Box(10, 20, 30, 2, 4, 6);
    struct Case {
        int k;
        Vec3 corner;
    } cases[] = {
        {0, {9, 22, 27}}, {1, {11, 22, 27}}, {2, {11, 18, 27}}, {3, {9, 18, 27}},
        {4, {9, 22, 33}}, {5, {11, 22, 33}}, {6, {11, 18, 33}}, {7, {9, 18, 33}},
        {9, {9, 18, 33}}, {-1, {9, 18, 33}},  // any other number is corner 7
    };
    for (const Case& c : cases) {
        const Vec3 corner = box.Corner(c.k);
        EXPECT_EQ(corner.x, c.corner.x) << "corner " << c.k;
        EXPECT_EQ(corner.y, c.corner.y) << "corner " << c.k;
        EXPECT_EQ(corner.z, c.corner.z) << "corner " << c.k;
    }
}

TEST(BoundingBoxTest, UnionSpansBothBoxes) {
    struct Case {
        BoundingBox a, b, expected;
    } cases[] = {
        // a box of size 0 still counts with its centre
        {Box(5, 5, 5, 0, 0, 0), Box(0, 0, 0, 2, 2, 2), Box(2, 2, 2, 6, 6, 6)},
        {Box(0, 0, 0, 2, 2, 2), Box(5, 5, 5, 0, 0, 0), Box(2, 2, 2, 6, 6, 6)},
        // one inside the other
        {Box(0, 0, 0, 10, 10, 10), Box(1, -1, 2, 2, 2, 2), Box(0, 0, 0, 10, 10, 10)},
        // apart on x, overlapping on y, equal on z
        {Box(-4, 0, 1, 2, 4, 2), Box(4, 1, 1, 2, 4, 2), Box(0, 0.5f, 1, 10, 5, 2)},
    };
    for (const Case& c : cases) {
        const BoundingBox u = BoundingBox::Union(c.a, c.b);
        ExpectBoxNear(u, c.expected, 0);
    }
}

TEST(BoundingBoxTest, PointBoundsAreTheExtremes) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> coordinate(-100, 100);
    std::vector<Vec3> points(50);
    Vec3 low{1e9f, 1e9f, 1e9f};
    Vec3 high{-1e9f, -1e9f, -1e9f};
    for (Vec3& p : points) {
        p = Vec3{coordinate(rng), coordinate(rng), coordinate(rng)};
        low = Vec3{std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = Vec3{std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    const BoundingBox box = ComputePointBounds(points.data(), static_cast<int>(points.size()));
    ExpectVecNear(box.centre,
                  Vec3{(low.x + high.x) / 2, (low.y + high.y) / 2, (low.z + high.z) / 2}, 0);
    ExpectVecNear(box.size, Vec3{high.x - low.x, high.y - low.y, high.z - low.z}, 0);

    const Vec3 single{3, -4, 5};
    ExpectBoxNear(ComputePointBounds(&single, 1), Box(3, -4, 5, 0, 0, 0), 0);
}

// Positions interleaved with normals whose values lie far outside the positions' range, so a
// wrong stride or a read past the count shows in the box.
TEST(BoundingBoxTest, VertexBoundsFollowTheStride) {
    struct Vertex {
        float position[3];
        float normal[3];
    };
    const Vertex vertices[] = {
        {{1, 2, 3}, {900, 900, 900}},
        {{-1, 0, 7}, {-900, -900, -900}},
        {{0, 5, 4}, {900, -900, 900}},
        {{500, 500, 500}, {0, 0, 0}},  // past the count
    };
    const BoundingBox box = ComputeVertexBounds(vertices, sizeof(Vertex), 3);
    ExpectBoxNear(box, Box(0, 2.5f, 5, 2, 5, 4), 0);

    ExpectBoxNear(ComputeVertexBounds(vertices, sizeof(Vertex), 0), Box(0, 0, 0, 0, 0, 0), 0);
    ExpectBoxNear(ComputeVertexBounds(nullptr, sizeof(Vertex), 0), Box(0, 0, 0, 0, 0, 0), 0);
}

TypedMatrix FromD3DX(const D3DXMATRIX& d3dx) {
    TypedMatrix m;
    CopyFromD3DX(d3dx, m);
    return m;
}

TEST(BoundingBoxTest, TransformBoundsTheTransformedCorners) {
    D3DXMATRIX rotation;
    D3DXMatrixRotationZ(&rotation, D3DX_PI / 2);
    D3DXMATRIX translation;
    D3DXMatrixTranslation(&translation, 10, 20, 30);
    D3DXMATRIX rotate45;
    D3DXMatrixRotationY(&rotate45, D3DX_PI / 4);
    D3DXMATRIX mirror;
    D3DXMatrixScaling(&mirror, -2, 1, 1);
    // w = 2 for every point: the corners must be divided by w.
    D3DXMATRIX homogeneous;
    D3DXMatrixScaling(&homogeneous, 1, 1, 1);
    homogeneous._44 = 2;

    const BoundingBox box = Box(1, 2, 3, 2, 4, 6);
    struct Case {
        const char* name;
        D3DXMATRIX matrix;
        BoundingBox expected;
    } cases[] = {
        {"rotation about z swaps the x and y extents", rotation, Box(-2, 1, 3, 4, 2, 6)},
        {"translation", translation, Box(11, 22, 33, 2, 4, 6)},
        {"mirrored scale", mirror, Box(-2, 2, 3, 4, 4, 6)},
        {"divided by w", homogeneous, Box(0.5f, 1, 1.5f, 1, 2, 3)},
        // a square of side 2 and 6 turned by 45 degrees about y spans (2 + 6) / sqrt(2)
        {"rotation by 45 degrees", rotate45,
         Box((1 + 3) * 0.70710678f, 2, (3 - 1) * 0.70710678f, 8 * 0.70710678f, 4, 8 * 0.70710678f)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectBoxNear(box.Transform(FromD3DX(c.matrix)), c.expected, 1e-5f);
    }
}

TEST(BoundingBoxTest, PerpendicularXYTurnsAQuarterAboutZ) {
    const Vec3 p = PerpendicularXY(Vec3{3, 4, 5});
    EXPECT_EQ(p.x, -4);
    EXPECT_EQ(p.y, 3);
    EXPECT_EQ(p.z, 0);
}

// ---------------------------------------------------------------------------------------------
// Point in box

TEST(PointInBoxTest, MatchesTheFacesOfRandomBoxes) {
    DyadicBoxes boxes;
    for (int i = 0; i < 2000; ++i) {
        const BoundingBox box = boxes.Next();
        const Vec3 p = boxes.PointNear(box);
        const Extent e = ExtentOf(box);
        const float q[3] = {p.x, p.y, p.z};
        bool outside = false;
        bool onFace = false;
        for (int axis = 0; axis < 3; ++axis) {
            outside = outside || q[axis] < e.low[axis] || q[axis] > e.high[axis];
            onFace = onFace || q[axis] == e.low[axis] || q[axis] == e.high[axis];
        }
        const int32_t expected = outside ? kBoxOutside : onFace ? kBoxOnSurface : kBoxInside;
        EXPECT_EQ(ClassifyPointInBox(box, p), expected) << box << ", point " << p;
    }
}

// The surface is a band of 1e-5 on twice the distance from the centre, on both sides of a face,
// but only where the point is within the box on the other two axes.
TEST(PointInBoxTest, SurfaceTolerance) {
    const BoundingBox box = Box(0, 0, 0, 2, 2, 2);
    struct Case {
        const char* name;
        Vec3 point;
        int32_t code;
    } cases[] = {
        {"centre", {0, 0, 0}, kBoxInside},
        {"on a face", {1, 0.5f, 0}, kBoxOnSurface},
        {"on the opposite face", {0, 0, -1}, kBoxOnSurface},
        {"on a corner", {1, -1, 1}, kBoxOnSurface},
        {"1e-6 inside a face", {1 - 1e-6f, 0, 0}, kBoxOnSurface},
        {"3e-6 outside a face", {0, 1 + 3e-6f, 0}, kBoxOnSurface},
        {"1e-4 inside a face", {0, 0, 1 - 1e-4f}, kBoxInside},
        {"1e-4 outside a face", {1 + 1e-4f, 0, 0}, kBoxOutside},
        {"in the plane of a face but beside the box", {1, 1.5f, 0}, kBoxOutside},
        {"3e-6 outside two faces at an edge", {1 + 3e-6f, 1 + 3e-6f, 0}, kBoxOutside},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyPointInBox(box, c.point), c.code) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// Box in box

TEST(BoxInBoxTest, CountsCornersStrictlyInside) {
    DyadicBoxes boxes;
    int seen[5] = {};
    for (int i = 0; i < 3000; ++i) {
        const BoundingBox outer = boxes.Next();
        // Smaller boxes around points near the outer box, so that all three answers occur.
        BoundingBox inner;
        inner.centre = boxes.PointNear(outer);
        inner.size = Vec3{outer.size.x / 4, outer.size.y / 4, outer.size.z / 4};
        const Extent e = ExtentOf(outer);
        int inside = 0;
        for (int k = 0; k < 8; ++k) {
            const Vec3 c = inner.Corner(k);
            const float q[3] = {c.x, c.y, c.z};
            bool in = true;
            for (int axis = 0; axis < 3; ++axis) {
                in = in && e.low[axis] < q[axis] && q[axis] < e.high[axis];
            }
            inside += in ? 1 : 0;
        }
        const int32_t expected = inside == 8  ? kBoxInside
                                 : inside > 0 ? kBoxOnSurface
                                              : kBoxOutside;
        const int32_t code = ClassifyBoxInBox(outer, inner);
        EXPECT_EQ(code, expected) << "outer " << outer << ", inner " << inner;
        ++seen[code];
    }
    EXPECT_GT(seen[kBoxInside], 50);
    EXPECT_GT(seen[kBoxOnSurface], 50);
    EXPECT_GT(seen[kBoxOutside], 50);
}

// Only corners count, so a box that holds the outer one, or crosses it with every corner
// outside, answers "outside" although the boxes share space; Overlaps tells those apart from
// boxes that really are apart.
TEST(BoxInBoxTest, CornerCountCasesAndWhatOverlapsAdds) {
    const BoundingBox outer = Box(0, 0, 0, 4, 4, 4);
    struct Case {
        const char* name;
        BoundingBox inner;
        int32_t code;
        int32_t overlap;
    } cases[] = {
        {"well inside", Box(0, 0, 0, 2, 2, 2), kBoxInside, kBoxesOverlap},
        {"inside, touching a face", Box(1, 0, 0, 2, 2, 2), kBoxOnSurface, kBoxesOverlap},
        {"half out", Box(2, 0, 0, 2, 2, 2), kBoxOnSurface, kBoxesOverlap},
        {"the same box", outer, kBoxOutside, kBoxesOverlap},
        {"enclosing the outer box", Box(0, 0, 0, 6, 6, 6), kBoxOutside, kBoxesOverlap},
        {"crossing it like a bar", Box(0, 0, 0, 8, 1, 1), kBoxOutside, kBoxesOverlap},
        {"apart", Box(5, 0, 0, 2, 2, 2), kBoxOutside, kBoxesApart},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ClassifyBoxInBox(outer, c.inner), c.code) << c.name;
        EXPECT_EQ(outer.Overlaps(c.inner), c.overlap) << c.name;
        EXPECT_EQ(c.inner.Overlaps(outer), c.overlap) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// Overlap

TEST(BoxOverlapTest, MatchesClosedExtentsOfRandomBoxes) {
    DyadicBoxes boxes;
    int overlapping = 0;
    for (int i = 0; i < 3000; ++i) {
        const BoundingBox a = boxes.Next();
        const BoundingBox b = boxes.Next();
        const Extent ea = ExtentOf(a);
        const Extent eb = ExtentOf(b);
        bool share = true;
        for (int axis = 0; axis < 3; ++axis) {
            share = share &&
                    std::max(ea.low[axis], eb.low[axis]) <= std::min(ea.high[axis], eb.high[axis]);
        }
        const int32_t expected = share ? kBoxesOverlap : kBoxesApart;
        EXPECT_EQ(a.Overlaps(b), expected) << a << " with " << b;
        overlapping += share ? 1 : 0;
    }
    EXPECT_GT(overlapping, 300);
    EXPECT_LT(overlapping, 2700);
}

TEST(BoxOverlapTest, TouchingBoxesOverlap) {
    const BoundingBox a = Box(0, 0, 0, 2, 2, 2);
    struct Case {
        const char* name;
        BoundingBox b;
        int32_t code;
    } cases[] = {
        {"sharing one face", Box(2, 0, 0, 2, 2, 2), kBoxesOverlap},
        {"sharing one corner", Box(2, -2, 2, 2, 2, 2), kBoxesOverlap},
        {"a gap on one axis", Box(0, 0, 2.01f, 2, 2, 2), kBoxesApart},
        {"a point on the face", Box(0, -1, 0, 0, 0, 0), kBoxesOverlap},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(a.Overlaps(c.b), c.code) << c.name;
    }
}

// ---------------------------------------------------------------------------------------------
// BoundsProvider

class FixedBounds : public BoundsProvider {
public:
    bool ComputeBounds() override {
        box_ = Box(1, 2, 3, 4, 5, 6);
        valid_ = true;
        return true;
    }
};

TEST(BoundsProviderTest, InvalidUntilAnOwnerComputesABox) {
    BoundsProvider plain;
    EXPECT_FALSE(plain.IsValid());
    EXPECT_FALSE(plain.ComputeBounds()) << "the base has nothing to compute";
    EXPECT_FALSE(plain.IsValid());

    FixedBounds fixed;
    BoundsProvider& provider = fixed;
    EXPECT_FALSE(provider.IsValid());
    EXPECT_TRUE(provider.ComputeBounds());
    EXPECT_TRUE(provider.IsValid());
    ExpectBoxNear(provider.GetBox(), Box(1, 2, 3, 4, 5, 6), 0);
}

}  // namespace
