// Products by kind, kind verification, and the trust the faster products place in the kind.
#include "core/math/typed_matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

// The textbook product, summed in the same order as D3DXMatrixMultiply.
TypedMatrix NaiveProduct(const TypedMatrix& a, const TypedMatrix& b) {
    TypedMatrix r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            float sum = 0;
            for (int k = 0; k < 4; ++k) sum += a.At(i, k) * b.At(k, j);
            r.At(i, j) = sum;
        }
    }
    r.kind = kMatrixGeneral;
    return r;
}

TypedMatrix FromRows(const float (&rows)[16], int32_t kind) {
    TypedMatrix m;
    for (int i = 0; i < 16; ++i) m.m[i] = rows[i];
    m.kind = kind;
    return m;
}

TypedMatrix Translation(float x, float y, float z) {
    TypedMatrix m;
    m.At(3, 0) = x;
    m.At(3, 1) = y;
    m.At(3, 2) = z;
    m.kind = kMatrixTranslation;
    return m;
}

TypedMatrix Scale(float x, float y, float z) {
    TypedMatrix m;
    m.At(0, 0) = x;
    m.At(1, 1) = y;
    m.At(2, 2) = z;
    m.kind = kMatrixScale;
    return m;
}

TypedMatrix Rotation(D3DXVECTOR3 axis, float angle) {
    D3DXMATRIX d;
    D3DXMatrixRotationAxis(&d, &axis, angle);
    TypedMatrix m;
    CopyFromD3DX(d, m);
    m.kind = kMatrixRotation;
    return m;
}

// A random matrix that truly has the given kind: scale times rotation times translation, each
// part present only when the kind does not rule it out. Scales may be negative (mirrors).
TypedMatrix RandomOfKind(int32_t kind, std::mt19937& rng) {
    std::uniform_real_distribution<float> value(-4.0f, 4.0f);
    std::uniform_real_distribution<float> factor(0.25f, 3.0f);
    std::uniform_real_distribution<float> angle(0.1f, 3.0f);
    TypedMatrix m;
    if ((kind & kMatrixNoScale) == 0) {
        const float sign = (rng() & 1) ? -1.0f : 1.0f;
        m = NaiveProduct(m, Scale(sign * factor(rng), factor(rng), factor(rng)));
    }
    if ((kind & kMatrixNoRotation) == 0) {
        m = NaiveProduct(m, Rotation(D3DXVECTOR3(value(rng), value(rng), value(rng) + 5.0f), angle(rng)));
    }
    if ((kind & kMatrixNoTranslation) == 0)
        m = NaiveProduct(m, Translation(value(rng), value(rng), value(rng)));
    m.kind = kind;
    m.valid = 1;
    return m;
}

void ExpectSameElements(const TypedMatrix& actual, const TypedMatrix& expected, const std::string& what) {
    for (int i = 0; i < 16; ++i) EXPECT_EQ(actual.m[i], expected.m[i]) << what << ", element " << i;
}

// ---------------------------------------------------------------------------------------------

