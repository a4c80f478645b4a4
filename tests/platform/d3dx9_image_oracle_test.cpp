// The picture decoders against outside decoders, pixel by pixel: each test picture is made at
// test time by Debian's tools (or written here where no tool writes that variant) and must
// decode as ImageMagick's convert decodes it (PNG, TGA, BMP, uncompressed DDS), exactly as
// djpeg decodes it (JPEG: the same library with its default settings), or within 2 per channel
// of both convert and nvdecompress (DXT, whose decoders may round differently).
//
// Channels stored with fewer than 8 bits (5-bit TGA, BMP and DDS colour) are compared at their
// stored precision: the tools widen them to 8 bits each in their own way.

#include "platform/d3dx9/image_decode.h"
#include "platform/d3dx9/pixel_formats.h"
#include "tests/platform/image_test_support.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

using rh::d3dx9::DecodedImage;
using rh::d3dx9::DecodeImage;
using rh::d3dx9::DecodeLimits;
using rh::testing::Rgba;

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}
uint32_t Be32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}
void AppendLe16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void AppendLe32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// An 8-bit value reduced to `bits` bits, rounding to nearest.
uint32_t Reduce(uint32_t v, uint32_t bits) { return (v * ((1u << bits) - 1) + 127) / 255; }

class ImageOracleTest : public ::testing::Test {
protected:
    void SetUp() override { scratch_.emplace("rh_image"); }

    std::string Dir() const { return scratch_->path(); }
    std::string PathOf(const std::string& file) const { return scratch_->Path(file); }

    // Runs convert on the test pattern with `options`, writing `output` (a file name, possibly
    // with a "format:" prefix). With `wide`, the source samples are 16-bit.
    ::testing::AssertionResult MakeWithConvert(const Rgba& source, const std::string& options,
                                               const std::string& output, bool wide = false) {
        std::string convert;
        if (auto found = rh::testing::FindTool("convert", &convert); !found) return found;
        const std::string size = std::to_string(source.width) + "x" + std::to_string(source.height);
        std::string input;
        if (wide) {
            rh::testing::WriteRawRgba16(PathOf("source16.raw"), source, source.width);
            input = "-size " + size + " -depth 16 -endian LSB rgba:source16.raw";
        } else {
            rh::testing::WriteRawRgba(PathOf("source.raw"), source);
            input = "-size " + size + " -depth 8 rgba:source.raw";
        }
        return rh::testing::RunCommand(Dir(), convert + " " + input + " " + options + " " +
                                                  rh::testing::Quote(output));
    }

    ::testing::AssertionResult RunTool(const std::string& tool, const std::string& arguments) {
        std::string path;
        if (auto found = rh::testing::FindTool(tool, &path); !found) return found;
        return rh::testing::RunCommand(Dir(), path + " " + arguments);
    }

    // Decodes `bytes`, and checks that ReadImageInfo reports the same info as the decode.
    ::testing::AssertionResult Decode(const std::vector<uint8_t>& bytes, DecodedImage* image) {
        const HRESULT hr = DecodeImage(bytes.data(), bytes.size(), DecodeLimits{}, image);
        if (hr != S_OK) return ::testing::AssertionFailure() << "DecodeImage: 0x" << std::hex << hr;
        D3DXIMAGE_INFO info{};
        if (rh::d3dx9::ReadImageInfo(bytes.data(), bytes.size(), &info) != S_OK) {
            return ::testing::AssertionFailure() << "ReadImageInfo failed on a good file";
        }
        if (std::memcmp(&info, &image->info, sizeof(info)) != 0) {
            return ::testing::AssertionFailure() << "ReadImageInfo differs from the decode's info";
        }
        return ::testing::AssertionSuccess();
    }

    // Compares every level of every face with the oracle's decoding.
    void ExpectEqualsOracle(const DecodedImage& image, const std::function<::testing::AssertionResult(
                                                           uint32_t face, uint32_t level, Rgba*)>& oracle,
                            D3DFORMAT precisionFormat, int tolerance) {
        int bits[4];
        rh::testing::ChannelPrecision(precisionFormat, bits);
        for (uint32_t face = 0; face < image.faces; ++face) {
            for (uint32_t level = 0; level < image.levels; ++level) {
                Rgba expected;
                ASSERT_TRUE(oracle(face, level, &expected)) << "face " << face << " level " << level;
                EXPECT_TRUE(rh::testing::SamePixels(rh::testing::LevelAsRgba(image, face, level),
                                                    expected, bits, tolerance))
                    << "face " << face << " level " << level;
            }
        }
    }

    std::optional<rh::testing::ScratchDir> scratch_;
};

// ---------------------------------------------------------------------------------------------
// PNG

struct PngCase {
    const char* name;
    uint32_t width, height;
    bool wide;  // 16-bit source samples
    const char* options;
    int depth, colorType, interlace;  // what the file must turn out to be
    D3DFORMAT format, fileFormat;
    bool transparency = false;  // the file must have a tRNS chunk
    const char* output = "picture.png";
};

