// Direct3D's clip space and pixel centres in GL terms.

#include "platform/d3d9/clip_space.h"

#include <algorithm>

namespace rh::d3d9 {

std::string ClipFixupStatement(const std::string& position, const std::string& pixel) {
    const std::string& p = position;
    return "gl_Position = vec4(" + p + ".xy + " + p + ".w * " + pixel + ".xy, 2.0 * " + p + ".z - " + p + ".w, " + p +
           ".w);";
}

void PixelShift(const D3DVIEWPORT9& vp, bool pretransformed, GLfloat out[4]) {
    float width = static_cast<float>(std::max<DWORD>(vp.Width, 1));
    float height = static_cast<float>(std::max<DWORD>(vp.Height, 1));
    // A pixel centre exactly on an edge belongs to the triangle right of or below the edge
    // in Direct3D (its top-left rule); GL rasterisers settle such ties for the edges
    // below instead, in their upward y. A lift of kTieLift pixels, far above rasteriser
    // precision and far below anything visible, gives those centres to the edges above.
    constexpr float kTieLift = 1.0f / 64.0f;
    if (pretransformed) {
        // Pixel x (a centre at an integer) lies at GL's x + 0.5 within the viewport.
        out[0] = 2.0f / width;
        out[1] = -2.0f / height;
        out[2] = (0.5f - static_cast<float>(vp.X)) * out[0] - 1.0f;
        out[3] = 1.0f - (0.5f - kTieLift - static_cast<float>(vp.Y)) * 2.0f / height;
    } else {
        out[0] = 1.0f / width;
        out[1] = (2.0f * kTieLift - 1.0f) / height;
        out[2] = out[3] = 0.0f;
    }
}

}  // namespace rh::d3d9
