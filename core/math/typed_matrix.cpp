#include "core/math/typed_matrix.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace {

constinit const TypedMatrix kIdentity{};

// The routines of the product table by number, so that MultiplyMatrices can switch on the
// pair's routine and run it inline instead of calling through a pointer.
enum class ProductRoutine : uint8_t {
    kCopyLeft,
    kCopyRight,
    kTranslationByMatrix,
    kMatrixByTranslation,
    kScaleByMatrix,
    kMatrixByScale,
    kGeneral,
};

// The first rule that applies wins; see MatrixProductFor.
constexpr ProductRoutine ProductRule(int32_t left, int32_t right) {
    if (left == kMatrixIdentity) return ProductRoutine::kCopyRight;
    if (right == kMatrixIdentity) return ProductRoutine::kCopyLeft;
    if (left == kMatrixTranslation) return ProductRoutine::kTranslationByMatrix;
    if (right == kMatrixTranslation) return ProductRoutine::kMatrixByTranslation;
    if (left == kMatrixScale) return ProductRoutine::kScaleByMatrix;
    if (right == kMatrixScale) return ProductRoutine::kMatrixByScale;
    return ProductRoutine::kGeneral;
}

struct ProductTable {
    ProductRoutine routines[8][8];
};

// Built at compile time rather than by a start-up routine: the table is then complete before
// any static initialiser anywhere can multiply, whatever the order of translation units.
constexpr ProductTable FillMatrixMultiplyTable() {
    ProductTable table{};
    for (int32_t left = 0; left < 8; ++left) {
        for (int32_t right = 0; right < 8; ++right) table.routines[left][right] = ProductRule(left, right);
    }
    return table;
}

constinit const ProductTable kProducts = FillMatrixMultiplyTable();

// Kinds come from files too; anything outside the table is treated as "nothing known", which
// the general product always handles correctly.
int32_t TableIndex(int32_t kind) { return (kind & ~7) == 0 ? kind : kMatrixGeneral; }

Vec3 Row(const TypedMatrix& m, int r) { return Vec3{m.m[4 * r], m.m[4 * r + 1], m.m[4 * r + 2]}; }

void SetRow(TypedMatrix& m, int r, Vec3 v) {
    m.m[4 * r] = v.x;
    m.m[4 * r + 1] = v.y;
    m.m[4 * r + 2] = v.z;
}

// v divided by its length, or v itself when that length is exactly 0.
Vec3 DivideByLength(Vec3 v, float length) {
    if (length == 0.0f) return v;
    return Vec3{v.x / length, v.y / length, v.z / length};
}

bool IsAffine(const TypedMatrix& m) { return m.m[3] == 0 && m.m[7] == 0 && m.m[11] == 0 && m.m[15] == 1; }

bool IsIdentity3x3(const TypedMatrix& m) {
    return m.m[0] == 1 && m.m[1] == 0 && m.m[2] == 0 && m.m[4] == 0 && m.m[5] == 1 && m.m[6] == 0 &&
           m.m[8] == 0 && m.m[9] == 0 && m.m[10] == 1;
}

bool IsDiagonal3x3(const TypedMatrix& m) {
    return m.m[1] == 0 && m.m[2] == 0 && m.m[4] == 0 && m.m[6] == 0 && m.m[8] == 0 && m.m[9] == 0;
}

// Orthonormal rows with determinant +1, to within a tolerance rotations built in floats meet.
bool IsRotation3x3(const TypedMatrix& m) {
    constexpr float kTolerance = 1e-5f;
    const Vec3 r0 = Row(m, 0), r1 = Row(m, 1), r2 = Row(m, 2);
    const float checks[] = {Vec3Dot(r0, r0) - 1, Vec3Dot(r1, r1) - 1, Vec3Dot(r2, r2) - 1,
                            Vec3Dot(r0, r1), Vec3Dot(r0, r2), Vec3Dot(r1, r2),
                            Vec3Dot(Vec3Cross(r0, r1), r2) - 1};
    for (float c : checks) {
        if (!(std::fabs(c) <= kTolerance)) return false;
    }
    return true;
}

