// The effect-file structure over preprocessed text: parameters, sampler states, GLSL code
// blocks, techniques and passes; the effect-file names of states and their values; the GLSL
// each code block becomes.

#include "platform/d3dx9/effect_model.h"

#include <d3d9types.h>

#include <cstdlib>
#include <cstring>
#include <set>

namespace rh::d3dx9::fx {

int ComponentCount(Type type) {
    switch (type) {
        case Type::kBool:
        case Type::kInt:
        case Type::kFloat: return 1;
        case Type::kFloat2: return 2;
        case Type::kFloat3: return 3;
        case Type::kFloat4: return 4;
        case Type::kFloat4x4: return 16;
        default: return 0;
    }
}

bool IsSampler(Type type) { return type == Type::kSampler2D || type == Type::kSamplerCube; }

// ---- State names ----

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

struct ValueName {
    const char* name;
    uint32_t value;
};
const ValueName kBools[] = {{"False", 0}, {"True", 1}, {nullptr, 0}};
const ValueName kCompare[] = {{"Never", D3DCMP_NEVER},     {"Less", D3DCMP_LESS},
                              {"Equal", D3DCMP_EQUAL},     {"LessEqual", D3DCMP_LESSEQUAL},
                              {"Greater", D3DCMP_GREATER}, {"NotEqual", D3DCMP_NOTEQUAL},
                              {"GreaterEqual", D3DCMP_GREATEREQUAL}, {"Always", D3DCMP_ALWAYS},
                              {nullptr, 0}};
const ValueName kBlend[] = {{"Zero", D3DBLEND_ZERO},
                            {"One", D3DBLEND_ONE},
                            {"SrcColor", D3DBLEND_SRCCOLOR},
                            {"InvSrcColor", D3DBLEND_INVSRCCOLOR},
                            {"SrcAlpha", D3DBLEND_SRCALPHA},
                            {"InvSrcAlpha", D3DBLEND_INVSRCALPHA},
                            {"DestAlpha", D3DBLEND_DESTALPHA},
                            {"InvDestAlpha", D3DBLEND_INVDESTALPHA},
                            {"DestColor", D3DBLEND_DESTCOLOR},
                            {"InvDestColor", D3DBLEND_INVDESTCOLOR},
                            {"SrcAlphaSat", D3DBLEND_SRCALPHASAT},
                            {"BothSrcAlpha", D3DBLEND_BOTHSRCALPHA},
                            {"BothInvSrcAlpha", D3DBLEND_BOTHINVSRCALPHA},
                            {"BlendFactor", D3DBLEND_BLENDFACTOR},
                            {"InvBlendFactor", D3DBLEND_INVBLENDFACTOR},
                            {nullptr, 0}};
const ValueName kBlendOp[] = {{"Add", D3DBLENDOP_ADD}, {"Subtract", D3DBLENDOP_SUBTRACT},
                              {"RevSubtract", D3DBLENDOP_REVSUBTRACT}, {"Min", D3DBLENDOP_MIN},
                              {"Max", D3DBLENDOP_MAX}, {nullptr, 0}};
const ValueName kCull[] = {{"None", D3DCULL_NONE}, {"CW", D3DCULL_CW}, {"CCW", D3DCULL_CCW}, {nullptr, 0}};
const ValueName kFill[] = {{"Point", D3DFILL_POINT}, {"Wireframe", D3DFILL_WIREFRAME}, {"Solid", D3DFILL_SOLID}, {nullptr, 0}};
const ValueName kShade[] = {{"Flat", D3DSHADE_FLAT}, {"Gouraud", D3DSHADE_GOURAUD}, {"Phong", D3DSHADE_PHONG}, {nullptr, 0}};
const ValueName kZBuffer[] = {{"False", D3DZB_FALSE}, {"True", D3DZB_TRUE}, {"UseW", D3DZB_USEW}, {nullptr, 0}};
const ValueName kFog[] = {{"None", D3DFOG_NONE}, {"Exp", D3DFOG_EXP}, {"Exp2", D3DFOG_EXP2}, {"Linear", D3DFOG_LINEAR}, {nullptr, 0}};
const ValueName kStencilOp[] = {{"Keep", D3DSTENCILOP_KEEP},       {"Zero", D3DSTENCILOP_ZERO},
                                {"Replace", D3DSTENCILOP_REPLACE}, {"IncrSat", D3DSTENCILOP_INCRSAT},
                                {"DecrSat", D3DSTENCILOP_DECRSAT}, {"Invert", D3DSTENCILOP_INVERT},
                                {"Incr", D3DSTENCILOP_INCR},       {"Decr", D3DSTENCILOP_DECR},
                                {nullptr, 0}};
const ValueName kMaterialSource[] = {{"Material", 0}, {"Color1", 1}, {"Color2", 2}, {nullptr, 0}};
const ValueName kAddress[] = {{"Wrap", D3DTADDRESS_WRAP},     {"Mirror", D3DTADDRESS_MIRROR},
                              {"Clamp", D3DTADDRESS_CLAMP},   {"Border", D3DTADDRESS_BORDER},
                              {"MirrorOnce", D3DTADDRESS_MIRRORONCE}, {nullptr, 0}};
const ValueName kFilter[] = {{"None", D3DTEXF_NONE},
                             {"Point", D3DTEXF_POINT},
                             {"Linear", D3DTEXF_LINEAR},
                             {"Anisotropic", D3DTEXF_ANISOTROPIC},
                             {"PyramidalQuad", D3DTEXF_PYRAMIDALQUAD},
                             {"GaussianQuad", D3DTEXF_GAUSSIANQUAD},
                             {nullptr, 0}};
const ValueName kNumbers[] = {{nullptr, 0}};

// An effect-file state: its name, the state and its value names. Float states take a number
// as the bits of a float, the way Direct3D stores them in a DWORD.
struct StateName {
    const char* name;
    uint32_t state;
    const ValueName* values;
    bool isFloat;
};

const StateName kRenderStates[] = {
    {"ZEnable", D3DRS_ZENABLE, kZBuffer, false},
    {"FillMode", D3DRS_FILLMODE, kFill, false},
    {"ShadeMode", D3DRS_SHADEMODE, kShade, false},
    {"ZWriteEnable", D3DRS_ZWRITEENABLE, kBools, false},
    {"AlphaTestEnable", D3DRS_ALPHATESTENABLE, kBools, false},
    {"SrcBlend", D3DRS_SRCBLEND, kBlend, false},
    {"DestBlend", D3DRS_DESTBLEND, kBlend, false},
    {"CullMode", D3DRS_CULLMODE, kCull, false},
    {"ZFunc", D3DRS_ZFUNC, kCompare, false},
    {"AlphaRef", D3DRS_ALPHAREF, kNumbers, false},
    {"AlphaFunc", D3DRS_ALPHAFUNC, kCompare, false},
    {"DitherEnable", D3DRS_DITHERENABLE, kBools, false},
    {"AlphaBlendEnable", D3DRS_ALPHABLENDENABLE, kBools, false},
    {"FogEnable", D3DRS_FOGENABLE, kBools, false},
    {"SpecularEnable", D3DRS_SPECULARENABLE, kBools, false},
    {"FogColor", D3DRS_FOGCOLOR, kNumbers, false},
    {"FogTableMode", D3DRS_FOGTABLEMODE, kFog, false},
    {"FogStart", D3DRS_FOGSTART, kNumbers, true},
    {"FogEnd", D3DRS_FOGEND, kNumbers, true},
    {"FogDensity", D3DRS_FOGDENSITY, kNumbers, true},
    {"RangeFogEnable", D3DRS_RANGEFOGENABLE, kBools, false},
    {"StencilEnable", D3DRS_STENCILENABLE, kBools, false},
    {"StencilFail", D3DRS_STENCILFAIL, kStencilOp, false},
    {"StencilZFail", D3DRS_STENCILZFAIL, kStencilOp, false},
    {"StencilPass", D3DRS_STENCILPASS, kStencilOp, false},
    {"StencilFunc", D3DRS_STENCILFUNC, kCompare, false},
    {"StencilRef", D3DRS_STENCILREF, kNumbers, false},
    {"StencilMask", D3DRS_STENCILMASK, kNumbers, false},
    {"StencilWriteMask", D3DRS_STENCILWRITEMASK, kNumbers, false},
    {"TextureFactor", D3DRS_TEXTUREFACTOR, kNumbers, false},
    {"Clipping", D3DRS_CLIPPING, kBools, false},
    {"Lighting", D3DRS_LIGHTING, kBools, false},
    {"Ambient", D3DRS_AMBIENT, kNumbers, false},
    {"FogVertexMode", D3DRS_FOGVERTEXMODE, kFog, false},
    {"ColorVertex", D3DRS_COLORVERTEX, kBools, false},
    {"LocalViewer", D3DRS_LOCALVIEWER, kBools, false},
    {"NormalizeNormals", D3DRS_NORMALIZENORMALS, kBools, false},
    {"DiffuseMaterialSource", D3DRS_DIFFUSEMATERIALSOURCE, kMaterialSource, false},
    {"SpecularMaterialSource", D3DRS_SPECULARMATERIALSOURCE, kMaterialSource, false},
    {"AmbientMaterialSource", D3DRS_AMBIENTMATERIALSOURCE, kMaterialSource, false},
    {"EmissiveMaterialSource", D3DRS_EMISSIVEMATERIALSOURCE, kMaterialSource, false},
    {"PointSize", D3DRS_POINTSIZE, kNumbers, true},
    {"PointSpriteEnable", D3DRS_POINTSPRITEENABLE, kBools, false},
    {"ColorWriteEnable", D3DRS_COLORWRITEENABLE, kNumbers, false},
    {"BlendOp", D3DRS_BLENDOP, kBlendOp, false},
    {"ScissorTestEnable", D3DRS_SCISSORTESTENABLE, kBools, false},
    {"SlopeScaleDepthBias", D3DRS_SLOPESCALEDEPTHBIAS, kNumbers, true},
    {"DepthBias", D3DRS_DEPTHBIAS, kNumbers, true},
    {"SeparateAlphaBlendEnable", D3DRS_SEPARATEALPHABLENDENABLE, kBools, false},
    {"SrcBlendAlpha", D3DRS_SRCBLENDALPHA, kBlend, false},
    {"DestBlendAlpha", D3DRS_DESTBLENDALPHA, kBlend, false},
    {"BlendOpAlpha", D3DRS_BLENDOPALPHA, kBlendOp, false},
};

const StateName kSamplerStates[] = {
    {"AddressU", D3DSAMP_ADDRESSU, kAddress, false},
    {"AddressV", D3DSAMP_ADDRESSV, kAddress, false},
    {"AddressW", D3DSAMP_ADDRESSW, kAddress, false},
    {"BorderColor", D3DSAMP_BORDERCOLOR, kNumbers, false},
    {"MagFilter", D3DSAMP_MAGFILTER, kFilter, false},
    {"MinFilter", D3DSAMP_MINFILTER, kFilter, false},
    {"MipFilter", D3DSAMP_MIPFILTER, kFilter, false},
    {"MipMapLodBias", D3DSAMP_MIPMAPLODBIAS, kNumbers, true},
    {"MaxMipLevel", D3DSAMP_MAXMIPLEVEL, kNumbers, false},
    {"MaxAnisotropy", D3DSAMP_MAXANISOTROPY, kNumbers, false},
    {"SRGBTexture", D3DSAMP_SRGBTEXTURE, kBools, false},
};

template <size_t N>
const StateName* ByName(const StateName (&table)[N], std::string_view name) {
    for (const StateName& s : table) {
        if (SameIgnoringCase(s.name, name)) return &s;
    }
    return nullptr;
}

template <size_t N>
const StateName* ByState(const StateName (&table)[N], uint32_t state) {
    for (const StateName& s : table) {
        if (s.state == state) return &s;
    }
    return nullptr;
}

bool FindValue(const StateName* s, std::string_view name, uint32_t* value) {
    if (s == nullptr) return false;
    for (const ValueName* v = s->values; v->name != nullptr; ++v) {
        if (SameIgnoringCase(v->name, name)) {
            *value = v->value;
            return true;
        }
    }
    return false;
}

}  // namespace

