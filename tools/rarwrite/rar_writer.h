// Writes RAR archives (block format of versions 1.5 to 2.0, core/files/archive/rar_format.h)
// with an archive comment and file comments when asked. Members are stored uncompressed unless
// asked to be packed with the RAR 2.0 method (rar_pack20.h), each alone or all as one solid
// stream. The saver's media ship as such an archive, stored; this builds it from a folder tree.

#pragma once

#include "tools/rarwrite/rar_pack20.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace rh::rarwrite {

enum class Method : uint8_t {
    kStore,  // method byte 0x30
    kPack,   // the RAR 2.0 method, written as 0x33 ("normal"), with a 1 MB dictionary
};

// One archive entry. `name` uses '\' between folders and has no leading or trailing separator.
// A directory entry carries no data.
struct Member {
    Member() = default;
    Member(std::string name_, bool isDirectory_, std::vector<uint8_t> data_, std::string comment_ = {})
        : name(std::move(name_)), isDirectory(isDirectory_), data(std::move(data_)), comment(std::move(comment_)) {}

    std::string name;
    bool isDirectory = false;
    std::vector<uint8_t> data;
    // The file comment, any bytes; none when empty. Written as the format lays it out: a
    // comment block (stored) after the name inside the file header, flag 0x08 set, and the
    // header CRC over the header up to the end of the name only.
    std::string comment;
    // How this member's bytes go in; unset: as WriteOptions says. Directories and empty
    // members are always stored.
    std::optional<Method> method;
    std::optional<Multimedia> multimedia;
};

struct WriteOptions {
    // DOS date (high word) and time (low word) written for every member, fixed so that the
    // same input always gives the same bytes. Default: 2000-01-01 00:00:00.
    uint32_t dosDateTime = 0x28210000;
    // Host system byte: 2 = Win32, so readers take the attributes as DOS attributes.
    uint8_t hostOs = 2;
    // Version needed to extract, 10 * major + minor; the engine's reader accepts 13 to 20.
    uint8_t versionNeeded = 20;
    // Appends the end-of-archive block (type 0x7B). Archivers of the 2.0 era did not write it,
    // and readers of that era stop at the end of the data anyway.
    bool endBlock = false;
    // The archive comment, any bytes; none when empty. Written as the format lays it out: a
    // comment block (stored) after the main header's 13 fixed bytes and counted in its size,
    // flag 0x02 set, and the main header's CRC over its fixed bytes only.
    std::string archiveComment;
    // The method of every member that does not name its own. Packed members need version 20
    // to extract (versionNeeded is written as given).
    Method method = Method::kStore;
    Multimedia multimedia = Multimedia::kAuto;
    // Sets the main header's solid flag, and the packed members form one stream in the
    // archive's order: each after the first has the file solid flag (0x10) and continues
    // the decoder's window, distances and tables, so extracting one decodes all packed
    // members before it. Stored members stand apart from the stream.
    bool solid = false;
};

// CRC-32 (reflected polynomial 0xEDB88320) continuing from `crc`; "123456789" gives 0xCBF43926.
uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0);

// The key the engine's reader matches names by: every '\' and '/' becomes '_', letters are
// upper-cased byte by byte. Two members with one key could not both be found.
std::string MemberKey(const std::string& name);

// Writes the archive: the marker, the main header, then one block per member in byte order of
// the names. Fails with a message for an empty or non-ASCII name, a name longer than the
// reader keeps (258 bytes), a member of 4 GB or more (or packed members of a solid archive
// that add up to that), two names with the same MemberKey, or a comment that would make its
// header larger than a header's 16-bit size allows.
bool WriteArchive(std::vector<Member> members, const WriteOptions& options, std::vector<uint8_t>* out,
                  std::string* error);

// Reads the tree below `root` (not `root` itself) into members: one directory entry per folder
// and one member per regular file, named relative to `root`. Symbolic links and special files
// fail with a message, so nothing outside the tree or not reproducible ends up in the archive.
bool CollectTree(const std::string& root, std::vector<Member>* out, std::string* error);

// Reads the members a list file names: one line per file, the member name (folders separated
// by '/') and a tab and the path of the file that holds its bytes; empty lines are skipped.
// Every folder of a listed name gets one directory entry. So the archive holds exactly what the
// list names, whatever else lies beside it. Fails with a message (naming the line) for a line
// without a tab, an empty or absolute name, a name with '\\', "." or ".." parts, a name listed
// twice, or a file that cannot be read.
bool CollectList(const std::string& listFile, std::vector<Member>* out, std::string* error);

}  // namespace rh::rarwrite
