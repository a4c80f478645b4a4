// Shared by the picture decoders of platform/d3dx9: the entry point of each file kind and
// little-endian reads.
#pragma once

#include "platform/d3dx9/image_decode.h"

#include <cstring>

namespace rh::d3dx9 {

// Each decoder reads the file's header into *info and, when `image` is not null, decodes the
// pixels into it within `limits` (which may be null only when `image` is). Results as
// DecodeImage's; *image is untouched or partly filled on failure (the caller clears it).
HRESULT ReadJpeg(const uint8_t* data, size_t size, const DecodeLimits* limits,
                 D3DXIMAGE_INFO* info, DecodedImage* image);
HRESULT ReadPng(const uint8_t* data, size_t size, const DecodeLimits* limits,
                D3DXIMAGE_INFO* info, DecodedImage* image);
HRESULT ReadTga(const uint8_t* data, size_t size, const DecodeLimits* limits,
                D3DXIMAGE_INFO* info, DecodedImage* image);
HRESULT ReadBmp(const uint8_t* data, size_t size, const DecodeLimits* limits,
                D3DXIMAGE_INFO* info, DecodedImage* image);
HRESULT ReadDds(const uint8_t* data, size_t size, const DecodeLimits* limits,
                D3DXIMAGE_INFO* info, DecodedImage* image);

inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The largest side any decoder takes whatever the limits say, so that sizes computed from
// headers stay far from overflow: no Direct3D device has textures this large.
inline constexpr uint32_t kLargestSide = 65536;

// Whether a picture of this size may be decoded within the limits.
inline bool WithinLimits(const DecodeLimits& limits, uint32_t width, uint32_t height) {
    const uint32_t side = limits.maxSide < kLargestSide ? limits.maxSide : kLargestSide;
    return width <= side && height <= side;
}

// The info of a flat picture of one level.
inline D3DXIMAGE_INFO FlatInfo(uint32_t width, uint32_t height, D3DFORMAT fileFormat,
                               D3DXIMAGE_FILEFORMAT kind) {
    return D3DXIMAGE_INFO{width, height, 1, 1, fileFormat, D3DRTYPE_TEXTURE, kind};
}

}  // namespace rh::d3dx9