bool FindRenderState(std::string_view name, uint32_t* state) {
    const StateName* s = ByName(kRenderStates, name);
    if (s != nullptr) *state = s->state;
    return s != nullptr;
}
bool FindSamplerState(std::string_view name, uint32_t* state) {
    const StateName* s = ByName(kSamplerStates, name);
    if (s != nullptr) *state = s->state;
    return s != nullptr;
}
bool FindRenderStateValue(uint32_t state, std::string_view name, uint32_t* value) {
    return FindValue(ByState(kRenderStates, state), name, value);
}
bool FindSamplerStateValue(uint32_t state, std::string_view name, uint32_t* value) {
    return FindValue(ByState(kSamplerStates, state), name, value);
}
bool KnownRenderState(uint32_t state) { return ByState(kRenderStates, state) != nullptr; }
bool KnownSamplerState(uint32_t state) { return ByState(kSamplerStates, state) != nullptr; }

// ---- GLSL names ----

const std::vector<AttributeName>& AttributeNames() {
    static const std::vector<AttributeName> names = [] {
        std::vector<AttributeName> n = {
            {"POSITION0", "vec4", D3DDECLUSAGE_POSITION, 0}, {"NORMAL0", "vec3", D3DDECLUSAGE_NORMAL, 0},
            {"TANGENT0", "vec3", D3DDECLUSAGE_TANGENT, 0},   {"BINORMAL0", "vec3", D3DDECLUSAGE_BINORMAL, 0},
            {"COLOR0", "vec4", D3DDECLUSAGE_COLOR, 0},       {"COLOR1", "vec4", D3DDECLUSAGE_COLOR, 1},
        };
        static const char* const kTexCoords[8] = {"TEXCOORD0", "TEXCOORD1", "TEXCOORD2", "TEXCOORD3",
                                                  "TEXCOORD4", "TEXCOORD5", "TEXCOORD6", "TEXCOORD7"};
        for (uint8_t i = 0; i < 8; ++i) n.push_back({kTexCoords[i], "vec4", D3DDECLUSAGE_TEXCOORD, i});
        return n;
    }();
    return names;
}

