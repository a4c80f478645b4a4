#include "core/types/byte_buffer.h"

#include "core/types/block_cache_local.h"

#include <windows.h>

#include <cstring>

ByteBuffer::~ByteBuffer() { ReleaseBlock(); }

void ByteBuffer::ReleaseBlock() {
    if (fileView_) {
        UnmapViewOfFile(data_);
    } else {
        block_cache::Release(data_, capacity_);
    }
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(other.data_), size_(other.size_), capacity_(other.capacity_), fileView_(other.fileView_) {
    other.data_ = nullptr;
    other.size_ = 0;
    other.capacity_ = 0;
    other.fileView_ = false;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
        ReleaseBlock();
        data_ = other.data_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        fileView_ = other.fileView_;
        other.data_ = nullptr;
        other.size_ = 0;
        other.capacity_ = 0;
        other.fileView_ = false;
    }
    return *this;
}

void ByteBuffer::Free() {
    ReleaseBlock();
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
    fileView_ = false;
}

void ByteBuffer::Resize(int32_t n) {
    if (data_ != nullptr && n == size_) {
        return;
    }
    // Freed first: a large block goes to the cache and may come straight back.
    Free();
    if (n > 0) {
        data_ = block_cache::Acquire(static_cast<size_t>(n), &capacity_);
    }
    size_ = n;
}

void ByteBuffer::Assign(const void* source, int32_t n) {
    if (data_ != nullptr && n == size_) {
        std::memmove(data_, source, static_cast<size_t>(n));
        return;
    }
    // The new block is filled before the old one is freed: source may lie inside it.
    unsigned char* block = nullptr;
    size_t capacity = 0;
    if (n > 0) {
        block = block_cache::Acquire(static_cast<size_t>(n), &capacity);
        std::memcpy(block, source, static_cast<size_t>(n));
    }
    ReleaseBlock();
    data_ = block;
    size_ = n;
    capacity_ = capacity;
    fileView_ = false;
}

void ByteBuffer::AdoptFileView(void* view, int32_t n) {
    Free();
    data_ = static_cast<unsigned char*>(view);
    size_ = n;
    capacity_ = static_cast<size_t>(n);
    fileView_ = true;
}

bool ByteBuffersDiffer(const ByteBuffer& a, const ByteBuffer& b) {
    if (a.Size() != b.Size()) {
        return true;
    }
    if (a.Data() == nullptr) {
        return false;
    }
    return std::memcmp(a.Data(), b.Data(), static_cast<size_t>(a.Size())) != 0;
}
