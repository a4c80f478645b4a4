// One pass of the saver's main loop (SaverApp::Run with an empty scene: messages, frame rate,
// the frame counter and the 12-hour clock with its am/pm label updated, input, free camera,
// then RenderFrame: clear, path fade at opacity 0.5, labels, Present) against what a user would
// write instead with SDL2 and OpenGL 2.1: poll SDL's events, format the same texts, write their
// glyph quads from the same font picture into a dynamic vertex buffer (glBufferSubData), clear,
// draw the blended black quad and the glyphs, swap.
//
// The saver runs for real: Create in full-screen mode from the built-in settings, the media
// archive and a registry file of its own (ShowFps 1, 12-hour clock), on the SDL offscreen
// driver's 1024 x 768 desktop. The loop is driven from inside: the bench's UpdateScene (called
// once per pass) pins the path time at 5 units, so the fade is drawn in every frame, and it
// times rounds of passes; between two saver rounds it runs a round of raw frames on a GL
// context of its own. Each round ends by reading one pixel back, so its frames are finished.
//
// BM_SaverPassAgainstRawGl reports the ratio saver / raw of every round pair's mean frame time,
// real and processor time: median, least and greatest; the median milliseconds of each; and
// how many pixels of the two frames differ by more than 8 (the raw loop lays glyphs out by
// their widths alone, so a few edges may differ). Three raw peers run: "direct" draws straight
// into its window and flushes at each swap, as a swap on a window anyone sees does; it is the
// figure to meet (the layer draws on its window too when the window's framebuffer serves as
// its back buffer: saver_on_window 1). "copy" draws into a framebuffer object copied onto the
// window at each swap, as the layer does otherwise. "direct_unflushed" is "direct" with SDL's
// offscreen swap alone, which hands nothing to GL: its frames are rasterised only as far as
// the round's read-back needs, which no window on a screen allows (on llvmpipe it runs
// markedly faster than "direct").
//
// BM_StartupAgainstDecoding: the saver's start-up, SaverApp::Create to the end of the main
// loop's first frame (read back), against what any program showing the same pictures must at
// least do: mount the media archive, read the font members (descriptions and pictures) and
// decode the pictures the start-up loads (the loading JPEG with libjpeg, the four TGAs by hand,
// the two font PNGs with libpng) from the same resource bytes. Rounds alternate the two. The
// start-up holds the loading screen's fade-out, 200 ms by design; the figures give the work
// without it (Create up to the scene load, plus Run's first frame) and the whole.
//
// Run by hand: rh_saver_frame_bench (SDL offscreen, llvmpipe); RH_BENCH_PICTURES=DIR writes both
// frames of the first benchmark as PNG files.
#include "core/files/archive/archive_file_source.h"
#include "core/files/file_ref.h"
#include "core/types/byte_buffer.h"
#include "gui/font_manager.h"
#include "platform/d3d9/d3d9_testing.h"
#include "render/texture.h"
#include "saver/saver_app.h"
#include "tests/support/png_file.h"

#include <benchmark/benchmark.h>

#include "bench/raw_gl.h"

#include <SDL.h>
#include <SDL_opengl.h>

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;

double WallMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// A folder of its own: the working folder (no disk file shadows the archive's members) and
// XDG_CONFIG_HOME with the saver's registry file.
class Sandbox {
public:
    Sandbox() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/rh-saver-bench-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) return;
        folder_ = pattern;
        std::filesystem::create_directories(folder_ + "/config/rimeholt");
        FILE* file = std::fopen((folder_ + "/config/rimeholt/registry").c_str(), "w");
        if (file == nullptr) return;
        std::fputs("REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Larchmere Studio\\Glintwold 3D ScreenSaver]\n"
                   "\"ShowFps\"=dword:00000001\n\"ShowTime\"=dword:00000001\n\"TimeStyle\"=dword:00000000\n"
                   "\"UseDesktop\"=dword:00000001\n\"ExitOnMM\"=dword:00000000\n\"Gamma\"=dword:00000000\n",
                   file);
        std::fclose(file);
        setenv("XDG_CONFIG_HOME", (folder_ + "/config").c_str(), 1);
        char cwd[4096];
        if (getcwd(cwd, sizeof cwd) != nullptr) previous_ = cwd;
        ok_ = chdir(folder_.c_str()) == 0;
    }
    ~Sandbox() {
        if (!previous_.empty() && chdir(previous_.c_str()) != 0) std::perror("chdir");
        std::error_code ignored;
        if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
    }
    bool ok() const { return ok_; }

