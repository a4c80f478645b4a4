#include "scene/scene_node.h"

#include "core/debug/debug_trace.h"
#include "core/settings/frame_stats.h"
#include "core/time/clock.h"
#include "render/app_framework.h"
#include "render/mesh.h"
#include "render/renderable.h"
#include "scene/particle_emitter.h"
#include "scene/render_queue.h"

#include <algorithm>
#include <cstring>

namespace {

// Serials of visited sets; 0 is never handed out, so a new node is in no set.
uint64_t g_lastVisitSerial = 0;
// Stamps of the matrices a node's children are visited under; 0 is never handed out.
uint64_t g_lastMatrixStamp = 0;

ParticleEmitterFactory g_particleEmitterFactory = &CreateParticleEmitter;

bool OcclusionQueriesOn() { return g_appFramework != nullptr && g_appFramework->OcclusionQueriesEnabled(); }

void CopyTransformValues(const NodeTransform& from, NodeTransform& to) {
    TypedMatrix base;
    from.GetBaseMatrix(base);
    to.SetBaseMatrix(base);
    Vec3 scale;
    from.GetScale(scale);
    to.SetScale(scale.x, scale.y, scale.z);
    to.SetOrientation(from.GetDirection(), from.GetUp());
    to.SetPosition(from.GetPosition());
}

// The statistics counters, made once: every add looks them up by name.
const String& StatName(int which) {
    static const String names[3] = {String(kStatNodes), String(kStatClipped), String(kStatOccluded)};
    return names[which];
}

bool SameMatrix(const TypedMatrix& a, const TypedMatrix& b) {
    return a.kind == b.kind && a.valid == b.valid && std::memcmp(a.m, b.m, sizeof a.m) == 0;
}

const String& NoCullName() {
    static const String name("NoCull");
    return name;
}

}  // namespace

void SetParticleEmitterFactory(ParticleEmitterFactory factory) { g_particleEmitterFactory = factory; }

// ---------------------------------------------------------------------------------------------
// RenderPass

RenderPass::RenderPass() : visitSerial_(++g_lastVisitSerial) {}

bool RenderPass::Visited(const SceneNode& node) const { return node.visitSerial_ == visitSerial_; }

void RenderPass::MarkVisited(SceneNode& node) const { node.visitSerial_ = visitSerial_; }

void RenderPass::ClearVisited() { visitSerial_ = ++g_lastVisitSerial; }

// ---------------------------------------------------------------------------------------------
// SceneNode: the tree

SceneNode::SceneNode() = default;

SceneNode::~SceneNode() {
    animations_.Clear();
    for (SceneNode* child : childList_) {
        child->parent_ = nullptr;
        delete child;
    }
    childList_.clear();
    children_.Clear();
    for (SceneNode* child : keptAside_) {
        child->parent_ = nullptr;
        delete child;
    }
    keptAside_.clear();
    delete attachment_;
    attachment_ = nullptr;
}

bool SceneNode::ComputeBounds() {
    RenderPass pass;
    UpdateBounds(pass);
    return true;
}

void SceneNode::SetTypeName(const String& typeName) {
    typeName_ = typeName;
    isBone_ = CompareStrings(typeName_, String("Bone")) == 0;
}

void SceneNode::SetName(const String& name) {
    SceneNode* parent = keptAsideFlag_ ? nullptr : parent_;
    if (parent == nullptr) {
        name_ = name;
        return;
    }
    parent->Detach(this);
    name_ = name;
    parent->AddChild(this);
}

void SceneNode::AdjustAttachedCount(int32_t delta) {
    if (delta == 0) return;
    for (SceneNode* n = this; n != nullptr; n = n->keptAsideFlag_ ? nullptr : n->parent_) {
        n->attachedCount_ += delta;
    }
}

