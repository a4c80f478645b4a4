#include "core/text/paths.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Bytes(const String& s) {
    return std::string(s.Text(), static_cast<size_t>(s.length()));
}

TEST(PathTest, PiecesOfPaths) {
    struct Case {
        const char* path;
        const char* fileName;
        const char* directory;
        const char* prefix;
        const char* extension;
        const char* baseName;
    };
    const Case cases[] = {
        {"a\\b/c.txt", "c.txt", "a\\b", "a\\b/", "txt", "c"},
        {"c.txt", "c.txt", "", "", "txt", "c"},
        {"dir/", "", "dir", "dir/", "", ""},
        {"", "", "", "", "", ""},
        {"/c.txt", "c.txt", "", "", "txt", "c"},  // the only separator is the first byte
        {"\\c.txt", "c.txt", "", "", "txt", "c"},
        {"//c", "c", "/", "//", "", "c"},
        {"a/b.fx", "b.fx", "a", "a/", "fx", "b"},
        {"dir.x/name", "name", "dir.x", "dir.x/", "", "name"},  // a '.' in a directory
        {"dir.x\\name", "name", "dir.x", "dir.x/", "", "name"},
        {"dir/a.tar.gz", "a.tar.gz", "dir", "dir/", "gz", "a.tar"},
        {"name.", "name.", "", "", "", "name"},
        {".hidden", ".hidden", "", "", "hidden", ""},
        {"readme", "readme", "", "", "", "readme"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const String path(c.path);
        EXPECT_EQ(Bytes(ExtractFileName(path)), c.fileName);
        EXPECT_EQ(Bytes(ExtractDirectory(path)), c.directory);
        EXPECT_EQ(Bytes(ExtractDirectoryPrefix(path)), c.prefix);
        EXPECT_EQ(Bytes(ExtractExtension(path)), c.extension);
        EXPECT_EQ(Bytes(ExtractBaseName(path)), c.baseName);
    }
    // A string that never held text has no buffer at all.
    const String none;
    EXPECT_EQ(Bytes(ExtractFileName(none)), "");
    EXPECT_EQ(Bytes(ExtractDirectory(none)), "");
    EXPECT_EQ(Bytes(ExtractExtension(none)), "");
    EXPECT_EQ(Bytes(ExtractBaseName(none)), "");
}

class PathFileTest : public testing::Test {
protected:
    rh::testing::ScratchDir scratch_{"rh_paths"};
    std::string root_ = scratch_.path();
    std::string file_ = scratch_.Write("Data/Table.txt", "12345");
};

TEST_F(PathFileTest, FileExistsOpensForReading) {
    EXPECT_TRUE(FileExists(file_.c_str()));
    EXPECT_FALSE(FileExists((root_ + "/Data/missing.txt").c_str()));
    EXPECT_FALSE(FileExists(nullptr));
    EXPECT_FALSE(FileExists(""));
    // Names are Windows names: '\' separates and case does not matter.
    EXPECT_TRUE(FileExists((root_ + "\\data\\TABLE.TXT").c_str()));
}

TEST_F(PathFileTest, FileLengthOfAnOpenFile) {
    FILE* f = std::fopen(file_.c_str(), "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(FileLength(f), 5);
    std::fclose(f);
    EXPECT_EQ(FileLength(nullptr), 0);
}

}  // namespace
