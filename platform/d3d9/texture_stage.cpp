// The texture part of the apply path: the textures on their units with their samplers'
// states (the stages' part of the program key is in pipeline_key.cpp). GL 2.1 keeps sampler
// state in the texture object, so each texture remembers what was sent to it and only changes
// are sent. A texture bound to
// two samplers with different states at once takes the states of the later sampler.

#include "platform/d3d9/d3d9_local.h"
#include "platform/d3d9/gl.h"
#include "platform/d3d9/textures.h"

#include <rimeholt/log.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace rh::d3d9 {
namespace {

// Constants of later GL versions and extensions, with their registered values.
constexpr GLenum kClampToBorder = 0x812D;       // GL_CLAMP_TO_BORDER (1.3)
constexpr GLenum kMirroredRepeat = 0x8370;      // GL_MIRRORED_REPEAT (1.4)
constexpr GLenum kMirrorClampToEdge = 0x8743;   // GL_MIRROR_CLAMP_TO_EDGE (4.4, and its extensions)
constexpr GLenum kTextureLodBias = 0x8501;      // GL_TEXTURE_LOD_BIAS (1.4)
constexpr GLenum kMaxAnisotropy = 0x84FE;       // GL_TEXTURE_MAX_ANISOTROPY_EXT

GLint Wrap(DWORD address, bool mirrorClamp) {
    switch (address) {
        case D3DTADDRESS_MIRROR: return kMirroredRepeat;
        case D3DTADDRESS_CLAMP: return GL_CLAMP_TO_EDGE;
        case D3DTADDRESS_BORDER: return kClampToBorder;
        // Mirrored once, then clamped; without GL's mirror-clamp it keeps mirroring, which
        // differs only beyond one copy of the texture on each side.
        case D3DTADDRESS_MIRRORONCE: return mirrorClamp ? kMirrorClampToEdge : kMirroredRepeat;
        case D3DTADDRESS_WRAP: return GL_REPEAT;
        default:
            RH_LOG_ONCE(LogLevel::Warning, "Direct3D: unknown texture address mode %u; WRAP is used",
                        static_cast<unsigned>(address));
            return GL_REPEAT;
    }
}

// POINT is the nearest texel; LINEAR, ANISOTROPIC and the two quad filters filter linearly.
// An unknown filter is the state's default, POINT.
bool Linear(DWORD filter) {
    if (filter > D3DTEXF_GAUSSIANQUAD || filter == 4 || filter == 5) {
        RH_LOG_ONCE(LogLevel::Warning, "Direct3D: unknown texture filter %u; POINT is used", static_cast<unsigned>(filter));
        return false;
    }
    return filter != D3DTEXF_POINT && filter != D3DTEXF_NONE;
}

GLint MinFilter(DWORD minFilter, DWORD mipFilter) {
    bool linear = Linear(minFilter);
    if (mipFilter > D3DTEXF_GAUSSIANQUAD || mipFilter == 4 || mipFilter == 5) {
        RH_LOG_ONCE(LogLevel::Warning, "Direct3D: unknown mip filter %u; NONE is used", static_cast<unsigned>(mipFilter));
        mipFilter = D3DTEXF_NONE;
    }
    switch (mipFilter) {
        case D3DTEXF_NONE: return linear ? GL_LINEAR : GL_NEAREST;
        case D3DTEXF_POINT: return linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
        default: return linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    }
}

}  // namespace

