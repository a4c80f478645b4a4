// The registry's file layout: reading it line by line (what does not parse is left out, never
// trusted) and writing it back.

#include "platform/win32/registry_file.h"

#include <cstdio>
#include <cstring>

namespace rh::win32 {
namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kRoot = "HKEY_CURRENT_USER";

// Decodes one code point of valid UTF-8 at `at`, advancing past it.
char32_t NextCodePoint(std::string_view s, size_t& at) {
    auto b = static_cast<unsigned char>(s[at]);
    int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    char32_t cp = extra == 0 ? b : b & (0x3F >> extra);
    ++at;
    for (int i = 0; i < extra; ++i) cp = (cp << 6) | (static_cast<unsigned char>(s[at++]) & 0x3F);
    return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? static_cast<char>(a[i] - 32) : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? static_cast<char>(b[i] - 32) : b[i];
        if (x != y) return false;
    }
    return true;
}

// A quoted text at the front of s, with \\ and \" as the only escapes; consumes it.
bool TakeQuoted(std::string_view& s, std::string* out) {
    if (s.empty() || s.front() != '"') return false;
    out->clear();
    for (size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\') {
            if (++i == s.size() || (s[i] != '\\' && s[i] != '"')) return false;
            c = s[i];
        }
        *out += c;
    }
    return false;
}

// Bytes written as two hex digits each, separated by commas (blanks allowed around them).
bool ParseHexList(std::string_view s, std::string* out) {
    out->clear();
    s = TrimLeft(TrimRight(s));
    while (!s.empty()) {
        if (s.size() < 2) return false;
        int hi = HexDigit(s[0]);
        int lo = HexDigit(s[1]);
        if (hi < 0 || lo < 0) return false;
        *out += static_cast<char>(hi * 16 + lo);
        s = TrimLeft(s.substr(2));
        if (s.empty()) break;
        if (s.front() != ',') return false;
        s = TrimLeft(s.substr(1));
        if (s.empty()) return false;
    }
    return true;
}

// At most `digits` hex digits, at least one, and nothing else.
bool ParseHexNumber(std::string_view s, size_t digits, DWORD* out) {
    if (s.empty() || s.size() > digits) return false;
    DWORD v = 0;
    for (char c : s) {
        int d = HexDigit(c);
        if (d < 0) return false;
        v = v * 16 + static_cast<DWORD>(d);
    }
    *out = v;
    return true;
}

// What follows "=" on a value line.
bool ParseData(std::string_view s, RegistryValue* value) {
    s = TrimRight(s);
    if (!s.empty() && s.front() == '"') {
        if (!TakeQuoted(s, &value->data) || !s.empty()) return false;
        value->type = REG_SZ;
        value->utf8Text = true;
        return true;
    }
    if (s.substr(0, 6) == "dword:") {
        DWORD v = 0;
        if (!ParseHexNumber(s.substr(6), 8, &v)) return false;
        value->type = REG_DWORD;
        value->data.assign(4, '\0');
        for (int i = 0; i < 4; ++i) value->data[static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
        return true;
    }
    if (s.substr(0, 4) == "hex:") {
        value->type = REG_BINARY;
        return ParseHexList(s.substr(4), &value->data);
    }
    if (s.substr(0, 4) == "hex(") {
        size_t close = s.find("):");
        if (close == std::string_view::npos || !ParseHexNumber(s.substr(4, close - 4), 8, &value->type)) return false;
        return ParseHexList(s.substr(close + 2), &value->data);
    }
    return false;
}

bool ParseValueLine(std::string_view line, RegistryValue* value) {
    std::string name;
    if (line.front() == '@') {
        line.remove_prefix(1);
    } else if (!TakeQuoted(line, &name)) {
        return false;
    }
    line = TrimLeft(line);
    if (line.empty() || line.front() != '=') return false;
    value->name = std::move(name);
    return ParseData(TrimLeft(line.substr(1)), value);
}

// Splits the path of a section header into its names, dropping empty ones, and checks the
// root. False for another root.
bool ParseSectionPath(std::string_view inside, std::string* path) {
    size_t slash = inside.find('\\');
    if (!EqualsNoCase(inside.substr(0, slash), kRoot)) return false;
    path->clear();
    while (slash != std::string_view::npos) {
        inside.remove_prefix(slash + 1);
        slash = inside.find('\\');
        std::string_view name = inside.substr(0, slash);
        if (name.empty()) continue;
        if (!path->empty()) *path += '\\';
        path->append(name);
    }
    return true;
}

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
}

