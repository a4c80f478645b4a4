// DDS files: the "DDS " signature, a 124-byte header with a 32-byte pixel format, then every
// level of every face, tightly packed: face by face (+X, -X, +Y, -Y, +Z, -Z for a cube map),
// each face's levels from the largest down. Uncompressed pixels are described by channel
// masks; compressed ones by a FourCC.

#include "platform/d3dx9/image_local.h"
#include "platform/d3dx9/pixel_formats.h"

#include <algorithm>
#include <bit>
#include <vector>

namespace rh::d3dx9 {
namespace {

constexpr size_t kDataStart = 4 + 124;  // signature and header

// Header flags.
constexpr uint32_t kFlagPitch = 0x8;
constexpr uint32_t kFlagLinearSize = 0x80000;
constexpr uint32_t kFlagDepth = 0x800000;
// Pixel-format flags.
constexpr uint32_t kPixelAlphaPixels = 0x1;
constexpr uint32_t kPixelAlpha = 0x2;
constexpr uint32_t kPixelFourCC = 0x4;
constexpr uint32_t kPixelRgb = 0x40;
constexpr uint32_t kPixelLuminance = 0x20000;
// Second caps word.
constexpr uint32_t kCaps2Cubemap = 0x200;
constexpr uint32_t kCaps2AllFaces = 0xFC00;
constexpr uint32_t kCaps2Volume = 0x200000;

struct DdsHeader {
    uint32_t width = 0, height = 0, levels = 0, faces = 0;
    D3DFORMAT fileFormat = D3DFMT_UNKNOWN;  // as Direct3D names it; UNKNOWN for odd masks
    D3DFORMAT pixelFormat = D3DFMT_UNKNOWN;  // as delivered
    ChannelLayout layout;                    // of the stored pixels, when not compressed
    bool compressed = false;
};

// The pixel format from the 32-byte record at `pf`; false for one we do not read.
bool ReadPixelFormat(const uint8_t* pf, DdsHeader* header) {
    if (Le32(pf) != 32) return false;
    const uint32_t flags = Le32(pf + 4);
    if (flags & kPixelFourCC) {
        // Compared as a number first: not every 32-bit value is a D3DFORMAT.
        const uint32_t code = Le32(pf + 8);
        D3DFORMAT fourCC = D3DFMT_UNKNOWN;
        for (D3DFORMAT dxt : {D3DFMT_DXT1, D3DFMT_DXT2, D3DFMT_DXT3, D3DFMT_DXT4, D3DFMT_DXT5}) {
            if (code == uint32_t(dxt)) fourCC = dxt;
        }
        if (fourCC == D3DFMT_UNKNOWN) return false;
        header->fileFormat = header->pixelFormat = fourCC;
        header->compressed = true;
        return true;
    }
    const uint32_t bits = Le32(pf + 12);
    const uint32_t maskR = Le32(pf + 16), maskG = Le32(pf + 20), maskB = Le32(pf + 24);
    const uint32_t maskA = (flags & (kPixelAlphaPixels | kPixelAlpha)) ? Le32(pf + 28) : 0;
    ChannelLayout layout;
    bool ok = false;
    if (flags & kPixelRgb) {
        ok = LayoutFromMasks(bits, maskR, maskG, maskB, maskA, 0, &layout);
    } else if (flags & kPixelLuminance) {
        ok = LayoutFromMasks(bits, 0, 0, 0, maskA, maskR, &layout);
    } else if (flags & kPixelAlpha) {
        ok = LayoutFromMasks(bits, 0, 0, 0, maskA, 0, &layout);
    }
    if (!ok) return false;
    const bool grey = layout.luminance.bits != 0;
    const bool colour = layout.red.bits != 0 || layout.green.bits != 0 || layout.blue.bits != 0;
    if (!grey && !colour && !layout.HasAlpha()) return false;
    header->layout = layout;
    if (layout.format != D3DFMT_UNKNOWN) {
        header->fileFormat = header->pixelFormat = layout.format;
    } else {
        // Masks no Direct3D format names: delivered in the nearest common one.
        header->pixelFormat = grey ? (layout.HasAlpha() ? D3DFMT_A8L8 : D3DFMT_L8)
                                   : (layout.HasAlpha() ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8);
        header->fileFormat = header->pixelFormat;
    }
    return true;
}

// Bytes of one stored level of the file's pixels.
uint64_t StoredLevelBytes(const DdsHeader& header, uint32_t width, uint32_t height) {
    if (header.compressed) {
        return (uint64_t{width} + 3) / 4 * ((uint64_t{height} + 3) / 4) *
               DxtBlockBytes(header.fileFormat);
    }
    return uint64_t{width} * height * header.layout.bytesPerPixel;
}

HRESULT ReadHeader(const uint8_t* data, size_t size, DdsHeader* header) {
    if (size < kDataStart || Le32(data + 4) != 124) return D3DXERR_INVALIDDATA;
    const uint32_t flags = Le32(data + 8);
    header->height = Le32(data + 12);
    header->width = Le32(data + 16);
    const uint32_t pitchOrLinearSize = Le32(data + 20);
    const uint32_t depth = Le32(data + 24);
    const uint32_t mipCount = Le32(data + 28);
    const uint32_t caps2 = Le32(data + 112);
    if (header->width == 0 || header->height == 0) return D3DXERR_INVALIDDATA;
    if (!ReadPixelFormat(data + 76, header)) return D3DXERR_INVALIDDATA;

    // Volume textures are not read.
    if ((caps2 & kCaps2Volume) || ((flags & kFlagDepth) && depth > 1)) return D3DXERR_INVALIDDATA;
    header->faces = 1;
    if (caps2 & kCaps2Cubemap) {
        // A cube map must have all six square faces.
        if ((caps2 & kCaps2AllFaces) != kCaps2AllFaces || header->width != header->height) {
            return D3DXERR_INVALIDDATA;
        }
        header->faces = 6;
    }

    // A count of 0 means 1; no more levels than the chain down to 1x1 has.
    const uint32_t fullChain = 32 - uint32_t(std::countl_zero(std::max(header->width, header->height)));
    header->levels = std::max(1u, mipCount);
    if (header->levels > fullChain) return D3DXERR_INVALIDDATA;

    // The levels are packed, so a stated pitch or size must be the one the format implies.
    if (pitchOrLinearSize != 0 && (flags & (kFlagPitch | kFlagLinearSize))) {
        const uint64_t rowPitch = header->compressed
                                      ? (uint64_t{header->width} + 3) / 4 * DxtBlockBytes(header->fileFormat)
                                      : uint64_t{header->width} * header->layout.bytesPerPixel;
        const uint64_t levelBytes = StoredLevelBytes(*header, header->width, header->height);
        const bool pitchOk = (flags & kFlagPitch) && pitchOrLinearSize == rowPitch;
        const bool sizeOk = (flags & kFlagLinearSize) && pitchOrLinearSize == levelBytes;
        if (!pitchOk && !sizeOk) return D3DXERR_INVALIDDATA;
    }
    return S_OK;
}

}  // namespace

HRESULT ReadDds(const uint8_t* data, size_t size, const DecodeLimits* limits,
                D3DXIMAGE_INFO* info, DecodedImage* image) {
    DdsHeader header;
    if (const HRESULT hr = ReadHeader(data, size, &header); hr != S_OK) return hr;
    *info = D3DXIMAGE_INFO{header.width, header.height, 1, header.levels, header.fileFormat,
                           header.faces == 6 ? D3DRTYPE_CUBETEXTURE : D3DRTYPE_TEXTURE,
                           D3DXIFF_DDS};
    if (image == nullptr) return S_OK;
    if (!WithinLimits(*limits, header.width, header.height)) return D3DXERR_INVALIDDATA;

    // Every stored byte must be in the file before anything is allocated.
    uint64_t faceBytes = 0;
    for (uint32_t level = 0; level < header.levels; ++level) {
        faceBytes += StoredLevelBytes(header, std::max(1u, header.width >> level),
                                      std::max(1u, header.height >> level));
    }
    if (faceBytes * header.faces > size - kDataStart) return D3DXERR_INVALIDDATA;

    if (!image->Allocate(*info, header.pixelFormat, header.levels, header.faces)) {
        return E_OUTOFMEMORY;
    }
    const ChannelLayout* target = FindChannelLayout(header.pixelFormat);
    const bool keep = header.compressed || header.layout.format == header.pixelFormat;
    std::vector<uint32_t> row(keep ? 0 : header.width);
    const uint8_t* at = data + kDataStart;
    for (uint32_t face = 0; face < header.faces; ++face) {
        for (uint32_t level = 0; level < header.levels; ++level) {
            const ImageLevel& out = image->Level(face, level);
            const size_t bytes = size_t(StoredLevelBytes(header, out.width, out.height));
            if (keep) {
                std::memcpy(out.bits, at, bytes);
            } else {
                const size_t srcPitch = size_t(out.width) * header.layout.bytesPerPixel;
                for (uint32_t y = 0; y < out.height; ++y) {
                    RowToArgb(header.layout, at + y * srcPitch, row.data(), out.width);
                    RowFromArgb(*target, row.data(), out.bits + size_t(y) * out.pitch, out.width);
                }
            }
            at += bytes;
        }
    }
    return S_OK;
}

}  // namespace rh::d3dx9
