// Frame time of 1,000 lit, fogged, two-stage textured meshes through the Direct3D layer's
// generated fixed-function programs, against a raw GL loop with a hand-written GLSL program
// doing the same maths (a directional and a point light, range fog, MODULATE then
// MODULATE2X on a second coordinate set), in the same run, offscreen on Mesa's llvmpipe.
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
#include <cstdio>
#include <cstring>
#include <string>
#include <ctime>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kMeshes = 1000;
constexpr int kColumns = 40;
constexpr int kRows = kMeshes / kColumns;

// One mesh: a box of 24 vertices (four a face, each with its normal) and 36 indices.
struct Vertex {
    float x, y, z;
    float nx, ny, nz;
    DWORD colour;
    float u0, v0, u1, v1;
};
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE | D3DFVF_TEX2;
constexpr int kMeshVertices = 24;
constexpr int kMeshIndices = 36;

std::vector<Vertex> BoxVertices(int mesh) {
    const DWORD hue = 0xFF000000 | static_cast<DWORD>((mesh * 2654435761u) & 0x00FFFFFF) | 0x00404040;
    static const float corners[6][4][3] = {
        {{-1, -1, -1}, {-1, 1, -1}, {1, -1, -1}, {1, 1, -1}}, {{1, -1, 1}, {1, 1, 1}, {-1, -1, 1}, {-1, 1, 1}},
        {{-1, -1, 1}, {-1, 1, 1}, {-1, -1, -1}, {-1, 1, -1}}, {{1, -1, -1}, {1, 1, -1}, {1, -1, 1}, {1, 1, 1}},
        {{-1, 1, -1}, {-1, 1, 1}, {1, 1, -1}, {1, 1, 1}},     {{-1, -1, 1}, {-1, -1, -1}, {1, -1, 1}, {1, -1, -1}},
    };
    static const float normals[6][3] = {{0, 0, -1}, {0, 0, 1}, {-1, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, -1, 0}};
    static const float uv[4][2] = {{0, 1}, {0, 0}, {1, 1}, {1, 0}};
    std::vector<Vertex> out;
    for (int f = 0; f < 6; ++f) {
        for (int k = 0; k < 4; ++k) {
            const float* c = corners[f][k];
            const float* n = normals[f];
            out.push_back({c[0], c[1], c[2], n[0], n[1], n[2], hue, uv[k][0], uv[k][1], 0.25f + 0.5f * uv[k][0],
                           0.25f + 0.5f * uv[k][1]});
        }
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

// The textures: a 64 x 64 checker of two tints, and a 16 x 16 light map falling off from its
// centre (0x80 is "no change" under MODULATE2X).
std::vector<DWORD> BaseTexels() {
    std::vector<DWORD> t(64 * 64);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) t[y * 64 + x] = ((x / 8 + y / 8) % 2) != 0 ? 0xFFF0E0C0 : 0xFF8090A0;
    }
    return t;
}
std::vector<DWORD> LightMapTexels() {
    std::vector<DWORD> t(16 * 16);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            double d = std::hypot(x - 7.5, y - 7.5) / 10.6;
            DWORD v = static_cast<DWORD>(std::clamp(0xC0 - d * 0x80, 0.0, 255.0));
            t[y * 16 + x] = 0xFF000000 | v << 16 | v << 8 | v;
        }
    }
    return t;
}

// The scene's lighting and fog, shared by both loops (world space; the view is a translation).
constexpr float kDirection[3] = {0.3f, -0.5f, 0.8124f};  // the directional light shines along it
constexpr float kPointPosition[3] = {0.0f, 0.0f, -4.0f};
constexpr float kPointRange = 40.0f;
constexpr float kPointAttenuation[3] = {1.0f, 0.02f, 0.0f};
constexpr float kLightColour[3] = {0.8f, 0.8f, 0.75f};
constexpr float kPointColour[3] = {0.6f, 0.5f, 0.3f};
constexpr float kMaterialAmbient = 0.4f;
constexpr DWORD kGlobalAmbient = 0xFF303030;
constexpr float kFogStart = 25.0f;
constexpr float kFogEnd = 45.0f;
constexpr DWORD kFogColour = 0xFF607080;

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

