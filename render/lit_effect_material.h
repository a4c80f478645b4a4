// Effect materials: objects that draw a sub-material through D3DX effects lit by the scene's
// lights, in one or more passes. Meshes ask an effect material for the vertex layout its
// shaders read, prepare it per object (PrepareObject), then draw once after each
// BeginMaterialPass and finish with EndMaterialPasses.
//
// A LitEffectMaterial compiles an effect template (a source ending in "_T.fx") once per
// combination of light counts: macros tell the template how many lights of each kind it serves
// ("DIR1", "POINT2", "NUMDIR", ...) and the int annotations of its techniques say how many
// lights of each kind a technique handles. At draw time the object's lights are ranked by
// influence and split into pass groups, each drawn with the technique whose light counts fit
// it: the first group normally, later ones added on top (additive blend, depth test EQUAL, no
// depth writes).
//
// The effect manager (render/effect_manager.h) keeps the registry by which materials find an
// effect material by effect name and quality; each effect material lists the names it
// registers under in its name table.
#pragma once

#include "core/containers/ordered_map.h"
#include "core/containers/shared_ref.h"
#include "core/object/ref_counted.h"
#include "core/text/string.h"
#include "render/app_framework.h"
#include "render/effect_manager.h"
#include "render/light.h"
#include "render/vertex_format.h"

#include <d3dx9effect.h>

#include <cstdint>
#include <utility>
#include <vector>

class MultiMaterial;
struct RenderContext;

// One light kind of an effect template: how many lights of it a permutation may serve and the
// names of the interpolators its lights need.
struct LightKindSpec {
    int32_t minimum = 0;
    int32_t maximum = 0;
    // Each light of the kind takes one TEXCOORD interpolator per name ("name<n>:TEXCOORD<k>;").
    std::vector<String> perLightInterpolators;
    // Used once per permutation that has lights of the kind ("name:TEXCOORD<k>;").
    std::vector<String> sharedInterpolators;
};
// Kind name ("DIR", "POINT", ...) -> its counts and interpolators, in the template's order.
using LightKindTable = std::vector<std::pair<String, LightKindSpec>>;

// A light with the kind name it is counted under.
using KindedLight = std::pair<SharedRef<Light>, String>;

// The lights drawn in one technique's passes.
struct PassGroup {
    // The technique the group is drawn with (effect, name, passes, light counts).
    TechniqueInfo technique;
    // In the order they joined.
    std::vector<KindedLight> lights;
    // The same lights in the order their parameters are numbered (kind by kind, in the
    // material's kind order), made when the group was built, and the material's kinds version
    // it was made for; a group whose version is not the material's is ordered afresh.
    std::vector<const Light*> bindOrder;
    uint64_t bindOrderKinds = 0;
};

// Steps `counts` to the next vector of light counts with each kind between its minimum and
// maximum and the total at most `bound`, the first kind counting fastest. False when the
// enumeration is over. For two kinds of 0..3 and bound 3: (0,0) (1,0) (2,0) (3,0) (0,1) (1,1)
// (2,1) (0,2) (1,2) (0,3).
bool NextLightCountCombination(int32_t* counts, const int32_t* minimums, const int32_t* maximums, int32_t kinds,
                               int32_t bound);

// The kind name a light is counted under: "POINT", "SPOT" or "DIR".
String LightKindName(const Light& light);

// What an effect parameter was last given through the Set*Shadowed calls below, so that the
// per-object parameters that did not change are not set again. Only a shared parameter is
// remembered: its one value lives in the effect pool, whichever effect of the pool sets it, and
// only the material holding the shadow sets it. Reset whenever the handles are looked up again
// (a device loss makes new pools).
struct ParameterShadow {
    bool shared = false;  // the handle names a shared parameter (else nothing is remembered)
    bool known = false;   // value/texture hold what the pool has
    float value[4] = {};
    IDirect3DBaseTexture9* texture = nullptr;  // compared only; the pool holds the reference

    // Forgets the value; `shared` from the parameter's description (false for a null handle).
    void Reset(ID3DXEffect* effect, D3DXHANDLE handle);
};
// The effect's Set call unless the shadow holds the value; the shadow learns the value when the
// effect took it. False when the effect refused it.
bool SetShadowedVector(ID3DXEffect* effect, D3DXHANDLE handle, ParameterShadow* shadow, const D3DXVECTOR4& value);
bool SetShadowedFloat(ID3DXEffect* effect, D3DXHANDLE handle, ParameterShadow* shadow, float value);
bool SetShadowedBool(ID3DXEffect* effect, D3DXHANDLE handle, ParameterShadow* shadow, bool value);
bool SetShadowedTexture(ID3DXEffect* effect, D3DXHANDLE handle, ParameterShadow* shadow,
                        IDirect3DBaseTexture9* texture);

