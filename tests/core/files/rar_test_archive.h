// Builds small RAR 2.0 archives byte by byte for the reader's tests.
#pragma once

#include "core/files/archive/crc32.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rar_test {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
inline void Set16(Bytes& b, size_t at, uint32_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

// One file block. Fields default to a stored member whose sizes and CRC match `data`.
struct Member {
    std::string name;
    Bytes data;
    uint8_t version = 20;
    uint8_t method = 0x30;
    uint16_t flags = 0x8000;
    int64_t packedSize = -1;    // -1: data.size()
    int64_t unpackedSize = -1;  // -1: data.size()
    int64_t fileCrc = -1;       // -1: the CRC of data
    uint8_t type = 0x74;
};

// The header CRC: the low half of the CRC-32 from the type byte to the header's end.
inline void SealHeader(Bytes& b, size_t start) {
    uint32_t crc = Crc32(b.data() + start + 2, b.size() - start - 2);
    Set16(b, start, crc & 0xFFFF);
}

inline void AppendMember(Bytes& b, const Member& m) {
    size_t start = b.size();
    Put16(b, 0);
    b.push_back(m.type);
    Put16(b, m.flags);
    Put16(b, uint32_t(32 + m.name.size()));
    Put32(b, uint32_t(m.packedSize >= 0 ? m.packedSize : int64_t(m.data.size())));
    Put32(b, uint32_t(m.unpackedSize >= 0 ? m.unpackedSize : int64_t(m.data.size())));
    b.push_back(2);  // host system
    Put32(b, uint32_t(m.fileCrc >= 0 ? m.fileCrc : Crc32(m.data.data(), m.data.size())));
    Put32(b, 0);  // time
    b.push_back(m.version);
    b.push_back(m.method);
    Put16(b, uint32_t(m.name.size()));
    Put32(b, 0x20);  // attributes
    b.insert(b.end(), m.name.begin(), m.name.end());
    SealHeader(b, start);
    b.insert(b.end(), m.data.begin(), m.data.end());
}

// Marker, main header (flags: 0x08 solid) and the members in order.
inline Bytes MakeArchive(const std::vector<Member>& members, uint16_t mainFlags = 0) {
    Bytes b = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
    size_t start = b.size();
    Put16(b, 0);
    b.push_back(0x73);
    Put16(b, mainFlags);
    Put16(b, 13);
    Put16(b, 0);
    Put32(b, 0);
    SealHeader(b, start);
    for (const Member& m : members) AppendMember(b, m);
    return b;
}

inline Bytes Text(const char* s) { return Bytes(s, s + std::char_traits<char>::length(s)); }

}  // namespace rar_test
