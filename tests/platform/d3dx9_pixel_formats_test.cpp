// Pixel formats by channel layout and the software DXT decoder, against Direct3D's documented
// layouts and block decoding rules.

#include "platform/d3dx9/pixel_formats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace rh::d3dx9;

uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return a << 24 | r << 16 | g << 8 | b; }

int Channel(uint32_t argb, int shift) { return int((argb >> shift) & 0xFF); }

// Each channel within `tolerance`.
::testing::AssertionResult Near(uint32_t actual, uint32_t expected, int tolerance) {
    for (int shift = 0; shift < 32; shift += 8) {
        if (std::abs(Channel(actual, shift) - Channel(expected, shift)) > tolerance) {
            return ::testing::AssertionFailure() << std::hex << "0x" << actual << " is not within "
                                                 << std::dec << tolerance << " of 0x" << std::hex << expected;
        }
    }
    return ::testing::AssertionSuccess();
}

// A colour block: two 5:6:5 end points and the 2-bit indices of the 16 pixels (row by row).
std::vector<uint8_t> ColorBlock(uint16_t c0, uint16_t c1, const int indices[16]) {
    uint32_t bits = 0;
    for (int i = 0; i < 16; ++i) bits |= uint32_t(indices[i]) << (2 * i);
    std::vector<uint8_t> b = {uint8_t(c0), uint8_t(c0 >> 8), uint8_t(c1), uint8_t(c1 >> 8)};
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(bits >> (8 * i)));
    return b;
}

const int kRamp[16] = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 3};
constexpr uint16_t kRed = 0xF800, kBlue = 0x001F;

TEST(DxtDecoder, Dxt1FourColours) {
    // First end point above the second: two colours between them, at thirds.
    const auto block = ColorBlock(kRed, kBlue, kRamp);
    uint32_t pixels[16];
    DecodeDxtBlock(D3DFMT_DXT1, block.data(), pixels);
    EXPECT_EQ(pixels[0], Argb(255, 255, 0, 0));
    EXPECT_EQ(pixels[1], Argb(255, 0, 0, 255));
    EXPECT_TRUE(Near(pixels[2], Argb(255, 170, 0, 85), 1));
    EXPECT_TRUE(Near(pixels[3], Argb(255, 85, 0, 170), 1));
    for (int i = 4; i < 16; ++i) EXPECT_EQ(pixels[i], pixels[i % 4]) << i;
}

TEST(DxtDecoder, Dxt1ThreeColoursAndTransparentBlack) {
    // First end point not above the second: the midpoint, then transparent black.
    const auto block = ColorBlock(kBlue, kRed, kRamp);
    uint32_t pixels[16];
    DecodeDxtBlock(D3DFMT_DXT1, block.data(), pixels);
    EXPECT_EQ(pixels[0], Argb(255, 0, 0, 255));
    EXPECT_EQ(pixels[1], Argb(255, 255, 0, 0));
    EXPECT_TRUE(Near(pixels[2], Argb(255, 128, 0, 128), 1));
    EXPECT_EQ(pixels[3], 0u);
    // Equal end points are the three-colour case too.
    const auto equal = ColorBlock(kRed, kRed, kRamp);
    DecodeDxtBlock(D3DFMT_DXT1, equal.data(), pixels);
    EXPECT_EQ(pixels[3], 0u);
}

TEST(DxtDecoder, Dxt3ExplicitAlphaAndAlwaysFourColours) {
    // Alpha: 4 bits per pixel, pixel 0 in the low bits; the colour half with end points in the
    // three-colour order still has four colours.
    std::vector<uint8_t> block;
    for (int i = 0; i < 8; ++i) block.push_back(uint8_t((2 * i) | (2 * i + 1) << 4));
    const auto colours = ColorBlock(kBlue, kRed, kRamp);
    block.insert(block.end(), colours.begin(), colours.end());
    for (D3DFORMAT format : {D3DFMT_DXT2, D3DFMT_DXT3}) {
        uint32_t pixels[16];
        DecodeDxtBlock(format, block.data(), pixels);
        for (int i = 0; i < 16; ++i) EXPECT_EQ(pixels[i] >> 24, uint32_t(i * 17)) << i;
        EXPECT_TRUE(Near(pixels[3] & 0xFFFFFF, Argb(0, 170, 0, 85), 1));
        EXPECT_TRUE(Near(pixels[2] & 0xFFFFFF, Argb(0, 85, 0, 170), 1));
    }
}