const PngCase kPngCases[] = {
    {"RGBA 8-bit", 37, 23, false, "-define png:color-type=6", 8, 6, 0, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8},
    {"RGBA 16-bit", 19, 11, true, "-define png:color-type=6 -define png:bit-depth=16", 16, 6, 0, D3DFMT_A8R8G8B8, D3DFMT_A16B16G16R16},
    {"RGB 8-bit", 37, 23, false, "-alpha off -define png:color-type=2", 8, 2, 0, D3DFMT_X8R8G8B8, D3DFMT_R8G8B8},
    {"RGB 16-bit", 19, 11, true, "-alpha off -define png:color-type=2 -define png:bit-depth=16", 16, 2, 0, D3DFMT_X8R8G8B8, D3DFMT_A16B16G16R16},
    {"grey 1-bit", 37, 23, false, "-alpha off -colorspace Gray -define png:color-type=0 -define png:bit-depth=1", 1, 0, 0, D3DFMT_L8, D3DFMT_L8},
    {"grey 2-bit", 37, 23, false, "-alpha off -colorspace Gray -define png:color-type=0 -define png:bit-depth=2", 2, 0, 0, D3DFMT_L8, D3DFMT_L8},
    {"grey 4-bit", 37, 23, false, "-alpha off -colorspace Gray -define png:color-type=0 -define png:bit-depth=4", 4, 0, 0, D3DFMT_L8, D3DFMT_L8},
    {"grey 8-bit", 37, 23, false, "-alpha off -colorspace Gray -define png:color-type=0", 8, 0, 0, D3DFMT_L8, D3DFMT_L8},
    {"grey 16-bit", 19, 11, true, "-alpha off -colorspace Gray -define png:color-type=0 -define png:bit-depth=16", 16, 0, 0, D3DFMT_L8, D3DFMT_L16},
    {"grey and alpha 8-bit", 37, 23, false, "-colorspace Gray -define png:color-type=4", 8, 4, 0, D3DFMT_A8L8, D3DFMT_A8L8},
    {"grey and alpha 16-bit", 19, 11, true, "-colorspace Gray -define png:color-type=4 -define png:bit-depth=16", 16, 4, 0, D3DFMT_A8L8, D3DFMT_A16B16G16R16},
    {"palette 1-bit", 37, 23, false, "-alpha off -colors 2 -depth 1 -define png:color-type=3", 1, 3, 0, D3DFMT_X8R8G8B8, D3DFMT_P8},
    {"palette 2-bit", 37, 23, false, "-alpha off -colors 3 -define png:color-type=3", 2, 3, 0, D3DFMT_X8R8G8B8, D3DFMT_P8},
    {"palette 4-bit", 37, 23, false, "-alpha off -colors 14 -define png:color-type=3", 4, 3, 0, D3DFMT_X8R8G8B8, D3DFMT_P8},
    {"palette 8-bit", 37, 23, false, "-alpha off -colors 200 -define png:color-type=3", 8, 3, 0, D3DFMT_X8R8G8B8, D3DFMT_P8},
    {"palette with tRNS", 37, 23, false, "-channel A -threshold 50% +channel", 8, 3, 0, D3DFMT_A8R8G8B8, D3DFMT_P8, true, "png8:picture.png"},
    {"RGB with tRNS", 37, 23, false, "-channel A -threshold 50% +channel -define png:color-type=2", 8, 2, 0, D3DFMT_A8R8G8B8, D3DFMT_R8G8B8, true},
    {"grey with tRNS", 37, 23, false, "-channel A -threshold 50% +channel -colorspace Gray -define png:color-type=0", 8, 0, 0, D3DFMT_A8L8, D3DFMT_L8, true},
    {"interlaced RGBA", 37, 23, false, "-interlace PNG -define png:color-type=6", 8, 6, 1, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8},
    {"interlaced grey 4-bit", 37, 23, false, "-alpha off -colorspace Gray -interlace PNG -define png:color-type=0 -define png:bit-depth=4", 4, 0, 1, D3DFMT_L8, D3DFMT_L8},
    {"interlaced palette", 37, 23, false, "-alpha off -colors 200 -interlace PNG -define png:color-type=3", 8, 3, 1, D3DFMT_X8R8G8B8, D3DFMT_P8},
    {"interlaced 16-bit RGBA", 19, 11, true, "-interlace PNG -define png:color-type=6 -define png:bit-depth=16", 16, 6, 1, D3DFMT_A8R8G8B8, D3DFMT_A16B16G16R16},
    {"1x1 RGBA", 1, 1, false, "-define png:color-type=6", 8, 6, 0, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8},
    {"interlaced 3x2, empty passes", 3, 2, false, "-interlace PNG -define png:color-type=6", 8, 6, 1, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8},
};

bool HasChunk(const std::vector<uint8_t>& png, const char* type) {
    for (size_t at = 8; at + 8 <= png.size(); at += 12 + Be32(png, at)) {
        if (std::memcmp(&png[at + 4], type, 4) == 0) return true;
    }
    return false;
}

// 16-bit samples are reduced to 8 bits rounding to nearest (v * 255 / 65535), as documented
// beside the decoder; convert hands over its 16-bit samples for those cases.
TEST_F(ImageOracleTest, PngDecodesAsConvertDoes) {
    uint32_t seed = 0;
    for (const PngCase& c : kPngCases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(MakeWithConvert(rh::testing::TestPattern(c.width, c.height, ++seed), c.options,
                                    c.output, c.wide));
        const std::vector<uint8_t> bytes = rh::testing::ReadBytes(PathOf("picture.png"));
        ASSERT_GT(bytes.size(), 33u);
        // The tool made the variant this case is about.
        ASSERT_EQ(Be32(bytes, 16), c.width);
        ASSERT_EQ(Be32(bytes, 20), c.height);
        ASSERT_EQ(bytes[24], c.depth);
        ASSERT_EQ(bytes[25], c.colorType);
        ASSERT_EQ(bytes[28], c.interlace);
        ASSERT_EQ(HasChunk(bytes, "tRNS"), c.transparency);

        DecodedImage image;
        ASSERT_TRUE(Decode(bytes, &image));
        EXPECT_EQ(image.format, c.format);
        EXPECT_EQ(image.info.Format, c.fileFormat);
        EXPECT_EQ(image.info.ImageFileFormat, D3DXIFF_PNG);
        EXPECT_EQ(image.info.ResourceType, D3DRTYPE_TEXTURE);
        EXPECT_EQ(image.info.Depth, 1u);
        EXPECT_EQ(image.info.MipLevels, 1u);
        EXPECT_EQ(image.levels, 1u);
        EXPECT_EQ(image.faces, 1u);
        ExpectEqualsOracle(
            image,
            [&](uint32_t, uint32_t, Rgba* out) {
                return rh::testing::ConvertDecode(Dir(), "picture.png", -1, out, c.depth == 16);
            },
            image.format, 0);
    }
}

// ---------------------------------------------------------------------------------------------
// JPEG

struct JpegCase {
    const char* name;
    uint32_t width, height;
    const char* options;
    int frameMarker;  // 0xC0 baseline, 0xC2 progressive
    int components;
    int lumaH, lumaV;  // sampling factors of the first component
    D3DFORMAT format;
};

