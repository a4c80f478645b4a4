// The atlas packer's cost: one placement scores 4 + 8n candidates against n sub-textures, so
// it grows with the square of the sub-textures already placed. Measured without a device (the
// packer only reads sizes and rectangles):
//   BM_PlaceOne/n   one more 16 x 16 sub-texture into an atlas holding n (depth 0: scoring
//                   only, nothing moves), n = 32 ... 256;
//   BM_PackAll/256  256 sub-textures of mixed sizes packed one after another at depth 3, as
//                   the description reader does, into a fresh 1024 x 1024 atlas.
#include "render/texture.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>

namespace {

void Size(Texture& texture, UINT width, UINT height) {
    D3DSURFACE_DESC desc{};
    desc.Width = width;
    desc.Height = height;
    texture.SetDescription(desc);
}

Texture* Sub(int32_t index, int32_t w, int32_t h) {
    auto* sub = new Texture;
    sub->SetId(String(index, 10));
    sub->SetParentSpace(true);
    sub->SetRect(Rect(0, 0, w, h));
    return sub;
}

// Packs n sub-textures of sizes 8..64 (a fixed sequence) into the atlas; how many fitted.
int32_t Fill(Texture& atlas, int32_t n, int depth) {
    std::mt19937 random(256);
    LinkedList<Texture*> placed;
    int32_t fitted = 0;
    for (int32_t i = 0; i < n; ++i) {
        Texture* sub = Sub(i, 8 * (1 + int32_t(random() % 8)), 8 * (1 + int32_t(random() % 8)));
        if (PackSubTexture(&atlas, sub, placed, depth)) {
            ++fitted;
        } else {
            delete sub;
        }
        placed.Clear();
    }
    return fitted;
}

void BM_PlaceOne(benchmark::State& state) {
    Texture atlas;
    Size(atlas, 1024, 1024);
    const int32_t held = Fill(atlas, int32_t(state.range(0)), 3);
    Texture* probe = Sub(-1, 16, 16);
    LinkedList<Texture*> placed;
    for (auto _ : state) {
        const bool packed = PackSubTexture(&atlas, probe, placed, 0);
        benchmark::DoNotOptimize(packed);
        atlas.RemoveSubTexture(probe);
        placed.Clear();
    }
    delete probe;
    state.counters["held"] = double(held);
}
BENCHMARK(BM_PlaceOne)->Arg(32)->Arg(64)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond);

void BM_PackAll(benchmark::State& state) {
    int32_t fitted = 0;
    for (auto _ : state) {
        Texture atlas;
        Size(atlas, 1024, 1024);
        fitted = Fill(atlas, int32_t(state.range(0)), 3);
    }
    state.counters["fitted"] = double(fitted);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_PackAll)->Arg(256)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