void AppendHexList(std::string& out, std::string_view bytes) {
    static const char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) out += ',';
        auto b = static_cast<unsigned char>(bytes[i]);
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
}

// Whether the stored bytes are a text the quoted form can carry: one terminator at the end,
// none inside, and no line breaks.
bool QuotableText(std::string_view data) {
    if (data.empty() || data.back() != '\0') return false;
    data.remove_suffix(1);
    return data.find_first_of(std::string_view("\0\r\n", 3)) == std::string_view::npos;
}

void AppendValue(std::string& out, const RegistryValue& v) {
    if (v.name.empty()) {
        out += '@';
    } else {
        AppendQuoted(out, v.name);
    }
    out += '=';
    if (v.utf8Text) {
        AppendQuoted(out, v.data);
    } else if (v.type == REG_SZ && QuotableText(v.data)) {
        AppendQuoted(out, Utf8FromCodePage(std::string_view(v.data).substr(0, v.data.size() - 1)));
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD d = 0;
        for (int i = 0; i < 4; ++i) d |= static_cast<DWORD>(static_cast<unsigned char>(v.data[static_cast<size_t>(i)])) << (8 * i);
        char text[16];
        std::snprintf(text, sizeof text, "dword:%08x", d);
        out += text;
    } else if (v.type == REG_BINARY) {
        out += "hex:";
        AppendHexList(out, v.data);
    } else {
        char text[20];
        std::snprintf(text, sizeof text, "hex(%x):", v.type);
        out += text;
        AppendHexList(out, v.data);
    }
    out += '\n';
}

}  // namespace

bool ValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        int extra = b >= 0xC2 && b <= 0xDF ? 1 : b >= 0xE0 && b <= 0xEF ? 2 : b >= 0xF0 && b <= 0xF4 ? 3 : -1;
        if (extra < 0 || i + static_cast<size_t>(extra) >= s.size()) return false;
        char32_t cp = b & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            auto c = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        // Overlong forms, surrogates and code points past Unicode's end are not UTF-8.
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF)) {
            return false;
        }
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

std::string Utf8FromCodePage(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) AppendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

std::string CodePageFromUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t at = 0; at < utf8.size();) {
        char32_t cp = NextCodePoint(utf8, at);
        out += cp <= 0xFF ? static_cast<char>(cp) : '?';
    }
    return out;
}

std::string FoldRegistryName(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t at = 0; at < utf8.size();) {
        char32_t cp = NextCodePoint(utf8, at);
        // Latin-1's capitals sit 32 below their small letters, like ASCII's; 0xD7 is the
        // multiplication sign.
        if ((cp >= 'A' && cp <= 'Z') || (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7)) cp += 32;
        AppendUtf8(out, cp);
    }
    return out;
}

std::string RegistryValue::ApiBytes() const {
    if (!utf8Text) return data;
    std::string bytes = CodePageFromUtf8(data);
    bytes += '\0';
    return bytes;
}

const RegistryValue* RegistryKey::Find(std::string_view name) const {
    auto it = index.find(FoldRegistryName(name));
    return it != index.end() ? &values[it->second] : nullptr;
}

void RegistryKey::Set(RegistryValue value) {
    auto [it, added] = index.emplace(FoldRegistryName(value.name), values.size());
    if (added) {
        values.push_back(std::move(value));
        return;
    }
    // The name keeps the case it was created with, as on Windows.
    value.name = std::move(values[it->second].name);
    values[it->second] = std::move(value);
}

