// SkinnedMeshNode: the drawable of a scene mesh deformed by a skeleton. Every draw recomputes
// the positions and normals of the mesh's vertices on the CPU as the weighted sum of the rest
// pose transformed by each vertex's bones (linear blend skinning), writes them into the
// geometry that is about to be drawn, and then draws like any Mesh.
#pragma once

#include "core/containers/dyn_array.h"
#include "core/math/typed_matrix.h"
#include "core/text/string.h"
#include "render/mesh.h"
#include "scene/skin_info.h"

#include <functional>

class MeshData;
class MultiMaterial;
class SceneNode;

class SkinnedMeshNode : public Mesh {
public:
    // No mesh data, no skin, no bones (room for 10, growing by 10).
    SkinnedMeshNode();
    ~SkinnedMeshNode() override = default;

    // The rest pose and the skin, neither owned (the scene keeps both; they must outlive this
    // node). The mesh data also becomes the source the geometries are made from.
    void SetMeshData(MeshData* meshData, SkinInfo* skin);

    // Points bone i at the matrix `find` gives for bone name i. False when there is no mesh
    // data or skin, or a name gives null: then no bone is bound and nothing is skinned. True
    // for a skin without bones (which still skins nothing). The matrices are followed by
    // pointer from then on: their owners must outlive this node.
    bool BindBoneMatrices(const std::function<const TypedMatrix*(const String& boneName)>& find);

    // Binds every bone name to the bone matrix of the node of that name in the tree below
    // `root` (SceneNode::FindByName, names without regard to case). On success the root is
    // kept: each draw poses that tree first. On failure (a name no node has) nothing is bound
    // and the root is cleared. Neither the tree nor the root is owned; both must outlive this
    // node.
    bool BindBones(SceneNode* root);
    SceneNode* bonesRoot() const { return bonesRoot_; }

    // Draws the mesh in its skinned pose. With a bones root the bones are posed first by a walk
    // that draws nothing (at the render context's pass time when its pass flags ask for a
    // time, else at the clock). Then the geometry of the layout the first effect material
    // (or the fixed-function layout) needs becomes the current one, is skinned, then drawn as
    // Mesh::Render draws. False, drawing nothing, when the skinning fails (not bound, no
    // geometry, a failed lock).
    FlagWord Render(MultiMaterial* material) override;

    // Rewrites the positions and normals of the current geometry's first stream buffer from
    // the rest pose: P = sum of w * (p transformed by bone b), N = normalize(sum of w * (n
    // times the 3x3 part of bone b)), the weights used as they are; a vertex without records
    // lands on the origin. A layout without a normal gets positions only, as does a rest pose
    // without one. The bytes of the buffer outside the positions and normals keep their
    // values. False, writing nothing, when nothing is bound, there is no geometry, the skin
    // does not fit the mesh data, the layouts hold no usable position or the lock fails.
    // The material is not used.
    bool SkinVertices(MultiMaterial* material);

    // SkinnedMeshNode, Mesh and Renderable; nothing else.
    bool QueryInterface(int32_t id, void** out) override;

    MeshData* meshData() const { return meshData_; }
    SkinInfo* skin() const { return skin_; }
    const DynArray<const TypedMatrix*>& boneMatrices() const { return boneMatrices_; }

private:
    MeshData* meshData_ = nullptr;
    SkinInfo* skin_ = nullptr;
    DynArray<const TypedMatrix*> boneMatrices_;
    SceneNode* bonesRoot_ = nullptr;
    // Whether the skin fitted the mesh data when it was bound: skins come from files.
    bool skinFits_ = false;
};
