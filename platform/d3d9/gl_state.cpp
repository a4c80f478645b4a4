// The GL cache and the apply path.

#include "platform/d3d9/gl_state.h"

#include "platform/d3d9/gl.h"
#include "platform/d3d9/gl_translate.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace rh::d3d9 {

void GlCache::Forget() {
    // Never back to a value a caller may hold.
    uint64_t attribSerial = attribSerial_ + 1, textureSerial = textureSerial_ + 1;
    *this = GlCache();
    attribSerial_ = attribSerial;
    textureSerial_ = textureSerial;
}

int GlCache::CapIndex(GLenum cap) {
    switch (cap) {
        case GL_DEPTH_TEST: return 0;
        case GL_STENCIL_TEST: return 1;
        case GL_BLEND: return 2;
        case GL_ALPHA_TEST: return 3;
        case GL_CULL_FACE: return 4;
        case GL_SCISSOR_TEST: return 5;
        case GL_POLYGON_OFFSET_FILL: return 6;
        case GL_DITHER: return 7;
        default: return -1;
    }
}

void GlCache::Enable(GLenum cap, bool on) {
    int index = CapIndex(cap);
    if (index >= 0 && !caps_[index].Update(on)) return;
    if (on) {
        gl.Enable(cap);
    } else {
        gl.Disable(cap);
    }
}

void GlCache::Viewport(GLint x, GLint y, GLsizei w, GLsizei h) {
    if (viewport_.Update({x, y, w, h})) gl.Viewport(x, y, w, h);
}

void GlCache::Scissor(GLint x, GLint y, GLsizei w, GLsizei h) {
    if (scissor_.Update({x, y, w, h})) gl.Scissor(x, y, w, h);
}

void GlCache::DepthRange(float nearZ, float farZ) {
    if (depthRange_.Update({nearZ, farZ})) gl.DepthRange(nearZ, farZ);
}

void GlCache::ColorMask(bool r, bool g, bool b, bool a) {
    if (colorMask_.Update({r, g, b, a})) gl.ColorMask(r, g, b, a);
}

void GlCache::DepthMask(bool on) {
    if (depthMask_.Update(on)) gl.DepthMask(on ? GL_TRUE : GL_FALSE);
}

void GlCache::StencilMask(GLuint front, GLuint back) {
    if (!stencilMask_.Update({front, back})) return;
    gl.StencilMaskSeparate(GL_FRONT, front);
    gl.StencilMaskSeparate(GL_BACK, back);
}

void GlCache::DepthFunc(GLenum func) {
    if (depthFunc_.Update(func)) gl.DepthFunc(func);
}

void GlCache::BlendFunc(GLenum srcRgb, GLenum dstRgb, GLenum srcAlpha, GLenum dstAlpha) {
    if (blendFunc_.Update({srcRgb, dstRgb, srcAlpha, dstAlpha})) gl.BlendFuncSeparate(srcRgb, dstRgb, srcAlpha, dstAlpha);
}

void GlCache::BlendEquation(GLenum rgb, GLenum alpha) {
    if (blendEquation_.Update({rgb, alpha})) gl.BlendEquationSeparate(rgb, alpha);
}

void GlCache::BlendColor(float r, float g, float b, float a) {
    if (blendColor_.Update({r, g, b, a})) gl.BlendColor(r, g, b, a);
}

void GlCache::AlphaFunc(GLenum func, float ref) {
    if (alphaFunc_.Update({static_cast<float>(func), ref})) gl.AlphaFunc(func, ref);
}

void GlCache::CullFace(GLenum face) {
    if (cullFace_.Update(face)) gl.CullFace(face);
}

void GlCache::FrontFace(GLenum mode) {
    if (frontFace_.Update(mode)) gl.FrontFace(mode);
}

void GlCache::PolygonMode(GLenum mode) {
    if (polygonMode_.Update(mode)) gl.PolygonMode(GL_FRONT_AND_BACK, mode);
}

void GlCache::PolygonOffset(float factor, float units) {
    if (polygonOffset_.Update({factor, units})) gl.PolygonOffset(factor, units);
}

void GlCache::ShadeModel(GLenum mode) {
    if (shadeModel_.Update(mode)) gl.ShadeModel(mode);
}

void GlCache::StencilFunc(GLenum face, GLenum func, GLint ref, GLuint mask) {
    if (stencilFunc_[face == GL_BACK].Update({func, static_cast<GLuint>(ref), mask})) {
        gl.StencilFuncSeparate(face, func, ref, mask);
    }
}