private:
    std::string folder_;
    std::string previous_;
    bool ok_ = false;
};

// ---- The saver ----

class BenchSaver : public SaverApp {
public:
    std::function<void(BenchSaver&)> eachPass;

    bool UpdateScene() override {
        // Path time 5: the black quad at opacity 0.5 in every frame.
        pathTime_ = 5.0f;
        if (eachPass) eachPass(*this);
        return true;
    }
    void Stop() { quit_ = true; }
};

std::vector<DWORD> SaverPixels(bool whole) {
    std::vector<DWORD> pixels;
    rh::d3d9::testing::ReadBackBuffer(g_device, whole ? RECT{0, 0, kWidth, kHeight} : RECT{0, 0, 1, 1}, &pixels);
    return pixels;
}

// ---- Raw GL ----

struct RawGl {
#define RH_RAW_GL(X)                                                                                   \
    X(void, Clear, (GLbitfield))                                                                       \
    X(void, ClearColor, (GLclampf, GLclampf, GLclampf, GLclampf))                                      \
    X(void, ClearDepth, (GLclampd))                                                                    \
    X(void, Enable, (GLenum))                                                                          \
    X(void, Disable, (GLenum))                                                                         \
    X(void, BlendFunc, (GLenum, GLenum))                                                               \
    X(void, AlphaFunc, (GLenum, GLclampf))                                                             \
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
    X(void, Color4f, (GLfloat, GLfloat, GLfloat, GLfloat))                                             \
    X(void, MatrixMode, (GLenum))                                                                      \
    X(void, LoadMatrixf, (const GLfloat*))                                                             \
    X(void, LoadIdentity, (void))                                                                      \
    X(void, EnableClientState, (GLenum))                                                               \
    X(void, VertexPointer, (GLint, GLenum, GLsizei, const void*))                                      \
    X(void, TexCoordPointer, (GLint, GLenum, GLsizei, const void*))                                    \
    X(void, DrawArrays, (GLenum, GLint, GLsizei))                                                      \
    X(void, GenFramebuffers, (GLsizei, GLuint*))                                                       \
    X(void, DeleteFramebuffers, (GLsizei, const GLuint*))                                              \
    X(void, BindFramebuffer, (GLenum, GLuint))                                                         \
    X(void, GenRenderbuffers, (GLsizei, GLuint*))                                                      \
    X(void, DeleteRenderbuffers, (GLsizei, const GLuint*))                                             \
    X(void, BindRenderbuffer, (GLenum, GLuint))                                                        \
    X(void, RenderbufferStorage, (GLenum, GLenum, GLsizei, GLsizei))                                   \
    X(void, FramebufferRenderbuffer, (GLenum, GLenum, GLenum, GLuint))                                 \
    X(void, BlitFramebuffer, (GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLbitfield, GLenum)) \
    X(void, Flush, (void))
    RH_RAW_GL_TABLE(RH_RAW_GL)
};

// One glyph of the font picture: its texture rectangle and its size in pixels.
struct Glyph {
    float u0 = 0, v0 = 0, u1 = 0, v1 = 0;
    float width = 0, height = 0;
};

// The loop a user would write: the same clear colour, the same three texts at the labels'
// boxes (the counter at the top left, the clock and "am"/"pm" at the bottom right), a black
// quad at opacity 0.5 over the whole frame, then the glyphs blended over it; every glyph quad
// written again each frame.
struct RawSaver {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    RawGl gl;
    GLuint buffer = 0;
    GLuint texture = 0;
    // With copy: drawn into a framebuffer object and copied to the window before the swap, as
    // the layer draws into its back buffer and Present copies it.
    bool copy = false;
    // With flush: each swap hands the frame to GL first, as a swap on a window anyone sees
    // does (and the layer's Present does); SDL's offscreen swap does nothing, so without it
    // the frames pile up unflushed until the round's read-back.
    bool flush = true;
    GLuint framebuffer = 0;
    GLuint renderbuffers[2] = {0, 0};
    Glyph glyphs[128];
    // Where a label's first glyph starts inside its box.
    float textLeft = 0;
    float textTop = 0;
    float clear[3] = {0, 0, 0};
    std::vector<float> vertices;  // x, y, z, u, v
    int glyphVertices = 0;
    // The frame counter, as the saver counts it.
    int64_t frames = 0;
    double secondStart = 0;
    int64_t rate = 0;
    char fps[16] = "100";
    bool ready = false;