const JpegCase kJpegCases[] = {
    {"baseline 4:2:0", 37, 23, "-alpha off -quality 85 -sampling-factor 2x2", 0xC0, 3, 2, 2, D3DFMT_X8R8G8B8},
    {"baseline 4:4:4", 37, 23, "-alpha off -quality 92 -sampling-factor 1x1", 0xC0, 3, 1, 1, D3DFMT_X8R8G8B8},
    {"baseline 4:2:2", 37, 23, "-alpha off -sampling-factor 2x1", 0xC0, 3, 2, 1, D3DFMT_X8R8G8B8},
    {"progressive 4:2:0", 37, 23, "-alpha off -interlace Plane -sampling-factor 2x2", 0xC2, 3, 2, 2, D3DFMT_X8R8G8B8},
    {"progressive 4:4:4", 37, 23, "-alpha off -interlace Plane -sampling-factor 1x1", 0xC2, 3, 1, 1, D3DFMT_X8R8G8B8},
    {"grey baseline", 37, 23, "-alpha off -colorspace Gray", 0xC0, 1, 1, 1, D3DFMT_L8},
    {"grey progressive", 37, 23, "-alpha off -colorspace Gray -interlace Plane", 0xC2, 1, 1, 1, D3DFMT_L8},
    {"1x1 4:2:0", 1, 1, "-alpha off -sampling-factor 2x2", 0xC0, 3, 2, 2, D3DFMT_X8R8G8B8},
    {"partial blocks 4:2:0", 17, 9, "-alpha off -quality 50 -sampling-factor 2x2", 0xC0, 3, 2, 2, D3DFMT_X8R8G8B8},
    {"larger progressive", 160, 97, "-alpha off -interlace Plane -quality 75", 0xC2, 3, 2, 2, D3DFMT_X8R8G8B8},
};

// The frame header's marker, component count and first sampling factors.
bool FindFrame(const std::vector<uint8_t>& b, int* marker, int* components, int* h, int* v) {
    size_t at = 2;
    while (at + 4 <= b.size() && b[at] == 0xFF) {
        const int m = b[at + 1];
        const size_t length = size_t(b[at + 2]) << 8 | b[at + 3];
        if (m >= 0xC0 && m <= 0xC2 && at + 12 <= b.size()) {
            *marker = m;
            *components = b[at + 9];
            *h = b[at + 11] >> 4;
            *v = b[at + 11] & 15;
            return true;
        }
        at += 2 + length;
    }
    return false;
}

TEST_F(ImageOracleTest, JpegDecodesExactlyAsDjpegDoes) {
    uint32_t seed = 100;
    for (const JpegCase& c : kJpegCases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(MakeWithConvert(rh::testing::TestPattern(c.width, c.height, ++seed), c.options,
                                    "picture.jpg"));
        const std::vector<uint8_t> bytes = rh::testing::ReadBytes(PathOf("picture.jpg"));
        int marker = 0, components = 0, h = 0, v = 0;
        ASSERT_TRUE(FindFrame(bytes, &marker, &components, &h, &v));
        ASSERT_EQ(marker, c.frameMarker);
        ASSERT_EQ(components, c.components);
        ASSERT_EQ(h, c.lumaH);
        ASSERT_EQ(v, c.lumaV);

        DecodedImage image;
        ASSERT_TRUE(Decode(bytes, &image));
        EXPECT_EQ(image.format, c.format);
        EXPECT_EQ(image.info.Format, c.format);
        EXPECT_EQ(image.info.ImageFileFormat, D3DXIFF_JPG);
        EXPECT_EQ(image.info.Width, c.width);
        EXPECT_EQ(image.info.Height, c.height);
        ExpectEqualsOracle(
            image,
            [&](uint32_t, uint32_t, Rgba* out) {
                return rh::testing::DjpegDecode(Dir(), "picture.jpg", out);
            },
            image.format, 0);
    }
}

// ---------------------------------------------------------------------------------------------
// TGA

struct TgaCase {
    const char* name;
    uint32_t width, height;
    const char* options;
    std::function<void(std::vector<uint8_t>&)> patch;  // applied to convert's file, or null
    int type, bits, descriptor;                        // what the file must turn out to be
    D3DFORMAT format, fileFormat;
};

// The low descriptor bits count the attribute (alpha) bits of a pixel; bit 4 stores rows right
// to left, bit 5 from the top.
const TgaCase kTgaCases[] = {
    {"32-bit", 37, 23, "", nullptr, 2, 32, 0x08, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8},
    {"24-bit", 37, 23, "-alpha off", nullptr, 2, 24, 0x00, D3DFMT_X8R8G8B8, D3DFMT_R8G8B8},
    {"16-bit with an alpha bit", 37, 23, "-depth 5", nullptr, 2, 16, 0x01, D3DFMT_A8R8G8B8, D3DFMT_A1R5G5B5},
    {"32-bit RLE", 37, 23, "-compress RLE", nullptr, 10, 32, 0x08, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8},
    {"24-bit RLE", 37, 23, "-alpha off -compress RLE", nullptr, 10, 24, 0x00, D3DFMT_X8R8G8B8, D3DFMT_R8G8B8},
    {"16-bit RLE", 37, 23, "-depth 5 -compress RLE", nullptr, 10, 16, 0x01, D3DFMT_A8R8G8B8, D3DFMT_A1R5G5B5},
    {"RLE runs of a flat picture", 300, 5, "-alpha off -channel R -evaluate set 20% -channel G -evaluate set 50% -channel B -evaluate set 70% +channel -compress RLE", nullptr, 10, 24, 0x00, D3DFMT_X8R8G8B8, D3DFMT_R8G8B8},
    {"top-left origin", 37, 23, "-orient TopLeft", nullptr, 2, 32, 0x28, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8},
    {"top-left origin RLE", 37, 23, "-orient TopLeft -alpha off -compress RLE", nullptr, 10, 24, 0x20, D3DFMT_X8R8G8B8, D3DFMT_R8G8B8},
    {"colour map", 37, 23, "-alpha off -type Palette", nullptr, 1, 8, 0x00, D3DFMT_X8R8G8B8, D3DFMT_P8},
    {"colour map RLE", 37, 23, "-alpha off -type Palette -compress RLE", nullptr, 9, 8, 0x00, D3DFMT_X8R8G8B8, D3DFMT_P8},
    {"grey", 37, 23, "-alpha off -type Grayscale", nullptr, 3, 8, 0x00, D3DFMT_L8, D3DFMT_L8},
    {"grey RLE", 37, 23, "-alpha off -type Grayscale -compress RLE", nullptr, 11, 8, 0x00, D3DFMT_L8, D3DFMT_L8},
    {"right to left", 37, 23, "-alpha off", [](std::vector<uint8_t>& b) { b[17] |= 0x10; }, 2, 24, 0x10, D3DFMT_X8R8G8B8, D3DFMT_R8G8B8},
    {"15-bit", 37, 23, "-depth 5", [](std::vector<uint8_t>& b) { b[16] = 15, b[17] = 0; }, 2, 15, 0x00, D3DFMT_X8R8G8B8, D3DFMT_X1R5G5B5},
    {"16-bit without alpha bits: opaque", 37, 23, "-depth 5", [](std::vector<uint8_t>& b) { b[17] = 0; }, 2, 16, 0x00, D3DFMT_X8R8G8B8, D3DFMT_X1R5G5B5},
    {"32-bit without alpha bits: alpha all the same", 37, 23, "", [](std::vector<uint8_t>& b) { b[17] = 0; }, 2, 32, 0x00, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8},
    {"1x1", 1, 1, "", nullptr, 2, 32, 0x08, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8},
};

