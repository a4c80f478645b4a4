// The free-form dialect: statements, values, paths, references, includes, and the bounds that
// keep broken or hostile files from crashing or hanging the parse.
#include "core/script/script_parser.h"

#include "core/files/file_ref.h"
#include "core/files/mem_stream.h"
#include "core/files/search_paths.h"
#include "tests/core/script/script_test_util.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using script_test::Dump;
using script_test::Parse;
using script_test::Str;

namespace {

struct StatementCase {
    const char* script;
    const char* tree;  // Dump of the root afterwards
    bool ok;
};

// What each statement leaves in the tree; rows follow the language's corner cases.
const StatementCase kStatementCases[] = {
    {R"(Name = "Sylfaen";)", "Name='Sylfaen'", true},
    {"Styles[0].Size = 64;", "Styles#a{0#o{Size='64'}}", true},
    {"ColorKey = array(255, 0, 255);", "ColorKey#a{0='255' 1='0' 2='255'}", true},
    {R"(Styles[0].Charsets = array("64font.css");)",
     "Styles#a{0#o{Charsets#a{0='64font.css'}}}", true},
    {R"(Sizes["0"] = 38;)", "Sizes#a{0='38'}", true},
    // Every '.' splits, even inside quotes: the path's components keep their unmatched bracket and quote.
    {R"(Sizes["."] = 20;)", R"(Sizes#a{["#o{"]='20'}})", true},
    {"using Display; Width = 800;", "Display#o{Width='800'}", true},
    {"using Display; using ; Width = 800;", "Display#o Width='800'", true},
    {"b = array(1, object(c = 2)); a = b;",
     "b#a{0='1' 1#o{c='2'}} a#a{0='1' 1#o{c='2'}}", true},
    {"a = x;", "a x", true},
    {"5;", "", true},
    // An empty statement is skipped rather than ending the parse.
    {"a = 1;; b = 2;", "a='1' b='2'", true},
    {"a = 1;\n;\n\n;b = 2;", "a='1' b='2'", true},
    {R"(a = "x;y";)", "a='x;y'", true},
    // A comment starts even inside quotes; the quote stays open over the next line.
    {"a = \"p//q\";\nb = 1\";\nc = 2;", "a='pb = 1' c='2'", true},
    {R"(a = "say \"hi\"";)", R"(a='say \"hi\"')", true},
    {R"(a = "x\";y";)", R"(a='x\";y')", true},
    {"a = 'x;y';", "a='x;y'", true},
    {"a = 12px;", "a 12px", true},
    {"a = 0x10;", "a 0x10", true},
    {"a = -1.5e3;", "a='-1.5e3'", true},
    {"a = 7; a = arrayx;", "a#a='7'", true},
    {"a = array(1,,2);", "a#a{0='1' 1 2='2'}", true},
    {"a = array(1, 2,);", "a#a{0='1' 1='2'}", true},
    {"a = array();", "a#a", true},
    {"a = array(1, 2); a = array(3);", "a#a{0='3'}", true},
    {R"(a = array(array(1, 2), object(k = "v"));)", "a#a{0#a{0='1' 1='2'} 1#o{k='v'}}", true},
    {"a = object(w = 1, h = 2);", "a#o{w='1' h='2'}", true},
    {R"(Name = "y"; NAME = "x";)", "Name='x'", true},
    {"a = 5; a = ;", "a", true},
    // The letters of "using" and "include" make such statements whatever follows.
    {"usingX = 5;", "X = 5#o", true},
    {"includeX = 5;", "includeX='5'", true},
    // Line breaks vanish; a '/' ending one line and one starting the next form a comment.
    {"a =\n5;", "a='5'", true},
    {"a = 1/\n/ comment ;\n;b = 2;", "a='1' b='2'", true},
    // The operators: "=>" first, then "=", each only where it lies outside groups.
    {"a => 5;", "a='5'", true},
    {R"(k = "a=>b";)", "k='a=>b'", true},
    {R"(a["x=y"] = 1;)", "", true},  // the first '=' is bracketed, so there is no operator
    // Bare values inside a scope get the first free automatic name.
    {R"(using L; "x"; 7;)", "L#o{0='x' 1='7'}", true},
    {R"(using L; 1 = "a"; "b"; "c";)", "L#o{1='a' 0='b' 2='c'}", true},
    // Blanks after the last ';' (here before a comment) form a statement of their own, which a
    // scope takes as a bare empty value.
    {"using L; a = 1; // note", "L#o{a='1' 0}", true},
    // A missing include file leaves an ordinary statement.
    {R"(include("no such file.fs");)", "", true},
};

TEST(ScriptParse, StatementTable) {
    for (const StatementCase& c : kStatementCases) {
        ScriptNode root;
        EXPECT_EQ(Parse(c.script, root), c.ok) << c.script;
        EXPECT_EQ(Dump(root), c.tree) << c.script;
    }
}

TEST(ScriptParse, UnreadableStreamsFail) {
    ScriptNode root;
    EXPECT_FALSE(Parse("", root));
    MemStream unopened;  // no bytes at all
    EXPECT_FALSE(ParseScript(&unopened, &root, nullptr));
}

TEST(ScriptParse, ReadStatementSteps) {
    const std::string text = "a = 1;\r\n  b\n= \"x;y\"; // note\n;";
    int32_t position = 0;
    const int32_t length = static_cast<int32_t>(text.size());
    EXPECT_EQ(Str(ReadStatement(text.data(), length, position)), "a = 1");
    EXPECT_EQ(Str(ReadStatement(text.data(), length, position)), "  b= \"x;y\"");
    EXPECT_EQ(Str(ReadStatement(text.data(), length, position)), " ");
    EXPECT_EQ(position, length);
    EXPECT_EQ(Str(ReadStatement(text.data(), length, position)), "");
}

TEST(ScriptParse, SkipLineStopsAfterTheLineBreaks) {
    const char text[] = "abc\r\n\r\ndef";
    int32_t position = 1;
    SkipLine(text, 10, position);
    EXPECT_EQ(position, 7);
    SkipLine(text, 10, position);
    EXPECT_EQ(position, 10);
}

struct TextCase {
    const char* text;
    const char* result;
};

TEST(ScriptParse, TakeTokenKeepsGroupsWhole) {
    const TextCase cases[] = {
        {"a, b", "a"},
        {R"("x, y", z)", R"("x, y")"},
        {"'x, y', z", "'x, y'"},
        {"[1, 2], 3", "[1, 2]"},
        {"f(1, (2, 3)), 4", "f(1, (2, 3))"},
        {", a", ""},
        {"abc", "abc"},
        {R"("unclosed, a)", R"("unclosed, a)"},
        {"(a, [b), c], d", "(a, [b)"},  // a group nests only its own kind of bracket
    };
    for (const TextCase& c : cases) {
        EXPECT_EQ(Str(TakeToken(c.text, ",")), c.result) << c.text;
    }
    EXPECT_EQ(Str(TakeToken("a => b", "=>")), "a ");
}

TEST(ScriptParse, ExtractGroupAndUnquote) {
    EXPECT_EQ(Str(ExtractGroup("(a(b)c)d", '(', ')')), "(a(b)c)");
    EXPECT_EQ(Str(ExtractGroup("(a(b", '(', ')')), "(a(b");
    EXPECT_EQ(Str(ExtractGroup("x(a)", '(', ')')), "");
    EXPECT_EQ(Str(ExtractGroup(R"("a"b")", '"', '"')), R"("a")");  // the next quote closes
    EXPECT_EQ(Str(ExtractGroup(R"("a\"b")", '"', '"')), R"("a\")");  // no escapes here

    const TextCase unquote[] = {
        {R"("abc"def)", "abc"},
        {R"("a\"b")", R"(a\"b)"},
        {R"("a\\"b")", R"(a\\)"},  // a doubled backslash protects nothing
        {R"("a\\\"b")", R"(a\\\"b)"},
        {R"("open)", R"("open)"},
        {"plain", "plain"},
        {"", ""},
        {R"("")", ""},
    };
    for (const TextCase& c : unquote) {
        EXPECT_EQ(Str(Unquote(c.text, '"', '"')), c.result) << c.text;
    }
    EXPECT_EQ(Str(Unquote("[k]", '[', ']')), "k");
}

TEST(ScriptParse, FindOrCreateNodePaths) {
    const TextCase cases[] = {
        {"a", "a"},
        {"  a.b ", "a#o{b}"},
        {"a[0]", "a#a{0}"},
        {R"(a["k"])", "a#a{k}"},
        {"a[0][1].c", "a#a{0#a{1#o{c}}}"},
        {"[x].y", "x#o{y}"},
        {"a . b", "a#o{b}"},
        {"a.", "a#o{}"},  // a child with an empty name
    };
    for (const TextCase& c : cases) {
        ScriptNode root;
        ScriptNode* last = FindOrCreateNode(&root, c.text, nullptr);
        ASSERT_NE(last, nullptr);
        EXPECT_EQ(last->kind, ScriptNode::kText) << c.text;
        EXPECT_EQ(Dump(root), c.result) << c.text;
    }
    ScriptNode empty;
    FindOrCreateNode(&empty, "  ", nullptr);
    ASSERT_EQ(empty.count(), 1);
    EXPECT_EQ(Str(empty.first()->value->name), "");

    // Existing nodes are found without regard to case, below the scope when there is one.
    ScriptNode root;
    ScriptNode* scope = FindOrCreateNode(&root, "Display", nullptr);
    ScriptNode* width = FindOrCreateNode(&root, "Width", scope);
    EXPECT_EQ(FindOrCreateNode(&root, "DISPLAY.width", nullptr), width);
    EXPECT_EQ(Dump(root), "Display#o{Width}");
}

TEST(ScriptParse, AccessorsReadTheValue) {
    ScriptNode root;
    ASSERT_TRUE(Parse("a = \"12px\"; b = 42; c = \"\"; d = 2.5;", root));
    EXPECT_EQ(root.Child("a")->AsInt(), 0);
    EXPECT_DOUBLE_EQ(root.Child("a")->AsDouble(), 12.0);
    EXPECT_EQ(Str(root.Child("a")->AsString()), "12px");
    EXPECT_EQ(root.Child("B")->AsInt(), 42);
    EXPECT_EQ(root.Child("c")->AsInt(), 0);
    EXPECT_DOUBLE_EQ(root.Child("d")->AsDouble(), 2.5);
    EXPECT_EQ(root.Child("d")->AsInt(), 2);
    EXPECT_EQ(root.Child("missing"), nullptr);
}

TEST(ScriptParse, BytesAbove127RoundTrip) {
    ScriptNode root;
    ASSERT_TRUE(Parse("K\xE9 = \"\xE9\xFF\x80\";", root));
    ASSERT_NE(root.Child("K\xE9"), nullptr);
    EXPECT_EQ(Str(root.Child("K\xE9")->value), "\xE9\xFF\x80");
}

// ---------------------------------------------------------------------------------------------
// References

TEST(ScriptReferences, CopiesAreDeepAndIndependent) {
    ScriptNode root;
    ASSERT_TRUE(Parse("b.x.y = 1; a = b; a.x.y = 2; b.x.z = 3;", root));
    EXPECT_EQ(Dump(root), "b#o{x#o{y='1' z='3'}} a#o{x#o{y='2'}}");
    // The copy's nextIndex comes along: appending goes on where the source left off.
    ASSERT_TRUE(Parse(R"(s = array(1, 2); t = s; using t; "3";)", root));
    EXPECT_EQ(Dump(*root.Child("t")), "0='1' 1='2' 2='3'");
}

TEST(ScriptReferences, SelfAndAncestorReferencesCopyTheNodeAsItWas) {
    const StatementCase cases[] = {
        {"a.b = 1; a = a;", "a#o{b='1'}", true},
        // The target a.b exists (empty) when a is copied, so the copy holds it once.
        {"a.x = 1; a.b = a;", "a#o{x='1' b#o{x='1' b}}", true},
        {"a.b.c = 1; a = a.b;", "a#o{c='1'}", true},
        // The path a.b makes a an object but leaves its text.
        {"a = 1; a.b = a;", "a#o='1'{b#o='1'{b}}", true},
    };
    for (const StatementCase& c : cases) {
        ScriptNode root;
        EXPECT_EQ(Parse(c.script, root), c.ok) << c.script;
        EXPECT_EQ(Dump(root), c.tree) << c.script;
    }
}

TEST(ScriptReferences, AssignCopiesIntoAncestorsAndDescendants) {
    ScriptNode root;
    ASSERT_TRUE(Parse("a.b.c = 1; a.b.d = array(2);", root));
    ScriptNode* a = root.Child("a");
    ScriptNode* b = a->Child("b");
    a->Assign(*b);  // b is freed on the way; the copy was taken first
    EXPECT_EQ(Dump(root), "a#o{c='1' d#a{0='2'}}");
    a->Child("d")->Assign(*a);
    EXPECT_EQ(Dump(root), "a#o{c='1' d#o{c='1' d#a{0='2'}}}");
    a->Assign(*a);
    EXPECT_EQ(Dump(root), "a#o{c='1' d#o{c='1' d#a{0='2'}}}");
}

// Copying a into two of its own children, again and again, doubles a each round: the
// parse-wide copy budget stops it long before memory runs out.
TEST(ScriptReferences, DoublingCopiesStopAtTheBudget) {
    std::string script = "a.x = 1;";
    for (int i = 0; i < 40; ++i) script += " a.b = a; a.c = a;";
    script += " z = 2; w = z;";
    ScriptNode root;
    EXPECT_FALSE(Parse(script, root));
    int64_t count = 0;
    int64_t depth = 0;
    script_test::Measure(root, count, depth);
    EXPECT_LT(count, 4 << 20);
    // Statements after the refusal still run; a copy of a childless node is still made.
    EXPECT_EQ(Str(root.Child("z")->value), "2");
    EXPECT_EQ(Str(root.Child("w")->value), "2");
}

// The node budget alone does not bound memory: these scripts stay within it (or near it) while
// each copied node is large. Copies are charged by their bytes too and refused past 64 MB.
int64_t ValueBytes(const ScriptNode& node) {
    int64_t bytes = 0;
    std::vector<const ScriptNode*> work{&node};
    while (!work.empty()) {
        const ScriptNode* at = work.back();
        work.pop_back();
        bytes += at->value.length();
        const ScriptNode::Node* entry = at->first();
        for (int32_t i = 0; i < at->count(); ++i, entry = entry->next) work.push_back(entry->value);
    }
    return bytes;
}

TEST(ScriptReferences, CopiesOfALongValueStopAtTheByteBudget) {
    // 16 + 256 + 4096 + 65536 copies of a 2000-byte value: under the node budget, but 140 MB.
    std::string script = "l0 = \"" + std::string(2000, 'v') + "\";";
    for (int level = 1; level <= 4; ++level) {
        script += " l" + std::to_string(level) + " = array(";
        for (int i = 0; i < 16; ++i) script += (i > 0 ? ", l" : "l") + std::to_string(level - 1);
        script += ");";
    }
    script += " z = 2; w = z;";
    ScriptNode root;
    EXPECT_FALSE(Parse(script, root));
    EXPECT_LT(ValueBytes(root), int64_t(64) << 20);
    EXPECT_EQ(Str(root.Child("w")->value), "2");
}

TEST(ScriptReferences, CopiesOfManySmallNodesStopAtTheByteBudget) {
    // Each "a;" appends a copy of a to a itself, doubling it; the node budget would allow a
    // million nodes (over 300 MB). The bytes refuse the copies once the nodes they make,
    // each at least a ScriptNode in size, reach 64 MB.
    std::string script = "using a;";
    while (script.size() < 256) script += " a;";
    ScriptNode root;
    EXPECT_FALSE(Parse(script, root));
    int64_t count = 0;
    int64_t depth = 0;
    script_test::Measure(root, count, depth);
    EXPECT_GT(count, 1000);
    EXPECT_LT(count, (int64_t(64) << 20) / int64_t(sizeof(ScriptNode)));
}

// ---------------------------------------------------------------------------------------------
// Scopes that a statement frees under the parser's feet

TEST(ScriptScopes, ReassigningTheAncestorOfAScopeIsSafe) {
    ScriptNode root;
    // The array's "using" goes back to the root, and "a = 1" frees a.b, which the statement
    // loop still holds as its scope; what follows is written below the detached node.
    EXPECT_TRUE(Parse("using a.b; x = array(using, a = 1); y = 2;", root));
    EXPECT_EQ(Dump(root), "a='1'");

    EXPECT_TRUE(Parse("q = array(using c.d, e = array(using, c = 5), 6); r = 7;", root));
    EXPECT_EQ(Dump(root), "a='1' q#a c='5' r='7'");
}

TEST(ScriptScopes, ExecuteStatementClearsAFreedScope) {
    ScriptNode root;
    ScriptNode* scope = FindOrCreateNode(&root, "a.b", nullptr);
    EXPECT_TRUE(ExecuteStatement(&root, "x = 1", scope, nullptr));
    EXPECT_EQ(scope, root.Child("a")->Child("b"));
    EXPECT_TRUE(ExecuteStatement(&root, "x = array(using, a = 1)", scope, nullptr));
    EXPECT_EQ(scope, nullptr);
    EXPECT_TRUE(ExecuteStatement(&root, "using k", scope, nullptr));
    EXPECT_EQ(scope, root.Child("k"));
    EXPECT_EQ(Dump(root), "a='1' k#o");
}

// ---------------------------------------------------------------------------------------------
// Deep inputs: no recursion per level, so none of these may overflow the stack.

TEST(ScriptDeepInputs, NestedArraysStopAtTheNestingBound) {
    const int levels = 3000;
    std::string script = "a = ";
    for (int i = 0; i < levels; ++i) script += "array(";
    script += "1";
    for (int i = 0; i < levels; ++i) script += ")";
    script += "; b = 2;";
    ScriptNode root;
    EXPECT_FALSE(Parse(script, root));
    int64_t count = 0;
    int64_t depth = 0;
    script_test::Measure(root, count, depth);
    EXPECT_GT(depth, 200);
    EXPECT_LE(depth, 300);
    EXPECT_EQ(Str(root.Child("b")->value), "2");

    ScriptNode shallow;
    EXPECT_TRUE(Parse("a = array(array(array(array(1))));", shallow));
    EXPECT_EQ(Dump(shallow), "a#a{0#a{0#a{0#a{0='1'}}}}");
}

TEST(ScriptDeepInputs, LongPathsAndTheirCopiesAreFreedWithoutRecursion) {
    const int levels = 30000;
    std::string script = "a";
    for (int i = 0; i < levels; ++i) script += ".a";
    script += " = 1; b = a; c = b;";
    int64_t count = 0;
    int64_t depth = 0;
    bool reassigned = false;
    ASSERT_TRUE(script_test::RunOnSmallStack([&] {
        ScriptNode root;
        if (!Parse(script, root)) return;
        script_test::Measure(root, count, depth);
        root.Child("c")->Assign(*root.Child("a"));
        // Reassigning the chains frees them as well; the root's destructor frees the last.
        reassigned = Parse("a = 1; b = 2;", root);
    }));
    EXPECT_EQ(depth, levels + 1);
    EXPECT_EQ(count, 3 * (levels + 1));
    EXPECT_TRUE(reassigned);
}

// ---------------------------------------------------------------------------------------------
// Includes through the search paths, over a temporary directory

using ScriptIncludeTest = script_test::IncludeDirTest;

TEST_F(ScriptIncludeTest, IncludedFilesFillTheSameTree) {
    Write("common.fs", "Size = 12;\nusing Inner; Deep = 1;");
    ScriptNode root;
    EXPECT_TRUE(Parse(R"(using Outer; include( "common.fs" ); Name = "x";)", root, &paths_));
    // The included file starts at the root, and its scope does not leak back.
    EXPECT_EQ(Dump(root), "Outer#o{Name='x'} Size='12' Inner#o{Deep='1'}");
}

TEST_F(ScriptIncludeTest, MissingFilesAreOrdinaryStatements) {
    ScriptNode root;
    EXPECT_TRUE(Parse(R"(include("nofile.fs") = 5; include("nofile.fs");)", root, &paths_));
    EXPECT_EQ(Dump(root), R"(include("nofile#o{fs")='5'})");
    // Without search paths the name is looked up relative to the working directory only.
    Write("only_here.fs", "x = 1;");
    ScriptNode bare;
    EXPECT_TRUE(Parse(R"(include("only_here.fs");)", bare, nullptr));
    EXPECT_EQ(Dump(bare), "");
}

TEST_F(ScriptIncludeTest, IncludeCyclesAreBoundedAndFail) {
    Write("self.fs", "include(\"self.fs\");\nn = 1;");
    Write("a.fs", "include(\"b.fs\"); a = 1;");
    Write("b.fs", "include(\"a.fs\"); b = 2;");
    ScriptNode root;
    EXPECT_FALSE(Parse(R"(include("self.fs"); after = 3;)", root, &paths_));
    EXPECT_EQ(Dump(root), "n='1' after='3'");
    ScriptNode pair;
    EXPECT_FALSE(Parse(R"(include("a.fs");)", pair, &paths_));
    EXPECT_EQ(Dump(pair), "b='2' a='1'");
}

TEST_F(ScriptIncludeTest, AFailedIncludeFailsTheParse) {
    Write("empty.fs", "");
    ScriptNode root;
    EXPECT_FALSE(Parse(R"(include("empty.fs"); x = 1;)", root, &paths_));
    EXPECT_EQ(Dump(root), "x='1'");
}

}  // namespace