// Four floats as one value. GCC and clang turn arithmetic on it into vector instructions where
// the target has them, and each lane does exactly the scalar operation written, in the order
// written: a lane of a product below is rounded step by step just as the element by element
// loop it replaces. (x86-64 without -mfma has no fused multiply-add, so no step is fused.)
typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));

Float4 LoadRow(const TypedMatrix& m, int r) {
    Float4 v;
    std::memcpy(&v, &m.m[4 * r], sizeof v);
    return v;
}

Float4 Splat(float s) { return Float4{s, s, s, s}; }

// formed with its element 3 taken from original. Element 3 of a row that a routine does not
// form is copied bit for bit: multiplied by 1 or added to 0 it would lose a signalling NaN or
// (for the sum) a -0.
Float4 WithElement3Of(Float4 formed, Float4 original) {
    constexpr Int4 kFirstThree = {-1, -1, -1, 0};
    return std::bit_cast<Float4>((std::bit_cast<Int4>(formed) & kFirstThree) |
                                 (std::bit_cast<Int4>(original) & ~kFirstThree));
}

// What a routine forms: the product's rows and kind, held in registers until Store writes them.
// A routine reads everything before anything is written, so out may be either operand.
struct Formed {
    Float4 rows[4];
    int32_t kind;
};

[[gnu::always_inline]] inline void Store(const Formed& formed, TypedMatrix& out) {
    std::memcpy(out.m, formed.rows, sizeof out.m);
    out.kind = formed.kind;
}

[[gnu::always_inline]] inline Formed Copy(const TypedMatrix& m) {
    return Formed{{LoadRow(m, 0), LoadRow(m, 1), LoadRow(m, 2), LoadRow(m, 3)}, m.kind};
}

// Row 3 becomes t.x R0 + t.y R1 + t.z R2 + R3 in elements 0 to 2.
[[gnu::always_inline]] inline Formed TranslationByMatrix(const TypedMatrix& translation, const TypedMatrix& right) {
    const Float4 r0 = LoadRow(right, 0), r1 = LoadRow(right, 1), r2 = LoadRow(right, 2), r3 = LoadRow(right, 3);
    const Float4 moved = Splat(translation.m[12]) * r0 + Splat(translation.m[13]) * r1 +
                         Splat(translation.m[14]) * r2 + r3;
    return Formed{{r0, r1, r2, WithElement3Of(moved, r3)}, right.kind & ~kMatrixNoTranslation};
}

// Row 3 elements 0 to 2 plus t.
[[gnu::always_inline]] inline Formed MatrixByTranslation(const TypedMatrix& left, const TypedMatrix& translation) {
    const Float4 t = {translation.m[12], translation.m[13], translation.m[14], 0.0f};
    const Float4 l3 = LoadRow(left, 3);
    return Formed{{LoadRow(left, 0), LoadRow(left, 1), LoadRow(left, 2), WithElement3Of(l3 + t, l3)},
                  left.kind & ~kMatrixNoTranslation};
}

// Rows 0, 1, 2 (all four elements) times s.x, s.y, s.z.
[[gnu::always_inline]] inline Formed ScaleByMatrix(const TypedMatrix& scale, const TypedMatrix& right) {
    return Formed{{Splat(scale.m[0]) * LoadRow(right, 0), Splat(scale.m[5]) * LoadRow(right, 1),
                   Splat(scale.m[10]) * LoadRow(right, 2), LoadRow(right, 3)},
                  right.kind & ~kMatrixNoScale};
}

// Elements 0, 1, 2 of every row times s.x, s.y, s.z.
[[gnu::always_inline]] inline Formed MatrixByScale(const TypedMatrix& left, const TypedMatrix& scale) {
    const Float4 s = {scale.m[0], scale.m[5], scale.m[10], 1.0f};
    const auto scaled = [&](int r) {
        const Float4 row = LoadRow(left, r);
        return WithElement3Of(row * s, row);
    };
    return Formed{{scaled(0), scaled(1), scaled(2), scaled(3)}, left.kind & ~kMatrixNoScale};
}

