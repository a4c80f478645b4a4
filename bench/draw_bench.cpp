// Frame time of 1,000 small indexed meshes, each with its own world matrix, drawn from one
// shared vertex buffer and one shared index buffer (filled block by block, as the engine's
// growable buffers are), through the Direct3D layer and through a raw GL loop with an
// equivalent hand-written program, in the same run, offscreen on Mesa's llvmpipe.
//
// BM_LayerAgainstRaw interleaves the two (reps rounds of frames each, the order swapped every
// round) and reports the ratio layer / raw of every round's mean frame time: its median, least
// and greatest; the same of the processor time of all threads, steadier on a busy machine.
// BM_Frame times either alone.
#include <benchmark/benchmark.h>

#include "platform/d3d9/d3d9_testing.h"

#include "bench/bench_device.h"
#include "bench/raw_gl.h"

#include <d3d9.h>
#include <windows.h>

#include <SDL.h>
#include <SDL_opengl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kMeshes = 1000;
constexpr int kColumns = 40;
constexpr int kRows = kMeshes / kColumns;

// One mesh: a box of 24 vertices (four a face) and 36 indices, 16 bytes a vertex.
struct Vertex {
    float x, y, z;
    DWORD colour;
};
constexpr int kMeshVertices = 24;
constexpr int kMeshIndices = 36;

std::vector<Vertex> BoxVertices(int mesh) {
    // Each face a shade of the mesh's own hue.
    const DWORD hue = 0xFF000000 | static_cast<DWORD>((mesh * 2654435761u) & 0x00FFFFFF) | 0x00404040;
    static const float corners[6][4][3] = {
        {{-1, -1, -1}, {-1, 1, -1}, {1, -1, -1}, {1, 1, -1}}, {{1, -1, 1}, {1, 1, 1}, {-1, -1, 1}, {-1, 1, 1}},
        {{-1, -1, 1}, {-1, 1, 1}, {-1, -1, -1}, {-1, 1, -1}}, {{1, -1, -1}, {1, 1, -1}, {1, -1, 1}, {1, 1, 1}},
        {{-1, 1, -1}, {-1, 1, 1}, {1, 1, -1}, {1, 1, 1}},     {{-1, -1, 1}, {-1, -1, -1}, {1, -1, 1}, {1, -1, -1}},
    };
    std::vector<Vertex> out;
    for (int f = 0; f < 6; ++f) {
        const DWORD shade = (hue & 0xFF000000) | ((hue & 0x00FEFEFE) >> (f % 2));
        for (const auto& c : corners[f]) out.push_back({c[0], c[1], c[2], shade});
    }
    return out;
}

std::vector<uint16_t> BoxIndices() {
    std::vector<uint16_t> out;
    for (uint16_t f = 0; f < 6; ++f) {
        const uint16_t b = static_cast<uint16_t>(f * 4);
        for (uint16_t i : {b, uint16_t(b + 1), uint16_t(b + 2), uint16_t(b + 2), uint16_t(b + 1), uint16_t(b + 3)}) {
            out.push_back(i);
        }
    }
    return out;
}

// Row-major, row vectors, as Direct3D.
D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX c;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            c.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j] + a.m[i][3] * b.m[3][j];
        }
    }
    return c;
}

D3DMATRIX Identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

// Mesh i's world matrix in frame: spun about y and x, scaled down, placed on a 40 x 25 grid.
D3DMATRIX World(int i, int frame) {
    const float a = 0.05f * static_cast<float>(frame) + 0.1f * static_cast<float>(i);
    const float c = std::cos(a);
    const float s = std::sin(a);
    D3DMATRIX y = Identity();
    y._11 = c;
    y._13 = -s;
    y._31 = s;
    y._33 = c;
    D3DMATRIX x = Identity();
    x._22 = c;
    x._23 = s;
    x._32 = -s;
    x._33 = c;
    D3DMATRIX m = Multiply(y, x);
    for (int r = 0; r < 3; ++r) {
        for (int col = 0; col < 3; ++col) m.m[r][col] *= 0.4f;
    }
    m._41 = static_cast<float>(i % kColumns) - kColumns / 2.0f + 0.5f;
    m._42 = static_cast<float>(i / kColumns) - kRows / 2.0f + 0.5f;
    return m;
}

