// Channel layouts as data, conversions through A8R8G8B8 words, and the DXT block decoder.

#include "platform/d3dx9/pixel_formats.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

namespace rh::d3dx9 {
namespace {

constexpr ChannelBits C(uint8_t shift, uint8_t bits) { return ChannelBits{shift, bits}; }
constexpr ChannelBits kNone{};

// One row per uncompressed format whose channels are plain unsigned integers.
constexpr ChannelLayout kLayouts[] = {
    // format                 bytes  red         green       blue        alpha       luminance
    {D3DFMT_R8G8B8,           3,     C(16, 8),   C(8, 8),    C(0, 8),    kNone,      kNone},
    {D3DFMT_A8R8G8B8,         4,     C(16, 8),   C(8, 8),    C(0, 8),    C(24, 8),   kNone},
    {D3DFMT_X8R8G8B8,         4,     C(16, 8),   C(8, 8),    C(0, 8),    kNone,      kNone},
    {D3DFMT_R5G6B5,           2,     C(11, 5),   C(5, 6),    C(0, 5),    kNone,      kNone},
    {D3DFMT_X1R5G5B5,         2,     C(10, 5),   C(5, 5),    C(0, 5),    kNone,      kNone},
    {D3DFMT_A1R5G5B5,         2,     C(10, 5),   C(5, 5),    C(0, 5),    C(15, 1),   kNone},
    {D3DFMT_A4R4G4B4,         2,     C(8, 4),    C(4, 4),    C(0, 4),    C(12, 4),   kNone},
    {D3DFMT_R3G3B2,           1,     C(5, 3),    C(2, 3),    C(0, 2),    kNone,      kNone},
    {D3DFMT_A8,               1,     kNone,      kNone,      kNone,      C(0, 8),    kNone},
    {D3DFMT_A8R3G3B2,         2,     C(5, 3),    C(2, 3),    C(0, 2),    C(8, 8),    kNone},
    {D3DFMT_X4R4G4B4,         2,     C(8, 4),    C(4, 4),    C(0, 4),    kNone,      kNone},
    {D3DFMT_A2B10G10R10,      4,     C(0, 10),   C(10, 10),  C(20, 10),  C(30, 2),   kNone},
    {D3DFMT_A8B8G8R8,         4,     C(0, 8),    C(8, 8),    C(16, 8),   C(24, 8),   kNone},
    {D3DFMT_X8B8G8R8,         4,     C(0, 8),    C(8, 8),    C(16, 8),   kNone,      kNone},
    {D3DFMT_G16R16,           4,     C(0, 16),   C(16, 16),  kNone,      kNone,      kNone},
    {D3DFMT_A2R10G10B10,      4,     C(20, 10),  C(10, 10),  C(0, 10),   C(30, 2),   kNone},
    {D3DFMT_A16B16G16R16,     8,     C(0, 16),   C(16, 16),  C(32, 16),  C(48, 16),  kNone},
    {D3DFMT_L8,               1,     kNone,      kNone,      kNone,      kNone,      C(0, 8)},
    {D3DFMT_A8L8,             2,     kNone,      kNone,      kNone,      C(8, 8),    C(0, 8)},
    {D3DFMT_A4L4,             1,     kNone,      kNone,      kNone,      C(4, 4),    C(0, 4)},
    {D3DFMT_L16,              2,     kNone,      kNone,      kNone,      kNone,      C(0, 16)},
};

// A channel's value of `bits` bits as 8 bits, rounded to nearest.
inline uint32_t Expand(uint64_t value, uint32_t bits) {
    if (bits == 8) return uint32_t(value);
    const uint64_t max = (uint64_t{1} << bits) - 1;
    return uint32_t((value * 255 + max / 2) / max);
}

// An 8-bit value as `bits` bits, rounded to nearest.
inline uint64_t Reduce(uint32_t value, uint32_t bits) {
    if (bits == 8) return value;
    const uint64_t max = (uint64_t{1} << bits) - 1;
    return (value * max + 127) / 255;
}

inline uint64_t ReadWord(const uint8_t* p, uint32_t bytes) {
    uint64_t word = 0;
    std::memcpy(&word, p, bytes);
    return word;
}

inline void WriteWord(uint8_t* p, uint64_t word, uint32_t bytes) { std::memcpy(p, &word, bytes); }

inline uint32_t Field(uint64_t word, ChannelBits c) {
    return uint32_t((word >> c.shift) & (c.Mask() >> c.shift));
}

// Rec. 709 luminance of 8-bit red, green and blue, rounded.
inline uint32_t Luminance(uint32_t r, uint32_t g, uint32_t b) {
    return (r * 2126 + g * 7152 + b * 722 + 5000) / 10000;
}

bool MaskToChannel(uint32_t mask, uint32_t pixelBits, ChannelBits* channel) {
    *channel = ChannelBits{};
    if (mask == 0) return true;
    if (pixelBits < 32 && (mask >> pixelBits) != 0) return false;
    const int shift = std::countr_zero(mask);
    const uint32_t run = mask >> shift;
    if ((run & (run + 1)) != 0) return false;  // not one run of ones
    *channel = ChannelBits{uint8_t(shift), uint8_t(std::popcount(run))};
    return true;
}

// 5:6:5 colour as an A8R8G8B8 word with alpha 255, widening by repeating the top bits.
inline uint32_t Color565(uint32_t c) {
    const uint32_t r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    return 0xFF000000u | ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
}

// Per channel (a * wa + b * wb + round) / div of two A8R8G8B8 colours with alpha 255.
inline uint32_t Blend(uint32_t a, uint32_t b, uint32_t wa, uint32_t wb, uint32_t div) {
    uint32_t out = 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        const uint32_t ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
        out |= ((ca * wa + cb * wb + div / 2) / div) << shift;
    }
    return out;
}

// The colour half of a block: its four colours, then 2-bit indices, pixel 0 in the low bits.
inline void DecodeColors(const uint8_t* block, bool dxt1, uint32_t pixels[16]) {
    const uint32_t c0 = uint32_t(block[0]) | uint32_t(block[1]) << 8;
    const uint32_t c1 = uint32_t(block[2]) | uint32_t(block[3]) << 8;
    uint32_t palette[4];
    palette[0] = Color565(c0);
    palette[1] = Color565(c1);
    if (!dxt1 || c0 > c1) {
        palette[2] = Blend(palette[0], palette[1], 2, 1, 3);
        palette[3] = Blend(palette[0], palette[1], 1, 2, 3);
    } else {
        palette[2] = Blend(palette[0], palette[1], 1, 1, 2);
        palette[3] = 0;  // transparent black
    }
    uint32_t indices;
    std::memcpy(&indices, block + 4, 4);
    for (int i = 0; i < 16; ++i, indices >>= 2) pixels[i] = palette[indices & 3];
}

// DXT3: 4 bits of alpha per pixel, pixel 0 in the low bits.
inline void DecodeExplicitAlpha(const uint8_t* block, uint32_t pixels[16]) {
    uint64_t bits;
    std::memcpy(&bits, block, 8);
    for (int i = 0; i < 16; ++i, bits >>= 4) {
        pixels[i] = (pixels[i] & 0x00FFFFFFu) | uint32_t((bits & 15) * 17) << 24;
    }
}

// DXT5: two alpha end points and 3-bit indices into eight alphas between them.
inline void DecodeInterpolatedAlpha(const uint8_t* block, uint32_t pixels[16]) {
    const uint32_t a0 = block[0], a1 = block[1];
    uint32_t alpha[8] = {a0, a1};
    if (a0 > a1) {
        for (uint32_t i = 1; i < 7; ++i) alpha[i + 1] = ((7 - i) * a0 + i * a1 + 3) / 7;
    } else {
        for (uint32_t i = 1; i < 5; ++i) alpha[i + 1] = ((5 - i) * a0 + i * a1 + 2) / 5;
        alpha[6] = 0;
        alpha[7] = 255;
    }
    uint64_t bits = 0;
    std::memcpy(&bits, block + 2, 6);
    for (int i = 0; i < 16; ++i, bits >>= 3) {
        pixels[i] = (pixels[i] & 0x00FFFFFFu) | alpha[bits & 7] << 24;
    }
}

}  // namespace

