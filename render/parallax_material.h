// The parallax material: the engine's one effect material. It draws bump-mapped sub-materials
// through the effect template "Parallax_T.fx" (parallax offset from the height in the normal
// map's alpha, per-pixel diffuse and specular light), compiled for every combination of up to
// three directional and point lights, and registers as "Bump" (quality 130) and "Parallax"
// (quality 100). All permutations share one effect pool, so the per-object parameters are set
// once on the first permutation and hold for all.
#pragma once

#include "render/effect_manager.h"
#include "render/lit_effect_material.h"

#include <vector>

class ParallaxMaterial : public LitEffectMaterial {
public:
    // The template's file name, resolved against the effect manager's search paths.
    static constexpr const char* kSourceName = "Parallax_T.fx";
    static constexpr int32_t kLightBound = 3;
    static constexpr int32_t kShaderCost = 11;

    ParallaxMaterial() = default;
    // The pool holder unregisters and releases its pool; the permutations are released.
    ~ParallaxMaterial() override = default;

    // Registers the device resources and compiles the ten permutations (saving and forced
    // recompiling as the engine settings say). False without a device, when any permutation
    // fails or no technique came out of them.
    bool Init() override;
    // Binds the matrices, eye, maps, offset bias and specular power of sub-material `sub` and
    // builds its pass groups; *passes := their passes. False without a render context or
    // when no pass group matches a technique.
    bool PrepareObject(MultiMaterial* material, int32_t sub, int32_t* passes) override;
    // Position, normal, three texture sets, tangent and binormal: 72 bytes in stream 0.
    VertexFormat VertexElements() const override;

    const std::vector<SharedRef<EffectResource>>& permutations() const { return permutations_; }
    EffectPoolHolder& poolHolder() { return poolHolder_; }

private:
    void LookupParameterHandles(ID3DXEffect* effect);

    std::vector<SharedRef<EffectResource>> permutations_;
    EffectPoolHolder poolHolder_;
    D3DXHANDLE worldViewProj_ = nullptr;
    D3DXHANDLE worldView_ = nullptr;
    D3DXHANDLE eyePosition_ = nullptr;
    D3DXHANDLE diffuseMap_ = nullptr;
    D3DXHANDLE normalMap_ = nullptr;
    D3DXHANDLE specularMap_ = nullptr;
    D3DXHANDLE specularPower_ = nullptr;
    D3DXHANDLE offsetBias_ = nullptr;
    // The values last set on the parameters that seldom change between objects.
    ParameterShadow diffuseMapShadow_, normalMapShadow_, powerShadow_, offsetBiasShadow_;
    bool defaultIsParallax_ = false;  // defaultTechnique_ holds "Parallax"
};
