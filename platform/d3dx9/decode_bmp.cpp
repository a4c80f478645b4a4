// BMP files: a 14-byte file header ("BM", the offset of the pixels), an information header of
// 12 bytes (OS/2) or 40 to 124 bytes (Windows), channel masks and a palette, then rows padded
// to four bytes, from the bottom up unless the height is negative. Pixels are palette indices
// of 1, 4 or 8 bits (8 and 4 also run-length encoded), or 16-, 24- or 32-bit colour whose
// channels the masks place (BI_BITFIELDS), 5:5:5 and 8:8:8 by default.

#include "platform/d3dx9/image_local.h"
#include "platform/d3dx9/pixel_formats.h"

#include <climits>
#include <vector>

namespace rh::d3dx9 {
namespace {

constexpr size_t kFileHeaderSize = 14;

// Compression values.
constexpr uint32_t kRgb = 0;
constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;
constexpr uint32_t kBitFields = 3;
constexpr uint32_t kAlphaBitFields = 6;

struct BmpHeader {
    uint32_t width = 0, rows = 0;
    bool topFirst = false;
    uint32_t bits = 0;
    uint32_t compression = kRgb;
    ChannelLayout layout;  // 16- and 32-bit pixels
    std::vector<uint32_t> palette;  // A8R8G8B8, alpha 255
    size_t dataOffset = 0;
    D3DFORMAT fileFormat = D3DFMT_UNKNOWN;
    D3DFORMAT pixelFormat = D3DFMT_UNKNOWN;
};

bool IsWindowsHeaderSize(uint32_t size) {
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

HRESULT ReadHeader(const uint8_t* data, size_t size, bool withPalette, BmpHeader* h) {
    if (size < kFileHeaderSize + 4) return D3DXERR_INVALIDDATA;
    const uint32_t offBits = Le32(data + 10);
    const uint32_t headerSize = Le32(data + 14);
    if (headerSize != 12 && !IsWindowsHeaderSize(headerSize)) return D3DXERR_INVALIDDATA;
    if (size < kFileHeaderSize + headerSize) return D3DXERR_INVALIDDATA;
    const uint8_t* info = data + kFileHeaderSize;

    int64_t width, height;
    uint32_t colorsUsed = 0;
    if (headerSize == 12) {
        width = Le16(info + 4);
        height = Le16(info + 6);
        h->bits = Le16(info + 10);
    } else {
        width = int32_t(Le32(info + 4));
        height = int32_t(Le32(info + 8));
        h->bits = Le16(info + 14);
        h->compression = Le32(info + 16);
        colorsUsed = Le32(info + 32);
    }
    if (width <= 0 || height == 0 || height == INT32_MIN) return D3DXERR_INVALIDDATA;
    h->width = uint32_t(width);
    h->topFirst = height < 0;
    h->rows = uint32_t(height < 0 ? -height : height);

    const uint32_t bits = h->bits;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        return D3DXERR_INVALIDDATA;
    }
    switch (h->compression) {
        case kRgb:
            break;
        case kRle8:
            if (bits != 8) return D3DXERR_INVALIDDATA;
            break;
        case kRle4:
            if (bits != 4) return D3DXERR_INVALIDDATA;
            break;
        case kBitFields:
        case kAlphaBitFields:
            if (bits != 16 && bits != 32) return D3DXERR_INVALIDDATA;
            break;
        default:
            return D3DXERR_INVALIDDATA;
    }

    // Masks: in the header from 52 bytes on, else right after a 40-byte header.
    size_t paletteStart = kFileHeaderSize + headerSize;
    uint32_t masks[4] = {0, 0, 0, 0};
    if (h->compression == kBitFields || h->compression == kAlphaBitFields) {
        const uint32_t count = h->compression == kAlphaBitFields ? 4 : 3;
        const uint8_t* at = info + 40;
        if (headerSize == 40) {
            if (size < paletteStart + 4 * count) return D3DXERR_INVALIDDATA;
            paletteStart += 4 * count;
        }
        const uint32_t inHeader = headerSize == 40 ? count : (headerSize - 40) / 4;
        for (uint32_t i = 0; i < 4 && i < inHeader && (i < count || headerSize >= 56); ++i) {
            masks[i] = Le32(at + 4 * i);
        }
    } else if (bits == 16) {
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
    } else if (bits == 32) {
        masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
    }
    if (bits == 16 || bits == 32) {
        if (!LayoutFromMasks(bits, masks[0], masks[1], masks[2], masks[3], 0, &h->layout)) {
            return D3DXERR_INVALIDDATA;
        }
        h->pixelFormat = h->layout.HasAlpha() ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
        h->fileFormat = h->layout.format != D3DFMT_UNKNOWN ? h->layout.format : h->pixelFormat;
    } else {
        h->pixelFormat = D3DFMT_X8R8G8B8;
        h->fileFormat = bits == 24 ? D3DFMT_R8G8B8 : D3DFMT_P8;
    }

    // The pixels start after the headers, inside the file.
    if (offBits < paletteStart || offBits > size) return D3DXERR_INVALIDDATA;
    h->dataOffset = offBits;

    if (bits <= 8 && withPalette) {
        // As many entries as the header says (all 2^bits when it says 0) and as fit before the
        // pixels; an index past them is damage.
        const uint32_t entryBytes = headerSize == 12 ? 3 : 4;
        uint32_t entries = 1u << bits;
        if (colorsUsed != 0 && colorsUsed < entries) entries = colorsUsed;
        const size_t room = (offBits - paletteStart) / entryBytes;
        if (entries > room) entries = uint32_t(room);
        h->palette.resize(entries);
        for (uint32_t i = 0; i < entries; ++i) {
            const uint8_t* p = data + paletteStart + size_t(i) * entryBytes;
            h->palette[i] = 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        }
    }
    return S_OK;
}

class BmpDecoder {
public:
    BmpDecoder(const BmpHeader& header, const ImageLevel& out) : h_(header), out_(out) {}

