#include "core/containers/ordered_map.h"
#include "core/text/string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string Bytes(const String& s) {
    return std::string(s.Text(), static_cast<size_t>(s.length()));
}

// Exactly n heap bytes holding `text` without a terminator, so ASan reports any read past them.
std::unique_ptr<char[]> ExactBlock(const std::string& text) {
    std::unique_ptr<char[]> block(new char[text.size()]);
    std::memcpy(block.get(), text.data(), text.size());
    return block;
}

// The invariant every owned string keeps: no block when empty, else a terminated block.
void ExpectOwned(const String& s, const std::string& expected) {
    EXPECT_FALSE(s.borrowed());
    ASSERT_EQ(s.length(), static_cast<int32_t>(expected.size()));
    if (expected.empty()) {
        EXPECT_EQ(s.data(), nullptr);
    } else {
        ASSERT_NE(s.data(), nullptr);
        EXPECT_EQ(std::string(s.data(), expected.size()), expected);
        EXPECT_EQ(s.data()[expected.size()], '\0');
    }
}

TEST(StringTest, ConstructorsCopyTheirSource) {
    ExpectOwned(String(), "");
    ExpectOwned(String(static_cast<const char*>(nullptr)), "");
    ExpectOwned(String(""), "");
    ExpectOwned(String("abc"), "abc");
    ExpectOwned(String(String()), "");
    ExpectOwned(String('x'), "x");
    ExpectOwned(String('\0'), std::string(1, '\0'));
    ExpectOwned(String("a\0b", 3, true), std::string("a\0b", 3));
    ExpectOwned(String(nullptr, 3, true), "");
    ExpectOwned(String(nullptr, 3, false), "");

    // Adopted blocks are freed by the string (ASan reports a leak or a double free otherwise).
    char* block = new char[4];
    std::memcpy(block, "xyz", 4);
    String adopted(block, 3, false);
    EXPECT_EQ(adopted.data(), block);
    ExpectOwned(adopted, "xyz");
    ExpectOwned(String(new char[1]{'\0'}, 0, false), "");
}

TEST(StringTest, AssignmentAndAppendKeepTheirSourceAlive) {
    String s("hello");
    s.AssignText(s.data() + 2);  // the text lies inside the block being replaced
    ExpectOwned(s, "llo");
    s.Append(s);
    ExpectOwned(s, "llollo");
    s.Assign(s);
    ExpectOwned(s, "llollo");
    String moved(std::move(s));
    ExpectOwned(moved, "llollo");
    ExpectOwned(s, "");  // NOLINT: a moved-from string is empty
    s = moved;
    moved = std::move(s);
    ExpectOwned(moved, "llollo");
    s = "";
    ExpectOwned(s, "");
    String empty;
    empty.Append(String());
    ExpectOwned(empty, "");
}

// A String that shows someone else's bytes must never free them, and every assignment makes it
// own its text again. The lent bytes live on the stack, so ASan reports any attempt to free them.
TEST(StringTest, BorrowedBytesAreNeverFreedAndAssignmentsOwnAgain) {
    char lent[4] = {'l', 'e', 'n', 't'};
    const std::vector<std::pair<const char*, void (*)(String&)>> assignments = {
        {"Assign", [](String& s) { s.Assign(String("new")); }},
        {"AssignText", [](String& s) { s.AssignText("new"); }},
        {"copy operator=", [](String& s) { const String n("new"); s = n; }},
        {"move operator=", [](String& s) { s = String("new"); }},
        {"text operator=", [](String& s) { s = "new"; }},
        {"ConcatStringsInto", [](String& s) { ConcatStringsInto(s, String("ne"), String("w")); }},
        {"ConcatStringTextInto", [](String& s) { ConcatStringTextInto(s, String("ne"), "w"); }},
        {"ConcatTextStringInto", [](String& s) { ConcatTextStringInto(s, "n", String("ew")); }},
    };
    for (const auto& [name, assign] : assignments) {
        SCOPED_TRACE(name);
        String s;
        s.Borrow(lent, 4);
        EXPECT_TRUE(s.borrowed());
        EXPECT_EQ(s.data(), lent);
        assign(s);
        ExpectOwned(s, "new");
        EXPECT_EQ(std::string(lent, 4), "lent");
    }

    String appended;
    appended.Borrow(lent, 2);
    appended.Append(String("!"));
    ExpectOwned(appended, "le!");

    // Assigning a borrowed string to itself leaves it as it is.
    String self;
    self.Borrow(lent, 4);
    self.Assign(self);
    EXPECT_TRUE(self.borrowed());

    // Clearing frees nothing and keeps the flag; a later assignment owns again.
    String cleared;
    cleared.Borrow(lent, 4);
    cleared.Clear();
    EXPECT_EQ(cleared.data(), nullptr);
    EXPECT_EQ(cleared.length(), 0);
    EXPECT_TRUE(cleared.borrowed());
    cleared.AssignText("x");
    ExpectOwned(cleared, "x");

    // Destroying a borrowed string frees nothing either.
    { String scoped; scoped.Borrow(lent, 4); }
    EXPECT_EQ(std::string(lent, 4), "lent");
}