namespace {

// Names effect code and parameters cannot take: the framework's own.
bool Reserved(std::string_view name) {
    if (name.substr(0, 3) == "rh_" || name.substr(0, 3) == "gl_" || name == "FOG" || name == "main") return true;
    for (const AttributeName& a : AttributeNames()) {
        if (name == a.name) return true;
    }
    return false;
}

bool IsIdentStart(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || (c >= '0' && c <= '9'); }

// The identifiers of GLSL code, each once.
std::set<std::string_view> Identifiers(std::string_view text) {
    std::set<std::string_view> names;
    size_t i = 0;
    while (i < text.size()) {
        if (IsIdentStart(text[i])) {
            size_t j = i;
            while (j < text.size() && IsIdentChar(text[j])) ++j;
            names.insert(text.substr(i, j - i));
            i = j;
        } else if (text[i] >= '0' && text[i] <= '9') {
            // Numbers with suffixes or exponents are not names.
            while (i < text.size() && (IsIdentChar(text[i]) || text[i] == '.')) ++i;
        } else {
            ++i;
        }
    }
    return names;
}

// ---- The parser ----

struct Failure {
    std::string message;
};

struct Tok {
    enum Kind : uint8_t { kEnd, kIdent, kNumber, kString, kPunct };
    Kind kind = kEnd;
    std::string_view text;
    uint32_t line = 1;
};

class Parser {
public:
    Parser(std::string_view text, Effect* effect) : s_(text), effect_(effect) { Next(); }

