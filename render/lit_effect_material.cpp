#include "render/lit_effect_material.h"

#include "core/debug/debug_trace.h"
#include "render/material.h"
#include "render/state_cache.h"

#include <d3dx9math.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

namespace {

constexpr const char* kLightPrefixes[3] = {"Dir", "Point", "Spot"};
constexpr const char* kLightSuffixes[6] = {"Diff", "Spec", "Pos", "Dir", "Att", "Falloff"};
enum Suffix { kDiff = 0, kSpec, kPos, kDir, kAtt, kFalloff };

int PrefixIndex(const Light& light) {
    switch (light.GetType()) {
        case D3DLIGHT_POINT: return 1;
        case D3DLIGHT_SPOT: return 2;
        default: return 0;
    }
}

String Decimal(int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return String(text);
}

D3DXVECTOR4 Vector(float x, float y, float z, float w) {
    D3DXVECTOR4 v;
    v.x = x;
    v.y = y;
    v.z = z;
    v.w = w;
    return v;
}

D3DXVECTOR4 Product(const ArgbColor& a, const ArgbColor& b) { return Vector(a.r * b.r, a.g * b.g, a.b * b.b, a.a * b.a); }

}  // namespace

bool NextLightCountCombination(int32_t* counts, const int32_t* minimums, const int32_t* maximums, int32_t kinds,
                               int32_t bound) {
    int32_t total = 0;
    for (int32_t k = 0; k < kinds; ++k) total += counts[k];
    if (total < bound) {
        for (int32_t k = 0; k < kinds; ++k) {
            if (counts[k] < maximums[k]) {
                ++counts[k];
                for (int32_t j = 0; j < k; ++j) counts[j] = minimums[j];
                return true;
            }
        }
        return false;
    }
    int32_t first = 0;
    while (first < kinds && counts[first] <= minimums[first]) ++first;
    for (int32_t k = first + 1; k < kinds; ++k) {
        if (counts[k] < maximums[k]) {
            ++counts[k];
            for (int32_t j = 0; j < k; ++j) counts[j] = minimums[j];
            return true;
        }
    }
    return false;
}

String LightKindName(const Light& light) {
    switch (light.GetType()) {
        case D3DLIGHT_POINT: return String("POINT");
        case D3DLIGHT_SPOT: return String("SPOT");
        default: return String("DIR");
    }
}

void ParameterShadow::Reset(ID3DXEffect* effect, D3DXHANDLE handle) {
    known = false;
    texture = nullptr;
    shared = false;
    D3DXPARAMETER_DESC desc{};
    if (effect != nullptr && handle != nullptr && effect->GetParameterDesc(handle, &desc) == S_OK) {
        shared = (desc.Flags & D3DX_PARAMETER_SHARED) != 0;
    }
}

namespace {

// Whether the shadow already holds these bytes; bitwise, so that a value counts as unchanged
// only when it is exactly what the pool has.
bool Holds(const ParameterShadow& shadow, const float* value, size_t count) {
    if (!shadow.known) return false;
    // Word by word: for these one to four words a library call costs more than the compare.
    uint32_t differs = 0;
    for (size_t i = 0; i < count; ++i) {
        uint32_t a, b;
        std::memcpy(&a, &shadow.value[i], sizeof a);
        std::memcpy(&b, &value[i], sizeof b);
        differs |= a ^ b;
    }
    return differs == 0;
}

void Learn(ParameterShadow* shadow, bool took, const float* value, size_t count) {
    shadow->known = took && shadow->shared;
    if (shadow->known) std::memcpy(shadow->value, value, count * sizeof(float));
}

}  // namespace

bool SetShadowedVector(ID3DXEffect* effect, D3DXHANDLE handle, ParameterShadow* shadow, const D3DXVECTOR4& value) {
    const float v[4] = {value.x, value.y, value.z, value.w};
    if (Holds(*shadow, v, 4)) return true;
    const bool took = effect->SetVector(handle, &value) == S_OK;
    Learn(shadow, took, v, 4);
    return took;
}

