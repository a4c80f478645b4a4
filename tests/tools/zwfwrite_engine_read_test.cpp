// Files from the writer read back through the engine's own reader: random trees of every kind
// of entry, loaded straight from the file (flags 0), block by block (0x40) and expanded by
// type (0x08), compared node by node with what was written; and the camera-path shape.

#include "core/data/data_node.h"
#include "core/data/data_reader.h"
#include "core/files/mem_stream.h"
#include "tools/zwfwrite/zwf_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using rh::zwf::Bytes;
using rh::zwf::Member;
using rh::zwf::Node;
using rh::zwf::TypeTable;

bool Basic(const std::string& type) { return type == "int" || type == "real" || type == "char" || type == "byte"; }

std::string Str(const String& s) { return std::string(s.Text(), size_t(s.length())); }

bool DataEquals(const DataNode* d, const uint8_t* bytes, size_t size) {
    if (d->GetSize() != int32_t(size)) return false;
    if (size == 0) return true;
    return d->GetData() != nullptr && std::memcmp(d->GetData(), bytes, size) == 0;
}

// A file opened on a memory stream; the reader owns the nodes.
struct Opened {
    explicit Opened(const Bytes& file) {
        stream.ShowData(file.data(), int32_t(file.size()), true);
        stream.Open(String(), 1);
        root = reader.OpenStream(&stream);
    }
    MemStream stream;
    BinaryDataReader reader;
    DataNode* root = nullptr;
};

TypeTable TestTypes() {
    TypeTable t;
    t.Add("Vtx", {Member("p", "real", 3), Member("c", "byte"), Member("n", "int")});
    t.Add("Pair", {Member("a", "Vtx"), Member("b", "int", 2), Member("t", "char", 3)});
    return t;
}

// Random trees with names unique across the tree, so that every child is found by its name.
// A link always carries its target's name (readers list a shared node under the name of the
// entry met first) and never sits beside its target or another link to the same target.
class TreeMaker {
public:
    TreeMaker(uint32_t seed, const TypeTable& types) : rng_(seed), types_(types) {}

    Node Make() {
        Node root = Node::Compound("root");
        Fill(root, 0);
        return root;
    }

private:
    int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    Bytes Random(size_t n) {
        Bytes b(n);
        for (auto& c : b) c = uint8_t(rng_());
        return b;
    }
    std::string NewName() { return "n" + std::to_string(next_++); }

    Node MakeLeaf() {
        std::string name = NewName();
        switch (Pick(10)) {
            case 0: return Node::Int(name, int32_t(rng_()));
            case 1: {
                std::vector<int32_t> v(size_t(Pick(6)));
                for (auto& x : v) x = int32_t(rng_());
                return Node::Ints(name, v);
            }
            case 2: return Node::Real(name, float(Pick(1000)) / 8);
            case 3: {
                std::vector<float> v(size_t(Pick(6)));
                for (auto& x : v) x = float(Pick(1000)) - 500;
                return Node::Reals(name, v);
            }
            case 4: return Node::Bytes(name, Random(size_t(Pick(20))));
            case 5: return Node::Text(name, std::string(size_t(Pick(10)), char('a' + Pick(26))));
            case 6: return Node::Leaf(name, "blob", Random(size_t(Pick(40))));
            case 7: return Node::Leaf(name, "blobs", Random(size_t(Pick(40)))).SetArray(Pick(5));
            case 8: {
                int32_t n = Pick(4);
                return Node::Structs(name, "Vtx", n, Random(size_t(n * types_.SizeOf("Vtx"))));
            }
            default: return Node::Leaf(name, "Pair", Random(size_t(types_.SizeOf("Pair"))));
        }
    }

