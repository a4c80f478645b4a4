#include "core/files/mem_stream.h"

#include <cstring>
#include <utility>

bool MemStream::Open(String /*name*/, int mode) {
    mode_ = mode;
    position_ = 0;
    return true;
}

bool MemStream::Close() { return true; }

bool MemStream::Seek(int32_t offset, int origin) {
    atEnd_ = false;
    const int32_t size = DataSize();
    int32_t target = 0;
    if (origin == 1) {
        target = offset + position_;
    } else if (origin == 0) {
        target = offset - base_;
    } else {
        target = offset + size - base_;
    }
    if (target < 0 || target > size) return false;
    position_ = target;
    return true;
}

void MemStream::CopyOut(void* buffer, int32_t count) {
    if (WriteMode()) {
        rope_.CopyBytes(position_, count, static_cast<char*>(buffer));
    } else {
        std::memcpy(buffer, text_.data() + position_, static_cast<size_t>(count));
    }
}

int32_t MemStream::Write(const void* buffer, int32_t n) {
    if (n <= 0) return 0;
    const int32_t size = rope_.size();
    if (position_ < size) {
        const int32_t end = position_ + n < size ? position_ + n : size;
        rope_.EraseRange(position_, end - 1);
    }
    rope_.Insert(static_cast<const char*>(buffer), n, position_);
    position_ += n;
    return n;
}

void MemStream::ShowData(const void* data, int32_t size, bool lend) {
    const char* bytes = static_cast<const char*>(data);
    if (lend) {
        text_.Borrow(bytes, size);
    } else {
        text_ = String(bytes, size, true);
    }
    keeper_.reset();
}

void MemStream::ShowShared(const void* data, int32_t size, std::shared_ptr<const void> keeper) {
    // The new keeper is taken before the old one goes: both may keep the same bytes.
    text_.Borrow(static_cast<const char*>(data), size);
    keeper_ = std::move(keeper);
}

void MemStream::ResetRope(const void* data, int32_t size) {
    rope_.Reset(static_cast<const char*>(data), size);
}
