// Structured types: their sizes, the expansion of leaves into member and element nodes, and
// the small accessors of DataNode.

#include "core/data/data_reader.h"

#include "zwf_test_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// A reader that has read a type table (and a root without children).
class TypedReader {
public:
    explicit TypedReader(const std::vector<ZwfBytes::Type>& types) {
        ZwfBytes f;
        const int32_t rootSizeAt = f.Header(types);
        f.PatchInt(rootSizeAt, 8);
        f.Directory(0);
        f.Finish();
        file_ = std::make_unique<ZwfFile>(f.bytes);
        root_ = file_->Open();
    }
    BinaryDataReader& reader() { return file_->reader(); }
    DataNode* root() { return root_; }

private:
    std::unique_ptr<ZwfFile> file_;
    DataNode* root_ = nullptr;
};

const std::vector<ZwfBytes::Type> kTypes = {
    {"Vec", {{"x", "real"}, {"y", "real"}, {"z", "real"}}},
    {"Tri", {{"idx", "int", 3}, {"tag", "char"}}},
    {"Mesh", {{"v", "Vec", 2}, {"t", "Tri"}}},
    {"Bad", {{"a", "int"}, {"b", "Nope"}, {"c", "int"}}},
    {"Loop", {{"i", "int"}, {"l", "Loop"}}},
    {"Ring1", {{"r", "Ring2"}}},
    {"Ring2", {{"r", "Ring1"}}},
    {"Outer", {{"r", "Ring1"}, {"i", "int"}}},
    {"Empty", {}},
    {"Neg", {{"a", "int", -1}}},
    {"Huge", {{"a", "int", 0x40000000}}},
};

TEST(DataTypeTest, TypeSizes) {
    TypedReader typed(kTypes);
    ASSERT_NE(typed.root(), nullptr);
    const struct {
        const char* type;
        int32_t size;
    } cases[] = {
        {"int", 4}, {"real", 4}, {"char", 1}, {"byte", 1}, {"Int", 0}, {"Vec", 12},
        {"Tri", 13}, {"Mesh", 37}, {"Bad", 8},   // an unknown member counts 0
        {"Loop", 0}, {"Ring1", 0}, {"Ring2", 0}, {"Outer", 0},  // cycles have no size
        {"Empty", 0}, {"Nope", 0}, {"Neg", 0}, {"Huge", 0},    // past the int range
    };
    for (const auto& c : cases) EXPECT_EQ(typed.reader().TypeSize(c.type), c.size) << c.type;
    ASSERT_NE(typed.reader().FindType("Tri"), nullptr);
    EXPECT_EQ(typed.reader().FindType("tri"), nullptr);
    const DataMember& idx = typed.reader().FindType("Tri")->members.ValueRef("idx");
    EXPECT_TRUE(idx.isArray);
    EXPECT_EQ(idx.count, 3);
}

// A test-owned node over test-owned bytes (borrowed, so the node does not free them).
struct Leaf {
    Leaf(const char* type, std::string bytes, int32_t arrayCount = -1) : data(std::move(bytes)) {
        node.SetTypeName(type);
        node.SetName("leaf");
        node.SetOffset(1000);
        node.SetSize(int32_t(data.size()));
        node.SetData(data.empty() ? nullptr : data.data());
        node.SetBorrowed(true);
        node.SetInMemory(true);
        if (arrayCount >= 0) {
            node.SetFlags(kDataNodeArray);
            node.SetArrayCount(arrayCount);
        }
    }
    std::string data;
    DataNode node;
};

// Renders the expanded tree: name(size)[children], with "!" for a child without data.
std::string Shape(const DataNode* node) {
    std::string out;
    const DataNodeMap::Node* entry = node->Children().first();
    for (int32_t i = 0; i < node->Children().count(); ++i, entry = entry->next) {
        const DataNode* child = entry->value;
        if (i > 0) out += " ";
        out += child->GetName().Text();
        out += child->GetData() ? "(" + std::to_string(child->GetSize()) + ")" : "!";
        if (child->Children().count() > 0) out += "[" + Shape(child) + "]";
    }
    return out;
}

