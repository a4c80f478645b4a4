// Making the ten light-count permutations of a parallax-style effect: from source (preprocess,
// parse, write the binary, read it, compile and link with the driver), from binaries (read,
// compile and link), and raw GL compiling and linking the same GLSL texts and looking up the
// same uniforms, in the same context. The effect is the project's own "Parallax_T.fx" with
// the engine's macros (DIRn, NUMDIR, POINTn, NUMPOINT, TEXCOORDS, PS_MODEL); Mesa's shader
// cache is off so that every run compiles.
#include <benchmark/benchmark.h>

#include "platform/d3d9/glsl_device.h"
#include "platform/d3dx9/effect_model.h"

#include "bench/bench_device.h"

#include <d3d9.h>
#include <d3dx9.h>
#include <windows.h>

#include <SDL.h>
#include <SDL_opengl.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fx = rh::d3dx9::fx;

// The project's parallax template, as the engine compiles it.
const std::string& Source() {
    static const std::string source = [] {
        std::ifstream in(std::string(RH_MEDIA_DIR) + "/Shaders/Parallax_T.fx", std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }();
    return source;
}

constexpr int kCombinations[10][2] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {0, 1}, {1, 1}, {2, 1}, {0, 2}, {1, 2}, {0, 3}};

// The macros of a permutation: DIR1..DIRa, NUMDIR a, POINT(a+1)..POINT(a+b), NUMPOINT b,
// TEXCOORDS, PS_MODEL.
struct Permutation {
    std::vector<std::string> text;
    std::vector<D3DXMACRO> macros;
    std::vector<fx::Macro> fxMacros;
};

std::vector<Permutation> Permutations() {
    std::vector<Permutation> all(10);
    for (int i = 0; i < 10; ++i) {
        int a = kCombinations[i][0];
        int b = kCombinations[i][1];
        Permutation& p = all[static_cast<size_t>(i)];
        std::vector<std::pair<std::string, std::string>> pairs;
        for (int d = 1; d <= a; ++d) pairs.push_back({"DIR" + std::to_string(d), ""});
        pairs.push_back({"NUMDIR", std::to_string(a)});
        for (int q = a + 1; q <= a + b; ++q) pairs.push_back({"POINT" + std::to_string(q), ""});
        pairs.push_back({"NUMPOINT", std::to_string(b)});
        pairs.push_back({"TEXCOORDS", ""});
        pairs.push_back({"PS_MODEL", "ps_1_1"});
        for (auto& [name, value] : pairs) {
            p.text.push_back(name);
            p.text.push_back(value);
            p.fxMacros.push_back({name, value});
        }
        for (size_t m = 0; m < pairs.size(); ++m) p.macros.push_back({p.text[2 * m].c_str(), p.text[2 * m + 1].c_str()});
        p.macros.push_back({nullptr, nullptr});
    }
    return all;
}

// Mesa's shader cache would turn every compile after the first into a look-up; set before the
// device (its base below) makes the context.
struct NoShaderCache {
    NoShaderCache() { setenv("MESA_SHADER_CACHE_DISABLE", "true", 1); }
};

struct LayerDevice : NoShaderCache, bench::BenchDevice {
    LayerDevice() : BenchDevice("EffectBench", 320, 240, false) {}
};

std::vector<uint8_t> CompileBinary(const Permutation& p) {
    ID3DXEffectCompiler* compiler = nullptr;
    std::vector<uint8_t> bytes;
    if (D3DXCreateEffectCompiler(Source().c_str(), static_cast<UINT>(Source().size()), p.macros.data(), nullptr, 0,
                                 &compiler, nullptr) != D3D_OK) {
        return bytes;
    }
    ID3DXBuffer* binary = nullptr;
    if (compiler->CompileEffect(0, &binary, nullptr) == D3D_OK) {
        const auto* b = static_cast<const uint8_t*>(binary->GetBufferPointer());
        bytes.assign(b, b + binary->GetBufferSize());
        binary->Release();
    }
    compiler->Release();
    return bytes;
}

// One effect from a binary; false when it failed or its technique is invalid.
bool MakeEffect(IDirect3DDevice9* device, ID3DXEffectPool* pool, const std::vector<uint8_t>& binary) {
    ID3DXEffect* effect = nullptr;
    if (D3DXCreateEffect(device, binary.data(), static_cast<UINT>(binary.size()), nullptr, nullptr, 0, pool, &effect,
                         nullptr) != D3D_OK) {
        return false;
    }
    D3DXHANDLE technique = nullptr;
    effect->FindNextValidTechnique(nullptr, &technique);
    effect->Release();
    return technique != nullptr;
}

