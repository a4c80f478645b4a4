#include "core/math/typed_matrix.h"

#include <cmath>
#include <cstring>

namespace {

constinit const TypedMatrix kIdentity{};

struct ProductTable {
    MatrixProduct routines[8][8];
};

// The first rule that applies wins; see MatrixProductFor.
constexpr MatrixProduct ProductRule(int32_t left, int32_t right) {
    if (left == kMatrixIdentity) return CopyRightMatrix;
    if (right == kMatrixIdentity) return CopyLeftMatrix;
    if (left == kMatrixTranslation) return MultiplyTranslationByMatrix;
    if (right == kMatrixTranslation) return MultiplyMatrixByTranslation;
    if (left == kMatrixScale) return MultiplyScaleByMatrix;
    if (right == kMatrixScale) return MultiplyMatrixByScale;
    return MultiplyGeneralMatrices;
}

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

}  // namespace

const TypedMatrix& IdentityMatrix() { return kIdentity; }

MatrixProduct MatrixProductFor(int32_t leftKind, int32_t rightKind) {
    return kProducts.routines[TableIndex(leftKind)][TableIndex(rightKind)];
}

TypedMatrix MultiplyMatrices(const TypedMatrix& a, const TypedMatrix& b) {
    TypedMatrix result;
    result.kind = kMatrixGeneral;
    result.valid = 0;
    MatrixProductFor(a.kind, b.kind)(a, b, result);
    result.valid = 1;
    return result;
}

// Each routine reads what it needs of an operand before writing the element that might
// overwrite it, so out may be either operand without a temporary; element by element writes
// also keep the faster routines from paying for a whole-matrix copy.

void CopyLeftMatrix(const TypedMatrix& left, const TypedMatrix&, TypedMatrix& out) {
    if (&out == &left) return;
    std::memcpy(out.m, left.m, sizeof out.m);
    out.kind = left.kind;
}

void CopyRightMatrix(const TypedMatrix&, const TypedMatrix& right, TypedMatrix& out) {
    if (&out == &right) return;
    std::memcpy(out.m, right.m, sizeof out.m);
    out.kind = right.kind;
}

void MultiplyTranslationByMatrix(const TypedMatrix& translation, const TypedMatrix& right, TypedMatrix& out) {
    const float tx = translation.m[12], ty = translation.m[13], tz = translation.m[14];
    const int32_t kind = right.kind & ~kMatrixNoTranslation;
    for (int i = 0; i < 12; ++i) out.m[i] = right.m[i];
    for (int c = 0; c < 3; ++c) {
        out.m[12 + c] = tx * right.m[c] + ty * right.m[4 + c] + tz * right.m[8 + c] + right.m[12 + c];
    }
    out.m[15] = right.m[15];
    out.kind = kind;
}

void MultiplyMatrixByTranslation(const TypedMatrix& left, const TypedMatrix& translation, TypedMatrix& out) {
    const float tx = translation.m[12], ty = translation.m[13], tz = translation.m[14];
    const int32_t kind = left.kind & ~kMatrixNoTranslation;
    for (int i = 0; i < 12; ++i) out.m[i] = left.m[i];
    out.m[12] = left.m[12] + tx;
    out.m[13] = left.m[13] + ty;
    out.m[14] = left.m[14] + tz;
    out.m[15] = left.m[15];
    out.kind = kind;
}

void MultiplyScaleByMatrix(const TypedMatrix& scale, const TypedMatrix& right, TypedMatrix& out) {
    const float s[3] = {scale.m[0], scale.m[5], scale.m[10]};
    const int32_t kind = right.kind & ~kMatrixNoScale;
    for (int row = 0; row < 3; ++row) {
        for (int c = 0; c < 4; ++c) out.m[4 * row + c] = s[row] * right.m[4 * row + c];
    }
    for (int c = 12; c < 16; ++c) out.m[c] = right.m[c];
    out.kind = kind;
}

void MultiplyMatrixByScale(const TypedMatrix& left, const TypedMatrix& scale, TypedMatrix& out) {
    const float s[3] = {scale.m[0], scale.m[5], scale.m[10]};
    const int32_t kind = left.kind & ~kMatrixNoScale;
    for (int row = 0; row < 4; ++row) {
        for (int c = 0; c < 3; ++c) out.m[4 * row + c] = left.m[4 * row + c] * s[c];
        out.m[4 * row + 3] = left.m[4 * row + 3];
    }
    out.kind = kind;
}

void MultiplyGeneralMatrices(const TypedMatrix& left, const TypedMatrix& right, TypedMatrix& out) {
    D3DXMATRIX a, b, product;
    CopyToD3DX(left, a);
    CopyToD3DX(right, b);
    D3DXMatrixMultiply(&product, &a, &b);
    std::memcpy(out.m, &product, sizeof out.m);
    out.kind = kMatrixGeneral;
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
