#include "core/text/codecs.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct Decoded {
    bool ok;
    int32_t consumed;
    uint32_t codePoint;
};

// Decodes from a heap block of exactly the input's size, so ASan reports any read past it.
Decoded Decode(const Bytes& input, int encoding) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[input.size() + (input.empty() ? 1 : 0)]);
    if (!input.empty()) std::memcpy(block.get(), input.data(), input.size());
    Decoded d{false, -7, 0xDEAD};
    d.ok = DecodeChar(block.get(), block.get() + input.size(), d.consumed, d.codePoint, encoding);
    return d;
}

std::string Hex(const Bytes& bytes) {
    std::string s;
    char b[4];
    for (uint8_t x : bytes) {
        std::snprintf(b, sizeof b, "%02X ", x);
        s += b;
    }
    return s;
}

// glibc's converter, the reference for well-formed text.
Bytes Iconv(const char* to, const char* from, const Bytes& input) {
    iconv_t cd = iconv_open(to, from);
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << from << " -> " << to;
    Bytes out(input.size() * 4 + 16);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(input.data()));
    size_t inLeft = input.size();
    char* o = reinterpret_cast<char*>(out.data());
    size_t outLeft = out.size();
    const size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    EXPECT_NE(r, static_cast<size_t>(-1)) << "iconv " << from << " -> " << to;
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

const char* const kIconvNames[7] = {nullptr,    nullptr,    "UTF-8",   "UTF-16LE",
                                    "UTF-16BE", "UTF-32LE", "UTF-32BE"};

TEST(CodecTest, DecodingTable) {
    struct Case {
        int encoding;
        Bytes input;
        bool ok;
        int32_t consumed;
        uint32_t codePoint;  // 0 on failure
    };
    const Case cases[] = {
        {1, {}, false, 0, 0},
        {1, {0x41}, true, 1, 0x41},
        {1, {0xE9, 0x41}, true, 1, 0xE9},  // every byte is its own code point
        {1, {0x00}, true, 1, 0},
        {2, {}, false, 0, 0},
        {2, {0x41}, true, 1, 0x41},
        {2, {0xC3, 0xA9}, true, 2, 0xE9},
        {2, {0x80}, false, 1, 0},              // lone continuation byte
        {2, {0xE2, 0x82}, false, 1, 0},        // cut short by the end
        {2, {0xF8, 0x88, 0x80, 0x80, 0x80}, false, 1, 0},  // five-byte lead
        {2, {0xFF}, false, 1, 0},
        {2, {0xC0, 0x80}, true, 2, 0},         // overlong forms are accepted
        {2, {0xE0, 0x41, 0x41}, true, 3, 0x41},  // following bytes are not checked
        {2, {0xED, 0xA0, 0x80}, true, 3, 0xD800},  // surrogate values are accepted
        {2, {0xF4, 0x8F, 0xBF, 0xBF}, true, 4, 0x10FFFF},
        {2, {0xF4, 0x90, 0x80, 0x80}, false, 1, 0},  // beyond U+10FFFF
        {2, {0xF7, 0xBF, 0xBF, 0xBF}, false, 1, 0},
        {3, {}, false, 0, 0},
        {3, {0x41}, false, 0, 0},
        {3, {0x41, 0x00}, true, 2, 0x41},
        {3, {0x3D, 0xD8, 0x00, 0xDE}, true, 4, 0x1F600},
        {3, {0x3D, 0xD8}, false, 2, 0},
        {3, {0x3D, 0xD8, 0x00}, false, 2, 0},
        {3, {0x00, 0xDC}, true, 2, 0xDC00},    // a lone low surrogate passes
        {3, {0x00, 0xD8, 0x41, 0x00}, true, 4, 0x2441},  // the second unit is not checked
        {3, {0xFF, 0xDB, 0xFF, 0xFF}, false, 2, 0},      // ... unless that passes U+10FFFF
        {4, {0xD8, 0x3D, 0xDE, 0x00}, true, 4, 0x1F600},
        {4, {0x00, 0x41}, true, 2, 0x41},
        {5, {0x00, 0xF6, 0x01}, false, 0, 0},
        {5, {0x00, 0xF6, 0x01, 0x00}, true, 4, 0x1F600},
        {5, {0x00, 0xD8, 0x00, 0x00}, true, 4, 0xD800},
        {5, {0x00, 0x00, 0x11, 0x00}, false, 4, 0},
        {6, {0x00, 0x01, 0xF6, 0x00}, true, 4, 0x1F600},
        {6, {0xFF, 0xFF, 0xFF, 0xFF}, false, 4, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "encoding " << c.encoding << ": " << Hex(c.input));
        const Decoded d = Decode(c.input, c.encoding);
        EXPECT_EQ(d.ok, c.ok);
        EXPECT_EQ(d.consumed, c.consumed);
        EXPECT_EQ(d.codePoint, c.codePoint);
    }
}

