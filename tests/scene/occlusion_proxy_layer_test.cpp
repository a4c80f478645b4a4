// Occlusion culling on the real layer (SDL2 offscreen, Direct3D over OpenGL): the proxy cube's
// winding and its query from outside and inside, the colour mask around a proxy, and the scene
// walk hiding a "~" node behind a wall once its query has reported, bringing it back when the
// camera moves, keeping it while the result is not ready, and drawing it when the eye stands in
// it.
#include "core/settings/frame_stats.h"
#include "render/state_cache.h"
#include "scene/render_queue.h"
#include "scene/scene_node.h"
#include "tests/render/support/layer_app.h"
#include "tests/scene/support/box_mesh.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using rh::test::BoxMesh;
using rh::test::LayerApp;
namespace layer = rh::d3d9::testing;

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr DWORD kBackground = 0xFF102030;

// A node drawing a coloured box of `scale` at `at`; a name beginning with "~" makes it
// occlusion-tested, as the loader does.
SceneNode* MakeBox(const char* name, uint32_t colour, Vec3 at, Vec3 scale) {
    auto* node = new SceneNode;
    node->SetName(String(name));
    if (name[0] == '~') node->flags().Set(kNodeOcclusionTested);
    auto* mesh = new BoxMesh(colour);
    EXPECT_TRUE(mesh->Create());
    node->SetAttachment(mesh);
    node->GetNodeTransform(true).SetPosition(at);
    node->GetObjectTransform(true).SetScale(scale.x, scale.y, scale.z);
    return node;
}

class OcclusionLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(app_.Open(kWidth, kHeight));
        InvalidateStateCache();
        ASSERT_TRUE(app_.OcclusionQueriesEnabled());
        g_frameStats.ClearFrameCounters();
    }
    void TearDown() override {
        layer::HoldQueryResults(false);
        // The proxy's buffer belongs to this device.
        g_occlusionBoxMesh.ReleaseGeometry();
        g_frameStats.ClearFrameCounters();
    }

    static void BeginFrame() {
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBackground, 1.0f, 0);
        ASSERT_EQ(g_device->BeginScene(), D3D_OK);
        StateCache::SetRenderState(D3DRS_ZENABLE, TRUE);
    }

    // One frame of the tree through a queue; the draw count and the picture.
    UINT Frame(SceneNode& root, RenderPass& pass, std::vector<DWORD>* picture = nullptr) {
        BeginFrame();
        layer::ResetDrawCallCount(g_device);
        g_frameStats.ClearFrameCounters();
        RenderQueue queue(&pass);
        pass.renderQueue = &queue;
        root.Draw(pass);
        EXPECT_TRUE(queue.Flush().Succeeded());
        queue.Clear();
        pass.renderQueue = nullptr;
        const UINT draws = layer::DrawCallCount(g_device);
        g_device->EndScene();
        if (picture != nullptr) *picture = app_.ReadFrame();
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
        return draws;
    }

    static int Stat(const char* name) { return g_frameStats.Read(FrameStats::kFrameSlot, String(name)); }

    static void LookFrom(RenderPass& pass, Vec3 eye, Vec3 direction) {
        pass.SetProjection(0.5f, 200.0f, 1.0f, float(kWidth) / kHeight);
        pass.SetView(eye, direction, Vec3{0, 1, 0});
    }

    LayerApp app_;
};

// The proxy cube seen from outside is drawn (outside faces are front faces under the default
// counter-clockwise culling); from inside every face is culled and its query counts nothing.
TEST_F(OcclusionLayerTest, TheProxyCubeIsSeenFromOutsideOnly) {
    ASSERT_TRUE(g_occlusionBoxMesh.EnsureGeometry());
    EXPECT_EQ(g_occlusionBoxMesh.material().sub(0).zWrite, 0);
    struct Case {
        Vec3 eye;
        bool seen;
    };
    const Case cases[] = {
        {{0, 0, -5}, true}, {{0, 0, 5}, true},   {{-5, 0, 0}, true}, {{5, 0, 0}, true},
        {{0, 5, 0.1f}, true}, {{0, -5, 0.1f}, true}, {{0, 0, 0}, false}, {{0.3f, -0.2f, 0.1f}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.eye.x << " " << c.eye.y << " " << c.eye.z);
        CameraView camera;
        camera.SetProjection(0.05f, 100.0f, 1.2f, float(kWidth) / kHeight);
        camera.SetView(c.eye, Vec3{-c.eye.x, -c.eye.y, c.eye.z == 0 ? 1.0f : -c.eye.z}, Vec3{0, 1, 0});
        RenderContext context;
        context.SetCamera(camera);
        context.world = IdentityMatrix();
        g_occlusionBoxMesh.material().SetRenderContext(&context);
        BeginFrame();
        StateCache::SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        OcclusionQuery query;
        ASSERT_TRUE(query.Begin());
        EXPECT_TRUE(g_occlusionBoxMesh.mesh().Render(&g_occlusionBoxMesh.material()).Succeeded());
        ASSERT_TRUE(query.End());
        g_device->EndScene();
        const std::vector<DWORD> frame = app_.ReadFrame();
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
        uint32_t pixels = 0;
        for (int tries = 0; tries < 1000 && !query.GetResult(&pixels); ++tries) {
        }
        int white = 0;
        for (DWORD p : frame) white += (p & 0xFFFFFF) == 0xFFFFFF;
        if (c.seen) {
            EXPECT_GT(pixels, 0u);
            EXPECT_EQ(static_cast<uint32_t>(white), pixels) << "white, every pixel counted";
        } else {
            EXPECT_EQ(pixels, 0u);
            EXPECT_EQ(white, 0);
        }
    }
    g_occlusionBoxMesh.material().SetRenderContext(nullptr);
}

