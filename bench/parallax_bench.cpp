// Drawing 1,000 objects with the parallax material, one directional light each: the engine's
// PrepareObject, BeginMaterialPass, draw and EndMaterialPasses per object, against a raw GL
// loop with the same GLSL program (the texts the effect hands the driver), textures and draws,
// into the same target with the same GL state: the window's framebuffer (the layer draws there
// directly; only the window's corner of its desktop-sized GL buffer is cleared), alpha left
// alone by drawing, the effect's sampler filtering, the layer's pixel-centre shift and
// attribute locations, the Direct3D device's default depth and dither states. Both sides
// produce the same picture. The layer sends a uniform only when its value changes, so the fair
// raw loop does what a hand-written one would: the per-object matrices and eye each object,
// the values shared by every object once a frame (BM_RawGlParallaxObjects). Two more figures:
// the loop sending all thirteen values each object (BM_RawGlParallaxObjectsEveryUniform) and
// the loop into a framebuffer object of its own with GL's defaults
// (BM_RawGlParallaxObjectsOwnTarget), which llvmpipe finishes sooner whoever draws. Every loop
// ends each iteration with glFinish, so the GPU (llvmpipe) work counts on all sides; each has
// its own device and context; each draws one untimed frame first, so that the driver's
// compilation of its programs for the first draws is left out of both. Run with --benchmark_repetitions and
// --benchmark_enable_random_interleaving to interleave them.
#include <benchmark/benchmark.h>

#include "core/files/search_paths.h"
#include "core/settings/engine_settings.h"
#include "render/app_framework.h"
#include "render/camera_view.h"
#include "render/effect_manager.h"
#include "render/light.h"
#include "render/material.h"
#include "render/parallax_material.h"
#include "render/state_cache.h"
#include "render/texture.h"

#include "platform/d3d9/d3d9_testing.h"
#include "platform/d3d9/glsl_device.h"
#include "platform/d3dx9/effect_model.h"

#include "bench/bench_device.h"

#include <d3d9.h>
#include <d3dx9.h>
#include <windows.h>

#include <SDL.h>
#include <SDL_opengl.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fx = rh::d3dx9::fx;

constexpr int kObjects = 1000;
constexpr int kWidth = 320;
constexpr int kHeight = 240;

struct Vertex {
    float position[3], normal[3], uv0[2], uv1[2], uv2[2], tangent[3], binormal[3];
};

// A quad of a few pixels, so that the per-object work, not the rasteriser, is measured.
std::vector<Vertex> QuadVertices() {
    std::vector<Vertex> v;
    for (int i = 0; i < 4; ++i) {
        const float x = (i & 1) ? 0.02f : -0.02f, y = (i & 2) ? -0.02f : 0.02f;
        const float u = float(i & 1), t = float(i >> 1);
        v.push_back(Vertex{{x, y, 0}, {0, 0, -1}, {u, t}, {u, t}, {u, t}, {1, 0, 0}, {0, -1, 0}});
    }
    return v;
}
const uint16_t kIndices[6] = {0, 1, 2, 2, 1, 3};

