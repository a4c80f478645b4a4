// File version information (version.dll) over plain files.
//
// Windows keeps a file's version in a VS_VERSIONINFO resource: WORD wLength, WORD
// wValueLength (52), WORD wType (0), the UTF-16 key "VS_VERSION_INFO" with its terminator,
// padding to a 32-bit boundary, then VS_FIXEDFILEINFO, which starts with 0xFEEF04BD. Rather
// than walking a resource directory we scan the whole file for that key followed by a valid
// fixed part: our own Linux files carry the block the same way, and a real Windows DLL holds
// exactly these bytes in its resource section.

#include "platform/crt/paths.h"

#include <windows.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr size_t kKeyOffset = 6;     // after wLength, wValueLength and wType
constexpr size_t kFixedOffset = 40;  // the 32-byte key ends at 38; the value is 32-bit aligned
constexpr size_t kMinBlockBytes = kFixedOffset + sizeof(VS_FIXEDFILEINFO);

// u"VS_VERSION_INFO" with its terminator, as little-endian bytes.
constexpr std::array<unsigned char, 32> MakeKey() {
    const char text[] = "VS_VERSION_INFO";
    std::array<unsigned char, 32> key{};
    for (size_t i = 0; i < sizeof text; ++i) key[2 * i] = static_cast<unsigned char>(text[i]);
    return key;
}
constexpr std::array<unsigned char, 32> kKey = MakeKey();

WORD ReadWord(const unsigned char* p) {
    return static_cast<WORD>(p[0] | (p[1] << 8));
}

DWORD ReadDword(const unsigned char* p) {
    return static_cast<DWORD>(p[0]) | (static_cast<DWORD>(p[1]) << 8) | (static_cast<DWORD>(p[2]) << 16) |
           (static_cast<DWORD>(p[3]) << 24);
}

// Whether the kMinBlockBytes at block start a version block we can answer from. wLength
// must cover the fixed part, so that a block shorter than it claims to be is refused.
bool IsVersionBlock(const unsigned char* block) {
    return ReadWord(block) >= kMinBlockBytes && ReadWord(block + 2) == sizeof(VS_FIXEDFILEINFO) &&
           std::equal(kKey.begin(), kKey.end(), block + kKeyOffset) &&
           ReadDword(block + kFixedOffset) == VS_FFI_SIGNATURE;
}

// An open regular file, closed on scope exit.
class File {
public:
    explicit File(const char* name) {
        if (name == nullptr || *name == '\0') return;
        // O_NONBLOCK so that a FIFO or device name cannot hang the open; regular files ignore it.
        fd_ = open(rh::crt::DiskPath(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        struct stat st;
        if (fd_ >= 0 && (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))) {
            close(fd_);
            fd_ = -1;
        }
        if (fd_ >= 0) size_ = static_cast<uint64_t>(st.st_size);
    }
    ~File() {
        if (fd_ >= 0) close(fd_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    uint64_t Size() const { return size_; }

    // Reads up to count bytes at offset; the count read, short only at the end of the file.
    size_t ReadAt(uint64_t offset, unsigned char* out, size_t count) const {
        size_t done = 0;
        while (done < count) {
            ssize_t n = pread(fd_, out + done, count - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        return done;
    }

private:
    int fd_ = -1;
    uint64_t size_ = 0;
};

struct VersionBlock {
    uint64_t offset;  // where the block starts in the file
    DWORD length;     // its wLength, cut to what the file holds
};

// The first valid version block in the file. Reads in chunks, keeping the last
// kMinBlockBytes - 1 bytes of each so that a block across a chunk boundary is seen whole once.
std::optional<VersionBlock> FindVersionBlock(const File& file) {
    constexpr size_t kChunk = 64 * 1024;
    constexpr size_t kKeep = kMinBlockBytes - 1;
    std::vector<unsigned char> buffer(kKeep + kChunk);
    const std::boyer_moore_horspool_searcher searcher(kKey.begin(), kKey.end());
    uint64_t bufferStart = 0;  // file offset of buffer[0]
    size_t have = 0;
    for (;;) {
        size_t got = file.ReadAt(bufferStart + have, buffer.data() + have, kChunk);
        have += got;
        auto begin = buffer.begin();
        auto end = begin + static_cast<std::ptrdiff_t>(have);
        for (auto hit = std::search(begin, end, searcher); hit != end;
             hit = std::search(hit + 1, end, searcher)) {
            size_t keyAt = static_cast<size_t>(hit - begin);
            if (keyAt < kKeyOffset) continue;
            size_t blockAt = keyAt - kKeyOffset;
            if (blockAt + kMinBlockBytes > have) break;  // seen again, whole, with the next chunk
            if (!IsVersionBlock(buffer.data() + blockAt)) continue;
            uint64_t offset = bufferStart + blockAt;
            uint64_t inFile = file.Size() > offset ? file.Size() - offset : 0;
            uint64_t length = std::min<uint64_t>(ReadWord(buffer.data() + blockAt), inFile);
            return VersionBlock{offset, static_cast<DWORD>(std::max<uint64_t>(length, kMinBlockBytes))};
        }
        if (got == 0) return std::nullopt;
        size_t keep = std::min(have, kKeep);
        std::memmove(buffer.data(), buffer.data() + have - keep, keep);
        bufferStart += have - keep;
        have = keep;
    }
}

}  // namespace

DWORD WINAPI GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle) {
    // The handle is unused on Windows too; it is documented to come back as 0.
    if (handle != nullptr) *handle = 0;
    File file(fileName);
    if (!file.IsOpen()) return 0;
    std::optional<VersionBlock> block = FindVersionBlock(file);
    return block ? block->length : 0;
}

BOOL WINAPI GetFileVersionInfoA(LPCSTR fileName, DWORD /*handle*/, DWORD size, LPVOID data) {
    // A buffer that cannot hold the block's header is refused outright, so that what we copy
    // can always say how long it is.
    if (data == nullptr || size < kKeyOffset) return FALSE;
    File file(fileName);
    if (!file.IsOpen()) return FALSE;
    std::optional<VersionBlock> block = FindVersionBlock(file);
    if (!block) return FALSE;

    auto* out = static_cast<unsigned char*>(data);
    DWORD count = std::min(size, block->length);
    if (file.ReadAt(block->offset, out, count) != count) return FALSE;  // the file shrank meanwhile
    // A copy cut short (small buffer, truncated file) states its own length, so VerQueryValueA
    // never looks past what was copied.
    if (count < ReadWord(out)) {
        out[0] = static_cast<unsigned char>(count & 0xFF);
        out[1] = static_cast<unsigned char>(count >> 8);
    }
    return TRUE;
}

BOOL WINAPI VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length) {
    if (buffer != nullptr) *buffer = nullptr;
    if (length != nullptr) *length = 0;
    if (block == nullptr || subBlock == nullptr || buffer == nullptr) return FALSE;
    // Only the root block, which holds VS_FIXEDFILEINFO, is answered; string tables are not.
    if (std::strcmp(subBlock, "\\") != 0) return FALSE;

    auto* bytes = static_cast<const unsigned char*>(block);
    // IsVersionBlock reads wLength first and nothing further unless it covers the fixed part.
    if (!IsVersionBlock(bytes)) return FALSE;
    *buffer = const_cast<unsigned char*>(bytes + kFixedOffset);
    if (length != nullptr) *length = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
}
