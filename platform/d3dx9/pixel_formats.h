// Pixel formats by channel layout, for the picture loaders and the texture functions of D3DX
// (and the Direct3D device, which decodes DXT blocks itself when GL has no S3TC): which bits of
// a pixel hold which channel, conversion of rows to and from A8R8G8B8, and a software decoder
// of DXT blocks.
//
// Memory layouts are Direct3D's: a pixel of N bytes is an N-byte little-endian word named from
// its most significant bits down (A8R8G8B8 is 0xAARRGGBB, so the bytes B, G, R, A); DXT data
// is 4x4 blocks of 8 (DXT1) or 16 bytes, left to right, top to bottom. A8R8G8B8 pixels passed
// as uint32_t are such words on this little-endian machine.
#pragma once

#include <d3d9types.h>

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little,
              "pixel words are read and written in the machine's byte order");

namespace rh::d3dx9 {

// One channel of a pixel word: its bits are (word >> shift) & ((1 << bits) - 1).
struct ChannelBits {
    uint8_t shift = 0;
    uint8_t bits = 0;  // 0: the format has no such channel

    constexpr uint64_t Mask() const { return bits == 0 ? 0 : ((~uint64_t{0}) >> (64 - bits)) << shift; }
};

// Where the channels of an uncompressed format sit. A format has colour (red, green, blue) or
// luminance or neither (A8); bits of no channel are padding, written as ones ("X" bits).
struct ChannelLayout {
    D3DFORMAT format = D3DFMT_UNKNOWN;  // UNKNOWN for a layout read from a file's masks
    uint32_t bytesPerPixel = 0;         // 1 to 8
    ChannelBits red, green, blue, alpha, luminance;

    bool HasAlpha() const { return alpha.bits != 0; }
};

// The layout of an uncompressed format; null for DXT, float, depth, palette and video formats,
// which have none.
const ChannelLayout* FindChannelLayout(D3DFORMAT format);

// A layout from a file's channel masks (BMP bit fields, DDS pixel formats) in a pixel of
// `bitsPerPixel` bits (8, 16, 24 or 32). False when a mask does not fit the pixel, is not one
// run of bits, or overlaps another. A zero mask means the channel is absent. The layout's
// format is the Direct3D format of exactly those masks, or UNKNOWN.
bool LayoutFromMasks(uint32_t bitsPerPixel, uint32_t red, uint32_t green, uint32_t blue,
                     uint32_t alpha, uint32_t luminance, ChannelLayout* layout);

// DXT1 to DXT5 (DXT2 and DXT4 have the bytes of DXT3 and DXT5).
bool IsDxtFormat(D3DFORMAT format);
// Bytes of one 4x4 block: 8 for DXT1, 16 for the others; 0 for other formats.
uint32_t DxtBlockBytes(D3DFORMAT format);

// The Direct3D layout of one level: bytes per row (per row of blocks for DXT) and the number of
// such rows. Zero for a format without a layout here or a row that would not fit in 32 bits.
uint32_t RowPitch(D3DFORMAT format, uint32_t width);
uint32_t RowCount(D3DFORMAT format, uint32_t height);

// The 16 pixels of one block as A8R8G8B8 words, row by row. DXT1 blocks whose first colour is
// not above the second have three colours and transparent black; DXT2 to DXT5 always have four
// colours, as Direct3D decodes them.
void DecodeDxtBlock(D3DFORMAT format, const uint8_t* block, uint32_t pixels[16]);

// A level of DXT blocks (rows of blocks `srcPitch` bytes apart) as width x height A8R8G8B8
// pixels, rows `dstPitch` bytes apart; pixels of partial blocks past the edge are not written.
// False for a format that is no DXT format.
bool DecodeDxt(D3DFORMAT format, const uint8_t* src, uint32_t srcPitch, uint32_t width,
               uint32_t height, uint8_t* dst, uint32_t dstPitch);

// Rows of `count` pixels between a layout and A8R8G8B8 words. To A8R8G8B8: each channel of n
// bits is scaled to 8 bits rounding to nearest (v * 255 / (2^n - 1)); luminance fills red,
// green and blue; a missing alpha reads as 255 and missing colour as 0. From A8R8G8B8: each
// channel is scaled to its bits rounding to nearest; luminance is the Rec. 709 weighting of
// red, green and blue; padding bits are ones.
void RowToArgb(const ChannelLayout& layout, const uint8_t* src, uint32_t* dst, uint32_t count);
void RowFromArgb(const ChannelLayout& layout, const uint32_t* src, uint8_t* dst, uint32_t count);

// A rectangle of width x height pixels from one format to another, through A8R8G8B8; rows are
// the given pitches apart and the two areas must not overlap. Sources may be DXT; a DXT
// destination, or a format without a layout, gives false and writes nothing.
bool ConvertPixels(D3DFORMAT srcFormat, const uint8_t* src, uint32_t srcPitch,
                   D3DFORMAT dstFormat, uint8_t* dst, uint32_t dstPitch, uint32_t width,
                   uint32_t height);

}  // namespace rh::d3dx9
