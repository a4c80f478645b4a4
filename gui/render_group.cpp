#include "gui/render_group.h"

#include "render/geometry.h"
#include "render/material.h"
#include "render/mesh.h"

#include <cstring>

namespace {

bool MatricesEqual(const TypedMatrix& a, const TypedMatrix& b) {
    if ((a.valid != 0) != (b.valid != 0)) return false;
    return a.valid == 0 || std::memcmp(a.m, b.m, sizeof(a.m)) == 0;
}

bool StagesEqual(const TextureStage& a, const TextureStage& b) {
    return a.colorOp == b.colorOp && a.alphaOp == b.alphaOp &&
           std::memcmp(a.colorArgs, b.colorArgs, sizeof(a.colorArgs)) == 0 &&
           std::memcmp(a.alphaArgs, b.alphaArgs, sizeof(a.alphaArgs)) == 0 &&
           a.texCoordIndex == b.texCoordIndex && MatricesEqual(a.transform, b.transform) &&
           a.map.Equals(b.map);
}

}  // namespace

bool GuiMaterialsEqual(const MultiMaterial& a, const MultiMaterial& b) {
    if (!a.Equals(b)) return false;
    for (int32_t i = 0; i < a.count(); ++i) {
        for (int32_t s = 0; s < kMaxTextureStages; ++s) {
            if (!StagesEqual(a.sub(i).stages[s], b.sub(i).stages[s])) return false;
        }
    }
    return true;
}

RenderGroupSet::~RenderGroupSet() {
    for (Member& m : members_) delete m.mesh;
}

Mesh* RenderGroupSet::AcquireMesh(const GeometryDesc& desc, MultiMaterial* material,
                                  bool create) {
    if (material == nullptr) return nullptr;
    for (Member& m : members_) {
        if (m.holders.empty() || !m.mesh->GetGeometryDesc().format.Equals(desc.format)) continue;
        if (!GuiMaterialsEqual(*m.holders.front(), *material)) continue;
        m.holders.push_back(material);
        return m.mesh;
    }
    if (!create) return nullptr;
    auto* mesh = new Mesh();
    mesh->GetGeometryDesc() = desc;
    if (!mesh->CreateGeometry(&mesh->GetGeometryDesc())) {
        delete mesh;
        return nullptr;
    }
    mesh->AssignOwner(this);
    members_.push_back(Member{mesh, {material}});
    return mesh;
}

void RenderGroupSet::ReleaseMesh(Mesh* mesh, MultiMaterial* material) {
    for (size_t i = 0; i < members_.size(); ++i) {
        Member& m = members_[i];
        if (m.mesh != mesh) continue;
        size_t which = 0;
        for (size_t h = 0; h < m.holders.size(); ++h) {
            if (m.holders[h] == material) {
                which = h;
                break;
            }
        }
        if (!m.holders.empty()) m.holders.erase(m.holders.begin() + static_cast<ptrdiff_t>(which));
        if (m.holders.empty()) {
            delete m.mesh;
            members_.erase(members_.begin() + static_cast<ptrdiff_t>(i));
        }
        return;
    }
}

bool RenderGroupSet::Contains(const Mesh* mesh) const { return HolderCount(mesh) > 0; }

int32_t RenderGroupSet::HolderCount(const Mesh* mesh) const {
    for (const Member& m : members_) {
        if (m.mesh == mesh) return static_cast<int32_t>(m.holders.size());
    }
    return 0;
}

MultiMaterial* RenderGroupSet::DrawMaterial(const Mesh* mesh) const {
    for (const Member& m : members_) {
        if (m.mesh == mesh) return m.holders.empty() ? nullptr : m.holders.front();
    }
    return nullptr;
}

FlagWord RenderGroupSet::Render(MultiMaterial* materialOverride) {
    FlagWord result(true);
    for (Member& m : members_) {
        MultiMaterial* material = materialOverride != nullptr ? materialOverride : m.holders.front();
        result.Combine(m.mesh->Render(material));
    }
    return result;
}

void RenderGroupSet::Hide() {
    hidden_ = true;
    for (Member& m : members_) m.mesh->Hide();
}

bool RenderGroupSet::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<RenderGroupSet, Renderable>(this, id, out);
}
