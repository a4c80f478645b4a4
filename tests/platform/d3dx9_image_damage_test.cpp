// Damaged pictures: every decoder refuses truncated files at every length and headers that
// lie (sizes of zero or past the limits, counts and offsets outside the file, indices past the
// palette, runs past the picture) with D3DXERR_INVALIDDATA, and never reads outside the bytes
// it is given (each input sits in a heap block of exactly its size for the sanitizers).

#include "platform/d3dx9/image_decode.h"
#include "tests/platform/image_test_support.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using rh::d3dx9::DecodedImage;
using rh::d3dx9::DecodeImage;
using rh::d3dx9::DecodeLimits;
using rh::d3dx9::ReadImageInfo;
using Bytes = std::vector<uint8_t>;

void Le16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Le32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// The bytes in a heap block of exactly their size (never a null pointer, even when empty).
std::unique_ptr<uint8_t[]> Exact(const Bytes& bytes) {
    std::unique_ptr<uint8_t[]> block(new uint8_t[bytes.empty() ? 1 : bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), block.get());
    return block;
}

HRESULT Decode(const Bytes& bytes, const DecodeLimits& limits = DecodeLimits{}) {
    const auto exact = Exact(bytes);
    DecodedImage image;
    return DecodeImage(exact.get(), bytes.size(), limits, &image);
}

// ---------------------------------------------------------------------------------------------
// Files written here, small enough to show one fault each.

struct TgaSpec {
    uint8_t idLength = 0, mapType = 0, type = 2;
    uint16_t mapFirst = 0, mapLength = 0;
    uint8_t mapBits = 0;
    uint16_t width = 2, height = 2;
    uint8_t bits = 24, descriptor = 0;
};

