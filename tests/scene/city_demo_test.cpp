// The saver's real content on the real layer: the city and the sky box read from the media
// archive (resource 227) through the scene loader with load flags 4 and the texture paths the
// saver adds, the sky drawn at once with the eye at the origin, the city through the walk and
// the render queue, from viewpoints along a camera path. Frames as PNG files when
// RH_SCENE_TEST_IMAGES names a folder.
#include "scene/scene.h"

#include "core/data/data_node.h"
#include "core/data/data_reader.h"
#include "core/files/archive/archive_file_source.h"
#include "core/object/property_node.h"
#include "render/app_framework.h"
#include "render/state_cache.h"
#include "render/texture_registry.h"
#include "scene/camera_path_player.h"
#include "scene/render_queue.h"
#include "scene/skinned_mesh_node.h"

#include "render/geometry.h"
#include "render/hardware_buffer.h"
#include "render/mesh_data.h"
#include "render/parallax_material.h"
#include "scene/property_lookup.h"
#include "scene/skin_info.h"

#include "tests/render/support/layer_app.h"
#include "tests/scene/support/camera_path_file.h"
#include "tests/support/png_file.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 400;
constexpr DWORD kClear = 0xFFFF00FFu;  // a colour nothing in the media has
constexpr int32_t kMediaArchive = 227;

// One device, one mounted archive and one registry setup for the suite: the texture registry
// keeps its paths (into the archive) and its textures (on the device) for the whole process.
class CityDemo : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        app_ = new rh::test::LayerApp;
        opened_ = app_->Open(kWidth, kHeight);
        media_ = new ArchiveFileSource;
        mounted_ = media_->Mount(FileRef::Resource(kMediaArchive));
        g_textureRegistry.Add(FileRef::Member(media_, "Media/Txt"));
        g_textureRegistry.Add(FileRef::Member(media_, "Media/LightMap"));
    }

    void SetUp() override {
        ASSERT_TRUE(opened_);
        ASSERT_TRUE(mounted_);
        InvalidateStateCache();
    }

    bool Read(Scene& scene, const char* member) {
        SceneLoadOptions options;
        options.flags = kSceneOtherExtensions;
        return scene.ReadSceneFile(FileRef::Member(media_, member), &options);
    }

    // Kept to the process's end, as the registry refers to both.
    static rh::test::LayerApp* app_;
    static ArchiveFileSource* media_;
    static bool opened_;
    static bool mounted_;
};

rh::test::LayerApp* CityDemo::app_ = nullptr;
ArchiveFileSource* CityDemo::media_ = nullptr;
bool CityDemo::opened_ = false;
bool CityDemo::mounted_ = false;

int CountNodes(SceneNode& node, const char* part) {
    int n = std::string(node.GetName().Text()).find(part) != std::string::npos ? 1 : 0;
    for (int32_t i = 0; i < node.childCount(); ++i) n += CountNodes(*node.child(i), part);
    return n;
}

