// The engine's 16-bit text, for rich text, the GUI and the line dialect of the script language.
// Each unit is one character: surrogate pairs get no special treatment. Conversions from and
// to narrow text go through the codecs (core/text/codecs.h) with encoding 1, the code page.
#pragma once

#include <cstdint>

class String;

// Invariants: data() is null exactly when length() is 0; a non-empty string owns length() + 1
// units, the last one 0. Functions that treat the text as C text (the comparisons, ToInt) end it
// at its first zero unit.
class WideString {
public:
    WideString() = default;
    WideString(const WideString& other);
    // Takes over other's block; other is left empty.
    WideString(WideString&& other) noexcept;
    // Null gives an empty string; else an owned copy up to the terminator.
    WideString(const char16_t* text);  // NOLINT: wide C text converts implicitly
    // length >= 0. copy true: an owned, terminated copy of `length` units (a null buffer gives
    // an empty string). copy false: adopts `buffer`, which must come from new char16_t[] and
    // hold length + 1 units, the last one 0; it is freed later with delete[] (at once for a
    // length of 0).
    WideString(const char16_t* buffer, int32_t length, bool copy);
    explicit WideString(char16_t c);
    // The narrow character sign-extended to 16 bits, as the C runtime's char widens: byte 0xE9
    // gives unit 0xFFE9.
    explicit WideString(char c);
    // The narrow forms below are decoded with encoding 1 (DecodeFrom); a null text gives "".
    explicit WideString(const char* text);
    explicit WideString(const String& text);
    // String(value, radix) decoded.
    WideString(int32_t value, int radix);
    // String(value, digits) decoded.
    WideString(double value, int digits);
    ~WideString();

    WideString& operator=(const WideString& other);
    WideString& operator=(WideString&& other) noexcept;

    // Frees the block; afterwards data() is null and length() 0.
    void Clear();
    // An owned copy of other (self-assignment does nothing).
    void Assign(const WideString& other);
    // The narrow C text decoded with encoding 1 (null gives empty); the text may be anything,
    // including bytes that alias this string's block.
    void AssignNarrow(const char* text);
    // In place: this text then other's (other may be this string).
    void Append(const WideString& other);

    // The unit at index (0 <= index < length()); index == length() answers the terminator (a
    // zero unit). Any other index is a caller fault: it asserts in debug builds and answers the
    // address of a scratch zero unit, which a caller may write without harm.
    char16_t* At(int32_t index);
    const char16_t* At(int32_t index) const;
    // As String::Find, by 16-bit unit: flag 0 first occurrence, any other flag the last; -1
    // when absent or when this string is empty.
    int32_t Find(const WideString& needle, int flag) const;
    int32_t FindAlias(const WideString& needle, int flag) const { return Find(needle, flag); }
    // As String::Mid: units first..last inclusive, -1 = the end, the same clamping.
    WideString Mid(int32_t first, int32_t last) const;
    // As String::ToInt: the whole text must be one strtod number ("" gives 0 and true); the
    // value truncated toward zero, INT32_MIN outside the int range; 0 and false on failure.
    bool ToInt(int32_t& out) const;

    // Writes the text into buffer[0, capacity) one unit at a time with the codec of
    // `encoding`, each unit as its own code point (a surrogate pair becomes two code points).
    // A unit the codec refuses is skipped. Writing stops at the first unit that does not fit
    // in the room left, so the bytes written are always whole characters. A 0 byte follows the
    // bytes written when they are fewer than capacity, else it replaces the buffer's last byte
    // (capacity > 0). Returns the number of bytes written (the 0 byte not counted).
    int32_t EncodeTo(void* buffer, int32_t capacity, int encoding) const;
    // Replaces the text by `count` bytes decoded with the codec of `encoding`: each code point
    // becomes one unit (its low 16 bits). A code point 0 ends the text; bytes the codec refuses
    // are stepped over by the count it reports; a step that consumes nothing (too few bytes
    // left, or an unknown encoding) ends the decoding. count <= 0 gives an empty string.
    // The bytes may lie inside this string's own block.
    void DecodeFrom(const void* bytes, int32_t count, int encoding);

    // The units, or null when empty.
    const char16_t* data() const { return data_; }
    int32_t length() const { return length_; }
    // Never null: u"" when empty.
    const char16_t* Text() const { return data_ != nullptr ? data_ : u""; }

private:
    // Takes over a block of length + 1 units (null for length 0) and frees the old one.
    void TakeBlock(char16_t* block, int32_t length);

    char16_t* data_ = nullptr;
    int32_t length_ = 0;
};

// The source with `inserted` placed before the unit at `position`. Position -1, or any position
// at or past the source's length, appends; a position below -1 is a caller fault: it asserts in
// debug builds and appends.
WideString WideStringInsert(const WideString& source, int32_t position, const WideString& inserted);

// Concatenation, as the narrow functions: a null wide text counts as empty; the Into forms set
// `target` (whose old block is freed) and the operands may be target itself.
WideString ConcatWideStrings(const WideString& a, const WideString& b);
WideString ConcatWideStringText(const WideString& a, const char16_t* b);
WideString ConcatTextWideString(const char16_t* a, const WideString& b);
void ConcatWideStringsInto(WideString& target, const WideString& a, const WideString& b);
void ConcatWideStringTextInto(WideString& target, const WideString& a, const char16_t* b);
void ConcatTextWideStringInto(WideString& target, const char16_t* a, const WideString& b);

// Three-way comparison (-1, 0, 1) by unsigned 16-bit unit; a null text equals the empty one.
int CompareWideText(const char16_t* a, const char16_t* b);
int CompareWideStrings(const WideString& a, const WideString& b);
int CompareWideStringText(const WideString& a, const char16_t* b);
bool WideStringsEqual(const WideString& a, const WideString& b);
bool WideStringEqualsText(const WideString& a, const char16_t* b);
// As the C runtime's wcsncmp over at most n units (n <= 0 compares nothing and gives 0), but
// -1, 0 or 1; a null text equals the empty one.
int CompareWideTextN(const char16_t* a, const char16_t* b, int32_t n);

// Unit 32 (blank) or 9 (tab).
bool IsBlankChar(char16_t c);
// Unit 10.
bool IsLineFeed(char16_t c);

// Map key comparison for OrderedMap<WideString, V, WideStringCompare>.
struct WideStringCompare {
    int operator()(const WideString& a, const WideString& b) const {
        return CompareWideStrings(a, b);
    }
};
