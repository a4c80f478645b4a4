#include "core/containers/ordered_map.h"
#include "core/text/codecs.h"
#include "core/text/string.h"
#include "core/text/wide_string.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::u16string Units(const WideString& w) {
    return std::u16string(w.Text(), static_cast<size_t>(w.length()));
}

void ExpectWide(const WideString& w, const std::u16string& expected) {
    ASSERT_EQ(w.length(), static_cast<int32_t>(expected.size()));
    if (expected.empty()) {
        EXPECT_EQ(w.data(), nullptr);
    } else {
        ASSERT_NE(w.data(), nullptr);
        EXPECT_EQ(std::u16string(w.data(), expected.size()), expected);
        EXPECT_EQ(w.data()[expected.size()], 0);
    }
}

TEST(WideStringTest, ConstructorsFromWideAndNarrowText) {
    ExpectWide(WideString(), u"");
    ExpectWide(WideString(static_cast<const char16_t*>(nullptr)), u"");
    ExpectWide(WideString(u"abc"), u"abc");
    ExpectWide(WideString(u"a\0b", 3, true), std::u16string(u"a\0b", 3));
    ExpectWide(WideString(nullptr, 3, false), u"");
    ExpectWide(WideString(u'\u20AC'), u"\u20AC");
    ExpectWide(WideString('a'), u"a");
    ExpectWide(WideString('\xE9'), u"\xFFE9");  // a narrow char widens with its sign
    // Narrow text decodes byte by byte through the code page: bytes 0-255 are U+0000-U+00FF.
    ExpectWide(WideString("abc\xE9\xFF"), u"abc\u00E9\u00FF");
    ExpectWide(WideString(static_cast<const char*>(nullptr)), u"");
    ExpectWide(WideString(String("x\xA0y")), u"x\u00A0y");
    ExpectWide(WideString(String("ab\0cd", 5, true)), u"ab");  // a zero byte ends the text

    auto* block = new char16_t[3]{u'h', u'i', 0};
    const WideString adopted(block, 2, false);
    EXPECT_EQ(adopted.data(), block);
    ExpectWide(adopted, u"hi");
}

TEST(WideStringTest, NarrowCopiesDropUnitsTheCodePageCannotShow) {
    const String narrow(WideString(u"a\u20ACb\u00E9\u0100"));
    EXPECT_FALSE(narrow.borrowed());
    ASSERT_EQ(narrow.length(), 3);
    EXPECT_EQ(std::string(narrow.data(), 4), std::string("ab\xE9\0", 4));
    const String none(WideString(u"\u20AC"));
    EXPECT_EQ(none.length(), 0);
    EXPECT_EQ(none.data(), nullptr);
}

TEST(WideStringTest, AssignmentsAndAppendKeepTheirSourceAlive) {
    WideString w(u"hello");
    w.Append(w);
    ExpectWide(w, u"hellohello");
    w.Assign(w);
    ExpectWide(w, u"hellohello");
    WideString moved(std::move(w));
    ExpectWide(w, u"");  // NOLINT: a moved-from string is empty
    w = moved;
    ExpectWide(w, u"hellohello");
    w.AssignNarrow("narrow");
    ExpectWide(w, u"narrow");
    // Decoding the string's own bytes: they must outlive the decoding.
    w.DecodeFrom(w.data(), 2 * w.length(), kEncodingUtf16LittleEndian);
    ExpectWide(w, u"narrow");
    ConcatWideStringsInto(w, w, w);
    ExpectWide(w, u"narrownarrow");
    ConcatWideStringTextInto(w, WideString(u"a"), nullptr);
    ExpectWide(w, u"a");
    ConcatTextWideStringInto(w, w.data(), w);
    ExpectWide(w, u"aa");
    ExpectWide(ConcatWideStrings(WideString(), WideString()), u"");
    ExpectWide(ConcatWideStringText(WideString(u"x"), u"y"), u"xy");
    ExpectWide(ConcatTextWideString(u"x", WideString(u"y")), u"xy");
}

