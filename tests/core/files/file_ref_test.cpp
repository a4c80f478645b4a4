// Locators: equality against map order, the directory locator, and opening and reading each
// kind of source, with resource and block bytes lent rather than copied.

#include "core/containers/ordered_map.h"
#include "core/files/file_ref.h"
#include "core/files/stream.h"
#include "core/types/byte_buffer.h"

#include "fake_source.h"
#include "tests/support/scratch_dir.h"

#include <cstring>
#include <string>
#include <utility>

namespace {

// The test program's "MemFile" resource 300 (data/resource.txt).
constexpr int32_t kResourceId = 300;
constexpr const char* kResourceText = "resource bytes\n";
constexpr int32_t kAbsentId = 301;

TEST(FileRef, EqualsCountsCaseWhileCompareIgnoresIt) {
    FakeSource one({}), two({});
    const char bytes[] = "abc";
    const char sameBytes[] = "abc";
    struct Case {
        const char* what;
        FileRef a, b;
        bool equals;
        int compare;
    };
    const Case cases[] = {
        {"disk, case differs", FileRef("A.txt"), FileRef("a.txt"), false, 0},
        {"disk, same", FileRef("a.txt"), FileRef("a.txt"), true, 0},
        {"no shared flag", FileRef("a.txt"), FileRef::Resource(1), false, 1},
        {"member, other archive", FileRef::Member(&one, "x"), FileRef::Member(&two, "x"), false,
         &one < &two ? -1 : 1},
        {"member, case differs", FileRef::Member(&one, "X"), FileRef::Member(&one, "x"), false, 0},
        {"blocks with equal bytes", FileRef::Memory(bytes, 3), FileRef::Memory(sameBytes, 3), true, 0},
        {"blocks differ in size", FileRef::Memory(bytes, 3), FileRef::Memory(bytes, 2), false, 0},
        {"blocks without data", FileRef::Memory(nullptr, 0), FileRef::Memory(nullptr, 0), true, 0},
        {"resource ids", FileRef::Resource(5), FileRef::Resource(6), false, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileRef::Equals(c.a, c.b), c.equals) << c.what;
        EXPECT_EQ(FileRef::Compare(c.a, c.b), c.compare) << c.what;
    }
}

// The registry's file index keys disk files and archive members together. Compare fails
// antisymmetry between those two kinds; CompareKeys must be a total order over any mix, agree
// with Compare inside each flag class, and let one map find every key it holds.
TEST(FileRef, CompareKeysIsATotalOrderOverEveryKindOfLocator) {
    FakeSource one({}), two({});
    const char bytes[] = "abc";
    FileRef both = FileRef::Member(&one, "b.txt");
    both.flags |= FileRef::kDisk;
    const FileRef pool[] = {
        FileRef("a.txt"), FileRef("B.txt"), FileRef("b.txt"), both,
        FileRef::Member(&one, "a.txt"), FileRef::Member(&one, "c.txt"), FileRef::Member(&two, "a.txt"),
        FileRef::Resource(3), FileRef::Memory(bytes, 3), FileRef(),
    };
    constexpr int n = sizeof pool / sizeof pool[0];
    auto sign = [](int v) { return v < 0 ? -1 : (v > 0 ? 1 : 0); };
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(FileRef::CompareKeys(pool[i], pool[i]), 0) << i;
        for (int j = 0; j < n; ++j) {
            const int ij = sign(FileRef::CompareKeys(pool[i], pool[j]));
            EXPECT_EQ(ij, -sign(FileRef::CompareKeys(pool[j], pool[i]))) << i << " against " << j;
            auto has = [&](int at, int32_t flag) { return (pool[at].flags & flag) != 0; };
            const bool sameClass = has(i, FileRef::kDisk) == has(j, FileRef::kDisk) &&
                                   has(i, FileRef::kArchive) == has(j, FileRef::kArchive);
            if (sameClass || (pool[i].flags & pool[j].flags & FileRef::kDisk) != 0) {
                EXPECT_EQ(ij, sign(FileRef::Compare(pool[i], pool[j]))) << i << " against " << j;
            }
            for (int k = 0; k < n; ++k) {
                const int jk = sign(FileRef::CompareKeys(pool[j], pool[k]));
                const int ik = sign(FileRef::CompareKeys(pool[i], pool[k]));
                if (ij <= 0 && jk <= 0) {
                    EXPECT_LE(ik, 0) << i << " " << j << " " << k;
                }
                if (ij == 0 && jk == 0) {
                    EXPECT_EQ(ik, 0) << i << " " << j << " " << k;
                }
            }
        }
    }
    // The pair Compare gets wrong: each says it orders after the other.
    const FileRef disk("a.txt");
    const FileRef member = FileRef::Member(&one, "a.txt");
    EXPECT_EQ(FileRef::Compare(disk, member), 1);
    EXPECT_EQ(FileRef::Compare(member, disk), 1);
    EXPECT_EQ(FileRef::CompareKeys(member, disk), -1);

