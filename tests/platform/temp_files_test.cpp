// Temporary files as kernel32 makes them: the folder with its trailing separator, fresh names
// created exclusively with owner-only access, writing through a file handle, and deletion.

#include "tests/support/scratch_dir.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace {

// Sets TMPDIR for the life of the object; the old value comes back after.
class TmpDirOverride {
public:
    explicit TmpDirOverride(const char* value) {
        if (const char* old = std::getenv("TMPDIR")) old_ = old;
        if (value != nullptr) setenv("TMPDIR", value, 1);
        else unsetenv("TMPDIR");
    }
    ~TmpDirOverride() {
        if (old_) setenv("TMPDIR", old_->c_str(), 1);
        else unsetenv("TMPDIR");
    }

private:
    std::optional<std::string> old_;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(TempPath, IsTmpdirOrTheSystemFolderWithATrailingSeparator) {
    const struct {
        const char* tmpdir;
        const char* expected;
    } cases[] = {
        {"/var/scratch", "/var/scratch/"},
        {"/var/scratch/", "/var/scratch/"},
        {"", "/tmp/"},
        {nullptr, "/tmp/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tmpdir ? c.tmpdir : "(unset)");
        TmpDirOverride tmp(c.tmpdir);
        char buffer[MAX_PATH];
        const DWORD length = GetTempPathA(MAX_PATH, buffer);
        EXPECT_EQ(std::string(buffer), c.expected);
        EXPECT_EQ(length, std::string(c.expected).size());
    }
}

TEST(TempPath, TooSmallABufferGetsTheSizeNeededAndNothingWritten) {
    TmpDirOverride tmp("/var/scratch");
    char buffer[8] = "sentinl";
    EXPECT_EQ(GetTempPathA(sizeof buffer, buffer), std::string("/var/scratch/").size() + 1);
    EXPECT_STREQ(buffer, "sentinl");
    EXPECT_EQ(GetTempPathA(0, nullptr), std::string("/var/scratch/").size() + 1);
}

class TempFileName : public testing::Test {
protected:
    rh::testing::ScratchDir scratch_{"rh_temp"};
};

TEST_F(TempFileName, CreatesAnEmptyOwnerOnlyFileUnderAFreshName) {
    char name[MAX_PATH] = {};
    const UINT number = GetTempFileNameA(scratch_.path().c_str(), "bass", 0, name);
    ASSERT_NE(number, 0u);
    // Three characters of the prefix, four hex digits of the number.
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04X", number);
    EXPECT_EQ(std::string(name), scratch_.Path(std::string("bas") + digits + ".tmp"));
    struct stat st;
    ASSERT_EQ(stat(name, &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 0);

    char second[MAX_PATH] = {};
    ASSERT_NE(GetTempFileNameA((scratch_.path() + "/").c_str(), "bas", 0, second), 0u);
    EXPECT_NE(std::string(second), std::string(name));
    EXPECT_EQ(std::string(second).rfind(scratch_.path() + "/bas", 0), 0u) << second;
}

TEST_F(TempFileName, PassesOverANameThatExists) {
    char first[MAX_PATH];
    const UINT number = GetTempFileNameA(scratch_.path().c_str(), "bas", 0, first);
    ASSERT_NE(number, 0u);
    // The next call starts from the next number: plant a file (a link, even) under that name.
    const UINT planted = number % 0xFFFF + 1;
    char plantedName[MAX_PATH];
    std::snprintf(plantedName, sizeof plantedName, "%s/bas%04X.tmp", scratch_.path().c_str(), planted);
    ASSERT_EQ(symlink("/nonexistent/target", plantedName), 0);
    char next[MAX_PATH];
    const UINT got = GetTempFileNameA(scratch_.path().c_str(), "bas", 0, next);
    EXPECT_EQ(got, planted % 0xFFFF + 1);
    struct stat st;
    ASSERT_EQ(lstat(plantedName, &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the planted link was replaced";
}

TEST_F(TempFileName, FailsWhereNoFileCanBeMade) {
    char name[MAX_PATH] = "sentinel";
    EXPECT_EQ(GetTempFileNameA(scratch_.Path("missing").c_str(), "bas", 0, name), 0u);
    EXPECT_EQ(GetTempFileNameA(std::string(MAX_PATH, 'x').c_str(), "bas", 0, name), 0u);
    if (geteuid() != 0) {  // root writes anywhere
        const std::string locked = scratch_.Path("locked");
        ASSERT_EQ(mkdir(locked.c_str(), 0500), 0);
        EXPECT_EQ(GetTempFileNameA(locked.c_str(), "bas", 0, name), 0u);
    }
}

TEST_F(TempFileName, AGivenNumberOnlyFormsTheName) {
    char name[MAX_PATH];
    EXPECT_EQ(GetTempFileNameA(scratch_.path().c_str(), "ab", 0x1A, name), 0x1Au);
    EXPECT_EQ(std::string(name), scratch_.Path("ab001A.tmp"));
    EXPECT_NE(access(name, F_OK), 0);
}

TEST_F(TempFileName, WrittenThroughAFileHandleThenDeleted) {
    char name[MAX_PATH];
    ASSERT_NE(GetTempFileNameA(scratch_.path().c_str(), "bas", 0, name), 0u);
    std::string image(100000, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + 3);

    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, image.data(), static_cast<DWORD>(image.size()), &written, nullptr));
    EXPECT_EQ(written, image.size());
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file)) << "a closed file handle is refused";
    EXPECT_EQ(ReadAll(name), image);
    struct stat st;
    ASSERT_EQ(stat(name, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "rewriting keeps the owner-only access";

    // CREATE_ALWAYS empties a file that has content.
    file = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(WriteFile(file, "ab", 2, &written, nullptr));
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(ReadAll(name), "ab");

    EXPECT_TRUE(DeleteFileA(name));
    EXPECT_NE(access(name, F_OK), 0);
    EXPECT_FALSE(DeleteFileA(name));
}

TEST_F(TempFileName, BadHandlesAndRequestsAreRefused) {
    EXPECT_EQ(CreateFileA(scratch_.Path("no/such/folder.tmp").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(scratch_.Path("x.tmp").c_str(), 0x80000000u /* GENERIC_READ */, 0, nullptr, CREATE_ALWAYS, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(CreateFileA(nullptr, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    DWORD written = 99;
    int local = 0;
    EXPECT_FALSE(WriteFile(&local, "x", 1, &written, nullptr));
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, "x", 1, &written, nullptr));
    EXPECT_FALSE(DeleteFileA(nullptr));
}

}  // namespace
