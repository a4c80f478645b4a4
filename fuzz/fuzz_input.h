// Shared by the structure-aware fuzzers: a reader that takes a fuzz input apart from the front
// (so that seeds can be written by hand and mutations of one field leave the others in place),
// exact heap copies for ASan, and a scratch folder on disk made once per process.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fuzz_input {

inline void Check(bool ok) {
    if (!ok) std::abort();
}

// The bytes in a heap block of exactly their size, so ASan sees any read past them.
inline std::unique_ptr<uint8_t[]> ExactCopy(const void* data, size_t size) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[size == 0 ? 1 : size]);
    if (size > 0) std::memcpy(block.get(), data, size);
    return block;
}

// Reads fields from the front of the input; past its end every field reads as zero.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Done() const { return at_ >= size_; }
    size_t Left() const { return Done() ? 0 : size_ - at_; }

    uint8_t Byte() { return Done() ? 0 : data_[at_++]; }
    // A little-endian number of `bytes` bytes (at most 4).
    uint32_t Number(int bytes) {
        uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) value |= uint32_t(Byte()) << (8 * i);
        return value;
    }
    // Up to n bytes.
    std::string Bytes(size_t n) {
        if (n > Left()) n = Left();
        std::string out(reinterpret_cast<const char*>(data_ + at_), n);
        at_ += n;
        return out;
    }
    // A length byte, then that many bytes.
    std::string Text() { return Bytes(Byte()); }
    std::string Rest() { return Bytes(Left()); }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A folder under the temporary directory, made on first use and removed when the process
// exits normally (a crash leaves it behind, beside the crash input).
class ScratchDir {
public:
    static const std::string& Path() {
        static ScratchDir dir;
        return dir.path_;
    }

    // Writes a file below the folder, making the folders on the way; `relative` uses '/'.
    static void WriteFile(const std::string& relative, const std::string& bytes) {
        const std::filesystem::path path = std::filesystem::path(Path()) / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
        Check(static_cast<bool>(out));
    }

private:
    ScratchDir() {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") +
                              "/rimeholt-fuzz-XXXXXX";
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back(0);
        Check(mkdtemp(buffer.data()) != nullptr);
        path_ = buffer.data();
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    std::string path_;
};

}  // namespace fuzz_input