    static constexpr int kMaxGlyphs = 32;
    static constexpr int kQuadFloats = 30;

    // Picture, glyph table and clear colour from what the saver loaded.
    RawSaver(const SaverApp& app, bool copyToWindow, bool flushAtSwap) : copy(copyToWindow), flush(flushAtSwap) {
        FontStyle style;
        style.size = 64;
        Charset* charset = g_fontManager.FindCharset('0', style);
        if (charset == nullptr || charset->GetTexture() == nullptr) return;
        Texture* picture = charset->GetTexture();
        for (int c = 32; c < 128; ++c) {
            if (g_fontManager.FindCharset(c, style) != charset) continue;
            const UvRect uv = FontManager::GlyphRect(*charset, c);
            const Point size = FontManager::GlyphSize(*charset, c);
            glyphs[c] = Glyph{uv.left, uv.top, uv.right, uv.bottom, static_cast<float>(size.x),
                              static_cast<float>(size.y)};
        }
        const DWORD bg = app.bgColor.ToARGB();
        clear[0] = static_cast<float>((bg >> 16) & 0xFF) / 255.0f;
        clear[1] = static_cast<float>((bg >> 8) & 0xFF) / 255.0f;
        clear[2] = static_cast<float>(bg & 0xFF) / 255.0f;

        const Point size = picture->GetSize();
        std::vector<DWORD> texels(static_cast<size_t>(size.x) * static_cast<size_t>(size.y));
        D3DLOCKED_RECT locked{};
        if (!picture->LockLevel(0, D3DLOCK_READONLY, &locked)) return;
        for (int y = 0; y < size.y; ++y) {
            std::memcpy(&texels[static_cast<size_t>(y) * static_cast<size_t>(size.x)],
                        static_cast<const uint8_t*>(locked.pBits) + static_cast<ptrdiff_t>(y) * locked.Pitch,
                        static_cast<size_t>(size.x) * 4);
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
        SDL_GL_SetSwapInterval(0);
        gl.Viewport(0, 0, kWidth, kHeight);
        if (copy) {
            gl.GenFramebuffers(1, &framebuffer);
            gl.GenRenderbuffers(2, renderbuffers);
            gl.BindRenderbuffer(GL_RENDERBUFFER, renderbuffers[0]);
            gl.RenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidth, kHeight);
            gl.BindRenderbuffer(GL_RENDERBUFFER, renderbuffers[1]);
            gl.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, kWidth, kHeight);
            gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
            gl.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffers[0]);
            gl.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, renderbuffers[1]);
        }
        gl.GenTextures(1, &texture);
        gl.BindTexture(GL_TEXTURE_2D, texture);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, size.x, size.y, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV,
                      texels.data());
        gl.TexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
        gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        gl.AlphaFunc(GL_GEQUAL, 1.0f / 255.0f);
        gl.Enable(GL_BLEND);
        gl.GenBuffers(1, &buffer);
        gl.BindBuffer(GL_ARRAY_BUFFER, buffer);
        gl.BufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>((kMaxGlyphs + 1) * kQuadFloats * sizeof(float)),
                      nullptr, GL_DYNAMIC_DRAW);
        gl.EnableClientState(GL_VERTEX_ARRAY);
        gl.EnableClientState(GL_TEXTURE_COORD_ARRAY);
        gl.VertexPointer(3, GL_FLOAT, 20, nullptr);
        gl.TexCoordPointer(2, GL_FLOAT, 20, reinterpret_cast<const void*>(12));
        // Pixels to clip space: Direct3D's pixel centres lie at integers, GL's at halves; y down.
        const float m[16] = {2.0f / kWidth, 0, 0, 0, 0, -2.0f / kHeight, 0, 0, 0, 0, 2, 0,
                             -1 + 1.0f / kWidth, 1 - 1.0f / kHeight, -1, 1};
        gl.MatrixMode(GL_PROJECTION);
        gl.LoadMatrixf(m);
        gl.MatrixMode(GL_MODELVIEW);
        gl.LoadIdentity();
        // The black quad goes first in the buffer and never changes.
        vertices.reserve((kMaxGlyphs + 1) * kQuadFloats);
        Quad(-1, -1, kWidth + 1, kHeight + 1, Glyph{});
        gl.BufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(vertices.size() * sizeof(float)), vertices.data());
        secondStart = WallMs();
        ready = true;
    }
    ~RawSaver() {
        if (context != nullptr) {
            MakeCurrent();
            if (buffer != 0) gl.DeleteBuffers(1, &buffer);
            if (texture != 0) gl.DeleteTextures(1, &texture);
            if (framebuffer != 0) gl.DeleteFramebuffers(1, &framebuffer);
            if (renderbuffers[0] != 0) gl.DeleteRenderbuffers(2, renderbuffers);
            SDL_GL_DeleteContext(context);
        }
        if (window != nullptr) SDL_DestroyWindow(window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    void MakeCurrent() { SDL_GL_MakeCurrent(window, context); }

    void Quad(float left, float top, float right, float bottom, const Glyph& g) {
        const float v[kQuadFloats] = {left,  top,    0, g.u0, g.v0, right, top,    0, g.u1, g.v0,
                                      right, bottom, 0, g.u1, g.v1, left,  top,    0, g.u0, g.v0,
                                      right, bottom, 0, g.u1, g.v1, left,  bottom, 0, g.u0, g.v1};
        vertices.insert(vertices.end(), v, v + kQuadFloats);
    }
    void Text(const char* text, float left, float top) {
        for (const char* c = text; *c != 0 && vertices.size() < (kMaxGlyphs + 1) * kQuadFloats; ++c) {
            const Glyph& g = glyphs[static_cast<unsigned char>(*c) & 0x7F];
            Quad(left, top, left + g.width, top + g.height, g);
            left += g.width;
        }
    }

    void Frame() {
        SDL_Event event;
        while (SDL_PollEvent(&event) != 0) {
        }
        // The frame rate as the saver's counter has it, shown once a second.
        const double now = WallMs();
        if (now - secondStart < 1000.0) {
            ++frames;
        } else {
            rate = frames;
            frames = 1;
            secondStart = now;
            std::snprintf(fps, sizeof fps, "%lld", static_cast<long long>(rate));
        }
        const time_t seconds = time(nullptr);
        tm local{};
        localtime_r(&seconds, &local);
        const int hour = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
        char clock[16];
        std::snprintf(clock, sizeof clock, "%d:%02d:%02d", hour, local.tm_min, local.tm_sec);
        vertices.resize(kQuadFloats);
        Text(fps, 10 + textLeft, 10 + textTop);
        Text(clock, kWidth - 400 + textLeft, kHeight - 74 + textTop);
        Text(local.tm_hour < 12 ? "am" : "pm", kWidth - 100 + textLeft, kHeight - 74 + textTop);
        glyphVertices = static_cast<int>(vertices.size() / 5) - 6;
        gl.BufferSubData(GL_ARRAY_BUFFER, kQuadFloats * sizeof(float),
                         static_cast<GLsizeiptr>((vertices.size() - kQuadFloats) * sizeof(float)),
                         vertices.data() + kQuadFloats);

        gl.ClearColor(clear[0], clear[1], clear[2], 1.0f);
        gl.ClearDepth(1.0);
        gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        gl.Disable(GL_TEXTURE_2D);
        gl.Disable(GL_ALPHA_TEST);
        gl.Color4f(0, 0, 0, 0.5f);
        gl.DrawArrays(GL_TRIANGLES, 0, 6);
        gl.Enable(GL_TEXTURE_2D);
        gl.Enable(GL_ALPHA_TEST);
        gl.Color4f(1, 1, 1, 1);
        gl.DrawArrays(GL_TRIANGLES, 6, glyphVertices);
    }
    void Swap() {
        if (copy) {
            gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
            gl.BlitFramebuffer(0, 0, kWidth, kHeight, 0, 0, kWidth, kHeight, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        }
        if (flush) gl.Flush();
        SDL_GL_SwapWindow(window);
        if (copy) gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    }
    // The frame read back before the swap (whole, or one pixel to wait for it), top row first.
    std::vector<DWORD> Finish(bool whole) {
        const int w = whole ? kWidth : 1, h = whole ? kHeight : 1;
        std::vector<DWORD> pixels(static_cast<size_t>(w) * static_cast<size_t>(h));
        gl.ReadPixels(0, 0, w, h, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels.data());
        std::vector<DWORD> flipped;
        for (int y = h - 1; y >= 0; --y) {
            flipped.insert(flipped.end(), pixels.begin() + static_cast<ptrdiff_t>(y) * w,
                           pixels.begin() + static_cast<ptrdiff_t>(y + 1) * w);
        }
        return flipped;
    }
};

struct Times {
    double wallMs = 0.0;
    double processMs = 0.0;
};

Times RawRound(RawSaver& raw, int frames) {
    raw.MakeCurrent();
    const double process = bench::ProcessMs();
    const double wall = WallMs();
    for (int f = 0; f < frames; ++f) {
        raw.Frame();
        raw.Swap();
    }
    raw.Finish(false);
    return Times{(WallMs() - wall) / frames, (bench::ProcessMs() - process) / frames};
}

void BM_SaverPassAgainstRawGl(benchmark::State& state) {
    const int rounds = static_cast<int>(state.range(0));
    const int frames = static_cast<int>(state.range(1));
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    Sandbox sandbox;
    if (!sandbox.ok()) return state.SkipWithError("no scratch folder");

    // Per peer (0: straight to the window, 1: through a copied framebuffer object, 2: straight
    // to the window without a flush at the swap).
    constexpr int kPeers = 3;
    std::vector<double> ratios[kPeers], cpuRatios[kPeers], rawMs[kPeers];
    std::vector<double> saverMs;
    int64_t differing = -1;
    bool onWindow = false;
    UINT saverDraws = 0;  // the draw calls of one saver frame
    std::string error;
    for (auto _ : state) {
        BenchSaver app;
        if (!app.Create(nullptr, SaverMode::FullScreen, 0)) {
            error = "the saver did not start";
            break;
        }
        const Rect render = app.GetRenderRect();
        TimeRange range;
        if (render.right != kWidth || render.bottom != kHeight) {
            error = "the desktop is not 1024 x 768";
        } else if (!app.pathPlayer().GetTimeRange(range)) {
            error = "no camera path: no fade";
        } else if (!app.settings().showFps || !app.settings().showTime || app.settings().hours24) {
            error = "the registry file was not read";
        }
        RawSaver direct(app, false, true);
        RawSaver copied(app, true, true);
        RawSaver unflushed(app, false, false);
        RawSaver* peers[kPeers] = {&direct, &copied, &unflushed};
        if (error.empty() && (!direct.ready || !copied.ready || !unflushed.ready)) error = "no raw GL context";
        if (!error.empty()) {
            app.Stop();
            app.Run();
            break;
        }

        // Passes: 3 to settle, one kept as a picture, then rounds of `frames` each with a round
        // of each peer after every one, the peers' order rotated every round.
        int pass = 0;
        int counted = 0;
        int round = 0;
        Times start{};
        app.eachPass = [&](BenchSaver& saver) {
            ++pass;
            if (pass < 4) return;
            if (pass == 4) {
                onWindow = rh::d3d9::testing::BackBufferOnWindow(g_device);
                rh::d3d9::testing::ResetDrawCallCount(g_device);
                const std::vector<DWORD> saverPicture = SaverPixels(true);
                // Glyphs where the saver's labels put them.
                const auto& row = saver.fpsLabel().glyphRows();
                if (!row.empty() && !row[0].empty()) {
                    for (RawSaver* peer : peers) {
                        peer->textLeft = static_cast<float>(row[0][0].left - 10);
                        peer->textTop = static_cast<float>(row[0][0].top - 10);
                    }
                }
                direct.MakeCurrent();
                direct.Frame();
                const std::vector<DWORD> rawPicture = direct.Finish(true);
                direct.Swap();
                differing = 0;
                for (size_t i = 0; i < saverPicture.size() && i < rawPicture.size(); ++i) {
                    for (int shift : {0, 8, 16}) {
                        const int a = static_cast<int>((saverPicture[i] >> shift) & 0xFF);
                        const int b = static_cast<int>((rawPicture[i] >> shift) & 0xFF);
                        if (std::abs(a - b) > 8) {
                            ++differing;
                            break;
                        }
                    }
                }
                const std::string folder = rh::testing::PictureFolder("RH_BENCH_PICTURES");
                if (!folder.empty()) {
                    rh::testing::WritePngFile(folder + "/saver_frame_saver.png", kWidth, kHeight,
                                              std::vector<uint32_t>(saverPicture.begin(), saverPicture.end()));
                    rh::testing::WritePngFile(folder + "/saver_frame_raw.png", kWidth, kHeight,
                                              std::vector<uint32_t>(rawPicture.begin(), rawPicture.end()));
                }
                start = Times{WallMs(), bench::ProcessMs()};
                return;
            }
            if (counted == 0 && round == 0) saverDraws = rh::d3d9::testing::DrawCallCount(g_device);
            if (++counted < frames) return;
            SaverPixels(false);
            const Times saverTimes{(WallMs() - start.wallMs) / frames, (bench::ProcessMs() - start.processMs) / frames};
            saverMs.push_back(saverTimes.wallMs);
            for (int i = 0; i < kPeers; ++i) {
                const int p = (i + round) % kPeers;
                const Times rawTimes = RawRound(*peers[p], frames);
                ratios[p].push_back(saverTimes.wallMs / rawTimes.wallMs);
                cpuRatios[p].push_back(saverTimes.processMs / rawTimes.processMs);
                rawMs[p].push_back(rawTimes.wallMs);
            }
            counted = 0;
            if (++round == rounds) saver.Stop();
            start = Times{WallMs(), bench::ProcessMs()};
        };
        app.Run();
    }
    if (!error.empty()) return state.SkipWithError(error.c_str());
    if (saverMs.empty()) return state.SkipWithError("no round finished");
    const char* names[kPeers] = {"direct", "copy", "direct_unflushed"};
    for (int p = 0; p < kPeers; ++p) {
        const std::string name = names[p];
        state.counters["ratio_" + name + "_median"] = Median(ratios[p]);
        state.counters["ratio_" + name + "_min"] = *std::min_element(ratios[p].begin(), ratios[p].end());
        state.counters["ratio_" + name + "_max"] = *std::max_element(ratios[p].begin(), ratios[p].end());
        state.counters["cpu_ratio_" + name + "_median"] = Median(cpuRatios[p]);
        state.counters["cpu_ratio_" + name + "_min"] = *std::min_element(cpuRatios[p].begin(), cpuRatios[p].end());
        state.counters["cpu_ratio_" + name + "_max"] = *std::max_element(cpuRatios[p].begin(), cpuRatios[p].end());
        state.counters["raw_" + name + "_ms"] = Median(rawMs[p]);
    }
    state.counters["saver_ms"] = Median(saverMs);
    state.counters["saver_on_window"] = onWindow ? 1.0 : 0.0;
    state.counters["saver_draws"] = static_cast<double>(saverDraws);
    state.counters["differing_pixels"] = static_cast<double>(differing);
}
BENCHMARK(BM_SaverPassAgainstRawGl)->Args({30, 30})->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// ---- Start-up ----

// The timestamps of one start-up: Create begins, the scene loads (the fade-out follows),
// Create has returned, the first frame of Run is finished.
class StartupSaver : public SaverApp {
public:
    double loadScene = 0;
    double firstFrame = 0;
    int passes = 0;

    bool LoadScene() override {
        loadScene = WallMs();
        return true;
    }
    bool UpdateScene() override {
        if (++passes == 2) {
            SaverPixels(false);
            firstFrame = WallMs();
            quit_ = true;
        }
        return true;
    }
};

bool DecodeJpeg(const uint8_t* bytes, size_t size, std::vector<uint8_t>& pixels) {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    // Four bytes a pixel, as a texture holds them.
    info.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    const size_t stride = static_cast<size_t>(info.output_width) * static_cast<size_t>(info.output_components);
    pixels.assign(stride * info.output_height, 0);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels.data() + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

// An uncompressed 32-bit TGA, rows turned top-down.
bool DecodeTga(const uint8_t* bytes, size_t size, std::vector<uint8_t>& pixels) {
    if (size < 18 || bytes[2] != 2 || bytes[16] != 32) return false;
    const size_t width = static_cast<size_t>(bytes[12] | (bytes[13] << 8));
    const size_t height = static_cast<size_t>(bytes[14] | (bytes[15] << 8));
    const size_t start = 18 + bytes[0];
    const size_t stride = width * 4;
    if (start + stride * height > size) return false;
    const bool topDown = (bytes[17] & 0x20) != 0;
    pixels.resize(stride * height);
    for (size_t y = 0; y < height; ++y) {
        const size_t from = topDown ? y : height - 1 - y;
        std::memcpy(pixels.data() + y * stride, bytes + start + from * stride, stride);
    }
    return true;
}

bool DecodePng(const uint8_t* bytes, size_t size, std::vector<uint8_t>& pixels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&image, bytes, size) == 0) return false;
    image.format = PNG_FORMAT_BGRA;
    pixels.resize(PNG_IMAGE_SIZE(image));
    const bool ok = png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr) != 0;
    png_image_free(&image);
    return ok;
}

