// GuiRoot::Draw of 50 top-level windows of 9 quads each (a nine-part frame: half of the
// windows opaque with one shared material, so their 225 quads are one mesh and one draw; half
// translucent, one mesh each, drawn back to front) against what a user would write instead:
// the same quads written each frame into one dynamic vertex buffer and drawn with one
// DrawPrimitive per window (immediate mode as the layer offers it: it has no DrawPrimitiveUP),
// with the same states, on the same device, giving the same frame.
//
// BM_GuiDrawAgainstImmediate interleaves the two (rounds of frames each, the order swapped
// every round) and reports the ratio GUI / immediate of every round's mean frame time: median,
// least and greatest. Counters also give both draw-call counts per frame.
//
// Run by hand: rh_gui_draw_bench (SDL offscreen, llvmpipe).
#include "gui/gui_root.h"
#include "gui/gui_window.h"
#include "render/app_framework.h"
#include "render/geometry.h"
#include "render/material.h"
#include "render/mesh.h"
#include "render/state_cache.h"

#include "platform/d3d9/d3d9_testing.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kWindows = 50;
constexpr int kTiles = 9;

struct Vertex {
    float x, y, z;
    DWORD colour;
};

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
        wc.lpszClassName = "GuiDrawBench";
        RegisterClassA(&wc);
        hwnd_ = CreateWindowExA(0, wc.lpszClassName, "bench", WS_POPUP | WS_VISIBLE, 0, 0, kWidth, kHeight,
                                nullptr, nullptr, nullptr, nullptr);
        return hwnd_ != nullptr && Create(nullptr, hwnd_) && RecreateDevice(false);
    }
    ~BenchApp() override {
        ReleaseDevice();
        if (hwnd_ != nullptr) DestroyWindow(hwnd_);
    }

private:
    HWND hwnd_ = nullptr;
};

// The nine quads of window w: a frame of corners, edges and a middle, in screen pixels.
void WindowQuads(int w, Vertex* out, bool translucent) {
    const float left = static_cast<float>(10 + (w % 10) * 60);
    const float top = static_cast<float>(10 + (w / 10) * 90);
    const float edge = 8.0f, size = 80.0f;
    const float xs[4] = {left, left + edge, left + size - edge, left + size};
    const float ys[4] = {top, top + edge, top + size - edge, top + size};
    const DWORD alpha = translucent ? 0x80000000u : 0xFF000000u;
    for (int t = 0; t < kTiles; ++t) {
        const int cx = t % 3, cy = t / 3;
        const DWORD colour = alpha | static_cast<DWORD>(((w * 2654435761u) ^ (t * 40503u)) & 0x00FFFFFF);
        const float l = xs[cx] - 0.5f, r = xs[cx + 1] - 0.5f, tp = ys[cy] - 0.5f, b = ys[cy + 1] - 0.5f;
        const float z = translucent ? 0.2f : 0.8f;
        const Vertex v[6] = {{l, tp, z, colour}, {r, tp, z, colour}, {l, b, z, colour},
                             {r, tp, z, colour}, {r, b, z, colour}, {l, b, z, colour}};
        std::memcpy(out + t * 6, v, sizeof v);
    }
}

struct Block : BufferBlockUser {
    int window = 0;
    bool translucent = false;
    BufferBlock* block = nullptr;
    bool OnBlockMoved(BufferBlock* moved) override { return Write(moved); }
    bool Write(BufferBlock* target) {
        Vertex v[kTiles * 6];
        WindowQuads(window, v, translucent);
        void* data = nullptr;
        if (!target->Lock(0, &data)) return false;
        std::memcpy(data, v, sizeof v);
        return target->Unlock();
    }
};

void SetUpMaterial(MultiMaterial& m, RenderContext* context, bool alpha) {
    SubMaterial& s = m.sub(0);
    s.vertexColor = true;
    s.vertexAlpha = alpha;
    s.blendEnable = alpha;
    s.srcBlend = D3DBLEND_SRCALPHA;
    s.destBlend = D3DBLEND_INVSRCALPHA;
    s.cullMode = D3DCULL_NONE;
    m.SetRenderContext(context);
}

