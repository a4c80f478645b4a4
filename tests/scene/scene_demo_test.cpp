// The scene walk as the saver drives it, on the real layer: a code-built tree of several hundred
// box meshes in groups, two large walls with a few hundred "~" boxes behind them, transparent
// panes with "AlphaOrder" values and a "Face" "XYZ" sprite, drawn through a render queue with
// occlusion culling. Each frame prints "nodes", "clipped", "occluded" and the draw count. Once
// the queries have reported, the hidden boxes are drawn only as proxies and the picture equals
// the picture drawn with occlusion off; when the camera moves past the end of a wall, what comes
// into view is drawn again within two frames.
//
// Runs offscreen, or in a window when SDL_VIDEODRIVER picks one (x11 under Xvfb). With
// RIMEHOLT_FRAME_DIR set, the frames are also written there as PNG files.
#include "core/settings/frame_stats.h"
#include "render/state_cache.h"
#include "scene/render_queue.h"
#include "scene/scene_node.h"
#include "tests/support/png_file.h"
#include "tests/render/support/layer_app.h"
#include "tests/scene/support/box_mesh.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using rh::test::BoxMesh;
using rh::test::LayerApp;
namespace layer = rh::d3d9::testing;

constexpr int kWidth = 480;
constexpr int kHeight = 360;
constexpr DWORD kSky = 0xFF203048;

// With RIMEHOLT_FRAME_DIR naming a folder, the frame as NAME.png there.
void WritePng(const std::vector<DWORD>& pixels, const std::string& name) {
    rh::testing::SavePicture("RIMEHOLT_FRAME_DIR", name, kWidth, kHeight, pixels);
}

// Pixels whose channels differ by more than 2.
int DifferentPixels(const std::vector<DWORD>& a, const std::vector<DWORD>& b) {
    int n = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        for (int shift : {0, 8, 16}) {
            if (std::abs(static_cast<int>((a[i] >> shift) & 0xFF) - static_cast<int>((b[i] >> shift) & 0xFF)) > 2) {
                ++n;
                break;
            }
        }
    }
    return n;
}

class SceneDemo {
public:
    SceneDemo() {
        root.SetName(String("city"));
        // Two walls of equal distance from the starting eye: the queue draws its nearest bucket
        // first, so both stand in front of the depth buffer before anything behind them.
        root.AddChild(Box("wallLeft", 0xFF9A9080, Vec3{-20, 10, 0}, Vec3{40, 30, 1}));
        root.AddChild(Box("wallRight", 0xFF9A9080, Vec3{20, 10, 0}, Vec3{40, 30, 1}));
        // Behind the walls: 15 "~" boxes, each carrying 19 more, so that one proxy stands for
        // 20 boxes.
        for (int g = 0; g < 15; ++g) {
            SceneNode* group = Box("~block" + std::to_string(g), Colour(g * 20), Vec3{-30.0f + (g % 5) * 15, 1, 20.0f + (g / 5) * 25},
                                   Vec3{2, 2, 2});
            ++hiddenBoxes;
            for (int i = 1; i < 20; ++i) {
                Box("box" + std::to_string(i), Colour(g * 20 + i), Vec3{(i % 5) * 2.5f - 5, (i / 5) * 3.0f, (i % 3) * 2.0f},
                    Vec3{2, 2, 2}, group);
                ++hiddenBoxes;
            }
        }
        // Beside the walls, in view: 12 groups of 20 boxes.
        for (int g = 0; g < 12; ++g) {
            const float side = g % 2 == 0 ? -1.0f : 1.0f;
            SceneNode* group = Group("open" + std::to_string(g), Vec3{side * (55.0f + (g / 4) * 8), 0, 10.0f + (g / 2 % 2) * 20});
            for (int i = 0; i < 20; ++i) {
                group->AddChild(Box("box" + std::to_string(i), Colour(500 + g * 20 + i),
                                    Vec3{(i % 4) * 2.0f - 3, (i / 4) * 2.5f + 1, 0}, Vec3{1.5f, 1.5f, 1.5f}));
            }
        }
        // Transparent panes in front of the right-hand boxes, overlapping, with draw orders.
        for (int p = 0; p < 3; ++p) {
            SceneNode* pane = Box("pane" + std::to_string(p), 0x80FF6020 + p * 0x2040, Vec3{55.0f + p * 2, 6, 0.0f - p * 3},
                                  Vec3{8, 8, 0.2f});
            pane->properties().SetIntProperty(String("AlphaOrder"), 2 - p);
            pane->SetDrawOrder(2 - p);
            SubMaterial& sub = pane->GetMaterial().sub(0);
            sub.blendEnable = true;
            sub.vertexAlpha = true;
            sub.zWrite = 0;
        }
        // A sprite above the walls that turns to the camera.
        SceneNode* sprite = Box("sprite", 0xFFFFE040, Vec3{0, 34, 15}, Vec3{6, 6, 0.2f});
        sprite->properties().SetChildString(String("Face"), String("XYZ"));
        sprite->ApplyNodeType(nullptr);
    }

    static uint32_t Colour(int i) {
        return 0xFF000000u | (60 + (i * 37) % 180) << 16 | (60 + (i * 91) % 180) << 8 | (60 + (i * 53) % 180);
    }

    SceneNode* Group(const std::string& name, Vec3 at) {
        auto* group = new SceneNode;
        group->SetName(String(name.c_str()));
        group->GetNodeTransform(true).SetPosition(at);
        root.AddChild(group);
        return group;
    }

