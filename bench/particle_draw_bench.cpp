// Frames of 24,000 snowflakes drawn as point sprites: the emitter's draw (vertices rebuilt
// into a block locked with discard, the layer's generated program with the point-size formula)
// against a raw GL loop that rebuilds the same 32-byte vertices from a vector of records,
// orphans and refills one buffer and draws them with a small shader computing the same size.
// Also the quad path (six vertices a flake) against raw GL triangles from one buffer. Rounds
// interleave the two, the order swapped every round; the ratios are layer / raw of the round
// means: median, min and max.
#include <benchmark/benchmark.h>

#include "bench/raw_gl.h"

#include "core/time/clock_source.h"
#include "platform/d3d9/d3d9_testing.h"
#include "render/app_framework.h"
#include "render/material.h"
#include "render/state_cache.h"
#include "scene/particle_emitter.h"

#include <d3d9.h>
#include <windows.h>

#include <SDL.h>
#include <SDL_opengl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kParticles = 24000;

// The entry points the raw loop calls.
struct RawGl {
#define RH_RAW_GL(X)                                                                                        \
    X(void, Clear, (GLbitfield))                                                                            \
    X(void, ClearColor, (GLclampf, GLclampf, GLclampf, GLclampf))                                          \
    X(void, ClearDepth, (GLclampd))                                                                         \
    X(void, Enable, (GLenum))                                                                               \
    X(void, CullFace, (GLenum))                                                                             \
    X(void, FrontFace, (GLenum))                                                                            \
    X(void, DepthFunc, (GLenum))                                                                            \
    X(void, Viewport, (GLint, GLint, GLsizei, GLsizei))                                                     \
    X(void, ReadPixels, (GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, GLvoid*))                          \
    X(void, GenBuffers, (GLsizei, GLuint*))                                                                 \
    X(void, DeleteBuffers, (GLsizei, const GLuint*))                                                        \
    X(void, BindBuffer, (GLenum, GLuint))                                                                   \
    X(void, BufferData, (GLenum, GLsizeiptr, const void*, GLenum))                                          \
    X(void, EnableVertexAttribArray, (GLuint))                                                              \
    X(void, VertexAttribPointer, (GLuint, GLint, GLenum, GLboolean, GLsizei, const void*))                  \
    X(void, DrawArrays, (GLenum, GLint, GLsizei))                                                           \
    X(void, BufferSubData, (GLenum, GLintptr, GLsizeiptr, const void*))                                     \
    X(void, Uniform1f, (GLint, GLfloat))                                           \
    X(GLuint, CreateShader, (GLenum))                                                                       \
    X(void, ShaderSource, (GLuint, GLsizei, const GLchar* const*, const GLint*))                            \
    X(void, CompileShader, (GLuint))                                                                        \
    X(GLuint, CreateProgram, (void))                                                                        \
    X(void, AttachShader, (GLuint, GLuint))                                                                 \
    X(void, BindAttribLocation, (GLuint, GLuint, const GLchar*))                                            \
    X(void, LinkProgram, (GLuint))                                                                          \
    X(void, UseProgram, (GLuint))                                                                           \
    X(void, DeleteProgram, (GLuint))                                                                        \
    X(GLint, GetUniformLocation, (GLuint, const GLchar*))                                                   \
    X(void, UniformMatrix4fv, (GLint, GLsizei, GLboolean, const GLfloat*))                                  \
    X(void, GenFramebuffers, (GLsizei, GLuint*))                                                            \
    X(void, DeleteFramebuffers, (GLsizei, const GLuint*))                                                   \
    X(void, BindFramebuffer, (GLenum, GLuint))                                                              \
    X(void, GenRenderbuffers, (GLsizei, GLuint*))                                                           \
    X(void, DeleteRenderbuffers, (GLsizei, const GLuint*))                                                  \
    X(void, BindRenderbuffer, (GLenum, GLuint))                                                             \
    X(void, RenderbufferStorage, (GLenum, GLenum, GLsizei, GLsizei))                                        \
    X(void, FramebufferRenderbuffer, (GLenum, GLenum, GLenum, GLuint))                                      \
    X(void, BlitFramebuffer, (GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLbitfield, GLenum))
    RH_RAW_GL_TABLE(RH_RAW_GL)
};


