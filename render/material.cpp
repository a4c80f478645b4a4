#include "render/material.h"

#include "render/camera_view.h"
#include "render/effect_manager.h"
#include "render/lit_effect_material.h"
#include "render/state_cache.h"
#include "render/texture.h"

#include <d3dx9math.h>
#include <rimeholt/log.h>

#include <cmath>
#include <cstring>
#include <utility>

namespace {

// The bits of 1e-5f: the depth bias that lifts the first of two passes off the second.
constexpr DWORD kTwoPassDepthBias = 0x3727C5ACu;
// The generation part of a D3DTSS_TEXCOORDINDEX value.
constexpr DWORD kTexCoordGenerationMask = 0xFFFF0000u;

// ---- Values from scene files. Each answers a value the device knows: the given one, or
// Direct3D's default for the state, with a warning the first time.

// The arithmetic operations the fixed-function pipeline offers: every D3DTOP value but
// PREMODULATE and the two bump-mapping ones.
bool KnownTextureOp(int32_t op) {
    return op >= D3DTOP_DISABLE && op <= D3DTOP_LERP && op != D3DTOP_PREMODULATE && op != D3DTOP_BUMPENVMAP &&
           op != D3DTOP_BUMPENVMAPLUMINANCE;
}

// Direct3D starts stage 0 with MODULATE (colour) and SELECTARG1 (alpha), every other stage
// disabled.
DWORD ColorOpOrDefault(int32_t op, int32_t stage) {
    if (KnownTextureOp(op)) return static_cast<DWORD>(op);
    RH_LOG_ONCE(rh::LogLevel::Warning, "material: unknown colour operation %d, using the stage's default", op);
    return stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
}

DWORD AlphaOpOrDefault(int32_t op, int32_t stage) {
    if (KnownTextureOp(op)) return static_cast<DWORD>(op);
    RH_LOG_ONCE(rh::LogLevel::Warning, "material: unknown alpha operation %d, using the stage's default", op);
    return stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
}

// A selector DIFFUSE .. TEMP with COMPLEMENT and ALPHAREPLICATE; Direct3D's defaults are
// TEXTURE for argument 1 and CURRENT for arguments 0 and 2.
DWORD ArgOrDefault(DWORD arg, int32_t index) {
    const DWORD modifiers = D3DTA_COMPLEMENT | D3DTA_ALPHAREPLICATE;
    if ((arg & ~(modifiers | D3DTA_SELECTMASK)) == 0 && (arg & D3DTA_SELECTMASK) <= D3DTA_TEMP) return arg;
    RH_LOG_ONCE(rh::LogLevel::Warning, "material: unknown stage argument 0x%x, using the argument's default",
                static_cast<unsigned>(arg));
    return index == 1 ? D3DTA_TEXTURE : D3DTA_CURRENT;
}

DWORD AddressOrDefault(int32_t mode) {
    if (mode >= D3DTADDRESS_WRAP && mode <= D3DTADDRESS_MIRRORONCE) return static_cast<DWORD>(mode);
    RH_LOG_ONCE(rh::LogLevel::Warning, "material: unknown texture address mode %d, using WRAP", mode);
    return D3DTADDRESS_WRAP;
}

// Minification and magnification filters; Direct3D starts with POINT.
DWORD FilterOrDefault(int32_t filter) {
    switch (filter) {
        case D3DTEXF_POINT:
        case D3DTEXF_LINEAR:
        case D3DTEXF_ANISOTROPIC:
        case D3DTEXF_PYRAMIDALQUAD:
        case D3DTEXF_GAUSSIANQUAD:
            return static_cast<DWORD>(filter);
        default:
            RH_LOG_ONCE(rh::LogLevel::Warning, "material: unknown texture filter %d, using POINT", filter);
            return D3DTEXF_POINT;
    }
}

// Mip filters: NONE, POINT or LINEAR; Direct3D starts with NONE.
DWORD MipFilterOrDefault(int32_t filter) {
    if (filter >= D3DTEXF_NONE && filter <= D3DTEXF_LINEAR) return static_cast<DWORD>(filter);
    RH_LOG_ONCE(rh::LogLevel::Warning, "material: unknown mip filter %d, using NONE", filter);
    return D3DTEXF_NONE;
}

// Direct3D starts with source ONE and destination ZERO.
DWORD SourceBlendOrDefault(int32_t factor) {
    if (factor >= D3DBLEND_ZERO && factor <= D3DBLEND_INVBLENDFACTOR) return static_cast<DWORD>(factor);
    RH_LOG_ONCE(rh::LogLevel::Warning, "material: unknown source blend factor %d, using ONE", factor);
    return D3DBLEND_ONE;
}

DWORD DestBlendOrDefault(int32_t factor) {
    if (factor >= D3DBLEND_ZERO && factor <= D3DBLEND_INVBLENDFACTOR) return static_cast<DWORD>(factor);
    RH_LOG_ONCE(rh::LogLevel::Warning, "material: unknown destination blend factor %d, using ZERO", factor);
    return D3DBLEND_ZERO;
}

// ---- Which arguments an operation reads: SELECTARG1 argument 1, SELECTARG2 argument 2,
// MULTIPLYADD and LERP all three, every other operation arguments 1 and 2.
bool ReadsArg(DWORD op, int32_t index) {
    switch (op) {
        case D3DTOP_DISABLE:
            return false;
        case D3DTOP_SELECTARG1:
            return index == 1;
        case D3DTOP_SELECTARG2:
            return index == 2;
        case D3DTOP_MULTIPLYADD:
        case D3DTOP_LERP:
            return true;
        default:
            return index != 0;
    }
}

bool ReadsSource(DWORD op, const DWORD args[3], DWORD source) {
    for (int32_t a = 0; a < 3; ++a) {
        if (ReadsArg(op, a) && (args[a] & D3DTA_SELECTMASK) == source) return true;
    }
    return false;
}

constexpr D3DTEXTURESTAGESTATETYPE kColorArgStates[3] = {D3DTSS_COLORARG0, D3DTSS_COLORARG1, D3DTSS_COLORARG2};
constexpr D3DTEXTURESTAGESTATETYPE kAlphaArgStates[3] = {D3DTSS_ALPHAARG0, D3DTSS_ALPHAARG1, D3DTSS_ALPHAARG2};

bool TextureHasAlpha(const Texture* texture) { return texture != nullptr && texture->FormatHasAlpha(); }

bool IsIdentity(const TypedMatrix& m) {
    return std::memcmp(m.m, IdentityMatrix().m, sizeof m.m) == 0;
}

// The effect-material kind the sub-material's maps ask for, or null.
const char* ShaderKindOf(const SubMaterial& sub) {
    const bool bump = sub.maps[kBumpMap].texture != nullptr;
    if (sub.maps[kReflectMap].texture != nullptr) return bump ? "ReflPP" : "ReflPV";
    if (sub.maps[kRefractMap].texture != nullptr) return bump ? "RefrPP" : "RefrPV";
    return bump ? "Bump" : nullptr;
}

// How a sub-material combines with the pass it joins, from its name (case counts, first match).
int32_t CombineKindOf(const String& name) {
    if (name.Find("LightMap", 0) >= 0 || name.Find("Modulate2X", 0) >= 0) return D3DTOP_MODULATE2X;
    if (name.Find("Modulate", 0) >= 0) return D3DTOP_MODULATE;
    if (name.Find("AddSigned", 0) >= 0) return D3DTOP_ADDSIGNED;
    if (name.Find("Add", 0) >= 0 || name.Find("Chrome", 0) >= 0) return D3DTOP_ADD;
    return kAutomaticOp;
}

// The texture factor's alpha for an opacity: trunc(opacity x 255), held to 0..255; NaN is
// opaque, like the default opacity.
DWORD FactorAlpha(float opacity) {
    if (std::isnan(opacity)) return 255;
    const float scaled = opacity * 255.0f;
    if (scaled <= 0.0f) return 0;
    if (scaled >= 255.0f) return 255;
    return static_cast<DWORD>(scaled);
}

}  // namespace

