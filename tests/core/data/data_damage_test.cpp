// The reader on damaged files: cut short at every length, fields that lie, very deep trees,
// and who frees which block when the reader goes.

#include "core/data/data_reader.h"

#include "zwf_test_file.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

// Every shorter file cuts a block of the small tree: the header cannot be read (null) or
// some node cannot (the load answers false); the full file loads. Nothing reads past the
// stream's exactly sized copy (ASan watches).
TEST(DataDamageTest, AFileCutShortAtEveryLength) {
    const std::string full = MakeSmallTree().bytes;
    const int32_t loads[] = {0, kLoadWholeBlock, kLoadKeepBlock | kLoadExpand,
                             kLoadKeepBlock | kLoadBorrowParent, kLoadExpand};
    for (const int32_t flags : loads) {
        for (size_t length = 0; length <= full.size(); ++length) {
            ZwfFile file(full.substr(0, length));
            DataNode* root = file.Open();
            if (length == full.size()) {
                ASSERT_NE(root, nullptr);
                EXPECT_TRUE(root->Load(flags, kExpandBasicArrays)) << flags;
            } else if (root != nullptr) {
                EXPECT_FALSE(root->Load(flags, kExpandBasicArrays))
                    << "flags " << flags << ", length " << length;
            }
            if (length < size_t(MakeSmallTree().rootOffset)) {
                EXPECT_EQ(root, nullptr) << length;
            }
        }
    }
}

// One field of the small tree made to lie. Counts, texts and sizes far beyond the file must
// be refused before anything is allocated for them (ASan refuses gigabyte blocks).
TEST(DataDamageTest, FieldsThatLie) {
    const SmallTree tree = MakeSmallTree();
    const int32_t fileSize = int32_t(tree.bytes.size());
    const struct Case {
        const char* what;
        int32_t at;
        int32_t value;
        bool opens;
        bool loads;
        bool valsLoaded;  // vals came into memory
        bool nameLoaded;  // grp's leaf name came into memory
    } cases[] = {
        {"type count", 22, 0x7fffffff, false, false, false, false},
        {"negative type count", 22, -1, false, false, false, false},
        {"member count", tree.memberCountAt, 0x10000000, false, false, false, false},
        {"root size beyond the file", tree.rootSizeAt, 0x7fffffff, true, true, true, true},
        {"root child count", tree.rootCountAt, 0x7fffffff, true, false, false, false},
        {"negative root child count", tree.rootCountAt, -1, true, false, false, false},
        {"name length", tree.valsNameAt, 0x7ffffff0, true, false, false, false},
        {"negative name length", tree.valsNameAt, -4, true, false, false, false},
        {"leaf size", tree.valsEntryAt + 4, 0x7fffffff, true, false, false, true},
        {"negative leaf size", tree.valsEntryAt + 4, -8, true, false, false, true},
        {"leaf one byte past the end", tree.valsEntryAt, fileSize - 11, true, false, false,
         true},
        {"negative leaf offset", tree.valsEntryAt, -4, true, false, false, true},
        {"compound offset past the end", tree.grpEntryAt, fileSize + 1, true, false, true,
         false},
        {"array count", tree.valsCountAt, 0x7fffffff, true, true, true, true},
        {"link past the end", tree.linkEntryAt, fileSize, true, false, true, true},
    };
    const int32_t loads[] = {0, kLoadKeepBlock, kLoadKeepBlock | kLoadBorrowParent};
    for (const Case& c : cases) {
        for (const int32_t flags : loads) {
            SCOPED_TRACE(std::string(c.what) + ", flags " + std::to_string(flags));
            ZwfBytes f{tree.bytes};
            f.PatchInt(c.at, c.value);
            ZwfFile file(f.bytes);
            DataNode* root = file.Open();
            ASSERT_EQ(root != nullptr, c.opens);
            if (root == nullptr) continue;
            EXPECT_EQ(root->Load(flags, 0), c.loads);
            const DataNode* vals = root->FindChild("vals");
            EXPECT_EQ(vals != nullptr && vals->IsInMemory(), c.valsLoaded);
            const DataNode* grp = root->FindChild("grp");
            const DataNode* name = grp != nullptr ? grp->FindChild("name") : nullptr;
            EXPECT_EQ(name != nullptr && name->IsInMemory(), c.nameLoaded);
            if (name != nullptr && name->IsInMemory()) {
                EXPECT_EQ(std::string(name->DataAsString().Text()), "hello");
            }
        }
    }
}