TEST(TypedMatrixProduct, EveryKindPairMatchesTheNaiveProduct) {
    std::mt19937 rng(20240611);
    for (int32_t left = 0; left < 8; ++left) {
        for (int32_t right = 0; right < 8; ++right) {
            for (int trial = 0; trial < 4; ++trial) {
                const std::string what = "kinds " + std::to_string(left) + " x " + std::to_string(right);
                const TypedMatrix a = RandomOfKind(left, rng), b = RandomOfKind(right, rng);
                ASSERT_EQ(VerifiedMatrixKind(a, left), left) << what << ": the generator keeps its promise";
                ASSERT_EQ(VerifiedMatrixKind(b, right), right) << what;
                const TypedMatrix product = MultiplyMatrices(a, b);
                // With truthful kinds the faster routines do the naive product's arithmetic
                // minus the terms that are exactly 0 or 1, so the elements agree exactly.
                ExpectSameElements(product, NaiveProduct(a, b), what);
                EXPECT_EQ(product.valid, 1) << what;
                EXPECT_EQ(product.kind & ~MatrixKindOf(product), 0)
                    << what << ": the result promises only what it holds (kind " << product.kind << ")";
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// The product as it was formed before the routines ran on whole rows: the rule chain and each
// routine element by element, the general product as D3DXMatrixMultiply's sum. The render-state
// cache compares matrices word by word, so the products must keep these exact bits.

TypedMatrix FormerProduct(const TypedMatrix& a, const TypedMatrix& b) {
    const int32_t left = (a.kind & ~7) == 0 ? a.kind : kMatrixGeneral;
    const int32_t right = (b.kind & ~7) == 0 ? b.kind : kMatrixGeneral;
    TypedMatrix r;
    if (left == kMatrixIdentity || right == kMatrixIdentity) {
        r = left == kMatrixIdentity ? b : a;
    } else if (left == kMatrixTranslation) {
        const float t[3] = {a.m[12], a.m[13], a.m[14]};
        r = b;
        for (int c = 0; c < 3; ++c) r.m[12 + c] = t[0] * b.m[c] + t[1] * b.m[4 + c] + t[2] * b.m[8 + c] + b.m[12 + c];
        r.kind = b.kind & ~kMatrixNoTranslation;
    } else if (right == kMatrixTranslation) {
        r = a;
        for (int c = 0; c < 3; ++c) r.m[12 + c] = a.m[12 + c] + b.m[12 + c];
        r.kind = a.kind & ~kMatrixNoTranslation;
    } else if (left == kMatrixScale) {
        const float s[3] = {a.m[0], a.m[5], a.m[10]};
        r = b;
        for (int row = 0; row < 3; ++row) {
            for (int c = 0; c < 4; ++c) r.m[4 * row + c] = s[row] * b.m[4 * row + c];
        }
        r.kind = b.kind & ~kMatrixNoScale;
    } else if (right == kMatrixScale) {
        const float s[3] = {b.m[0], b.m[5], b.m[10]};
        r = a;
        for (int row = 0; row < 4; ++row) {
            for (int c = 0; c < 3; ++c) r.m[4 * row + c] = a.m[4 * row + c] * s[c];
        }
        r.kind = a.kind & ~kMatrixNoScale;
    } else {
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 4; ++j) {
                r.m[4 * i + j] = a.m[4 * i] * b.m[j] + a.m[4 * i + 1] * b.m[4 + j] + a.m[4 * i + 2] * b.m[8 + j] +
                                 a.m[4 * i + 3] * b.m[12 + j];
            }
        }
        r.kind = kMatrixGeneral;
    }
    r.valid = 1;
    return r;
}

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

float FromBits(uint32_t u) {
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

// Element values as they come: ordinary, ±0, huge (products overflow), tiny and subnormal
// (products underflow), infinite and NaN. Contents ignore the kind on purpose: the routines
// trust it, and every element a routine reads or copies must come out as before.
class AwkwardFloats {
public:
    explicit AwkwardFloats(uint32_t seed) : rng_(seed) {}

    float Next() {
        const uint32_t sign = (rng_() & 1) << 31;
        switch (rng_() % 10) {
            case 0: return FromBits(sign);  // +0 or -0
            case 1: return FromBits(sign | Bits(std::ldexp(1.0f, static_cast<int>(rng_() % 60) + 64)) | (rng_() & 0x7fffff));
            case 2: return FromBits(sign | Bits(std::ldexp(1.0f, -static_cast<int>(rng_() % 60) - 64)) | (rng_() & 0x7fffff));
            case 3: return FromBits(sign | (rng_() & 0x7fffff));  // subnormal (or 0)
            case 4: {
                const uint32_t payload = rng_() & 0x3fffff;
                switch (rng_() % 3) {
                    case 0: return FromBits(sign | 0x7f800000u | (payload + 1));  // signalling NaN
                    case 1: return FromBits(sign | 0x7fc00000u | payload);        // quiet NaN
                    default: return FromBits(sign | 0x7f800000u);                 // infinity
                }
            }
            case 5: return static_cast<float>(static_cast<int>(rng_() % 5) - 2);
            default: return std::uniform_real_distribution<float>(-4.0f, 4.0f)(rng_);
        }
    }

    TypedMatrix Matrix(int32_t kind) {
        TypedMatrix m;
        for (float& e : m.m) e = Next();
        m.kind = kind;
        m.valid = static_cast<int32_t>(rng_() % 2);
        return m;
    }

private:
    std::mt19937 rng_;
};

// Equal bits element by element, with one allowance: where both are NaN the payload is not
// compared, since which NaN survives when two meet depends on the operand order a compiler
// picks for a commutative operation, in the old code as in the new.
::testing::AssertionResult SameBits(const TypedMatrix& actual, const TypedMatrix& expected) {
    for (int i = 0; i < 16; ++i) {
        if (Bits(actual.m[i]) == Bits(expected.m[i])) continue;
        if (std::isnan(actual.m[i]) && std::isnan(expected.m[i])) continue;
        return ::testing::AssertionFailure() << "element " << i << ": " << std::hex << Bits(actual.m[i])
                                             << " instead of " << Bits(expected.m[i]);
    }
    if (actual.kind != expected.kind) {
        return ::testing::AssertionFailure() << "kind " << actual.kind << " instead of " << expected.kind;
    }
    return ::testing::AssertionSuccess();
}

TEST(TypedMatrixProduct, EveryKindPairKeepsTheFormerBits) {
    AwkwardFloats values(1108);
    std::mt19937 rng(42);
    const int32_t kinds[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, -1};
    for (int32_t left : kinds) {
        for (int32_t right : kinds) {
            const std::string what = "kinds " + std::to_string(left) + " x " + std::to_string(right);
            for (int trial = 0; trial < 400; ++trial) {
                // Half with awkward contents, half true matrices of the kind (where 0 to 7).
                const bool awkward = trial % 2 == 0 || left < 0 || left > 7 || right < 0 || right > 7;
                TypedMatrix a = awkward ? values.Matrix(left) : RandomOfKind(left, rng);
                TypedMatrix b = awkward ? values.Matrix(right) : RandomOfKind(right, rng);
                const TypedMatrix expected = FormerProduct(a, b);
                const TypedMatrix product = MultiplyMatrices(a, b);
                ASSERT_TRUE(SameBits(product, expected)) << what << ", trial " << trial;
                ASSERT_EQ(product.valid, 1) << what;

                // The table's routine, into a fresh matrix and over either operand.
                const MatrixProduct routine = MatrixProductFor(left, right);
                TypedMatrix fresh;
                routine(a, b, fresh);
                ASSERT_TRUE(SameBits(fresh, expected)) << what << ", table routine, trial " << trial;
                TypedMatrix overLeft = a;
                routine(overLeft, b, overLeft);
                ASSERT_TRUE(SameBits(overLeft, expected)) << what << ", over the left operand, trial " << trial;
                TypedMatrix overRight = b;
                routine(a, overRight, overRight);
                ASSERT_TRUE(SameBits(overRight, expected)) << what << ", over the right operand, trial " << trial;
            }
        }
    }
}

// The elements a routine passes through are copied, not multiplied by 1 or added to 0: a
// signalling NaN stays signalling and -0 stays -0 there, which the NaN allowance above would
// not notice.
TEST(TypedMatrixProduct, PassedThroughElementsKeepEveryBit) {
    struct Case {
        const char* name;
        int32_t leftKind, rightKind;
        bool fromLeft;  // which operand the elements come from
        std::vector<int> kept;
    };
    const Case cases[] = {
        {"copy left", 0, 7, true, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
        {"copy right", 7, 0, false, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
        {"translation x matrix", 6, 0, false, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 15}},
        {"matrix x translation", 0, 6, true, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 15}},
        {"scale x matrix", 5, 0, false, {12, 13, 14, 15}},
        {"matrix x scale", 0, 5, true, {3, 7, 11, 15}},
    };
    for (const Case& c : cases) {
        for (uint32_t pattern : {0x7f800001u, 0xffa00005u, 0x80000000u}) {  // signalling NaNs, -0
            TypedMatrix source = FromRows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
                                          c.fromLeft ? c.leftKind : c.rightKind);
            for (int i : c.kept) source.m[i] = FromBits(pattern + static_cast<uint32_t>(i % 2));
            TypedMatrix other = Scale(2, 3, 4);
            other.kind = c.fromLeft ? c.rightKind : c.leftKind;
            const TypedMatrix product = c.fromLeft ? MultiplyMatrices(source, other) : MultiplyMatrices(other, source);
            for (int i : c.kept) {
                EXPECT_EQ(Bits(product.m[i]), Bits(source.m[i])) << c.name << ", element " << i;
            }
        }
    }
}

TEST(TypedMatrixProduct, ResultKindFollowsTheFirstMatchingRule) {
    struct Case {
        int32_t left, right, result;
    };
    const Case cases[] = {
        {7, 0, 0}, {7, 3, 3}, {0, 7, 0}, {5, 7, 5}, {7, 7, 7},
        {6, 7, 6}, {7, 6, 6},
        {6, 5, 4}, {5, 6, 4},  // translation x scale and scale x translation
        {6, 6, 6}, {5, 5, 5},
        {6, 3, 2}, {3, 6, 2}, {6, 0, 0}, {1, 6, 0},
        {5, 3, 1}, {3, 5, 1}, {5, 2, 0}, {4, 5, 4},
        {3, 3, 0}, {4, 4, 0}, {2, 1, 0}, {0, 0, 0},
    };
    std::mt19937 rng(7);
    for (const Case& c : cases) {
        const TypedMatrix product = MultiplyMatrices(RandomOfKind(c.left, rng), RandomOfKind(c.right, rng));
        EXPECT_EQ(product.kind, c.result) << c.left << " x " << c.right;
    }
}

// Where two rules could apply, the earlier one decides which routine runs.
TEST(TypedMatrixProduct, TableTiesGoToTheEarlierRule) {
    struct Case {
        int32_t left, right;
        MatrixProduct routine;
        const char* name;
    };
    const Case cases[] = {
        {7, 7, CopyRightMatrix, "copy right"},
        {6, 7, CopyLeftMatrix, "copy left"},
        {7, 6, CopyRightMatrix, "copy right"},
        {6, 6, MultiplyTranslationByMatrix, "translation x matrix"},
        {6, 5, MultiplyTranslationByMatrix, "translation x matrix"},
        // "Right is a translation" comes before "left is a scale".
        {5, 6, MultiplyMatrixByTranslation, "matrix x translation"},
        {5, 5, MultiplyScaleByMatrix, "scale x matrix"},
        {3, 5, MultiplyMatrixByScale, "matrix x scale"},
        {3, 3, MultiplyGeneralMatrices, "general"},
        {4, 1, MultiplyGeneralMatrices, "general"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MatrixProductFor(c.left, c.right), c.routine)
            << c.left << " x " << c.right << " should be " << c.name;
    }
}

TEST(TypedMatrixProduct, IdentityCopiesTheOtherOperandWithItsKind) {
    // Deliberately a matrix whose kind says more than its contents: a copy must keep both.
    const TypedMatrix odd =
        FromRows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, kMatrixRotation);
    const TypedMatrix& identity = IdentityMatrix();
    for (const TypedMatrix& product : {MultiplyMatrices(identity, odd), MultiplyMatrices(odd, identity)}) {
        ExpectSameElements(product, odd, "identity product");
        EXPECT_EQ(product.kind, kMatrixRotation);
        EXPECT_EQ(product.valid, 1);
    }
}

TEST(TypedMatrixProduct, TranslationTimesScaleScalesTheTranslation) {
    const TypedMatrix product = MultiplyMatrices(Translation(1, 2, 3), Scale(2, 3, 4));
    ExpectSameElements(product, FromRows({2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 2, 6, 12, 1}, 4), "T x S");
    EXPECT_EQ(product.kind, 4);
}

// The kind is trusted, not checked: these pin that behaviour so that a change to it is seen.
TEST(TypedMatrixProduct, FasterProductsTrustTheKind) {
    // Claims to be a pure translation by (1, 2, 3) but doubles everything.
    const TypedMatrix liar = FromRows({2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1}, kMatrixTranslation);
    std::mt19937 rng(3);
    const TypedMatrix m = RandomOfKind(kMatrixGeneral, rng);

    const TypedMatrix onLeft = MultiplyMatrices(liar, m);
    ExpectSameElements(onLeft, NaiveProduct(Translation(1, 2, 3), m),
                       "liar on the left acts as a translation");
    const TypedMatrix onRight = MultiplyMatrices(m, liar);
    ExpectSameElements(onRight, NaiveProduct(m, Translation(1, 2, 3)),
                       "liar on the right acts as a translation");

    // A "scale" reads only its diagonal.
    const TypedMatrix scaleLiar = FromRows({2, 9, 9, 9, 9, 3, 9, 9, 9, 9, 4, 9, 9, 9, 9, 1}, kMatrixScale);
    ExpectSameElements(MultiplyMatrices(scaleLiar, m), NaiveProduct(Scale(2, 3, 4), m),
                       "scale liar on the left");
    ExpectSameElements(MultiplyMatrices(m, scaleLiar), NaiveProduct(m, Scale(2, 3, 4)),
                       "scale liar on the right");

    // Verifying the kind first leaves the promise it keeps (no rotation) and the true product.
    TypedMatrix checked = liar;
    checked.kind = VerifiedMatrixKind(liar, liar.kind);
    EXPECT_EQ(checked.kind, kMatrixNoRotation);
    ExpectSameElements(MultiplyMatrices(checked, m), NaiveProduct(liar, m), "verified");
}

TEST(TypedMatrixProduct, KindsOutsideTheTableTakeTheGeneralProduct) {
    std::mt19937 rng(11);
    const TypedMatrix m = RandomOfKind(kMatrixGeneral, rng);
    for (int32_t bad : {8, 15, -1, 0x107}) {
        TypedMatrix a = RandomOfKind(kMatrixGeneral, rng);
        a.kind = bad;
        const TypedMatrix product = MultiplyMatrices(a, m);
        ExpectSameElements(product, NaiveProduct(a, m), "kind " + std::to_string(bad));
        EXPECT_EQ(product.kind, kMatrixGeneral);
    }
}

TEST(TypedMatrixProduct, RoutinesMayWriteOverAnOperand) {
    std::mt19937 rng(5);
    struct Case {
        const char* name;
        MatrixProduct routine;
        int32_t leftKind, rightKind;
    };
    const Case cases[] = {
        {"copy left", CopyLeftMatrix, 0, 7},
        {"copy right", CopyRightMatrix, 7, 0},
        {"translation x matrix", MultiplyTranslationByMatrix, 6, 0},
        {"matrix x translation", MultiplyMatrixByTranslation, 0, 6},
        {"scale x matrix", MultiplyScaleByMatrix, 5, 0},
        {"matrix x scale", MultiplyMatrixByScale, 0, 5},
        {"general", MultiplyGeneralMatrices, 0, 0},
    };
    for (const Case& c : cases) {
        const TypedMatrix a = RandomOfKind(c.leftKind, rng), b = RandomOfKind(c.rightKind, rng);
        TypedMatrix expected;
        c.routine(a, b, expected);
        TypedMatrix left = a;
        c.routine(left, b, left);
        ExpectSameElements(left, expected, std::string(c.name) + " into the left operand");
        TypedMatrix right = b;
        c.routine(a, right, right);
        ExpectSameElements(right, expected, std::string(c.name) + " into the right operand");
    }
}

// ---------------------------------------------------------------------------------------------

TEST(MatrixKind, FromContents) {
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, 1.0f, 1.0f, 1.0f, 100.0f);
    TypedMatrix perspective;
    CopyFromD3DX(projection, perspective);
    TypedMatrix almostTranslation = Translation(1, 2, 3);
    almostTranslation.At(0, 1) = 1e-7f;
    TypedMatrix negativeZeros = Translation(-0.0f, -0.0f, -0.0f);
    negativeZeros.At(1, 0) = -0.0f;
    struct Case {
        const char* what;
        TypedMatrix m;
        int32_t kind;
    };
    const Case cases[] = {
        {"identity", IdentityMatrix(), 7},
        {"translation", Translation(1, 2, 3), 6},
        {"scale", Scale(2, 3, 4), 5},
        {"mirror", Scale(-1, 1, 1), 5},
        {"rotation", Rotation({1, 2, 3}, 0.8f), 3},
        {"rotation and translation", NaiveProduct(Rotation({1, 2, 3}, 0.8f), Translation(1, 0, 0)), 2},
        {"scale and translation", NaiveProduct(Scale(2, 2, 2), Translation(1, 0, 0)), 4},
        {"scale and rotation", NaiveProduct(Scale(2, 1, 1), Rotation({0, 0, 1}, 0.5f)), 1},
        {"a mirror with a rotation is not a rotation",
         NaiveProduct(Scale(-1, 1, 1), Rotation({0, 0, 1}, 0.5f)), 1},
        {"projective", perspective, 0},
        // Close enough to a rotation for the informative bit, never for a faster product.
        {"a tiny off-diagonal element is not a translation", almostTranslation, 2},
        {"negative zeros count as zeros", negativeZeros, 7},
    };
    for (const Case& c : cases) EXPECT_EQ(MatrixKindOf(c.m), c.kind) << c.what;
}