const ChannelLayout* FindChannelLayout(D3DFORMAT format) {
    for (const ChannelLayout& layout : kLayouts) {
        if (layout.format == format) return &layout;
    }
    return nullptr;
}

bool LayoutFromMasks(uint32_t bitsPerPixel, uint32_t red, uint32_t green, uint32_t blue,
                     uint32_t alpha, uint32_t luminance, ChannelLayout* layout) {
    if (bitsPerPixel != 8 && bitsPerPixel != 16 && bitsPerPixel != 24 && bitsPerPixel != 32) {
        return false;
    }
    const uint32_t masks[] = {red, green, blue, alpha, luminance};
    uint32_t seen = 0;
    for (uint32_t mask : masks) {
        if ((seen & mask) != 0) return false;
        seen |= mask;
    }
    ChannelLayout out;
    out.bytesPerPixel = bitsPerPixel / 8;
    if (!MaskToChannel(red, bitsPerPixel, &out.red) ||
        !MaskToChannel(green, bitsPerPixel, &out.green) ||
        !MaskToChannel(blue, bitsPerPixel, &out.blue) ||
        !MaskToChannel(alpha, bitsPerPixel, &out.alpha) ||
        !MaskToChannel(luminance, bitsPerPixel, &out.luminance)) {
        return false;
    }
    for (const ChannelLayout& known : kLayouts) {
        if (known.bytesPerPixel == out.bytesPerPixel && known.red.Mask() == red &&
            known.green.Mask() == green && known.blue.Mask() == blue &&
            known.alpha.Mask() == alpha && known.luminance.Mask() == luminance) {
            out.format = known.format;
            break;
        }
    }
    *layout = out;
    return true;
}

