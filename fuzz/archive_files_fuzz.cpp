// The file system as the loaders use it: archives mounted through ArchiveFileSource, names
// resolved by SearchPaths::ResolveFile (archive prefixes, bare names, directories on disk found
// by the case-insensitive name rule) and read through FileRef::OpenFile and
// FileRef::ReadWholeFile.
//
// An input that starts with the RAR marker is an archive as it is (its header CRCs set right,
// as in fuzz_archive), asked for a fixed list of names. Any other input describes an archive
// for our own writer (tools/rarwrite) and the look-ups to make in it:
//
//   options  1 byte: 1 solid, 2 mount a copy (else the bytes are lent), 4 end block,
//            8 set the header CRCs right after the damage, 0x30 version needed (20, 13, 15, 29),
//            0x40 repeated data may pass 1 MB (else it stops at 64 KB: every look-up of a large
//            member costs several extractions, so only the inputs that ask for them pay),
//            0x80 pack the members with the RAR 2.0 method (solid: as one stream)
//   members  count byte (mod 9), each: kind byte (1 directory, 2 repeated data, 0x1C the
//            multimedia mode of a packed member: auto, off, 1 to 4 channels, auto; 0x20 stored
//            even when the others are packed), name
//            (length byte, bytes mapped to the names the writer takes), then the data: repeated,
//            a pattern (length byte, 1 to 16 bytes) and a 3-byte total size, so that members
//            over 1 MB need no large inputs; else a 2-byte length and the bytes
//   damage   count byte (mod 8), each: 3-byte offset into the archive, a byte to xor there
//   archives count byte (mod 6), each: which source (bit 0: the archive on disk), a prefix
//   folders  count byte (mod 6), each: a byte choosing one of the scratch folder's forms
//   queries  until the end (at most 16, or 4 with fewer checks each when a member passes
//            64 KB), each: a byte of locator flags (0x0F), a name form (0x30), whether
//            the locator already names the fuzzed archive (0x40) and whether an unresolved
//            locator is opened anyway (0x80); then the name: raw (length byte and bytes), or an
//            index and a variation byte picking a member of either archive or a file of the
//            scratch folder, written in another case, with other separators and leading ones,
//            or without its first folder.
//
// Beside the fuzzed archive a second one lies on disk in a scratch folder (made once per
// process, with a few files), is found by a name in another case and mounted as a copy. The
// fuzzer is meant to run in an empty working folder (scripts/fuzz does so): names relative to
// it are taken to find nothing.
//
// Besides what ASan and UBSan see, these abort: a resolved locator with more than one source
// flag, a resolved file that does not open, the stream, both ReadWholeFile forms and a write-mode
// stream disagreeing on the bytes; and, while the archives are undamaged, a look-up whose result
// differs from what the writer's members and the scratch files say (found or not, and the
// bytes), or a copy of the search paths that answers otherwise.

#include "core/files/archive/archive_file_source.h"
#include "core/files/archive/crc32.h"
#include "core/files/file_ref.h"
#include "core/files/search_paths.h"
#include "core/files/stream.h"
#include "core/types/value_types.h"
#include "fuzz/fuzz_input.h"
#include "tools/rarwrite/rar_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using fuzz_input::Check;
using fuzz_input::ScratchDir;

namespace rw = rh::rarwrite;

constexpr uint8_t kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
constexpr size_t kMaxRepeated = 5u << 18;  // 1.25 MB
constexpr size_t kMaxSmallRepeated = 64u << 10;
constexpr size_t kMaxArchive = 2u << 20;

// Archive contents as the look-ups must see them: the member key (the reader's name rule)
// to the bytes. Unset when the archive was damaged, so nothing can be said.
using Model = std::optional<std::map<std::string, std::string>>;

// The reader's name rule on a name as a C call sees it: cut at a zero byte and at 512 bytes.
std::string Key(const std::string& name) {
    std::string cut = name.substr(0, std::min(name.find('\0'), size_t(512)));
    return rw::MemberKey(cut);
}

std::string AsciiLower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    }
    return s;
}

std::string AsciiUpper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
    return s;
}

std::string Bytes(const ByteBuffer& b) {
    return b.Size() == 0 ? std::string() : std::string(reinterpret_cast<const char*>(b.Data()),
                                                       size_t(b.Size()));
}

std::string ToStd(const String& s) {
    return s.length() == 0 ? std::string() : std::string(s.data(), size_t(s.length()));
}

