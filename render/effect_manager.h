// The effect manager: the engine's one keeper of effects. It hands out one shared
// EffectResource per effect description (a source file plus its preprocessor macros), compiles
// sources on demand and keeps the compiled binaries (".fxo") in a folder beside the source so
// that later runs load them directly. It also holds the registry of effect materials: each
// effect material registers under one or more effect names with a quality, and materials and
// the scene loader look effect materials up by name and the quality they want.
//
// Binaries are the D3DX layer's own versioned, checksummed format; a cached binary that the
// layer refuses (damaged, or from another build) is compiled over from source. An edited
// source keeps its old binary until recompilation is forced (EngineSettings).
//
// Single thread: only the application's thread loads and uses effects.
#pragma once

#include "core/containers/ordered_map.h"
#include "core/containers/shared_ref.h"
#include "core/files/file_ref.h"
#include "core/files/search_paths.h"
#include "core/object/ref_counted.h"
#include "core/text/string.h"
#include "render/app_framework.h"

#include <d3dx9effect.h>

#include <cstdint>
#include <map>
#include <set>
#include <vector>

class EffectManager;
class EffectResource;
class LitEffectMaterial;

// One preprocessor definition handed to the effect compiler.
struct EffectMacro {
    String name;
    String value;
};

// The effect pool shared by the effects of one effect material: shared parameters are set once
// for all of them. The pool is made on first use and released with the device.
class EffectPoolHolder : public DeviceResource {
public:
    EffectPoolHolder() = default;
    EffectPoolHolder(const EffectPoolHolder&) = delete;
    EffectPoolHolder& operator=(const EffectPoolHolder&) = delete;
    // Unregisters and releases the pool.
    ~EffectPoolHolder() override;

    // Registers the holder as a device resource; false without a device.
    bool Register();
    // The pool, made with D3DXCreateEffectPool the first time; null when that fails.
    ID3DXEffectPool* Pool();

    bool OnDeviceRestore() override { return true; }
    // Releases the pool; the next Pool() makes a new one.
    bool OnDeviceLost() override;

private:
    ID3DXEffectPool* pool_ = nullptr;
};

// What effect to load: a source and its macros, and how to treat the compiled binary.
struct EffectDesc {
    // Compile from source even when a compiled binary exists.
    bool forceRecompile = false;
    // Write the compiled binary after compiling.
    bool saveBinary = false;
    // The ".fx" source.
    FileRef locator;
    std::vector<EffectMacro> macros;
    // Provides the effect pool; null for an effect of its own. Not owned.
    EffectPoolHolder* poolHolder = nullptr;

    // The cache order. Equal locators (FileRef::Equals): fewer macros first, then macro by
    // macro by name and by value (bytes). Different locators: by source kind (neither disk nor
    // archive, archive only, disk), archive, then names byte for byte as Equals compares them,
    // resource id and block bytes. The pool holder is not compared (one effect material owns
    // every description here).
    static int Compare(const EffectDesc& a, const EffectDesc& b);

    // The binary's file name without ".fxo": the source's base name, a blank, then each macro's
    // name followed by its value. ':', '/', '\' and control bytes become blanks; a key longer
    // than kMaxKeyLength is cut and ended with a hash of the whole, so that distinct keys stay
    // distinct and every name fits a file system.
    String BinaryKey() const;
    // The source's directory (when it has one), the base name as a folder, the key, ".fxo".
    String BinaryPath() const;

    static constexpr int32_t kMaxKeyLength = 200;
};

struct EffectDescOrder {
    bool operator()(const EffectDesc& a, const EffectDesc& b) const { return EffectDesc::Compare(a, b) < 0; }
};

// Byte order of Strings, for the standard containers.
struct StringBytesLess {
    bool operator()(const String& a, const String& b) const { return CompareText(a.Text(), b.Text()) < 0; }
};

// One valid technique of an effect, with its int annotations (the light counts of lit effect
// templates).
struct TechniqueInfo {
    EffectResource* effect = nullptr;
    String name;
    int32_t passes = 0;
    // Every int annotation whose value is not 0, in name order.
    std::map<String, int32_t, StringBytesLess> annotations;
    // The sum of all int annotations.
    int32_t annotationSum = 0;

    // By annotation sum; the annotations pairwise in name order, by name then value; their
    // count; the names ignoring case when both are non-empty; the effects (by address) when
    // both are set. Otherwise equal: a probe without effect or name finds any technique with
    // its light counts.
    static int Compare(const TechniqueInfo& a, const TechniqueInfo& b);
};

struct TechniqueOrder {
    bool operator()(const TechniqueInfo& a, const TechniqueInfo& b) const { return TechniqueInfo::Compare(a, b) < 0; }
};
using TechniqueSet = std::set<TechniqueInfo, TechniqueOrder>;

// A loaded effect with its valid techniques. Shared through SharedRef: the manager's cache
// holds one reference, each user another. After a device loss it reloads itself from its
// description (from the binary when there is one).
class EffectResource : public virtual RefCounted, public DeviceResource {
public:
    EffectResource() = default;
    EffectResource(const EffectResource&) = delete;
    EffectResource& operator=(const EffectResource&) = delete;
    // Unregisters, forgets the techniques and releases the effect; the destroy listener (the
    // manager) is told by RefCounted.
    ~EffectResource() override;