Bytes Tga(const TgaSpec& s, const Bytes& rest) {
    Bytes b = {s.idLength, s.mapType, s.type};
    Le16(b, s.mapFirst);
    Le16(b, s.mapLength);
    b.push_back(s.mapBits);
    Le32(b, 0);  // origin
    Le16(b, s.width);
    Le16(b, s.height);
    b.push_back(s.bits);
    b.push_back(s.descriptor);
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

const Bytes kFourBgrPixels(12, 0x40);

struct BmpSpec {
    uint32_t headerSize = 40;
    int32_t width = 2, height = 2;
    uint16_t bits = 24;
    uint32_t compression = 0, colorsUsed = 0;
    std::vector<uint32_t> masks = {};  // after the header
    std::vector<uint32_t> palette = {};
    std::optional<uint32_t> offset = {};  // of the pixels; after the palette when unset
};

Bytes Bmp(const BmpSpec& s, const Bytes& pixels) {
    const uint32_t offset = s.offset.value_or(
        14 + s.headerSize + 4 * uint32_t(s.masks.size() + s.palette.size()));
    Bytes b = {'B', 'M'};
    Le32(b, offset + uint32_t(pixels.size()));
    Le32(b, 0);
    Le32(b, offset);
    Le32(b, s.headerSize);
    Le32(b, uint32_t(s.width));
    Le32(b, uint32_t(s.height));
    Le16(b, 1);
    Le16(b, s.bits);
    Le32(b, s.compression);
    Le32(b, uint32_t(pixels.size()));
    Le32(b, 0);
    Le32(b, 0);
    Le32(b, s.colorsUsed);
    Le32(b, 0);
    b.resize(14 + s.headerSize, 0);
    for (uint32_t m : s.masks) Le32(b, m);
    for (uint32_t p : s.palette) Le32(b, p);
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

// 2x2 24-bit rows, each padded to 8 bytes.
const Bytes kBmp24Pixels(16, 0x55);
const std::vector<uint32_t> kTwoColours = {0x000000, 0xFFFFFF};

struct DdsSpec {
    uint32_t size = 124, flags = 0x1007, height = 8, width = 8, pitch = 0, depth = 0, mips = 0;
    uint32_t pfSize = 32, pfFlags = 0x4, fourCC = 0x31545844, bits = 0;  // "DXT1"
    uint32_t masks[4] = {0, 0, 0, 0};
    uint32_t caps = 0x1000, caps2 = 0;
};

Bytes Dds(const DdsSpec& s, size_t dataBytes) {
    Bytes b = {'D', 'D', 'S', ' '};
    for (uint32_t v : {s.size, s.flags, s.height, s.width, s.pitch, s.depth, s.mips}) Le32(b, v);
    b.resize(b.size() + 44, 0);
    for (uint32_t v : {s.pfSize, s.pfFlags, s.fourCC, s.bits}) Le32(b, v);
    for (uint32_t m : s.masks) Le32(b, m);
    Le32(b, s.caps);
    Le32(b, s.caps2);
    b.resize(128, 0);
    b.resize(128 + dataBytes, 0x5A);
    return b;
}

// Bytes of a DXT1 chain from `side` square down to 1x1.
size_t Dxt1ChainBytes(uint32_t side) {
    size_t total = 0;
    for (;; side /= 2) {
        total += size_t((side + 3) / 4) * ((side + 3) / 4) * 8;
        if (side == 1) return total;
    }
}

Bytes PngChunk(const char* type, const Bytes& data) {
    Bytes b;
    for (int i = 3; i >= 0; --i) b.push_back(uint8_t(data.size() >> (8 * i)));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    b.insert(b.end(), body.begin(), body.end());
    const uint32_t crc = uint32_t(crc32(0, body.data(), uInt(body.size())));
    for (int i = 3; i >= 0; --i) b.push_back(uint8_t(crc >> (8 * i)));
    return b;
}

// A PNG of one IHDR (with the given fields), one IDAT of `raw` deflated, and IEND.
Bytes Png(uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType, const Bytes& raw,
          bool deflate = true) {
    Bytes b = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    for (uint32_t v : {width, height}) {
        for (int i = 3; i >= 0; --i) ihdr.push_back(uint8_t(v >> (8 * i)));
    }
    ihdr.insert(ihdr.end(), {depth, colorType, 0, 0, 0});
    Bytes idat = raw;
    if (deflate) {
        uLongf size = compressBound(uLong(raw.size()));
        idat.resize(size);
        compress(idat.data(), &size, raw.data(), uLong(raw.size()));
        idat.resize(size);
    }
    for (const Bytes& chunk : {PngChunk("IHDR", ihdr), PngChunk("IDAT", idat), PngChunk("IEND", {})}) {
        b.insert(b.end(), chunk.begin(), chunk.end());
    }
    return b;
}

// Two rows of a 2x2 RGB picture, filter byte 0.
const Bytes kPngRows = {0, 1, 2, 3, 4, 5, 6, 0, 7, 8, 9, 10, 11, 12};

struct DamageCase {
    const char* name;
    Bytes bytes;
    DecodeLimits limits = DecodeLimits{};
};

std::vector<DamageCase> LyingHeaders() {
    std::vector<DamageCase> cases;
    const auto add = [&cases](const char* name, Bytes bytes, uint32_t maxSide = 8192) {
        cases.push_back(DamageCase{name, std::move(bytes), DecodeLimits{maxSide}});
    };

    // TGA
    add("TGA width 0", Tga({.width = 0}, kFourBgrPixels));
    add("TGA height 0", Tga({.height = 0}, kFourBgrPixels));
    add("TGA without a picture (type 0)", Tga({.type = 0}, kFourBgrPixels));
    add("TGA type 4", Tga({.type = 4}, kFourBgrPixels));
    add("TGA colour-map type 2", Tga({.mapType = 2}, kFourBgrPixels));
    add("TGA 20-bit colour", Tga({.bits = 20}, kFourBgrPixels));
    add("TGA 24-bit grey", Tga({.type = 3, .bits = 24}, kFourBgrPixels));
    add("TGA colour-mapped without a map", Tga({.type = 1, .bits = 8}, {0, 0, 0, 0}));
    add("TGA colour map of 12-bit entries",
        Tga({.mapType = 1, .type = 1, .mapLength = 2, .mapBits = 12, .bits = 8}, Bytes(8, 0)));
    add("TGA colour-map index past the map",
        Tga({.mapType = 1, .type = 1, .mapLength = 2, .mapBits = 24, .bits = 8},
            {1, 2, 3, 4, 5, 6, /* pixels */ 0, 1, 2, 0}));
    add("TGA colour-map index below the first entry",
        Tga({.mapType = 1, .type = 1, .mapFirst = 5, .mapLength = 2, .mapBits = 24, .bits = 8},
            {1, 2, 3, 4, 5, 6, /* pixels */ 5, 6, 4, 5}));
    add("TGA RLE colour-map index past the map",
        Tga({.mapType = 1, .type = 9, .mapLength = 2, .mapBits = 24, .bits = 8},
            {1, 2, 3, 4, 5, 6, /* a run of 4 */ 0x83, 7}));
    add("TGA interleaved rows", Tga({.descriptor = 0x40}, kFourBgrPixels));
    add("TGA ID field past the end", Tga({.idLength = 200}, kFourBgrPixels));
    add("TGA colour map past the end",
        Tga({.mapType = 1, .type = 1, .mapLength = 1000, .mapBits = 24, .bits = 8}, Bytes(16, 0)));
    add("TGA RLE run past the last pixel", Tga({.type = 10}, {0x84, 1, 2, 3}));
    add("TGA RLE literal past the last pixel", Tga({.type = 10}, {0x04, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3}));
    add("TGA RLE literal past the data", Tga({.type = 10}, {0x03, 1, 2, 3, 4, 5, 6}));
    add("TGA RLE of 65535x65535 from a few bytes",
        Tga({.type = 10, .width = 65535, .height = 65535}, {0xFF, 1, 2, 3}), 65536);
    add("TGA raw 65535x65535 from a few bytes",
        Tga({.width = 65535, .height = 65535}, kFourBgrPixels), 65536);

    // BMP
    add("BMP offset past the end", Bmp({.offset = 1000}, kBmp24Pixels));
    add("BMP offset inside the header", Bmp({.offset = 30}, kBmp24Pixels));
    add("BMP width 0", Bmp({.width = 0}, kBmp24Pixels));
    add("BMP negative width", Bmp({.width = -2}, kBmp24Pixels));
    add("BMP height 0", Bmp({.height = 0}, kBmp24Pixels));
    add("BMP height INT_MIN", Bmp({.height = INT_MIN}, kBmp24Pixels));
    add("BMP header of 20 bytes", Bmp({.headerSize = 20}, kBmp24Pixels));
    add("BMP 7 bits per pixel", Bmp({.bits = 7}, kBmp24Pixels));
    add("BMP JPEG compression", Bmp({.compression = 4}, kBmp24Pixels));
    add("BMP RLE8 on 24-bit pixels", Bmp({.compression = 1}, {0, 1}));
    add("BMP RLE4 on 8-bit pixels", Bmp({.bits = 8, .compression = 2, .palette = kTwoColours}, {0, 1}));
    add("BMP bit fields on 24-bit pixels", Bmp({.compression = 3, .masks = {0xFF0000, 0xFF00, 0xFF}}, kBmp24Pixels));
    add("BMP overlapping masks", Bmp({.bits = 16, .compression = 3, .masks = {0xF800, 0x0FE0, 0x001F}}, Bytes(8, 0)));
    add("BMP mask of two runs", Bmp({.bits = 16, .compression = 3, .masks = {0xF801, 0x07E0, 0x001E}}, Bytes(8, 0)));
    add("BMP mask wider than the pixel", Bmp({.bits = 16, .compression = 3, .masks = {0x1F800, 0x07E0, 0x001F}}, Bytes(8, 0)));
    add("BMP masks past the end", Bmp({.bits = 16, .compression = 3}, {}));
    add("BMP palette index past the palette",
        Bmp({.bits = 8, .colorsUsed = 2, .palette = kTwoColours}, {0, 2, 0, 0, 1, 0, 0, 0}));
    add("BMP 1-bit index past a one-entry palette",
        Bmp({.bits = 1, .colorsUsed = 1, .palette = {0x123456}}, {0x40, 0, 0, 0, 0, 0, 0, 0}));
    add("BMP palette squeezed out by the offset",
        Bmp({.bits = 8, .palette = kTwoColours, .offset = 14 + 40 + 4}, {0, 1, 0, 0, 1, 1, 0, 0}));
    add("BMP RLE8 index past the palette",
        Bmp({.bits = 8, .compression = 1, .colorsUsed = 2, .palette = kTwoColours}, {2, 5, 0, 0, 2, 0, 0, 1}));
    add("BMP RLE8 literal index past the palette",
        Bmp({.width = 4, .bits = 8, .compression = 1, .colorsUsed = 2, .palette = kTwoColours}, {0, 3, 0, 1, 2, 0, 0, 1}));
    add("BMP RLE8 without an end", Bmp({.bits = 8, .compression = 1, .palette = kTwoColours}, {2, 1, 0, 0, 2, 1, 0, 0}));
    add("BMP RLE8 jump out of the picture", Bmp({.bits = 8, .compression = 1, .palette = kTwoColours}, {0, 2, 1, 5, 0, 1}));
    add("BMP RLE8 rows past the last", Bmp({.bits = 8, .compression = 1, .palette = kTwoColours}, {2, 1, 0, 0, 2, 1, 0, 0, 2, 1, 0, 1}));
    add("BMP RLE8 literal past the data", Bmp({.bits = 8, .compression = 1, .palette = kTwoColours}, {0, 6, 1, 1}));
    add("BMP raw 60000x60000 from a few bytes", Bmp({.width = 60000, .height = 60000}, kBmp24Pixels), 65536);
    add("BMP RLE larger than the limits", Bmp({.width = 8193, .height = 1, .bits = 8, .compression = 1, .palette = kTwoColours}, {0, 1}));

    // DDS
    const size_t chain8 = Dxt1ChainBytes(8);
    add("DDS header size 0", Dds({.size = 0}, 32));
    add("DDS width 0", Dds({.width = 0}, 32));
    add("DDS height 0", Dds({.height = 0}, 32));
    add("DDS more levels than the chain", Dds({.mips = 5}, 4 * chain8));
    add("DDS level count of 2^32-1", Dds({.mips = 0xFFFFFFFF}, 4 * chain8));
    add("DDS levels past the end", Dds({.mips = 4}, chain8 - 1));
    add("DDS stated linear size differs", Dds({.flags = 0x81007, .pitch = 100}, 32));
    add("DDS stated pitch differs",
        Dds({.flags = 0x100F, .height = 4, .width = 4, .pitch = 20, .pfFlags = 0x41, .fourCC = 0, .bits = 32,
             .masks = {0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
            64));
    add("DDS cube map of five faces", Dds({.caps2 = 0x200 | 0x7C00}, 6 * 32));
    add("DDS cube map not square", Dds({.width = 16, .caps2 = 0xFE00}, 6 * 64));
    add("DDS cube map short of its last face", Dds({.caps2 = 0xFE00}, 6 * 32 - 1));
    add("DDS volume texture", Dds({.caps2 = 0x200000}, 32));
    add("DDS depth of 4", Dds({.flags = 0x801007, .depth = 4}, 4 * 32));
    add("DDS unknown FourCC", Dds({.fourCC = 0x31495441}, 32));  // "ATI1"
    add("DDS FourCC of no Direct3D format", Dds({.fourCC = 0xFFFFFFFF}, 32));
    add("DDS pixel-format size 0", Dds({.pfSize = 0}, 32));
    add("DDS YUV pixels", Dds({.pfFlags = 0x200, .bits = 16}, 128));
    add("DDS overlapping masks",
        Dds({.pfFlags = 0x40, .fourCC = 0, .bits = 32, .masks = {0xFF0000, 0xFFFF00, 0xFF, 0}}, 256));
    add("DDS 12 bits per pixel",
        Dds({.pfFlags = 0x40, .fourCC = 0, .bits = 12, .masks = {0xF00, 0xF0, 0xF, 0}}, 96));
    add("DDS no channels", Dds({.pfFlags = 0x40, .fourCC = 0, .bits = 32}, 256));
    add("DDS 65536x65536 from a few bytes", Dds({.height = 65536, .width = 65536}, 64), 65536);
    add("DDS wider than the limits", Dds({.height = 4, .width = 8192 + 4}, 64));

    // PNG
    add("PNG width 0", Png(0, 2, 8, 2, kPngRows));
    add("PNG colour type 5", Png(2, 2, 8, 5, kPngRows));
    add("PNG bit depth 3", Png(2, 2, 3, 0, kPngRows));
    add("PNG IDAT not deflated", Png(2, 2, 8, 2, kPngRows, false));
    add("PNG rows missing", Png(2, 3, 8, 2, kPngRows));
    add("PNG wider than the limits", Png(8193, 1, 8, 0, Bytes(8194, 0)));
    Bytes badCrc = Png(2, 2, 8, 2, kPngRows);
    badCrc[8 + 8 + 13] ^= 1;  // IHDR's CRC
    add("PNG IHDR CRC wrong", badCrc);

    // Kinds of no file at all.
    add("empty", {});
    add("text", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!', '!', '!', '!', '!', '!', '!'});
    return cases;
}

TEST(ImageDamage, LyingHeadersAreInvalidData) {
    for (const DamageCase& c : LyingHeaders()) {
        EXPECT_EQ(Decode(c.bytes, c.limits), D3DXERR_INVALIDDATA) << c.name;
    }
}

// The small files above are good once the one fault is mended, so that each case shows its own
// fault rather than another.
TEST(ImageDamage, TheDamageCasesAreGoodFilesWithoutTheirFault) {
    EXPECT_EQ(Decode(Tga({}, kFourBgrPixels)), S_OK);
    EXPECT_EQ(Decode(Tga({.mapType = 1, .type = 1, .mapFirst = 5, .mapLength = 2, .mapBits = 24, .bits = 8},
                         {1, 2, 3, 4, 5, 6, 5, 6, 6, 5})),
              S_OK);
    EXPECT_EQ(Decode(Tga({.type = 10}, {0x83, 1, 2, 3})), S_OK);
    EXPECT_EQ(Decode(Tga({.type = 10}, {0x03, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 2, 3})), S_OK);
    EXPECT_EQ(Decode(Bmp({}, kBmp24Pixels)), S_OK);
    EXPECT_EQ(Decode(Bmp({.bits = 16, .compression = 3, .masks = {0xF800, 0x07E0, 0x001F}}, Bytes(8, 0))), S_OK);
    EXPECT_EQ(Decode(Bmp({.bits = 8, .colorsUsed = 2, .palette = kTwoColours}, {0, 1, 1, 0, 1, 0, 0, 0})), S_OK);
    EXPECT_EQ(Decode(Bmp({.bits = 8, .compression = 1, .palette = kTwoColours}, {2, 1, 0, 0, 2, 1, 0, 1})), S_OK);
    EXPECT_EQ(Decode(Bmp({.bits = 8, .compression = 1, .palette = kTwoColours}, {0, 2, 1, 1, 0, 1})), S_OK);
    EXPECT_EQ(Decode(Dds({.mips = 4}, Dxt1ChainBytes(8))), S_OK);
    EXPECT_EQ(Decode(Dds({.flags = 0x81007, .pitch = 32}, 32)), S_OK);
    EXPECT_EQ(Decode(Dds({.caps2 = 0xFE00}, 6 * 32)), S_OK);
    EXPECT_EQ(Decode(Dds({.height = 4, .width = 8192}, 8192 / 4 * 8), DecodeLimits{8192}), S_OK);
    EXPECT_EQ(Decode(Png(2, 2, 8, 2, kPngRows)), S_OK);
}

TEST(ImageDamage, NullArgumentsAreInvalidCalls) {
    const Bytes good = Tga({}, kFourBgrPixels);
    D3DXIMAGE_INFO info{};
    DecodedImage image;
    EXPECT_EQ(ReadImageInfo(nullptr, 4, &info), D3DERR_INVALIDCALL);
    EXPECT_EQ(ReadImageInfo(good.data(), good.size(), nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(DecodeImage(nullptr, 4, DecodeLimits{}, &image), D3DERR_INVALIDCALL);
    EXPECT_EQ(DecodeImage(good.data(), good.size(), DecodeLimits{}, nullptr), D3DERR_INVALIDCALL);
}

TEST(ImageDamage, AFailedDecodeLeavesTheImageEmpty) {
    const Bytes good = Tga({}, kFourBgrPixels);
    DecodedImage image;
    ASSERT_EQ(DecodeImage(good.data(), good.size(), DecodeLimits{}, &image), S_OK);
    const Bytes bad = Tga({.type = 10}, {0x84, 1, 2, 3});
    ASSERT_EQ(DecodeImage(bad.data(), bad.size(), DecodeLimits{}, &image), D3DXERR_INVALIDDATA);
    EXPECT_EQ(image.levels, 0u);
    EXPECT_EQ(image.faces, 0u);
    EXPECT_EQ(image.data(), nullptr);
    EXPECT_EQ(image.size(), 0u);
}

// ---------------------------------------------------------------------------------------------
// Files of the tools, cut short at every length.

class ImageTruncationTest : public ::testing::Test {
protected:
    void SetUp() override { scratch_.emplace("rh_cut"); }

    Bytes Make(const std::string& options, const std::string& output, uint32_t w = 9, uint32_t h = 7) {
        std::string convert;
        EXPECT_TRUE(rh::testing::FindTool("convert", &convert));
        rh::testing::WriteRawRgba(scratch_->Path("source.raw"), rh::testing::TestPattern(w, h, 77));
        EXPECT_TRUE(rh::testing::RunCommand(
            scratch_->path(), convert + " -size " + std::to_string(w) + "x" + std::to_string(h) +
                                  " -depth 8 rgba:source.raw " + options + " " + rh::testing::Quote(output)));
        const std::string file = output.substr(output.find(':') + 1);
        return rh::testing::ReadBytes(scratch_->Path(file));
    }

    Bytes Nv(const std::string& options, const std::string& input) {
        std::string tool;
        EXPECT_TRUE(rh::testing::FindTool(options == "-cube" ? "nvassemble" : "nvcompress", &tool));
        EXPECT_TRUE(rh::testing::RunCommand(scratch_->path(), tool + " " + options + " " + input +
                                                                  (options == "-cube" ? "" : " out.dds")));
        return rh::testing::ReadBytes(scratch_->Path(options == "-cube" ? "output.dds" : "out.dds"));
    }

    std::optional<rh::testing::ScratchDir> scratch_;
};

TEST_F(ImageTruncationTest, EveryShorterLengthIsInvalidData) {
    struct File {
        const char* name;
        Bytes bytes;
    };
    std::vector<File> files = {
        {"PNG RGBA", Make("-define png:color-type=6", "a.png")},
        {"PNG palette with tRNS", Make("-channel A -threshold 50% +channel", "png8:b.png")},
        {"PNG interlaced grey 4-bit", Make("-alpha off -colorspace Gray -interlace PNG -define png:color-type=0 -define png:bit-depth=4", "c.png")},
        {"PNG 16-bit", Make("-depth 16 -define png:color-type=6 -define png:bit-depth=16", "d.png", 5, 3)},
        {"JPEG baseline 4:2:0", Make("-alpha off -sampling-factor 2x2", "a.jpg")},
        {"JPEG progressive", Make("-alpha off -interlace Plane", "b.jpg")},
        {"JPEG grey", Make("-alpha off -colorspace Gray", "c.jpg")},
        {"TGA 32-bit", Make("", "a.tga")},
        {"TGA 24-bit RLE", Make("-alpha off -compress RLE", "b.tga")},
        {"TGA colour map RLE", Make("-alpha off -type Palette -compress RLE", "c.tga")},
        {"BMP 24-bit", Make("-alpha off", "bmp3:a.bmp")},
        {"BMP 8-bit RLE8", Make("-alpha off -type Palette -compress RLE", "bmp3:b.bmp")},
        {"BMP 4-bit", Make("-alpha off -colors 16 -compress None", "c.bmp")},
        {"BMP 1-bit", Make("-alpha off -type Bilevel", "d.bmp")},
        {"BMP OS/2 8-bit", Make("-alpha off -type Palette", "bmp2:e.bmp")},
        {"DDS DXT5", Make("-define dds:compression=dxt5", "a.dds")},
        {"DDS A8R8G8B8", Make("-define dds:compression=none", "b.dds")},
    };
    Make("", "source.tga");
    files.push_back({"DDS DXT1 with mips", Nv("-bc1", "source.tga")});
    files.push_back({"DDS A8R8G8B8 with mips", Nv("-alpha -rgb", "source.tga")});
    Make("-alpha off", "face.tga", 4, 4);
    files.push_back({"DDS cube map", Nv("-cube", "face.tga face.tga face.tga face.tga face.tga face.tga")});

    for (const File& f : files) {
        SCOPED_TRACE(f.name);
        ASSERT_FALSE(f.bytes.empty());
        ASSERT_EQ(Decode(f.bytes), S_OK);
        D3DXIMAGE_INFO whole{};
        ASSERT_EQ(ReadImageInfo(f.bytes.data(), f.bytes.size(), &whole), S_OK);
        for (size_t length = 0; length < f.bytes.size(); ++length) {
            const Bytes cut(f.bytes.begin(), f.bytes.begin() + length);
            EXPECT_EQ(Decode(cut), D3DXERR_INVALIDDATA) << "cut to " << length << " of " << f.bytes.size();
            // The header alone may answer for the info; then the answer is the whole file's.
            D3DXIMAGE_INFO info{};
            const HRESULT hr = ReadImageInfo(Exact(cut).get(), cut.size(), &info);
            if (hr == S_OK) {
                EXPECT_EQ(std::memcmp(&info, &whole, sizeof(info)), 0) << "cut to " << length;
            } else {
                EXPECT_EQ(hr, D3DXERR_INVALIDDATA) << "cut to " << length;
            }
        }
    }
}

// Pictures of each kind one pixel wider than the limits allow are refused; at the limit they
// are read.
TEST_F(ImageTruncationTest, PicturesPastTheLimitsAreInvalidData) {
    const std::vector<std::pair<const char*, Bytes>> files = {
        {"PNG", Make("", "a.png", 37, 23)},
        {"JPEG", Make("-alpha off", "a.jpg", 37, 23)},
        {"TGA", Make("", "a.tga", 37, 23)},
        {"BMP", Make("", "a.bmp", 37, 23)},
        {"DDS", Make("-define dds:compression=dxt1", "a.dds", 23, 37)},
    };
    for (const auto& [name, bytes] : files) {
        EXPECT_EQ(Decode(bytes, DecodeLimits{36}), D3DXERR_INVALIDDATA) << name;
        EXPECT_EQ(Decode(bytes, DecodeLimits{37}), S_OK) << name;
    }
}

}  // namespace