    void Run() {
        while (tok_.kind != Tok::kEnd) {
            if (Is("technique")) {
                Technique();
            } else if (Is("glsl_vertex") || Is("glsl_fragment")) {
                Code();
            } else if (tok_.kind == Tok::kPunct && tok_.text == ";") {
                Next();
            } else {
                ParameterDecl();
            }
        }
    }

private:
    [[noreturn]] void Fail(const std::string& message) { FailAt(tok_.line, message); }
    [[noreturn]] static void FailAt(uint32_t line, const std::string& message) {
        throw Failure{"line " + std::to_string(line) + ": " + message + "\n"};
    }

    bool Is(std::string_view word) const { return tok_.kind == Tok::kIdent && tok_.text == word; }
    bool IsPunct(char c) const { return tok_.kind == Tok::kPunct && tok_.text[0] == c; }
    void Expect(char c) {
        if (!IsPunct(c)) Fail(std::string("'") + c + "' expected, found " + Describe());
        Next();
    }
    std::string Describe() const {
        if (tok_.kind == Tok::kEnd) return "the end of the file";
        std::string quoted = "'";
        quoted.append(tok_.text.substr(0, 40));
        quoted += '\'';
        return quoted;
    }
    std::string Identifier(const char* what) {
        if (tok_.kind != Tok::kIdent) Fail(std::string(what) + " expected, found " + Describe());
        std::string name(tok_.text);
        Next();
        return name;
    }