std::string Source() {
    std::ifstream in(std::string(RH_MEDIA_DIR) + "/Shaders/Parallax_T.fx", std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Object i's place on a 40 x 25 grid in front of the camera.
void Place(int i, float* x, float* y) {
    *x = -6.0f + 0.3f * float(i % 40);
    *y = -3.6f + 0.3f * float(i / 40);
}

struct NoShaderCache {
    NoShaderCache() { setenv("MESA_SHADER_CACHE_DISABLE", "true", 1); }
};

LRESULT CALLBACK AppWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The engine's framework on a popup window, as the saver opens it.
class BenchApp : public NoShaderCache, public AppFramework {
public:
    BenchApp() {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        current = this;
        WNDCLASSA wc{};
        wc.lpfnWndProc = &AppWindowProc;
        wc.lpszClassName = "ParallaxBench";
        RegisterClassA(&wc);
        window_ = CreateWindowExA(0, wc.lpszClassName, "bench", WS_POPUP | WS_VISIBLE, 0, 0, kWidth, kHeight, nullptr,
                                  nullptr, nullptr, nullptr);
        if (window_ == nullptr || !Create(nullptr, window_)) return;
        DeviceSettings request = WindowedSettings();
        request.presentInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        SetDeviceSettings(request);
        RecreateDevice(false);
    }
    ~BenchApp() override {
        ReleaseDevice();
        if (window_ != nullptr) DestroyWindow(window_);
        current = nullptr;
    }
    static inline BenchApp* current = nullptr;

private:
    HWND window_ = nullptr;
};

LRESULT CALLBACK AppWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (BenchApp::current != nullptr) return BenchApp::current->MsgProc(hwnd, msg, wParam, lParam);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

std::unique_ptr<Texture> MakeTexture(DWORD colour) {
    auto texture = std::make_unique<Texture>();
    texture->CreateEmpty(0, 64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, false, false);
    D3DLOCKED_RECT locked{};
    if (texture->LockLevel(0, 0, &locked)) {
        for (int y = 0; y < 64; ++y) {
            auto* row = reinterpret_cast<DWORD*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch);
            for (int x = 0; x < 64; ++x) row[x] = colour ^ DWORD((x ^ y) & 8);
        }
        texture->UnlockLevel(0);
    }
    return texture;
}

using GlFinish = void(APIENTRY*)();

void BM_EngineParallaxObjects(benchmark::State& state) {
    BenchApp app;
    if (g_device == nullptr) {
        state.SkipWithError("no Direct3D device");
        return;
    }
    auto glFinishCall = reinterpret_cast<GlFinish>(SDL_GL_GetProcAddress("glFinish"));
    // The source folder stays clean: no binaries are kept.
    g_engineSettings.saveCompiledEffects = false;
    g_effectManager.searchPaths().Add(FileRef(RH_MEDIA_DIR "/Shaders"));
    g_effectManager.PreloadEffectMaterials();
    LitEffectMaterial* bump = g_effectManager.FindEffectMaterial("Bump", 200);
    if (bump == nullptr) {
        state.SkipWithError("no parallax material");
        return;
    }
    std::unique_ptr<Texture> diffuse = MakeTexture(0xFFC08040u), normals = MakeTexture(0xFF8080FFu);
    RenderContext context;
    CameraView camera;
    camera.SetProjection(1.0f, 100.0f, 1.0471976f, float(kWidth) / float(kHeight));
    camera.SetView(Vec3{0.0f, 0.0f, -10.0f}, Vec3{0.0f, 0.0f, 1.0f}, Vec3{0.0f, 1.0f, 0.0f});
    context.SetCamera(camera);
    auto* sun = new DirLight;
    sun->SetDirection(Vec3{0.2f, -0.3f, 1.0f});
    sun->SetDiffuse(ArgbColor(1.0f, 0.7f, 0.7f, 0.7f));
    sun->SetSpecular(ArgbColor(1.0f, 0.3f, 0.3f, 0.3f));
    context.lights.ambient = ArgbColor(1.0f, 0.2f, 0.2f, 0.2f);
    context.lights.Add(SharedRef<Light>(sun));
    MultiMaterial material;
    material.sub(0).maps[kDiffuseMap].texture = diffuse.get();
    material.sub(0).maps[kBumpMap].texture = normals.get();
    material.SelectShaderKind();
    material.SetRenderContext(&context);

    const std::vector<Vertex> vertices = QuadVertices();
    IDirect3DVertexBuffer9* vb = nullptr;
    IDirect3DIndexBuffer9* ib = nullptr;
    g_device->CreateVertexBuffer(sizeof(Vertex) * 4, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &vb, nullptr);
    g_device->CreateIndexBuffer(sizeof kIndices, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, &ib, nullptr);
    void* p = nullptr;
    vb->Lock(0, 0, &p, 0);
    std::memcpy(p, vertices.data(), sizeof(Vertex) * 4);
    vb->Unlock();
    ib->Lock(0, 0, &p, 0);
    std::memcpy(p, kIndices, sizeof kIndices);
    ib->Unlock();
    g_device->SetVertexDeclaration(GetVertexDeclaration(bump->VertexElements()));
    g_device->SetStreamSource(0, vb, 0, sizeof(Vertex));
    g_device->SetIndices(ib);
    StateCache::SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);

    int64_t draws = 0;
    auto frame = [&] {
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
        g_device->BeginScene();
        for (int i = 0; i < kObjects; ++i) {
            float x, y;
            Place(i, &x, &y);
            context.world = IdentityMatrix();
            context.world.At(3, 0) = x;
            context.world.At(3, 1) = y;
            context.world.kind = kMatrixTranslation;
            int32_t passes = 0;
            if (!bump->PrepareObject(&material, 0, &passes)) state.SkipWithError("PrepareObject failed");
            for (int32_t k = 0; k < passes; ++k) {
                if (bump->BeginMaterialPass(k) &&
                    g_device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, 4, 0, 2) == D3D_OK) {
                    ++draws;
                }
            }
            bump->EndMaterialPasses();
        }
        g_device->EndScene();
        glFinishCall();
    };
    // One frame before the timing, as on the raw side: the driver compiles its programs for the
    // first draws, a one-off cost that would otherwise count again in every repetition.
    frame();
    for (auto _ : state) frame();
    if (draws != (state.iterations() + 1) * kObjects) state.SkipWithError("not every object was drawn");
    // The objects are on the picture: a frame's worth of lit pixels.
    std::vector<DWORD> pixels;
    rh::d3d9::testing::ReadBackBuffer(g_device, RECT{0, 0, kWidth, kHeight}, &pixels);
    int64_t lit = 0;
    for (DWORD p : pixels) lit += (p & 0xFFFFFFu) != 0;
    state.counters["lit_pixels"] = static_cast<double>(lit);
    state.SetItemsProcessed(state.iterations() * kObjects);
    vb->Release();
    ib->Release();
    g_effectManager.ReleaseAll();
    g_effectManager.searchPaths() = SearchPaths();
}
BENCHMARK(BM_EngineParallaxObjects)->UseRealTime()->Unit(benchmark::kMillisecond);