    void Fill(Node& parent, int depth) {
        std::set<std::string> names;
        int count = depth == 0 ? 6 + Pick(10) : Pick(8);
        for (int i = 0; i < count && next_ < kMaxNodes; ++i) {
            int kind = Pick(10);
            if (kind < 3 && depth < 5) {
                Node c = Node::Compound(NewName(), Pick(2) ? "Group" : "");
                if (Pick(4) == 0) c.SetArray(Pick(3));
                pool_.push_back(Node::Link(c));
                names.insert(c.name());
                Fill(parent.AddChild(std::move(c)), depth + 1);
            } else if (kind == 3 && !pool_.empty()) {
                const Node& link = pool_[size_t(Pick(int(pool_.size())))];
                if (names.insert(link.name()).second) parent.AddChild(link);
            } else {
                Node leaf = MakeLeaf();
                pool_.push_back(Node::Link(leaf));
                names.insert(leaf.name());
                parent.AddChild(std::move(leaf));
            }
        }
    }

    static constexpr int kMaxNodes = 400;
    std::mt19937 rng_;
    const TypeTable& types_;
    int next_ = 0;
    std::vector<Node> pool_;  // a ready link to every node made so far
};

// Walks the written tree and the read one side by side.
class Comparer {
public:
    Comparer(const Node& written, const Bytes& file, const TypeTable& types, bool keepBlocks, bool expanded)
        : file_(file), types_(types), keepBlocks_(keepBlocks), expanded_(expanded) {
        Index(written);
    }

    void Root(const Node& w, const DataNode* d) {
        EXPECT_EQ(Str(d->GetName()), "_root");
        EXPECT_EQ(Str(d->GetTypeName()), "_roottype");
        Children(w, d);
    }

private:
    void Index(const Node& root) {
        std::vector<const Node*> stack{&root};
        while (!stack.empty()) {
            const Node* n = stack.back();
            stack.pop_back();
            if (n->isLink()) continue;
            byId_.emplace(n->id(), n);
            for (const Node& c : n->children()) stack.push_back(&c);
        }
    }

    void CheckBlock(const DataNode* d) {
        if (!keepBlocks_) return;
        ASSERT_GE(d->GetOffset(), 0);
        ASSERT_LE(size_t(d->GetOffset()) + size_t(d->GetSize()), file_.size());
        EXPECT_TRUE(DataEquals(d, &file_[size_t(d->GetOffset())], size_t(d->GetSize()))) << Str(d->GetName());
    }

    void Children(const Node& w, const DataNode* d) {
        CheckBlock(d);
        const DataNodeMap& kids = d->Children();
        ASSERT_EQ(kids.count(), int32_t(w.children().size())) << Str(d->GetName());
        auto* at = kids.first();
        for (const Node& c : w.children()) {
            ASSERT_EQ(Str(at->key), c.name());
            ASSERT_EQ(d->FindChild(String(c.name().c_str())), at->value);
            Entry(c, at->value, d);
            at = at->next;
        }
    }

    void Entry(const Node& c, const DataNode* got, const DataNode* parent) {
        EXPECT_EQ(parent->IsLinkChild(got), c.isLink()) << c.name();
        if (!c.isLink()) {
            seen_[c.id()] = got;
            Plain(c, got);
            return;
        }
        const Node& target = *byId_.at(c.linkTarget());
        if (target.isCompound() || !target.data().empty()) {
            EXPECT_EQ(got, seen_.at(target.id())) << "link " << c.name() << " shares its target's node";
        } else {
            Plain(target, got);  // an empty block is never shared: the link reads as its own node
        }
    }

    void Plain(const Node& w, const DataNode* d) {
        EXPECT_EQ(Str(d->GetName()), w.name());
        EXPECT_EQ(Str(d->GetTypeName()), w.typeName()) << w.name();
        if (w.isArray()) {
            EXPECT_EQ(d->GetArrayCount(), w.arrayCount()) << w.name();
        }
        if (w.isCompound()) {
            EXPECT_EQ(d->GetFlags(), w.flags()) << w.name();
            Children(w, d);
            return;
        }
        bool splits = expanded_ && (Basic(w.typeName()) ? w.isArray() : types_.SizeOf(w.typeName()) != 0);
        EXPECT_EQ(d->GetFlags(), w.flags() | (splits ? rh::zwf::kFlagCompound : 0)) << w.name();
        EXPECT_TRUE(DataEquals(d, w.data().data(), w.data().size())) << w.name();
        CheckBlock(d);
        if (!splits) {
            EXPECT_EQ(d->Children().count(), 0) << w.name();
            return;
        }
        if (w.isArray())
            Elements(d, w.typeName(), w.arrayCount(), w.data().data());
        else
            Members(d, w.typeName(), w.data().data());
    }