// Row i of the product is a(i,0) B0 + a(i,1) B1 + a(i,2) B2 + a(i,3) B3 for the rows Bk of
// right, so lane j sums a(i,0) b(0,j) + a(i,1) b(1,j) + a(i,2) b(2,j) + a(i,3) b(3,j) from the
// left: the order D3DXMatrixMultiply sums in, hence the same bits.
[[gnu::always_inline]] inline Formed GeneralProduct(const TypedMatrix& left, const TypedMatrix& right) {
    const Float4 b0 = LoadRow(right, 0), b1 = LoadRow(right, 1), b2 = LoadRow(right, 2), b3 = LoadRow(right, 3);
    const auto row = [&](int i) {
        const float* a = &left.m[4 * i];
        return Splat(a[0]) * b0 + Splat(a[1]) * b1 + Splat(a[2]) * b2 + Splat(a[3]) * b3;
    };
    return Formed{{row(0), row(1), row(2), row(3)}, kMatrixGeneral};
}

ProductRoutine RoutineFor(int32_t leftKind, int32_t rightKind) {
    return kProducts.routines[TableIndex(leftKind)][TableIndex(rightKind)];
}

}  // namespace

const TypedMatrix& IdentityMatrix() { return kIdentity; }

MatrixProduct MatrixProductFor(int32_t leftKind, int32_t rightKind) {
    // In ProductRoutine order.
    static constexpr MatrixProduct kRoutines[] = {
        CopyLeftMatrix,        CopyRightMatrix,       MultiplyTranslationByMatrix, MultiplyMatrixByTranslation,
        MultiplyScaleByMatrix, MultiplyMatrixByScale, MultiplyGeneralMatrices,
    };
    return kRoutines[static_cast<int>(RoutineFor(leftKind, rightKind))];
}

// The same routines as the table's, switched on inline: the dispatch costs a jump rather than
// a call through a pointer, and the rows go straight from registers into the result.
TypedMatrix MultiplyMatrices(const TypedMatrix& a, const TypedMatrix& b) {
    Formed formed;
    switch (RoutineFor(a.kind, b.kind)) {
        case ProductRoutine::kCopyLeft: formed = Copy(a); break;
        case ProductRoutine::kCopyRight: formed = Copy(b); break;
        case ProductRoutine::kTranslationByMatrix: formed = TranslationByMatrix(a, b); break;
        case ProductRoutine::kMatrixByTranslation: formed = MatrixByTranslation(a, b); break;
        case ProductRoutine::kScaleByMatrix: formed = ScaleByMatrix(a, b); break;
        case ProductRoutine::kMatrixByScale: formed = MatrixByScale(a, b); break;
        default: formed = GeneralProduct(a, b); break;
    }
    TypedMatrix result;
    Store(formed, result);
    result.valid = 1;
    return result;
}

void CopyLeftMatrix(const TypedMatrix& left, const TypedMatrix&, TypedMatrix& out) { Store(Copy(left), out); }

void CopyRightMatrix(const TypedMatrix&, const TypedMatrix& right, TypedMatrix& out) { Store(Copy(right), out); }

void MultiplyTranslationByMatrix(const TypedMatrix& translation, const TypedMatrix& right, TypedMatrix& out) {
    Store(TranslationByMatrix(translation, right), out);
}

void MultiplyMatrixByTranslation(const TypedMatrix& left, const TypedMatrix& translation, TypedMatrix& out) {
    Store(MatrixByTranslation(left, translation), out);
}

void MultiplyScaleByMatrix(const TypedMatrix& scale, const TypedMatrix& right, TypedMatrix& out) {
    Store(ScaleByMatrix(scale, right), out);
}

void MultiplyMatrixByScale(const TypedMatrix& left, const TypedMatrix& scale, TypedMatrix& out) {
    Store(MatrixByScale(left, scale), out);
}

void MultiplyGeneralMatrices(const TypedMatrix& left, const TypedMatrix& right, TypedMatrix& out) {
    Store(GeneralProduct(left, right), out);
}