TEST(MatrixKind, VerifiedKeepsOnlyKeptPromises) {
    const TypedMatrix rotateAndMove = NaiveProduct(Rotation({0, 1, 0}, 1.0f), Translation(1, 2, 3));
    struct Case {
        const char* what;
        TypedMatrix m;
        int32_t claimed, verified;
    };
    const Case cases[] = {
        {"a true claim stands", Translation(1, 2, 3), 6, 6},
        {"an over-claim is cut back", rotateAndMove, 6, 2},
        {"an identity claim on a translation", Translation(1, 2, 3), 7, 6},
        {"a modest claim is not raised", Translation(1, 2, 3), 0, 0},
        {"bits outside the kind are dropped", IdentityMatrix(), 0x107, 7},
        {"a negative kind", IdentityMatrix(), -1, 7},
    };
    for (const Case& c : cases) EXPECT_EQ(VerifiedMatrixKind(c.m, c.claimed), c.verified) << c.what;
}

TEST(TypedMatrix, FreshMatricesAreTheIdentity) {
    const TypedMatrix fresh;
    ExpectSameElements(fresh, IdentityMatrix(), "fresh");
    EXPECT_EQ(fresh.kind, kMatrixIdentity);
    EXPECT_EQ(fresh.valid, 1);
    EXPECT_EQ(fresh.At(3, 3), 1.0f);
    TypedMatrix m;
    m.At(3, 1) = 5.0f;
    EXPECT_EQ(m.m[13], 5.0f) << "row 3, column 1 is element 13";
}