    uint32_t* Row(uint32_t fileRow) const {
        const uint32_t y = h_.topFirst ? fileRow : h_.rows - 1 - fileRow;
        return reinterpret_cast<uint32_t*>(out_.bits + size_t(y) * out_.pitch);
    }

    HRESULT Plain(const uint8_t* at, uint32_t stride) const {
        const uint32_t w = h_.width;
        const uint32_t paletteSize = uint32_t(h_.palette.size());
        for (uint32_t r = 0; r < h_.rows; ++r, at += stride) {
            uint32_t* dst = Row(r);
            switch (h_.bits) {
                case 1:
                case 4:
                case 8: {
                    const uint32_t perByte = 8 / h_.bits;
                    const uint32_t mask = (1u << h_.bits) - 1;
                    for (uint32_t x = 0; x < w; ++x) {
                        const uint32_t shift = 8 - h_.bits * (x % perByte + 1);
                        const uint32_t index = (at[x / perByte] >> shift) & mask;
                        if (index >= paletteSize) return D3DXERR_INVALIDDATA;
                        dst[x] = h_.palette[index];
                    }
                    break;
                }
                case 24:
                    for (uint32_t x = 0; x < w; ++x) {
                        const uint8_t* p = at + 3 * size_t(x);
                        dst[x] = 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
                    }
                    break;
                default:
                    RowToArgb(h_.layout, at, dst, w);
                    break;
            }
        }
        return S_OK;
    }