void SceneNode::Detach(SceneNode* child) {
    if (child->keptAsideFlag_) {
        auto it = std::find(keptAside_.begin(), keptAside_.end(), child);
        if (it != keptAside_.end()) keptAside_.erase(it);
        child->keptAsideFlag_ = false;
        child->parent_ = nullptr;
        return;
    }
    auto it = std::find(childList_.begin(), childList_.end(), child);
    if (it == childList_.end()) return;
    childList_.erase(it);
    SceneNode* mapped = nullptr;
    if (children_.Find(child->name_, mapped) != nullptr && mapped == child) children_.Erase(child->name_);
    child->parent_ = nullptr;
    AdjustAttachedCount(-child->attachedCount_);
    MarkDirty(true);
}

bool SceneNode::AddChild(SceneNode* child) {
    if (child == nullptr) return false;
    for (SceneNode* n = this; n != nullptr; n = n->parent_) {
        if (n == child) {
            DebugTrace("SceneNode::AddChild: refused a node that would contain itself", child->name_);
            return false;
        }
    }
    if (child->parent_ != nullptr) child->parent_->Detach(child);

    SceneNode* replaced = nullptr;
    if (children_.Find(child->name_, replaced) != nullptr && replaced != nullptr) {
        // The map keeps one child per name: the old one leaves it, but stays owned here.
        DebugTrace("SceneNode::AddChild: a child of the same name is replaced and kept aside", child->name_);
        auto it = std::find(childList_.begin(), childList_.end(), replaced);
        if (it != childList_.end()) childList_.erase(it);
        AdjustAttachedCount(-replaced->attachedCount_);
        replaced->keptAsideFlag_ = true;
        keptAside_.push_back(replaced);
    }
    children_.Insert(child->name_, child, 1);
    childList_.push_back(child);
    child->parent_ = this;
    AdjustAttachedCount(child->attachedCount_);
    MarkDirty(true);
    return true;
}

bool SceneNode::RemoveChild(const String& name) {
    SceneNode* child = nullptr;
    if (children_.Find(name, child) == nullptr || child == nullptr) return false;
    Detach(child);
    return true;
}

SceneNode* SceneNode::FindChild(const String& name) const {
    SceneNode* child = nullptr;
    children_.Find(name, child);
    return child;
}

SceneNode* SceneNode::FindByName(const String& name) {
    if (CompareStringsNoCase(name_, name) == 0) return this;
    for (SceneNode* child : childList_) {
        if (SceneNode* found = child->FindByName(name)) return found;
    }
    return nullptr;
}

void SceneNode::SetAttachment(Renderable* attachment) {
    if (attachment == attachment_) return;
    const int32_t before = attachment_ != nullptr ? 1 : 0;
    delete attachment_;
    attachment_ = attachment;
    void* mesh = nullptr;
    attachmentIsMesh_ = attachment_ != nullptr && attachment_->QueryInterface(TypeId<Mesh>::Get(), &mesh);
    AdjustAttachedCount((attachment_ != nullptr ? 1 : 0) - before);
}

NodeTransform& SceneNode::GetNodeTransform(bool markDirty) {
    if (markDirty) MarkDirty(true);
    return nodeTransform_;
}

NodeTransform& SceneNode::GetObjectTransform(bool markDirty) {
    if (markDirty) MarkDirty(true);
    return objectTransform_;
}

void SceneNode::MarkDirty(bool dirty) {
    if (!dirty) {
        state_ &= ~kNodeDirty;
        return;
    }
    for (SceneNode* n = this; n != nullptr; n = n->parent_) n->state_ |= kNodeDirty;
}

void SceneNode::SetFace(const String& text) {
    faceX_ = text.FindNoCase(String("X"), 0) >= 0;
    faceY_ = text.FindNoCase(String("Y"), 0) >= 0;
    faceZ_ = text.FindNoCase(String("Z"), 0) >= 0;
}

int32_t SceneNode::CountNodes(bool bones, bool attached, bool all) const {
    if (all) {
        int32_t n = 1;
        for (const SceneNode* child : childList_) n += child->CountNodes(false, false, true);
        return n;
    }
    if (attached && !bones) return attachedCount_;
    int32_t n = ((isBone_ && bones) || (attachment_ != nullptr && attached)) ? 1 : 0;
    for (const SceneNode* child : childList_) n += child->CountNodes(bones, attached, all);
    return n;
}

// ---------------------------------------------------------------------------------------------
// Animations