// Mount, read the font members, decode the pictures; false when anything is missing.
bool PeerStartup(size_t* bytesRead) {
    ArchiveFileSource archive;
    if (!archive.Mount(FileRef::Resource(227))) return false;
    std::vector<uint8_t> pixels;
    *bytesRead = 0;
    for (const char* name : {"Media/Fonts/sylfaen.fs", "Media/Fonts/sylfaen14.css", "Media/Fonts/sylfaen14.png",
                             "Media/Fonts/64font.fs", "Media/Fonts/64font.css", "Media/Fonts/64font.png"}) {
        ByteBuffer member;
        if (!FileRef::Member(&archive, name).ReadWholeFile(member)) return false;
        *bytesRead += static_cast<size_t>(member.Size());
        const size_t length = std::strlen(name);
        if (length > 4 && std::strcmp(name + length - 4, ".png") == 0 &&
            !DecodePng(member.Data(), static_cast<size_t>(member.Size()), pixels)) {
            return false;
        }
    }
    for (int id : {224, 231, 232, 233, 234}) {
        String bytes;
        bool borrow = true;
        if (!FileRef::Resource(id).ReadWholeFile(bytes, &borrow)) return false;
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.Text());
        const size_t size = static_cast<size_t>(bytes.length());
        *bytesRead += size;
        if (!(id == 224 ? DecodeJpeg(data, size, pixels) : DecodeTga(data, size, pixels))) return false;
    }
    return true;
}

