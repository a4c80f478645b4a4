#include "render/lit_effect_material.h"

#include "render/material.h"
#include "render/state_cache.h"

bool LitEffectMaterial::Init() { return RegisterDeviceResource(this); }

bool LitEffectMaterial::PrepareObject(MultiMaterial* material, int32_t sub, int32_t* /*passes*/) {
    currentMaterial_ = material;
    currentSub_ = sub;
    return material != nullptr && material->renderContext() != nullptr;
}

bool LitEffectMaterial::BeginMaterialPass(int32_t /*pass*/) { return false; }

bool LitEffectMaterial::EndMaterialPasses() {
    StateCache::InvalidateTextureStates();
    return true;
}

bool LitEffectMaterial::OnDeviceLost() {
    handlesStale_ = true;
    return true;
}

bool LitEffectMaterial::QueryInterface(int32_t id, void** out) { return AnswerQuery<LitEffectMaterial>(this, id, out); }
