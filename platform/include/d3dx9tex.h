// D3DX 9 texture helpers: the types and constants of picture files, filters and normal maps,
// with the documented numeric values (the engine stores and compares them).
#pragma once

#include "d3d9.h"
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

// ---- Textures from pictures ----
//
// Sizes: 0 or D3DX_DEFAULT take the picture's own size rounded up to powers of two,
// D3DX_DEFAULT_NONPOW2 the size as it is; no side exceeds the device's MaxTextureWidth /
// MaxTextureHeight (the picture is scaled to fit). Pictures larger than the device's largest
// texture are refused as D3DXERR_INVALIDDATA.
// Levels: 0 or D3DX_DEFAULT make the full chain down to 1 x 1, each level filtered from the
// one above with mipFilter (0 or D3DX_DEFAULT: D3DX_FILTER_BOX; NONE leaves the levels below
// the first black); a file that stores its own levels (DDS) gives those of matching size.
// Filters (filter for level 0, mipFilter for the others) take NONE, POINT, LINEAR, TRIANGLE
// or BOX in the low bits; 0 or D3DX_DEFAULT is TRIANGLE. NONE copies without scaling and
// leaves the rest of the level black; BOX averages the area each texel covers, TRIANGLE
// weighs it with a tent as wide, LINEAR interpolates between the two nearest texels. The
// dither, mirror and sRGB bits are accepted and have no effect.
// Format: D3DFMT_UNKNOWN follows the picture (alpha: A8R8G8B8, opaque colour: X8R8G8B8,
// grey: L8, grey with alpha: A8L8, DDS files their own format); a format that was asked for is
// used as it is, the pixels converted channel by channel. DXT is never encoded: a DXT texture
// is filled only from a DXT file's own blocks, at the file's size, without colour key and
// with at most the file's levels (0 or D3DX_DEFAULT: the file's). Otherwise a DXT format that
// came from the file becomes A8R8G8B8, and one that was asked for is refused
// (D3DERR_INVALIDCALL). A format the device lacks, when the picture chose it, becomes
// A8R8G8B8.
// colorKey: 0 for none, else texels equal to it (as A8R8G8B8; an opaque picture's alpha is
// 0xFF) become transparent black, and a default format without alpha becomes one with alpha.
// srcInfo (may be null) receives what the file says of itself; palette is not written.
// Results: D3D_OK, D3DXERR_INVALIDDATA for files that are damaged or of no known kind,
// D3DERR_NOTFOUND for a file that cannot be read, D3DERR_INVALIDCALL for bad arguments,
// what CreateTexture answers when the device cannot make the texture, E_OUTOFMEMORY.

// An empty texture: a side of 0, D3DX_DEFAULT or D3DX_DEFAULT_NONPOW2 is 256, within the
// caps; levels 0 or D3DX_DEFAULT the full chain; format D3DFMT_UNKNOWN A8R8G8B8.
HRESULT WINAPI D3DXCreateTexture(LPDIRECT3DDEVICE9 device, UINT width, UINT height, UINT levels, DWORD usage,
                                 D3DFORMAT format, D3DPOOL pool, LPDIRECT3DTEXTURE9* texture);
HRESULT WINAPI D3DXCreateCubeTexture(LPDIRECT3DDEVICE9 device, UINT size, UINT levels, DWORD usage,
                                     D3DFORMAT format, D3DPOOL pool, LPDIRECT3DCUBETEXTURE9* texture);

HRESULT WINAPI D3DXCreateTextureFromFileExA(LPDIRECT3DDEVICE9 device, LPCSTR file, UINT width, UINT height,
                                            UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                            DWORD filter, DWORD mipFilter, D3DCOLOR colorKey,
                                            D3DXIMAGE_INFO* srcInfo, PALETTEENTRY* palette,
                                            LPDIRECT3DTEXTURE9* texture);
