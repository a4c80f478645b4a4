// One whole frame of the saver at 1024 x 768 as it runs: the scene application's update (music
// fade, snow generator, clean-up, lamp blink) and the frame (sky, city through the queue,
// planes, lamps, snow, fade, labels), presented, on whatever renderer the process gets (Mesa's
// llvmpipe under the tests' settings). Rows: snow quality 0, 1 and 2 with shaders, and 1
// without. The application is made once per row from the program's own resources; the camera
// flies its paths on the real clock, so frames differ as the saver's do.
//
// Run by hand: SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=dummy LIBGL_ALWAYS_SOFTWARE=1
// .build/release/bench/rh_scene_frame_bench
#include "saver/scene_saver_app.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <stdlib.h>
#include <unistd.h>

namespace {

class BenchScene : public SceneSaverApp {
public:
    void Frame() {
        input().UpdateInputState(0);
        freeCamera().Update();
        UpdateScene();
        RenderFrame();
    }
};

void WriteRegistry(const std::string& folder, int snowQuality, bool shaders) {
    const std::string dir = folder + "/rimeholt";
    std::system(("mkdir -p '" + dir + "'").c_str());
    FILE* out = std::fopen((dir + "/registry").c_str(), "w");
    if (out == nullptr) std::abort();
    std::fprintf(out,
                 "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\LARCHMERE Studio\\Glintwold 3D ScreenSaver]\n"
                 "\"UseDesktop\"=dword:00000000\n\"Width\"=dword:00000400\n\"Height\"=dword:00000300\n"
                 "\"SnowQuality\"=dword:%08x\n\"UseShaders\"=dword:%08x\n\"ShowFps\"=dword:00000001\n",
                 snowQuality, shaders ? 1 : 0);
    std::fclose(out);
}

void BM_SceneFrame(benchmark::State& state) {
    char folder[] = "/tmp/rh_scene_frame_XXXXXX";
    if (mkdtemp(folder) == nullptr) std::abort();
    setenv("XDG_CONFIG_HOME", folder, 1);
    setenv("TMPDIR", folder, 1);
    WriteRegistry(folder, static_cast<int>(state.range(0)), state.range(1) != 0);
    auto* app = new BenchScene;
    if (!app->Create(nullptr, SaverMode::FullScreen, 0)) {
        state.SkipWithError("the saver did not start");
        delete app;
        return;
    }
    const Rect render = app->GetRenderRect();
    state.SetLabel(std::to_string(render.right) + "x" + std::to_string(render.bottom));
    for (int i = 0; i < 10; ++i) app->Frame();  // the first frames compile, fill caches
    for (auto _ : state) app->Frame();
    app->ShutdownSound();
    delete app;
    std::system((std::string("rm -rf '") + folder + "'").c_str());
}

}  // namespace

BENCHMARK(BM_SceneFrame)
    ->Args({0, 1})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Args({1, 0})
    ->ArgNames({"snow", "shaders"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