// ---- TextureMap, TextureStage, MaterialColors

bool TextureMap::Equals(const TextureMap& other) const {
    Texture* mine = texture != nullptr ? texture->Owner() : nullptr;
    Texture* theirs = other.texture != nullptr ? other.texture->Owner() : nullptr;
    return mine == theirs && addressU == other.addressU && addressV == other.addressV &&
           minFilter == other.minFilter && magFilter == other.magFilter && mipFilter == other.mipFilter;
}

void TextureStage::SetAlphaSource(int32_t preset) {
    auto set = [this](int32_t op, DWORD arg1, DWORD arg2) {
        alphaOp = op;
        alphaArgs[1] = arg1;
        alphaArgs[2] = arg2;
    };
    switch (preset) {
        case 0:
            alphaOp = D3DTOP_DISABLE;
            break;
        case 1:
            set(D3DTOP_SELECTARG1, D3DTA_TFACTOR, alphaArgs[2]);
            break;
        case 2:
            set(D3DTOP_SELECTARG1, D3DTA_TEXTURE, alphaArgs[2]);
            break;
        case 3:
            set(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR);
            break;
        case 4:
            set(D3DTOP_SELECTARG1, D3DTA_DIFFUSE, alphaArgs[2]);
            break;
        case 5:
            set(D3DTOP_MODULATE, D3DTA_DIFFUSE, D3DTA_TFACTOR);
            break;
        case 6:
            set(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE);
            break;
        default:
            break;
    }
}