HRESULT WINAPI D3DXCreateTextureFromFileInMemoryEx(LPDIRECT3DDEVICE9 device, LPCVOID data, UINT dataSize,
                                                   UINT width, UINT height, UINT levels, DWORD usage,
                                                   D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                                   DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo,
                                                   PALETTEENTRY* palette, LPDIRECT3DTEXTURE9* texture);
// Cube textures come from cube-map DDS files only: any other picture answers
// D3DXERR_INVALIDDATA. (A 2D texture from a cube map takes its first face.)
HRESULT WINAPI D3DXCreateCubeTextureFromFileExA(LPDIRECT3DDEVICE9 device, LPCSTR file, UINT size, UINT levels,
                                                DWORD usage, D3DFORMAT format, D3DPOOL pool, DWORD filter,
                                                DWORD mipFilter, D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo,
                                                PALETTEENTRY* palette, LPDIRECT3DCUBETEXTURE9* texture);
HRESULT WINAPI D3DXCreateCubeTextureFromFileInMemoryEx(LPDIRECT3DDEVICE9 device, LPCVOID data, UINT dataSize,
                                                       UINT size, UINT levels, DWORD usage, D3DFORMAT format,
                                                       D3DPOOL pool, DWORD filter, DWORD mipFilter,
                                                       D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo,
                                                       PALETTEENTRY* palette, LPDIRECT3DCUBETEXTURE9* texture);

// Loads srcRect of the picture (level 0 of the file; null: the whole picture) into destRect of
// the surface (null: the whole surface), scaled to it with filter; colorKey as above. The
// surface's texture may be of any pool but not DXT. Palettes are not used.
HRESULT WINAPI D3DXLoadSurfaceFromFileA(LPDIRECT3DSURFACE9 destSurface, const PALETTEENTRY* destPalette,
                                        const RECT* destRect, LPCSTR srcFile, const RECT* srcRect, DWORD filter,
                                        D3DCOLOR colorKey, D3DXIMAGE_INFO* srcInfo);
HRESULT WINAPI D3DXLoadSurfaceFromFileInMemory(LPDIRECT3DSURFACE9 destSurface, const PALETTEENTRY* destPalette,
                                               const RECT* destRect, LPCVOID srcData, UINT srcDataSize,
                                               const RECT* srcRect, DWORD filter, D3DCOLOR colorKey,
                                               D3DXIMAGE_INFO* srcInfo);

// A normal map of the heights in srcTexture, level by level into texture (same size). The
// height h of a texel is the chosen channel scaled to 0..1 (D3DX_CHANNEL_* bits: the mean of
// those given; LUMINANCE the Rec. 709 weighting of red, green and blue). Slopes are central
// differences, dh/dx = (h(x+1) - h(x-1)) / 2 with x to the right and y down the picture,
// wrapping at the edges or mirrored there with D3DX_NORMALMAP_MIRROR_U / _V. The normal is
// normalise(-amplitude * dh/dx, -amplitude * dh/dy, 1): it leans towards lower heights, +z
// out of the picture: a height rising to the right gives red below 128, one rising down the
// picture green below 128. It is stored as (n + 1) / 2 in red (x), green (y) and blue (z),
// alpha 255, rounded to nearest (a flat map is (128, 128, 255)). Mirroring reads the edge
// texel for the missing neighbour. The textures may be of any pool but the destination not
// DXT; levels both have are computed, each from its own source level. Palettes are not used.
HRESULT WINAPI D3DXComputeNormalMap(LPDIRECT3DTEXTURE9 texture, LPDIRECT3DTEXTURE9 srcTexture,
                                    const PALETTEENTRY* srcPalette, DWORD flags, DWORD channel, FLOAT amplitude);

// Writes the texture, every level (and face), as a file of the given kind: D3DXIFF_DDS only
// (the texture's own format and bytes: masks for formats that have them, a FourCC for DXT),
// from any pool. Palettes are not used.
HRESULT WINAPI D3DXSaveTextureToFileA(LPCSTR destFile, D3DXIMAGE_FILEFORMAT format,
                                      LPDIRECT3DBASETEXTURE9 srcTexture, const PALETTEENTRY* srcPalette);
