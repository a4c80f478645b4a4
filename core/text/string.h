// The engine's narrow text: a byte string that owns its block, or shows bytes lent by someone
// else (a locked resource, a caller's memory block) without ever freeing them. Free functions
// for concatenation, comparison, trimming and splitting stand beside it.
//
// Text is bytes; no code page is implied. A String may hold zero bytes inside its length; the
// functions that treat it as C text (the comparisons and the number conversions) end the text
// at the first zero byte or at the length, whichever comes first, so they never read past the
// length of a borrowed, unterminated buffer.
#pragma once

#include "core/containers/dyn_array.h"

#include <cstdint>

class WideString;

// Invariants: data() is null exactly when length() is 0, except for a borrowed string, which
// may show an empty block. An owned non-empty string holds length() + 1 bytes, the last one 0.
// A borrowed string's bytes need not be terminated; it must not outlive the buffer it shows.
class String {
public:
    // Empty, not borrowed.
    String() = default;
    // Owned copy of other's bytes (a borrowed source is copied too); an empty source gives an
    // empty string.
    String(const String& other);
    // Takes over other's block when other owns it, else copies other's bytes; other is left
    // empty and owned.
    String(String&& other) noexcept;
    // Null or "" gives an empty string; else an owned copy up to the terminator.
    String(const char* text);  // NOLINT: C text converts implicitly, like a literal key
    // length >= 0; a null buffer gives an empty string. copy true: an owned copy of `length`
    // bytes of `buffer`, terminated. copy false: the string adopts `buffer` as its own block and
    // frees it later with delete[]; the block must come from new char[] and hold length + 1
    // bytes, the last one 0. Adopting a length of 0 frees the block at once.
    String(const char* buffer, int32_t length, bool copy);
    // One byte, length 1 (the zero byte too).
    explicit String(char c);
    // The C runtime's itoa text: radix 10 writes the signed value, other radices (2 to 36) the
    // value's 32-bit pattern, with lower-case digits. A radix outside 2 to 36 gives "".
    String(int32_t value, int radix);
    // The same text for the value widened to 32 bits without sign.
    String(uint16_t value, int radix);
    // The C runtime's general (G-style) text with `digits` significant digits (at least 1; at
    // most 17 are generated, further ones are zeros; ties round away from zero): fixed
    // notation when the decimal exponent (after rounding) lies from -1 to digits - 1, else a
    // mantissa with exponent 'e', sign and three digits.
    // Trailing zeros after the point are removed, the point stays: 100 -> "100.", 0.5 ->
    // "0.5", 0.05 -> "5.e-002". Infinities read "1.#INF"/"-1.#INF", NaNs "1.#QNAN"/"-1.#QNAN".
    String(double value, int digits);
    // Each unit of the wide text in the C runtime's code page (one byte per unit); units that
    // the code page cannot show (above 255) are left out, so the length is the number of bytes
    // written.
    explicit String(const WideString& wide);
    // Frees the block unless borrowed.
    ~String();

    // Assign.
    String& operator=(const String& other);
    // As Assign, but takes over other's block when other owns it; other is left empty, owned.
    String& operator=(String&& other) noexcept;
    // AssignText.
    String& operator=(const char* text);

    // Frees the block unless borrowed; afterwards data() is null and length() 0. The borrowed
    // flag is left as it was.
    void Clear();
    // Makes this an owned copy of other (self-assignment does nothing). The old block is freed
    // unless borrowed; the string is owned afterwards.
    void Assign(const String& other);
    // Makes this an owned copy of the C text (null or "" gives empty). The old block is freed
    // unless borrowed; the string is owned afterwards. The text may point into this string.
    void AssignText(const char* text);
    // Appends other's bytes: a new owned block holding this text then other's. The old block is
    // freed unless borrowed. When both are empty nothing changes. other may be this string.
    void Append(const String& other);
    // Shows `length` (>= 0) bytes at `bytes` without copying and without ever freeing them; the
    // old block is freed unless borrowed. Only the file layer lends data this way.
    void Borrow(const char* bytes, int32_t length);

    // The address of the byte at index (0 <= index < length()). index == length() answers the
    // address of a zero byte (the terminator of an owned string). Any other index is a caller
    // fault: it asserts in debug builds and answers the address of a scratch zero byte, which
    // a caller may write without harm.
    char* At(int32_t index);
    const char* At(int32_t index) const;