MaterialColors::MaterialColors() : material_{} {
    // Float literals: the int constructors of ArgbColor take bytes.
    SetDiffuse(ArgbColor(1.0f, 1.0f, 1.0f, 1.0f));
    SetAmbient(ArgbColor(1.0f, 1.0f, 1.0f, 1.0f));
    SetSpecular(ArgbColor(1.0f, 1.0f, 1.0f, 1.0f));
    SetEmissive(ArgbColor(0.0f, 0.0f, 0.0f, 0.0f));
    SetPower(16.0f);
}

bool MaterialColors::Equals(const MaterialColors& other) const {
    auto same = [](const D3DCOLORVALUE& x, const D3DCOLORVALUE& y) {
        return x.r == y.r && x.g == y.g && x.b == y.b && x.a == y.a;
    };
    const D3DMATERIAL9& o = other.material_;
    return same(material_.Diffuse, o.Diffuse) && same(material_.Ambient, o.Ambient) &&
           same(material_.Specular, o.Specular) && same(material_.Emissive, o.Emissive) &&
           material_.Power == o.Power;
}

// ---- SubMaterial

SubMaterial::SubMaterial() {
    for (int32_t s = 0; s < kMaxTextureStages; ++s) stages[s].texCoordIndex = static_cast<DWORD>(s);
}

void SubMaterial::SetBlendKind(int32_t kind) {
    blendEnable = kind != kBlendKindAlpha;
    switch (kind) {
        case kBlendKindAlpha:
            srcBlend = D3DBLEND_SRCALPHA;
            destBlend = D3DBLEND_INVSRCALPHA;
            break;
        case D3DTOP_MODULATE:
            srcBlend = D3DBLEND_DESTCOLOR;
            destBlend = D3DBLEND_ZERO;
            break;
        case D3DTOP_MODULATE2X:
        case kBlendKindAutomatic:
            srcBlend = D3DBLEND_DESTCOLOR;
            destBlend = D3DBLEND_SRCCOLOR;
            break;
        case D3DTOP_ADD:
            srcBlend = D3DBLEND_SRCALPHA;
            destBlend = D3DBLEND_ONE;
            break;
        default:
            break;
    }
}

bool SubMaterial::Equals(const SubMaterial& o) const {
    for (int32_t m = kDiffuseMap; m <= kRefractMap; ++m) {
        if (!maps[m].Equals(o.maps[m])) return false;
    }
    return colors.Equals(o.colors) && effectMaterial == o.effectMaterial && blendEnable == o.blendEnable &&
           srcBlend == o.srcBlend && destBlend == o.destBlend && zEnable == o.zEnable && zFunc == o.zFunc &&
           zWrite == o.zWrite && alphaFunc == o.alphaFunc && alphaRef == o.alphaRef && lit == o.lit &&
           vertexColor == o.vertexColor && vertexAlpha == o.vertexAlpha && specular == o.specular &&
           localViewer == o.localViewer && cullMode == o.cullMode && opacity == o.opacity;
}

// ---- RenderContext

void RenderContext::SetCamera(const CameraView& camera) {
    view = camera.GetViewMatrix();
    projection = camera.GetProjectionMatrix();
    viewProjection = camera.GetViewProjectionMatrix();
    eye = camera.GetEye();
}

TypedMatrix RenderContext::WorldViewProjection() const { return MultiplyMatrices(world, viewProjection); }

TypedMatrix RenderContext::WorldView() const { return MultiplyMatrices(world, view); }