// Lent bytes need not be terminated: copies, searches, pieces and comparisons read only length
// bytes (the block is exactly that long, so ASan reports any read past it).
TEST(StringTest, BorrowedBytesAreReadOnlyWithinTheirLength) {
    const auto block = ExactBlock("a:b42");
    String s;
    s.Borrow(block.get(), 5);

    ExpectOwned(String(s), "a:b42");
    String moved(std::move(s));
    ExpectOwned(moved, "a:b42");
    EXPECT_TRUE(s.borrowed());  // NOLINT: a lent buffer is copied, never handed on
    EXPECT_EQ(s.Find(String("42"), 0), 3);
    EXPECT_EQ(s.Find(String("x"), 1), -1);
    EXPECT_EQ(Bytes(s.Mid(2, -1)), "b42");
    EXPECT_EQ(Bytes(Trim(s)), "a:b42");
    EXPECT_EQ(Bytes(TrimRight(s, '2')), "a:b4");
    EXPECT_EQ(CompareStringText(s, "a:b42"), 0);
    EXPECT_EQ(CompareStrings(s, String("a:b42")), 0);
    EXPECT_EQ(CompareStringsNoCase(s, String("A:B42")), 0);
    EXPECT_EQ(CompareStringText(s, "a:b420"), -1);
    DynArray<String> pieces;
    Split(s, String(":"), pieces);
    ASSERT_EQ(pieces.count(), 2);
    EXPECT_EQ(Bytes(pieces.items()[1]), "b42");

    const auto number = ExactBlock("42");
    String n;
    n.Borrow(number.get(), 2);
    int32_t value = 0;
    EXPECT_TRUE(n.ToInt(value));
    EXPECT_EQ(value, 42);
    EXPECT_TRUE(IsNumber(n));
}

TEST(StringTest, AtAnswersTheByteOrASafeZero) {
    String s("abc");
    EXPECT_EQ(*s.At(1), 'b');
    *s.At(1) = 'X';
    EXPECT_EQ(Bytes(s), "aXc");
    EXPECT_EQ(*s.At(3), '\0');        // the terminator
    EXPECT_EQ(*String().At(0), '\0');  // no block at all

    EXPECT_DEBUG_DEATH(s.At(-2), "outside the text");
    EXPECT_DEBUG_DEATH(s.At(4), "outside the text");
#ifdef NDEBUG
    char* outside = s.At(-2);
    EXPECT_EQ(*outside, '\0');
    *outside = 'Z';  // harmless, and not seen by the next caller
    EXPECT_EQ(*s.At(99), '\0');
    EXPECT_EQ(Bytes(s), "aXc");
#endif
}

