// Extraction speed of the members of a real RAR 2.0 archive (decompression plus the CRC
// pass), against zlib inflating the same bytes compressed at level 6, and a stored member;
// and resolving a packed member through the archive source and opening it.

#include "core/files/archive/archive_file_source.h"
#include "core/files/archive/crc32.h"
#include "core/files/archive/rar_archive.h"
#include "core/files/file_ref.h"
#include "core/files/stream.h"
#include "core/types/value_types.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const char* const kMembers[] = {"exe\\test.exe", "jpg\\test.jpg", "????.txt"};

Bytes ReadFixture() {
    std::ifstream in(std::string(RH_FIXTURES_DIR) + "/rar/Rar2.rar", std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Extract(const Bytes& archive, const char* name, ByteBuffer* out) {
    ArchiveBlock block;
    block.data = archive.data();
    block.size = int32_t(archive.size());
    return ExtractArchiveMember(out, name, &block);
}

void BM_RarExtractPacked(benchmark::State& state) {
    const Bytes archive = ReadFixture();
    const char* name = kMembers[state.range(0)];
    ByteBuffer out;
    if (!Extract(archive, name, &out)) {
        state.SkipWithError("fixture member does not extract");
        return;
    }
    const int64_t size = out.Size();
    for (auto _ : state) {
        Extract(archive, name, &out);
        benchmark::DoNotOptimize(out.Data());
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.SetLabel(name);
}
BENCHMARK(BM_RarExtractPacked)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

// A search-path resolve (Exists) and the Open that follows, for a packed member. Argument 1:
// as the source does it, Open takes the bytes Exists extracted (one decode). Argument 0: the
// kept member dropped between the two calls, so Open decodes again, as before the source
// kept it (two decodes).
void BM_ResolveAndOpenPacked(benchmark::State& state) {
    const Bytes archive = ReadFixture();
    const bool reuse = state.range(0) != 0;
    const char* name = "exe/test.exe";
    ArchiveFileSource source;
    if (!source.Mount(FileRef::Memory(archive.data(), int32_t(archive.size()))) || !source.Exists(name)) {
        state.SkipWithError("fixture member does not extract");
        return;
    }
    source.DropKeptMember();
    int64_t size = 0;
    for (auto _ : state) {
        if (!source.Exists(name)) {
            state.SkipWithError("member vanished");
            break;
        }
        if (!reuse) source.DropKeptMember();
        std::unique_ptr<Stream> stream(source.Open(name, 1));
        size = stream->Size();
        benchmark::DoNotOptimize(stream.get());
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.SetLabel(reuse ? "exists + open, one decode (kept member)" : "exists + open, two decodes (dropped)");
}
BENCHMARK(BM_ResolveAndOpenPacked)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_ZlibInflateSameBytes(benchmark::State& state) {
    const Bytes archive = ReadFixture();
    const char* name = kMembers[state.range(0)];
    ByteBuffer member;
    if (!Extract(archive, name, &member)) {
        state.SkipWithError("fixture member does not extract");
        return;
    }
    uLongf packedSize = compressBound(uLong(member.Size()));
    Bytes packed(packedSize);
    compress2(packed.data(), &packedSize, member.Data(), uLong(member.Size()), 6);
    Bytes out(size_t(member.Size()));
    for (auto _ : state) {
        uLongf outSize = uLongf(out.size());
        uncompress(out.data(), &outSize, packed.data(), packedSize);
        benchmark::DoNotOptimize(Crc32(out.data(), outSize));
    }
    state.SetBytesProcessed(state.iterations() * member.Size());
    state.SetLabel(std::string(name) + " zlib " + std::to_string(packedSize) + " bytes");
}
BENCHMARK(BM_ZlibInflateSameBytes)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

void BM_Crc32(benchmark::State& state) {
    Bytes data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    for (auto _ : state) benchmark::DoNotOptimize(Crc32(data.data(), data.size()));
    state.SetBytesProcessed(state.iterations() * int64_t(data.size()));
}
BENCHMARK(BM_Crc32);

}  // namespace
BENCHMARK_MAIN();
