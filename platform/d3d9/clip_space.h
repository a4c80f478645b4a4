// Direct3D's clip space and pixel centres in GL terms, written once for the generated
// fixed-function programs and for effect programs:
// - clip z runs from 0 to w in Direct3D and from -w to w in GL: z' = 2z - w, so that z < 0 is
//   clipped as in Direct3D;
// - Direct3D samples pixel centres at integer coordinates, GL half a pixel further on: x moves
//   right by half a pixel (w / viewport width in clip space) and y up by half a pixel.
// Private to platform/d3d9.
#pragma once

#include <d3d9types.h>

#include <SDL_opengl.h>

#include <string>

namespace rh::d3d9 {

// The GLSL statement that turns position (a vec4 variable holding Direct3D's clip position)
// into GL's, with the half-pixel shift read from the vec4 uniform pixel (see PixelShift).
std::string ClipFixupStatement(const std::string& position, const std::string& pixel);

// The values of that uniform for a viewport. Transformed vertices: x, y the shift per unit of
// w. Pre-transformed vertices: x, y scale and z, w offset from render-target pixels to GL's
// normalised coordinates.
void PixelShift(const D3DVIEWPORT9& viewport, bool pretransformed, GLfloat out[4]);

}  // namespace rh::d3d9
