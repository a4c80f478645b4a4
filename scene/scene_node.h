// The scene graph: a tree of SceneNodes, each with a node transform its children inherit, an
// object transform of its own, animation tracks, a material, an optional drawable attachment
// and children found by name without regard to case. Once per frame and camera pass the
// application calls SceneNode::Draw on a root with a RenderPass: the walk recomputes boxes and
// matrices, culls subtrees against the view frustum and by each node's last occlusion query,
// counts what it did into g_frameStats, and files every visible attachment into the pass's
// render queue as a RenderItem (or draws it at once when the pass has no queue).
#pragma once

#include "core/bounds/bounds_provider.h"
#include "core/containers/ordered_map.h"
#include "core/containers/shared_ref.h"
#include "core/math/typed_matrix.h"
#include "core/object/property_node.h"
#include "core/text/string.h"
#include "core/types/flag_word.h"
#include "render/camera_view.h"
#include "render/light.h"
#include "render/material.h"
#include "render/occlusion_query.h"
#include "scene/anim_track.h"
#include "scene/node_transform.h"
#include "scene/render_queue.h"
#include "scene/transform_animation.h"

#include <cstdint>
#include <vector>

class RenderQueue;
class Renderable;
class LitEffectMaterial;
class SearchPaths;
class SceneNode;

// Node flags.
constexpr int32_t kNodeOcclusionTested = 1;  // the name begins with "~"
constexpr int32_t kNodeFixedBounds = 4;      // the scene file gave "Bounds"

// Node state bits.
constexpr int32_t kNodeDirty = 1;
constexpr int32_t kNodeTrackRunning = 2;  // a track of the node or a descendant runs
constexpr int32_t kNodeHasTracks = 4;     // the node or a descendant has tracks

// Pass flags.
constexpr int32_t kPassUseTime = 0x01;
constexpr int32_t kPassNoFrustum = 0x02;
constexpr int32_t kPassProxiesOnly = 0x04;
constexpr int32_t kPassRootOnly = 0x08;
constexpr int32_t kPassOwnLights = 0x10;
constexpr int32_t kPassTestRoot = 0x20;
constexpr int32_t kPassNoOcclusion = 0x40;  // also: the queue groups the opaque items by state
constexpr int32_t kPassDrawOrderOverride = 0x100;

// One queued draw. An item belongs to the render queue from the moment it is filed.
struct RenderItem {
    bool occlusionTested = false;
    int32_t drawOrder = 0;
    SceneNode* node = nullptr;
    // Null for an occlusion proxy.
    Renderable* attachment = nullptr;
    MultiMaterial* material = nullptr;
    RenderContext context;
};

// One camera pass over a tree; a pass is the camera view it is drawn with.
class RenderPass : public CameraView {
public:
    RenderPass();
    RenderPass(const RenderPass&) = delete;
    RenderPass& operator=(const RenderPass&) = delete;
    ~RenderPass() = default;

    // The world matrix of the parent of the node being visited; restored after each node.
    TypedMatrix parentMatrix;
    int32_t flags = 0;
    // The animation time used with kPassUseTime; copied into every item.
    float time = 0.0f;
    int32_t drawOrderOverride = 0;
    LightSet lights;
    // Drawn instead of each node's own material when set. Not owned.
    MultiMaterial* materialOverride = nullptr;
    // Becomes each item's effect override when set. Not owned.
    LitEffectMaterial* effectOverride = nullptr;
    // Null: attachments are drawn at once. Not owned.
    RenderQueue* renderQueue = nullptr;
    // Set: the visit of the pass's root recomputes the boxes of its subtree.
    bool recomputeBounds = true;

    // The nodes whose matrices this traversal computed. Instead of a set of pointers each node
    // keeps the serial of the last set it joined: joining and asking cost no allocation, and
    // emptying the set takes a fresh serial.
    bool Visited(const SceneNode& node) const;
    void MarkVisited(SceneNode& node) const;
    void ClearVisited();

private:
    friend class SceneNode;

    uint64_t visitSerial_;
    // Which contents parentMatrix holds while a node's children are visited: the stamp of the
    // node's children's matrix, so that a child knows its parent unchanged without comparing
    // the matrix. 0 (as between walks, when the caller may have set parentMatrix): unknown.
    uint64_t parentStamp_ = 0;
    // Set while a walk of this pass runs.
    bool walking_ = false;
    // The camera's matrices and eye as every item of this walk takes them (SetCamera), asked
    // of the camera once per walk instead of once per item.
    RenderContext camera_;
    // What the items this walk files into the queue share.
    const RenderQueue::WalkShared* walkShared_ = nullptr;
};

// Makes the emitter of a node whose "NodeType" is "ParticleEmitter"; null makes none. The
// particle code installs it.
using ParticleEmitterFactory = Renderable* (*)(SceneNode& node, SearchPaths* paths);
void SetParticleEmitterFactory(ParticleEmitterFactory factory);

