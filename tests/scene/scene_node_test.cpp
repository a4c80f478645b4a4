// Scene nodes without a device: the tree operations, boxes, animation calls, frustum culling and
// its statistics, billboards, and a randomized run of tree operations with invariants checked
// after every step. Occlusion culling needs queries: occlusion_proxy_layer_test.cpp.
#include "scene/scene_node.h"
#include "scene/particle_emitter.h"

#include "core/settings/frame_stats.h"
#include "render/lit_effect_material.h"
#include "render/mesh.h"
#include "scene/render_queue.h"
#include "tests/scene/support/recording_renderable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using rh::test::DrawRecord;
using rh::test::RecordingRenderable;
using rh::test::Tags;

BoundingBox Box(Vec3 centre, float size) {
    BoundingBox b;
    b.centre = centre;
    b.size = Vec3{size, size, size};
    return b;
}

SceneNode* Named(const char* name) {
    auto* n = new SceneNode;
    n->SetName(String(name));
    return n;
}

// An attachment that counts its destruction.
class CountedRenderable : public Renderable {
public:
    explicit CountedRenderable(int* destroyed) : destroyed_(destroyed) {}
    ~CountedRenderable() override { ++*destroyed_; }
    FlagWord Render(MultiMaterial*) override { return FlagWord(true); }

private:
    int* destroyed_;
};

// A source with a range that yields the identity.
class RangeSource : public TransformSource {
public:
    explicit RangeSource(TimeRange range) : range_(range) {}
    bool GetMatrix(float, TypedMatrix& out) override {
        out = IdentityMatrix();
        return true;
    }
    bool GetTimeRange(TimeRange& range) override {
        range = range_;
        return true;
    }

private:
    TimeRange range_;
};

// A mesh that draws nothing and logs its draws like RecordingRenderable: the walk gives a mesh
// its world matrix.
class RecordingMesh : public Mesh {
public:
    RecordingMesh(std::string tag, std::vector<DrawRecord>* log) : tag_(std::move(tag)), log_(log) {
        box_ = Box(Vec3{0, 0, 0}, 1.0f);
        valid_ = true;
    }
    FlagWord Render(MultiMaterial* material) override {
        log_->push_back(DrawRecord{tag_, material, *material->renderContext()});
        return FlagWord(true);
    }

private:
    std::string tag_;
    std::vector<DrawRecord>* log_;
};

class AnyEffect : public LitEffectMaterial {
public:
    VertexFormat VertexElements() const override { return VertexFormat(); }
};

class SceneNodeTest : public ::testing::Test {
protected:
    void SetUp() override { g_frameStats.ClearFrameCounters(); }
    void TearDown() override { g_frameStats.ClearFrameCounters(); }

    // A node drawing a recording renderable with a box of `size` at `centre` (object space).
    SceneNode* Drawable(const char* name, Vec3 position, float size = 1.0f) {
        SceneNode* n = Named(name);
        auto* r = new RecordingRenderable(name, &log_);
        r->SetBox(Box(Vec3{0, 0, 0}, size));
        n->SetAttachment(r);
        n->GetNodeTransform(true).SetPosition(position);
        return n;
    }

    std::vector<std::string> DrawTags(SceneNode& root, RenderPass& pass) {
        log_.clear();
        EXPECT_TRUE(root.Draw(pass));
        return Tags(log_);
    }

    static int Stat(const char* name) { return g_frameStats.Read(FrameStats::kFrameSlot, String(name)); }

    std::vector<DrawRecord> log_;
};

using Tags_ = std::vector<std::string>;

TEST_F(SceneNodeTest, ChildrenAreKeyedByTheirCurrentNameWithoutRegardToCase) {
    SceneNode root;
    SceneNode* a = Named("Alpha");
    root.AddChild(a);
    EXPECT_EQ(root.FindChild(String("ALPHA")), a);
    EXPECT_EQ(a->GetParent(), &root);

    a->SetName(String("Beta"));
    EXPECT_EQ(root.FindChild(String("alpha")), nullptr);
    EXPECT_EQ(root.FindChild(String("beta")), a);
    EXPECT_EQ(root.GetChildren().count(), 1);

    // Renaming onto a sibling's name: the map holds the renamed node; the sibling is kept aside
    // and deleted with the parent (the leak checker would see it otherwise).
    int destroyed = 0;
    SceneNode* sibling = Named("Gamma");
    sibling->SetAttachment(new CountedRenderable(&destroyed));
    root.AddChild(sibling);
    a->SetName(String("gamma"));
    EXPECT_EQ(root.FindChild(String("Gamma")), a);
    EXPECT_EQ(root.GetChildren().count(), 1);
    EXPECT_EQ(root.childCount(), 1);
    EXPECT_EQ(root.keptAsideCount(), 1);
    EXPECT_EQ(root.CountNodes(false, true, false), 0) << "the kept-aside node is no longer in the tree";
    EXPECT_EQ(destroyed, 0) << "not destroyed under the caller";
    {
        auto parent = std::make_unique<SceneNode>();
        SceneNode* first = Named("x");
        first->SetAttachment(new CountedRenderable(&destroyed));
        parent->AddChild(first);
        parent->AddChild(Named("X"));
        EXPECT_EQ(parent->keptAsideCount(), 1);
    }
    EXPECT_EQ(destroyed, 1) << "destroyed with its parent";
}