const RegistryKey* RegistryHive::Find(std::string_view path) const {
    auto it = index_.find(FoldRegistryName(path));
    return it != index_.end() ? &keys_[it->second] : nullptr;
}

bool RegistryHive::Exists(std::string_view path) const {
    if (path.empty()) return true;
    std::string folded = FoldRegistryName(path);
    return index_.count(folded) != 0 || ancestors_.count(folded) != 0;
}

RegistryKey& RegistryHive::Ensure(std::string_view path) {
    std::string folded = FoldRegistryName(path);
    auto [it, added] = index_.emplace(folded, keys_.size());
    if (!added) return keys_[it->second];
    for (size_t slash = folded.find('\\'); slash != std::string::npos; slash = folded.find('\\', slash + 1)) {
        ancestors_.insert(folded.substr(0, slash));
    }
    keys_.push_back(RegistryKey{std::string(path), {}, {}});
    return keys_.back();
}

RegistryHive RegistryHive::Parse(std::string_view bytes, RegistryParseReport* report) {
    RegistryParseReport local;
    RegistryParseReport& r = report != nullptr ? *report : local;
    r = RegistryParseReport{};
    RegistryHive hive;
    if (bytes.size() > kRegistryFileCap) {
        r.damaged = true;
        r.damage = "too large";
        return hive;
    }
    if (bytes.find('\0') != std::string_view::npos) {
        r.damaged = true;
        r.damage = "not text";
        return hive;
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);

    bool headerSeen = false;
    RegistryKey* key = nullptr;  // the section the value lines belong to; null outside one
    size_t lineNumber = 0;
    auto skip = [&](size_t number) {
        if (r.skippedLines++ == 0) r.firstSkippedLine = number;
    };
    while (!bytes.empty()) {
        // One logical line: a line ending in a backslash continues on the next (the editor
        // wraps long hex lists so), whose leading blanks are dropped.
        size_t number = ++lineNumber;
        std::string joined;
        std::string_view line;
        for (bool first = true;; first = false) {
            size_t end = bytes.find('\n');
            std::string_view piece = TrimRight(bytes.substr(0, end));
            bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
            if (!first) piece = TrimLeft(piece);
            if (piece.empty() || piece.back() != '\\' || piece.front() == '[' || bytes.empty()) {
                if (first) {
                    line = piece;
                } else {
                    joined.append(piece);
                    line = joined;
                }
                break;
            }
            joined.append(piece.substr(0, piece.size() - 1));
            ++lineNumber;
        }
        std::string_view text = TrimLeft(line);
        if (!headerSeen) {
            if (text.empty()) continue;
            if (text != kHeader) {
                r.damaged = true;
                r.damage = "no REGEDIT4 header";
                return RegistryHive{};
            }
            headerSeen = true;
            continue;
        }
        if (text.empty() || text.front() == ';') continue;
        if (!ValidUtf8(text)) {
            skip(number);
            continue;
        }
        if (text.front() == '[') {
            std::string path;
            if (text.back() == ']' && ParseSectionPath(text.substr(1, text.size() - 2), &path)) {
                key = &hive.Ensure(path);
            } else {
                // Another root, a deletion, or no closing bracket: its values are left out too.
                key = nullptr;
                skip(number);
            }
            continue;
        }
        RegistryValue value;
        if (key == nullptr || !ParseValueLine(text, &value)) {
            skip(number);
            continue;
        }
        key->Set(std::move(value));
    }
    if (!headerSeen) {
        r.damaged = true;
        r.damage = "no REGEDIT4 header";
        return RegistryHive{};
    }
    return hive;
}

std::string RegistryHive::Serialize() const {
    std::string out;
    out.reserve(64 + keys_.size() * 64);
    out += kHeader;
    out += "\n\n";
    for (const RegistryKey& key : keys_) {
        out += '[';
        out += kRoot;
        if (!key.path.empty()) {
            out += '\\';
            out += key.path;
        }
        out += "]\n";
        for (const RegistryValue& value : key.values) AppendValue(out, value);
        out += '\n';
    }
    return out;
}

}  // namespace rh::win32