// A node transform that counts its compositions that found it changed, so that the walk can see
// without composing it whether its matrix is still the one it used last. The count lives with
// its reader (the node's front, read every frame), not at the end of the transform.
class CountedTransform : public NodeTransform {
public:
    explicit CountedTransform(uint32_t* changes) : changes_(changes) {}
    CountedTransform(const CountedTransform&) = delete;
    CountedTransform& operator=(const CountedTransform&) = delete;

    void ComposeTransform(TypedMatrix& out) override {
        if (dirty_) ++*changes_;
        NodeTransform::ComposeTransform(out);
    }
    // Whether the composed matrix is still the one composed when changes() answered `seen`.
    bool Unchanged(uint32_t seen) const { return !dirty_ && *changes_ == seen; }
    uint32_t changes() const { return *changes_; }

private:
    uint32_t* changes_;
};

class SceneNode : public BoundsProvider {
public:
    using ChildMap = OrderedMap<String, SceneNode*, StringCompareNoCase>;
    using AnimationMap = OrderedMap<String, SharedRef<TransformAnimation>, StringCompare>;
    using StoredTransformMap = OrderedMap<String, SharedRef<NodeTransform>, StringCompare>;

    SceneNode();
    SceneNode(const SceneNode&) = delete;
    SceneNode& operator=(const SceneNode&) = delete;
    // Deletes every child (and every child kept aside by a replacing AddChild) and the
    // attachment.
    ~SceneNode() override;

    // Builds a default pass, runs UpdateBounds with it; true.
    bool ComputeBounds() override;

    const String& GetName() const { return name_; }
    // With a parent, the node is taken out of the parent's map under the old name and added
    // again under the new one, so the map stays keyed by the current name.
    void SetName(const String& name);
    const String& GetTypeName() const { return typeName_; }
    void SetTypeName(const String& typeName);

    const ChildMap& GetChildren() const { return children_; }
    // The children in map (insertion) order.
    int32_t childCount() const { return static_cast<int32_t>(childList_.size()); }
    SceneNode* child(int32_t index) const { return childList_[index]; }
    SceneNode* GetParent() const { return parent_; }
    // Sets the parent pointer only.
    void SetParent(SceneNode* parent) { parent_ = parent; }

    // Inserts the child under its name and becomes its parent. A child of another parent is
    // taken out of that parent first. Another child of the same name leaves the map; it is
    // kept aside and deleted with this node (skinned meshes may still read its bone
    // matrices). False, changing nothing, for null, this node or one of its ancestors.
    bool AddChild(SceneNode* child);
    // Takes the child of that name out of the map and clears its parent; it is not deleted.
    bool RemoveChild(const String& name);
    SceneNode* FindChild(const String& name) const;
    // This node, then each child's subtree depth first; names without regard to case.
    SceneNode* FindByName(const String& name);

    Renderable* GetAttachment() const { return attachment_; }
    // Takes ownership; the old attachment is deleted.
    void SetAttachment(Renderable* attachment);
    MultiMaterial& GetMaterial() { return material_; }
    int32_t GetDrawOrder() const { return drawOrder_; }
    void SetDrawOrder(int32_t order) { drawOrder_ = order; }
    BoundingBox& GetFixedBounds() { return fixedBox_; }
    OcclusionQuery& GetOcclusionQuery() { return query_; }
    PropertyNode& properties() { return properties_; }
    const PropertyNode& properties() const { return properties_; }
    FlagWord& flags() { return flags_; }
    int32_t state() const { return state_; }
    AnimTrackSet& tracks() { return tracks_; }

    // With true, the node and every ancestor are marked dirty first.
    NodeTransform& GetNodeTransform(bool markDirty);
    NodeTransform& GetObjectTransform(bool markDirty);
    // true: marks this node and every ancestor dirty; false: clears the mark of this node.
    void MarkDirty(bool dirty);

    void SetBoneOffset(const TypedMatrix& offset) { boneOffset_ = offset; }
    const TypedMatrix& GetBoneMatrix() const { return boneMatrix_; }
    const TypedMatrix& worldMatrix() const { return worldMatrix_; }
    const TypedMatrix& localMatrix() const { return localMatrix_; }
    const TypedMatrix& objectMatrix() const { return objectMatrix_; }

    // Billboard axes: whether the text holds "X", "Y", "Z", without regard to case.
    void SetFace(const String& text);
    bool faceX() const { return faceX_; }
    bool faceY() const { return faceY_; }
    bool faceZ() const { return faceZ_; }

