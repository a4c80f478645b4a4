#include "gui/tokenizer.h"

#include <cstring>
#include <utility>

namespace {

// Classes outside the four the scanner acts on all behave alike; the look-up table keeps them
// as one value that fits its bytes.
constexpr int kCharOther = 1;

int NormalizeClass(int charClass) {
    switch (charClass) {
        case kCharWord:
        case kCharBlank:
        case kCharDigit:
        case kCharOperatorStart:
            return charClass;
        default:
            return kCharOther;
    }
}

// Operators are a few characters long: a loop beats a call to memcmp.
bool SameChars(const char16_t* a, const char16_t* b, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

}  // namespace

Tokenizer::Tokenizer() = default;

Tokenizer::~Tokenizer() {
    stream_.reset();
    operators_.Clear();
    keywords_.Clear();
    classes_.Clear();
    quotes_.Clear();
}

void Tokenizer::SetCharClass(char16_t c, int charClass) {
    classes_.Insert(c, charClass, 1);
    if (c < 128) {
        asciiClass_[c] = static_cast<int8_t>(NormalizeClass(charClass));
    } else {
        wideClasses_ = true;
    }
}

void Tokenizer::AddBlanks(const WideString& chars) {
    for (int32_t i = 0; i < chars.length(); ++i) SetCharClass(chars.data()[i], kCharBlank);
}

void Tokenizer::AddDigits(const WideString& chars) {
    for (int32_t i = 0; i < chars.length(); ++i) SetCharClass(chars.data()[i], kCharDigit);
}

void Tokenizer::AddOperator(const WideString& text, int32_t id) {
    if (text.length() == 0) return;
    operators_.Insert(text, id, 1);
    operatorsIndexed_ = false;
    SetCharClass(text.data()[0], kCharOperatorStart);
}

void Tokenizer::AddKeyword(const WideString& text, int32_t id) { keywords_.Insert(text, id, 1); }

void Tokenizer::AddQuote(char16_t open, char16_t close, int32_t id) {
    quotes_.Insert(open, Quote{close, id}, 1);
    if (open < 128) {
        asciiQuote_[open] = true;
    } else {
        wideQuotes_ = true;
    }
}

bool Tokenizer::SetText(const char16_t* chars, int32_t count) {
    return MakeStream(chars, count, false);
}

bool Tokenizer::ShowText(const char16_t* chars, int32_t count) {
    return MakeStream(chars, count, true);
}

bool Tokenizer::MakeStream(const char16_t* chars, int32_t count, bool lend) {
    tokenStart_ = 0;
    if (count < 0 || chars == nullptr) count = 0;
    if (count > INT32_MAX / 2) {
        stream_.reset();
        return false;
    }
    // The stream object is kept from one text to the next (the attribute reader gives one
    // tokenizer a text per tag); only what it shows changes.
    if (!stream_) stream_ = std::make_unique<MemStream>();
    stream_->ShowData(chars, count * 2, lend);
    return stream_->Open(String(), 1) && stream_->Seek(0, 0);
}

int32_t Tokenizer::Position() const { return stream_ ? stream_->MemStream::Tell() / 2 : 0; }

bool Tokenizer::SeekTo(int32_t position) {
    if (!stream_ || position < 0 || position > stream_->Size() / 2) return false;
    return stream_->Seek(position * 2, 0);
}

TokenResult Tokenizer::NextToken(Token& out, bool peek) {
    if (!stream_) return TokenResult::kEnd;
    const int32_t start = stream_->Tell();
    const TokenResult result = Scan(&out);
    if (peek) stream_->Seek(start, 0);
    return result;
}

TokenResult Tokenizer::SkipToken(int32_t& id) {
    if (!stream_) return TokenResult::kEnd;
    const TokenResult result = Scan(nullptr);
    if (result == TokenResult::kRead) id = lastId_;
    return result;
}

// One character: two bytes from the stream. A read that fails leaves the character unread; a
// short read can only happen at the end of a foreign stream and counts as the end.
bool Tokenizer::ReadChar(char16_t& c) {
    // The stream is always a MemStream: the qualified call spares each character a virtual
    // dispatch.
    return stream_->MemStream::Read(&c, 2) == 2;
}

void Tokenizer::GiveBack(int32_t count) {
    if (count > 0) stream_->MemStream::Seek(-2 * count, 1);
}

int32_t Tokenizer::CharsLeft() const {
    return (stream_->MemStream::Size() - stream_->MemStream::Tell()) / 2;
}

int Tokenizer::WideClassOf(char16_t c) const { return NormalizeClass(classes_.ValueRef(c)); }

const Tokenizer::OperatorNode* Tokenizer::FirstOperatorOf(char16_t c) {
    if (!operatorsIndexed_) {
        // The list runs in key order, so the first key met with a given first character is
        // the smallest of them.
        std::memset(asciiOperators_, 0, sizeof asciiOperators_);
        const OperatorNode* n = operators_.first();
        for (int32_t i = 0; i < operators_.count(); ++i, n = n->next) {
            const char16_t first = n->key.data()[0];
            if (first < 128 && asciiOperators_[first] == nullptr) asciiOperators_[first] = n;
        }
        operatorsIndexed_ = true;
    }
    if (c < 128) return asciiOperators_[c];
    // The smallest key from "c" on is the first one that starts with c, if any does.
    OperatorNode* floor = nullptr;
    OperatorNode* ceiling = nullptr;
    operators_.FindBounds(WideString(c), floor, ceiling);
    return ceiling != nullptr && ceiling->key.data()[0] == c ? ceiling : nullptr;
}

bool Tokenizer::ReadAhead(int32_t count) {
    char16_t c;
    while (static_cast<int32_t>(ahead_.size()) < count) {
        if (!ReadChar(c)) return false;
        ahead_.push_back(c);
    }
    return true;
}

const Tokenizer::OperatorNode* Tokenizer::LongestOperator() {
    const OperatorNode* n = FirstOperatorOf(ahead_[0]);
    if (n == nullptr) return nullptr;
    const OperatorNode* best = nullptr;
    int32_t bestLength = 0;
    const OperatorNode* const first = operators_.first();
    do {
        const WideString& key = n->key;
        if (key.data()[0] != ahead_[0]) break;
        const int32_t length = key.length();
        const int32_t have = static_cast<int32_t>(ahead_.size());
        // Characters are read ahead only for an operator that the characters already read
        // still agree with: any other cannot match, and what is read ahead is given back anyway.
        if (length > bestLength && SameChars(ahead_.data(), key.data(), length < have ? length : have)) {
            if (length <= have) {
                best = n;
                bestLength = length;
            } else if (CharsLeft() >= length - have && ReadAhead(length) &&
                       SameChars(ahead_.data() + have, key.data() + have, length - have)) {
                best = n;
                bestLength = length;
            }
        }
        n = n->next;
    } while (n != first);
    return best;
}

void Tokenizer::Emit(Token* out, int32_t id, const char16_t* text, int32_t length) {
    lastId_ = id;
    if (out == nullptr) return;
    out->id = id;
    out->text = WideString(text, length, true);
}

TokenResult Tokenizer::Scan(Token* out) {
    if (stream_->MemStream::AtEnd()) return TokenResult::kEnd;
    char16_t c;
    int charClass;
    for (;;) {
        if (!ReadChar(c)) return TokenResult::kEnd;
        charClass = ClassOf(c);
        if (charClass == kCharBlank) continue;
        const bool quote = c < 128 ? asciiQuote_[c] : wideQuotes_;
        if (quote) {
            Quote q;
            if (quotes_.Find(c, q) != nullptr) {
                tokenStart_ = Position() - 1;
                return ScanQuoted(out, q.close, q.id);
            }
        }
        // A character of a class of no token is skipped like a blank, so that every call
        // still consumes something.
        if (charClass != kCharOther) break;
    }
    tokenStart_ = Position() - 1;
    if (charClass == kCharDigit) {
        text_.assign(1, c);
        return ScanNumber(out);
    }
    if (charClass == kCharOperatorStart && operators_.count() > 0) {
        ahead_.assign(1, c);
        if (const OperatorNode* best = LongestOperator()) {
            GiveBack(static_cast<int32_t>(ahead_.size()) - best->key.length());
            Emit(out, best->value, best->key.data(), best->key.length());
            return TokenResult::kRead;
        }
        // No operator starts here: the characters read ahead are read again as part of the
        // word, each with its own class, so that a blank or a tag behind a lone operator
        // character is not swallowed into the word.
        GiveBack(static_cast<int32_t>(ahead_.size()) - 1);
    }
    text_.assign(1, c);
    return ScanWord(out);
}

TokenResult Tokenizer::ScanQuoted(Token* out, char16_t close, int32_t id) {
    text_.clear();
    char16_t c;
    for (;;) {
        if (!ReadChar(c)) return TokenResult::kUnterminated;
        if (c == u'\\') {
            if (!ReadChar(c)) return TokenResult::kUnterminated;
        } else if (c == close) {
            break;
        }
        text_.push_back(c);
    }
    Emit(out, id, text_.data(), static_cast<int32_t>(text_.size()));
    return TokenResult::kRead;
}

TokenResult Tokenizer::ScanNumber(Token* out) {
    char16_t c;
    bool more = ReadChar(c);
    while (more && ClassOf(c) == kCharDigit) {
        text_.push_back(c);
        more = ReadChar(c);
    }
    if (more && c == u'.') {
        // A "." is taken only with a digit behind it; otherwise it is dropped.
        more = ReadChar(c);
        if (more && ClassOf(c) == kCharDigit) {
            text_.push_back(u'.');
            while (more && ClassOf(c) == kCharDigit) {
                text_.push_back(c);
                more = ReadChar(c);
            }
        }
    }
    if (more && ClassOf(c) == kCharWord) {
        // A number running into a word character is a word.
        text_.push_back(c);
        return ScanWord(out);
    }
    if (more) GiveBack(1);
    Emit(out, kTokenNumber, text_.data(), static_cast<int32_t>(text_.size()));
    return TokenResult::kRead;
}

TokenResult Tokenizer::ScanWord(Token* out) {
    // A word whose text nobody reads (SkipToken, and no keyword to compare with) is only
    // stepped over.
    const bool keep = out != nullptr || keywords_.count() > 0;
    char16_t c;
    while (ReadChar(c)) {
        const int charClass = ClassOf(c);
        if (charClass == kCharWord || charClass == kCharDigit) {
            if (keep) text_.push_back(c);
            continue;
        }
        if (charClass == kCharOperatorStart) {
            if (operators_.count() > 0) {
                // When the character is an operator by itself, one starts here whatever
                // follows; only otherwise is anything read ahead.
                const OperatorNode* first = FirstOperatorOf(c);
                if (first != nullptr && first->key.length() == 1) {
                    GiveBack(1);
                    break;
                }
                ahead_.assign(1, c);
                const bool operatorStarts = first != nullptr && LongestOperator() != nullptr;
                if (operatorStarts) {
                    GiveBack(static_cast<int32_t>(ahead_.size()));
                    break;
                }
                GiveBack(static_cast<int32_t>(ahead_.size()) - 1);
            }
            if (keep) text_.push_back(c);
            continue;
        }
        GiveBack(1);
        break;
    }
    return FinishWord(out);
}

TokenResult Tokenizer::FinishWord(Token* out) {
    const int32_t length = static_cast<int32_t>(text_.size());
    if (keywords_.count() == 0) {
        Emit(out, kTokenWord, text_.data(), length);
        return TokenResult::kRead;
    }
    // The word is made once: the key of the look-up, and then the token's text.
    WideString word(text_.data(), length, true);
    int32_t id = 0;
    if (keywords_.Find(word, id) != nullptr) {
        Emit(out, id, nullptr, 0);
        return TokenResult::kRead;
    }
    lastId_ = kTokenWord;
    if (out != nullptr) {
        out->id = kTokenWord;
        out->text = std::move(word);
    }
    return TokenResult::kRead;
}

void MakeMarkupTokenizer(Tokenizer& t) {
    t.AddBlanks(WideString(u" "));
    t.AddOperator(WideString(u"<"), kMarkupOpen);
    t.AddOperator(WideString(u"</"), kMarkupClose);
    t.AddOperator(WideString(u">"), kMarkupEnd);
    t.AddOperator(WideString(u"/>"), kMarkupEmptyEnd);
    t.AddOperator(WideString(u"<RAW>"), kMarkupRawOpen);
    t.AddOperator(WideString(u"</RAW>"), kMarkupRawClose);
}

void MakeCLikeTokenizer(Tokenizer& t) {
    t.AddBlanks(WideString(u" \n\t\r"));
    t.AddDigits(WideString(u"0123456789"));
    t.AddQuote(u'"', u'"', kCLikeDoubleQuoted);
    t.AddQuote(u'\'', u'\'', kCLikeSingleQuoted);
    static constexpr struct {
        const char16_t* text;
        int32_t id;
    } kOperators[] = {
        {u"(", 1},    {u")", 2},    {u"[", 3},    {u"]", 4},    {u"{", 5},   {u"}", 6},
        {u"+", 21},   {u"-", 22},   {u"*", 23},   {u"/", 24},   {u"%", 26},  {u"++", 27},
        {u"--", 28},  {u"$", 31},   {u"#", 32},   {u".", 33},   {u",", 34},  {u"?", 35},
        {u";", 36},   {u"^", 37},   {u"<<", 38},  {u">>", 39},  {u"~", 41},  {u"!", 42},
        {u"&", 43},   {u"&&", 44},  {u"|", 45},   {u"||", 46},  {u"==", 51}, {u">", 52},
        {u"<", 53},   {u">=", 54},  {u"<=", 55},  {u"!=", 56},  {u"===", 57}, {u"!==", 58},
        {u"=", 61},   {u"&=", 62},  {u"|=", 63},  {u"+=", 64},  {u"-=", 65}, {u"*=", 66},
        {u"/=", 67},  {u"%=", 68},  {u"#=", 69},  {u"<<=", 71}, {u">>=", 72}, {u"~=", 73},
        {u":", 81},   {u"::", 82},  {u"=>", 90},
    };
    for (const auto& op : kOperators) t.AddOperator(WideString(op.text), op.id);
    static constexpr struct {
        const char16_t* text;
        int32_t id;
    } kKeywords[] = {
        {u"entity", 201}, {u"skill", 202},    {u"signal", 203}, {u"action", 204},
        {u"throw", 210},  {u"catch", 211},    {u"allow", 212},  {u"deny", 213},
        {u"class", 214},  {u"subclass", 215}, {u"exact", 216},  {u"block", 231},
        {u"run", 232},    {u"return", 233},   {u"break", 234},  {u"continue", 235},
    };
    for (const auto& keyword : kKeywords) t.AddKeyword(WideString(keyword.text), keyword.id);
}
