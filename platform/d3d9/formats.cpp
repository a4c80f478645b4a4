// The format table as data. 16-bit colour formats keep their own GL storage for textures; the
// 16-bit back buffers render into the RGBA8 window buffer (see DisplayFormatOfBackBuffer).

#include "platform/d3d9/formats.h"

#include <iterator>

namespace rh::d3d9 {
namespace {

// Constants of later GL versions and extensions, with their registered values.
constexpr GLenum kDepthStencil = 0x84F9;           // GL_DEPTH_STENCIL
constexpr GLenum kDepth24Stencil8 = 0x88F0;        // GL_DEPTH24_STENCIL8
constexpr GLenum kUnsignedInt248 = 0x84FA;         // GL_UNSIGNED_INT_24_8
constexpr GLenum kDxt1 = 0x83F1;                   // GL_COMPRESSED_RGBA_S3TC_DXT1_EXT
constexpr GLenum kDxt3 = 0x83F2;                   // GL_COMPRESSED_RGBA_S3TC_DXT3_EXT
constexpr GLenum kDxt5 = 0x83F3;                   // GL_COMPRESSED_RGBA_S3TC_DXT5_EXT
constexpr GLenum kRgba16f = 0x881A;                // GL_RGBA16F
constexpr GLenum kRgba32f = 0x8814;                // GL_RGBA32F
constexpr GLenum kHalfFloat = 0x140B;              // GL_HALF_FLOAT

using K = FormatKind;
using L = LockLayout;

// Colour rows name GL's format/type pair that reads the D3D little-endian word unchanged:
// D3D's A8R8G8B8 is the bytes B, G, R, A in memory, GL's BGRA with 8_8_8_8_REV.
constexpr FormatInfo kFormats[] = {
    // format                  kind      ok     internal             format              type                               bpp lock          d   s
    {D3DFMT_R8G8B8,            K::Color, true,  GL_RGB8,             GL_BGR,             GL_UNSIGNED_BYTE,                  3, L::Packed,    0, 0},
    {D3DFMT_A8R8G8B8,          K::Color, true,  GL_RGBA8,            GL_BGRA,            GL_UNSIGNED_INT_8_8_8_8_REV,       4, L::Packed,    0, 0},
    {D3DFMT_X8R8G8B8,          K::Color, true,  GL_RGB8,             GL_BGRA,            GL_UNSIGNED_INT_8_8_8_8_REV,       4, L::Packed,    0, 0},
    {D3DFMT_R5G6B5,            K::Color, true,  GL_RGB5,             GL_RGB,             GL_UNSIGNED_SHORT_5_6_5,           2, L::Packed,    0, 0},
    {D3DFMT_X1R5G5B5,          K::Color, true,  GL_RGB5,             GL_BGRA,            GL_UNSIGNED_SHORT_1_5_5_5_REV,     2, L::Packed,    0, 0},
    {D3DFMT_A1R5G5B5,          K::Color, true,  GL_RGB5_A1,          GL_BGRA,            GL_UNSIGNED_SHORT_1_5_5_5_REV,     2, L::Packed,    0, 0},
    {D3DFMT_A4R4G4B4,          K::Color, true,  GL_RGBA4,            GL_BGRA,            GL_UNSIGNED_SHORT_4_4_4_4_REV,     2, L::Packed,    0, 0},
    {D3DFMT_R3G3B2,            K::Color, true,  GL_R3_G3_B2,         GL_RGB,             GL_UNSIGNED_BYTE_3_3_2,            1, L::Packed,    0, 0},
    {D3DFMT_A8,                K::Color, true,  GL_ALPHA8,           GL_ALPHA,           GL_UNSIGNED_BYTE,                  1, L::Packed,    0, 0},
    {D3DFMT_A8R3G3B2,          K::Color, false, 0,                   0,                  0,                                 2, L::Packed,    0, 0},
    {D3DFMT_X4R4G4B4,          K::Color, true,  GL_RGB4,             GL_BGRA,            GL_UNSIGNED_SHORT_4_4_4_4_REV,     2, L::Packed,    0, 0},
    {D3DFMT_A2B10G10R10,       K::Color, true,  GL_RGB10_A2,         GL_RGBA,            GL_UNSIGNED_INT_2_10_10_10_REV,    4, L::Packed,    0, 0},
    {D3DFMT_A8B8G8R8,          K::Color, true,  GL_RGBA8,            GL_RGBA,            GL_UNSIGNED_BYTE,                  4, L::Packed,    0, 0},
    {D3DFMT_X8B8G8R8,          K::Color, true,  GL_RGB8,             GL_RGBA,            GL_UNSIGNED_BYTE,                  4, L::Packed,    0, 0},
    {D3DFMT_G16R16,            K::Color, false, 0,                   0,                  0,                                 4, L::Packed,    0, 0},
    {D3DFMT_A2R10G10B10,       K::Color, true,  GL_RGB10_A2,         GL_BGRA,            GL_UNSIGNED_INT_2_10_10_10_REV,    4, L::Packed,    0, 0},
    {D3DFMT_A16B16G16R16,      K::Color, true,  GL_RGBA16,           GL_RGBA,            GL_UNSIGNED_SHORT,                 8, L::Packed,    0, 0},
    {D3DFMT_A8P8,              K::Color, false, 0,                   0,                  0,                                 2, L::Packed,    0, 0},
    {D3DFMT_P8,                K::Color, false, 0,                   0,                  0,                                 1, L::Packed,    0, 0},
    {D3DFMT_L8,                K::Color, true,  GL_LUMINANCE8,       GL_LUMINANCE,       GL_UNSIGNED_BYTE,                  1, L::Packed,    0, 0},
    {D3DFMT_A8L8,              K::Color, true,  GL_LUMINANCE8_ALPHA8, GL_LUMINANCE_ALPHA, GL_UNSIGNED_BYTE,                 2, L::Packed,    0, 0},
    {D3DFMT_A4L4,              K::Color, false, 0,                   0,                  0,                                 1, L::Packed,    0, 0},
    {D3DFMT_L16,               K::Color, true,  GL_LUMINANCE16,      GL_LUMINANCE,       GL_UNSIGNED_SHORT,                 2, L::Packed,    0, 0},
    {D3DFMT_DXT1,              K::Color, true,  kDxt1,               GL_RGBA,            GL_UNSIGNED_BYTE,                  8, L::Blocks4x4, 0, 0},
    // DXT2 and DXT4 are DXT3 and DXT5 with premultiplied colour: the bytes are the same.
    {D3DFMT_DXT2,              K::Color, true,  kDxt3,               GL_RGBA,            GL_UNSIGNED_BYTE,                 16, L::Blocks4x4, 0, 0},
    {D3DFMT_DXT3,              K::Color, true,  kDxt3,               GL_RGBA,            GL_UNSIGNED_BYTE,                 16, L::Blocks4x4, 0, 0},
    {D3DFMT_DXT4,              K::Color, true,  kDxt5,               GL_RGBA,            GL_UNSIGNED_BYTE,                 16, L::Blocks4x4, 0, 0},
    {D3DFMT_DXT5,              K::Color, true,  kDxt5,               GL_RGBA,            GL_UNSIGNED_BYTE,                 16, L::Blocks4x4, 0, 0},
    {D3DFMT_R16F,              K::Color, false, 0,                   0,                  0,                                 2, L::Packed,    0, 0},
    {D3DFMT_G16R16F,           K::Color, false, 0,                   0,                  0,                                 4, L::Packed,    0, 0},
    {D3DFMT_A16B16G16R16F,     K::Color, false, kRgba16f,            GL_RGBA,            kHalfFloat,                        8, L::Packed,    0, 0},
    {D3DFMT_R32F,              K::Color, false, 0,                   0,                  0,                                 4, L::Packed,    0, 0},
    {D3DFMT_G32R32F,           K::Color, false, 0,                   0,                  0,                                 8, L::Packed,    0, 0},
    {D3DFMT_A32B32G32R32F,     K::Color, false, kRgba32f,            GL_RGBA,            GL_FLOAT,                         16, L::Packed,    0, 0},
    {D3DFMT_MULTI2_ARGB8,      K::Color, false, 0,                   0,                  0,                                 0, L::None,      0, 0},
    {D3DFMT_V8U8,              K::Other, false, 0,                   0,                  0,                                 2, L::Packed,    0, 0},
    {D3DFMT_L6V5U5,            K::Other, false, 0,                   0,                  0,                                 2, L::Packed,    0, 0},
    {D3DFMT_X8L8V8U8,          K::Other, false, 0,                   0,                  0,                                 4, L::Packed,    0, 0},
    {D3DFMT_Q8W8V8U8,          K::Other, false, 0,                   0,                  0,                                 4, L::Packed,    0, 0},
    {D3DFMT_V16U16,            K::Other, false, 0,                   0,                  0,                                 4, L::Packed,    0, 0},
    {D3DFMT_A2W10V10U10,       K::Other, false, 0,                   0,                  0,                                 4, L::Packed,    0, 0},
    {D3DFMT_Q16W16V16U16,      K::Other, false, 0,                   0,                  0,                                 8, L::Packed,    0, 0},
    {D3DFMT_CxV8U8,            K::Other, false, 0,                   0,                  0,                                 2, L::Packed,    0, 0},
    {D3DFMT_UYVY,              K::Other, false, 0,                   0,                  0,                                 2, L::None,      0, 0},
    {D3DFMT_YUY2,              K::Other, false, 0,                   0,                  0,                                 2, L::None,      0, 0},
    {D3DFMT_R8G8_B8G8,         K::Other, false, 0,                   0,                  0,                                 2, L::None,      0, 0},
    {D3DFMT_G8R8_G8B8,         K::Other, false, 0,                   0,                  0,                                 2, L::None,      0, 0},
    {D3DFMT_VERTEXDATA,        K::Other, true,  0,                   0,                  0,                                 0, L::None,      0, 0},
    // Depth buffers are never locked here; D16_LOCKABLE and the float formats are not offered.
    {D3DFMT_D16_LOCKABLE,      K::Depth, false, 0,                   0,                  0,                                 2, L::None,     16, 0},
    {D3DFMT_D32,               K::Depth, false, 0,                   0,                  0,                                 4, L::None,     32, 0},
    {D3DFMT_D15S1,             K::Depth, false, 0,                   0,                  0,                                 2, L::None,     15, 1},
    {D3DFMT_D24S8,             K::Depth, true,  kDepth24Stencil8,    kDepthStencil,      kUnsignedInt248,                   4, L::None,     24, 8},
    {D3DFMT_D24X8,             K::Depth, true,  GL_DEPTH_COMPONENT24, GL_DEPTH_COMPONENT, GL_UNSIGNED_INT,                  4, L::None,     24, 0},
    {D3DFMT_D24X4S4,           K::Depth, false, 0,                   0,                  0,                                 4, L::None,     24, 4},
    {D3DFMT_D16,               K::Depth, true,  GL_DEPTH_COMPONENT16, GL_DEPTH_COMPONENT, GL_UNSIGNED_SHORT,                2, L::None,     16, 0},
    {D3DFMT_D32F_LOCKABLE,     K::Depth, false, 0,                   0,                  0,                                 4, L::None,     32, 0},
    {D3DFMT_D24FS8,            K::Depth, false, 0,                   0,                  0,                                 4, L::None,     24, 8},
    {D3DFMT_INDEX16,           K::Index, true,  0,                   0,                  GL_UNSIGNED_SHORT,                 2, L::Packed,    0, 0},
    {D3DFMT_INDEX32,           K::Index, true,  0,                   0,                  GL_UNSIGNED_INT,                   4, L::Packed,    0, 0},
};

}  // namespace

const FormatInfo* FindFormat(D3DFORMAT format) {
    for (const FormatInfo& row : kFormats) {
        if (row.format == format) return &row;
    }
    return nullptr;
}

bool IsSupportedDepthFormat(D3DFORMAT format) {
    const FormatInfo* row = FindFormat(format);
    return row != nullptr && row->supported && row->kind == FormatKind::Depth;
}

bool IsSupportedColorFormat(D3DFORMAT format) {
    const FormatInfo* row = FindFormat(format);
    return row != nullptr && row->supported && row->kind == FormatKind::Color;
}

D3DFORMAT DisplayFormatOfBackBuffer(D3DFORMAT backBuffer) {
    switch (backBuffer) {
        case D3DFMT_A8R8G8B8:
        case D3DFMT_X8R8G8B8:
            return D3DFMT_X8R8G8B8;
        case D3DFMT_R5G6B5:
        case D3DFMT_X1R5G5B5:
            return D3DFMT_R5G6B5;
        default:
            return D3DFMT_UNKNOWN;
    }
}

}  // namespace rh::d3d9