struct SpriteVertex {
    float x, y, z, nx, ny, nz, size;
    DWORD colour;
};
struct QuadVertex {
    float x, y, z, nx, ny, nz;
    DWORD colour;
    float u, v;
};

const float kProjection[16] = {1.8106601f * kHeight / kWidth, 0, 0, 0, 0, 1.8106601f, 0, 0,
                               0, 0, 1.0005f, 1, 0, 0, -1.0005f, 0};

std::vector<Particle> Flakes() {
    std::srand(5);
    std::vector<Particle> out(kParticles);
    for (Particle& p : out) {
        p.position = Vec3{float(std::rand() % 600) - 300.0f, float(std::rand() % 120) - 40.0f,
                          float(std::rand() % 400) + 20.0f};
        p.width = p.height = 0.75f;
        p.colour = ArgbColor(0.3f, 1.0f, 1.0f, 1.0f);
        p.life = -1;
    }
    return out;
}

const char* const kRawVertex = R"(#version 120
attribute vec4 aPosition;
attribute float aSize;
attribute vec4 aColour;
uniform mat4 uProjection;
uniform float uHeight;
void main() {
    vec4 p = uProjection * aPosition;
    gl_Position = vec4(p.x, p.y, 2.0 * p.z - p.w, p.w);
    float de = length(aPosition.xyz);
    gl_PointSize = clamp(uHeight * aSize * inversesqrt(max(4.0 * de * de, 1e-30)), 1.0, 64.0);
    gl_FrontColor = aColour.zyxw;
}
)";
const char* const kRawFragment = R"(#version 120
void main() { gl_FragColor = gl_Color; }
)";

struct RawScene {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    RawGl gl;
    GLuint buffer = 0;
    GLuint framebuffer = 0;
    GLuint renderbuffers[2] = {0, 0};
    GLuint program = 0;
    bool quads = false;
    std::vector<Particle> flakes = Flakes();
    std::vector<unsigned char> vertices;

