// The compiled effect's binary: written by the compiler, read back by D3DXCreateEffect, which
// trusts nothing in it. Binaries come from disk: every count is checked against the bytes
// left before anything is made for it, every index and enumeration against its range, and
// the names that become GLSL names must be identifiers.

#include "platform/d3dx9/effect_model.h"

#include <cstring>

namespace rh::d3dx9::fx {

uint64_t Fnv1a(const void* data, size_t size, uint64_t hash) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; ++i) {
        hash ^= p[i];
        hash *= 0x100000001B3ull;
    }
    return hash;
}

uint64_t SourceHash(std::string_view source, const std::vector<Macro>& macros) {
    // Lengths go in before each text so that different splits cannot hash alike.
    auto add = [](uint64_t h, std::string_view text) {
        uint32_t n = static_cast<uint32_t>(text.size());
        uint8_t bytes[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                            static_cast<uint8_t>(n >> 24)};
        return Fnv1a(text.data(), text.size(), Fnv1a(bytes, 4, h));
    };
    uint64_t h = add(0xCBF29CE484222325ull, source);
    for (const Macro& m : macros) h = add(add(h, m.name), m.definition);
    return h;
}

namespace {

constexpr size_t kMaxString = 1u << 16;  // names, semantics, annotation strings
constexpr size_t kHeaderSize = 4 + 4 + 8 + 4;

class Writer {
public:
    void U8(uint8_t v) { bytes.push_back(v); }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void U64(uint64_t v) {
        for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void F32(float f) {
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        U32(bits);
    }
    void Str(const std::string& s) {
        U32(static_cast<uint32_t>(s.size()));
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
    void Annotations(const std::vector<Annotation>& list) {
        U32(static_cast<uint32_t>(list.size()));
        for (const Annotation& a : list) {
            Str(a.name);
            U8(static_cast<uint8_t>(a.type));
            if (a.type == Type::kString) {
                Str(a.text);
            } else {
                for (int i = 0; i < 4; ++i) F32(a.values[i]);
                for (int i = 0; i < 4; ++i) U32(static_cast<uint32_t>(a.ints[i]));
            }
        }
    }

    std::vector<uint8_t> bytes;
};

struct Damaged {
    std::string message;
};

class Reader {
public:
    Reader(const uint8_t* p, size_t n) : p_(p), left_(n) {}

    [[noreturn]] static void Fail(const std::string& message) { throw Damaged{message}; }

    void Need(size_t n, const char* what) {
        if (n > left_) Fail(std::string("the binary ends inside ") + what);
    }
    uint8_t U8(const char* what) {
        Need(1, what);
        --left_;
        return *p_++;
    }
    uint32_t U32(const char* what) {
        Need(4, what);
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v |= uint32_t{p_[i]} << (8 * i);
        p_ += 4;
        left_ -= 4;
        return v;
    }
    uint64_t U64(const char* what) {
        uint64_t lo = U32(what);
        uint64_t hi = U32(what);
        return lo | (hi << 32);
    }
    float F32(const char* what) {
        uint32_t bits = U32(what);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    std::string Str(const char* what, size_t limit = kMaxString) {
        uint32_t n = U32(what);
        if (n > limit) Fail(std::string("an over-long ") + what);
        Need(n, what);
        std::string s(reinterpret_cast<const char*>(p_), n);
        if (s.find('\0') != std::string::npos) Fail(std::string("a zero byte in ") + what);
        p_ += n;
        left_ -= n;
        return s;
    }
    // A name that becomes a GLSL name.
    std::string Name(const char* what) {
        std::string s = Str(what);
        bool ok = !s.empty() && !(s[0] >= '0' && s[0] <= '9');
        for (char c : s) ok = ok && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_');
        if (!ok) Fail(std::string("a bad ") + what);
        return s;
    }
    // A count of elements at least minBytes each: more than the bytes left is damage.
    uint32_t Count(size_t minBytes, const char* what) {
        uint32_t n = U32(what);
        if (uint64_t{n} * minBytes > left_) Fail(std::string("a count of ") + what + " past the end of the binary");
        return n;
    }
    std::vector<Annotation> Annotations() {
        std::vector<Annotation> list(Count(4 + 1 + 4, "annotations"));
        for (Annotation& a : list) {
            a.name = Str("an annotation name");
            uint8_t type = U8("an annotation type");
            if (type >= kTypeCount) Fail("an unknown annotation type");
            a.type = static_cast<Type>(type);
            if (a.type == Type::kString) {
                a.text = Str("an annotation string");
            } else if (ComponentCount(a.type) == 0 || a.type == Type::kFloat4x4) {
                Fail("an annotation of a type annotations cannot have");
            } else {
                for (float& v : a.values) v = F32("an annotation value");
                for (int32_t& v : a.ints) v = static_cast<int32_t>(U32("an annotation value"));
            }
        }
        return list;
    }
    size_t left() const { return left_; }

private:
    const uint8_t* p_;
    size_t left_;
};

}  // namespace

std::vector<uint8_t> WriteBinary(const Effect& effect, uint64_t sourceHash) {
    Writer body;
    body.U32(static_cast<uint32_t>(effect.parameters.size()));
    for (const Parameter& p : effect.parameters) {
        body.Str(p.name);
        body.Str(p.semantic);
        body.U8(static_cast<uint8_t>(p.type));
        body.U8(p.shared ? 1 : 0);
        body.Annotations(p.annotations);
        body.U32(static_cast<uint32_t>(p.initial.size()));
        for (float v : p.initial) body.F32(v);
        body.U32(p.texture);
        body.U32(static_cast<uint32_t>(p.samplerStates.size()));
        for (const SamplerState& s : p.samplerStates) {
            body.U32(s.state);
            body.U32(s.value);
        }
    }
    body.U32(static_cast<uint32_t>(effect.code.size()));
    for (const CodeBlock& c : effect.code) {
        body.Str(c.name);
        body.U8(static_cast<uint8_t>(c.stage));
        body.U32(c.line);
        body.Str(c.text);
    }
    body.U32(static_cast<uint32_t>(effect.techniques.size()));
    for (const TechniqueDesc& t : effect.techniques) {
        body.Str(t.name);
        body.Annotations(t.annotations);
        body.U32(static_cast<uint32_t>(t.passes.size()));
        for (const PassDesc& pass : t.passes) {
            body.Str(pass.name);
            body.Annotations(pass.annotations);
            body.U32(static_cast<uint32_t>(pass.states.size()));
            for (const PassState& s : pass.states) {
                body.U8(s.kind);
                body.U32(s.state);
                body.U32(s.index);
                body.U32(s.value);
            }
            body.U32(pass.vertexCode);
            body.U32(pass.fragmentCode);
        }
    }
    Writer out;
    out.bytes.insert(out.bytes.end(), kMagic, kMagic + 4);
    out.U32(kFormatVersion);
    out.U64(sourceHash);
    out.U32(static_cast<uint32_t>(body.bytes.size()));
    out.bytes.insert(out.bytes.end(), body.bytes.begin(), body.bytes.end());
    out.U64(Fnv1a(out.bytes.data(), out.bytes.size()));
    return std::move(out.bytes);
}

bool ReadBinary(const void* data, size_t size, Effect* effect, std::string* error) {
    *effect = Effect{};
    const auto* bytes = static_cast<const uint8_t*>(data);
    try {
        if (data == nullptr || size < kHeaderSize + 8 || std::memcmp(bytes, kMagic, 4) != 0) {
            Reader::Fail("not a compiled effect of this layer");
        }
        Reader header(bytes + 4, size - 4);
        uint32_t version = header.U32("the header");
        if (version != kFormatVersion) {
            Reader::Fail("compiled effect format " + std::to_string(version) + ", expected " + std::to_string(kFormatVersion));
        }
        header.U64("the header");
        uint32_t bodySize = header.U32("the header");
        if (uint64_t{bodySize} + kHeaderSize + 8 != size) Reader::Fail("the binary's size does not match its header");
        uint64_t stored = 0;
        for (int i = 0; i < 8; ++i) stored |= uint64_t{bytes[size - 8 + static_cast<size_t>(i)]} << (8 * i);
        if (Fnv1a(bytes, size - 8) != stored) Reader::Fail("the binary's checksum does not match (damaged)");

        Reader r(bytes + kHeaderSize, bodySize);
        Effect e;
        e.parameters.resize(r.Count(4 + 4 + 2 + 4 + 4 + 4 + 4, "parameters"));
        for (size_t i = 0; i < e.parameters.size(); ++i) {
            Parameter& p = e.parameters[i];
            p.name = r.Name("parameter name");
            for (size_t j = 0; j < i; ++j) {
                if (e.parameters[j].name == p.name) Reader::Fail("parameter '" + p.name + "' twice");
            }
            p.semantic = r.Str("a semantic");
            uint8_t type = r.U8("a parameter type");
            if (type >= kTypeCount || static_cast<Type>(type) == Type::kString) Reader::Fail("an unknown parameter type");
            p.type = static_cast<Type>(type);
            uint8_t shared = r.U8("a parameter");
            if (shared > 1) Reader::Fail("a bad shared flag");
            p.shared = shared != 0;
            p.annotations = r.Annotations();
            p.initial.resize(r.Count(4, "initial values"));
            if (!p.initial.empty() && p.initial.size() != static_cast<size_t>(ComponentCount(p.type))) {
                Reader::Fail("parameter '" + p.name + "' has a value of the wrong size");
            }
            for (float& v : p.initial) v = r.F32("a value");
            p.texture = r.U32("a sampler's texture");
            p.samplerStates.resize(r.Count(8, "sampler states"));
            for (SamplerState& s : p.samplerStates) {
                s.state = r.U32("a sampler state");
                s.value = r.U32("a sampler state");
                if (!KnownSamplerState(s.state)) Reader::Fail("an unknown sampler state");
            }
            if (!IsSampler(p.type) && (p.texture != Parameter::kNone || !p.samplerStates.empty())) {
                Reader::Fail("sampler states on parameter '" + p.name + "', which is no sampler");
            }
        }
        // Texture references point backwards or forwards: checked once all types are known.
        for (const Parameter& p : e.parameters) {
            if (p.texture != Parameter::kNone &&
                (p.texture >= e.parameters.size() || e.parameters[p.texture].type != Type::kTexture)) {
                Reader::Fail("sampler '" + p.name + "' names no texture parameter");
            }
        }
        e.code.resize(r.Count(4 + 1 + 4 + 4, "code blocks"));
        for (CodeBlock& c : e.code) {
            c.name = r.Name("code block name");
            uint8_t stage = r.U8("a code block");
            if (stage > 1) Reader::Fail("a code block of an unknown stage");
            c.stage = static_cast<Stage>(stage);
            c.line = r.U32("a code block");
            c.text = r.Str("code", kMaxOutputBytes);
        }
        e.techniques.resize(r.Count(4 + 4 + 4, "techniques"));
        for (TechniqueDesc& t : e.techniques) {
            t.name = r.Str("a technique name");
            t.annotations = r.Annotations();
            t.passes.resize(r.Count(4 + 4 + 4 + 8, "passes"));
            for (PassDesc& pass : t.passes) {
                pass.name = r.Str("a pass name");
                pass.annotations = r.Annotations();
                pass.states.resize(r.Count(13, "pass states"));
                for (PassState& s : pass.states) {
                    uint8_t kind = r.U8("a pass state");
                    s.state = r.U32("a pass state");
                    s.index = r.U32("a pass state");
                    s.value = r.U32("a pass state");
                    if (kind > PassState::kTexture) Reader::Fail("a pass state of an unknown kind");
                    s.kind = static_cast<PassState::Kind>(kind);
                    bool ok = s.kind == PassState::kRender    ? KnownRenderState(s.state) && s.index == 0
                              : s.kind == PassState::kSampler ? KnownSamplerState(s.state) && s.index < 16
                                                              : s.index < 16 && s.value < e.parameters.size() &&
                                                                    e.parameters[s.value].type == Type::kTexture;
                    if (!ok) Reader::Fail("a bad state in pass '" + pass.name + "'");
                }
                pass.vertexCode = r.U32("a pass");
                pass.fragmentCode = r.U32("a pass");
                if (pass.vertexCode >= e.code.size() || e.code[pass.vertexCode].stage != Stage::kVertex ||
                    pass.fragmentCode >= e.code.size() || e.code[pass.fragmentCode].stage != Stage::kFragment) {
                    Reader::Fail("pass '" + pass.name + "' names no code block of its stage");
                }
            }
        }
        if (r.left() != 0) Reader::Fail("bytes after the effect");
        *effect = std::move(e);
        return true;
    } catch (const Damaged& damaged) {
        error->append("compiled effect refused: " + damaged.message + "\n");
        return false;
    }
}

}  // namespace rh::d3dx9::fx