TEST_F(SceneNodeTest, FindByNameIsDepthFirstThisNodeFirst) {
    SceneNode root;
    root.SetName(String("Root"));
    SceneNode* a = Named("a");
    SceneNode* deep = Named("Target");
    SceneNode* b = Named("b");
    SceneNode* shallow = Named("target");
    root.AddChild(a);
    a->AddChild(deep);
    root.AddChild(b);
    b->AddChild(shallow);
    EXPECT_EQ(root.FindByName(String("TARGET")), deep) << "a's subtree before b";
    EXPECT_EQ(root.FindByName(String("root")), &root);
    EXPECT_EQ(b->FindByName(String("target")), shallow);
    EXPECT_EQ(root.FindByName(String("none")), nullptr);
}

TEST_F(SceneNodeTest, RemoveMoveAndCyclesKeepOneParentPerNode) {
    SceneNode root;
    SceneNode* a = Named("a");
    SceneNode* b = Named("b");
    SceneNode* c = Named("c");
    root.AddChild(a);
    root.AddChild(b);
    a->AddChild(c);

    // Detached, not destroyed.
    EXPECT_TRUE(root.RemoveChild(String("B")));
    EXPECT_FALSE(root.RemoveChild(String("b")));
    EXPECT_EQ(b->GetParent(), nullptr);
    std::unique_ptr<SceneNode> owned(b);

    // Moving c under root takes it out of a.
    EXPECT_TRUE(root.AddChild(c));
    EXPECT_EQ(a->FindChild(String("c")), nullptr);
    EXPECT_EQ(a->childCount(), 0);
    EXPECT_EQ(c->GetParent(), &root);

    // A node never becomes its own descendant.
    EXPECT_FALSE(a->AddChild(&root));
    EXPECT_FALSE(a->AddChild(a));
    EXPECT_FALSE(a->AddChild(nullptr));
    EXPECT_EQ(root.GetParent(), nullptr);
    EXPECT_EQ(root.childCount(), 2);
}

TEST_F(SceneNodeTest, CountNodes) {
    SceneNode root;
    SceneNode* bone = Named("bone");
    bone->SetTypeName(String("Bone"));
    root.AddChild(bone);
    root.AddChild(Drawable("m1", Vec3{0, 0, 0}));
    bone->AddChild(Drawable("m2", Vec3{0, 0, 0}));
    bone->AddChild(Named("empty"));
    EXPECT_EQ(root.CountNodes(false, true, false), 2);
    EXPECT_EQ(root.CountNodes(true, false, false), 1);
    EXPECT_EQ(root.CountNodes(true, true, false), 3);
    EXPECT_EQ(root.CountNodes(false, false, true), 5);
    EXPECT_EQ(root.CountNodes(false, false, false), 0);
    std::unique_ptr<SceneNode> m2(bone->FindChild(String("m2")));
    bone->RemoveChild(String("m2"));
    EXPECT_EQ(root.CountNodes(false, true, false), 1);
    m2->SetAttachment(nullptr);
    bone->AddChild(m2.release());
    EXPECT_EQ(root.CountNodes(false, true, false), 1);
}

TEST_F(SceneNodeTest, DirtyMarksRunUpTheParentChain) {
    SceneNode root;
    SceneNode* a = Named("a");
    SceneNode* b = Named("b");
    SceneNode* sibling = Named("s");
    root.AddChild(a);
    a->AddChild(b);
    root.AddChild(sibling);
    auto clearAll = [&] {
        for (SceneNode* n : {&root, a, b, sibling}) n->MarkDirty(false);
    };
    using Mark = void (*)(SceneNode*);
    const Mark marks[] = {
        [](SceneNode* n) { n->MarkDirty(true); },
        [](SceneNode* n) { n->GetNodeTransform(true); },
        [](SceneNode* n) { n->GetObjectTransform(true); },
    };
    for (Mark mark : marks) {
        clearAll();
        mark(b);
        EXPECT_TRUE(b->state() & kNodeDirty);
        EXPECT_TRUE(a->state() & kNodeDirty);
        EXPECT_TRUE(root.state() & kNodeDirty);
        EXPECT_FALSE(sibling->state() & kNodeDirty);
    }
    clearAll();
    b->GetNodeTransform(false);
    EXPECT_FALSE(root.state() & kNodeDirty);
    b->MarkDirty(false);
    EXPECT_FALSE(b->state() & kNodeDirty);
}

