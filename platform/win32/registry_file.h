// The registry's file in memory: keys of the current user with their typed values, read from and
// written as the registry editor's REGEDIT4 export layout in UTF-8:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Maker\Product]
//   "Width"=dword:00000320
//   "Title"="text with \"quotes\" and \\ backslashes"
//   "Blob"=hex:01,02,ff
//   "Other"=hex(7):41,00,00
//
// No I/O here: registry.cpp reads and writes the file; the fuzzer and the benchmark use this
// directly. Private to platform/win32.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace rh::win32 {

// A file larger than this is not read (it reads as absent values): no settings file comes
// near it, and a runaway one must not stall the program that opens a key.
constexpr size_t kRegistryFileCap = 1u << 20;
// The longest key or value name, in bytes of the current code page, as Windows limits key names.
constexpr size_t kRegistryNameCap = 255;

struct RegistryValue {
    std::string name;  // UTF-8, with the case it was created with; empty for the default value
    DWORD type = 0;
    // The bytes as stored. For a text read from the file (utf8Text) the UTF-8 text without a
    // terminator: RegQueryValueExA answers it in the current code page with a terminator.
    std::string data;
    bool utf8Text = false;

    // The bytes RegQueryValueExA answers.
    std::string ApiBytes() const;
};

struct RegistryKey {
    std::string path;  // UTF-8 names joined by '\', with the case they were created with
    std::vector<RegistryValue> values;
    std::unordered_map<std::string, size_t> index;  // folded name -> position in values

    const RegistryValue* Find(std::string_view name) const;
    // Replaces a value of the same name (keeping the stored name's case) or appends it.
    void Set(RegistryValue value);
};

// What reading a file found.
struct RegistryParseReport {
    // Not a registry file (no REGEDIT4 header, NUL bytes, or over kRegistryFileCap): it reads
    // as no keys at all.
    bool damaged = false;
    const char* damage = "";  // why, for the log
    size_t skippedLines = 0;  // lines that did not parse and were left out
    size_t firstSkippedLine = 0;  // 1-based; 0 when none
};

class RegistryHive {
public:
    // Reads a file's bytes. Lines that do not parse are skipped and counted in the report;
    // a damaged file gives an empty hive.
    static RegistryHive Parse(std::string_view bytes, RegistryParseReport* report);
    // The file's bytes; Parse of them gives this hive back.
    std::string Serialize() const;

    // Paths are UTF-8 names joined by '\' without empty names; they compare without regard to
    // case. Null when the key is not stored (it may still exist as the ancestor of one).
    const RegistryKey* Find(std::string_view path) const;
    // Whether the key exists: stored, an ancestor of a stored key, or the root (empty path).
    bool Exists(std::string_view path) const;
    // The stored key, added (last) when missing.
    RegistryKey& Ensure(std::string_view path);

    const std::vector<RegistryKey>& keys() const { return keys_; }

private:
    std::vector<RegistryKey> keys_;
    std::unordered_map<std::string, size_t> index_;  // folded path -> position in keys_
    std::unordered_set<std::string> ancestors_;      // folded paths of every stored key's ancestors
};

// Names compare as Windows compares registry names: letters of the current code page's range
// (ASCII and Latin-1) without regard to case. The folded form of a valid UTF-8 name.
std::string FoldRegistryName(std::string_view utf8);

// Text of the current code page (bytes are code points 0-255) to UTF-8 and back; code points
// above 255 come back as '?'. Utf8FromCodePage's result is always valid UTF-8.
std::string Utf8FromCodePage(std::string_view bytes);
std::string CodePageFromUtf8(std::string_view utf8);
bool ValidUtf8(std::string_view text);

}  // namespace rh::win32
