// Packing speed of the archive writer's RAR 2.0 encoder (tools/rarwrite) on made-up content
// of each kind, with the packed size as a fraction of the input beside it.

#include "tools/rarwrite/rar_pack20.h"
#include "tools/rarwrite/sample_content.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

namespace rw = rh::rarwrite;
namespace sample = rh::rarwrite::sample;

enum Content { kText, kBinary, kPicture, kSamples8, kSamples16Stereo, kRandom, kContentCount };

const char* const kContentNames[] = {"text", "binary", "picture", "8-bit mono", "16-bit stereo", "random"};

std::vector<uint8_t> Make(int content, size_t size) {
    switch (content) {
        case kText: return sample::TextLike(size, 1);
        case kBinary: return sample::BinaryLike(size, 2);
        case kPicture: return sample::PictureLike(size, 3);
        case kSamples8: return sample::SamplesLike(size, 1, 1, 4);
        case kSamples16Stereo: return sample::SamplesLike(size, 2, 2, 5);
        default: return sample::Random(size, 6);
    }
}

// Arguments: content, size, multimedia (0 off, 1 auto).
void BM_Pack(benchmark::State& state) {
    const std::vector<uint8_t> data = Make(int(state.range(0)), size_t(state.range(1)));
    const rw::Multimedia mode = state.range(2) != 0 ? rw::Multimedia::kAuto : rw::Multimedia::kOff;
    size_t packed = 0;
    for (auto _ : state) {
        std::vector<uint8_t> out = rw::Pack(data, mode);
        packed = out.size();
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t(data.size()));
    state.counters["ratio"] = double(packed) / double(data.size());
    state.SetLabel(std::string(kContentNames[state.range(0)]) + (mode == rw::Multimedia::kAuto ? " auto" : " lz"));
}
BENCHMARK(BM_Pack)
    ->ArgsProduct({benchmark::CreateDenseRange(0, kContentCount - 1, 1), {1 << 20, 16 << 20}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