TEST_F(SceneNodeTest, StaticBoxesAreKeptUntilMarkedDirtyAndAnimatedOnesFollow) {
    SceneNode root;
    SceneNode* group = Named("group");
    SceneNode* leaf = Drawable("leaf", Vec3{0, 0, 10});
    root.AddChild(group);
    group->AddChild(leaf);
    auto* renderable = static_cast<RecordingRenderable*>(leaf->GetAttachment());
    RenderPass pass;

    root.Draw(pass);
    EXPECT_FLOAT_EQ(root.GetBox().size.x, 1.0f);
    EXPECT_FLOAT_EQ(root.GetBox().centre.z, 10.0f) << "the node transform moves the attachment's box";

    renderable->SetBox(Box(Vec3{0, 0, 0}, 3.0f));
    root.Draw(pass);
    EXPECT_FLOAT_EQ(root.GetBox().size.x, 1.0f) << "a static subtree is not recomputed";
    leaf->MarkDirty(true);
    root.Draw(pass);
    EXPECT_FLOAT_EQ(root.GetBox().size.x, 3.0f);

    // A node with a track that has never run and is not running: the dirty mark still
    // recomputes (a moved node must not keep its old box).
    leaf->tracks().AddTrack(0).SetSource(SharedRef<TransformSource>(new RangeSource(TimeRange{0, 1})));
    root.UpdateAnimationFlags();
    leaf->GetNodeTransform(true).SetPosition(Vec3{0, 0, 20});
    root.Draw(pass);
    EXPECT_FLOAT_EQ(root.GetBox().centre.z, 20.0f);

    // A running track: recomputed every frame without marks.
    leaf->StartAnimation(0, false);
    root.UpdateAnimationFlags();
    renderable->SetBox(Box(Vec3{0, 0, 0}, 5.0f));
    root.Draw(pass);
    EXPECT_FLOAT_EQ(root.GetBox().size.x, 5.0f);

    // A fixed box wins over the attachment's and the children's.
    group->flags().Set(kNodeFixedBounds);
    group->GetFixedBounds() = Box(Vec3{1, 2, 3}, 7.0f);
    group->MarkDirty(true);
    root.Draw(pass);
    EXPECT_FLOAT_EQ(group->GetBox().size.x, 7.0f);
    EXPECT_FLOAT_EQ(group->GetBox().centre.y, 2.0f);
}

TEST_F(SceneNodeTest, AnimationCallsReachTheirTracksInTheSubtree) {
    SceneNode root;
    SceneNode* child = Named("child");
    SceneNode* grandchild = Named("grandchild");
    root.AddChild(child);
    child->AddChild(grandchild);
    SharedRef<TransformAnimation> walk(new TransformAnimation);
    root.AddAnimation(String("walk"), walk);
    grandchild->AddAnimation(String("walk"), walk);

    root.BindAnimation(3, String("walk"), true);
    ASSERT_NE(root.tracks().FindTrack(3), nullptr);
    EXPECT_EQ(root.tracks().FindTrack(3)->source(), static_cast<TransformSource*>(walk.Get()));
    EXPECT_FALSE(root.tracks().FindTrack(3)->running());
    EXPECT_EQ(child->tracks().count(), 0) << "no animation of that name: no track";
    ASSERT_NE(grandchild->tracks().FindTrack(3), nullptr);
    EXPECT_EQ(*walk.refs(), 5) << "the two maps, the two tracks and the test";
    root.BindAnimation(4, String("walk"), false);
    EXPECT_EQ(grandchild->tracks().FindTrack(4), nullptr) << "without recursion";
    root.BindAnimation(5, String("run"), true);
    EXPECT_EQ(root.tracks().FindTrack(5), nullptr);

    root.StartAnimation(-1, false);
    EXPECT_TRUE(root.tracks().FindTrack(3)->running());
    EXPECT_TRUE(root.tracks().FindTrack(4)->running());
    EXPECT_FALSE(grandchild->tracks().FindTrack(3)->running());
    root.StartAnimation(3, true);
    EXPECT_TRUE(grandchild->tracks().FindTrack(3)->running());

    root.SetAnimationSpeed(-1, 2.5f, true);
    root.SetAnimationFlags(3, kAnimClamp, true);
    root.SetAnimationRange(4, 1.0f, 2.0f, false);
    root.SetAnimationTolerance(-1, 0.5f, false);
    root.SetAnimationSpeed(9, 7.0f, true);  // no such track: skipped
    EXPECT_EQ(root.tracks().FindTrack(4)->speed(), 2.5f);
    EXPECT_EQ(grandchild->tracks().FindTrack(3)->speed(), 2.5f);
    EXPECT_EQ(grandchild->tracks().FindTrack(3)->flags(), kAnimClamp);
    EXPECT_EQ(root.tracks().FindTrack(4)->flags(), 0);
    EXPECT_EQ(root.tracks().FindTrack(4)->playRange().last, 2.0f);
    EXPECT_EQ(root.tracks().FindTrack(3)->tolerance(), 0.5f);
    EXPECT_NE(grandchild->tracks().FindTrack(3)->tolerance(), 0.5f);
}

TEST_F(SceneNodeTest, AnimationRangeAndFlagsGatherOverTheSubtree) {
    SceneNode root;
    SceneNode* a = Named("a");
    SceneNode* b = Named("b");
    SceneNode* still = Named("still");
    root.AddChild(a);
    root.AddChild(still);
    a->AddChild(b);
    float first = -1, last = -1;
    EXPECT_FALSE(root.GetAnimationRange(&first, &last));

    a->tracks().AddTrack(0).SetSource(SharedRef<TransformSource>(new RangeSource(TimeRange{2, 5})));
    b->tracks().AddTrack(1).SetSource(SharedRef<TransformSource>(new RangeSource(TimeRange{-1, 3})));
    ASSERT_TRUE(root.GetAnimationRange(&first, &last));
    EXPECT_EQ(first, -1.0f);
    EXPECT_EQ(last, 5.0f);

    b->StartAnimation(-1, false);
    root.UpdateAnimationFlags();
    EXPECT_EQ(b->state() & (kNodeHasTracks | kNodeTrackRunning), kNodeHasTracks | kNodeTrackRunning);
    EXPECT_EQ(a->state() & (kNodeHasTracks | kNodeTrackRunning), kNodeHasTracks | kNodeTrackRunning);
    EXPECT_EQ(root.state() & (kNodeHasTracks | kNodeTrackRunning), kNodeHasTracks | kNodeTrackRunning);
    EXPECT_EQ(still->state() & (kNodeHasTracks | kNodeTrackRunning), 0);
}