// A left-handed perspective looking down +z from 30 units away.
D3DMATRIX View() {
    D3DMATRIX m = Identity();
    m._43 = 30.0f;
    return m;
}
D3DMATRIX Projection() {
    const float fov = 1.2f;
    const float aspect = static_cast<float>(kWidth) / kHeight;
    const float yScale = 1.0f / std::tan(fov / 2.0f);
    const float zn = 1.0f;
    const float zf = 100.0f;
    D3DMATRIX m{};
    m._11 = yScale / aspect;
    m._22 = yScale;
    m._33 = zf / (zf - zn);
    m._34 = 1.0f;
    m._43 = -zn * zf / (zf - zn);
    return m;
}

// ---- Through the layer ----

struct LayerScene : bench::BenchDevice {
    IDirect3DVertexBuffer9* vertices = nullptr;
    IDirect3DIndexBuffer9* indices = nullptr;

    LayerScene() : BenchDevice("DrawBench", kWidth, kHeight, true) {
        if (device == nullptr) return;
        // Growable-style buffers: dynamic, default pool, each mesh its own block, written with
        // NOOVERWRITE as blocks are.
        const UINT vertexBytes = kMeshes * kMeshVertices * sizeof(Vertex);
        const UINT indexBytes = kMeshes * kMeshIndices * sizeof(uint16_t);
        const DWORD usage = D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY;
        const DWORD fvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;
        if (device->CreateVertexBuffer(vertexBytes, usage, fvf, D3DPOOL_DEFAULT, &vertices, nullptr) != D3D_OK ||
            device->CreateIndexBuffer(indexBytes, usage, D3DFMT_INDEX16, D3DPOOL_DEFAULT, &indices, nullptr) != D3D_OK) {
            return;
        }
        const std::vector<uint16_t> box = BoxIndices();
        for (int i = 0; i < kMeshes; ++i) {
            const std::vector<Vertex> mesh = BoxVertices(i);
            void* p = nullptr;
            const UINT vSize = kMeshVertices * sizeof(Vertex);
            vertices->Lock(i * vSize, vSize, &p, D3DLOCK_NOOVERWRITE);
            std::memcpy(p, mesh.data(), vSize);
            vertices->Unlock();
            const UINT iSize = kMeshIndices * sizeof(uint16_t);
            indices->Lock(i * iSize, iSize, &p, D3DLOCK_NOOVERWRITE);
            std::memcpy(p, box.data(), iSize);
            indices->Unlock();
        }
        device->SetFVF(fvf);
        device->SetStreamSource(0, vertices, 0, sizeof(Vertex));
        device->SetIndices(indices);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        D3DMATRIX view = View();
        D3DMATRIX projection = Projection();
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
    }
    ~LayerScene() {
        if (indices != nullptr) indices->Release();
        if (vertices != nullptr) vertices->Release();
    }
    bool ok() const { return indices != nullptr; }

    void Frame(int frame) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF203040, 1.0f, 0);
        device->BeginScene();
        for (int i = 0; i < kMeshes; ++i) {
            D3DMATRIX world = World(i, frame);
            device->SetTransform(D3DTS_WORLD, &world);
            device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, i * kMeshVertices, 0, kMeshVertices, i * kMeshIndices,
                                         kMeshIndices / 3);
        }
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    // Waits for the frames drawn so far.
    void Finish() {
        std::vector<DWORD> pixel;
        rh::d3d9::testing::ReadBackBuffer(device, RECT{0, 0, 1, 1}, &pixel);
    }
};

// ---- Raw GL ----

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
    X(void, DrawElements, (GLenum, GLsizei, GLenum, const void*))                                           \
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