// A proxy item draws inside its node's query without colour, and leaves the mask as it was.
TEST_F(OcclusionLayerTest, AProxyWritesNoColourAndRestoresTheMask) {
    SceneNode node;
    RenderPass pass;
    LookFrom(pass, Vec3{0, 0, -6}, Vec3{0, 0, 1});
    for (DWORD mask : {0xFu, 0x7u, 0x1u}) {
        SCOPED_TRACE(mask);
        BeginFrame();
        StateCache::SetRenderState(D3DRS_COLORWRITEENABLE, mask);
        RenderQueue queue(&pass);
        auto* proxy = new RenderItem;
        proxy->occlusionTested = true;
        proxy->node = &node;
        proxy->context.worldBox.size = Vec3{2, 2, 2};
        proxy->context.SetCamera(pass);
        queue.AddToRenderQueue(proxy);
        layer::ResetDrawCallCount(g_device);
        EXPECT_TRUE(queue.Flush().Succeeded());
        EXPECT_EQ(layer::DrawCallCount(g_device), 1u);
        g_device->EndScene();
        DWORD onDevice = 0;
        ASSERT_EQ(g_device->GetRenderState(D3DRS_COLORWRITEENABLE, &onDevice), D3D_OK);
        EXPECT_EQ(onDevice, mask);
        for (DWORD p : app_.ReadFrame()) ASSERT_EQ(p, kBackground) << "no colour written";
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
        uint32_t pixels = 0;
        for (int tries = 0; tries < 1000 && !node.GetOcclusionQuery().GetResult(&pixels); ++tries) {
        }
        EXPECT_GT(pixels, 1000u) << "the proxy's pixels are counted";
    }
    StateCache::SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
}

// A wall, and behind it a "~" box with two children, one above it and one further back. The eye
// starts in front of the wall.
class HiddenBoxScene {
public:
    HiddenBoxScene() {
        root.SetName(String("root"));
        root.AddChild(MakeBox("wall", 0xFF808080, Vec3{0, 0, 0}, Vec3{20, 20, 1}));
        hidden = MakeBox("~hidden", 0xFFC04040, Vec3{0, 0, 8}, Vec3{2, 2, 2});
        hidden->AddChild(MakeBox("a", 0xFF40C040, Vec3{0, 2, 0}, Vec3{1, 1, 1}));
        hidden->AddChild(MakeBox("b", 0xFF4040C0, Vec3{0, 0, 3}, Vec3{1, 1, 1}));
        root.AddChild(hidden);
    }
    SceneNode root;
    SceneNode* hidden;
};

using OcclusionSceneTest = OcclusionLayerTest;

TEST_F(OcclusionSceneTest, AHiddenNodeBecomesAProxyAndComesBackWhenSeen) {
    HiddenBoxScene scene;
    RenderPass pass;
    LookFrom(pass, Vec3{0, 0, -10}, Vec3{0, 0, 1});

    // Frame 1: no result yet, everything drawn (the wall, the box, its two children) and the
    // proxy of the box's whole subtree inside its query.
    EXPECT_EQ(Frame(scene.root, pass), 5u);
    EXPECT_EQ(Stat(kStatOccluded), 0);
    // Frame 2: its query counted nothing: only the proxy, the children skipped.
    std::vector<DWORD> culled;
    EXPECT_EQ(Frame(scene.root, pass, &culled), 2u) << "the wall and one proxy";
    EXPECT_EQ(Stat(kStatOccluded), 1 + 3);
    EXPECT_EQ(Stat(kStatNodes), 1 + 4);
    EXPECT_EQ(Frame(scene.root, pass), 2u) << "the proxy's own query keeps it hidden";

    // The same picture with occlusion off.
    pass.flags = kPassNoOcclusion;
    std::vector<DWORD> plain;
    EXPECT_EQ(Frame(scene.root, pass, &plain), 4u);
    EXPECT_EQ(plain, culled);
    pass.flags = 0;
    EXPECT_EQ(Frame(scene.root, pass), 2u) << "the proxy's last result still stands";

    // From behind, the box is in view: one frame of latency, then drawn.
    LookFrom(pass, Vec3{0, 0, 20}, Vec3{0, 0, -1});
    EXPECT_EQ(Frame(scene.root, pass), 2u) << "the result from the old view";
    std::vector<DWORD> back;
    EXPECT_EQ(Frame(scene.root, pass, &back), 5u) << "the proxy saw it";
    pass.flags = kPassNoOcclusion;
    std::vector<DWORD> backPlain;
    Frame(scene.root, pass, &backPlain);
    EXPECT_EQ(back, backPlain);
    pass.flags = 0;
}

