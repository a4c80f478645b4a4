// The effect framework without GL: the preprocessor, the parser, the checks, the binary form
// and the GLSL each pass hands the driver. Everything here works on untrusted text and bytes
// and reports failures as messages, never by crashing. Private to platform/d3dx9.
#pragma once

#include <cstdint>
#include <climits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace rh::d3dx9::fx {

// ---- The preprocessor ----

struct Macro {
    std::string name;
    std::string definition;
};

// Limits that keep hostile sources bounded.
inline constexpr int kMaxIfDepth = 64;          // nested #if groups
inline constexpr int kMaxExpansionDepth = 64;   // macros expanding inside macros
inline constexpr size_t kMaxOutputBytes = 1u << 20;  // preprocessed text (and twice that of expansion work)
inline constexpr size_t kMaxMacros = 4096;

// Runs the C preprocessor over source with macros predefined. The output keeps the source's
// line structure (line n of the output comes from line n of the source). False with
// "line N: ..." messages (one per line) in *errors.
bool Preprocess(std::string_view source, const std::vector<Macro>& macros, std::string* out, std::string* errors);

// Conversions that stay defined for every input (NaN and out-of-range values included).
inline int32_t SaturatedInt(double v) {
    if (!(v == v)) return 0;
    if (v <= -2147483648.0) return INT32_MIN;
    if (v >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(v);
}
inline float NarrowedFloat(double v) {
    if (!(v == v)) return 0.0f;
    if (v > 3.4028234663852886e38) return 3.4028234663852886e38f;
    if (v < -3.4028234663852886e38) return -3.4028234663852886e38f;
    return static_cast<float>(v);
}

// ---- The parsed effect ----

enum class Type : uint8_t {
    kBool = 0,
    kInt = 1,
    kFloat = 2,
    kFloat2 = 3,
    kFloat3 = 4,
    kFloat4 = 5,
    kFloat4x4 = 6,
    kTexture = 7,
    kSampler2D = 8,
    kSamplerCube = 9,
    kString = 10,  // annotations only
};
inline constexpr uint8_t kTypeCount = 11;
// Floats (or ints) a value of the type holds; 0 for textures, samplers and strings.
int ComponentCount(Type type);
bool IsSampler(Type type);

struct Annotation {
    std::string name;
    Type type = Type::kInt;
    float values[4] = {0, 0, 0, 0};  // ints are stored exactly as floats up to 2^24; see ints
    int32_t ints[4] = {0, 0, 0, 0};  // int and bool values
    std::string text;  // string
};

// A state of a sampler: D3DSAMPLERSTATETYPE and its value.
struct SamplerState {
    uint32_t state = 0;
    uint32_t value = 0;
};

struct Parameter {
    std::string name;
    std::string semantic;
    Type type = Type::kFloat;
    bool shared = false;
    std::vector<Annotation> annotations;
    // The initial value (ComponentCount entries; ints and bools as their values).
    std::vector<float> initial;
    // Samplers: the texture parameter (index) and their states.
    uint32_t texture = kNone;
    std::vector<SamplerState> samplerStates;

    static constexpr uint32_t kNone = 0xFFFFFFFF;
};

enum class Stage : uint8_t { kVertex = 0, kFragment = 1 };

struct CodeBlock {
    std::string name;
    Stage stage = Stage::kVertex;
    uint32_t line = 1;  // of the first character after the opening brace
    std::string text;   // preprocessed GLSL
};

// A state assignment of a pass.
struct PassState {
    enum Kind : uint8_t { kRender = 0, kSampler = 1, kTexture = 2 };
    Kind kind = kRender;
    uint32_t state = 0;  // D3DRENDERSTATETYPE or D3DSAMPLERSTATETYPE
    uint32_t index = 0;  // the sampler of sampler and texture states
    uint32_t value = 0;  // the value; a texture parameter's index for kTexture
};

struct PassDesc {
    std::string name;
    std::vector<Annotation> annotations;
    std::vector<PassState> states;
    uint32_t vertexCode = Parameter::kNone;    // code block index
    uint32_t fragmentCode = Parameter::kNone;
};

struct TechniqueDesc {
    std::string name;
    std::vector<Annotation> annotations;
    std::vector<PassDesc> passes;
};

struct Effect {
    std::vector<Parameter> parameters;
    std::vector<CodeBlock> code;
    std::vector<TechniqueDesc> techniques;
};

// Parses preprocessed text. False with "line N: ..." messages in *errors.
bool Parse(std::string_view text, Effect* effect, std::string* errors);

// Preprocess, parse and check: the compiler's whole work.
bool Compile(std::string_view source, const std::vector<Macro>& macros, Effect* effect, std::string* errors);

// ---- Effect-file state names ----

// The render state or sampler state of an effect-file name (case-insensitive); false when
// there is none.
bool FindRenderState(std::string_view name, uint32_t* state);
bool FindSamplerState(std::string_view name, uint32_t* state);
// The value of a value name for a state (case-insensitive); false when the state has no such
// value name.
bool FindRenderStateValue(uint32_t state, std::string_view name, uint32_t* value);
bool FindSamplerStateValue(uint32_t state, std::string_view name, uint32_t* value);
// Whether a state is one effect files can name.
bool KnownRenderState(uint32_t state);
bool KnownSamplerState(uint32_t state);

// ---- The binary ----

inline constexpr char kMagic[4] = {'R', 'H', 'F', 'X'};
inline constexpr uint32_t kFormatVersion = 1;

// FNV-1a over bytes, continuing from hash.
uint64_t Fnv1a(const void* data, size_t size, uint64_t hash = 0xCBF29CE484222325ull);
// The hash of a source and its macros that the binary records.
uint64_t SourceHash(std::string_view source, const std::vector<Macro>& macros);

// Layout: magic, u32 version, u64 source hash, u32 body size, body, u64 checksum (FNV-1a of
// every byte before it). Little-endian.
std::vector<uint8_t> WriteBinary(const Effect& effect, uint64_t sourceHash);
// Reads and checks a binary completely (sizes, counts against the bytes left, version,
// checksum, every index and enumeration). False with a message in *error.
bool ReadBinary(const void* data, size_t size, Effect* effect, std::string* error);
// The offset of the checksum in a binary of size bytes (size - 8), for tools and tests.
inline size_t ChecksumOffset(size_t size) { return size - 8; }

// ---- GLSL ----

// Fixed attribute names of effect code and their declaration usage and index.
struct AttributeName {
    const char* name;
    const char* glslType;
    uint8_t usage;
    uint8_t usageIndex;
};
const std::vector<AttributeName>& AttributeNames();

// The uniforms the framework itself adds to every effect program.
inline constexpr const char* kPixelUniform = "rh_Pixel";
inline constexpr const char* kFogEnableUniform = "rh_FogEnable";
inline constexpr const char* kFogColorUniform = "rh_FogColor";

// The whole GLSL of one code block: #version 120, the uniforms of the parameters it names,
// the attributes it names (vertex), the code, and the framework's main around the code's own
// (the clip-space fix-up for vertex code, the fog epilogue for fragment code). clipFixup is
// the device's statement turning gl_Position from Direct3D's clip space into GL's.
std::string StageSource(const Effect& effect, const CodeBlock& code, const std::string& clipFixup);
// The parameters a code block names (indices), in parameter order.
std::vector<uint32_t> UsedParameters(const Effect& effect, const CodeBlock& code);

}  // namespace rh::d3dx9::fx