void SceneNode::AddAnimation(const String& name, const SharedRef<TransformAnimation>& animation) {
    animations_.Insert(name, animation, 1);
}

void SceneNode::AddStoredTransform(const String& name, const SharedRef<NodeTransform>& nodeTransform,
                                   const SharedRef<NodeTransform>& objectTransform) {
    storedNodeTransforms_.Insert(name, nodeTransform, 1);
    storedObjectTransforms_.Insert(name, objectTransform, 1);
}

void SceneNode::ApplyStoredTransform(const String& name, bool recursive) {
    SharedRef<NodeTransform> stored;
    if (storedNodeTransforms_.Find(name, stored) != nullptr) {
        if (stored.Get() != nullptr) {
            CopyTransformValues(*stored.Get(), nodeTransform_);
        } else {
            nodeTransform_.Reset();
        }
        SharedRef<NodeTransform> object;
        storedObjectTransforms_.Find(name, object);
        if (object.Get() != nullptr) {
            CopyTransformValues(*object.Get(), objectTransform_);
        } else {
            objectTransform_.Reset();
        }
        MarkDirty(true);
    }
    if (recursive) {
        for (SceneNode* child : childList_) child->ApplyStoredTransform(name, true);
    }
}

void SceneNode::BindAnimation(int32_t trackId, const String& name, bool recursive) {
    SharedRef<TransformAnimation> animation;
    if (animations_.Find(name, animation) != nullptr) {
        AnimTrack& track = tracks_.AddTrack(trackId);
        // The track holds the animation through its source interface, sharing the count.
        const SharedRefWords<TransformAnimation> words = animation.Words();
        SharedRefWords<TransformSource> source{static_cast<TransformSource*>(words.object), words.refs};
        track.SetSource(SharedRef<TransformSource>::FromWords(source));
        track.Stop();
    }
    if (recursive) {
        for (SceneNode* child : childList_) child->BindAnimation(trackId, name, true);
    }
}

template <typename Operation>
void SceneNode::ForEachTrack(int32_t trackId, bool recursive, Operation operation) {
    tracks_.ForEach(trackId, operation);
    if (recursive) {
        for (SceneNode* child : childList_) child->ForEachTrack(trackId, true, operation);
    }
}

void SceneNode::StartAnimation(int32_t trackId, bool recursive) {
    ForEachTrack(trackId, recursive, [](AnimTrack& track) { track.Start(); });
}

void SceneNode::SetAnimationSpeed(int32_t trackId, float speed, bool recursive) {
    ForEachTrack(trackId, recursive, [speed](AnimTrack& track) { track.SetSpeed(speed); });
}

void SceneNode::SetAnimationFlags(int32_t trackId, int32_t flags, bool recursive) {
    ForEachTrack(trackId, recursive, [flags](AnimTrack& track) { track.SetFlags(flags); });
}

void SceneNode::SetAnimationRange(int32_t trackId, float first, float last, bool recursive) {
    ForEachTrack(trackId, recursive, [first, last](AnimTrack& track) { track.SetPlayRange(first, last); });
}

void SceneNode::SetAnimationTolerance(int32_t trackId, float tolerance, bool recursive) {
    ForEachTrack(trackId, recursive, [tolerance](AnimTrack& track) { track.SetTolerance(tolerance); });
}

bool SceneNode::GetAnimationRange(float* first, float* last) {
    bool any = false;
    TimeRange range;
    if (tracks_.GetTimeRange(range)) {
        *first = range.first;
        *last = range.last;
        any = true;
    }
    for (SceneNode* child : childList_) {
        float childFirst = 0.0f;
        float childLast = 0.0f;
        if (!child->GetAnimationRange(&childFirst, &childLast)) continue;
        if (!any) {
            *first = childFirst;
            *last = childLast;
        } else {
            *first = std::min(*first, childFirst);
            *last = std::max(*last, childLast);
        }
        any = true;
    }
    return any;
}

void SceneNode::UpdateAnimationFlags() {
    for (SceneNode* child : childList_) {
        child->UpdateAnimationFlags();
        state_ |= child->state_ & (kNodeTrackRunning | kNodeHasTracks);
    }
    if (tracks_.count() > 0) state_ |= kNodeHasTracks;
    if (tracks_.AnyRunning()) state_ |= kNodeTrackRunning;
}