    explicit RawScene(bool useQuads) : quads(useQuads) {
        SDL_InitSubSystem(SDL_INIT_VIDEO);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
        window = SDL_CreateWindow("raw", 0, 0, kWidth, kHeight, SDL_WINDOW_OPENGL);
        if (window == nullptr) return;
        context = SDL_GL_CreateContext(window);
        if (context == nullptr || !gl.Load()) return;
        MakeCurrent();
        SDL_GL_SetSwapInterval(0);
        gl.GenFramebuffers(1, &framebuffer);
        gl.GenRenderbuffers(2, renderbuffers);
        gl.BindRenderbuffer(GL_RENDERBUFFER, renderbuffers[0]);
        gl.RenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidth, kHeight);
        gl.BindRenderbuffer(GL_RENDERBUFFER, renderbuffers[1]);
        gl.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, kWidth, kHeight);
        gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        gl.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffers[0]);
        gl.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER, renderbuffers[1]);
        gl.Viewport(0, 0, kWidth, kHeight);
        gl.Enable(GL_VERTEX_PROGRAM_POINT_SIZE);
        gl.Enable(GL_POINT_SPRITE);
        GLuint vs = gl.CreateShader(GL_VERTEX_SHADER);
        gl.ShaderSource(vs, 1, &kRawVertex, nullptr);
        gl.CompileShader(vs);
        GLuint fs = gl.CreateShader(GL_FRAGMENT_SHADER);
        gl.ShaderSource(fs, 1, &kRawFragment, nullptr);
        gl.CompileShader(fs);
        program = gl.CreateProgram();
        gl.AttachShader(program, vs);
        gl.AttachShader(program, fs);
        gl.BindAttribLocation(program, 0, "aPosition");
        gl.BindAttribLocation(program, 5, "aSize");
        gl.BindAttribLocation(program, 3, "aColour");
        gl.LinkProgram(program);
        gl.UseProgram(program);
        gl.UniformMatrix4fv(gl.GetUniformLocation(program, "uProjection"), 1, GL_FALSE, kProjection);
        gl.Uniform1f(gl.GetUniformLocation(program, "uHeight"), float(kHeight));
        gl.GenBuffers(1, &buffer);
        gl.BindBuffer(GL_ARRAY_BUFFER, buffer);
        const size_t stride = quads ? sizeof(QuadVertex) : sizeof(SpriteVertex);
        vertices.resize(stride * kParticles * (quads ? 6 : 1));
        gl.EnableVertexAttribArray(0);
        gl.EnableVertexAttribArray(3);
        if (!quads) gl.EnableVertexAttribArray(5);
        gl.VertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, GLsizei(stride), nullptr);
        gl.VertexAttribPointer(3, 4, GL_UNSIGNED_BYTE, GL_TRUE, GLsizei(stride),
                               reinterpret_cast<const void*>(quads ? 24 : 28));
        if (!quads) gl.VertexAttribPointer(5, 1, GL_FLOAT, GL_FALSE, GLsizei(stride), reinterpret_cast<const void*>(24));
    }
    ~RawScene() {
        if (context != nullptr) {
            MakeCurrent();
            if (buffer != 0) gl.DeleteBuffers(1, &buffer);
            if (framebuffer != 0) gl.DeleteFramebuffers(1, &framebuffer);
            if (renderbuffers[0] != 0) gl.DeleteRenderbuffers(2, renderbuffers);
            if (program != 0) gl.DeleteProgram(program);
            SDL_GL_DeleteContext(context);
        }
        if (window != nullptr) SDL_DestroyWindow(window);
    }
    bool ok() const { return program != 0 && context != nullptr; }
    void MakeCurrent() { SDL_GL_MakeCurrent(window, context); }

    void Frame() {
        MakeCurrent();
        gl.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
        gl.Clear(GL_COLOR_BUFFER_BIT);
        if (quads) {
            auto* out = reinterpret_cast<QuadVertex*>(vertices.data());
            const float hw = flakes[0].width * 0.5f, hh = flakes[0].height * 0.5f;
            for (const Particle& p : flakes) {
                const DWORD c = p.colour.ToARGB();
                const float x = p.position.x, y = p.position.y, z = p.position.z;
                out[0] = QuadVertex{x + hw, y - hh, z, 0, 0, -1, c, 0, 0};
                out[1] = QuadVertex{x - hw, y - hh, z, 0, 0, -1, c, 1, 0};
                out[2] = QuadVertex{x + hw, y + hh, z, 0, 0, -1, c, 0, 1};
                out[3] = out[1];
                out[4] = QuadVertex{x - hw, y + hh, z, 0, 0, -1, c, 1, 1};
                out[5] = out[2];
                out += 6;
            }
        } else {
            auto* out = reinterpret_cast<SpriteVertex*>(vertices.data());
            for (const Particle& p : flakes) {
                *out++ = SpriteVertex{p.position.x, p.position.y, p.position.z, 0, 0, -1, p.width, p.colour.ToARGB()};
            }
        }
        gl.BufferData(GL_ARRAY_BUFFER, GLsizeiptr(vertices.size()), nullptr, GL_STREAM_DRAW);
        gl.BufferSubData(GL_ARRAY_BUFFER, 0, GLsizeiptr(vertices.size()), vertices.data());
        gl.DrawArrays(quads ? GL_TRIANGLES : GL_POINTS, 0, kParticles * (quads ? 6 : 1));
        gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        gl.BlitFramebuffer(0, 0, kWidth, kHeight, 0, 0, kWidth, kHeight, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        SDL_GL_SwapWindow(window);
        gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    }
    int Lit() {
        MakeCurrent();
        std::vector<unsigned> pixels(size_t(kWidth) * kHeight);
        gl.ReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels.data());
        return int(std::count_if(pixels.begin(), pixels.end(), [](unsigned p) { return (p & 0xFFFFFF) != 0; }));
    }
    void Finish() {
        MakeCurrent();
        unsigned pixel = 0;
        gl.ReadPixels(0, 0, 1, 1, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, &pixel);
    }
};

LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM w, LPARAM l) { return DefWindowProcA(hwnd, msg, w, l); }

