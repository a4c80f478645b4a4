// The render-state cache against direct device calls: 1000 render states per frame, most of
// them repeats of the frame before (as materials and the render queue set them on every draw),
// on the real Direct3D layer over an offscreen OpenGL context. Run with
// SDL_VIDEODRIVER=offscreen when no display is wanted.
#include "render/app_framework.h"
#include "render/state_cache.h"

#include <benchmark/benchmark.h>

#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

struct StateWrite {
    D3DRENDERSTATETYPE state;
    DWORD value;
};

// 1000 writes over 40 render states; one write in 20 changes a value from frame to frame.
std::vector<StateWrite> FrameWrites(int frame) {
    static const D3DRENDERSTATETYPE kStates[] = {
        D3DRS_ZENABLE,          D3DRS_FILLMODE,         D3DRS_SHADEMODE,       D3DRS_ZWRITEENABLE,
        D3DRS_ALPHATESTENABLE,  D3DRS_SRCBLEND,         D3DRS_DESTBLEND,       D3DRS_CULLMODE,
        D3DRS_ZFUNC,            D3DRS_ALPHAREF,         D3DRS_ALPHAFUNC,       D3DRS_DITHERENABLE,
        D3DRS_ALPHABLENDENABLE, D3DRS_FOGENABLE,        D3DRS_SPECULARENABLE,  D3DRS_FOGCOLOR,
        D3DRS_FOGTABLEMODE,     D3DRS_FOGSTART,         D3DRS_FOGEND,          D3DRS_FOGDENSITY,
        D3DRS_RANGEFOGENABLE,   D3DRS_STENCILENABLE,    D3DRS_STENCILFAIL,     D3DRS_STENCILZFAIL,
        D3DRS_STENCILPASS,      D3DRS_STENCILFUNC,      D3DRS_STENCILREF,      D3DRS_STENCILMASK,
        D3DRS_STENCILWRITEMASK, D3DRS_TEXTUREFACTOR,    D3DRS_LIGHTING,        D3DRS_AMBIENT,
        D3DRS_FOGVERTEXMODE,    D3DRS_COLORVERTEX,      D3DRS_NORMALIZENORMALS, D3DRS_DIFFUSEMATERIALSOURCE,
        D3DRS_POINTSIZE,        D3DRS_POINTSPRITEENABLE, D3DRS_COLORWRITEENABLE, D3DRS_BLENDOP,
    };
    constexpr int kStateCount = sizeof(kStates) / sizeof(kStates[0]);
    std::vector<StateWrite> writes;
    writes.reserve(1000);
    for (int i = 0; i < 1000; ++i) {
        const D3DRENDERSTATETYPE state = kStates[i % kStateCount];
        const bool changes = i % 20 == 0;
        writes.push_back({state, static_cast<DWORD>(changes ? frame & 1 : 1)});
    }
    return writes;
}

LRESULT CALLBACK BenchProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (g_appFramework != nullptr) return g_appFramework->MsgProc(hwnd, msg, wParam, lParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// A windowed device on the real layer for the whole run (a windowed device is never lost).
class BenchApp : public AppFramework {
public:
    bool Open() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = BenchProc;
        wc.lpszClassName = "StateCacheBench";
        RegisterClassA(&wc);
        hwnd_ = CreateWindowExA(0, wc.lpszClassName, "bench", WS_POPUP | WS_VISIBLE, 0, 0, 640, 480, nullptr,
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

BenchApp* Device() {
    static BenchApp* app = [] {
        auto* a = new BenchApp;
        if (!a->Open()) {
            std::fprintf(stderr, "no Direct3D device on this system\n");
            delete a;
            return static_cast<BenchApp*>(nullptr);
        }
        return a;
    }();
    return app;
}

void BM_RenderStatesThroughCache(benchmark::State& state) {
    if (Device() == nullptr) return state.SkipWithError("no device");
    const std::vector<StateWrite> frames[2] = {FrameWrites(0), FrameWrites(1)};
    InvalidateStateCache();
    int frame = 0;
    for (auto _ : state) {
        for (const StateWrite& w : frames[frame & 1]) StateCache::SetRenderState(w.state, w.value);
        ++frame;
    }
    state.SetItemsProcessed(state.iterations() * 1000);
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderStatesThroughCache);

void BM_RenderStatesDirect(benchmark::State& state) {
    if (Device() == nullptr) return state.SkipWithError("no device");
    const std::vector<StateWrite> frames[2] = {FrameWrites(0), FrameWrites(1)};
    int frame = 0;
    for (auto _ : state) {
        for (const StateWrite& w : frames[frame & 1]) g_device->SetRenderState(w.state, w.value);
        ++frame;
    }
    state.SetItemsProcessed(state.iterations() * 1000);
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderStatesDirect);

// The same frames with a clear and present each, so the states' share of a real frame shows.
template <bool kCached>
void BM_FrameWithStates(benchmark::State& state) {
    if (Device() == nullptr) return state.SkipWithError("no device");
    const std::vector<StateWrite> frames[2] = {FrameWrites(0), FrameWrites(1)};
    InvalidateStateCache();
    int frame = 0;
    for (auto _ : state) {
        Device()->CheckDevice();
        g_device->BeginScene();
        for (const StateWrite& w : frames[frame & 1]) {
            if (kCached) {
                StateCache::SetRenderState(w.state, w.value);
            } else {
                g_device->SetRenderState(w.state, w.value);
            }
        }
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF204060, 1.0f, 0);
        g_device->EndScene();
        if (g_device->Present(nullptr, nullptr, nullptr, nullptr) != D3D_OK) return state.SkipWithError("Present failed");
        ++frame;
    }
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK_TEMPLATE(BM_FrameWithStates, true)->Name("BM_ClearPresentWithStates/cached");
BENCHMARK_TEMPLATE(BM_FrameWithStates, false)->Name("BM_ClearPresentWithStates/direct");

}  // namespace

BENCHMARK_MAIN();
