// Compiled effect binaries through the reader (no GL). Input: a flag byte, then the binary.
// With the flag's low bit set the checksum is recomputed first, so that mutations reach the
// checks behind it (counts, indices, names, states). A binary the reader takes must write
// back to the same bytes and give GLSL for each code block; anything else aborts, besides
// what ASan and UBSan see.

#include "platform/d3dx9/effect_model.h"

#include "fuzz/fuzz_input.h"

#include <cstdint>
#include <string>
#include <vector>

using fuzz_input::Check;
namespace fx = rh::d3dx9::fx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    const bool fixChecksum = (data[0] & 1) != 0;
    std::vector<uint8_t> bytes(data + 1, data + size);
    if (fixChecksum && bytes.size() >= 8) {
        uint64_t sum = fx::Fnv1a(bytes.data(), bytes.size() - 8);
        for (int i = 0; i < 8; ++i) bytes[bytes.size() - 8 + static_cast<size_t>(i)] = static_cast<uint8_t>(sum >> (8 * i));
    }
    const auto block = fuzz_input::ExactCopy(bytes.data(), bytes.size());

    fx::Effect effect;
    std::string error;
    if (!fx::ReadBinary(block.get(), bytes.size(), &effect, &error)) {
        Check(!error.empty());
        return 0;
    }
    uint64_t hash = 0;
    for (int i = 0; i < 8; ++i) hash |= uint64_t{bytes[8 + static_cast<size_t>(i)]} << (8 * i);
    Check(fx::WriteBinary(effect, hash) == bytes);
    for (const fx::CodeBlock& code : effect.code) fx::StageSource(effect, code, "gl_Position = gl_Position;");
    return 0;
}
