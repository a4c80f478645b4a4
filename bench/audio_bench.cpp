// The audio library's whole decode (an Ogg Vorbis file decoded from memory into 16-bit frames)
// against plain libvorbisfile decoding the same bytes from memory into a buffer sized from
// ov_pcm_total, as a program would do it by hand: one minute of 44.1 kHz stereo tone. Then
// how long the library's sample load keeps its caller now that only the headers are read in
// the call (BM_SampleLoadAnswer: open, check, hand the decode to the sample's thread, and the
// mixer's end, which stops that thread before it has decoded anything).
// Then the cost of mixing one looping channel, as a share of one core (core_pct: time spent
// mixing per second of sound x 100, from CPU time), at the sample's rate and resampled to 48 kHz.
//
// Run with --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true so that the
// two sides share the machine's moods; compare per repetition.
#include <benchmark/benchmark.h>

#include "platform/audio/mixer.h"
#include "platform/audio/sample_decode.h"
#include "tests/support/ogg_vorbis.h"

#include "bench/vorbis_memory.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr long kRate = 44100;

const std::string& Music() {
    static const std::string file = rh::testing::EncodeOggVorbis(
        rh::testing::ToneFrames(kRate, 2, static_cast<size_t>(kRate) * 60, 261.6), kRate, 2, 0.4f);
    return file;
}


void BM_SampleLoad(benchmark::State& state) {
    const std::string& file = Music();
    for (auto _ : state) {
        auto sample = rh::audio::DecodeOggVorbis(file.data(), file.size());
        benchmark::DoNotOptimize(sample->frames.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
}

void BM_SampleLoadAnswer(benchmark::State& state) {
    const std::string& file = Music();
    for (auto _ : state) {
        rh::audio::Mixer mixer(kRate);
        mixer.HoldDecoders(0);
        const uint32_t handle =
            mixer.AddStream(rh::audio::VorbisStream::Open(file.data(), file.size(), true), 20, rh::audio::kSampleLoop);
        if (handle == 0) {
            state.SkipWithError("the load failed");
            break;
        }
    }
}

void BM_PlainLibvorbisfile(benchmark::State& state) {
    const std::string& file = Music();
    for (auto _ : state) {
        rh::bench::VorbisMemory memory{file.data(), file.size()};
        OggVorbis_File vf;
        if (!memory.Open(&vf)) {
            state.SkipWithError("open failed");
            break;
        }
        std::vector<int16_t> pcm(static_cast<size_t>(ov_pcm_total(&vf, -1)) * ov_info(&vf, -1)->channels);
        size_t at = 0;
        int link = 0;
        for (;;) {
            const size_t room = std::min<size_t>((pcm.size() - at) * 2, 16384);
            const long got = room == 0 ? 0 : ov_read(&vf, reinterpret_cast<char*>(pcm.data() + at), room, 0, 2, 1, &link);
            if (got <= 0) break;
            at += static_cast<size_t>(got) / 2;
        }
        benchmark::DoNotOptimize(pcm.data());
        ov_clear(&vf);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
}

// One block of the output callback per iteration.
void BM_MixOneLoopingChannel(benchmark::State& state) {
    const long outputRate = state.range(0);
    const std::string& file = Music();
    rh::audio::Mixer mixer(outputRate);
    auto sample = rh::audio::DecodeOggVorbis(file.data(), file.size());
    const uint32_t handle = mixer.AddSample(std::move(*sample), 20, rh::audio::kSampleLoop);
    mixer.Play(mixer.GetChannel(handle), true);
    mixer.SetVolume(80);
    constexpr size_t kBlock = 1024;
    std::vector<int16_t> out(kBlock * 2);
    for (auto _ : state) {
        mixer.Mix(out.data(), kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    const double blockSeconds = static_cast<double>(kBlock) / static_cast<double>(outputRate);
    state.counters["core_pct"] = benchmark::Counter(static_cast<double>(state.iterations()) * blockSeconds / 100.0,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_SampleLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SampleLoadAnswer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainLibvorbisfile)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MixOneLoopingChannel)->Arg(44100)->Arg(48000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