TEST_F(ImageOracleTest, TgaDecodesAsConvertDoes) {
    uint32_t seed = 200;
    for (const TgaCase& c : kTgaCases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(MakeWithConvert(rh::testing::TestPattern(c.width, c.height, ++seed), c.options,
                                    "made.tga"));
        std::vector<uint8_t> bytes = rh::testing::ReadBytes(PathOf("made.tga"));
        ASSERT_GE(bytes.size(), 18u);
        if (c.patch) c.patch(bytes);
        rh::testing::WriteBytes(PathOf("picture.tga"), bytes);
        ASSERT_EQ(bytes[2], c.type);
        ASSERT_EQ(bytes[16], c.bits);
        ASSERT_EQ(bytes[17], c.descriptor);

        DecodedImage image;
        ASSERT_TRUE(Decode(bytes, &image));
        EXPECT_EQ(image.format, c.format);
        EXPECT_EQ(image.info.Format, c.fileFormat);
        EXPECT_EQ(image.info.ImageFileFormat, D3DXIFF_TGA);
        ExpectEqualsOracle(
            image,
            [&](uint32_t, uint32_t, Rgba* out) {
                return rh::testing::ConvertDecode(Dir(), "picture.tga", -1, out);
            },
            image.info.Format, 0);
    }
}

// Pictures the tools do not write: grey with an alpha byte, and a colour map whose first entry
// is not 0, checked against the values written.
TEST_F(ImageOracleTest, TgaGreyWithAlphaAndOffsetColourMap) {
    // 3x2 grey and alpha (type 3, 16 bits, 8 attribute bits), top row first.
    std::vector<uint8_t> grey = {0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2, 0, 16, 0x28};
    const uint8_t greyPixels[] = {10, 0, 20, 128, 30, 255, 40, 7, 50, 9, 60, 250};
    grey.insert(grey.end(), std::begin(greyPixels), std::end(greyPixels));
    DecodedImage image;
    ASSERT_TRUE(Decode(grey, &image));
    ASSERT_EQ(image.format, D3DFMT_A8L8);
    const rh::d3dx9::ImageLevel& g = image.Level(0, 0);
    for (uint32_t y = 0; y < 2; ++y) {
        for (uint32_t x = 0; x < 3; ++x) {
            EXPECT_EQ(g.bits[y * g.pitch + 2 * x], greyPixels[(y * 3 + x) * 2]) << x << "," << y;
            EXPECT_EQ(g.bits[y * g.pitch + 2 * x + 1], greyPixels[(y * 3 + x) * 2 + 1]) << x << "," << y;
        }
    }

    // 2x1 colour-mapped with 32-bit entries numbered from 5.
    std::vector<uint8_t> mapped = {0, 1, 1, 5, 0, 2, 0, 32, 0, 0, 0, 0, 2, 0, 1, 0, 8, 0x28};
    const uint8_t entries[] = {1, 2, 3, 4, 50, 60, 70, 80};  // B, G, R, A
    mapped.insert(mapped.end(), std::begin(entries), std::end(entries));
    mapped.push_back(6);
    mapped.push_back(5);
    ASSERT_TRUE(Decode(mapped, &image));
    ASSERT_EQ(image.format, D3DFMT_A8R8G8B8);
    const uint8_t expected[] = {50, 60, 70, 80, 1, 2, 3, 4};
    EXPECT_EQ(std::vector<uint8_t>(image.Level(0, 0).bits, image.Level(0, 0).bits + 8),
              std::vector<uint8_t>(std::begin(expected), std::end(expected)));
}

// ---------------------------------------------------------------------------------------------
// BMP

// A BMP written here: `bits` of 16, 24 or 32 with the given masks (BI_BITFIELDS, or BI_RGB
// when all are 0; ALPHABITFIELDS with `alphaFields`), or 4 with a palette and RLE4.
std::vector<uint8_t> WriteBmp(const Rgba& picture, uint32_t bits, const uint32_t masks[4],
                              bool alphaFields, bool topDown) {
    const uint32_t w = picture.width, h = picture.height;
    const bool fields = masks[0] | masks[1] | masks[2] | masks[3];
    const uint32_t maskCount = fields ? (alphaFields ? 4 : 3) : 0;
    const uint32_t stride = (w * bits + 31) / 32 * 4;
    std::vector<uint8_t> data;
    for (uint32_t r = 0; r < h; ++r) {
        const uint32_t y = topDown ? r : h - 1 - r;
        const size_t rowStart = data.size();
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* p = picture.At(x, y);
            if (bits == 24) {
                data.insert(data.end(), {p[2], p[1], p[0]});
                continue;
            }
            uint32_t word = 0;
            for (int c = 0; c < 4; ++c) {
                if (masks[c] == 0) continue;
                const int shift = __builtin_ctz(masks[c]);
                const uint32_t width = uint32_t(__builtin_popcount(masks[c]));
                word |= Reduce(p[c], width) << shift;
            }
            if (!fields && bits == 32) word = uint32_t(p[3]) << 24 | p[0] << 16 | p[1] << 8 | p[2];
            if (!fields && bits == 16) word = Reduce(p[0], 5) << 10 | Reduce(p[1], 5) << 5 | Reduce(p[2], 5);
            for (uint32_t i = 0; i < bits / 8; ++i) data.push_back(uint8_t(word >> (8 * i)));
        }
        data.resize(rowStart + stride, 0);
    }
    const uint32_t offset = 14 + 40 + 4 * maskCount;
    std::vector<uint8_t> out = {'B', 'M'};
    AppendLe32(out, offset + uint32_t(data.size()));
    AppendLe32(out, 0);
    AppendLe32(out, offset);
    AppendLe32(out, 40);
    AppendLe32(out, w);
    AppendLe32(out, topDown ? uint32_t(-int32_t(h)) : h);
    AppendLe16(out, 1);
    AppendLe16(out, bits);
    AppendLe32(out, fields ? (alphaFields ? 6 : 3) : 0);
    AppendLe32(out, uint32_t(data.size()));
    for (int i = 0; i < 4; ++i) AppendLe32(out, 0);
    for (uint32_t i = 0; i < maskCount; ++i) AppendLe32(out, masks[i]);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// A 4-bit RLE4 BMP of the picture's red channel (16 grey levels), runs and literal stretches