    OrderedMap<FileRef, int, FileRefOrder> index;
    for (int i = 0; i < n; ++i) index.Insert(pool[i], i, 1);
    for (int i = 0; i < n; ++i) {
        int found = -1;
        ASSERT_NE(index.Find(pool[i], found), nullptr) << i;
        // Keys that compare 0 share an entry: names differing only in case, and the locators
        // without disk or archive flag.
        EXPECT_EQ(FileRef::CompareKeys(pool[found], pool[i]), 0) << i;
    }
}

TEST(FileRef, LocationIsTheDirectoryWithTheSameSources) {
    FakeSource archive({});
    FileRef ref = FileRef::Member(&archive, "Media\\Fonts/big.fs");
    ref.flags |= FileRef::kDisk | FileRef::kResource;
    ref.resourceId = 7;
    const FileRef location = ref.Location();
    EXPECT_EQ(location.flags, FileRef::kDisk | FileRef::kArchive);
    EXPECT_STREQ(location.name.Text(), "Media\\Fonts");
    EXPECT_EQ(location.archive, &archive);
    EXPECT_EQ(location.resourceId, 0);
    EXPECT_EQ(FileRef("").Location().flags, 0);  // no name: not a disk directory
}

using FileRefOpen = rh::testing::ScratchDirTest;

TEST_F(FileRefOpen, ResourceIsLentAndNarrowsTheFlags) {
    FileRef ref = FileRef::Resource(kResourceId);
    ref.flags |= FileRef::kDisk;
    Stream* stream = ref.OpenFile(1);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ref.flags, FileRef::kResource);
    char buffer[64] = {};
    EXPECT_EQ(stream->Read(buffer, sizeof buffer), int32_t(std::strlen(kResourceText)));
    EXPECT_STREQ(buffer, kResourceText);
    delete stream;
}

TEST_F(FileRefOpen, AbsentResourceFallsBackToDisk) {
    WriteFile("disk.txt", "on disk");
    FileRef ref("disk.txt");
    ref.flags |= FileRef::kResource;
    ref.resourceId = kAbsentId;
    Stream* stream = ref.OpenFile(1);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ref.flags, FileRef::kDisk);
    EXPECT_EQ(stream->Size(), 7);
    delete stream;

    FileRef missing("missing.txt");
    missing.flags |= FileRef::kResource;
    missing.resourceId = kAbsentId;
    EXPECT_EQ(missing.OpenFile(1), nullptr);
}

TEST_F(FileRefOpen, ArchiveMemberOpensThroughItsSource) {
    FakeSource archive({{"m.txt", "member"}});
    FileRef ref = FileRef::Member(&archive, "m.txt");
    ref.flags |= FileRef::kDisk;  // no such disk file: the archive answers
    Stream* stream = ref.OpenFile(1);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(ref.flags, FileRef::kArchive);
    EXPECT_EQ(stream->Size(), 6);
    delete stream;
}

TEST_F(FileRefOpen, BlockInWriteModeIsACopyInTheRope) {
    char block[] = "0123";
    FileRef ref = FileRef::Memory(block, 4);
    Stream* stream = ref.OpenFile(2);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(stream->Write("ab", 2), 2);
    EXPECT_STREQ(block, "0123");  // the caller's block is untouched
    EXPECT_EQ(stream->Size(), 4);
    delete stream;
}

struct WholeRead {
    bool ok;
    std::string bytes;
    bool lent;
    bool mayBorrow;
};

WholeRead ReadWhole(FileRef ref, bool mayBorrow, const void* lender) {
    String out;
    WholeRead result;
    result.ok = ref.ReadWholeFile(out, &mayBorrow);
    result.bytes.assign(out.Text(), size_t(out.length()));
    result.lent = out.borrowed() && lender != nullptr && out.data() == lender;
    result.mayBorrow = mayBorrow;
    return result;
}

using ReadWholeFile = rh::testing::ScratchDirTest;

