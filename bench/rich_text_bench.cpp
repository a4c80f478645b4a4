// The saver's clock label's per-frame work: SetText("12:34:56") and the update that follows
// (parse, layout, glyph boxes, batches, vertex writes into the locked blocks), with the baked
// 64-pixel font on an offscreen device. The saver sets the clock's text every frame, so this is
// what a frame pays for it; the target is at most 50 microseconds an update.
//
// BM_ClockAgainstRawGl puts it beside what a user would write instead: a raw OpenGL loop that
// lays the same eight glyph quads out from a table of the charset's glyph rectangles, writes
// them into a dynamic vertex buffer object (glBufferSubData) and draws them with the font's
// picture, the same blending and alpha test. Rounds of frames alternate between the label and
// the raw loop (the order swapped every round); each round ends by reading one pixel back, so
// the drawing is in the time. The label is timed twice: the update alone (what the saver's
// frame pays before drawing) and the update followed by GuiRoot::Draw of the label. Counters:
// the median, least and greatest of the rounds' ratios (label / raw, real time), the medians
// of the microseconds per frame, and how many pixels of the two pictures differ by more than 4
// levels (the raw loop's picture is the check that it draws the same glyphs).
//
// Run by hand: rh_rich_text_bench (SDL offscreen, llvmpipe); RH_BENCH_PICTURES=DIR writes both
// pictures as PNG files.
#include "gui/font_manager.h"
#include "gui/gui_root.h"
#include "gui/rich_text_view.h"
#include "render/app_framework.h"
#include "render/texture.h"

#include "platform/d3d9/d3d9_testing.h"
#include "tests/support/png_file.h"

#include <benchmark/benchmark.h>

#include "bench/raw_gl.h"

#include <SDL.h>
#include <SDL_opengl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;

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
        hwnd_ = CreateWindowExA(0, wc.lpszClassName, "bench", WS_POPUP | WS_VISIBLE, 0, 0, kWidth, kHeight, nullptr,
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

// One device and the baked font for the whole program: the font manager is global.
BenchApp* App() {
    static BenchApp* app = [] {
        auto* a = new BenchApp;
        if (!a->Open()) {
            delete a;
            return static_cast<BenchApp*>(nullptr);
        }
        g_fontManager.Paths().Add(FileRef(RIMEHOLT_MEDIA_DIR "/Media/Fonts"));
        if (g_fontManager.LoadFont(FileRef("64font.fs")).Failed()) {
            delete a;
            return static_cast<BenchApp*>(nullptr);
        }
        return a;
    }();
    return app;
}

// The clock as the saver sets it up: size 64, scale 1, a transparent background, alpha mode 2,
// in the bottom right corner.
struct Clock {
    RichTextView view;
    Clock() {
        FontStyle style;
        style.size = 64;
        style.background = ArgbColor(0.0f, 0.0f, 0.0f, 0.0f);
        view.SetStyle(style);
        view.SetRect(kWidth - 300, kHeight - 74, 300, 74);
        view.Show();
    }
    ~Clock() { view.Hide(); }
    bool Update() {
        view.SetText(u"12:34:56");
        return view.OnUpdate();
    }
};

void BM_ClockUpdate(benchmark::State& state) {
    if (App() == nullptr) return state.SkipWithError("no device or no font");
    Clock clock;
    int64_t glyphs = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(clock.Update());
        glyphs += static_cast<int64_t>(clock.view.glyphRows().empty() ? 0 : clock.view.glyphRows()[0].size());
    }
    state.counters["glyphs"] = benchmark::Counter(static_cast<double>(glyphs), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ClockUpdate)->Unit(benchmark::kMicrosecond)->Iterations(20000)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);

// ---- Raw GL ----

