// The engine's transform: a 4x4 float matrix for row vectors with kind bits that say which
// parts of an affine transform are known to be absent, so that products with the identity, a
// pure translation or a pure scale cost a copy or a few multiplications.
#pragma once

#include "core/math/vec3.h"

#include <d3dx9math.h>

#include <cassert>
#include <cstdint>

// Kind bits: parts known to be absent. Only the combinations 7, 6 and 5 choose a faster
// product; every other kind takes the general one.
constexpr int32_t kMatrixNoTranslation = 1;
constexpr int32_t kMatrixNoScale = 2;
constexpr int32_t kMatrixNoRotation = 4;
constexpr int32_t kMatrixGeneral = 0;
constexpr int32_t kMatrixIdentity = 7;
constexpr int32_t kMatrixTranslation = kMatrixNoScale | kMatrixNoRotation;    // 6
constexpr int32_t kMatrixScale = kMatrixNoTranslation | kMatrixNoRotation;    // 5
constexpr int32_t kMatrixRotation = kMatrixNoTranslation | kMatrixNoScale;    // 3

// Row-major for row vectors: a point p transforms as p * m, element (row r, column c) is
// m[4r + c], the translation is row 3 (m[12], m[13], m[14]) and the fourth column is
// (0, 0, 0, 1) for the affine transforms the engine builds.
//
// The kind is a promise made by whoever sets it and the faster products trust it: they read
// only the parts the kind leaves (a kind-6 matrix is used as the identity plus its row 3,
// whatever else it holds). A producer that is not sure sets kMatrixGeneral; values from files
// go through VerifiedMatrixKind first.
//
// A fresh TypedMatrix is the identity (kind 7, valid 1), a copy of IdentityMatrix().
struct TypedMatrix {
    float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    int32_t kind = kMatrixIdentity;
    // 1 once a value has been produced by a product, an orientation or a copy of the identity.
    int32_t valid = 1;

    // row and column 0 to 3 (asserted).
    float& At(int row, int col) {
        assert(row >= 0 && row < 4 && col >= 0 && col < 4);
        return m[4 * row + col];
    }
    float At(int row, int col) const {
        assert(row >= 0 && row < 4 && col >= 0 && col < 4);
        return m[4 * row + col];
    }
};

// The identity constant: kind 7, valid 1. Constant-initialised, so it is ready before any
// dynamic initialiser of any translation unit runs.
const TypedMatrix& IdentityMatrix();

// a times b (a applies first), valid 1. Dispatched on (a.kind, b.kind) through the product
// table; the result's kind follows the routine that formed it (see below). A kind outside
// 0 to 7 takes the general product. The result may be assigned to either operand.
TypedMatrix MultiplyMatrices(const TypedMatrix& a, const TypedMatrix& b);

// A routine of the product table: out = left * right, elements and kind (valid is left to
// MultiplyMatrices). out may be left or right.
typedef void (*MatrixProduct)(const TypedMatrix& left, const TypedMatrix& right, TypedMatrix& out);

// The table entry for (leftKind, rightKind), both 0 to 7. Filled by these rules, the first that
// applies winning: left 7 copies right; right 7 copies left; left 6 is translation times
// matrix; right 6 matrix times translation; left 5 scale times matrix; right 5 matrix times
// scale; anything else the general product. Built at compile time and never changed.
MatrixProduct MatrixProductFor(int32_t leftKind, int32_t rightKind);

