// The translation switches. Each is total: the default branch is the documented fallback.

#include "platform/d3d9/gl_translate.h"

#include <rimeholt/log.h>

#include <mutex>
#include <set>
#include <string>

namespace rh::d3d9 {
namespace {

constexpr GLenum kFuncAdd = 0x8006;              // GL_FUNC_ADD
constexpr GLenum kFuncSubtract = 0x800A;         // GL_FUNC_SUBTRACT
constexpr GLenum kFuncReverseSubtract = 0x800B;  // GL_FUNC_REVERSE_SUBTRACT
constexpr GLenum kMin = 0x8007;                  // GL_MIN
constexpr GLenum kMax = 0x8008;                  // GL_MAX
constexpr GLenum kConstantColor = 0x8001;        // GL_CONSTANT_COLOR
constexpr GLenum kOneMinusConstantColor = 0x8002;
constexpr GLenum kIncrWrap = 0x8507;             // GL_INCR_WRAP
constexpr GLenum kDecrWrap = 0x8508;             // GL_DECR_WRAP

// A value outside the documented set came from the program: reported once per kind and value.
void ReportUnknown(const char* kind, DWORD value) {
    static std::mutex mutex;
    static std::set<std::string> seen;
    std::string key = std::string(kind) + ":" + std::to_string(value);
    std::lock_guard<std::mutex> lock(mutex);
    if (seen.insert(key).second) rh::LogWarning("Direct3D: unknown %s value %u", kind, value);
}

}  // namespace

GLenum gl_from_d3d_compare(DWORD func) {
    switch (func) {
        case D3DCMP_NEVER: return GL_NEVER;
        case D3DCMP_LESS: return GL_LESS;
        case D3DCMP_EQUAL: return GL_EQUAL;
        case D3DCMP_LESSEQUAL: return GL_LEQUAL;
        case D3DCMP_GREATER: return GL_GREATER;
        case D3DCMP_NOTEQUAL: return GL_NOTEQUAL;
        case D3DCMP_GREATEREQUAL: return GL_GEQUAL;
        case D3DCMP_ALWAYS: return GL_ALWAYS;
        default: ReportUnknown("comparison", func); return GL_ALWAYS;
    }
}

GLenum gl_from_d3d_blend(DWORD blend, GLenum fallback) {
    switch (blend) {
        case D3DBLEND_ZERO: return GL_ZERO;
        case D3DBLEND_ONE: return GL_ONE;
        case D3DBLEND_SRCCOLOR: return GL_SRC_COLOR;
        case D3DBLEND_INVSRCCOLOR: return GL_ONE_MINUS_SRC_COLOR;
        case D3DBLEND_SRCALPHA: return GL_SRC_ALPHA;
        case D3DBLEND_INVSRCALPHA: return GL_ONE_MINUS_SRC_ALPHA;
        case D3DBLEND_DESTALPHA: return GL_DST_ALPHA;
        case D3DBLEND_INVDESTALPHA: return GL_ONE_MINUS_DST_ALPHA;
        case D3DBLEND_DESTCOLOR: return GL_DST_COLOR;
        case D3DBLEND_INVDESTCOLOR: return GL_ONE_MINUS_DST_COLOR;
        case D3DBLEND_SRCALPHASAT: return GL_SRC_ALPHA_SATURATE;
        case D3DBLEND_BLENDFACTOR: return kConstantColor;
        case D3DBLEND_INVBLENDFACTOR: return kOneMinusConstantColor;
        default: ReportUnknown("blend", blend); return fallback;
    }
}

GLenum gl_from_d3d_blend_op(DWORD op) {
    switch (op) {
        case D3DBLENDOP_ADD: return kFuncAdd;
        case D3DBLENDOP_SUBTRACT: return kFuncSubtract;
        case D3DBLENDOP_REVSUBTRACT: return kFuncReverseSubtract;
        case D3DBLENDOP_MIN: return kMin;
        case D3DBLENDOP_MAX: return kMax;
        default: ReportUnknown("blend operation", op); return kFuncAdd;
    }
}

GLenum gl_from_d3d_stencil_op(DWORD op) {
    switch (op) {
        case D3DSTENCILOP_KEEP: return GL_KEEP;
        case D3DSTENCILOP_ZERO: return GL_ZERO;
        case D3DSTENCILOP_REPLACE: return GL_REPLACE;
        case D3DSTENCILOP_INCRSAT: return GL_INCR;
        case D3DSTENCILOP_DECRSAT: return GL_DECR;
        case D3DSTENCILOP_INVERT: return GL_INVERT;
        case D3DSTENCILOP_INCR: return kIncrWrap;
        case D3DSTENCILOP_DECR: return kDecrWrap;
        default: ReportUnknown("stencil operation", op); return GL_KEEP;
    }
}

GLenum gl_from_d3d_fill_mode(DWORD mode) {
    switch (mode) {
        case D3DFILL_POINT: return GL_POINT;
        case D3DFILL_WIREFRAME: return GL_LINE;
        case D3DFILL_SOLID: return GL_FILL;
        default: ReportUnknown("fill mode", mode); return GL_FILL;
    }
}

GlColor gl_from_d3d_color(D3DCOLOR color) {
    constexpr float kScale = 1.0f / 255.0f;
    return GlColor{static_cast<float>((color >> 16) & 0xFF) * kScale, static_cast<float>((color >> 8) & 0xFF) * kScale,
                   static_cast<float>(color & 0xFF) * kScale, static_cast<float>((color >> 24) & 0xFF) * kScale};
}

}  // namespace rh::d3d9
