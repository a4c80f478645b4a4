// Virtual memory: VirtualAlloc and VirtualFree over anonymous mappings.

#include <windows.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <mutex>

namespace {

// The transparent huge page of x86-64 (one page-middle-directory entry).
constexpr size_t kHugePage = size_t{2} << 20;
// From here on a region is worth a huge page: a 1 MB block in 4 KB pages takes 256 first-touch
// faults, in a huge page one.
constexpr size_t kHugeMin = size_t{1} << 20;

size_t RoundUp(size_t n, size_t unit) { return (n + unit - 1) / unit * unit; }

// The regions handed out, base to length, so that MEM_RELEASE (which gets no size) can unmap
// the whole of one. Never destroyed: blocks are released by static destructors too.
struct Regions {
    std::mutex lock;
    std::map<uintptr_t, size_t> lengths;
};
Regions& TheRegions() {
    static Regions* regions = new Regions;
    return *regions;
}

}  // namespace

LPVOID WINAPI VirtualAlloc(LPVOID address, SIZE_T size, DWORD allocationType, DWORD protect) {
    if (address != nullptr || size == 0 || (allocationType & MEM_COMMIT) == 0 ||
        (allocationType & ~DWORD{MEM_COMMIT | MEM_RESERVE}) != 0 || protect != PAGE_READWRITE) {
        return nullptr;
    }
    const bool huge = size >= kHugeMin;
    const size_t unit = huge ? kHugePage : static_cast<size_t>(sysconf(_SC_PAGESIZE));
    if (size > SIZE_MAX / 2 - 2 * kHugePage) return nullptr;
    const size_t length = RoundUp(size, unit);
    // A huge region is mapped one huge page longer, so that a 2 MB boundary lies within reach;
    // the kernel only backs aligned 2 MB ranges with huge pages. The slack is unmapped again.
    const size_t mapped = huge ? length + kHugePage : length;
    void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    uintptr_t start = reinterpret_cast<uintptr_t>(raw);
    if (huge) {
        const uintptr_t aligned = RoundUp(start, kHugePage);
        const uintptr_t end = start + mapped;
        if (aligned > start) munmap(raw, aligned - start);
        if (end > aligned + length) munmap(reinterpret_cast<void*>(aligned + length), end - (aligned + length));
        start = aligned;
        // A hint: with huge pages switched off the region simply keeps 4 KB pages.
        madvise(reinterpret_cast<void*>(start), length, MADV_HUGEPAGE);
    }
    Regions& regions = TheRegions();
    std::lock_guard<std::mutex> lock(regions.lock);
    regions.lengths[start] = length;
    return reinterpret_cast<LPVOID>(start);
}

BOOL WINAPI VirtualFree(LPVOID address, SIZE_T size, DWORD freeType) {
    if (address == nullptr || size != 0 || freeType != MEM_RELEASE) return FALSE;
    size_t length = 0;
    {
        Regions& regions = TheRegions();
        std::lock_guard<std::mutex> lock(regions.lock);
        auto found = regions.lengths.find(reinterpret_cast<uintptr_t>(address));
        if (found == regions.lengths.end()) return FALSE;
        length = found->second;
        regions.lengths.erase(found);
    }
    munmap(address, length);
    return TRUE;
}