void Device::ApplyTextures() {
    bool samplersChanged = (textureStageDirty_ & (kDirtyTextures | kDirtySamplers)) != 0;
    textureStageDirty_ = 0;
    // Object after object with the same textures each would only be found bound already.
    if (!samplersChanged && !GlCache::bypassing() && texturesSettled_.texturesSerial == texturesSerial_ &&
        texturesSettled_.cacheSerial == glCache_.textureSerial()) {
        return;
    }
    bool settled = true;
    const GlLimits& limits = d3d_->limits();
    for (DWORD slot = 0; slot < kStageCount; ++slot) {
        TextureStore* store = textureStores_[slot];
        if (store == nullptr) continue;
        if (store->name() == 0) {
            settled = false;  // it may get a name later, which no serial tells
            continue;
        }
        GLenum target = store->target();
        // Uploads bind textures too: the binding is checked at every draw, the cache skips it.
        // Levels and parameters are sent to the active unit, which then must be this one.
        if (!samplersChanged && store->completeInGl()) {
            glCache_.KeepTextureBound(slot, target, store->name());
            continue;
        }
        glCache_.BindTexture(slot, target, store->name());
        store->CompleteInGl();
        if (!samplersChanged) continue;

        const DWORD* s = state_.samplerStates[slot];
        GlSamplerParams want;
        want.known = true;
        want.wrap[0] = Wrap(s[D3DSAMP_ADDRESSU], limits.mirrorClamp);
        want.wrap[1] = Wrap(s[D3DSAMP_ADDRESSV], limits.mirrorClamp);
        want.wrap[2] = Wrap(s[D3DSAMP_ADDRESSW], limits.mirrorClamp);
        want.minFilter = MinFilter(s[D3DSAMP_MINFILTER], s[D3DSAMP_MIPFILTER]);
        want.magFilter = Linear(s[D3DSAMP_MAGFILTER]) ? GL_LINEAR : GL_NEAREST;
        bool anisotropic = s[D3DSAMP_MINFILTER] == D3DTEXF_ANISOTROPIC || s[D3DSAMP_MAGFILTER] == D3DTEXF_ANISOTROPIC;
        want.maxAnisotropy =
            anisotropic ? std::clamp(static_cast<float>(s[D3DSAMP_MAXANISOTROPY]), 1.0f, limits.maxAnisotropy) : 1.0f;
        // MAXMIPLEVEL names the largest level sampled: GL's base level.
        want.baseLevel = static_cast<GLint>(std::min<DWORD>(s[D3DSAMP_MAXMIPLEVEL], store->levelCount() - 1));
        std::memcpy(&want.lodBias, &s[D3DSAMP_MIPMAPLODBIAS], sizeof want.lodBias);
        DWORD border = s[D3DSAMP_BORDERCOLOR];
        want.border = {static_cast<float>((border >> 16) & 0xFF) / 255.0f, static_cast<float>((border >> 8) & 0xFF) / 255.0f,
                       static_cast<float>(border & 0xFF) / 255.0f, static_cast<float>(border >> 24) / 255.0f};
        // The texture's swizzle applies to its border too.
        if (store->swapsRedBlue()) std::swap(want.border[0], want.border[2]);

        GlSamplerParams& sent = store->sent();
        bool all = !sent.known || GlCache::bypassing();
        const GLenum wrapNames[3] = {GL_TEXTURE_WRAP_S, GL_TEXTURE_WRAP_T, GL_TEXTURE_WRAP_R};
        for (int i = 0; i < 3; ++i) {
            if (all || sent.wrap[i] != want.wrap[i]) gl.TexParameteri(target, wrapNames[i], want.wrap[i]);
        }
        if (all || sent.minFilter != want.minFilter) gl.TexParameteri(target, GL_TEXTURE_MIN_FILTER, want.minFilter);
        if (all || sent.magFilter != want.magFilter) gl.TexParameteri(target, GL_TEXTURE_MAG_FILTER, want.magFilter);
        if (limits.maxAnisotropy > 1.0f && (all || sent.maxAnisotropy != want.maxAnisotropy)) {
            gl.TexParameterf(target, kMaxAnisotropy, want.maxAnisotropy);
        }
        if (all || sent.baseLevel != want.baseLevel) gl.TexParameteri(target, GL_TEXTURE_BASE_LEVEL, want.baseLevel);
        if (all || sent.lodBias != want.lodBias) gl.TexParameterf(target, kTextureLodBias, want.lodBias);
        if (all || sent.border != want.border) gl.TexParameterfv(target, GL_TEXTURE_BORDER_COLOR, want.border.data());
        sent = want;
    }
    texturesSettled_ = settled ? TexturesSettled{texturesSerial_, glCache_.textureSerial()} : TexturesSettled{};
    CheckGlError("ApplyTextures");
}

}  // namespace rh::d3d9