void BM_EffectsFromSource(benchmark::State& state) {
    LayerDevice layer;
    if (layer.device == nullptr) {
        state.SkipWithError("no Direct3D device");
        return;
    }
    std::vector<Permutation> permutations = Permutations();
    ID3DXEffectPool* pool = nullptr;
    D3DXCreateEffectPool(&pool);
    for (auto _ : state) {
        for (const Permutation& p : permutations) {
            if (!MakeEffect(layer.device, pool, CompileBinary(p))) state.SkipWithError("a permutation failed");
        }
    }
    pool->Release();
    state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(BM_EffectsFromSource)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_EffectsFromBinaries(benchmark::State& state) {
    LayerDevice layer;
    if (layer.device == nullptr) {
        state.SkipWithError("no Direct3D device");
        return;
    }
    std::vector<std::vector<uint8_t>> binaries;
    for (const Permutation& p : Permutations()) binaries.push_back(CompileBinary(p));
    ID3DXEffectPool* pool = nullptr;
    D3DXCreateEffectPool(&pool);
    for (auto _ : state) {
        for (const std::vector<uint8_t>& binary : binaries) {
            if (!MakeEffect(layer.device, pool, binary)) state.SkipWithError("a permutation failed");
        }
    }
    pool->Release();
    state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(BM_EffectsFromBinaries)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same GLSL compiled and linked by hand: the attributes bound, the uniforms looked up and
// the samplers given their units, as the effect does.
void BM_RawGlCompileLink(benchmark::State& state) {
    LayerDevice layer;
    if (layer.device == nullptr) {
        state.SkipWithError("no Direct3D device");
        return;
    }
    void* services = nullptr;
    layer.device->QueryInterface(rh::d3d9::IID_IRhGlslDevice, &services);
    auto* glsl = static_cast<rh::d3d9::IRhGlslDevice*>(services);
    struct Texts {
        std::string vertex, fragment;
        std::vector<std::string> uniforms;
    };
    std::vector<Texts> texts;
    for (const Permutation& p : Permutations()) {
        fx::Effect effect;
        std::string errors;
        fx::Compile(Source(), p.fxMacros, &effect, &errors);
        const fx::PassDesc& pass = effect.techniques.at(0).passes.at(0);
        std::string fixup = glsl->ClipFixup(fx::kPixelUniform);
        Texts t{fx::StageSource(effect, effect.code[pass.vertexCode], fixup),
                fx::StageSource(effect, effect.code[pass.fragmentCode], fixup),
                {}};
        for (const fx::CodeBlock* code : {&effect.code[pass.vertexCode], &effect.code[pass.fragmentCode]}) {
            for (uint32_t i : fx::UsedParameters(effect, *code)) t.uniforms.push_back(effect.parameters[i].name);
        }
        texts.push_back(std::move(t));
    }
    glsl->Release();
#define RH_GL(type, name) auto name = reinterpret_cast<type>(SDL_GL_GetProcAddress(#name))
    RH_GL(GLuint(APIENTRY*)(GLenum), glCreateShader);
    RH_GL(void(APIENTRY*)(GLuint, GLsizei, const GLchar* const*, const GLint*), glShaderSource);
    RH_GL(void(APIENTRY*)(GLuint), glCompileShader);
    RH_GL(void(APIENTRY*)(GLuint, GLenum, GLint*), glGetShaderiv);
    RH_GL(GLuint(APIENTRY*)(), glCreateProgram);
    RH_GL(void(APIENTRY*)(GLuint, GLuint), glAttachShader);
    RH_GL(void(APIENTRY*)(GLuint, GLuint, const GLchar*), glBindAttribLocation);
    RH_GL(void(APIENTRY*)(GLuint), glLinkProgram);
    RH_GL(void(APIENTRY*)(GLuint, GLenum, GLint*), glGetProgramiv);
    RH_GL(GLint(APIENTRY*)(GLuint, const GLchar*), glGetUniformLocation);
    RH_GL(void(APIENTRY*)(GLuint), glUseProgram);
    RH_GL(void(APIENTRY*)(GLint, GLint), glUniform1i);
    RH_GL(void(APIENTRY*)(GLuint), glDeleteShader);
    RH_GL(void(APIENTRY*)(GLuint), glDeleteProgram);
#undef RH_GL
    static const char* const kAttributes[] = {"POSITION0", "NORMAL0", "TANGENT0", "BINORMAL0", "TEXCOORD0"};
    for (auto _ : state) {
        for (const Texts& t : texts) {
            GLuint shaders[2] = {glCreateShader(GL_VERTEX_SHADER), glCreateShader(GL_FRAGMENT_SHADER)};
            const GLchar* sources[2] = {t.vertex.c_str(), t.fragment.c_str()};
            GLint ok = 0;
            for (int i = 0; i < 2; ++i) {
                glShaderSource(shaders[i], 1, &sources[i], nullptr);
                glCompileShader(shaders[i]);
                glGetShaderiv(shaders[i], GL_COMPILE_STATUS, &ok);
                if (ok != GL_TRUE) state.SkipWithError("a shader did not compile");
            }
            GLuint program = glCreateProgram();
            glAttachShader(program, shaders[0]);
            glAttachShader(program, shaders[1]);
            for (GLuint a = 0; a < 5; ++a) glBindAttribLocation(program, a, kAttributes[a]);
            glLinkProgram(program);
            glGetProgramiv(program, GL_LINK_STATUS, &ok);
            if (ok != GL_TRUE) state.SkipWithError("a program did not link");
            glUseProgram(program);
            GLint unit = 0;
            for (const std::string& name : t.uniforms) {
                GLint location = glGetUniformLocation(program, name.c_str());
                if (location >= 0 && name.find("Sampler") != std::string::npos) glUniform1i(location, unit++);
            }
            glUseProgram(0);
            glDeleteProgram(program);
            glDeleteShader(shaders[0]);
            glDeleteShader(shaders[1]);
        }
    }
    state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(BM_RawGlCompileLink)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