#ifndef NDEBUG
TEST(TypedMatrixDeathTest, AtChecksItsBounds) {
    TypedMatrix m;
    EXPECT_DEATH(m.At(4, 0), "");
    EXPECT_DEATH(m.At(0, -1), "");
}
#endif

TEST(TypedMatrix, ScaleMatrixRows) {
    TypedMatrix source = FromRows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, kMatrixIdentity);
    source.valid = 0;
    const TypedMatrix scaled = ScaleMatrixRows(source, 2, 3, -1);
    ExpectSameElements(scaled, FromRows({2, 4, 6, 4, 15, 18, 21, 8, -9, -10, -11, 12, 13, 14, 15, 16}, 0),
                       "rows scaled, column 3 and row 3 kept");
    EXPECT_EQ(scaled.kind, kMatrixNoTranslation | kMatrixNoRotation);
    EXPECT_EQ(scaled.valid, 0);
}

TEST(TypedMatrix, ConversionsWithD3DX) {
    const TypedMatrix m = FromRows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, kMatrixScale);
    D3DXMATRIX d;
    CopyToD3DX(m, d);
    EXPECT_EQ(d._12, 2.0f);
    EXPECT_EQ(d._41, 13.0f);
    TypedMatrix back;
    back.valid = 0;
    CopyFromD3DX(d, back);
    ExpectSameElements(back, m, "round trip");
    EXPECT_EQ(back.kind, kMatrixGeneral);
    EXPECT_EQ(back.valid, 1);
}

}  // namespace
