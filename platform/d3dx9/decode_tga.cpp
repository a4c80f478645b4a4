// TGA files: an 18-byte header, an identification field, an optional colour map, then the
// pixels, raw or run-length encoded, stored from the bottom row up unless the descriptor says
// the top comes first (and right to left when it says so). Pixels are colour-map indices
// (types 1 and 9), 15/16/24/32-bit colour (2 and 10) or grey, with alpha at 16 bits (3 and 11).
// The descriptor's attribute-bit count says whether 16-bit colour carries alpha.

#include "platform/d3dx9/image_local.h"
#include "platform/d3dx9/pixel_formats.h"

#include <vector>

namespace rh::d3dx9 {
namespace {

constexpr size_t kHeaderSize = 18;

enum class Kind { Mapped, Color, Grey };

struct TgaHeader {
    Kind kind = Kind::Color;
    bool rle = false;
    uint32_t width = 0, height = 0;
    uint32_t pixelBytes = 0;
    uint32_t pixelBits = 0;
    bool alpha = false;
    bool topFirst = false;
    bool rightToLeft = false;
    uint32_t mapFirst = 0, mapLength = 0, mapEntryBits = 0;
    size_t mapOffset = 0;   // where the colour map starts
    size_t dataOffset = 0;  // where the pixels start
    D3DFORMAT fileFormat = D3DFMT_UNKNOWN;
    D3DFORMAT pixelFormat = D3DFMT_UNKNOWN;
};

bool IsColorDepth(uint32_t bits) { return bits == 15 || bits == 16 || bits == 24 || bits == 32; }

// A stored colour of 15, 16, 24 or 32 bits as an A8R8G8B8 word; alpha 255 without `alpha`.
uint32_t ReadColor(const uint8_t* p, uint32_t bits, bool alpha) {
    switch (bits) {
        case 15:
        case 16: {
            const uint32_t w = Le16(p);
            const uint32_t r = (w >> 10) & 31, g = (w >> 5) & 31, b = w & 31;
            // Five bits widened to eight, rounding to nearest.
            const auto widen = [](uint32_t v) { return (v * 255 + 15) / 31; };
            const uint32_t a = (!alpha || (w & 0x8000)) ? 255 : 0;
            return a << 24 | widen(r) << 16 | widen(g) << 8 | widen(b);
        }
        case 24:
            return 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        default:
            return alpha ? Le32(p) : (Le32(p) | 0xFF000000u);
    }
}

HRESULT ReadHeader(const uint8_t* data, size_t size, TgaHeader* h) {
    if (size < kHeaderSize) return D3DXERR_INVALIDDATA;
    const uint32_t idLength = data[0], mapType = data[1], imageType = data[2];
    h->mapFirst = Le16(data + 3);
    h->mapLength = Le16(data + 5);
    h->mapEntryBits = data[7];
    h->width = Le16(data + 12);
    h->height = Le16(data + 14);
    h->pixelBits = data[16];
    const uint32_t descriptor = data[17];
    const uint32_t attributeBits = descriptor & 15;
    h->rightToLeft = (descriptor & 0x10) != 0;
    h->topFirst = (descriptor & 0x20) != 0;

    if (mapType > 1 || (descriptor & 0xC0) != 0) return D3DXERR_INVALIDDATA;  // interleaving
    if (h->width == 0 || h->height == 0) return D3DXERR_INVALIDDATA;
    switch (imageType) {
        case 1:
        case 9:
            h->kind = Kind::Mapped;
            if (mapType != 1 || h->mapLength == 0 || (h->pixelBits != 8 && h->pixelBits != 16)) {
                return D3DXERR_INVALIDDATA;
            }
            break;
        case 2:
        case 10:
            h->kind = Kind::Color;
            if (!IsColorDepth(h->pixelBits)) return D3DXERR_INVALIDDATA;
            break;
        case 3:
        case 11:
            h->kind = Kind::Grey;
            if (h->pixelBits != 8 && h->pixelBits != 16) return D3DXERR_INVALIDDATA;
            break;
        default:
            return D3DXERR_INVALIDDATA;
    }
    h->rle = imageType >= 9;
    h->pixelBytes = (h->pixelBits + 7) / 8;

    size_t mapBytes = 0;
    if (mapType == 1) {
        if (!IsColorDepth(h->mapEntryBits)) return D3DXERR_INVALIDDATA;
        mapBytes = size_t(h->mapLength) * ((h->mapEntryBits + 7) / 8);
    }
    h->mapOffset = kHeaderSize + idLength;
    h->dataOffset = h->mapOffset + mapBytes;
    if (h->dataOffset > size) return D3DXERR_INVALIDDATA;

    // 32-bit colour always carries alpha, whatever the attribute bits say (writers often leave
    // them 0); the top bit of 16-bit colour is alpha only when the attribute bits say so, as
    // it is commonly left clear in opaque pictures.
    const auto hasAlpha = [attributeBits](uint32_t bits) {
        return bits == 32 || (bits == 16 && attributeBits > 0);
    };
    switch (h->kind) {
        case Kind::Mapped:
            h->alpha = hasAlpha(h->mapEntryBits);
            h->fileFormat = D3DFMT_P8;
            h->pixelFormat = h->alpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
            break;
        case Kind::Color:
            h->alpha = hasAlpha(h->pixelBits);
            h->pixelFormat = h->alpha ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
            h->fileFormat = h->pixelBits == 24   ? D3DFMT_R8G8B8
                            : h->pixelBits == 32 ? h->pixelFormat
                            : h->alpha           ? D3DFMT_A1R5G5B5
                                                 : D3DFMT_X1R5G5B5;
            break;
        case Kind::Grey:
            h->alpha = attributeBits > 0 && h->pixelBits == 16;
            h->fileFormat = h->pixelFormat = h->alpha ? D3DFMT_A8L8 : D3DFMT_L8;
            break;
    }
    return S_OK;
}

// Fills the picture from the stored pixel stream: one row at a time into `row` (A8R8G8B8
// words, or grey as alpha << 8 | luminance), then into its place.
class TgaDecoder {
public:
    TgaDecoder(const TgaHeader& header, const uint8_t* data, size_t size, const ImageLevel& out)
        : h_(header), at_(data + header.dataOffset), end_(data + size), out_(out), row_(header.width) {}

