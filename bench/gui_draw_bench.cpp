// GuiRoot::Draw of 50 skin windows of 9 tiles each (a nine-part frame; half of the windows
// opaque with one shared material, so their 225 tiles are one mesh and one draw; half
// translucent through alpha mode 1 and opacity 0.5, a mesh and a draw per tile, back to front)
// against what a user would write instead: a raw OpenGL loop over the same quads in one vertex
// buffer object, making the same draws (one for the opaque tiles, one per translucent tile) and
// binding each texture when it changes, with the same blending and depth test.
//
// BM_GuiDrawAgainstRawGl interleaves the two (rounds of frames each, the order swapped every
// round) and reports the ratio GUI / raw of every round's mean frame time, real and processor
// time: median, least and greatest. Counters also give the GUI's draws per frame against the
// tiles drawn, and how many pixels of the two frames differ by more than 4.
//
// Run by hand: rh_gui_draw_bench (SDL offscreen, llvmpipe); RH_BENCH_PICTURES=DIR writes both
// frames as PNG files.
#include "gui/gui_root.h"
#include "gui/skin_window.h"
#include "render/app_framework.h"
#include "render/texture.h"

#include "platform/d3d9/d3d9_testing.h"
#include "tests/support/png_file.h"

#include <benchmark/benchmark.h>

#include "bench/raw_gl.h"

#include <SDL.h>
#include <SDL_opengl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kWindows = 50;
constexpr int kTiles = 9;

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

DWORD StoneTexel(int x, int y) { return ((x / 4 + y / 4) % 2 == 0) ? 0xFF708090u : 0xFF506070u; }
DWORD GlassTexel(int x, int y) { return ((x + y) % 8 < 4) ? 0xFF80C0FFu : 0xFFFFFFFFu; }
constexpr int kPicture = 16;

std::vector<DWORD> PictureOf(DWORD (*texel)(int, int)) {
    std::vector<DWORD> out;
    for (int y = 0; y < kPicture; ++y) {
        for (int x = 0; x < kPicture; ++x) out.push_back(texel(x, y));
    }
    return out;
}

std::unique_ptr<Texture> MakeTexture(DWORD (*texel)(int, int)) {
    auto texture = std::make_unique<Texture>();
    if (!texture->CreateEmpty(0, kPicture, kPicture, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, false, false)) {
        return nullptr;
    }
    D3DLOCKED_RECT locked{};
    if (!texture->LockLevel(0, 0, &locked)) return nullptr;
    const std::vector<DWORD> pixels = PictureOf(texel);
    for (int y = 0; y < kPicture; ++y) {
        std::memcpy(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch, &pixels[static_cast<size_t>(y) * kPicture],
                    kPicture * 4);
    }
    texture->UnlockLevel(0);
    return texture;
}

// Window w's place and the nine tile rectangles of a frame: 8-pixel corners and edges.
Rect WindowRect(int w) { return Rect(10 + (w % 10) * 60, 10 + (w / 10) * 90, 80, 80); }
Rect TileRect(int t) {
    const int xs[4] = {0, 8, 72, 80};
    const int cx = t % 3, cy = t / 3;
    return Rect(xs[cx], xs[cy], xs[cx + 1] - xs[cx], xs[cy + 1] - xs[cy]);
}

struct GuiScene {
    std::unique_ptr<Texture> stone = MakeTexture(StoneTexel);
    std::unique_ptr<Texture> glass = MakeTexture(GlassTexel);
    std::vector<std::unique_ptr<SkinWindow>> windows;
    bool ok = false;

    GuiScene() {
        if (stone == nullptr || glass == nullptr) return;
        for (int w = 0; w < kWindows; ++w) {
            const bool translucent = w % 2 == 1;
            auto window = std::make_unique<SkinWindow>();
            const Rect r = WindowRect(w);
            window->SetRect(r.left, r.top, r.right, r.bottom);
            for (int t = 0; t < kTiles; ++t) {
                auto* tile = new ImageTile();
                tile->SetName(String(std::to_string(t).c_str()));
                tile->SetTexture(translucent ? glass.get() : stone.get());
                const Rect tr = TileRect(t);
                tile->SetRect(tr.left, tr.top, tr.right, tr.bottom);
                window->AddTile(tile, String());
            }
            window->Show();
            if (translucent) {
                window->SetAlphaMode(1);
                window->SetOpacity(0.5f);
            }
            windows.push_back(std::move(window));
        }
        ok = true;
    }
    ~GuiScene() {
        for (auto& window : windows) window->Hide();
    }
};

