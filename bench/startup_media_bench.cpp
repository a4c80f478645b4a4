// The whole saver's start-up as a user meets it: `rimeholt /s` started as a process (SDL's
// offscreen driver, the dummy audio driver, the built-in settings with the music on) until its
// trace says the first scene frame is shown, against what any program showing the same media
// must at least do once: read every member of the media archive and decode each medium --
// every picture through the D3DX decoders (the archive's and the loading screen's), the scene
// and camera-path files through the ZWF reader, the music through libvorbisfile into PCM, the
// fonts' descriptions read and their pictures decoded.
//
// BM_ProcessStartupAgainstDecodingEveryMedium alternates the two, the peer first every other
// round, after one saver run to warm the file cache; it reports the ratio saver / peer of
// each round pair (median, least, greatest), the median milliseconds of each side, and the
// median of the saver's own account of its first frame (the first is shown then).
//
// The saver's start-up holds the loading picture's fade-out, a wait of 200 ms it makes by
// design whatever the machine. The saver traces the fade's start and end; the figures
// "without the fade" take off the span between the two lines' arrival (the wait and the last
// fade frame it draws, nothing else), and "fade_ms" says how long that was.
//
// The saver runs in a scratch folder of its own, with its registry file and temporary files
// in folders below it. The folder's modification time is set back a minute: a folder changed in the last few
// seconds has its names scanned on every look-up (see rh::crt::DiskPath), which a user's
// working folder never is.
//
// Run by hand: .build/release/bench/rh_startup_media_bench (CI runs none); RH_BENCH_PROGRAM
// names another build of the program to time instead (it must trace its first frame too).
#include "core/data/data_node.h"
#include "core/data/data_reader.h"
#include "core/files/archive/archive_file_source.h"
#include "core/files/file_ref.h"
#include "core/files/mem_stream.h"
#include "core/types/byte_buffer.h"
#include "platform/d3dx9/image_decode.h"

#include <benchmark/benchmark.h>

#include "bench/vorbis_memory.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

double NowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

bool EndsWith(const std::string& text, const char* tail) {
    const size_t n = std::strlen(tail);
    if (text.size() < n) return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::tolower(static_cast<unsigned char>(text[text.size() - n + i])) != tail[i]) return false;
    }
    return true;
}

// The archive's member names, from the media folder the archive is built from.
const std::vector<std::string>& MemberNames() {
    // The archive's members as its build lists them (member name, a tab, the file packed): the
    // media folder on disk may also hold files of earlier builds that the archive no longer has.
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        const std::string lists = RH_MEDIA_LISTS;
        for (size_t start = 0; start < lists.size();) {
            const size_t end = std::min(lists.find('|', start), lists.size());
            std::ifstream in(lists.substr(start, end - start));
            std::string line;
            while (std::getline(in, line)) {
                const size_t tab = line.find('\t');
                if (tab != std::string::npos) out.push_back(line.substr(0, tab));
            }
            start = end + 1;
        }
        std::sort(out.begin(), out.end());
        return out;
    }();
    return names;
}

// ---- The peer ----


// The whole stream as 16-bit PCM, as the audio library keeps a sample.
bool DecodeMusic(const uint8_t* data, size_t size) {
    rh::bench::VorbisMemory memory{data, size};
    OggVorbis_File vf;
    if (!memory.Open(&vf)) {
        return false;
    }
    const ogg_int64_t frames = ov_pcm_total(&vf, -1);
    const vorbis_info* info = ov_info(&vf, -1);
    bool ok = frames > 0 && info != nullptr;
    if (ok) {
        std::vector<int16_t> pcm(static_cast<size_t>(frames) * static_cast<size_t>(info->channels));
        size_t at = 0;
        int link = 0;
        for (;;) {
            const size_t room = std::min<size_t>((pcm.size() - at) * 2, 16384);
            const long got =
                room == 0 ? 0 : ov_read(&vf, reinterpret_cast<char*>(pcm.data() + at), static_cast<int>(room), 0, 2, 1, &link);
            if (got <= 0) break;
            at += static_cast<size_t>(got) / 2;
        }
        benchmark::DoNotOptimize(pcm.data());
        ok = at == pcm.size();
    }
    ov_clear(&vf);
    return ok;
}

bool DecodePicture(const uint8_t* data, size_t size) {
    rh::d3dx9::DecodedImage image;
    return rh::d3dx9::DecodeImage(data, size, rh::d3dx9::DecodeLimits{}, &image) == S_OK;
}