String FromStd(const std::string& s) { return String(s.data(), int32_t(s.size()), true); }

// Sets every block header's CRC to match its bytes, walking the blocks as the reader does.
void SealHeaders(uint8_t* p, size_t size) {
    size_t at = 7;
    while (at + 7 <= size) {
        const size_t headerSize = size_t(p[at + 5] | p[at + 6] << 8);
        if (headerSize < 7 || at + headerSize > size) return;
        const uint32_t crc = Crc32(p + at + 2, headerSize - 2);
        p[at] = uint8_t(crc);
        p[at + 1] = uint8_t(crc >> 8);
        size_t next = at + headerSize;
        if (at != 7 && (p[at + 4] & 0x80) != 0 && at + 11 <= size) {
            next += size_t(p[at + 7]) | size_t(p[at + 8]) << 8 | size_t(p[at + 9]) << 16 |
                    size_t(p[at + 10]) << 24;
        }
        at = next;
    }
}

// ---- The scratch folder and the archive on disk -------------------------------------------

struct DiskFile {
    const char* path;  // relative to the scratch folder, '/' between folders
    std::string bytes;
};

struct Fixture {
    std::vector<DiskFile> files;
    std::map<std::string, std::string> byLowerPath;  // the disk files by lower-case path
    std::vector<std::string> diskArchiveNames;
    std::map<std::string, std::string> diskArchive;  // member key -> bytes
    ArchiveFileSource diskSource;
};

std::vector<uint8_t> WriteOrDie(std::vector<rw::Member> members, const rw::WriteOptions& options) {
    std::vector<uint8_t> out;
    std::string error;
    Check(rw::WriteArchive(std::move(members), options, &out, &error));
    return out;
}