// ---------------------------------------------------------------------------------------------
// Boxes and matrices

void SceneNode::UpdateMatrices(RenderPass& pass) {
    if (pass.Visited(*this)) return;
    pass.MarkVisited(*this);
    const bool animated = tracks_.count() > 0;
    if (!animated && matricesKept_ && nodeTransform_.Unchanged(seenNodeChanges_) &&
        objectTransform_.Unchanged(seenObjectChanges_)) {
        return;
    }
    TypedMatrix animation;
    if (animated) {
        if ((pass.flags & kPassUseTime) != 0) {
            tracks_.GetMatrixAt(pass.time, animation);
        } else {
            tracks_.GetMatrixNow(animation);
        }
    }
    TypedMatrix composed;
    nodeTransform_.ComposeTransform(composed);
    localMatrix_ = MultiplyMatrices(animation, composed);
    localMatrix_.valid = 1;
    objectTransform_.ComposeTransform(composed);
    objectMatrix_ = MultiplyMatrices(composed, localMatrix_);
    objectMatrix_.valid = 1;
    seenNodeChanges_ = nodeTransform_.changes();
    seenObjectChanges_ = objectTransform_.changes();
    matricesKept_ = !animated;
    ++matrixSerial_;
}

void SceneNode::UpdateBounds(RenderPass& pass) {
    // A node marked dirty is always recomputed: its transform or its subtree changed.
    if ((state_ & kNodeDirty) == 0) {
        if ((state_ & kNodeHasTracks) != 0) {
            if ((state_ & kNodeTrackRunning) == 0 && (pass.flags & kPassUseTime) == 0) return;
        } else if ((state_ & kNodeTrackRunning) == 0) {
            return;
        }
    }
    BoundingBox box;
    bool found = false;
    if (flags_.Test(kNodeFixedBounds)) {
        box = fixedBox_;
        found = true;
    } else {
        if (attachment_ != nullptr && attachment_->IsValid()) {
            box = attachment_->GetBox();
            found = true;
        }
        for (SceneNode* child : childList_) {
            child->UpdateBounds(pass);
            if (!child->valid_) continue;
            box = found ? BoundingBox::Union(box, child->box_) : child->box_;
            found = true;
        }
    }
    valid_ = found;
    if (found) {
        UpdateMatrices(pass);
        box_ = box.Transform(objectMatrix_);
    }
    ++boxSerial_;
    state_ &= ~kNodeDirty;
}

// ---------------------------------------------------------------------------------------------
// The traversal

void SceneNode::ApplyBillboard(const RenderPass& pass, TypedMatrix& world) const {
    Vec3 translation;
    Vec3 forward;
    Vec3 up;
    Vec3 scale;
    DecomposeMatrix(world, translation, forward, up, scale);
    const Vec3 position{world.At(3, 0), world.At(3, 1), world.At(3, 2)};
    if (faceX_ && faceY_ && faceZ_) {
        forward = pass.GetDirection();
        up = pass.GetUp();
    } else if (faceX_ && faceY_) {
        forward = pass.GetDirection();
        forward.y = 0.0f;
        up = Vec3{0.0f, 1.0f, 0.0f};
    }
    TypedMatrix orientation;
    BuildOrientationMatrix(orientation, position, forward, up);
    world.At(3, 0) = 0.0f;
    world.At(3, 1) = 0.0f;
    world.At(3, 2) = 0.0f;
    world.kind |= kMatrixNoTranslation;
    world = MultiplyMatrices(world, orientation);
    world.valid = 1;
}

bool SceneNode::Draw(RenderPass& pass) {
    if (pass.walking_) {
        Visit(pass);
        return true;
    }
    // The camera does not move, and the pass's flags, time and effect override do not change,
    // while the walk runs.
    pass.camera_.SetCamera(pass);
    if (pass.renderQueue != nullptr) {
        pass.walkShared_ = pass.renderQueue->BeginWalk(pass, pass.flags, pass.time, pass.effectOverride);
    }
    pass.walking_ = true;
    Visit(pass);
    pass.walking_ = false;
    pass.walkShared_ = nullptr;
    return true;
}