bool SetShadowedFloat(ID3DXEffect* effect, D3DXHANDLE handle, ParameterShadow* shadow, float value) {
    if (Holds(*shadow, &value, 1)) return true;
    const bool took = effect->SetFloat(handle, value) == S_OK;
    Learn(shadow, took, &value, 1);
    return took;
}

bool SetShadowedBool(ID3DXEffect* effect, D3DXHANDLE handle, ParameterShadow* shadow, bool value) {
    const float v = value ? 1.0f : 0.0f;
    if (Holds(*shadow, &v, 1)) return true;
    const bool took = effect->SetBool(handle, value ? TRUE : FALSE) == S_OK;
    Learn(shadow, took, &v, 1);
    return took;
}

bool SetShadowedTexture(ID3DXEffect* effect, D3DXHANDLE handle, ParameterShadow* shadow,
                        IDirect3DBaseTexture9* texture) {
    // The pool holds a reference to the texture it has, so its address cannot come back as
    // another texture's while the shadow names it.
    if (shadow->known && shadow->texture == texture) return true;
    const bool took = effect->SetTexture(handle, texture) == S_OK;
    shadow->known = took && shadow->shared;
    shadow->texture = shadow->known ? texture : nullptr;
    return took;
}

bool LitEffectMaterial::Init() { return RegisterDeviceResource(this); }

bool LitEffectMaterial::PrepareObject(MultiMaterial* material, int32_t sub, int32_t* /*passes*/) {
    currentMaterial_ = material;
    currentSub_ = sub;
    return material != nullptr && material->renderContext() != nullptr;
}

bool LitEffectMaterial::OnDeviceLost() {
    handlesStale_ = true;
    groupsKept_ = false;
    return true;
}

bool LitEffectMaterial::QueryInterface(int32_t id, void** out) { return AnswerQuery<LitEffectMaterial>(this, id, out); }

bool LitEffectMaterial::CompileTemplatePermutations(const EffectDesc& base, int32_t firstTexcoord,
                                                    const LightKindTable& kinds, int32_t bound, int32_t cost,
                                                    std::vector<SharedRef<EffectResource>>* permutations) {
    const int32_t kindCount = static_cast<int32_t>(kinds.size());
    std::vector<int32_t> minimums(kinds.size()), maximums(kinds.size()), counts(kinds.size());
    int32_t minimumSum = 0;
    for (const auto& kind : kinds) minimumSum += kind.second.minimum;
    for (int32_t k = 0; k < kindCount; ++k) {
        minimums[k] = kinds[k].second.minimum;
        // The template's own maximum, at most what the bound leaves (this takes the kind's
        // minimum off twice; every template here has minimums of 0).
        maximums[k] = std::min(kinds[k].second.maximum, bound - minimums[k] - minimumSum);
        counts[k] = minimums[k];
    }
    permutations->clear();
    EffectDesc desc = base;
    for (;;) {
        desc.macros.resize(base.macros.size());
        int32_t number = 1;
        int32_t texcoord = firstTexcoord;
        std::string interpolators;
        for (int32_t k = 0; k < kindCount; ++k) {
            const String& kind = kinds[k].first;
            const LightKindSpec& spec = kinds[k].second;
            std::vector<bool> sharedUsed(spec.sharedInterpolators.size(), false);
            for (int32_t c = 0; c < counts[k]; ++c, ++number) {
                desc.macros.push_back(EffectMacro{ConcatStringText(kind, Decimal(number).Text()), String()});
                for (const String& name : spec.perLightInterpolators) {
                    interpolators += std::string(name.Text()) + std::to_string(number) + ":TEXCOORD" +
                                     std::to_string(texcoord++) + ";";
                }
                for (size_t s = 0; s < spec.sharedInterpolators.size(); ++s) {
                    if (sharedUsed[s]) continue;
                    sharedUsed[s] = true;
                    interpolators += std::string(spec.sharedInterpolators[s].Text()) + ":TEXCOORD" +
                                     std::to_string(texcoord++) + ";";
                }
            }
            desc.macros.push_back(EffectMacro{ConcatTextString("NUM", kind), Decimal(counts[k])});
        }
        desc.macros.push_back(EffectMacro{String("TEXCOORDS"), String(interpolators.c_str())});
        const char* model = "";
        if (texcoord <= 4 && cost <= 11) {
            model = "ps_1_1";
        } else if (texcoord <= 6 && cost <= 14) {
            model = "ps_1_4";
        } else if (cost <= 20) {
            model = "ps_2_0";
        }
        desc.macros.push_back(EffectMacro{String("PS_MODEL"), String(model)});

        SharedRef<EffectResource> effect = g_effectManager.GetEffect(desc);
        if (effect.Get() == nullptr) return false;
        permutations->push_back(effect);
        for (const TechniqueInfo& technique : effect.Get()->techniques()) {
            techniques_.insert(technique);
            techniqueNames_.insert(technique.name);
        }
        ForgetPassGroups();
        if (!NextLightCountCombination(counts.data(), minimums.data(), maximums.data(), kindCount, bound)) return true;
    }
}