TEST(CodecTest, UnknownEncodingsWriteNothing) {
    for (int encoding : {0, 7, -1}) {
        SCOPED_TRACE(encoding);
        const Decoded d = Decode({0x41, 0x41, 0x41, 0x41}, encoding);
        EXPECT_FALSE(d.ok);
        EXPECT_EQ(d.consumed, -7);
        EXPECT_EQ(d.codePoint, 0xDEADu);
        uint8_t out[8] = {0x55};
        int32_t written = -7;
        EXPECT_FALSE(EncodeChar(out, out + 8, written, 0x41, encoding));
        EXPECT_EQ(written, -7);
        EXPECT_EQ(out[0], 0x55);
    }
}

TEST(CodecTest, EncodingTable) {
    struct Case {
        int encoding;
        uint32_t codePoint;
        int room;
        bool ok;
        Bytes output;
    };
    const Case cases[] = {
        {1, 0x41, 1, true, {0x41}},
        {1, 0xFF, 1, true, {0xFF}},
        {1, 0x100, 4, false, {}},  // the code page has no byte for it
        {1, 0x10000, 4, false, {}},
        {1, 0x41, 0, false, {}},
        {2, 0x7F, 1, true, {0x7F}},
        {2, 0x80, 2, true, {0xC2, 0x80}},
        {2, 0x7FF, 2, true, {0xDF, 0xBF}},
        {2, 0x800, 3, true, {0xE0, 0xA0, 0x80}},
        {2, 0xD800, 3, true, {0xED, 0xA0, 0x80}},
        {2, 0xFFFF, 3, true, {0xEF, 0xBF, 0xBF}},
        {2, 0x1F600, 4, true, {0xF0, 0x9F, 0x98, 0x80}},
        {2, 0x1F600, 3, false, {}},
        {2, 0x80, 1, false, {}},
        {2, 0x10FFFF, 4, true, {0xF4, 0x8F, 0xBF, 0xBF}},
        {2, 0x110000, 8, false, {}},
        {3, 0x41, 2, true, {0x41, 0x00}},
        {3, 0xD800, 2, true, {0x00, 0xD8}},  // a surrogate value is one unit
        {3, 0x1F600, 4, true, {0x3D, 0xD8, 0x00, 0xDE}},
        {3, 0x1F600, 3, false, {}},
        {3, 0x41, 1, false, {}},
        {4, 0x1F600, 4, true, {0xD8, 0x3D, 0xDE, 0x00}},
        {4, 0x10FFFF, 4, true, {0xDB, 0xFF, 0xDF, 0xFF}},
        {4, 0x110000, 8, false, {}},
        {5, 0x1F600, 4, true, {0x00, 0xF6, 0x01, 0x00}},
        {5, 0x41, 3, false, {}},
        {6, 0x1F600, 4, true, {0x00, 0x01, 0xF6, 0x00}},
        {6, 0x110000, 4, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "encoding " << c.encoding << ": U+" << std::hex
                                        << c.codePoint << " in " << std::dec << c.room);
        // Exactly `room` heap bytes (ASan sees any write past them).
        std::unique_ptr<uint8_t[]> block(new uint8_t[static_cast<size_t>(c.room) + 1]);
        std::memset(block.get(), 0x55, static_cast<size_t>(c.room) + 1);
        int32_t written = -7;
        EXPECT_EQ(EncodeChar(block.get(), block.get() + c.room, written, c.codePoint, c.encoding),
                  c.ok);
        EXPECT_EQ(written, static_cast<int32_t>(c.output.size()));
        EXPECT_EQ(Bytes(block.get(), block.get() + written), c.output);
        for (int i = written; i <= c.room; ++i) EXPECT_EQ(block[i], 0x55) << "byte " << i;
    }
}

