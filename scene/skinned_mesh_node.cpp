#include "scene/skinned_mesh_node.h"

#include "scene/scene_node.h"

#include "core/math/vec3.h"
#include "core/object/ref_counted.h"
#include "render/geometry.h"
#include "render/geometry_buffer_cache.h"
#include "render/hardware_buffer.h"
#include "render/lit_effect_material.h"
#include "render/material.h"
#include "render/mesh_data.h"

#include <cmath>
#include <cstring>

namespace {

constexpr BYTE kUsagePosition = 0;  // D3DDECLUSAGE_POSITION
constexpr BYTE kUsageNormal = 3;    // D3DDECLUSAGE_NORMAL

// Where one three-float element lies in a stream: its stream and offset, or none.
struct ElementAt {
    int32_t stream = -1;
    int32_t offset = 0;
    bool found() const { return stream >= 0; }
};

// The first element of the usage with usage index 0, when it holds at least three floats
// inside its stream's stride; positions and normals are read and written as three floats.
ElementAt FindVec3(const VertexFormat& format, BYTE usage) {
    const int32_t i = format.FindElement(usage, 0);
    if (i < 0) return {};
    const D3DVERTEXELEMENT9& e = format.element(i);
    const bool floats = e.Type == D3DDECLTYPE_FLOAT3 || e.Type == D3DDECLTYPE_FLOAT4;
    if (!floats || e.Stream >= kMaxVertexStreams || e.Offset + 12 > format.stride(e.Stream)) return {};
    return {e.Stream, e.Offset};
}

// p as a point times m, divided by w (as D3DXVec3TransformCoord).
inline Vec3 TransformCoord(const Vec3& p, const float* m) {
    const float w = p.x * m[3] + p.y * m[7] + p.z * m[11] + m[15];
    return Vec3{(p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12]) / w,
                (p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13]) / w,
                (p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]) / w};
}

// Vec3Normalize's formula, here where the compiler can interleave it with the next vertex's
// work: called out of line it took a third of the skinning time.
inline Vec3 Normalized(const Vec3& v) {
    const float squared = v.x * v.x + v.y * v.y + v.z * v.z;
    if (squared == 0.0f) return Vec3{0.0f, 0.0f, 0.0f};
    const float inv = 1.0f / std::sqrt(squared);
    return Vec3{v.x * inv, v.y * inv, v.z * inv};
}

inline Vec3 ReadVec3(const uint8_t* at) {
    Vec3 v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

}  // namespace

SkinnedMeshNode::SkinnedMeshNode() { boneMatrices_.Init(0, 10); }

void SkinnedMeshNode::SetMeshData(MeshData* meshData, SkinInfo* skin) {
    meshData_ = meshData;
    skin_ = skin;
    SetSourceLink(meshData);
}

bool SkinnedMeshNode::BindBoneMatrices(const std::function<const TypedMatrix*(const String&)>& find) {
    if (meshData_ == nullptr || skin_ == nullptr) return false;
    skinFits_ = skin_->Fits(meshData_->vertices.count());
    const int32_t n = skin_->boneNames.count();
    boneMatrices_.Resize(n);
    for (int32_t i = 0; i < n; ++i) {
        const TypedMatrix* matrix = find(skin_->boneNames.items()[i]);
        if (matrix == nullptr) {
            boneMatrices_.Resize(0);
            return false;
        }
        boneMatrices_.items()[i] = matrix;
    }
    return true;
}

bool SkinnedMeshNode::BindBones(SceneNode* root) {
    bonesRoot_ = nullptr;
    if (root == nullptr) return false;
    const bool bound = BindBoneMatrices([root](const String& name) -> const TypedMatrix* {
        SceneNode* bone = root->FindByName(name);
        return bone != nullptr ? &bone->GetBoneMatrix() : nullptr;
    });
    if (bound) bonesRoot_ = root;
    return bound;
}

FlagWord SkinnedMeshNode::Render(MultiMaterial* material) {
    if (bonesRoot_ != nullptr) {
        // Pose the skeleton: the walk computes every bone's world and bone matrix and, with
        // kPassProxiesOnly and no queue, draws nothing.
        RenderPass pass;
        pass.flags = kPassProxiesOnly;
        const RenderContext* context = material != nullptr ? material->renderContext() : nullptr;
        if (context != nullptr && (context->passFlags & kPassUseTime) != 0) {
            pass.flags |= kPassUseTime;
            pass.time = context->passTime;
        }
        bonesRoot_->Draw(pass);
    }
    if (meshData_ != nullptr) {
        // The layout Mesh::Render draws the first sub-material with, chosen first so that the
        // skinning writes into the geometry that is drawn.
        const LitEffectMaterial* effect = material != nullptr ? material->FirstEffectMaterial() : nullptr;
        SetCurrentGeometry(LayoutGeometry(effect != nullptr ? effect->VertexElements() : meshData_->RenderFormat()));
    }
    if (!SkinVertices(material)) return FlagWord(false);
    return FlagWord(Mesh::Render(material).Succeeded());
}