TEST(StringTest, MidClampsItsRange) {
    struct Case {
        int32_t first, last;
        const char* expected;
    };
    const Case cases[] = {
        {1, 3, "bcd"}, {2, -1, "cdef"}, {4, 99, "ef"}, {-5, 1, "ab"}, {3, 2, ""},
        {6, -1, ""},   {0, 0, "a"},     {5, 5, "f"},   {-1, -1, "abcdef"},
        {0, -2, ""},   {-5, -3, ""},    {99, 100, ""},
    };
    const String text("abcdef");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "Mid(" << c.first << ", " << c.last << ")");
        ExpectOwned(text.Mid(c.first, c.last), c.expected);
    }
    ExpectOwned(String().Mid(0, -1), "");
}

TEST(StringTest, FindGivesFirstOrLastOccurrence) {
    struct Case {
        const char* text;
        const char* needle;
        int flag;
        int32_t expected;
    };
    const Case cases[] = {
        {"a.b.c", ".", 0, 1},  {"a.b.c", ".", 1, 3},   {"", ".", 0, -1},     {"", "", 0, -1},
        {"abc", "", 0, 0},     {"abc", "", 1, 3},      {"abc", "x", 0, -1},  {"abc", "abcd", 0, -1},
        {"abcabc", "bc", 0, 1}, {"abcabc", "bc", 1, 4}, {"aaa", "aa", 0, 0},  {"aaa", "aa", 1, 1},
        {"abc", "abc", 1, 0},  {"ABC", "b", 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.text << " / " << c.needle << " / " << c.flag);
        EXPECT_EQ(String(c.text).Find(String(c.needle), c.flag), c.expected);
        EXPECT_EQ(String(c.text).FindAlias(String(c.needle), c.flag), c.expected);
    }
    EXPECT_EQ(String("Hello World").FindNoCase(String("WORLD"), 0), 6);
    EXPECT_EQ(String("aBab").FindNoCase(String("AB"), 1), 2);
    EXPECT_EQ(String().FindNoCase(String(), 0), -1);
}

TEST(StringTest, ComparisonsAreThreeWayOnUnsignedBytes) {
    struct Case {
        const char* a;
        const char* b;
        int expected;
        int expectedNoCase;
    };
    const Case cases[] = {
        {nullptr, "", 0, 0},   {nullptr, nullptr, 0, 0}, {nullptr, "a", -1, -1},
        {"a", nullptr, 1, 1},  {"a", "z", -1, -1},       {"z", "a", 1, 1},
        {"ab", "abc", -1, -1}, {"\xE9", "a", 1, 1},      {"ABC", "abc", -1, 0},
        {"abc", "ABD", 1, -1},
        // stricmp folds to lower case: '_' (0x5F) sorts before 'a' (0x61) though after 'A'.
        {"_", "A", 1, -1},
        // Only A to Z fold.
        {"\xC9", "\xE9", -1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.a ? c.a : "(null)") << " vs "
                                        << (c.b ? c.b : "(null)"));
        EXPECT_EQ(CompareText(c.a, c.b), c.expected);
        EXPECT_EQ(CompareTextNoCase(c.a, c.b), c.expectedNoCase);
        EXPECT_EQ(CompareStringText(String(c.a), c.b), c.expected);
        EXPECT_EQ(CompareStrings(String(c.a), String(c.b)), c.expected);
        EXPECT_EQ(CompareStringsNoCase(String(c.a), String(c.b)), c.expectedNoCase);
        EXPECT_EQ(StringsEqual(String(c.a), String(c.b)), c.expected == 0);
        EXPECT_EQ(StringEqualsText(String(c.a), c.b), c.expected == 0);
        EXPECT_EQ(TextEqualsString(c.a, String(c.b)), c.expected == 0);
        EXPECT_EQ(StringLess(String(c.a), String(c.b)), c.expected < 0);
        EXPECT_EQ(StringGreater(String(c.a), String(c.b)), c.expected > 0);
    }
}

