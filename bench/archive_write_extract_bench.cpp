// Speed of packing the media into an archive, of extracting a member again through the
// engine's reader (which walks the headers from the start and checks the CRC-32 every time),
// and of the CRC-32 pass itself.
#include "core/files/archive/rar_archive.h"
#include "core/types/value_types.h"
#include "tools/rarwrite/rar_writer.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using rh::rarwrite::Member;

// A tree shaped like the saver's media: 7 folders and 199 files of a few KB to about 1 MB.
std::vector<Member> MediaLikeMembers() {
    std::vector<Member> members;
    uint32_t seed = 7;
    for (int d = 0; d < 7; ++d) members.push_back({"Media\\Dir" + std::to_string(d), true, {}});
    for (int i = 0; i < 199; ++i) {
        size_t size = (i % 10 == 0) ? 1 << 20 : 4096 + 1000 * size_t(i);
        std::vector<uint8_t> data(size);
        for (auto& c : data) c = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
        members.push_back({"Media\\Dir" + std::to_string(i % 7) + "\\File" + std::to_string(i) + ".bin", false,
                           std::move(data)});
    }
    return members;
}

size_t TotalBytes(const std::vector<Member>& members) {
    size_t n = 0;
    for (const Member& m : members) n += m.data.size();
    return n;
}

void BM_WriteArchive(benchmark::State& state) {
    const auto members = MediaLikeMembers();
    std::vector<uint8_t> out;
    std::string error;
    for (auto _ : state) {
        if (!rh::rarwrite::WriteArchive(members, {}, &out, &error)) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(TotalBytes(members)));
}
BENCHMARK(BM_WriteArchive)->Unit(benchmark::kMillisecond);

// Extracts the last member in name order (the longest header walk) or a 1 MB one.
void BM_ExtractMember(benchmark::State& state) {
    const auto members = MediaLikeMembers();
    std::vector<uint8_t> archive;
    std::string error;
    if (!rh::rarwrite::WriteArchive(members, {}, &archive, &error)) state.SkipWithError(error.c_str());
    const char* name = state.range(0) == 0 ? "media/dir6/file97.bin" : "media/dir0/file0.bin";
    ByteBuffer out;
    for (auto _ : state) {
        ArchiveBlock block;
        block.data = archive.data();
        block.size = int32_t(archive.size());
        if (!ExtractArchiveMember(&out, name, &block)) state.SkipWithError("member not found");
        benchmark::DoNotOptimize(out.Data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * out.Size());
}
BENCHMARK(BM_ExtractMember)->Arg(0)->Arg(1);

void BM_Crc32(benchmark::State& state) {
    std::vector<uint8_t> data(size_t(state.range(0)), 0x5A);
    for (auto _ : state) benchmark::DoNotOptimize(rh::rarwrite::Crc32(data.data(), data.size()));
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc32)->Arg(4096)->Arg(1 << 20);

}  // namespace

BENCHMARK_MAIN();
