// Node transforms: composition against the plain product of its factors, the cache, and the
// factor each part yields.
#include "scene/node_transform.h"

#include <d3dx9math.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

// The composed transform with its cache state in view.
class ProbedTransform : public NodeTransform {
public:
    bool Dirty() const { return dirty_; }
};

Vec3 TransformPoint(const TypedMatrix& m, Vec3 p) {
    return Vec3{p.x * m.m[0] + p.y * m.m[4] + p.z * m.m[8] + m.m[12],
                p.x * m.m[1] + p.y * m.m[5] + p.z * m.m[9] + m.m[13],
                p.x * m.m[2] + p.y * m.m[6] + p.z * m.m[10] + m.m[14]};
}

void ExpectVec3Near(Vec3 actual, Vec3 expected, float tolerance, const char* what) {
    EXPECT_NEAR(actual.x, expected.x, tolerance) << what;
    EXPECT_NEAR(actual.y, expected.y, tolerance) << what;
    EXPECT_NEAR(actual.z, expected.z, tolerance) << what;
}

TypedMatrix Composed(NodeTransform& t) {
    TypedMatrix m;
    t.ComposeTransform(m);
    return m;
}

TEST(NodeTransformTest, AFreshTransformIsTheIdentity) {
    NodeTransform t;
    const TypedMatrix m = Composed(t);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(m.m[i], IdentityMatrix().m[i]) << i;
    EXPECT_EQ(m.valid, 1);
    TypedMatrix viaSource;
    EXPECT_TRUE(t.GetMatrix(123.0f, viaSource)) << "the time is ignored";
    EXPECT_EQ(std::memcmp(viaSource.m, m.m, sizeof m.m), 0);
    TimeRange range{7.0f, 8.0f};
    EXPECT_FALSE(t.GetTimeRange(range)) << "a static source";
    EXPECT_EQ(range.first, 7.0f) << "left untouched";
}

TEST(NodeTransformTest, PointsMapThroughBaseScaleOrientationAndPosition) {
    struct Case {
        const char* what;
        Vec3 direction, up, position, scale;
        TypedMatrix base;
        Vec3 local, expected;
    };
    TypedMatrix shiftX;
    shiftX.m[12] = 1.0f;
    shiftX.kind = kMatrixTranslation;
    const Case cases[] = {
        {"facing +x, placed at (5, 0, 0): local forward lands at (6, 0, 0)", {1, 0, 0}, {0, 1, 0}, {5, 0, 0},
         {1, 1, 1}, IdentityMatrix(), {0, 0, 1}, {6, 0, 0}},
        {"the base applies before the scale: the origin moves to 1, then doubles", {0, 0, 1}, {0, 1, 0}, {0, 0, 0},
         {2, 2, 2}, shiftX, {0, 0, 0}, {2, 0, 0}},
        {"scales are along the local axes: y scaled by 3, then turned onto -x", {0, 0, 1}, {-1, 0, 0}, {0, 0, 0},
         {1, 3, 1}, IdentityMatrix(), {0, 1, 0}, {-3, 0, 0}},
        {"direction and up are stored unnormalised and normalised when composed", {0, 0, 7}, {0, 0.5f, 0}, {1, 2, 3},
         {1, 1, 1}, IdentityMatrix(), {1, 0, 0}, {2, 2, 3}},
    };
    for (const Case& c : cases) {
        NodeTransform t;
        t.SetOrientation(c.direction, c.up);
        t.SetPosition(c.position);
        t.SetScale(c.scale.x, c.scale.y, c.scale.z);
        t.SetBaseMatrix(c.base);
        ExpectVec3Near(TransformPoint(Composed(t), c.local), c.expected, 1e-6f, c.what);
        Vec3 direction, up;
        t.GetOrientation(direction, up);
        EXPECT_EQ(direction.z, c.direction.z) << c.what << ": stored as given";
        EXPECT_EQ(up.y, c.up.y) << c.what;
    }
}