// ---- Raw GL ----

struct RawGl {
#define RH_RAW_GL(X)                                                                                   \
    X(void, Clear, (GLbitfield))                                                                       \
    X(void, ClearColor, (GLclampf, GLclampf, GLclampf, GLclampf))                                      \
    X(void, ClearDepth, (GLclampd))                                                                    \
    X(void, Enable, (GLenum))                                                                          \
    X(void, Disable, (GLenum))                                                                         \
    X(void, DepthFunc, (GLenum))                                                                       \
    X(void, BlendFunc, (GLenum, GLenum))                                                               \
    X(void, Viewport, (GLint, GLint, GLsizei, GLsizei))                                                \
    X(void, ReadPixels, (GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, GLvoid*))                     \
    X(void, GenBuffers, (GLsizei, GLuint*))                                                            \
    X(void, DeleteBuffers, (GLsizei, const GLuint*))                                                   \
    X(void, BindBuffer, (GLenum, GLuint))                                                              \
    X(void, BufferData, (GLenum, GLsizeiptr, const void*, GLenum))                                     \
    X(void, GenTextures, (GLsizei, GLuint*))                                                           \
    X(void, DeleteTextures, (GLsizei, const GLuint*))                                                  \
    X(void, BindTexture, (GLenum, GLuint))                                                             \
    X(void, TexImage2D, (GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*)) \
    X(void, TexParameteri, (GLenum, GLenum, GLint))                                                    \
    X(void, TexEnvi, (GLenum, GLenum, GLint))                                                          \
    X(void, Color4f, (GLfloat, GLfloat, GLfloat, GLfloat))                                             \
    X(void, MatrixMode, (GLenum))                                                                      \
    X(void, LoadMatrixf, (const GLfloat*))                                                             \
    X(void, LoadIdentity, (void))                                                                      \
    X(void, EnableClientState, (GLenum))                                                               \
    X(void, VertexPointer, (GLint, GLenum, GLsizei, const void*))                                      \
    X(void, TexCoordPointer, (GLint, GLenum, GLsizei, const void*))                                    \
    X(void, DrawArrays, (GLenum, GLint, GLsizei))
    RH_RAW_GL_TABLE(RH_RAW_GL)
};

// The same quads as the GUI writes: ImageTile::ComputeQuad at the tiles' screen rectangles and
// the windows' depths, opaque windows' tiles first (in one range), then each translucent
// window's, back to front.
struct RawScene {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    RawGl gl;
    GLuint buffer = 0;
    GLuint textures[2] = {0, 0};
    int opaqueVertices = 0;
    int translucentTiles = 0;
    bool ready = false;