    void Next() {
        while (pos_ < s_.size()) {
            char c = s_[pos_];
            if (c == '\n') {
                ++line_;
            } else if (c != ' ' && c != '\t' && c != '\r' && c != '\f' && c != '\v') {
                break;
            }
            ++pos_;
        }
        tok_.line = line_;
        if (pos_ >= s_.size()) {
            tok_.kind = Tok::kEnd;
            tok_.text = {};
            return;
        }
        size_t start = pos_;
        char c = s_[pos_];
        if (IsIdentStart(c)) {
            while (pos_ < s_.size() && IsIdentChar(s_[pos_])) ++pos_;
            tok_.kind = Tok::kIdent;
        } else if ((c >= '0' && c <= '9') || (c == '.' && pos_ + 1 < s_.size() && s_[pos_ + 1] >= '0' && s_[pos_ + 1] <= '9')) {
            ++pos_;
            while (pos_ < s_.size()) {
                char d = s_[pos_];
                if ((d == '+' || d == '-') && (s_[pos_ - 1] == 'e' || s_[pos_ - 1] == 'E') && s_.substr(start, 2) != "0x" &&
                    s_.substr(start, 2) != "0X") {
                    ++pos_;
                } else if (IsIdentChar(d) || d == '.') {
                    ++pos_;
                } else {
                    break;
                }
            }
            tok_.kind = Tok::kNumber;
        } else if (c == '"') {
            ++pos_;
            while (pos_ < s_.size() && s_[pos_] != '"' && s_[pos_] != '\n') pos_ += s_[pos_] == '\\' ? 2 : 1;
            if (pos_ >= s_.size() || s_[pos_] != '"') FailAt(line_, "unterminated string");
            ++pos_;
            tok_.kind = Tok::kString;
        } else {
            ++pos_;
            tok_.kind = Tok::kPunct;
        }
        tok_.text = s_.substr(start, pos_ - start);
    }

    // A number token (with an optional sign before it) as a float; ints must be integral.
    double Number() {
        bool negative = false;
        if (IsPunct('-') || IsPunct('+')) {
            negative = IsPunct('-');
            Next();
        }
        if (tok_.kind != Tok::kNumber) Fail("a number expected, found " + Describe());
        std::string text(tok_.text);
        // Suffixes of HLSL-style numbers (1.0f, 3u) are allowed.
        while (!text.empty() && (text.back() == 'f' || text.back() == 'F' || text.back() == 'u' || text.back() == 'U' ||
                                 text.back() == 'h' || text.back() == 'H')) {
            if (text.size() > 2 && (text[1] == 'x' || text[1] == 'X')) break;  // hex digits
            text.pop_back();
        }
        char* end = nullptr;
        double v;
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
            v = static_cast<double>(std::strtoull(text.c_str() + 2, &end, 16));
        } else {
            v = std::strtod(text.c_str(), &end);
        }
        if (text.empty() || end != text.c_str() + text.size()) Fail("bad number " + Describe());
        Next();
        return negative ? -v : v;
    }

    static bool TypeOf(std::string_view word, Type* type) {
        static const struct {
            const char* name;
            Type type;
        } kTypes[] = {{"bool", Type::kBool},           {"int", Type::kInt},
                      {"float", Type::kFloat},         {"float2", Type::kFloat2},
                      {"float3", Type::kFloat3},       {"float4", Type::kFloat4},
                      {"float4x4", Type::kFloat4x4},   {"texture", Type::kTexture},
                      {"texture2D", Type::kTexture},   {"textureCUBE", Type::kTexture},
                      {"sampler", Type::kSampler2D},   {"sampler2D", Type::kSampler2D},
                      {"samplerCUBE", Type::kSamplerCube}, {"string", Type::kString}};
        for (const auto& t : kTypes) {
            if (word == t.name) {
                *type = t.type;
                return true;
            }
        }
        return false;
    }

    // A value of a numeric type: a number, true/false, { list } or typename( list ).
    std::vector<float> Values(Type type) {
        int count = ComponentCount(type);
        std::vector<float> values;
        if (Is("true") || Is("false")) {
            values.push_back(Is("true") ? 1.0f : 0.0f);
            Next();
        } else if (IsPunct('{') || tok_.kind == Tok::kIdent) {
            char close = '}';
            if (tok_.kind == Tok::kIdent) {
                Type constructor;
                if (!TypeOf(tok_.text, &constructor) || ComponentCount(constructor) == 0) {
                    Fail("a value expected, found " + Describe());
                }
                Next();
                Expect('(');
                close = ')';
            } else {
                Next();
            }
            for (;;) {
                if (values.size() >= 16) Fail("too many values");
                if (Is("true") || Is("false")) {
                    values.push_back(Is("true") ? 1.0f : 0.0f);
                    Next();
                } else {
                    values.push_back(NarrowedFloat(Number()));
                }
                if (IsPunct(',')) {
                    Next();
                    continue;
                }
                Expect(close);
                break;
            }
        } else {
            values.push_back(NarrowedFloat(Number()));
        }
        if (static_cast<int>(values.size()) != count) {
            Fail(std::to_string(values.size()) + " values for a type of " + std::to_string(count));
        }
        return values;
    }