// of both parities, rows padded to two bytes, ending with the end-of-picture escape.
std::vector<uint8_t> WriteRle4Bmp(const Rgba& picture) {
    const uint32_t w = picture.width, h = picture.height;
    std::vector<uint8_t> data;
    for (uint32_t r = 0; r < h; ++r) {
        const uint32_t y = h - 1 - r;
        auto index = [&](uint32_t x) { return uint32_t(picture.At(x, y)[0] >> 4); };
        uint32_t x = 0;
        for (uint32_t piece = 0; x < w; ++piece) {
            const uint32_t n = std::min<uint32_t>(piece % 2 == 0 ? 5 : 4, w - x);
            if (piece % 3 != 2 && n >= 3) {  // a literal stretch of n indices
                data.push_back(0);
                data.push_back(uint8_t(n));
                size_t bytes = 0;
                for (uint32_t i = 0; i < n; i += 2, ++bytes) {
                    data.push_back(uint8_t(index(x + i) << 4 | (i + 1 < n ? index(x + i + 1) : 0)));
                }
                if (bytes % 2) data.push_back(0);
            } else {  // a run alternating two indices
                data.push_back(uint8_t(n));
                data.push_back(uint8_t(index(x) << 4 | (n > 1 ? index(x + 1) : 0)));
            }
            x += n;
        }
        data.push_back(0);
        data.push_back(r + 1 == h ? 1 : 0);
    }
    const uint32_t offset = 14 + 40 + 64;
    std::vector<uint8_t> out = {'B', 'M'};
    AppendLe32(out, offset + uint32_t(data.size()));
    AppendLe32(out, 0);
    AppendLe32(out, offset);
    AppendLe32(out, 40);
    AppendLe32(out, w);
    AppendLe32(out, h);
    AppendLe16(out, 1);
    AppendLe16(out, 4);
    AppendLe32(out, 2);  // RLE4
    AppendLe32(out, uint32_t(data.size()));
    AppendLe32(out, 0);
    AppendLe32(out, 0);
    AppendLe32(out, 16);
    AppendLe32(out, 0);
    for (uint32_t i = 0; i < 16; ++i) out.insert(out.end(), {uint8_t(i * 17), uint8_t(i * 17), uint8_t(i * 17), 0});
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

struct BmpCase {
    const char* name;
    uint32_t width, height;
    const char* options;  // for convert; empty when `write` makes the file
    const char* output;
    std::function<std::vector<uint8_t>(const Rgba&)> write;
    uint32_t bits, compression;  // what the file must turn out to be
    D3DFORMAT format, fileFormat;
};

const uint32_t kNoMasks[4] = {0, 0, 0, 0};
const uint32_t k565[4] = {0xF800, 0x07E0, 0x001F, 0};

const BmpCase kBmpCases[] = {
    {"1-bit palette", 37, 23, "-alpha off -type Bilevel", "bmp:picture.bmp", nullptr, 1, 0, D3DFMT_X8R8G8B8, D3DFMT_P8},
    {"4-bit palette", 37, 23, "-alpha off -colors 16 -compress None", "bmp:picture.bmp", nullptr, 4, 0, D3DFMT_X8R8G8B8, D3DFMT_P8},
    {"8-bit palette", 37, 23, "-alpha off -type Palette -compress None", "bmp:picture.bmp", nullptr, 8, 0, D3DFMT_X8R8G8B8, D3DFMT_P8},
    {"8-bit RLE8", 37, 23, "-alpha off -type Palette -compress RLE", "bmp:picture.bmp", nullptr, 8, 1, D3DFMT_X8R8G8B8, D3DFMT_P8},
    {"24-bit", 37, 23, "-alpha off", "bmp:picture.bmp", nullptr, 24, 0, D3DFMT_X8R8G8B8, D3DFMT_R8G8B8},
    {"32-bit with an alpha mask", 37, 23, "", "bmp:picture.bmp", nullptr, 32, 3, D3DFMT_A8R8G8B8, D3DFMT_A8R8G8B8},
    {"16-bit 1:5:5:5 bit fields", 37, 23, "-define bmp:subtype=ARGB1555", "bmp:picture.bmp", nullptr, 16, 3, D3DFMT_A8R8G8B8, D3DFMT_A1R5G5B5},
    {"40-byte header, 24-bit", 37, 23, "-alpha off", "bmp3:picture.bmp", nullptr, 24, 0, D3DFMT_X8R8G8B8, D3DFMT_R8G8B8},
    {"40-byte header, RLE8", 37, 23, "-alpha off -type Palette -compress RLE", "bmp3:picture.bmp", nullptr, 8, 1, D3DFMT_X8R8G8B8, D3DFMT_P8},
    {"OS/2 header, 8-bit", 37, 23, "-alpha off -type Palette", "bmp2:picture.bmp", nullptr, 8, 0, D3DFMT_X8R8G8B8, D3DFMT_P8},
    {"1x1 24-bit", 1, 1, "-alpha off", "bmp:picture.bmp", nullptr, 24, 0, D3DFMT_X8R8G8B8, D3DFMT_R8G8B8},
    {"top-down 24-bit", 37, 23, "", "", [](const Rgba& p) { return WriteBmp(p, 24, kNoMasks, false, true); }, 24, 0, D3DFMT_X8R8G8B8, D3DFMT_R8G8B8},
    {"16-bit 5:6:5 fields after the header", 37, 23, "", "", [](const Rgba& p) { return WriteBmp(p, 16, k565, false, false); }, 16, 3, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5},
    {"16-bit default 5:5:5", 37, 23, "", "", [](const Rgba& p) { return WriteBmp(p, 16, kNoMasks, false, false); }, 16, 0, D3DFMT_X8R8G8B8, D3DFMT_X1R5G5B5},
    {"top-down 16-bit 5:6:5", 21, 6, "", "", [](const Rgba& p) { return WriteBmp(p, 16, k565, false, true); }, 16, 3, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5},
    {"RLE4", 37, 23, "", "", WriteRle4Bmp, 4, 2, D3DFMT_X8R8G8B8, D3DFMT_P8},
    {"RLE4 odd width", 7, 5, "", "", WriteRle4Bmp, 4, 2, D3DFMT_X8R8G8B8, D3DFMT_P8},
};

TEST_F(ImageOracleTest, BmpDecodesAsConvertDoes) {
    uint32_t seed = 300;
    for (const BmpCase& c : kBmpCases) {
        SCOPED_TRACE(c.name);
        const Rgba source = rh::testing::TestPattern(c.width, c.height, ++seed);
        if (c.write) {
            rh::testing::WriteBytes(PathOf("picture.bmp"), c.write(source));
        } else {
            ASSERT_TRUE(MakeWithConvert(source, c.options, c.output));
        }
        const std::vector<uint8_t> bytes = rh::testing::ReadBytes(PathOf("picture.bmp"));
        ASSERT_GE(bytes.size(), 30u);
        const bool os2 = Le32(bytes, 14) == 12;
        ASSERT_EQ(bytes[os2 ? 24 : 28], c.bits);
        ASSERT_EQ(os2 ? 0 : Le32(bytes, 30), c.compression);

        DecodedImage image;
        ASSERT_TRUE(Decode(bytes, &image));
        EXPECT_EQ(image.format, c.format);
        EXPECT_EQ(image.info.Format, c.fileFormat);
        EXPECT_EQ(image.info.ImageFileFormat, D3DXIFF_BMP);
        ExpectEqualsOracle(
            image,
            [&](uint32_t, uint32_t, Rgba* out) {
                return rh::testing::ConvertDecode(Dir(), "picture.bmp", -1, out);
            },
            image.info.Format, 0);
    }
}

// What the tools read differently from the documented format: a 32-bit BI_RGB pixel's high
// byte is unused (not alpha), and ALPHABITFIELDS (which convert does not read) places alpha.
TEST_F(ImageOracleTest, BmpUnusedHighByteAndAlphaBitFields) {
    const Rgba source = rh::testing::TestPattern(9, 4, 7);
    DecodedImage image;
    ASSERT_TRUE(Decode(WriteBmp(source, 32, kNoMasks, false, false), &image));
    EXPECT_EQ(image.format, D3DFMT_X8R8G8B8);
    Rgba opaque = source;
    for (size_t i = 3; i < opaque.bytes.size(); i += 4) opaque.bytes[i] = 255;
    const int eight[4] = {8, 8, 8, 8};
    EXPECT_TRUE(rh::testing::SamePixels(rh::testing::LevelAsRgba(image, 0, 0), opaque, eight, 0));

    const uint32_t k4444[4] = {0x0F00, 0x00F0, 0x000F, 0xF000};
    ASSERT_TRUE(Decode(WriteBmp(source, 16, k4444, true, true), &image));
    EXPECT_EQ(image.format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(image.info.Format, D3DFMT_A4R4G4B4);
    const int four[4] = {4, 4, 4, 4};
    EXPECT_TRUE(rh::testing::SamePixels(rh::testing::LevelAsRgba(image, 0, 0), source, four, 0));
}

// ---------------------------------------------------------------------------------------------
// DDS

enum Oracles : unsigned { kConvert = 1, kNv = 2, kWritten = 4 };

struct MaskedFormat {
    uint32_t flags, bits, masks[4];  // pixel-format flags, bit count, R G B A masks
};

// A DDS of one level written here from the picture, with the given pixel format; luminance
// formats store the red channel.
std::vector<uint8_t> WriteMaskedDds(const Rgba& picture, const MaskedFormat& f) {
    std::vector<uint8_t> out = {'D', 'D', 'S', ' '};
    AppendLe32(out, 124);
    AppendLe32(out, 0x100F);  // caps, height, width, pitch, pixel format
    AppendLe32(out, picture.height);
    AppendLe32(out, picture.width);
    AppendLe32(out, picture.width * f.bits / 8);
    AppendLe32(out, 0);
    AppendLe32(out, 1);
    out.resize(out.size() + 44, 0);
    AppendLe32(out, 32);
    AppendLe32(out, f.flags);
    AppendLe32(out, 0);
    AppendLe32(out, f.bits);
    for (uint32_t m : f.masks) AppendLe32(out, m);
    AppendLe32(out, 0x1000);
    out.resize(128, 0);
    const bool luminance = (f.flags & 0x20000) != 0;
    for (uint32_t y = 0; y < picture.height; ++y) {
        for (uint32_t x = 0; x < picture.width; ++x) {
            const uint8_t* p = picture.At(x, y);
            uint64_t word = 0;
            for (int c = 0; c < 4; ++c) {
                if (f.masks[c] == 0) continue;
                const uint32_t value = luminance && c == 0 ? p[0] : p[c];
                word |= uint64_t(Reduce(value, __builtin_popcount(f.masks[c]))) << __builtin_ctz(f.masks[c]);
            }
            for (uint32_t i = 0; i < f.bits / 8; ++i) out.push_back(uint8_t(word >> (8 * i)));
        }
    }
    return out;
}

// What a masked DDS written by WriteMaskedDds holds, as RGBA.
Rgba ExpectedMasked(const Rgba& picture, const MaskedFormat& f) {
    Rgba out = picture;
    const bool luminance = (f.flags & 0x20000) != 0;
    for (size_t i = 0; i < out.bytes.size(); i += 4) {
        uint8_t* p = &out.bytes[i];
        if (luminance) p[1] = p[2] = p[0];
        if (!luminance && f.masks[0] == 0) p[0] = p[1] = p[2] = 0;  // alpha only
        if (f.masks[3] == 0) p[3] = 255;
    }
    return out;
}

class DdsOracleTest : public ImageOracleTest {
public:
    ::testing::AssertionResult Convert(const Rgba& p, const std::string& options) {
        return MakeWithConvert(p, options, "picture.dds");
    }
    ::testing::AssertionResult Nvcompress(const Rgba& p, const std::string& options) {
        if (auto made = MakeWithConvert(p, "", "source.tga"); !made) return made;
        return RunTool("nvcompress", options + " source.tga picture.dds");
    }
    // A cube map of six 16x16 faces of different pictures, compressed with `options` when
    // not empty.
    ::testing::AssertionResult Cube(const std::string& options) {
        std::string faces;
        for (uint32_t i = 0; i < 6; ++i) {
            const std::string name = "face" + std::to_string(i) + ".tga";
            if (auto made = MakeWithConvert(rh::testing::TestPattern(16, 16, 40 + i), "-alpha off", name);
                !made) {
                return made;
            }
            faces += " " + name;
        }
        // nvassemble writes output.dds.
        if (auto ran = RunTool("nvassemble", "-cube" + faces); !ran) return ran;
        if (!options.empty()) return RunTool("nvcompress", options + " output.dds picture.dds");
        rh::testing::WriteBytes(PathOf("picture.dds"), rh::testing::ReadBytes(PathOf("output.dds")));
        return ::testing::AssertionSuccess();
    }
};

struct DdsCase {
    const char* name;
    uint32_t width, height;
    // Makes "picture.dds" from the source picture, in the test's folder.
    std::function<::testing::AssertionResult(DdsOracleTest*, const Rgba&)> make;
    std::optional<MaskedFormat> masked;  // for pictures written here
    unsigned oracles;
    D3DFORMAT format;
    uint32_t levels, faces;
};


constexpr uint32_t kRgb = 0x40, kRgbA = 0x41, kLum = 0x20000, kLumA = 0x20001, kAlphaOnly = 0x2;

const DdsCase kDdsCases[] = {
    {"A8R8G8B8 (convert)", 37, 23, [](DdsOracleTest* t, const Rgba& p) { return t->Convert(p, "-define dds:compression=none"); }, {}, kConvert | kNv, D3DFMT_A8R8G8B8, 1, 1},
    {"R8G8B8 (convert)", 37, 23, [](DdsOracleTest* t, const Rgba& p) { return t->Convert(p, "-alpha off -define dds:compression=none"); }, {}, kConvert | kNv, D3DFMT_R8G8B8, 1, 1},
    {"DXT1 with mips (convert)", 64, 32, [](DdsOracleTest* t, const Rgba& p) { return t->Convert(p, "-define dds:compression=dxt1 -define dds:mipmaps=6"); }, {}, kConvert | kNv, D3DFMT_DXT1, 7, 1},
    {"DXT5 with mips (convert)", 32, 32, [](DdsOracleTest* t, const Rgba& p) { return t->Convert(p, "-define dds:compression=dxt5 -define dds:mipmaps=5"); }, {}, kConvert | kNv, D3DFMT_DXT5, 6, 1},
    {"DXT5 odd size (convert)", 37, 23, [](DdsOracleTest* t, const Rgba& p) { return t->Convert(p, "-define dds:compression=dxt5"); }, {}, kConvert | kNv, D3DFMT_DXT5, 1, 1},
    {"DXT1 (nvcompress)", 37, 23, [](DdsOracleTest* t, const Rgba& p) { return t->Nvcompress(p, "-bc1"); }, {}, kConvert | kNv, D3DFMT_DXT1, 6, 1},
    {"DXT1 with alpha (nvcompress)", 37, 23, [](DdsOracleTest* t, const Rgba& p) { return t->Nvcompress(p, "-alpha -bc1a"); }, {}, kConvert | kNv, D3DFMT_DXT1, 6, 1},
    {"DXT3 (nvcompress)", 37, 23, [](DdsOracleTest* t, const Rgba& p) { return t->Nvcompress(p, "-alpha -bc2"); }, {}, kConvert | kNv, D3DFMT_DXT3, 6, 1},
    {"DXT5 (nvcompress)", 37, 23, [](DdsOracleTest* t, const Rgba& p) { return t->Nvcompress(p, "-alpha -bc3"); }, {}, kConvert | kNv, D3DFMT_DXT5, 6, 1},
    {"A8R8G8B8 with mips (nvcompress)", 20, 12, [](DdsOracleTest* t, const Rgba& p) { return t->Nvcompress(p, "-alpha -rgb"); }, {}, kConvert | kNv, D3DFMT_A8R8G8B8, 5, 1},
    {"cube map (nvassemble)", 16, 16, [](DdsOracleTest* t, const Rgba&) { return t->Cube(""); }, {}, kConvert | kNv, D3DFMT_X8R8G8B8, 1, 6},
    {"DXT1 cube map with mips", 16, 16, [](DdsOracleTest* t, const Rgba&) { return t->Cube("-bc1"); }, {}, kConvert | kNv, D3DFMT_DXT1, 5, 6},
    {"DXT5 cube map with mips", 16, 16, [](DdsOracleTest* t, const Rgba&) { return t->Cube("-bc3"); }, {}, kConvert | kNv, D3DFMT_DXT5, 5, 6},
    {"R5G6B5", 13, 7, nullptr, MaskedFormat{kRgb, 16, {0xF800, 0x07E0, 0x001F, 0}}, kConvert | kNv | kWritten, D3DFMT_R5G6B5, 1, 1},
    {"A1R5G5B5", 13, 7, nullptr, MaskedFormat{kRgbA, 16, {0x7C00, 0x03E0, 0x001F, 0x8000}}, kConvert | kNv | kWritten, D3DFMT_A1R5G5B5, 1, 1},
    {"A4R4G4B4", 13, 7, nullptr, MaskedFormat{kRgbA, 16, {0x0F00, 0x00F0, 0x000F, 0xF000}}, kConvert | kNv | kWritten, D3DFMT_A4R4G4B4, 1, 1},
    {"X4R4G4B4", 13, 7, nullptr, MaskedFormat{kRgb, 16, {0x0F00, 0x00F0, 0x000F, 0}}, kNv | kWritten, D3DFMT_X4R4G4B4, 1, 1},
    {"A8B8G8R8", 13, 7, nullptr, MaskedFormat{kRgbA, 32, {0xFF, 0xFF00, 0xFF0000, 0xFF000000}}, kNv | kWritten, D3DFMT_A8B8G8R8, 1, 1},
    {"X8B8G8R8", 13, 7, nullptr, MaskedFormat{kRgb, 32, {0xFF, 0xFF00, 0xFF0000, 0}}, kNv | kWritten, D3DFMT_X8B8G8R8, 1, 1},
    {"A2B10G10R10", 13, 7, nullptr, MaskedFormat{kRgbA, 32, {0x3FF, 0xFFC00, 0x3FF00000, 0xC0000000}}, kNv | kWritten, D3DFMT_A2B10G10R10, 1, 1},
    {"R3G3B2", 13, 7, nullptr, MaskedFormat{kRgb, 8, {0xE0, 0x1C, 0x03, 0}}, kNv | kWritten, D3DFMT_R3G3B2, 1, 1},
    {"masks no format names: delivered as A8R8G8B8", 13, 7, nullptr, MaskedFormat{kRgbA, 32, {0xFF00, 0xFF, 0xFF000000, 0xFF0000}}, kNv | kWritten, D3DFMT_A8R8G8B8, 1, 1},
    {"L8", 13, 7, nullptr, MaskedFormat{kLum, 8, {0xFF, 0, 0, 0}}, kConvert | kWritten, D3DFMT_L8, 1, 1},
    {"A8L8", 13, 7, nullptr, MaskedFormat{kLumA, 16, {0xFF, 0, 0, 0xFF00}}, kWritten, D3DFMT_A8L8, 1, 1},
    {"L16", 13, 7, nullptr, MaskedFormat{kLum, 16, {0xFFFF, 0, 0, 0}}, kWritten, D3DFMT_L16, 1, 1},
    {"A8", 13, 7, nullptr, MaskedFormat{kAlphaOnly, 8, {0, 0, 0, 0xFF}}, kWritten, D3DFMT_A8, 1, 1},
};

TEST_F(DdsOracleTest, DdsDecodesAsConvertAndNvdecompressDo) {
    uint32_t seed = 400;
    for (const DdsCase& c : kDdsCases) {
        SCOPED_TRACE(c.name);
        const Rgba source = rh::testing::TestPattern(c.width, c.height, ++seed);
        if (c.masked) {
            rh::testing::WriteBytes(PathOf("picture.dds"), WriteMaskedDds(source, *c.masked));
        } else {
            ASSERT_TRUE(c.make(this, source));
        }
        const std::vector<uint8_t> bytes = rh::testing::ReadBytes(PathOf("picture.dds"));
        DecodedImage image;
        ASSERT_TRUE(Decode(bytes, &image));
        EXPECT_EQ(image.format, c.format);
        EXPECT_EQ(image.info.Format, c.format);
        EXPECT_EQ(image.info.ImageFileFormat, D3DXIFF_DDS);
        EXPECT_EQ(image.info.Width, c.width);
        EXPECT_EQ(image.info.Height, c.height);
        EXPECT_EQ(image.info.Depth, 1u);
        ASSERT_EQ(image.levels, c.levels);
        ASSERT_EQ(image.info.MipLevels, c.levels);
        ASSERT_EQ(image.faces, c.faces);
        EXPECT_EQ(image.info.ResourceType, c.faces == 6 ? D3DRTYPE_CUBETEXTURE : D3DRTYPE_TEXTURE);

        const bool dxt = rh::d3dx9::IsDxtFormat(c.format);
        const int tolerance = dxt ? 2 : 0;
        // Each level of each face alone, for tools that read only a file's first level.
        auto slice = [&](uint32_t face, uint32_t level) {
            const std::string name = "slice_" + std::to_string(face) + "_" + std::to_string(level) + ".dds";
            rh::testing::WriteBytes(PathOf(name), rh::testing::SliceDds(bytes, face, level));
            return name;
        };
        if (c.oracles & kConvert) {
            SCOPED_TRACE("against convert");
            ExpectEqualsOracle(
                image,
                [&](uint32_t face, uint32_t level, Rgba* out) {
                    return rh::testing::ConvertDecode(Dir(), slice(face, level), -1, out);
                },
                c.format, tolerance);
        }
        if (c.oracles & kNv) {
            SCOPED_TRACE("against nvdecompress");
            ExpectEqualsOracle(
                image,
                [&](uint32_t face, uint32_t level, Rgba* out) {
                    return rh::testing::NvDecompress(Dir(), slice(face, level), out);
                },
                c.format, tolerance);
        }
        if (c.oracles & kWritten) {
            SCOPED_TRACE("against the values written");
            const Rgba expected = ExpectedMasked(source, *c.masked);
            ExpectEqualsOracle(
                image,
                [&](uint32_t, uint32_t, Rgba* out) {
                    *out = expected;
                    return ::testing::AssertionSuccess();
                },
                c.format, 0);
        }
    }
}

// The slices above are cut with the documented layout; this checks the cut against the file's
// own decoding by convert, which reads every face of a cube map (and skips the mips itself).
TEST_F(DdsOracleTest, CubeFacesAgreeWithConvertReadingTheWholeFile) {
    ASSERT_TRUE(Cube("-bc3"));
    const std::vector<uint8_t> bytes = rh::testing::ReadBytes(PathOf("picture.dds"));
    DecodedImage image;
    ASSERT_TRUE(Decode(bytes, &image));
    ASSERT_EQ(image.faces, 6u);
    const int eight[4] = {8, 8, 8, 8};
    for (uint32_t face = 0; face < 6; ++face) {
        Rgba expected;
        ASSERT_TRUE(rh::testing::ConvertDecode(Dir(), "picture.dds", int(face), &expected));
        EXPECT_TRUE(rh::testing::SamePixels(rh::testing::LevelAsRgba(image, face, 0), expected, eight, 2))
            << "face " << face;
    }
}

}  // namespace