    void AddAnimation(const String& name, const SharedRef<TransformAnimation>& animation);
    void AddStoredTransform(const String& name, const SharedRef<NodeTransform>& nodeTransform,
                            const SharedRef<NodeTransform>& objectTransform);
    int32_t storedTransformCount() const { return storedNodeTransforms_.count(); }
    // The stored transforms of that name become the node's (the object transform's defaults
    // when none was stored); marks the node dirty; in every subtree when recursive.
    void ApplyStoredTransform(const String& name, bool recursive);
    // The named animation becomes the source of track `trackId` (made when absent), stopped.
    void BindAnimation(int32_t trackId, const String& name, bool recursive);
    // Starts the track, or every track for -1, at the current clock time.
    void StartAnimation(int32_t trackId, bool recursive);
    void SetAnimationSpeed(int32_t trackId, float speed, bool recursive);
    void SetAnimationFlags(int32_t trackId, int32_t flags, bool recursive);
    void SetAnimationRange(int32_t trackId, float first, float last, bool recursive);
    void SetAnimationTolerance(int32_t trackId, float tolerance, bool recursive);
    // The union of the time ranges of the subtree's track sets; false when none has one.
    bool GetAnimationRange(float* first, float* last);
    // Bottom up: bit 4 for tracks, bit 2 for a running track, ORed into every parent.
    void UpdateAnimationFlags();
    // Over the subtree: 1 per node that is a "Bone" (bones), has an attachment (attached), or
    // any node (all).
    int32_t CountNodes(bool bones, bool attached, bool all) const;

    void UpdateBounds(RenderPass& pass);
    void UpdateMatrices(RenderPass& pass);
    // The traversal; always true.
    bool Draw(RenderPass& pass);
    // "Face" and "NodeType" from the properties; always true.
    bool ApplyNodeType(SearchPaths* paths);

    // Children replaced by AddChild, deleted with this node.
    int32_t keptAsideCount() const { return static_cast<int32_t>(keptAside_.size()); }

private:
    friend class RenderPass;

    // The walk below the outermost Draw.
    void Visit(RenderPass& pass);
    static void TakeCamera(const RenderPass& pass, RenderContext& context);
    void ApplyBillboard(const RenderPass& pass, TypedMatrix& world) const;
    void AdjustAttachedCount(int32_t delta);
    // Takes the child out of the map and list, or out of the kept-aside list.
    void Detach(SceneNode* child);
    template <typename Operation>
    void ForEachTrack(int32_t trackId, bool recursive, Operation operation);

    // Read by every frame's walk: kept together at the front of the node.
    FlagWord flags_{0};
    int32_t state_ = kNodeDirty;
    Renderable* attachment_ = nullptr;
    SceneNode* parent_ = nullptr;
    // The children in the map's order, walked every frame without chasing list nodes.
    std::vector<SceneNode*> childList_;
    bool faceX_ = false;
    bool faceY_ = false;
    bool faceZ_ = false;
    bool isBone_ = false;
    bool keptAsideFlag_ = false;
    // The attachment answers the Mesh interface (asked once, when it is set).
    bool attachmentIsMesh_ = false;
    // Nodes with an attachment in the subtree, kept as the tree changes.
    int32_t attachedCount_ = 0;
    int32_t drawOrder_ = 0;
    mutable uint64_t visitSerial_ = 0;

    // A static tree's matrices and world boxes are the same every frame. Each product is kept
    // with what it was made from and made again only when that changed: the composed
    // transforms for the local and object matrices; the parent matrix, the box and the local
    // and object matrices for the world box, the world matrix and the children's parent matrix.
    bool matricesKept_ = false;
    bool worldKept_ = false;
    // worldMatrix_ holds plainWorld_ as it is now (no billboard turned it since).
    bool worldCurrent_ = false;
    uint32_t seenNodeChanges_ = 0;
    uint32_t seenObjectChanges_ = 0;
    // The counts of nodeTransform_ and objectTransform_.
    uint32_t nodeChanges_ = 0;
    uint32_t objectChanges_ = 0;
    uint32_t matrixSerial_ = 0;
    uint32_t boxSerial_ = 0;
    uint32_t worldMatrixSerial_ = 0;
    uint32_t worldBoxSerial_ = 0;
    // The stamp of the parent matrix worldParent_ holds (0: not known) and the stamp of
    // childParent_, new whenever it is made again.
    uint64_t worldParentStamp_ = 0;
    uint64_t childParentStamp_ = 0;
    BoundingBox worldBox_;
    TypedMatrix worldMatrix_{{}, kMatrixGeneral, 0};
    TypedMatrix worldParent_{{}, kMatrixGeneral, 0};
    TypedMatrix plainWorld_{{}, kMatrixGeneral, 0};
    TypedMatrix childParent_{{}, kMatrixGeneral, 0};
    TypedMatrix localMatrix_{{}, kMatrixGeneral, 0};
    TypedMatrix objectMatrix_{{}, kMatrixGeneral, 0};
    AnimTrackSet tracks_;
    PropertyNode properties_;
    CountedTransform nodeTransform_{&nodeChanges_};
    CountedTransform objectTransform_{&objectChanges_};
    // Read by the queue when an item is filed (whether it is transparent).
    MultiMaterial material_;

    BoundingBox fixedBox_;
    OcclusionQuery query_;
    ChildMap children_;
    std::vector<SceneNode*> keptAside_;
    String name_;
    String typeName_;
    AnimationMap animations_;
    StoredTransformMap storedNodeTransforms_;
    StoredTransformMap storedObjectTransforms_;
    TypedMatrix boneOffset_{{}, kMatrixGeneral, 0};
    TypedMatrix boneMatrix_{{}, kMatrixGeneral, 0};
};
