// Speed of the small value types on the paths the engine runs per vertex, glyph or particle.
#include "core/types/value_types.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

constexpr uint32_t kWords = 64;

// Walks fields of a fixed width across the array, so that some of them straddle two words.
void BM_GetBits(benchmark::State& state) {
    uint32_t words[kWords];
    for (uint32_t i = 0; i < kWords; ++i) {
        words[i] = i * 2654435761u;
    }
    const uint32_t count = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        uint32_t sum = 0;
        for (uint32_t pos = 0; pos + count <= kWords * 32; pos += count) {
            sum += GetBits(words, pos, count);
        }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_GetBits)->Arg(1)->Arg(7)->Arg(10)->Arg(32);

void BM_SetBits(benchmark::State& state) {
    uint32_t words[kWords] = {};
    const uint32_t count = static_cast<uint32_t>(state.range(0));
    for (auto _ : state) {
        for (uint32_t pos = 0; pos + count <= kWords * 32; pos += count) {
            SetBits(words, pos, count, pos);
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_SetBits)->Arg(1)->Arg(7)->Arg(10)->Arg(32);

void BM_IntersectRects(benchmark::State& state) {
    Rect a(0, 0, 100, 100);
    Rect b(50, 20, 150, 80);
    Rect out;
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(IntersectRects(a, b, out, false));
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_IntersectRects);

void BM_ToARGB(benchmark::State& state) {
    ArgbColor color(0.8f, 0.5f, 0.25f, 1.0f);
    for (auto _ : state) {
        benchmark::DoNotOptimize(color);
        benchmark::DoNotOptimize(color.ToARGB());
    }
}
BENCHMARK(BM_ToARGB);

void BM_SampleOneSegment(benchmark::State& state) {
    RandomValue value(0, 0, 1, 2);
    std::srand(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(value.Sample());
    }
}
BENCHMARK(BM_SampleOneSegment);

void BM_SampleTwoSegments(benchmark::State& state) {
    RandomValue value(0, 1, 1, 3, 3, 0);
    std::srand(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(value.Sample());
    }
}
BENCHMARK(BM_SampleTwoSegments);

}  // namespace

BENCHMARK_MAIN();
