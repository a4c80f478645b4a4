// Frames per second of Clear + Present through the Direct3D layer against a plain SDL2 + GL
// loop doing the same clear and swap, in the same run, offscreen, without vertical sync; and
// the cost of a render-state change on the device. With argument 1 each frame also reads one
// pixel back: Mesa's software rasteriser defers a clear until something needs the pixels, so
// only then is the clear itself measured.
#include <benchmark/benchmark.h>

#include "platform/d3d9/d3d9_testing.h"

#include "bench/bench_device.h"

#include <d3d9.h>
#include <windows.h>

#include <SDL.h>
#include <SDL_opengl.h>

#include <cstdlib>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

void Offscreen() { setenv("SDL_VIDEODRIVER", "offscreen", 0); }

// A window and a windowed device with a D24S8 depth buffer, presenting immediately.
struct LayerDevice : bench::BenchDevice {
    LayerDevice() : BenchDevice("D3D9Bench", kWidth, kHeight, true) {}
};

void BM_LayerClearPresent(benchmark::State& state) {
    LayerDevice layer;
    if (layer.device == nullptr) {
        state.SkipWithError("no Direct3D device");
        return;
    }
    const bool readBack = state.range(0) != 0;
    std::vector<DWORD> pixel;
    DWORD colour = 0;
    for (auto _ : state) {
        layer.device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000 | (colour++ & 0xFF), 1.0f, 0);
        if (readBack) rh::d3d9::testing::ReadBackBuffer(layer.device, RECT{0, 0, 1, 1}, &pixel);
        layer.device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LayerClearPresent)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_PlainSdlGlClearSwap(benchmark::State& state) {
    Offscreen();
    SDL_InitSubSystem(SDL_INIT_VIDEO);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_Window* window = SDL_CreateWindow("plain", 0, 0, kWidth, kHeight, SDL_WINDOW_OPENGL);
    SDL_GLContext context = window != nullptr ? SDL_GL_CreateContext(window) : nullptr;
    if (context == nullptr) {
        state.SkipWithError("no GL context");
        if (window != nullptr) SDL_DestroyWindow(window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return;
    }
    SDL_GL_SetSwapInterval(0);
    auto clearColor = reinterpret_cast<void(APIENTRY*)(GLclampf, GLclampf, GLclampf, GLclampf)>(
        SDL_GL_GetProcAddress("glClearColor"));
    auto clear = reinterpret_cast<void(APIENTRY*)(GLbitfield)>(SDL_GL_GetProcAddress("glClear"));
    auto readPixels = reinterpret_cast<void(APIENTRY*)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, GLvoid*)>(
        SDL_GL_GetProcAddress("glReadPixels"));
    const bool readBack = state.range(0) != 0;
    unsigned pixel = 0;
    unsigned colour = 0;
    for (auto _ : state) {
        clearColor(0.0f, 0.0f, static_cast<float>(colour++ & 0xFF) / 255.0f, 1.0f);
        clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        if (readBack) readPixels(0, kHeight - 1, 1, 1, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, &pixel);
        SDL_GL_SwapWindow(window);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}
BENCHMARK(BM_PlainSdlGlClearSwap)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);

// What the engine's state cache saves a call of: validation, compare, store, dirty mark.
void BM_LayerSetRenderState(benchmark::State& state) {
    LayerDevice layer;
    if (layer.device == nullptr) {
        state.SkipWithError("no Direct3D device");
        return;
    }
    DWORD value = 0;
    for (auto _ : state) {
        layer.device->SetRenderState(D3DRS_ALPHAREF, value++ & 0xFF);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LayerSetRenderState);

}  // namespace

BENCHMARK_MAIN();
