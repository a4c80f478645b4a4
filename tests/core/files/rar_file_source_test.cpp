#include "core/files/archive/archive_file_source.h"

#include "core/files/file_ref.h"
#include "core/files/mem_stream.h"
#include "core/files/search_paths.h"
#include "tests/core/files/rar_test_archive.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using rar_test::Bytes;
using rar_test::MakeArchive;
using rar_test::Member;
using rar_test::Text;

namespace {

Bytes MediaArchive() {
    return MakeArchive({Member{"Media\\Fonts\\sylfaen.fs", Text("glyphs")},
                        Member{"Media\\readme.txt", Text("read me")}});
}

std::string ReadAll(Stream& stream) {
    std::string s(size_t(stream.Size()), '\0');
    if (!s.empty()) stream.Read(s.data(), int32_t(s.size()));
    return s;
}

}  // namespace

TEST(RarFileSource, MountsLentBytesAndAnswersForMembers) {
    Bytes archive = MediaArchive();
    ArchiveFileSource source;
    ASSERT_TRUE(source.Mount(FileRef::Memory(archive.data(), int32_t(archive.size()))));
    EXPECT_TRUE(source.archiveBorrowed());
    EXPECT_EQ(source.archiveSize(), int32_t(archive.size()));

    EXPECT_TRUE(source.Exists("media/fonts/sylfaen.fs"));
    EXPECT_FALSE(source.Exists("media/fonts/missing.fs"));
    std::unique_ptr<Stream> read(source.Open("MEDIA\\README.TXT", 1));
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(ReadAll(*read), "read me");
    EXPECT_EQ(source.Open("nothing", 1), nullptr);

    // Write mode: the rope holds a copy of the member, and writing leaves the archive alone.
    std::unique_ptr<Stream> write(source.Open("media/fonts/sylfaen.fs", 2));
    ASSERT_NE(write, nullptr);
    auto* mem = dynamic_cast<MemStream*>(write.get());
    ASSERT_NE(mem, nullptr);
    EXPECT_EQ(mem->rope().size(), 6);
    EXPECT_EQ(write->Write("XY", 2), 2);
    std::unique_ptr<Stream> again(source.Open("media/fonts/sylfaen.fs", 1));
    EXPECT_EQ(ReadAll(*again), "glyphs");

    source.Unmount();
    EXPECT_FALSE(source.Exists("media/fonts/sylfaen.fs"));
}

TEST(RarFileSource, CopiesBytesThatMayNotBeLentAndFailsWithoutThem) {
    Bytes archive = MediaArchive();
    ArchiveFileSource source;
    ASSERT_TRUE(source.Mount(FileRef::Memory(archive.data(), int32_t(archive.size()), false)));
    EXPECT_FALSE(source.archiveBorrowed());
    archive.assign(archive.size(), 0);  // the copy must not depend on the caller's block
    EXPECT_TRUE(source.Exists("media/readme.txt"));

    EXPECT_FALSE(source.Mount(FileRef("/nonexistent/media.rar")));
    EXPECT_FALSE(source.Exists("media/readme.txt"));
}

TEST(RarFileSource, SearchPathsResolveArchiveMembersThroughIt) {
    Bytes archive = MediaArchive();
    ArchiveFileSource source;
    ASSERT_TRUE(source.Mount(FileRef::Memory(archive.data(), int32_t(archive.size()))));
    SearchPaths paths;
    paths.Add(FileRef::Member(&source, ""));
    FileRef ref("media/fonts/sylfaen.fs");
    ref.flags = FileRef::kDisk | FileRef::kArchive;
    ASSERT_TRUE(paths.ResolveFile(ref));
    EXPECT_EQ(ref.flags, FileRef::kArchive);
    EXPECT_EQ(ref.archive, &source);
    std::unique_ptr<Stream> stream(ref.OpenFile(1));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ReadAll(*stream), "glyphs");
}
