// The six text codecs and their two dispatchers.

#include "core/text/codecs.h"

namespace {

constexpr uint32_t kMaxCodePoint = 0x10FFFF;

// Bytes available in [begin, end); 0 for an empty or reversed range.
int64_t RoomOf(const uint8_t* begin, const uint8_t* end) {
    return begin != nullptr && end > begin ? end - begin : 0;
}

bool Fail(int32_t& count, int32_t n, uint32_t& codePoint) {
    count = n;
    codePoint = 0;
    return false;
}

bool FailWrite(int32_t& written) {
    written = 0;
    return false;
}

uint32_t ReadUnit16(const uint8_t* p, bool bigEndian) {
    return bigEndian ? (uint32_t{p[0]} << 8) | p[1] : (uint32_t{p[1]} << 8) | p[0];
}

void WriteUnit16(uint8_t* p, uint32_t unit, bool bigEndian) {
    const auto high = static_cast<uint8_t>(unit >> 8);
    const auto low = static_cast<uint8_t>(unit);
    p[0] = bigEndian ? high : low;
    p[1] = bigEndian ? low : high;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Decoders

bool DecodeAnsiChar(const uint8_t* begin, const uint8_t* end, int32_t& consumed,
                    uint32_t& codePoint) {
    if (RoomOf(begin, end) < 1) return Fail(consumed, 0, codePoint);
    codePoint = begin[0];
    consumed = 1;
    return true;
}

bool DecodeUtf8Char(const uint8_t* begin, const uint8_t* end, int32_t& consumed,
                    uint32_t& codePoint) {
    const int64_t n = RoomOf(begin, end);
    if (n < 1) return Fail(consumed, 0, codePoint);
    const uint32_t lead = begin[0];
    if (lead < 0x80) {
        codePoint = lead;
        consumed = 1;
        return true;
    }
    int32_t length = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
    } else {
        return Fail(consumed, 1, codePoint);  // a continuation byte, or a lead of 5 or more
    }
    if (n < length) return Fail(consumed, 1, codePoint);
    uint32_t value = lead & (0x7Fu >> length);
    for (int32_t i = 1; i < length; ++i) value = (value << 6) | (begin[i] & 0x3Fu);
    // Leads F4 to F7 can reach past the last code point; such a lead is refused like any
    // other unusable lead, so decoding resumes at the next byte.
    if (value > kMaxCodePoint) return Fail(consumed, 1, codePoint);
    codePoint = value;
    consumed = length;
    return true;
}

bool DecodeUtf16Char(const uint8_t* begin, const uint8_t* end, int32_t& consumed,
                     uint32_t& codePoint, bool bigEndian) {
    const int64_t n = RoomOf(begin, end);
    if (n < 2) return Fail(consumed, 0, codePoint);
    const uint32_t first = ReadUnit16(begin, bigEndian);
    if (first < 0xD800 || first > 0xDBFF) {
        codePoint = first;
        consumed = 2;
        return true;
    }
    if (n < 4) return Fail(consumed, 2, codePoint);
    const uint32_t second = ReadUnit16(begin + 2, bigEndian);
    // (first - D800) * 1024 + (second - DC00) + 10000, kept non-negative: 10000 - DC00 = 2400.
    const uint32_t value = (first - 0xD800) * 1024 + second + 0x2400;
    if (value > kMaxCodePoint) return Fail(consumed, 2, codePoint);
    codePoint = value;
    consumed = 4;
    return true;
}

bool DecodeUtf32Char(const uint8_t* begin, const uint8_t* end, int32_t& consumed,
                     uint32_t& codePoint, bool bigEndian) {
    if (RoomOf(begin, end) < 4) return Fail(consumed, 0, codePoint);
    const uint32_t value =
        bigEndian ? (uint32_t{begin[0]} << 24) | (uint32_t{begin[1]} << 16) |
                        (uint32_t{begin[2]} << 8) | begin[3]
                  : (uint32_t{begin[3]} << 24) | (uint32_t{begin[2]} << 16) |
                        (uint32_t{begin[1]} << 8) | begin[0];
    if (value > kMaxCodePoint) return Fail(consumed, 4, codePoint);
    codePoint = value;
    consumed = 4;
    return true;
}

bool DecodeChar(const uint8_t* begin, const uint8_t* end, int32_t& consumed, uint32_t& codePoint,
                int encoding) {
    switch (encoding) {
        case kEncodingCodePage: return DecodeAnsiChar(begin, end, consumed, codePoint);
        case kEncodingUtf8: return DecodeUtf8Char(begin, end, consumed, codePoint);
        case kEncodingUtf16LittleEndian:
            return DecodeUtf16Char(begin, end, consumed, codePoint, false);
        case kEncodingUtf16BigEndian: return DecodeUtf16Char(begin, end, consumed, codePoint, true);
        case kEncodingUtf32LittleEndian:
            return DecodeUtf32Char(begin, end, consumed, codePoint, false);
        case kEncodingUtf32BigEndian: return DecodeUtf32Char(begin, end, consumed, codePoint, true);
        default: return false;
    }
}

// ---------------------------------------------------------------------------------------------
// Encoders

bool EncodeAnsiChar(uint8_t* begin, uint8_t* end, int32_t& written, uint32_t codePoint) {
    // The code page shows exactly the code points 0-255; anything else has no byte.
    if (RoomOf(begin, end) < 1 || codePoint > 0xFF) return FailWrite(written);
    begin[0] = static_cast<uint8_t>(codePoint);
    written = 1;
    return true;
}

bool EncodeUtf8Char(uint8_t* begin, uint8_t* end, int32_t& written, uint32_t codePoint) {
    const int64_t n = RoomOf(begin, end);
    int32_t length = 0;
    if (codePoint < 0x80) {
        length = 1;
    } else if (codePoint < 0x800) {
        length = 2;
    } else if (codePoint <= 0xFFFF) {
        length = 3;
    } else if (codePoint <= kMaxCodePoint) {
        length = 4;
    } else {
        return FailWrite(written);
    }
    if (n < length) return FailWrite(written);
    if (length == 1) {
        begin[0] = static_cast<uint8_t>(codePoint);
    } else {
        static constexpr uint8_t kLeadMarks[5] = {0, 0, 0xC0, 0xE0, 0xF0};
        begin[0] = static_cast<uint8_t>(kLeadMarks[length] | (codePoint >> (6 * (length - 1))));
        for (int32_t i = 1; i < length; ++i) {
            begin[i] = static_cast<uint8_t>(0x80 | ((codePoint >> (6 * (length - 1 - i))) & 0x3F));
        }
    }
    written = length;
    return true;
}

bool EncodeUtf16Char(uint8_t* begin, uint8_t* end, int32_t& written, uint32_t codePoint,
                     bool bigEndian) {
    const int64_t n = RoomOf(begin, end);
    if (codePoint < 0x10000) {
        if (n < 2) return FailWrite(written);
        WriteUnit16(begin, codePoint, bigEndian);
        written = 2;
        return true;
    }
    if (codePoint > kMaxCodePoint || n < 4) return FailWrite(written);
    const uint32_t offset = codePoint - 0x10000;
    WriteUnit16(begin, 0xD800 + (offset >> 10), bigEndian);
    WriteUnit16(begin + 2, 0xDC00 + (offset & 0x3FF), bigEndian);
    written = 4;
    return true;
}

bool EncodeUtf32Char(uint8_t* begin, uint8_t* end, int32_t& written, uint32_t codePoint,
                     bool bigEndian) {
    if (RoomOf(begin, end) < 4 || codePoint > kMaxCodePoint) return FailWrite(written);
    for (int32_t i = 0; i < 4; ++i) {
        const int32_t shift = 8 * (bigEndian ? 3 - i : i);
        begin[i] = static_cast<uint8_t>(codePoint >> shift);
    }
    written = 4;
    return true;
}

bool EncodeChar(uint8_t* begin, uint8_t* end, int32_t& written, uint32_t codePoint, int encoding) {
    switch (encoding) {
        case kEncodingCodePage: return EncodeAnsiChar(begin, end, written, codePoint);
        case kEncodingUtf8: return EncodeUtf8Char(begin, end, written, codePoint);
        case kEncodingUtf16LittleEndian:
            return EncodeUtf16Char(begin, end, written, codePoint, false);
        case kEncodingUtf16BigEndian: return EncodeUtf16Char(begin, end, written, codePoint, true);
        case kEncodingUtf32LittleEndian:
            return EncodeUtf32Char(begin, end, written, codePoint, false);
        case kEncodingUtf32BigEndian: return EncodeUtf32Char(begin, end, written, codePoint, true);
        default: return false;
    }
}