    std::vector<Annotation> Annotations() {
        std::vector<Annotation> list;
        if (!IsPunct('<')) return list;
        Next();
        while (!IsPunct('>')) {
            if (list.size() >= 256) Fail("too many annotations");
            Annotation a;
            if (tok_.kind != Tok::kIdent || !TypeOf(tok_.text, &a.type) || (ComponentCount(a.type) == 0 && a.type != Type::kString) ||
                a.type == Type::kFloat4x4) {
                Fail("an annotation type expected, found " + Describe());
            }
            Next();
            a.name = Identifier("an annotation name");
            Expect('=');
            if (a.type == Type::kString) {
                if (tok_.kind != Tok::kString) Fail("a string expected, found " + Describe());
                a.text = std::string(tok_.text.substr(1, tok_.text.size() - 2));
                Next();
            } else {
                std::vector<float> v = Values(a.type);
                for (size_t i = 0; i < v.size(); ++i) {
                    a.values[i] = v[i];
                    a.ints[i] = SaturatedInt(v[i]);
                }
                if (a.type == Type::kBool) a.ints[0] = a.ints[0] != 0 ? 1 : 0;
            }
            Expect(';');
            list.push_back(std::move(a));
        }
        Next();
        return list;
    }

    uint32_t ParameterIndex(std::string_view name) const {
        for (size_t i = 0; i < effect_->parameters.size(); ++i) {
            if (effect_->parameters[i].name == name) return static_cast<uint32_t>(i);
        }
        return Parameter::kNone;
    }

    // "<name>", "(name)" or "name": a texture parameter.
    uint32_t TextureReference() {
        char close = 0;
        if (IsPunct('<')) close = '>';
        if (IsPunct('(')) close = ')';
        if (close != 0) Next();
        uint32_t line = tok_.line;
        std::string name = Identifier("a texture name");
        if (close != 0) Expect(close);
        uint32_t index = ParameterIndex(name);
        if (index == Parameter::kNone || effect_->parameters[index].type != Type::kTexture) {
            FailAt(line, "'" + name + "' is not a texture parameter");
        }
        return index;
    }

    // The value of a state: a value name, a number or true/false.
    uint32_t StateValue(bool sampler, uint32_t state, const std::string& stateName) {
        if (tok_.kind == Tok::kIdent) {
            uint32_t value = 0;
            bool found = sampler ? FindSamplerStateValue(state, tok_.text, &value) : FindRenderStateValue(state, tok_.text, &value);
            if (!found && (SameIgnoringCase(tok_.text, "true") || SameIgnoringCase(tok_.text, "false"))) {
                found = true;
                value = SameIgnoringCase(tok_.text, "true") ? 1 : 0;
            }
            if (!found) Fail("unknown value '" + std::string(tok_.text) + "' for state '" + stateName + "'");
            Next();
            return value;
        }
        const StateName* s = sampler ? ByState(kSamplerStates, state) : ByState(kRenderStates, state);
        double v = Number();
        if (s != nullptr && s->isFloat) {
            float f = NarrowedFloat(v);
            uint32_t bits;
            std::memcpy(&bits, &f, sizeof bits);
            return bits;
        }
        if (!(v >= -2147483648.0 && v <= 4294967295.0) || v != static_cast<double>(static_cast<int64_t>(v))) {
            Fail("state '" + stateName + "' takes a whole number");
        }
        return static_cast<uint32_t>(static_cast<int64_t>(v));
    }

    void ParameterDecl() {
        Parameter p;
        if (Is("shared")) {
            p.shared = true;
            Next();
        }
        if (Is("uniform")) Next();
        uint32_t line = tok_.line;
        if (tok_.kind != Tok::kIdent || !TypeOf(tok_.text, &p.type) || p.type == Type::kString) {
            Fail("a parameter type expected, found " + Describe());
        }
        Next();
        line = tok_.line;
        p.name = Identifier("a parameter name");
        if (Reserved(p.name)) FailAt(line, "'" + p.name + "' is a reserved name");
        if (ParameterIndex(p.name) != Parameter::kNone) FailAt(line, "parameter '" + p.name + "' declared twice");
        if (effect_->parameters.size() >= 4096) FailAt(line, "too many parameters");
        if (IsPunct(':')) {
            Next();
            p.semantic = Identifier("a semantic");
        }
        p.annotations = Annotations();
        if (IsPunct('=')) {
            Next();
            if (IsSampler(p.type)) {
                SamplerStateBlock(&p);
            } else if (p.type == Type::kTexture) {
                Fail("a texture takes no value");
            } else {
                p.initial = Values(p.type);
                if (p.type == Type::kBool) p.initial[0] = p.initial[0] != 0.0f ? 1.0f : 0.0f;
            }
        }
        Expect(';');
        effect_->parameters.push_back(std::move(p));
    }

