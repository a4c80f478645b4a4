// File mappings: CreateFileMappingA, MapViewOfFile, UnmapViewOfFile and closing over mmap
// of a runtime descriptor.

#include "platform/crt/handles.h"
#include "platform/win32/win32_local.h"

#include <windows.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <set>

namespace {

// The Windows allocation granularity, which view offsets must be multiples of.
constexpr uint64_t kViewGranularity = 64 << 10;

// A mapping object: its own descriptor of the file (so that the runtime's may be closed),
// and the mapped length.
struct Mapping {
    int fd;
    uint64_t size;
};

// The live mapping objects, so that a stray handle is refused instead of followed, and the
// live views, base to length, for UnmapViewOfFile (which gets no size). Never destroyed:
// views are ended by static destructors too.
struct Registry {
    std::mutex lock;
    std::set<const Mapping*> mappings;
    std::map<uintptr_t, size_t> views;
};
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

uint64_t Join(DWORD high, DWORD low) { return uint64_t{high} << 32 | low; }

}  // namespace

HANDLE WINAPI CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES /*attributes*/, DWORD protect,
                                 DWORD maximumSizeHigh, DWORD maximumSizeLow, LPCSTR name) {
    if (name != nullptr || (protect != PAGE_READONLY && protect != PAGE_WRITECOPY)) return nullptr;
    const int fd = rh::crt::DescriptorOfHandle(file);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    const int status = fcntl(fd, F_GETFL);
    if (status == -1 || (status & O_ACCMODE) == O_WRONLY) return nullptr;
    const uint64_t length = static_cast<uint64_t>(st.st_size);
    uint64_t size = Join(maximumSizeHigh, maximumSizeLow);
    if (size == 0) size = length;
    if (size == 0 || size > length) return nullptr;
    const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own == -1) return nullptr;
    auto* mapping = new Mapping{own, size};
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    registry.mappings.insert(mapping);
    return mapping;
}

LPVOID WINAPI MapViewOfFile(HANDLE mapping, DWORD desiredAccess, DWORD fileOffsetHigh,
                            DWORD fileOffsetLow, SIZE_T bytes) {
    if (desiredAccess != FILE_MAP_READ && desiredAccess != FILE_MAP_COPY) return nullptr;
    const uint64_t offset = Join(fileOffsetHigh, fileOffsetLow);
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    const auto* object = static_cast<const Mapping*>(mapping);
    if (registry.mappings.count(object) == 0) return nullptr;
    if (offset % kViewGranularity != 0 || offset >= object->size) return nullptr;
    const uint64_t rest = object->size - offset;
    const uint64_t length = bytes == 0 ? rest : bytes;
    if (length > rest || length > SIZE_MAX) return nullptr;
    // Private either way: a read-only view cannot be written, and a copy's writes stay here.
    const int protection = desiredAccess == FILE_MAP_COPY ? PROT_READ | PROT_WRITE : PROT_READ;
    void* view = mmap(nullptr, static_cast<size_t>(length), protection, MAP_PRIVATE, object->fd,
                      static_cast<off_t>(offset));
    if (view == MAP_FAILED) return nullptr;
    registry.views[reinterpret_cast<uintptr_t>(view)] = static_cast<size_t>(length);
    return view;
}

BOOL WINAPI UnmapViewOfFile(LPCVOID baseAddress) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    auto found = registry.views.find(reinterpret_cast<uintptr_t>(baseAddress));
    if (found == registry.views.end()) return FALSE;
    munmap(reinterpret_cast<void*>(found->first), found->second);
    registry.views.erase(found);
    return TRUE;
}

namespace rh::win32 {

bool CloseMapping(void* handle) {
    Registry& registry = TheRegistry();
    std::lock_guard<std::mutex> lock(registry.lock);
    auto found = registry.mappings.find(static_cast<const Mapping*>(handle));
    if (found == registry.mappings.end()) return false;
    close((*found)->fd);
    delete *found;
    registry.mappings.erase(found);
    return true;
}

}  // namespace rh::win32