bool LitEffectMaterial::BuildPassGroup(MultiMaterial* material, int32_t sub, std::vector<KindedLight>* ranked,
                                       PassGroup* group) const {
    group->technique = TechniqueInfo();
    group->lights.clear();
    const String& wanted = material->sub(sub).techniqueName;
    group->technique.name = wanted.length() > 0 ? wanted : defaultTechnique_;

    std::vector<String> blocked;
    auto isBlocked = [&blocked](const String& kind) {
        for (const String& b : blocked) {
            if (CompareText(b.Text(), kind.Text()) == 0) return true;
        }
        return false;
    };
    bool tookAny = false;
    TechniqueInfo& probe = group->technique;
    for (size_t j = 0; j < ranked->size();) {
        const String& kind = (*ranked)[j].second;
        if (isBlocked(kind)) {
            ++j;
            continue;
        }
        // The group with one more light of this kind, probed in place and taken back when no
        // technique has those counts.
        const auto inserted = probe.annotations.emplace(kind, 0);
        inserted.first->second += 1;
        probe.annotationSum += 1;
        if (techniques_.find(probe) != techniques_.end()) {
            group->lights.push_back((*ranked)[j]);
            ranked->erase(ranked->begin() + static_cast<std::ptrdiff_t>(j));
            tookAny = true;
        } else {
            probe.annotationSum -= 1;
            if (--inserted.first->second == 0) probe.annotations.erase(inserted.first);
            blocked.push_back(kind);
            ++j;
        }
    }
    if (!tookAny && !ranked->empty()) return false;
    auto match = techniques_.find(group->technique);
    if (match == techniques_.end()) return false;
    group->technique.effect = match->effect;
    group->technique.passes = match->passes;
    group->technique.name = match->name;
    return true;
}

void LitEffectMaterial::RankingKey(RenderContext* context) {
    keyScratch_.clear();
    influenceScratch_.clear();
    const LightSet& set = context->lights;
    const LightSet::LightMap::Node* node = set.lights.cursor();
    // Influences only say which lights tie with an earlier one: a lone light ties with none,
    // and its influence (a virtual call per object) is not needed.
    const bool compare = set.lights.count() > 1;
    for (int32_t i = 0; i < set.lights.count(); ++i, node = node->next) {
        const Light* light = node->key.Get();
        // RankLights skips empty entries and counts NaN as 0, and so does the key.
        if (light == nullptr) continue;
        float v = compare ? light->Influence(context->worldBox) : 0.0f;
        if (std::isnan(v)) v = 0.0f;
        int32_t sameAs = static_cast<int32_t>(influenceScratch_.size());
        for (int32_t j = 0; j < sameAs; ++j) {
            if (influenceScratch_[static_cast<size_t>(j)] == v) {
                sameAs = j;
                break;
            }
        }
        influenceScratch_.push_back(v);
        keyScratch_.push_back(RankedKey{light, light->GetType(), sameAs});
    }
}