// DXT5 alpha block: two end points and 3-bit indices, pixel 0 in the low bits.
std::vector<uint8_t> AlphaBlock(uint8_t a0, uint8_t a1, const int indices[16]) {
    uint64_t bits = 0;
    for (int i = 0; i < 16; ++i) bits |= uint64_t(indices[i]) << (3 * i);
    std::vector<uint8_t> b = {a0, a1};
    for (int i = 0; i < 6; ++i) b.push_back(uint8_t(bits >> (8 * i)));
    const auto colours = ColorBlock(kRed, kBlue, kRamp);
    b.insert(b.end(), colours.begin(), colours.end());
    return b;
}

TEST(DxtDecoder, Dxt5InterpolatedAlpha) {
    const int indices[16] = {0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0};
    for (D3DFORMAT format : {D3DFMT_DXT4, D3DFMT_DXT5}) {
        // First above second: six alphas between them, in sevenths.
        auto block = AlphaBlock(210, 70, indices);
        uint32_t pixels[16];
        DecodeDxtBlock(format, block.data(), pixels);
        const int eight[8] = {210, 70, 190, 170, 150, 130, 110, 90};
        for (int i = 0; i < 16; ++i) EXPECT_NEAR(int(pixels[i] >> 24), eight[indices[i]], 1) << i;

        // Otherwise four between them in fifths, then 0 and 255.
        block = AlphaBlock(50, 150, indices);
        DecodeDxtBlock(format, block.data(), pixels);
        const int six[8] = {50, 150, 70, 90, 110, 130, 0, 255};
        for (int i = 0; i < 16; ++i) EXPECT_NEAR(int(pixels[i] >> 24), six[indices[i]], 1) << i;
        EXPECT_EQ(pixels[6] >> 24, 0u);
        EXPECT_EQ(pixels[7] >> 24, 255u);
        // The colours are those of the colour half.
        EXPECT_EQ(pixels[0] & 0xFFFFFF, 0xFF0000u);
    }
}

TEST(DxtDecoder, PartialBlocksWriteOnlyThePicture) {
    // A 5x6 picture is 2x2 blocks; nothing outside 5x6 in the destination is written.
    std::vector<uint8_t> blocks;
    for (uint16_t c : {kRed, kBlue, uint16_t(0x07E0), uint16_t(0xFFFF)}) {
        const auto b = ColorBlock(c, 0, kRamp);
        blocks.insert(blocks.end(), b.begin(), b.end());
    }
    const uint32_t pitch = 8 * 4;  // 8 pixels of room per row
    std::vector<uint32_t> out(8 * 8, 0xDEADBEEF);
    ASSERT_TRUE(DecodeDxt(D3DFMT_DXT1, blocks.data(), 16, 5, 6, reinterpret_cast<uint8_t*>(out.data()), pitch));
    for (uint32_t y = 0; y < 8; ++y) {
        for (uint32_t x = 0; x < 8; ++x) {
            const uint32_t v = out[y * 8 + x];
            if (x >= 5 || y >= 6) {
                EXPECT_EQ(v, 0xDEADBEEFu) << x << "," << y;
            } else if (x % 4 == 0) {  // index 0: the block's first colour
                const uint32_t block = (y / 4) * 2 + x / 4;
                const uint32_t expected[] = {0xFFFF0000u, 0xFF0000FFu, 0xFF00FF00u, 0xFFFFFFFFu};
                EXPECT_EQ(v, expected[block]) << x << "," << y;
            }
        }
    }
    EXPECT_FALSE(DecodeDxt(D3DFMT_A8R8G8B8, blocks.data(), 16, 5, 6, reinterpret_cast<uint8_t*>(out.data()), pitch));
}

// ---------------------------------------------------------------------------------------------

struct LayoutCase {
    D3DFORMAT format;
    uint32_t bytes;
    uint64_t red, green, blue, alpha, luminance;  // masks in the pixel word
};