Fixture& TheFixture() {
    static Fixture* fixture = [] {
        auto* f = new Fixture;
        std::vector<rw::Member> members = {
            {"Media\\Fonts\\64font.fs", false, {'s', 'i', 'z', 'e', '=', '6', '4', ';'}},
            {"Media\\Scenes", true, {}},
            {"Media\\Scenes\\a.zwf", false, {'Z', 'W', 'F'}},
            {"readme.txt", false, {'i', 'n', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'}},
        };
        for (const rw::Member& m : members) {
            f->diskArchiveNames.push_back(m.name);
            f->diskArchive[rw::MemberKey(m.name)] = std::string(m.data.begin(), m.data.end());
        }
        const std::vector<uint8_t> archive = WriteOrDie(members, rw::WriteOptions{});
        f->files = {
            {"Media/Fonts/Sylfaen.fs", "Name = \"Sylfaen\";"},
            {"Media/Textures/sky.TS", "Texture = sky;"},
            {"Readme.TXT", "on disk"},
            {"Media/empty.bin", ""},
            {"Media/Media.RAR", std::string(archive.begin(), archive.end())},
        };
        for (const DiskFile& file : f->files) {
            ScratchDir::WriteFile(file.path, file.bytes);
            f->byLowerPath[AsciiLower(file.path)] = file.bytes;
        }
        // A folder whose name looks like a file's: the runtime refuses to open folders.
        ScratchDir::WriteFile("Media/Dir.fs/inside", "x");
        f->byLowerPath["media/dir.fs/inside"] = "x";

        // Mounted as the program mounts a file: found without regard to case, read as a copy.
        SearchPaths paths;
        paths.Add(FileRef(ScratchDir::Path().c_str()));
        FileRef ref("MEDIA\\media.rar");
        Check(paths.ResolveFile(ref) && ref.flags == FileRef::kDisk);
        Check(f->diskSource.Mount(ref) && !f->diskSource.archiveBorrowed() &&
              f->diskSource.archiveSize() == int32_t(archive.size()));
        return f;
    }();
    return *fixture;
}

const char* const kDiskNames[] = {"Media/Fonts/Sylfaen.fs", "Media/Textures/sky.TS",
                                  "Readme.TXT",             "Media/empty.bin",
                                  "Media/Media.RAR",        "Media/Dir.fs"};

// The folder entries a search path may hold, and the scratch-relative folder each stands for
// (nullopt: the working folder).
struct FolderForm {
    std::string name;
    std::optional<std::string> base;
};

FolderForm Folder(uint8_t choice) {
    const std::string& root = ScratchDir::Path();
    switch (choice % 6) {
        case 0: return {root, ""};
        case 1: return {root + "/", ""};
        case 2: return {root + "\\\\", ""};
        case 3: return {root + "/MEDIA", "media"};
        case 4: return {root + "/media/FONTS/", "media/fonts"};
        default: return {"", std::nullopt};
    }
}

// Whether the lower-cased, '/'-separated path names a disk file of the fixture; unknown
// (nullopt) for a path through "." or "..".
std::optional<const std::string*> DiskLookUp(const std::string& path) {
    std::string normal;
    size_t start = 0;
    std::string p = path.substr(0, path.find('\0'));
    std::replace(p.begin(), p.end(), '\\', '/');
    // A trailing separator asks for a folder, which the runtime does not open.
    if (!p.empty() && p.back() == '/') return nullptr;
    while (start <= p.size()) {
        size_t end = p.find('/', start);
        if (end == std::string::npos) end = p.size();
        const std::string part = p.substr(start, end - start);
        start = end + 1;
        if (part.empty()) continue;
        if (part == "." || part == "..") return std::nullopt;
        if (!normal.empty()) normal += '/';
        normal += AsciiLower(part);
    }
    const auto& files = TheFixture().byLowerPath;
    auto it = files.find(normal);
    return it == files.end() ? nullptr : &it->second;
}

// ---- Names -------------------------------------------------------------------------------

// Writes a name in another form: bit 0 upper case, 1 lower case, 2 '\' separators, 3 doubled
// separators, 0x30 that many leading '/', 0x40 a leading '\' before them, 0x80 without the
// first folder.
std::string Vary(std::string name, uint8_t v) {
    if (v & 0x80) {
        const size_t cut = name.find_first_of("/\\");
        if (cut != std::string::npos) name = name.substr(cut + 1);
    }
    if (v & 1) name = AsciiUpper(name);
    if (v & 2) name = AsciiLower(name);
    std::string out;
    for (char c : name) {
        if (c == '/' || c == '\\') {
            const char sep = (v & 4) ? '\\' : '/';
            out += sep;
            if (v & 8) out += sep;
        } else {
            out += c;
        }
    }
    out = std::string(size_t((v >> 4) & 3), '/') + out;
    if (v & 0x40) out = "\\" + out;
    return out;
}

// A member name the writer takes: printable ASCII without '/', no '\' at either end.
std::string MemberName(const std::string& raw) {
    std::string name;
    for (unsigned char c : raw.substr(0, 258)) {
        const char m = c >= 0x20 && c < 0x7F ? char(c) : char(0x20 + c % 95);
        name += m == '/' ? '\\' : m;
    }
    while (!name.empty() && name.front() == '\\') name.erase(name.begin());
    while (!name.empty() && name.back() == '\\') name.pop_back();
    return name.empty() ? "m" : name;
}

// SearchPaths::ResolveFile's cleaning of a name and its joining of a folder or prefix.
std::string Clean(const std::string& name) {
    size_t at = name.find_first_not_of('/');
    std::string s = at == std::string::npos ? std::string() : name.substr(at);
    at = s.find_first_not_of('\\');
    return at == std::string::npos ? std::string() : s.substr(at);
}

std::string Join(std::string folder, const std::string& name) {
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    return folder.empty() ? name : folder + "/" + name;
}

// ---- One input ---------------------------------------------------------------------------

struct ArchiveEntry {
    FileSource* source;
    const std::map<std::string, std::string>* model;  // null: unknown
    std::string prefix;
};

struct World {
    ArchiveFileSource* fuzzed = nullptr;
    const std::map<std::string, std::string>* fuzzedModel = nullptr;
    std::vector<std::string> fuzzedNames;  // as given to the writer
    bool light = false;  // fewer checks per look-up (see ReadEveryWay)
    int maxQueries = 16;
    std::vector<ArchiveEntry> archives;
    std::vector<FolderForm> folders;
    SearchPaths paths;
    std::string block = "a memory block";
};

const std::map<std::string, std::string>* ModelOf(const World& w, const FileSource* source) {
    if (source == w.fuzzed) return w.fuzzedModel;
    if (source == &TheFixture().diskSource) return &TheFixture().diskArchive;
    return nullptr;
}

// Reads a whole stream, checking that every byte arrived.
std::string ReadAll(Stream* stream) {
    const int32_t size = stream->Size();
    Check(size >= 0);
    std::string bytes(size_t(size), '\0');
    if (size > 0) {
        const int32_t start = stream->Tell();
        Check(stream->Read(bytes.data(), size) != 0 && stream->Tell() == start + size);
    }
    return bytes;
}

// The bytes of an opened locator, the same through every way of reading it; nullopt when it
// does not open. Write mode only for sources in memory: on disk it would truncate the file.
// With `light` (large members, packed members) only the stream and the buffer are compared:
// every way is an extraction, and each extraction a fresh window and fresh copies.
std::optional<std::string> ReadEveryWay(const FileRef& ref, bool light) {
    FileRef opened = ref;
    Stream* stream = opened.OpenFile(1);
    if (stream == nullptr) {
        FileRef whole = ref;
        ByteBuffer buffer;
        Check(!whole.ReadWholeFile(buffer) && buffer.Size() == 0);
        return std::nullopt;
    }
    const std::string bytes = ReadAll(stream);
    stream->Close();
    delete stream;
    const int32_t source = opened.flags;
    Check(source == FileRef::kDisk || source == FileRef::kArchive || source == FileRef::kMemory);

    FileRef whole = ref;
    ByteBuffer buffer;
    Check(whole.ReadWholeFile(buffer) && Bytes(buffer) == bytes);
    if (light) return bytes;
    for (bool borrow : {true, false}) {
        FileRef text = ref;
        String out;
        bool mayBorrow = borrow;
        Check(text.ReadWholeFile(out, &mayBorrow) && ToStd(out) == bytes);
        Check(mayBorrow == (borrow && source == FileRef::kMemory && ref.noCopy));
    }
    if (source != FileRef::kDisk) {
        FileRef writable = ref;
        Stream* rope = writable.OpenFile(2);
        Check(rope != nullptr && ReadAll(rope) == bytes);
        delete rope;
    }
    return bytes;
}

bool SameRef(const FileRef& a, const FileRef& b) {
    return a.flags == b.flags && ToStd(a.name) == ToStd(b.name) && a.archive == b.archive;
}

void Query(World& w, fuzz_input::Reader& in) {
    const uint8_t how = in.Byte();
    FileRef ref;
    ref.flags = how & 0x0F;
    ref.block.data = reinterpret_cast<const uint8_t*>(w.block.data());
    ref.block.size = int32_t(w.block.size());
    if (how & 0x40) ref.archive = w.fuzzed;

    std::string name;
    const Fixture& fixture = TheFixture();
    switch ((how >> 4) & 3) {
        case 0: name = in.Text(); break;
        case 1: {
            // A member of the fuzzed archive, by the order of the writer's input.
            const uint8_t index = in.Byte();
            const std::vector<std::string>& names = w.fuzzedNames;
            name = names.empty() ? std::string("m") : names[index % names.size()];
            name = Vary(name, in.Byte());
            break;
        }
        case 2: {
            const uint8_t index = in.Byte();
            name = Vary(kDiskNames[index % std::size(kDiskNames)], in.Byte());
            break;
        }
        default: {
            const uint8_t index = in.Byte();
            name = Vary(fixture.diskArchiveNames[index % fixture.diskArchiveNames.size()],
                        in.Byte());
            break;
        }
    }
    ref.name = FromStd(name);

    // What the look-up must find; unknown when a damaged archive or an odd disk path is asked.
    bool known = true;
    bool expected = false;
    const std::string cleaned = Clean(name);
    if (ref.flags & FileRef::kMemory) {
        expected = true;
    } else {
        if (ref.flags & FileRef::kDisk) {
            if (!cleaned.empty() && cleaned[0] == '/') known = false;  // "\/x": absolute
            for (const FolderForm& folder : w.folders) {
                if (!folder.base) continue;
                auto hit = DiskLookUp(*folder.base + "/" + cleaned);
                if (!hit) known = false;
                else if (*hit != nullptr) expected = true;
            }
            for (const std::string& part : {std::string("/."), std::string("\\.")}) {
                if (("/" + cleaned).find(part) != std::string::npos) known = false;
            }
        }
        if (ref.flags & FileRef::kArchive) {
            auto has = [&](const std::map<std::string, std::string>* model,
                           const std::string& n) {
                if (model == nullptr) {
                    known = false;
                    return;
                }
                if (model->count(Key(n)) != 0) expected = true;
            };
            if (ref.archive != nullptr) has(w.fuzzedModel, cleaned);
            for (const ArchiveEntry& entry : w.archives) {
                has(entry.model, Join(entry.prefix, cleaned));
                has(entry.model, cleaned);
            }
        }
    }

    FileRef resolved = ref;
    const bool found = w.paths.ResolveFile(resolved);
    if (known) Check(found == expected);
    if (found) {
        const std::optional<std::string> bytes = ReadEveryWay(resolved, w.light);
        Check(bytes.has_value());
        const std::string resolvedName = ToStd(resolved.name);
        if (resolved.flags == FileRef::kArchive) {
            Check(resolved.archive != nullptr && resolved.archive->Exists(resolved.name));
            if (const auto* model = ModelOf(w, resolved.archive)) {
                auto it = model->find(Key(resolvedName));
                Check(it != model->end() && it->second == *bytes);
            }
        } else if (resolved.flags == FileRef::kDisk) {
            Check(!(ref.flags & FileRef::kMemory));
            const std::string& root = ScratchDir::Path();
            if (resolvedName.compare(0, root.size(), root) == 0) {
                auto hit = DiskLookUp(resolvedName.substr(root.size()));
                if (hit && *hit != nullptr) Check(**hit == *bytes);
            }
        } else {
            Check(resolved.flags == FileRef::kMemory && *bytes == w.block);
        }
        // The disk is tried before the archives.
        if (known && resolved.flags == FileRef::kArchive && (ref.flags & FileRef::kDisk)) {
            bool onDisk = false;
            for (const FolderForm& folder : w.folders) {
                if (folder.base && *DiskLookUp(*folder.base + "/" + cleaned) != nullptr) {
                    onDisk = true;
                }
            }
            Check(!onDisk);
        }
    } else {
        Check(SameRef(resolved, ref));
    }

    // Found-ness does not depend on where the rings' cursors stand.
    if (!w.light) {
        SearchPaths copy = w.paths;
        FileRef again = ref;
        Check(copy.ResolveFile(again) == found);
    }

    if (!found && (how & 0x80)) {
        // Opened without resolving, as a loader that skips the search paths would; raw disk
        // names that could leave the scratch folder are not opened.
        FileRef raw = ref;
        if (!name.empty() && (name[0] == '/' || name[0] == '\\' ||
                              name.find("..") != std::string::npos)) {
            raw.flags &= ~FileRef::kDisk;
        }
        ReadEveryWay(raw, w.light);
    }
}

void RunQueries(World& w, fuzz_input::Reader& in) {
    const uint8_t archiveCount = in.Byte() % 6;
    for (int i = 0; i < archiveCount; ++i) {
        const uint8_t which = in.Byte();
        ArchiveEntry entry;
        if (which & 1) {
            entry.source = &TheFixture().diskSource;
            entry.model = &TheFixture().diskArchive;
        } else {
            entry.source = w.fuzzed;
            entry.model = w.fuzzedModel;
        }
        entry.prefix = in.Text();
        w.archives.push_back(entry);
        w.paths.Add(FileRef::Member(entry.source, FromStd(entry.prefix)));
    }
    const uint8_t folderCount = in.Byte() % 6;
    for (int i = 0; i < folderCount; ++i) {
        FolderForm folder = Folder(in.Byte());
        w.paths.Add(FileRef(FromStd(folder.name)));
        w.folders.push_back(folder);
    }
    for (int n = 0; n < w.maxQueries && !in.Done(); ++n) Query(w, in);
}

// ---- The two kinds of input --------------------------------------------------------------

void RunRaw(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return;
    auto block = fuzz_input::ExactCopy(data, size);
    SealHeaders(block.get(), size);
    ArchiveFileSource source;
    Check(source.Mount(FileRef::Memory(block.get(), int32_t(size))) && source.archiveBorrowed());
    World w;
    w.fuzzed = &source;
    w.light = true;
    // Look-ups of the members of the fixture archive and of the writer's seeds, through
    // prefixes and bare names, in both archives and on disk.
    static const uint8_t kPlan[] = {
        // archives: the fuzzed one bare, under "exe" and "JPG\", the disk one under "Media"
        4, 0, 0, 0, 3, 'e', 'x', 'e', 0, 4, 'J', 'P', 'G', '\\', 1, 5, 'M', 'e', 'd', 'i', 'a',
        // folders: the scratch folder and its "MEDIA"
        2, 0, 3,
        // queries: flags | form << 4 | 0x40 (names the fuzzed archive) | 0x80 (open anyway)
        0x43, 12, 'e', 'x', 'e', '\\', 't', 'e', 's', 't', '.', 'e', 'x', 'e',
        0x03, 12, 'j', 'p', 'g', '/', 'T', 'E', 'S', 'T', '.', 'j', 'p', 'g',
        0x02, 8, 't', 'e', 's', 't', '.', 'e', 'x', 'e',
        0x82, 8, '?', '?', '?', '?', '.', 't', 'x', 't',
        0x42, 3, 'e', 'x', 'e',
        0x02, 1, 'm',
        0x03, 15, 'F', 'o', 'n', 't', 's', '/', '6', '4', 'f', 'o', 'n', 't', '.', 'f', 's',
        0x33, 0, 0x80,
        0x23, 2, 0x83,
        0x0A, 0,
    };
    fuzz_input::Reader plan(kPlan, sizeof kPlan);
    RunQueries(w, plan);
}

void RunDescribed(const uint8_t* data, size_t size) {
    fuzz_input::Reader in(data, size);
    const uint8_t options = in.Byte();
    static const uint8_t kVersions[] = {20, 13, 15, 29};
    rw::WriteOptions writeOptions;
    writeOptions.versionNeeded = kVersions[(options >> 4) & 3];
    writeOptions.endBlock = (options & 4) != 0;
    writeOptions.solid = (options & 1) != 0;
    writeOptions.method = (options & 0x80) != 0 ? rw::Method::kPack : rw::Method::kStore;
    static const rw::Multimedia kMultimedia[8] = {
        rw::Multimedia::kAuto, rw::Multimedia::kOff, rw::Multimedia::kChannels1, rw::Multimedia::kChannels2,
        rw::Multimedia::kChannels3, rw::Multimedia::kChannels4, rw::Multimedia::kAuto, rw::Multimedia::kAuto};

    std::vector<rw::Member> members;
    std::map<std::string, std::string> model;
    std::vector<std::string> names;
    bool large = false;
    size_t total = 0;
    const uint8_t memberCount = in.Byte() % 9;
    for (int i = 0; i < memberCount; ++i) {
        const uint8_t kind = in.Byte();
        rw::Member m;
        m.name = MemberName(in.Text());
        m.isDirectory = (kind & 1) != 0;
        m.multimedia = kMultimedia[(kind >> 2) & 7];
        if (kind & 0x20) m.method = rw::Method::kStore;
        std::string bytes;
        if (kind & 2) {
            const std::string pattern = in.Bytes(1 + in.Byte() % 16);
            const size_t want = std::min<size_t>(
                in.Number(3), (options & 0x40) ? kMaxRepeated : kMaxSmallRepeated);
            while (!pattern.empty() && bytes.size() < want) bytes += pattern;
            bytes.resize(std::min(bytes.size(), want));
        } else {
            bytes = in.Bytes(in.Number(2));
        }
        if (m.isDirectory) bytes.clear();
        large = large || bytes.size() > kMaxSmallRepeated;
        if (total + bytes.size() > kMaxArchive) bytes.clear();
        total += bytes.size();
        if (!model.emplace(rw::MemberKey(m.name), bytes).second) continue;
        names.push_back(m.name);
        m.data.assign(bytes.begin(), bytes.end());
        members.push_back(std::move(m));
    }
    std::vector<uint8_t> archive = WriteOrDie(std::move(members), writeOptions);
    const uint8_t damageCount = in.Byte() % 8;
    for (int i = 0; i < damageCount; ++i) {
        const uint32_t at = in.Number(3);
        archive[at % archive.size()] ^= in.Byte();
    }
    if (options & 8) SealHeaders(archive.data(), archive.size());
    if (writeOptions.versionNeeded > 20) model.clear();

    auto block = fuzz_input::ExactCopy(archive.data(), archive.size());
    const bool lend = (options & 2) == 0;
    ArchiveFileSource source;
    Check(source.Mount(FileRef::Memory(block.get(), int32_t(archive.size()), lend)));
    Check(source.archiveBorrowed() == lend && source.archiveSize() == int32_t(archive.size()));

    World w;
    w.fuzzed = &source;
    w.fuzzedModel = damageCount == 0 ? &model : nullptr;
    w.fuzzedNames = names;
    w.light = large;
    w.maxQueries = large ? 4 : 16;
    RunQueries(w, in);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    TheFixture();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size >= sizeof kMarker && std::memcmp(data, kMarker, sizeof kMarker) == 0) {
        RunRaw(data, size);
    } else {
        RunDescribed(data, size);
    }
    return 0;
}