TEST(WideStringTest, DecodeFromStepsOverRefusedBytes) {
    struct Case {
        std::string bytes;
        int encoding;
        std::u16string expected;
    };
    const Case cases[] = {
        {"abc", 1, u"abc"},
        {std::string("ab\0cd", 5), 1, u"ab"},  // code point 0 ends the text
        {"", 1, u""},
        {"a\x80" "b", 2, u"ab"},               // a refused byte is stepped over
        {"a\xE2\x82", 2, u"a"},                // a cut-short sequence, one byte at a time
        {"\xC3\xA9t\xC3\xA9", 2, u"\u00E9t\u00E9"},
        {"\xF0\x9F\x98\x80", 2, u"\uF600"},    // U+1F600 keeps its low 16 bits
        {std::string("a\0b", 3), 3, u"a"},     // the odd last byte cannot start a unit
        {std::string("\x3D\xD8\x00\xDE", 4), 3, u"\uF600"},
        {std::string("\x00\x41", 2), 4, u"A"},
        {std::string("A\0\0\0\0\0\x11\0B\0\0\0", 12), 5, u"AB"},  // above U+10FFFF: skipped
        {"abc", 7, u""},                       // an unknown encoding decodes nothing
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "encoding " << c.encoding << ", " << c.bytes.size()
                                        << " bytes");
        WideString w(u"old");
        w.DecodeFrom(c.bytes.data(), static_cast<int32_t>(c.bytes.size()), c.encoding);
        ExpectWide(w, c.expected);
    }
    WideString w(u"old");
    w.DecodeFrom("abc", 0, 1);
    ExpectWide(w, u"");
    w.DecodeFrom(nullptr, 5, 1);
    ExpectWide(w, u"");
}

// Encoding writes whole characters only and reports exactly the bytes it wrote; the 0 byte goes
// after them, or into the last byte when the buffer is full.
TEST(WideStringTest, EncodeToCountsOnlyBytesWritten) {
    struct Case {
        std::u16string text;
        int encoding;
        int capacity;
        std::string written;  // the bytes counted, and then the terminator's place
    };
    const Case cases[] = {
        {u"abc", 1, 8, "abc"},
        {u"abc", 1, 3, "abc"},  // full: the terminator replaces the last byte
        {u"a\u20ACb", 1, 8, "ab"},  // a unit the code page refuses is skipped
        {u"a\u00E9\u20AC", 2, 4, "a\xC3\xA9"},  // the euro sign (3 bytes) does not fit
        {u"a\u00E9\u20ACb", 2, 4, "a\xC3\xA9"},  // nor anything after it
        {u"a\u00E9", 2, 2, "a"},
        {u"\U0001F600", 2, 8, "\xED\xA0\xBD\xED\xB8\x80"},  // each surrogate on its own
        {u"ab", 3, 8, std::string("a\0b\0", 4)},
        {u"ab", 4, 3, std::string("\0a", 2)},
        {u"abc", 7, 8, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "encoding " << c.encoding << ", capacity "
                                        << c.capacity);
        std::vector<char> buffer(static_cast<size_t>(c.capacity) + 4, '#');
        const WideString text(c.text.data(), static_cast<int32_t>(c.text.size()), true);
        const int32_t n = text.EncodeTo(buffer.data(), c.capacity, c.encoding);
        ASSERT_EQ(n, static_cast<int32_t>(c.written.size()));
        const int32_t terminator = n < c.capacity ? n : c.capacity - 1;
        EXPECT_EQ(buffer[static_cast<size_t>(terminator)], '\0');
        std::string expected = c.written;
        if (n == c.capacity) expected[static_cast<size_t>(n) - 1] = '\0';
        EXPECT_EQ(std::string(buffer.data(), static_cast<size_t>(n)), expected);
        for (size_t i = static_cast<size_t>(c.capacity); i < buffer.size(); ++i) {
            EXPECT_EQ(buffer[i], '#') << "written past the capacity at " << i;
        }
    }
    char untouched = '#';
    EXPECT_EQ(WideString(u"abc").EncodeTo(&untouched, 0, 1), 0);
    EXPECT_EQ(untouched, '#');
}

