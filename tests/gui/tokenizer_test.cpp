#include "gui/tokenizer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Narrow(const char16_t* text, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        const char16_t c = text[i];
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

std::string Narrow(const WideString& s) { return Narrow(s.data(), static_cast<size_t>(s.length())); }

enum class Preset { kMarkup, kCLike };

void Make(Tokenizer& t, Preset preset) {
    if (preset == Preset::kMarkup) {
        MakeMarkupTokenizer(t);
    } else {
        MakeCLikeTokenizer(t);
    }
}

// Every token as "id:text", then the result that ended the reading ("end" for 2, "open" for 0).
std::string ReadAll(Tokenizer& t) {
    std::string out;
    Token token;
    for (int guard = 0; guard < 1000; ++guard) {
        const TokenResult r = t.NextToken(token, false);
        if (r == TokenResult::kEnd) return out + "end";
        if (r == TokenResult::kUnterminated) return out + "open";
        out += std::to_string(token.id) + ":" + Narrow(token.text) + " ";
    }
    return out + "runaway";
}

struct TokenCase {
    Preset preset;
    std::u16string input;
    const char* expected;
};

// Tokens of both presets, with the result each reading ends on.
const TokenCase kTokenCases[] = {
    // Markup: tags are operators, everything between them words; only the space is a blank.
    {Preset::kMarkup, u"</b>", "2:</ 404:b 3:> end"},
    {Preset::kMarkup, u"<RAW>", "-1:<RAW> end"},
    {Preset::kMarkup, u"</RAW>x", "-2:</RAW> 404:x end"},
    {Preset::kMarkup, u"a/b", "404:a/b end"},
    {Preset::kMarkup, u"x/>", "404:x 4:/> end"},
    {Preset::kMarkup, u"a b <B>c</B>", "404:a 404:b 1:< 404:B 3:> 404:c 2:</ 404:B 3:> end"},
    {Preset::kMarkup, u"one\ntwo\tthree", "404:one\\u000Atwo\\u0009three end"},
    // Too few characters left for "</RAW>": the shorter operator, and nothing read is lost.
    {Preset::kMarkup, u"</RAW", "2:</ 404:RAW end"},
    {Preset::kMarkup, u"<RAWX>", "1:< 404:RAWX 3:> end"},
    // The give-back at the end: an operator and a word ending on the last character.
    {Preset::kMarkup, u"a<", "404:a 1:< end"},
    {Preset::kMarkup, u"ab", "404:ab end"},
    {Preset::kMarkup, u"a>", "404:a 3:> end"},
    // A "/" that starts no operator is a word character; what was read ahead to test it is
    // read again with its own class (a blank still separates, a tag still opens).
    {Preset::kMarkup, u"/ x", "404:/ 404:x end"},
    {Preset::kMarkup, u"/<B>", "404:/ 1:< 404:B 3:> end"},
    {Preset::kMarkup, u"/", "404:/ end"},
    {Preset::kMarkup, u"   ", "end"},
    {Preset::kMarkup, u"", "end"},
    // Zero units and lone surrogates are word characters like any other.
    {Preset::kMarkup, std::u16string(u"a\0b", 3), "404:a\\u0000b end"},
    {Preset::kMarkup, u"\xD800x \xDC00", "404:\\uD800x 404:\\uDC00 end"},

    // C-like: the longest operator wins; numbers, keywords, quoted strings.
    {Preset::kCLike, u"a<<=b", "404:a 71:<<= 404:b end"},
    {Preset::kCLike, u"x===y", "404:x 57:=== 404:y end"},
    {Preset::kCLike, u"a+=b", "404:a 64:+= 404:b end"},
    {Preset::kCLike, u"x->y", "404:x 22:- 52:> 404:y end"},
    {Preset::kCLike, u"a.b", "404:a 33:. 404:b end"},
    {Preset::kCLike, u"12.5)", "403:12.5 2:) end"},
    {Preset::kCLike, u"12abc", "404:12abc end"},
    {Preset::kCLike, u"5-3", "403:5 22:- 403:3 end"},
    {Preset::kCLike, u"1.2.3", "403:1.2 33:. 403:3 end"},
    // A "." without a digit behind it is dropped from a number.
    {Preset::kCLike, u"12.", "403:12 end"},
    {Preset::kCLike, u"12. x", "403:12 404:x end"},
    {Preset::kCLike, u"12.x", "404:12x end"},
    {Preset::kCLike, u"12", "403:12 end"},
    {Preset::kCLike, u"return", "233: end"},
    {Preset::kCLike, u"Return", "404:Return end"},
    {Preset::kCLike, u"returns", "404:returns end"},
    {Preset::kCLike, u"\"a\\\"b\"", "401:a\"b end"},
    {Preset::kCLike, u"'it''s'", "402:it 402:s end"},
    {Preset::kCLike, u"\"a\\\\\"", "401:a\\ end"},
    {Preset::kCLike, u"foo(1, \"s\")", "404:foo 1:( 403:1 34:, 401:s 2:) end"},
    {Preset::kCLike, u"x \"abc", "404:x open"},
    {Preset::kCLike, u"\"abc\\", "open"},
    {Preset::kCLike, u"\"", "open"},
    {Preset::kCLike, u" \t\r\n ", "end"},
    {Preset::kCLike, u"\"\"", "401: end"},
};

