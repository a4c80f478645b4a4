// The device's back buffer and automatic depth-stencil buffer: an OpenGL framebuffer object of
// the size the presentation parameters name, whatever the window's size. Present stretches it
// onto the window's client area. Private to platform/d3d9.
#pragma once

#include <d3d9types.h>

#include <SDL_opengl.h>

namespace rh::d3d9 {

class BackBuffer {
public:
    BackBuffer() = default;
    BackBuffer(const BackBuffer&) = delete;
    BackBuffer& operator=(const BackBuffer&) = delete;

    // With the device's context current: makes a width x height colour buffer for the
    // back-buffer format colour and, unless depth is D3DFMT_UNKNOWN, a depth-stencil buffer of
    // that format, and binds them for drawing. Replaces buffers made before. False (and a
    // message on stderr) when GL cannot make them.
    bool Create(UINT width, UINT height, D3DFORMAT colour, D3DFORMAT depth);
    // With the device's context current: frees the GL objects (deleting the context frees
    // them too).
    void Destroy();
    // Makes the back buffer the target of drawing, Clear and reads again.
    void Bind() const;
    // Copies the whole back buffer onto the window's framebuffer of width x height pixels,
    // stretched with linear filtering when the sizes differ, and leaves the window's
    // framebuffer bound. The blit honours the scissor test: the caller switches it off.
    void StretchToWindow(int width, int height) const;

    // The depth and stencil bits GL gave the depth-stencil buffer (0 without one).
    unsigned depthBits() const { return depthBits_; }
    unsigned stencilBits() const { return stencilBits_; }

private:
    GLuint framebuffer_ = 0;
    GLuint colour_ = 0;
    GLuint depth_ = 0;
    GLint width_ = 0;
    GLint height_ = 0;
    unsigned depthBits_ = 0;
    unsigned stencilBits_ = 0;
};

}  // namespace rh::d3d9
