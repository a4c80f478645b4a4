// Format facts against the published Direct3D 9 bit layouts, and the names the trace shows.
#include "render/format_facts.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Name(D3DFORMAT format) { return FormatName(format); }

TEST(FormatFacts, BitsAndAlphaFollowTheDirect3DLayouts) {
    const struct {
        D3DFORMAT format;
        int bits;
        bool alpha;
    } cases[] = {
        {D3DFMT_R8G8B8, 24, false},
        {D3DFMT_A8R8G8B8, 32, true},
        {D3DFMT_X8R8G8B8, 32, false},
        {D3DFMT_R5G6B5, 16, false},
        {D3DFMT_X1R5G5B5, 16, false},
        {D3DFMT_A1R5G5B5, 16, true},
        {D3DFMT_A4R4G4B4, 16, true},
        {D3DFMT_R3G3B2, 8, false},
        {D3DFMT_A8, 8, true},
        {D3DFMT_A8R3G3B2, 16, true},
        {D3DFMT_X4R4G4B4, 16, false},
        {D3DFMT_A2B10G10R10, 32, true},
        {D3DFMT_A8B8G8R8, 32, true},
        {D3DFMT_X8B8G8R8, 32, false},
        {D3DFMT_G16R16, 32, false},
        {D3DFMT_A2R10G10B10, 32, false},
        {D3DFMT_A16B16G16R16, 64, true},
        {D3DFMT_A8P8, 16, true},
        {D3DFMT_P8, 8, false},
        {D3DFMT_L8, 8, false},
        {D3DFMT_A8L8, 16, true},
        {D3DFMT_A4L4, 8, true},
        {D3DFMT_V8U8, 16, false},
        {D3DFMT_L6V5U5, 16, false},
        {D3DFMT_X8L8V8U8, 32, false},
        {D3DFMT_Q8W8V8U8, 32, false},
        {D3DFMT_V16U16, 32, false},
        {D3DFMT_A2W10V10U10, 32, true},
        {D3DFMT_D16_LOCKABLE, 16, false},
        {D3DFMT_D32, 32, false},
        {D3DFMT_D15S1, 16, false},
        {D3DFMT_D24S8, 32, false},
        {D3DFMT_D24X8, 32, false},
        {D3DFMT_D24X4S4, 32, false},
        {D3DFMT_D16, 16, false},
        {D3DFMT_L16, 16, false},
        {D3DFMT_INDEX16, 16, false},
        {D3DFMT_INDEX32, 32, false},
        {D3DFMT_Q16W16V16U16, 64, false},
        {D3DFMT_R16F, 16, false},
        {D3DFMT_G16R16F, 32, false},
        {D3DFMT_A16B16G16R16F, 64, true},
        {D3DFMT_R32F, 32, false},
        {D3DFMT_G32R32F, 64, false},
        {D3DFMT_A32B32G32R32F, 128, true},
        {D3DFMT_CxV8U8, 16, false},
        {D3DFMT_DXT1, 0, false},
        {D3DFMT_DXT5, 0, false},
        {D3DFMT_MULTI2_ARGB8, 0, true},
        {D3DFMT_UNKNOWN, 0, false},
        {D3DFMT_D32F_LOCKABLE, 0, false},
        {static_cast<D3DFORMAT>(999), 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatBits(c.format), c.bits) << Name(c.format) << " (" << c.format << ")";
        EXPECT_EQ(FormatHasAlpha(c.format), c.alpha) << Name(c.format) << " (" << c.format << ")";
    }
}