TEST_F(ReadWholeFile, LendsOnlyWhenAllowedAndPossible) {
    const uint8_t* resource = nullptr;
    int32_t resourceSize = 0;
    ASSERT_TRUE(LoadResourceData(kResourceId, "MemFile", &resource, &resourceSize));
    const char block[] = "block";
    WriteFile("disk.txt", "disk bytes");

    struct Case {
        const char* what;
        FileRef ref;
        bool mayBorrow;
        const void* lender;
        WholeRead expected;
    };
    const Case cases[] = {
        {"resource, may borrow", FileRef::Resource(kResourceId), true, resource,
         {true, kResourceText, true, true}},
        {"resource, copy", FileRef::Resource(kResourceId), false, resource,
         {true, kResourceText, false, false}},
        {"block, may borrow", FileRef::Memory(block, 5), true, block, {true, "block", true, true}},
        {"block that must be copied", FileRef::Memory(block, 5, false), true, block,
         {true, "block", false, false}},
        {"disk clears the flag", FileRef("disk.txt"), true, nullptr,
         {true, "disk bytes", false, false}},
        {"nothing opens", FileRef("missing.txt"), true, nullptr, {false, "", false, false}},
    };
    for (const Case& c : cases) {
        const WholeRead got = ReadWhole(c.ref, c.mayBorrow, c.lender);
        EXPECT_EQ(got.ok, c.expected.ok) << c.what;
        EXPECT_EQ(got.bytes, c.expected.bytes) << c.what;
        EXPECT_EQ(got.lent, c.expected.lent) << c.what;
        EXPECT_EQ(got.mayBorrow, c.expected.mayBorrow) << c.what;
    }
}

TEST_F(ReadWholeFile, IntoAByteBufferAlwaysCopies) {
    WriteFile("disk.txt", "disk bytes");
    ByteBuffer buffer;
    FileRef disk("disk.txt");
    ASSERT_TRUE(disk.ReadWholeFile(buffer));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.Data()), size_t(buffer.Size())),
              "disk bytes");
    FileRef resource = FileRef::Resource(kResourceId);
    ASSERT_TRUE(resource.ReadWholeFile(buffer));
    EXPECT_EQ(buffer.Size(), int32_t(std::strlen(kResourceText)));
    WriteFile("empty.txt", "");
    FileRef empty("empty.txt");
    EXPECT_TRUE(empty.ReadWholeFile(buffer));
    EXPECT_EQ(buffer.Size(), 0);
}

// MapWholeFile gives what ReadWholeFile gives from every source; a disk file comes as a
// copy-on-write view, which outlives the locator and keeps its writes from the file.
TEST_F(ReadWholeFile, MappingGivesTheSameBytesAndKeepsWritesFromTheFile) {
    const std::string big(100000, 'b');
    WriteFile("big.bin", big);
    WriteFile("empty.txt", "");
    const char block[] = "block";
    FakeSource archive({{"m.txt", "member"}});
    FileRef member("m.txt");
    member.flags |= FileRef::kArchive;  // no such disk file: the archive answers
    member.archive = &archive;

    struct Case {
        const char* what;
        FileRef ref;
        bool ok;
        int32_t narrowed;  // the flags afterwards
    };
    const Case cases[] = {
        {"disk", FileRef("big.bin"), true, FileRef::kDisk},
        {"empty disk file", FileRef("empty.txt"), true, FileRef::kDisk},
        {"resource", FileRef::Resource(kResourceId), true, FileRef::kResource},
        {"block", FileRef::Memory(block, 5), true, FileRef::kMemory},
        {"archive member", member, true, FileRef::kArchive},
        {"nothing opens", FileRef("missing.txt"), false, FileRef::kDisk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FileRef read = c.ref, mapped = c.ref;
        ByteBuffer expected, got;
        ASSERT_EQ(read.ReadWholeFile(expected), c.ok);
        ASSERT_EQ(mapped.MapWholeFile(got), c.ok);
        EXPECT_FALSE(ByteBuffersDiffer(expected, got));
        EXPECT_EQ(mapped.flags, c.narrowed);
    }

    ByteBuffer view;
    {
        FileRef disk("big.bin");
        ASSERT_TRUE(disk.MapWholeFile(view));
    }
    ByteBuffer moved = std::move(view);
    ASSERT_EQ(moved.Size(), 100000);
    moved.Data()[0] = 'X';
    ByteBuffer onDisk;
    ASSERT_TRUE(FileRef("big.bin").ReadWholeFile(onDisk));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(onDisk.Data()), 100000), big);
    moved.Resize(10);  // another size: the view goes, a block comes
    EXPECT_EQ(moved.Size(), 10);
}

// A stream that promises more bytes than it holds, as a file that shrank after its size was
// taken would.
class ShrunkStream : public MemStream {
public:
    int32_t Size() override { return MemStream::Size() + 6; }
};

class ShrunkSource : public FakeSource {
public:
    ShrunkSource() : FakeSource({}) {}
    Stream* Open(String, int mode) override {
        ShrunkStream* stream = new ShrunkStream;
        stream->Open("", mode);
        stream->ShowData("four", 4, true);
        return stream;
    }
};

TEST_F(ReadWholeFile, AShortReadFails) {
    ShrunkSource archive;
    FileRef ref = FileRef::Member(&archive, "any");
    ByteBuffer buffer;
    EXPECT_FALSE(ref.ReadWholeFile(buffer));
    EXPECT_EQ(buffer.Size(), 0);
    String text;
    bool mayBorrow = true;
    EXPECT_FALSE(ref.ReadWholeFile(text, &mayBorrow));
    EXPECT_FALSE(mayBorrow);
}

}  // namespace