TEST_F(CityDemo, TheCityAndTheSkyLoadFromTheArchiveAndDraw) {
    Scene city;
    Scene sky;
    ASSERT_TRUE(Read(city, "Media/city.zwf"));
    ASSERT_TRUE(Read(sky, "Media/skybox/skybox.zwf"));
    // What the saver looks for at the top level.
    SceneNode& root = city.GetRoot();
    int lamps = 0;
    for (int32_t i = 0; i < root.childCount(); ++i) {
        if (std::string(root.child(i)->GetName().Text()).find("Lamp") != std::string::npos) {
            ++lamps;
            EXPECT_NE(root.child(i)->GetAttachment(), nullptr);
        }
    }
    EXPECT_EQ(lamps, 16);
    ASSERT_NE(root.FindChild(String("MoonPlane")), nullptr);
    EXPECT_EQ(root.FindChild(String("MoonPlane"))->GetDrawOrder(), 1);
    ASSERT_NE(root.FindChild(String("SnowGenerator")), nullptr);
    EXPECT_GT(CountNodes(root, "House"), 100);
    EXPECT_EQ(city.skinnedMeshes().size(), 1u);
    EXPECT_EQ(city.lights().lights.count(), 17);
    // Every mesh has its light map and colour texture loaded.
    SceneNode* walls = root.FindByName(String("House01Walls"));
    ASSERT_NE(walls, nullptr);
    ASSERT_NE(walls->GetAttachment(), nullptr);
    EXPECT_NE(walls->GetMaterial().sub(0).stages[0].map.texture, nullptr) << "plaster";
    EXPECT_NE(walls->GetMaterial().sub(0).stages[1].map.texture, nullptr) << "light map";

    CameraPathPlayer player;
    ASSERT_TRUE(LoadCameraPathFile(std::string(RH_MEDIA_DIR) + "/Media/c12.cam", player));
    RenderPass pass;
    pass.SetProjection(2.0f, 6000.0f, 0.9f, float(kWidth) / kHeight);
    RenderPass skyPass;
    skyPass.SetProjection(2.0f, 6000.0f, 0.9f, float(kWidth) / kHeight);
    const std::string pictures = rh::testing::PictureFolder("RH_SCENE_TEST_IMAGES");

    // Three viewpoints of a flight, then two close ones: the cobbled square beside the church
    // from the lane, and a garden's bushes from above its fence.
    const float times[3] = {0.0f, 120.0f, 260.0f};
    const Vec3 closeEyes[2] = {{15.0f, 17.0f, -110.0f}, {-450.0f, 32.0f, -418.0f}};
    const Vec3 closeTargets[2] = {{80.0f, 0.0f, -170.0f}, {-450.0f, 0.0f, -450.0f}};
    for (int v = 0; v < 5; ++v) {
        Vec3 eye, up, forward;
        if (v < 3) {
            TypedMatrix view;
            ASSERT_TRUE(player.GetMatrix(times[v], view));
            eye = player.GetPosition();
            up = Vec3{view.m[1], view.m[5], view.m[9]};
            forward = Vec3{view.m[2], view.m[6], view.m[10]};
        } else {
            eye = closeEyes[v - 3];
            forward = Vec3Normalize(Vec3{closeTargets[v - 3].x - eye.x, closeTargets[v - 3].y - eye.y,
                                         closeTargets[v - 3].z - eye.z});
            const Vec3 side = Vec3Normalize(Vec3Cross(Vec3{0, 1, 0}, forward));
            up = Vec3Cross(forward, side);
        }
        pass.SetView(eye, forward, up);
        skyPass.SetView(Vec3{0, 0, 0}, forward, up);

        app_->PumpMessages();
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kClear, 1.0f, 0);
        ASSERT_EQ(g_device->BeginScene(), D3D_OK);
        StateCache::SetRenderState(D3DRS_ZENABLE, TRUE);
        // The sky at once, with the eye at the origin; then the city through the queue.
        skyPass.renderQueue = nullptr;
        skyPass.flags = kPassNoOcclusion;
        sky.GetRoot().Draw(skyPass);
        RenderQueue queue(&pass);
        pass.renderQueue = &queue;
        pass.flags = kPassNoOcclusion | kPassUseTime;
        pass.time = v < 3 ? times[v] : 0.0f;
        pass.lights = city.lights();
        city.GetRoot().Draw(pass);
        EXPECT_TRUE(queue.Flush().Succeeded());
        queue.Clear();
        pass.renderQueue = nullptr;
        ASSERT_EQ(g_device->EndScene(), D3D_OK);
        const std::vector<DWORD> frame = app_->ReadFrame();
        g_device->Present(nullptr, nullptr, nullptr, nullptr);

        int cleared = 0, topSky = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const DWORD c = frame[size_t(y) * kWidth + x] & 0xFFFFFFu;
                if (c == (kClear & 0xFFFFFFu)) ++cleared;
                if (y < kHeight / 6 && ((c & 0xFF) > ((c >> 16) & 0xFF))) ++topSky;  // bluish
            }
        }
        EXPECT_LT(cleared, kWidth * kHeight / 50) << "viewpoint " << v << ": the sky and the city cover the frame";
        if (v < 3) {
            EXPECT_GT(topSky, kWidth * kHeight / 6 / 2) << "viewpoint " << v << ": the sky fills the top";
        }
        if (!pictures.empty()) {
            std::vector<uint32_t> argb(frame.begin(), frame.end());
            EXPECT_TRUE(rh::testing::WritePngFile(pictures + "/city-view" + std::to_string(v) + ".png", kWidth,
                                                  kHeight, argb));
        }
    }
}

