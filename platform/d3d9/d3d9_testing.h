// Hooks for tests of the Direct3D layer and of code running on it. Not for the program.
#pragma once

#include <d3d9.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rh::d3d9::testing {

// true: the device is lost from now on (TestCooperativeLevel and Present answer
// D3DERR_DEVICELOST), as when a full-screen window loses the focus. false: the cause ends;
// the device then waits for Reset (D3DERR_DEVICENOTRESET). device is a device of this layer.
void ForceDeviceLoss(IDirect3DDevice9* device, bool lost);

// The back buffer's pixels in the rectangle (x, y from the top-left, right and bottom
// exclusive) as 0xAARRGGBB words, top row first, read before Present. False for a rectangle
// outside the back buffer.
bool ReadBackBuffer(IDirect3DDevice9* device, RECT rect, std::vector<DWORD>* pixels);

// Present(null, null, null, null), also reading what it showed in the device window's client
// area: *width x *height 0xAARRGGBB words, top row first. The Present result; pixels stay
// empty unless it is D3D_OK.
HRESULT PresentAndReadWindow(IDirect3DDevice9* device, std::vector<DWORD>* pixels, int* width, int* height);

// Whether the device draws straight into its window's framebuffer (rather than into a
// framebuffer object that Present copies onto the window).
bool BackBufferOnWindow(IDirect3DDevice9* device);

// Applies the device's pending state to GL as a draw would.
void PrepareDraw(IDirect3DDevice9* device);

// The draw counter: DrawPrimitive and DrawIndexedPrimitive calls of the device that answered
// D3D_OK since the device was made or the counter was last reset.
UINT DrawCallCount(IDirect3DDevice9* device);
// The triangles those calls drew (lists, strips and fans), reset with the draw counter.
uint64_t TriangleCount(IDirect3DDevice9* device);
void ResetDrawCallCount(IDirect3DDevice9* device);

// What GL holds of a vertex or index buffer of this layer (the bytes draws read), read back
// from the GL buffer object. False for another object or when GL cannot be reached.
bool ReadBufferObject(IDirect3DResource9* buffer, std::vector<BYTE>* bytes);
// The bytes the CPU holds for a vertex or index buffer of this layer outside GL (its copy, or
// an open lock's); 0 for another object.
size_t BufferCpuBytes(IDirect3DResource9* buffer);

// true: occlusion queries answer S_FALSE from GetData as if the result had not arrived yet
// (OpenGL drivers, llvmpipe among them, often have it at once); false: they answer again.
// Process-wide.
void HoldQueryResults(bool hold);
// true: occlusion queries are unsupported (CreateQuery answers D3DERR_NOTAVAILABLE), as on a
// driver without GL_SAMPLES_PASSED. Process-wide.
void MakeQueriesUnsupported(bool unsupported);

// true: textures made from now on hold DXT formats in GL as their decoding, as on a driver
// without GL_EXT_texture_compression_s3tc; false: as blocks where GL can. Process-wide.
void DisableS3tc(bool disabled);
// true: textures made from now on store X8R8G8B8 and X8B8G8R8 in GL without an alpha channel,
// as on a driver without texture swizzles; false: as RGBA8 whose alpha GL answers as 1 where
// the driver can swizzle. Process-wide.
void DisableTextureSwizzle(bool disabled);
// What GL holds of one level of a texture of this layer (face 0..5 of a cube texture, 0 for
// a 2D one) as 0xAARRGGBB words, top row first (luminance reads as grey, missing alpha as
// 0xFF). False for a system-memory texture, another object, or when GL cannot be reached.
bool ReadTextureLevel(IDirect3DBaseTexture9* texture, UINT face, UINT level, std::vector<DWORD>* pixels);
// Texels over every level and face of the textures alive with a GL object (not system memory),
// over every device of the process: four bytes each is their decoded size.
uint64_t LiveTextureTexels();
// Bytes of the vertex and index buffers alive with a GL object, over every device of the
// process: the geometry GL holds.
uint64_t LiveBufferBytes();

// The generated fixed-function programs the device holds, and how many it dropped to keep
// its cache bounded.
int ProgramCount(IDirect3DDevice9* device);
uint64_t ProgramEvictions(IDirect3DDevice9* device);

// The GL objects the layer has made and not deleted, over every device of the process.
struct GlObjects {
    int64_t textures, buffers, queries, framebuffers, renderbuffers, shaders, programs;
    bool operator==(const GlObjects&) const = default;
};
GlObjects LiveGlObjects();

// true: the GL cache passes every call through (to rule out a caching fault in one step).
void BypassGlCache(bool on);

}  // namespace rh::d3d9::testing
