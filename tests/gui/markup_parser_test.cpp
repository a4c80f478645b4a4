#include "gui/markup_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Narrow(const WideString& s) {
    std::string out;
    for (int32_t i = 0; i < s.length(); ++i) {
        const char16_t c = s.data()[i];
        if (c >= 32 && c < 127) {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
            out += escape;
        }
    }
    return out;
}

std::string PrintAttributes(const RichTextNode& node) {
    std::string out;
    const AttributeMap::Node* a = node.attributes.first();
    for (int32_t i = 0; i < node.attributes.count(); ++i, a = a->next) {
        out += (i == 0 ? "{" : " ") + Narrow(a->key) + "=" + Narrow(a->value);
    }
    return out.empty() ? out : out + "}";
}

// Text nodes as "text", elements as TAG{attributes}[children], children separated by blanks.
std::string PrintNode(const RichTextNode& node);

std::string PrintChildren(const RichTextNode& node) {
    std::string out;
    for (const RichTextNode* child = node.FirstChild(); child != nullptr; child = child->NextSibling()) {
        if (!out.empty()) out += " ";
        out += PrintNode(*child);
    }
    return out;
}

std::string PrintNode(const RichTextNode& node) {
    if (node.textNode) return "\"" + Narrow(node.text) + "\"";
    return Narrow(node.tag) + PrintAttributes(node) + "[" + PrintChildren(node) + "]";
}

// The document and the parse result, as "tree -> true".
std::string Parse(const std::u16string& markup) {
    RichTextNode root;
    const bool ok = ParseMarkupText(root, WideString(markup.data(), static_cast<int32_t>(markup.size()), true));
    return PrintChildren(root) + " -> " + (ok ? "true" : "false");
}

struct MarkupCase {
    const char16_t* markup;
    const char* expected;
};

const MarkupCase kMarkupCases[] = {
    {u"Hello", "\"Hello\" -> true"},
    {u"", " -> true"},
    // Blanks before a run's first word are dropped, blanks before the next tag kept, and so
    // are blanks at the end of the text.
    {u"a b <B>c</B>", "\"a b \" B[\"c\"] -> true"},
    {u"   lead", "\"lead\" -> true"},
    {u"tail  ", "\"tail  \" -> true"},
    {u"x\n<B>y\tz</B>", "\"x\\u000A\" B[\"y\\u0009z\"] -> true"},
    {u"a > b /> c </RAW> d", "\"a > b /> c </RAW> d\" -> true"},
    {u"<B><I>x</I> y</B>z", "B[I[\"x\"] \"y\"] \"z\" -> true"},
    // A closing tag ends the children being parsed; a mismatch makes the result false.
    {u"<B>x</I>y</B>", "B[\"x\"] \"y\" -> false"},
    {u"<B></b>", "B[] -> false"},
    {u"<B></B >x", "B[] \"x\" -> true"},
    {u"<B></B x>", "B[] \">\" -> false"},
    {u"<B></B", "B[] -> false"},
    // Stray closing tags at the top level, the root's own tag included, end the parse.
    {u"a</B>b", "\"a\" -> false"},
    {u"</root>b", " -> false"},
    {u"</", " -> true"},
    // Raw sections: tags inside are text; without "</RAW>" the section is dropped.
    {u"<RAW><B></RAW>", "\"<B>\" -> true"},
    {u"<RAW> a  </RAW>b", "\" a  \" \"b\" -> true"},
    {u"<RAW></RAW>", "\"\" -> true"},
    {u"x <RAW><B>", "\"x \" -> true"},
    {u"<B><RAW></B></RAW></B>", "B[\"</B>\"] -> true"},
    // Elements: empty ones, attributes, unterminated ones.
    {u"<IMG Src=\"x.png\"/>", "IMG{Src=x.png}[] -> true"},
    {u"<IMG Src=\"x.png\" Width=64/>y", "IMG{Src=x.png Width=64}[] \"y\" -> true"},
    {u"<IMG Src=x.png/>", "IMG{Src=x .= png=}[] -> true"},
    {u"<P TextFloat>t</P>", "P{TextFloat=}[\"t\"] -> true"},
    {u"<B>open", "B[\"open\"] -> true"},
    {u"<B", " -> true"},
    {u"<B Size=5", " -> true"},
    {u"<>x>y", ">{x=}[\"y\"] -> true"},
    // A lone "/" is text, and the tag behind it still opens.
    {u"<B>/</B>", "B[\"/\"] -> true"},
    {u"a /<B>b</B>", "\"a /\" B[\"b\"] -> true"},
    // Attribute junk: what was read before the fault stays; the result does not change.
    {u"<B = Size=5 'q>t</B>", "B[\"t\"] -> true"},
    {u"<B Size=5 = x>t</B>", "B{Size=5}[\"t\"] -> true"},
    {u"<B Size=(1)>t</B>", "B[\"t\"] -> true"},
    {u"<B Color=-16777216>t</B>", "B[\"t\"] -> true"},
    // Odd characters are text.
    {u"\xD800<B>\xDFFF</B>", "\"\\uD800\" B[\"\\uDFFF\"] -> true"},
};

