// Property lookup with inheritance, on scene-shaped files written by the data-file writer and
// read back through the engine's reader.
#include "scene/property_lookup.h"

#include "core/data/data_node.h"
#include "core/data/data_reader.h"
#include "core/files/mem_stream.h"
#include "core/object/property_node.h"
#include "tools/zwfwrite/zwf_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using rh::zwf::Node;

std::string Str(const String& s) { return std::string(s.Text(), size_t(s.length())); }

Node Props(std::vector<std::pair<std::string, std::string>> texts) {
    Node props = Node::Compound("Props");
    for (auto& [k, v] : texts) props.AddChild(Node::Text(k, v));
    return props;
}

Node List(std::string name, std::vector<std::string> words) {
    Node list = Node::Compound(std::move(name));
    for (size_t i = 0; i < words.size(); ++i) list.AddChild(Node::Text(std::to_string(i), words[i]));
    return list;
}

// Group sets Lit, Blend, the sky box's spelling "zWrite", a list and a nested compound. Its
// children: A overrides Lit and Blend, B sets only Face, C has no "Props", D gives AlphaUse as
// a single text, E has only a lower-case "props" (an ordinary child, not the compound).
Node SceneFixture() {
    Node groupProps = Props({{"Lit", "1"}, {"Blend", "multiply"}, {"zWrite", "0"}});
    groupProps.AddChild(List("AlphaUse", {"Diffuse", "diffuse"}));
    groupProps.AddChild(Node::Compound("Sub").With(Node::Text("y", "from group")));

    Node a = Node::Compound("A");
    Node aProps = Props({{"Blend", "additive"}, {"Lit", "0"}});
    aProps.AddChild(Node::Compound("Sub").With(Node::Text("x", "own")));
    a.AddChild(std::move(aProps));
    Node b = Node::Compound("B").With(Props({{"Face", "XYZ"}}));
    Node c = Node::Compound("C").With(Node::Text("Name", "c"));
    Node d = Node::Compound("D").With(Props({{"AlphaUse", "diffuse"}}));
    Node e = Node::Compound("E").With(Node::Compound("props").With(Node::Text("Lit", "7")));

    Node children = Node::Compound("Children");
    children.With(std::move(a)).With(std::move(b)).With(std::move(c)).With(std::move(d)).With(std::move(e));
    Node group = Node::Compound("Group");
    group.With(std::move(groupProps)).With(std::move(children));
    Node root = Node::Compound("");
    root.AddChild(std::move(group));
    return root;
}

class PropertyLookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        bytes_ = rh::zwf::Write(SceneFixture());
        stream_.ShowData(bytes_.data(), int32_t(bytes_.size()), true);
        stream_.Open(String(), 1);
        root_ = reader_.OpenStream(&stream_);
        ASSERT_NE(root_, nullptr);
        ASSERT_TRUE(root_->Load(0, 0));
    }

    // A node by its path of exact names from the root, "/"-separated.
    DataNode* At(const std::string& path) {
        DataNode* n = root_;
        size_t start = 0;
        while (n != nullptr && start < path.size()) {
            const size_t end = path.find('/', start);
            const std::string name = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
            n = n->FindChild(String(name.c_str()));
            start = end == std::string::npos ? path.size() : end + 1;
        }
        EXPECT_NE(n, nullptr) << path;
        return n;
    }

    rh::zwf::Bytes bytes_;
    MemStream stream_;
    BinaryDataReader reader_;
    DataNode* root_ = nullptr;
};

TEST_F(PropertyLookupTest, TextLookupWithAndWithoutInheritance) {
    struct Case {
        const char* node;
        const char* name;
        bool inherit;
        const char* expected;  // null: not found
    } cases[] = {
        {"Group/Children/A", "Lit", true, "0"},        // own value beats the group's
        {"Group/Children/B", "Lit", true, "1"},        // inherited from the group
        {"Group/Children/B", "Lit", false, nullptr},   // not without inheritance
        {"Group/Children/B", "Face", false, "XYZ"},
        {"Group/Children/B", "FACE", false, "XYZ"},    // names without regard to case
        {"Group/Children/B", "ZWrite", true, "0"},     // the file spells it "zWrite"
        {"Group/Children/C", "Lit", true, nullptr},    // no "Props": inherits nothing
        {"Group/Children/E", "Lit", true, nullptr},    // "props" is not the compound
        {"Group/Children/A", "Missing", true, nullptr},
        {"Group", "Blend", false, "multiply"},
        // Started inside a property compound, the path is relative to that compound.
        {"Group/Children/A/Props/Sub", "x", false, "own"},
        {"Group/Children/A/Props/Sub", "y", false, nullptr},
        {"Group/Children/A/Props/Sub", "y", true, "from group"},
        {"Group/Props/AlphaUse", "1", false, "diffuse"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.node) + " " + c.name + (c.inherit ? " inherit" : ""));
        String out("untouched");
        const bool found = FindPropertyText(At(c.node), c.name, out, c.inherit);
        EXPECT_EQ(found, c.expected != nullptr);
        EXPECT_EQ(Str(out), c.expected != nullptr ? c.expected : "untouched");
    }
    EXPECT_EQ(FindProperty(nullptr, "Lit", true), nullptr);
    // The found node is the nearest owner's.
    EXPECT_EQ(FindProperty(At("Group/Children/B"), "Lit", true), At("Group/Props/Lit"));
}

