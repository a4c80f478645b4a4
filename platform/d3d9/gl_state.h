// The one GL-side cache of the device and the apply path that brings GL in line with the
// device's plain-data state. Private to platform/d3d9.
#pragma once

#include "platform/d3d9/device_state.h"

#include <SDL_opengl.h>

#include <array>
#include <cstdint>

namespace rh::d3d9 {

// Remembers what was last sent to GL for each piece of state and skips calls that would not
// change it. It starts knowing nothing (a new context's state is taken as unknown, so the
// first call of each kind always reaches GL). With Bypass(true) every call goes through: if a
// picture changes with it, the cache is at fault.
class GlCache {
public:
    // Forgets everything known; after a context was made current for the first time.
    void Forget();

    static void Bypass(bool on) { bypass_ = on; }
    static bool bypassing() { return bypass_; }

    // Only the capabilities listed in CapIndex are cached.
    void Enable(GLenum cap, bool on);
    void Viewport(GLint x, GLint y, GLsizei w, GLsizei h);
    void Scissor(GLint x, GLint y, GLsizei w, GLsizei h);
    void DepthRange(float nearZ, float farZ);
    void ColorMask(bool r, bool g, bool b, bool a);
    void DepthMask(bool on);
    void StencilMask(GLuint front, GLuint back);
    void DepthFunc(GLenum func);
    void BlendFunc(GLenum srcRgb, GLenum dstRgb, GLenum srcAlpha, GLenum dstAlpha);
    void BlendEquation(GLenum rgb, GLenum alpha);
    void BlendColor(float r, float g, float b, float a);
    void AlphaFunc(GLenum func, float ref);
    void CullFace(GLenum face);
    void FrontFace(GLenum mode);
    void PolygonMode(GLenum mode);
    void PolygonOffset(float factor, float units);
    void ShadeModel(GLenum mode);
    // face is GL_FRONT or GL_BACK.
    void StencilFunc(GLenum face, GLenum func, GLint ref, GLuint mask);
    void StencilOp(GLenum face, GLenum fail, GLenum zfail, GLenum zpass);
    void ClearColor(float r, float g, float b, float a);
    void ClearDepth(float depth);
    void ClearStencil(GLint stencil);

    // target: GL_ARRAY_BUFFER or GL_ELEMENT_ARRAY_BUFFER.
    void BindBuffer(GLenum target, GLuint name);
    // After glDeleteBuffers(name): GL unbound it, and a later buffer may reuse the name, so the
    // attribute arrays that read it must be specified again.
    void ForgetBuffer(GLuint name);
    // Binds name to target (GL_TEXTURE_2D or GL_TEXTURE_CUBE_MAP) of texture unit unit
    // (below kTextureUnitCount), leaving that unit active.
    void BindTexture(GLuint unit, GLenum target, GLuint name);
    // Makes sure name is bound there, for drawing: the active unit changes only when the
    // binding does (switching units at every draw makes some drivers, llvmpipe among them,
    // revalidate every texture).
    void KeepTextureBound(GLuint unit, GLenum target, GLuint name);
    // After glDeleteTextures(name): GL unbound it everywhere, and a later texture may reuse
    // the name.
    void ForgetTexture(GLuint name);
    static constexpr GLuint kTextureUnitCount = 16;
    void UseProgram(GLuint program);
    // After glDeleteProgram(program).
    void ForgetProgram(GLuint program);
    // One attribute array: size components of type read from buffer at offset, stride apart.
    struct AttribArray {
        GLuint buffer = 0;
        GLint size = 0;
        GLenum type = 0;
        bool normalized = false;
        GLsizei stride = 0;
        uintptr_t offset = 0;
        bool operator==(const AttribArray&) const = default;
    };
    static constexpr GLuint kAttribCount = 16;
    // Points attribute index (below kAttribCount) at array; binds array.buffer as GL_ARRAY_BUFFER.
    void VertexAttribPointer(GLuint index, const AttribArray& array);
    // Enables exactly the attribute arrays whose bits are set in mask.
    void EnableAttribArrays(uint32_t mask);
    // Changes whenever what the cache holds for the attribute arrays (pointers, enables)
    // changes or is forgotten: a caller that set them up under one value finds them still so.
    uint64_t attribSerial() const { return attribSerial_; }
    // The same for the texture bindings and the active unit.
    uint64_t textureSerial() const { return textureSerial_; }

private:
    template <typename T>
    struct Cached {
        bool known = false;
        T value{};
        // True when value must be sent (and records it as sent).
        bool Update(const T& v) {
            if (known && value == v && !bypass_) return false;
            known = true;
            value = v;
            return true;
        }
    };
    static int CapIndex(GLenum cap);

    static inline bool bypass_ = false;
    std::array<Cached<bool>, 8> caps_;
    Cached<std::array<GLint, 4>> viewport_, scissor_;
    Cached<std::array<float, 2>> depthRange_, polygonOffset_, alphaFunc_;
    Cached<std::array<bool, 4>> colorMask_;
    Cached<bool> depthMask_;
    Cached<std::array<GLuint, 2>> stencilMask_;
    Cached<GLenum> depthFunc_, cullFace_, frontFace_, polygonMode_, shadeModel_;
    Cached<std::array<GLenum, 4>> blendFunc_;
    Cached<std::array<GLenum, 2>> blendEquation_;
    Cached<std::array<float, 4>> blendColor_, clearColor_;
    Cached<std::array<GLuint, 3>> stencilFunc_[2], stencilOp_[2];
    Cached<float> clearDepth_;
    Cached<GLint> clearStencil_;
    Cached<GLuint> arrayBuffer_, elementBuffer_, program_;
    Cached<AttribArray> attribs_[kAttribCount];
    Cached<uint32_t> enabledAttribs_;
    uint64_t attribSerial_ = 1;
    uint64_t textureSerial_ = 1;
    Cached<GLuint> activeTextureUnit_;
    Cached<GLuint> boundTextures_[kTextureUnitCount][2];  // 2D, cube map
};

// What the apply path needs to know about the render target besides the state.
struct RenderTargetInfo {
    UINT width = 0;
    UINT height = 0;  // GL's y runs upwards: a D3D rectangle's top y maps to height - y
    unsigned depthBits = 0;  // of the device's depth format; 0: no depth buffer, no depth tests or writes
    unsigned stencilBits = 0;
    unsigned glDepthBits = 0;  // of the GL depth buffer behind it, which GL's depth units count
    unsigned glStencilBits = 0;
    // The GL colour buffer has an alpha channel the device's format lacks: no draw writes it
    // and Clear sets it to 1, so it reads as the format's missing channel does.
    bool alphaLocked = false;
};

// Applies the dirty groups the layer translates so far (viewport, depth, stencil, blend,
// alpha test, raster) in that order and clears their bits; the other groups stay dirty for the
// parts of the apply path that come with drawing. reapplyAll applies every group it knows
// whether dirty or not.
void ApplyDeviceState(DeviceState& state, GlCache& cache, const RenderTargetInfo& target, bool reapplyAll);

}  // namespace rh::d3d9