TEST(MarkupParserTest, TreesOfMarkup) {
    for (const MarkupCase& c : kMarkupCases) {
        EXPECT_EQ(Parse(c.markup), c.expected) << Narrow(WideString(c.markup));
    }
}

TEST(MarkupParserTest, ZeroUnitsAreText) {
    const std::u16string markup = std::u16string(u"a") + u'\0' + u"<B>" + u'\0' + u"</B>";
    EXPECT_EQ(Parse(markup), "\"a\\u0000\" B[\"\\u0000\"] -> true");
}

// Parsing again replaces the whole tree and resets the root, whatever it held.
TEST(MarkupParserTest, ParseReplacesTheDocument) {
    RichTextNode root;
    ASSERT_TRUE(ParseMarkupText(root, WideString(u"<B>a</B>b")));
    root.tag = WideString(u"other");
    root.textNode = true;
    EXPECT_FALSE(ParseMarkupText(root, WideString(u"c</I>")));
    EXPECT_EQ(PrintNode(root), "root[\"c\"]");
}

// The new text may be a text of the document it replaces.
TEST(MarkupParserTest, TheNewTextMayComeFromTheOldDocument) {
    RichTextNode root;
    ParseMarkupText(root, WideString(u"<RAW><B>x</B></RAW>"));
    ASSERT_TRUE(ParseMarkupText(root, root.FirstChild()->text));
    EXPECT_EQ(PrintChildren(root), "B[\"x\"]");
    BuildPlainDocument(root, root.FirstChild()->FirstChild()->text);
    EXPECT_EQ(PrintChildren(root), "\"x\"");
}

struct AttributeCase {
    const char16_t* text;
    bool ok;
    const char* expected;
};

const AttributeCase kAttributeCases[] = {
    {u"B", true, "{B=}"},
    {u"A B C", true, "{A= B= C=}"},
    {u"Src = \"a b.png\" Width = 32", true, "{Src=a b.png Width=32}"},
    {u"Size=20 Size=30 Bold", true, "{Size=30 Bold=}"},
    {u"Name='it\\'s' Alt=\"\"", true, "{Name=it's Alt=}"},
    {u"12=5 x=1.5 y=ident", true, "{12=5 x=1.5 y=ident}"},
    {u"Color=\"-16777216\"", true, "{Color=-16777216}"},
    {u"", true, ""},
    {u"  \n\t ", true, ""},
    {u"=5 B", false, ""},
    {u"Size=", false, ""},
    {u"A Size=(", false, "{A=}"},
    {u"Color=-16777216", false, ""},
    {u"x=return", false, ""},
    {u"x=\"open", false, ""},
    {u"a b=1 c==d", true, "{a= b=1 c= === d=}"},
    {u"return", true, "{=}"},
};

TEST(MarkupParserTest, Attributes) {
    for (const AttributeCase& c : kAttributeCases) {
        RichTextNode node;
        EXPECT_EQ(ParseAttributes(node, WideString(c.text)), c.ok) << Narrow(WideString(c.text));
        EXPECT_EQ(PrintAttributes(node), c.expected) << Narrow(WideString(c.text));
    }
}

// The first node of the given tag in document order.
RichTextNode* FindTag(RichTextNode& root, const char16_t* tag) {
    for (RichTextNode* n = NextNodeInOrder(&root); n != nullptr; n = NextNodeInOrder(n)) {
        if (!n->textNode && WideStringEqualsText(n->tag, tag)) return n;
    }
    return nullptr;
}

