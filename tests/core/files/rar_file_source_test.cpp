#include "core/files/archive/archive_file_source.h"

#include "core/files/file_ref.h"
#include "core/files/mem_stream.h"
#include "core/files/search_paths.h"
#include "tests/core/files/rar_test_archive.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
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

namespace {

// Where a member's stored bytes start in MediaArchive's layout (to damage them in place).
size_t DataOffset(const Bytes& archive, const std::string& name) {
    for (size_t at = 7 + 13; at + 32 <= archive.size();) {
        uint32_t headerSize = rar_test::Get16(archive, at + 5);
        uint32_t packed = rar_test::Get32(archive, at + 7);
        uint32_t nameSize = rar_test::Get16(archive, at + 26);
        if (std::string(archive.begin() + long(at + 32), archive.begin() + long(at + 32 + nameSize)) == name) {
            return at + headerSize;
        }
        at += headerSize + packed;
    }
    ADD_FAILURE() << name << " not in the archive";
    return 0;
}

}  // namespace

// The Open that follows an Exists for the same member takes the bytes Exists extracted: seen
// here by damaging the lent archive between the two calls, which a second extraction would
// notice (the member would fail its CRC check).
TEST(RarFileSourceKept, OpenAfterExistsReusesTheExtractedMember) {
    Bytes archive = MediaArchive();
    ArchiveFileSource source;
    ASSERT_TRUE(source.Mount(FileRef::Memory(archive.data(), int32_t(archive.size()))));
    const size_t readme = DataOffset(archive, "Media\\readme.txt");

    ASSERT_TRUE(source.Exists("media/readme.txt"));
    EXPECT_TRUE(source.HasKeptMember());
    archive[readme] ^= 0x20;
    std::unique_ptr<Stream> read(source.Open("MEDIA\\README.TXT", 1));  // same member, other spelling
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(ReadAll(*read), "read me");
    EXPECT_FALSE(source.HasKeptMember());
    // The kept member served one call: now the damage shows.
    EXPECT_EQ(source.Open("media/readme.txt", 1), nullptr);
    EXPECT_FALSE(source.Exists("media/readme.txt"));
    EXPECT_FALSE(source.HasKeptMember());
    archive[readme] ^= 0x20;

    // Write mode takes it too: the rope holds a copy.
    ASSERT_TRUE(source.Exists("media/fonts/sylfaen.fs"));
    archive[DataOffset(archive, "Media\\Fonts\\sylfaen.fs")] ^= 0x20;
    std::unique_ptr<Stream> write(source.Open("media/fonts/sylfaen.fs", 2));
    ASSERT_NE(write, nullptr);
    EXPECT_EQ(dynamic_cast<MemStream*>(write.get())->rope().size(), 6);
}

TEST(RarFileSourceKept, AnyOtherCallDropsTheKeptMember) {
    Bytes archive = MediaArchive();
    ArchiveFileSource source;
    ASSERT_TRUE(source.Mount(FileRef::Memory(archive.data(), int32_t(archive.size()))));
    const size_t readme = DataOffset(archive, "Media\\readme.txt");
    // Exists on the sound archive, damage, `between`, then Open: true when Open failed, so
    // extracted anew instead of taking the kept bytes.
    auto damaged = [&](const std::function<void()>& between) {
        EXPECT_TRUE(source.Exists("media/readme.txt"));
        archive[readme] ^= 0x20;
        between();
        std::unique_ptr<Stream> s(source.Open("media/readme.txt", 1));
        archive[readme] ^= 0x20;
        return s == nullptr;
    };
    EXPECT_FALSE(damaged([] {}));
    EXPECT_TRUE(damaged([&] { source.DropKeptMember(); }));
    EXPECT_TRUE(damaged([&] { EXPECT_TRUE(source.Exists("media/fonts/sylfaen.fs")); }));
    EXPECT_TRUE(damaged([&] { EXPECT_FALSE(source.Exists("media/absent")); }));
    EXPECT_TRUE(damaged([&] { std::unique_ptr<Stream>(source.Open("media/fonts/sylfaen.fs", 1)); }));
    // A second Exists for the same member takes the kept bytes and keeps them again.
    EXPECT_FALSE(damaged([&] { EXPECT_TRUE(source.Exists("media/readme.txt")); }));

    // A member that fails its CRC check does not exist, and nothing is kept for it.
    archive[readme] ^= 0x20;
    EXPECT_FALSE(source.Exists("media/readme.txt"));
    EXPECT_FALSE(source.HasKeptMember());
    archive[readme] ^= 0x20;

    ASSERT_TRUE(source.Exists("media/readme.txt"));
    source.Unmount();
    EXPECT_FALSE(source.HasKeptMember());
    EXPECT_EQ(source.Open("media/readme.txt", 1), nullptr);
    ASSERT_TRUE(source.Mount(FileRef::Memory(archive.data(), int32_t(archive.size()))));
    ASSERT_TRUE(source.Exists("media/readme.txt"));
    ASSERT_TRUE(source.Mount(FileRef::Memory(archive.data(), int32_t(archive.size()))));
    EXPECT_FALSE(source.HasKeptMember());
}

