#include "core/object/property_node.h"

#include "core/object/style_registry.h"
#include "core/object/type_id.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

// A value type that counts how many of its values are alive, to see each destroyed exactly
// once (copies made by clone routines included).
struct Tracked {
    static inline int live = 0;
    explicit Tracked(int v) : value(v) { ++live; }
    Tracked(const Tracked& other) : value(other.value) { ++live; }
    Tracked& operator=(const Tracked&) = default;
    ~Tracked() { --live; }
    int value;
};

class PropertyNodeTest : public ::testing::Test {
protected:
    void SetUp() override { Tracked::live = 0; }
    void TearDown() override { EXPECT_EQ(Tracked::live, 0) << "a value outlived its node"; }
};

DynArray<Vec3>* MakePoints(std::vector<Vec3> points) {
    auto* array = new DynArray<Vec3>(0, 10);
    for (size_t i = 0; i < points.size(); ++i) array->At(static_cast<int32_t>(i)) = points[i];
    return array;
}

std::vector<float> Coordinates(const DynArray<Vec3>* array) {
    std::vector<float> out;
    for (int32_t i = 0; i < array->count(); ++i) {
        out.insert(out.end(), {array->items()[i].x, array->items()[i].y, array->items()[i].z});
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// Equality of trees, for the copy tests: the same value and the same children, whose lists
// are the same ring (a copy's list may start elsewhere on it).

::testing::AssertionResult SameValue(const PropertyNode& a, const PropertyNode& b) {
    if (a.ValueType() != b.ValueType()) return ::testing::AssertionFailure() << "value types";
    if (const String* s = a.ValueAs<String>()) {
        if (!StringsEqual(*s, *b.ValueAs<String>())) {
            return ::testing::AssertionFailure()
                   << s->Text() << " vs " << b.ValueAs<String>()->Text();
        }
    } else if (const PointArrayValue* p = a.ValueAs<PointArrayValue>()) {
        const PointArrayValue* q = b.ValueAs<PointArrayValue>();
        if (p->array() == q->array() && p->array() != nullptr) {
            return ::testing::AssertionFailure() << "a point array is shared";
        }
        if (Coordinates(p->array()) != Coordinates(q->array())) {
            return ::testing::AssertionFailure() << "point arrays differ";
        }
    } else if (ByteBuffersDiffer(a.Payload(), b.Payload())) {
        return ::testing::AssertionFailure() << "payloads differ";
    }
    return ::testing::AssertionSuccess();
}

std::vector<std::string> Ring(const PropertyNode& node, const PropertyNode::Node* start) {
    std::vector<std::string> names;
    for (int32_t i = 0; i < node.count(); ++i, start = start->next) {
        names.push_back(start->key.Text());
    }
    return names;
}

::testing::AssertionResult SameTree(const PropertyNode& a, const PropertyNode& b) {
    if (auto same = SameValue(a, b); !same) return same;
    if (a.count() != b.count()) return ::testing::AssertionFailure() << "child counts";
    if (a.count() == 0) return ::testing::AssertionSuccess();
    const PropertyNode::Node* start = b.FindNode(a.first()->key);
    if (start == nullptr) return ::testing::AssertionFailure() << "children differ";
    if (Ring(a, a.first()) != Ring(b, start)) return ::testing::AssertionFailure() << "order";
    const PropertyNode::Node* n = a.first();
    for (int32_t i = 0; i < a.count(); ++i, n = n->next) {
        if (auto same = SameTree(*n->value, *b.Child(n->key)); !same) {
            return same << " under " << n->key.Text();
        }
    }
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------------------------
// Lookup and typed reads

TEST_F(PropertyNodeTest, ChildNamesIgnoreCase) {
    PropertyNode node;
    node.SetIntProperty("Alpha", 1);
    node.SetIntProperty("beta", 2);
    node.SetIntProperty("GAMMA_3", 3);
    const struct {
        const char* asked;
        bool found;
        int value;
    } cases[] = {{"Alpha", true, 1},   {"alpha", true, 1},   {"ALPHA", true, 1},
                 {"BeTa", true, 2},    {"gamma_3", true, 3}, {"gamma", false, 0},
                 {"Alpha ", false, 0}, {"", false, 0}};
    for (const auto& c : cases) {
        int out = -99;
        EXPECT_EQ(node.GetInt(c.asked, out), c.found) << c.asked;
        EXPECT_EQ(out, c.found ? c.value : -99) << c.asked;
        EXPECT_EQ(node.Child(c.asked) != nullptr, c.found) << c.asked;
    }
}

TEST_F(PropertyNodeTest, TypedReadsAnswerOnlyTheirOwnType) {
    const struct {
        const char* stored;
        std::function<void(PropertyNode&)> set;
        bool intRead;
        bool floatRead;
        bool stringRead;
    } cases[] = {
        {"SetInt", [](PropertyNode& n) { n.SetInt(5); }, true, false, false},
        {"SetInt32", [](PropertyNode& n) { n.SetInt32(5); }, false, false, false},
        {"float", [](PropertyNode& n) { n.SetValue(5.0f); }, false, true, false},
        {"SetBool", [](PropertyNode& n) { n.SetBool(true); }, false, false, false},
        {"SetString", [](PropertyNode& n) { n.SetString("5"); }, false, false, true},
        {"no value", [](PropertyNode&) {}, false, false, false},
    };
    for (const auto& c : cases) {
        PropertyNode parent;
        PropertyNode* child = new PropertyNode;
        parent.Insert("x", child, 1);
        c.set(*child);
        int i = -1;
        float f = -1.0f;
        EXPECT_EQ(parent.GetInt("X", i), c.intRead) << c.stored;
        EXPECT_EQ(i, c.intRead ? 5 : -1) << c.stored << ": a refused read leaves out alone";
        EXPECT_EQ(parent.GetFloat("X", f), c.floatRead) << c.stored;
        EXPECT_EQ(f, c.floatRead ? 5.0f : -1.0f) << c.stored;
        String text("untouched");
        EXPECT_EQ(parent.GetString("X", text), c.stringRead) << c.stored;
        EXPECT_STREQ(text.Text(), c.stringRead ? "5" : "untouched") << c.stored;
        EXPECT_EQ(parent.LookupChild("X"), child) << "found without regard to case";
    }
    PropertyNode empty;
    int i = -1;
    EXPECT_FALSE(empty.GetInt("x", i));
    EXPECT_EQ(i, -1);
}

TEST_F(PropertyNodeTest, Int32ValuesGetAnIdOfTheirOwn) {
    PropertyNode node;
    node.SetInt32(7);
    EXPECT_NE(node.ValueType(), TypeId<int>::Get());
    ASSERT_NE(node.ValueAs<Int32Value>(), nullptr);
    EXPECT_EQ(node.ValueAs<Int32Value>()->value, 7);
    EXPECT_EQ(node.ValueAs<int>(), nullptr);
}

TEST_F(PropertyNodeTest, NamedSetterReusesTheChildWhateverTheCase) {
    PropertyNode node;
    node.SetIntProperty("Width", 10);
    node.SetIntProperty("WIDTH", 20);
    node.SetChildString("title", "a");
    node.SetChildString("Title", "b");
    node.SetBoolProperty("on", false);
    node.SetBoolProperty("ON", true);
    ASSERT_EQ(node.count(), 3);
    int width = 0;
    EXPECT_TRUE(node.GetInt("width", width));
    EXPECT_EQ(width, 20);
    EXPECT_STREQ(node.Child("TITLE")->ValueAs<String>()->Text(), "b");
    EXPECT_TRUE(*node.Child("On")->ValueAs<bool>());
    // The first spelling names the child; children list in creation order.
    EXPECT_EQ(Ring(node, node.first()), (std::vector<std::string>{"Width", "title", "on"}));
}

// ---------------------------------------------------------------------------------------------
// Value lifetimes

TEST_F(PropertyNodeTest, EachValueDestroyedExactlyOnce) {
    // Each scenario ends with its nodes gone; the fixture checks that no Tracked is alive,
    // ASan that no String or point array leaked or was freed twice.
    const struct {
        const char* name;
        std::function<void()> run;
    } scenarios[] = {
        {"replaced by another type",
         [] {
             PropertyNode node;
             node.SetValue(Tracked(1));
             EXPECT_EQ(Tracked::live, 1);
             node.SetInt(2);
             EXPECT_EQ(Tracked::live, 0);
             EXPECT_EQ(node.ValueType(), TypeId<int>::Get());
         }},
        {"replaced by the same type, in place",
         [] {
             PropertyNode node;
             node.SetValue(Tracked(1));
             node.SetValue(Tracked(2));
             EXPECT_EQ(Tracked::live, 1);
             EXPECT_EQ(node.ValueAs<Tracked>()->value, 2);
         }},
        {"destroyed with its node", [] {
             PropertyNode node;
             node.SetValue(Tracked(1));
             node.SetIntProperty("child", 1);
             node.Child("child")->SetValue(Tracked(2));
             EXPECT_EQ(Tracked::live, 2);
         }},
        {"dropped by Assign, copied by Assign",
         [] {
             PropertyNode source;
             source.SetValue(Tracked(1));
             PropertyNode target;
             target.SetValue(Tracked(2));
             target.SetIntProperty("old", 0);
             target.Child("old")->SetValue(Tracked(3));
             target.Assign(source);
             EXPECT_EQ(Tracked::live, 2) << "source's value and its copy";
             EXPECT_EQ(target.ValueAs<Tracked>()->value, 1);
             EXPECT_EQ(target.count(), 0);
         }},
        {"string then int then string",
         [] {
             PropertyNode node;
             node.SetInt(1);
             node.SetString("a text long enough to need its own block");
             EXPECT_EQ(node.ValueType(), TypeId<String>::Get());
             node.SetInt(3);
             EXPECT_EQ(node.ValueType(), TypeId<int>::Get());
             node.SetString("again");
             node.SetString("and overwritten");
             EXPECT_STREQ(node.ValueAs<String>()->Text(), "and overwritten");
         }},
        {"children cleared", [] {
             PropertyNode node;
             node.SetValue(Tracked(1));
             node.SetIntProperty("a", 1);
             node.Child("a")->SetValue(Tracked(2));
             node.Clear();
             EXPECT_EQ(node.count(), 0);
             EXPECT_EQ(Tracked::live, 1) << "Clear deletes the children, not the value";
         }},
    };
    for (const auto& s : scenarios) {
        SCOPED_TRACE(s.name);
        s.run();
        EXPECT_EQ(Tracked::live, 0);
    }
}

TEST_F(PropertyNodeTest, PayloadBlockKeptWhenTheSizeAllows) {
    PropertyNode node;
    node.SetInt(1);
    const unsigned char* block = node.Payload().Data();
    node.SetInt(2);
    EXPECT_EQ(node.Payload().Data(), block) << "same type: overwritten in place";
    node.SetInt32(3);
    EXPECT_EQ(node.Payload().Data(), block) << "another 4-byte type reuses the block";
    EXPECT_EQ(node.Payload().Size(), 4);
    node.SetBool(true);
    EXPECT_EQ(node.Payload().Size(), 1);
    node.SetString("x");
    EXPECT_EQ(node.Payload().Size(), static_cast<int32_t>(sizeof(String)));
}

TEST_F(PropertyNodeTest, PointArraysOwnedByTheNodeAndCopiedDeeply) {
    PropertyNode node;
    DynArray<Vec3>* first = MakePoints({{1, 2, 3}, {4, 5, 6}});
    node.SetPointerProperty("ShapeLine", first);
    PropertyNode* line = node.Child("shapeline");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->Payload().Size(), static_cast<int32_t>(sizeof(void*)));
    DynArray<Vec3>* stored;
    std::memcpy(&stored, line->Payload().Data(), sizeof stored);
    EXPECT_EQ(stored, first) << "the payload is the array pointer";

    line->SetPointArray(first);  // the same array again must not free it
    EXPECT_EQ(line->ValueAs<PointArrayValue>()->array(), first);

    PropertyNode copy(node);
    const DynArray<Vec3>* copied = copy.Child("ShapeLine")->ValueAs<PointArrayValue>()->array();
    EXPECT_NE(copied, first);
    EXPECT_EQ(Coordinates(copied), Coordinates(first));

    // A later line replaces the earlier one, which is freed (ASan would report the leak).
    node.SetPointerProperty("SHAPELINE", MakePoints({{7, 8, 9}}));
    EXPECT_EQ(Coordinates(line->ValueAs<PointArrayValue>()->array()),
              (std::vector<float>{7, 8, 9}));
    EXPECT_EQ(Coordinates(copied), (std::vector<float>{1, 2, 3, 4, 5, 6}));
    line->SetInt(0);  // and a point array replaced by another type is freed too

    PropertyNode empty;
    empty.SetPointArray(nullptr);
    PropertyNode emptyCopy(empty);
    EXPECT_EQ(emptyCopy.ValueAs<PointArrayValue>()->array(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Deep copies

// root: "b" (int) with children "deep" (String) and "pts" (points); "a" (Int32Value);
// "c" (bool) with child "f" (float); root itself holds a String.
void BuildTree(PropertyNode& root) {
    root.SetString("root");
    root.SetIntProperty("b", 2);
    PropertyNode* b = root.Child("b");
    b->SetChildString("deep", "text");
    b->SetPointerProperty("pts", MakePoints({{1, 1, 1}}));
    root.SetIntProperty("a", 0);
    root.Child("a")->SetInt32(32);
    root.SetBoolProperty("c", true);
    root.Child("c")->SetIntProperty("f", 0);
    root.Child("c")->Child("f")->SetValue(1.5f);
}

TEST_F(PropertyNodeTest, CopyListsChildrenFromTheSourceCursor) {
    PropertyNode source;
    for (const char* name : {"one", "two", "three", "four"}) source.SetIntProperty(name, 0);
    source.SetCursor(source.FindNode("three"));
    PropertyNode copy(source);
    EXPECT_EQ(Ring(copy, copy.first()),
              (std::vector<std::string>{"three", "four", "one", "two"}));
    EXPECT_EQ(source.cursor(), source.FindNode("three")) << "the source's cursor is kept";
}

TEST_F(PropertyNodeTest, CopyOfACopyEqualsTheOriginal) {
    PropertyNode original;
    BuildTree(original);
    PropertyNode copy(original);
    PropertyNode copyOfCopy(copy);
    EXPECT_TRUE(SameTree(original, copy));
    EXPECT_TRUE(SameTree(original, copyOfCopy));

    // The copies are independent: changing one leaves the others alone.
    copy.Child("b")->SetChildString("deep", "changed");
    EXPECT_STREQ(original.Child("b")->Child("deep")->ValueAs<String>()->Text(), "text");
    EXPECT_TRUE(SameTree(original, copyOfCopy));
}

TEST_F(PropertyNodeTest, AssignReplacesEverythingAndIgnoresItself) {
    PropertyNode original;
    BuildTree(original);
    PropertyNode target;
    target.SetValue(Tracked(1));
    target.SetIntProperty("stale", 1);
    target.Child("stale")->SetValue(Tracked(2));
    target.Assign(original);
    EXPECT_EQ(Tracked::live, 0);
    EXPECT_EQ(target.Child("stale"), nullptr);
    EXPECT_TRUE(SameTree(original, target));

    target.Assign(target);
    EXPECT_TRUE(SameTree(original, target));

    PropertyNode empty;
    target.Assign(empty);
    EXPECT_EQ(target.ValueType(), TypeRegistry::kNoType);
    EXPECT_EQ(target.count(), 0);
    EXPECT_EQ(target.Payload().Data(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// The style registry

TEST(StyleRegistryTest, OneStylePerExactName) {
    StyleRegistry registry;
    PropertyNode* button = registry.GetOrCreateStyle("Button");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(registry.GetOrCreateStyle("Button"), button);
    PropertyNode* lower = registry.GetOrCreateStyle("button");
    EXPECT_NE(lower, button) << "style names keep their case";
    EXPECT_EQ(registry.count(), 2);
    // The registry deletes its styles, values and children included (ASan sees leaks).
    button->SetChildString("Font", "Sans");
    lower->SetPointerProperty("pts", MakePoints({{0, 0, 0}}));
}

TEST(StyleRegistryTest, GlobalRegistryKeepsItsStyles) {
    PropertyNode* style = g_styleRegistry.GetOrCreateStyle("StyleRegistryTest.Global");
    style->SetIntProperty("Margin", 4);
    int margin = 0;
    PropertyNode* again = g_styleRegistry.GetOrCreateStyle("StyleRegistryTest.Global");
    EXPECT_EQ(again, style);
    EXPECT_TRUE(again->GetInt("margin", margin));
    EXPECT_EQ(margin, 4);
}

}  // namespace