TEST(DataTypeTest, ExpandsByType) {
    const std::string mesh = IntBytes({1, 2, 3, 4, 5, 6, 10, 11, 12}) + "T";
    const struct Case {
        const char* what;
        const char* type;
        std::string bytes;
        int32_t arrayCount;  // -1: not an array
        int32_t flags;
        bool ok;
        const char* shape;
    } cases[] = {
        {"int array with flag 1", "int", IntBytes({7, 8, 9}), 3, kExpandBasicArrays, true,
         "0(4) 1(4) 2(4)"},
        {"int array without flag 1", "int", IntBytes({7, 8, 9}), 3, 0, true, ""},
        {"a single int", "int", IntBytes({7}), -1, kExpandBasicArrays, true, ""},
        {"char array", "char", "abc", 3, kExpandBasicArrays, true, "0(1) 1(1) 2(1)"},
        {"structure", "Vec", IntBytes({1, 2, 3}), -1, 0, true, "x(4) y(4) z(4)"},
        {"nested, basic arrays kept whole", "Mesh", mesh, -1, 0, true,
         "v(24)[0(12)[x(4) y(4) z(4)] 1(12)[x(4) y(4) z(4)]] t(13)[idx(12) tag(1)]"},
        {"nested, basic arrays split", "Mesh", mesh, -1, kExpandBasicArrays, true,
         "v(24)[0(12)[x(4) y(4) z(4)] 1(12)[x(4) y(4) z(4)]] "
         "t(13)[idx(12)[0(4) 1(4) 2(4)] tag(1)]"},
        {"one level", "Mesh", mesh, -1, kExpandOneLevel | kExpandBasicArrays, true,
         "v(24) t(13)"},
        {"array of structures", "Vec", IntBytes({1, 2, 3, 4, 5, 6}), 2, 0, true,
         "0(12)[x(4) y(4) z(4)] 1(12)[x(4) y(4) z(4)]"},
        {"unknown member skipped", "Bad", IntBytes({1, 2}), -1, 0, false, "a(4) c(4)"},
        {"data too short", "Vec", IntBytes({1, 2}), -1, 0, false, "x(4) y(4) z!"},
        {"array count beyond the data", "int", IntBytes({7, 8, 9}), 5, kExpandBasicArrays,
         false, "0(4) 1(4) 2(4)"},
        {"negative array count", "int", IntBytes({7}), -5, kExpandBasicArrays, false, ""},
        {"no data", "Vec", "", -1, 0, false, "x! y! z!"},
        {"cyclic member", "Loop", IntBytes({1, 2}), -1, 0, false, "i(4) l!"},
        {"structure without members", "Empty", "", -1, 0, true, ""},
    };
    TypedReader typed(kTypes);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Leaf leaf(c.type, c.bytes, c.arrayCount < -1 ? 0 : c.arrayCount);
        if (c.arrayCount < -1) leaf.node.SetArrayCount(c.arrayCount);
        EXPECT_EQ(typed.reader().ExpandNode(&leaf.node, c.flags), c.ok);
        EXPECT_EQ(Shape(&leaf.node), c.shape);
    }
}

TEST(DataTypeTest, ExpandedPartsCopyOrBorrowTheData) {
    TypedReader typed(kTypes);
    for (const bool borrow : {false, true}) {
        Leaf leaf("Vec", IntBytes({1, 2, 3}));
        ASSERT_TRUE(typed.reader().ExpandNode(&leaf.node, borrow ? kExpandBorrow : 0));
        EXPECT_TRUE(leaf.node.IsListed());
        EXPECT_EQ(leaf.node.GetFlags(), kDataNodeCompound);
        DataNode* y = leaf.node.FindChild("y");
        ASSERT_NE(y, nullptr);
        EXPECT_EQ(y->IsBorrowed(), borrow);
        EXPECT_EQ(y->GetData() == leaf.data.data() + 4, borrow);
        EXPECT_EQ(y->GetOffset(), 1004);
        EXPECT_EQ(y->GetParent(), &leaf.node);
        EXPECT_EQ(y->GetReader(), &typed.reader());
        EXPECT_TRUE(y->IsInMemory() && y->IsListed());
        EXPECT_EQ(y->DataAsString().length(), 4);
        EXPECT_EQ(std::memcmp(y->GetData(), IntBytes({2}).data(), 4), 0);
    }
}

TEST(DataTypeTest, RefusesToExpandTwiceOrAnUnknownType) {
    TypedReader typed(kTypes);
    Leaf vec("Vec", IntBytes({1, 2, 3}));
    EXPECT_TRUE(typed.reader().ExpandNode(&vec.node, 0));
    EXPECT_FALSE(typed.reader().ExpandNode(&vec.node, 0)) << "already compound";
    EXPECT_EQ(vec.node.Children().count(), 3);
    Leaf unknown("Nope", IntBytes({1}));
    EXPECT_FALSE(typed.reader().ExpandNode(&unknown.node, 0));
    EXPECT_EQ(unknown.node.GetFlags(), 0);
    EXPECT_FALSE(typed.reader().ExpandNode(nullptr, 0));
}