// Direct3D's documented bit layouts.
const LayoutCase kLayouts[] = {
    {D3DFMT_R8G8B8, 3, 0xFF0000, 0xFF00, 0xFF, 0, 0},
    {D3DFMT_A8R8G8B8, 4, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 0},
    {D3DFMT_X8R8G8B8, 4, 0xFF0000, 0xFF00, 0xFF, 0, 0},
    {D3DFMT_R5G6B5, 2, 0xF800, 0x07E0, 0x001F, 0, 0},
    {D3DFMT_X1R5G5B5, 2, 0x7C00, 0x03E0, 0x001F, 0, 0},
    {D3DFMT_A1R5G5B5, 2, 0x7C00, 0x03E0, 0x001F, 0x8000, 0},
    {D3DFMT_A4R4G4B4, 2, 0x0F00, 0x00F0, 0x000F, 0xF000, 0},
    {D3DFMT_R3G3B2, 1, 0xE0, 0x1C, 0x03, 0, 0},
    {D3DFMT_A8, 1, 0, 0, 0, 0xFF, 0},
    {D3DFMT_A8R3G3B2, 2, 0xE0, 0x1C, 0x03, 0xFF00, 0},
    {D3DFMT_X4R4G4B4, 2, 0x0F00, 0x00F0, 0x000F, 0, 0},
    {D3DFMT_A2B10G10R10, 4, 0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000, 0},
    {D3DFMT_A8B8G8R8, 4, 0xFF, 0xFF00, 0xFF0000, 0xFF000000, 0},
    {D3DFMT_X8B8G8R8, 4, 0xFF, 0xFF00, 0xFF0000, 0, 0},
    {D3DFMT_G16R16, 4, 0xFFFF, 0xFFFF0000, 0, 0, 0},
    {D3DFMT_A2R10G10B10, 4, 0x3FF00000, 0xFFC00, 0x3FF, 0xC0000000, 0},
    {D3DFMT_A16B16G16R16, 8, 0xFFFF, 0xFFFF0000, 0xFFFF00000000, 0xFFFF000000000000, 0},
    {D3DFMT_L8, 1, 0, 0, 0, 0, 0xFF},
    {D3DFMT_A8L8, 2, 0, 0, 0, 0xFF00, 0xFF},
    {D3DFMT_A4L4, 1, 0, 0, 0, 0xF0, 0x0F},
    {D3DFMT_L16, 2, 0, 0, 0, 0, 0xFFFF},
};

TEST(ChannelLayouts, MatchTheDocumentedBitLayouts) {
    for (const LayoutCase& c : kLayouts) {
        const ChannelLayout* layout = FindChannelLayout(c.format);
        ASSERT_NE(layout, nullptr) << c.format;
        EXPECT_EQ(layout->bytesPerPixel, c.bytes) << c.format;
        EXPECT_EQ(layout->red.Mask(), c.red) << c.format;
        EXPECT_EQ(layout->green.Mask(), c.green) << c.format;
        EXPECT_EQ(layout->blue.Mask(), c.blue) << c.format;
        EXPECT_EQ(layout->alpha.Mask(), c.alpha) << c.format;
        EXPECT_EQ(layout->luminance.Mask(), c.luminance) << c.format;
        EXPECT_EQ(RowPitch(c.format, 7), 7 * c.bytes) << c.format;
        EXPECT_EQ(RowCount(c.format, 7), 7u) << c.format;
    }
    for (D3DFORMAT none : {D3DFMT_DXT1, D3DFMT_P8, D3DFMT_D24S8, D3DFMT_A16B16G16R16F, D3DFMT_UNKNOWN}) {
        EXPECT_EQ(FindChannelLayout(none), nullptr) << none;
    }
    // DXT: a row is one row of 4x4 blocks.
    EXPECT_EQ(RowPitch(D3DFMT_DXT1, 7), 16u);
    EXPECT_EQ(RowPitch(D3DFMT_DXT5, 7), 32u);
    EXPECT_EQ(RowCount(D3DFMT_DXT3, 7), 2u);
    EXPECT_EQ(RowPitch(D3DFMT_P8, 7), 0u);
}