struct Scene {
    RenderContext context;
    std::vector<std::unique_ptr<GuiWindow>> windows;
    std::vector<std::unique_ptr<MultiMaterial>> materials;
    std::vector<std::unique_ptr<Block>> blocks;
    std::vector<Mesh*> meshes;
    std::vector<std::vector<Vertex>> immediate;
    IDirect3DVertexBuffer9* dynamic = nullptr;
    bool ok = true;

    Scene() {
        GeometryDesc desc;
        desc.format.SetFromFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
        desc.streams[0].format = desc.format;
        desc.streams[0].stride = sizeof(Vertex);
        desc.streams[0].size = static_cast<int32_t>(sizeof(Vertex)) * kTiles * 6 * kWindows;
        for (int w = 0; w < kWindows; ++w) {
            const bool translucent = w % 2 == 1;
            auto window = std::make_unique<GuiWindow>();
            window->SetRect(10 + (w % 10) * 60, 10 + (w / 10) * 90, 80, 80);
            window->Show();
            auto material = std::make_unique<MultiMaterial>();
            SetUpMaterial(*material, &context, translucent);
            Mesh* mesh = g_guiRoot.CreateRenderGroup(window.get(), desc, material.get());
            auto block = std::make_unique<Block>();
            block->window = w;
            block->translucent = translucent;
            if (mesh != nullptr) {
                block->block = mesh->GetGeometry().Get()->streamBuffer(0)->AllocateBlock(
                    static_cast<int32_t>(sizeof(Vertex)) * kTiles * 6, 0, block.get());
            }
            ok = ok && mesh != nullptr && block->block != nullptr && block->Write(block->block);
            std::vector<Vertex> v(kTiles * 6);
            WindowQuads(w, v.data(), translucent);
            immediate.push_back(std::move(v));
            windows.push_back(std::move(window));
            materials.push_back(std::move(material));
            blocks.push_back(std::move(block));
            meshes.push_back(mesh);
        }
        ok = ok && g_device->CreateVertexBuffer(sizeof(Vertex) * kTiles * 6 * kWindows,
                                                D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                                D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPOOL_DEFAULT,
                                                &dynamic, nullptr) == D3D_OK;
        context.world = IdentityMatrix();
        context.view = IdentityMatrix();
        TypedMatrix p = IdentityMatrix();
        p.At(0, 0) = 1.0f / (kWidth * 0.5f);
        p.At(1, 1) = -1.0f / (kHeight * 0.5f);
        p.At(3, 0) = -1.0f;
        p.At(3, 1) = 1.0f;
        p.kind = kMatrixGeneral;
        context.projection = p;
    }
    ~Scene() {
        if (dynamic != nullptr) dynamic->Release();
        for (int w = 0; w < kWindows; ++w) {
            if (blocks[w]->block != nullptr) blocks[w]->block->Free();
            g_guiRoot.ReleaseRenderGroup(windows[w].get(), meshes[w], materials[w].get());
            windows[w]->Hide();
        }
    }
};

void BeginFrame() {
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030, 1.0f, 0);
    g_device->BeginScene();
}

// The frame is finished when a pixel of it is read back (the whole frame when asked).
std::vector<DWORD> g_lastFrame;
bool g_keepFrame = false;
void EndFrame() {
    std::vector<DWORD> pixel;
    rh::d3d9::testing::ReadBackBuffer(g_device, g_keepFrame ? RECT{0, 0, kWidth, kHeight} : RECT{0, 0, 1, 1},
                                      &pixel);
    if (g_keepFrame) g_lastFrame = pixel;
    g_device->EndScene();
}

void DrawGui() {
    BeginFrame();
    g_guiRoot.Draw();
    EndFrame();
}