namespace {

// Whether m is the identity but for a finite row 3, bit for bit, as most objects are placed.
bool IsPureTranslation(const TypedMatrix& m) {
    static constexpr uint32_t kIdentityBits[16] = {0x3F800000, 0, 0, 0, 0, 0x3F800000, 0, 0,
                                                   0, 0, 0x3F800000, 0, 0, 0, 0, 0x3F800000};
    uint32_t bits[16];
    std::memcpy(bits, m.m, sizeof bits);
    uint32_t differs = bits[15] ^ kIdentityBits[15];
    for (int i = 0; i < 12; ++i) differs |= bits[i] ^ kIdentityBits[i];
    return differs == 0 && std::isfinite(m.m[12]) && std::isfinite(m.m[13]) && std::isfinite(m.m[14]);
}

// The kind MatrixKindOf gives the inverse of such a matrix: its 3x3 part and fourth column
// come out equal to the identity's (zeros may carry a sign, which equality ignores) and its
// row 3 is the negated translation.
int32_t TranslationInverseKind(const TypedMatrix& inverse) {
    const bool moves = inverse.m[12] != 0 || inverse.m[13] != 0 || inverse.m[14] != 0;
    return moves ? kMatrixTranslation : kMatrixIdentity;
}

}  // namespace

const TypedMatrix& RenderContext::InverseWorld() {
    if (inverseWorld.valid != 0 && inverseSource.valid != 0 &&
        std::memcmp(inverseSource.m, world.m, sizeof world.m) == 0) {
        return inverseWorld;
    }
    D3DXMATRIX source;
    D3DXMATRIX inverse;
    std::memcpy(&source, world.m, sizeof world.m);
    inverseWorld = TypedMatrix();
    if (D3DXMatrixInverse(&inverse, nullptr, &source) != nullptr) {
        std::memcpy(inverseWorld.m, &inverse, sizeof inverseWorld.m);
        inverseWorld.kind = IsPureTranslation(world) ? TranslationInverseKind(inverseWorld) : MatrixKindOf(inverseWorld);
    }
    inverseWorld.valid = 1;
    inverseSource = world;
    inverseSource.valid = 1;
    return inverseWorld;
}

// ---- MultiMaterial

MultiMaterial::MultiMaterial() {
    first_.stages[0].colorOp = kAutomaticOp;
    first_.stages[0].alphaOp = kAutomaticOp;
}

MultiMaterial::MultiMaterial(const MultiMaterial& other) : properties_(other.properties_) {
    context_ = other.context_;
    count_ = other.count_;
    CopySlots(other);
    alphaTestAllowed_ = other.alphaTestAllowed_;
    savedFogColor_ = other.savedFogColor_;
    fogSaveState_ = other.fogSaveState_;
}

MultiMaterial& MultiMaterial::operator=(const MultiMaterial& other) {
    Assign(other);
    return *this;
}

void MultiMaterial::Assign(const MultiMaterial& other) {
    if (&other == this) return;
    context_ = other.context_;
    count_ = other.count_;
    CopySlots(other);
    alphaTestAllowed_ = other.alphaTestAllowed_;
    properties_.Assign(other.properties_);
    savedFogColor_ = other.savedFogColor_;
    fogSaveState_ = other.fogSaveState_;
}

void MultiMaterial::CopySlots(const MultiMaterial& other) {
    first_ = other.first_;
    for (int32_t i = 0; i < kMaxSubMaterials - 1; ++i) {
        const std::unique_ptr<SubMaterial>& from = other.more_[i];
        if (from == nullptr) {
            more_[i].reset();
        } else if (more_[i] != nullptr) {
            *more_[i] = *from;
        } else {
            more_[i] = std::make_unique<SubMaterial>(*from);
        }
    }
}

SubMaterial& MultiMaterial::MakeSlot(int32_t i) {
    std::unique_ptr<SubMaterial>& slot = more_[i - 1];
    if (slot == nullptr) slot = std::make_unique<SubMaterial>();
    return *slot;
}

const SubMaterial& MultiMaterial::sub(int32_t i) const {
    if (i == 0) return first_;
    if (const SubMaterial* made = more_[i - 1].get()) return *made;
    // What a slot never written holds: a default sub-material (only the first slot's first
    // stage starts automatic).
    static const SubMaterial kUnwritten;
    return kUnwritten;
}

bool MultiMaterial::Equals(const MultiMaterial& other) const {
    if (count_ != other.count_) return false;
    for (int32_t i = 0; i < count_; ++i) {
        if (!this->sub(i).Equals(other.sub(i))) return false;
    }
    return true;
}

void MultiMaterial::SetCount(int32_t count) {
    count_ = count < 1 ? 1 : (count > kMaxSubMaterials ? kMaxSubMaterials : count);
}