// The examples of RFC 3629 (UTF-8) and the surrogate rule of RFC 2781 (UTF-16), decoded
// character by character and encoded back.
TEST(CodecTest, RfcExamples) {
    struct Case {
        int encoding;
        Bytes bytes;
        std::vector<uint32_t> codePoints;
    };
    const Case cases[] = {
        {2, {0x41, 0xE2, 0x89, 0xA2, 0xCE, 0x91, 0x2E}, {0x41, 0x2262, 0x391, 0x2E}},
        {2, {0xED, 0x95, 0x9C, 0xEA, 0xB5, 0xAD, 0xEC, 0x96, 0xB4}, {0xD55C, 0xAD6D, 0xC5B4}},
        {2, {0xE6, 0x97, 0xA5, 0xE6, 0x9C, 0xAC, 0xE8, 0xAA, 0x9E}, {0x65E5, 0x672C, 0x8A9E}},
        {2, {0xEF, 0xBB, 0xBF, 0xF0, 0xA3, 0x8E, 0xB4}, {0xFEFF, 0x233B4}},
        {4, {0xD8, 0x00, 0xDC, 0x00}, {0x10000}},
        {4, {0xD8, 0x08, 0xDF, 0x45}, {0x12345}},
        {4, {0xDB, 0xFF, 0xDF, 0xFF}, {0x10FFFF}},
        {3, {0x08, 0xD8, 0x45, 0xDF, 0x3D, 0x00}, {0x12345, 0x3D}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Hex(c.bytes));
        std::vector<uint32_t> decoded;
        Bytes encoded;
        for (size_t at = 0; at < c.bytes.size();) {
            const Decoded d = Decode(Bytes(c.bytes.begin() + static_cast<long>(at), c.bytes.end()),
                                     c.encoding);
            ASSERT_TRUE(d.ok);
            decoded.push_back(d.codePoint);
            at += static_cast<size_t>(d.consumed);
            uint8_t out[4];
            int32_t written = 0;
            ASSERT_TRUE(EncodeChar(out, out + 4, written, d.codePoint, c.encoding));
            encoded.insert(encoded.end(), out, out + written);
        }
        EXPECT_EQ(decoded, c.codePoints);
        EXPECT_EQ(encoded, c.bytes);
    }
}

// Random valid text, encoded character by character, matches glibc's conversion of the whole
// text, and decodes back to the same code points.
TEST(CodecTest, RandomTextMatchesIconv) {
    std::mt19937 random(20240611);
    // Weighted towards each encoded length; no surrogate values (iconv refuses them).
    auto drawCodePoint = [&random]() -> uint32_t {
        static const uint32_t ranges[][2] = {
            {1, 0x7F}, {0x80, 0x7FF}, {0x800, 0xD7FF}, {0xE000, 0xFFFF}, {0x10000, 0x10FFFF}};
        const auto& r = ranges[random() % 5];
        return r[0] + static_cast<uint32_t>(random() % (r[1] - r[0] + 1));
    };
    for (int round = 0; round < 200; ++round) {
        std::vector<uint32_t> text(1 + random() % 40);
        for (uint32_t& c : text) c = drawCodePoint();
        Bytes utf32(text.size() * 4);
        std::memcpy(utf32.data(), text.data(), utf32.size());  // little-endian host

        for (int encoding = 2; encoding <= 6; ++encoding) {
            SCOPED_TRACE(testing::Message() << "round " << round << ", encoding " << encoding);
            const Bytes expected = Iconv(kIconvNames[encoding], "UTF-32LE", utf32);
            Bytes encoded;
            for (uint32_t c : text) {
                uint8_t out[4];
                int32_t written = 0;
                ASSERT_TRUE(EncodeChar(out, out + 4, written, c, encoding));
                encoded.insert(encoded.end(), out, out + written);
            }
            ASSERT_EQ(encoded, expected);

            std::vector<uint32_t> decoded;
            for (size_t at = 0; at < expected.size();) {
                const Decoded d = Decode(
                    Bytes(expected.begin() + static_cast<long>(at), expected.end()), encoding);
                ASSERT_TRUE(d.ok) << "at " << at;
                decoded.push_back(d.codePoint);
                at += static_cast<size_t>(d.consumed);
            }
            ASSERT_EQ(decoded, text);
        }
    }
}