TEST_F(PropertyLookupTest, WordsAreOneSetWithoutRegardToCase) {
    PropertyWordSet words;
    // A list of "Diffuse" and "diffuse" is one word, inherited by B.
    ASSERT_TRUE(FindPropertyWords(At("Group/Children/B"), "AlphaUse", words, true));
    ASSERT_EQ(words.count(), 1);
    EXPECT_EQ(Str(words.first()->key), "Diffuse");

    // A single text is one word; adding it again to the set changes nothing.
    PropertyWordSet single;
    ASSERT_TRUE(FindPropertyWords(At("Group/Children/D"), "alphause", single, false));
    ASSERT_EQ(single.count(), 1);
    EXPECT_EQ(Str(single.first()->key), "diffuse");
    ASSERT_TRUE(FindPropertyWords(At("Group/Children/B"), "AlphaUse", single, true));
    EXPECT_EQ(single.count(), 1);

    // New words follow the old ones; the walk starts at the first.
    PropertyWordSet mixed;
    mixed.Insert("Bump", true, 1);
    ASSERT_TRUE(FindPropertyWords(At("Group/Children/B"), "Face", mixed, false));
    ASSERT_EQ(mixed.count(), 2);
    EXPECT_EQ(Str(mixed.first()->key), "Bump");
    EXPECT_EQ(Str(mixed.first()->next->key), "XYZ");
    EXPECT_EQ(mixed.WalkNode(), mixed.first());

    PropertyWordSet none;
    EXPECT_FALSE(FindPropertyWords(At("Group/Children/C"), "AlphaUse", none, true));
    EXPECT_EQ(none.count(), 0);
}

TEST_F(PropertyLookupTest, LoadedPropertiesKeepTheNearestValues) {
    PropertyNode props;
    LoadNodeProperties(At("Group/Children/A"), props, true);
    String text;
    EXPECT_TRUE(props.GetString("Blend", text));
    EXPECT_EQ(Str(text), "additive");
    EXPECT_TRUE(props.GetString("Lit", text));
    EXPECT_EQ(Str(text), "0");
    EXPECT_TRUE(props.GetString("ZWRITE", text));
    EXPECT_EQ(Str(text), "0");
    // Compounds become subtrees; the node's own "Sub" hides the group's whole "Sub".
    const PropertyNode* alpha = props.Child("AlphaUse");
    ASSERT_NE(alpha, nullptr);
    EXPECT_EQ(alpha->count(), 2);
    EXPECT_TRUE(alpha->GetString("1", text));
    EXPECT_EQ(Str(text), "diffuse");
    const PropertyNode* sub = props.Child("Sub");
    ASSERT_NE(sub, nullptr);
    EXPECT_NE(sub->Child("x"), nullptr);
    EXPECT_EQ(sub->Child("y"), nullptr);

    // File order: the node's own first, then the group's new names.
    std::vector<std::string> order;
    const PropertyNode::Node* entry = props.first();
    for (int32_t i = 0; i < props.count(); ++i, entry = entry->next) order.push_back(Str(entry->key));
    EXPECT_EQ(order, (std::vector<std::string>{"Blend", "Lit", "Sub", "zWrite", "AlphaUse"}));

    // Values already present win; without inheritance only the node's own come in.
    PropertyNode preset;
    preset.SetChildString("Lit", "preset");
    LoadNodeProperties(At("Group/Children/A"), preset, false);
    EXPECT_TRUE(preset.GetString("Lit", text));
    EXPECT_EQ(Str(text), "preset");
    EXPECT_EQ(preset.Child("zWrite"), nullptr);
    EXPECT_NE(preset.Child("Blend"), nullptr);

    PropertyNode empty;
    LoadNodeProperties(At("Group/Children/C"), empty, true);
    LoadNodeProperties(nullptr, empty, true);
    EXPECT_EQ(empty.count(), 0);
}

// A forged file may nest property compounds thousands deep; the copy stops at a fixed depth
// instead of exhausting the stack.
TEST(PropertyCopy, DeepNestingIsCut) {
    Node deepest = Node::Text("leaf", "v");
    for (int i = 0; i < 5000; ++i) deepest = Node::Compound("n").With(std::move(deepest));
    Node root = Node::Compound("");
    root.AddChild(Node::Compound("Obj").With(Node::Compound("Props").With(std::move(deepest))));
    rh::zwf::Bytes bytes = rh::zwf::Write(root);
    MemStream stream;
    stream.ShowData(bytes.data(), int32_t(bytes.size()), true);
    stream.Open(String(), 1);
    BinaryDataReader reader;
    DataNode* top = reader.OpenStream(&stream);
    ASSERT_NE(top, nullptr);
    ASSERT_TRUE(top->Load(0, 0));
    PropertyNode props;
    LoadNodeProperties(top->FindChild("Obj"), props, true);
    int depth = 0;
    for (const PropertyNode* p = props.Child("n"); p != nullptr; p = p->Child("n")) ++depth;
    EXPECT_GT(depth, 100);
    EXPECT_LT(depth, 5000);
}

}  // namespace