    void ReadPalette(const uint8_t* data) {
        if (h_.kind != Kind::Mapped) return;
        const uint32_t entryBytes = (h_.mapEntryBits + 7) / 8;
        palette_.resize(h_.mapLength);
        for (uint32_t i = 0; i < h_.mapLength; ++i) {
            palette_[i] = ReadColor(data + h_.mapOffset + size_t(i) * entryBytes, h_.mapEntryBits,
                                    h_.alpha);
        }
    }

    HRESULT Run() {
        const uint64_t total = uint64_t{h_.width} * h_.height;
        const size_t available = size_t(end_ - at_);
        if (!h_.rle) {
            if (total * h_.pixelBytes > available) return D3DXERR_INVALIDDATA;
            for (uint64_t n = 0; n < total; ++n) {
                uint32_t value;
                if (!Pixel(at_, &value)) return D3DXERR_INVALIDDATA;
                at_ += h_.pixelBytes;
                Put(value);
            }
            return S_OK;
        }
        uint64_t done = 0;
        while (done < total) {
            if (at_ >= end_) return D3DXERR_INVALIDDATA;
            const uint32_t packet = *at_++;
            const uint32_t count = (packet & 0x7F) + 1;
            // A run past the last pixel is damage, not something to clip.
            if (done + count > total) return D3DXERR_INVALIDDATA;
            if (packet & 0x80) {
                uint32_t value;
                if (size_t(end_ - at_) < h_.pixelBytes || !Pixel(at_, &value)) {
                    return D3DXERR_INVALIDDATA;
                }
                at_ += h_.pixelBytes;
                for (uint32_t i = 0; i < count; ++i) Put(value);
            } else {
                if (size_t(end_ - at_) < size_t(count) * h_.pixelBytes) return D3DXERR_INVALIDDATA;
                for (uint32_t i = 0; i < count; ++i) {
                    uint32_t value;
                    if (!Pixel(at_, &value)) return D3DXERR_INVALIDDATA;
                    at_ += h_.pixelBytes;
                    Put(value);
                }
            }
            done += count;
        }
        return S_OK;
    }

private:
    // False for a colour-map index outside the map.
    bool Pixel(const uint8_t* p, uint32_t* value) const {
        switch (h_.kind) {
            case Kind::Mapped: {
                const uint32_t index = h_.pixelBits == 8 ? p[0] : Le16(p);
                if (index < h_.mapFirst || index - h_.mapFirst >= h_.mapLength) return false;
                *value = palette_[index - h_.mapFirst];
                return true;
            }
            case Kind::Color:
                *value = ReadColor(p, h_.pixelBits, h_.alpha);
                return true;
            case Kind::Grey:
                *value = h_.pixelBits == 16 ? Le16(p) : p[0];
                return true;
        }
        return false;
    }

