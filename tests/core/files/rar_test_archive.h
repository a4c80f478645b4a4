// Builds small RAR 2.0 archives byte by byte for the reader's tests, and variants of real ones.
#pragma once

#include "core/files/archive/crc32.h"
#include "core/files/archive/rar_format.h"

#include <cstdint>
#include <string>
#include <vector>

namespace rar_test {

using Bytes = std::vector<uint8_t>;
namespace rf = rar_format;

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
inline uint32_t Get16(const Bytes& b, size_t at) { return b[at] | uint32_t(b[at + 1]) << 8; }
inline uint32_t Get32(const Bytes& b, size_t at) { return Get16(b, at) | Get16(b, at + 2) << 16; }

// Which bytes a header's CRC is sealed over when the header embeds a comment.
enum class Seal {
    kFormat,  // as the format has it: the fixed part of a main header, a file header to its name
    kWhole,   // the whole header, comment included, as for any header without one
};

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
    // A file comment (flag 0x08 is then set): a comment block after the name.
    std::string comment = {};
    Seal seal = Seal::kFormat;
};

// The header CRC: the low half of the CRC-32 from the type byte to `end` (counted from the
// block's start; by default the header's end, which is the end of b).
inline void SealHeader(Bytes& b, size_t start, size_t end = 0) {
    if (end == 0) end = b.size() - start;
    uint32_t crc = Crc32(b.data() + start + 2, end - 2);
    Set16(b, start, crc & 0xFFFF);
}

// The comment block embedded in a main or file header, stored; its CRC covers its 13 bytes.
inline Bytes CommentBlock(const std::string& comment) {
    Bytes b;
    const auto* bytes = reinterpret_cast<const uint8_t*>(comment.data());
    Put16(b, 0);
    b.push_back(rf::kCommentType);
    Put16(b, 0);
    Put16(b, uint32_t(rf::kCommentHeaderSize + comment.size()));
    Put16(b, uint32_t(comment.size()));
    b.push_back(20);
    b.push_back(rf::kMethodStored);
    Put16(b, Crc32(bytes, comment.size()) & 0xFFFF);
    SealHeader(b, 0);
    b.insert(b.end(), bytes, bytes + comment.size());
    return b;
}

inline void AppendMember(Bytes& b, const Member& m) {
    size_t start = b.size();
    Bytes comment = m.comment.empty() ? Bytes() : CommentBlock(m.comment);
    uint16_t flags = uint16_t(m.flags | (m.comment.empty() ? 0 : rf::kFileComment));
    Put16(b, 0);
    b.push_back(m.type);
    Put16(b, flags);
    Put16(b, uint32_t(32 + m.name.size() + comment.size()));
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
    b.insert(b.end(), comment.begin(), comment.end());
    SealHeader(b, start, m.comment.empty() || m.seal == Seal::kWhole ? 0 : 32 + m.name.size());
    b.insert(b.end(), m.data.begin(), m.data.end());
}

// The marker and a main header (flags: 0x08 solid; a comment adds 0x02 and its block).
inline Bytes MakeHead(uint16_t mainFlags, const std::string& comment = {}, Seal seal = Seal::kFormat) {
    Bytes b(std::begin(rf::kMarker), std::end(rf::kMarker));
    size_t start = b.size();
    Bytes block = comment.empty() ? Bytes() : CommentBlock(comment);
    Put16(b, 0);
    b.push_back(rf::kMainHeaderType);
    Put16(b, mainFlags | (comment.empty() ? 0 : rf::kMainComment));
    Put16(b, uint32_t(rf::kMainHeaderSize + block.size()));
    Put16(b, 0);
    Put32(b, 0);
    b.insert(b.end(), block.begin(), block.end());
    SealHeader(b, start, comment.empty() || seal == Seal::kWhole ? 0 : rf::kMainHeaderSize);
    return b;
}

// Marker, main header (flags: 0x08 solid) and the members in order.
inline Bytes MakeArchive(const std::vector<Member>& members, uint16_t mainFlags = 0,
                         const std::string& comment = {}, Seal seal = Seal::kFormat) {
    Bytes b = MakeHead(mainFlags, comment, seal);
    for (const Member& m : members) AppendMember(b, m);
    return b;
}

// A copy of a real archive (file headers of the fixed 32 bytes and the name only) with an
// archive comment and the same comment on every file block, as the archiver lays them out,
// the headers sealed the way `seal` says. The members' data is left as it is.
inline Bytes WithComments(const Bytes& archive, const std::string& archiveComment,
                          const std::string& fileComment, Seal seal = Seal::kFormat) {
    const size_t mainAt = sizeof(rf::kMarker);
    Bytes out = MakeHead(uint16_t(Get16(archive, mainAt + 3)), archiveComment, seal);
    for (size_t at = mainAt + Get16(archive, mainAt + 5); at + rf::kBlockHeaderSize <= archive.size();) {
        uint32_t flags = Get16(archive, at + 3), headerSize = Get16(archive, at + 5);
        uint32_t dataSize = (flags & rf::kDataFollows) != 0 ? Get32(archive, at + 7) : 0;
        size_t start = out.size();
        out.insert(out.end(), archive.begin() + long(at), archive.begin() + long(at + headerSize + dataSize));
        if (archive[at + 2] == rf::kFileHeaderType && !fileComment.empty()) {
            Bytes block = CommentBlock(fileComment);
            out.insert(out.begin() + long(start + headerSize), block.begin(), block.end());
            Set16(out, start + 3, flags | rf::kFileComment);
            Set16(out, start + 5, uint32_t(headerSize + block.size()));
            out.resize(start + headerSize + block.size());  // the header alone, to seal it
            SealHeader(out, start, seal == Seal::kWhole ? 0 : headerSize);
            out.insert(out.end(), archive.begin() + long(at + headerSize),
                       archive.begin() + long(at + headerSize + dataSize));
        }
        at += headerSize + dataSize;
    }
    return out;
}

inline Bytes Text(const char* s) { return Bytes(s, s + std::char_traits<char>::length(s)); }

}  // namespace rar_test