void GlCache::StencilOp(GLenum face, GLenum fail, GLenum zfail, GLenum zpass) {
    if (stencilOp_[face == GL_BACK].Update({fail, zfail, zpass})) gl.StencilOpSeparate(face, fail, zfail, zpass);
}

void GlCache::ClearColor(float r, float g, float b, float a) {
    if (clearColor_.Update({r, g, b, a})) gl.ClearColor(r, g, b, a);
}

void GlCache::ClearDepth(float depth) {
    if (clearDepth_.Update(depth)) gl.ClearDepth(depth);
}

void GlCache::ClearStencil(GLint stencil) {
    if (clearStencil_.Update(stencil)) gl.ClearStencil(stencil);
}

void GlCache::BindBuffer(GLenum target, GLuint name) {
    Cached<GLuint>& bound = target == GL_ELEMENT_ARRAY_BUFFER ? elementBuffer_ : arrayBuffer_;
    if (bound.Update(name)) gl.BindBuffer(target, name);
}

void GlCache::ForgetBuffer(GLuint name) {
    for (Cached<GLuint>* bound : {&arrayBuffer_, &elementBuffer_}) {
        if (bound->known && bound->value == name) bound->value = 0;
    }
    for (Cached<AttribArray>& attrib : attribs_) {
        if (attrib.known && attrib.value.buffer == name) attrib.known = false;
    }
    ++attribSerial_;
}

void GlCache::BindTexture(GLuint unit, GLenum target, GLuint name) {
    if (activeTextureUnit_.Update(unit)) {
        ++textureSerial_;
        gl.ActiveTexture(GL_TEXTURE0 + unit);
    }
    if (boundTextures_[unit][target == GL_TEXTURE_CUBE_MAP ? 1 : 0].Update(name)) {
        ++textureSerial_;
        gl.BindTexture(target, name);
    }
}

void GlCache::KeepTextureBound(GLuint unit, GLenum target, GLuint name) {
    const Cached<GLuint>& bound = boundTextures_[unit][target == GL_TEXTURE_CUBE_MAP ? 1 : 0];
    if (bound.known && bound.value == name && !bypass_) return;
    BindTexture(unit, target, name);
}

void GlCache::ForgetTexture(GLuint name) {
    for (auto& unit : boundTextures_) {
        for (Cached<GLuint>& bound : unit) {
            if (bound.known && bound.value == name) bound.known = false;
        }
    }
    ++textureSerial_;
}

void GlCache::UseProgram(GLuint program) {
    if (program_.Update(program)) gl.UseProgram(program);
}

void GlCache::ForgetProgram(GLuint program) {
    // GL keeps a deleted program in use until another replaces it; the name may come back.
    if (program_.known && program_.value == program) program_.known = false;
}

void GlCache::VertexAttribPointer(GLuint index, const AttribArray& array) {
    if (!attribs_[index].Update(array)) return;
    ++attribSerial_;
    BindBuffer(GL_ARRAY_BUFFER, array.buffer);
    gl.VertexAttribPointer(index, array.size, array.type, array.normalized ? GL_TRUE : GL_FALSE, array.stride,
                           reinterpret_cast<const void*>(array.offset));
}

void GlCache::EnableAttribArrays(uint32_t mask) {
    bool known = enabledAttribs_.known && !bypass_;
    uint32_t before = enabledAttribs_.value;
    if (!enabledAttribs_.Update(mask)) return;
    ++attribSerial_;
    for (GLuint i = 0; i < kAttribCount; ++i) {
        uint32_t bit = 1u << i;
        if (known && ((before ^ mask) & bit) == 0) continue;
        if (mask & bit) {
            gl.EnableVertexAttribArray(i);
        } else {
            gl.DisableVertexAttribArray(i);
        }
    }
}

