// The tokenizer of both presets over any 16-bit text. Input: one byte of options, then the text
// as UTF-16 little-endian units (an odd last byte is dropped).
//   options bit 0: the C-like preset, else the markup one;
//   bit 1: the character given by the next two bytes gets class (options >> 4), a class that
//          may be one no token uses;
//   bits 2-3: how often reads are peeked first (never, every read, every other, every third).
// Besides what ASan sees, each property below aborts when it breaks: every read that does not
// answer 2 consumes a character, a peek moves nothing and gives what the next read gives, the
// token starts within what the read consumed, and the reading ends within length + 1 reads.

#include "fuzz/fuzz_input.h"
#include "gui/tokenizer.h"

#include <cstdint>
#include <vector>

using fuzz_input::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_input::Reader in(data, size);
    const uint8_t options = in.Byte();
    Tokenizer t;
    if (options & 1) {
        MakeCLikeTokenizer(t);
    } else {
        MakeMarkupTokenizer(t);
    }
    if (options & 2) t.SetCharClass(static_cast<char16_t>(in.Number(2)), options >> 4);
    std::vector<char16_t> text(in.Left() / 2);
    for (char16_t& c : text) c = static_cast<char16_t>(in.Number(2));
    const int32_t length = static_cast<int32_t>(text.size());
    // An exact heap copy, so ASan sees a read past the caller's characters.
    auto chars = fuzz_input::ExactCopy(text.data(), text.size() * sizeof(char16_t));
    Check(t.SetText(reinterpret_cast<const char16_t*>(chars.get()), length));

    const int peekEvery = (options >> 2) & 3;
    for (int32_t read = 0;; ++read) {
        Check(read <= length + 1);
        const int32_t before = t.Position();
        Token peeked;
        TokenResult peekResult = TokenResult::kRead;
        const bool peek = peekEvery != 0 && read % peekEvery == 0;
        if (peek) {
            peekResult = t.NextToken(peeked, true);
            Check(t.Position() == before);
        }
        Token token;
        const TokenResult result = t.NextToken(token, false);
        if (peek) {
            Check(result == peekResult);
            if (result == TokenResult::kRead) {
                Check(token.id == peeked.id && WideStringsEqual(token.text, peeked.text));
            }
        }
        if (result == TokenResult::kEnd) break;
        Check(t.Position() > before && t.Position() <= length);
        if (result == TokenResult::kUnterminated) {
            Check(t.Position() == length);
            break;
        }
        Check(t.TokenStart() >= before && t.TokenStart() < t.Position());
        Check(token.text.length() <= t.Position() - t.TokenStart());
    }
    Token token;
    Check(t.NextToken(token, false) == TokenResult::kEnd);
    return 0;
}
