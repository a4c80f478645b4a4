// The base of everything a scene node can carry as its drawable attachment (meshes, skinned
// meshes, particle meshes, GUI render groups): per-object properties from the scene file, the
// object that created and caches it, a hidden flag, and the one drawing operation that gets the
// material to draw with.
#pragma once

#include "core/bounds/bounds_provider.h"
#include "core/object/property_node.h"
#include "core/object/ref_counted.h"
#include "core/types/flag_word.h"

class MultiMaterial;

class Renderable : public virtual RefCounted, public virtual BoundsProvider {
public:
    // No properties, no owner, not hidden.
    Renderable() = default;
    Renderable(const Renderable&) = delete;
    Renderable& operator=(const Renderable&) = delete;

    // Whether the object keeps a box of its own; false here, and no renderable overrides it.
    virtual bool HasBounds() const;
    // Draws the object with the material. A hidden renderable still takes part in the scene
    // walk: it is expected to draw nothing and report success.
    virtual FlagWord Render(MultiMaterial* material) = 0;
    // Sets the hidden flag; derived classes may also hide their parts.
    virtual void Hide();
    ~Renderable() override = default;

    // Answers the Renderable id with this part and nothing else (not even RefCounted's);
    // derived classes answer their own ids and fall back to this.
    bool QueryInterface(int32_t id, void** out) override;

    bool IsHidden() const { return hidden_; }
    // The object that created and caches this renderable; null by default. Not owned.
    void AssignOwner(void* owner) { owner_ = owner; }
    void* owner() const { return owner_; }
    // Named values from the scene file's "Props".
    PropertyNode& properties() { return properties_; }
    const PropertyNode& properties() const { return properties_; }

protected:
    bool hidden_ = false;

private:
    PropertyNode properties_;
    void* owner_ = nullptr;
};