    void SamplerStateBlock(Parameter* p) {
        if (!Is("sampler_state")) Fail("'sampler_state' expected, found " + Describe());
        Next();
        Expect('{');
        while (!IsPunct('}')) {
            if (p->samplerStates.size() >= 64) Fail("too many sampler states");
            std::string name = Identifier("a sampler state");
            Expect('=');
            if (SameIgnoringCase(name, "Texture")) {
                p->texture = TextureReference();
            } else {
                uint32_t state = 0;
                if (!FindSamplerState(name, &state)) Fail("unknown sampler state '" + name + "'");
                p->samplerStates.push_back({state, StateValue(true, state, name)});
            }
            Expect(';');
        }
        Next();
    }

    void Code() {
        CodeBlock block;
        block.stage = Is("glsl_vertex") ? Stage::kVertex : Stage::kFragment;
        Next();
        uint32_t line = tok_.line;
        block.name = Identifier("a code block name");
        if (Reserved(block.name)) FailAt(line, "'" + block.name + "' is a reserved name");
        for (const CodeBlock& other : effect_->code) {
            if (other.name == block.name) FailAt(line, "code block '" + block.name + "' declared twice");
        }
        if (effect_->code.size() >= 1024) FailAt(line, "too many code blocks");
        if (!IsPunct('{')) Fail("'{' expected, found " + Describe());
        // The code runs to the matching brace; the preprocessor left no comments to hide one.
        uint32_t open = tok_.line;
        size_t start = pos_;
        block.line = line_;
        int depth = 1;
        size_t i = start;
        uint32_t lines = line_;
        for (; i < s_.size(); ++i) {
            if (s_[i] == '\n') ++lines;
            if (s_[i] == '{') ++depth;
            if (s_[i] == '}' && --depth == 0) break;
        }
        if (i >= s_.size()) FailAt(open, "unterminated code block '" + block.name + "'");
        block.text = std::string(s_.substr(start, i - start));
        pos_ = i + 1;
        line_ = lines;
        Next();
        effect_->code.push_back(std::move(block));
    }

    uint32_t CodeReference(Stage stage) {
        if (Is("compile")) {
            // "compile profile name()": the profile means nothing to GLSL.
            Next();
            Identifier("a shader profile");
            uint32_t line = tok_.line;
            std::string name = Identifier("a code block name");
            Expect('(');
            Expect(')');
            return FindCode(stage, name, line);
        }
        uint32_t line = tok_.line;
        return FindCode(stage, Identifier("a code block name"), line);
    }

    uint32_t FindCode(Stage stage, const std::string& name, uint32_t line) {
        for (size_t i = 0; i < effect_->code.size(); ++i) {
            if (effect_->code[i].name == name && effect_->code[i].stage == stage) return static_cast<uint32_t>(i);
        }
        FailAt(line, std::string("unknown ") + (stage == Stage::kVertex ? "vertex" : "fragment") + " code '" + name + "'");
    }

    uint32_t Index() {
        if (!IsPunct('[')) return 0;
        Next();
        double v = Number();
        if (!(v >= 0 && v < 16) || v != static_cast<double>(static_cast<int>(v))) Fail("a sampler index from 0 to 15 expected");
        Expect(']');
        return static_cast<uint32_t>(v);
    }

    void Technique() {
        Next();
        TechniqueDesc t;
        if (tok_.kind == Tok::kIdent) t.name = Identifier("a technique name");
        if (effect_->techniques.size() >= 1024) Fail("too many techniques");
        t.annotations = Annotations();
        Expect('{');
        while (!IsPunct('}')) {
            if (!Is("pass")) Fail("'pass' expected, found " + Describe());
            uint32_t passLine = tok_.line;
            Next();
            PassDesc pass;
            if (tok_.kind == Tok::kIdent) pass.name = Identifier("a pass name");
            if (t.passes.size() >= 256) Fail("too many passes");
            pass.annotations = Annotations();
            Expect('{');
            while (!IsPunct('}')) PassAssignment(&pass);
            Next();
            if (pass.vertexCode == Parameter::kNone || pass.fragmentCode == Parameter::kNone) {
                FailAt(passLine, "pass '" + pass.name + "' needs both VertexShader and PixelShader");
            }
            t.passes.push_back(std::move(pass));
        }
        Next();
        effect_->techniques.push_back(std::move(t));
    }

