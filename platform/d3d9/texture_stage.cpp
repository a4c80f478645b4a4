// The texture part of the apply path: stage 0's place in the program key, and the textures on
// their units with their samplers' states. GL 2.1 keeps sampler state in the texture object,
// so each texture remembers what was sent to it and only changes are sent. A texture bound to
// two samplers with different states at once takes the states of the later sampler.

#include "platform/d3d9/d3d9_local.h"
#include "platform/d3d9/gl.h"
#include "platform/d3d9/textures.h"

#include <algorithm>
#include <cstring>

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
        default: return GL_REPEAT;
    }
}

// POINT is the nearest texel; LINEAR, ANISOTROPIC and the two quad filters filter linearly.
bool Linear(DWORD filter) { return filter != D3DTEXF_POINT && filter != D3DTEXF_NONE; }

GLint MinFilter(DWORD minFilter, DWORD mipFilter) {
    bool linear = Linear(minFilter);
    switch (mipFilter) {
        case D3DTEXF_NONE: return linear ? GL_LINEAR : GL_NEAREST;
        case D3DTEXF_POINT: return linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
        default: return linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
    }
}

// Stage 0 reads TEXTURE, or the diffuse colour for every other argument (at stage 0
// CURRENT is the diffuse colour); the full cascade comes with the materials.
StageBlend Source(DWORD argument) {
    return (argument & D3DTA_SELECTMASK) == D3DTA_TEXTURE ? StageBlend::Texture : StageBlend::Diffuse;
}

StageBlend BlendOf(DWORD op, DWORD arg1, DWORD arg2) {
    switch (op) {
        case D3DTOP_SELECTARG1: return Source(arg1);
        case D3DTOP_SELECTARG2: return Source(arg2);
        // MODULATE, and for now every other operation: the product of its two arguments.
        default: {
            StageBlend a = Source(arg1);
            return a == Source(arg2) ? a : StageBlend::Modulate;
        }
    }
}

}  // namespace

void Device::AddTextureStage(const DeclarationLayout& layout, PipelineKey* key) const {
    TextureStore* store = StoreOf(textures_[0].get());
    const DWORD* stage = state_.stageStates[0];
    // Without a texture GL can sample, stage 0's CURRENT, the diffuse colour, passes.
    if (store == nullptr || store->name() == 0 || stage[D3DTSS_COLOROP] == D3DTOP_DISABLE) return;
    key->texture = store->faceCount() == 6 ? PipelineKey::kTextureCube : PipelineKey::kTexture2d;
    // The low word names the set; the generation modes above it come with texture transforms.
    DWORD set = stage[D3DTSS_TEXCOORDINDEX] & 0xFFFF;
    key->texCoordSet = static_cast<uint8_t>(set & 7);
    key->texCoordPresent = set < 8 && (layout.texCoordSets & (1u << set)) != 0;
    key->colour = BlendOf(stage[D3DTSS_COLOROP], stage[D3DTSS_COLORARG1], stage[D3DTSS_COLORARG2]);
    // Direct3D leaves a disabled alpha under an enabled colour undefined: the diffuse alpha.
    key->alpha = stage[D3DTSS_ALPHAOP] == D3DTOP_DISABLE
                     ? StageBlend::Diffuse
                     : BlendOf(stage[D3DTSS_ALPHAOP], stage[D3DTSS_ALPHAARG1], stage[D3DTSS_ALPHAARG2]);
}

void Device::ApplyTextures() {
    bool samplersChanged = (textureStageDirty_ & (kDirtyTextures | kDirtySamplers)) != 0;
    textureStageDirty_ = 0;
    const GlLimits& limits = d3d_->limits();
    for (DWORD slot = 0; slot < kStageCount; ++slot) {
        TextureStore* store = StoreOf(textures_[slot].get());
        if (store == nullptr || store->name() == 0) continue;
        GLenum target = store->target();
        // Uploads bind textures too: the binding is checked at every draw, the cache skips it.
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
    CheckGlError("ApplyTextures");
}

}  // namespace rh::d3d9