// The hand-written equivalent of the layer's program for these vertices: the product of the
// three matrices, D3DCOLOR's byte order, clip z from 0..w, the half-pixel shift and the
// 1/64-pixel lift that settles ties on pixel centres as Direct3D does.
const char* const kRawVertex = R"(#version 120
attribute vec4 aPosition;
attribute vec4 aColour;
uniform mat4 uWorldViewProjection;
void main() {
    vec4 p = uWorldViewProjection * aPosition;
    gl_Position = vec4(p.x + p.w / 640.0, p.y - p.w * (1.0 - 2.0 / 64.0) / 480.0, 2.0 * p.z - p.w, p.w);
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
    GLuint buffers[2] = {0, 0};
    GLuint framebuffer = 0;
    GLuint renderbuffers[2] = {0, 0};
    GLuint program = 0;
    GLint matrix = -1;

    RawScene() {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        SDL_InitSubSystem(SDL_INIT_VIDEO);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
        SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
        SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        window = SDL_CreateWindow("raw", 0, 0, kWidth, kHeight, SDL_WINDOW_OPENGL);
        if (window == nullptr) return;
        context = SDL_GL_CreateContext(window);
        if (context == nullptr || !gl.Load()) return;
        MakeCurrent();
        SDL_GL_SetSwapInterval(0);
        // Drawn into a framebuffer object and copied to the window at the end of the frame, as
        // the layer draws into its back buffer and Present copies it.
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
        gl.Enable(GL_DEPTH_TEST);
        gl.DepthFunc(GL_LEQUAL);
        gl.Enable(GL_CULL_FACE);
        gl.FrontFace(GL_CW);
        gl.CullFace(GL_BACK);
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
        gl.BindAttribLocation(program, 3, "aColour");
        gl.LinkProgram(program);
        gl.UseProgram(program);
        matrix = gl.GetUniformLocation(program, "uWorldViewProjection");
        std::vector<Vertex> vertices;
        std::vector<uint16_t> indices;
        const std::vector<uint16_t> box = BoxIndices();
        for (int i = 0; i < kMeshes; ++i) {
            const std::vector<Vertex> mesh = BoxVertices(i);
            vertices.insert(vertices.end(), mesh.begin(), mesh.end());
            indices.insert(indices.end(), box.begin(), box.end());
        }
        gl.GenBuffers(2, buffers);
        gl.BindBuffer(GL_ARRAY_BUFFER, buffers[0]);
        gl.BufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(Vertex)), vertices.data(),
                      GL_DYNAMIC_DRAW);
        gl.BindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[1]);
        gl.BufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(indices.size() * sizeof(uint16_t)),
                      indices.data(), GL_DYNAMIC_DRAW);
        gl.EnableVertexAttribArray(0);
        gl.EnableVertexAttribArray(3);
    }
    ~RawScene() {
        if (context != nullptr) {
            MakeCurrent();
            if (buffers[0] != 0) gl.DeleteBuffers(2, buffers);
            if (framebuffer != 0) gl.DeleteFramebuffers(1, &framebuffer);
            if (renderbuffers[0] != 0) gl.DeleteRenderbuffers(2, renderbuffers);
            if (program != 0) gl.DeleteProgram(program);
            SDL_GL_DeleteContext(context);
        }
        if (window != nullptr) SDL_DestroyWindow(window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    bool ok() const { return matrix >= 0; }
    void MakeCurrent() { SDL_GL_MakeCurrent(window, context); }

    void Frame(int frame) {
        gl.ClearColor(0x20 / 255.0f, 0x30 / 255.0f, 0x40 / 255.0f, 1.0f);
        gl.ClearDepth(1.0);
        gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        const D3DMATRIX viewProjection = Multiply(View(), Projection());
        for (int i = 0; i < kMeshes; ++i) {
            const D3DMATRIX wvp = Multiply(World(i, frame), viewProjection);
            gl.UniformMatrix4fv(matrix, 1, GL_FALSE, &wvp.m[0][0]);
            // No base vertex in GL 2.1: the arrays start at the mesh's first vertex.
            const uintptr_t base = static_cast<uintptr_t>(i) * kMeshVertices * sizeof(Vertex);
            gl.VertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), reinterpret_cast<const void*>(base));
            gl.VertexAttribPointer(3, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(Vertex),
                                   reinterpret_cast<const void*>(base + 12));
            gl.DrawElements(GL_TRIANGLES, kMeshIndices, GL_UNSIGNED_SHORT,
                            reinterpret_cast<const void*>(static_cast<uintptr_t>(i) * kMeshIndices * sizeof(uint16_t)));
        }
        gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
        gl.BlitFramebuffer(0, 0, kWidth, kHeight, 0, 0, kWidth, kHeight, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        SDL_GL_SwapWindow(window);
        gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    }
    void Finish() {
        unsigned pixel = 0;
        gl.ReadPixels(0, 0, 1, 1, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, &pixel);
    }
};