TEST(WideStringTest, MidFindAndInsert) {
    const WideString text(u"abcdef");
    EXPECT_EQ(Units(text.Mid(1, 3)), u"bcd");
    EXPECT_EQ(Units(text.Mid(2, -1)), u"cdef");
    EXPECT_EQ(Units(text.Mid(-5, 1)), u"ab");
    ExpectWide(text.Mid(3, 2), u"");
    ExpectWide(text.Mid(6, -1), u"");
    ExpectWide(text.Mid(-5, -3), u"");

    EXPECT_EQ(WideString(u"a.b.c").Find(WideString(u"."), 0), 1);
    EXPECT_EQ(WideString(u"a.b.c").FindAlias(WideString(u"."), 1), 3);
    EXPECT_EQ(WideString().Find(WideString(u"."), 0), -1);
    EXPECT_EQ(WideString(u"abc").Find(WideString(), 1), 3);
    EXPECT_EQ(WideString(u"abc").Find(WideString(u"abcd"), 0), -1);

    struct Case {
        const char16_t* source;
        int32_t position;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"abc", 0, u"Xabc"}, {u"abc", 1, u"aXbc"}, {u"abc", 3, u"abcX"},
        {u"abc", -1, u"abcX"}, {u"abc", 99, u"abcX"}, {u"", 0, u"X"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        ExpectWide(WideStringInsert(WideString(c.source), c.position, WideString(u"X")),
                   c.expected);
    }
    ExpectWide(WideStringInsert(WideString(u"abc"), 1, WideString()), u"abc");
    EXPECT_DEBUG_DEATH(WideStringInsert(WideString(u"abc"), -2, WideString(u"X")),
                       "below -1");
#ifdef NDEBUG
    ExpectWide(WideStringInsert(WideString(u"abc"), -2, WideString(u"X")), u"abcX");
#endif

    WideString w(u"ab");
    EXPECT_EQ(*w.At(2), 0);
    EXPECT_DEBUG_DEATH(w.At(-1), "outside the text");
}

TEST(WideStringTest, ComparisonsByUnsignedUnit) {
    EXPECT_EQ(CompareWideText(nullptr, u""), 0);
    EXPECT_EQ(CompareWideText(nullptr, u"a"), -1);
    EXPECT_EQ(CompareWideText(u"\uFFFF", u"a"), 1);
    EXPECT_EQ(CompareWideText(u"ab", u"abc"), -1);
    EXPECT_EQ(CompareWideText(u"a", u"z"), -1);
    EXPECT_EQ(CompareWideStrings(WideString(), WideString(u"")), 0);
    EXPECT_EQ(CompareWideStringText(WideString(u"b"), u"a"), 1);
    EXPECT_TRUE(WideStringsEqual(WideString(u"x"), WideString(u"x")));
    EXPECT_FALSE(WideStringEqualsText(WideString(u"x"), u"X"));
    EXPECT_EQ(CompareWideTextN(u"abcd", u"abcx", 3), 0);
    EXPECT_EQ(CompareWideTextN(u"abcd", u"abcx", 4), -1);
    EXPECT_EQ(CompareWideTextN(u"ab", u"abc", 5), -1);
    EXPECT_EQ(CompareWideTextN(u"a", u"b", 0), 0);
    EXPECT_EQ(CompareWideTextN(nullptr, u"", 3), 0);

    OrderedMap<WideString, int, WideStringCompare> map(true);
    map.Insert(WideString(u"b"), 1, 1);
    map.Insert(WideString(u"a"), 2, 1);
    map.Insert(WideString(u"b"), 3, 1);
    EXPECT_EQ(map.count(), 2);
    EXPECT_EQ(map.ValueRef(WideString(u"b")), 3);
    EXPECT_EQ(Units(map.first()->key), u"a");
}

}  // namespace
