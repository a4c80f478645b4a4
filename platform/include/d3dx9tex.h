// D3DX 9 texture helpers: the types and constants of picture files, filters and normal maps,
// with the documented numeric values (the engine stores and compares them).
#pragma once

#include "d3d9types.h"

// Picture data that is damaged, truncated or of a kind no loader reads.
#define D3DXERR_INVALIDDATA ((HRESULT)0x88760B59L)

// "Choose for me": sizes, level counts, formats and filters take the documented default.
#define D3DX_DEFAULT ((UINT)-1)
// As D3DX_DEFAULT for a size, but the picture's own size is kept, not rounded up to a power
// of two.
#define D3DX_DEFAULT_NONPOW2 ((UINT)-2)

// Resampling filters: one of NONE to BOX in the low bits, combined with the flag bits above.
#define D3DX_FILTER_NONE (1 << 0)
#define D3DX_FILTER_POINT (2 << 0)
#define D3DX_FILTER_LINEAR (3 << 0)
#define D3DX_FILTER_TRIANGLE (4 << 0)
#define D3DX_FILTER_BOX (5 << 0)
#define D3DX_FILTER_MIRROR_U (1 << 16)
#define D3DX_FILTER_MIRROR_V (2 << 16)
#define D3DX_FILTER_MIRROR_W (4 << 16)
#define D3DX_FILTER_MIRROR (7 << 16)
#define D3DX_FILTER_DITHER (1 << 19)
#define D3DX_FILTER_DITHER_DIFFUSION (2 << 19)
#define D3DX_FILTER_SRGB_IN (1 << 21)
#define D3DX_FILTER_SRGB_OUT (2 << 21)
#define D3DX_FILTER_SRGB (3 << 21)

// Normal-map options: mirror instead of wrap at the edges.
#define D3DX_NORMALMAP_MIRROR_U (1 << 16)
#define D3DX_NORMALMAP_MIRROR_V (2 << 16)
#define D3DX_NORMALMAP_MIRROR (3 << 16)

// The channel a height is read from.
#define D3DX_CHANNEL_RED (1 << 0)
#define D3DX_CHANNEL_BLUE (1 << 1)
#define D3DX_CHANNEL_GREEN (1 << 2)
#define D3DX_CHANNEL_ALPHA (1 << 3)
#define D3DX_CHANNEL_LUMINANCE (1 << 4)

// The kind of a picture file.
typedef enum _D3DXIMAGE_FILEFORMAT {
    D3DXIFF_BMP = 0,
    D3DXIFF_JPG = 1,
    D3DXIFF_TGA = 2,
    D3DXIFF_PNG = 3,
    D3DXIFF_DDS = 4,
    D3DXIFF_FORCE_DWORD = 0x7fffffff
} D3DXIMAGE_FILEFORMAT;

// What a picture file says of itself, before any scaling or conversion: its size (Depth 1 for
// flat pictures), its level count (1 unless the file stores a mip chain), its own pixel format,
// whether it holds a texture or a cube texture, and the kind of file.
typedef struct _D3DXIMAGE_INFO {
    UINT Width;
    UINT Height;
    UINT Depth;
    UINT MipLevels;
    D3DFORMAT Format;
    D3DRESOURCETYPE ResourceType;
    D3DXIMAGE_FILEFORMAT ImageFileFormat;
} D3DXIMAGE_INFO;

static_assert(sizeof(D3DXIMAGE_INFO) == 28);
