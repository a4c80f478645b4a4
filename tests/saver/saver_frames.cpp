// rh_saver_frames: the scene application at 1024 x 768 on a test clock, writing the frames at
// given path times as PNG files. The same path time gives the same frame on every run: the
// clock is the test's own source, rand is seeded from it as the start-up does, and the steps
// the clock takes to reach a path time depend on that time alone.
//
//   rh_saver_frames --out DIR --path c05.cam [--shaders 0|1] [--snow 0|1|2] NAME@TIME ...
//
// TIME is in path units (100 ms), rounded to the 20-ms frame step; the times must rise. A
// frame depends on its own time and on the times before it on the command line. The run
// happens in a scratch folder of its own: a "CustomData/settings.txt" (the built-in
// settings with "Animations" naming the one path) and a registry file under XDG_CONFIG_HOME
// choosing "UseShaders", "SnowQuality" and the 1024 x 768 mode. The clock label shows the
// fixed local time 21:47:05 (RIMEHOLT_LOCAL_TIME), so pictures showing it can be compared.
// Exit status 0 when every frame was written, 1 otherwise (one line on stderr says why).
//
//   rh_saver_frames --frame-times SECONDS --path c05.cam [--shaders 0|1] [--snow 0|1|2]
//
// runs the same set-up on the real clock instead for SECONDS after a second of warm-up and
// prints the frame times (the main loop's passes, measured outside the engine): count, 5th
// percentile, median, 95th percentile and mean, in milliseconds (bench/saver_figures), and the
// processor time the timed frames took, per frame: the main thread's (the engine, the layer and
// the driver's vertex work) and the whole process's (with the rasteriser's threads). On a
// shared, loaded machine the processor times move much less than the frame times do.
//
//   rh_saver_frames --counts-every UNITS --path c05.cam [--shaders 0|1] [--snow 0|1|2]
//
// checks the frame budgets on the test clock: a view every UNITS of path time (from 0 to the
// path's end) counts the draw calls and triangles of its frame (DrawPrimitive and
// DrawIndexedPrimitive in the layer, the snow's point sprites and the GUI included); then the
// city's triangles (every mesh of the loaded city) and the decoded size of the textures alive
// (with their mip-maps, four bytes a texel) and of the vertex and index buffers alive (what
// bench/saver_figures sets the peak heap against). Exit status 1 when a view has more than 400 draws
// or 60,000 triangles, the city more than 200,000 triangles or the textures more than 64 MB
// (scripts/budgets runs every path).

#include "core/files/file_ref.h"
#include "core/time/clock_source.h"
#include "platform/d3d9/d3d9_testing.h"
#include "render/mesh.h"
#include "saver/entry.h"
#include "saver/scene_saver_app.h"
#include "tests/support/png_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
// One frame's step on the clock once the path runs: 50 frames a second.
constexpr uint32_t kFrameStepMs = 20;
// The last second before a path time is drawn frame by frame (so the snow has moved as it does
// on screen); the time before it passes in jumps of at most kJumpMs, drawn but not looked at.
constexpr uint32_t kLeadInMs = 1000;
constexpr uint32_t kJumpMs = 500;

// The budgets the frame target is planned with.
constexpr UINT kMaxViewDraws = 400;
constexpr uint64_t kMaxViewTriangles = 60000;
constexpr uint64_t kMaxCityTriangles = 200000;
constexpr uint64_t kMaxTextureBytes = 64ull << 20;

// The clock starts here; the start-up moves it by well under ten minutes before the first
// frame, which is put at kFirstFrameMs.
constexpr uint32_t kStartMs = 1000000;
constexpr uint32_t kFirstFrameMs = kStartMs + 600000;
uint32_t g_now = kStartMs;
std::chrono::steady_clock::time_point g_mainStart;
uint32_t g_step = 0;
uint32_t TestClock() {
    g_now += g_step;
    return g_now;
}