DWORD BitsOf(float f) {
    DWORD bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// ---- Through the layer ----

struct LayerScene : bench::BenchDevice {
    IDirect3DVertexBuffer9* vertices = nullptr;
    IDirect3DIndexBuffer9* indices = nullptr;
    IDirect3DTexture9* textures[2] = {nullptr, nullptr};

    IDirect3DTexture9* MakeTexture(UINT size, const std::vector<DWORD>& texels) {
        IDirect3DTexture9* texture = nullptr;
        if (device->CreateTexture(size, size, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr) != D3D_OK) {
            return nullptr;
        }
        D3DLOCKED_RECT locked{};
        texture->LockRect(0, &locked, nullptr, 0);
        for (UINT y = 0; y < size; ++y) {
            std::memcpy(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch, &texels[y * size], size * 4);
        }
        texture->UnlockRect(0);
        return texture;
    }

    LayerScene() : BenchDevice("FfpBench", kWidth, kHeight, true) {
        if (device == nullptr) return;
        const UINT vertexBytes = kMeshes * kMeshVertices * sizeof(Vertex);
        const UINT indexBytes = kMeshes * kMeshIndices * sizeof(uint16_t);
        const DWORD usage = D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY;
        if (device->CreateVertexBuffer(vertexBytes, usage, kFvf, D3DPOOL_DEFAULT, &vertices, nullptr) != D3D_OK ||
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
        textures[0] = MakeTexture(64, BaseTexels());
        textures[1] = MakeTexture(16, LightMapTexels());
        device->SetFVF(kFvf);
        device->SetStreamSource(0, vertices, 0, sizeof(Vertex));
        device->SetIndices(indices);
        D3DMATRIX view = View();
        D3DMATRIX projection = Projection();
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
        // Lighting: the vertex colour is the diffuse colour, the material the ambient one.
        device->SetRenderState(D3DRS_LIGHTING, TRUE);
        device->SetRenderState(D3DRS_AMBIENT, kGlobalAmbient);
        D3DMATERIAL9 material{};
        material.Diffuse = {1, 1, 1, 1};
        material.Ambient = {kMaterialAmbient, kMaterialAmbient, kMaterialAmbient, 1};
        device->SetMaterial(&material);
        D3DLIGHT9 sun{};
        sun.Type = D3DLIGHT_DIRECTIONAL;
        sun.Direction = {kDirection[0], kDirection[1], kDirection[2]};
        sun.Diffuse = {kLightColour[0], kLightColour[1], kLightColour[2], 1};
        D3DLIGHT9 lamp{};
        lamp.Type = D3DLIGHT_POINT;
        lamp.Position = {kPointPosition[0], kPointPosition[1], kPointPosition[2]};
        lamp.Range = kPointRange;
        lamp.Attenuation0 = kPointAttenuation[0];
        lamp.Attenuation1 = kPointAttenuation[1];
        lamp.Attenuation2 = kPointAttenuation[2];
        lamp.Diffuse = {kPointColour[0], kPointColour[1], kPointColour[2], 1};
        device->SetLight(0, &sun);
        device->SetLight(1, &lamp);
        device->LightEnable(0, TRUE);
        device->LightEnable(1, TRUE);
        // The saver's fog: vertex, linear, by distance.
        device->SetRenderState(D3DRS_FOGENABLE, TRUE);
        device->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
        device->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
        device->SetRenderState(D3DRS_FOGSTART, BitsOf(kFogStart));
        device->SetRenderState(D3DRS_FOGEND, BitsOf(kFogEnd));
        device->SetRenderState(D3DRS_FOGCOLOR, kFogColour);
        // Stage 0 the default MODULATE of texture and diffuse; stage 1 the light map.
        for (DWORD s = 0; s < 2; ++s) {
            device->SetTexture(s, textures[s]);
            device->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
            device->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        }
        device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
        device->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
        device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TEXTURE);
        device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_CURRENT);
        device->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
    }
    ~LayerScene() {
        for (IDirect3DTexture9* texture : textures) {
            if (texture != nullptr) texture->Release();
        }
        if (indices != nullptr) indices->Release();
        if (vertices != nullptr) vertices->Release();
    }
    bool ok() const { return indices != nullptr && textures[1] != nullptr; }

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
    void Finish() {
        std::vector<DWORD> pixel;
        rh::d3d9::testing::ReadBackBuffer(device, RECT{0, 0, 1, 1}, &pixel);
    }
    // The frame drawn, top row first, as 0xAARRGGBB.
    std::vector<DWORD> Image() {
        std::vector<DWORD> pixels;
        rh::d3d9::testing::ReadBackBuffer(device, RECT{0, 0, kWidth, kHeight}, &pixels);
        return pixels;
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
    X(void, UniformMatrix3fv, (GLint, GLsizei, GLboolean, const GLfloat*))                                  \
    X(void, Uniform4fv, (GLint, GLsizei, const GLfloat*))                                                   \
    X(void, Uniform1i, (GLint, GLint))                                                                      \
    X(void, ActiveTexture, (GLenum))                                                                        \
    X(void, BindTexture, (GLenum, GLuint))                                                                  \
    X(void, GenTextures, (GLsizei, GLuint*))                                                                \
    X(void, DeleteTextures, (GLsizei, const GLuint*))                                                       \
    X(void, TexImage2D, (GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*))       \
    X(void, TexParameteri, (GLenum, GLenum, GLint))                                                         \
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


// The hand-written equivalent of the layer's program for this scene: camera-space lighting by
// one directional and one point light (attenuation, range), the vertex colour as the diffuse
// material, linear range fog per vertex, MODULATE then MODULATE2X, and the same conventions
// (clip z, half-pixel shift, tie lift, D3DCOLOR's byte order).
const char* const kRawVertex = R"(#version 120
attribute vec4 aPosition;
attribute vec3 aNormal;
attribute vec4 aColour;
attribute vec4 aUv0;
attribute vec4 aUv1;
uniform mat4 uWorldViewProjection;
uniform mat4 uWorldView;
uniform mat3 uNormalMatrix;
uniform vec4 uSun;         // towards the light, camera space
uniform vec4 uSunColour;
uniform vec4 uLamp;        // position, range
uniform vec4 uLampFactors; // attenuation
uniform vec4 uLampColour;
uniform vec4 uAmbient;     // material ambient times global ambient
uniform vec4 uFog;         // end, 1 / (end - start)
void main() {
    vec4 p = uWorldViewProjection * aPosition;
    gl_Position = vec4(p.x + p.w / 640.0, p.y - p.w * (1.0 - 2.0 / 64.0) / 480.0, 2.0 * p.z - p.w, p.w);
    vec3 P = (uWorldView * aPosition).xyz;
    vec3 N = uNormalMatrix * aNormal;
    vec4 colour = aColour.zyxw;
    vec3 light = max(dot(N, uSun.xyz), 0.0) * uSunColour.rgb;
    vec3 toLamp = uLamp.xyz - P;
    float d = length(toLamp);
    float att = d <= uLamp.w ? 1.0 / (uLampFactors.x + uLampFactors.y * d + uLampFactors.z * d * d) : 0.0;
    light += att * max(dot(N, toLamp / d), 0.0) * uLampColour.rgb;
    gl_FrontColor = clamp(vec4(uAmbient.rgb + colour.rgb * light, colour.a), 0.0, 1.0);
    gl_FogFragCoord = clamp((uFog.x - length(P)) * uFog.y, 0.0, 1.0);
    gl_TexCoord[0] = aUv0;
    gl_TexCoord[1] = aUv1;
}
)";
const char* const kRawFragment = R"(#version 120
uniform sampler2D uBase;
uniform sampler2D uLightMap;
uniform vec4 uFogColour;
void main() {
    vec4 t = texture2D(uBase, gl_TexCoord[0].xy);
    vec4 c = vec4(t.rgb * gl_Color.rgb, t.a);
    c.rgb = clamp(2.0 * c.rgb * texture2D(uLightMap, gl_TexCoord[1].xy).rgb, 0.0, 1.0);
    gl_FragColor = vec4(mix(uFogColour.rgb, c.rgb, gl_FogFragCoord), c.a);
}
)";