TEST_F(SceneNodeTest, StoredTransformsApplyByName) {
    SceneNode root;
    SceneNode* child = Named("child");
    root.AddChild(child);
    SharedRef<NodeTransform> pose(new NodeTransform);
    pose.Get()->SetPosition(Vec3{1, 2, 3});
    pose.Get()->SetScale(2, 2, 2);
    SharedRef<NodeTransform> offset(new NodeTransform);
    offset.Get()->SetPosition(Vec3{0, 9, 0});
    root.AddStoredTransform(String("rest"), pose, offset);
    child->AddStoredTransform(String("rest"), pose, SharedRef<NodeTransform>());
    child->GetObjectTransform(false).SetPosition(Vec3{5, 5, 5});

    for (SceneNode* n : {&root, child}) n->MarkDirty(false);
    root.ApplyStoredTransform(String("rest"), false);
    EXPECT_EQ(root.GetNodeTransform(false).GetPosition().y, 2.0f);
    EXPECT_EQ(root.GetObjectTransform(false).GetPosition().y, 9.0f);
    EXPECT_TRUE(root.state() & kNodeDirty);
    EXPECT_EQ(child->GetNodeTransform(false).GetPosition().x, 0.0f) << "without recursion";

    root.ApplyStoredTransform(String("rest"), true);
    EXPECT_EQ(child->GetNodeTransform(false).GetPosition().z, 3.0f);
    EXPECT_EQ(child->GetObjectTransform(false).GetPosition().x, 0.0f) << "none stored: the defaults";
    pose.Get()->SetPosition(Vec3{7, 7, 7});
    EXPECT_EQ(child->GetNodeTransform(false).GetPosition().z, 3.0f) << "a copy of the values";
    root.ApplyStoredTransform(String("unknown"), true);
    EXPECT_EQ(child->GetNodeTransform(false).GetPosition().z, 3.0f);
}

// The default pass: eye at the origin looking along +z, near 1, far 1000.
TEST_F(SceneNodeTest, FrustumCullingSkipsSubtreesAndCountsThem) {
    SceneNode root;
    SceneNode* behind = Drawable("behind", Vec3{0, 0, -50});
    behind->AddChild(Drawable("behindChild", Vec3{0, 0, 0}));
    behind->AddChild(Named("bare"));
    root.AddChild(Drawable("front", Vec3{0, 0, 50}));
    root.AddChild(behind);
    SceneNode* boxless = Named("boxless");
    root.AddChild(boxless);
    SceneNode* far = Drawable("far", Vec3{0, 0, 5000});
    root.AddChild(far);

    RenderPass pass;
    EXPECT_EQ(DrawTags(root, pass), (Tags_{"front"}));
    EXPECT_EQ(Stat(kStatNodes), 1 + 4);
    EXPECT_EQ(Stat(kStatClipped), (1 + 2) + (1 + 1)) << "each clipped node adds 1 + its attached nodes";

    // "NoCull" (any value), pass flags 2 and 4 turn the test off.
    behind->properties().SetChildString(String("NoCull"), String("anything"));
    EXPECT_EQ(DrawTags(root, pass), (Tags_{"front", "behind"})) << "its child is tested on its own";
    behind->properties().Clear();
    for (int flag : {kPassNoFrustum}) {
        pass.flags = flag;
        EXPECT_EQ(DrawTags(root, pass), (Tags_{"front", "behind", "behindChild", "far"}));
    }
    pass.flags = kPassProxiesOnly;
    g_frameStats.ClearFrameCounters();
    EXPECT_EQ(DrawTags(root, pass), Tags_{}) << "no attachments with flag 4";
    EXPECT_EQ(Stat(kStatClipped), 0);
    pass.flags = kPassRootOnly;
    EXPECT_EQ(DrawTags(root, pass), Tags_{}) << "the root's children are not visited";

    // Statistics off: nothing counted.
    pass.flags = 0;
    g_frameStats.ClearFrameCounters();
    g_frameStats.enabled = false;
    root.Draw(pass);
    g_frameStats.enabled = true;
    EXPECT_EQ(Stat(kStatClipped), 0);
}