// The composition against the plain chain base x S x R x T of D3DX products, R the rotation
// whose rows are the normalised up x forward, up and forward.
TEST(NodeTransformTest, CompositionMatchesThePlainProductChain) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> value(-3.0f, 3.0f);
    auto vec = [&] { return Vec3{value(rng), value(rng), value(rng)}; };
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        const Vec3 direction = vec(), up = vec(), position = vec(), scale = vec();
        D3DXMATRIX base;
        for (int i = 0; i < 16; ++i) base.m[i / 4][i % 4] = value(rng);
        base._14 = base._24 = base._34 = 0.0f;
        base._44 = 1.0f;
        TypedMatrix typedBase;
        CopyFromD3DX(base, typedBase);

        NodeTransform t;
        t.SetBaseMatrix(typedBase);
        t.SetScale(scale.x, scale.y, scale.z);
        t.SetOrientation(direction, up);
        t.SetPosition(position);
        const TypedMatrix composed = Composed(t);

        D3DXVECTOR3 f(ToD3DVector(direction)), u(ToD3DVector(up)), r;
        D3DXVec3Normalize(&f, &f);
        D3DXVec3Normalize(&u, &u);
        D3DXVec3Cross(&r, &u, &f);
        D3DXVec3Normalize(&r, &r);
        D3DXMATRIX s, rotation, translation, chain;
        D3DXMatrixScaling(&s, scale.x, scale.y, scale.z);
        rotation = D3DXMATRIX(r.x, r.y, r.z, 0, u.x, u.y, u.z, 0, f.x, f.y, f.z, 0, 0, 0, 0, 1);
        D3DXMatrixTranslation(&translation, position.x, position.y, position.z);
        D3DXMatrixMultiply(&chain, &base, &s);
        D3DXMatrixMultiply(&chain, &chain, &rotation);
        D3DXMatrixMultiply(&chain, &chain, &translation);
        for (int i = 0; i < 16; ++i) EXPECT_NEAR(composed.m[i], chain.m[i / 4][i % 4], 1e-4f) << i;
    }
}

TEST(NodeTransformTest, TheCacheIsRebuiltAfterEverySetterAndOnlyThen) {
    ProbedTransform t;
    t.SetPosition(Vec3{1, 2, 3});
    const TypedMatrix first = Composed(t);
    EXPECT_FALSE(t.Dirty());
    const TypedMatrix second = Composed(t);
    EXPECT_EQ(std::memcmp(&first, &second, sizeof first), 0) << "the cached values";

    // Each setter, given the value already stored, still marks the cache stale.
    struct Setter {
        const char* what;
        void (*set)(NodeTransform&);
    };
    const Setter setters[] = {
        {"SetBaseMatrix", [](NodeTransform& n) { n.SetBaseMatrix(IdentityMatrix()); }},
        {"SetScale", [](NodeTransform& n) { n.SetScale(1, 1, 1); }},
        {"SetOrientation", [](NodeTransform& n) { n.SetOrientation(Vec3{0, 0, 1}, Vec3{0, 1, 0}); }},
        {"SetDirection", [](NodeTransform& n) { n.SetDirection(Vec3{0, 0, 1}); }},
        {"SetUp", [](NodeTransform& n) { n.SetUp(Vec3{0, 1, 0}); }},
        {"SetPosition", [](NodeTransform& n) { n.SetPosition(Vec3{1, 2, 3}); }},
        {"Reset", [](NodeTransform& n) { n.Reset(); }},
    };
    for (const Setter& s : setters) {
        Composed(t);
        ASSERT_FALSE(t.Dirty());
        s.set(t);
        EXPECT_TRUE(t.Dirty()) << s.what;
    }
}

