// The picture decoders of D3DX, without a device: JPEG (libjpeg), PNG (libpng), TGA, BMP and
// DDS files in memory become a picture description with the pixels in a Direct3D format's
// memory layout, and the D3DXIMAGE_INFO that D3DX reports for the file. The texture functions
// of D3DX build on this; tests and the fuzzer call it directly.
//
// Damaged input of any kind (truncated at any length, sizes of zero or past the limits, counts
// and offsets that point outside the file, palette indices past the palette, runs past the end
// of the picture) gives D3DXERR_INVALIDDATA, never a crash. The memory a decoder takes is
// bounded by the picture the header describes, which is held to DecodeLimits; formats that
// store pixels raw (uncompressed TGA, BMP and DDS) are checked against the file's size before
// anything is allocated.
#pragma once

#include <d3dx9tex.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

namespace rh::d3dx9 {

// The largest picture side the decoders accept when the caller names none; the device's
// caps report their own largest texture side, which the texture functions pass instead.
inline constexpr uint32_t kDefaultMaxImageSide = 8192;

struct DecodeLimits {
    // Pictures wider or taller than this are refused with D3DXERR_INVALIDDATA (and never
    // more than 65536, whatever this says).
    uint32_t maxSide = kDefaultMaxImageSide;
};

// One level of one face of a decoded picture: `rows` rows of `pitch` bytes, the top row first.
// For DXT formats a row is one row of 4x4 blocks, so rows = ceil(height / 4).
struct ImageLevel {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pitch = 0;
    uint32_t rows = 0;
    uint8_t* bits = nullptr;  // inside the DecodedImage that handed it out
};

// A decoded picture: every level of every face in `format`'s Direct3D layout, rows packed
// (pitch = width x bytes per pixel, or one row of blocks).
//
// `format` is what the pixels are delivered in, and what a texture of the default format
// takes: A8R8G8B8 for pictures with alpha, X8R8G8B8 (X bytes 0xFF) for opaque colour, L8 for
// grey, A8L8 for grey with alpha, from every file kind; a DDS file keeps its own format
// (DXT1-5, or one of the uncompressed formats FindChannelLayout knows, L8 and A8L8 included);
// DDS masks that name no Direct3D format are delivered as A8R8G8B8 or X8R8G8B8.
//
// info.Format is the file's own pixel format as Direct3D names it (P8 for palette pictures,
// R8G8B8 for 24-bit colour, X1R5G5B5/A1R5G5B5 for 16-bit TGA, A16B16G16R16 and L16 for 16-bit
// PNG, X8R8G8B8 or L8 for JPEG, ...), which may differ from `format`.
class DecodedImage {
public:
    DecodedImage() = default;
    DecodedImage(DecodedImage&&) = default;
    DecodedImage& operator=(DecodedImage&&) = default;
    DecodedImage(const DecodedImage&) = delete;
    DecodedImage& operator=(const DecodedImage&) = delete;

    D3DXIMAGE_INFO info{};
    D3DFORMAT format = D3DFMT_UNKNOWN;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t levels = 0;  // level 0 is width x height, each next one half of it (at least 1)
    uint32_t faces = 0;   // 1, or 6 for a cube map (+X, -X, +Y, -Y, +Z, -Z)

    bool IsCube() const { return faces == 6; }
    // face < faces and level < levels.
    const ImageLevel& Level(uint32_t face, uint32_t level) const {
        return levels_[size_t(face) * levels + level];
    }
    // All pixel bytes: face 0's levels from the largest down, then face 1's, and so on.
    const uint8_t* data() const { return pixels_.get(); }
    size_t size() const { return size_; }

    // For the decoders: describes the picture and allocates its pixels, all zero. False when
    // the format has no layout, a size is 0, or the memory cannot be had.
    bool Allocate(D3DXIMAGE_INFO fileInfo, D3DFORMAT pixelFormat, uint32_t levelCount,
                  uint32_t faceCount);

private:
    struct Free {
        void operator()(uint8_t* p) const { std::free(p); }
    };
    // calloc'd: a large block comes as untouched zero pages, so a picture that proves damaged
    // after its first rows costs only the pages written.
    std::unique_ptr<uint8_t, Free> pixels_;
    size_t size_ = 0;
    std::vector<ImageLevel> levels_;
};

// What D3DX reports for the file, from its header alone (the pixels are not decoded, so a
// file damaged after its header may still answer S_OK here). D3DXERR_INVALIDDATA for data of
// no known kind or a damaged header; D3DERR_INVALIDCALL for null data or info.
HRESULT ReadImageInfo(const void* data, size_t size, D3DXIMAGE_INFO* info);

// Decodes the whole file. S_OK, D3DXERR_INVALIDDATA (see the top of this file),
// E_OUTOFMEMORY when a picture within the limits cannot be allocated, D3DERR_INVALIDCALL for
// null data or image. On failure *image is left empty.
HRESULT DecodeImage(const void* data, size_t size, const DecodeLimits& limits,
                    DecodedImage* image);

}  // namespace rh::d3dx9
