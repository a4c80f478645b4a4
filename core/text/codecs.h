// Text codecs: one character at a time between bytes and a code point, for six encodings
// chosen by a small integer. Every conversion between narrow and wide text uses encoding 1.
//
// No decoder reads outside [begin, end) and none produces a code point above U+10FFFF; no
// encoder writes outside [begin, end) or accepts a code point above U+10FFFF. An end before
// begin counts as no bytes.
#pragma once

#include <cstdint>

// Encoding ids. Any other value is refused by DecodeChar and EncodeChar.
// 1: the C runtime's code page, one byte per character: bytes 0-255 are code points 0-255,
//    whatever the process locale says.
constexpr int kEncodingCodePage = 1;
constexpr int kEncodingUtf8 = 2;
constexpr int kEncodingUtf16LittleEndian = 3;
constexpr int kEncodingUtf16BigEndian = 4;
constexpr int kEncodingUtf32LittleEndian = 5;
constexpr int kEncodingUtf32BigEndian = 6;

// Decodes one character from [begin, end) in the given encoding: true when one was decoded.
// `consumed` is the number of bytes to step over, also on failure (0 only when too few bytes
// are left to start a character); on failure codePoint is 0. An unknown encoding answers false
// and writes neither output.
bool DecodeChar(const uint8_t* begin, const uint8_t* end, int32_t& consumed, uint32_t& codePoint,
                int encoding);
// Encodes one code point into [begin, end): true when it was written, with `written` bytes;
// on failure nothing is written and written is 0. An unknown encoding answers false and writes
// neither output.
bool EncodeChar(uint8_t* begin, uint8_t* end, int32_t& written, uint32_t codePoint, int encoding);

// The decoders behind DecodeChar (same outputs).
// Encoding 1: fails (0 consumed) without a byte; else the byte is the code point, 1 consumed.
bool DecodeAnsiChar(const uint8_t* begin, const uint8_t* end, int32_t& consumed,
                    uint32_t& codePoint);
// UTF-8. No byte: fails, 0 consumed. A byte below 0x80: itself, 1 consumed. A lone continuation
// byte (10xxxxxx), a lead of more than four bytes, a sequence cut short by the end, or one
// whose value passes U+10FFFF: fails, 1 consumed. Else the lead's payload and the low six bits
// of each following byte, whole sequence consumed. Lenient on purpose: the following bytes are
// not checked for the 10xxxxxx form, and overlong forms and surrogate values are accepted
// (C0 80 decodes to 0).
bool DecodeUtf8Char(const uint8_t* begin, const uint8_t* end, int32_t& consumed,
                    uint32_t& codePoint);
// UTF-16 in the given byte order. Fewer than 2 bytes: fails, 0 consumed. A unit outside the
// high surrogates D800-DBFF: itself, 2 consumed (a lone low surrogate passes). A high surrogate
// with fewer than 4 bytes left: fails, 2 consumed. Else the pair combined by the UTF-16 rule
// (the second unit is not checked), 4 consumed; a combination above U+10FFFF (possible only
// when the second unit is no low surrogate) fails with 2 consumed.
bool DecodeUtf16Char(const uint8_t* begin, const uint8_t* end, int32_t& consumed,
                     uint32_t& codePoint, bool bigEndian);
// UTF-32 in the given byte order. Fewer than 4 bytes: fails, 0 consumed. A value above
// U+10FFFF fails, 4 consumed. Else the value, 4 consumed (surrogate values pass).
bool DecodeUtf32Char(const uint8_t* begin, const uint8_t* end, int32_t& consumed,
                     uint32_t& codePoint, bool bigEndian);

// The encoders behind EncodeChar (same outputs).
// Encoding 1: one byte for a code point up to 255; a larger one, or no room, fails.
bool EncodeAnsiChar(uint8_t* begin, uint8_t* end, int32_t& written, uint32_t codePoint);
// UTF-8: 1 to 4 bytes (surrogate values as 3 bytes); fails without room for all of them.
bool EncodeUtf8Char(uint8_t* begin, uint8_t* end, int32_t& written, uint32_t codePoint);
// UTF-16: one unit below U+10000 (surrogate values too), else a surrogate pair; each unit in
// the given byte order. Fails without room for all of them.
bool EncodeUtf16Char(uint8_t* begin, uint8_t* end, int32_t& written, uint32_t codePoint,
                     bool bigEndian);
// UTF-32: four bytes in the given byte order; fails with fewer than 4 bytes of room.
bool EncodeUtf32Char(uint8_t* begin, uint8_t* end, int32_t& written, uint32_t codePoint,
                     bool bigEndian);