TEST(FormatFacts, ChannelsGiveShiftAndWidthOfEachChannel) {
    // red, green, blue, alpha, luminance: (shift, bits) each.
    const struct {
        D3DFORMAT format;
        FormatChannelBits expected;
    } cases[] = {
        {D3DFMT_R8G8B8, {16, 8, 8, 8, 0, 8, 0, 0, 0, 0}},
        {D3DFMT_A8R8G8B8, {16, 8, 8, 8, 0, 8, 24, 8, 0, 0}},
        {D3DFMT_X8R8G8B8, {16, 8, 8, 8, 0, 8, 0, 0, 0, 0}},
        {D3DFMT_R5G6B5, {11, 5, 5, 6, 0, 5, 0, 0, 0, 0}},
        {D3DFMT_X1R5G5B5, {10, 5, 5, 5, 0, 5, 0, 0, 0, 0}},
        {D3DFMT_A1R5G5B5, {10, 5, 5, 5, 0, 5, 15, 1, 0, 0}},
        {D3DFMT_A4R4G4B4, {8, 4, 4, 4, 0, 4, 12, 4, 0, 0}},
        {D3DFMT_R3G3B2, {5, 3, 2, 3, 0, 2, 0, 0, 0, 0}},
        {D3DFMT_A8, {0, 0, 0, 0, 0, 0, 0, 8, 0, 0}},
        {D3DFMT_A8R3G3B2, {5, 3, 2, 3, 0, 2, 8, 8, 0, 0}},
        {D3DFMT_X4R4G4B4, {8, 4, 4, 4, 0, 4, 0, 0, 0, 0}},
        {D3DFMT_A2B10G10R10, {0, 10, 10, 10, 20, 10, 30, 2, 0, 0}},
        {D3DFMT_A8B8G8R8, {0, 8, 8, 8, 16, 8, 24, 8, 0, 0}},
        {D3DFMT_X8B8G8R8, {0, 8, 8, 8, 16, 8, 0, 0, 0, 0}},
        {D3DFMT_G16R16, {0, 16, 16, 16, 0, 0, 0, 0, 0, 0}},
        {D3DFMT_A2R10G10B10, {20, 10, 10, 10, 0, 10, 30, 2, 0, 0}},
        {D3DFMT_A16B16G16R16, {0, 16, 16, 16, 32, 16, 48, 16, 0, 0}},
        {D3DFMT_A8P8, {0, 0, 0, 0, 0, 0, 8, 8, 0, 0}},
        {D3DFMT_L8, {0, 0, 0, 0, 0, 0, 0, 0, 0, 8}},
        {D3DFMT_A8L8, {0, 8, 0, 0, 0, 0, 8, 8, 0, 0}},
        {D3DFMT_A4L4, {0, 4, 0, 0, 0, 0, 4, 4, 0, 0}},
        {D3DFMT_P8, {}},
        {D3DFMT_L16, {}},
        {D3DFMT_DXT1, {}},
    };
    for (const auto& c : cases) {
        const FormatChannelBits a = FormatChannels(c.format);
        const FormatChannelBits& e = c.expected;
        const uint32_t actual[] = {a.redShift,       a.redBits,      a.greenShift, a.greenBits,
                                   a.blueShift,      a.blueBits,     a.alphaShift, a.alphaBits,
                                   a.luminanceShift, a.luminanceBits};
        const uint32_t expected[] = {e.redShift,       e.redBits,      e.greenShift, e.greenBits,
                                     e.blueShift,      e.blueBits,     e.alphaShift, e.alphaBits,
                                     e.luminanceShift, e.luminanceBits};
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(actual[i], expected[i]) << Name(c.format) << " value " << i;
        // Where the layout has bits, the channels fill exactly the format's bits.
        const uint32_t sum = a.redBits + a.greenBits + a.blueBits + a.alphaBits + a.luminanceBits;
        if (sum != 0 && c.format != D3DFMT_X8R8G8B8 && c.format != D3DFMT_X1R5G5B5 &&
            c.format != D3DFMT_X4R4G4B4 && c.format != D3DFMT_X8B8G8R8 && c.format != D3DFMT_A8P8) {
            EXPECT_EQ(static_cast<int>(sum), FormatBits(c.format)) << Name(c.format);
        }
    }
}

TEST(FormatFacts, ParseFormatNameKnowsSevenNamesExactly) {
    const struct {
        const char* text;
        D3DFORMAT format;
    } cases[] = {
        {"D3DFMT_R8G8B8", D3DFMT_R8G8B8},
        {"D3DFMT_A8R8G8B8", D3DFMT_A8R8G8B8},
        {"D3DFMT_X8R8G8B8", D3DFMT_X8R8G8B8},
        {"D3DFMT_R5G6B5", D3DFMT_R5G6B5},
        {"D3DFMT_X1R5G5B5", D3DFMT_X1R5G5B5},
        {"D3DFMT_A1R5G5B5", D3DFMT_A1R5G5B5},
        {"D3DFMT_A4R4G4B4", D3DFMT_A4R4G4B4},
        {"d3dfmt_a8r8g8b8", D3DFMT_UNKNOWN},
        {"A8R8G8B8", D3DFMT_UNKNOWN},
        {"D3DFMT_DXT1", D3DFMT_UNKNOWN},
        {"D3DFMT_A8R8G8B8 ", D3DFMT_UNKNOWN},
        {"", D3DFMT_UNKNOWN},
        {nullptr, D3DFMT_UNKNOWN},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseFormatName(c.text), c.format) << (c.text != nullptr ? c.text : "(null)");
    }
}