// 20000 structured types nested one in the next: sizes use no deep recursion, and the
// expansion stops 256 levels down (each level could cost a node per byte).
TEST(DataTypeTest, DeeplyNestedTypes) {
    constexpr int kDepth = 20000;
    std::vector<ZwfBytes::Type> types;
    for (int i = 0; i < kDepth; ++i) {
        types.push_back({"T" + std::to_string(i), {{"m", "T" + std::to_string(i + 1)}}});
    }
    types.push_back({"T" + std::to_string(kDepth), {{"x", "int"}}});
    TypedReader typed(types);
    EXPECT_EQ(typed.reader().TypeSize("T0"), 4);
    Leaf leaf("T0", IntBytes({5}));
    EXPECT_FALSE(typed.reader().ExpandNode(&leaf.node, 0));
    int depth = 0;
    for (const DataNode* n = &leaf.node; n->FindChild("m") != nullptr; n = n->FindChild("m")) {
        ++depth;
    }
    EXPECT_EQ(depth, 256);

    Leaf shallow("T19800", IntBytes({5}));  // 200 levels to the int
    EXPECT_TRUE(typed.reader().ExpandNode(&shallow.node, 0));
}

// ---------------------------------------------------------------------------------------------
// DataNode's own operations

TEST(DataNodeTest, CopiesItsData) {
    Leaf leaf("char", "abcdef");
    DataNode empty;
    empty.SetName("empty");

    char buffer[8];
    const struct {
        int32_t n;
        const char* expected;
    } copies[] = {{3, "abc"}, {6, "abcdef"}, {8, "abcdef"}, {0, ""}};
    for (const auto& c : copies) {
        std::memset(buffer, '.', sizeof buffer);
        ASSERT_TRUE(leaf.node.CopyData(buffer, c.n)) << c.n;
        EXPECT_EQ(std::string(buffer, std::strlen(c.expected)), c.expected) << c.n;
        EXPECT_EQ(buffer[std::strlen(c.expected)], '.') << c.n;
    }
    EXPECT_EQ(std::string(leaf.node.DataAsString().Text()), "abcdef");
    EXPECT_FALSE(empty.CopyData(buffer, 4));
    EXPECT_EQ(empty.DataAsString().length(), 0);

    DataNode parent;
    parent.AddChild(&leaf.node, false);
    parent.AddChild(&empty, false);
    std::memset(buffer, '.', sizeof buffer);
    EXPECT_TRUE(parent.CopyChildData("leaf", buffer, 2));
    EXPECT_EQ(std::string(buffer, 3), "ab.");
    EXPECT_FALSE(parent.CopyChildData("empty", buffer, 2)) << "a child without data";
    EXPECT_FALSE(parent.CopyChildData("LEAF", buffer, 2)) << "no such child";
}

TEST(DataNodeTest, AddChildAppendsReplacesAndRecordsLinks) {
    DataNode parent;
    DataNode a, b, c, a2;
    a.SetName("a");
    b.SetName("b");
    c.SetName("c");
    a2.SetName("a");
    parent.AddChild(&b, false);
    parent.AddChild(&a, true);
    parent.AddChild(&c, false);
    EXPECT_EQ(parent.GetFlags(), kDataNodeCompound);
    parent.AddChild(&a2, false);  // replaces a in its place, and its link mark
    std::string order;
    const DataNodeMap::Node* entry = parent.Children().first();
    for (int32_t i = 0; i < parent.Children().count(); ++i, entry = entry->next) {
        order += entry->key.Text();
    }
    EXPECT_EQ(order, "bac");
    EXPECT_EQ(parent.FindChild("a"), &a2);
    EXPECT_FALSE(parent.IsLinkChild(&a2));
    parent.AddChild(&a, true);
    EXPECT_TRUE(parent.IsLinkChild(&a));
    EXPECT_FALSE(parent.IsLinkChild(&b));
    EXPECT_EQ(b.GetParent(), nullptr) << "AddChild leaves the parent to the caller";
}

TEST(DataNodeTest, LoadWithoutAReaderFails) {
    DataNode node;
    EXPECT_FALSE(node.Load(0, 0));
}

}  // namespace
