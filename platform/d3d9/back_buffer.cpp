// The back buffer: the window's own framebuffer when it serves, else a GL framebuffer object
// and its stretch onto the window.

#include "platform/d3d9/back_buffer.h"

#include "platform/d3d9/formats.h"
#include "platform/d3d9/gl.h"
#include "platform/d3d9/gl_state.h"

#include <rimeholt/log.h>

#include <cstdio>
#include <initializer_list>
#include <utility>

namespace rh::d3d9 {
namespace {

// Back buffers of every format render with 8 bits a channel; only A8R8G8B8 keeps an alpha
// channel, so the others read destination alpha as 1, as Direct3D's X formats do.
GLenum ColourStorage(D3DFORMAT colour) { return colour == D3DFMT_A8R8G8B8 ? GL_RGBA8 : GL_RGB8; }

}  // namespace

WindowFramebuffer QueryWindowFramebuffer(int width, int height, GlCache& cache) {
    WindowFramebuffer w;
    w.width = width;
    w.height = height;
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
    const std::pair<GLenum, int*> queries[] = {{GL_RED_BITS, &w.red},     {GL_GREEN_BITS, &w.green},
                                               {GL_BLUE_BITS, &w.blue},   {GL_ALPHA_BITS, &w.alpha},
                                               {GL_DEPTH_BITS, &w.depth}, {GL_STENCIL_BITS, &w.stencil},
                                               {GL_SAMPLE_BUFFERS, &w.sampleBuffers}};
    for (const auto& [name, value] : queries) {
        GLint v = 0;
        gl.GetIntegerv(name, &v);
        *value = v;
    }
    GLint buffer = 0;
    gl.GetIntegerv(GL_DRAW_BUFFER, &buffer);
    w.drawBuffer = static_cast<GLenum>(buffer);
    w.sizeReached = ProbeWindowSize(w, cache);
    w.probes = 1;
    CheckGlError("QueryWindowFramebuffer");
    return w;
}

bool ProbeWindowSize(const WindowFramebuffer& window, GlCache& cache) {
    if (window.width <= 0 || window.height <= 0 || window.drawBuffer == 0) return false;
    // GL answers nothing about its own buffer's size; a read outside the buffer is clipped
    // away, leaving the destination as it was. So clear the window to a colour and read its
    // far corner back into a word holding another.
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
    gl.DrawBuffer(window.drawBuffer);
    gl.ReadBuffer(window.drawBuffer);
    cache.Enable(GL_SCISSOR_TEST, false);
    cache.ColorMask(true, true, true, true);
    cache.ClearColor(0.0f, 1.0f, 0.0f, 1.0f);
    gl.Clear(GL_COLOR_BUFFER_BIT);
    GLuint corner = 0xFF0000FFu;
    gl.PixelStorei(GL_PACK_ALIGNMENT, 4);
    gl.ReadPixels(window.width - 1, window.height - 1, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, &corner);
    // The window is left opaque black, as a new back buffer of the layer's own starts.
    cache.ClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    gl.Clear(GL_COLOR_BUFFER_BIT);
    CheckGlError("ProbeWindowSize");
    const auto* bytes = reinterpret_cast<const GLubyte*>(&corner);
    return bytes[0] == 0 && bytes[1] == 0xFF && bytes[2] == 0;
}

bool WindowServesAsBackBuffer(const WindowFramebuffer& window, UINT width, UINT height, D3DFORMAT colour,
                              D3DFORMAT depth) {
    if (window.width != static_cast<int>(width) || window.height != static_cast<int>(height)) return false;
    if (!window.sizeReached) return false;
    // A single-buffered window would show the frame while it is drawn.
    if (window.drawBuffer != GL_BACK || window.sampleBuffers != 0) return false;
    if (window.red != 8 || window.green != 8 || window.blue != 8) return false;
    // An alpha channel the format lacks is left alone by drawing (see alphaLocked); one the
    // format has must be there.
    if (colour == D3DFMT_A8R8G8B8 ? window.alpha != 8 : window.alpha != 0 && window.alpha != 8) return false;
    if (depth == D3DFMT_UNKNOWN) return true;  // without a depth format no test reads the window's
    const FormatInfo* format = FindFormat(depth);
    if (format == nullptr || !format->supported || format->kind != FormatKind::Depth) return false;
    // The same depth precision; a stencil buffer the format lacks is never tested or written.
    if (window.depth != static_cast<int>(format->depthBits)) return false;
    return format->stencilBits == 0 || window.stencil == static_cast<int>(format->stencilBits);
}

bool BackBuffer::Create(UINT width, UINT height, D3DFORMAT colour, D3DFORMAT depth, const WindowFramebuffer* window) {
    Destroy();
    formatWidth_ = width;
    formatHeight_ = height;
    colourFormat_ = colour;
    depthFormat_ = depth;
    width_ = static_cast<GLint>(width);
    height_ = static_cast<GLint>(height);
    if (window != nullptr && WindowServesAsBackBuffer(*window, width, height, colour, depth)) {
        UseWindow(*window);
        return true;
    }
    if (!CreateObject()) {
        Destroy();
        return false;
    }
    return true;
}

void BackBuffer::UseWindow(const WindowFramebuffer& window) {
    onWindow_ = true;
    alphaLocked_ = colourFormat_ != D3DFMT_A8R8G8B8 && window.alpha > 0;
    windowBuffer_ = window.drawBuffer;
    const bool hasDepth = depthFormat_ != D3DFMT_UNKNOWN;
    depthBits_ = hasDepth ? static_cast<unsigned>(window.depth) : 0;
    stencilBits_ = hasDepth ? static_cast<unsigned>(window.stencil) : 0;
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
    gl.DrawBuffer(windowBuffer_);
}

bool BackBuffer::CreateObject() {
    gl.GenFramebuffers(1, &framebuffer_);
    gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer_);

