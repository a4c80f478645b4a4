// The binary data reader on well-formed files: the header, the camera-path shape, directories
// with shared offsets and repeated names, link entries, and where each load flag takes a
// node's bytes from.

#include "core/data/data_reader.h"

#include "core/files/disk_stream.h"
#include "tests/support/scratch_dir.h"

#include "zwf_test_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

std::vector<std::string> ChildNames(const DataNode* node) {
    std::vector<std::string> names;
    const DataNodeMap::Node* entry = node->Children().first();
    for (int32_t i = 0; i < node->Children().count(); ++i, entry = entry->next) {
        names.emplace_back(entry->key.Text(), size_t(entry->key.length()));
    }
    return names;
}

std::string Data(const DataNode* node) {
    return node->GetData() ? std::string(node->GetData(), size_t(node->GetSize())) : "<none>";
}

// A camera-path file as the media have it: 20 "pos" and 20 "rot" keys of 32 bytes each,
// listed as pos0, rot0, pos1, ... and a root size 4 bytes larger than what follows it.
std::string CameraPath() {
    ZwfBytes f;
    const int32_t rootSizeAt = f.Header();
    const int32_t root = f.Pos();
    const int32_t dir = f.Directory(40);
    std::vector<int32_t> entries;
    for (int i = 0; i < 20; ++i) {
        entries.push_back(f.Entry("pos" + std::to_string(i), "pos", 0));
        entries.push_back(f.Entry("rot" + std::to_string(i), "rot", 0));
    }
    f.EndDirectory(dir);
    for (size_t i = 0; i < entries.size(); ++i) f.Leaf(entries[i], std::string(32, char('A' + i)));
    f.PatchInt(rootSizeAt, f.Pos() - root + 4);
    f.Finish();
    return f.bytes;
}

TEST(DataReaderTest, ReadsACameraPathFile) {
    ZwfFile file(CameraPath());
    DataNode* root = file.Open();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(std::string(root->GetName().Text()), "_root");
    EXPECT_EQ(std::string(root->GetTypeName().Text()), "_roottype");
    EXPECT_EQ(root->GetFlags(), kDataNodeCompound);
    EXPECT_EQ(root->GetOffset(), 30);
    EXPECT_EQ(root->GetSize(), 2272);
    EXPECT_EQ(ZwfBytes{file.bytes()}.IntAt(30), 988) << "directory size";
    EXPECT_FALSE(root->IsListed());

    ASSERT_TRUE(root->Load(0, 0));
    EXPECT_TRUE(root->IsListed());
    EXPECT_FALSE(root->IsInMemory()) << "flags 0 read the directory straight from the file";
    ASSERT_EQ(root->Children().count(), 40);
    const std::vector<std::string> names = ChildNames(root);
    EXPECT_EQ(names[0], "pos0");
    EXPECT_EQ(names[1], "rot0");
    EXPECT_EQ(names[39], "rot19");
    int32_t expectedOffset = 30 + 988;
    for (int i = 0; i < 40; ++i) {
        const DataNode* key = root->FindChild(names[size_t(i)].c_str());
        ASSERT_NE(key, nullptr);
        EXPECT_EQ(key->GetSize(), 32);
        EXPECT_EQ(key->GetOffset(), expectedOffset) << names[size_t(i)];
        EXPECT_EQ(Data(key), std::string(32, char('A' + i)));
        EXPECT_EQ(key->GetParent(), root);
        EXPECT_FALSE(key->IsBorrowed());
        expectedOffset += 32;
    }
    EXPECT_EQ(std::string(root->FindChild("rot7")->GetTypeName().Text()), "rot");
}

