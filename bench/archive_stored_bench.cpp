// Extraction of a stored member of 1 KB, 1 MB, 8 MB, 50 MB and 200 MB against libarchive, like
// for like. Run with --benchmark_enable_random_interleaving=true --benchmark_repetitions=5 so
// that every pair is measured side by side, and compare each pair's times.
//
// Whole process: rh_rarextract ARCHIVE MEMBER against bsdtar -xOf ARCHIVE MEMBER, each spawned
// with its output going to /dev/null, from start to exit: loading the program, reading the
// archive (from the page cache), the CRC check and the output. (The peak resident size of a
// run is measured apart, with /usr/bin/time -v: a child spawned from this process inherits
// its resident size as its own starting peak.)
//
// In process: the member out of the archive's bytes in memory into a block the caller keeps,
// ExtractArchiveMember against libarchive delivering it with archive_read_data into a block of
// the same size (libarchive checks the CRC when the member's data ends, so the read goes on to
// the end). "Fresh": a new block every time that has never been touched, as the first
// extraction of a run gets it; the block cache is emptied between iterations, and glibc's mmap
// threshold is held at its default so that it maps every large block anew instead of reusing
// freed heap. "Reused": the same block again, as for a second extraction.
#include "core/files/archive/rar_archive.h"
#include "core/types/value_types.h"
#include "tools/rarwrite/rar_writer.h"

#include <archive.h>
#include <archive_entry.h>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kMember = "Media/Big.bin";

// The archive with a member of `size` bytes, written once per run (one write, as an archiver
// writes it) and kept in memory for the in-process runs.
struct TestArchive {
    std::string path;
    Bytes bytes;
};

const TestArchive& ArchiveOf(size_t size) {
    static std::map<size_t, TestArchive> archives;
    auto found = archives.find(size);
    if (found != archives.end()) return found->second;
    std::vector<rh::rarwrite::Member> members;
    members.push_back({"Media", true, {}});
    Bytes data(size);
    uint32_t seed = 11;
    for (auto& c : data) c = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
    members.push_back({"Media\\Big.bin", false, std::move(data)});
    members.push_back({"Media\\Small.txt", false, Bytes(100, 'x')});
    TestArchive archive;
    std::string error;
    if (!rh::rarwrite::WriteArchive(std::move(members), {}, &archive.bytes, &error)) std::abort();
    const char* tmp = std::getenv("TMPDIR");
    archive.path = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/rh_stored_bench_" +
                   std::to_string(size) + ".rar";
    std::ofstream(archive.path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(archive.bytes.data()), std::streamsize(archive.bytes.size()));
    return archives.emplace(size, std::move(archive)).first->second;
}

