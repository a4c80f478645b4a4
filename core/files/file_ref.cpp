#include "core/files/file_ref.h"

#include "core/files/disk_stream.h"
#include "core/files/file_source.h"
#include "core/files/mem_stream.h"
#include "core/text/paths.h"
#include "core/types/byte_buffer.h"

#include <windows.h>

#include <cstring>

namespace {

constexpr const char* kResourceType = "MemFile";

bool BlocksEqual(const FileRef::Block& a, const FileRef::Block& b) {
    if (a.size != b.size) return false;
    if (a.data == nullptr || b.data == nullptr) return a.data == b.data || a.size == 0;
    return a.size <= 0 || std::memcmp(a.data, b.data, static_cast<size_t>(a.size)) == 0;
}

}  // namespace

bool LoadResourceData(int32_t id, const char* type, const uint8_t** data, int32_t* size) {
    HMODULE module = GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (resource == nullptr) return false;
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) return false;
    *data = static_cast<const uint8_t*>(LockResource(loaded));
    *size = static_cast<int32_t>(SizeofResource(module, resource));
    return true;
}

FileRef::FileRef(const char* diskName) : flags(kDisk), name(diskName) {}

FileRef::FileRef(const String& diskName) : flags(kDisk), name(diskName) {}

FileRef FileRef::Resource(int32_t id) {
    FileRef ref;
    ref.flags = kResource;
    ref.resourceId = id;
    return ref;
}

FileRef FileRef::Memory(const void* data, int32_t size, bool noCopy) {
    FileRef ref;
    ref.flags = kMemory;
    ref.block.data = static_cast<const uint8_t*>(data);
    ref.block.size = size;
    ref.noCopy = noCopy;
    return ref;
}

FileRef FileRef::Member(FileSource* archive, const String& name) {
    FileRef ref;
    ref.flags = kArchive;
    ref.archive = archive;
    ref.name = name;
    return ref;
}

bool FileRef::Equals(const FileRef& a, const FileRef& b) {
    const int32_t shared = a.flags & b.flags & (kDisk | kArchive | kResource | kMemory);
    if (shared == 0) return false;
    if ((shared & kDisk) != 0 && !StringsEqual(a.name, b.name)) return false;
    if ((shared & kArchive) != 0 && (a.archive != b.archive || !StringsEqual(a.name, b.name))) {
        return false;
    }
    if ((shared & kMemory) != 0 && !BlocksEqual(a.block, b.block)) return false;
    if ((shared & kResource) != 0 && a.resourceId != b.resourceId) return false;
    return true;
}

int FileRef::Compare(const FileRef& a, const FileRef& b) {
    if ((a.flags & kDisk) != 0) {
        if ((b.flags & kDisk) == 0) return 1;
        return CompareStringsNoCase(a.name, b.name);
    }
    if ((a.flags & kArchive) != 0) {
        if ((b.flags & kArchive) == 0) return 1;
        if (a.archive != b.archive) return a.archive < b.archive ? -1 : 1;
        return CompareStringsNoCase(a.name, b.name);
    }
    return 0;
}

namespace {

// 0 neither disk nor archive, 1 archive without disk, 2 disk.
int KeyClass(const FileRef& ref) {
    if ((ref.flags & FileRef::kDisk) != 0) return 2;
    return (ref.flags & FileRef::kArchive) != 0 ? 1 : 0;
}

}  // namespace

int FileRef::CompareKeys(const FileRef& a, const FileRef& b) {
    const int classA = KeyClass(a);
    const int classB = KeyClass(b);
    if (classA != classB) return classA < classB ? -1 : 1;
    return Compare(a, b);
}

FileRef FileRef::Location() const {
    FileRef location;
    location.name = ExtractDirectory(name);
    if ((flags & kDisk) != 0 && name.length() > 0) location.flags |= kDisk;
    if ((flags & kArchive) != 0 && archive != nullptr) {
        location.flags |= kArchive;
        location.archive = archive;
    }
    return location;
}