// The root's block reaches 4 bytes past the file: read whole, it is cut at the end.
TEST(DataReaderTest, KeepsACameraPathRootBlockCutAtTheEndOfTheFile) {
    ZwfFile file(CameraPath());
    DataNode* root = file.Open();
    ASSERT_NE(root, nullptr);
    ASSERT_TRUE(root->Load(kLoadKeepBlock | kLoadBorrowParent, 0));
    EXPECT_TRUE(root->IsInMemory());
    EXPECT_EQ(root->GetSize(), 2268);
    const DataNode* last = root->FindChild("rot19");
    ASSERT_NE(last, nullptr);
    EXPECT_TRUE(last->IsBorrowed());
    EXPECT_EQ(last->GetData(), root->GetData() + (last->GetOffset() - root->GetOffset()));
    EXPECT_EQ(Data(last), std::string(32, char('A' + 39)));
}

TEST(DataReaderTest, ReadsFromADiskFile) {
    const rh::testing::ScratchDir scratch("rh_zwf");
    const SmallTree tree = MakeSmallTree();
    const std::string path = scratch.Write("tree.zwf", tree.bytes);
    {
        DiskStream stream;
        ASSERT_TRUE(stream.Open(path.c_str(), 1));
        BinaryDataReader reader;
        DataNode* root = reader.OpenStream(&stream);
        ASSERT_NE(root, nullptr);
        EXPECT_TRUE(root->Load(0, 0));
        EXPECT_EQ(Data(root->FindChild("grp")->FindChild("name")), "hello");
        reader.CloseDataFile();
        EXPECT_EQ(stream.Tell(), -1) << "closed";
    }
}

TEST(DataReaderTest, RefusesAnyOtherMagic) {
    const std::string magics[] = {"zwf binary 1.0", "ZWF BINARY 1.0", "ZWF Binary 1.1",
                                  "ZWF Binary 1.", std::string("ZWF Binary 1.0\0", 15), ""};
    for (const std::string& magic : magics) {
        ZwfBytes f;
        f.Header({}, magic);
        f.Directory(0);
        f.Finish();
        ZwfFile file(f.bytes);
        EXPECT_EQ(file.Open(), nullptr) << magic;
        EXPECT_EQ(file.stream().closes, 1) << magic;
    }
}

TEST(DataReaderTest, ClosesButDoesNotDeleteTheStream) {
    ZwfFile file(MakeSmallTree().bytes);
    ASSERT_NE(file.Open(), nullptr);
    EXPECT_EQ(file.stream().closes, 0);
    file.reader().CloseDataFile();
    EXPECT_EQ(file.stream().closes, 1);
    file.reader().CloseDataFile();  // nothing left to close
    EXPECT_EQ(file.stream().closes, 1);
}

TEST(DataReaderTest, LoadsTheSmallTree) {
    const SmallTree tree = MakeSmallTree();
    ZwfFile file(tree.bytes);
    DataNode* root = file.Open();
    ASSERT_NE(root, nullptr);
    ASSERT_TRUE(root->Load(0, 0));
    EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"vals", "grp"}));
    DataNode* vals = root->FindChild("vals");
    DataNode* grp = root->FindChild("grp");
    ASSERT_TRUE(vals && grp);
    EXPECT_EQ(vals->GetFlags(), kDataNodeArray);
    EXPECT_EQ(vals->GetArrayCount(), 3);
    EXPECT_EQ(Data(vals), IntBytes({7, 8, 9}));
    EXPECT_EQ(grp->GetFlags(), kDataNodeCompound);
    EXPECT_EQ(grp->GetOffset(), tree.grpOffset);
    EXPECT_EQ(grp->GetData(), nullptr);

    // The link entry "v" shares vals: listed under vals' own name, marked as a link, and
    // vals keeps its parent.
    EXPECT_EQ(ChildNames(grp), (std::vector<std::string>{"name", "pos", "vals"}));
    EXPECT_EQ(grp->FindChild("vals"), vals);
    EXPECT_EQ(grp->FindChild("v"), nullptr);
    EXPECT_TRUE(grp->IsLinkChild(vals));
    EXPECT_FALSE(root->IsLinkChild(vals));
    EXPECT_EQ(vals->GetParent(), root);
    EXPECT_EQ(vals->GetFlags() & kDataNodeLink, 0);
}