    void PassAssignment(PassDesc* pass) {
        if (pass->states.size() >= 256) Fail("too many states in one pass");
        uint32_t line = tok_.line;
        std::string name = Identifier("a state name");
        bool indexed = IsPunct('[');
        uint32_t index = Index();
        Expect('=');
        if (SameIgnoringCase(name, "VertexShader")) {
            pass->vertexCode = CodeReference(Stage::kVertex);
        } else if (SameIgnoringCase(name, "PixelShader")) {
            pass->fragmentCode = CodeReference(Stage::kFragment);
        } else if (SameIgnoringCase(name, "Texture")) {
            pass->states.push_back({PassState::kTexture, 0, index, TextureReference()});
        } else {
            uint32_t state = 0;
            if (!indexed && FindRenderState(name, &state)) {
                pass->states.push_back({PassState::kRender, state, 0, StateValue(false, state, name)});
            } else if (FindSamplerState(name, &state)) {
                pass->states.push_back({PassState::kSampler, state, index, StateValue(true, state, name)});
            } else {
                FailAt(line, "unknown state '" + name + "'");
            }
        }
        Expect(';');
    }

    std::string_view s_;
    size_t pos_ = 0;
    uint32_t line_ = 1;
    Tok tok_;
    Effect* effect_;
};

}  // namespace

bool Parse(std::string_view text, Effect* effect, std::string* errors) {
    *effect = Effect{};
    try {
        Parser(text, effect).Run();
        return true;
    } catch (const Failure& failure) {
        errors->append(failure.message);
        *effect = Effect{};
        return false;
    }
}

bool Compile(std::string_view source, const std::vector<Macro>& macros, Effect* effect, std::string* errors) {
    std::string text;
    if (!Preprocess(source, macros, &text, errors)) return false;
    return Parse(text, effect, errors);
}

// ---- GLSL ----

std::vector<uint32_t> UsedParameters(const Effect& effect, const CodeBlock& code) {
    std::set<std::string_view> names = Identifiers(code.text);
    std::vector<uint32_t> used;
    for (size_t i = 0; i < effect.parameters.size(); ++i) {
        const Parameter& p = effect.parameters[i];
        if (p.type != Type::kTexture && p.type != Type::kString && names.count(p.name) != 0) {
            used.push_back(static_cast<uint32_t>(i));
        }
    }
    return used;
}

std::string StageSource(const Effect& effect, const CodeBlock& code, const std::string& clipFixup) {
    static const char* const kGlslTypes[kTypeCount] = {"bool", "int",  "float",     "vec2",        "vec3", "vec4",
                                                       "mat4", "",     "sampler2D", "samplerCube", ""};
    std::string s = "#version 120\n";
    for (uint32_t i : UsedParameters(effect, code)) {
        const Parameter& p = effect.parameters[i];
        s += "uniform " + std::string(kGlslTypes[static_cast<int>(p.type)]) + " " + p.name + ";\n";
    }
    s += "varying float FOG;\n";
    bool vertex = code.stage == Stage::kVertex;
    if (vertex) {
        std::set<std::string_view> names = Identifiers(code.text);
        for (const AttributeName& a : AttributeNames()) {
            if (names.count(a.name) != 0) s += "attribute " + std::string(a.glslType) + " " + a.name + ";\n";
        }
        s += "uniform vec4 " + std::string(kPixelUniform) + ";\n";
    } else {
        s += "uniform bool " + std::string(kFogEnableUniform) + ";\n";
        s += "uniform vec4 " + std::string(kFogColorUniform) + ";\n";
    }
    // The code's own main is renamed so that the framework's can run around it; #line makes
    // the driver's messages name the effect's lines.
    s += "#define main rh_main\n";
    s += "#line " + std::to_string(code.line) + "\n";
    s += code.text;
    s += "\n#undef main\n";
    if (vertex) {
        // Direct3D fogs by the vertex's fog factor after the shaders; code that writes none
        // leaves the colour unfogged.
        s += "void main() {\n    FOG = 1.0;\n    rh_main();\n    " + clipFixup + "\n}\n";
    } else {
        s += "void main() {\n    rh_main();\n";
        s += "    if (" + std::string(kFogEnableUniform) + ") gl_FragColor.rgb = mix(" + kFogColorUniform +
             ".rgb, gl_FragColor.rgb, clamp(FOG, 0.0, 1.0));\n}\n";
    }
    return s;
}

}  // namespace rh::d3dx9::fx
