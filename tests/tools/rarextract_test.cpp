// rh_rarextract run as a program on archives written here and on the fixture: members come out
// byte for byte, and every failure ends with status 1 and one line on standard error.

#include "core/files/archive/rar_archive.h"
#include "core/types/byte_buffer.h"
#include "tests/support/scratch_dir.h"
#include "tools/rarwrite/rar_writer.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t size, uint32_t seed) {
    Bytes b(size);
    for (auto& c : b) c = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
    return b;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string AsText(const Bytes& b) { return std::string(b.begin(), b.end()); }

// What one run left behind.
struct Outcome {
    int status = -1;  // the exit status, or -1 when the program did not exit
    std::string out;
    std::string err;
};

class RarExtract : public ::testing::Test {
protected:
    void SetUp() override {
        members_ = {
            {"Media", true, {}},
            {"Media\\Big.bin", false, Pattern((1 << 20) + 4097, 5)},
            {"Media\\Empty.dat", false, {}},
            {"Media\\Text.txt", false, Bytes{'t', 'e', 'x', 't', '\n'}},
        };
        std::string error;
        ASSERT_TRUE(rh::rarwrite::WriteArchive(members_, {}, &archive_, &error)) << error;
        archivePath_ = scratch_.Write("media.rar", AsText(archive_));
    }

    // Runs the program with these arguments, each quoted for the shell.
    Outcome Extract(const std::vector<std::string>& arguments) {
        std::string command = RH_RAREXTRACT_EXE;
        for (const std::string& a : arguments) command += " '" + a + "'";
        const std::string out = scratch_.Path("out"), err = scratch_.Path("err");
        const int raw = std::system((command + " > " + out + " 2> " + err).c_str());
        Outcome run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = ReadFile(out);
        run.err = ReadFile(err);
        return run;
    }

    rh::testing::ScratchDir scratch_{"rh_rarextract"};
    std::vector<rh::rarwrite::Member> members_;
    Bytes archive_;
    std::string archivePath_;
};

TEST_F(RarExtract, MembersComeOutByteForByteUnderAnySpelling) {
    struct Case {
        const char* name;
        std::string expected;
    };
    const Case cases[] = {
        {"Media/Big.bin", AsText(members_[1].data)},
        {"media\\big.bin", AsText(members_[1].data)},
        {"/MEDIA/TEXT.TXT", "text\n"},
        {"Media\\Empty.dat", ""},
        {"Media", ""},  // a directory entry extracts to nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome run = Extract({archivePath_, c.name});
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(run.out == c.expected) << "got " << run.out.size() << " bytes";
        EXPECT_EQ(run.err, "");
    }
}

// The fixture's members are packed: they are decoded (bsdtar cannot: libarchive does not read
// the RAR 2.0 method), and come out as the engine's reader extracts them in process.
TEST_F(RarExtract, PackedMembersComeOutAsTheReaderDecodesThem) {
    const std::string fixture = std::string(RH_FIXTURES_DIR) + "/rar/Rar2.rar";
    const std::string bytes = ReadFile(fixture);
    ArchiveBlock archive;
    archive.data = reinterpret_cast<const uint8_t*>(bytes.data());
    archive.size = int32_t(bytes.size());
    const struct {
        const char* name;
        size_t size;
    } cases[] = {{"exe/test.exe", 45056}, {"jpg\\test.jpg", 40372}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ByteBuffer expected;
        ASSERT_TRUE(ExtractArchiveMember(&expected, c.name, &archive));
        ASSERT_EQ(size_t(expected.Size()), c.size);
        const Outcome run = Extract({fixture, c.name});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_TRUE(run.out == std::string(reinterpret_cast<const char*>(expected.Data()), c.size))
            << "got " << run.out.size() << " bytes";
    }
}

TEST_F(RarExtract, FailuresEndWithStatusOneAndOneLine) {
    // A copy of the archive whose big member has one byte changed: its CRC no longer holds.
    Bytes damaged = archive_;
    const Bytes& big = members_[1].data;
    auto at = std::search(damaged.begin(), damaged.end(), big.begin(), big.begin() + 64);
    ASSERT_NE(at, damaged.end());
    at[1000] ^= 0x01;
    const std::string damagedPath = scratch_.Write("damaged.rar", AsText(damaged));
    const std::string notAnArchive = scratch_.Write("notes.rar", "Rar! is not enough");
    const std::string folder = scratch_.Path("folder.rar");
    scratch_.Write("folder.rar/inside", "x");

    struct Case {
        const char* what;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {"an absent member", {archivePath_, "Media/Absent.bin"}},
        {"a damaged member", {damagedPath, "Media/Big.bin"}},
        {"a missing archive", {scratch_.Path("missing.rar"), "Media/Big.bin"}},
        {"a folder for an archive", {folder, "Media/Big.bin"}},
        {"a file that is no archive", {notAnArchive, "Media/Big.bin"}},
        {"no arguments", {}},
        {"a member missing", {archivePath_}},
        {"one argument too many", {archivePath_, "Media/Big.bin", "extra"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome run = Extract(c.arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.rfind("rh_rarextract: ", 0), 0u) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "not one line: " << run.err;
    }
    // The sound member of the damaged copy still extracts.
    EXPECT_EQ(Extract({damagedPath, "Media/Text.txt"}).out, "text\n");
}

}  // namespace