    SceneNode* Box(const std::string& name, uint32_t colour, Vec3 at, Vec3 scale, SceneNode* parent = nullptr) {
        auto* node = new SceneNode;
        node->SetName(String(name.c_str()));
        if (name[0] == '~') node->flags().Set(kNodeOcclusionTested);
        auto* mesh = new BoxMesh(colour);
        ok = mesh->Create() && ok;
        node->SetAttachment(mesh);
        node->GetNodeTransform(true).SetPosition(at);
        node->GetObjectTransform(true).SetScale(scale.x, scale.y, scale.z);
        (parent != nullptr ? parent : &root)->AddChild(node);
        return node;
    }

    SceneNode root;
    int hiddenBoxes = 0;
    bool ok = true;
};

struct FrameResult {
    int nodes, clipped, occluded;
    UINT draws;
    std::vector<DWORD> picture;
};

class SceneDemoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(app_.Open(kWidth, kHeight));
        InvalidateStateCache();
        ASSERT_TRUE(app_.OcclusionQueriesEnabled());
        pass_.SetProjection(0.5f, 400.0f, 0.9f, float(kWidth) / kHeight);
    }
    void TearDown() override {
        g_occlusionBoxMesh.ReleaseGeometry();
        g_frameStats.ClearFrameCounters();
    }

    FrameResult Frame(SceneNode& root, int flags, const char* label) {
        app_.PumpMessages();
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kSky, 1.0f, 0);
        g_device->BeginScene();
        StateCache::SetRenderState(D3DRS_ZENABLE, TRUE);
        layer::ResetDrawCallCount(g_device);
        g_frameStats.ClearFrameCounters();
        RenderQueue queue(&pass_);
        pass_.renderQueue = &queue;
        pass_.flags = flags;
        root.Draw(pass_);
        EXPECT_TRUE(queue.Flush().Succeeded());
        queue.Clear();
        pass_.renderQueue = nullptr;
        FrameResult r{g_frameStats.Read(FrameStats::kFrameSlot, String(kStatNodes)),
                      g_frameStats.Read(FrameStats::kFrameSlot, String(kStatClipped)),
                      g_frameStats.Read(FrameStats::kFrameSlot, String(kStatOccluded)),
                      layer::DrawCallCount(g_device), {}};
        g_device->EndScene();
        r.picture = app_.ReadFrame();
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
        std::printf("%-22s nodes %4d  clipped %4d  occluded %4d  draws %4u\n", label, r.nodes, r.clipped, r.occluded,
                    r.draws);
        return r;
    }

    // The same view drawn with occlusion off, without touching the queries.
    std::vector<DWORD> Reference(SceneNode& root, const char* label) {
        return Frame(root, kPassNoOcclusion, label).picture;
    }

    LayerApp app_;
    RenderPass pass_;
};

TEST_F(SceneDemoTest, OcclusionHidesWhatTheWallsCoverAndNothingElse) {
    SceneDemo demo;
    ASSERT_TRUE(demo.ok);
    pass_.SetView(Vec3{0, 12, -90}, Vec3{0, -0.05f, 1}, Vec3{0, 1, 0});

    FrameResult first = Frame(demo.root, 0, "start");
    WritePng(first.picture, "scene_demo_1_start");
    FrameResult culled = Frame(demo.root, 0, "queries reported");
    // Each block adds 1 + its 20 attached nodes.
    EXPECT_EQ(culled.occluded, 15 * 21) << "every box behind the walls";
    // While visible, a block is tested by one proxy of its whole box besides its 20 draws.
    EXPECT_EQ(first.draws - culled.draws, static_cast<UINT>(demo.hiddenBoxes)) << "a block's draws become one proxy";
    FrameResult steady = Frame(demo.root, 0, "steady");
    EXPECT_EQ(steady.occluded, culled.occluded);
    WritePng(steady.picture, "scene_demo_2_occluded");
    const FrameResult off = Frame(demo.root, kPassNoOcclusion, "occlusion off");
    const std::vector<DWORD>& plain = off.picture;
    EXPECT_EQ(off.draws - steady.draws, static_cast<UINT>(demo.hiddenBoxes - 15));
    WritePng(plain, "scene_demo_3_occlusion_off");
    EXPECT_EQ(DifferentPixels(steady.picture, plain), 0);
    EXPECT_EQ(steady.nodes, 1 + demo.root.CountNodes(false, true, false));

    // The camera flies past the right end of the walls and turns to look behind them.
    const Vec3 eyes[] = {{30, 12, -70}, {50, 12, -40}, {62, 12, -15}, {70, 12, 5}};
    const Vec3 looks[] = {{-0.1f, -0.05f, 1}, {-0.3f, -0.05f, 1}, {-0.6f, -0.05f, 1}, {-1, -0.05f, 0.4f}};
    for (int step = 0; step < 4; ++step) {
        pass_.SetView(eyes[step], looks[step], Vec3{0, 1, 0});
        const std::string label = "flight " + std::to_string(step + 1);
        FrameResult a = Frame(demo.root, 0, (label + " frame 1").c_str());
        FrameResult b = Frame(demo.root, 0, (label + " frame 2").c_str());
        FrameResult c = Frame(demo.root, 0, (label + " frame 3").c_str());
        const std::vector<DWORD> reference = Reference(demo.root, (label + " off").c_str());
        EXPECT_EQ(DifferentPixels(b.picture, reference), 0) << label << ": drawn again within two frames";
        EXPECT_EQ(DifferentPixels(c.picture, reference), 0) << label;
        std::printf("%-22s differing pixels after one frame %d, after two %d\n", label.c_str(),
                    DifferentPixels(a.picture, reference), DifferentPixels(b.picture, reference));
        WritePng(b.picture, "scene_demo_4_flight_" + std::to_string(step + 1));
    }
}

}  // namespace
