// The interface of effect materials: objects that draw a sub-material through D3DX effects lit
// by the scene's lights, in one or more passes. Meshes ask an effect material for the vertex
// layout its shaders read, prepare it per object, then draw once after each
// BeginMaterialPass and finish with EndMaterialPasses.
//
// The effect manager (render/effect_manager.h) keeps the registry by which materials find an
// effect material by effect name and quality; each effect material lists the names it
// registers under in its name table.
#pragma once

#include "core/containers/ordered_map.h"
#include "core/object/ref_counted.h"
#include "core/text/string.h"
#include "render/app_framework.h"
#include "render/vertex_format.h"

#include <cstdint>

class MultiMaterial;

class LitEffectMaterial : public virtual RefCounted, public DeviceResource {
public:
    using NameTable = OrderedMap<String, int32_t, StringCompare>;

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
    // Sets up pass `pass` (0 .. passes - 1); the mesh draws after each that answers true and
    // skips the draw after one that answers false. The base has no passes: false.
    virtual bool BeginMaterialPass(int32_t pass);
    // Ends the passes; the effect set textures and sampler states behind the state cache, so
    // the cache forgets its texture part. True.
    virtual bool EndMaterialPasses();
    // The layout the effect's vertex shader reads; meshes build their geometry in it.
    virtual VertexFormat VertexElements() const = 0;

    // The parameter handles are stale after a device loss.
    bool OnDeviceRestore() override { return true; }
    bool OnDeviceLost() override;

    bool QueryInterface(int32_t id, void** out) override;

    // Effect name -> quality: the names it registers under.
    NameTable& nameTable() { return nameTable_; }
    const NameTable& nameTable() const { return nameTable_; }
    const String& defaultTechniqueName() const { return defaultTechnique_; }
    MultiMaterial* currentMaterial() const { return currentMaterial_; }
    int32_t currentSub() const { return currentSub_; }
    bool handlesStale() const { return handlesStale_; }

protected:
    MultiMaterial* currentMaterial_ = nullptr;
    int32_t currentSub_ = 0;
    String defaultTechnique_;
    NameTable nameTable_;
    bool handlesStale_ = true;
};
