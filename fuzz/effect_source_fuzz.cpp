// Effect sources through the preprocessor, the parser and the checks (no GL). Input: a byte n,
// then n % 4 caller macros, each a name and a definition ended by zero bytes; the rest is the
// source. A source that compiles must give a binary the reader takes back whole, that writes
// again to the same bytes, and whose code blocks become GLSL; anything else aborts, besides
// what ASan and UBSan see.

#include "platform/d3dx9/effect_model.h"

#include "fuzz/fuzz_input.h"

#include <cstdint>
#include <string>
#include <vector>

using fuzz_input::Check;
namespace fx = rh::d3dx9::fx;

namespace {

std::string Field(const uint8_t* data, size_t size, size_t* at) {
    std::string s;
    while (*at < size && data[*at] != 0) s += static_cast<char>(data[(*at)++]);
    if (*at < size) ++*at;
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (256u << 10)) return 0;
    const auto block = fuzz_input::ExactCopy(data, size);
    const uint8_t* p = block.get();
    size_t at = 0;
    std::vector<fx::Macro> macros;
    int count = size > 0 ? p[at++] % 4 : 0;
    for (int i = 0; i < count; ++i) {
        std::string name = Field(p, size, &at);
        std::string definition = Field(p, size, &at);
        macros.push_back({name, definition});
    }
    // The source without a terminating zero, so that ASan sees any read past its end.
    const auto source = fuzz_input::ExactCopy(p + at, size - at);
    std::string_view text(reinterpret_cast<const char*>(source.get()), size - at);

    fx::Effect effect;
    std::string errors;
    if (!fx::Compile(text, macros, &effect, &errors)) {
        Check(!errors.empty());
        Check(errors.rfind("line ", 0) == 0);
        return 0;
    }
    const uint64_t hash = fx::SourceHash(text, macros);
    const std::vector<uint8_t> binary = fx::WriteBinary(effect, hash);
    fx::Effect back;
    std::string message;
    Check(fx::ReadBinary(binary.data(), binary.size(), &back, &message));
    Check(fx::WriteBinary(back, hash) == binary);
    for (const fx::CodeBlock& code : back.code) {
        std::string glsl = fx::StageSource(back, code, "gl_Position = gl_Position;");
        Check(glsl.rfind("#version 120\n", 0) == 0);
    }
    return 0;
}