void MultiMaterial::SelectShaderKind() {
    for (int32_t i = 0; i < count_; ++i) {
        // Read through the const view: a slot is written only when it gets an effect.
        if (const char* kind = ShaderKindOf(std::as_const(*this).sub(i))) {
            this->sub(i).effectMaterial = g_effectManager.FindEffectMaterial(kind, 200);
        }
    }
}

void MultiMaterial::BuildStageCombination() {
    for (int32_t k = 0; k < count_; ++k) this->sub(k).stages[0].map = this->sub(k).maps[kDiffuseMap];

    int32_t passes = 0;
    int32_t target = -1;     // the slot of the current pass's first sub-material
    int32_t nextStage = 0;   // the target's next free stage
    for (int32_t k = 0; k < count_; ++k) {
        SubMaterial& sub = this->sub(k);
        const int32_t kind = CombineKindOf(sub.name);
        const bool startsPass = k == 0 || sub.effectMaterial != nullptr || this->sub(k - 1).effectMaterial != nullptr;
        if (startsPass) {
            if (sub.blendEnable) {
                if (k > 0) sub.lit = false;
            } else if (kind != kAutomaticOp || k > 0) {
                sub.SetBlendKind(kind);
                // Later passes are drawn unlit onto the first.
                if (k > 0) sub.lit = false;
            } else {
                sub.blendEnable = false;
                sub.srcBlend = D3DBLEND_SRCALPHA;
                sub.destBlend = D3DBLEND_INVSRCALPHA;
            }
            // Passes move down into the first free slot; a slot below k is never read again.
            if (passes != k) this->sub(passes) = sub;
            target = passes++;
            nextStage = 0;
            // A sub-material drawn by an effect gets no stages; the next one starts a pass.
            if (this->sub(target).effectMaterial != nullptr) continue;
        }
        if (nextStage >= kMaxTextureStages) continue;
        // Reads from this sub-material go through `source`: when it started the pass it has
        // just been copied into the target slot.
        const SubMaterial& source = startsPass ? this->sub(target) : sub;
        SubMaterial& owner = this->sub(target);
        TextureStage& stage = owner.stages[nextStage];
        stage.map = source.maps[kDiffuseMap];
        stage.texCoordIndex = static_cast<DWORD>(k);
        if (source.name.Find("Chrome", 0) >= 0) stage.texCoordIndex |= D3DTSS_TCI_SPHEREMAP;
        stage.alphaOp = kAutomaticOp;
        const bool textured = stage.map.texture != nullptr;
        if (nextStage == 0) {
            int32_t used = 0;
            if (textured) stage.colorArgs[++used] = D3DTA_TEXTURE;
            if (owner.lit) stage.colorArgs[++used] = D3DTA_DIFFUSE;
            stage.colorOp = used == 2 ? D3DTOP_MODULATE : (used == 1 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE);
        } else {
            stage.colorOp = kind;
            stage.colorArgs[1] = D3DTA_CURRENT;
            stage.colorArgs[2] = textured ? D3DTA_TEXTURE : D3DTA_DIFFUSE;
        }
        ++nextStage;
    }
    count_ = passes;
    if (passes == 2) first_.depthBias = kTwoPassDepthBias;
    // Slots no pass uses are never drawn: they go back to unwritten.
    for (int32_t i = passes; i < kMaxSubMaterials; ++i) {
        if (i > 0) more_[i - 1].reset();
    }
}

bool MultiMaterial::HasAlpha(int32_t i) const {
    const SubMaterial& sub = this->sub(i < 0 ? 0 : i);
    if (sub.effectMaterial != nullptr) return sub.effectMaterial->HasAlpha();
    if (sub.vertexAlpha) return true;
    for (const TextureStage& stage : sub.stages) {
        if (stage.alphaOp != kAutomaticOp) return stage.alphaOp != D3DTOP_DISABLE;
        if (TextureHasAlpha(stage.map.texture)) return true;
    }
    return false;
}

bool MultiMaterial::IsTransparent() const {
    return HasAlpha(0) || (this->sub(0).blendEnable && this->sub(0).destBlend != D3DBLEND_ZERO);
}

LitEffectMaterial* MultiMaterial::FirstEffectMaterial() const {
    for (int32_t i = 0; i < count_; ++i) {
        if (this->sub(i).effectMaterial != nullptr) return this->sub(i).effectMaterial;
    }
    return nullptr;
}