    void Put(uint32_t value) {
        row_[x_++] = value;
        if (x_ == h_.width) FlushRow();
    }

    void FlushRow() {
        const uint32_t y = h_.topFirst ? y_ : h_.height - 1 - y_;
        uint8_t* dst = out_.bits + size_t(y) * out_.pitch;
        const uint32_t w = h_.width;
        for (uint32_t i = 0; i < w; ++i) {
            const uint32_t x = h_.rightToLeft ? w - 1 - i : i;
            const uint32_t v = row_[i];
            switch (h_.pixelFormat) {
                case D3DFMT_L8:
                    dst[x] = uint8_t(v);
                    break;
                case D3DFMT_A8L8:
                    dst[2 * x] = uint8_t(v);
                    dst[2 * x + 1] = uint8_t(v >> 8);
                    break;
                default:
                    std::memcpy(dst + 4 * size_t(x), &v, 4);
                    break;
            }
        }
        x_ = 0;
        ++y_;
    }

    const TgaHeader& h_;
    const uint8_t* at_;
    const uint8_t* end_;
    const ImageLevel& out_;
    std::vector<uint32_t> row_;
    std::vector<uint32_t> palette_;
    uint32_t x_ = 0, y_ = 0;
};

}  // namespace

HRESULT ReadTga(const uint8_t* data, size_t size, const DecodeLimits* limits,
                D3DXIMAGE_INFO* info, DecodedImage* image) {
    TgaHeader header;
    if (const HRESULT hr = ReadHeader(data, size, &header); hr != S_OK) return hr;
    *info = FlatInfo(header.width, header.height, header.fileFormat, D3DXIFF_TGA);
    if (image == nullptr) return S_OK;
    if (!WithinLimits(*limits, header.width, header.height)) return D3DXERR_INVALIDDATA;

    // Before allocating: raw pixels must all be there, and a run-length packet (a count byte
    // and at least one pixel) gives at most 128 pixels.
    const uint64_t pixels = uint64_t{header.width} * header.height;
    const uint64_t available = size - header.dataOffset;
    if (header.rle ? pixels > 128 * (available / (1 + header.pixelBytes))
                   : pixels * header.pixelBytes > available) {
        return D3DXERR_INVALIDDATA;
    }
    if (!image->Allocate(*info, header.pixelFormat, 1, 1)) return E_OUTOFMEMORY;
    TgaDecoder decoder(header, data, size, image->Level(0, 0));
    decoder.ReadPalette(data);
    return decoder.Run();
}

}  // namespace rh::d3dx9