struct StyleCase {
    const char16_t* markup;  // the node checked is the element T
    int32_t size;
    int32_t flags;
    uint32_t color;
    uint32_t background;
};

const StyleCase kStyleCases[] = {
    {u"<T>x</T>", 14, 0, 0xFFFFFFFF, 0xFF000000},
    {u"<T Size=20 CharSpace=3 RowSpace=\"-2\">x</T>", 20, 0, 0xFFFFFFFF, 0xFF000000},
    {u"<P Size=20><B><T>x</T></B></P>", 20, kFontBold, 0xFFFFFFFF, 0xFF000000},
    {u"<B Italic><T>x</T></B>", 14, kFontBold | kFontItalic, 0xFFFFFFFF, 0xFF000000},
    {u"<B><I><T Normal>x</T></I></B>", 14, 0, 0xFFFFFFFF, 0xFF000000},
    {u"<B><T Italic Normal=no>x</T></B>", 14, 0, 0xFFFFFFFF, 0xFF000000},
    {u"<T Bold=0>x</T>", 14, kFontBold, 0xFFFFFFFF, 0xFF000000},
    {u"<b><T>x</T></b>", 14, 0, 0xFFFFFFFF, 0xFF000000},
    {u"<T bold Size=abc>x</T>", 0, 0, 0xFFFFFFFF, 0xFF000000},
    {u"<T Size=99999999999>x</T>", INT32_MIN, 0, 0xFFFFFFFF, 0xFF000000},
    {u"<T Size=\"-5\">x</T>", -5, 0, 0xFFFFFFFF, 0xFF000000},
    // Colours: an opaque colour is written as its negative decimal; a positive one above
    // 0x7FFFFFFF is outside the int range and comes out as 0x80000000; words give 0.
    {u"<T Color=\"-16777216\" BGColor=255>x</T>", 14, 0, 0xFF000000, 0x000000FF},
    {u"<T Color=16711680>x</T>", 14, 0, 0x00FF0000, 0xFF000000},
    {u"<T Color=4278190080>x</T>", 14, 0, 0x80000000, 0xFF000000},
    {u"<T Color=red>x</T>", 14, 0, 0x00000000, 0xFF000000},
    {u"<P Color=\"-65536\"><T>x</T></P>", 14, 0, 0xFFFF0000, 0xFF000000},
};

TEST(MarkupParserTest, ResolvedStyles) {
    for (const StyleCase& c : kStyleCases) {
        RichTextNode root;
        ParseMarkupText(root, WideString(c.markup));
        const RichTextNode* t = FindTag(root, u"T");
        ASSERT_NE(t, nullptr) << Narrow(WideString(c.markup));
        EXPECT_EQ(t->style.size, c.size) << Narrow(WideString(c.markup));
        EXPECT_EQ(t->style.flags, c.flags) << Narrow(WideString(c.markup));
        EXPECT_EQ(t->style.color.ToARGB(), c.color) << Narrow(WideString(c.markup));
        EXPECT_EQ(t->style.background.ToARGB(), c.background) << Narrow(WideString(c.markup));
        // The text inside inherits the element's style.
        const RichTextNode* text = t->FirstChild();
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->style.size, c.size);
        EXPECT_EQ(text->style.flags, c.flags);
    }
}

TEST(MarkupParserTest, StylesStartFromTheRootAndFollowChanges) {
    RichTextNode root;
    root.style.size = 64;
    root.style.fontName = WideString(u"Label");
    ParseMarkupText(root, WideString(u"a<T FontName=Serif Size=10 TextFloat>b</T>"));
    RichTextNode* a = root.FirstChild();
    RichTextNode* t = FindTag(root, u"T");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(a->style.size, 64);
    EXPECT_EQ(Narrow(a->style.fontName), "Label");
    EXPECT_EQ(Narrow(t->style.fontName), "Serif");
    EXPECT_EQ(Narrow(t->FirstChild()->style.fontName), "Serif");
    EXPECT_TRUE(t->IsFloating());
    EXPECT_FALSE(a->IsFloating());
    EXPECT_FALSE(root.IsFloating());
    // SetText resolves the node again from its parent's current style.
    t->style.size = 33;
    t->FirstChild()->SetText(WideString(u"new"));
    EXPECT_EQ(Narrow(t->FirstChild()->GetText()), "new");
    EXPECT_EQ(t->FirstChild()->TextLength(), 3);
    EXPECT_EQ(t->FirstChild()->style.size, 33);
    // UpdateNode with children restyles the subtree from the root down.
    root.style.size = 40;
    UpdateNode(root, true);
    EXPECT_EQ(a->style.size, 40);
    EXPECT_EQ(t->style.size, 10);
}