    // The index of needle in this text, or -1 (also when this string is empty). flag 0: the
    // first occurrence; any other flag: the last. An empty needle is found at 0 (flag 0) or at
    // length() (otherwise). Bytes are compared exactly.
    int32_t Find(const String& needle, int flag) const;
    // The second entry of Find.
    int32_t FindAlias(const String& needle, int flag) const { return Find(needle, flag); }
    // Find on copies of both texts lower-cased by ToLowerCopy; -1 when this string is empty.
    int32_t FindNoCase(const String& needle, int flag) const;
    // The bytes first..last inclusive. last -1 means the last byte; last is clamped to
    // length() - 1 and first to 0. Empty when this string is empty, when first > length() - 1,
    // when last < first (before first is clamped) or when nothing is left after clamping.
    String Mid(int32_t first, int32_t last) const;

    // Number conversions of the whole text. An empty string gives 0 and true. Otherwise the
    // text must be exactly one number of the C runtime's strtod form: optional leading white
    // space, sign, digits with an optional fraction, optional exponent (e, E, d or D) and
    // nothing after it ("42 ", "12px", "0x10", "inf" and " " fail).
    // ToInt truncates toward zero; a value outside the int range gives INT32_MIN (what the
    // processor's conversion answers). On failure ToInt and ToFloat store 0; ToDouble stores
    // the value of the number the text starts with ("12px" gives 12, "px" 0).
    bool ToInt(int32_t& out) const;
    bool ToFloat(float& out) const;
    bool ToDouble(double& out) const;

    // The bytes, or null when empty (a borrowed string may show an empty block).
    const char* data() const { return data_; }
    int32_t length() const { return length_; }
    bool borrowed() const { return borrowed_ != 0; }
    // The text for C calls: never null, "" when empty. Terminated unless borrowed.
    const char* Text() const { return data_ != nullptr ? data_ : ""; }

private:
    // Takes over a block of length + 1 bytes (or null for length 0): the old block is freed
    // unless borrowed, and the string is owned afterwards.
    void TakeBlock(char* block, int32_t length);

    char* data_ = nullptr;
    int32_t length_ = 0;
    int32_t borrowed_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Concatenation. A null C text counts as "". The results are owned; an empty result has no
// block. The Into forms set `target` to the concatenation (freeing its old block unless
// borrowed; owned afterwards); the operands may be target itself.

String ConcatStrings(const String& a, const String& b);
String ConcatStringText(const String& a, const char* b);
String ConcatTextString(const char* a, const String& b);
void ConcatStringsInto(String& target, const String& a, const String& b);
void ConcatStringTextInto(String& target, const String& a, const char* b);
void ConcatTextStringInto(String& target, const char* a, const String& b);

// ---------------------------------------------------------------------------------------------
// Comparison: -1, 0 or 1, by unsigned byte value. A null text equals "", and "" orders before
// every non-empty text.

int CompareText(const char* a, const char* b);
int CompareStringText(const String& a, const char* b);
int CompareStrings(const String& a, const String& b);
bool StringsEqual(const String& a, const String& b);
bool StringEqualsText(const String& a, const char* b);
bool TextEqualsString(const char* a, const String& b);
bool StringLess(const String& a, const String& b);
bool StringGreater(const String& a, const String& b);

// Without regard to case, as the C runtime's stricmp: the letters A to Z compare as a to z,
// then by unsigned byte value. -1, 0 or 1; a null text equals "".
int CompareTextNoCase(const char* a, const char* b);
int CompareStringsNoCase(const String& a, const String& b);

// Map key comparisons for OrderedMap<String, V, ...> and OrderedSet<String, ...>.
struct StringCompare {
    int operator()(const String& a, const String& b) const { return CompareStrings(a, b); }
};
struct StringCompareNoCase {
    int operator()(const String& a, const String& b) const { return CompareStringsNoCase(a, b); }
};

// ---------------------------------------------------------------------------------------------
// Copies and pieces.

// A copy with the letters A to Z lower-cased (the C runtime's strlwr in its default locale).
String ToLowerCopy(const String& text);
// A copy without the leading and trailing runs of blanks (32) and tabs (9).
String Trim(const String& text);
// A copy without the leading run of `byte`; a text made only of it gives "".
String TrimLeft(const String& text, char byte);
// A copy without the trailing run of `byte`, except that the first byte is never removed: a
// text made only of `byte` keeps one ("xx" gives "x").
String TrimRight(const String& text, char byte);
// Splits text at every occurrence of separator into out[0], out[1], ... (out grows to hold
// them; callers pass an empty array). Two separators in a row give an empty piece, a trailing
// separator a trailing empty piece, and an empty text one empty piece. An empty separator
// never matches: the whole text is the one piece.
void Split(const String& text, const String& separator, DynArray<String>& out);
// Whether the whole text is one number of the strtod form (as String::ToInt reads it). The
// empty text answers true; callers that mean "a non-empty number" test for it first.
bool IsNumber(String text);
// min(max(v, low), high).
int32_t ClampInt(int32_t v, int32_t low, int32_t high);
