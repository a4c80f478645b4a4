// Arbitrary bytes through every text codec, WideString's decoding and encoding, the number
// conversions and Split. Besides what ASan sees, each property below aborts when it breaks.

#include "core/text/codecs.h"
#include "core/text/string.h"
#include "core/text/wide_string.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// The bytes in a heap block of exactly their size, so ASan sees any read past them.
std::unique_ptr<uint8_t[]> ExactCopy(const uint8_t* data, size_t size) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[size == 0 ? 1 : size]);
    if (size > 0) std::memcpy(block.get(), data, size);
    return block;
}

bool IsLowSurrogate(const uint8_t* unit, int encoding) {
    const uint8_t high = encoding == kEncodingUtf16BigEndian ? unit[0] : unit[1];
    return high >= 0xDC && high <= 0xDF;
}

// Walks the input with one decoder: every step stays inside the input, progresses unless too
// few bytes are left, and yields a code point that encodes and decodes back to itself.
void WalkDecoder(const uint8_t* data, size_t size, int encoding) {
    size_t at = 0;
    while (at < size) {
        int32_t consumed = -1;
        uint32_t codePoint = 0xFFFFFFFF;
        const bool ok = DecodeChar(data + at, data + size, consumed, codePoint, encoding);
        if (encoding < kEncodingCodePage || encoding > kEncodingUtf32BigEndian) {
            Check(!ok && consumed == -1 && codePoint == 0xFFFFFFFF);  // outputs untouched
            return;
        }
        Check(consumed >= 0 && static_cast<size_t>(consumed) <= size - at);
        Check(codePoint <= 0x10FFFF);
        if (consumed == 0) {
            Check(!ok && size - at < 4);
            break;
        }
        // A UTF-16 pair whose second unit is no low surrogate still combines (the decoder does
        // not check it), into any value from U+2400 up, surrogate values included; those need
        // not survive a second round.
        const bool lenientPair = (encoding == kEncodingUtf16LittleEndian ||
                                  encoding == kEncodingUtf16BigEndian) &&
                                 consumed == 4 && !IsLowSurrogate(data + at + 2, encoding);
        if (ok && !lenientPair) {
            uint8_t out[8];
            int32_t written = -1;
            Check(EncodeChar(out, out + sizeof out, written, codePoint, encoding));
            int32_t again = -1;
            uint32_t back = 0;
            Check(DecodeChar(out, out + written, again, back, encoding));
            Check(again == written && back == codePoint);
            // The fixed-width encodings give back exactly the bytes they read.
            if (encoding == kEncodingCodePage || encoding >= kEncodingUtf32LittleEndian) {
                Check(written == consumed &&
                      std::memcmp(out, data + at, static_cast<size_t>(written)) == 0);
            }
        } else if (!ok) {
            Check(codePoint == 0);
        }
        at += static_cast<size_t>(consumed);
    }
}

// Decodes the input into a WideString, encodes it back with several capacities and, where the
// encoding can show every unit, decodes the bytes again.
void RoundTripWide(const uint8_t* data, size_t size, int encoding, int32_t capacityHint) {
    WideString wide;
    wide.DecodeFrom(data, static_cast<int32_t>(size), encoding);
    Check((wide.length() == 0) == (wide.data() == nullptr));
    Check(wide.length() <= static_cast<int32_t>(size) && wide.Text()[wide.length()] == 0);

    const int32_t capacities[] = {wide.length() * 4 + 1, capacityHint, 1, 0};
    for (int32_t capacity : capacities) {
        std::unique_ptr<uint8_t[]> out(new uint8_t[capacity == 0 ? 1 : capacity]);
        const int32_t n = wide.EncodeTo(out.get(), capacity, encoding);
        Check(n >= 0 && n <= capacity);
        if (capacity > 0) Check(out[n < capacity ? n : capacity - 1] == 0);
        if (capacity != capacities[0] || encoding == kEncodingUtf16LittleEndian ||
            encoding == kEncodingUtf16BigEndian) {
            continue;  // a cut text, or surrogate units that would pair up again
        }
        WideString back;
        back.DecodeFrom(out.get(), n, encoding);
        // A code point whose low 16 bits are 0 left a zero unit, where decoding stops.
        int32_t expected = 0;
        while (expected < wide.length() && wide.data()[expected] != 0) ++expected;
        Check(back.length() == expected);
        const size_t size16 = 2 * static_cast<size_t>(expected);
        Check(expected == 0 || std::memcmp(back.data(), wide.data(), size16) == 0);
    }
    if (encoding == kEncodingCodePage) {
        const String narrow(wide);
        Check(narrow.length() == wide.length());
    }
}