TEST(MarkupParserTest, DepthFirstWalk) {
    RichTextNode root;
    ParseMarkupText(root, WideString(u"a<B>b<I>c</I></B><P/>d"));
    std::string steps;
    RichTextNode* node = &root;
    bool descending = true;
    while (NextNode(node, descending)) {
        steps += (node->textNode ? Narrow(node->text) : Narrow(node->tag)) + (descending ? "+ " : "- ");
    }
    EXPECT_EQ(steps, "a+ a- B+ b+ b- I+ c+ c- I- B- P+ P- d+ d- root- ");
    EXPECT_EQ(node, &root);

    std::string order;
    for (RichTextNode* n = NextNodeInOrder(&root); n != nullptr; n = NextNodeInOrder(n)) {
        order += n->textNode ? Narrow(n->text) : Narrow(n->tag);
    }
    EXPECT_EQ(order, "aBbIcPd");

    std::string texts;
    for (RichTextNode* n = FindNodeOfKind(&root, NodeKind::kText); n != nullptr;
         n = NextNodeOfKind(n, NodeKind::kText)) {
        texts += Narrow(n->text);
    }
    EXPECT_EQ(texts, "abcd");
    EXPECT_EQ(FindNodeOfKind(&root, NodeKind::kElement), &root);
    EXPECT_EQ(NextNodeOfKind(&root, NodeKind::kPicture), nullptr);
    EXPECT_EQ(NextNodeInOrder(nullptr), nullptr);

    RichTextNode empty;
    node = &empty;
    descending = true;
    EXPECT_FALSE(NextNode(node, descending));
    EXPECT_EQ(NextNodeInOrder(&empty), nullptr);
}

TEST(MarkupParserTest, TextPositionAdvance) {
    RichTextNode root;
    ParseMarkupText(root, WideString(u"ab<B>cd</B><RAW></RAW><P/>e"));
    struct Case {
        int32_t n;
        bool ok;
        const char* text;
        int32_t offset;
        char16_t c;
    } cases[] = {
        {0, true, "ab", 0, u'a'}, {1, true, "ab", 1, u'b'}, {2, true, "cd", 0, u'c'},
        {3, true, "cd", 1, u'd'}, {4, true, "e", 0, u'e'},  {5, false, "e", 1, 0},
        {100, false, "e", 1, 0},
    };
    for (const Case& c : cases) {
        TextPosition p{&root, 0};
        p.Start();
        EXPECT_EQ(p.Advance(c.n), c.ok) << c.n;
        ASSERT_NE(p.node, nullptr);
        EXPECT_EQ(Narrow(p.node->text), c.text) << c.n;
        EXPECT_EQ(p.offset, c.offset) << c.n;
        EXPECT_EQ(p.Char(), c.c) << c.n;
    }
    // Step by step from an element: to the next text node first; an empty text is passed over.
    TextPosition p{FindTag(root, u"B"), 0};
    std::string read;
    for (bool ok = p.Advance(0); ok; ok = p.Advance(1)) read += static_cast<char>(p.Char());
    EXPECT_EQ(read, "cde");
    // Negative steps fail and change nothing; so does an element with no text after it.
    TextPosition q{FindTag(root, u"P"), 0};
    const TextPosition before = q;
    EXPECT_FALSE(q.Advance(-1));
    EXPECT_EQ(q, before);
    TextPosition none{nullptr, 0};
    EXPECT_FALSE(none.Advance(0));
    EXPECT_EQ(none.Char(), 0);
    RichTextNode bare;
    ParseMarkupText(bare, WideString(u"<P/>"));
    TextPosition r{&bare, 0};
    EXPECT_FALSE(r.Advance(0));
    EXPECT_EQ(r.node, &bare);
}

