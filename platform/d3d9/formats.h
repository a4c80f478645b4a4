// The one table of Direct3D formats: how each D3DFORMAT is stored in OpenGL and laid out when
// locked. Private to platform/d3d9.
#pragma once

#include <d3d9types.h>

#include <SDL_opengl.h>

namespace rh::d3d9 {

enum class FormatKind {
    Color,    // a colour surface or texture
    Depth,    // a depth (and stencil) buffer
    Index,    // an index buffer's element
    Other,    // vertex data, bump maps, video formats
};

// How a locked surface of the format is laid out in memory.
enum class LockLayout {
    None,        // cannot be locked
    Packed,      // bytesPerPixel bytes a pixel, rows of Pitch bytes, little-endian D3D bit order
    Blocks4x4,   // compressed: bytesPerPixel bytes per 4x4 block, Pitch is one row of blocks
};

struct FormatInfo {
    D3DFORMAT format;
    FormatKind kind;
    bool supported;       // false: an explicit row for a format the layer does not offer
    GLenum internalFormat;
    GLenum glFormat;      // pixel-transfer format
    GLenum glType;        // pixel-transfer type; with glFormat it reads the D3D bytes as they are
    unsigned bytesPerPixel;  // bytes per 4x4 block for Blocks4x4
    LockLayout lock;
    unsigned depthBits;
    unsigned stencilBits;
};

// The row of format; null for a value that is no Direct3D 9 format.
const FormatInfo* FindFormat(D3DFORMAT format);

// Convenience checks on the table.
bool IsSupportedDepthFormat(D3DFORMAT format);
bool IsSupportedColorFormat(D3DFORMAT format);

// The display (adapter) format a back-buffer format is shown in: X8R8G8B8 for the 32-bit
// formats, R5G6B5 for the 16-bit ones, D3DFMT_UNKNOWN for formats no display mode shows.
D3DFORMAT DisplayFormatOfBackBuffer(D3DFORMAT backBuffer);

}  // namespace rh::d3d9