Stream* FileRef::OpenFile(int mode) {
    if ((flags & (kResource | kMemory)) != 0) {
        MemStream* stream = new MemStream;
        stream->Open(String(), mode);
        const uint8_t* data = nullptr;
        int32_t size = 0;
        bool lend = noCopy;
        bool haveData = false;
        if ((flags & kResource) != 0) {
            if (LoadResourceData(resourceId, kResourceType, &data, &size)) {
                flags = kResource;
                lend = true;
                haveData = true;
            }
        } else {
            flags = kMemory;
            data = block.data;
            size = block.size;
            haveData = true;
        }
        if (haveData) {
            if ((mode & 2) != 0) {
                stream->ResetRope(data, size);
            } else {
                stream->ShowData(data, size, lend);
            }
            return stream;
        }
        // An absent resource counts as not there: try the other sources.
        delete stream;
    }
    if ((flags & kDisk) != 0) {
        DiskStream* stream = new DiskStream;
        if (stream->Open(name, mode)) {
            flags = kDisk;
            return stream;
        }
        delete stream;
    }
    if ((flags & kArchive) != 0 && archive != nullptr) {
        flags = kArchive;
        return archive->Open(name, mode);
    }
    return nullptr;
}

namespace {

// Reads the whole stream into `out`. A short read is a failure: DiskStream answers 1 or 0 and
// MemStream a byte count, so the position is what tells whether every byte arrived.
bool ReadStream(Stream* stream, ByteBuffer& out) {
    const int32_t size = stream->Size();
    if (size < 0) return false;
    out.Resize(size);
    if (size == 0) return true;
    const int32_t start = stream->Tell();
    const int32_t result = stream->Read(out.Data(), size);
    if (result == 0 || stream->Tell() != start + size) {
        out.Free();
        return false;
    }
    return true;
}

}  // namespace

bool FileRef::ReadWholeFile(String& out, bool* mayBorrow) {
    out = String();
    const uint8_t* data = nullptr;
    int32_t size = 0;
    if ((flags & kResource) != 0 && LoadResourceData(resourceId, kResourceType, &data, &size)) {
        if (*mayBorrow) {
            out.Borrow(reinterpret_cast<const char*>(data), size);
        } else {
            out = String(reinterpret_cast<const char*>(data), size, true);
        }
        return true;
    }
    if ((flags & kMemory) == 0) {
        *mayBorrow = false;
        ByteBuffer buffer;
        if (!ReadWholeFile(buffer)) return false;
        out = String(reinterpret_cast<const char*>(buffer.Data()), buffer.Size(), true);
        return true;
    }
    if (*mayBorrow && noCopy) {
        out.Borrow(reinterpret_cast<const char*>(block.data), block.size);
    } else {
        *mayBorrow = false;
        out = String(reinterpret_cast<const char*>(block.data), block.size, true);
    }
    return true;
}

bool FileRef::ReadWholeFile(ByteBuffer& out) { return ReadWhole(out, false); }

bool FileRef::MapWholeFile(ByteBuffer& out) { return ReadWhole(out, true); }

bool FileRef::ReadWhole(ByteBuffer& out, bool mapDisk) {
    out.Free();
    const uint8_t* data = nullptr;
    int32_t size = 0;
    if ((flags & kResource) != 0 && LoadResourceData(resourceId, kResourceType, &data, &size)) {
        out.Assign(data, size);
        return true;
    }
    if ((flags & kMemory) != 0) {
        out.Assign(block.data, block.size);
        return true;
    }
    Stream* stream = OpenFile(1);
    if (stream == nullptr) return false;
    // OpenFile narrows the flags to the source that opened: kDisk alone means a DiskStream.
    bool complete = mapDisk && flags == kDisk && static_cast<DiskStream*>(stream)->MapWhole(out);
    if (!complete) complete = ReadStream(stream, out);
    stream->Close();
    delete stream;
    return complete;
}
