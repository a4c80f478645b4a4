// The line dialect: one statement per line, ';' comments, literal text values, wide text in
// between, and includes handed to the free-form parser.
#include "core/script/line_script.h"

#include "core/files/file_ref.h"
#include "core/files/mem_stream.h"
#include "core/files/search_paths.h"
#include "tests/core/script/script_test_util.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

using script_test::Dump;
using script_test::ParseLines;
using script_test::Str;

namespace {

struct LineCase {
    const char* script;
    const char* tree;  // Dump of the root afterwards
    bool ok;
};

const LineCase kLineCases[] = {
    {"AppName =   Some title with blanks \t", "AppName='Some title with blanks'", true},
    {"FarPlane = 5500; comment text\nNear = 1", "FarPlane='5500' Near='1'", true},
    // ';' ends the statement even inside quotes; the unclosed quote keeps its opener.
    {R"(a = "a;b")", R"(a='"a')", true},
    {"; comment line\n\n\r\nb = 1\n;another", "b='1'", true},
    {"\t  \t\nb = 1", "b='1'", false},
    {"  ; indented comment\nb = 1", "b='1'", false},
    {"// note\n//k = 1\nv = a//b", "//k='1' v='a//b'", true},
    {"Ambient = array(225,225,225);", "Ambient#a{0='225' 1='225' 2='225'}", true},
    {R"(Animations = array("c01.cam","c02.cam"))", "Animations#a{0='c01.cam' 1='c02.cam'}",
     true},
    {"a = array(1,,2)", "a#a{0='1' 1='2'}", false},
    {"a = array(1,\n2)", "a#a{0='1'}", true},
    {"Width = 800\nPath = A\\\\B", "Width='800' Path='A\\\\B'", true},
    {"x = 12px\ny = other.node", "x='12px' y='other.node'", true},  // no references
    {"using Msg\nHello there\n'World'", "Msg#o{0='Hello there' 1='World'}", true},
    {"using Msg\nusing\nHello", "Msg#o", true},
    {"a => b = c", "a='b = c'", true},
    {"Styles[0].Size = 64", "Styles#a{0#o{Size='64'}}", true},
    {"a = object(w = 1, h = \"2\")", "a#o{w='1' h='2'}", true},
    {"a = 5\na =", "a", true},
    {"a.b = 1\na = array(2)", "a#a{0='2'}", true},
};

TEST(LineScript, StatementTable) {
    for (const LineCase& c : kLineCases) {
        ScriptNode root;
        EXPECT_EQ(ParseLines(c.script, root), c.ok) << c.script;
        EXPECT_EQ(Dump(root), c.tree) << c.script;
    }
}

TEST(LineScript, UnreadableStreamsFail) {
    ScriptNode root;
    EXPECT_FALSE(ParseLines("", root));
}

TEST(LineScript, ReadScriptLineSteps) {
    const std::u16string text = u"\r\n; c\n;c2\r\n a = 1 ; tail\nb\n\n";
    const int32_t length = static_cast<int32_t>(text.size());
    int32_t position = 0;
    const auto next = [&] {
        const WideString line = ReadScriptLine(text.data(), length, position);
        return std::u16string(line.Text(), static_cast<size_t>(line.length()));
    };
    EXPECT_EQ(next(), u" a = 1 ");
    EXPECT_EQ(next(), u"b");
    EXPECT_EQ(next(), u"");
    EXPECT_EQ(position, length);
}

TEST(LineScript, WideHelpersMatchTheNarrowOnes) {
    EXPECT_EQ(std::u16string(TrimWide(WideString(u" \tab c\t ")).Text()), u"ab c");
    EXPECT_EQ(std::u16string(TakeTokenWide(WideString(u"\"x,y\",z"), WideString(u",")).Text()),
              u"\"x,y\"");
    EXPECT_EQ(std::u16string(ExtractGroupWide(WideString(u"(a(b))c"), u'(', u')').Text()),
              u"(a(b))");
    EXPECT_EQ(std::u16string(UnquoteWide(WideString(u"\"a\\\"b\"c"), u'"', u'"').Text()),
              u"a\\\"b");
    EXPECT_EQ(std::u16string(UnquoteWide(WideString(u"\"open"), u'"', u'"').Text()), u"\"open");
    const char16_t text[] = u"ab\r\n\ncd";
    int32_t position = 0;
    SkipLineWide(text, 7, position);
    EXPECT_EQ(position, 5);

    ScriptNode root;
    ScriptNode* node = FindOrCreateNodeWide(&root, WideString(u"a[\"k\"].\u00e9"), nullptr);
    EXPECT_EQ(Str(node->name), "\xE9");
    EXPECT_EQ(Dump(root), "a#a{k#o{\xE9}}");
}

TEST(LineScript, BytesAbove127RoundTrip) {
    ScriptNode root;
    EXPECT_TRUE(ParseLines("Title\xC4 = Caf\xE9 \x80\xFF\nQuoted = \"\xA0x\xA0\"", root));
    ASSERT_NE(root.Child("Title\xC4"), nullptr);
    EXPECT_EQ(Str(root.Child("Title\xC4")->value), "Caf\xE9 \x80\xFF");
    EXPECT_EQ(Str(root.Child("Quoted")->value), "\xA0x\xA0");
}

TEST(LineScript, ExecuteLineStatementClearsAFreedScope) {
    ScriptNode root;
    ScriptNode* scope = nullptr;
    EXPECT_FALSE(ExecuteLineStatement(&root, WideString(u"  "), scope, nullptr));
    EXPECT_TRUE(ExecuteLineStatement(&root, WideString(u"using a.b"), scope, nullptr));
    EXPECT_EQ(scope, root.Child("a")->Child("b"));
    EXPECT_TRUE(ExecuteLineStatement(&root, WideString(u"x = array(using, a = 1)"), scope,
                                     nullptr));
    EXPECT_EQ(scope, nullptr);
    EXPECT_EQ(Dump(root), "a='1'");
}

TEST(LineScript, DeepNestingStopsAtTheBound) {
    const int levels = 3000;
    std::string script = "a = ";
    for (int i = 0; i < levels; ++i) script += "object(";
    for (int i = 0; i < levels; ++i) script += ")";
    script += "\nb = 2";
    ScriptNode root;
    EXPECT_FALSE(ParseLines(script, root));
    int64_t count = 0;
    int64_t depth = 0;
    script_test::Measure(root, count, depth);
    EXPECT_GT(depth, 200);
    EXPECT_LE(depth, 300);
    EXPECT_EQ(Str(root.Child("b")->value), "2");
}

using LineIncludeTest = script_test::IncludeDirTest;

// The included file is free-form: its ';' separate statements and its texts are quoted.
TEST_F(LineIncludeTest, IncludeHandsTheFileToTheFreeFormParser) {
    Write("font.fs", "Name = \"Sylfaen\"; Size = 64;\nref = Name;");
    ScriptNode root;
    EXPECT_TRUE(ParseLines("include(\"font.fs\")\nAfter = 1", root, &paths_));
    EXPECT_EQ(Dump(root), "Name='Sylfaen' Size='64' ref='Sylfaen' After='1'");
}

TEST_F(LineIncludeTest, MissingAndFailingIncludes) {
    Write("empty.fs", "");
    ScriptNode root;
    EXPECT_TRUE(ParseLines("include(\"gone.fs\")\nx = 1", root, &paths_));
    EXPECT_EQ(Dump(root), "x='1'");
    ScriptNode failing;
    EXPECT_FALSE(ParseLines("include(\"empty.fs\")\nx = 1", failing, &paths_));
    EXPECT_EQ(Dump(failing), "x='1'");
}

}  // namespace