std::u16string Repeat(const char16_t* part, int times) {
    std::u16string out;
    for (int i = 0; i < times; ++i) out += part;
    return out;
}

// How many levels below the root the deepest node lies.
int32_t Depth(RichTextNode& root) {
    int32_t deepest = 0;
    for (RichTextNode* n = NextNodeInOrder(&root); n != nullptr; n = NextNodeInOrder(n)) {
        int32_t depth = 0;
        for (RichTextNode* up = n; up != &root; up = up->parent()) ++depth;
        if (depth > deepest) deepest = depth;
    }
    return deepest;
}

TEST(MarkupParserTest, NestingIsBounded) {
    struct Case {
        std::u16string markup;
        bool ok;
        int32_t depth;
    } cases[] = {
        {Repeat(u"<B>", kMaxMarkupDepth - 1) + u"x", true, kMaxMarkupDepth},
        {Repeat(u"<B>", kMaxMarkupDepth - 1) + u"<B/>y", true, kMaxMarkupDepth},
        {Repeat(u"<B>", kMaxMarkupDepth) + u"x", false, kMaxMarkupDepth},
        {Repeat(u"<B>", kMaxMarkupDepth) + u"</B>", true, kMaxMarkupDepth},
        {Repeat(u"<B>", 100000), false, kMaxMarkupDepth},
        {Repeat(u"<B>", 300) + Repeat(u"</B>", 300) + u"after", false, kMaxMarkupDepth},
    };
    for (const Case& c : cases) {
        RichTextNode root;
        EXPECT_EQ(ParseMarkupText(root, WideString(c.markup.data(), static_cast<int32_t>(c.markup.size()), true)),
                  c.ok)
            << c.markup.size();
        EXPECT_EQ(Depth(root), c.depth) << c.markup.size();
    }
}

// Trees deeper than any parse makes, built by hand, are updated and deleted without recursion.
TEST(MarkupParserTest, DeepTreesNeedNoRecursion) {
    auto* root = new RichTextNode;
    root->style.size = 30;
    RichTextNode* node = root;
    for (int i = 0; i < 100000; ++i) {
        auto* child = new RichTextNode;
        child->tag = WideString(u"B");
        node->AppendChild(child);
        node = child;
    }
    UpdateNode(*root, true);
    EXPECT_EQ(node->style.size, 30);
    EXPECT_EQ(node->style.flags, kFontBold);
    delete root;
}

TEST(MarkupParserTest, DetachAndSiblings) {
    RichTextNode root;
    ParseMarkupText(root, WideString(u"a<B/>c"));
    RichTextNode* b = root.FirstChild()->NextSibling();
    ASSERT_NE(b, nullptr);
    b->Detach();
    EXPECT_EQ(b->parent(), nullptr);
    EXPECT_EQ(PrintChildren(root), "\"a\" \"c\"");
    root.AppendChild(b);
    EXPECT_EQ(PrintChildren(root), "\"a\" \"c\" B[]");
    EXPECT_EQ(b->NextSibling(), nullptr);
    EXPECT_EQ(root.NextSibling(), nullptr);
}

// Plain text becomes the one text node a raw section gives, for any text: "</RAW>" in it
// cannot break out into markup.
TEST(MarkupParserTest, PlainDocuments) {
    for (const char16_t* text : {u"12:34:56", u"", u"  a <B>b</B> ", u"x</RAW>", u"<RAW>y",
                                 u"tris: 5\nnodes: 3"}) {
        RichTextNode plain;
        plain.style.size = 64;
        BuildPlainDocument(plain, WideString(text));
        ASSERT_EQ(plain.children().count(), 1);
        EXPECT_EQ(Narrow(plain.FirstChild()->text), Narrow(WideString(text)));
        EXPECT_EQ(plain.FirstChild()->style.size, 64);
        EXPECT_TRUE(WideStringEqualsText(plain.tag, u"root"));
        if (WideString(text).Find(WideString(u"</RAW>"), 0) < 0) {
            RichTextNode raw;
            EXPECT_TRUE(ParseMarkupText(raw, ConcatTextWideString(u"<RAW>", ConcatWideStringText(WideString(text), u"</RAW>"))));
            EXPECT_EQ(PrintChildren(raw), PrintChildren(plain)) << Narrow(WideString(text));
        }
    }
}

}  // namespace