int32_t MatrixKindOf(const TypedMatrix& m) {
    if (!IsAffine(m)) return kMatrixGeneral;
    int32_t kind = kMatrixGeneral;
    if (m.m[12] == 0 && m.m[13] == 0 && m.m[14] == 0) kind |= kMatrixNoTranslation;
    if (IsIdentity3x3(m)) {
        kind |= kMatrixNoScale | kMatrixNoRotation;
    } else if (IsDiagonal3x3(m)) {
        kind |= kMatrixNoRotation;
    } else if (IsRotation3x3(m)) {
        kind |= kMatrixNoScale;
    }
    return kind;
}

int32_t VerifiedMatrixKind(const TypedMatrix& m, int32_t claimedKind) {
    return claimedKind & kMatrixIdentity & MatrixKindOf(m);
}

TypedMatrix ScaleMatrixRows(const TypedMatrix& source, float sx, float sy, float sz) {
    TypedMatrix r = source;
    const float s[3] = {sx, sy, sz};
    for (int row = 0; row < 3; ++row) {
        for (int c = 0; c < 3; ++c) r.m[4 * row + c] *= s[row];
    }
    r.kind &= ~kMatrixNoScale;
    return r;
}

bool DecomposeMatrix(const TypedMatrix& m, Vec3& translation, Vec3& forward, Vec3& up, Vec3& scale) {
    const Vec3 rows[3] = {Row(m, 0), Row(m, 1), Row(m, 2)};
    const Vec3 s{Vec3Length(rows[0]), Vec3Length(rows[1]), Vec3Length(rows[2])};
    const Vec3 unitX = DivideByLength(rows[0], s.x);
    const Vec3 unitY = DivideByLength(rows[1], s.y);
    const Vec3 unitZ = DivideByLength(rows[2], s.z);
    // Written before the checks: callers that ignore the result still see axes and scales.
    up = unitY;
    forward = unitZ;
    scale = s;

    if (std::fabs(s.x + s.y + s.z) <= 0.01f) return false;
    // Rows 0 and 1 are not compared with each other: a shear between them passes.
    if (std::fabs(Vec3Dot(unitY, unitZ)) > 0.1f || std::fabs(Vec3Dot(unitX, unitZ)) > 0.1f) return false;

    const Vec3 expectedX = Vec3Normalize(Vec3Cross(unitY, unitZ));
    if (Vec3Dot(expectedX, unitX) < 0) scale.x = -scale.x;
    translation = Row(m, 3);
    return true;
}

bool BlendMatrices(const TypedMatrix& a, const TypedMatrix& b, float t, TypedMatrix& out) {
    Vec3 ta, fa, ua, sa, tb, fb, ub, sb;
    if (!DecomposeMatrix(a, ta, fa, ua, sa) || !DecomposeMatrix(b, tb, fb, ub, sb)) return false;
    const float s = 1.0f - t;
    const auto mix = [s, t](Vec3 fromB, Vec3 fromA) {
        return Vec3{s * fromB.x + t * fromA.x, s * fromB.y + t * fromA.y, s * fromB.z + t * fromA.z};
    };
    const Vec3 scale = mix(sb, sa);
    TypedMatrix r;
    BuildOrientationMatrix(r, mix(tb, ta), mix(fb, fa), mix(ub, ua));
    out = ScaleMatrixRows(r, scale.x, scale.y, scale.z);
    return true;
}

void BuildOrientationMatrix(TypedMatrix& out, Vec3 position, Vec3 forward, Vec3 up) {
    out = kIdentity;
    const Vec3 f = Vec3Normalize(forward);
    const Vec3 u = Vec3Normalize(up);
    const Vec3 r = Vec3Normalize(Vec3Cross(u, f));
    SetRow(out, 0, r);
    SetRow(out, 1, u);
    SetRow(out, 2, f);
    SetRow(out, 3, position);
    out.kind = kMatrixGeneral;
    out.valid = 1;
}

void CopyToD3DX(const TypedMatrix& m, D3DXMATRIX& out) { std::memcpy(&out, m.m, sizeof m.m); }

void CopyFromD3DX(const D3DXMATRIX& m, TypedMatrix& out) {
    std::memcpy(out.m, &m, sizeof out.m);
    out.kind = kMatrixGeneral;
    out.valid = 1;
}
