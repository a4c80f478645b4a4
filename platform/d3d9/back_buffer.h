// The device's back buffer and automatic depth-stencil buffer. When the window's own
// framebuffer is equivalent (the same size, 8-bit colour channels, the depth and stencil the
// device's format has, no multisampling) the device draws straight into it and Present only
// swaps. Otherwise it is an OpenGL framebuffer object of the size the presentation parameters
// name, whatever the window's size, which Present stretches onto the window's client area.
// Private to platform/d3d9.
#pragma once

#include <d3d9types.h>

#include <SDL_opengl.h>

namespace rh::d3d9 {

class GlCache;

// What the window's default framebuffer holds, as GL reports it.
struct WindowFramebuffer {
    int width = 0;
    int height = 0;
    int red = 0, green = 0, blue = 0, alpha = 0;
    int depth = 0;
    int stencil = 0;
    int sampleBuffers = 0;
    GLenum drawBuffer = 0;  // GL_BACK when double-buffered
    // Whether GL's buffer was found to have width x height pixels (ProbeWindowSize): a
    // driver may keep the surface of the size the window was made with while the window
    // reports another (SDL's offscreen driver does), and then a picture drawn there is cut.
    bool sizeReached = false;
    int probes = 0;  // how often the size was probed since it last changed
};

// With the device's context current: the window's default framebuffer of width x height
// drawable pixels, its size probed. Leaves it bound.
WindowFramebuffer QueryWindowFramebuffer(int width, int height, GlCache& cache);

// With the device's context current: whether the window's buffer reaches window.width x
// window.height pixels. Clears the window's colour buffer (through the cache; the caller marks
// the raster state dirty) and leaves the window's framebuffer bound.
bool ProbeWindowSize(const WindowFramebuffer& window, GlCache& cache);

// Whether drawing into window is the same as drawing into a framebuffer object of width x
// height for the colour and depth formats (depth D3DFMT_UNKNOWN: none).
bool WindowServesAsBackBuffer(const WindowFramebuffer& window, UINT width, UINT height, D3DFORMAT colour,
                              D3DFORMAT depth);

class BackBuffer {
public:
    BackBuffer() = default;
    BackBuffer(const BackBuffer&) = delete;
    BackBuffer& operator=(const BackBuffer&) = delete;

    // With the device's context current: makes a width x height back buffer for the
    // back-buffer format colour and, unless depth is D3DFMT_UNKNOWN, a depth-stencil buffer of
    // that format, and binds it for drawing. With a window that serves (above) that is the
    // window's framebuffer (as the probe of its size left it: opaque); without (null) a
    // framebuffer object.
    // Replaces buffers made before. False (and a message on stderr) when GL cannot make them.
    bool Create(UINT width, UINT height, D3DFORMAT colour, D3DFORMAT depth, const WindowFramebuffer* window);
    // With the device's context current: frees the GL objects (deleting the context frees
    // them too).
    void Destroy();
    // Makes the back buffer the target of drawing, Clear and reads again.
    void Bind() const;
    // Copies the whole back buffer onto the window's framebuffer of width x height pixels,
    // stretched with linear filtering when the sizes differ, and leaves the window's
    // framebuffer bound. The blit honours the scissor test: the caller switches it off.
    // Drawn on the window, the picture is there already.
    void StretchToWindow(int width, int height) const;

    // From the window to a framebuffer object of the same size, keeping the picture (the
    // window's lower left width x height pixels). The caller has the scissor test off. False
    // when GL cannot make the object: the back buffer stays on the window.
    bool LeaveWindow();
    // From the framebuffer object back onto the window, which serves: the picture is copied,
    // the object freed. The caller has the scissor test off.
    void ReturnToWindow(const WindowFramebuffer& window);

    // Whether the back buffer is the window's framebuffer.
    bool onWindow() const { return onWindow_; }
    // The window's framebuffer has an alpha channel the back-buffer format lacks: drawing
    // leaves it alone, so it reads 1 as the format's does.
    bool alphaLocked() const { return onWindow_ && alphaLocked_; }
    // The colour buffer reads come from.
    GLenum readBuffer() const { return onWindow_ ? windowBuffer_ : static_cast<GLenum>(GL_COLOR_ATTACHMENT0); }
    // The depth and stencil bits GL gave the depth-stencil buffer (0 without one).
    unsigned depthBits() const { return depthBits_; }
    unsigned stencilBits() const { return stencilBits_; }

private:
    // The framebuffer object for the stored formats, bound; false (logged, nothing kept) when
    // GL cannot make it.
    bool CreateObject();
    void FreeObject();
    // Records window as the back buffer and binds it.
    void UseWindow(const WindowFramebuffer& window);

    UINT formatWidth_ = 0;
    UINT formatHeight_ = 0;
    D3DFORMAT colourFormat_ = D3DFMT_UNKNOWN;
    D3DFORMAT depthFormat_ = D3DFMT_UNKNOWN;
    bool onWindow_ = false;
    bool alphaLocked_ = false;
    GLenum windowBuffer_ = 0;
    GLuint framebuffer_ = 0;
    GLuint colour_ = 0;
    GLuint depth_ = 0;
    GLint width_ = 0;
    GLint height_ = 0;
    unsigned depthBits_ = 0;
    unsigned stencilBits_ = 0;
};

}  // namespace rh::d3d9