TEST_F(OcclusionSceneTest, ResultsNotReadyKeepTheNodeAndTheEyeInsideSeesIt) {
    HiddenBoxScene scene;
    RenderPass pass;
    LookFrom(pass, Vec3{0, 0, -10}, Vec3{0, 0, 1});
    layer::HoldQueryResults(true);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Frame(scene.root, pass), 5u) << "no result: visible";
    layer::HoldQueryResults(false);
    Frame(scene.root, pass);
    ASSERT_EQ(Frame(scene.root, pass), 2u);

    // The eye inside the hidden box, looking away from the wall: from inside every face is
    // culled, so its query keeps counting nothing, but its contents are drawn: the box and the
    // child in view (the other is beside the eye, out of the frustum), besides the proxy.
    LookFrom(pass, Vec3{0, 0, 8}, Vec3{0, 0, 1});
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Frame(scene.root, pass), 3u);
        EXPECT_EQ(Stat(kStatOccluded), 1 + 3) << "counted before the near rule";
    }
    // Beside the box, within the near distance of its face.
    LookFrom(pass, Vec3{1.3f, 0, 8}, Vec3{0, 0, 1});
    for (int i = 0; i < 2; ++i) EXPECT_EQ(Frame(scene.root, pass), 3u);
}

// The "~" box itself is covered by a nearer box, its child above it is in view: the query of
// its whole box keeps the child drawn (a query around the box's own draw would count nothing and
// hide the child every other frame).
TEST_F(OcclusionSceneTest, AVisibleChildKeepsItsCoveredParentInView) {
    SceneNode root;
    root.AddChild(MakeBox("cover", 0xFF808080, Vec3{0, 0, 0}, Vec3{3, 3, 1}));
    SceneNode* tested = MakeBox("~covered", 0xFFC04040, Vec3{0, 0, 6}, Vec3{1, 1, 1});
    tested->AddChild(MakeBox("top", 0xFF40C040, Vec3{0, 4, 0}, Vec3{1, 1, 1}));
    root.AddChild(tested);
    RenderPass pass;
    LookFrom(pass, Vec3{0, 0, -10}, Vec3{0, 0, 1});
    pass.flags = kPassNoOcclusion;
    std::vector<DWORD> plain;
    Frame(root, pass, &plain);
    pass.flags = 0;
    for (int i = 0; i < 4; ++i) {
        std::vector<DWORD> picture;
        EXPECT_EQ(Frame(root, pass, &picture), 4u) << "frame " << i;
        EXPECT_EQ(Stat(kStatOccluded), 0);
        EXPECT_EQ(picture, plain) << "frame " << i;
    }
}

TEST_F(OcclusionSceneTest, PassFlagsDecideWhatIsTested) {
    HiddenBoxScene scene;
    RenderPass pass;
    LookFrom(pass, Vec3{0, 0, -10}, Vec3{0, 0, 1});
    // No occlusion tests with 0x40: the "~" node never runs its query.
    pass.flags = kPassNoOcclusion;
    Frame(scene.root, pass);
    EXPECT_EQ(scene.hidden->GetOcclusionQuery().state(), OcclusionQuery::State::Idle);
    // Without a queue nothing is tested, not even with 0x20.
    SceneNode* wall = scene.root.FindChild(String("wall"));
    pass.flags = kPassTestRoot;
    BeginFrame();
    wall->Draw(pass);
    g_device->EndScene();
    g_device->Present(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(wall->GetOcclusionQuery().state(), OcclusionQuery::State::Idle);
    // With a queue, 0x20 tests the root whatever its name.
    Frame(*wall, pass);
    EXPECT_EQ(wall->GetOcclusionQuery().state(), OcclusionQuery::State::Ended);
}

}  // namespace