// Runs the program with its output to /dev/null; false unless it exits with status 0.
bool RunToDevNull(const std::vector<std::string>& command) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& part : command) argv.push_back(const_cast<char*>(part.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void WholeProcess(benchmark::State& state, bool ours) {
    const size_t size = size_t(state.range(0));
    const std::string& path = ArchiveOf(size).path;
    const std::vector<std::string> command =
        ours ? std::vector<std::string>{RH_RAREXTRACT_EXE, path, kMember}
             : std::vector<std::string>{"bsdtar", "-xOf", path, kMember};
    for (auto _ : state) {
        if (!RunToDevNull(command)) {
            state.SkipWithError("the extraction failed");
            return;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

void BM_WholeProcessOurs(benchmark::State& state) { WholeProcess(state, true); }
void BM_WholeProcessBsdtar(benchmark::State& state) { WholeProcess(state, false); }

// ExtractArchiveMember into `out`; false when the member does not come out whole.
bool ExtractOurs(const TestArchive& archive, size_t size, ByteBuffer* out) {
    ArchiveBlock block;
    block.data = archive.bytes.data();
    block.size = int32_t(archive.bytes.size());
    return ExtractArchiveMember(out, kMember, &block) && size_t(out->Size()) == size;
}

// libarchive's delivery of the member into `out` (size bytes), read on to the member's end,
// where its CRC is checked; false unless every byte came and the end was reached cleanly.
bool ExtractLibarchive(const TestArchive& archive, size_t size, uint8_t* out) {
    struct archive* reader = archive_read_new();
    archive_read_support_format_rar(reader);
    bool ok = archive_read_open_memory(reader, archive.bytes.data(), archive.bytes.size()) == ARCHIVE_OK;
    bool found = false;
    struct archive_entry* entry = nullptr;
    while (ok && !found && archive_read_next_header(reader, &entry) == ARCHIVE_OK) {
        found = std::strcmp(archive_entry_pathname(entry), kMember) == 0;
    }
    ok = ok && found;
    size_t done = 0;
    while (ok && done < size) {
        const la_ssize_t n = archive_read_data(reader, out + done, size - done);
        ok = n > 0;
        if (ok) done += size_t(n);
    }
    uint8_t past = 0;
    ok = ok && archive_read_data(reader, &past, 1) == 0;
    archive_read_free(reader);
    return ok;
}

// The block cache keeps the block freed last and hands it to the next request it fits (up to
// twice the size asked): freeing a block three times as large in between puts that one in
// its place, and the next extraction gets new pages.
void EmptyBlockCache(size_t size) {
    ByteBuffer tooLarge;
    tooLarge.Resize(int32_t(std::min<size_t>(3 * size, 0x7FFFFFFF)));
}

// Below this neither side's blocks are mapped anew, and pausing the clock would cost more
// than the extraction: small blocks are simply allocated and freed in the loop.
constexpr size_t kPausedFrom = 512 << 10;

// Fresh blocks of both sides are given back with the clock stopped: unmapping is not part of
// the extraction (ours goes to the block cache, which is emptied then).
void BM_InProcessOursFresh(benchmark::State& state) {
    const size_t size = size_t(state.range(0));
    const TestArchive& archive = ArchiveOf(size);
    for (auto _ : state) {
        auto out = std::make_unique<ByteBuffer>();
        if (!ExtractOurs(archive, size, out.get())) {
            state.SkipWithError("the extraction failed");
            return;
        }
        benchmark::DoNotOptimize(out->Data());
        if (size >= kPausedFrom) {
            state.PauseTiming();
            out.reset();
            EmptyBlockCache(size);
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

void BM_InProcessLibarchiveFresh(benchmark::State& state) {
    const size_t size = size_t(state.range(0));
    const TestArchive& archive = ArchiveOf(size);
    for (auto _ : state) {
        std::unique_ptr<uint8_t[]> out(new uint8_t[size]);
        if (!ExtractLibarchive(archive, size, out.get())) {
            state.SkipWithError("the extraction failed");
            return;
        }
        benchmark::DoNotOptimize(out.get());
        if (size >= kPausedFrom) {
            state.PauseTiming();
            out.reset();
            state.ResumeTiming();
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

void BM_InProcessOursReused(benchmark::State& state) {
    const size_t size = size_t(state.range(0));
    const TestArchive& archive = ArchiveOf(size);
    ByteBuffer out;
    if (!ExtractOurs(archive, size, &out)) {
        state.SkipWithError("the extraction failed");
        return;
    }
    for (auto _ : state) {
        ExtractOurs(archive, size, &out);
        benchmark::DoNotOptimize(out.Data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

void BM_InProcessLibarchiveReused(benchmark::State& state) {
    const size_t size = size_t(state.range(0));
    const TestArchive& archive = ArchiveOf(size);
    std::unique_ptr<uint8_t[]> out(new uint8_t[size]);
    if (!ExtractLibarchive(archive, size, out.get())) {
        state.SkipWithError("the extraction failed");
        return;
    }
    for (auto _ : state) {
        ExtractLibarchive(archive, size, out.get());
        benchmark::DoNotOptimize(out.get());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(size));
}

void Sizes(benchmark::internal::Benchmark* b) {
    for (int64_t size : {int64_t{1} << 10, int64_t{1} << 20, int64_t{8} << 20, int64_t{50} << 20,
                         int64_t{200} << 20}) {
        b->Arg(size);
    }
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_WholeProcessOurs)->Apply(Sizes);
BENCHMARK(BM_WholeProcessBsdtar)->Apply(Sizes);
BENCHMARK(BM_InProcessOursFresh)->Apply(Sizes);
BENCHMARK(BM_InProcessLibarchiveFresh)->Apply(Sizes);
BENCHMARK(BM_InProcessOursReused)->Apply(Sizes);
BENCHMARK(BM_InProcessLibarchiveReused)->Apply(Sizes);

}  // namespace

int main(int argc, char** argv) {
    // Setting the threshold turns off glibc's raising it to the size of the last mapped block
    // freed, after which blocks up to 32 MB would come from reused heap.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
