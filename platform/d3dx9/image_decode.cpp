// Which decoder reads a file, and the picture description they fill.

#include "platform/d3dx9/image_decode.h"

#include "platform/d3dx9/image_local.h"
#include "platform/d3dx9/pixel_formats.h"

#include <algorithm>

namespace rh::d3dx9 {
namespace {

using Reader = HRESULT (*)(const uint8_t*, size_t, const DecodeLimits*, D3DXIMAGE_INFO*,
                           DecodedImage*);

bool StartsWith(const uint8_t* data, size_t size, const char* magic, size_t length) {
    return size >= length && std::memcmp(data, magic, length) == 0;
}

// The file kinds by their signatures. TGA has none: it takes what the others leave, and its
// header checks refuse the rest. No TGA header can begin like the others, whose second byte
// would be an impossible colour-map type.
Reader ChooseReader(const uint8_t* data, size_t size) {
    if (StartsWith(data, size, "DDS ", 4)) return ReadDds;
    if (StartsWith(data, size, "\x89PNG\r\n\x1a\n", 8)) return ReadPng;
    if (StartsWith(data, size, "\xff\xd8\xff", 3)) return ReadJpeg;
    if (StartsWith(data, size, "BM", 2)) return ReadBmp;
    return ReadTga;
}

}  // namespace

bool DecodedImage::Allocate(D3DXIMAGE_INFO fileInfo, D3DFORMAT pixelFormat, uint32_t levelCount,
                            uint32_t faceCount) {
    const uint32_t w = fileInfo.Width, h = fileInfo.Height;
    if (w == 0 || h == 0 || levelCount == 0 || faceCount == 0 || RowPitch(pixelFormat, w) == 0) {
        return false;
    }
    std::vector<ImageLevel> list;
    list.reserve(size_t(levelCount) * faceCount);
    size_t total = 0;
    for (uint32_t face = 0; face < faceCount; ++face) {
        for (uint32_t level = 0; level < levelCount; ++level) {
            ImageLevel l;
            l.width = std::max(1u, w >> std::min(level, 31u));
            l.height = std::max(1u, h >> std::min(level, 31u));
            l.pitch = RowPitch(pixelFormat, l.width);
            l.rows = RowCount(pixelFormat, l.height);
            const size_t bytes = size_t(l.pitch) * l.rows;
            if (l.pitch == 0 || bytes / l.rows != l.pitch || total + bytes < total) return false;
            total += bytes;
            list.push_back(l);
        }
    }
    uint8_t* block = static_cast<uint8_t*>(std::calloc(total, 1));
    if (block == nullptr) return false;
    pixels_.reset(block);
    size_ = total;
    size_t at = 0;
    for (ImageLevel& l : list) {
        l.bits = block + at;
        at += size_t(l.pitch) * l.rows;
    }
    levels_ = std::move(list);
    info = fileInfo;
    format = pixelFormat;
    width = w;
    height = h;
    levels = levelCount;
    faces = faceCount;
    return true;
}

HRESULT ReadImageInfo(const void* data, size_t size, D3DXIMAGE_INFO* info) {
    if (data == nullptr || info == nullptr) return D3DERR_INVALIDCALL;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    D3DXIMAGE_INFO out{};
    const HRESULT hr = ChooseReader(bytes, size)(bytes, size, nullptr, &out, nullptr);
    if (hr == S_OK) *info = out;
    return hr;
}

HRESULT DecodeImage(const void* data, size_t size, const DecodeLimits& limits,
                    DecodedImage* image) {
    if (data == nullptr || image == nullptr) return D3DERR_INVALIDCALL;
    *image = DecodedImage();
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    D3DXIMAGE_INFO info{};
    const HRESULT hr = ChooseReader(bytes, size)(bytes, size, &limits, &info, image);
    if (hr != S_OK) *image = DecodedImage();
    return hr;
}

}  // namespace rh::d3dx9