    // The parts expansion cuts: "0", "1", ... for an array, then the members of each.
    void Elements(const DataNode* d, const std::string& type, int32_t count, const uint8_t* bytes) {
        size_t element = size_t(types_.SizeOf(type));
        ASSERT_EQ(d->Children().count(), count) << Str(d->GetName());
        auto* at = d->Children().first();
        for (int32_t i = 0; i < count; ++i, at = at->next) {
            const DataNode* e = at->value;
            EXPECT_EQ(Str(e->GetName()), std::to_string(i));
            EXPECT_EQ(Str(e->GetTypeName()), type);
            EXPECT_EQ(e->GetFlags() & rh::zwf::kFlagArray, 0);
            EXPECT_TRUE(DataEquals(e, bytes + size_t(i) * element, element)) << Str(d->GetName()) << "/" << i;
            if (!Basic(type)) Members(e, type, bytes + size_t(i) * element);
        }
    }

    void Members(const DataNode* d, const std::string& type, const uint8_t* bytes) {
        const rh::zwf::StructType* t = nullptr;
        for (const auto& s : types_.types())
            if (s.name == type) t = &s;
        ASSERT_NE(t, nullptr);
        ASSERT_EQ(d->Children().count(), int32_t(t->members.size())) << Str(d->GetName());
        auto* at = d->Children().first();
        size_t offset = 0;
        for (const Member& m : t->members) {
            const DataNode* c = at->value;
            at = at->next;
            size_t size = size_t(types_.SizeOf(m.typeName) * (m.isArray ? m.count : 1));
            EXPECT_EQ(Str(c->GetName()), m.name);
            EXPECT_EQ(Str(c->GetTypeName()), m.typeName);
            EXPECT_EQ((c->GetFlags() & rh::zwf::kFlagArray) != 0, m.isArray) << m.name;
            EXPECT_TRUE(DataEquals(c, bytes + offset, size)) << m.name;
            if (m.isArray) {
                EXPECT_EQ(c->GetArrayCount(), m.count);
                Elements(c, m.typeName, m.count, bytes + offset);
            } else if (!Basic(m.typeName)) {
                Members(c, m.typeName, bytes + offset);
            }
            offset += size;
        }
    }

    const Bytes& file_;
    const TypeTable& types_;
    bool keepBlocks_;
    bool expanded_;
    std::map<uint64_t, const Node*> byId_;
    std::map<uint64_t, const DataNode*> seen_;
};

TEST(ZwfWriteEngineRead, RandomTreesReadBackNodeByNode) {
    const TypeTable types = TestTypes();
    struct Mode {
        int32_t loadFlags;
        int32_t expandFlags;
    } modes[] = {{0, 0}, {kLoadKeepBlock, 0}, {kLoadExpand, kExpandBasicArrays}};
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        Node tree = TreeMaker(seed, types).Make();
        Bytes file = rh::zwf::Write(tree, types);
        for (const Mode& mode : modes) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", load flags " + std::to_string(mode.loadFlags));
            Opened f(file);
            ASSERT_NE(f.root, nullptr);
            ASSERT_TRUE(f.root->Load(mode.loadFlags, mode.expandFlags));
            Comparer(tree, file, types, mode.loadFlags == kLoadKeepBlock, mode.loadFlags == kLoadExpand)
                .Root(tree, f.root);
            if (testing::Test::HasFatalFailure()) return;
        }
    }
}

