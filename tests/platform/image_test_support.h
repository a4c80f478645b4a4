// Shared by the picture decoder tests: test pictures made at test time by Debian's tools
// (ImageMagick's convert, NVIDIA's texture tools, libjpeg-turbo's djpeg), which scripts/test
// installs, and what those tools decode them to, to compare ours with pixel by pixel.
#pragma once

#include "platform/d3dx9/image_decode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace rh::testing {

// RGBA bytes, row by row, top row first.
struct Rgba {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> bytes;

    const uint8_t* At(uint32_t x, uint32_t y) const { return &bytes[(size_t(y) * width + x) * 4]; }
};

// A picture with smooth gradients, noise, and alpha that takes 0, 255 and values between;
// `seed` varies it.
Rgba TestPattern(uint32_t width, uint32_t height, uint32_t seed);

// The tool's absolute path under /usr/bin, or a failure that names the Debian package to
// install. The tests run the tools by these paths, never through PATH.
::testing::AssertionResult FindTool(const std::string& name, std::string* path);

// The Debian package of each tool the tests use.
const char* PackageOfTool(const std::string& name);

// Runs a shell command line in `folder`; a failure carries its output.
::testing::AssertionResult RunCommand(const std::string& folder, const std::string& command);

// A word safe to put on a shell command line.
std::string Quote(const std::string& word);

std::vector<uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// Writes `picture` as raw samples (8-bit RGBA) to `path`, for convert's "rgba:" input.
void WriteRawRgba(const std::string& path, const Rgba& picture);
// 16-bit samples, little-endian, each the 8-bit sample times 257 plus `seed`-dependent low
// bits, for convert's "-depth 16 -endian LSB rgba:" input.
void WriteRawRgba16(const std::string& path, const Rgba& picture, uint32_t seed);

// What convert decodes `file` (or its frame `frame`, when not negative) to, turned upright, as
// 8-bit RGBA. With `sixteen` convert hands over 16-bit samples and they are rounded to 8 bits
// here (its own reduction to 8 bits is not always the nearest value).
::testing::AssertionResult ConvertDecode(const std::string& folder, const std::string& file,
                                         int frame, Rgba* out, bool sixteen = false);
// What djpeg (default settings) decodes a JPEG to, as RGBA (grey in all three, alpha 255).
::testing::AssertionResult DjpegDecode(const std::string& folder, const std::string& file,
                                       Rgba* out);
// What nvdecompress decodes a DDS file's top level to, as RGBA.
::testing::AssertionResult NvDecompress(const std::string& folder, const std::string& file,
                                        Rgba* out);

// A level of one face of a decoded picture as RGBA, through the decoder's own conversion.
Rgba LevelAsRgba(const d3dx9::DecodedImage& image, uint32_t face, uint32_t level);

// Compares two pictures channel by channel, each reduced first to `bits[c]` bits (red, green,
// blue, alpha; 8 keeps them), within `tolerance` after the reduction. Reports the first
// differences with their coordinates.
::testing::AssertionResult SamePixels(const Rgba& ours, const Rgba& oracle, const int bits[4],
                                      int tolerance);

// The bits per channel (red, green, blue, alpha) of a format, at most 8; 8 for channels the
// format lacks and for formats without a channel layout.
void ChannelPrecision(D3DFORMAT format, int bits[4]);

// A DDS file holding only one level of one face of `dds`, so that tools that read only a
// file's first level can decode it. Uses the documented layout (faces one after another, each
// with its levels from the largest down, tightly packed).
std::vector<uint8_t> SliceDds(const std::vector<uint8_t>& dds, uint32_t face, uint32_t level);

}  // namespace rh::testing