TEST(TokenizerTest, TokensOfBothPresets) {
    for (const TokenCase& c : kTokenCases) {
        Tokenizer t;
        Make(t, c.preset);
        ASSERT_TRUE(t.SetText(c.input.data(), static_cast<int32_t>(c.input.size())));
        EXPECT_EQ(ReadAll(t), c.expected)
            << (c.preset == Preset::kMarkup ? "markup: " : "C-like: ")
            << Narrow(c.input.data(), c.input.size());
    }
}

TEST(TokenizerTest, PeekReadsTheSameTokenAgain) {
    Tokenizer t;
    MakeCLikeTokenizer(t);
    const std::u16string text = u"  alpha<<=12.5 \"q\" \"open";
    t.SetText(text.data(), static_cast<int32_t>(text.size()));
    Token peeked;
    Token read;
    for (int i = 0; i < 4; ++i) {
        const int32_t before = t.Position();
        ASSERT_EQ(t.NextToken(peeked, true), TokenResult::kRead);
        EXPECT_EQ(t.Position(), before);
        ASSERT_EQ(t.NextToken(read, false), TokenResult::kRead);
        EXPECT_EQ(read.id, peeked.id);
        EXPECT_EQ(Narrow(read.text), Narrow(peeked.text));
        EXPECT_GT(t.Position(), before);
    }
    // The unterminated string: a peek answers 0 and puts the position back; so does the read,
    // which leaves the token untouched and the stream at its end.
    const int32_t before = t.Position();
    read.id = 77;
    EXPECT_EQ(t.NextToken(read, true), TokenResult::kUnterminated);
    EXPECT_EQ(t.Position(), before);
    EXPECT_EQ(t.NextToken(read, false), TokenResult::kUnterminated);
    EXPECT_EQ(read.id, 77);
    EXPECT_EQ(t.Position(), static_cast<int32_t>(text.size()));
    EXPECT_EQ(t.NextToken(read, true), TokenResult::kEnd);
    EXPECT_EQ(t.NextToken(read, false), TokenResult::kEnd);
}

TEST(TokenizerTest, TokenStartSkipsTheBlanksBeforeIt) {
    Tokenizer t;
    MakeMarkupTokenizer(t);
    const std::u16string text = u"ab   <B>";
    t.SetText(text.data(), static_cast<int32_t>(text.size()));
    int32_t id = 0;
    ASSERT_EQ(t.SkipToken(id), TokenResult::kRead);
    EXPECT_EQ(id, kTokenWord);
    EXPECT_EQ(t.TokenStart(), 0);
    EXPECT_EQ(t.Position(), 2);
    ASSERT_EQ(t.SkipToken(id), TokenResult::kRead);
    EXPECT_EQ(id, kMarkupOpen);
    EXPECT_EQ(t.TokenStart(), 5);
    EXPECT_TRUE(t.SeekTo(5));
    Token token;
    ASSERT_EQ(t.NextToken(token, false), TokenResult::kRead);
    EXPECT_EQ(token.id, kMarkupOpen);
    EXPECT_FALSE(t.SeekTo(9));
    EXPECT_FALSE(t.SeekTo(-1));
}

// A class no preset gives ends a word and starts no token: the character is passed over.
TEST(TokenizerTest, OtherClassesEndWordsAndStartNothing) {
    struct Case {
        Preset preset;
        std::u16string input;
        const char* expected;
    } cases[] = {
        {Preset::kMarkup, u"ab#cd", "404:ab 404:cd end"},
        {Preset::kMarkup, u"#", "end"},
        {Preset::kMarkup, u"# # #", "end"},
        {Preset::kMarkup, u"a#<b", "404:a 1:< 404:b end"},
        {Preset::kMarkup, u"\x4E2D#\x4E2D", "404:\\u4E2D 404:\\u4E2D end"},
        {Preset::kCLike, u"12#", "403:12 end"},
        {Preset::kCLike, u"12.#", "403:12 end"},
        {Preset::kCLike, u"\"a#b\"", "401:a#b end"},
    };
    for (const Case& c : cases) {
        Tokenizer t;
        Make(t, c.preset);
        t.SetCharClass(u'#', 7);
        t.SetCharClass(u'\x4E2D', 0);
        t.SetCharClass(u'\x2603', 9);
        const std::u16string input = c.input;
        t.SetText(input.data(), static_cast<int32_t>(input.size()));
        EXPECT_EQ(ReadAll(t), c.expected) << Narrow(input.data(), input.size());
    }
    // A character from 128 up with a class of its own.
    Tokenizer t;
    MakeMarkupTokenizer(t);
    t.SetCharClass(u'\x2603', 9);
    const std::u16string input = u"a\x2603" u"b";
    t.SetText(input.data(), 3);
    EXPECT_EQ(ReadAll(t), "404:a 404:b end");
}

