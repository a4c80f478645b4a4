// The back buffer as a GL framebuffer object and its stretch onto the window.

#include "platform/d3d9/back_buffer.h"

#include "platform/d3d9/formats.h"
#include "platform/d3d9/gl.h"

#include <rimeholt/log.h>

#include <cstdio>
#include <initializer_list>

namespace rh::d3d9 {
namespace {

// Back buffers of every format render with 8 bits a channel; only A8R8G8B8 keeps an alpha
// channel, so the others read destination alpha as 1, as Direct3D's X formats do.
GLenum ColourStorage(D3DFORMAT colour) { return colour == D3DFMT_A8R8G8B8 ? GL_RGBA8 : GL_RGB8; }

}  // namespace

bool BackBuffer::Create(UINT width, UINT height, D3DFORMAT colour, D3DFORMAT depth) {
    Destroy();
    width_ = static_cast<GLint>(width);
    height_ = static_cast<GLint>(height);
    gl.GenFramebuffers(1, &framebuffer_);
    gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer_);

    // A driver that cannot render into RGB8 gets RGBA8, which looks the same on screen.
    for (GLenum storage : {ColourStorage(colour), static_cast<GLenum>(GL_RGBA8)}) {
        if (colour_ != 0) gl.DeleteRenderbuffers(1, &colour_);
        gl.GenRenderbuffers(1, &colour_);
        gl.BindRenderbuffer(GL_RENDERBUFFER, colour_);
        gl.RenderbufferStorage(GL_RENDERBUFFER, storage, width_, height_);
        gl.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour_);
        if (gl.CheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) break;
    }

    const FormatInfo* format = depth != D3DFMT_UNKNOWN ? FindFormat(depth) : nullptr;
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
        depthBits_ = static_cast<unsigned>(bits);
        bits = 0;
        gl.GetRenderbufferParameteriv(GL_RENDERBUFFER, GL_RENDERBUFFER_STENCIL_SIZE, &bits);
        stencilBits_ = static_cast<unsigned>(bits);
    }
    gl.BindRenderbuffer(GL_RENDERBUFFER, 0);

    GLenum status = gl.CheckFramebufferStatus(GL_FRAMEBUFFER);
    CheckGlError("BackBuffer::Create");
    if (status != GL_FRAMEBUFFER_COMPLETE) {
        rh::LogError("Direct3D: no %ux%u back buffer with depth format %d (GL status 0x%04X)", width, height,
                     static_cast<int>(depth), static_cast<unsigned>(status));
        Destroy();
        return false;
    }
    return true;
}

void BackBuffer::Destroy() {
    if (framebuffer_ == 0 && colour_ == 0 && depth_ == 0) return;
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
    if (framebuffer_ != 0) gl.DeleteFramebuffers(1, &framebuffer_);
    if (colour_ != 0) gl.DeleteRenderbuffers(1, &colour_);
    if (depth_ != 0) gl.DeleteRenderbuffers(1, &depth_);
    framebuffer_ = colour_ = depth_ = 0;
    depthBits_ = stencilBits_ = 0;
}

void BackBuffer::Bind() const { gl.BindFramebuffer(GL_FRAMEBUFFER, framebuffer_); }

void BackBuffer::StretchToWindow(int width, int height) const {
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

}  // namespace rh::d3d9
