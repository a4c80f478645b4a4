// The C runtime's number texts as the engine expects them, independent of the C library this
// program runs on: itoa, the general ("G-style") double text with three exponent digits, and
// strtod's number form without the hexadecimal, infinity and NaN forms that glibc also reads.

#include "core/text/text_local.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace text_detail {

namespace {

template <typename Unit>
bool IsSpaceUnit(Unit u) {
    return u == ' ' || (u >= 9 && u <= 13);
}

template <typename Unit>
bool IsDigitUnit(Unit u) {
    return u >= '0' && u <= '9';
}

template <typename Unit>
NumberRead ReadNumberUnits(const Unit* text, int32_t length) {
    const int32_t end = TextEnd(text, length);
    int32_t i = 0;
    while (i < end && IsSpaceUnit(text[i])) ++i;
    const int32_t start = i;
    if (i < end && (text[i] == '+' || text[i] == '-')) ++i;
    int32_t digits = 0;
    while (i < end && IsDigitUnit(text[i])) ++i, ++digits;
    if (i < end && text[i] == '.') {
        ++i;
        while (i < end && IsDigitUnit(text[i])) ++i, ++digits;
    }
    if (digits == 0) return NumberRead{0.0, end == 0};

    // The exponent belongs to the number only when at least one digit follows its marker.
    int32_t marker = -1;
    if (i < end && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        int32_t j = i + 1;
        if (j < end && (text[j] == '+' || text[j] == '-')) ++j;
        if (j < end && IsDigitUnit(text[j])) {
            marker = i;
            while (j < end && IsDigitUnit(text[j])) ++j;
            i = j;
        }
    }

    // strtod turns the accepted characters (all ASCII by now) into the correctly rounded value.
    const int32_t n = i - start;
    char small[128];
    char* buffer = n < static_cast<int32_t>(sizeof small) ? small : new char[static_cast<size_t>(n) + 1];
    for (int32_t k = 0; k < n; ++k) {
        buffer[k] = start + k == marker ? 'e' : static_cast<char>(text[start + k]);
    }
    buffer[n] = '\0';
    const double value = std::strtod(buffer, nullptr);
    if (buffer != small) delete[] buffer;
    return NumberRead{value, i == end};
}

}  // namespace

NumberRead ReadNumber(const char* text, int32_t length) { return ReadNumberUnits(text, length); }

NumberRead ReadNumber(const char16_t* text, int32_t length) {
    return ReadNumberUnits(text, length);
}

int32_t DoubleToInt(double value) {
    // The processor's truncating conversion answers this "integer indefinite" value for every
    // input it cannot represent.
    if (!(value > -2147483649.0 && value < 2147483648.0)) {
        return std::numeric_limits<int32_t>::min();
    }
    return static_cast<int32_t>(value);
}

float DoubleToFloat(double value) {
    constexpr double kMax = std::numeric_limits<float>::max();
    if (std::isfinite(value) && std::fabs(value) > kMax) {
        // Past the largest float by at least half a unit in its last place rounds to infinity;
        // closer values round down to the largest float.
        const double halfUlp = std::ldexp(1.0, 127 - 24);
        const float inf = std::numeric_limits<float>::infinity();
        if (std::fabs(value) >= kMax + halfUlp) return value < 0 ? -inf : inf;
        return value < 0 ? -std::numeric_limits<float>::max() : std::numeric_limits<float>::max();
    }
    return static_cast<float>(value);
}

int32_t FormatInt(int32_t value, int radix, char* out) {
    if (radix < 2 || radix > 36) {
        out[0] = '\0';
        return 0;
    }
    // Radix 10 writes the signed value; every other radix writes the 32-bit pattern.
    const bool negative = radix == 10 && value < 0;
    uint32_t rest = static_cast<uint32_t>(value);
    if (negative) rest = 0u - rest;
    char reversed[kIntTextSize];
    int32_t n = 0;
    do {
        const uint32_t digit = rest % static_cast<uint32_t>(radix);
        reversed[n++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + (digit - 10));
        rest /= static_cast<uint32_t>(radix);
    } while (rest != 0);
    int32_t length = 0;
    if (negative) out[length++] = '-';
    while (n > 0) out[length++] = reversed[--n];
    out[length] = '\0';
    return length;
}

namespace {

// Appends a special value's text ("1.#INF", "1.#QNAN") after the sign.
int32_t FormatSpecial(bool negative, const char* body, char* out) {
    int32_t length = 0;
    if (negative) out[length++] = '-';
    const size_t n = std::strlen(body);
    std::memcpy(out + length, body, n + 1);
    return length + static_cast<int32_t>(n);
}

}  // namespace

int32_t FormatGeneral(double value, int digits, char* out) {
    const bool negative = std::signbit(value);
    if (std::isnan(value)) return FormatSpecial(negative, "1.#QNAN", out);
    if (std::isinf(value)) return FormatSpecial(negative, "1.#INF", out);
    if (digits < 1) digits = 1;

    // printf's %e gives the 17 significant digits of the value correctly rounded. Like the
    // runtime this text imitates, the digits are then rounded to the count asked for on the
    // decimal digit string, ties away from zero (2.5 to one digit is "3."), and a carry moves
    // into the exponent (9.9999995 to six digits is "10."). At most 17 digits are significant;
    // any further ones are zeros.
    constexpr int kMaxSignificant = 17;
    char scientific[64];
    std::snprintf(scientific, sizeof scientific, "%.*e", kMaxSignificant - 1, std::fabs(value));
    char significant[kMaxSignificant];
    int32_t count = 0;
    const char* p = scientific;
    for (; *p != 'e'; ++p) {
        if (*p != '.') significant[count++] = *p;
    }
    int exponent = std::atoi(p + 1);
    if (digits < kMaxSignificant) {
        const bool up = significant[digits] >= '5';
        count = digits;
        for (int32_t i = count - 1; up && i >= 0; --i) {
            if (significant[i] != '9') {
                ++significant[i];
                break;
            }
            significant[i] = '0';
            if (i == 0) {  // all nines: 99.9 becomes 100
                significant[0] = '1';
                ++exponent;
            }
        }
    }
    while (count > 1 && significant[count - 1] == '0') --count;  // trailing zeros go

    int32_t length = 0;
    if (negative) out[length++] = '-';
    if (exponent >= -1 && exponent <= digits - 1) {
        if (exponent == -1) {
            out[length++] = '0';
            out[length++] = '.';
            for (int32_t i = 0; i < count; ++i) out[length++] = significant[i];
        } else {
            // exponent + 1 digits before the point, padded with zeros; the rest after it.
            for (int32_t i = 0; i <= exponent; ++i) {
                out[length++] = i < count ? significant[i] : '0';
            }
            out[length++] = '.';
            for (int32_t i = exponent + 1; i < count; ++i) out[length++] = significant[i];
        }
        // A zero value has the one significant digit '0' and reads "0.".
    } else {
        out[length++] = significant[0];
        out[length++] = '.';
        for (int32_t i = 1; i < count; ++i) out[length++] = significant[i];
        out[length++] = 'e';
        out[length++] = exponent < 0 ? '-' : '+';
        const int magnitude = exponent < 0 ? -exponent : exponent;  // at most 324 for a double
        out[length++] = static_cast<char>('0' + magnitude / 100);
        out[length++] = static_cast<char>('0' + magnitude / 10 % 10);
        out[length++] = static_cast<char>('0' + magnitude % 10);
    }
    out[length] = '\0';
    return length;
}

}  // namespace text_detail
