#include "render/mesh.h"

#include "render/app_framework.h"
#include "render/geometry_buffer_cache.h"
#include "render/light.h"
#include "render/lit_effect_material.h"
#include "render/material.h"
#include "render/mesh_data.h"
#include "render/state_cache.h"

namespace {

bool IsPreTransformed(const VertexFormat& format) {
    for (int32_t e = 0; e < format.elementCount(); ++e) {
        if (format.element(e).Usage == D3DDECLUSAGE_POSITIONT) return true;
    }
    return false;
}

}  // namespace

bool Mesh::CreateGeometry(GeometryDesc* desc) {
    current_ = SharedRef<Geometry>(new Geometry);
    return current_.Get()->CreateBuffers(desc);
}

void Mesh::SetLayoutGeometry(const VertexFormat& format, const SharedRef<Geometry>& geometry) {
    layouts_.Insert(format, geometry, 1);
}

SharedRef<Geometry> Mesh::FindLayoutGeometry(const VertexFormat& format) const {
    SharedRef<Geometry> found;
    layouts_.Find(format, found);
    return found;
}

SharedRef<Geometry> Mesh::LayoutGeometry(const VertexFormat& format) {
    SharedRef<Geometry> geometry = FindLayoutGeometry(format);
    if (geometry.Get() != nullptr) return geometry;
    if (!desc_.SetVertexFormat(*source_, format)) return SharedRef<Geometry>();
    geometry = g_geometryBufferCache.FindEntry(desc_, source_);
    SetLayoutGeometry(format, geometry);
    return geometry;
}

FlagWord Mesh::Render(MultiMaterial* material) {
    if (material == nullptr || material->renderContext() == nullptr) return FlagWord(false);
    if (IsHidden()) return FlagWord(true);
    RenderContext* context = material->renderContext();

    FlagWord result(true);
    bool fogChecked = false;
    bool fogSwitchedOff = false;
    bool lightsApplied = false;
    for (int32_t i = 0; i < material->count(); ++i) {
        LitEffectMaterial* effect =
            context->effectOverride != nullptr ? context->effectOverride : material->sub(i).effectMaterial;
        if (source_ != nullptr) {
            current_ = LayoutGeometry(effect != nullptr ? effect->VertexElements() : source_->RenderFormat());
        }
        Geometry* geometry = current_.Get();
        if (geometry != nullptr && !fogChecked) {
            // Pre-transformed vertices carry their fog factor in the specular alpha, which
            // nothing here fills: draw them without fog.
            fogChecked = true;
            DWORD fog = 0;
            if (IsPreTransformed(geometry->format()) && StateCache::GetRenderState(D3DRS_FOGENABLE, &fog) &&
                fog != 0) {
                StateCache::SetRenderState(D3DRS_FOGENABLE, 0);
                fogSwitchedOff = true;
            }
        }
        if (geometry == nullptr) {
            result.Combine(FlagWord(false));
            break;
        }
        result.Combine(FlagWord(material->ApplyMaterialStates(i)));
        if (source_ != nullptr) result.Combine(FlagWord(g_geometryBufferCache.UploadGeometry(current_)));

        if (effect != nullptr) {
            int32_t passes = 0;
            if (effect->PrepareObject(material, i, &passes)) {
                if (passes <= 0) passes = 1;
                for (int32_t k = 0; k < passes; ++k) {
                    // A pass that did not begin has no program of its own: drawing would use
                    // whatever the device holds.
                    if (effect->BeginMaterialPass(k)) {
                        result.Combine(FlagWord(geometry->DrawGeometry()));
                    } else {
                        result.Combine(FlagWord(false));
                    }
                }
                result.Combine(FlagWord(effect->EndMaterialPasses()));
            } else {
                result.Combine(FlagWord(false));
            }
        } else {
            if (g_device != nullptr) {
                g_device->SetVertexShader(nullptr);
                g_device->SetPixelShader(nullptr);
            }
            if (material->sub(i).lit && !lightsApplied) {
                ApplyLightSet(g_lightSlotManager, context->lights);
                lightsApplied = true;
            }
            result.Combine(FlagWord(material->ApplyFixedFunction(i)));
            result.Combine(FlagWord(material->ApplyTextureStages(i)));
            result.Combine(FlagWord(geometry->DrawGeometry()));
        }
        result.Combine(FlagWord(material->RestoreFog()));
    }
    if (fogSwitchedOff) StateCache::SetRenderState(D3DRS_FOGENABLE, 1);
    return result;
}

bool Mesh::ComputeBounds() {
    if (source_ == nullptr) {
        valid_ = false;
        return false;
    }
    box_ = source_->GetBox();
    valid_ = true;
    return true;
}

bool Mesh::QueryInterface(int32_t id, void** out) { return AnswerQuery<Mesh, Renderable>(this, id, out); }