    explicit RawScene(const GuiScene& gui) {
        std::vector<float> opaque, translucent;
        for (int w = 0; w < kWindows; ++w) {
            SkinWindow* sw = gui.windows[static_cast<size_t>(w)].get();
            const float z = g_guiRoot.DepthToZ(sw->FrontDepth());
            for (int t = 0; t < kTiles; ++t) {
                ImageTile* tile = sw->FindTile(String(std::to_string(t).c_str()));
                Rect unclipped, clipped;
                tile->ScreenRect(unclipped, clipped);
                float v[30];
                ImageTile::ComputeQuad(unclipped, clipped, 0, 0, 1, 1, false, false, Point(kPicture, kPicture), z, v);
                std::vector<float>& out = w % 2 == 1 ? translucent : opaque;
                out.insert(out.end(), v, v + 30);
            }
        }
        opaqueVertices = static_cast<int>(opaque.size() / 5);
        translucentTiles = static_cast<int>(translucent.size() / 30);
        opaque.insert(opaque.end(), translucent.begin(), translucent.end());

        SDL_InitSubSystem(SDL_INIT_VIDEO);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        window = SDL_CreateWindow("raw", 0, 0, kWidth, kHeight, SDL_WINDOW_OPENGL);
        if (window == nullptr) return;
        context = SDL_GL_CreateContext(window);
        if (context == nullptr || !gl.Load()) return;
        MakeCurrent();
        gl.Viewport(0, 0, kWidth, kHeight);
        gl.GenBuffers(1, &buffer);
        gl.BindBuffer(GL_ARRAY_BUFFER, buffer);
        gl.BufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(opaque.size() * sizeof(float)), opaque.data(),
                      GL_STATIC_DRAW);
        gl.EnableClientState(GL_VERTEX_ARRAY);
        gl.EnableClientState(GL_TEXTURE_COORD_ARRAY);
        gl.VertexPointer(3, GL_FLOAT, 20, nullptr);
        gl.TexCoordPointer(2, GL_FLOAT, 20, reinterpret_cast<const void*>(12));
        gl.GenTextures(2, textures);
        DWORD (*texels[2])(int, int) = {StoneTexel, GlassTexel};
        for (int i = 0; i < 2; ++i) {
            const std::vector<DWORD> pixels = PictureOf(texels[i]);
            gl.BindTexture(GL_TEXTURE_2D, textures[i]);
            gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kPicture, kPicture, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV,
                          pixels.data());
        }
        gl.Enable(GL_TEXTURE_2D);
        gl.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        gl.Enable(GL_DEPTH_TEST);
        gl.DepthFunc(GL_LEQUAL);
        gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        // Pixels to clip space: Direct3D's pixel centres lie at integers, GL's at halves; y down;
        // depth 0..1 to -1..1.
        const float m[16] = {2.0f / kWidth, 0, 0, 0, 0, -2.0f / kHeight, 0, 0, 0, 0, 2, 0,
                             -1 + 1.0f / kWidth, 1 - 1.0f / kHeight, -1, 1};
        gl.MatrixMode(GL_PROJECTION);
        gl.LoadMatrixf(m);
        gl.MatrixMode(GL_MODELVIEW);
        gl.LoadIdentity();
        ready = true;
    }
    ~RawScene() {
        if (context != nullptr) {
            MakeCurrent();
            if (buffer != 0) gl.DeleteBuffers(1, &buffer);
            if (textures[0] != 0) gl.DeleteTextures(2, textures);
            SDL_GL_DeleteContext(context);
        }
        if (window != nullptr) SDL_DestroyWindow(window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    void MakeCurrent() { SDL_GL_MakeCurrent(window, context); }

    void Frame() {
        gl.ClearColor(0x10 / 255.0f, 0x20 / 255.0f, 0x30 / 255.0f, 1.0f);
        gl.ClearDepth(1.0);
        gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        gl.Disable(GL_BLEND);
        gl.Color4f(1, 1, 1, 1);
        gl.BindTexture(GL_TEXTURE_2D, textures[0]);
        gl.DrawArrays(GL_TRIANGLES, 0, opaqueVertices);
        gl.Enable(GL_BLEND);
        gl.Color4f(1, 1, 1, 0.5f);
        gl.BindTexture(GL_TEXTURE_2D, textures[1]);
        for (int t = 0; t < translucentTiles; ++t) gl.DrawArrays(GL_TRIANGLES, opaqueVertices + t * 6, 6);
    }
    // The frame read back (whole, or one pixel to wait for it), top row first.
    std::vector<DWORD> Finish(bool whole) {
        const int w = whole ? kWidth : 1, h = whole ? kHeight : 1;
        std::vector<DWORD> pixels(static_cast<size_t>(w) * h);
        gl.ReadPixels(0, 0, w, h, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels.data());
        std::vector<DWORD> flipped;
        for (int y = h - 1; y >= 0; --y) {
            flipped.insert(flipped.end(), pixels.begin() + static_cast<ptrdiff_t>(y) * w,
                           pixels.begin() + static_cast<ptrdiff_t>(y + 1) * w);
        }
        return flipped;
    }
};

// ---- The GUI ----

void GuiFrame() {
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030, 1.0f, 0);
    g_device->BeginScene();
    g_guiRoot.Draw();
    g_device->EndScene();
}
std::vector<DWORD> GuiFinish(bool whole) {
    std::vector<DWORD> pixels;
    rh::d3d9::testing::ReadBackBuffer(g_device, whole ? RECT{0, 0, kWidth, kHeight} : RECT{0, 0, 1, 1}, &pixels);
    return pixels;
}