TEST(ChannelLayouts, FromMasksNamesTheFormatOrRefuses) {
    struct Case {
        const char* name;
        uint32_t bits, r, g, b, a, l;
        bool ok;
        D3DFORMAT format;
    };
    const Case cases[] = {
        {"A8R8G8B8", 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 0, true, D3DFMT_A8R8G8B8},
        {"R5G6B5", 16, 0xF800, 0x7E0, 0x1F, 0, 0, true, D3DFMT_R5G6B5},
        {"A8L8", 16, 0, 0, 0, 0xFF00, 0xFF, true, D3DFMT_A8L8},
        {"R8G8B8", 24, 0xFF0000, 0xFF00, 0xFF, 0, 0, true, D3DFMT_R8G8B8},
        {"unnamed order", 32, 0xFF00, 0xFF, 0xFF000000, 0xFF0000, 0, true, D3DFMT_UNKNOWN},
        {"same masks, other size", 32, 0xF800, 0x7E0, 0x1F, 0, 0, true, D3DFMT_UNKNOWN},
        {"overlap", 16, 0xF800, 0xFE0, 0x1F, 0, 0, false, D3DFMT_UNKNOWN},
        {"two runs", 16, 0xF801, 0x7E0, 0x1E, 0, 0, false, D3DFMT_UNKNOWN},
        {"past the pixel", 16, 0x1F800, 0x7E0, 0x1F, 0, 0, false, D3DFMT_UNKNOWN},
        {"12-bit pixel", 12, 0xF00, 0xF0, 0xF, 0, 0, false, D3DFMT_UNKNOWN},
    };
    for (const Case& c : cases) {
        ChannelLayout layout;
        EXPECT_EQ(LayoutFromMasks(c.bits, c.r, c.g, c.b, c.a, c.l, &layout), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(layout.format, c.format) << c.name;
        }
    }
}

// Every value of every channel of the packed formats survives widening to 8 bits and back, and
// the widening is to the nearest 8-bit value: v * 255 / (2^n - 1) rounded.
TEST(ChannelLayouts, EveryStoredValueRoundTripsThroughArgb) {
    for (const LayoutCase& c : kLayouts) {
        const ChannelLayout& layout = *FindChannelLayout(c.format);
        // Packed formats of channels up to 8 bits: every stored word.
        const ChannelBits all[] = {layout.red, layout.green, layout.blue, layout.alpha, layout.luminance};
        if (layout.bytesPerPixel > 2 ||
            std::any_of(std::begin(all), std::end(all), [](ChannelBits b) { return b.bits > 8; })) {
            continue;
        }
        const uint64_t used = c.red | c.green | c.blue | c.alpha | c.luminance;
        for (uint32_t word = 0; word < (1u << (8 * layout.bytesPerPixel)); ++word) {
            if ((word & ~used) != 0) continue;  // padding bits come back as ones
            uint8_t in[2] = {uint8_t(word), uint8_t(word >> 8)};
            uint32_t argb = 0;
            RowToArgb(layout, in, &argb, 1);
            uint8_t out[2] = {0, 0};
            RowFromArgb(layout, &argb, out, 1);
            const uint32_t back = (out[0] | out[1] << 8) & uint32_t(used);
            ASSERT_EQ(back, word) << "format " << c.format << " word 0x" << std::hex << word;
            // The nearest 8-bit value of the red (or luminance) channel.
            const ChannelBits ch = layout.luminance.bits ? layout.luminance : layout.red;
            if (ch.bits != 0) {
                const uint32_t v = (word >> ch.shift) & ((1u << ch.bits) - 1);
                const double exact = v * 255.0 / ((1u << ch.bits) - 1);
                ASSERT_LE(std::abs(Channel(argb, 16) - exact), 0.5) << c.format << " value " << v;
            }
        }
    }
}