TEST(TokenizerTest, TablesKeepTheLastWord) {
    Tokenizer t;
    t.AddOperator(WideString(u"=="), 5);
    t.AddOperator(WideString(u"=="), 6);  // the new id replaces the old
    t.AddOperator(WideString(), 9);       // no token could match an empty operator
    t.AddBlanks(WideString(u" x"));
    t.AddDigits(WideString(u"x"));        // a character keeps its last class
    t.AddKeyword(WideString(u"if"), 300);
    t.AddQuote(u'\x00AB', u'\x00BB', 500);  // quotes from 128 up
    const std::u16string text = u"if x==x \x00AB" u"a b\x00BB";
    t.SetText(text.data(), static_cast<int32_t>(text.size()));
    EXPECT_EQ(ReadAll(t), "300: 403:x 6:== 403:x 500:a b end");
}

TEST(TokenizerTest, NoTextReadsAsTheEnd) {
    Tokenizer t;
    MakeMarkupTokenizer(t);
    Token token;
    int32_t id = 0;
    EXPECT_EQ(t.NextToken(token, false), TokenResult::kEnd);
    EXPECT_EQ(t.SkipToken(id), TokenResult::kEnd);
    EXPECT_EQ(t.Position(), 0);
    EXPECT_TRUE(t.SetText(nullptr, 5));
    EXPECT_EQ(t.NextToken(token, false), TokenResult::kEnd);
    EXPECT_TRUE(t.SetText(u"abc", -3));
    EXPECT_EQ(t.NextToken(token, false), TokenResult::kEnd);
    // A new text replaces the old one and starts at its beginning.
    t.SetText(u"x y", 3);
    ASSERT_EQ(t.NextToken(token, false), TokenResult::kRead);
    t.SetText(u"z", 1);
    ASSERT_EQ(t.NextToken(token, false), TokenResult::kRead);
    EXPECT_EQ(Narrow(token.text), "z");
}

// Over random texts of characters that matter to the presets (and some that do not): every
// read consumes a character or answers 2, a peek gives what the next read gives, the token
// start lies within what the read consumed, and the text of a word, number or operator is the
// very characters consumed.
TEST(TokenizerTest, EveryReadProgressesOnAnyText) {
    const char16_t alphabet[] = u" \t\n\r<>/=!-+.\"'\\0123456789aZ_\x00E9\xD800\xDFFF\xFFFF";
    const int alphabetSize = static_cast<int>(sizeof alphabet / sizeof alphabet[0]);  // with 0
    std::mt19937 rng(24);
    for (int round = 0; round < 3000; ++round) {
        std::u16string text(rng() % 24, u' ');
        for (char16_t& c : text) c = alphabet[rng() % alphabetSize];
        for (const Preset preset : {Preset::kMarkup, Preset::kCLike}) {
            Tokenizer t;
            Make(t, preset);
            t.SetCharClass(u'_', 5);
            t.SetText(text.data(), static_cast<int32_t>(text.size()));
            for (int step = 0; step <= static_cast<int>(text.size()) + 1; ++step) {
                const int32_t before = t.Position();
                Token peeked;
                Token read;
                const TokenResult peekResult = t.NextToken(peeked, true);
                ASSERT_EQ(t.Position(), before);
                const TokenResult result = t.NextToken(read, false);
                ASSERT_EQ(result, peekResult);
                if (result == TokenResult::kEnd) break;
                ASSERT_GT(t.Position(), before) << Narrow(text.data(), text.size());
                if (result == TokenResult::kUnterminated) {
                    ASSERT_EQ(t.Position(), static_cast<int32_t>(text.size()));
                    break;
                }
                ASSERT_EQ(read.id, peeked.id);
                ASSERT_EQ(Narrow(read.text), Narrow(peeked.text));
                ASSERT_GE(t.TokenStart(), before);
                ASSERT_LT(t.TokenStart(), t.Position());
                const bool quoted = read.id == kCLikeDoubleQuoted || read.id == kCLikeSingleQuoted;
                const bool dropsDot = read.id == kTokenNumber || read.id == kTokenWord;
                if (!quoted && !(dropsDot && preset == Preset::kCLike) && read.text.length() > 0) {
                    ASSERT_EQ(Narrow(read.text),
                              Narrow(text.data() + t.TokenStart(),
                                     static_cast<size_t>(t.Position() - t.TokenStart())))
                        << Narrow(text.data(), text.size());
                }
            }
        }
    }
}

}  // namespace