TEST(DataReaderTest, FindChildComparesWithCase) {
    ZwfFile file(MakeSmallTree().bytes);
    DataNode* root = file.Open();
    ASSERT_TRUE(root && root->Load(0, 0));
    EXPECT_NE(root->FindChild("vals"), nullptr);
    for (const char* name : {"Vals", "VALS", "vals ", "val", ""}) {
        EXPECT_EQ(root->FindChild(name), nullptr) << name;
    }
}

// Two sub-directories whose entries share offsets:
//   a: x (4 bytes at L), z0 (size 0 at M), s0 (size 0 at N)
//   b: y (4 bytes at L), z1 (size 0 at M), s1 (8 bytes at N)
//   c: s2 (8 bytes at N)
TEST(DataReaderTest, EntriesOfOneOffsetShareTheFirstNodeWithASize) {
    ZwfBytes f;
    const int32_t rootSizeAt = f.Header();
    const int32_t root = f.Pos();
    const int32_t dir = f.Directory(3);
    const int32_t a = f.Entry("a", "A", 4);
    const int32_t b = f.Entry("b", "B", 4);
    const int32_t c = f.Entry("c", "C", 4);
    f.EndDirectory(dir);
    const int32_t shared = f.Pos();
    f.Raw(IntBytes({42, 43}));
    const int32_t empty = shared + 2;  // no block starts there

    const int32_t aStart = f.BeginBlock(a);
    const int32_t aDir = f.Directory(3);
    f.Place(f.Entry("x", "int", 0), shared, 4);
    f.Place(f.Entry("z0", "int", 0), empty, 0);
    f.Place(f.Entry("s0", "int", 0), shared + 4, 0);
    f.EndDirectory(aDir);
    f.EndBlock(a, aStart);
    const int32_t bStart = f.BeginBlock(b);
    const int32_t bDir = f.Directory(3);
    f.Place(f.Entry("y", "int", 0), shared, 4);
    f.Place(f.Entry("z1", "int", 0), empty, 0);
    f.Place(f.Entry("s1", "int", 0), shared + 4, 4);
    f.EndDirectory(bDir);
    f.EndBlock(b, bStart);
    const int32_t cStart = f.BeginBlock(c);
    const int32_t cDir = f.Directory(1);
    f.Place(f.Entry("s2", "int", 0), shared + 4, 4);
    f.EndDirectory(cDir);
    f.EndBlock(c, cStart);
    f.PatchInt(rootSizeAt, f.Pos() - root);
    f.Finish();

    ZwfFile file(f.bytes);
    DataNode* r = file.Open();
    ASSERT_TRUE(r && r->Load(0, 0));
    DataNode* na = r->FindChild("a");
    DataNode* nb = r->FindChild("b");
    DataNode* nc = r->FindChild("c");
    ASSERT_TRUE(na && nb && nc);

    // b's entry y reuses a's node x, under x's name; its parent is now b.
    EXPECT_EQ(ChildNames(nb), (std::vector<std::string>{"x", "z1", "s1"}));
    EXPECT_EQ(nb->FindChild("x"), na->FindChild("x"));
    EXPECT_EQ(na->FindChild("x")->GetParent(), nb);
    EXPECT_EQ(Data(na->FindChild("x")), IntBytes({42}));
    // Entries of size 0 never make a node for others to share...
    EXPECT_NE(na->FindChild("z0"), nb->FindChild("z1"));
    // ...but reuse one that is there: s1 is the first of its offset with a size, c shares it.
    EXPECT_NE(na->FindChild("s0"), nb->FindChild("s1"));
    EXPECT_EQ(nc->FindChild("s1"), nb->FindChild("s1"));
    EXPECT_EQ(nc->FindChild("s2"), nullptr);
}