TEST(ZwfWriteEngineRead, StructuredLeafExpandsOnRequest) {
    TypeTable types = TestTypes();
    Node pair = Node::Leaf("pair", "Pair",
                           rh::zwf::Packer()
                               .Real(1).Real(2).Real(3).Byte(4).Int(5)  // a: Vtx
                               .Int(6).Int(7)                            // b
                               .Chars("xyz")                              // t
                               .Take());
    Bytes file = rh::zwf::Write(Node::Compound("r").With(pair), types);
    Opened f(file);
    ASSERT_TRUE(f.root->Load(0, 0));
    DataNode* p = f.root->FindChild("pair");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Children().count(), 0);
    ASSERT_TRUE(f.reader.ExpandNode(p, kExpandBasicArrays));
    ASSERT_NE(p->FindChild("a"), nullptr);
    DataNode* n = p->FindChild("a")->FindChild("n");
    ASSERT_NE(n, nullptr);
    int32_t five = 0;
    ASSERT_TRUE(n->CopyData(&five, 4));
    EXPECT_EQ(five, 5);
    DataNode* b1 = p->FindChild("b") ? p->FindChild("b")->FindChild("1") : nullptr;
    ASSERT_NE(b1, nullptr);
    EXPECT_EQ(*reinterpret_cast<const int32_t*>(b1->GetData()), 7);
    EXPECT_EQ(Str(p->FindChild("t")->DataAsString()), "xyz");
}

// Readers list a shared node under the name of the entry they meet first, so a link of
// another name shows under its target's name; the one-argument Link avoids the surprise.
TEST(ZwfWriteEngineRead, LinkOfAnotherNameShowsUnderTheTargetsName) {
    Node s = Node::Int("s", 3);
    Bytes file = rh::zwf::Write(Node::Compound("r").With(s).With(Node::Link("alias", s)));
    Opened f(file);
    ASSERT_TRUE(f.root->Load(0, 0));
    EXPECT_EQ(f.root->Children().count(), 1);
    EXPECT_EQ(f.root->FindChild("alias"), nullptr);
    ASSERT_NE(f.root->FindChild("s"), nullptr);
}

// The shape of the media's camera paths: 20 position and 20 rotation keys of 32 bytes at the
// root, the root size declared 4 bytes larger than the file holds.
TEST(ZwfWriteEngineRead, CameraPathShape) {
    Node root = Node::Compound("root");
    for (int i = 0; i < 20; ++i) {
        for (const char* kind : {"pos", "rot"}) {
            rh::zwf::Packer key;
            key.Real(float(i * 10));
            for (int v = 0; v < 4; ++v) key.Real(float(i + v));
            key.Real(0).Real(0).Real(0);
            root.AddChild(Node::Leaf(kind + std::to_string(i), kind, key.Take()));
        }
    }
    rh::zwf::WriteOptions options;
    options.rootSizeSlack = 4;
    Bytes file = rh::zwf::Write(root, {}, options);
    auto intAt = [&](size_t at) {
        int32_t v;
        std::memcpy(&v, &file[at], 4);
        return v;
    };
    EXPECT_EQ(intAt(26), 2272);  // root size
    EXPECT_EQ(intAt(30), 988);   // the root's directory size
    EXPECT_EQ(file.size(), size_t(30 + 2272 - 4));

    Opened f(file);
    ASSERT_NE(f.root, nullptr);
    ASSERT_TRUE(f.root->Load(0, 0));
    ASSERT_EQ(f.root->Children().count(), 40);
    auto* at = f.root->Children().first();
    for (int32_t i = 0; i < 40; ++i, at = at->next) {
        EXPECT_EQ(at->value->GetSize(), 32);
        EXPECT_EQ(Str(at->value->GetTypeName()), i % 2 ? "rot" : "pos");
    }
    float time = 0;
    ASSERT_TRUE(f.root->CopyChildData("rot19", &time, 4));
    EXPECT_EQ(time, 190.0f);
}

}  // namespace
