// The saver's clock label's per-frame work: SetText("12:34:56") and the update that follows
// (parse, layout, glyph boxes, batches, vertex writes into the locked blocks), with the baked
// 64-pixel font on an offscreen device. The saver sets the clock's text every frame, so this is
// what a frame pays for it; the target is at most 50 microseconds an update.
//
// Run by hand: rh_rich_text_bench (SDL offscreen, llvmpipe).
#include "gui/font_manager.h"
#include "gui/gui_root.h"
#include "gui/rich_text_view.h"
#include "render/app_framework.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

LRESULT CALLBACK BenchProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (g_appFramework != nullptr) return g_appFramework->MsgProc(hwnd, msg, wParam, lParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class BenchApp : public AppFramework {
public:
    bool Open() {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        WNDCLASSA wc{};
        wc.lpfnWndProc = BenchProc;
        wc.lpszClassName = "RichTextBench";
        RegisterClassA(&wc);
        hwnd_ = CreateWindowExA(0, wc.lpszClassName, "bench", WS_POPUP | WS_VISIBLE, 0, 0, 1024, 768, nullptr,
                                nullptr, nullptr, nullptr);
        return hwnd_ != nullptr && Create(nullptr, hwnd_) && RecreateDevice(false);
    }
    ~BenchApp() override {
        ReleaseDevice();
        if (hwnd_ != nullptr) DestroyWindow(hwnd_);
    }

private:
    HWND hwnd_ = nullptr;
};

void BM_ClockUpdate(benchmark::State& state) {
    BenchApp app;
    if (!app.Open()) {
        state.SkipWithError("no device");
        return;
    }
    g_fontManager.Paths().Add(FileRef(RIMEHOLT_MEDIA_DIR "/Media/Fonts"));
    if (g_fontManager.LoadFont(FileRef("64font.fs")).Failed()) {
        state.SkipWithError("the baked font did not load");
        return;
    }
    {
        RichTextView clock;
        FontStyle style;
        style.size = 64;
        style.background = ArgbColor(0.0f, 0.0f, 0.0f, 0.0f);
        clock.SetStyle(style);
        clock.SetRect(724, 694, 300, 74);
        clock.Show();
        int64_t glyphs = 0;
        for (auto _ : state) {
            clock.SetText(u"12:34:56");
            benchmark::DoNotOptimize(clock.OnUpdate());
            glyphs += static_cast<int64_t>(clock.glyphRows().empty() ? 0 : clock.glyphRows()[0].size());
        }
        state.counters["glyphs"] = benchmark::Counter(static_cast<double>(glyphs), benchmark::Counter::kAvgIterations);
        clock.Hide();
    }
}
BENCHMARK(BM_ClockUpdate)->Unit(benchmark::kMicrosecond)->Iterations(20000)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