class LitEffectMaterial : public virtual RefCounted, public DeviceResource {
public:
    using NameTable = OrderedMap<String, int32_t, StringCompare>;
    using TechniqueNameSet = std::set<String, StringBytesLess>;

    static constexpr int32_t kMaxLightNumber = 8;

    LitEffectMaterial() = default;
    LitEffectMaterial(const LitEffectMaterial&) = delete;
    LitEffectMaterial& operator=(const LitEffectMaterial&) = delete;
    ~LitEffectMaterial() override = default;

    // Registers the device-resource part; false without a device. Called once by the effect
    // manager when it loads the effect materials.
    virtual bool Init();
    // Whether drawing through this material gives alpha; false here.
    virtual bool HasAlpha() const { return false; }
    // Binds the per-object parameters for sub-material `sub` of `material` and says how many
    // passes the object needs (*passes; meshes draw one pass when it is left at 0). False when
    // the object cannot be drawn (no render context). The base remembers the material and
    // index, leaves *passes alone and answers whether the material has a render context.
    virtual bool PrepareObject(MultiMaterial* material, int32_t sub, int32_t* passes);
    // Sets up pass `pass` (0 .. passes - 1) of the pass groups PrepareObject built; the mesh
    // draws after each that answers true and skips the draw after one that answers false. The
    // first pass of a group starts its technique and binds the group's lights and fog; the
    // first pass of a later group also turns on additive blending over what is drawn (depth
    // EQUAL, no depth writes), forced past the state cache. False past the last group or when
    // the effect refuses.
    virtual bool BeginMaterialPass(int32_t pass);
    // Ends the last technique; after more than one group turns blending off and depth writes
    // on again. The effect set textures and sampler states behind the state cache, so the cache
    // forgets its texture part. True.
    virtual bool EndMaterialPasses();
    // The layout the effect's vertex shader reads; meshes build their geometry in it.
    virtual VertexFormat VertexElements() const = 0;

    // The parameter handles are stale after a device loss.
    bool OnDeviceRestore() override { return true; }
    bool OnDeviceLost() override;

    bool QueryInterface(int32_t id, void** out) override;

    // Compiles the template of `base` once per light-count combination of `kinds` (total at
    // most `bound`), each with the light macros, "TEXCOORDS" (the interpolator list, counted
    // from `firstTexcoord`) and "PS_MODEL" (the smallest pixel-shader model the interpolator
    // count and `cost` allow). The effects go to `permutations` in enumeration order, their
    // techniques into this material's. False when any permutation fails to load.
    bool CompileTemplatePermutations(const EffectDesc& base, int32_t firstTexcoord, const LightKindTable& kinds,
                                     int32_t bound, int32_t cost, std::vector<SharedRef<EffectResource>>* permutations);

    // Ranks the render context's lights and splits them into pass groups: each group takes, in
    // ranked order, the lights that keep it matching one of the techniques; a light that starts
    // no group is dropped (traced). Without lights, or with all dropped, one group of the
    // technique without lights. *total := the passes of all groups. False without a render
    // context or when no group matches a technique.
    //
    // The groups depend only on the technique name, the techniques and the ranked lights, and
    // the ranking only on the lights in order and which of them have equal influence on the
    // box. When all of that is as for the last successful call (objects lit by the same lights,
    // as most are), that call's groups are kept as they are instead of being built again.
    bool AssignLightsToPasses(MultiMaterial* material, int32_t sub, int32_t* total);
    // Builds one group from the front of `ranked` (taken lights leave it). False when lights
    // remain and none fitted, or when the group matches no technique.
    bool BuildPassGroup(MultiMaterial* material, int32_t sub, std::vector<KindedLight>* ranked, PassGroup* group) const;
    // Sets fog, ambient (only when `ambient`) and the group's lights on its effect.
    void BindLightAndFogParameters(const PassGroup& group, bool ambient);
    // The fog, ambient and light handles of the effect (null where it lacks a parameter).
    void LookupLightParameterHandles(ID3DXEffect* effect);
    // `lights` (those with a light) kind by kind in lightKinds_ order, in their order within a
    // kind: the order their parameters are numbered in.
    void OrderGroupLights(const std::vector<KindedLight>& lights, std::vector<const Light*>* ordered) const;

