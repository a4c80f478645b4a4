// The RAR 2.0 decoder against the plain one it replaced (tests/core/files/rar_unpack20_plain.h)
// on the same members: both must succeed or fail alike, report the same count and leave the
// same bytes in the caller's block, member after member of a solid stream, in every way the
// caller may ask for the bytes.
//
// The input describes the members of one stream:
//
//   count    1 byte: 1 to 4 members (mod 4, plus 1)
//   members  each: a flags byte: 1 continue the stream (solid; not for the first), 0x06 the
//            block (0 none, 2 the member's size, 4 300 bytes more, 6 half the size), 0x08 the
//            data is content for the archive writer's encoder (else packed bytes as they
//            are), 0x30 the encoder's multimedia mode (off, auto, 2 channels, 4 channels);
//            a 3-byte size of the bytes that follow (at most 64 KB are taken); for content:
//            a 3-byte member size, the content repeated to it (at most 2 MB), then a count
//            byte (mod 8) of damages (3-byte offset into the packed bytes, a byte to xor);
//            for packed bytes: a 3-byte member size (at most 4 MB).
//
// Besides what ASan and UBSan see, any difference between the decoders aborts.

#include "core/files/archive/rar_unpack20.h"
#include "fuzz/fuzz_input.h"
#include "tests/core/files/rar_unpack20_plain.h"
#include "tools/rarwrite/rar_pack20.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace {

using fuzz_input::Check;
namespace rw = rh::rarwrite;

struct Member {
    std::vector<uint8_t> packed;
    uint32_t size = 0;
    bool keep = false;
    int block = 0;  // 0 none, 1 exact, 2 larger, 3 smaller
};

std::vector<uint8_t> Packed(fuzz_input::Reader& in, uint8_t flags, uint32_t* size) {
    std::string bytes = in.Bytes(in.Number(3) & 0xFFFF);
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    if ((flags & 0x08) == 0) {
        *size = in.Number(3) & 0x3FFFFF;
        return data;
    }
    *size = in.Number(3) & 0x1FFFFF;
    if (data.empty() || *size == 0) {
        *size = 0;
        return {};
    }
    std::vector<uint8_t> content(*size);
    for (size_t i = 0; i < content.size(); ++i) content[i] = data[i % data.size()];
    static const rw::Multimedia kModes[] = {rw::Multimedia::kOff, rw::Multimedia::kAuto,
                                            rw::Multimedia::kChannels2, rw::Multimedia::kChannels4};
    std::vector<uint8_t> packed = rw::Pack(content, kModes[(flags >> 4) & 3]);
    for (int n = in.Byte() % 8; n > 0; --n) {
        uint32_t at = in.Number(3);
        uint8_t x = in.Byte();
        if (!packed.empty()) packed[at % packed.size()] ^= x;
    }
    return packed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::Reader in(data, size);
    std::vector<Member> members(size_t(in.Byte() % 4 + 1));
    for (size_t i = 0; i < members.size(); ++i) {
        Member& m = members[i];
        const uint8_t flags = in.Byte();
        m.keep = i > 0 && (flags & 1) != 0;
        m.block = (flags >> 1) & 3;
        m.packed = Packed(in, flags, &m.size);
    }

    RarUnpack20 quick;
    rar_test::PlainUnpack20 plain;
    for (const Member& m : members) {
        const uint32_t room = m.block == 2 ? m.size + 300 : m.block == 3 ? m.size / 2 : m.size;
        std::vector<uint8_t> a(room, 0xA5), b(room, 0xA5);
        auto inA = fuzz_input::ExactCopy(m.packed.data(), m.packed.size());
        auto inB = fuzz_input::ExactCopy(m.packed.data(), m.packed.size());
        uint32_t writtenA = 1, writtenB = 2;
        const bool okA = quick.Decode(inA.get(), uint32_t(m.packed.size()), m.size, m.keep,
                                      m.block == 0 ? nullptr : a.data(), room, &writtenA);
        const bool okB = plain.Decode(inB.get(), uint32_t(m.packed.size()), m.size, m.keep,
                                      m.block == 0 ? nullptr : b.data(), room, &writtenB);
        Check(okA == okB && writtenA == writtenB);
        Check(!okA || a == b);
    }
    return 0;
}