// The routines of the table. t is row 3 of the translation operand, s = (m[0], m[5], m[10]) of
// the scale operand; the other parts of those operands are not read.
//
// Copies of one operand's elements and kind.
void CopyLeftMatrix(const TypedMatrix& left, const TypedMatrix& right, TypedMatrix& out);
void CopyRightMatrix(const TypedMatrix& left, const TypedMatrix& right, TypedMatrix& out);
// right with row 3 elements 0 to 2 replaced by t.x R(0,c) + t.y R(1,c) + t.z R(2,c) + R(3,c);
// kind = right's kind without kMatrixNoTranslation.
void MultiplyTranslationByMatrix(const TypedMatrix& translation, const TypedMatrix& right, TypedMatrix& out);
// left with t added to row 3 elements 0 to 2; kind = left's kind without kMatrixNoTranslation.
void MultiplyMatrixByTranslation(const TypedMatrix& left, const TypedMatrix& translation, TypedMatrix& out);
// right with rows 0, 1, 2 (all four elements) times s.x, s.y, s.z; row 3 copied; kind = right's
// kind without kMatrixNoScale.
void MultiplyScaleByMatrix(const TypedMatrix& scale, const TypedMatrix& right, TypedMatrix& out);
// left with elements 0, 1, 2 of every row times s.x, s.y, s.z; element 3 copied; kind = left's
// kind without kMatrixNoScale.
void MultiplyMatrixByScale(const TypedMatrix& left, const TypedMatrix& scale, TypedMatrix& out);
// The full 4x4 product, each element summed in the order D3DXMatrixMultiply sums it (so the
// same bits); kind 0.
void MultiplyGeneralMatrices(const TypedMatrix& left, const TypedMatrix& right, TypedMatrix& out);

// The kind bits that the contents of m bear out. Exact comparisons decide the bits the faster
// products rely on: a kind-6 matrix has exactly the identity 3x3, a kind-5 matrix exactly zero
// off-diagonal elements, and every kind other than 0 needs the fourth column exactly
// (0, 0, 0, 1) and, with kMatrixNoTranslation, row 3 exactly (0, 0, 0). The rotation-only
// reading of kMatrixNoScale alone (orthonormal rows, determinant +1) can never be exact in
// floats and is taken to within 1e-5; no product relies on it.
int32_t MatrixKindOf(const TypedMatrix& m);
// The claimed kind with every promise the contents do not keep taken away: claimed &
// MatrixKindOf(m), and 0 for bits outside 0 to 7. For kinds read from files before they reach
// a product.
int32_t VerifiedMatrixKind(const TypedMatrix& m, int32_t claimedKind);

// A copy of source whose rows 0, 1, 2 have their first three elements multiplied by sx, sy and
// sz; element 3 of each row and row 3 unchanged; kMatrixNoScale cleared, other bits and valid
// kept.
TypedMatrix ScaleMatrixRows(const TypedMatrix& source, float sx, float sy, float sz);

// Splits m into translation (row 3), unit forward (row 2) and up (row 1) axes and the scales
// (lengths of rows 0, 1, 2). up, forward and scale are written first, whatever the outcome; the
// translation only on success. Fails when the three scales sum to 0.01 or less in magnitude, or
// when forward is more than 0.1 (dot product of units) off perpendicular to up or to row 0. A
// row 0 on the mirror side of up x forward makes scale.x negative.
bool DecomposeMatrix(const TypedMatrix& m, Vec3& translation, Vec3& forward, Vec3& up, Vec3& scale);

// The blend of two transforms by decomposition: translations, axes and scales mixed linearly,
// t * a + (1 - t) * b, so t = 1 gives a and t = 0 gives b; then rebuilt by
// BuildOrientationMatrix and ScaleMatrixRows (kind 0, valid 1). False, with out untouched, when
// either matrix fails to decompose. out may be a or b.
bool BlendMatrices(const TypedMatrix& a, const TypedMatrix& b, float t, TypedMatrix& out);

// Rows: normalised up x forward, normalised up (not re-orthogonalised against forward),
// normalised forward, (position, 1). Kind 0, valid 1.
void BuildOrientationMatrix(TypedMatrix& out, Vec3 position, Vec3 forward, Vec3 up);

// Conversions to and from the D3DX type. A matrix from D3DX is general (kind 0) and valid.
void CopyToD3DX(const TypedMatrix& m, D3DXMATRIX& out);
void CopyFromD3DX(const D3DXMATRIX& m, TypedMatrix& out);