    // Effect name -> quality: the names it registers under.
    NameTable& nameTable() { return nameTable_; }
    const NameTable& nameTable() const { return nameTable_; }
    const String& defaultTechniqueName() const { return defaultTechnique_; }
    MultiMaterial* currentMaterial() const { return currentMaterial_; }
    int32_t currentSub() const { return currentSub_; }
    bool handlesStale() const { return handlesStale_; }
    // The mutable access lets callers change the techniques: kept groups are built afresh.
    TechniqueSet& techniques() {
        ForgetPassGroups();
        return techniques_;
    }
    const TechniqueSet& techniques() const { return techniques_; }
    const TechniqueNameSet& techniqueNames() const { return techniqueNames_; }
    // The mutable access lets callers change the kinds: kept groups are built afresh and the
    // light order of groups already made is made again.
    std::vector<String>& lightKinds() {
        ForgetPassGroups();
        ++kindsVersion_;
        return lightKinds_;
    }
    const std::vector<String>& lightKinds() const { return lightKinds_; }
    const std::vector<PassGroup>& passGroups() const { return passGroups_; }
    // The handle of light parameter `suffix` ("Diff", "Spec", "Pos", "Dir", "Att", "Falloff")
    // of light `number` (1..8) of kind `prefix` ("Dir", "Point", "Spot"); null when absent.
    D3DXHANDLE LightHandle(const char* prefix, int32_t number, const char* suffix) const;

protected:
    // The next AssignLightsToPasses builds its groups afresh; call after changing techniques_.
    void ForgetPassGroups() { groupsKept_ = false; }
    MultiMaterial* currentMaterial_ = nullptr;
    int32_t currentSub_ = 0;
    String defaultTechnique_;
    NameTable nameTable_;
    TechniqueNameSet techniqueNames_;
    std::vector<String> lightKinds_;
    // Counts the changes of lightKinds_ through lightKinds(); starts above PassGroup's 0 so
    // that a group made elsewhere is never taken as ordered.
    uint64_t kindsVersion_ = 1;
    TechniqueSet techniques_;
    std::vector<PassGroup> passGroups_;
    bool handlesStale_ = true;

    D3DXHANDLE ambientHandle_ = nullptr;
    D3DXHANDLE fogEnableHandle_ = nullptr;
    D3DXHANDLE rangeFogEnableHandle_ = nullptr;
    D3DXHANDLE fogEndHandle_ = nullptr;
    D3DXHANDLE fogDeltaHandle_ = nullptr;
    // [kind Dir, Point, Spot][number - 1][suffix Diff, Spec, Pos, Dir, Att, Falloff]
    D3DXHANDLE lightHandles_[3][kMaxLightNumber][6] = {};

private:
    // One light of the render context as the ranking sees it: the light, its kind, and the
    // position of the first light before it with the same influence (its own when none).
    struct RankedKey {
        const Light* light;
        D3DLIGHTTYPE type;
        int32_t sameAs;
        bool operator==(const RankedKey& o) const { return light == o.light && type == o.type && sameAs == o.sameAs; }
    };
    // Fills keyScratch_ with the context's lights, as RankLights will see them.
    void RankingKey(RenderContext* context);

    // The effect whose technique runs (between its Begin and End); null outside.
    ID3DXEffect* begun_ = nullptr;
    int32_t begunGroup_ = -1;

    // What passGroups_ were built from (see AssignLightsToPasses).
    bool groupsKept_ = false;
    String groupsTechnique_;
    std::vector<RankedKey> groupsKey_;
    std::vector<RankedKey> keyScratch_;
    std::vector<float> influenceScratch_;
    int32_t groupsTotal_ = 0;
    // The trace lines the build gave: a kept build gives them again, as building would.
    std::vector<String> groupsTraces_;

    // The values last given to the fog, ambient and light parameters, beside their handles.
    ParameterShadow fogEnableShadow_, rangeFogEnableShadow_, fogEndShadow_, fogDeltaShadow_, ambientShadow_;
    ParameterShadow lightShadows_[3][kMaxLightNumber][6];
};