// A property tree as text, in list order.
std::string Dump(const PropertyNode& props) {
    std::string out;
    const PropertyNode::Node* e = props.first();
    for (int32_t i = 0; i < props.count(); ++i, e = e->next) {
        out += e->key.Text();
        String text;
        if (e->value->count() > 0) {
            out += "{" + Dump(*e->value) + "}";
        } else if (props.GetString(e->key, text)) {
            out += "=" + std::string(text.Text()) + ";";
        } else {
            // Values of other kinds come from the loader, not the file: an emitter's "NoCull",
            // a shape's points. Left out.
            out.resize(out.size() - e->key.length());
        }
    }
    return out;
}

// What the city file holds for the loader and the saver: every mesh's vertex layout is the
// fixed-function one its data gives or the parallax material's, every material name is in the
// library, the bumped square has its normal map made from its height map, the foliage is cut
// out by an alpha test and seen from both sides, the "~" things are tested for occlusion, and
// every node's properties are those the property lookup's climb finds in the file.
TEST_F(CityDemo, TheCityHoldsWhatItsDrawingNeeds) {
    Scene city;
    ASSERT_TRUE(Read(city, "Media/city.zwf"));
    const VertexFormat parallax = ParallaxMaterial().VertexElements();
    // The cobbled square and the stone walls of the church (nave and tower) and of the well draw
    // with height maps.
    const std::set<std::string> bumpedParts = {"Square", "ChurchWalls", "ChurchTowerWalls", "WellStone"};
    int bumped = 0;
    const Scene::MeshDataMap& meshes = city.meshData();
    const Scene::MeshDataMap::Node* m = meshes.first();
    for (int32_t i = 0; i < meshes.count(); ++i, m = m->next) {
        const VertexFormat& format = m->value->vertices.format();
        const bool plain = format.Equals(m->value->RenderFormat());
        const bool bump = format.Equals(parallax);
        EXPECT_TRUE(plain || bump) << m->key.Text();
        if (bump) {
            ++bumped;
            EXPECT_EQ(bumpedParts.count(m->key.Text()), 1u) << m->key.Text();
            EXPECT_EQ(format.stride(0), 72);
        }
    }
    EXPECT_EQ(bumped, int(bumpedParts.size()));

    int tilde = 0, foliage = 0, squares = 0;
    std::function<void(SceneNode&)> walk = [&](SceneNode& node) {
        const std::string name = node.GetName().Text();
        if (name[0] == '~') {
            ++tilde;
            EXPECT_TRUE(node.flags().Test(kNodeOcclusionTested)) << name;
        }
        MultiMaterial& material = node.GetMaterial();
        if (name.rfind("Bush", 0) == 0 && node.GetAttachment() != nullptr) {  // not the group
            ++foliage;
            EXPECT_EQ(material.sub(0).cullMode, int32_t(D3DCULL_NONE)) << name;
            EXPECT_EQ(material.sub(0).alphaRef, 128) << name;
        }
        if (bumpedParts.count(name) != 0) {
            ++squares;
            EXPECT_NE(material.sub(0).maps[kBumpMap].texture, nullptr) << name << ": normal map from the height map";
            EXPECT_NEAR(material.sub(0).maps[kBumpMap].amount, 0.3f, 1e-6f) << name;
            EXPECT_NE(material.sub(0).maps[kDiffuseMap].texture, nullptr) << name;
        }
        for (int32_t c = 0; c < node.childCount(); ++c) walk(*node.child(c));
    };
    walk(city.GetRoot());
    EXPECT_GE(tilde, 3);
    EXPECT_GE(foliage, 10);
    EXPECT_EQ(squares, int(bumpedParts.size()));

    // The properties, against the climb on the file's own data tree.
    Stream* stream = FileRef::Member(media_, "Media/city.zwf").OpenFile(1);
    ASSERT_NE(stream, nullptr);
    {
        BinaryDataReader reader;
        DataNode* top = reader.OpenStream(stream);
        ASSERT_NE(top, nullptr);
        ASSERT_TRUE(top->Load(0, 0));
        int compared = 0, named = 0;
        std::function<void(DataNode*, SceneNode*)> compare = [&](DataNode* list, SceneNode* parent) {
            const DataNodeMap::Node* e = list->Children().first();
            for (int32_t i = 0; i < list->Children().count(); ++i, e = e->next) {
                SceneNode* node = parent->FindChild(e->value->GetName());
                if (node == nullptr) continue;  // bones moved under the bones root
                if (DataNode* material = e->value->FindChild(String("MaterialName"))) {
                    EXPECT_TRUE(city.materials().Contains(material->DataAsString(), nullptr)) << e->key.Text();
                    ++named;
                }
                PropertyNode climbed;
                LoadNodeProperties(e->value, climbed, true);
                EXPECT_EQ(Dump(node->properties()), Dump(climbed)) << e->key.Text();
                ++compared;
                if (DataNode* children = e->value->FindChild(String("Children"))) compare(children, node);
            }
        };
        compare(top->FindChild(String("Children")), &city.GetRoot());
        EXPECT_GT(compared, 400);
        EXPECT_GT(named, 400);
        reader.CloseDataFile();
    }
    stream->Close();
    delete stream;
}