bool LitEffectMaterial::AssignLightsToPasses(MultiMaterial* material, int32_t sub, int32_t* total) {
    *total = 0;
    RenderContext* context = material != nullptr ? material->renderContext() : nullptr;
    if (context == nullptr) {
        passGroups_.clear();
        groupsKept_ = false;
        return false;
    }
    const String& wanted = material->sub(sub).techniqueName;
    const String& technique = wanted.length() > 0 ? wanted : defaultTechnique_;
    RankingKey(context);
    // A light the groups hold stays alive with them, so its address names it; a dropped light
    // that went and whose address came back with another light of the same kind would be
    // dropped again the same way.
    if (groupsKept_ && keyScratch_ == groupsKey_ && CompareText(technique.Text(), groupsTechnique_.Text()) == 0) {
        for (const String& line : groupsTraces_) DebugTrace(line);
        *total = groupsTotal_;
        return true;
    }
    groupsKept_ = false;
    groupsTraces_.clear();
    passGroups_.clear();
    auto trace = [this](String line) {
        groupsTraces_.push_back(line);
        DebugTrace(std::move(line));
    };

    LightSet working(context->lights);
    working.RankLights(context->worldBox, -1);
    std::vector<KindedLight> ranked;
    ranked.reserve(static_cast<size_t>(working.lights.count()));
    const LightSet::LightMap::Node* node = working.lights.cursor();
    for (int32_t i = 0; i < working.lights.count(); ++i, node = node->next) {
        if (node->key.Get() != nullptr) ranked.emplace_back(node->key, LightKindName(*node->key.Get()));
    }
    const bool hadLights = !ranked.empty();
    while (!ranked.empty()) {
        PassGroup group;
        if (BuildPassGroup(material, sub, &ranked, &group)) {
            *total += group.technique.passes;
            passGroups_.push_back(std::move(group));
        } else {
            trace(ConcatStringText(
                ConcatTextString("Lit effect: no technique takes a light of kind ", ranked.front().second),
                "; it is not drawn\n"));
            ranked.erase(ranked.begin());
        }
    }
    if (passGroups_.empty()) {
        // No lights, or none that a technique takes: the object is still drawn, unlit but for
        // its ambient term, rather than not at all.
        if (hadLights) trace(String("Lit effect: every light was dropped; drawing with ambient only\n"));
        PassGroup group;
        if (!BuildPassGroup(material, sub, &ranked, &group)) return false;
        *total += group.technique.passes;
        passGroups_.push_back(std::move(group));
    }
    for (PassGroup& built : passGroups_) {
        OrderGroupLights(built.lights, &built.bindOrder);
        built.bindOrderKinds = kindsVersion_;
    }
    groupsKey_.swap(keyScratch_);
    groupsTechnique_ = technique;
    groupsTotal_ = *total;
    groupsKept_ = true;
    return true;
}

D3DXHANDLE LitEffectMaterial::LightHandle(const char* prefix, int32_t number, const char* suffix) const {
    if (number < 1 || number > kMaxLightNumber) return nullptr;
    for (int p = 0; p < 3; ++p) {
        if (std::strcmp(prefix, kLightPrefixes[p]) != 0) continue;
        for (int s = 0; s < 6; ++s) {
            if (std::strcmp(suffix, kLightSuffixes[s]) == 0) return lightHandles_[p][number - 1][s];
        }
    }
    return nullptr;
}

void LitEffectMaterial::LookupLightParameterHandles(ID3DXEffect* effect) {
    auto find = [effect](const char* name) -> D3DXHANDLE {
        return effect != nullptr ? effect->GetParameterByName(nullptr, name) : nullptr;
    };
    fogEnableHandle_ = find("FogEnable");
    rangeFogEnableHandle_ = find("RangeFogEnable");
    fogEndHandle_ = find("FogEnd");
    fogDeltaHandle_ = find("FogDelta");
    ambientHandle_ = find("Ambient");
    fogEnableShadow_.Reset(effect, fogEnableHandle_);
    rangeFogEnableShadow_.Reset(effect, rangeFogEnableHandle_);
    fogEndShadow_.Reset(effect, fogEndHandle_);
    fogDeltaShadow_.Reset(effect, fogDeltaHandle_);
    ambientShadow_.Reset(effect, ambientHandle_);
    for (int p = 0; p < 3; ++p) {
        for (int n = 1; n <= kMaxLightNumber; ++n) {
            for (int s = 0; s < 6; ++s) {
                const std::string name = std::string(kLightPrefixes[p]) + std::to_string(n) + kLightSuffixes[s];
                lightHandles_[p][n - 1][s] = find(name.c_str());
                lightShadows_[p][n - 1][s].Reset(effect, lightHandles_[p][n - 1][s]);
            }
        }
    }
}