TEST(DataReaderTest, ASecondEntryOfTheSameNameReplacesTheFirstInPlace) {
    ZwfBytes f;
    const int32_t rootSizeAt = f.Header();
    const int32_t root = f.Pos();
    const int32_t dir = f.Directory(3);
    const int32_t k1 = f.Entry("k", "int", 0);
    const int32_t m = f.Entry("m", "int", 0);
    const int32_t k2 = f.Entry("k", "int", 0);
    f.EndDirectory(dir);
    f.Leaf(k1, IntBytes({1}));
    f.Leaf(m, IntBytes({2}));
    f.Leaf(k2, IntBytes({3}));
    f.PatchInt(rootSizeAt, f.Pos() - root);
    f.Finish();

    ZwfFile file(f.bytes);
    DataNode* r = file.Open();
    ASSERT_TRUE(r && r->Load(0, 0));
    EXPECT_EQ(ChildNames(r), (std::vector<std::string>{"k", "m"}));
    EXPECT_EQ(Data(r->FindChild("k")), IntBytes({3}));
}

// Where a node's bytes come from under each load flag, for grp and its leaf name of the
// small tree. The file's bytes are lent to the stream, and after the first load the test
// rewrites "hello" in the file to "HELLO": a node that reads the file afterwards sees the
// change, one taken from a block in memory does not.
TEST(DataReaderTest, EachLoadFlagTakesTheBytesFromItsSource) {
    struct Case {
        const char* what;
        int32_t rootFlags;  // the first load, of the root
        int32_t grpFlags;   // the second load, of grp, after the file changed
        bool rootInMemory;
        bool grpInMemory;
        bool grpBorrowed;   // grp's data points into the root's block
        bool nameBorrowed;  // name's data points into grp's block
        const char* name;   // name's data after the second load
    };
    const Case cases[] = {
        {"0: straight from the file", kLoadNoChildren, 0, false, false, false, false, "HELLO"},
        {"0x10: the block read whole, not kept", kLoadNoChildren, kLoadWholeBlock, false,
         false, false, false, "HELLO"},
        {"0x40: own blocks all the way down", kLoadKeepBlock, kLoadNoChildren, true, true,
         false, false, "hello"},
        {"0x40|0x80: borrowed from the root's block", kLoadKeepBlock | kLoadBorrowParent,
         kLoadNoChildren, true, true, true, true, "hello"},
        {"0x20: grp listed from the root's block; name, whose parent has no block, from the "
         "file",
         kLoadKeepBlock | kLoadNoChildren, kLoadFromParent, true, false, false, false, "HELLO"},
        {"0x20|0x40: grp and name own copies of their parts of the root's block",
         kLoadKeepBlock | kLoadNoChildren, kLoadFromParent | kLoadKeepBlock, true, true, false,
         false, "hello"},
        {"0x80 without a parent block: read", kLoadNoChildren, kLoadBorrowParent, false, false,
         false, false, "HELLO"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ZwfFile file(MakeSmallTree().bytes, /*lend=*/true);
        DataNode* root = file.Open();
        ASSERT_NE(root, nullptr);
        ASSERT_TRUE(root->Load(c.rootFlags, 0));
        const size_t hello = file.bytes().find("hello");
        file.bytes().replace(hello, 5, "HELLO");
        DataNode* grp = root->FindChild("grp");
        ASSERT_NE(grp, nullptr);
        ASSERT_TRUE(grp->Load(c.grpFlags, 0));
        DataNode* name = grp->FindChild("name");
        ASSERT_NE(name, nullptr);

        EXPECT_EQ(root->IsInMemory(), c.rootInMemory);
        EXPECT_EQ(grp->IsInMemory(), c.grpInMemory);
        EXPECT_EQ(grp->IsBorrowed(), c.grpBorrowed);
        if (c.grpBorrowed) {
            EXPECT_EQ(grp->GetData(), root->GetData() + (grp->GetOffset() - root->GetOffset()));
        }
        EXPECT_EQ(name->IsBorrowed(), c.nameBorrowed);
        if (c.nameBorrowed) {
            EXPECT_EQ(name->GetData(), grp->GetData() + (name->GetOffset() - grp->GetOffset()));
        }
        EXPECT_EQ(Data(name), c.name);
    }
}

// 0x80 alone: a leaf points into its parent's block once that is in memory.
TEST(DataReaderTest, BorrowFlagAloneTakesALeafFromItsParentsBlock) {
    ZwfFile file(MakeSmallTree().bytes);
    DataNode* root = file.Open();
    ASSERT_TRUE(root && root->Load(kLoadKeepBlock | kLoadNoChildren, 0));
    DataNode* grp = root->FindChild("grp");
    ASSERT_TRUE(grp->Load(kLoadFromParent | kLoadKeepBlock | kLoadNoChildren, 0));
    DataNode* name = grp->FindChild("name");
    ASSERT_TRUE(name->Load(kLoadBorrowParent, 0));
    EXPECT_TRUE(name->IsBorrowed());
    EXPECT_EQ(name->GetData(), grp->GetData() + (name->GetOffset() - grp->GetOffset()));
    EXPECT_EQ(Data(name), "hello");
}

// A link child is never taken from the block of the node that lists it: vals, listed in grp
// as a link, is read from the file even when grp's block is in memory.
TEST(DataReaderTest, ALinkChildIsNotTakenFromTheListingBlock) {
    ZwfFile file(MakeSmallTree().bytes, /*lend=*/true);
    DataNode* root = file.Open();
    ASSERT_TRUE(root && root->Load(kLoadNoChildren, 0));
    DataNode* grp = root->FindChild("grp");
    ASSERT_TRUE(grp->Load(kLoadKeepBlock | kLoadNoChildren, 0));
    DataNode* vals = grp->FindChild("vals");
    ASSERT_NE(vals, nullptr);
    // Give vals a parent that is in memory but lists it as a link.
    vals->SetParent(grp);
    ASSERT_TRUE(vals->Load(kLoadFromParent | kLoadBorrowParent, 0));
    EXPECT_FALSE(vals->IsBorrowed());
    EXPECT_EQ(Data(vals), IntBytes({7, 8, 9}));
}

TEST(DataReaderTest, OneLevelLoadsChildrenWithoutTheirChildren) {
    ZwfFile file(MakeSmallTree().bytes);
    DataNode* root = file.Open();
    ASSERT_TRUE(root && root->Load(kLoadOneLevel, 0));
    DataNode* grp = root->FindChild("grp");
    ASSERT_NE(grp, nullptr);
    EXPECT_TRUE(grp->IsListed());
    EXPECT_FALSE(grp->FindChild("name")->IsInMemory());
    EXPECT_TRUE(root->FindChild("vals")->IsInMemory());
}

TEST(DataReaderTest, ExpandFlagSplitsLeavesAsTheyAreRead) {
    ZwfFile file(MakeSmallTree().bytes);
    DataNode* root = file.Open();
    ASSERT_TRUE(root && root->Load(kLoadExpand, kExpandBasicArrays));
    DataNode* vals = root->FindChild("vals");
    EXPECT_EQ(ChildNames(vals), (std::vector<std::string>{"0", "1", "2"}));
    DataNode* pos = root->FindChild("grp")->FindChild("pos");
    EXPECT_EQ(ChildNames(pos), (std::vector<std::string>{"x", "y", "z"}));
    EXPECT_EQ(Data(pos->FindChild("z")), IntBytes({3}));
}

// A link back to an ancestor, a node listing itself, and a chain of 30 levels where each
// level's two children both list the next level (2^30 walks if shared nodes were walked
// again): every load ends, and shared nodes stay shared.
TEST(DataReaderTest, CyclesAndSharedChainsEnd) {
    constexpr int kLevels = 30;
    ZwfBytes f;
    const int32_t rootSizeAt = f.Header();
    const int32_t root = f.Pos();
    const int32_t dir = f.Directory(2);
    const int32_t loop = f.Entry("loop", "L", 4);
    const int32_t chain = f.Entry("chain", "A", 4);
    f.EndDirectory(dir);
    const int32_t loopStart = f.BeginBlock(loop);
    const int32_t loopDir = f.Directory(2);
    f.Place(f.Entry("back", "L", 4 | 2), loopStart, 100);  // a link to loop itself
    f.Place(f.Entry("self", "L", 4), loopStart, 100);      // a plain entry: loop lists itself
    f.EndDirectory(loopDir);
    f.EndBlock(loop, loopStart);
    // A block k lists b and c; b's block holds A block k + 1, c's entry names the same offset.
    std::function<void(int32_t, int)> level = [&](int32_t entry, int k) {
        const int32_t start = f.BeginBlock(entry);
        if (k == kLevels) {
            f.EndDirectory(f.Directory(0));
            f.EndBlock(entry, start);
            return;
        }
        const int32_t d = f.Directory(2);
        const int32_t b = f.Entry("b", "B", 4);
        const int32_t c = f.Entry("c", "C", 4);
        f.EndDirectory(d);
        const int32_t bStart = f.BeginBlock(b);
        const int32_t bDir = f.Directory(1);
        const int32_t a1 = f.Entry("a", "A", 4);
        f.EndDirectory(bDir);
        level(a1, k + 1);
        f.EndBlock(b, bStart);
        const int32_t cStart = f.BeginBlock(c);
        const int32_t cDir = f.Directory(1);
        const int32_t a2 = f.Entry("a", "A", 4);
        f.EndDirectory(cDir);
        f.Place(a2, f.IntAt(a1), f.IntAt(a1 + 4));
        f.EndBlock(c, cStart);
        f.EndBlock(entry, start);
    };
    level(chain, 0);
    f.PatchInt(rootSizeAt, f.Pos() - root);
    f.Finish();

    for (const int32_t flags : {0, int32_t(kLoadKeepBlock), kLoadKeepBlock | kLoadBorrowParent}) {
        SCOPED_TRACE(flags);
        ZwfFile file(f.bytes);
        DataNode* r = file.Open();
        ASSERT_NE(r, nullptr);
        EXPECT_TRUE(r->Load(flags, 0));
        DataNode* l = r->FindChild("loop");
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(ChildNames(l), (std::vector<std::string>{"loop"}));
        EXPECT_EQ(l->FindChild("loop"), l);
        EXPECT_EQ(l->GetParent(), l);
        DataNode* a = r->FindChild("chain");
        for (int k = 0; k < kLevels; ++k) {
            ASSERT_TRUE(a && a->FindChild("b") && a->FindChild("c")) << k;
            DataNode* next = a->FindChild("b")->FindChild("a");
            ASSERT_NE(next, nullptr) << k;
            EXPECT_EQ(a->FindChild("c")->FindChild("a"), next) << k;
            EXPECT_TRUE(next->IsListed()) << k;
            a = next;
        }
        EXPECT_EQ(a->Children().count(), 0);
    }
}

TEST(DataReaderTest, ReopeningForgetsTheOffsetsOfTheEarlierFile) {
    const std::string bytes = MakeSmallTree().bytes;
    MemStream first;
    MemStream second;
    first.ShowData(bytes.data(), int32_t(bytes.size()), false);
    second.ShowData(bytes.data(), int32_t(bytes.size()), false);
    BinaryDataReader reader;
    DataNode* a = reader.OpenStream(&first);
    ASSERT_TRUE(a && a->Load(0, 0));
    DataNode* b = reader.OpenStream(&second);
    ASSERT_TRUE(b && b->Load(0, 0));
    EXPECT_NE(a->FindChild("vals"), b->FindChild("vals"));
    EXPECT_EQ(Data(a->FindChild("vals")), Data(b->FindChild("vals")));
}

}  // namespace