void BM_StartupAgainstDecoding(benchmark::State& state) {
    const int rounds = static_cast<int>(state.range(0));
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    Sandbox sandbox;
    if (!sandbox.ok()) return state.SkipWithError("no scratch folder");
    std::vector<double> work, whole, fade, peer, ratios, wholeRatios;
    size_t bytesRead = 0;
    std::string error;
    for (auto _ : state) {
        for (int r = 0; r < rounds && error.empty(); ++r) {
            double peerMs = 0;
            const auto runPeer = [&] {
                const double at = WallMs();
                if (!PeerStartup(&bytesRead)) error = "the peer could not read or decode a picture";
                peerMs = WallMs() - at;
            };
            // The peer first every other round.
            if (r % 2 == 1) runPeer();
            {
                StartupSaver app;
                const double begin = WallMs();
                if (!app.Create(nullptr, SaverMode::FullScreen, 0)) {
                    error = "the saver did not start";
                    break;
                }
                const double created = WallMs();
                app.Run();
                if (app.firstFrame == 0) {
                    error = "no frame";
                    break;
                }
                work.push_back((app.loadScene - begin) + (app.firstFrame - created));
                whole.push_back(app.firstFrame - begin);
                fade.push_back(created - app.loadScene);
            }
            if (r % 2 == 0) runPeer();
            peer.push_back(peerMs);
            ratios.push_back(work.back() / peerMs);
            wholeRatios.push_back(whole.back() / peerMs);
        }
    }
    if (!error.empty()) return state.SkipWithError(error.c_str());
    state.counters["startup_work_first_ms"] = work.front();
    state.counters["startup_work_ms"] = Median(work);
    state.counters["startup_whole_ms"] = Median(whole);
    state.counters["fade_ms"] = Median(fade);
    state.counters["peer_ms"] = Median(peer);
    state.counters["peer_bytes"] = static_cast<double>(bytesRead);
    state.counters["ratio_median"] = Median(ratios);
    state.counters["ratio_min"] = *std::min_element(ratios.begin(), ratios.end());
    state.counters["ratio_max"] = *std::max_element(ratios.begin(), ratios.end());
    state.counters["whole_ratio_median"] = Median(wholeRatios);
}
BENCHMARK(BM_StartupAgainstDecoding)->Arg(9)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