    // Run-length data: runs of one index (two alternating ones for 4-bit pixels), literal
    // stretches padded to two bytes, and escapes for the end of a row, the end of the picture
    // and a jump. Skipped pixels stay black. Every row written must be inside the picture, and
    // the data must end with the end-of-picture escape.
    HRESULT RunLength(const uint8_t* at, const uint8_t* end) const {
        for (uint32_t r = 0; r < h_.rows; ++r) {
            uint32_t* dst = Row(r);
            for (uint32_t x = 0; x < h_.width; ++x) dst[x] = 0xFF000000u;
        }
        const bool four = h_.compression == kRle4;
        const uint32_t paletteSize = uint32_t(h_.palette.size());
        uint32_t x = 0, y = 0;
        // Encoders may run on over the row's padding: pixels past the right edge are dropped.
        auto put = [&](uint32_t index) {
            if (x >= h_.width) return true;
            if (index >= paletteSize) return false;
            Row(y)[x++] = h_.palette[index];
            return true;
        };
        while (true) {
            if (end - at < 2) return D3DXERR_INVALIDDATA;
            const uint32_t count = at[0], value = at[1];
            at += 2;
            if (count > 0) {
                if (y >= h_.rows) return D3DXERR_INVALIDDATA;
                for (uint32_t i = 0; i < count; ++i) {
                    const uint32_t index = four ? (i % 2 == 0 ? value >> 4 : value & 15) : value;
                    if (!put(index)) return D3DXERR_INVALIDDATA;
                }
                continue;
            }
            switch (value) {
                case 0:  // end of row
                    if (y >= h_.rows) return D3DXERR_INVALIDDATA;
                    x = 0;
                    ++y;
                    break;
                case 1:  // end of picture
                    return S_OK;
                case 2: {  // jump right and up
                    if (end - at < 2) return D3DXERR_INVALIDDATA;
                    const uint32_t dx = at[0], dy = at[1];
                    at += 2;
                    if (dx > h_.width - x || dy > h_.rows - y) return D3DXERR_INVALIDDATA;
                    x += dx;
                    y += dy;
                    break;
                }
                default: {  // `value` literal pixels
                    const size_t bytes = four ? (value + 1) / 2 : value;
                    const size_t padded = (bytes + 1) & ~size_t{1};
                    if (size_t(end - at) < padded) return D3DXERR_INVALIDDATA;
                    if (y >= h_.rows) return D3DXERR_INVALIDDATA;
                    for (uint32_t i = 0; i < value; ++i) {
                        const uint32_t index = four ? (i % 2 == 0 ? at[i / 2] >> 4 : at[i / 2] & 15) : at[i];
                        if (!put(index)) return D3DXERR_INVALIDDATA;
                    }
                    at += padded;
                    break;
                }
            }
        }
    }

private:
    const BmpHeader& h_;
    const ImageLevel& out_;
};

}  // namespace

HRESULT ReadBmp(const uint8_t* data, size_t size, const DecodeLimits* limits,
                D3DXIMAGE_INFO* info, DecodedImage* image) {
    BmpHeader header;
    if (const HRESULT hr = ReadHeader(data, size, image != nullptr, &header); hr != S_OK) {
        return hr;
    }
    *info = FlatInfo(header.width, header.rows, header.fileFormat, D3DXIFF_BMP);
    if (image == nullptr) return S_OK;
    if (!WithinLimits(*limits, header.width, header.rows)) return D3DXERR_INVALIDDATA;

    const uint64_t stride = (uint64_t{header.width} * header.bits + 31) / 32 * 4;
    const bool rle = header.compression == kRle8 || header.compression == kRle4;
    // Raw rows must all be in the file before anything is allocated.
    if (!rle && stride * header.rows > size - header.dataOffset) return D3DXERR_INVALIDDATA;
    if (!image->Allocate(*info, header.pixelFormat, 1, 1)) return E_OUTOFMEMORY;
    BmpDecoder decoder(header, image->Level(0, 0));
    if (rle) return decoder.RunLength(data + header.dataOffset, data + size);
    return decoder.Plain(data + header.dataOffset, uint32_t(stride));
}

}  // namespace rh::d3dx9