struct RawGl {
#define RH_RAW_GL(X)                                                                                   \
    X(void, Clear, (GLbitfield))                                                                       \
    X(void, ClearColor, (GLclampf, GLclampf, GLclampf, GLclampf))                                      \
    X(void, ClearDepth, (GLclampd))                                                                    \
    X(void, Enable, (GLenum))                                                                          \
    X(void, DepthFunc, (GLenum))                                                                       \
    X(void, DepthMask, (GLboolean))                                                                    \
    X(void, AlphaFunc, (GLenum, GLclampf))                                                             \
    X(void, BlendFunc, (GLenum, GLenum))                                                               \
    X(void, Viewport, (GLint, GLint, GLsizei, GLsizei))                                                \
    X(void, ReadPixels, (GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, GLvoid*))                     \
    X(void, GenBuffers, (GLsizei, GLuint*))                                                            \
    X(void, DeleteBuffers, (GLsizei, const GLuint*))                                                   \
    X(void, BindBuffer, (GLenum, GLuint))                                                              \
    X(void, BufferData, (GLenum, GLsizeiptr, const void*, GLenum))                                     \
    X(void, BufferSubData, (GLenum, GLintptr, GLsizeiptr, const void*))                                \
    X(void, GenTextures, (GLsizei, GLuint*))                                                           \
    X(void, DeleteTextures, (GLsizei, const GLuint*))                                                  \
    X(void, BindTexture, (GLenum, GLuint))                                                             \
    X(void, TexImage2D, (GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*)) \
    X(void, TexParameteri, (GLenum, GLenum, GLint))                                                    \
    X(void, TexEnvi, (GLenum, GLenum, GLint))                                                          \
    X(void, MatrixMode, (GLenum))                                                                      \
    X(void, LoadMatrixf, (const GLfloat*))                                                             \
    X(void, LoadIdentity, (void))                                                                      \
    X(void, EnableClientState, (GLenum))                                                               \
    X(void, VertexPointer, (GLint, GLenum, GLsizei, const void*))                                      \
    X(void, ColorPointer, (GLint, GLenum, GLsizei, const void*))                                       \
    X(void, TexCoordPointer, (GLint, GLenum, GLsizei, const void*))                                    \
    X(void, DrawArrays, (GLenum, GLint, GLsizei))
    RH_RAW_GL_TABLE(RH_RAW_GL)
};

// A vertex as a GL programmer would lay it out: position, colour bytes, texture coordinates.
struct RawVertex {
    float x, y, z;
    uint8_t rgba[4];
    float u, v;
};

// What a hand-written text drawer keeps per character code: the glyph's size in pixels and its
// rectangle in the font's picture.
struct RawGlyph {
    int width = 0, height = 0;
    UvRect uv;
};

struct RawClock {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    RawGl gl;
    GLuint buffer = 0;
    GLuint texture = 0;
    std::array<RawGlyph, 128> glyphs{};
    int left = 0, bottom = 0;
    float z = 0.0f;
    uint8_t rgba[4] = {255, 255, 255, 255};
    std::vector<RawVertex> vertices;
    bool ready = false;

