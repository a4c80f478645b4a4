// Resolving names: the order of the sources, name cleaning, candidates built from directories
// and archive prefixes, and the cursors that make the last match the first one tried.

#include "core/files/search_paths.h"

#include "fake_source.h"
#include "tests/support/scratch_dir.h"

#include <string>
#include <vector>

namespace {

constexpr int32_t kResourceId = 300;  // data/resource.txt
constexpr int32_t kAbsentId = 301;

using SearchPathsTest = rh::testing::ScratchDirTest;

std::string Name(const FileRef& ref) { return ref.name.Text(); }

std::vector<std::string> WalkOrder(const LinkedList<FileRef>& ring) {
    std::vector<std::string> names;
    const LinkedList<FileRef>::Node* node = ring.cursor();
    for (int32_t i = 0; i < ring.count(); ++i, node = node->next) names.push_back(Name(node->element));
    return names;
}

TEST(SearchPaths, NewEntriesAreTriedFirstAndDuplicatesSkipped) {
    SearchPaths paths;
    paths.Add(FileRef("d1"));
    paths.Add(FileRef("d2"));
    paths.Add(FileRef("d3"));
    paths.Add(FileRef("d1"));  // already there
    EXPECT_EQ(WalkOrder(paths.directories()), (std::vector<std::string>{"d3", "d1", "d2"}));

    // A copy walks the same way; a merge adds from the other's cursor.
    SearchPaths copy(paths);
    EXPECT_EQ(WalkOrder(copy.directories()), (std::vector<std::string>{"d3", "d1", "d2"}));
    SearchPaths merged;
    merged.Add(FileRef("d0"));
    merged.Merge(paths);
    EXPECT_EQ(WalkOrder(merged.directories()), (std::vector<std::string>{"d2", "d0", "d3", "d1"}));

    FakeSource archive({});
    FileRef both = FileRef::Member(&archive, "Media");
    both.flags |= FileRef::kDisk;
    paths.Add(both);  // a locator with both flags joins both rings
    EXPECT_EQ(paths.directories().count(), 4);
    EXPECT_EQ(paths.archives().count(), 1);
    paths.Add(FileRef::Member(nullptr, "no archive"));
    EXPECT_EQ(paths.archives().count(), 1);
}

TEST_F(SearchPathsTest, SourcesAreTriedInOrder) {
    WriteFile("here.txt", "x");
    WriteFile("dir/there.txt", "x");
    FakeSource archive({{"member.txt", "x"}});
    SearchPaths paths;
    paths.Add(FileRef("dir"));
    paths.Add(FileRef::Member(&archive, ""));
    const char block[] = "b";

    struct Case {
        const char* what;
        int32_t flags;
        int32_t resourceId;
        const char* name;
        bool found;
        int32_t flagsAfter;
        const char* nameAfter;
    };
    const int32_t all = FileRef::kDisk | FileRef::kArchive | FileRef::kResource | FileRef::kMemory;
    const int32_t loaders = FileRef::kDisk | FileRef::kArchive;
    const Case cases[] = {
        {"memory block first", all, kResourceId, "here.txt", true, FileRef::kMemory, "here.txt"},
        {"then the resource", all & ~FileRef::kMemory, kResourceId, "here.txt", true,
         FileRef::kResource, "here.txt"},
        {"absent resource: the disk", all & ~FileRef::kMemory, kAbsentId, "/here.txt", true,
         FileRef::kDisk, "here.txt"},
        {"then the directories", loaders, 0, "there.txt", true, FileRef::kDisk, "dir/there.txt"},
        {"then the archives", loaders, 0, "member.txt", true, FileRef::kArchive, "member.txt"},
        {"disk only: no archive", FileRef::kDisk, 0, "member.txt", false, FileRef::kDisk,
         "member.txt"},
        {"nowhere: unchanged", loaders, 0, "/nowhere.txt", false, loaders, "/nowhere.txt"},
    };
    for (const Case& c : cases) {
        FileRef ref(c.name);
        ref.flags = c.flags;
        ref.resourceId = c.resourceId;
        ref.block = {reinterpret_cast<const uint8_t*>(block), 1};
        EXPECT_EQ(paths.ResolveFile(ref), c.found) << c.what;
        EXPECT_EQ(ref.flags, c.flagsAfter) << c.what;
        EXPECT_EQ(Name(ref), c.nameAfter) << c.what;
    }
}

TEST_F(SearchPathsTest, LeadingSlashesGoBeforeLeadingBackslashes) {
    FakeSource archive({{"x", "1"}});
    SearchPaths paths;
    paths.Add(FileRef::Member(&archive, ""));
    for (const char* name : {"/\\x", "x", "//\\\\x"}) {
        FileRef ref = FileRef::Member(nullptr, name);
        EXPECT_TRUE(paths.ResolveFile(ref)) << name;
        EXPECT_EQ(Name(ref), "x") << name;
    }
    FileRef backslashFirst = FileRef::Member(nullptr, "\\/x");
    EXPECT_FALSE(paths.ResolveFile(backslashFirst));
    EXPECT_EQ(archive.asked.back(), "/x");  // the slash after the backslash stays
}

TEST_F(SearchPathsTest, DirectoryCandidates) {
    WriteFile("a/b/c.txt", "x");  // and no c.txt in the working directory
    struct Case {
        const char* directory;
        const char* name;
        const char* candidate;
    };
    const Case cases[] = {
        {"a/b/", "c.txt", "a/b/c.txt"},
        {"a/b\\", "c.txt", "a/b/c.txt"},
        {"a/b", "\\c.txt", "a/b/c.txt"},
    };
    for (const Case& c : cases) {
        SearchPaths paths;
        paths.Add(FileRef(c.directory));
        FileRef ref(c.name);
        EXPECT_TRUE(paths.ResolveFile(ref)) << c.directory;
        EXPECT_EQ(Name(ref), c.candidate) << c.directory;
    }
}

TEST_F(SearchPathsTest, TheLastMatchingDirectoryIsTriedFirstNextTime) {
    WriteFile("d2/shared.txt", "2");
    WriteFile("d3/shared.txt", "3");
    WriteFile("d2/only2.txt", "2");
    SearchPaths paths;
    paths.Add(FileRef("d3"));
    paths.Add(FileRef("d2"));
    paths.Add(FileRef("d1"));  // walk order d1, d3, d2
    FileRef shared("shared.txt");
    ASSERT_TRUE(paths.ResolveFile(shared));
    EXPECT_EQ(Name(shared), "d3/shared.txt");

    FileRef only2("only2.txt");  // found in d2, the last of three
    ASSERT_TRUE(paths.ResolveFile(only2));
    EXPECT_EQ(WalkOrder(paths.directories()), (std::vector<std::string>{"d2", "d1", "d3"}));
    FileRef again("shared.txt");
    ASSERT_TRUE(paths.ResolveFile(again));
    EXPECT_EQ(Name(again), "d2/shared.txt");

    FileRef missing("missing.txt");  // a full lap leaves the cursor where it was
    EXPECT_FALSE(paths.ResolveFile(missing));
    EXPECT_EQ(WalkOrder(paths.directories()).front(), "d2");
}

TEST(SearchPaths, ArchivePrefixesThenBareNames) {
    FakeSource media({{"Media/x", "1"}, {"y", "2"}});
    FakeSource other({{"y", "3"}, {"z", "4"}});
    SearchPaths paths;
    paths.Add(FileRef::Member(&other, "Other\\"));
    paths.Add(FileRef::Member(&media, "Media/"));  // walk order media, other

    FileRef x = FileRef::Member(nullptr, "x");
    ASSERT_TRUE(paths.ResolveFile(x));
    EXPECT_EQ(x.archive, &media);
    EXPECT_EQ(Name(x), "Media/x");

    // No prefixed candidate anywhere: every archive is asked for the bare name, in ring order.
    FileRef z = FileRef::Member(nullptr, "z");
    ASSERT_TRUE(paths.ResolveFile(z));
    EXPECT_EQ(z.archive, &other);
    EXPECT_EQ(Name(z), "z");
    EXPECT_EQ(other.asked, (std::vector<std::string>{"Other/z", "z"}));

    // A locator that already names an archive asks it first, with the cleaned name.
    FileRef own = FileRef::Member(&other, "/y");
    ASSERT_TRUE(paths.ResolveFile(own));
    EXPECT_EQ(own.archive, &other);
    EXPECT_EQ(Name(own), "y");
}

// An archive that goes away takes its entries out of both rings; the rest keep their order,
// and a name then resolves without touching it.
TEST(SearchPaths, ForgettingAnArchive) {
    FakeSource gone({{"y", "1"}});
    FakeSource kept({{"y", "2"}});
    SearchPaths paths;
    paths.Add(FileRef("d1"));
    FileRef both = FileRef::Member(&gone, "Media");
    both.flags |= FileRef::kDisk;
    paths.Add(both);
    paths.Add(FileRef::Member(&kept, ""));
    paths.Add(FileRef::Member(&gone, "Other"));
    paths.Add(FileRef("d2"));
    paths.ForgetArchive(&gone);
    EXPECT_EQ(WalkOrder(paths.directories()), (std::vector<std::string>{"d2", "d1"}));
    ASSERT_EQ(paths.archives().count(), 1);
    EXPECT_EQ(paths.archives().Current().archive, &kept);
    FileRef y = FileRef::Member(nullptr, "y");
    ASSERT_TRUE(paths.ResolveFile(y));
    EXPECT_EQ(y.archive, &kept);
    EXPECT_TRUE(gone.asked.empty());
    paths.ForgetArchive(&kept);
    paths.ForgetArchive(nullptr);
    EXPECT_EQ(paths.archives().count(), 0);
    EXPECT_EQ(paths.directories().count(), 2);
}

}  // namespace