// Every UTF-8 input of one to four bytes whose first byte is a given lead: the consumed count
// depends only on the lead's class and the bytes left, decoding never reads past the input and
// never produces a code point above U+10FFFF, and whatever decodes also re-encodes.
TEST(CodecTest, Utf8ConsumedCountsForEveryLeadAndLength) {
    std::mt19937 random(7);
    for (uint32_t lead = 0; lead < 256; ++lead) {
        const int32_t sequence = lead < 0x80   ? 1
                                 : lead < 0xC0 ? 0  // continuation byte
                                 : lead < 0xE0 ? 2
                                 : lead < 0xF0 ? 3
                                 : lead < 0xF8 ? 4
                                               : 0;  // five bytes or more
        for (size_t n = 1; n <= 5; ++n) {
            for (int trial = 0; trial < 64; ++trial) {
                Bytes input(n);
                input[0] = static_cast<uint8_t>(lead);
                for (size_t i = 1; i < n; ++i) input[i] = static_cast<uint8_t>(random());
                SCOPED_TRACE(Hex(input));
                const Decoded d = Decode(input, kEncodingUtf8);
                if (sequence == 0 || static_cast<size_t>(sequence) > n) {
                    ASSERT_FALSE(d.ok);
                    ASSERT_EQ(d.consumed, 1);
                    continue;
                }
                if (!d.ok) {  // only a value past U+10FFFF is refused
                    ASSERT_GE(lead, 0xF4u);
                    ASSERT_EQ(d.consumed, 1);
                    continue;
                }
                ASSERT_EQ(d.consumed, sequence);
                ASSERT_LE(d.codePoint, 0x10FFFFu);
            }
        }
    }
    // Exhaustively: every two-byte input decodes within its bounds and the strict ones match
    // glibc.
    for (uint32_t v = 0; v < 0x10000; ++v) {
        const Bytes input = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
        const Decoded d = Decode(input, kEncodingUtf8);
        ASSERT_GE(d.consumed, 1);
        ASSERT_LE(d.consumed, 2);
        const bool strict = input[0] >= 0xC2 && input[0] < 0xE0 && (input[1] & 0xC0) == 0x80;
        if (strict) {
            ASSERT_TRUE(d.ok);
            const Bytes utf32 = Iconv("UTF-32LE", "UTF-8", input);
            ASSERT_EQ(utf32.size(), 4u);
            ASSERT_EQ(d.codePoint, uint32_t{utf32[0]} | uint32_t{utf32[1]} << 8);
        }
    }
}

// UTF-16 and UTF-32 inputs of every length up to five bytes, in both byte orders.
TEST(CodecTest, WideConsumedCountsForEveryLength) {
    const uint32_t firstUnits[] = {0x0041, 0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xFFFF};
    const uint32_t secondUnits[] = {0x0000, 0xDC00, 0xDFFF, 0xFFFF};
    for (bool bigEndian : {false, true}) {
        const int utf16 = bigEndian ? kEncodingUtf16BigEndian : kEncodingUtf16LittleEndian;
        for (uint32_t first : firstUnits) {
            for (uint32_t second : secondUnits) {
                Bytes full(4);
                for (int i = 0; i < 2; ++i) {
                    const uint32_t unit = i == 0 ? first : second;
                    full[2 * i + (bigEndian ? 0 : 1)] = static_cast<uint8_t>(unit >> 8);
                    full[2 * i + (bigEndian ? 1 : 0)] = static_cast<uint8_t>(unit);
                }
                full.push_back(0x41);
                const bool high = first >= 0xD800 && first <= 0xDBFF;
                for (size_t n = 0; n <= 5; ++n) {
                    const Bytes input(full.begin(), full.begin() + static_cast<long>(n));
                    SCOPED_TRACE(testing::Message() << utf16 << ": " << Hex(input));
                    const Decoded d = Decode(input, utf16);
                    if (n < 2) {
                        EXPECT_FALSE(d.ok);
                        EXPECT_EQ(d.consumed, 0);
                    } else if (!high) {
                        EXPECT_TRUE(d.ok);
                        EXPECT_EQ(d.consumed, 2);
                        EXPECT_EQ(d.codePoint, first);
                    } else if (n < 4) {
                        EXPECT_FALSE(d.ok);
                        EXPECT_EQ(d.consumed, 2);
                    } else {
                        EXPECT_EQ(d.consumed, d.ok ? 4 : 2);
                        EXPECT_LE(d.codePoint, 0x10FFFFu);
                        if (second >= 0xDC00 && second <= 0xDFFF) {
                            EXPECT_TRUE(d.ok);
                            EXPECT_EQ(d.codePoint,
                                      0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00));
                        }
                    }
                }
            }
        }
        const int utf32 = bigEndian ? kEncodingUtf32BigEndian : kEncodingUtf32LittleEndian;
        for (size_t n = 0; n <= 5; ++n) {
            const Decoded d = Decode(Bytes(n, 0x00), utf32);
            EXPECT_EQ(d.ok, n >= 4);
            EXPECT_EQ(d.consumed, n >= 4 ? 4 : 0);
        }
    }
}

}  // namespace
