// Helpers shared by the sources of core/text only: bounded comparison of text units and the
// number texts of the C runtime (itoa, the general double text, strtod's number form).
#pragma once

#include <cstdint>

namespace text_detail {

// The units of a text up to its first zero unit or `length`, whichever comes first; a null
// pointer is the empty text. C texts pass INT32_MAX as their length.
template <typename Unit>
int32_t TextEnd(const Unit* text, int32_t length) {
    if (text == nullptr) return 0;
    int32_t i = 0;
    while (i < length && text[i] != 0) ++i;
    return i;
}

// Three-way comparison (-1, 0, 1) of two texts by unsigned unit value, each ending at its first
// zero unit or its length. `Fold` maps a unit before it is compared.
template <typename Unit, typename Fold>
int CompareUnits(const Unit* a, int32_t aLength, const Unit* b, int32_t bLength, Fold fold) {
    if (a == nullptr) aLength = 0;
    if (b == nullptr) bLength = 0;
    for (int32_t i = 0;; ++i) {
        // A text that has ended reads as a zero unit, which orders before every other unit.
        const uint32_t x = i < aLength ? fold(static_cast<uint32_t>(a[i])) : 0;
        const uint32_t y = i < bLength ? fold(static_cast<uint32_t>(b[i])) : 0;
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

// Narrow units as unsigned bytes.
inline uint32_t ByteValue(uint32_t unit) { return unit & 0xFF; }
// The C runtime's default-locale lower case: only A to Z change.
inline uint32_t LowerByte(uint32_t unit) {
    unit &= 0xFF;
    return unit >= 'A' && unit <= 'Z' ? unit + ('a' - 'A') : unit;
}
inline uint32_t WideUnitValue(uint32_t unit) { return unit & 0xFFFF; }

// The number a text starts with, read as the C runtime's strtod reads it: optional white space,
// sign, digits with an optional fraction (at least one digit), optional exponent introduced by
// e, E, d or D. `whole` is true when the number reaches the end of the text (its first zero
// unit or `length`); a text that does not start with a number has value 0 and is whole only
// when it is empty.
struct NumberRead {
    double value;
    bool whole;
};
NumberRead ReadNumber(const char* text, int32_t length);
NumberRead ReadNumber(const char16_t* text, int32_t length);

// Truncation toward zero; a value outside the int32 range (or NaN) gives INT32_MIN.
int32_t DoubleToInt(double value);
// Rounded to the nearest float; a finite value beyond the float range gives an infinity.
float DoubleToFloat(double value);

// Room for every FormatInt text and its terminator.
constexpr int kIntTextSize = 36;
// The itoa text of value into out (kIntTextSize bytes), terminated; returns its length.
int32_t FormatInt(int32_t value, int radix, char* out);

// Room for every FormatGeneral text and its terminator (sign, 309 integer digits, point,
// 16 more digits).
constexpr int kGeneralTextSize = 352;
// The general double text (see String(double, int)) into out, terminated; returns its length.
int32_t FormatGeneral(double value, int digits, char* out);

}  // namespace text_detail