bool IsDxtFormat(D3DFORMAT format) { return DxtBlockBytes(format) != 0; }

uint32_t DxtBlockBytes(D3DFORMAT format) {
    switch (format) {
        case D3DFMT_DXT1:
            return 8;
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
        case D3DFMT_DXT4:
        case D3DFMT_DXT5:
            return 16;
        default:
            return 0;
    }
}

uint32_t RowPitch(D3DFORMAT format, uint32_t width) {
    uint64_t pitch = 0;
    if (const uint32_t block = DxtBlockBytes(format); block != 0) {
        pitch = (uint64_t{width} + 3) / 4 * block;
    } else if (const ChannelLayout* layout = FindChannelLayout(format)) {
        pitch = uint64_t{width} * layout->bytesPerPixel;
    }
    return pitch > 0xFFFFFFFFu ? 0 : uint32_t(pitch);
}

uint32_t RowCount(D3DFORMAT format, uint32_t height) {
    if (IsDxtFormat(format)) return uint32_t((uint64_t{height} + 3) / 4);
    return FindChannelLayout(format) != nullptr ? height : 0;
}

void DecodeDxtBlock(D3DFORMAT format, const uint8_t* block, uint32_t pixels[16]) {
    switch (format) {
        case D3DFMT_DXT1:
            DecodeColors(block, true, pixels);
            break;
        case D3DFMT_DXT2:
        case D3DFMT_DXT3:
            DecodeColors(block + 8, false, pixels);
            DecodeExplicitAlpha(block, pixels);
            break;
        case D3DFMT_DXT4:
        case D3DFMT_DXT5:
            DecodeColors(block + 8, false, pixels);
            DecodeInterpolatedAlpha(block, pixels);
            break;
        default:
            std::fill(pixels, pixels + 16, 0u);
            break;
    }
}

bool DecodeDxt(D3DFORMAT format, const uint8_t* src, uint32_t srcPitch, uint32_t width,
               uint32_t height, uint8_t* dst, uint32_t dstPitch) {
    const uint32_t blockBytes = DxtBlockBytes(format);
    if (blockBytes == 0) return false;
    uint32_t pixels[16];
    for (uint32_t by = 0; by < height; by += 4) {
        const uint8_t* block = src + size_t(by / 4) * srcPitch;
        const uint32_t rows = std::min(4u, height - by);
        for (uint32_t bx = 0; bx < width; bx += 4, block += blockBytes) {
            DecodeDxtBlock(format, block, pixels);
            const uint32_t columns = std::min(4u, width - bx);
            for (uint32_t r = 0; r < rows; ++r) {
                std::memcpy(dst + size_t(by + r) * dstPitch + size_t(bx) * 4, pixels + r * 4,
                            columns * 4);
            }
        }
    }
    return true;
}

