// Pure translations from Direct3D values to OpenGL ones, grouped by concern. Values come from
// callers (render states): an unknown value falls back to Direct3D's default for the state and
// is logged once.
#pragma once

#include <d3d9types.h>

#include <SDL_opengl.h>

namespace rh::d3d9 {

// D3DCMP_* -> GL comparison (fallback: GL_ALWAYS).
GLenum gl_from_d3d_compare(DWORD func);
// D3DBLEND_* -> GL blend factor; fallback is the default of the state it came from (GL_ONE
// for the source factors, GL_ZERO for the destination ones). BOTHSRCALPHA and BOTHINVSRCALPHA
// are resolved by the caller, since they set both factors.
GLenum gl_from_d3d_blend(DWORD blend, GLenum fallback);
// D3DBLENDOP_* -> GL blend equation (fallback: GL_FUNC_ADD).
GLenum gl_from_d3d_blend_op(DWORD op);
// D3DSTENCILOP_* -> GL stencil operation (fallback: GL_KEEP).
GLenum gl_from_d3d_stencil_op(DWORD op);
// D3DFILL_* -> GL polygon mode (fallback: GL_FILL).
GLenum gl_from_d3d_fill_mode(DWORD mode);

// A D3DCOLOR (0xAARRGGBB) as four floats r, g, b, a in 0..1.
struct GlColor {
    float r, g, b, a;
};
GlColor gl_from_d3d_color(D3DCOLOR color);

}  // namespace rh::d3d9
