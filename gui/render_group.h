// Render groups: the geometry the GUI draws. Opaque geometry of equal material and vertex
// format is shared in one mesh by every window that asks for it, so many windows with the same
// material cost one draw; the set keeps, per mesh, the materials of its holders and draws with
// a live one.
#pragma once

#include "core/containers/linked_list.h"
#include "core/types/flag_word.h"
#include "render/renderable.h"

#include <cstdint>
#include <vector>

class Mesh;
class MultiMaterial;
struct GeometryDesc;

// Equal as MultiMaterial::Equals sees them and, for each sub-material below the count, equal
// texture stages too (operations, arguments, coordinate index, transform and sampler), so that
// materials that only set up their stages differently never share a mesh.
bool GuiMaterialsEqual(const MultiMaterial& a, const MultiMaterial& b);

class RenderGroupSet : public Renderable {
public:
    RenderGroupSet() = default;
    // Deletes every member mesh.
    ~RenderGroupSet() override;

    // A member whose material equals `material` (GuiMaterialsEqual) and whose vertex format is
    // desc's gets `material` as one more holder and is returned. Otherwise null when `create`
    // is false; else a new mesh made from desc (null when that fails), owned by the set, with
    // `material` as its first holder.
    Mesh* AcquireMesh(const GeometryDesc& desc, MultiMaterial* material, bool create);
    // One holder gives the mesh back: the holder with `material` (the oldest when null or not
    // among them). The last one out deletes the mesh. Nothing for a mesh not in the set.
    void ReleaseMesh(Mesh* mesh, MultiMaterial* material = nullptr);
    bool Contains(const Mesh* mesh) const;
    int32_t count() const { return static_cast<int32_t>(members_.size()); }
    // How many holders a member has (0 for a mesh not in the set).
    int32_t HolderCount(const Mesh* mesh) const;
    // The material a member draws with: its oldest live holder's.
    MultiMaterial* DrawMaterial(const Mesh* mesh) const;

    // Every member, with materialOverride when given, else with its draw material; the
    // results combined.
    FlagWord Render(MultiMaterial* materialOverride) override;
    // Hidden, and every member mesh hidden.
    void Hide() override;
    // No box of its own.
    bool ComputeBounds() override { return false; }
    bool QueryInterface(int32_t id, void** out) override;

private:
    struct Member {
        Mesh* mesh;
        std::vector<MultiMaterial*> holders;
    };
    std::vector<Member> members_;
};
