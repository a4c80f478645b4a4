// Conformance tests for file version information: GetFileVersionInfoSizeA,
// GetFileVersionInfoA and VerQueryValueA over files carrying a VS_VERSIONINFO block.

#include "tests/support/scratch_dir.h"
#include "tests/support/version_block.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::string;

using rh::testing::VersionBlockLayout;
using BlockLayout = VersionBlockLayout;

Bytes VersionBlock(const BlockLayout& layout = {}) { return rh::testing::VersionInfoBlock(layout); }

// Bytes that look like code and data around the block.
Bytes Junk(size_t count, unsigned seed) {
    Bytes junk;
    junk.reserve(count);
    unsigned state = seed;
    for (size_t i = 0; i < count; ++i) {
        state = state * 1103515245u + 12345u;
        junk.push_back(static_cast<char>(state >> 16));
    }
    return junk;
}

class VersionInfo : public testing::Test {
protected:
    std::string Write(const std::string& name, const Bytes& content) {
        return scratch_.Write(name, content);
    }

    // What a program does to read a file's version: size, allocate, copy, query the root.
    // The buffer is exactly the size asked for, so AddressSanitizer sees any read past it.
    static bool ReadVersion(const std::string& path, DWORD* ms, DWORD* ls) {
        DWORD handle = 0xDEAD;
        DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
        EXPECT_EQ(handle, 0u) << "the handle comes back as 0";
        if (size == 0) return false;
        std::unique_ptr<unsigned char[]> data(new unsigned char[size]);
        if (!GetFileVersionInfoA(path.c_str(), 0, size, data.get())) return false;
        LPVOID fixed = nullptr;
        UINT length = 0;
        if (!VerQueryValueA(data.get(), "\\", &fixed, &length)) return false;
        EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));
        EXPECT_EQ(static_cast<unsigned char*>(fixed), data.get() + 40) << "the answer points into the block";
        auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
        EXPECT_EQ(info->dwSignature, VS_FFI_SIGNATURE);
        *ms = info->dwFileVersionMS;
        *ls = info->dwFileVersionLS;
        return true;
    }

    rh::testing::ScratchDir scratch_{"rh_version"};
    std::filesystem::path dir_ = scratch_.path();
};

TEST_F(VersionInfo, FindsTheBlockWhereverItLies) {
    // Offsets around 64 KiB put the block across the boundary of large reads.
    const size_t offsets[] = {0, 3, 4098, 65536 - 100, 65536 - 40, 65536 - 6, 65536 + 1, 3 * 65536 + 77};
    DWORD build = 1;
    for (size_t offset : offsets) {
        SCOPED_TRACE("block at offset " + std::to_string(offset));
        BlockLayout layout;
        layout.versionLS = (4 << 16) | build++;
        Bytes block = VersionBlock(layout);
        std::string path = Write("lib.dll", Junk(offset, 7) + block + Junk(500, 9));
        EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), nullptr), block.size());
        DWORD ms = 0;
        DWORD ls = 0;
        ASSERT_TRUE(ReadVersion(path, &ms, &ls));
        EXPECT_EQ(ms, layout.versionMS);
        EXPECT_EQ(ls, layout.versionLS);
    }
}

TEST_F(VersionInfo, SkipsAKeyWithoutAValidBlock) {
    BlockLayout decoy;
    decoy.signature = 0;
    BlockLayout real;
    real.versionMS = 0x00040009;
    Bytes block = VersionBlock(real);
    std::string path = Write("d3d9.dll", Junk(100, 1) + VersionBlock(decoy) + Junk(30, 2) + block);
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), nullptr), block.size());
    DWORD ms = 0;
    DWORD ls = 0;
    ASSERT_TRUE(ReadVersion(path, &ms, &ls));
    EXPECT_EQ(ms, 0x00040009u);
}

TEST_F(VersionInfo, FilesWithoutAValidBlockHaveNoVersion) {
    BlockLayout badSignature;
    badSignature.signature = 0xFEEF04BC;
    BlockLayout shortClaim;
    shortClaim.claimedLength = 10;
    BlockLayout claimJustShort;
    claimJustShort.claimedLength = 91;
    BlockLayout noValue;
    noValue.valueLength = 0;
    struct Case {
        const char* what;
        Bytes content;
    };
    const Case cases[] = {
        {"no block", Junk(5000, 3)},
        {"empty file", ""},
        {"cut inside the fixed part", Junk(20, 4) + VersionBlock().substr(0, 60)},
        {"cut one byte short of the fixed part", VersionBlock().substr(0, 91)},
        {"wrong signature", VersionBlock(badSignature)},
        {"wLength far below the fixed part", VersionBlock(shortClaim) + Junk(100, 5)},
        {"wLength one byte below the fixed part", VersionBlock(claimJustShort)},
        {"no value", VersionBlock(noValue)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string path = Write("plain.dll", c.content);
        EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), nullptr), 0u);
        std::vector<unsigned char> data(4096, 0xCD);
        EXPECT_FALSE(GetFileVersionInfoA(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()));
    }

    const std::string names[] = {(dir_ / "missing.dll").string(), dir_.string(), ""};
    for (const std::string& name : names) {
        SCOPED_TRACE("name \"" + name + "\"");
        EXPECT_EQ(GetFileVersionInfoSizeA(name.c_str(), nullptr), 0u);
        unsigned char data[256];
        EXPECT_FALSE(GetFileVersionInfoA(name.c_str(), 0, sizeof data, data));
    }
    EXPECT_EQ(GetFileVersionInfoSizeA(nullptr, nullptr), 0u);
}