void LitEffectMaterial::OrderGroupLights(const std::vector<KindedLight>& lights,
                                         std::vector<const Light*>* ordered) const {
    ordered->clear();
    for (const String& kind : lightKinds_) {
        for (const KindedLight& entry : lights) {
            if (entry.first.Get() != nullptr && CompareText(entry.second.Text(), kind.Text()) == 0) {
                ordered->push_back(entry.first.Get());
            }
        }
    }
}

void LitEffectMaterial::BindLightAndFogParameters(const PassGroup& group, bool ambient) {
    ID3DXEffect* effect = group.technique.effect != nullptr ? group.technique.effect->effect() : nullptr;
    RenderContext* context = currentMaterial_ != nullptr ? currentMaterial_->renderContext() : nullptr;
    if (effect == nullptr || context == nullptr) return;

    // Most of these values are the same object after object: a shared parameter that already
    // holds its value is not set again (SetShadowed*).
    DWORD fog = 0;
    StateCache::GetRenderState(D3DRS_FOGENABLE, &fog);
    if (fogEnableHandle_ != nullptr) SetShadowedBool(effect, fogEnableHandle_, &fogEnableShadow_, fog != 0);
    if (fog != 0 && fogEndHandle_ != nullptr && fogDeltaHandle_ != nullptr) {
        DWORD range = 0, endBits = 0, startBits = 0;
        StateCache::GetRenderState(D3DRS_RANGEFOGENABLE, &range);
        StateCache::GetRenderState(D3DRS_FOGEND, &endBits);
        StateCache::GetRenderState(D3DRS_FOGSTART, &startBits);
        float end = 0.0f, start = 0.0f;
        std::memcpy(&end, &endBits, sizeof end);
        std::memcpy(&start, &startBits, sizeof start);
        if (rangeFogEnableHandle_ != nullptr) {
            SetShadowedBool(effect, rangeFogEnableHandle_, &rangeFogEnableShadow_, range != 0);
        }
        SetShadowedFloat(effect, fogEndHandle_, &fogEndShadow_, end);
        SetShadowedFloat(effect, fogDeltaHandle_, &fogDeltaShadow_, end - start);
    }

    // Colours come from the first sub-material whichever one is drawn.
    const MaterialColors& colors = currentMaterial_->sub(0).colors;
    if (ambientHandle_ != nullptr) {
        const D3DXVECTOR4 value =
            ambient ? Product(context->lights.ambient, colors.GetAmbient()) : Vector(0.0f, 0.0f, 0.0f, 0.0f);
        SetShadowedVector(effect, ambientHandle_, &ambientShadow_, value);
    }

    const TypedMatrix& inverse = context->InverseWorld();
    D3DXMATRIX inverseWorld;
    std::memcpy(&inverseWorld, inverse.m, sizeof inverse.m);

    // Light numbers run on across the kinds in the material's kind order, whatever order the
    // lights joined the group in. The group holds that order from when it was built; it is made
    // here only when the kinds have changed since.
    std::vector<const Light*> scratch;
    const std::vector<const Light*>* ordered = &group.bindOrder;
    if (group.bindOrderKinds != kindsVersion_) {
        OrderGroupLights(group.lights, &scratch);
        ordered = &scratch;
    }
    int32_t number = 1;
    for (const Light* bound : *ordered) {
        if (bound == nullptr) continue;
        const Light& light = *bound;
        if (number > kMaxLightNumber) break;
        const int p = PrefixIndex(light);
        D3DXHANDLE* handles = lightHandles_[p][number - 1];
        ParameterShadow* shadows = lightShadows_[p][number - 1];
        const D3DLIGHTTYPE type = light.GetType();
        if (type != D3DLIGHT_POINT && handles[kDir] != nullptr) {
            // A direction is carried into object space without the translation (a point's
            // transform would bend it towards the object's origin), then normalised.
            const Vec3 d = light.GetDirection();
            D3DXVECTOR3 in{d.x, d.y, d.z};
            D3DXVECTOR3 out;
            D3DXVec3TransformNormal(&out, &in, &inverseWorld);
            const float length = std::sqrt(out.x * out.x + out.y * out.y + out.z * out.z);
            if (length > 0.0f) {
                out.x /= length;
                out.y /= length;
                out.z /= length;
            }
            SetShadowedVector(effect, handles[kDir], &shadows[kDir], Vector(out.x, out.y, out.z, 1.0f));
        }
        if (type != D3DLIGHT_DIRECTIONAL) {
            if (handles[kPos] != nullptr) {
                const Vec3 position = light.GetPosition();
                D3DXVECTOR3 in{position.x, position.y, position.z};
                D3DXVECTOR3 out;
                D3DXVec3TransformCoord(&out, &in, &inverseWorld);
                SetShadowedVector(effect, handles[kPos], &shadows[kPos], Vector(out.x, out.y, out.z, 1.0f));
            }
            if (handles[kAtt] != nullptr) {
                float a0 = 0.0f, a1 = 0.0f, a2 = 0.0f;
                light.GetAttenuation(&a0, &a1, &a2);
                SetShadowedVector(effect, handles[kAtt], &shadows[kAtt], Vector(a0, a1, a2, 1.0f));
            }
        }
        if (type == D3DLIGHT_SPOT && handles[kFalloff] != nullptr) {
            SetShadowedFloat(effect, handles[kFalloff], &shadows[kFalloff], light.GetFalloff());
        }
        if (handles[kDiff] != nullptr) {
            SetShadowedVector(effect, handles[kDiff], &shadows[kDiff],
                              Product(light.GetDiffuse(), colors.GetDiffuse()));
        }
        if (handles[kSpec] != nullptr) {
            SetShadowedVector(effect, handles[kSpec], &shadows[kSpec],
                              Product(light.GetSpecular(), colors.GetSpecular()));
        }
        ++number;
    }
}

