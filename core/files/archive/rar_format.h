// The block format of RAR archives of versions 1.5 to 2.0: the marker, block types, flags,
// header sizes and field offsets, and which bytes a header's CRC covers. One description for
// both sides: the engine's reader (core/files/archive) and the archive writer (tools/rarwrite)
// include it, so it holds constants and constexpr functions only and needs no library.
//
// Every block starts with the same 7 bytes: header CRC (2), type (1), flags (2), header size
// (2), all little-endian. The header CRC is the low half of the CRC-32 (reflected polynomial
// 0xEDB88320) of the header from its type byte on; see HeaderCrcEnd for the headers that
// carry an embedded comment.
#pragma once

#include <cstdint>

namespace rar_format {

inline constexpr uint8_t kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};

// Block types.
inline constexpr uint8_t kMainHeaderType = 0x73;
inline constexpr uint8_t kFileHeaderType = 0x74;
inline constexpr uint8_t kCommentType = 0x75;  // embedded in a main or file header
inline constexpr uint8_t kSubBlockType = 0x77;
inline constexpr uint8_t kEndArchiveType = 0x7B;

// Flags of any block. kDataFollows: a 4-byte data size follows the common 7 bytes (in a file
// header it is the packed size) and that many bytes follow the header.
inline constexpr uint16_t kDataFollows = 0x8000;
inline constexpr uint16_t kOldReadersSkip = 0x4000;

// Main header flags.
inline constexpr uint16_t kMainComment = 0x02;  // a comment block follows the 13 fixed bytes
inline constexpr uint16_t kMainSolid = 0x08;

// File header flags.
inline constexpr uint16_t kFileEncrypted = 0x04;
inline constexpr uint16_t kFileComment = 0x08;  // a comment block follows the name
inline constexpr uint16_t kFileSolid = 0x10;    // continues the solid stream of the members before
inline constexpr uint16_t kFileDictionaryBits = 0x00E0;
inline constexpr uint16_t kFileDirectory = 0x00E0;  // all three dictionary bits set

// Header sizes.
inline constexpr int kBlockHeaderSize = 7;     // the part every block shares
inline constexpr int kMainHeaderSize = 13;     // CRC .. the two reserved fields (2 + 4 bytes)
inline constexpr int kFileHeaderSize = 32;     // the fixed part before the name
inline constexpr int kCommentHeaderSize = 13;  // the fixed part before the comment's bytes
inline constexpr int kEndHeaderSize = 7;

// Field offsets in a file header (from the block's start).
inline constexpr int kFilePackedSize = 7;     // 4 bytes
inline constexpr int kFileUnpackedSize = 11;  // 4 bytes
inline constexpr int kFileHostOs = 15;        // 1 byte
inline constexpr int kFileCrc = 16;           // 4 bytes, CRC-32 of the extracted bytes
inline constexpr int kFileTime = 20;          // 4 bytes, DOS time (low word) and date
inline constexpr int kFileVersion = 24;       // 1 byte, version needed, 10 * major + minor
inline constexpr int kFileMethod = 25;        // 1 byte
inline constexpr int kFileNameSize = 26;      // 2 bytes
inline constexpr int kFileAttributes = 28;    // 4 bytes
inline constexpr int kFileName = 32;

// Field offsets in a comment block (from the block's start), after the common 7 bytes. The
// block's header size counts the comment's bytes, which follow the 13 fixed ones; its header
// CRC covers the fixed part only (from the type byte through the comment CRC, 11 bytes).
inline constexpr int kCommentUnpackedSize = 7;  // 2 bytes
inline constexpr int kCommentVersion = 9;       // 1 byte
inline constexpr int kCommentMethod = 10;       // 1 byte
inline constexpr int kCommentCrc = 11;          // 2 bytes, low half of the comment's CRC-32

// Packing methods: 0x30 stored, 0x31 (fastest) to 0x35 (best) packed.
inline constexpr uint8_t kMethodStored = 0x30;
inline constexpr uint8_t kMethodBest = 0x35;

// The versions needed to extract that the RAR 2.0 decoder covers.
inline constexpr uint8_t kMinVersion = 13;
inline constexpr uint8_t kMaxVersion = 20;

// Where the bytes covered by a header's CRC end (counted from the block's start; they begin
// at its type byte, offset 2) when the header embeds a comment in the 1.5 to 2.0 layout: a
// main header with kMainComment covers its 13 fixed bytes; a file header with kFileComment
// covers everything up to the end of its name. 0 for every other header, whose CRC covers the
// whole header.
constexpr uint32_t CommentedHeaderCrcEnd(uint8_t type, uint16_t flags, uint16_t nameSize) {
    if (type == kMainHeaderType && (flags & kMainComment) != 0) {
        return kMainHeaderSize;
    }
    if (type == kFileHeaderType && (flags & kFileComment) != 0) {
        return kFileHeaderSize + uint32_t{nameSize};
    }
    return 0;
}

// The bytes a writer seals a header's CRC over: up to CommentedHeaderCrcEnd, or the whole
// header of headerSize bytes.
constexpr uint32_t HeaderCrcEnd(uint8_t type, uint16_t flags, uint16_t nameSize,
                                uint32_t headerSize) {
    uint32_t end = CommentedHeaderCrcEnd(type, flags, nameSize);
    return end != 0 ? end : headerSize;
}

}  // namespace rar_format