// Resolving a name through the search paths and opening it costs one extraction.
TEST(RarFileSourceKept, ResolveThenOpenExtractsOnce) {
    Bytes archive = MediaArchive();
    ArchiveFileSource source;
    ASSERT_TRUE(source.Mount(FileRef::Memory(archive.data(), int32_t(archive.size()))));
    SearchPaths paths;
    paths.Add(FileRef::Member(&source, ""));
    FileRef ref("media/fonts/sylfaen.fs");
    ref.flags = FileRef::kArchive;
    ASSERT_TRUE(paths.ResolveFile(ref));
    archive[DataOffset(archive, "Media\\Fonts\\sylfaen.fs")] ^= 0x20;
    std::unique_ptr<Stream> stream(ref.OpenFile(1));
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ReadAll(*stream), "glyphs");
}

namespace {

std::string WriteScratch(const rh::testing::ScratchDir& dir, const char* name, const Bytes& bytes) {
    return dir.Write(name, std::string(bytes.begin(), bytes.end()));
}

Bytes ReadFixture(const char* relative) {
    std::ifstream in(std::string(RH_FIXTURES_DIR) + "/" + relative, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// A disk archive is mapped, not copied, and a stream shows its stored member where it lies:
// the stream keeps the mapping alive after the archive is unmounted and its source is gone.
// The same holds for a packed member (the fixture's), decoded into a block of the stream's own,
// and for an archive copied from a block that could not be lent.
TEST(RarFileSourceLent, StreamsOutliveTheMountWhateverHoldsTheirBytes) {
    rh::testing::ScratchDir dir("rh_lent");
    const Bytes media = MediaArchive();
    const Bytes fixture = ReadFixture("rar/Rar2.rar");
    ASSERT_FALSE(fixture.empty());
    struct Case {
        const char* what;
        FileRef archive;
        const char* member;
        size_t size;
        bool archiveBorrowed;
    };
    const Case cases[] = {
        {"stored member of a disk file", FileRef(WriteScratch(dir, "media.rar", media).c_str()),
         "media/readme.txt", 7, false},
        {"packed member of a disk file", FileRef(WriteScratch(dir, "Rar2.rar", fixture).c_str()),
         "jpg/test.jpg", 40372, false},
        {"stored member of a copied block",
         FileRef::Memory(media.data(), int32_t(media.size()), false), "media/readme.txt", 7,
         false},
        {"stored member of a lent block", FileRef::Memory(media.data(), int32_t(media.size())),
         "media/readme.txt", 7, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string expected;
        std::unique_ptr<Stream> viaExists, viaOpen;
        {
            auto source = std::make_unique<ArchiveFileSource>();
            ASSERT_TRUE(source->Mount(c.archive));
            EXPECT_EQ(source->archiveBorrowed(), c.archiveBorrowed);
            std::unique_ptr<Stream> copy(source->Open(c.member, 2));
            ASSERT_NE(copy, nullptr);
            expected.resize(size_t(copy->Size()));
            dynamic_cast<MemStream&>(*copy).rope().CopyBytes(0, copy->Size(), expected.data());
            ASSERT_EQ(expected.size(), c.size);
            ASSERT_TRUE(source->Exists(c.member));
            viaExists.reset(source->Open(c.member, 1));
            viaOpen.reset(source->Open(c.member, 1));
            ASSERT_NE(viaExists, nullptr);
            ASSERT_NE(viaOpen, nullptr);
            source->Unmount();
        }
        EXPECT_EQ(ReadAll(*viaExists), expected);
        EXPECT_EQ(ReadAll(*viaOpen), expected);
    }
}

// A stored member shown in place is still checked there: a damaged one does not exist.
TEST(RarFileSourceLent, DamagedMembersOfAMappedArchiveAreAbsent) {
    rh::testing::ScratchDir dir("rh_lent");
    Bytes media = MediaArchive();
    media[DataOffset(media, "Media\\readme.txt") + 3] ^= 0x01;
    ArchiveFileSource source;
    ASSERT_TRUE(source.Mount(FileRef(WriteScratch(dir, "media.rar", media).c_str())));
    EXPECT_FALSE(source.Exists("media/readme.txt"));
    EXPECT_EQ(source.Open("media/readme.txt", 1), nullptr);
    std::unique_ptr<Stream> sound(source.Open("media/fonts/sylfaen.fs", 1));
    ASSERT_NE(sound, nullptr);
    EXPECT_EQ(ReadAll(*sound), "glyphs");
}
