// Arbitrary bytes as a file for the version-information calls (GetFileVersionInfoSizeA,
// GetFileVersionInfoA, VerQueryValueA), which scan a whole file in 64 KB chunks for the
// VS_VERSION_INFO block. The file lives in memory (memfd), named through /proc/self/fd.
//
// Input: a filler byte, a 3-byte count of filler bytes put before the rest (up to 192 KB, so
// that a block can straddle any chunk boundary), a byte choosing a short buffer size, then the
// bytes. Besides what ASan and UBSan see, these abort: a size that differs from a plain
// byte-by-byte scan for the first valid block, a copy that differs from the file's bytes, or
// VerQueryValueA answering for a copy too short to hold the fixed part (or not answering for
// one that holds it).

#include <windows.h>

#include "fuzz/fuzz_input.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

using fuzz_input::Check;

constexpr size_t kFixedOffset = 40;
constexpr size_t kMinBlock = kFixedOffset + sizeof(VS_FIXEDFILEINFO);

uint32_t Get(const std::string& s, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint32_t(uint8_t(s[at + size_t(i)])) << (8 * i);
    return v;
}

bool BlockAt(const std::string& file, size_t at) {
    static const std::u16string key = u"VS_VERSION_INFO";
    if (Get(file, at, 2) < kMinBlock || Get(file, at + 2, 2) != sizeof(VS_FIXEDFILEINFO)) {
        return false;
    }
    for (size_t i = 0; i <= key.size(); ++i) {
        const char16_t c = i < key.size() ? key[i] : 0;
        if (Get(file, at + 6 + 2 * i, 2) != c) return false;
    }
    return Get(file, at + kFixedOffset, 4) == 0xFEEF04BDu;
}

struct Found {
    size_t at;
    uint32_t length;  // wLength cut to the file, at least the fixed part
};

bool Scan(const std::string& file, Found* found) {
    for (size_t at = 0; at + kMinBlock <= file.size(); ++at) {
        if (BlockAt(file, at)) {
            const uint64_t length = std::min<uint64_t>(Get(file, at, 2), file.size() - at);
            found->at = at;
            found->length = uint32_t(std::max<uint64_t>(length, kMinBlock));
            return true;
        }
    }
    return false;
}

int MemoryFile() {
    static const int fd = memfd_create("rimeholt-fuzz-version", 0);
    Check(fd >= 0);
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    fuzz_input::Reader in(data, size);
    const char filler = char(in.Byte());
    const size_t pad = in.Number(3) % (3u << 16);
    const uint8_t shortSize = in.Byte();
    const std::string file = std::string(pad, filler) + in.Rest();

    const int fd = MemoryFile();
    Check(ftruncate(fd, 0) == 0 && ftruncate(fd, off_t(file.size())) == 0);
    Check(pwrite(fd, file.data(), file.size(), 0) == ssize_t(file.size()));
    const std::string name = "/proc/self/fd/" + std::to_string(fd);

    Found found{};
    const bool has = Scan(file, &found);
    DWORD handle = 7;
    const DWORD length = GetFileVersionInfoSizeA(name.c_str(), &handle);
    Check(handle == 0 && length == (has ? found.length : 0));

    if (!has) {
        char buffer[kMinBlock];
        Check(!GetFileVersionInfoA(name.c_str(), 0, sizeof buffer, buffer));
        return 0;
    }
    // The whole block, then a copy cut short; each in a heap block of exactly its size.
    const DWORD sizes[] = {length, DWORD(6 + shortSize % (length - 6))};
    for (DWORD n : sizes) {
        std::unique_ptr<uint8_t[]> copy(new uint8_t[n]);
        Check(GetFileVersionInfoA(name.c_str(), 0, n, copy.get()));
        const uint32_t stated = Get(file, found.at, 2);
        const uint32_t expectLength = n < stated ? n : stated;
        Check(uint32_t(copy[0] | copy[1] << 8) == expectLength);
        Check(std::memcmp(copy.get() + 2, file.data() + found.at + 2, n - 2) == 0);
        void* fixed = nullptr;
        UINT fixedLength = 99;
        const BOOL answered = VerQueryValueA(copy.get(), "\\", &fixed, &fixedLength);
        if (expectLength >= kMinBlock) {
            Check(answered && fixed == copy.get() + kFixedOffset &&
                  fixedLength == sizeof(VS_FIXEDFILEINFO));
        } else {
            Check(!answered && fixed == nullptr && fixedLength == 0);
        }
        Check(!VerQueryValueA(copy.get(), "\\StringFileInfo", &fixed, &fixedLength));
    }
    char tiny[5];
    Check(!GetFileVersionInfoA(name.c_str(), 0, sizeof tiny, tiny));
    return 0;
}