TEST(NodeTransformTest, AnIdentityBaseLeavesTheScaledOrientationAsTheCache) {
    NodeTransform t;
    t.SetOrientation(Vec3{1, 0, 1}, Vec3{0, 1, 0.5f});
    t.SetPosition(Vec3{4, 5, 6});
    t.SetScale(2, 3, 4);
    TypedMatrix oriented;
    BuildOrientationMatrix(oriented, Vec3{4, 5, 6}, Vec3{1, 0, 1}, Vec3{0, 1, 0.5f});
    const TypedMatrix expected = ScaleMatrixRows(oriented, 2, 3, 4);
    const TypedMatrix composed = Composed(t);
    EXPECT_EQ(std::memcmp(composed.m, expected.m, sizeof expected.m), 0);
    EXPECT_EQ(composed.kind, kMatrixGeneral);
    EXPECT_EQ(composed.valid, 1);
}

TEST(NodeTransformTest, ParallelDirectionAndUpGiveADegenerateRightAxis) {
    NodeTransform t;
    t.SetOrientation(Vec3{0, 2, 0}, Vec3{0, 1, 0});
    const TypedMatrix m = Composed(t);
    EXPECT_EQ(m.m[0], 0.0f);
    EXPECT_EQ(m.m[1], 0.0f);
    EXPECT_EQ(m.m[2], 0.0f);
}

TEST(NodeTransformTest, ResetRestoresTheDefaultsAndSetPositionGivesTheStoredPosition) {
    NodeTransform t;
    Vec3* stored = t.SetPosition(Vec3{1, 2, 3});
    EXPECT_EQ(stored, t.SetPosition(Vec3{4, 5, 6})) << "one stored position";
    EXPECT_EQ(stored->x, 4.0f);
    t.SetScale(2, 2, 2);
    t.SetOrientation(Vec3{1, 0, 0}, Vec3{0, 0, 1});
    TypedMatrix shifted;
    shifted.m[13] = 9.0f;
    shifted.kind = kMatrixTranslation;
    t.SetBaseMatrix(shifted);
    t.Reset();
    const TypedMatrix m = Composed(t);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(m.m[i], IdentityMatrix().m[i]) << i;
    TypedMatrix base;
    t.GetBaseMatrix(base);
    EXPECT_EQ(base.kind, kMatrixIdentity);
}

// Each part answers its own factor through the source interface, whatever the time.
TEST(NodeTransformTest, EachPartYieldsItsFactor) {
    NodeTransform t;
    TypedMatrix base;
    base.m[14] = 5.0f;
    base.kind = kMatrixTranslation;
    t.SetBaseMatrix(base);
    t.SetScale(2, 3, 4);
    t.SetOrientation(Vec3{1, 0, 0}, Vec3{0, 1, 0});
    t.SetPosition(Vec3{7, 8, 9});

    struct Expected {
        const char* what;
        TransformPart* part;
        Vec3 origin, xAxis;  // where (0, 0, 0) and (1, 0, 0) go
        int32_t kind;
    };
    const Expected parts[] = {
        {"base", &t.GetBasePart(), {0, 0, 5}, {1, 0, 5}, kMatrixTranslation},
        {"scale", &t.GetScalePart(), {0, 0, 0}, {2, 0, 0}, kMatrixScale},
        {"orientation", &t.GetOrientationPart(), {0, 0, 0}, {0, 0, -1}, kMatrixGeneral},
        {"position", &t.GetPositionPart(), {7, 8, 9}, {8, 8, 9}, kMatrixTranslation},
    };
    for (const Expected& e : parts) {
        TypedMatrix m;
        ASSERT_TRUE(e.part->GetMatrix(-1.0f, m)) << e.what;
        EXPECT_EQ(m.kind, e.kind) << e.what;
        EXPECT_EQ(m.valid, 1) << e.what;
        ExpectVec3Near(TransformPoint(m, Vec3{0, 0, 0}), e.origin, 1e-6f, e.what);
        ExpectVec3Near(TransformPoint(m, Vec3{1, 0, 0}), e.xAxis, 1e-6f, e.what);
        TypedMatrix written;
        e.part->WriteMatrix(written);
        EXPECT_EQ(std::memcmp(written.m, m.m, sizeof m.m), 0) << e.what;
    }
}

}  // namespace
