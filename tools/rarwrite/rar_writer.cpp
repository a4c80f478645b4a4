#include "tools/rarwrite/rar_writer.h"

#include "core/files/archive/rar_format.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <system_error>

namespace rh::rarwrite {

namespace {

using namespace rar_format;

constexpr uint32_t kDosAttrDirectory = 0x10;
constexpr uint32_t kDosAttrArchive = 0x20;
// The packed method's byte: "normal", the middle of the five levels.
constexpr uint8_t kMethodNormal = kMethodStored + 3;
// The dictionary-size bits of a file header's flags: 0x80 says 1 MB, the window the packer uses.
constexpr uint16_t kFileDictionary1M = 0x80;

// The engine's reader keeps this many name bytes; a longer name could never be matched.
constexpr size_t kMaxNameSize = 258;
// A header's size field has 16 bits, and an embedded comment counts in it.
constexpr size_t kMaxHeaderSize = 0xFFFF;

const std::array<uint32_t, 256>& CrcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    return table;
}

void Put16(std::vector<uint8_t>* b, uint32_t v) {
    b->push_back(uint8_t(v));
    b->push_back(uint8_t(v >> 8));
}

void Put32(std::vector<uint8_t>* b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// Fills in the header CRC at `start`: the low 16 bits of the CRC-32 of the header from its
// type byte to `end` (from the block's start): its end, or less for a header that embeds a
// comment (rar_format::HeaderCrcEnd).
void SealHeader(std::vector<uint8_t>* b, size_t start, size_t end) {
    uint32_t crc = Crc32(b->data() + start + 2, end - 2) & 0xFFFF;
    (*b)[start] = uint8_t(crc);
    (*b)[start + 1] = uint8_t(crc >> 8);
}

void SealHeader(std::vector<uint8_t>* b, size_t start) { SealHeader(b, start, b->size() - start); }

// The comment block a main or file header embeds: the 13 fixed bytes, sealed over themselves
// alone, then the comment stored as it is.
void AppendComment(const std::string& comment, const WriteOptions& o, std::vector<uint8_t>* out) {
    size_t start = out->size();
    const auto* bytes = reinterpret_cast<const uint8_t*>(comment.data());
    Put16(out, 0);
    out->push_back(kCommentType);
    Put16(out, 0);  // flags
    Put16(out, uint32_t(kCommentHeaderSize + comment.size()));
    Put16(out, uint32_t(comment.size()));  // unpacked size
    out->push_back(o.versionNeeded);
    out->push_back(kMethodStored);
    Put16(out, Crc32(bytes, comment.size()) & 0xFFFF);
    SealHeader(out, start);
    out->insert(out->end(), bytes, bytes + comment.size());
}

// A member's data as written: the packed bytes and whether they continue a solid stream, or
// (packed null) the member's own bytes, stored.
struct MemberData {
    const std::vector<uint8_t>* packed = nullptr;
    bool continuesStream = false;
};

void AppendMember(const Member& m, const WriteOptions& o, const MemberData& d, std::vector<uint8_t>* out) {
    size_t start = out->size();
    uint32_t size = uint32_t(m.data.size());
    const std::vector<uint8_t>& data = d.packed != nullptr ? *d.packed : m.data;
    uint16_t flags = kDataFollows | (m.isDirectory ? kFileDirectory : 0) |
                     (m.comment.empty() ? 0 : kFileComment);
    if (d.packed != nullptr) flags |= kFileDictionary1M | (d.continuesStream ? kFileSolid : 0);
    size_t headerSize = kFileHeaderSize + m.name.size() +
                        (m.comment.empty() ? 0 : kCommentHeaderSize + m.comment.size());
    Put16(out, 0);
    out->push_back(kFileHeaderType);
    Put16(out, flags);
    Put16(out, uint32_t(headerSize));
    Put32(out, uint32_t(data.size()));  // packed size
    Put32(out, size);                   // unpacked size
    out->push_back(o.hostOs);
    Put32(out, Crc32(m.data.data(), m.data.size()));
    Put32(out, o.dosDateTime);
    out->push_back(o.versionNeeded);
    out->push_back(d.packed != nullptr ? kMethodNormal : kMethodStored);
    Put16(out, uint32_t(m.name.size()));
    Put32(out, m.isDirectory ? kDosAttrDirectory : kDosAttrArchive);
    out->insert(out->end(), m.name.begin(), m.name.end());
    if (!m.comment.empty()) AppendComment(m.comment, o, out);
    SealHeader(out, start, HeaderCrcEnd(kFileHeaderType, flags, uint16_t(m.name.size()), uint32_t(headerSize)));
    out->insert(out->end(), data.begin(), data.end());
}

bool CheckMember(const Member& m, std::string* error) {
    if (m.name.empty()) return *error = "empty member name", false;
    if (m.name.size() > kMaxNameSize) return *error = "name longer than 258 bytes: " + m.name, false;
    for (unsigned char c : m.name) {
        // No Unicode name form is written, so names stay in plain ASCII.
        if (c < 0x20 || c >= 0x7F || c == '/') return *error = "name not plain ASCII: " + m.name, false;
    }
    if (m.name.front() == '\\' || m.name.back() == '\\') return *error = "name starts or ends with '\\': " + m.name, false;
    if (m.isDirectory && !m.data.empty()) return *error = "directory with data: " + m.name, false;
    if (m.data.size() > 0xFFFFFFFFu) return *error = "member of 4 GB or more: " + m.name, false;
    if (!m.comment.empty() && kFileHeaderSize + m.name.size() + kCommentHeaderSize + m.comment.size() > kMaxHeaderSize) {
        return *error = "comment too long for the header: " + m.name, false;
    }
    return true;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    const auto& table = CrcTable();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::string MemberKey(const std::string& name) {
    std::string key = name;
    for (char& c : key) {
        if (c == '\\' || c == '/') c = '_';
        else if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
    return key;
}

bool WriteArchive(std::vector<Member> members, const WriteOptions& options, std::vector<uint8_t>* out,
                  std::string* error) {
    std::sort(members.begin(), members.end(), [](const Member& a, const Member& b) { return a.name < b.name; });
    std::map<std::string, const Member*> keys;
    for (const Member& m : members) {
        if (!CheckMember(m, error)) return false;
        auto [it, fresh] = keys.emplace(MemberKey(m.name), &m);
        if (!fresh) return *error = "names the reader cannot tell apart: " + it->second->name + ", " + m.name, false;
    }

    const std::string& comment = options.archiveComment;
    if (kMainHeaderSize + kCommentHeaderSize + comment.size() > kMaxHeaderSize) {
        return *error = "archive comment too long for the main header", false;
    }
    out->assign(std::begin(kMarker), std::end(kMarker));
    size_t main = out->size();
    // Packed first: a member that cannot be packed fails before anything is written.
    std::vector<std::vector<uint8_t>> packed(members.size());
    std::vector<MemberData> data(members.size());
    std::vector<size_t> toPack;
    uint64_t streamSize = 0;
    for (size_t i = 0; i < members.size(); ++i) {
        const Member& m = members[i];
        if (!m.isDirectory && !m.data.empty() && m.method.value_or(options.method) == Method::kPack) {
            toPack.push_back(i);
            streamSize += m.data.size();
        }
    }
    if (options.solid && !toPack.empty()) {
        // Positions in the stream are 32-bit.
        if (streamSize > 0xFFFFFFFFu) return *error = "packed members of 4 GB or more in one solid stream", false;
        std::vector<PackPart> parts;
        for (size_t i : toPack) parts.push_back({members[i].data, members[i].multimedia.value_or(options.multimedia)});
        std::vector<std::vector<uint8_t>> stream = PackStream(parts);
        for (size_t k = 0; k < toPack.size(); ++k) {
            packed[toPack[k]] = std::move(stream[k]);
            data[toPack[k]] = {&packed[toPack[k]], k > 0};
        }
    } else {
        for (size_t i : toPack) {
            packed[i] = Pack(members[i].data, members[i].multimedia.value_or(options.multimedia));
            data[i] = {&packed[i], false};
        }
    }

    // Not a volume, not locked; solid when asked; the comment flag when there is one.
    uint16_t flags = (comment.empty() ? 0 : kMainComment) | (options.solid ? kMainSolid : 0);
    size_t headerSize = kMainHeaderSize + (comment.empty() ? 0 : kCommentHeaderSize + comment.size());
    Put16(out, 0);
    out->push_back(kMainHeaderType);
    Put16(out, flags);
    Put16(out, uint32_t(headerSize));
    Put16(out, 0);  // reserved
    Put32(out, 0);  // reserved
    if (!comment.empty()) AppendComment(comment, options, out);
    SealHeader(out, main, HeaderCrcEnd(kMainHeaderType, flags, 0, uint32_t(headerSize)));

    for (size_t i = 0; i < members.size(); ++i) AppendMember(members[i], options, data[i], out);

    if (options.endBlock) {
        size_t end = out->size();
        Put16(out, 0);
        out->push_back(kEndArchiveType);
        Put16(out, kOldReadersSkip);
        Put16(out, kEndHeaderSize);
        SealHeader(out, end);
    }
    return true;
}

bool CollectTree(const std::string& root, std::vector<Member>* out, std::string* error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::recursive_directory_iterator it(root, ec), end;
    if (ec) return *error = root + ": " + ec.message(), false;
    for (; it != end; it.increment(ec)) {
        if (ec) return *error = root + ": " + ec.message(), false;
        const fs::directory_entry& e = *it;
        Member m;
        m.name = e.path().lexically_relative(root).generic_string();
        // A '\' inside a Linux name would read back as a folder separator.
        if (m.name.find('\\') != std::string::npos) return *error = "name holds '\\': " + e.path().string(), false;
        std::replace(m.name.begin(), m.name.end(), '/', '\\');
        if (e.is_symlink(ec)) return *error = "symbolic link: " + e.path().string(), false;
        if (e.is_directory(ec)) {
            m.isDirectory = true;
        } else if (e.is_regular_file(ec)) {
            std::ifstream in(e.path(), std::ios::binary);
            if (!in.is_open()) return *error = "cannot open " + e.path().string(), false;
            m.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            if (in.bad()) return *error = "cannot read " + e.path().string(), false;
        } else {
            return *error = "not a file or folder: " + e.path().string(), false;
        }
        out->push_back(std::move(m));
    }
    return true;
}

bool CollectList(const std::string& listFile, std::vector<Member>* out, std::string* error) {
    std::ifstream list(listFile, std::ios::binary);
    if (!list.is_open()) return *error = "cannot open " + listFile, false;
    std::set<std::string> files, folders;
    std::string line;
    for (int lineNumber = 1; std::getline(list, line); ++lineNumber) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const std::string where = listFile + ":" + std::to_string(lineNumber) + ": ";
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) return *error = where + "no tab between name and path", false;
        const std::string name = line.substr(0, tab), path = line.substr(tab + 1);
        if (name.empty() || name.front() == '/' || name.back() == '/') return *error = where + "bad name", false;
        // A '\' inside a name would read back as a folder separator.
        if (name.find('\\') != std::string::npos) return *error = where + "name holds '\\'", false;
        std::string folder;
        for (size_t start = 0;;) {
            const size_t slash = name.find('/', start);
            const std::string part = name.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
            if (part.empty() || part == "." || part == "..") return *error = where + "bad name", false;
            if (slash == std::string::npos) break;
            folder = name.substr(0, slash);
            folders.insert(folder);
            start = slash + 1;
        }
        if (!files.insert(name).second) return *error = where + "listed twice: " + name, false;
        std::ifstream in(path, std::ios::binary);
        if (!in.is_open()) return *error = where + "cannot open " + path, false;
        Member m;
        m.name = name;
        std::replace(m.name.begin(), m.name.end(), '/', '\\');
        m.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) return *error = where + "cannot read " + path, false;
        out->push_back(std::move(m));
    }
    if (list.bad()) return *error = "cannot read " + listFile, false;
    for (const std::string& folder : folders) {
        if (files.count(folder) != 0) return *error = "both a file and a folder: " + folder, false;
        std::string name = folder;
        std::replace(name.begin(), name.end(), '/', '\\');
        out->push_back(Member(std::move(name), true, {}));
    }
    return true;
}

}  // namespace rh::rarwrite