TEST(StringTest, ComparatorsOrderMapKeys) {
    OrderedMap<String, int, StringCompareNoCase> noCase(true);
    noCase.Insert(String("Alpha"), 1, 1);
    noCase.Insert(String("ALPHA"), 2, 1);  // the same key: the value is replaced
    noCase.Insert(String("beta"), 3, 1);
    EXPECT_EQ(noCase.count(), 2);
    EXPECT_EQ(noCase.ValueRef(String("alpha")), 2);
    EXPECT_EQ(Bytes(noCase.first()->key), "Alpha");

    OrderedMap<String, int, StringCompare> exact(true);
    exact.Insert(String("b"), 1, 1);
    exact.Insert(String("B"), 2, 1);
    exact.Insert(String("a"), 3, 1);
    EXPECT_EQ(exact.count(), 3);
    EXPECT_EQ(Bytes(exact.first()->key), "B");
    EXPECT_EQ(exact.ValueRef(String("b")), 1);
}

TEST(StringTest, ConcatenationMayUseTheTargetAsOperand) {
    ExpectOwned(ConcatStrings(String(), String()), "");
    ExpectOwned(ConcatStrings(String("ab"), String("cd")), "abcd");
    ExpectOwned(ConcatStringText(String("ab"), nullptr), "ab");
    ExpectOwned(ConcatTextString(nullptr, String()), "");
    ExpectOwned(ConcatTextString("x", String("y")), "xy");
    String s("ab");
    ConcatStringsInto(s, s, s);
    ExpectOwned(s, "abab");
    ConcatStringTextInto(s, s, s.data() + 3);
    ExpectOwned(s, "ababb");
    ConcatTextStringInto(s, s.data() + 4, s);
    ExpectOwned(s, "bababb");
}

TEST(StringTest, TrimmingRemovesRuns) {
    struct Case {
        const char* text;
        const char* trim;
        const char* left;   // TrimLeft by 'x'
        const char* right;  // TrimRight by 'x'
    };
    const Case cases[] = {
        {" \tab \t", "ab", " \tab \t", " \tab \t"},
        {"\t", "", "\t", "\t"},
        {"", "", "", ""},
        {"xx", "xx", "", "x"},  // TrimRight never removes the first byte
        {"x", "x", "", "x"},
        {"xaxx", "xaxx", "axx", "xa"},
        {" a b ", "a b", " a b ", " a b "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        ExpectOwned(Trim(String(c.text)), c.trim);
        ExpectOwned(TrimLeft(String(c.text), 'x'), c.left);
        ExpectOwned(TrimRight(String(c.text), 'x'), c.right);
    }
}

TEST(StringTest, SplitGivesEveryPiece) {
    struct Case {
        const char* text;
        const char* separator;
        std::vector<std::string> pieces;
    };
    const Case cases[] = {
        {"a::b:", ":", {"a", "", "b", ""}},
        {"a:b:c", ":", {"a", "b", "c"}},
        {"", ":", {""}},
        {":", ":", {"", ""}},
        {"abc", ":", {"abc"}},
        {"a<>b<>", "<>", {"a", "b", ""}},
        {"a:::b", "::", {"a", ":b"}},
        {"a", "::", {"a"}},
        {"a:b", "", {"a:b"}},  // an empty separator never matches
        {"", "", {""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "'" << c.text << "' by '" << c.separator << "'");
        DynArray<String> out;
        Split(String(c.text), String(c.separator), out);
        std::vector<std::string> pieces;
        for (int32_t i = 0; i < out.count(); ++i) {
            ExpectOwned(out.items()[i], Bytes(out.items()[i]));
            pieces.push_back(Bytes(out.items()[i]));
        }
        EXPECT_EQ(pieces, c.pieces);
    }
}

TEST(StringTest, ToLowerCopyChangesOnlyAsciiLetters) {
    const String source("AbC-\xC9z");
    ExpectOwned(ToLowerCopy(source), "abc-\xC9z");
    ExpectOwned(source, "AbC-\xC9z");
    ExpectOwned(ToLowerCopy(String()), "");
}

TEST(StringTest, ClampIntKeepsWithinBounds) {
    EXPECT_EQ(ClampInt(5, 0, 10), 5);
    EXPECT_EQ(ClampInt(-5, 0, 10), 0);
    EXPECT_EQ(ClampInt(15, 0, 10), 10);
}

}  // namespace
