// The process-wide block cache behind ByteBuffer (private to core/types).
//
// Blocks of 1 MB and more come straight from the system (VirtualAlloc) and go back to it when
// freed, so each new one faults in every page on first touch. The layer backs such regions
// with huge pages where it can, which makes the first touch cheap; the cache keeps the block
// released last and hands it to the next request it fits, so reading the same large file twice
// does not pay for fresh pages twice.
//
// Contract:
// - One slot for the whole process. Taking and putting are atomic exchanges: any thread may
//   call, and no two callers ever hold the same block.
// - A kept block fits a request for n bytes when its capacity is at least n and at most 2n.
//   Requests below half the smallest kept size (512 KB) never touch the slot.
// - A block handed out belongs to the caller until it is released, with the capacity it came
//   with. Its contents are undefined; only its first n bytes may be touched (under
//   AddressSanitizer the rest stays poisoned, as if it lay past a new block's end).
// - A kept block is poisoned whole under AddressSanitizer, so a use after release is reported.
// - At exit the slot is emptied and closed; blocks released after that are freed, so leak
//   checkers see every block freed.
#pragma once

#include <cstddef>

namespace block_cache {

// A block of at least n > 0 bytes: the kept block when it fits, else a new one (from
// VirtualAlloc for 1 MB or more, else from the heap, and always from the heap under
// AddressSanitizer so that its redzones guard every block). *capacity receives the block's true size,
// which Release needs back. Throws std::bad_alloc when there is no memory.
unsigned char* Acquire(size_t n, size_t* capacity);
// Gives back a block from Acquire (null is fine): kept when it is 1 MB or more and the cache is
// still open, freed otherwise. A block kept before it is freed.
void Release(unsigned char* block, size_t capacity);

}  // namespace block_cache
