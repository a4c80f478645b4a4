#include "core/types/block_cache_local.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define RH_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RH_ASAN 1
#endif
#endif
#ifndef RH_ASAN
#define RH_ASAN 0
#endif
#if RH_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

// The smallest block kept, and the smallest that comes from VirtualAlloc: a block's capacity
// tells where it came from.
constexpr size_t kCachedMin = size_t{1} << 20;

// The kept block or null. While kept, its first bytes hold its capacity and, under
// AddressSanitizer, all of it is poisoned: nothing may touch it until it is handed out.
std::atomic<unsigned char*> gCachedBlock{nullptr};
// Set when the cache is emptied at exit; buffers destroyed after that free their blocks.
std::atomic<bool> gCacheClosed{false};

void Poison([[maybe_unused]] const void* p, [[maybe_unused]] size_t n) {
#if RH_ASAN
    ASAN_POISON_MEMORY_REGION(p, n);
#endif
}

void Unpoison([[maybe_unused]] const void* p, [[maybe_unused]] size_t n) {
#if RH_ASAN
    ASAN_UNPOISON_MEMORY_REGION(p, n);
#endif
}

size_t CachedCapacity(unsigned char* block) {
    size_t capacity = 0;
    Unpoison(block, sizeof capacity);
    std::memcpy(&capacity, block, sizeof capacity);
    return capacity;
}

// Under AddressSanitizer every block comes from the heap, whose redzones catch a read past a
// block's end; a system region has none.
bool FromSystem(size_t capacity) { return !RH_ASAN && capacity >= kCachedMin; }

unsigned char* NewBlock(size_t n) {
    if (!FromSystem(n)) return new unsigned char[n];
    void* block = VirtualAlloc(nullptr, n, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<unsigned char*>(block);
}

void FreeBlock(unsigned char* block, size_t capacity) {
    if (FromSystem(capacity)) {
        VirtualFree(block, 0, MEM_RELEASE);
    } else {
        delete[] block;
    }
}

// Frees a block that was kept (null is fine).
void DiscardCached(unsigned char* block) {
    if (block != nullptr) {
        const size_t capacity = CachedCapacity(block);
        Unpoison(block, capacity);
        FreeBlock(block, capacity);
    }
}

// Keeps a block, tagged with its capacity, in place of the one kept before.
void Keep(unsigned char* block, size_t capacity) {
    std::memcpy(block, &capacity, sizeof capacity);
    Poison(block, capacity);
    DiscardCached(gCachedBlock.exchange(block, std::memory_order_acq_rel));
}

// Empties the cache at exit, so that leak checkers see every block freed.
struct CacheDrain {
    ~CacheDrain() {
        gCacheClosed.store(true, std::memory_order_release);
        DiscardCached(gCachedBlock.exchange(nullptr, std::memory_order_acq_rel));
    }
} gCacheDrain;

}  // namespace

namespace block_cache {

unsigned char* Acquire(size_t n, size_t* capacity) {
    // Below half the smallest kept size nothing can fit, so small buffers never touch the slot.
    if (n >= kCachedMin / 2) {
        unsigned char* cached = gCachedBlock.exchange(nullptr, std::memory_order_acq_rel);
        if (cached != nullptr) {
            size_t cachedCapacity = CachedCapacity(cached);
            if (cachedCapacity >= n && cachedCapacity - n <= n) {
                // The bytes past n stay poisoned, as they would lie past a new block's end.
                Unpoison(cached, n);
                *capacity = cachedCapacity;
                return cached;
            }
            Keep(cached, cachedCapacity);
        }
    }
    *capacity = n;
    return NewBlock(n);
}

void Release(unsigned char* block, size_t capacity) {
    if (block == nullptr) {
        return;
    }
    if (capacity >= kCachedMin && !gCacheClosed.load(std::memory_order_acquire)) {
        Keep(block, capacity);
    } else {
        FreeBlock(block, capacity);
    }
}

}  // namespace block_cache