struct FrameTimes {
    double wallMs = 0.0;     // mean real time of a frame
    double processMs = 0.0;  // mean processor time of a frame, all threads
};

// The mean times of frames frames drawn by scene, from frame first on.
template <typename Scene>
FrameTimes TimeFrames(Scene& scene, int first, int frames) {
    scene.Finish();
    const double processStart = bench::ProcessMs();
    const auto start = std::chrono::steady_clock::now();
    for (int f = 0; f < frames; ++f) scene.Frame(first + f);
    scene.Finish();
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    return FrameTimes{took.count() / frames, (bench::ProcessMs() - processStart) / frames};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void BM_LayerAgainstRaw(benchmark::State& state) {
    const int reps = static_cast<int>(state.range(0));
    const int frames = static_cast<int>(state.range(1));
    LayerScene layer;
    RawScene raw;
    if (!layer.ok() || !raw.ok()) {
        state.SkipWithError("no device or no GL context");
        return;
    }
    std::vector<double> ratios, processRatios, layerMs, rawMs;
    for (auto _ : state) {
        // Both warm: programs made, buffers resident.
        TimeFrames(layer, 0, 3);
        raw.MakeCurrent();
        TimeFrames(raw, 0, 3);
        for (int rep = 0; rep < reps; ++rep) {
            FrameTimes l;
            FrameTimes r;
            if (rep % 2 == 0) {
                l = TimeFrames(layer, rep * frames, frames);
                raw.MakeCurrent();
                r = TimeFrames(raw, rep * frames, frames);
            } else {
                raw.MakeCurrent();
                r = TimeFrames(raw, rep * frames, frames);
                l = TimeFrames(layer, rep * frames, frames);
            }
            layerMs.push_back(l.wallMs);
            rawMs.push_back(r.wallMs);
            ratios.push_back(l.wallMs / r.wallMs);
            processRatios.push_back(l.processMs / r.processMs);
        }
    }
    state.counters["ratio_median"] = Median(ratios);
    state.counters["ratio_min"] = *std::min_element(ratios.begin(), ratios.end());
    state.counters["ratio_max"] = *std::max_element(ratios.begin(), ratios.end());
    // Processor time is steadier than real time on a shared machine.
    state.counters["cpu_ratio_median"] = Median(processRatios);
    state.counters["cpu_ratio_min"] = *std::min_element(processRatios.begin(), processRatios.end());
    state.counters["cpu_ratio_max"] = *std::max_element(processRatios.begin(), processRatios.end());
    state.counters["layer_ms_median"] = Median(layerMs);
    state.counters["raw_ms_median"] = Median(rawMs);
    state.counters["reps"] = static_cast<double>(ratios.size());
}
BENCHMARK(BM_LayerAgainstRaw)->Args({15, 10})->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// One frame of either alone: 0 the layer, 1 raw GL.
void BM_Frame(benchmark::State& state) {
    int frame = 0;
    if (state.range(0) == 0) {
        LayerScene layer;
        if (!layer.ok()) {
            state.SkipWithError("no device");
            return;
        }
        for (auto _ : state) layer.Frame(frame++);
        layer.Finish();
    } else {
        RawScene raw;
        if (!raw.ok()) {
            state.SkipWithError("no GL context");
            return;
        }
        for (auto _ : state) raw.Frame(frame++);
        raw.Finish();
    }
    state.counters["draws_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kMeshes, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Frame)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