// The inn sign follows its bones: posed by the pass time its render context carries, every
// skinned position read back from the vertex buffer is the weighted sum of the rest position
// through each record's bone matrix; the swing changes the pose between times.
TEST_F(CityDemo, TheInnSignFollowsItsBonesAtTheContextsTime) {
    Scene city;
    ASSERT_TRUE(Read(city, "Media/city.zwf"));
    ASSERT_EQ(city.skinnedMeshes().size(), 1u);
    SkinnedMeshNode* sign = city.skinnedMeshes()[0];
    SceneNode& bones = city.GetBonesRoot();
    ASSERT_NE(bones.FindByName(String("SignBone02")), nullptr);
    bones.BindAnimation(0, String(""), true);
    bones.StartAnimation(-1, true);

    const MeshData& rest = *sign->meshData();
    const SkinInfo& skin = *sign->skin();
    const int32_t stride = rest.vertices.format().stride(0);
    RenderContext context;
    context.passFlags = kPassUseTime;
    MultiMaterial material;
    material.SetRenderContext(&context);
    std::vector<std::vector<float>> poses;
    for (float time : {0.0f, 10.0f, 30.0f}) {
        context.passTime = time;
        g_device->BeginScene();
        ASSERT_TRUE(sign->Render(&material).Succeeded()) << time;
        g_device->EndScene();
        Geometry* geometry = sign->GetGeometry().Get();
        ASSERT_NE(geometry, nullptr);
        HardwareBuffer* buffer = geometry->streamBuffer(0);
        std::vector<BYTE> bytes;
        ASSERT_TRUE(rh::d3d9::testing::ReadBufferObject(buffer->GetVertexBuffer(), &bytes));
        const size_t offset = size_t(buffer->FirstBlock()->offset());
        const int32_t drawnStride = buffer->GetStride();
        std::vector<float> pose;
        for (int32_t v = 0; v < rest.vertices.count(); ++v) {
            float p[3], drawn[3];
            std::memcpy(p, rest.vertices.stream(0) + size_t(v) * stride, 12);
            ASSERT_GE(bytes.size(), offset + size_t(v + 1) * drawnStride);
            std::memcpy(drawn, bytes.data() + offset + size_t(v) * drawnStride, 12);
            double expected[3] = {0, 0, 0};
            for (int32_t r = 0; r < skin.weightCount[v]; ++r) {
                const SkinWeight& w = skin.weights[skin.firstWeight[v] + r];
                const float* m = sign->boneMatrices().items()[w.bone]->m;
                for (int c = 0; c < 3; ++c) {
                    expected[c] += w.weight * (double(p[0]) * m[c] + double(p[1]) * m[4 + c] + double(p[2]) * m[8 + c] + m[12 + c]);
                }
            }
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(drawn[c], expected[c], 1e-3) << "time " << time << " vertex " << v << " axis " << c;
                pose.push_back(drawn[c]);
            }
        }
        poses.push_back(pose);
    }
    // At time 0 the sign hangs at rest; at 10 and 30 it swings to either side.
    double moved10 = 0, moved30 = 0;
    for (size_t i = 0; i < poses[0].size(); ++i) {
        moved10 = std::max(moved10, std::fabs(double(poses[1][i]) - poses[0][i]));
        moved30 = std::max(moved30, std::fabs(double(poses[2][i]) - poses[0][i]));
    }
    EXPECT_GT(moved10, 0.3);
    EXPECT_GT(moved30, 0.3);
    for (int32_t v = 0; v < rest.vertices.count(); ++v) {
        float p[3];
        std::memcpy(p, rest.vertices.stream(0) + size_t(v) * stride, 12);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(poses[0][3 * v + c], p[c], 1e-3) << "rest at time 0";
    }
}

}  // namespace