TEST_F(SceneNodeTest, ItemsCarryThePassAndTheNode) {
    SceneNode root;
    SceneNode* node = Drawable("n", Vec3{1, 2, 30});
    node->SetDrawOrder(4);
    root.AddChild(node);
    root.GetNodeTransform(true).SetPosition(Vec3{0, 0, 10});
    RenderPass pass;
    pass.time = 2.75f;
    pass.flags = kPassOwnLights;
    MultiMaterial override;
    RenderQueue queue(&pass);
    pass.renderQueue = &queue;
    root.Draw(pass);
    ASSERT_EQ(queue.itemCount(), 1);
    log_.clear();
    queue.Flush();
    ASSERT_EQ(log_.size(), 1u);
    const RenderContext& c = log_[0].context;
    EXPECT_EQ(log_[0].material, &node->GetMaterial());
    EXPECT_EQ(c.passTime, 2.75f) << "the time is kept as a float";
    EXPECT_EQ(c.passFlags, kPassOwnLights);
    EXPECT_FLOAT_EQ(c.worldBox.centre.z, 40.0f);
    EXPECT_FLOAT_EQ(node->worldMatrix().At(3, 2), 40.0f);
    EXPECT_FLOAT_EQ(node->worldMatrix().At(3, 1), 2.0f);
    EXPECT_EQ(c.world.valid, 0) << "not a mesh: the world matrix is left unset";
    EXPECT_EQ(c.inverseWorld.valid, 0);
    EXPECT_EQ(c.eye.z, 0.0f);
    queue.Clear();

    pass.materialOverride = &override;
    pass.flags = kPassDrawOrderOverride;
    pass.drawOrderOverride = 9;
    MultiMaterial glass;
    glass.sub(0).blendEnable = true;
    pass.materialOverride = &glass;
    root.Draw(pass);
    log_.clear();
    queue.Flush();
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_EQ(log_[0].material, &glass);

    // Without a queue the item is drawn at once with its context.
    pass.renderQueue = nullptr;
    pass.materialOverride = nullptr;
    RenderContext own;
    node->GetMaterial().SetRenderContext(&own);
    EXPECT_EQ(DrawTags(root, pass), (Tags_{"n"}));
    EXPECT_FLOAT_EQ(log_[0].context.worldBox.centre.z, 40.0f);
    EXPECT_EQ(node->GetMaterial().renderContext(), &own) << "no pointer to a destroyed item is left";
}

// The queue makes the context of an item of the walk when it draws it: it must be the context
// the same item drawn at once (without a queue) is given, whatever the pass asks for.
TEST_F(SceneNodeTest, AQueuedItemIsDrawnWithTheContextOfAnItemDrawnAtOnce) {
    SceneNode root;
    root.AddChild(Drawable("plain", Vec3{1, 2, 30}));
    SceneNode* mesh = Named("mesh");
    mesh->SetAttachment(new RecordingMesh("mesh", &log_));
    mesh->GetNodeTransform(true).SetPosition(Vec3{-3, 0, 20});
    mesh->GetObjectTransform(true).SetScale(2, 2, 2);
    root.AddChild(mesh);
    root.GetNodeTransform(true).SetPosition(Vec3{0, 0, 10});

    const SharedRef<Light> sun(new DirLight);
    const SharedRef<Light> lamp(new PointLight);
    lamp.Get()->SetPosition(Vec3{1, 2, 40});
    lamp.Get()->SetRange(50);
    const SharedRef<Light> farAway(new PointLight);
    farAway.Get()->SetPosition(Vec3{0, 0, -1000});
    farAway.Get()->SetRange(1);
    AnyEffect effect;

    struct Case {
        const char* what;
        int32_t flags;
        bool lights;
        bool effect;
        size_t lightsGiven;
    };
    const Case cases[] = {
        {"a plain pass", 0, false, false, 0},
        {"time, draw order override and effect override", kPassUseTime | kPassDrawOrderOverride, false, true, 0},
        {"the lights that reach each box", 0, true, false, 2},
        {"the pass's own lights", kPassOwnLights, true, false, 3},
        {"own lights, none", kPassOwnLights, false, false, 0},
    };
    auto sameMatrix = [](const TypedMatrix& a, const TypedMatrix& b) {
        return a.kind == b.kind && a.valid == b.valid && std::memcmp(a.m, b.m, sizeof a.m) == 0;
    };
    auto lightsOf = [](const LightSet& set) {
        std::vector<Light*> lights;
        const LightSet::LightMap::Node* n = set.lights.cursor();
        for (int32_t i = 0; i < set.lights.count(); ++i, n = n->next) lights.push_back(n->key.Get());
        return lights;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RenderPass pass;
        pass.SetProjection(1.0f, 1000.0f, 1.0f, 1.33f);
        pass.SetView(Vec3{0, 5, -10}, Vec3{0, 0, 1}, Vec3{0, 1, 0});
        pass.flags = c.flags;
        pass.time = 1.5f;
        pass.drawOrderOverride = 7;
        pass.lights.ambient = ArgbColor(1.0f, 0.2f, 0.3f, 0.4f);
        if (c.lights) {
            pass.lights.Add(sun);
            pass.lights.Add(lamp);
            pass.lights.Add(farAway);
        }
        if (c.effect) pass.effectOverride = &effect;

        log_.clear();
        root.Draw(pass);
        const std::vector<DrawRecord> atOnce = log_;
        RenderQueue queue(&pass);
        pass.renderQueue = &queue;
        log_.clear();
        root.Draw(pass);
        EXPECT_TRUE(queue.Flush().Succeeded());
        ASSERT_EQ(atOnce.size(), 2u);
        ASSERT_EQ(log_.size(), 2u);
        for (const DrawRecord& want : atOnce) {
            SCOPED_TRACE(want.tag);
            const DrawRecord* got = nullptr;
            for (const DrawRecord& r : log_) {
                if (r.tag == want.tag) got = &r;
            }
            ASSERT_NE(got, nullptr);
            const RenderContext& a = want.context;
            const RenderContext& b = got->context;
            EXPECT_EQ(got->material, want.material);
            EXPECT_EQ(b.effectOverride, a.effectOverride);
            EXPECT_EQ(b.passFlags, a.passFlags);
            EXPECT_EQ(b.passTime, a.passTime);
            EXPECT_EQ(std::memcmp(&b.worldBox, &a.worldBox, sizeof a.worldBox), 0);
            EXPECT_TRUE(sameMatrix(b.world, a.world));
            EXPECT_TRUE(sameMatrix(b.view, a.view));
            EXPECT_TRUE(sameMatrix(b.projection, a.projection));
            EXPECT_TRUE(sameMatrix(b.viewProjection, a.viewProjection));
            EXPECT_TRUE(sameMatrix(b.inverseWorld, a.inverseWorld));
            EXPECT_TRUE(sameMatrix(b.inverseSource, a.inverseSource));
            EXPECT_EQ(std::memcmp(&b.eye, &a.eye, sizeof a.eye), 0);
            EXPECT_EQ(std::memcmp(&b.lights.ambient, &a.lights.ambient, sizeof a.lights.ambient), 0);
            EXPECT_EQ(lightsOf(b.lights), lightsOf(a.lights));
            EXPECT_EQ(lightsOf(a.lights).size(), c.lightsGiven);
        }
        EXPECT_EQ(atOnce[1].context.world.valid, 1) << "a mesh is given its world matrix";
        EXPECT_FLOAT_EQ(atOnce[1].context.world.At(0, 0), 2.0f);
        EXPECT_FLOAT_EQ(atOnce[1].context.world.At(3, 2), 30.0f);
    }
}

