#include "core/types/byte_buffer.h"

#include "core/types/block_cache_local.h"

#include <cstring>

ByteBuffer::~ByteBuffer() { block_cache::Release(data_, capacity_); }

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(other.data_), size_(other.size_), capacity_(other.capacity_) {
    other.data_ = nullptr;
    other.size_ = 0;
    other.capacity_ = 0;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
        block_cache::Release(data_, capacity_);
        data_ = other.data_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        other.data_ = nullptr;
        other.size_ = 0;
        other.capacity_ = 0;
    }
    return *this;
}

void ByteBuffer::Free() {
    block_cache::Release(data_, capacity_);
    data_ = nullptr;
    size_ = 0;
    capacity_ = 0;
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
    block_cache::Release(data_, capacity_);
    data_ = block;
    size_ = n;
    capacity_ = capacity;
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