    // The glyph table, the picture and the label's place are taken from the font and the
    // label once; every frame then lays the text out again.
    RawClock(const RichTextView& label, Charset& charset) {
        for (int c = 32; c < 128; ++c) {
            if (c < charset.start || c > charset.end) continue;
            const Point size = FontManager::GlyphSize(charset, c);
            glyphs[static_cast<size_t>(c)] = RawGlyph{size.x, size.y, FontManager::GlyphRect(charset, c)};
        }
        Rect unclipped, clip;
        label.ScreenRect(unclipped, clip);
        left = unclipped.left;
        bottom = unclipped.top + label.Line(0).bottom;
        z = g_guiRoot.DepthToZ(label.AbsoluteDepth() - 1);
        Texture* picture = charset.GetTexture();
        const Point pictureSize = picture->GetSize();
        std::vector<DWORD> texels(static_cast<size_t>(pictureSize.x) * pictureSize.y);
        D3DLOCKED_RECT locked{};
        if (!picture->LockLevel(0, D3DLOCK_READONLY, &locked)) return;
        for (int y = 0; y < pictureSize.y; ++y) {
            std::memcpy(&texels[static_cast<size_t>(y) * pictureSize.x],
                        static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch,
                        static_cast<size_t>(pictureSize.x) * 4);
        }
        picture->UnlockLevel(0);

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
        gl.BufferData(GL_ARRAY_BUFFER, 8 * 6 * sizeof(RawVertex), nullptr, GL_DYNAMIC_DRAW);
        gl.EnableClientState(GL_VERTEX_ARRAY);
        gl.EnableClientState(GL_COLOR_ARRAY);
        gl.EnableClientState(GL_TEXTURE_COORD_ARRAY);
        gl.VertexPointer(3, GL_FLOAT, sizeof(RawVertex), reinterpret_cast<const void*>(offsetof(RawVertex, x)));
        gl.ColorPointer(4, GL_UNSIGNED_BYTE, sizeof(RawVertex), reinterpret_cast<const void*>(offsetof(RawVertex, rgba)));
        gl.TexCoordPointer(2, GL_FLOAT, sizeof(RawVertex), reinterpret_cast<const void*>(offsetof(RawVertex, u)));
        gl.GenTextures(1, &texture);
        gl.BindTexture(GL_TEXTURE_2D, texture);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, pictureSize.x, pictureSize.y, 0, GL_BGRA,
                      GL_UNSIGNED_INT_8_8_8_8_REV, texels.data());
        gl.Enable(GL_TEXTURE_2D);
        gl.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        gl.Enable(GL_DEPTH_TEST);
        gl.DepthFunc(GL_LEQUAL);
        gl.Enable(GL_ALPHA_TEST);
        gl.AlphaFunc(GL_GEQUAL, 1.0f / 255.0f);
        gl.Enable(GL_BLEND);
        gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        // Pixel edges to clip space, y down; depth 0..1 to -1..1.
        const float m[16] = {2.0f / kWidth, 0, 0, 0, 0, -2.0f / kHeight, 0, 0, 0, 0, 2, 0, -1, 1, -1, 1};
        gl.MatrixMode(GL_PROJECTION);
        gl.LoadMatrixf(m);
        gl.MatrixMode(GL_MODELVIEW);
        gl.LoadIdentity();
        vertices.reserve(8 * 6);
        ready = true;
    }
    ~RawClock() {
        if (context != nullptr) {
            MakeCurrent();
            if (buffer != 0) gl.DeleteBuffers(1, &buffer);
            if (texture != 0) gl.DeleteTextures(1, &texture);
            SDL_GL_DeleteContext(context);
        }
        if (window != nullptr) SDL_DestroyWindow(window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    void MakeCurrent() { SDL_GL_MakeCurrent(window, context); }

    // The text laid out on the label's baseline, written into the buffer and drawn.
    void Frame(const char* text) {
        vertices.clear();
        int x = left;
        for (const char* c = text; *c != 0; ++c) {
            const RawGlyph& g = glyphs[static_cast<unsigned char>(*c) & 127];
            const float l = static_cast<float>(x), r = static_cast<float>(x + g.width);
            const float t = static_cast<float>(bottom - g.height), b = static_cast<float>(bottom);
            const RawVertex lt{l, t, z, {rgba[0], rgba[1], rgba[2], rgba[3]}, g.uv.left, g.uv.top};
            const RawVertex rt{r, t, z, {rgba[0], rgba[1], rgba[2], rgba[3]}, g.uv.right, g.uv.top};
            const RawVertex lb{l, b, z, {rgba[0], rgba[1], rgba[2], rgba[3]}, g.uv.left, g.uv.bottom};
            const RawVertex rb{r, b, z, {rgba[0], rgba[1], rgba[2], rgba[3]}, g.uv.right, g.uv.bottom};
            vertices.insert(vertices.end(), {lt, rt, lb, rt, rb, lb});
            x += g.width;
        }
        gl.BufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(vertices.size() * sizeof(RawVertex)),
                         vertices.data());
        gl.DrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(vertices.size()));
    }
    void ClearFrame() {
        gl.ClearColor(0x20 / 255.0f, 0x30 / 255.0f, 0x40 / 255.0f, 1.0f);
        gl.ClearDepth(1.0);
        gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
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

// ---- The label ----

void LabelDraw() {
    g_device->BeginScene();
    g_guiRoot.Draw();
    g_device->EndScene();
}
std::vector<DWORD> LabelFinish(bool whole) {
    std::vector<DWORD> pixels;
    rh::d3d9::testing::ReadBackBuffer(g_device, whole ? RECT{0, 0, kWidth, kHeight} : RECT{0, 0, 1, 1}, &pixels);
    return pixels;
}

enum class Side { kUpdate, kUpdateAndDraw, kRaw };

// Microseconds a frame over `frames` frames of one side, the drawing waited for at the end.
double TimeFrames(Side side, Clock& clock, RawClock& raw, int frames) {
    if (side == Side::kRaw) raw.MakeCurrent();
    const auto start = std::chrono::steady_clock::now();
    for (int f = 0; f < frames; ++f) {
        switch (side) {
            case Side::kUpdate:
                clock.Update();
                break;
            case Side::kUpdateAndDraw:
                clock.Update();
                LabelDraw();
                break;
            case Side::kRaw:
                raw.Frame("12:34:56");
                break;
        }
    }
    if (side == Side::kRaw) {
        raw.Finish(false);
    } else {
        LabelFinish(false);
    }
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    return took.count() / frames;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_ClockAgainstRawGl(benchmark::State& state) {
    if (App() == nullptr) return state.SkipWithError("no device or no font");
    const int rounds = static_cast<int>(state.range(0));
    const int frames = static_cast<int>(state.range(1));
    Clock clock;
    if (!clock.Update() || clock.view.glyphRows().empty() || clock.view.glyphRows()[0].size() != 8) {
        return state.SkipWithError("the clock shows no eight glyphs");
    }
    const std::vector<GlyphBox> boxes = clock.view.glyphRows()[0];
    RawClock raw(clock.view, *boxes[0].charset);
    if (!raw.ready) return state.SkipWithError("no GL context");

    // The raw loop must lay out the label's glyph boxes, and draw the label's picture.
    int boxMismatches = 0;
    {
        int x = raw.left;
        for (const GlyphBox& box : boxes) {
            const RawGlyph& g = raw.glyphs[static_cast<size_t>(box.code & 127)];
            if (box.left != x || box.right != x + g.width || box.bottom != raw.bottom || box.top != raw.bottom - g.height) {
                ++boxMismatches;
            }
            x += g.width;
        }
    }
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF203040, 1.0f, 0);
    clock.Update();
    LabelDraw();
    const std::vector<DWORD> labelPixels = LabelFinish(true);
    raw.MakeCurrent();
    raw.ClearFrame();
    raw.Frame("12:34:56");
    const std::vector<DWORD> rawPixels = raw.Finish(true);
    const std::string folder = rh::testing::PictureFolder("RH_BENCH_PICTURES");
    if (!folder.empty()) {
        rh::testing::WritePngFile(folder + "/clock_label.png", kWidth, kHeight,
                                  std::vector<uint32_t>(labelPixels.begin(), labelPixels.end()));
        rh::testing::WritePngFile(folder + "/clock_raw.png", kWidth, kHeight,
                                  std::vector<uint32_t>(rawPixels.begin(), rawPixels.end()));
    }
    double differing = labelPixels.size() == rawPixels.size() ? 0 : -1;
    double inked = 0;
    for (size_t i = 0; differing >= 0 && i < labelPixels.size(); ++i) {
        if ((rawPixels[i] & 0xFFFFFF) != 0x203040) ++inked;
        for (int shift : {0, 8, 16}) {
            const int a = static_cast<int>((labelPixels[i] >> shift) & 0xFF);
            const int b = static_cast<int>((rawPixels[i] >> shift) & 0xFF);
            if (std::abs(a - b) > 4) {
                ++differing;
                break;
            }
        }
    }

    std::vector<double> updateRatios, drawRatios, updateUs, drawUs, rawUs;
    for (auto _ : state) {
        for (Side side : {Side::kUpdate, Side::kUpdateAndDraw, Side::kRaw}) TimeFrames(side, clock, raw, 20);
        for (int r = 0; r < rounds; ++r) {
            double u = 0, d = 0, w = 0;
            if (r % 2 == 0) {
                u = TimeFrames(Side::kUpdate, clock, raw, frames);
                d = TimeFrames(Side::kUpdateAndDraw, clock, raw, frames);
                w = TimeFrames(Side::kRaw, clock, raw, frames);
            } else {
                w = TimeFrames(Side::kRaw, clock, raw, frames);
                d = TimeFrames(Side::kUpdateAndDraw, clock, raw, frames);
                u = TimeFrames(Side::kUpdate, clock, raw, frames);
            }
            updateRatios.push_back(u / w);
            drawRatios.push_back(d / w);
            updateUs.push_back(u);
            drawUs.push_back(d);
            rawUs.push_back(w);
        }
    }
    state.counters["update_us"] = Median(updateUs);
    state.counters["update_draw_us"] = Median(drawUs);
    state.counters["raw_us"] = Median(rawUs);
    state.counters["update_ratio"] = Median(updateRatios);
    state.counters["update_ratio_min"] = *std::min_element(updateRatios.begin(), updateRatios.end());
    state.counters["update_ratio_max"] = *std::max_element(updateRatios.begin(), updateRatios.end());
    state.counters["draw_ratio"] = Median(drawRatios);
    state.counters["draw_ratio_min"] = *std::min_element(drawRatios.begin(), drawRatios.end());
    state.counters["draw_ratio_max"] = *std::max_element(drawRatios.begin(), drawRatios.end());
    state.counters["box_mismatches"] = boxMismatches;
    state.counters["differing_pixels"] = differing;
    state.counters["inked_pixels"] = inked;
}
BENCHMARK(BM_ClockAgainstRawGl)->Args({21, 500})->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
