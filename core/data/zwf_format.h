// The layout of the engine's hierarchical binary data files (".zwf" scenes, ".cam" camera
// paths), written once for the reader (core/data) and the writer (tools/zwfwrite). Header
// only and free of engine types, so that the writer can use it without the engine.
//
// Integers are 32-bit little-endian; a text is an int byte count and that many bytes, without
// a terminator.
//
//   file         file size (int), magic (text), type count (int), type records,
//                root size (int), then the root block (a compound block)
//   type record  name (text), member count (int), members
//   member       name (text), type name (text), is-array (byte),
//                element count (int; only when is-array is not 0)
//   compound     directory size (int: bytes from the block's start to the end of its
//                directory), child count (int), one entry per child
//   entry        name (text), type name (text), flags (byte),
//                array count (int; only with kEntryArray), offset (int, from the start of
//                the file), size (int)
//   leaf         `size` raw bytes at the entry's offset
#pragma once

#include <cstddef>
#include <cstdint>

namespace zwf_format {

inline constexpr char kMagic[] = "ZWF Binary 1.0";
inline constexpr int32_t kMagicLength = int32_t(sizeof(kMagic) - 1);

// Entry flags.
inline constexpr uint8_t kEntryArray = 0x01;
inline constexpr uint8_t kEntryLink = 0x02;  // a second entry for a block another entry owns
inline constexpr uint8_t kEntryCompound = 0x04;

inline constexpr int64_t kIntBytes = 4;

// The bytes a text of `length` bytes takes.
constexpr int64_t TextBytes(int64_t length) { return kIntBytes + length; }

// A compound block's directory size and child count, before its entries.
inline constexpr int64_t kDirectoryHeaderBytes = 2 * kIntBytes;
// Where the child count lies, from the start of a compound block.
inline constexpr int64_t kChildCountAt = kIntBytes;

// The bytes one directory entry takes.
constexpr int64_t EntryBytes(int64_t nameLength, int64_t typeNameLength, bool isArray) {
    return TextBytes(nameLength) + TextBytes(typeNameLength) + 1 + (isArray ? kIntBytes : 0) +
           2 * kIntBytes;
}

// The fewest bytes a directory entry, a type record and a member record can take (empty
// texts, no counts): a count of records larger than the rest of the file could hold lies.
inline constexpr int32_t kMinEntryBytes = int32_t(EntryBytes(0, 0, false));
inline constexpr int32_t kMinTypeBytes = int32_t(TextBytes(0) + kIntBytes);
inline constexpr int32_t kMinMemberBytes = int32_t(TextBytes(0) + TextBytes(0) + 1);

// The size of a basic type: "int" and "real" 4, "char" and "byte" 1; 0 for any other name
// (case counts), which is then a structured type of the type table or unknown.
constexpr int32_t BasicTypeSize(const char* name, size_t length) {
    auto is = [&](const char* basic, size_t basicLength) {
        if (length != basicLength) return false;
        for (size_t i = 0; i < length; ++i) {
            if (name[i] != basic[i]) return false;
        }
        return true;
    };
    if (is("int", 3) || is("real", 4)) return 4;
    if (is("char", 4) || is("byte", 4)) return 1;
    return 0;
}

}  // namespace zwf_format
