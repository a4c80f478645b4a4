// The effect framework without a device: the preprocessor, the parser's checks and messages,
// and the compiled binary's round trip and refusal of damage.

#include "platform/d3dx9/effect_model.h"

#include <d3dx9.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

namespace fx = rh::d3dx9::fx;

// Blanks and newlines collapsed, so that cases compare tokens.
std::string Squeezed(const std::string& s) {
    std::string out;
    for (char c : s) {
        bool blank = c == ' ' || c == '\n' || c == '\t';
        if (blank) {
            if (!out.empty() && out.back() != ' ') out += ' ';
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

struct PreprocessCase {
    const char* name;
    const char* source;
    std::vector<fx::Macro> macros;
    const char* expected;
};

TEST(EffectPreprocessor, ExpandsMacrosAndKeepsTheTakenBranches) {
    const PreprocessCase cases[] = {
        {"object-like", "#define A 3\nA+A", {}, "3+3"},
        {"function-like", "#define MUL(x, y) x*y\nMUL(2, 3)", {}, "2*3"},
        {"nested calls", "#define MUL(x,y) x*y\nMUL(MUL(1,2),3)", {}, "1*2*3"},
        {"parentheses in arguments", "#define F(x) [x]\nF((1,2))", {}, "[(1,2)]"},
        {"name without a call", "#define F(x) x\nF + 1", {}, "F + 1"},
        {"no arguments", "#define F() 7\nF()", {}, "7"},
        {"self-reference stays", "#define X X+1\nX", {}, "X+1"},
        {"mutual reference stays", "#define A B\n#define B A\nA B", {}, "A B"},
        {"undef", "#define A 1\n#undef A\nA", {}, "A"},
        {"redefinition", "#define A 1\n#define A 2\nA", {}, "2"},
        {"caller's macros", "#if NUMDIR > 1\nmany\n#endif\n#ifdef DIR1\nfirst\n#endif", {{"DIR1", ""}, {"NUMDIR", "2"}},
         "many first"},
        {"caller's macro in code", "x = NUMPOINT;", {{"NUMPOINT", "3"}}, "x = 3;"},
        {"arithmetic", "#if (1 + 2) * 3 == 9 && 7 / 2 == 3 && 7 % 4 == 3 && -2 < 0\nyes\n#else\nno\n#endif", {}, "yes"},
        {"bits and shifts", "#if (1 << 3) == 8 && (0xF0 >> 4) == 15 && (6 & 3) == 2 && (4 | 1) == 5 && (5 ^ 1) == 4 && ~0 == -1\nyes\n#endif",
         {}, "yes"},
        {"bases", "#if 0x10 == 16 && 010 == 8 && 10u == 10\nyes\n#endif", {}, "yes"},
        {"defined both ways", "#define A\n#if defined A && defined(A) && !defined(B)\nyes\n#endif", {}, "yes"},
        {"unknown names are 0", "#if UNKNOWN\nno\n#else\nyes\n#endif", {}, "yes"},
        {"macros in #if", "#define N 4\n#define TWICE(x) ((x) * 2)\n#if TWICE(N) == 8\nyes\n#endif", {}, "yes"},
        {"ternary", "#if (1 ? 2 : 3) == 2 && (0 ? 2 : 3) == 3\nyes\n#endif", {}, "yes"},
        {"elif chain", "#define V 2\n#if V == 1\none\n#elif V == 2\ntwo\n#elif V == 2\nagain\n#else\nother\n#endif", {}, "two"},
        {"ifndef", "#ifndef A\nyes\n#endif\n#ifdef A\nno\n#endif", {}, "yes"},
        {"skipped groups nest", "#if 0\n#if 1\nno\n#endif\n#error not here\n#else\nyes\n#endif", {}, "yes"},
        {"defines in skipped groups", "#if 0\n#define A 1\n#endif\nA", {}, "A"},
        {"comments", "a /* b */ c // d\ne", {}, "a c e"},
        {"comment markers in strings", "s = \"// not a comment\";", {}, "s = \"// not a comment\";"},
        {"macros not in strings", "#define A 1\n\"A\"", {}, "\"A\""},
        {"line splice", "#define LONG 1 + \\\n 2\nLONG", {}, "1 + 2"},
        {"pragma ignored", "#pragma something\nx", {}, "x"},
    };
    for (const PreprocessCase& c : cases) {
        std::string out;
        std::string errors;
        EXPECT_TRUE(fx::Preprocess(c.source, c.macros, &out, &errors)) << c.name << ": " << errors;
        EXPECT_EQ(Squeezed(out), c.expected) << c.name;
    }
}

TEST(EffectPreprocessor, KeepsTheSourceLines) {
    // Line n of the output comes from line n of the source, whatever sat between.
    const char* source = "a\n/* two\nlines */ b\n#define X \\\n  1\nc X\n#if 0\nd\n#endif\ne";
    std::string out;
    std::string errors;
    ASSERT_TRUE(fx::Preprocess(source, {}, &out, &errors)) << errors;
    std::vector<std::string> lines(1);
    for (char ch : out) {
        if (ch == '\n') {
            lines.emplace_back();
        } else {
            lines.back() += ch;
        }
    }
    ASSERT_EQ(lines.size(), 11u);  // ten lines, each ended by a newline
    EXPECT_EQ(lines[10], "");
    EXPECT_EQ(Squeezed(lines[0]), "a");
    EXPECT_EQ(Squeezed(lines[2]), "b");
    EXPECT_EQ(Squeezed(lines[5]), "c 1");
    EXPECT_EQ(Squeezed(lines[9]), "e");
}

struct ErrorCase {
    const char* name;
    std::string source;
    const char* message;  // a part of the errors
};

std::string Repeated(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// Macros each twice the one before: 2^40 tokens if nothing stopped it.
std::string Doubling() {
    std::string s = "#define M0 x x\n";
    for (int i = 1; i <= 40; ++i) s += "#define M" + std::to_string(i) + " M" + std::to_string(i - 1) + " M" + std::to_string(i - 1) + "\n";
    return s + "M40\n";
}

TEST(EffectPreprocessor, RefusesWithTheLineOfTheFault) {
    const ErrorCase cases[] = {
        {"include", "x\n#include \"other.fx\"\n", "line 2: #include is not supported"},
        {"error", "\n\n#error stop here\n", "line 3: #error stop here"},
        {"error in a taken branch", "#if 1\n#error taken\n#endif", "line 2: #error taken"},
        {"unterminated comment", "a\n/* open\n\n", "line 2: unterminated comment"},
        {"unterminated string", "a\nb = \"open\n", "line 2: unterminated string"},
        {"unterminated if", "#if 1\nx\n", "line 1: unterminated #if"},
        {"endif alone", "x\n#endif\n", "line 2: #endif without #if"},
        {"else twice", "#if 1\n#else\n#else\n#endif", "line 3: #else without #if"},
        {"elif after else", "#if 1\n#else\n#elif 1\n#endif", "line 3: #elif without #if"},
        {"division by zero", "#if 1 / 0\n#endif", "line 1: division by zero"},
        {"empty if", "#if\n#endif", "line 1: #if without an expression"},
        {"bad expression", "#if 1 +\n#endif", "line 1: #if expression ends early"},
        {"unknown directive", "#frobnicate\n", "line 1: unknown directive '#frobnicate'"},
        {"argument count", "#define F(x) x\n\nF(1, 2)", "line 3: macro 'F' takes 1 arguments, not 2"},
        {"unterminated call", "#define F(x) x\nF(1", "line 2: unterminated call of macro 'F'"},
        {"define without a name", "#define\n", "line 1: #define needs a name"},
        {"defined as a macro", "#define defined 1\n", "'defined' cannot be a macro"},
        {"repeated parameter", "#define F(a, a) a\n", "parameter 'a' twice"},
        {"nesting", Repeated("#if 1\n", 65) + Repeated("#endif\n", 65), "line 65: #if groups nest too deeply"},
        {"expression nesting", "#if " + Repeated("(", 300) + "1" + Repeated(")", 300) + "\n#endif", "nests too deeply"},
        {"expansion size", Doubling(), "macro expansion too large"},
        {"zero byte in a string", std::string("a\nstring s = \"x\0y\";", 19), "line 2: a zero byte in the source"},
    };
    for (const ErrorCase& c : cases) {
        std::string out;
        std::string errors;
        EXPECT_FALSE(fx::Preprocess(c.source, {}, &out, &errors)) << c.name;
        EXPECT_NE(errors.find(c.message), std::string::npos) << c.name << ": " << errors;
    }
}

TEST(EffectPreprocessor, RefusesBadCallerMacros) {
    std::string out;
    std::string errors;
    EXPECT_FALSE(fx::Preprocess("x", {{"1ABC", ""}}, &out, &errors));
    EXPECT_NE(errors.find("bad macro name"), std::string::npos) << errors;
}

// A small effect using every part of the language.
const char kEffect[] = R"(// Everything the language has.
shared float4x4 WorldViewProj : WORLDVIEWPROJECTION;
float4 Colour < string Ui = "colour"; float Step = 0.5; > = {1, 0.5, 0.25, 1};
int Count = 3;
bool Flag = true;
float Scale = -2.5f;
texture Diffuse;
sampler2D DiffuseSampler = sampler_state {
    Texture = <Diffuse>;
    MinFilter = Linear;
    magfilter = POINT;
    AddressU = Clamp;
    MipMapLodBias = 0.5;
};
glsl_vertex VS {
    void main() { gl_Position = WorldViewProj * POSITION0; FOG = 1.0; }
}
glsl_fragment PS {
    void main() { gl_FragColor = Colour * texture2D(DiffuseSampler, vec2(0.5)); }
}
technique Main < int DIR = NUMDIR; int POINT = 0; > {
    pass First < bool Extra = false; > {
        VertexShader = compile vs_1_1 VS();
        PixelShader = PS;
        zwriteenable = FALSE;
        ZFunc = LessEqual;
        SrcBlend = srcalpha;
        CullMode = None;
        FogStart = 2.5;
        MinFilter[1] = Anisotropic;
        Texture[2] = <Diffuse>;
    }
}
)";

TEST(EffectCompile, ParsesEveryPartOfAnEffect) {
    fx::Effect e;
    std::string errors;
    ASSERT_TRUE(fx::Compile(kEffect, {{"NUMDIR", "2"}}, &e, &errors)) << errors;
    ASSERT_EQ(e.parameters.size(), 7u);
    const fx::Parameter& wvp = e.parameters[0];
    EXPECT_TRUE(wvp.shared);
    EXPECT_EQ(wvp.semantic, "WORLDVIEWPROJECTION");
    EXPECT_EQ(wvp.type, fx::Type::kFloat4x4);
    const fx::Parameter& colour = e.parameters[1];
    EXPECT_FALSE(colour.shared);
    EXPECT_EQ(colour.initial, (std::vector<float>{1, 0.5f, 0.25f, 1}));
    ASSERT_EQ(colour.annotations.size(), 2u);
    EXPECT_EQ(colour.annotations[0].text, "colour");
    EXPECT_EQ(colour.annotations[1].values[0], 0.5f);
    EXPECT_EQ(e.parameters[2].initial, std::vector<float>{3});
    EXPECT_EQ(e.parameters[3].initial, std::vector<float>{1});
    EXPECT_EQ(e.parameters[4].initial, std::vector<float>{-2.5f});
    const fx::Parameter& sampler = e.parameters[6];
    EXPECT_EQ(sampler.texture, 5u);
    float bias = 0.5f;
    uint32_t biasBits;
    std::memcpy(&biasBits, &bias, 4);
    ASSERT_EQ(sampler.samplerStates.size(), 4u);
    EXPECT_EQ(sampler.samplerStates[0].state, uint32_t{D3DSAMP_MINFILTER});
    EXPECT_EQ(sampler.samplerStates[0].value, uint32_t{D3DTEXF_LINEAR});
    EXPECT_EQ(sampler.samplerStates[1].value, uint32_t{D3DTEXF_POINT});
    EXPECT_EQ(sampler.samplerStates[2].value, uint32_t{D3DTADDRESS_CLAMP});
    EXPECT_EQ(sampler.samplerStates[3].value, biasBits);

    ASSERT_EQ(e.code.size(), 2u);
    EXPECT_EQ(e.code[0].line, 15u);  // the line of its opening brace
    ASSERT_EQ(e.techniques.size(), 1u);
    const fx::TechniqueDesc& t = e.techniques[0];
    EXPECT_EQ(t.name, "Main");
    ASSERT_EQ(t.annotations.size(), 2u);
    EXPECT_EQ(t.annotations[0].name, "DIR");
    EXPECT_EQ(t.annotations[0].ints[0], 2);
    ASSERT_EQ(t.passes.size(), 1u);
    const fx::PassDesc& p = t.passes[0];
    EXPECT_EQ(p.vertexCode, 0u);
    EXPECT_EQ(p.fragmentCode, 1u);
    float fogStart = 2.5f;
    uint32_t fogBits;
    std::memcpy(&fogBits, &fogStart, 4);
    const std::vector<fx::PassState> expected = {
        {fx::PassState::kRender, D3DRS_ZWRITEENABLE, 0, 0},
        {fx::PassState::kRender, D3DRS_ZFUNC, 0, D3DCMP_LESSEQUAL},
        {fx::PassState::kRender, D3DRS_SRCBLEND, 0, D3DBLEND_SRCALPHA},
        {fx::PassState::kRender, D3DRS_CULLMODE, 0, D3DCULL_NONE},
        {fx::PassState::kRender, D3DRS_FOGSTART, 0, fogBits},
        {fx::PassState::kSampler, D3DSAMP_MINFILTER, 1, D3DTEXF_ANISOTROPIC},
        {fx::PassState::kTexture, 0, 2, 5},
    };
    ASSERT_EQ(p.states.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(p.states[i].kind, expected[i].kind) << i;
        EXPECT_EQ(p.states[i].state, expected[i].state) << i;
        EXPECT_EQ(p.states[i].index, expected[i].index) << i;
        EXPECT_EQ(p.states[i].value, expected[i].value) << i;
    }
}

const char kCode[] = "glsl_vertex VS { void main() { gl_Position = POSITION0; } }\n"
                     "glsl_fragment PS { void main() { gl_FragColor = vec4(1.0); } }\n";

std::string InPass(const std::string& states) {
    return std::string(kCode) + "technique T {\n  pass P {\n    VertexShader = VS;\n    PixelShader = PS;\n" + states + "  }\n}\n";
}

TEST(EffectCompile, RefusesWithTheLineAndTheName) {
    const ErrorCase cases[] = {
        {"unknown state", InPass("    ZWriteEnablX = true;\n"), "line 7: unknown state 'ZWriteEnablX'"},
        {"unknown value", InPass("    CullMode = Sideways;\n"), "line 7: unknown value 'Sideways' for state 'CullMode'"},
        {"value of another state", InPass("    ZFunc = Linear;\n"), "unknown value 'Linear' for state 'ZFunc'"},
        {"unknown sampler state",
         "texture T;\nsampler2D S = sampler_state {\n  Texture = <T>;\n  MinFiltre = Linear;\n};\n",
         "line 4: unknown sampler state 'MinFiltre'"},
        {"unknown sampler value", "sampler2D S = sampler_state { AddressU = Sideways; };",
         "unknown value 'Sideways' for state 'AddressU'"},
        {"texture of no texture", "float F;\nsampler2D S = sampler_state { Texture = <F>; };", "line 2: 'F' is not a texture parameter"},
        {"whole number state", InPass("    StencilRef = 1.5;\n"), "state 'StencilRef' takes a whole number"},
        {"unterminated code block", "float x;\n\nglsl_vertex V {\n void main() {\n", "line 3: unterminated code block 'V'"},
        {"unknown code", std::string(kCode) + "technique T { pass { VertexShader = VS; PixelShader = Nope; } }",
         "line 3: unknown fragment code 'Nope'"},
        {"code of the other stage", std::string(kCode) + "technique T { pass { VertexShader = PS; PixelShader = PS; } }",
         "unknown vertex code 'PS'"},
        {"pass without shaders", "technique T {\n  pass Empty { CullMode = None; }\n}", "line 2: pass 'Empty' needs both"},
        {"value count", "float2 a = {1, 2, 3};", "line 1: 3 values for a type of 2"},
        {"unknown type", "\nhalf4 a;", "line 2: a parameter type expected, found 'half4'"},
        {"parameter twice", "float a;\nfloat a;", "line 2: parameter 'a' declared twice"},
        {"reserved prefix", "float rh_secret;", "'rh_secret' is a reserved name"},
        {"reserved attribute", "float4 POSITION0;", "'POSITION0' is a reserved name"},
        {"texture value", "texture T = 1;", "a texture takes no value"},
        {"missing semicolon", "float a = 1\nfloat b;", "line 2: ';' expected, found 'float'"},
        {"unterminated technique", "technique T {\n", "'pass' expected, found the end of the file"},
        {"preprocessor first", "#error from the preprocessor\n", "line 1: #error from the preprocessor"},
    };
    for (const ErrorCase& c : cases) {
        fx::Effect e;
        std::string errors;
        EXPECT_FALSE(fx::Compile(c.source, {}, &e, &errors)) << c.name;
        EXPECT_NE(errors.find(c.message), std::string::npos) << c.name << ": " << errors;
    }
}

// The public compiler: messages in an ID3DXBuffer, the binary from CompileEffect.
TEST(EffectCompile, CompilerObjectGivesTheBinaryOrTheMessages) {
    ID3DXEffectCompiler* compiler = nullptr;
    ID3DXBuffer* errors = nullptr;
    const char bad[] = "float a;\n#error broken\n";
    EXPECT_EQ(D3DXCreateEffectCompiler(bad, sizeof bad - 1, nullptr, nullptr, 0, &compiler, &errors), D3DXERR_INVALIDDATA);
    EXPECT_EQ(compiler, nullptr);
    ASSERT_NE(errors, nullptr);
    EXPECT_NE(std::string(static_cast<const char*>(errors->GetBufferPointer())).find("line 2: #error broken"),
              std::string::npos);
    errors->Release();

    D3DXMACRO macros[] = {{"NUMDIR", "1"}, {nullptr, nullptr}};
    ASSERT_EQ(D3DXCreateEffectCompiler(kEffect, sizeof kEffect - 1, macros, nullptr, 0, &compiler, &errors), D3D_OK);
    ID3DXBuffer* binary = nullptr;
    ASSERT_EQ(compiler->CompileEffect(0, &binary, nullptr), D3D_OK);
    compiler->Release();
    const auto* bytes = static_cast<const uint8_t*>(binary->GetBufferPointer());
    ASSERT_GT(binary->GetBufferSize(), 24u);
    EXPECT_EQ(std::memcmp(bytes, "RHFX", 4), 0);
    fx::Effect e;
    std::string message;
    EXPECT_TRUE(fx::ReadBinary(bytes, binary->GetBufferSize(), &e, &message)) << message;
    EXPECT_EQ(e.techniques.at(0).annotations.at(0).ints[0], 1);
    binary->Release();

    EXPECT_EQ(D3DXCreateEffectCompiler(kEffect, sizeof kEffect - 1, nullptr, nullptr, 0, nullptr, nullptr),
              D3DERR_INVALIDCALL);
}

std::vector<uint8_t> CompiledEffect() {
    fx::Effect e;
    std::string errors;
    EXPECT_TRUE(fx::Compile(kEffect, {{"NUMDIR", "2"}}, &e, &errors)) << errors;
    return fx::WriteBinary(e, fx::SourceHash(kEffect, {{"NUMDIR", "2"}}));
}

void FixChecksum(std::vector<uint8_t>* b) {
    uint64_t sum = fx::Fnv1a(b->data(), b->size() - 8);
    for (int i = 0; i < 8; ++i) (*b)[b->size() - 8 + static_cast<size_t>(i)] = static_cast<uint8_t>(sum >> (8 * i));
}

TEST(EffectBinary, RoundTripsExactly) {
    std::vector<uint8_t> binary = CompiledEffect();
    fx::Effect e;
    std::string errors;
    ASSERT_TRUE(fx::ReadBinary(binary.data(), binary.size(), &e, &errors)) << errors;
    EXPECT_EQ(fx::WriteBinary(e, fx::SourceHash(kEffect, {{"NUMDIR", "2"}})), binary);
    // The code is kept as preprocessed GLSL text, not as anything of a driver's.
    EXPECT_NE(e.code.at(0).text.find("gl_Position = WorldViewProj * POSITION0"), std::string::npos);
}

TEST(EffectBinary, HashDependsOnSourceAndMacros) {
    uint64_t base = fx::SourceHash("abc", {{"A", "1"}});
    EXPECT_NE(base, fx::SourceHash("abd", {{"A", "1"}}));
    EXPECT_NE(base, fx::SourceHash("abc", {{"A", "2"}}));
    EXPECT_NE(base, fx::SourceHash("abc", {}));
    EXPECT_NE(fx::SourceHash("abc", {{"AB", ""}}), fx::SourceHash("abc", {{"A", "B"}}));
}

TEST(EffectBinary, RefusesEveryTruncationAndEveryFlippedByte) {
    std::vector<uint8_t> binary = CompiledEffect();
    fx::Effect e;
    std::string errors;
    for (size_t n = 0; n < binary.size(); ++n) {
        EXPECT_FALSE(fx::ReadBinary(binary.data(), n, &e, &errors)) << "cut at " << n;
    }
    for (size_t i = 0; i < binary.size(); ++i) {
        std::vector<uint8_t> damaged = binary;
        damaged[i] ^= 0x20;
        EXPECT_FALSE(fx::ReadBinary(damaged.data(), damaged.size(), &e, &errors)) << "byte " << i;
    }
}

TEST(EffectBinary, RefusesDamageBehindAGoodChecksumWithAMessage) {
    const std::vector<uint8_t> binary = CompiledEffect();
    struct Case {
        const char* name;
        size_t offset;
        std::vector<uint8_t> bytes;
        const char* message;
    };
    const size_t body = 20;  // magic, version, hash, size
    const Case cases[] = {
        {"other version", 4, {2, 0, 0, 0}, "format 2, expected 1"},
        {"parameter count past the end", body, {0xFF, 0xFF, 0xFF, 0x7F}, "past the end"},
        {"name length past the end", body + 4, {0xFF, 0xFF, 0x01, 0}, "an over-long parameter name"},
        {"name that is no identifier", body + 8, {'1'}, "a bad parameter name"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> damaged = binary;
        std::copy(c.bytes.begin(), c.bytes.end(), damaged.begin() + static_cast<std::ptrdiff_t>(c.offset));
        FixChecksum(&damaged);
        fx::Effect e;
        std::string errors;
        EXPECT_FALSE(fx::ReadBinary(damaged.data(), damaged.size(), &e, &errors)) << c.name;
        EXPECT_NE(errors.find(c.message), std::string::npos) << c.name << ": " << errors;
    }
    std::vector<uint8_t> longer = binary;
    longer.insert(longer.end() - 8, 0);
    FixChecksum(&longer);
    fx::Effect e;
    std::string errors;
    EXPECT_FALSE(fx::ReadBinary(longer.data(), longer.size(), &e, &errors));
    EXPECT_NE(errors.find("does not match its header"), std::string::npos) << errors;
    errors.clear();
    EXPECT_FALSE(fx::ReadBinary("DXBC and more bytes of it", 25, &e, &errors));
    EXPECT_NE(errors.find("not a compiled effect"), std::string::npos) << errors;
}

}  // namespace