bool ReadZwf(const uint8_t* data, size_t size) {
    MemStream stream;
    stream.ShowShared(data, static_cast<int32_t>(size), nullptr);
    BinaryDataReader reader;
    DataNode* root = reader.OpenStream(&stream);
    const bool ok = root != nullptr && root->Load(0, 0);
    reader.CloseDataFile();
    return ok;
}

// Every member read from the archive and decoded by its kind; the loading screen's pictures
// from their resources. Counts what it decoded; false when anything fails.
struct PeerCounts {
    int pictures = 0;
    int dataFiles = 0;
    int music = 0;
    int others = 0;
    double bytes = 0;
};

bool PeerDecodeEveryMedium(PeerCounts* counts) {
    *counts = PeerCounts();
    ArchiveFileSource archive;
    if (!archive.Mount(FileRef::Resource(227))) return false;
    for (const std::string& name : MemberNames()) {
        ByteBuffer member;
        if (!FileRef::Member(&archive, String(name.c_str())).ReadWholeFile(member)) return false;
        const auto* data = member.Data();
        const auto size = static_cast<size_t>(member.Size());
        counts->bytes += static_cast<double>(size);
        if (EndsWith(name, ".jpg") || EndsWith(name, ".png") || EndsWith(name, ".tga") || EndsWith(name, ".dds") ||
            EndsWith(name, ".bmp")) {
            if (!DecodePicture(data, size)) return false;
            ++counts->pictures;
        } else if (EndsWith(name, ".zwf") || EndsWith(name, ".cam")) {
            if (!ReadZwf(data, size)) return false;
            ++counts->dataFiles;
        } else if (EndsWith(name, ".ogg")) {
            if (!DecodeMusic(data, size)) return false;
            ++counts->music;
        } else {
            ++counts->others;  // font descriptions, effect sources, texture descriptions: read
        }
    }
    for (int id : {224, 231, 232, 233, 234}) {
        String bytes;
        bool borrow = true;
        if (!FileRef::Resource(id).ReadWholeFile(bytes, &borrow)) return false;
        counts->bytes += static_cast<double>(bytes.length());
        if (!DecodePicture(reinterpret_cast<const uint8_t*>(bytes.Text()), static_cast<size_t>(bytes.length()))) {
            return false;
        }
        ++counts->pictures;
    }
    return true;
}

// ---- The saver ----

// A scratch folder holding the saver's configuration and temporary files; removed at the end.
class Scratch {
public:
    Scratch() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/rh_startup_XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) != nullptr) path_ = name.data();
        if (!path_.empty()) {
            mkdir((path_ + "/config").c_str(), 0700);
            mkdir((path_ + "/tmp").c_str(), 0700);
        }
        // Settled, as a working folder is (see the top of this file).
        const timespec past[2] = {{time(nullptr) - 60, 0}, {time(nullptr) - 60, 0}};
        if (!path_.empty()) utimensat(AT_FDCWD, path_.c_str(), past, 0);
    }
    ~Scratch() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct SaverTimes {
    double firstFrameMs = 0;  // from just before the process was started to the trace line
    double fadeMs = 0;        // between the fade's two trace lines
    bool fadeTraced = false;  // an earlier build of the program may not trace the fade
    bool ok = false;
};