void RowToArgb(const ChannelLayout& layout, const uint8_t* src, uint32_t* dst, uint32_t count) {
    switch (layout.format) {
        case D3DFMT_A8R8G8B8:
            std::memcpy(dst, src, size_t(count) * 4);
            return;
        case D3DFMT_X8R8G8B8:
            std::memcpy(dst, src, size_t(count) * 4);
            for (uint32_t i = 0; i < count; ++i) dst[i] |= 0xFF000000u;
            return;
        case D3DFMT_L8:
            for (uint32_t i = 0; i < count; ++i) dst[i] = 0xFF000000u | src[i] * 0x010101u;
            return;
        default:
            break;
    }
    const uint32_t bytes = layout.bytesPerPixel;
    const bool grey = layout.luminance.bits != 0;
    for (uint32_t i = 0; i < count; ++i, src += bytes) {
        const uint64_t word = ReadWord(src, bytes);
        const uint32_t a = layout.alpha.bits ? Expand(Field(word, layout.alpha), layout.alpha.bits) : 255;
        uint32_t r = 0, g = 0, b = 0;
        if (grey) {
            r = g = b = Expand(Field(word, layout.luminance), layout.luminance.bits);
        } else {
            if (layout.red.bits) r = Expand(Field(word, layout.red), layout.red.bits);
            if (layout.green.bits) g = Expand(Field(word, layout.green), layout.green.bits);
            if (layout.blue.bits) b = Expand(Field(word, layout.blue), layout.blue.bits);
        }
        dst[i] = a << 24 | r << 16 | g << 8 | b;
    }
}

void RowFromArgb(const ChannelLayout& layout, const uint32_t* src, uint8_t* dst, uint32_t count) {
    if (layout.format == D3DFMT_A8R8G8B8) {
        std::memcpy(dst, src, size_t(count) * 4);
        return;
    }
    const uint32_t bytes = layout.bytesPerPixel;
    const ChannelBits channels[] = {layout.red, layout.green, layout.blue, layout.alpha,
                                    layout.luminance};
    uint64_t used = 0;
    for (const ChannelBits& c : channels) used |= c.Mask();
    const uint64_t all = bytes == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
    const uint64_t padding = all & ~used;
    for (uint32_t i = 0; i < count; ++i, dst += bytes) {
        const uint32_t argb = src[i];
        const uint32_t a = argb >> 24, r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
        uint64_t word = padding;
        auto put = [&word](ChannelBits c, uint32_t value) {
            if (c.bits != 0) word |= Reduce(value, c.bits) << c.shift;
        };
        put(layout.red, r);
        put(layout.green, g);
        put(layout.blue, b);
        put(layout.alpha, a);
        if (layout.luminance.bits != 0) put(layout.luminance, Luminance(r, g, b));
        WriteWord(dst, word, bytes);
    }
}

bool ConvertPixels(D3DFORMAT srcFormat, const uint8_t* src, uint32_t srcPitch,
                   D3DFORMAT dstFormat, uint8_t* dst, uint32_t dstPitch, uint32_t width,
                   uint32_t height) {
    const ChannelLayout* to = FindChannelLayout(dstFormat);
    const ChannelLayout* from = FindChannelLayout(srcFormat);
    const bool dxt = IsDxtFormat(srcFormat);
    if (to == nullptr || (from == nullptr && !dxt)) return false;
    if (width == 0 || height == 0) return true;
    if (from != nullptr && from->format == to->format) {
        for (uint32_t y = 0; y < height; ++y) {
            std::memcpy(dst + size_t(y) * dstPitch, src + size_t(y) * srcPitch,
                        size_t(width) * to->bytesPerPixel);
        }
        return true;
    }
    if (dxt) {
        // Four rows at a time: one row of blocks.
        std::vector<uint32_t> rows(size_t(width) * 4);
        for (uint32_t y = 0; y < height; y += 4) {
            const uint32_t n = std::min(4u, height - y);
            DecodeDxt(srcFormat, src + size_t(y / 4) * srcPitch, srcPitch, width, n,
                      reinterpret_cast<uint8_t*>(rows.data()), width * 4);
            for (uint32_t r = 0; r < n; ++r) {
                RowFromArgb(*to, rows.data() + size_t(r) * width, dst + size_t(y + r) * dstPitch,
                            width);
            }
        }
        return true;
    }
    std::vector<uint32_t> row(width);
    for (uint32_t y = 0; y < height; ++y) {
        RowToArgb(*from, src + size_t(y) * srcPitch, row.data(), width);
        RowFromArgb(*to, row.data(), dst + size_t(y) * dstPitch, width);
    }
    return true;
}

}  // namespace rh::d3dx9