TEST(DataDamageTest, ALyingArrayCountMakesOnlyTheElementsThatFit) {
    const SmallTree tree = MakeSmallTree();
    ZwfBytes f{tree.bytes};
    f.PatchInt(tree.valsCountAt, 0x7fffffff);
    ZwfFile file(f.bytes);
    DataNode* root = file.Open();
    ASSERT_TRUE(root && root->Load(0, 0));
    DataNode* vals = root->FindChild("vals");
    EXPECT_FALSE(file.reader().ExpandNode(vals, kExpandBasicArrays));
    EXPECT_EQ(vals->Children().count(), 3);
}

// 50000 compound blocks nested one in the next: loading and freeing use no deep recursion.
TEST(DataDamageTest, AVeryDeepTree) {
    constexpr int kDepth = 50000;
    ZwfBytes f;
    const int32_t rootSizeAt = f.Header();
    const int32_t root = f.Pos();
    std::vector<int32_t> entries;
    for (int i = 0; i < kDepth; ++i) {
        const int32_t dir = f.Directory(1);
        entries.push_back(f.Entry("d", "D", 4));
        f.EndDirectory(dir);
        f.PatchInt(entries.back(), f.Pos());
    }
    f.Directory(0);
    // Each block holds every block below it.
    for (const int32_t entry : entries) f.PatchInt(entry + 4, f.Pos() - f.IntAt(entry));
    f.PatchInt(rootSizeAt, f.Pos() - root);
    f.Finish();
    for (const int32_t flags : {0, int32_t(kLoadKeepBlock | kLoadBorrowParent)}) {
        ZwfFile file(f.bytes);
        DataNode* r = file.Open();
        ASSERT_NE(r, nullptr);
        EXPECT_TRUE(r->Load(flags, 0)) << flags;
        int depth = 0;
        for (const DataNode* n = r->FindChild("d"); n != nullptr; n = n->FindChild("d")) ++depth;
        EXPECT_EQ(depth, kDepth) << flags;
    }
}

// The reader frees every node and every block it owns (LSan watches), never a taken block
// (the consumer frees it: a second free would show under ASan) and never a borrowed one; a
// block read again keeps the old one alive for the parts that point into it.
TEST(DataDamageTest, TheReaderFreesWhatItOwns) {
    char* taken = nullptr;
    {
        ZwfFile file(MakeSmallTree().bytes);
        DataNode* root = file.Open();
        ASSERT_TRUE(root && root->Load(kLoadExpand, kExpandBasicArrays));
        DataNode* name = root->FindChild("grp")->FindChild("name");
        taken = name->GetData();
        name->SetDataTaken(true);
        EXPECT_TRUE(name->IsDataTaken());

        ASSERT_TRUE(root->Load(kLoadKeepBlock | kLoadBorrowParent, 0));
        DataNode* grp = root->FindChild("grp");
        ASSERT_TRUE(grp->IsBorrowed());
        const char* before = root->GetData();
        ASSERT_TRUE(root->Load(kLoadWholeBlock | kLoadKeepBlock | kLoadNoChildren, 0));
        EXPECT_NE(root->GetData(), before);
        EXPECT_EQ(grp->DataAsString().length(), grp->GetSize());  // the old block still lives
    }
    ASSERT_NE(taken, nullptr);
    EXPECT_EQ(std::string(taken, 5), "hello");
    delete[] taken;
}