struct LayerDevice : NoShaderCache, bench::BenchDevice {
    LayerDevice() : BenchDevice("ParallaxBenchRaw", kWidth, kHeight, true) {}
};

void Multiply(const float* a, const float* b, float* out) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            out[r * 4 + c] = a[r * 4] * b[c] + a[r * 4 + 1] * b[4 + c] + a[r * 4 + 2] * b[8 + c] + a[r * 4 + 3] * b[12 + c];
        }
    }
}

void RawGlParallaxObjects(benchmark::State& state, bool everyUniform, bool ownTarget) {
    LayerDevice layer;
    if (layer.device == nullptr) {
        state.SkipWithError("no Direct3D device");
        return;
    }
    // The program the effect would link for one directional light.
    void* services = nullptr;
    layer.device->QueryInterface(rh::d3d9::IID_IRhGlslDevice, &services);
    auto* glsl = static_cast<rh::d3d9::IRhGlslDevice*>(services);
    fx::Effect effect;
    std::string errors;
    const std::vector<fx::Macro> macros{{"DIR1", ""},      {"NUMDIR", "1"},        {"NUMPOINT", "0"},
                                        {"TEXCOORDS", ""}, {"PS_MODEL", "ps_1_1"}};
    if (!fx::Compile(Source(), macros, &effect, &errors)) {
        glsl->Release();
        state.SkipWithError("Parallax_T.fx did not compile");
        return;
    }
    const fx::PassDesc& pass = effect.techniques.at(0).passes.at(0);
    const std::string fixup = glsl->ClipFixup(fx::kPixelUniform);
    const std::string vertexText = fx::StageSource(effect, effect.code[pass.vertexCode], fixup);
    const std::string fragmentText = fx::StageSource(effect, effect.code[pass.fragmentCode], fixup);
    glsl->Release();

#define RH_GL(type, name) auto name = reinterpret_cast<type>(SDL_GL_GetProcAddress(#name))
    RH_GL(GLuint(APIENTRY*)(GLenum), glCreateShader);
    RH_GL(void(APIENTRY*)(GLuint, GLsizei, const GLchar* const*, const GLint*), glShaderSource);
    RH_GL(void(APIENTRY*)(GLuint), glCompileShader);
    RH_GL(GLuint(APIENTRY*)(), glCreateProgram);
    RH_GL(void(APIENTRY*)(GLuint, GLuint), glAttachShader);
    RH_GL(void(APIENTRY*)(GLuint, GLuint, const GLchar*), glBindAttribLocation);
    RH_GL(void(APIENTRY*)(GLuint), glLinkProgram);
    RH_GL(void(APIENTRY*)(GLuint, GLenum, GLint*), glGetProgramiv);
    RH_GL(GLint(APIENTRY*)(GLuint, const GLchar*), glGetUniformLocation);
    RH_GL(void(APIENTRY*)(GLuint), glUseProgram);
    RH_GL(void(APIENTRY*)(GLint, GLint), glUniform1i);
    RH_GL(void(APIENTRY*)(GLint, GLfloat), glUniform1f);
    RH_GL(void(APIENTRY*)(GLint, GLsizei, const GLfloat*), glUniform4fv);
    RH_GL(void(APIENTRY*)(GLint, GLsizei, GLboolean, const GLfloat*), glUniformMatrix4fv);
    RH_GL(void(APIENTRY*)(GLsizei, GLuint*), glGenBuffers);
    RH_GL(void(APIENTRY*)(GLenum, GLuint), glBindBuffer);
    RH_GL(void(APIENTRY*)(GLenum, ptrdiff_t, const void*, GLenum), glBufferData);
    RH_GL(void(APIENTRY*)(GLuint, GLint, GLenum, GLboolean, GLsizei, const void*), glVertexAttribPointer);
    RH_GL(void(APIENTRY*)(GLuint), glEnableVertexAttribArray);
    RH_GL(void(APIENTRY*)(GLenum), glActiveTexture);
    RH_GL(void(APIENTRY*)(GLsizei, GLuint*), glGenTextures);
    RH_GL(void(APIENTRY*)(GLenum, GLuint), glBindTexture);
    RH_GL(void(APIENTRY*)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*), glTexImage2D);
    RH_GL(void(APIENTRY*)(GLenum, GLenum, GLint), glTexParameteri);
    RH_GL(void(APIENTRY*)(GLenum, GLsizei, GLenum, const void*), glDrawElements);
    RH_GL(void(APIENTRY*)(GLint, GLint, GLsizei, GLsizei), glViewport);
    RH_GL(void(APIENTRY*)(GLenum), glEnable);
    RH_GL(void(APIENTRY*)(GLenum), glDisable);
    RH_GL(void(APIENTRY*)(GLenum), glDepthFunc);
    RH_GL(void(APIENTRY*)(GLint, GLint, GLsizei, GLsizei), glScissor);
    RH_GL(void(APIENTRY*)(GLboolean, GLboolean, GLboolean, GLboolean), glColorMask);
    RH_GL(void(APIENTRY*)(), glFinish);
    RH_GL(void(APIENTRY*)(GLbitfield), glClear);
    RH_GL(void(APIENTRY*)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void*), glReadPixels);
    RH_GL(void(APIENTRY*)(GLsizei, GLuint*), glGenFramebuffers);
    RH_GL(void(APIENTRY*)(GLenum, GLuint), glBindFramebuffer);
    RH_GL(void(APIENTRY*)(GLsizei, GLuint*), glGenRenderbuffers);
    RH_GL(void(APIENTRY*)(GLenum, GLuint), glBindRenderbuffer);
    RH_GL(void(APIENTRY*)(GLenum, GLenum, GLsizei, GLsizei), glRenderbufferStorage);
    RH_GL(void(APIENTRY*)(GLenum, GLenum, GLenum, GLuint), glFramebufferRenderbuffer);