void SceneNode::TakeCamera(const RenderPass& pass, RenderContext& context) {
    // RenderContext::SetCamera, with what the walk asked of the camera when it began.
    const RenderContext& camera = pass.camera_;
    context.view = camera.view;
    context.projection = camera.projection;
    context.viewProjection = camera.viewProjection;
    context.eye = camera.eye;
}

void SceneNode::Visit(RenderPass& pass) {
    const bool statistics = g_frameStats.enabled;
    bool occlusion = flags_.Test(kNodeOcclusionTested) && pass.renderQueue != nullptr &&
                     (pass.flags & kPassNoOcclusion) == 0 && OcclusionQueriesOn();

    const bool root = pass.recomputeBounds;
    if (root) {
        UpdateBounds(pass);
        if ((pass.flags & kPassTestRoot) != 0 && pass.renderQueue != nullptr && OcclusionQueriesOn()) occlusion = true;
        if (statistics) g_frameStats.Add(StatName(0), 1 + attachedCount_);
        pass.recomputeBounds = false;
    }

    UpdateMatrices(pass);

    // The world box, the world matrix and the children's parent matrix are kept while the
    // node's matrices, its box and the parent matrix stay the same; a parent matrix the pass
    // knows by its stamp needs no comparison.
    const TypedMatrix& parent = pass.parentMatrix;
    bool kept = worldKept_ && worldMatrixSerial_ == matrixSerial_ && worldBoxSerial_ == boxSerial_;
    if (kept && (pass.parentStamp_ == 0 || pass.parentStamp_ != worldParentStamp_)) {
        kept = SameMatrix(parent, worldParent_);
        if (kept) worldParentStamp_ = pass.parentStamp_;
    }
    if (!kept) {
        worldBox_ = parent.kind == kMatrixIdentity ? box_ : box_.Transform(parent);
        plainWorld_ = MultiplyMatrices(objectMatrix_, parent);
        childParent_ = MultiplyMatrices(localMatrix_, parent);
        worldParent_ = parent;
        worldParentStamp_ = pass.parentStamp_;
        childParentStamp_ = ++g_lastMatrixStamp;
        worldMatrixSerial_ = matrixSerial_;
        worldBoxSerial_ = boxSerial_;
        worldKept_ = true;
        worldCurrent_ = false;
    }
    const BoundingBox& worldBox = worldBox_;

    // The box test first: it is cheaper than looking the name up among the properties, and
    // most nodes of a frame are in view.
    if (valid_ && (pass.flags & (kPassNoFrustum | kPassProxiesOnly)) == 0 &&
        ClassifyBoxAgainstFrustum(worldBox, pass) == kBoxOutside &&
        (properties_.count() == 0 || properties_.Child(NoCullName()) == nullptr)) {
        pass.recomputeBounds = root;
        if (root) pass.ClearVisited();
        if (statistics) g_frameStats.Add(StatName(1), 1 + attachedCount_);
        return;
    }

    bool occluded = false;
    uint32_t pixels = 0;
    if (occlusion && query_.GetResult(&pixels) && pixels == 0) {
        occluded = true;
        if (statistics) g_frameStats.Add(StatName(2), 1 + attachedCount_);
        // The eye standing in or beside the box sees it although the proxy counted nothing:
        // from inside, every face of the proxy is culled.
        const float nearDistance = pass.GetNear();
        BoundingBox eyeBox;
        eyeBox.centre = pass.GetEye();
        eyeBox.size = Vec3{2 * nearDistance, 2 * nearDistance, 2 * nearDistance};
        if (worldBox.Overlaps(eyeBox) == kBoxesOverlap) occluded = false;
    }

    if (faceX_ || faceY_ || faceZ_) {
        worldMatrix_ = plainWorld_;
        ApplyBillboard(pass, worldMatrix_);
        worldCurrent_ = false;
    } else if (!worldCurrent_) {
        worldMatrix_ = plainWorld_;
        worldCurrent_ = true;
    }
    if (isBone_) boneMatrix_ = MultiplyMatrices(boneOffset_, worldMatrix_);

    // Only the children read the pass's parent matrix: a node without children to visit
    // leaves it as it is.
    const bool visitChildren = !occluded && (pass.flags & kPassRootOnly) == 0 && !childList_.empty();
    TypedMatrix saved;
    uint64_t savedStamp = 0;
    if (visitChildren) {
        saved = pass.parentMatrix;
        savedStamp = pass.parentStamp_;
        pass.parentMatrix = childParent_;
        pass.parentStamp_ = childParentStamp_;
    }

    // A tested node with children is tested by the proxy of its whole box also while it is
    // visible: a query around its own attachment alone would hide children that are in view
    // whenever the attachment itself is covered.
    const bool subtreeProxy = occlusion && !occluded && !childList_.empty();
    if (occluded || subtreeProxy) {
        RenderItem* item = pass.renderQueue->NewItem();
        item->context.worldBox = worldBox;
        item->occlusionTested = true;
        item->node = this;
        TakeCamera(pass, item->context);
        pass.renderQueue->AddToRenderQueue(item);
    }
    if (!occluded) {
        if (attachment_ != nullptr && (pass.flags & kPassProxiesOnly) == 0) {
            MultiMaterial* material = pass.materialOverride != nullptr ? pass.materialOverride : &material_;
            const int32_t drawOrder = (pass.flags & kPassDrawOrderOverride) != 0 ? pass.drawOrderOverride : drawOrder_;
            if (pass.renderQueue != nullptr) {
                // Filed without being made: the queue makes the item's context when it draws it.
                RenderQueue::WalkItem item;
                item.shared = pass.walkShared_;
                item.occlusionTested = occlusion && !subtreeProxy;
                item.drawOrder = drawOrder;
                item.node = this;
                item.attachment = attachment_;
                item.material = material;
                item.worldBox = worldBox;
                item.world = attachmentIsMesh_ ? &worldMatrix_ : nullptr;
                if (pass.lights.lights.count() == 0) {
                    item.ambient = pass.lights.ambient;
                    pass.renderQueue->FileWalkItem(item, false);
                } else if ((pass.flags & kPassOwnLights) != 0) {
                    *pass.renderQueue->FileWalkItem(item, true) = pass.lights;
                } else {
                    CollectLights(pass.lights, worldBox, pass.renderQueue->FileWalkItem(item, true));
                }
            } else {
                auto* item = new RenderItem;
                RenderContext& context = item->context;
                context.worldBox = worldBox;
                item->occlusionTested = occlusion && !subtreeProxy;
                item->node = this;
                item->attachment = attachment_;
                item->material = material;
                item->drawOrder = drawOrder;
                context.effectOverride = pass.effectOverride;
                if (attachmentIsMesh_) context.world = worldMatrix_;
                context.passFlags = pass.flags;
                context.passTime = pass.time;
                TakeCamera(pass, context);
                // The new item's inverse world matrix is not valid.
                if ((pass.flags & kPassOwnLights) != 0) {
                    context.lights = pass.lights;
                } else {
                    CollectLights(pass.lights, worldBox, &context.lights);
                }
                RenderContext* before = material->renderContext();
                material->SetRenderContext(&context);
                attachment_->Render(material);
                material->SetRenderContext(before);
                delete item;
            }
        }
        if (visitChildren) {
            for (SceneNode* child : childList_) child->Visit(pass);
        }
    }

    if (visitChildren) {
        pass.parentMatrix = saved;
        pass.parentStamp_ = savedStamp;
    }
    pass.recomputeBounds = root;
    if (root) pass.ClearVisited();
}

bool SceneNode::ApplyNodeType(SearchPaths* paths) {
    String text;
    if (properties_.GetString(String("Face"), text)) SetFace(text);
    if (properties_.GetString(String("NodeType"), text) &&
        CompareStrings(text, String("ParticleEmitter")) == 0 && g_particleEmitterFactory != nullptr) {
        if (Renderable* emitter = g_particleEmitterFactory(*this, paths)) {
            properties_.SetIntProperty(String("NoCull"), 1);
            SetAttachment(emitter);
        }
    }
    return true;
}
