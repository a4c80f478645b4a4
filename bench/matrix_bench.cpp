// What the kind dispatch buys: products of matrices of each kind through the product table,
// against the plain 4x4 product of the same matrices. Each benchmark runs 1e6 products over a
// small ring of operands so that nothing folds into a constant.
#include "core/math/typed_matrix.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

namespace {

constexpr int kRing = 64;
constexpr int64_t kProducts = 1000000;

TypedMatrix RandomOfKind(int32_t kind, std::mt19937& rng) {
    std::uniform_real_distribution<float> value(-2.0f, 2.0f);
    TypedMatrix m;
    D3DXMATRIX d, part;
    D3DXMatrixIdentity(&d);
    if ((kind & kMatrixNoScale) == 0) d *= *D3DXMatrixScaling(&part, value(rng), value(rng), value(rng));
    if ((kind & kMatrixNoRotation) == 0) {
        const D3DXVECTOR3 axis(value(rng), value(rng), 3.0f);
        d *= *D3DXMatrixRotationAxis(&part, &axis, value(rng));
    }
    if ((kind & kMatrixNoTranslation) == 0)
        d *= *D3DXMatrixTranslation(&part, value(rng), value(rng), value(rng));
    CopyFromD3DX(d, m);
    m.kind = kind;
    return m;
}

struct Operands {
    TypedMatrix left[kRing];
    TypedMatrix right[kRing];

    Operands(int32_t leftKind, int32_t rightKind) {
        std::mt19937 rng(static_cast<uint32_t>(leftKind * 8 + rightKind));
        for (int i = 0; i < kRing; ++i) {
            left[i] = RandomOfKind(leftKind, rng);
            right[i] = RandomOfKind(rightKind, rng);
        }
    }
};

// Arguments: left kind, right kind.
void BM_MultiplyMatrices(benchmark::State& state) {
    const Operands ops(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    int i = 0;
    for (auto _ : state) {
        TypedMatrix r = MultiplyMatrices(ops.left[i], ops.right[i]);
        benchmark::DoNotOptimize(r);
        i = (i + 1) & (kRing - 1);
    }
    state.SetItemsProcessed(state.iterations());
}

// The same operands through D3DXMatrixMultiply, whatever their kinds.
void BM_PlainProduct(benchmark::State& state) {
    const Operands ops(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)));
    D3DXMATRIX left[kRing], right[kRing];
    for (int k = 0; k < kRing; ++k) {
        CopyToD3DX(ops.left[k], left[k]);
        CopyToD3DX(ops.right[k], right[k]);
    }
    int i = 0;
    for (auto _ : state) {
        D3DXMATRIX r;
        D3DXMatrixMultiply(&r, &left[i], &right[i]);
        benchmark::DoNotOptimize(r);
        i = (i + 1) & (kRing - 1);
    }
    state.SetItemsProcessed(state.iterations());
}

void KindPairs(benchmark::internal::Benchmark* b) {
    const int64_t pairs[][2] = {
        {7, 0}, {0, 7},  // copies
        {6, 0}, {0, 6},  // translation on either side
        {5, 0}, {0, 5},  // scale on either side
        {6, 5},          // translation times scale
        {3, 3}, {0, 0},  // rotations and general matrices take the full product
    };
    for (const auto& p : pairs) b->Args({p[0], p[1]});
    b->ArgNames({"left", "right"})->Iterations(kProducts);
}

BENCHMARK(BM_MultiplyMatrices)->Apply(KindPairs);
BENCHMARK(BM_PlainProduct)->Args({0, 0})->ArgNames({"left", "right"})->Iterations(kProducts);

}  // namespace

BENCHMARK_MAIN();