struct FrameTimes {
    double wallMs = 0.0;
    double processMs = 0.0;
};

FrameTimes TimeFrames(bool gui, RawScene& raw, int frames) {
    if (!gui) raw.MakeCurrent();
    const double processStart = bench::ProcessMs();
    const auto start = std::chrono::steady_clock::now();
    for (int f = 0; f < frames; ++f) {
        if (gui) {
            GuiFrame();
        } else {
            raw.Frame();
        }
    }
    if (gui) {
        GuiFinish(false);
    } else {
        raw.Finish(false);
    }
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    return FrameTimes{took.count() / frames, (bench::ProcessMs() - processStart) / frames};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_GuiDrawAgainstRawGl(benchmark::State& state) {
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
    GuiScene gui;
    if (!gui.ok) return state.SkipWithError("scene not made");
    // The first Draw builds the quads; the second is counted and kept.
    GuiFrame();
    GuiFinish(false);
    rh::d3d9::testing::ResetDrawCallCount(g_device);
    GuiFrame();
    const double guiDraws = rh::d3d9::testing::DrawCallCount(g_device);
    const std::vector<DWORD> guiPixels = GuiFinish(true);
    RawScene raw(gui);
    if (!raw.ready) return state.SkipWithError("no GL context");
    raw.Frame();
    const std::vector<DWORD> rawPixels = raw.Finish(true);
    // Both frames as pictures, when a folder is named.
    const std::string folder = rh::testing::PictureFolder("RH_BENCH_PICTURES");
    if (!folder.empty()) {
        rh::testing::WritePngFile(folder + "/gui_draw_gui.png", kWidth, kHeight,
                                  std::vector<uint32_t>(guiPixels.begin(), guiPixels.end()));
        rh::testing::WritePngFile(folder + "/gui_draw_raw.png", kWidth, kHeight,
                                  std::vector<uint32_t>(rawPixels.begin(), rawPixels.end()));
    }
    double differing = guiPixels.size() == rawPixels.size() ? 0 : -1;
    for (size_t i = 0; differing >= 0 && i < guiPixels.size(); ++i) {
        for (int shift : {0, 8, 16}) {
            const int a = static_cast<int>((guiPixels[i] >> shift) & 0xFF);
            const int b = static_cast<int>((rawPixels[i] >> shift) & 0xFF);
            if (std::abs(a - b) > 4) {
                ++differing;
                break;
            }
        }
    }
    std::vector<double> ratios, cpuRatios, guiMs, rawMs;
    for (auto _ : state) {
        TimeFrames(true, raw, 3);
        TimeFrames(false, raw, 3);
        for (int r = 0; r < rounds; ++r) {
            FrameTimes g, w;
            if (r % 2 == 0) {
                g = TimeFrames(true, raw, frames);
                w = TimeFrames(false, raw, frames);
            } else {
                w = TimeFrames(false, raw, frames);
                g = TimeFrames(true, raw, frames);
            }
            ratios.push_back(g.wallMs / w.wallMs);
            cpuRatios.push_back(g.processMs / w.processMs);
            guiMs.push_back(g.wallMs);
            rawMs.push_back(w.wallMs);
        }
    }
    state.counters["ratio_median"] = Median(ratios);
    state.counters["ratio_min"] = *std::min_element(ratios.begin(), ratios.end());
    state.counters["ratio_max"] = *std::max_element(ratios.begin(), ratios.end());
    state.counters["cpu_ratio_median"] = Median(cpuRatios);
    state.counters["cpu_ratio_min"] = *std::min_element(cpuRatios.begin(), cpuRatios.end());
    state.counters["cpu_ratio_max"] = *std::max_element(cpuRatios.begin(), cpuRatios.end());
    state.counters["gui_ms"] = Median(guiMs);
    state.counters["raw_ms"] = Median(rawMs);
    state.counters["gui_draws"] = guiDraws;
    state.counters["raw_draws"] = 1.0 + raw.translucentTiles;
    state.counters["tiles"] = kWindows * kTiles;
    state.counters["differing_pixels"] = differing;
}
BENCHMARK(BM_GuiDrawAgainstRawGl)->Args({20, 20})->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