// The conversions of one text agree with each other, and the number texts read back.
void CheckNumbers(const String& text) {
    int32_t i = -1;
    float f = -1;
    double d = -1;
    const bool okInt = text.ToInt(i);
    const bool okFloat = text.ToFloat(f);
    const bool okDouble = text.ToDouble(d);
    Check(okInt == okFloat && okInt == okDouble && okInt == IsNumber(text));
    if (!okInt) Check(i == 0 && f == 0.0f);
    Check(!std::isnan(d));
    if (okInt && d > -2147483648.0 && d < 2147483648.0) Check(i == static_cast<int32_t>(d));
}

void CheckNumberTexts(const uint8_t* data, size_t size) {
    if (size < 10) return;
    double value;
    std::memcpy(&value, data, sizeof value);
    const int digits = static_cast<int8_t>(data[8]);
    const String text(value, digits);
    double back = 0;
    const bool ok = text.ToDouble(back);
    if (std::isfinite(value)) {
        Check(ok);
        if (digits >= 17) Check(back == value);
    } else {
        Check(!ok);
    }
    int32_t integer;
    std::memcpy(&integer, data, sizeof integer);
    const int radix = data[9] % 40;
    const String itoa(integer, radix);
    if (radix == 10) {
        int32_t parsed = 0;
        Check(itoa.ToInt(parsed) && parsed == integer);
    }
    Check((itoa.length() == 0) == (radix < 2 || radix > 36));
}

// The pieces joined by the separator give back the text.
void CheckSplit(const String& text, const String& separator) {
    DynArray<String> pieces;
    Split(text, separator, pieces);
    Check(pieces.count() >= 1);
    String joined(pieces.items()[0]);
    for (int32_t k = 1; k < pieces.count(); ++k) {
        joined.Append(separator);
        joined.Append(pieces.items()[k]);
    }
    const auto size = static_cast<size_t>(text.length());
    Check(joined.length() == text.length() &&
          (size == 0 || std::memcmp(joined.data(), text.data(), size) == 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    const auto block = ExactCopy(data, size);
    const uint8_t* bytes = block.get();

    for (int encoding = 0; encoding <= 7; ++encoding) {
        WalkDecoder(bytes, size, encoding);
        RoundTripWide(bytes, size, encoding, size > 0 ? bytes[0] : 0);
    }

    // The bytes as lent, unterminated text, and as wide text built from byte pairs.
    String text;
    text.Borrow(reinterpret_cast<const char*>(bytes), static_cast<int32_t>(size));
    CheckNumbers(text);
    const auto units = std::make_unique<char16_t[]>(size / 2 + 1);
    for (size_t k = 0; k + 1 < size; k += 2) {
        units[k / 2] = static_cast<char16_t>(bytes[k] | bytes[k + 1] << 8);
    }
    const WideString wide(units.get(), static_cast<int32_t>(size / 2), true);
    int32_t wideInt = -1;
    const bool wideOk = wide.ToInt(wideInt);
    if (!wideOk) Check(wideInt == 0);
    CheckNumberTexts(bytes, size);

    if (size > 0) {
        const int32_t separatorLength = bytes[0] % 4;
        const int32_t available = static_cast<int32_t>(size) - 1;
        const int32_t n = separatorLength < available ? separatorLength : available;
        String separator(reinterpret_cast<const char*>(bytes + 1), n, true);
        CheckSplit(String(reinterpret_cast<const char*>(bytes + 1 + n), available - n, true),
                   separator);
    }
    return 0;
}