// The inverse transpose of m's upper 3 x 3 (rows as GLSL's columns, as the layer sends it).
void NormalMatrix(const D3DMATRIX& m, GLfloat* out) {
    double c[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            int i1 = (i + 1) % 3, i2 = (i + 2) % 3, j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            c[i][j] = double{m.m[i1][j1]} * m.m[i2][j2] - double{m.m[i1][j2]} * m.m[i2][j1];
        }
    }
    double det = m.m[0][0] * c[0][0] + m.m[0][1] * c[0][1] + m.m[0][2] * c[0][2];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) out[i * 3 + j] = static_cast<float>(c[i][j] / det);
    }
}

struct RawScene {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    RawGl gl;
    GLuint buffers[2] = {0, 0};
    GLuint textures[2] = {0, 0};
    GLuint framebuffer = 0;
    GLuint renderbuffers[2] = {0, 0};
    GLuint program = 0;
    GLint wvp = -1, wv = -1, normal = -1;

    GLuint MakeTexture(int size, const std::vector<DWORD>& texels) {
        GLuint name = 0;
        gl.GenTextures(1, &name);
        gl.BindTexture(GL_TEXTURE_2D, name);
        gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, size, size, 0, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        return name;
    }

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
        gl.BindAttribLocation(program, 2, "aNormal");
        gl.BindAttribLocation(program, 3, "aColour");
        gl.BindAttribLocation(program, 8, "aUv0");
        gl.BindAttribLocation(program, 9, "aUv1");
        gl.LinkProgram(program);
        gl.UseProgram(program);
        wvp = gl.GetUniformLocation(program, "uWorldViewProjection");
        wv = gl.GetUniformLocation(program, "uWorldView");
        normal = gl.GetUniformLocation(program, "uNormalMatrix");
        // The lights in camera space: the view is a translation along z.
        const D3DMATRIX view = View();
        const float length = std::sqrt(kDirection[0] * kDirection[0] + kDirection[1] * kDirection[1] +
                                       kDirection[2] * kDirection[2]);
        const GLfloat sun[4] = {-kDirection[0] / length, -kDirection[1] / length, -kDirection[2] / length, 0};
        const GLfloat sunColour[4] = {kLightColour[0], kLightColour[1], kLightColour[2], 1};
        const GLfloat lamp[4] = {kPointPosition[0] + view._41, kPointPosition[1] + view._42,
                                 kPointPosition[2] + view._43, kPointRange};
        const GLfloat factors[4] = {kPointAttenuation[0], kPointAttenuation[1], kPointAttenuation[2], 0};
        const GLfloat lampColour[4] = {kPointColour[0], kPointColour[1], kPointColour[2], 1};
        const float g = static_cast<float>(kGlobalAmbient & 0xFF) / 255.0f * kMaterialAmbient;
        const GLfloat ambient[4] = {g, g, g, 1};
        const GLfloat fog[4] = {kFogEnd, 1.0f / (kFogEnd - kFogStart), 0, 0};
        const GLfloat fogColour[4] = {((kFogColour >> 16) & 0xFF) / 255.0f, ((kFogColour >> 8) & 0xFF) / 255.0f,
                                      (kFogColour & 0xFF) / 255.0f, 1};
        gl.Uniform4fv(gl.GetUniformLocation(program, "uSun"), 1, sun);
        gl.Uniform4fv(gl.GetUniformLocation(program, "uSunColour"), 1, sunColour);
        gl.Uniform4fv(gl.GetUniformLocation(program, "uLamp"), 1, lamp);
        gl.Uniform4fv(gl.GetUniformLocation(program, "uLampFactors"), 1, factors);
        gl.Uniform4fv(gl.GetUniformLocation(program, "uLampColour"), 1, lampColour);
        gl.Uniform4fv(gl.GetUniformLocation(program, "uAmbient"), 1, ambient);
        gl.Uniform4fv(gl.GetUniformLocation(program, "uFog"), 1, fog);
        gl.Uniform4fv(gl.GetUniformLocation(program, "uFogColour"), 1, fogColour);
        gl.Uniform1i(gl.GetUniformLocation(program, "uBase"), 0);
        gl.Uniform1i(gl.GetUniformLocation(program, "uLightMap"), 1);
        gl.ActiveTexture(GL_TEXTURE0);
        textures[0] = MakeTexture(64, BaseTexels());
        gl.ActiveTexture(GL_TEXTURE1);
        textures[1] = MakeTexture(16, LightMapTexels());
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
        for (GLuint a : {0u, 2u, 3u, 8u, 9u}) gl.EnableVertexAttribArray(a);
    }
    ~RawScene() {
        if (context != nullptr) {
            MakeCurrent();
            if (buffers[0] != 0) gl.DeleteBuffers(2, buffers);
            if (textures[0] != 0) gl.DeleteTextures(2, textures);
            if (framebuffer != 0) gl.DeleteFramebuffers(1, &framebuffer);
            if (renderbuffers[0] != 0) gl.DeleteRenderbuffers(2, renderbuffers);
            if (program != 0) gl.DeleteProgram(program);
            SDL_GL_DeleteContext(context);
        }
        if (window != nullptr) SDL_DestroyWindow(window);
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    bool ok() const { return wvp >= 0 && wv >= 0 && normal >= 0; }
    void MakeCurrent() { SDL_GL_MakeCurrent(window, context); }

    void Frame(int frame) {
        gl.ClearColor(0x20 / 255.0f, 0x30 / 255.0f, 0x40 / 255.0f, 1.0f);
        gl.ClearDepth(1.0);
        gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        const D3DMATRIX view = View();
        const D3DMATRIX viewProjection = Multiply(view, Projection());
        for (int i = 0; i < kMeshes; ++i) {
            const D3DMATRIX world = World(i, frame);
            const D3DMATRIX product = Multiply(world, viewProjection);
            const D3DMATRIX worldView = Multiply(world, view);
            GLfloat normals[9];
            NormalMatrix(worldView, normals);
            gl.UniformMatrix4fv(wvp, 1, GL_FALSE, &product.m[0][0]);
            gl.UniformMatrix4fv(wv, 1, GL_FALSE, &worldView.m[0][0]);
            gl.UniformMatrix3fv(normal, 1, GL_FALSE, normals);
            const uintptr_t base = static_cast<uintptr_t>(i) * kMeshVertices * sizeof(Vertex);
            const auto at = [&](uintptr_t offset) { return reinterpret_cast<const void*>(base + offset); };
            gl.VertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), at(0));
            gl.VertexAttribPointer(2, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), at(12));
            gl.VertexAttribPointer(3, 4, GL_UNSIGNED_BYTE, GL_TRUE, sizeof(Vertex), at(24));
            gl.VertexAttribPointer(8, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex), at(28));
            gl.VertexAttribPointer(9, 2, GL_FLOAT, GL_FALSE, sizeof(Vertex), at(36));
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
    // The frame last drawn (before the copy to the window), top row first, as 0xAARRGGBB.
    std::vector<DWORD> Image() {
        std::vector<DWORD> rows(kWidth * kHeight);
        gl.ReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, rows.data());
        std::vector<DWORD> out(rows.size());
        for (int y = 0; y < kHeight; ++y) std::memcpy(&out[y * kWidth], &rows[(kHeight - 1 - y) * kWidth], kWidth * 4);
        return out;
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

// With RH_FFP_BENCH_IMAGES naming a directory, writes the frame as a binary PPM there, to look
// at the two loops' pictures side by side.
void SaveImage(const std::vector<DWORD>& image, const char* name) {
    const char* dir = std::getenv("RH_FFP_BENCH_IMAGES");
    if (dir == nullptr || *dir == '\0' || image.size() != static_cast<size_t>(kWidth * kHeight)) return;
    std::string path = std::string(dir) + "/" + name + ".ppm";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    std::fprintf(file, "P6\n%d %d\n255\n", kWidth, kHeight);
    for (DWORD p : image) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16), static_cast<unsigned char>(p >> 8),
                                      static_cast<unsigned char>(p)};
        std::fwrite(rgb, 1, 3, file);
    }
    std::fclose(file);
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
        // Both warm: programs made, buffers resident. Frame 2 of each is kept to look at.
        TimeFrames(layer, 0, 3);
        SaveImage(layer.Image(), "ffp_bench_layer");
        raw.MakeCurrent();
        TimeFrames(raw, 0, 3);
        SaveImage(raw.Image(), "ffp_bench_raw");
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
