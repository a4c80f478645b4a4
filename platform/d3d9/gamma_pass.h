// The gamma ramp of a full-screen device, applied by the layer itself at Present: the display's
// own ramp (SDL's window gamma) works only on DirectColor X visuals, never on Wayland or
// headless, and would change the whole desktop. The back buffer reaches the window through a
// 256-entry lookup per channel instead. Private to platform/d3d9.
#pragma once

#include <d3d9types.h>

#include <SDL_opengl.h>

namespace rh::d3d9 {

class GlCache;

// Whether the ramp maps every level to itself, as Direct3D's ramp levels count (the top byte
// of each entry): such a ramp needs no pass.
bool IsIdentityRamp(const D3DGAMMARAMP& ramp);

class GammaPass {
public:
    GammaPass() = default;
    GammaPass(const GammaPass&) = delete;
    GammaPass& operator=(const GammaPass&) = delete;

    // With the device's context current and the back buffer's framebuffer bound for reading:
    // draws the back buffer (sourceWidth x sourceHeight) onto the window's framebuffer
    // (width x height, stretched with linear filtering when the sizes differ), each channel's
    // level through the ramp. Changes GL state through the cache (the caller marks the
    // device's state dirty) and leaves the window's framebuffer bound for drawing. False when
    // GL cannot make the program (logged once); the caller then shows the picture as it is.
    bool Draw(const D3DGAMMARAMP& ramp, GlCache& cache, int sourceWidth, int sourceHeight, int width, int height);
    // With the device's context current: frees the GL objects.
    void Destroy(GlCache& cache);

private:
    bool MakeProgram();

    bool tried_ = false;
    GLuint program_ = 0;
    GLuint picture_ = 0;  // a copy of the back buffer
    GLuint lookup_ = 0;   // 256 x 1: the ramp's levels in red, green and blue
    int pictureWidth_ = 0;
    int pictureHeight_ = 0;
    D3DGAMMARAMP uploaded_{};
    bool lookupValid_ = false;
};

}  // namespace rh::d3d9