#undef RH_GL

    // The layer draws straight into the window's framebuffer (its colour and depth buffers
    // are the device's), so the raw loop draws there too; a framebuffer object of its own
    // costs llvmpipe less per frame and would flatter the raw side.
    if (!ownTarget) glBindFramebuffer(GL_FRAMEBUFFER, 0);
    GLuint framebuffer = 0, renderbuffers[2];
    if (ownTarget) {
        glGenFramebuffers(1, &framebuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
        glGenRenderbuffers(2, renderbuffers);
        glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[0]);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, kWidth, kHeight);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffers[0]);
        glBindRenderbuffer(GL_RENDERBUFFER, renderbuffers[1]);
        glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH24_STENCIL8, kWidth, kHeight);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, renderbuffers[1]);
        glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_RENDERBUFFER, renderbuffers[1]);
    }

    GLuint shaders[2] = {glCreateShader(GL_VERTEX_SHADER), glCreateShader(GL_FRAGMENT_SHADER)};
    const GLchar* texts[2] = {vertexText.c_str(), fragmentText.c_str()};
    for (int i = 0; i < 2; ++i) {
        glShaderSource(shaders[i], 1, &texts[i], nullptr);
        glCompileShader(shaders[i]);
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, shaders[0]);
    glAttachShader(program, shaders[1]);
    static const char* const kAttributes[] = {"POSITION0", "NORMAL0", "TEXCOORD0", "TANGENT0", "BINORMAL0"};
    // The layer's fixed attribute locations, so that the same arrays are enabled on both sides.
    const GLuint locations[5] = {0, 2, 8, 7, 6};
    for (int a = 0; a < 5; ++a) glBindAttribLocation(program, locations[a], kAttributes[a]);
    glLinkProgram(program);
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) {
        state.SkipWithError("the program did not link");
        return;
    }
    glUseProgram(program);
    auto at = [&](const char* name) { return glGetUniformLocation(program, name); };
    glUniform1i(at("DiffuseSampler"), 0);
    glUniform1i(at("NormalSampler"), 1);
    // The shift the layer sends for these draws: half a pixel right and down to Direct3D's
    // pixel centres, less a 64th of a pixel that settles ties by Direct3D's top-left rule. The
    // objects cover the same pixels on both sides.
    const float pixel[4] = {1.0f / kWidth, (2.0f / 64.0f - 1.0f) / kHeight, 0.0f, 0.0f};
    glUniform4fv(at(fx::kPixelUniform), 1, pixel);
    const GLint wvp = at("WorldViewProj"), wv = at("WorldView"), eye = at("EyePosition"), bias = at("OffsetBias"),
                power = at("SpecularPower"), ambient = at("Ambient"), fogEnable = at("FogEnable"),
                rangeFog = at("RangeFogEnable"), fogEnd = at("FogEnd"), fogDelta = at("FogDelta"),
                dir = at("Dir1Dir"), diff = at("Dir1Diff"), specular = at("Dir1Spec");

    const std::vector<Vertex> vertices = QuadVertices();
    GLuint buffers[2];
    glGenBuffers(2, buffers);
    glBindBuffer(GL_ARRAY_BUFFER, buffers[0]);
    glBufferData(GL_ARRAY_BUFFER, sizeof(Vertex) * 4, vertices.data(), GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, buffers[1]);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, sizeof kIndices, kIndices, GL_STATIC_DRAW);
    const size_t offsets[5] = {0, 12, 24, 48, 60};
    const GLint sizes[5] = {3, 3, 2, 3, 3};
    for (int a = 0; a < 5; ++a) {
        glVertexAttribPointer(locations[a], sizes[a], GL_FLOAT, GL_FALSE, sizeof(Vertex),
                              reinterpret_cast<const void*>(offsets[a]));
        glEnableVertexAttribArray(locations[a]);
    }
    GLuint textures[2];
    glGenTextures(2, textures);
    std::vector<uint32_t> texels(64 * 64);
    for (int t = 0; t < 2; ++t) {
        // The engine's texels, in the format the layer gives an A8R8G8B8 texture.
        const uint32_t colour = t == 0 ? 0xFFC08040u : 0xFF8080FFu;
        for (int i = 0; i < 64 * 64; ++i) texels[i] = colour ^ uint32_t(((i % 64) ^ (i / 64)) & 8);
        glBindTexture(GL_TEXTURE_2D, textures[t]);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 64, 64, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, texels.data());
        // The effect's samplers filter with Linear mip filtering; the texture has one level.
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, !ownTarget ? GL_LINEAR_MIPMAP_LINEAR : GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    }
    // The textures never change: bound once, as the layer's texture cache leaves them.
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, textures[0]);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, textures[1]);
    glViewport(0, 0, kWidth, kHeight);
    glEnable(GL_DEPTH_TEST);
    if (!ownTarget) {
        // What a Direct3D device starts with: depth test LESSEQUAL, no dithering.
        glDepthFunc(GL_LEQUAL);
        glDisable(GL_DITHER);
    }
    // The window's back buffer is X8R8G8B8 on a GL buffer with alpha: drawing leaves alpha
    // alone, the clear writes it (as the layer does).
    glScissor(0, 0, kWidth, kHeight);

    CameraView camera;
    camera.SetProjection(1.0f, 100.0f, 1.0471976f, float(kWidth) / float(kHeight));
    camera.SetView(Vec3{0.0f, 0.0f, -10.0f}, Vec3{0.0f, 0.0f, 1.0f}, Vec3{0.0f, 1.0f, 0.0f});
    const TypedMatrix view = camera.GetViewMatrix();
    const TypedMatrix viewProjection = camera.GetViewProjectionMatrix();
    const float lightDir[4] = {0.2f, -0.3f, 1.0f, 1.0f};
    const float lightDiff[4] = {0.7f, 0.7f, 0.7f, 1.0f};
    const float lightSpec[4] = {0.3f, 0.3f, 0.3f, 1.0f};
    const float ambientColour[4] = {0.2f, 0.2f, 0.2f, 1.0f};

    auto sendShared = [&] {
        glUniform1f(bias, 0.01f);
        glUniform1f(power, 16.0f);
        glUniform4fv(ambient, 1, ambientColour);
        glUniform1i(fogEnable, 0);
        glUniform1i(rangeFog, 0);
        glUniform1f(fogEnd, 0.0f);
        glUniform1f(fogDelta, 1.0f);
        glUniform4fv(dir, 1, lightDir);
        glUniform4fv(diff, 1, lightDiff);
        glUniform4fv(specular, 1, lightSpec);
    };
    auto frame = [&] {
        if (!ownTarget) {
            // The window's GL buffer is made at the desktop's size (1024 x 768 offscreen) and
            // the window's 320 x 240 are a corner of it: like the layer's Clear, clear only them.
            glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
            glEnable(GL_SCISSOR_TEST);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glDisable(GL_SCISSOR_TEST);
            glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_FALSE);
        } else {
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        }
        if (!everyUniform) {
            glUseProgram(program);
            sendShared();
        }
        for (int i = 0; i < kObjects; ++i) {
            float x, y;
            Place(i, &x, &y);
            const float world[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, 0, 1};
            float worldViewProj[16], worldView[16];
            Multiply(world, viewProjection.m, worldViewProj);
            Multiply(world, view.m, worldView);
            const float eyeLocal[4] = {-x, -y, -10.0f, 1.0f};
            if (everyUniform) glUseProgram(program);
            glUniformMatrix4fv(wvp, 1, GL_FALSE, worldViewProj);
            glUniformMatrix4fv(wv, 1, GL_FALSE, worldView);
            glUniform4fv(eye, 1, eyeLocal);
            if (everyUniform) sendShared();
            glDrawElements(GL_TRIANGLES, 6, GL_UNSIGNED_SHORT, nullptr);
        }
        glFinish();
    };
    frame();  // untimed, as on the engine's side
    for (auto _ : state) frame();
    state.SetItemsProcessed(state.iterations() * kObjects);
    std::vector<uint32_t> pixels(kWidth * kHeight);
    glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    int64_t lit = 0;
    for (uint32_t p : pixels) lit += (p & 0xFFFFFFu) != 0;
    state.counters["lit_pixels"] = static_cast<double>(lit);
}
void BM_RawGlParallaxObjects(benchmark::State& state) { RawGlParallaxObjects(state, false, false); }
void BM_RawGlParallaxObjectsEveryUniform(benchmark::State& state) { RawGlParallaxObjects(state, true, false); }
void BM_RawGlParallaxObjectsOwnTarget(benchmark::State& state) { RawGlParallaxObjects(state, false, true); }
BENCHMARK(BM_RawGlParallaxObjects)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawGlParallaxObjectsEveryUniform)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawGlParallaxObjectsOwnTarget)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
