// The media archive mounted from a "MemFile" resource in place, the way the program mounts
// its own, and found through the search paths by loader locators (disk or archive).

#include "core/files/archive/archive_file_source.h"
#include "core/files/mem_stream.h"
#include "core/files/search_paths.h"
#include "core/files/stream.h"

#include "tests/support/scratch_dir.h"

#include <string>

namespace {

// data/media.rar: "Media\Fonts\Tiny.fs" and "Media\ReadMe.txt", stored.
constexpr int32_t kMediaArchive = 227;

using SearchPathsMountedArchive = rh::testing::ScratchDirTest;

TEST_F(SearchPathsMountedArchive, LoaderNamesResolveIntoTheArchive) {
    ArchiveFileSource media;
    ASSERT_TRUE(media.Mount(FileRef::Resource(kMediaArchive)));
    EXPECT_TRUE(media.archiveBorrowed());  // read in place, not copied
    SearchPaths paths;
    paths.Add(FileRef::Member(&media, ""));

    FileRef font("/media/fonts/tiny.fs");
    font.flags = FileRef::kDisk | FileRef::kArchive;
    ASSERT_TRUE(paths.ResolveFile(font));
    EXPECT_EQ(font.flags, FileRef::kArchive);
    EXPECT_EQ(font.archive, &media);
    EXPECT_STREQ(font.name.Text(), "media/fonts/tiny.fs");

    String text;
    bool mayBorrow = true;
    ASSERT_TRUE(font.ReadWholeFile(text, &mayBorrow));
    EXPECT_EQ(std::string(text.Text(), size_t(text.length())), "tiny font\n");
    EXPECT_FALSE(mayBorrow);  // extracted members are the caller's own copy

    // A stream reads the stored member where it lies in the resource, which never changes.
    Stream* stream = font.OpenFile(1);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->Size(), 10);
    const uint8_t* resource = nullptr;
    int32_t resourceSize = 0;
    ASSERT_TRUE(LoadResourceData(kMediaArchive, "MemFile", &resource, &resourceSize));
    const String& shown = dynamic_cast<MemStream&>(*stream).text();
    EXPECT_TRUE(shown.borrowed());
    const auto* at = reinterpret_cast<const uint8_t*>(shown.data());
    EXPECT_TRUE(at >= resource && at + shown.length() <= resource + resourceSize);
    delete stream;

    FileRef missing("media/fonts/none.fs");
    missing.flags = FileRef::kDisk | FileRef::kArchive;
    EXPECT_FALSE(paths.ResolveFile(missing));
}

TEST_F(SearchPathsMountedArchive, PrefixedMountAndDiskFirst) {
    ArchiveFileSource media;
    ASSERT_TRUE(media.Mount(FileRef::Resource(kMediaArchive)));
    SearchPaths paths;
    paths.Add(FileRef::Member(&media, "Media\\"));

    FileRef readme("ReadMe.txt");
    readme.flags = FileRef::kDisk | FileRef::kArchive;
    ASSERT_TRUE(paths.ResolveFile(readme));
    EXPECT_STREQ(readme.name.Text(), "Media/ReadMe.txt");

    // A disk file of the same name comes before the archive.
    WriteFile("ReadMe.txt", "on disk");
    FileRef onDisk("ReadMe.txt");
    onDisk.flags = FileRef::kDisk | FileRef::kArchive;
    ASSERT_TRUE(paths.ResolveFile(onDisk));
    EXPECT_EQ(onDisk.flags, FileRef::kDisk);
}

}  // namespace