namespace {

float AsFloat(DWORD bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void ApplyViewport(const DeviceState& s, GlCache& cache, const RenderTargetInfo& target) {
    const D3DVIEWPORT9& vp = s.viewport;
    // Direct3D's viewport y is the top edge measured downwards; GL's is the bottom edge upwards.
    cache.Viewport(static_cast<GLint>(vp.X), static_cast<GLint>(target.height) - static_cast<GLint>(vp.Y + vp.Height),
                   static_cast<GLsizei>(vp.Width), static_cast<GLsizei>(vp.Height));
    cache.DepthRange(vp.MinZ, vp.MaxZ);
}

void ApplyDepth(const DeviceState& s, GlCache& cache, const RenderTargetInfo& target) {
    const DWORD* rs = s.renderStates;
    // Without a depth buffer Direct3D neither tests nor writes depth, whatever the states say.
    bool test = target.depthBits > 0 && rs[D3DRS_ZENABLE] != D3DZB_FALSE;
    cache.Enable(GL_DEPTH_TEST, test);
    cache.DepthFunc(gl_from_d3d_compare(rs[D3DRS_ZFUNC]));
    cache.DepthMask(test && rs[D3DRS_ZWRITEENABLE] != FALSE);
}

void ApplyStencil(const DeviceState& s, GlCache& cache, const RenderTargetInfo& target) {
    const DWORD* rs = s.renderStates;
    bool on = target.stencilBits > 0 && rs[D3DRS_STENCILENABLE] != FALSE;
    cache.Enable(GL_STENCIL_TEST, on);
    if (!on) return;
    GLint ref = static_cast<GLint>(rs[D3DRS_STENCILREF]);
    GLuint mask = rs[D3DRS_STENCILMASK];
    // Front faces are the clockwise ones (see ApplyRaster); two-sided mode gives the
    // counter-clockwise ones their own function and operations.
    bool twoSided = rs[D3DRS_TWOSIDEDSTENCILMODE] != FALSE;
    D3DRENDERSTATETYPE backFunc = twoSided ? D3DRS_CCW_STENCILFUNC : D3DRS_STENCILFUNC;
    D3DRENDERSTATETYPE backFail = twoSided ? D3DRS_CCW_STENCILFAIL : D3DRS_STENCILFAIL;
    D3DRENDERSTATETYPE backZFail = twoSided ? D3DRS_CCW_STENCILZFAIL : D3DRS_STENCILZFAIL;
    D3DRENDERSTATETYPE backPass = twoSided ? D3DRS_CCW_STENCILPASS : D3DRS_STENCILPASS;
    cache.StencilFunc(GL_FRONT, gl_from_d3d_compare(rs[D3DRS_STENCILFUNC]), ref, mask);
    cache.StencilFunc(GL_BACK, gl_from_d3d_compare(rs[backFunc]), ref, mask);
    cache.StencilOp(GL_FRONT, gl_from_d3d_stencil_op(rs[D3DRS_STENCILFAIL]),
                    gl_from_d3d_stencil_op(rs[D3DRS_STENCILZFAIL]), gl_from_d3d_stencil_op(rs[D3DRS_STENCILPASS]));
    cache.StencilOp(GL_BACK, gl_from_d3d_stencil_op(rs[backFail]), gl_from_d3d_stencil_op(rs[backZFail]),
                    gl_from_d3d_stencil_op(rs[backPass]));
    cache.StencilMask(rs[D3DRS_STENCILWRITEMASK], rs[D3DRS_STENCILWRITEMASK]);
}

// Source and destination factors of one blend, with the two "both" modes that set both.
void BlendFactors(DWORD src, DWORD dst, GLenum* glSrc, GLenum* glDst) {
    if (src == D3DBLEND_BOTHSRCALPHA) {
        *glSrc = GL_SRC_ALPHA;
        *glDst = GL_ONE_MINUS_SRC_ALPHA;
    } else if (src == D3DBLEND_BOTHINVSRCALPHA) {
        *glSrc = GL_ONE_MINUS_SRC_ALPHA;
        *glDst = GL_SRC_ALPHA;
    } else {
        *glSrc = gl_from_d3d_blend(src, GL_ONE);
        *glDst = gl_from_d3d_blend(dst, GL_ZERO);
    }
}

void ApplyBlend(const DeviceState& s, GlCache& cache) {
    const DWORD* rs = s.renderStates;
    bool on = rs[D3DRS_ALPHABLENDENABLE] != FALSE;
    cache.Enable(GL_BLEND, on);
    if (!on) return;
    GLenum src, dst, srcAlpha, dstAlpha;
    BlendFactors(rs[D3DRS_SRCBLEND], rs[D3DRS_DESTBLEND], &src, &dst);
    GLenum op = gl_from_d3d_blend_op(rs[D3DRS_BLENDOP]);
    GLenum opAlpha = op;
    if (rs[D3DRS_SEPARATEALPHABLENDENABLE] != FALSE) {
        BlendFactors(rs[D3DRS_SRCBLENDALPHA], rs[D3DRS_DESTBLENDALPHA], &srcAlpha, &dstAlpha);
        opAlpha = gl_from_d3d_blend_op(rs[D3DRS_BLENDOPALPHA]);
    } else {
        srcAlpha = src;
        dstAlpha = dst;
    }
    cache.BlendFunc(src, dst, srcAlpha, dstAlpha);
    cache.BlendEquation(op, opAlpha);
    GlColor factor = gl_from_d3d_color(rs[D3DRS_BLENDFACTOR]);
    cache.BlendColor(factor.r, factor.g, factor.b, factor.a);
}

void ApplyAlphaTest(const DeviceState&, GlCache& cache) {
    // The generated programs compare the 8-bit alpha with the reference as integers (GL's
    // test compares floats, where an alpha equal to the reference may fall either side).
    cache.Enable(GL_ALPHA_TEST, false);
}

void ApplyRaster(const DeviceState& s, GlCache& cache, const RenderTargetInfo& target) {
    const DWORD* rs = s.renderStates;
    // Direct3D's front faces are clockwise on screen; D3DCULL_CCW (the default) culls the
    // counter-clockwise ones.
    cache.FrontFace(GL_CW);
    DWORD cull = rs[D3DRS_CULLMODE];
    cache.Enable(GL_CULL_FACE, cull == D3DCULL_CW || cull == D3DCULL_CCW);
    if (cull == D3DCULL_CW) cache.CullFace(GL_FRONT);
    if (cull == D3DCULL_CCW) cache.CullFace(GL_BACK);
    cache.PolygonMode(gl_from_d3d_fill_mode(rs[D3DRS_FILLMODE]));
    cache.ShadeModel(rs[D3DRS_SHADEMODE] == D3DSHADE_FLAT ? GL_FLAT : GL_SMOOTH);
    DWORD write = rs[D3DRS_COLORWRITEENABLE];
    cache.ColorMask(write & 1, write & 2, write & 4, (write & 8) != 0 && !target.alphaLocked);
    cache.Enable(GL_DITHER, rs[D3DRS_DITHERENABLE] != FALSE);
    // Direct3D's scissor rectangle has its top edge at y, measured downwards; an inverted one
    // keeps nothing.
    cache.Enable(GL_SCISSOR_TEST, rs[D3DRS_SCISSORTESTENABLE] != FALSE);
    const RECT& scissor = s.scissorRect;
    cache.Scissor(scissor.left, static_cast<GLint>(target.height) - scissor.bottom,
                  std::max<GLsizei>(scissor.right - scissor.left, 0), std::max<GLsizei>(scissor.bottom - scissor.top, 0));
    // Direct3D's depth bias is in depth-buffer units of 0..1; GL's units are the smallest
    // resolvable steps.
    float bias = AsFloat(rs[D3DRS_DEPTHBIAS]);
    float slope = AsFloat(rs[D3DRS_SLOPESCALEDEPTHBIAS]);
    bool offset = bias != 0.0f || slope != 0.0f;
    cache.Enable(GL_POLYGON_OFFSET_FILL, offset);
    if (offset) cache.PolygonOffset(slope, bias * std::ldexp(1.0f, static_cast<int>(target.glDepthBits)));
}

}  // namespace

void ApplyDeviceState(DeviceState& state, GlCache& cache, const RenderTargetInfo& target, bool reapplyAll) {
    uint32_t dirty = reapplyAll ? kDirtyAll : state.dirty;
    if (dirty & kDirtyViewport) ApplyViewport(state, cache, target);
    if (dirty & kDirtyDepth) ApplyDepth(state, cache, target);
    if (dirty & kDirtyStencil) ApplyStencil(state, cache, target);
    if (dirty & kDirtyBlend) ApplyBlend(state, cache);
    if (dirty & kDirtyAlphaTest) ApplyAlphaTest(state, cache);
    if (dirty & kDirtyRaster) ApplyRaster(state, cache, target);
    state.dirty &= ~(kDirtyViewport | kDirtyDepth | kDirtyStencil | kDirtyBlend | kDirtyAlphaTest | kDirtyRaster);
    CheckGlError("ApplyDeviceState");
}

}  // namespace rh::d3d9
