// Virtual memory and file mappings: VirtualAlloc's regions, and views of files through
// CreateFileMappingA and MapViewOfFile, with the refusals of everything the layer does not offer.

#include "tests/support/scratch_dir.h"

#include <io.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

namespace {

TEST(VirtualMemory, RegionsAreZeroedWritableAndLargeOnesStartOnHugePageBoundaries) {
    const SIZE_T sizes[] = {1, 4096, 5000, (SIZE_T{1} << 20) - 1, SIZE_T{1} << 20, (SIZE_T{3} << 20) + 5};
    for (SIZE_T size : sizes) {
        SCOPED_TRACE(size);
        auto* p = static_cast<unsigned char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        ASSERT_NE(p, nullptr);
        SIZE_T nonZero = 0;
        for (SIZE_T i = 0; i < size; ++i) nonZero += p[i] != 0;
        EXPECT_EQ(nonZero, 0u);
        std::memset(p, 0xA5, size);
        EXPECT_EQ(p[size - 1], 0xA5);
        if (size >= (SIZE_T{1} << 20)) {
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % (uintptr_t{2} << 20), 0u);
        }
        EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
        EXPECT_FALSE(VirtualFree(p, 0, MEM_RELEASE)) << "released twice";
    }
    // MEM_COMMIT alone is enough.
    void* p = VirtualAlloc(nullptr, 100, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
}

TEST(VirtualMemory, RefusesWhatItDoesNotOffer) {
    struct Case {
        const char* what;
        SIZE_T size;
        DWORD type;
        DWORD protect;
    };
    const Case cases[] = {
        {"no bytes", 0, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE},
        {"reserved only", 4096, MEM_RESERVE, PAGE_READWRITE},
        {"another type bit (MEM_TOP_DOWN)", 4096, MEM_COMMIT | 0x00100000, PAGE_READWRITE},
        {"read-only", 4096, MEM_COMMIT, PAGE_READONLY},
        {"more than the address space", SIZE_MAX - 4096, MEM_COMMIT, PAGE_READWRITE},
    };
    for (const Case& c : cases) EXPECT_EQ(VirtualAlloc(nullptr, c.size, c.type, c.protect), nullptr) << c.what;
    char here = 0;
    EXPECT_EQ(VirtualAlloc(&here, 4096, MEM_COMMIT, PAGE_READWRITE), nullptr) << "a chosen address";

    auto* p = static_cast<unsigned char*>(VirtualAlloc(nullptr, 8192, MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(p, nullptr);
    EXPECT_FALSE(VirtualFree(p, 8192, MEM_RELEASE)) << "a size with MEM_RELEASE";
    EXPECT_FALSE(VirtualFree(p, 4096, 0x00004000)) << "MEM_DECOMMIT";
    EXPECT_FALSE(VirtualFree(p + 4096, 0, MEM_RELEASE)) << "not the base";
    EXPECT_FALSE(VirtualFree(nullptr, 0, MEM_RELEASE));
    p[8191] = 1;  // still there after the refusals
    EXPECT_TRUE(VirtualFree(p, 0, MEM_RELEASE));
}

class FileMappings : public testing::Test {
protected:
    void SetUp() override {
        bytes_.resize(200000);
        uint32_t seed = 7;
        for (char& c : bytes_) c = char((seed = seed * 1103515245u + 12345u) >> 16);
        path_ = scratch_.Write("Media/Big.bin", bytes_);
    }

    // The file opened by the runtime, and its kernel handle.
    HANDLE Open(const char* mode = "rb") {
        file_ = fopen(path_.c_str(), mode);
        EXPECT_NE(file_, nullptr);
        return file_ != nullptr ? reinterpret_cast<HANDLE>(_get_osfhandle(fileno(file_))) : INVALID_HANDLE_VALUE;
    }
    void TearDown() override {
        if (file_ != nullptr) fclose(file_);
    }
    std::string OnDisk() {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    rh::testing::ScratchDir scratch_{"rh_mapping"};
    std::string bytes_;
    std::string path_;
    FILE* file_ = nullptr;
};

TEST_F(FileMappings, CopyViewShowsTheFileOutlivesItsHandlesAndKeepsItsWritesToItself) {
    HANDLE mapping = CreateFileMappingA(Open(), nullptr, PAGE_WRITECOPY, 0, 0, nullptr);
    ASSERT_NE(mapping, nullptr);
    auto* view = static_cast<char*>(MapViewOfFile(mapping, FILE_MAP_COPY, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(CloseHandle(mapping));
    EXPECT_FALSE(CloseHandle(mapping)) << "closed twice";
    fclose(file_);
    file_ = nullptr;

    EXPECT_EQ(std::string(view, bytes_.size()), bytes_);
    view[0] = char(~view[0]);
    view[bytes_.size() - 1] = 'x';
    EXPECT_EQ(OnDisk(), bytes_) << "a copy's writes reached the file";
    EXPECT_TRUE(UnmapViewOfFile(view));
    EXPECT_FALSE(UnmapViewOfFile(view)) << "unmapped twice";
}

TEST_F(FileMappings, ReadViewsFromAnOffsetAndOtherWritersShowThrough) {
    HANDLE mapping = CreateFileMappingA(Open(), nullptr, PAGE_READONLY, 0, 0, nullptr);
    ASSERT_NE(mapping, nullptr);
    const char* whole = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    const char* part = static_cast<const char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 65536, 1000));
    ASSERT_NE(whole, nullptr);
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(std::string(part, 1000), bytes_.substr(65536, 1000));

    struct Refused {
        const char* what;
        DWORD access;
        DWORD offset;
        SIZE_T bytes;
    };
    const Refused refused[] = {
        {"write access", 0x0002, 0, 0},
        {"an offset off the 64 KB grid", FILE_MAP_READ, 1000, 0},
        {"an offset past the end", FILE_MAP_READ, 262144, 0},
        {"more bytes than the mapping holds", FILE_MAP_READ, 65536, 200000},
    };
    for (const Refused& r : refused) {
        EXPECT_EQ(MapViewOfFile(mapping, r.access, 0, r.offset, r.bytes), nullptr) << r.what;
    }
    char stray = 0;
    EXPECT_EQ(MapViewOfFile(&stray, FILE_MAP_READ, 0, 0, 0), nullptr) << "not a mapping";

    // Unlike a copy, a view sees what another writer puts into the file.
    FILE* writer = fopen(path_.c_str(), "r+b");
    ASSERT_NE(writer, nullptr);
    fputs("NEW", writer);
    fclose(writer);
    EXPECT_EQ(std::string(whole, 3), "NEW");

    EXPECT_TRUE(UnmapViewOfFile(whole));
    EXPECT_TRUE(UnmapViewOfFile(part));
    EXPECT_TRUE(CloseHandle(mapping));
}

TEST_F(FileMappings, RefusesWhatIsNotAReadableRegularFileAndOtherArguments) {
    HANDLE file = Open();
    struct Case {
        const char* what;
        HANDLE file;
        DWORD protect;
        DWORD sizeLow;
        const char* name;
    };
    const Case cases[] = {
        {"read-write protection", file, PAGE_READWRITE, 0, nullptr},
        {"a named mapping", file, PAGE_READONLY, 0, "Local\\media"},
        {"a size beyond the file", file, PAGE_READONLY, 200001, nullptr},
        {"INVALID_HANDLE_VALUE", INVALID_HANDLE_VALUE, PAGE_READONLY, 0, nullptr},
        {"a null handle", nullptr, PAGE_READONLY, 0, nullptr},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CreateFileMappingA(c.file, nullptr, c.protect, 0, c.sizeLow, c.name), nullptr) << c.what;
    }
    // A size within the file is fine.
    HANDLE part = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 1000, nullptr);
    EXPECT_NE(part, nullptr);
    EXPECT_TRUE(CloseHandle(part));
    EXPECT_FALSE(CloseHandle(file)) << "the runtime's handle is not closed through kernel32";

    // Windows refuses to map an empty file; a pipe and a write-only file are no files to map.
    const std::string empty = scratch_.Write("empty.bin", "");
    FILE* emptyFile = fopen(empty.c_str(), "rb");
    ASSERT_NE(emptyFile, nullptr);
    EXPECT_EQ(CreateFileMappingA(reinterpret_cast<HANDLE>(_get_osfhandle(fileno(emptyFile))), nullptr,
                                 PAGE_READONLY, 0, 0, nullptr),
              nullptr);
    fclose(emptyFile);
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    EXPECT_EQ(CreateFileMappingA(reinterpret_cast<HANDLE>(_get_osfhandle(pipeEnds[0])), nullptr, PAGE_READONLY,
                                 0, 0, nullptr),
              nullptr);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    FILE* writeOnly = fopen(scratch_.Path("written.bin").c_str(), "wb");
    ASSERT_NE(writeOnly, nullptr);
    fputs("data", writeOnly);
    fflush(writeOnly);
    EXPECT_EQ(CreateFileMappingA(reinterpret_cast<HANDLE>(_get_osfhandle(fileno(writeOnly))), nullptr,
                                 PAGE_READONLY, 0, 0, nullptr),
              nullptr);
    fclose(writeOnly);

    // A descriptor that is not open has no handle.
    const int closed = dup(fileno(file_));
    close(closed);
    EXPECT_EQ(_get_osfhandle(closed), -1);
    EXPECT_EQ(_get_osfhandle(-1), -1);
}

}  // namespace