TEST(FormatFacts, NamesForTheTrace) {
    EXPECT_EQ(Name(D3DFMT_UNKNOWN), "UNKNOWN");
    EXPECT_EQ(Name(D3DFMT_R8G8B8), "R8G8B8");
    EXPECT_EQ(Name(D3DFMT_D24S8), "D24S8");
    EXPECT_EQ(Name(D3DFMT_A32B32G32R32F), "A32B32G32R32F");
    EXPECT_EQ(Name(D3DFMT_CxV8U8), "CxV8U8");
    EXPECT_EQ(Name(D3DFMT_MULTI2_ARGB8), "MULTI2_ARGB8");
    EXPECT_EQ(Name(D3DFMT_DXT1), "DXT1");
    EXPECT_EQ(Name(D3DFMT_DXT5), "DXT5");
    EXPECT_EQ(Name(D3DFMT_YUY2), "YUY2");
    EXPECT_EQ(Name(D3DFMT_UYVY), "UYVY");
    EXPECT_EQ(Name(D3DFMT_D32F_LOCKABLE), "Unknown format");
    EXPECT_EQ(Name(D3DFMT_D24FS8), "Unknown format");
    EXPECT_EQ(Name(static_cast<D3DFORMAT>(999)), "Unknown format");

    EXPECT_STREQ(MultiSampleName(D3DMULTISAMPLE_NONE), "D3DMULTISAMPLE_NONE");
    EXPECT_STREQ(MultiSampleName(D3DMULTISAMPLE_NONMASKABLE), "D3DMULTISAMPLE_NONMASKABLE");
    EXPECT_STREQ(MultiSampleName(D3DMULTISAMPLE_2_SAMPLES), "D3DMULTISAMPLE_2_SAMPLES");
    EXPECT_STREQ(MultiSampleName(D3DMULTISAMPLE_16_SAMPLES), "D3DMULTISAMPLE_16_SAMPLES");
    EXPECT_STREQ(MultiSampleName(static_cast<D3DMULTISAMPLE_TYPE>(17)), "Unknown Multisample Type");
    EXPECT_STREQ(MultiSampleName(static_cast<D3DMULTISAMPLE_TYPE>(-1)), "Unknown Multisample Type");

    EXPECT_STREQ(VertexProcessingName(0), "SOFTWARE_VP");
    EXPECT_STREQ(VertexProcessingName(1), "MIXED_VP");
    EXPECT_STREQ(VertexProcessingName(2), "HARDWARE_VP");
    EXPECT_STREQ(VertexProcessingName(3), "PURE_HARDWARE_VP");
    EXPECT_STREQ(VertexProcessingName(4), "Unknown VertexProcessingType");
    EXPECT_STREQ(VertexProcessingName(-1), "Unknown VertexProcessingType");

    EXPECT_STREQ(PresentIntervalName(D3DPRESENT_INTERVAL_IMMEDIATE),
                 "D3DPRESENT_INTERVAL_IMMEDIATE");
    EXPECT_STREQ(PresentIntervalName(D3DPRESENT_INTERVAL_DEFAULT), "D3DPRESENT_INTERVAL_DEFAULT");
    EXPECT_STREQ(PresentIntervalName(D3DPRESENT_INTERVAL_ONE), "D3DPRESENT_INTERVAL_ONE");
    EXPECT_STREQ(PresentIntervalName(D3DPRESENT_INTERVAL_TWO), "D3DPRESENT_INTERVAL_TWO");
    EXPECT_STREQ(PresentIntervalName(D3DPRESENT_INTERVAL_THREE), "D3DPRESENT_INTERVAL_THREE");
    EXPECT_STREQ(PresentIntervalName(D3DPRESENT_INTERVAL_FOUR), "D3DPRESENT_INTERVAL_FOUR");
    EXPECT_STREQ(PresentIntervalName(3), "Unknown PresentInterval");
}

TEST(FormatFacts, DeclTypeSizes) {
    const int expected[] = {4, 8, 12, 16, 4, 4, 4, 8, 4, 4, 8, 4, 8, 4, 4, 4, 8};
    for (int type = D3DDECLTYPE_FLOAT1; type <= D3DDECLTYPE_FLOAT16_4; ++type) {
        EXPECT_EQ(DeclTypeSize(type), expected[type]) << "type " << type;
    }
    EXPECT_EQ(DeclTypeSize(D3DDECLTYPE_UDEC3), 4);
    EXPECT_EQ(DeclTypeSize(D3DDECLTYPE_UNUSED), 0);
    EXPECT_EQ(DeclTypeSize(18), 0);
    EXPECT_EQ(DeclTypeSize(255), 0);
    EXPECT_EQ(DeclTypeSize(-1), 0);
}

}  // namespace