// Starts the saver, waits for "The first frame is shown" on its standard error, then ends it
// with SIGTERM (its normal way out for a host) and waits for it.
SaverTimes RunSaver(const Scratch& scratch) {
    SaverTimes times;
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return times;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addchdir_np(&actions, scratch.path().c_str());

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        for (const char* drop : {"SDL_VIDEODRIVER=", "SDL_AUDIODRIVER=", "RIMEHOLT_LOG=", "XDG_CONFIG_HOME=", "TMPDIR="}) {
            if (entry.rfind(drop, 0) == 0) goto skip;
        }
        env.push_back(entry);
    skip:;
    }
    env.push_back("SDL_VIDEODRIVER=offscreen");
    env.push_back("SDL_AUDIODRIVER=dummy");
    env.push_back("RIMEHOLT_LOG=trace");
    env.push_back("XDG_CONFIG_HOME=" + scratch.path() + "/config");
    // Temporary files (the audio library's) go one folder down, so that making and removing
    // them leaves the working folder settled for the next run.
    env.push_back("TMPDIR=" + scratch.path() + "/tmp");
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const char* other = std::getenv("RH_BENCH_PROGRAM");
    std::string program = other != nullptr && *other != '\0' ? other : RIMEHOLT_PROGRAM;
    std::string mode = "/s";
    char* argv[] = {program.data(), mode.data(), nullptr};

    const double start = NowMs();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        return times;
    }
    std::string text;
    char buffer[4096];
    bool seen = false;
    double fadeStart = -1, fadeEnd = -1;
    while (!seen) {
        pollfd p{pipeFds[0], POLLIN, 0};
        if (poll(&p, 1, 60000) <= 0) break;
        const ssize_t got = read(pipeFds[0], buffer, sizeof buffer);
        if (got <= 0) break;
        const double now = NowMs();
        text.append(buffer, static_cast<size_t>(got));
        if (fadeStart < 0 && text.find("The loading picture fades out") != std::string::npos) fadeStart = now;
        if (fadeEnd < 0 && text.find("The loading picture has faded") != std::string::npos) fadeEnd = now;
        if (text.find("The first frame is shown") != std::string::npos) {
            times.firstFrameMs = now - start;
            seen = true;
        }
    }
    if (fadeStart >= 0 && fadeEnd >= fadeStart) {
        times.fadeMs = fadeEnd - fadeStart;
        times.fadeTraced = true;
    }
    kill(pid, SIGTERM);
    while (read(pipeFds[0], buffer, sizeof buffer) > 0) {
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    times.ok = seen && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!times.ok) std::fprintf(stderr, "the saver's output:\n%s\n", text.c_str());
    return times;
}

void BM_ProcessStartupAgainstDecodingEveryMedium(benchmark::State& state) {
    const int rounds = static_cast<int>(state.range(0));
    Scratch scratch;
    if (scratch.path().empty()) return state.SkipWithError("no scratch folder");
    std::vector<double> saver, peer, ratios, fade, work, workRatios;
    bool fadeMissing = false;
    PeerCounts counts;
    std::string error;
    for (auto _ : state) {
        if (!RunSaver(scratch).ok) {
            error = "the saver did not show a frame or did not end with 0";
            break;
        }
        for (int r = 0; r < rounds && error.empty(); ++r) {
            double peerMs = 0;
            const auto runPeer = [&] {
                const double at = NowMs();
                if (!PeerDecodeEveryMedium(&counts)) error = "the peer could not read or decode a medium";
                peerMs = NowMs() - at;
            };
            if (r % 2 == 1) runPeer();
            const SaverTimes times = RunSaver(scratch);
            if (!times.ok) {
                error = "the saver did not show a frame or did not end with 0";
                break;
            }
            if (r % 2 == 0) runPeer();
            saver.push_back(times.firstFrameMs);
            if (!times.fadeTraced) fadeMissing = true;
            fade.push_back(times.fadeMs);
            work.push_back(times.firstFrameMs - times.fadeMs);
            peer.push_back(peerMs);
            ratios.push_back(times.firstFrameMs / peerMs);
            workRatios.push_back(work.back() / peerMs);
        }
    }
    if (!error.empty()) return state.SkipWithError(error.c_str());
    state.counters["saver_ms"] = Median(saver);
    state.counters["peer_ms"] = Median(peer);
    state.counters["ratio_median"] = Median(ratios);
    state.counters["ratio_min"] = *std::min_element(ratios.begin(), ratios.end());
    state.counters["ratio_max"] = *std::max_element(ratios.begin(), ratios.end());
    // Without the fade's trace lines the figures "without the fade" equal the whole ones.
    state.counters["fade_traced"] = fadeMissing ? 0.0 : 1.0;
    state.counters["fade_ms"] = Median(fade);
    state.counters["saver_without_fade_ms"] = Median(work);
    state.counters["without_fade_ratio_median"] = Median(workRatios);
    state.counters["without_fade_ratio_min"] = *std::min_element(workRatios.begin(), workRatios.end());
    state.counters["without_fade_ratio_max"] = *std::max_element(workRatios.begin(), workRatios.end());
    state.counters["peer_pictures"] = counts.pictures;
    state.counters["peer_data_files"] = counts.dataFiles;
    state.counters["peer_music"] = counts.music;
    state.counters["peer_other_files"] = counts.others;
    state.counters["peer_MB"] = counts.bytes / 1048576.0;
}
BENCHMARK(BM_ProcessStartupAgainstDecodingEveryMedium)
    ->Arg(7)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