    // The technique's handle from the valid techniques, then ID3DXEffect::SetTechnique. False
    // for an unknown name, without an effect or when the effect refuses.
    bool SetTechniqueByName(const String& name);

    // Loads the effect again unless it has one.
    bool OnDeviceRestore() override;
    // ID3DXEffect::OnLostDevice, then the effect is released. True.
    bool OnDeviceLost() override;

    bool QueryInterface(int32_t id, void** out) override;

    ID3DXEffect* effect() const { return effect_; }
    const EffectDesc& desc() const { return desc_; }
    const std::map<String, D3DXHANDLE, StringBytesLess>& techniqueHandles() const { return techniqueHandles_; }
    const TechniqueSet& techniques() const { return techniques_; }

private:
    friend bool LoadEffect(EffectResource* resource, const EffectDesc& desc);

    ID3DXEffect* effect_ = nullptr;
    EffectDesc desc_;
    std::map<String, D3DXHANDLE, StringBytesLess> techniqueHandles_;
    // The entry SetTechniqueByName found last: a lit material asks for the same technique
    // object after object. Null whenever the map changes.
    const std::pair<const String, D3DXHANDLE>* lastTechnique_ = nullptr;
    TechniqueSet techniques_;
};

// Loads the effect of `desc` into the resource: from the compiled binary unless recompilation
// is forced or there is none (or the layer refuses it), else from source, writing the binary
// when asked. Failures go to DebugTrace with the compiler's messages; false then, and the
// resource holds no effect.
bool LoadEffect(EffectResource* resource, const EffectDesc& desc);

class EffectManager : public virtual RefCounted {
public:
    // The materials of one effect name, in registration order, with their qualities.
    using QualityMap = OrderedMap<LitEffectMaterial*, int32_t>;

    EffectManager() = default;
    EffectManager(const EffectManager&) = delete;
    EffectManager& operator=(const EffectManager&) = delete;
    // ReleaseAll.
    ~EffectManager() override;

    // The shared effect of the description, loading it on first use. The locator is resolved
    // against the manager's search paths first. Empty when the source does not resolve or
    // the effect cannot be loaded (nothing stays in the cache then).
    SharedRef<EffectResource> GetEffect(const EffectDesc& desc);

    // The registered material whose quality comes closest to `wanted` from the first
    // registration's side: the first registration is taken, and a later one replaces the
    // choice only when its quality lies between the choice's and the wanted one (q < e <=
    // wanted or wanted <= e < q); a choice of quality 0 counts as none and is always replaced.
    // So with 100 and 130 registered, 200 finds 130 in either order, while 120 finds whichever
    // was registered first. Null when nothing is registered under the name (an empty entry is
    // left for it).
    LitEffectMaterial* FindEffectMaterial(const String& name, int32_t wanted);

    // Makes and initialises the engine's effect materials (which compiles every effect
    // permutation they need) and registers those that initialised under their names; one that
    // fails is deleted, so lookups of its names find nothing and the materials asking for them
    // stay on the fixed function. The time taken goes to the frame statistics'
    // "effect_load_time". Materials made by an earlier call are deleted first. True.
    bool PreloadEffectMaterials();

    // Enters the material under the name with the quality, after the name's earlier
    // registrations; a material already there only gets the new quality.
    void RegisterEffectMaterial(const String& name, LitEffectMaterial* material, int32_t quality);
    // Registers the material under every entry of its name table (effect name -> quality).
    void RegisterEffectMaterial(LitEffectMaterial* material);
    // Removes the material from every name it is registered under.
    void UnregisterEffectMaterial(LitEffectMaterial* material);
    // Removes every registration.
    void ClearEffectMaterials();

    // Deletes the preloaded effect materials, empties the registry and releases every cached
    // effect. Call before the device goes away for good.
    void ReleaseAll();

    // The manager forgets an effect being destroyed: its cache, reverse and pointer entries.
    void OnEffectDestroyed(RefCounted* effect);
    // The destroy listener's call: OnEffectDestroyed.
    void OnDestroyed(RefCounted* object) override { OnEffectDestroyed(object); }

    // The directories and archives effect sources resolve against.
    SearchPaths& searchPaths() { return searchPaths_; }
    // Effect names with an entry (also the empty entries lookups leave).
    int32_t registeredNameCount() const { return registry_.count(); }
    int32_t cachedEffectCount() const { return static_cast<int32_t>(cache_.size()); }
    const std::set<LitEffectMaterial*>& prototypes() const { return prototypes_; }

private:
    // Forgets the cache without being told of each destruction.
    void ReleaseEffects();

    SearchPaths searchPaths_;
    std::map<EffectDesc, SharedRef<EffectResource>, EffectDescOrder> cache_;
    std::map<RefCounted*, EffectDesc> reverse_;
    std::map<RefCounted*, SharedRef<EffectResource>> byPointer_;
    std::set<LitEffectMaterial*> prototypes_;
    // Effect name -> its materials; the quality maps are owned.
    OrderedMap<String, QualityMap*, StringCompare> registry_;
};

// The engine's one manager, constructed before the application and destroyed at exit.
extern EffectManager g_effectManager;