bool SkinnedMeshNode::SkinVertices(MultiMaterial*) {
    const SharedRef<Geometry> current = GetGeometry();
    Geometry* geometry = current.Get();
    if (geometry == nullptr) return false;
    g_geometryBufferCache.UploadGeometry(current);
    if (boneMatrices_.count() == 0 || !skinFits_ || meshData_ == nullptr) return false;

    // The rest pose.
    const VertexData& source = meshData_->vertices;
    const VertexFormat& sourceFormat = source.format();
    const ElementAt sourcePosition = FindVec3(sourceFormat, kUsagePosition);
    const ElementAt sourceNormal = FindVec3(sourceFormat, kUsageNormal);
    if (!sourcePosition.found() || source.stream(sourcePosition.stream) == nullptr) return false;
    const int32_t vertexCount = source.count();
    const uint8_t* sourcePositions = source.stream(sourcePosition.stream) + sourcePosition.offset;
    const int32_t sourcePositionStride = sourceFormat.stride(sourcePosition.stream);

    // The drawn layout: positions and normals in its first stream buffer.
    HardwareBuffer* target = geometry->streamBuffer(0);
    if (target == nullptr || target->FirstBlock() == nullptr) return false;
    const ElementAt targetPosition = FindVec3(geometry->format(), kUsagePosition);
    ElementAt targetNormal = FindVec3(geometry->format(), kUsageNormal);
    const int32_t targetStride = target->GetStride();
    if (!targetPosition.found() || targetPosition.stream != 0 || targetPosition.offset + 12 > targetStride) {
        return false;
    }
    // Without a rest normal the layout's normals are left alone.
    if (targetNormal.stream != 0 || targetNormal.offset + 12 > targetStride || !sourceNormal.found() ||
        source.stream(sourceNormal.stream) == nullptr) {
        targetNormal = ElementAt{};
    }
    const uint8_t* sourceNormals =
        targetNormal.found() ? source.stream(sourceNormal.stream) + sourceNormal.offset : nullptr;
    const int32_t sourceNormalStride = targetNormal.found() ? sourceFormat.stride(sourceNormal.stream) : 0;

    BufferBlock* block = target->FirstBlock();
    // The block holds the geometry's vertices; never write past it.
    if (int64_t{vertexCount} * targetStride > block->size()) return false;
    void* locked = nullptr;
    if (!block->Lock(0, &locked) || locked == nullptr) return false;

    const int32_t* firstWeight = skin_->firstWeight.data();
    const int32_t* weightCount = skin_->weightCount.data();
    const SkinWeight* weights = skin_->weights.data();
    const TypedMatrix* const* bones = boneMatrices_.items();
    auto* out = static_cast<uint8_t*>(locked);
    for (int32_t v = 0; v < vertexCount; ++v) {
        const Vec3 p = ReadVec3(sourcePositions);
        Vec3 P{0.0f, 0.0f, 0.0f};
        Vec3 N{0.0f, 0.0f, 0.0f};
        const SkinWeight* record = weights + firstWeight[v];
        const int32_t records = weightCount[v];
        if (targetNormal.found()) {
            const Vec3 n = ReadVec3(sourceNormals);
            for (int32_t k = 0; k < records; ++k) {
                const float* m = bones[record[k].bone]->m;
                const float w = record[k].weight;
                const Vec3 t = TransformCoord(p, m);
                P.x += w * t.x;
                P.y += w * t.y;
                P.z += w * t.z;
                N.x += w * (n.x * m[0] + n.y * m[4] + n.z * m[8]);
                N.y += w * (n.x * m[1] + n.y * m[5] + n.z * m[9]);
                N.z += w * (n.x * m[2] + n.y * m[6] + n.z * m[10]);
            }
            const Vec3 unit = Normalized(N);
            std::memcpy(out + targetNormal.offset, &unit, sizeof unit);
            sourceNormals += sourceNormalStride;
        } else {
            for (int32_t k = 0; k < records; ++k) {
                const Vec3 t = TransformCoord(p, bones[record[k].bone]->m);
                const float w = record[k].weight;
                P.x += w * t.x;
                P.y += w * t.y;
                P.z += w * t.z;
            }
        }
        std::memcpy(out + targetPosition.offset, &P, sizeof P);
        sourcePositions += sourcePositionStride;
        out += targetStride;
    }
    block->Unlock();
    return true;
}

bool SkinnedMeshNode::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<SkinnedMeshNode, Mesh, Renderable>(this, id, out);
}