// The walk keeps world matrices while what they are made of is unchanged. After each kind of
// change, every node's world matrix must equal that of a tree built in the changed state.
TEST_F(SceneNodeTest, KeptWorldMatricesFollowEveryChange) {
    struct Tree {
        SceneNode root;
        SceneNode* group;
        SceneNode* leaf;
        SceneNode* other;
        Tree() {
            group = Named("group");
            leaf = Named("leaf");
            other = Named("other");
            group->GetNodeTransform(true).SetPosition(Vec3{1, 2, 30});
            leaf->GetNodeTransform(true).SetPosition(Vec3{0, 1, 0});
            other->GetNodeTransform(true).SetPosition(Vec3{-2, 0, 0});
            group->AddChild(leaf);
            group->AddChild(other);
            root.AddChild(group);
        }
    };
    TypedMatrix shifted = IdentityMatrix();
    shifted.At(3, 0) = 5.0f;
    shifted.kind = kMatrixTranslation;
    struct Case {
        const char* what;
        std::function<void(Tree&, RenderPass&)> change;
    };
    const Case cases[] = {
        {"the group moved", [](Tree& t, RenderPass&) { t.group->GetNodeTransform(true).SetPosition(Vec3{4, 0, 20}); }},
        {"the group moved, not marked",
         [](Tree& t, RenderPass&) { t.group->GetNodeTransform(false).SetPosition(Vec3{4, 0, 20}); }},
        {"the leaf's own drawing scaled", [](Tree& t, RenderPass&) { t.leaf->GetObjectTransform(true).SetScale(2, 3, 4); }},
        {"the caller's parent matrix", [&](Tree&, RenderPass& p) { p.parentMatrix = shifted; }},
        {"a billboard no more", [](Tree& t, RenderPass&) { t.leaf->SetFace(String("")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tree walked;
        RenderPass pass;
        pass.SetView(Vec3{0, 5, -10}, Vec3{0.3f, 0, 1}, Vec3{0, 1, 0});
        walked.root.Draw(pass);
        // Turned to the camera after a plain walk, and back.
        if (std::string(c.what) == "a billboard no more") walked.leaf->SetFace(String("XYZ"));
        walked.root.Draw(pass);
        c.change(walked, pass);
        walked.root.Draw(pass);

        Tree fresh;
        RenderPass freshPass;
        freshPass.SetView(Vec3{0, 5, -10}, Vec3{0.3f, 0, 1}, Vec3{0, 1, 0});
        c.change(fresh, freshPass);
        fresh.root.Draw(freshPass);
        const std::pair<SceneNode*, SceneNode*> pairs[] = {
            {walked.group, fresh.group}, {walked.leaf, fresh.leaf}, {walked.other, fresh.other}};
        for (const auto& [a, b] : pairs) {
            EXPECT_EQ(std::memcmp(a->worldMatrix().m, b->worldMatrix().m, sizeof a->worldMatrix().m), 0);
            EXPECT_EQ(a->worldMatrix().kind, b->worldMatrix().kind);
        }
    }
}

TEST_F(SceneNodeTest, BillboardsTurnToTheCamera) {
    const Vec3 direction{1.0f, 1.0f, 1.0f};
    const float n = 1.0f / std::sqrt(3.0f);
    struct Case {
        const char* face;
        Vec3 forward;  // row 2 of the world matrix
        Vec3 up;       // row 1
    };
    const float h = 1.0f / std::sqrt(2.0f);
    const Case cases[] = {
        {"XYZ", {n, n, n}, {0, 1, 0}},
        {"xy", {h, 0, h}, {0, 1, 0}},
        {"", {0, 0, 1}, {0, 1, 0}},
        {"Q", {0, 0, 1}, {0, 1, 0}},
        {"Z", {0, 0, 1}, {0, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.face);
        SceneNode root;
        SceneNode* sprite = Drawable("sprite", Vec3{10, 10, 10});
        sprite->properties().SetChildString(String("Face"), String(c.face));
        EXPECT_TRUE(sprite->ApplyNodeType(nullptr));
        root.AddChild(sprite);
        RenderPass pass;
        pass.SetView(Vec3{0, 0, 0}, direction, Vec3{0, 1, 0});
        pass.flags = kPassNoFrustum;
        root.Draw(pass);
        const TypedMatrix& w = sprite->worldMatrix();
        EXPECT_NEAR(w.At(2, 0), c.forward.x, 1e-5);
        EXPECT_NEAR(w.At(2, 1), c.forward.y, 1e-5);
        EXPECT_NEAR(w.At(2, 2), c.forward.z, 1e-5);
        EXPECT_NEAR(w.At(1, 1), c.up.y, 1e-5);
        EXPECT_NEAR(w.At(3, 0), 10.0f, 1e-5) << "it stays where it is";
        EXPECT_NEAR(w.At(3, 2), 10.0f, 1e-5);
    }
}

// "NodeType" "ParticleEmitter" makes an emitter configured from the node's keys, and the node
// is never culled; without the factory nothing is made.
TEST_F(SceneNodeTest, NodeTypeEmitterMakesAnEmitterFromTheKeys) {
    SceneNode node;
    node.properties().SetChildString(String("NodeType"), String("ParticleEmitter"));
    node.properties().SetChildString(String("MaxParticles"), String("8000"));
    EXPECT_TRUE(node.ApplyNodeType(nullptr));
    auto* emitter = dynamic_cast<ParticleEmitter*>(node.GetAttachment());
    ASSERT_NE(emitter, nullptr);
    EXPECT_EQ(emitter->particleLimit, 8000);
    int noCull = 0;
    EXPECT_TRUE(node.properties().GetInt(String("NoCull"), noCull));
    EXPECT_EQ(noCull, 1);

    SetParticleEmitterFactory(nullptr);
    SceneNode plain;
    plain.properties().SetChildString(String("NodeType"), String("ParticleEmitter"));
    EXPECT_TRUE(plain.ApplyNodeType(nullptr));
    EXPECT_EQ(plain.GetAttachment(), nullptr);
    EXPECT_EQ(plain.properties().Child(String("NoCull")), nullptr);
    SetParticleEmitterFactory(&CreateParticleEmitter);
}

// Clip-space corners, independent of the frustum planes: a box is outside when all eight
// corners lie beyond one of -w <= x, y <= w, 0 <= z <= w.
bool OutsideInClipSpace(const BoundingBox& box, const TypedMatrix& viewProjection) {
    int beyond[6] = {0, 0, 0, 0, 0, 0};
    for (int k = 0; k < 8; ++k) {
        const Vec3 p = box.Corner(k);
        float clip[4];
        for (int col = 0; col < 4; ++col) {
            clip[col] = p.x * viewProjection.At(0, col) + p.y * viewProjection.At(1, col) +
                        p.z * viewProjection.At(2, col) + viewProjection.At(3, col);
        }
        const float w = clip[3];
        beyond[0] += clip[0] < -w;
        beyond[1] += clip[0] > w;
        beyond[2] += clip[1] < -w;
        beyond[3] += clip[1] > w;
        beyond[4] += clip[2] < 0;
        beyond[5] += clip[2] > w;
    }
    for (int count : beyond) {
        if (count == 8) return true;
    }
    return false;
}

TEST_F(SceneNodeTest, ClippedMatchesAnIndependentCountOnRandomCameras) {
    // Groups of boxes; only translations, so the world boxes follow from the positions.
    std::mt19937 random(19);
    std::uniform_real_distribution<float> coordinate(-200.0f, 200.0f);
    std::uniform_real_distribution<float> offset(-15.0f, 15.0f);
    SceneNode root;
    struct Leaf {
        Vec3 world;
    };
    struct Group {
        SceneNode* node;
        std::vector<Leaf> leaves;
    };
    std::vector<Group> groups;
    for (int g = 0; g < 30; ++g) {
        const std::string name = "group" + std::to_string(g);
        SceneNode* group = Named(name.c_str());
        const Vec3 at{coordinate(random), coordinate(random) / 4, coordinate(random)};
        group->GetNodeTransform(true).SetPosition(at);
        root.AddChild(group);
        Group record{group, {}};
        for (int i = 0; i < 8; ++i) {
            const std::string leafName = name + "_" + std::to_string(i);
            const Vec3 local{offset(random), offset(random), offset(random)};
            group->AddChild(Drawable(leafName.c_str(), local, 2.0f));
            record.leaves.push_back(Leaf{Vec3{at.x + local.x, at.y + local.y, at.z + local.z}});
        }
        groups.push_back(record);
    }
    for (int trial = 0; trial < 40; ++trial) {
        RenderPass pass;
        pass.SetProjection(1.0f, 300.0f, 1.0f, 1.33f);
        const Vec3 eye{coordinate(random), 0, coordinate(random)};
        pass.SetView(eye, Vec3{coordinate(random), coordinate(random) / 8, coordinate(random)}, Vec3{0, 1, 0});
        const TypedMatrix vp = pass.GetViewProjectionMatrix();
        int expectedClipped = 0;
        int expectedDrawn = 0;
        for (const Group& g : groups) {
            BoundingBox groupBox = Box(g.leaves[0].world, 2.0f);
            for (const Leaf& leaf : g.leaves) groupBox = BoundingBox::Union(groupBox, Box(leaf.world, 2.0f));
            if (OutsideInClipSpace(groupBox, vp)) {
                expectedClipped += 1 + 8;
                continue;
            }
            for (const Leaf& leaf : g.leaves) {
                if (OutsideInClipSpace(Box(leaf.world, 2.0f), vp)) {
                    expectedClipped += 1 + 1;
                } else {
                    ++expectedDrawn;
                }
            }
        }
        g_frameStats.ClearFrameCounters();
        log_.clear();
        root.Draw(pass);
        EXPECT_EQ(Stat(kStatClipped), expectedClipped) << "trial " << trial;
        EXPECT_EQ(static_cast<int>(log_.size()), expectedDrawn) << "trial " << trial;
        EXPECT_EQ(Stat(kStatNodes), 1 + 240);
    }
}

// Random tree operations with invariants after each: every node's parent holds it under its
// current name, no node is reachable twice, the attached counts agree, every item is freed.
TEST_F(SceneNodeTest, RandomTreeOperationsKeepTheTreeSound) {
    std::mt19937 random(1919);
    const char* names[] = {"a", "B", "c", "~d", "E", "f", "~G", "h"};
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    auto root = std::make_unique<SceneNode>();
    root->SetName(String("root"));
    std::vector<SceneNode*> nodes{root.get()};
    std::vector<std::unique_ptr<SceneNode>> detached;  // roots the test owns

    std::function<void(SceneNode*, std::set<SceneNode*>&, int&)> check = [&](SceneNode* n, std::set<SceneNode*>& seen,
                                                                              int& attached) {
        ASSERT_TRUE(seen.insert(n).second) << "reached twice";
        if (n->GetAttachment() != nullptr) ++attached;
        ASSERT_EQ(n->GetChildren().count(), n->childCount());
        for (int32_t i = 0; i < n->childCount(); ++i) {
            SceneNode* c = n->child(i);
            ASSERT_EQ(c->GetParent(), n);
            ASSERT_EQ(n->FindChild(c->GetName()), c);
            check(c, seen, attached);
        }
    };

    for (int step = 0; step < 3000; ++step) {
        SceneNode* target = nodes[pick(nodes.size())];
        switch (pick(6)) {
            case 0: {  // add
                SceneNode* n = random() % 2 ? Drawable(names[pick(8)], Vec3{0, 0, 5}) : Named(names[pick(8)]);
                if (n->GetName().Text()[0] == '~') n->flags().Set(kNodeOcclusionTested);
                target->AddChild(n);
                nodes.push_back(n);
                break;
            }
            case 1: {  // remove
                if (target->childCount() == 0) break;
                SceneNode* c = target->child(static_cast<int32_t>(pick(static_cast<size_t>(target->childCount()))));
                ASSERT_TRUE(target->RemoveChild(c->GetName()));
                detached.emplace_back(c);
                break;
            }
            case 2:  // rename
                target->SetName(String(names[pick(8)]));
                break;
            case 3: {  // move
                SceneNode* c = nodes[pick(nodes.size())];
                if (c == root.get()) break;
                SceneNode* oldParent = c->GetParent();
                const bool moved = target->AddChild(c);
                if (moved && oldParent == nullptr) {
                    for (auto& d : detached) {
                        if (d.get() == c) d.release();
                    }
                }
                break;
            }
            default: {  // draw
                log_.clear();
                RenderPass pass;
                pass.SetView(Vec3{0, 0, 0}, Vec3{std::cos(step * 0.1f), 0.2f, std::sin(step * 0.1f)},
                             Vec3{0, 1, 0});
                pass.flags = (random() % 2) ? 0 : kPassNoFrustum;
                if (random() % 2) {
                    RenderQueue queue(&pass);
                    pass.renderQueue = &queue;
                    root->Draw(pass);
                    queue.Flush();
                } else {
                    root->Draw(pass);
                }
                break;
            }
        }
        std::set<SceneNode*> seen;
        int attached = 0;
        check(root.get(), seen, attached);
        ASSERT_EQ(root->CountNodes(false, true, false), attached) << "step " << step;
        if (HasFatalFailure()) return;
        // Nodes in the pool must stay alive: a kept-aside or detached node still is.
        if (nodes.size() > 400) nodes.resize(400);
    }
}

}  // namespace