// The immediate-mode peer: opaque windows first, then the translucent ones back to front
// (the GUI root's order), each one DrawPrimitive from the frame's vertices, states set
// directly.
void DrawImmediate(const Scene& scene) {
    BeginFrame();
    const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    g_device->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity));
    g_device->SetTransform(D3DTS_VIEW, reinterpret_cast<const D3DMATRIX*>(identity));
    g_device->SetTransform(D3DTS_PROJECTION, reinterpret_cast<const D3DMATRIX*>(scene.context.projection.m));
    g_device->SetRenderState(D3DRS_LIGHTING, FALSE);
    g_device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    g_device->SetRenderState(D3DRS_ZENABLE, TRUE);
    void* data = nullptr;
    if (scene.dynamic->Lock(0, 0, &data, D3DLOCK_DISCARD) == D3D_OK) {
        for (int w = 0; w < kWindows; ++w) {
            std::memcpy(static_cast<Vertex*>(data) + w * kTiles * 6, scene.immediate[w].data(),
                        sizeof(Vertex) * kTiles * 6);
        }
        scene.dynamic->Unlock();
    }
    g_device->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    g_device->SetStreamSource(0, scene.dynamic, 0, sizeof(Vertex));
    g_device->SetTexture(0, nullptr);
    g_device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    g_device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    g_device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    g_device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
    // Windows shown later lie in front: the translucent ones go in the order they were made.
    for (int pass = 0; pass < 2; ++pass) {
        for (int w = pass; w < kWindows; w += 2) {
            const bool translucent = pass == 1;
            g_device->SetRenderState(D3DRS_ALPHABLENDENABLE, translucent ? TRUE : FALSE);
            g_device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
            g_device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
            g_device->DrawPrimitive(D3DPT_TRIANGLELIST, static_cast<UINT>(w * kTiles * 6), kTiles * 2);
        }
    }
    EndFrame();
    InvalidateStateCache();
}

double TimeFrames(bool gui, const Scene& scene, int frames) {
    const auto start = std::chrono::steady_clock::now();
    for (int f = 0; f < frames; ++f) {
        if (gui) {
            DrawGui();
        } else {
            DrawImmediate(scene);
        }
    }
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / frames;
}

void BM_GuiDrawAgainstImmediate(benchmark::State& state) {
    static BenchApp* app = [] {
        auto* a = new BenchApp;
        if (!a->Open()) {
            delete a;
            return static_cast<BenchApp*>(nullptr);
        }
        return a;
    }();
    if (app == nullptr) return state.SkipWithError("no device");
    const int rounds = static_cast<int>(state.range(0));
    const int frames = static_cast<int>(state.range(1));
    Scene scene;
    if (!scene.ok) return state.SkipWithError("scene not made");
    // Draw calls per frame of each, and whether the frames agree.
    g_keepFrame = true;
    rh::d3d9::testing::ResetDrawCallCount(g_device);
    DrawGui();
    const double guiDraws = rh::d3d9::testing::DrawCallCount(g_device);
    const std::vector<DWORD> guiFrame = g_lastFrame;
    rh::d3d9::testing::ResetDrawCallCount(g_device);
    DrawImmediate(scene);
    const double immediateDraws = rh::d3d9::testing::DrawCallCount(g_device);
    g_keepFrame = false;
    double differing = 0;
    for (size_t i = 0; i < guiFrame.size() && i < g_lastFrame.size(); ++i) differing += guiFrame[i] != g_lastFrame[i];
    if (guiFrame.empty() || guiFrame.size() != g_lastFrame.size()) differing = -1;
    std::vector<double> ratios;
    double guiMs = 0, immMs = 0;
    for (auto _ : state) {
        TimeFrames(true, scene, 3);
        TimeFrames(false, scene, 3);
        for (int r = 0; r < rounds; ++r) {
            double g, i;
            if (r % 2 == 0) {
                g = TimeFrames(true, scene, frames);
                i = TimeFrames(false, scene, frames);
            } else {
                i = TimeFrames(false, scene, frames);
                g = TimeFrames(true, scene, frames);
            }
            ratios.push_back(g / i);
            guiMs += g;
            immMs += i;
        }
    }
    std::sort(ratios.begin(), ratios.end());
    state.counters["ratio_median"] = ratios[ratios.size() / 2];
    state.counters["ratio_min"] = ratios.front();
    state.counters["ratio_max"] = ratios.back();
    state.counters["gui_ms"] = guiMs / static_cast<double>(ratios.size());
    state.counters["immediate_ms"] = immMs / static_cast<double>(ratios.size());
    state.counters["gui_draws"] = guiDraws;
    state.counters["differing_pixels"] = differing;
    state.counters["immediate_draws"] = immediateDraws;
}
BENCHMARK(BM_GuiDrawAgainstImmediate)->Args({20, 20})->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
