// The media archive as the build makes it: the saver's "MemFile" resource 227 holds it byte for
// byte, and every file the build listed for it opens through the search paths with a mounted
// archive, the way the saver reaches its media, with the bytes of its source.
#include "core/files/archive/archive_file_source.h"
#include "core/files/file_ref.h"
#include "core/files/search_paths.h"

#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr int32_t kMediaArchive = 227;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.is_open()) << path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// (member name with '/', source path) per line of the build's list.
std::vector<std::pair<std::string, std::string>> ListedFiles() {
    std::vector<std::pair<std::string, std::string>> files;
    std::ifstream in(RH_MEDIA_LIST);
    std::string line;
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        if (tab != std::string::npos) files.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    }
    return files;
}

TEST(MediaArchive, TheSaverResourceIsTheBuiltArchive) {
    const uint8_t* data = nullptr;
    int32_t size = 0;
    ASSERT_TRUE(LoadResourceData(kMediaArchive, "MemFile", &data, &size));
    const std::string built = ReadAll(RH_MEDIA_ARCHIVE);
    ASSERT_EQ(size_t(size), built.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size_t(size)), built);
}

// Run in an empty folder: disk files come first and match names without regard to case, and
// the build tree holds the media beside the archive.
using MediaArchiveMounted = rh::testing::ScratchDirTest;

TEST_F(MediaArchiveMounted, EveryListedFileOpensThroughTheMountedArchive) {
    const auto files = ListedFiles();
    if (files.empty()) GTEST_SKIP() << "no media registered in this build";
    ArchiveFileSource media;
    ASSERT_TRUE(media.Mount(FileRef::Resource(kMediaArchive)));
    SearchPaths paths;
    paths.Add(FileRef::Member(&media, ""));
    for (const auto& [member, source] : files) {
        SCOPED_TRACE(member);
        // Loaders spell names in any case, with either separator.
        std::string loaderName = member;
        for (char& c : loaderName) c = char(std::tolower(static_cast<unsigned char>(c)));
        FileRef ref(loaderName.c_str());
        ref.flags = FileRef::kDisk | FileRef::kArchive;
        ASSERT_TRUE(paths.ResolveFile(ref));
        EXPECT_EQ(ref.flags, FileRef::kArchive);
        String text;
        bool mayBorrow = false;
        ASSERT_TRUE(ref.ReadWholeFile(text, &mayBorrow));
        EXPECT_EQ(std::string(text.Text(), size_t(text.length())), ReadAll(source));
    }
}

}  // namespace