bool MultiMaterial::ApplyMaterialStates(int32_t i) {
    const SubMaterial& sub = this->sub(i);
    if (sub.noFog || sub.ownFogColor) {
        DWORD fogOn = 0;
        DWORD colour = 0;
        StateCache::GetRenderState(D3DRS_FOGENABLE, &fogOn);
        StateCache::GetRenderState(D3DRS_FOGCOLOR, &colour);
        savedFogColor_ = colour;
        if (fogOn != 0) {
            if (sub.ownFogColor) {
                StateCache::SetRenderState(D3DRS_FOGCOLOR, sub.fogColor);
            } else {
                StateCache::SetRenderState(D3DRS_FOGENABLE, 0);
            }
            fogSaveState_ = 2;
        } else if (sub.ownFogColor) {
            StateCache::SetRenderState(D3DRS_FOGENABLE, 1);
            StateCache::SetRenderState(D3DRS_FOGCOLOR, sub.fogColor);
            fogSaveState_ = 1;
        }
    }

    StateCache::SetRenderState(D3DRS_CULLMODE, static_cast<DWORD>(sub.cullMode));
    StateCache::SetRenderState(D3DRS_ZENABLE, static_cast<DWORD>(sub.zEnable));
    StateCache::SetRenderState(D3DRS_DEPTHBIAS, sub.depthBias);
    StateCache::SetRenderState(D3DRS_SLOPESCALEDEPTHBIAS, sub.slopeScaleDepthBias);
    if (sub.zEnable != 0) StateCache::SetRenderState(D3DRS_ZFUNC, static_cast<DWORD>(sub.zFunc));
    StateCache::SetRenderState(D3DRS_ZWRITEENABLE, static_cast<DWORD>(sub.zWrite));

    const bool alpha = HasAlpha(i);
    if (alpha && alphaTestAllowed_) {
        StateCache::SetRenderState(D3DRS_ALPHAREF, static_cast<DWORD>(sub.alphaRef));
        StateCache::SetRenderState(D3DRS_ALPHAFUNC, static_cast<DWORD>(sub.alphaFunc));
        StateCache::SetRenderState(D3DRS_ALPHATESTENABLE, 1);
    } else {
        StateCache::SetRenderState(D3DRS_ALPHATESTENABLE, 0);
    }

    if (!alpha && !sub.blendEnable) {
        StateCache::SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
    } else {
        StateCache::SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
        StateCache::SetRenderState(D3DRS_SRCBLEND,
                                   sub.blendEnable ? SourceBlendOrDefault(sub.srcBlend) : DWORD{D3DBLEND_SRCALPHA});
        StateCache::SetRenderState(D3DRS_DESTBLEND,
                                   sub.blendEnable ? DestBlendOrDefault(sub.destBlend) : DWORD{D3DBLEND_INVSRCALPHA});
    }
    return true;
}

bool MultiMaterial::RestoreFog() {
    if (fogSaveState_ == 1) {
        // The colour goes back too: whoever switches fog on next expects the scene's colour.
        StateCache::SetRenderState(D3DRS_FOGENABLE, 0);
        StateCache::SetRenderState(D3DRS_FOGCOLOR, savedFogColor_);
    } else if (fogSaveState_ == 2) {
        StateCache::SetRenderState(D3DRS_FOGCOLOR, savedFogColor_);
        StateCache::SetRenderState(D3DRS_FOGENABLE, 1);
    }
    fogSaveState_ = 0;
    return true;
}

bool MultiMaterial::ApplyFixedFunction(int32_t i) {
    if (context_ == nullptr) return false;
    if (context_->world.valid) StateCache::SetTransform(D3DTS_WORLD, context_->world.m);
    if (context_->view.valid) StateCache::SetTransform(D3DTS_VIEW, context_->view.m);
    if (context_->projection.valid) StateCache::SetTransform(D3DTS_PROJECTION, context_->projection.m);
    const SubMaterial& sub = this->sub(i);
    if (sub.lit) {
        StateCache::SetMaterial(&sub.colors.record());
        StateCache::SetRenderState(D3DRS_LIGHTING, 1);
        StateCache::SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_MATERIAL);
        StateCache::SetRenderState(D3DRS_SPECULARENABLE, sub.specular ? 1 : 0);
        StateCache::SetRenderState(D3DRS_LOCALVIEWER, sub.localViewer ? 1 : 0);
    } else {
        StateCache::SetRenderState(D3DRS_LIGHTING, 0);
        StateCache::SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, D3DMCS_COLOR1);
    }
    return true;
}

