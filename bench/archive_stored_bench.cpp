// Extraction of a 50 MB stored member: the engine's reader against libarchive's bsdtar writing
// the same member to /dev/null, in one run so that the ratio is fair. bsdtar's figure includes
// starting the process and reading the file from the page cache; ours includes reading the
// file too (BM_StoredFromFile) and, separately, the extraction alone from memory.
#include "core/files/archive/rar_archive.h"
#include "core/types/value_types.h"
#include "tools/rarwrite/rar_writer.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMemberSize = 50u << 20;

const std::string& ArchivePath() {
    static const std::string path = [] {
        std::vector<rh::rarwrite::Member> members;
        members.push_back({"Media", true, {}});
        Bytes data(kMemberSize);
        uint32_t seed = 11;
        for (auto& c : data) c = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
        members.push_back({"Media\\Big.bin", false, std::move(data)});
        members.push_back({"Media\\Small.txt", false, Bytes(100, 'x')});
        Bytes archive;
        std::string error;
        if (!rh::rarwrite::WriteArchive(std::move(members), {}, &archive, &error)) std::abort();
        std::string file = "/tmp/rh_stored_bench.rar";
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(archive.data()),
                                                     std::streamsize(archive.size()));
        return file;
    }();
    return path;
}

// One sized read, as a loader would do it; a byte-wise stream iterator would cost more than
// the whole extraction.
Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes bytes(size_t(in.tellg()));
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return bytes;
}

bool Extract(const Bytes& archive, ByteBuffer* out) {
    ArchiveBlock block;
    block.data = archive.data();
    block.size = int32_t(archive.size());
    return ExtractArchiveMember(out, "media/big.bin", &block);
}

void BM_BsdtarStored(benchmark::State& state) {
    const std::string command = "bsdtar -xOf " + ArchivePath() + " Media/Big.bin > /dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) state.SkipWithError("bsdtar failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kMemberSize));
}
BENCHMARK(BM_BsdtarStored)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StoredFromFile(benchmark::State& state) {
    for (auto _ : state) {
        Bytes archive = ReadFile(ArchivePath());
        ByteBuffer out;
        if (!Extract(archive, &out)) state.SkipWithError("member not found");
        benchmark::DoNotOptimize(out.Data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kMemberSize));
}
BENCHMARK(BM_StoredFromFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// What the saver does on every open: a fresh buffer per extraction from the mounted bytes.
void BM_StoredFromMemory(benchmark::State& state) {
    const Bytes archive = ReadFile(ArchivePath());
    for (auto _ : state) {
        ByteBuffer out;
        if (!Extract(archive, &out)) state.SkipWithError("member not found");
        benchmark::DoNotOptimize(out.Data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kMemberSize));
}
BENCHMARK(BM_StoredFromMemory)->Unit(benchmark::kMillisecond)->UseRealTime();

// The first extraction of a run, into a block that has never been touched: what the saver's
// existence check pays before its open reuses the block. A larger block dropped between
// iterations takes the cache's one place, so every extraction gets fresh pages.
void BM_StoredFreshBlock(benchmark::State& state) {
    const Bytes archive = ReadFile(ArchivePath());
    for (auto _ : state) {
        ByteBuffer out;
        if (!Extract(archive, &out)) state.SkipWithError("member not found");
        benchmark::DoNotOptimize(out.Data());
        state.PauseTiming();
        out.Free();
        ByteBuffer tooLarge;
        tooLarge.Resize(int32_t(3 * kMemberSize));
        tooLarge.Free();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kMemberSize));
}
BENCHMARK(BM_StoredFreshBlock)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
