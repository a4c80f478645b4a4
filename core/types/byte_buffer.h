#pragma once

#include <cstddef>
#include <cstdint>

// An owned block of bytes. A fresh buffer has no block and size 0; whenever the size is 0 there
// is no block. Not copyable: copying an owned block is always spelt out with Assign. Moving
// hands the block over and leaves the source empty.
//
// Blocks come from the process-wide block cache (block_cache_local.h): the block of 1 MB or
// more dropped last goes to the next Resize or Assign of any buffer, on any thread, that it
// fits (at least n bytes, at most 2n), so reading the same large file twice does not fault in
// fresh pages twice. Such a block may be larger than Size(); only Size() bytes belong to the
// buffer. A buffer may instead hold a copy-on-write view of a file (AdoptFileView), whose
// writes stay in the buffer like those to any block.
class ByteBuffer {
public:
    ByteBuffer() = default;
    ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;

    // Frees the block if any; afterwards Data() is null and Size() 0.
    void Free();
    // n >= 0. With a block of exactly n bytes nothing happens and the contents are kept.
    // Otherwise the old block is dropped and, when n > 0, a new block of n bytes is made whose
    // contents are undefined until written.
    void Resize(int32_t n);
    // n >= 0. As Resize(n), then n bytes copied from source (which may lie inside this
    // buffer's own block).
    void Assign(const void* source, int32_t n);
    // n > 0. Drops the block held before and takes over a view from MapViewOfFile of n bytes,
    // mapped with FILE_MAP_COPY so that writes to it stay in this buffer. The buffer ends the
    // view (UnmapViewOfFile) when it lets go of it, as it frees a block.
    void AdoptFileView(void* view, int32_t n);

    // Null when there is no block.
    unsigned char* Data() { return data_; }
    const unsigned char* Data() const { return data_; }
    int32_t Size() const { return size_; }

private:
    // Gives the block back where it came from; the members are left as they are.
    void ReleaseBlock();

    unsigned char* data_ = nullptr;
    int32_t size_ = 0;
    // Bytes in the block: Size() or, for a block that came from the cache, up to twice that.
    size_t capacity_ = 0;
    // The block is a file view, not a block of the cache.
    bool fileView_ = false;
};

// True when the sizes differ or, for equal sizes with a block, when any byte differs.
bool ByteBuffersDiffer(const ByteBuffer& a, const ByteBuffer& b);