// Size-0 entries are never shared, so a size-0 compound entry that points back at its own
// directory would make a fresh node, reading that directory again, at every level. Such a
// directory does not lie inside its node's block, so the load stops at once. Overlapping
// directories of blocks that do hold them stop once the file's worth of entries is read.
TEST(DataDamageTest, DirectoriesThatRepeatThemselvesStop) {
    for (const int32_t selfSize : {0, 1000}) {
        ZwfBytes b;
        const int32_t rootSizeAt = b.Header();
        const int32_t rootAt = b.Pos();
        const int32_t dir = b.Directory(2);
        const int32_t self = b.Entry("self", "", 4);
        const int32_t other = b.Entry("other", "", 4);
        b.EndDirectory(dir);
        b.Place(self, rootAt, selfSize);
        // A second node over the same directory, one byte in: a directory at every offset.
        b.Place(other, rootAt + 1, selfSize);
        b.PatchInt(rootSizeAt, b.Pos() - rootAt);
        b.Finish();

        ZwfFile file(b.bytes);
        DataNode* root = file.Open();
        ASSERT_NE(root, nullptr);
        EXPECT_FALSE(root->Load(0, 0)) << selfSize;
        ASSERT_NE(root->FindChild("self"), nullptr);
        if (selfSize == 0) {
            EXPECT_EQ(root->FindChild("self")->Children().count(), 0);
        }
    }
}

// The distinct nodes reachable from node through children, node included.
int64_t CountNodes(const DataNode* node) {
    std::set<const DataNode*> seen{node};
    std::vector<const DataNode*> work{node};
    while (!work.empty()) {
        const DataNode* at = work.back();
        work.pop_back();
        const DataNodeMap::Node* entry = at->Children().first();
        for (int32_t i = 0; i < at->Children().count(); ++i, entry = entry->next) {
            if (seen.insert(entry->value).second) work.push_back(entry->value);
        }
    }
    return int64_t(seen.size());
}

// Parts of size 0 cost no data: a type of 200 such members, for each of 200 leaves, would make
// 40000 nodes from a file of 8 KB (and the count grows with the square of the file). The
// load's nodes stop at the file's bound; the data stays readable.
TEST(DataDamageTest, PartsOfSizeZeroStopAtTheFilesNodeBound) {
    const struct Case {
        const char* what;
        ZwfBytes::Member member;  // the member repeated
    } cases[] = {
        {"members of an empty type", {"", "Empty"}},
        {"members of a cyclic type", {"", "Loop"}},
        {"arrays of count 0", {"", "int", 0}},
    };
    constexpr int kMembers = 200;
    constexpr int kLeaves = 200;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ZwfBytes::Type type{"T", {}};
        for (int m = 0; m < kMembers; ++m) {
            ZwfBytes::Member member = c.member;
            member.name = std::to_string(m);
            type.members.push_back(member);
        }
        type.members.push_back({"x", "int"});
        ZwfBytes f;
        const int32_t rootSizeAt = f.Header({{"Empty", {}}, {"Loop", {{"l", "Loop"}}}, type});
        const int32_t root = f.Pos();
        const int32_t dir = f.Directory(kLeaves);
        std::vector<int32_t> entries;
        for (int i = 0; i < kLeaves; ++i) entries.push_back(f.Entry(std::to_string(i), "T", 0));
        f.EndDirectory(dir);
        for (int i = 0; i < kLeaves; ++i) f.Leaf(entries[size_t(i)], IntBytes({i}));
        f.PatchInt(rootSizeAt, f.Pos() - root);
        f.Finish();

        ZwfFile file(f.bytes);
        DataNode* r = file.Open();
        ASSERT_NE(r, nullptr);
        EXPECT_TRUE(r->Load(kLoadExpand, 0));  // expansion failures do not fail a load
        EXPECT_LE(CountNodes(r),
                  int64_t(BinaryDataReader::kNodesPerFileByte) * int64_t(f.bytes.size()));
        for (const char* name : {"0", "199"}) {
            ASSERT_NE(r->FindChild(name), nullptr);
            EXPECT_EQ(r->FindChild(name)->DataAsString().length(), 4);
        }
    }
}
}  // namespace
