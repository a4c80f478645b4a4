// FileRef: where a file may be found. One locator may allow several sources at once (a disk
// file, an archive member, a "MemFile" module resource, a memory block); resolving and opening
// narrow it to the one that answered.
#pragma once

#include "core/text/string.h"

#include <cstdint>

class ByteBuffer;
class FileSource;
class Stream;

class FileRef {
public:
    // Source flags, combinable.
    static constexpr int32_t kDisk = 1;
    static constexpr int32_t kArchive = 2;
    static constexpr int32_t kResource = 4;
    static constexpr int32_t kMemory = 8;

    // The memory block a locator may name; not owned.
    struct Block {
        const uint8_t* data = nullptr;
        int32_t size = 0;
    };

    // The empty locator: no flags, empty name, resource id 0, no archive, empty block,
    // noCopy set.
    FileRef() = default;
    // A disk locator for the name.
    FileRef(const char* diskName);  // NOLINT: a file name converts implicitly
    FileRef(const String& diskName);  // NOLINT
    FileRef(const FileRef& other) = default;
    FileRef& operator=(const FileRef& other) = default;

    // A locator of the "MemFile" resource with that id (only the low 16 bits count).
    static FileRef Resource(int32_t id);
    // A locator of a memory block the caller keeps alive as long as the locator or any stream
    // or buffer lent from it is used.
    static FileRef Memory(const void* data, int32_t size, bool noCopy = true);
    // A locator of a member of a mounted archive.
    static FileRef Member(FileSource* archive, const String& name);

    // True when the two share a source flag and agree on every shared one: disk by exact name
    // (case counts), archive by the same archive and exact name, memory by equal bytes (two
    // empty blocks are equal), resource by id.
    static bool Equals(const FileRef& a, const FileRef& b);
    // Three-way order for maps keyed by locators. Names compare ignoring case, so two locators
    // that Equals tells apart ('A.txt' and 'a.txt') may compare 0; this order is only for keys
    // of maps that should treat such names as one file.
    static int Compare(const FileRef& a, const FileRef& b);
    // Compare made a total order, for keys of maps that hold locators of both kinds. Compare
    // alone is not one: a disk locator and an archive member without the disk flag each order
    // after the other. Here the flag class decides first (neither the disk nor the archive
    // flag, then the archive flag without the disk flag, then the disk flag), and Compare
    // within the class: disk names ignoring case; archive address, then names ignoring case;
    // locators of the first class all compare 0.
    static int CompareKeys(const FileRef& a, const FileRef& b);
    // The locator of the directory holding this file: the directory part of the name with the
    // disk flag (when set and the name is non-empty) and the archive flag and archive (when set
    // and there is an archive). Resource id, block and noCopy are reset.
    FileRef Location() const;

    // A new stream over the first source that opens, in the order resource, memory block,
    // disk, archive; null when none does. mode 1 read, 2 write. The flags are narrowed to the
    // source that opened. The caller deletes the stream.
    Stream* OpenFile(int mode);
    // Reads the whole file into `out`. When *mayBorrow is set on entry and the file is a
    // resource or a memory block with noCopy set, `out` shows the lender's bytes without
    // copying (String::Borrow) and *mayBorrow stays set: the bytes live as long as the lender
    // (resources: the whole run). Otherwise `out` owns a copy and *mayBorrow comes back
    // cleared. False when no source opens or the read comes up short; `out` is then empty.
    // A read through a stream narrows the flags as OpenFile does.
    bool ReadWholeFile(String& out, bool* mayBorrow);
    // The same read into an owned buffer, never lent (a ByteBuffer always owns its block).
    bool ReadWholeFile(ByteBuffer& out);
    // ReadWholeFile into an owned buffer, except that a disk file is mapped copy-on-write
    // (DiskStream::MapWhole) rather than read, which copies nothing: for readers of large
    // files that stay put. Writes to the buffer stay in it, but the unwritten bytes show the
    // file as it is when they are read, so a file changed or shortened meanwhile shows through
    // (see MapViewOfFile). An empty disk file, and one the system does not map, is read.
    bool MapWholeFile(ByteBuffer& out);

    // Equals, so that rings of locators can use their own presence test.
    bool operator==(const FileRef& other) const { return Equals(*this, other); }

    int32_t flags = 0;
    String name;
    int32_t resourceId = 0;
    FileSource* archive = nullptr;  // not owned
    Block block;
    bool noCopy = true;

private:
    // ReadWholeFile, or with mapDisk MapWholeFile.
    bool ReadWhole(ByteBuffer& out, bool mapDisk);
};

// The key order of maps and sets keyed by locators: FileRef::CompareKeys.
struct FileRefOrder {
    int operator()(const FileRef& a, const FileRef& b) const { return FileRef::CompareKeys(a, b); }
};

// Finds resource `id` (low 16 bits, an integer resource name) of type `type` in the program's
// own module. True with its locked bytes and size; false when absent. The bytes stay valid for
// the whole run and are never freed.
bool LoadResourceData(int32_t id, const char* type, const uint8_t** data, int32_t* size);
