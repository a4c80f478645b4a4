// Extraction speed of the members of a real RAR 2.0 archive (decompression plus the CRC
// pass), against zlib inflating the same bytes gzipped at level 6 (inflate checks the gzip
// CRC itself); and resolving a packed member through the archive source and opening it.
//
// The RAR 2.0 decoder against zlib on made-up content of each kind and of sizes from 16 KB
// to 64 MB: the archive writer's encoder packs it, gzip -6 packs it too, and each decoder
// writes it into a block kept between iterations, CRC checked. Compare BM_RarDecode/C/S with
// BM_GzipInflate/C/S; run with --benchmark_enable_random_interleaving=true and repetitions.

#include "core/files/archive/archive_file_source.h"
#include "core/files/archive/crc32.h"
#include "core/files/archive/rar_archive.h"
#include "core/files/archive/rar_unpack20.h"
#include "core/files/file_ref.h"
#include "core/files/stream.h"
#include "core/types/value_types.h"
#include "tools/rarwrite/rar_pack20.h"
#include "tools/rarwrite/sample_content.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <utility>
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

// gzip -6 of `data`.
Bytes Gzip(const uint8_t* data, size_t size) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, uLong(size)));
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = uInt(size);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Inflates a whole gzip stream into out, which it fills exactly; inflate checks the CRC.
bool Gunzip(const Bytes& packed, uint8_t* out, size_t size) {
    z_stream z{};
    inflateInit2(&z, 15 + 16);
    z.next_in = const_cast<uint8_t*>(packed.data());
    z.avail_in = uInt(packed.size());
    z.next_out = out;
    z.avail_out = uInt(size);
    bool ok = inflate(&z, Z_FINISH) == Z_STREAM_END && z.total_out == size;
    inflateEnd(&z);
    return ok;
}

void BM_ZlibInflateSameBytes(benchmark::State& state) {
    const Bytes archive = ReadFixture();
    const char* name = kMembers[state.range(0)];
    ByteBuffer member;
    if (!Extract(archive, name, &member)) {
        state.SkipWithError("fixture member does not extract");
        return;
    }
    const Bytes packed = Gzip(member.Data(), size_t(member.Size()));
    Bytes out(size_t(member.Size()));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Gunzip(packed, out.data(), out.size()));
    }
    state.SetBytesProcessed(state.iterations() * member.Size());
    state.SetLabel(std::string(name) + " gzip " + std::to_string(packed.size()) + " bytes");
}
BENCHMARK(BM_ZlibInflateSameBytes)->DenseRange(0, 2)->Unit(benchmark::kMicrosecond);

namespace rw = rh::rarwrite;

enum Content { kText, kPicture, kPictureAuto, kSamples8Mono, kSamples16Stereo, kContentCount };

// One kind of content at one size, packed both ways.
struct Packed {
    Bytes rar;
    Bytes gzip;
    uint32_t size = 0;
    uint32_t crc = 0;
    std::string label;
};

const Packed& GetPacked(int content, size_t size) {
    static std::map<std::pair<int, size_t>, Packed> cache;
    auto [it, fresh] = cache.try_emplace({content, size});
    Packed& p = it->second;
    if (!fresh) return p;
    namespace sample = rw::sample;
    Bytes data;
    rw::Multimedia mode = rw::Multimedia::kAuto;
    switch (content) {
        case kText: data = sample::TextLike(size, 1); mode = rw::Multimedia::kOff; p.label = "text"; break;
        case kPicture: data = sample::PictureLike(size, 3); mode = rw::Multimedia::kOff; p.label = "picture lz"; break;
        case kPictureAuto: data = sample::PictureLike(size, 3); p.label = "picture auto"; break;
        case kSamples8Mono: data = sample::SamplesLike(size, 1, 1, 4); p.label = "8-bit mono auto"; break;
        default: data = sample::SamplesLike(size, 2, 2, 5); p.label = "16-bit stereo auto"; break;
    }
    rw::PackStats stats;
    p.rar = rw::Pack(data, mode, &stats);
    p.gzip = Gzip(data.data(), data.size());
    p.size = uint32_t(data.size());
    p.crc = Crc32(data.data(), data.size());
    p.label += " " + std::to_string(size >> 10) + " KB, " + std::to_string(stats.audioBlocks) + "/" +
               std::to_string(stats.blocks) + " multimedia blocks";
    return p;
}

const int64_t kSizes[] = {16 << 10, 256 << 10, 1 << 20, 4 << 20, 16 << 20, 64 << 20};

void ContentAndSizes(benchmark::internal::Benchmark* b) {
    for (int c = 0; c < kContentCount; ++c) {
        for (int64_t size : kSizes) b->Args({c, size});
    }
}

// What extraction does once it has the member's packed bytes: decode, then the CRC.
void BM_RarDecode(benchmark::State& state) {
    const Packed& p = GetPacked(int(state.range(0)), size_t(state.range(1)));
    RarUnpack20 unpacker;
    Bytes out(p.size);
    for (auto _ : state) {
        uint32_t written = 0;
        if (!unpacker.Decode(p.rar.data(), uint32_t(p.rar.size()), p.size, false, out.data(), p.size, &written) ||
            written != p.size || Crc32(out.data(), written) != p.crc) {
            state.SkipWithError("packed content does not decode");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * int64_t(p.size));
    state.SetLabel(p.label + ", packed " + std::to_string(p.rar.size()));
}
BENCHMARK(BM_RarDecode)->Apply(ContentAndSizes)->Unit(benchmark::kMicrosecond);

void BM_GzipInflate(benchmark::State& state) {
    const Packed& p = GetPacked(int(state.range(0)), size_t(state.range(1)));
    Bytes out(p.size);
    for (auto _ : state) {
        if (!Gunzip(p.gzip, out.data(), out.size())) {
            state.SkipWithError("gzip does not inflate");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * int64_t(p.size));
    state.SetLabel(p.label + ", gzip " + std::to_string(p.gzip.size()));
}
BENCHMARK(BM_GzipInflate)->Apply(ContentAndSizes)->Unit(benchmark::kMicrosecond);

void BM_Crc32(benchmark::State& state) {
    Bytes data(1 << 20);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7);
    for (auto _ : state) benchmark::DoNotOptimize(Crc32(data.data(), data.size()));
    state.SetBytesProcessed(state.iterations() * int64_t(data.size()));
}
BENCHMARK(BM_Crc32);

}  // namespace
BENCHMARK_MAIN();
