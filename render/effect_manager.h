// The effect manager: the engine's one keeper of effects. This part holds the registry of
// effect materials: each effect material registers under one or more effect names with a
// quality, and materials and the scene loader look effect materials up by name and the quality
// they want.
//
// The registry does not own the effect materials; whoever made one removes it
// (UnregisterEffectMaterial) before deleting it. Single thread.
#pragma once

#include "core/containers/ordered_map.h"
#include "core/object/ref_counted.h"
#include "core/text/string.h"

#include <cstdint>

class LitEffectMaterial;

class EffectManager : public virtual RefCounted {
public:
    // The materials of one effect name, in registration order, with their qualities.
    using QualityMap = OrderedMap<LitEffectMaterial*, int32_t>;

    EffectManager() = default;
    EffectManager(const EffectManager&) = delete;
    EffectManager& operator=(const EffectManager&) = delete;
    // Empties the registry (the effect materials themselves are not deleted).
    ~EffectManager() override;

    // The registered material whose quality comes closest to `wanted` from the first
    // registration's side: the first registration is taken, and a later one replaces the
    // choice only when its quality lies between the choice's and the wanted one (q < e <=
    // wanted or wanted <= e < q); a choice of quality 0 counts as none and is always replaced.
    // So with 100 and 130 registered, 200 finds 130 in either order, while 120 finds whichever
    // was registered first. Null when nothing is registered under the name (an empty entry is
    // left for it).
    LitEffectMaterial* FindEffectMaterial(const String& name, int32_t wanted);

    // Enters the material under the name with the quality, after the name's earlier
    // registrations; a material already there only gets the new quality.
    void RegisterEffectMaterial(const String& name, LitEffectMaterial* material, int32_t quality);
    // Registers the material under every entry of its name table (effect name -> quality).
    void RegisterEffectMaterial(LitEffectMaterial* material);
    // Removes the material from every name it is registered under.
    void UnregisterEffectMaterial(LitEffectMaterial* material);
    // Removes every registration.
    void ClearEffectMaterials();

    // Effect names with an entry (also the empty entries lookups leave).
    int32_t registeredNameCount() const { return registry_.count(); }

private:
    // Effect name -> its materials; the quality maps are owned.
    OrderedMap<String, QualityMap*, StringCompare> registry_;
};

// The engine's one manager, constructed before the application and destroyed at exit.
extern EffectManager g_effectManager;