bool LitEffectMaterial::BeginMaterialPass(int32_t pass) {
    int32_t before = 0;
    int32_t index = 0;
    for (; index < static_cast<int32_t>(passGroups_.size()); ++index) {
        const int32_t passes = passGroups_[index].technique.passes;
        if (pass < before + passes) break;
        before += passes;
    }
    if (pass < 0 || index >= static_cast<int32_t>(passGroups_.size())) return false;
    const PassGroup& group = passGroups_[index];
    EffectResource* resource = group.technique.effect;
    ID3DXEffect* effect = resource != nullptr ? resource->effect() : nullptr;
    if (effect == nullptr) return false;
    const int32_t local = pass - before;
    if (local == 0) {
        if (begun_ != nullptr) begun_->End();
        begun_ = nullptr;
        begunGroup_ = -1;
        if (!resource->SetTechniqueByName(group.technique.name)) return false;
        UINT passes = 0;
        if (effect->Begin(&passes, D3DXFX_DONOTSAVESTATE) != S_OK) return false;
        begun_ = effect;
        begunGroup_ = index;
        BindLightAndFogParameters(group, pass == 0);
    }
    if (begun_ != effect || begunGroup_ != index) return false;
    if (effect->Pass(static_cast<UINT>(local)) != S_OK) return false;
    if (local == 0 && pass > 0) {
        StateCache::ForceRenderState(D3DRS_ZWRITEENABLE, 0);
        StateCache::ForceRenderState(D3DRS_ZFUNC, D3DCMP_EQUAL);
        StateCache::ForceRenderState(D3DRS_ALPHABLENDENABLE, 1);
        StateCache::ForceRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        StateCache::ForceRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    }
    return true;
}

bool LitEffectMaterial::EndMaterialPasses() {
    if (begun_ != nullptr) begun_->End();
    begun_ = nullptr;
    begunGroup_ = -1;
    if (passGroups_.size() > 1) {
        StateCache::ForceRenderState(D3DRS_ALPHABLENDENABLE, 0);
        StateCache::ForceRenderState(D3DRS_ZWRITEENABLE, 1);
    }
    StateCache::InvalidateTextureStates();
    return true;
}