// The layer's side: a framework with a windowed device and an emitter holding the flakes.
class LayerScene : public AppFramework {
public:
    explicit LayerScene(bool quads) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &WindowProc;
        wc.lpszClassName = "ParticleBench";
        RegisterClassA(&wc);
        window_ = CreateWindowExA(0, wc.lpszClassName, "bench", WS_POPUP | WS_VISIBLE, 0, 0, kWidth, kHeight, nullptr,
                                  nullptr, nullptr, nullptr);
        if (window_ == nullptr || !Create(nullptr, window_)) return;
        DeviceSettings request = WindowedSettings();
        request.presentInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        SetDeviceSettings(request);
        if (!RecreateDevice(false) || g_device == nullptr) return;
        if (quads) ClearPointCaps(true, true);
        emitter_.particleLimit = kParticles;
        emitter_.singleTexture = emitter_.constantSize = true;
        for (const Particle& p : Flakes()) emitter_.particles.Append(p);
        material_.SetRenderContext(&context_);
        context_.view = IdentityMatrix();
        std::memcpy(context_.projection.m, kProjection, sizeof kProjection);
        context_.projection.kind = kMatrixGeneral;
        context_.projection.valid = 1;
        context_.viewProjection = context_.projection;
        SubMaterial& sub = material_.sub(0);
        sub.zEnable = 0;
        sub.zWrite = 0;
        sub.cullMode = D3DCULL_NONE;
        ok_ = true;
    }
    ~LayerScene() override {
        ReleaseDevice();
        if (window_ != nullptr) DestroyWindow(window_);
        UnregisterClassA("ParticleBench", nullptr);
    }
    bool ok() const { return ok_; }
    void Frame(bool present = true) {
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        g_device->BeginScene();
        StateCache::SetRenderState(D3DRS_LIGHTING, FALSE);
        StateCache::SetRenderState(D3DRS_ZENABLE, FALSE);
        StateCache::SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        ok_ = emitter_.RenderParticles(&material_).value != 0 && ok_;
        g_device->EndScene();
        if (present) g_device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    void Finish() {
        std::vector<DWORD> pixel;
        rh::d3d9::testing::ReadBackBuffer(g_device, RECT{0, 0, 1, 1}, &pixel);
    }
    // Lit pixels of the back buffer, to see that both sides draw the flakes.
    int Lit() {
        std::vector<DWORD> pixels;
        rh::d3d9::testing::ReadBackBuffer(g_device, RECT{0, 0, kWidth, kHeight}, &pixels);
        return int(std::count_if(pixels.begin(), pixels.end(), [](DWORD p) { return (p & 0xFFFFFF) != 0; }));
    }

private:
    HWND window_ = nullptr;
    bool ok_ = false;
    ParticleEmitter emitter_;
    MultiMaterial material_;
    RenderContext context_;
};

template <typename Scene>
double TimeFrames(Scene& scene, int frames) {
    scene.Finish();
    const auto start = std::chrono::steady_clock::now();
    for (int f = 0; f < frames; ++f) scene.Frame();
    scene.Finish();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / frames;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void BM_LayerAgainstRaw(benchmark::State& state) {
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    const bool quads = state.range(0) != 0;
    LayerScene layer(quads);
    RawScene raw(quads);
    if (!layer.ok() || !raw.ok()) {
        state.SkipWithError("no device or GL context");
        return;
    }
    std::vector<double> ratios, layerMs, rawMs;
    for (auto _ : state) {
        for (int round = 0; round < 15; ++round) {
            double l, r;
            if (round % 2 == 0) {
                l = TimeFrames(layer, 10);
                r = TimeFrames(raw, 10);
            } else {
                r = TimeFrames(raw, 10);
                l = TimeFrames(layer, 10);
            }
            ratios.push_back(l / r);
            layerMs.push_back(l);
            rawMs.push_back(r);
        }
    }
    if (!layer.ok()) state.SkipWithError("the layer's draw failed");
    state.counters["ratio_median"] = Median(ratios);
    state.counters["ratio_min"] = *std::min_element(ratios.begin(), ratios.end());
    state.counters["ratio_max"] = *std::max_element(ratios.begin(), ratios.end());
    layer.Frame(false);
    raw.Frame();
    state.counters["layer_lit"] = layer.Lit();
    state.counters["raw_lit"] = raw.Lit();
    state.counters["layer_ms"] = Median(layerMs);
    state.counters["raw_ms"] = Median(rawMs);
}
BENCHMARK(BM_LayerAgainstRaw)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
