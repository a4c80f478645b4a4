// The data-file writer's layout, byte for byte against hand-computed files, and the trees it
// refuses.

#include "tools/zwfwrite/zwf_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using rh::zwf::Bytes;
using rh::zwf::Member;
using rh::zwf::Node;
using rh::zwf::TypeTable;
using rh::zwf::WriteError;
using rh::zwf::WriteOptions;

// Builds expected files from literal values.
struct Expect {
    Bytes b;
    Expect& I(int32_t v) {
        for (int i = 0; i < 4; ++i) b.push_back(uint8_t(uint32_t(v) >> (8 * i)));
        return *this;
    }
    Expect& S(const std::string& s) {
        I(int32_t(s.size()));
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    Expect& U8(uint8_t v) {
        b.push_back(v);
        return *this;
    }
    Expect& Raw(const std::string& s) {
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
};

int32_t IntAt(const Bytes& b, size_t at) {
    return int32_t(uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24);
}

TEST(ZwfWriteLayout, TinyFileByteForByte) {
    Node a = Node::Int("a", 7);
    Node root = Node::Compound("ignored", "ignored");
    root.AddChild(a);
    root.AddChild(Node::Compound("c"))
        .With(Node::Text("t", "hi"))
        .With(Node::Leaf("e", "byte", {}));
    root.AddChild(Node::Link("al", a));

    // Root at 30. Root directory: 8 + "a" entry 21 + "c" entry 18 + "al" entry 22 = 69 bytes, so
    // the first child block, a, is at 99 and c's block at 103. c's directory: 8 + "t" entry 26
    // (array: count present) + "e" entry 22 = 56, t at 159. e is empty: it points at c's child
    // count, 107. c's block is 58 bytes, the root's 69 + 4 + 58 = 131, the file 161.
    Expect e;
    e.I(161).S("ZWF Binary 1.0").I(0).I(131);
    e.I(69).I(3);
    e.S("a").S("int").U8(0).I(99).I(4);
    e.S("c").S("").U8(4).I(103).I(58);
    e.S("al").S("int").U8(2).I(99).I(4);
    e.I(7);
    e.I(56).I(2);
    e.S("t").S("char").U8(1).I(2).I(159).I(2);
    e.S("e").S("byte").U8(0).I(107).I(0);
    e.Raw("hi");
    ASSERT_EQ(e.b.size(), 161u);
    EXPECT_EQ(rh::zwf::Write(root), e.b);
}

TEST(ZwfWriteLayout, TypeTableRecordsPrecedeTheRoot) {
    TypeTable types;
    types.Add("V", {Member("p", "real", 3), Member("k", "int")});
    Node root = Node::Compound("r");
    root.AddChild(Node::Structs("vs", "V", 1, Bytes(16, 0xAB)));

    Expect e;
    // Type record: "V" 5, count 4, "p" 5 + "real" 8 + is-array 1 + count 4, "k" 5 + "int" 7 +
    // is-array 1 = 40 bytes from 26, so the root size is at 66 and the root at 70.
    // Root directory: 8 + entry (6 + 5 + 1 + 4 + 8 = 24) = 32; vs at 102; root 48; file 118.
    e.I(118).S("ZWF Binary 1.0").I(1);
    e.S("V").I(2).S("p").S("real").U8(1).I(3).S("k").S("int").U8(0);
    e.I(48);
    e.I(32).I(1).S("vs").S("V").U8(1).I(1).I(102).I(16);
    e.b.insert(e.b.end(), 16, 0xAB);
    EXPECT_EQ(rh::zwf::Write(root, types), e.b);
}

TEST(ZwfWriteLayout, RootSizeSlackChangesOnlyTheField) {
    Node root = Node::Compound("r").With(Node::Real("x", 1.5f));
    Bytes plain = rh::zwf::Write(root);
    WriteOptions slack;
    slack.rootSizeSlack = 4;
    Bytes padded = rh::zwf::Write(root, {}, slack);
    ASSERT_EQ(plain.size(), padded.size());
    EXPECT_EQ(IntAt(padded, 26), IntAt(plain, 26) + 4);
    EXPECT_EQ(IntAt(padded, 0), int32_t(plain.size()));
    EXPECT_TRUE(std::equal(plain.begin() + 30, plain.end(), padded.begin() + 30));
}

// Every non-empty block starts at its own offset (readers share nodes by offset), children's
// blocks follow their parent's directory depth first, and a compound spans its subtree.
TEST(ZwfWriteLayout, NestedBlocksAreContiguousAndDistinct) {
    Node root = Node::Compound("r");
    Node& x = root.AddChild(Node::Compound("x"));
    x.AddChild(Node::Compound("empty"));
    x.AddChild(Node::Leaf("z", "byte", {}));
    x.AddChild(Node::Bytes("b", {1, 2, 3}));
    root.AddChild(Node::Int("after", 5));
    Bytes f = rh::zwf::Write(root);

    // Root directory at 30: 8 + "x" 18 + "after" 25 = 51 -> x at 81.
    ASSERT_EQ(IntAt(f, 30), 51);
    size_t xEntry = 38 + 4 + 1 + 4 + 0 + 1;
    int32_t xOffset = IntAt(f, xEntry), xSize = IntAt(f, xEntry + 4);
    EXPECT_EQ(xOffset, 81);
    int32_t xDir = IntAt(f, size_t(xOffset));
    // x's directory: 8 + "empty" 22 + "z" 22 + "b" 26 = 78; empty's block (8 bytes) at 159,
    // b at 167; z points at x's child count.
    EXPECT_EQ(xDir, 78);
    size_t p = size_t(xOffset) + 8;
    auto entry = [&](const std::string& name, int32_t offset, int32_t size, bool array) {
        ASSERT_EQ(IntAt(f, p), int32_t(name.size()));
        p += 4 + name.size();
        p += 4 + size_t(IntAt(f, p));
        p += 1 + (array ? 4 : 0);
        EXPECT_EQ(IntAt(f, p), offset) << name;
        EXPECT_EQ(IntAt(f, p + 4), size) << name;
        p += 8;
    };
    entry("empty", 159, 8, false);
    entry("z", 85, 0, false);
    entry("b", 167, 3, true);
    EXPECT_EQ(xSize, 78 + 8 + 3);
    EXPECT_EQ(IntAt(f, 159), 8);  // the empty compound: directory size 8, no children
    EXPECT_EQ(IntAt(f, 163), 0);
    // "after" follows x's whole block.
    EXPECT_EQ(IntAt(f, size_t(xOffset + xSize)), 5);
    EXPECT_EQ(f.size(), size_t(xOffset + xSize + 4));
}

TEST(ZwfWriteLayout, SameTreeSameBytes) {
    auto build = [] {
        Node root = Node::Compound("r");
        Node mesh = Node::Compound("m", "Mesh");
        mesh.AddChild(Node::Reals("v", {1, 2, 3}));
        root.AddChild(mesh);
        root.AddChild(Node::Link(mesh));
        return root;
    };
    EXPECT_EQ(rh::zwf::Write(build()), rh::zwf::Write(build()));
}

TEST(ZwfWriteLayout, LinksShareTheTargetsBlockWhateverTheirPlace) {
    Node shared = Node::Compound("s", "T");
    shared.AddChild(Node::Int("v", 1));
    Node root = Node::Compound("r");
    Node early = Node::Link("early", shared);  // met before its target
    root.AddChild(early);
    root.AddChild(Node::Compound("holder")).AddChild(shared);
    root.AddChild(Node::Link("late", early));  // a link to a link shares the same block
    Bytes f = rh::zwf::Write(root);

    // Root directory: 8 + "early" (9 + 5 + 1 + 8) + "holder" 23 + "late" (8 + 5 + 1 + 8) = 76.
    ASSERT_EQ(IntAt(f, 30), 76);
    int32_t holder = IntAt(f, 38 + 23 + 23 - 8);
    EXPECT_EQ(holder, 106);
    // holder's directory: 8 + "s" entry 19 = 27 -> s at 133.
    EXPECT_EQ(IntAt(f, size_t(holder) + 8 + 5 + 5 + 1), 133);
    EXPECT_EQ(f[38 + 9 + 5], rh::zwf::kFlagLink | rh::zwf::kFlagCompound);
    EXPECT_EQ(IntAt(f, 38 + 9 + 5 + 1), 133);
    EXPECT_EQ(IntAt(f, 38 + 23 + 23 + 8 + 5 + 1), 133);
}

TEST(ZwfWriteLayout, RefusedTrees) {
    Node stranger = Node::Int("x", 1);
    TypeTable types;
    types.Add("P", {Member("x", "real"), Member("y", "real")});
    struct Case {
        const char* what;
        Node root;
    } cases[] = {
        {"leaf root", Node::Int("r", 1)},
        {"link target outside the tree", Node::Compound("r").With(Node::Link(stranger))},
        {"negative count", Node::Compound("r").With(Node::Leaf("n", "thing", {}).SetArray(-1))},
        {"int array of the wrong size", Node::Compound("r").With(Node::Leaf("i", "int", Bytes(7)).SetArray(2))},
        {"structured leaf of the wrong size", Node::Compound("r").With(Node::Leaf("p", "P", Bytes(4)))},
        {"structured array of the wrong size", Node::Compound("r").With(Node::Structs("p", "P", 3, Bytes(16)))},
    };
    for (const Case& c : cases) EXPECT_THROW(rh::zwf::Write(c.root, types), WriteError) << c.what;

    // Sizes are not checked where expansion would not cut: single basic values, unknown types.
    Node loose = Node::Compound("r")
                     .With(Node::Leaf("i", "int", Bytes(12)))
                     .With(Node::Leaf("k", "key", Bytes(32)).SetArray(9));
    EXPECT_NO_THROW(rh::zwf::Write(loose, types));
    // And not at all when asked to make a damaged file.
    WriteOptions damaged;
    damaged.checkSizes = false;
    EXPECT_NO_THROW(rh::zwf::Write(cases[4].root, types, damaged));

    Node leaf = Node::Int("i", 1);
    EXPECT_THROW(leaf.AddChild(Node::Int("j", 2)), WriteError);
}

// A key of a track: eight little-endian floats in the order the scene's key tracks read them.
TEST(ZwfWriteKeys, TrackKeyIsEightFloatsInOrder) {
    const Bytes key = rh::zwf::PackTrackKey(2.5f, 1.0f, -2.0f, 0.5f, 0.25f, -1.0f, 0.75f, 3.0f);
    Expect e;
    // 2.5, 1, -2, 0.5, 0.25, -1, 0.75, 3 as IEEE single-precision bit patterns.
    for (uint32_t bits : {0x40200000u, 0x3F800000u, 0xC0000000u, 0x3F000000u, 0x3E800000u, 0xBF800000u,
                          0x3F400000u, 0x40400000u}) {
        e.I(int32_t(bits));
    }
    EXPECT_EQ(key, e.b);
    EXPECT_EQ(key.size(), rh::zwf::kTrackKeySize);
    const Bytes plain = rh::zwf::PackTrackKey(1.0f, 0.0f, 0.0f, 0.0f, 0.0f);
    EXPECT_EQ(IntAt(plain, 20), 0) << "continuity, tension and bias default to 0";
    EXPECT_EQ(IntAt(plain, 28), 0);
}

TEST(ZwfWriteTypes, SizeOfFollowsTheReadersRule) {
    TypeTable t;
    t.Add("V", {Member("p", "real", 3), Member("c", "byte")})
        .Add("W", {Member("v", "V", 2), Member("n", "int")})
        .Add("Self", {Member("me", "Self")})
        .Add("Odd", {Member("what", "nothing")})
        .Add("Twice", {Member("a", "int")})
        .Add("Twice", {Member("a", "char")});
    struct {
        const char* type;
        int64_t size;
    } rows[] = {{"int", 4}, {"real", 4}, {"char", 1}, {"byte", 1}, {"V", 13}, {"W", 30},
                {"Self", 0}, {"Odd", 0}, {"Twice", 1}, {"Int", 0}, {"missing", 0}};
    for (const auto& r : rows) EXPECT_EQ(t.SizeOf(r.type), r.size) << r.type;
}

TEST(ZwfWriteNodes, VeryDeepTreeWritesAndFrees) {
    constexpr int kDepth = 200000;
    Node root = Node::Compound("r");
    Node* at = &root;
    for (int i = 0; i < kDepth; ++i) at = &at->AddChild(Node::Compound("d"));
    at->AddChild(Node::Int("bottom", 42));
    Bytes f = rh::zwf::Write(root);
    // Every level above the last is a directory of one entry (8 + 5 + 4 + 1 + 8 = 26 bytes)
    // before its child; the last lists "bottom" (8 + 10 + 7 + 1 + 8 = 34) before its 4 bytes.
    EXPECT_EQ(f.size(), size_t(30) + size_t(kDepth) * 26 + 34 + 4);
    EXPECT_EQ(IntAt(f, f.size() - 4), 42);
    Node moved = std::move(root);
    root = std::move(moved);  // the old subtree of a move target is freed without recursion
}

TEST(ZwfWriteNodes, FactoriesAndPacker) {
    Node t = Node::Text("name", "Lamp");
    EXPECT_EQ(t.typeName(), "char");
    EXPECT_EQ(t.arrayCount(), 4);
    EXPECT_TRUE(t.isArray());
    EXPECT_EQ(Node::Reals("r", {1.0f}).data(), (Bytes{0, 0, 0x80, 0x3F}));
    EXPECT_EQ(Node::Ints("i", {-2, 1}).data(), (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 1, 0, 0, 0}));
    EXPECT_FALSE(Node::Int("i", 3).isArray());
    EXPECT_EQ(rh::zwf::Packer().Int(1).Real(-2.0f).Byte(9).Chars("ab").bytes(),
              (Bytes{1, 0, 0, 0, 0, 0, 0, 0xC0, 9, 'a', 'b'}));
    Node c = Node::Compound("c").With(Node::Int("x", 1)).With(Node::Int("y", 2));
    ASSERT_NE(c.Find("y"), nullptr);
    EXPECT_EQ(c.Find("Y"), nullptr);
    // A copy keeps its original's identity: a link made from either finds the one in the tree.
    Node copy = c;
    EXPECT_EQ(copy.id(), c.id());
    EXPECT_NE(Node::Compound("c").id(), c.id());
}

TEST(ZwfWriteFile, WritesWhatWriteReturns) {
    Node root = Node::Compound("r").With(Node::Text("t", "hello"));
    std::string path = testing::TempDir() + "zwfwrite_test.zwf";
    std::string error;
    ASSERT_TRUE(rh::zwf::WriteFile(path, root, {}, {}, &error)) << error;
    std::ifstream in(path, std::ios::binary);
    Bytes got{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(got, rh::zwf::Write(root));
    std::remove(path.c_str());

    EXPECT_FALSE(rh::zwf::WriteFile("/nonexistent-dir/x.zwf", root, {}, {}, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(rh::zwf::WriteFile(path, Node::Int("leaf", 1), {}, {}, &error));
}

}  // namespace
