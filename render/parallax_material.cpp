#include "render/parallax_material.h"

#include "core/settings/engine_settings.h"
#include "render/material.h"
#include "render/texture.h"

#include <d3dx9math.h>

#include <cstring>

namespace {

constexpr D3DVERTEXELEMENT9 kParallaxElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    {0, 32, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1},
    {0, 40, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 2},
    {0, 48, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TANGENT, 0},
    {0, 60, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_BINORMAL, 0},
    D3DDECL_END(),
};

constexpr float kDefaultOffsetBias = 0.01f;

D3DXMATRIX ToD3DX(const TypedMatrix& m) {
    D3DXMATRIX out;
    std::memcpy(&out, m.m, sizeof m.m);
    return out;
}

IDirect3DBaseTexture9* MapTexture(const TextureMap& map) {
    return map.texture != nullptr ? map.texture->GetTexture2D() : nullptr;
}

}  // namespace

bool ParallaxMaterial::Init() {
    if (!LitEffectMaterial::Init()) return false;
    poolHolder_.Register();

    EffectDesc base;
    base.forceRecompile = g_engineSettings.forceEffectRecompile;
    base.saveBinary = g_engineSettings.saveCompiledEffects;
    base.locator = FileRef(kSourceName);
    base.locator.flags = FileRef::kDisk | FileRef::kArchive;
    base.poolHolder = &poolHolder_;

    LightKindTable kinds;
    LightKindSpec spec;
    spec.minimum = 0;
    spec.maximum = 3;
    kinds.emplace_back(String("DIR"), spec);
    kinds.emplace_back(String("POINT"), spec);

    if (!CompileTemplatePermutations(base, 0, kinds, kLightBound, kShaderCost, &permutations_) ||
        techniqueNames_.empty()) {
        return false;
    }
    lightKinds() = {String("DIR"), String("POINT")};
    nameTable_.Insert("Bump", 130, 1);
    nameTable_.Insert("Parallax", 100, 1);
    handlesStale_ = true;
    return true;
}

VertexFormat ParallaxMaterial::VertexElements() const {
    VertexFormat format;
    format.SetFromElements(kParallaxElements);
    return format;
}

void ParallaxMaterial::LookupParameterHandles(ID3DXEffect* effect) {
    auto find = [effect](const char* name) -> D3DXHANDLE {
        return effect != nullptr ? effect->GetParameterByName(nullptr, name) : nullptr;
    };
    worldViewProj_ = find("WorldViewProj");
    worldView_ = find("WorldView");
    eyePosition_ = find("EyePosition");
    diffuseMap_ = find("DiffuseMap");
    normalMap_ = find("NormalMap");
    specularMap_ = find("SpecularMap");
    specularPower_ = find("SpecularPower");
    offsetBias_ = find("OffsetBias");
    diffuseMapShadow_.Reset(effect, diffuseMap_);
    normalMapShadow_.Reset(effect, normalMap_);
    powerShadow_.Reset(effect, specularPower_);
    offsetBiasShadow_.Reset(effect, offsetBias_);
    LookupLightParameterHandles(effect);
}

bool ParallaxMaterial::PrepareObject(MultiMaterial* material, int32_t sub, int32_t* passes) {
    if (!LitEffectMaterial::PrepareObject(material, sub, passes)) return false;
    ID3DXEffect* effect = !permutations_.empty() && permutations_[0].Get() != nullptr
                              ? permutations_[0].Get()->effect()
                              : nullptr;
    if (handlesStale_) {
        LookupParameterHandles(effect);
        handlesStale_ = false;
    }
    // Assigned once: nothing else writes the default, and comparing its text object after
    // object would cost more than the flag.
    if (material->sub(sub).techniqueName.length() == 0 && !defaultIsParallax_) {
        defaultTechnique_ = "Parallax";
        defaultIsParallax_ = true;
    }
    int32_t total = 0;
    if (!AssignLightsToPasses(material, sub, &total)) return false;

    RenderContext* context = material->renderContext();
    if (effect != nullptr) {
        const D3DXMATRIX worldViewProj = ToD3DX(context->WorldViewProjection());
        const D3DXMATRIX worldView = ToD3DX(context->WorldView());
        if (worldViewProj_ != nullptr) effect->SetMatrix(worldViewProj_, &worldViewProj);
        if (worldView_ != nullptr) effect->SetMatrix(worldView_, &worldView);
        if (eyePosition_ != nullptr) {
            const D3DXMATRIX inverse = ToD3DX(context->InverseWorld());
            D3DXVECTOR4 eye;
            eye.x = context->eye.x;
            eye.y = context->eye.y;
            eye.z = context->eye.z;
            eye.w = 1.0f;
            D3DXVECTOR4 local;
            D3DXVec4Transform(&local, &eye, &inverse);
            effect->SetVector(eyePosition_, &local);
        }
        // Maps, bias and power are mostly those of the object before: a shared parameter that
        // already holds its value is not set again.
        const SubMaterial& drawn = material->sub(sub);
        if (diffuseMap_ != nullptr) {
            SetShadowedTexture(effect, diffuseMap_, &diffuseMapShadow_, MapTexture(drawn.maps[kDiffuseMap]));
        }
        if (normalMap_ != nullptr) {
            SetShadowedTexture(effect, normalMap_, &normalMapShadow_, MapTexture(drawn.maps[kBumpMap]));
        }
        float bias = kDefaultOffsetBias;
        static const String kOffsetBiasName("OffsetBias");  // made once, not per object
        if (!material->properties().GetFloat(kOffsetBiasName, bias)) bias = kDefaultOffsetBias;
        if (offsetBias_ != nullptr) SetShadowedFloat(effect, offsetBias_, &offsetBiasShadow_, bias);
        if (specularPower_ != nullptr) {
            SetShadowedFloat(effect, specularPower_, &powerShadow_, drawn.colors.GetPower());
        }
    }
    *passes = total;
    return true;
}