bool MultiMaterial::ApplyTextureStages(int32_t i) {
    if (context_ == nullptr) return false;
    const SubMaterial& sub = this->sub(i);

    for (int32_t j = 0; j < kMaxTextureStages; ++j) {
        const TextureStage& stage = sub.stages[j];
        Texture* texture = stage.map.texture;
        if (texture == nullptr) continue;
        const DWORD s = static_cast<DWORD>(j);
        StateCache::SetTextureStageState(s, D3DTSS_TEXCOORDINDEX, stage.texCoordIndex);
        StateCache::SetTexture(s, texture->GetBaseTexture());
        StateCache::SetSamplerState(s, D3DSAMP_ADDRESSU, AddressOrDefault(stage.map.addressU));
        StateCache::SetSamplerState(s, D3DSAMP_ADDRESSV, AddressOrDefault(stage.map.addressV));
        StateCache::SetSamplerState(s, D3DSAMP_MINFILTER, FilterOrDefault(stage.map.minFilter));
        StateCache::SetSamplerState(s, D3DSAMP_MAGFILTER, FilterOrDefault(stage.map.magFilter));
        StateCache::SetSamplerState(s, D3DSAMP_MIPFILTER, MipFilterOrDefault(stage.map.mipFilter));
    }

    // The texture factor carries the opacity in its alpha; set once, before the stages read it.
    bool needFactor = sub.stages[0].alphaOp == kAutomaticOp && sub.opacity != 1.0f;
    for (int32_t j = 0; j < kMaxTextureStages && !needFactor; ++j) {
        const TextureStage& stage = sub.stages[j];
        if (stage.colorOp == D3DTOP_DISABLE) break;
        if (stage.alphaOp != kAutomaticOp &&
            ReadsSource(AlphaOpOrDefault(stage.alphaOp, j), stage.alphaArgs, D3DTA_TFACTOR)) {
            needFactor = true;
        }
    }
    if (needFactor) {
        DWORD factor = 0xFFFFFFFFu;
        StateCache::GetRenderState(D3DRS_TEXTUREFACTOR, &factor);
        StateCache::SetRenderState(D3DRS_TEXTUREFACTOR, (factor & 0x00FFFFFFu) | (FactorAlpha(sub.opacity) << 24));
    }

    bool factorUsed = false;
    for (int32_t j = 0; j < kMaxTextureStages; ++j) {
        const TextureStage& stage = sub.stages[j];
        const DWORD s = static_cast<DWORD>(j);
        const bool automaticColor = stage.colorOp == kAutomaticOp;
        const DWORD colorOp = automaticColor ? 0 : ColorOpOrDefault(stage.colorOp, j);
        if (!automaticColor && colorOp == D3DTOP_DISABLE) {
            StateCache::SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_DISABLE);
            break;
        }
        Texture* texture = stage.map.texture;
        const bool textured = texture != nullptr;
        const bool automaticAlpha = stage.alphaOp == kAutomaticOp;
        const DWORD alphaOp = automaticAlpha ? 0 : AlphaOpOrDefault(stage.alphaOp, j);

        // Texture coordinates and their transform, for a stage whose texture is read.
        const bool textureRead = automaticColor || ReadsSource(colorOp, stage.colorArgs, D3DTA_TEXTURE) ||
                                 automaticAlpha || ReadsSource(alphaOp, stage.alphaArgs, D3DTA_TEXTURE);
        if (textureRead) {
            StateCache::SetTextureStageState(s, D3DTSS_TEXCOORDINDEX, stage.texCoordIndex);
            TypedMatrix m = textured ? texture->GetUVMatrix() : IdentityMatrix();
            if (stage.transform.valid) {
                if ((stage.texCoordIndex & kTexCoordGenerationMask) == D3DTSS_TCI_CAMERASPACEPOSITION) {
                    // Camera-space positions go back to world space before the stage's transform.
                    TypedMatrix inverseView = IdentityMatrix();
                    if (context_->view.valid) {
                        D3DXMATRIX view;
                        D3DXMATRIX inverse;
                        CopyToD3DX(context_->view, view);
                        if (D3DXMatrixInverse(&inverse, nullptr, &view) != nullptr) CopyFromD3DX(inverse, inverseView);
                    }
                    m = MultiplyMatrices(inverseView, stage.transform);
                } else {
                    m = MultiplyMatrices(stage.transform, m);
                }
            }
            if (IsIdentity(m)) {
                StateCache::SetTextureStageState(s, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
            } else {
                StateCache::SetTextureStageState(s, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT2);
                StateCache::SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(D3DTS_TEXTURE0 + j), m.m);
            }
        }

        // Colour.
        if (!automaticColor) {
            StateCache::SetTextureStageState(s, D3DTSS_COLOROP, colorOp);
            for (int32_t a = 0; a < 3; ++a) {
                if (ReadsArg(colorOp, a)) {
                    StateCache::SetTextureStageState(s, kColorArgStates[a], ArgOrDefault(stage.colorArgs[a], a));
                }
            }
        } else if (j > 0) {
            StateCache::SetTextureStageState(s, D3DTSS_COLORARG1, D3DTA_CURRENT);
            StateCache::SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
            StateCache::SetTextureStageState(s, D3DTSS_COLORARG2, textured ? D3DTA_TEXTURE : D3DTA_DIFFUSE);
        } else if (textured) {
            StateCache::SetTextureStageState(s, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            if (sub.lit || sub.vertexColor) {
                StateCache::SetTextureStageState(s, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
                StateCache::SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_MODULATE);
            } else {
                StateCache::SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
            }
        } else {
            StateCache::SetTextureStageState(s, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
            StateCache::SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        }

        // Alpha. Every argument TFACTOR that a stage is given counts as the factor used, so
        // that later automatic stages do not fold the opacity in a second time.
        auto setAlpha = [&](DWORD op, DWORD arg1, DWORD arg2) {
            StateCache::SetTextureStageState(s, D3DTSS_ALPHAOP, op);
            if (ReadsArg(op, 1)) StateCache::SetTextureStageState(s, D3DTSS_ALPHAARG1, arg1);
            if (ReadsArg(op, 2)) StateCache::SetTextureStageState(s, D3DTSS_ALPHAARG2, arg2);
            const DWORD args[3] = {0, arg1, arg2};
            if (ReadsSource(op, args, D3DTA_TFACTOR)) factorUsed = true;
        };
        if (!automaticAlpha) {
            StateCache::SetTextureStageState(s, D3DTSS_ALPHAOP, alphaOp);
            for (int32_t a = 0; a < 3; ++a) {
                if (!ReadsArg(alphaOp, a)) continue;
                const DWORD arg = ArgOrDefault(stage.alphaArgs[a], a);
                StateCache::SetTextureStageState(s, kAlphaArgStates[a], arg);
                if ((arg & D3DTA_SELECTMASK) == D3DTA_TFACTOR) factorUsed = true;
            }
            continue;
        }
        const bool t = TextureHasAlpha(texture);
        const bool f = !factorUsed && sub.opacity != 1.0f;
        const bool v = sub.vertexAlpha;
        const int32_t sources = (t ? 1 : 0) + (f ? 1 : 0) + (v ? 1 : 0);
        if (sources == 0) {
            StateCache::SetTextureStageState(s, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        } else if (sources == 3) {
            if (j == 0) {
                setAlpha(D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_TFACTOR);
            } else if (j == 1) {
                setAlpha(D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_DIFFUSE);
            } else {
                setAlpha(D3DTOP_MODULATE, ArgOrDefault(stage.alphaArgs[1], 1), ArgOrDefault(stage.alphaArgs[2], 2));
            }
        } else if (j > 0) {
            if (t) {
                setAlpha(D3DTOP_MODULATE, D3DTA_CURRENT, D3DTA_TEXTURE);
            } else {
                StateCache::SetTextureStageState(s, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
            }
        } else if (sources == 1) {
            setAlpha(D3DTOP_SELECTARG1, t ? D3DTA_TEXTURE : (v ? D3DTA_DIFFUSE : D3DTA_TFACTOR), 0);
        } else {
            setAlpha(D3DTOP_MODULATE, t ? D3DTA_TEXTURE : D3DTA_DIFFUSE, (t && v) ? D3DTA_DIFFUSE : D3DTA_TFACTOR);
        }
    }
    return true;
}

// ---- MaterialLibrary

void MaterialLibrary::Add(const String& name, const MultiMaterial& material) {
    MultiMaterial* present = nullptr;
    if (materials_.Find(name, present)) {
        present->Assign(material);
        return;
    }
    materials_.Insert(name, new MultiMaterial(material), 1);
}

bool MaterialLibrary::Contains(const String& name, MultiMaterial* out) const {
    MultiMaterial* present = nullptr;
    if (!materials_.Find(name, present)) return false;
    if (out != nullptr) out->Assign(*present);
    return true;
}