    // A driver that cannot render into RGB8 gets RGBA8, which looks the same on screen.
    for (GLenum storage : {ColourStorage(colourFormat_), static_cast<GLenum>(GL_RGBA8)}) {
        if (colour_ != 0) gl.DeleteRenderbuffers(1, &colour_);
        gl.GenRenderbuffers(1, &colour_);
        gl.BindRenderbuffer(GL_RENDERBUFFER, colour_);
        gl.RenderbufferStorage(GL_RENDERBUFFER, storage, width_, height_);
        gl.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
        if (gl.CheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) break;
    }

    unsigned depthBits = 0;
    unsigned stencilBits = 0;
    const FormatInfo* format = depthFormat_ != D3DFMT_UNKNOWN ? FindFormat(depthFormat_) : nullptr;
    if (format != nullptr && format->supported && format->kind == FormatKind::Depth) {
        gl.GenRenderbuffers(1, &depth_);
        gl.BindRenderbuffer(GL_RENDERBUFFER, depth_);
        gl.RenderbufferStorage(GL_RENDERBUFFER, format->internalFormat, width_, height_);
        gl.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, depth_);
        if (format->stencilBits > 0) {
            gl.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_STENCIL_ATTACHMENT, GL_RENDERBUFFER, depth_);
        }
        GLint bits = 0;
        gl.GetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_DEPTH_SIZE, &bits);
        depthBits = static_cast<unsigned>(bits);
        bits = 0;
        gl.GetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_STENCIL_SIZE, &bits);
        stencilBits = static_cast<unsigned>(bits);
    }
    gl.BindRenderbuffer(GL_RENDERBUFFER, 0);

    GLenum status = gl.CheckFramebufferStatus(GL_FRAMEBUFFER);
    CheckGlError("BackBuffer::Create");
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        rh::LogError("Direct3D: no %ux%u back buffer with depth format %d (GL status 0x%04X)", formatWidth_,
                     formatHeight_, static_cast<int>(depthFormat_), static_cast<unsigned>(status));
        FreeObject();
        return false;
    }
    depthBits_ = depthBits;
    stencilBits_ = stencilBits;
    return true;
}

void BackBuffer::FreeObject() {
    if (framebuffer_ == 0 && colour_ == 0 && depth_ == 0) return;
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
    if (framebuffer_ != 0) gl.DeleteFramebuffers(1, &framebuffer_);
    if (colour_ != 0) gl.DeleteRenderbuffers(1, &colour_);
    if (depth_ != 0) gl.DeleteRenderbuffers(1, &depth_);
    framebuffer_ = colour_ = depth_ = 0;
}

void BackBuffer::Destroy() {
    FreeObject();
    onWindow_ = false;
    alphaLocked_ = false;
    depthBits_ = stencilBits_ = 0;
}

void BackBuffer::Bind() const { gl.BindFramebuffer(GL_FRAMEBUFFER, onWindow_ ? 0 : framebuffer_); }

void BackBuffer::StretchToWindow(int width, int height) const {
    if (onWindow_) {
        gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
        return;
    }
    gl.BindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    gl.DrawBuffer(GL_BACK);
    // Present with null rectangles fills the whole client area, stretching when the sizes
    // differ. Both framebuffers keep GL's bottom-up rows, so the picture stays upright.
    GLenum filter = width == width_ && height == height_ ? GL_NEAREST : GL_LINEAR;
    gl.BlitFramebuffer(0, 0, width_, height_, 0, 0, width, height, GL_COLOR_BUFFER_BIT, filter);
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
    CheckGlError("BackBuffer::StretchToWindow");
}

// Moving between the window and an object copies the colour only: the window's depth buffer
// may have another GL format than the object's, which a blit refuses. Both moves happen
// between frames (a ramp change, the window's size changing), and a frame clears its depth.
bool BackBuffer::LeaveWindow() {
    if (!onWindow_) return true;
    if (!CreateObject()) return false;
    gl.BindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    gl.ReadBuffer(windowBuffer_);
    gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, framebuffer_);
    gl.BlitFramebuffer(0, 0, width_, height_, 0, 0, width_, height_, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    onWindow_ = false;
    alphaLocked_ = false;
    CheckGlError("BackBuffer::LeaveWindow");
    return true;
}

void BackBuffer::ReturnToWindow(const WindowFramebuffer& window) {
    if (onWindow_) return;
    gl.BindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
    gl.ReadBuffer(GL_COLOR_ATTACHMENT0);
    gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    gl.DrawBuffer(window.drawBuffer);
    // An object without alpha gives the window's alpha channel 1.
    gl.BlitFramebuffer(0, 0, width_, height_, 0, 0, width_, height_, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    FreeObject();
    UseWindow(window);
    CheckGlError("BackBuffer::ReturnToWindow");
}

}  // namespace rh::d3d9