double CpuMs(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Processor time over the timed frames.
struct CpuUse {
    double mainStart = 0.0, processStart = 0.0;
    double mainMs = 0.0, processMs = 0.0;
};

struct Shot {
    std::string name;
    uint32_t atMs;  // milliseconds of path time from the first frame
};

// The clock steps from the first frame to a path time: jumps, then frame steps.
std::vector<uint32_t> StepsTo(uint32_t atMs) {
    std::vector<uint32_t> steps;
    const uint32_t leadIn = atMs < kLeadInMs ? atMs : kLeadInMs;
    for (uint32_t jumped = 0; jumped < atMs - leadIn;) {
        const uint32_t jump = atMs - leadIn - jumped < kJumpMs ? atMs - leadIn - jumped : kJumpMs;
        steps.push_back(jump);
        jumped += jump;
    }
    for (uint32_t t = 0; t < leadIn; t += kFrameStepMs) steps.push_back(kFrameStepMs);
    return steps;
}

bool WriteText(const std::string& path, const std::string& text) {
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos) {
        std::string folder;
        for (size_t i = 0; i <= slash; ++i) {
            if (path[i] == '/' && i > 0) {
                folder = path.substr(0, i);
                if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
            }
        }
    }
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

// The built-in settings script with "Animations" naming one path only.
std::string SettingsWithOnePath(const std::string& path) {
    const uint8_t* data = nullptr;
    int32_t size = 0;
    if (!LoadResourceData(239, "MemFile", &data, &size)) return "";
    std::string text(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
    std::string out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        if (line.rfind("Animations", 0) == 0) {
            out += "Animations = array(\"" + path + "\")\n";
        } else {
            out += line + "\n";
        }
        start = end + 1;
    }
    return out;
}

// The application; each pass of the main loop steps the clock, and the pass after a shot's
// frame was drawn writes it.
// Triangles of every mesh attached below node (triangle lists; strips and fans by their
// indices less two).
uint64_t MeshTriangles(const SceneNode& node) {
    uint64_t triangles = 0;
    if (auto* mesh = dynamic_cast<Mesh*>(node.GetAttachment())) {
        const GeometryDesc& desc = mesh->GetGeometryDesc();
        const uint64_t indices = static_cast<uint64_t>(desc.indices.size) / (desc.indices.indexFormat == D3DFMT_INDEX32 ? 4 : 2);
        if (desc.primitiveType == D3DPT_TRIANGLELIST) triangles += indices / 3;
        if ((desc.primitiveType == D3DPT_TRIANGLESTRIP || desc.primitiveType == D3DPT_TRIANGLEFAN) && indices > 2) {
            triangles += indices - 2;
        }
    }
    for (int32_t i = 0; i < node.childCount(); ++i) triangles += MeshTriangles(*node.child(i));
    return triangles;
}

class FrameGrabber : public SceneSaverApp {
public:
    // Above 0: the views are every this many path units and their counts are checked.
    double countsEvery = 0.0;
    bool overBudget = false;
    // Above 0: the real clock, and the frame times are recorded for this many seconds.
    double timedSeconds = 0.0;
    std::vector<double> frameMs;
    CpuUse cpu;
    std::vector<Shot> shots;
    std::string outDir;
    bool failed = false;

    bool UpdateScene() override {
        if (timedSeconds > 0.0) return TimedPass();
        if (first_) {
            // The first frame starts from the same state whatever the start-up did before it
            // (how often it read the clock, how many numbers it drew, which audio device it
            // found): a fixed clock, rand seeded from it, path time 0 and the snow seeded anew,
            // as at the start of every path.
            first_ = false;
            if (g_now > kFirstFrameMs) {
                std::fprintf(stderr, "rh_saver_frames: the start-up read the clock too often\n");
                failed = true;
                quit_ = true;
                return true;
            }
            g_now = kFirstFrameMs;
            SeedRandomFromClock();
            pathTime_ = 0.0f;
            pathClock_.Reset();
            SeedSnow();
            // New flakes are counted from now, not from when the scene was loaded.
            if (ParticleEmitter* snow = snowEmitter()) snow->spawnScheduler.Start();
            SceneSaverApp::UpdateScene();
            if (countsEvery > 0.0 && !PlanViews()) {
                failed = true;
                quit_ = true;
                return true;
            }
            Plan();
            return true;
        }
        SceneSaverApp::UpdateScene();
        if (shotDue_) {
            shotDue_ = false;
            if (countsEvery > 0.0 ? !Count() : !Save(shots[next_])) {
                failed = true;
                quit_ = true;
                return true;
            }
            ++next_;
            if (next_ == shots.size()) {
                if (countsEvery > 0.0) CheckTotals();
                quit_ = true;
                return true;
            }
            Plan();
            if (shotDue_) return true;  // the same time again: the next frame is the one
        }
        if (steps_.empty()) {
            std::fprintf(stderr, "rh_saver_frames: no steps left before %s\n", shots[next_].name.c_str());
            failed = true;
            quit_ = true;
            return true;
        }
        g_now += steps_.front();
        steps_.erase(steps_.begin());
        if (steps_.empty()) DueNow();
        return true;
    }

private:
    bool TimedPass() {
        SceneSaverApp::UpdateScene();
        const auto now = std::chrono::steady_clock::now();
        if (first_) {
            first_ = false;
            start_ = now;
            // The process began just before main; the first pass draws the first scene frame.
            std::printf("start-up: %.0f ms from main to the first scene frame\n",
                        std::chrono::duration<double, std::milli>(now - g_mainStart).count());
        } else {
            const double since = std::chrono::duration<double>(now - start_).count();
            if (since > 1.0) {
                if (frameMs.empty()) {
                    // The first timed frame began at the pass before: its processor time is
                    // counted from there on.
                    cpu.mainStart = lastMainCpu_;
                    cpu.processStart = lastProcessCpu_;
                }
                frameMs.push_back(std::chrono::duration<double, std::milli>(now - last_).count());
            }
            if (since > 1.0 + timedSeconds) {
                quit_ = true;
                cpu.mainMs = CpuMs(CLOCK_THREAD_CPUTIME_ID) - cpu.mainStart;
                cpu.processMs = CpuMs(CLOCK_PROCESS_CPUTIME_ID) - cpu.processStart;
            }
        }
        last_ = now;
        lastMainCpu_ = CpuMs(CLOCK_THREAD_CPUTIME_ID);
        lastProcessCpu_ = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
        return true;
    }

    std::chrono::steady_clock::time_point start_, last_;
    double lastMainCpu_ = 0.0, lastProcessCpu_ = 0.0;

    // The steps from the last shot (or the first frame) to the next shot.
    void Plan() {
        const uint32_t at = shots[next_].atMs;
        steps_ = StepsTo(at - doneMs_);
        doneMs_ = at;
        if (steps_.empty()) DueNow();
    }

    // The next frame is a shot's: the draw counters start from it.
    void DueNow() {
        shotDue_ = true;
        rh::d3d9::testing::ResetDrawCallCount(Device());
    }

    // One view every countsEvery path units from 0 to the path's end.
    bool PlanViews() {
        TimeRange range;
        if (!pathPlayer().GetTimeRange(range) || !(range.last > range.first)) {
            std::fprintf(stderr, "rh_saver_frames: the path has no time range\n");
            return false;
        }
        shots.clear();
        for (double t = 0.0; t < range.last - range.first; t += countsEvery) {
            const auto ms = static_cast<uint32_t>(std::lround(t * 100.0 / kFrameStepMs) * kFrameStepMs);
            if (shots.empty() || ms > shots.back().atMs) shots.push_back(Shot{"view", ms});
        }
        return true;
    }

    // The counts of the frame just drawn, against the view budgets.
    bool Count() {
        const UINT draws = rh::d3d9::testing::DrawCallCount(Device());
        const uint64_t triangles = rh::d3d9::testing::TriangleCount(Device());
        const bool over = draws > kMaxViewDraws || triangles > kMaxViewTriangles;
        std::printf("view at path time %7.2f: %4u draws %7llu triangles%s\n", static_cast<double>(pathTime()), draws,
                    static_cast<unsigned long long>(triangles), over ? "  OVER BUDGET" : "");
        overBudget = overBudget || over;
        maxDraws_ = std::max(maxDraws_, draws);
        maxTriangles_ = std::max(maxTriangles_, triangles);
        return true;
    }

    void CheckTotals() {
        const uint64_t cityTriangles = MeshTriangles(city().GetRoot());
        const uint64_t textureBytes = rh::d3d9::testing::LiveTextureTexels() * 4;
        std::printf("views: at most %u draws (budget %u), %llu triangles (budget %llu)\n", maxDraws_, kMaxViewDraws,
                    static_cast<unsigned long long>(maxTriangles_), static_cast<unsigned long long>(kMaxViewTriangles));
        std::printf("city: %llu triangles (budget %llu)\n", static_cast<unsigned long long>(cityTriangles),
                    static_cast<unsigned long long>(kMaxCityTriangles));
        std::printf("textures alive: %.1f MB decoded with their mip-maps (budget %llu MB)\n",
                    static_cast<double>(textureBytes) / (1024.0 * 1024.0),
                    static_cast<unsigned long long>(kMaxTextureBytes >> 20));
        std::printf("geometry alive: %.1f MB in vertex and index buffers\n",
                    static_cast<double>(rh::d3d9::testing::LiveBufferBytes()) / (1024.0 * 1024.0));
        if (cityTriangles > kMaxCityTriangles || textureBytes > kMaxTextureBytes) overBudget = true;
    }

    UINT maxDraws_ = 0;
    uint64_t maxTriangles_ = 0;

    bool Save(const Shot& shot) {
        std::vector<DWORD> pixels;
        RECT rect{0, 0, kWidth, kHeight};
        if (GetRenderRect().right != kWidth || GetRenderRect().bottom != kHeight ||
            !rh::d3d9::testing::ReadBackBuffer(Device(), rect, &pixels)) {
            std::fprintf(stderr, "rh_saver_frames: no %dx%d frame to read (render size %dx%d)\n", kWidth, kHeight,
                         static_cast<int>(GetRenderRect().right), static_cast<int>(GetRenderRect().bottom));
            return false;
        }
        const std::string file = outDir + "/" + shot.name + ".png";
        if (!rh::testing::WritePngFile(file, kWidth, kHeight, std::vector<uint32_t>(pixels.begin(), pixels.end()))) {
            std::fprintf(stderr, "rh_saver_frames: cannot write %s\n", file.c_str());
            return false;
        }
        std::printf("%s  path time %.2f\n", file.c_str(), static_cast<double>(pathTime()));
        return true;
    }

    bool first_ = true;
    bool shotDue_ = false;
    size_t next_ = 0;
    uint32_t doneMs_ = 0;
    std::vector<uint32_t> steps_;
};

bool PrintFrameTimes(std::vector<double> ms, const CpuUse& cpu, const std::string& path, int shaders, int snow) {
    if (ms.empty()) {
        std::fprintf(stderr, "rh_saver_frames: no frames timed\n");
        return false;
    }
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[std::min(ms.size() - 1, static_cast<size_t>(q * static_cast<double>(ms.size())))]; };
    double sum = 0.0;
    for (double m : ms) sum += m;
    std::printf("%s shaders %d snow %d: %zu frames, ms p5 %.2f median %.2f p95 %.2f mean %.2f (%.1f fps median)\n",
                path.c_str(), shaders, snow, ms.size(), at(0.05), at(0.5), at(0.95), sum / static_cast<double>(ms.size()),
                1000.0 / at(0.5));
    const double frames = static_cast<double>(ms.size());
    std::printf("%s shaders %d snow %d: processor ms per frame: main thread %.2f, process %.2f\n", path.c_str(),
                shaders, snow, cpu.mainMs / frames, cpu.processMs / frames);
    return true;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: rh_saver_frames --out DIR --path NAME.cam [--shaders 0|1] [--snow 0|1|2] NAME@TIME ...\n"
                 "       rh_saver_frames --frame-times SECONDS --path NAME.cam [--shaders 0|1] [--snow 0|1|2]\n"
                 "       rh_saver_frames --counts-every UNITS --path NAME.cam [--shaders 0|1] [--snow 0|1|2]\n");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    g_mainStart = std::chrono::steady_clock::now();
    std::string outDir, path;
    int shaders = 1, snow = 1;
    std::vector<Shot> shots;
    double timedSeconds = 0.0;
    double countsEvery = 0.0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--out" || arg == "--path" || arg == "--shaders" || arg == "--snow" || arg == "--frame-times" ||
             arg == "--counts-every") &&
            i + 1 < argc) {
            const std::string value = argv[++i];
            if (arg == "--frame-times") timedSeconds = std::atof(value.c_str());
            if (arg == "--counts-every") countsEvery = std::atof(value.c_str());
            if (arg == "--out") outDir = value;
            if (arg == "--path") path = value;
            if (arg == "--shaders") shaders = std::atoi(value.c_str());
            if (arg == "--snow") snow = std::atoi(value.c_str());
            continue;
        }
        const size_t at = arg.find('@');
        if (at == std::string::npos || at == 0) return Usage();
        const double time = std::atof(arg.c_str() + at + 1);
        const long ms = std::lround(time * 100.0 / kFrameStepMs) * static_cast<long>(kFrameStepMs);
        if (!(time >= 0.0) || (!shots.empty() && static_cast<uint32_t>(ms) < shots.back().atMs)) return Usage();
        shots.push_back(Shot{arg.substr(0, at), static_cast<uint32_t>(ms)});
    }
    if (path.empty() || snow < 0 || snow > 2) return Usage();
    if (countsEvery > 0.0) {
        if (timedSeconds > 0.0 || !shots.empty()) return Usage();
        shots.push_back(Shot{"view", 0});  // replaced by the views once the path is known
    } else if (timedSeconds <= 0.0 && (outDir.empty() || shots.empty())) {
        return Usage();
    }
    char absolute[4096];
    if (!outDir.empty() && outDir[0] != '/' && getcwd(absolute, sizeof absolute) != nullptr) outDir = std::string(absolute) + "/" + outDir;

    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/rh_saver_frames_XXXXXX";
    std::vector<char> scratchName(pattern.begin(), pattern.end());
    scratchName.push_back('\0');
    if (mkdtemp(scratchName.data()) == nullptr || chdir(scratchName.data()) != 0) {
        std::fprintf(stderr, "rh_saver_frames: no scratch folder\n");
        return 1;
    }
    const std::string scratch = scratchName.data();
    const std::string settings = SettingsWithOnePath(path);
    const std::string registry =
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\LARCHMERE Studio\\Glintwold 3D ScreenSaver]\n"
        "\"UseShaders\"=dword:0000000" + std::to_string(shaders != 0 ? 1 : 0) +
        "\n\"SnowQuality\"=dword:0000000" + std::to_string(snow) +
        "\n\"UseDesktop\"=dword:00000000\n\"Width\"=dword:00000400\n\"Height\"=dword:00000300\n"
        "\"Music\"=dword:00000000\n";
    if (settings.empty() || !WriteText(scratch + "/CustomData/settings.txt", settings) ||
        !WriteText(scratch + "/config/rimeholt/registry", registry)) {
        std::fprintf(stderr, "rh_saver_frames: cannot write the settings\n");
        return 1;
    }
    // Temporary files one folder down, and the working folder's time set back: a folder changed
    // in the last few seconds has its names scanned at every disk look-up, which a user's
    // working folder never has, and the start-up figure would count it.
    const std::string temporary = scratch + "/tmp";
    const timespec past[2] = {{time(nullptr) - 60, 0}, {time(nullptr) - 60, 0}};
    if (mkdir(temporary.c_str(), 0700) != 0 || utimensat(AT_FDCWD, scratch.c_str(), past, 0) != 0) {
        std::fprintf(stderr, "rh_saver_frames: cannot prepare the scratch folder\n");
        return 1;
    }
    setenv("XDG_CONFIG_HOME", (scratch + "/config").c_str(), 1);
    setenv("TMPDIR", temporary.c_str(), 1);
    setenv("RIMEHOLT_LOCAL_TIME", "21:47:05", 1);

    int status = 1;
    {
        // The start-up's timed loops (the loading picture's fade) need a clock that moves.
        g_step = 5;
        if (timedSeconds <= 0.0) SetClockSource(TestClock);
        SeedRandomFromClock();
        FrameGrabber app;
        app.shots = shots;
        app.outDir = outDir;
        app.timedSeconds = timedSeconds;
        app.countsEvery = countsEvery;
        if (app.Create(nullptr, SaverMode::FullScreen, 0)) {
            g_step = 0;
            app.Run();
            status = app.failed || app.overBudget ? 1 : 0;
            if (timedSeconds > 0.0) status = PrintFrameTimes(app.frameMs, app.cpu, path, shaders, snow) ? 0 : 1;
        } else {
            std::fprintf(stderr, "rh_saver_frames: the saver did not start\n");
        }
    }
    SetClockSource(nullptr);
    std::system(("rm -rf '" + scratch + "'").c_str());
    return status;
}