TEST(ChannelLayouts, MissingChannelsAndPadding) {
    const uint32_t orange = Argb(0x80, 255, 128, 0);
    struct Case {
        D3DFORMAT format;
        std::vector<uint8_t> stored;  // orange as this format stores it
        uint32_t back;                // and read back
    };
    const Case cases[] = {
        // Padding bits are ones.
        {D3DFMT_X8R8G8B8, {0x00, 0x80, 0xFF, 0xFF}, Argb(255, 255, 128, 0)},
        {D3DFMT_X1R5G5B5, {0x00, 0xFE}, Argb(255, 255, 132, 0)},
        {D3DFMT_X4R4G4B4, {0x80, 0xFF}, Argb(255, 255, 136, 0)},
        // Luminance is the Rec. 709 weighting: 0.2126 R + 0.7152 G + 0.0722 B.
        {D3DFMT_L8, {146}, Argb(255, 146, 146, 146)},
        {D3DFMT_A8L8, {146, 0x80}, Argb(0x80, 146, 146, 146)},
        // Alpha only: colour reads as black.
        {D3DFMT_A8, {0x80}, Argb(0x80, 0, 0, 0)},
        // No blue channel: blue reads as 0; missing alpha as 255.
        {D3DFMT_G16R16, {0xFF, 0xFF, 0x80, 0x80}, Argb(255, 255, 128, 0)},
    };
    for (const Case& c : cases) {
        const ChannelLayout& layout = *FindChannelLayout(c.format);
        std::vector<uint8_t> stored(layout.bytesPerPixel);
        RowFromArgb(layout, &orange, stored.data(), 1);
        EXPECT_EQ(stored, c.stored) << c.format;
        uint32_t back = 0;
        RowToArgb(layout, stored.data(), &back, 1);
        EXPECT_EQ(back, c.back) << c.format << std::hex << " 0x" << back;
    }
    // Pure primaries give the weights themselves.
    const ChannelLayout& l8 = *FindChannelLayout(D3DFMT_L8);
    const uint32_t primaries[3] = {Argb(255, 255, 0, 0), Argb(255, 0, 255, 0), Argb(255, 0, 0, 255)};
    uint8_t lum[3];
    RowFromArgb(l8, primaries, lum, 3);
    EXPECT_EQ(lum[0], 54);
    EXPECT_EQ(lum[1], 182);
    EXPECT_EQ(lum[2], 18);
}

TEST(ConvertPixels, ThroughArgbWithPitchesAndRefusals) {
    // A 3x2 R5G6B5 picture with padded rows to A8R8G8B8 and back.
    const uint16_t source[2][4] = {{0xF800, 0x07E0, 0x001F, 0xAAAA}, {0xFFFF, 0x0000, 0x8410, 0xAAAA}};
    uint32_t argb[2][3];
    ASSERT_TRUE(ConvertPixels(D3DFMT_R5G6B5, reinterpret_cast<const uint8_t*>(source), 8, D3DFMT_A8R8G8B8,
                              reinterpret_cast<uint8_t*>(argb), 12, 3, 2));
    EXPECT_EQ(argb[0][0], 0xFFFF0000u);
    EXPECT_EQ(argb[0][1], 0xFF00FF00u);
    EXPECT_EQ(argb[0][2], 0xFF0000FFu);
    EXPECT_EQ(argb[1][0], 0xFFFFFFFFu);
    EXPECT_EQ(argb[1][1], 0xFF000000u);
    uint16_t back[2][4] = {{1, 1, 1, 1}, {1, 1, 1, 1}};
    ASSERT_TRUE(ConvertPixels(D3DFMT_A8R8G8B8, reinterpret_cast<const uint8_t*>(argb), 12, D3DFMT_R5G6B5,
                              reinterpret_cast<uint8_t*>(back), 8, 3, 2));
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) EXPECT_EQ(back[y][x], source[y][x]) << x << "," << y;
        EXPECT_EQ(back[y][3], 1) << "the row's padding is untouched";
    }

    // DXT sources decode as DecodeDxt does; DXT destinations and formats without a layout
    // are refused.
    const auto block = ColorBlock(kRed, kBlue, kRamp);
    uint32_t viaConvert[16], viaDecoder[16];
    ASSERT_TRUE(ConvertPixels(D3DFMT_DXT1, block.data(), 8, D3DFMT_A8R8G8B8, reinterpret_cast<uint8_t*>(viaConvert),
                              16, 4, 4));
    ASSERT_TRUE(DecodeDxt(D3DFMT_DXT1, block.data(), 8, 4, 4, reinterpret_cast<uint8_t*>(viaDecoder), 16));
    EXPECT_EQ(std::memcmp(viaConvert, viaDecoder, sizeof(viaConvert)), 0);
    uint8_t dxt[8] = {};
    EXPECT_FALSE(ConvertPixels(D3DFMT_A8R8G8B8, reinterpret_cast<uint8_t*>(argb), 12, D3DFMT_DXT1, dxt, 8, 3, 2));
    EXPECT_FALSE(ConvertPixels(D3DFMT_P8, dxt, 8, D3DFMT_A8R8G8B8, reinterpret_cast<uint8_t*>(argb), 12, 3, 2));
    EXPECT_FALSE(ConvertPixels(D3DFMT_A8R8G8B8, reinterpret_cast<uint8_t*>(argb), 12, D3DFMT_A16B16G16R16F, dxt, 8,
                               1, 1));
}

}  // namespace
