// Windows file names on Linux disks: '\' separates, and a name that does not exist as written
// is matched without regard to case, one component at a time.

#include <direct.h>
#include <io.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

class WindowsFileNames : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/rh_files_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        std::filesystem::create_directories(dir_ + "/Media/Sub");
        std::ofstream(dir_ + "/Media/Sub/File.TXT") << "twelve bytes";
        std::ofstream(dir_ + "/Media/lower.txt") << "exact";
        std::ofstream(dir_ + "/Media/LOWER.txt") << "other";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Read(const std::string& name) {
        FILE* f = fopen(name.c_str(), "rb");
        if (f == nullptr) return "<none>";
        char buffer[64] = {};
        size_t n = fread(buffer, 1, sizeof buffer - 1, f);
        fclose(f);
        return std::string(buffer, n);
    }

    std::string dir_;
};

TEST_F(WindowsFileNames, OpenWithBackslashesAndAnyCase) {
    struct Case {
        const char* name;
        const char* content;
    };
    const Case cases[] = {
        {"/Media/Sub/File.TXT", "twelve bytes"},
        {"\\Media\\Sub\\File.TXT", "twelve bytes"},
        {"/media/sub/file.txt", "twelve bytes"},
        {"\\MEDIA\\sub/FILE.txt", "twelve bytes"},
        // A name that exists as written wins over another that differs only in case.
        {"/Media/lower.txt", "exact"},
        {"/Media/LOWER.txt", "other"},
        {"/Media/Sub/Missing.txt", "<none>"},
        {"/Nowhere/File.TXT", "<none>"},
        // Folders do not open as files.
        {"/media/SUB", "<none>"},
    };
    for (const Case& c : cases) EXPECT_EQ(Read(dir_ + c.name), c.content) << c.name;
}

TEST_F(WindowsFileNames, NewFilesGoIntoFoldersFoundInAnyCase) {
    FILE* f = fopen((dir_ + "\\media\\SUB\\New.fxo").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    fputs("x", f);
    fclose(f);
    EXPECT_TRUE(std::filesystem::exists(dir_ + "/Media/Sub/New.fxo"));
}

TEST_F(WindowsFileNames, FileLengthAndMakeFolder) {
    FILE* f = fopen((dir_ + "/media/sub/file.txt").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(_filelength(fileno(f)), 12);
    fclose(f);
    EXPECT_EQ(_filelength(-1), -1);

    EXPECT_EQ(_mkdir((dir_ + "\\media\\Shaders").c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir_ + "/Media/Shaders"));
    errno = 0;
    EXPECT_EQ(_mkdir((dir_ + "/MEDIA").c_str()), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(_mkdir((dir_ + "/a/b/c").c_str()), -1);  // one level only
    EXPECT_EQ(_mkdir(nullptr), -1);
}

}  // namespace