TEST_F(VersionInfo, ABlockCutShortByTheFileStillAnswersItsFixedPart) {
    BlockLayout layout;
    layout.childBytes = 200;
    Bytes block = VersionBlock(layout);
    std::string path = Write("cut.dll", Junk(12, 6) + block.substr(0, 130));
    EXPECT_EQ(GetFileVersionInfoSizeA(path.c_str(), nullptr), 130u) << "only what the file holds";
    DWORD ms = 0;
    DWORD ls = 0;
    ASSERT_TRUE(ReadVersion(path, &ms, &ls));
    EXPECT_EQ(ms, layout.versionMS);
    EXPECT_EQ(ls, layout.versionLS);
}

TEST_F(VersionInfo, SmallBuffersNeverLeadToReadsOutOfRange) {
    std::string path = Write("lib.dll", Junk(64, 8) + VersionBlock());
    struct Case {
        DWORD size;
        BOOL copied;
    };
    // A buffer too small for the fixed part takes a partial copy that VerQueryValueA refuses.
    const Case cases[] = {{0, FALSE}, {5, FALSE}, {6, TRUE}, {50, TRUE}, {91, TRUE}};
    for (const Case& c : cases) {
        SCOPED_TRACE("buffer of " + std::to_string(c.size) + " bytes");
        std::unique_ptr<unsigned char[]> data(new unsigned char[c.size + 1]);  // +1: new[0] is not usable
        EXPECT_EQ(GetFileVersionInfoA(path.c_str(), 0, c.size, data.get()), c.copied);
        if (c.copied) {
            LPVOID fixed = data.get();
            UINT length = 7;
            EXPECT_FALSE(VerQueryValueA(data.get(), "\\", &fixed, &length));
            EXPECT_EQ(fixed, nullptr);
            EXPECT_EQ(length, 0u);
        }
    }
    EXPECT_FALSE(GetFileVersionInfoA(path.c_str(), 0, 200, nullptr));
}

TEST_F(VersionInfo, VerQueryValueAnswersTheRootBlockOnly) {
    Bytes block = VersionBlock();
    std::vector<unsigned char> data(block.begin(), block.end());
    LPVOID fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(data.data(), "\\", &fixed, &length));
    EXPECT_EQ(fixed, data.data() + 40);
    EXPECT_EQ(length, sizeof(VS_FIXEDFILEINFO));

    const char* const others[] = {"", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040904b0\\FileVersion",
                                  "/"};
    for (const char* sub : others) {
        SCOPED_TRACE(sub);
        fixed = data.data();
        length = 7;
        EXPECT_FALSE(VerQueryValueA(data.data(), sub, &fixed, &length));
        EXPECT_EQ(fixed, nullptr);
        EXPECT_EQ(length, 0u);
    }
    EXPECT_FALSE(VerQueryValueA(nullptr, "\\", &fixed, &length));
    EXPECT_FALSE(VerQueryValueA(data.data(), nullptr, &fixed, &length));
    EXPECT_FALSE(VerQueryValueA(data.data(), "\\", nullptr, &length));

    // A block that claims to be shorter than its fixed part is refused without reading it;
    // the allocation is exactly its claimed size.
    std::unique_ptr<unsigned char[]> tiny(new unsigned char[10]);
    std::copy(data.begin(), data.begin() + 10, tiny.get());
    tiny[0] = 10;
    tiny[1] = 0;
    EXPECT_FALSE(VerQueryValueA(tiny.get(), "\\", &fixed, &length));
}

TEST_F(VersionInfo, WindowsStyleNamesFindTheFile) {
    BlockLayout layout;
    layout.versionMS = 0x00040009;
    layout.versionLS = 0x00000904;
    Write("d3d9.dll", VersionBlock(layout));
    // Programs join names with '\' and spell them in any case.
    std::string name = dir_.string() + "\\D3D9.DLL";
    DWORD ms = 0;
    DWORD ls = 0;
    ASSERT_TRUE(ReadVersion(name, &ms, &ls));
    EXPECT_EQ(ms, layout.versionMS);
    EXPECT_EQ(ls, layout.versionLS);
}

}  // namespace
