#include "core/files/disk_stream.h"

#include "core/text/paths.h"
#include "core/types/byte_buffer.h"

#include <io.h>
#include <windows.h>

#include <limits>

namespace {

// A runtime length or position as an int32; -1 (the failure of both) when it does not fit.
int32_t Narrow(long value) {
    if (value < 0 || value > std::numeric_limits<int32_t>::max()) return -1;
    return static_cast<int32_t>(value);
}

}  // namespace

DiskStream::~DiskStream() { Close(); }

bool DiskStream::Open(String name, int mode) {
    Close();
    char modeText[4];
    int length = 0;
    if ((mode & 1) != 0) modeText[length++] = 'r';
    if ((mode & 2) != 0) modeText[length++] = 'w';
    modeText[length++] = 'b';
    modeText[length] = '\0';
    file_ = std::fopen(name.Text(), modeText);
    position_ = file_ != nullptr ? 0 : -1;
    return file_ != nullptr;
}

bool DiskStream::Close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    position_ = -1;
    return true;
}

int32_t DiskStream::Tell() {
    if (file_ == nullptr) return -1;
    if (position_ < 0) {
        const long asked = std::ftell(file_);
        if (asked < 0) return -1;
        position_ = asked;
    }
    return Narrow(position_);
}

int32_t DiskStream::Size() {
    if (file_ == nullptr) return 0;
    return Narrow(FileLength(file_));
}

bool DiskStream::Seek(int32_t offset, int origin) {
    if (file_ == nullptr) return false;
    const int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
    const bool moved = std::fseek(file_, offset, whence) != -1;
    if (moved && whence == SEEK_SET) {
        position_ = offset;
    } else if (moved && whence == SEEK_CUR && position_ >= 0) {
        position_ += offset;
    } else {
        position_ = -1;
    }
    return moved;
}

bool DiskStream::AtEnd() {
    if (file_ == nullptr) return true;
    return std::feof(file_) != 0;
}

int32_t DiskStream::Read(void* buffer, int32_t n) {
    if (file_ == nullptr || n < 0) return 0;
    const auto items = static_cast<int32_t>(std::fread(buffer, static_cast<size_t>(n), 1, file_));
    Moved(items, n);
    return items;
}

int32_t DiskStream::Write(const void* buffer, int32_t n) {
    if (file_ == nullptr || n < 0) return 0;
    const auto items = static_cast<int32_t>(std::fwrite(buffer, static_cast<size_t>(n), 1, file_));
    Moved(items, n);
    return items;
}

void DiskStream::Moved(int32_t items, int32_t n) {
    // A transfer of nothing moves nothing; a short one moved by a count the runtime alone knows.
    if (n == 0) return;
    if (items == 1 && position_ >= 0) {
        position_ += n;
    } else {
        position_ = -1;
    }
}

bool DiskStream::MapWhole(ByteBuffer& out) {
    const int32_t size = Size();
    if (size <= 0) return false;
    HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fileno(file_)));
    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_WRITECOPY, 0, 0, nullptr);
    if (mapping == nullptr) return false;
    void* view = MapViewOfFile(mapping, FILE_MAP_COPY, 0, 0, static_cast<SIZE_T>(size));
    // The view holds the file on its own.
    CloseHandle(mapping);
    if (view == nullptr) return false;
    out.AdoptFileView(view, size);
    return true;
}
