// A switch to the next camera path as the saver makes it -- the path file read from the media
// archive into the player's tracks, then the player's first view -- against reading the
// member's bytes alone, in the same run. The archive holds the path maker's twenty paths, stored,
// mounted from memory as the program mounts its resource.
#include "core/files/archive/archive_file_source.h"
#include "core/files/file_ref.h"
#include "core/types/byte_buffer.h"
#include "saver/camera_paths.h"
#include "tools/pathmake/path_maker.h"
#include "tools/rarwrite/rar_writer.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct MediaArchive {
    std::vector<uint8_t> bytes;
    ArchiveFileSource source;

    MediaArchive() {
        std::vector<rh::rarwrite::Member> members;
        members.emplace_back("Media", true, std::vector<uint8_t>{});
        for (const rh::village::FlightPlan& plan : rh::village::Flights()) {
            members.emplace_back(std::string("Media\\") + plan.file, false, rh::pathmake::MakeFlightFile(plan));
        }
        std::string error;
        if (!rh::rarwrite::WriteArchive(members, {}, &bytes, &error) ||
            !source.Mount(FileRef::Memory(bytes.data(), int32_t(bytes.size())))) {
            std::abort();
        }
    }
};

MediaArchive& Archive() {
    static MediaArchive archive;
    return archive;
}

const char* PathName(size_t i) { return rh::village::Flights()[i % rh::village::Flights().size()].file; }

void BM_PathSwitch(benchmark::State& state) {
    MediaArchive& media = Archive();
    CameraPathPlayer player;
    size_t i = 0;
    for (auto _ : state) {
        LoadCameraPath(player, &media.source, "Media", PathName(i++));
        TimeRange range;
        player.GetTimeRange(range);
        TypedMatrix view;
        player.GetMatrix(range.first, view);
        benchmark::DoNotOptimize(view);
    }
}

void BM_MemberBytesOnly(benchmark::State& state) {
    MediaArchive& media = Archive();
    size_t i = 0;
    for (auto _ : state) {
        FileRef ref;
        ref.flags = FileRef::kDisk | FileRef::kArchive;
        ref.archive = &media.source;
        ref.name = ConcatStringText("Media/", PathName(i++));
        ByteBuffer bytes;
        ref.ReadWholeFile(bytes);
        benchmark::DoNotOptimize(bytes);
    }
}

}  // namespace

BENCHMARK(BM_PathSwitch);
BENCHMARK(BM_MemberBytesOnly);

BENCHMARK_MAIN();
