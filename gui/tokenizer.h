// A configurable lexer over 16-bit text. The owner fills its tables (blanks, digits, quotes,
// operators, keywords), gives it a text and reads tokens one by one, each an id and a text.
// Two presets exist: the markup preset, with which the markup parser reads tags and text runs,
// and a C-like preset, with which it reads the attributes inside a tag.
//
// The text lives in a MemStream of its own; characters are read from it two bytes at a time
// and given back by seeking, so a token can always be read again from any earlier position.
#pragma once

#include "core/containers/ordered_map.h"
#include "core/files/mem_stream.h"
#include "core/text/wide_string.h"

#include <cstdint>
#include <memory>
#include <vector>

struct Token {
    int32_t id = 0;
    WideString text;
};

// Ids the tokenizer gives by itself; operators, keywords and quotes carry the ids of the tables.
constexpr int32_t kTokenNumber = 403;
constexpr int32_t kTokenWord = 404;

// Character classes. A character not in the class table is a word character. Any other class
// value a caller gives ends a word and starts no token: the character is skipped like a blank.
constexpr int kCharWord = 0;
constexpr int kCharBlank = 2;
constexpr int kCharDigit = 3;
constexpr int kCharOperatorStart = 4;

enum class TokenResult : int {
    kUnterminated = 0,  // a quoted string ran to the end of the text; the token is untouched
    kRead = 1,          // a token was read
    kEnd = 2,           // the text has no more tokens; the token is untouched
};

class Tokenizer {
public:
    // Empty tables, no text (NextToken answers kEnd).
    Tokenizer();
    Tokenizer(const Tokenizer&) = delete;
    Tokenizer& operator=(const Tokenizer&) = delete;
    ~Tokenizer();

    // A character keeps the last class given to it.
    void SetCharClass(char16_t c, int charClass);
    // Class kCharBlank for every character of the text.
    void AddBlanks(const WideString& chars);
    // Class kCharDigit for every character of the text.
    void AddDigits(const WideString& chars);
    // Inserts the operator, or gives an existing one the new id, then gives its first character
    // class kCharOperatorStart. An empty text is ignored (no token could ever match it).
    void AddOperator(const WideString& text, int32_t id);
    // A word equal to the keyword (case-sensitive) reads as its id with an empty text.
    void AddKeyword(const WideString& text, int32_t id);
    // A string from `open` to `close` reads as one token of the id, without the quotes; a
    // backslash inside takes the next character literally.
    void AddQuote(char16_t open, char16_t close, int32_t id);

    // Replaces the text by a copy of the count characters (count < 0 counts as 0) and puts the
    // position at its start. False, with no text, when the count is too large for a stream.
    bool SetText(const char16_t* chars, int32_t count);
    // As SetText, but the stream shows the caller's characters without copying them: they must
    // stay alive and unchanged while the tokenizer reads them. For a reader that keeps the
    // source text anyway (the markup parser), this spares a copy of the whole text.
    bool ShowText(const char16_t* chars, int32_t count);

    // Reads the next token. With peek, the position is put back to where it was, so the next
    // call reads the same token again. Without peek, a call that does not answer kEnd has
    // consumed at least one character.
    TokenResult NextToken(Token& out, bool peek);
    // NextToken without peek that keeps only the id (written only with kRead): no text is
    // built, which is what a reader that copies its text out of the source by position needs.
    TokenResult SkipToken(int32_t& id);

    // The position as a character index into the text; 0 without a text.
    int32_t Position() const;
    // Puts the position at a character index (0..length). False, leaving it, outside that.
    bool SeekTo(int32_t position);
    // Where the token last read (or peeked) began, as a character index: its first character,
    // after the blanks before it.
    int32_t TokenStart() const { return tokenStart_; }

private:
    using OperatorMap = OrderedMap<WideString, int32_t, WideStringCompare>;
    using OperatorNode = OperatorMap::Node;

    bool MakeStream(const char16_t* chars, int32_t count, bool lend);
    TokenResult Scan(Token* out);
    bool ReadChar(char16_t& c);
    void GiveBack(int32_t count);
    int32_t CharsLeft() const;
    int ClassOf(char16_t c) const {
        if (c < 128) return asciiClass_[c];
        return wideClasses_ ? WideClassOf(c) : kCharWord;
    }
    int WideClassOf(char16_t c) const;
    // The first operator whose first character is c (the smallest key starting with c), or null.
    const OperatorNode* FirstOperatorOf(char16_t c);
    // Walks the operators starting with ahead_[0], reading ahead into ahead_ as needed; the
    // longest that the text continues with, or null.
    const OperatorNode* LongestOperator();
    // Reads characters into ahead_ until it holds `count`; false when the text ends first.
    bool ReadAhead(int32_t count);
    void Emit(Token* out, int32_t id, const char16_t* text, int32_t length);
    TokenResult ScanQuoted(Token* out, char16_t close, int32_t id);
    TokenResult ScanNumber(Token* out);
    TokenResult ScanWord(Token* out);
    TokenResult FinishWord(Token* out);

    OperatorMap operators_{true};
    OrderedMap<WideString, int32_t, WideStringCompare> keywords_{true};
    OrderedMap<char16_t, int> classes_{true};
    struct Quote {
        char16_t close = 0;
        int32_t id = 0;
    };
    OrderedMap<char16_t, Quote> quotes_{true};
    std::unique_ptr<MemStream> stream_;

    // Look-ups of the tables for the characters below 128, which nearly every text is made of.
    // Each step of a scan asks for one character's class, so it must not be a tree search.
    int8_t asciiClass_[128] = {};
    bool asciiQuote_[128] = {};
    bool wideClasses_ = false;  // some character from 128 up has a class of its own
    bool wideQuotes_ = false;
    const OperatorNode* asciiOperators_[128] = {};
    bool operatorsIndexed_ = true;

    // Scratch kept between calls so that a token costs no allocation beyond its own text.
    std::vector<char16_t> text_;
    std::vector<char16_t> ahead_;
    int32_t tokenStart_ = 0;
    int32_t lastId_ = 0;  // the id of the last token emitted, for SkipToken
};

// The markup preset: operators "<" 1, "</" 2, ">" 3, "/>" 4, "<RAW>" -1, "</RAW>" -2; the only
// blank is the space, so newlines and tabs are word characters; no digits, quotes or keywords.
void MakeMarkupTokenizer(Tokenizer& t);
// The C-like preset of tag attributes: blanks space, line feed, tab and carriage return;
// digits 0-9; double quotes 401 and single quotes 402; the operators and keywords listed in the
// source.
void MakeCLikeTokenizer(Tokenizer& t);

// Markup token ids.
constexpr int32_t kMarkupOpen = 1;
constexpr int32_t kMarkupClose = 2;
constexpr int32_t kMarkupEnd = 3;
constexpr int32_t kMarkupEmptyEnd = 4;
constexpr int32_t kMarkupRawOpen = -1;
constexpr int32_t kMarkupRawClose = -2;
// C-like token ids the attribute reader looks for.
constexpr int32_t kCLikeAssign = 61;
constexpr int32_t kCLikeDoubleQuoted = 401;
constexpr int32_t kCLikeSingleQuoted = 402;
