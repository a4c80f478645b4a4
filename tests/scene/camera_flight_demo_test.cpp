// A drawn camera flight on the real layer: a code-built scene of coloured box meshes with a red
// marker box at its centre, seen through a CameraPathPlayer flying a 40-key path written with the
// data-file writer and read back through the data-file reader, advanced at the saver's rate of
// 0.01 path units per millisecond on the test clock. At every key time the marker covers the
// screen centre; between keys the centre of the marker's pixels lies within 2 pixels of where the
// software evaluation of the same keys projects it. A spinning box, animated by a track on the
// same clock, turns with it.
//
// Runs offscreen, or in a window when SDL_VIDEODRIVER picks one (x11 under Xvfb). With
// RIMEHOLT_FRAME_DIR set, a few frames are written there as PNG files.
#include "core/time/clock.h"
#include "core/time/clock_source.h"
#include "render/state_cache.h"
#include "scene/camera_path_player.h"
#include "scene/render_queue.h"
#include "scene/scene_node.h"
#include "tests/render/support/layer_app.h"
#include "tests/scene/support/box_mesh.h"
#include "tests/scene/support/camera_path_file.h"
#include "tests/scene/track_oracle.h"
#include "tests/support/scratch_dir.h"
#include "tools/zwfwrite/zwf_writer.h"

#include <d3dx9math.h>

#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using rh::test::BoxMesh;
using rh::test::LayerApp;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kPathKeys = 40;
constexpr float kRadius = 30;
constexpr float kEyeHeight = 8;
constexpr DWORD kMarker = 0xFFFF0000;

uint32_t g_now = 0;
uint32_t TestClock() { return g_now; }

void WritePng(const std::vector<DWORD>& pixels, const std::string& name) {
    const char* dir = std::getenv("RIMEHOLT_FRAME_DIR");
    if (dir == nullptr) return;
    FILE* file = std::fopen((std::string(dir) + "/" + name + ".png").c_str(), "wb");
    if (file == nullptr) return;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(file);
        return;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_byte> row(kWidth * 3);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const DWORD p = pixels[static_cast<size_t>(y) * kWidth + x];
            row[x * 3] = static_cast<png_byte>(p >> 16);
            row[x * 3 + 1] = static_cast<png_byte>(p >> 8);
            row[x * 3 + 2] = static_cast<png_byte>(p);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

Vec3 EyeAt(int k) {
    const float a = 2 * 3.14159265f * float(k) / kPathKeys;
    return Vec3{kRadius * std::cos(a), kEyeHeight, kRadius * std::sin(a)};
}

D3DXQUATERNION Turn(float x, float y, float z, float angle) {
    const float s = std::sin(angle / 2);
    return D3DXQUATERNION(x * s, y * s, z * s, std::cos(angle / 2));
}

// Pitch about x (positive looks down), then yaw about y: (0, 0, 1) turns towards the origin.
D3DXQUATERNION LookingAtOrigin(Vec3 eye) {
    const float yaw = std::atan2(-eye.x, -eye.z);
    const float pitch = std::atan2(eye.y, std::sqrt(eye.x * eye.x + eye.z * eye.z));
    const D3DXQUATERNION p = Turn(1, 0, 0, pitch), y = Turn(0, 1, 0, yaw);
    D3DXQUATERNION q;
    D3DXQuaternionMultiply(&q, &p, &y);
    return q;
}

// The centre of the bounding rectangle of the marker's pixels (pure red, shaded per face); false
// when none is seen.
bool MarkerCentre(const std::vector<DWORD>& frame, float* x, float* y) {
    int left = kWidth, right = -1, top = kHeight, bottom = -1;
    for (int j = 0; j < kHeight; ++j) {
        for (int i = 0; i < kWidth; ++i) {
            const DWORD p = frame[static_cast<size_t>(j) * kWidth + i];
            if ((p & 0xFFFF) != 0 || ((p >> 16) & 0xFF) < 60) continue;
            left = std::min(left, i);
            right = std::max(right, i);
            top = std::min(top, j);
            bottom = std::max(bottom, j);
        }
    }
    if (right < 0) return false;
    *x = (left + right + 1) / 2.0f;
    *y = (top + bottom + 1) / 2.0f;
    return true;
}

SceneNode* AddBox(SceneNode& parent, const std::string& name, uint32_t colour, Vec3 at, float size) {
    auto* node = new SceneNode;
    node->SetName(String(name.c_str()));
    auto* mesh = new BoxMesh(colour);
    EXPECT_TRUE(mesh->Create());
    node->SetAttachment(mesh);
    node->GetNodeTransform(true).SetPosition(at);
    node->GetObjectTransform(true).SetScale(size, size, size);
    parent.AddChild(node);
    return node;
}

// Turns about y at one turn per 4000 ms of its track's time.
class Spin : public TransformSource {
public:
    bool GetMatrix(float time, TypedMatrix& out) override {
        D3DXMATRIX m;
        D3DXMatrixRotationY(&m, time * 2 * 3.14159265f / 4.0f);
        CopyFromD3DX(m, out);
        out.kind = kMatrixGeneral;
        out.valid = 1;
        return true;
    }
};

TEST(CameraFlightDemo, TheMarkerFollowsTheFlownPath) {
    // The path, written and read back.
    rh::testing::ScratchDir dir("rh_flight");
    std::vector<TrackKey> positions, rotations;
    rh::zwf::Node root = rh::zwf::Node::Compound("root");
    for (int k = 0; k < kPathKeys; ++k) {
        const Vec3 eye = EyeAt(k);
        const D3DXQUATERNION q = LookingAtOrigin(eye);
        positions.push_back(TrackKey::Vector(float(k), eye));
        rotations.push_back(TrackKey::Rotation(float(k), q));
        root.AddChild(rh::zwf::Node::Leaf("pos" + std::to_string(k), "pos",
                                          rh::zwf::PackTrackKey(float(k), eye.x, eye.y, eye.z, 0)));
        root.AddChild(rh::zwf::Node::Leaf("rot" + std::to_string(k), "rot",
                                          rh::zwf::PackTrackKey(float(k), q.x, q.y, q.z, q.w)));
    }
    const std::string path = dir.Path("flight.cam");
    std::string error;
    ASSERT_TRUE(rh::zwf::WriteFile(path, root, {}, rh::zwf::WriteOptions(), &error)) << error;
    CameraPathPlayer player;
    ASSERT_TRUE(LoadCameraPathFile(path, player));

    LayerApp app;
    ASSERT_TRUE(app.Open(kWidth, kHeight));
    InvalidateStateCache();

    // The scene: the marker at the centre, rings of boxes below the lines of sight to it, and a
    // spinning box off to the side.
    SceneNode scene;
    AddBox(scene, "marker", kMarker, Vec3{0, 0, 0}, 1.0f);
    for (int i = 0; i < 48; ++i) {
        const float a = 2 * 3.14159265f * float(i) / 48;
        const float r = 8.0f + float(i % 3) * 3;
        const uint32_t colour = 0xFF000000u | (40 + (i * 37) % 150) << 16 | (60 + (i * 91) % 180) << 8 |
                                (60 + (i * 53) % 180);
        AddBox(scene, "ring" + std::to_string(i), colour, Vec3{r * std::cos(a), -3.0f, r * std::sin(a)}, 1.5f);
    }
    SceneNode* spinner = AddBox(scene, "spinner", 0xFF30C0F0, Vec3{0, -1, 14}, 3.0f);
    spinner->tracks().AddTrack(0).SetSource(SharedRef<TransformSource>(new Spin));
    spinner->StartAnimation(0, false);
    scene.UpdateAnimationFlags();

    const track_oracle::Screen screen{float(kWidth), float(kHeight), 0.7853982f, 1, 1000};
    RenderPass pass;
    pass.SetProjection(screen.nearPlane, screen.farPlane, screen.fieldOfView, screen.width / screen.height);

    g_now = 5000;
    SetClockSource(&TestClock);
    IntervalTimer clock;
    float pathTime = 0;
    float worst = 0;
    int frames = 0;
    int saved = 0;
    auto drawAt = [&](float time, std::vector<DWORD>* picture) {
        TypedMatrix view;
        EXPECT_TRUE(player.GetMatrix(time, view));
        pass.SetView(player.GetPosition(), player.GetDirection(), player.GetUp());
        app.PumpMessages();
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF182028, 1.0f, 0);
        g_device->BeginScene();
        StateCache::SetRenderState(D3DRS_ZENABLE, TRUE);
        RenderQueue queue(&pass);
        pass.renderQueue = &queue;
        scene.Draw(pass);
        EXPECT_TRUE(queue.Flush().Succeeded());
        queue.Clear();
        pass.renderQueue = nullptr;
        g_device->EndScene();
        *picture = app.ReadFrame();
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
    };
    while (pathTime <= float(kPathKeys - 1)) {
        std::vector<DWORD> frame;
        drawAt(pathTime, &frame);
        const glm::vec2 expected =
            track_oracle::ProjectOnPath(positions, rotations, pathTime, glm::vec3(0), glm::vec3(0), screen);
        float x = 0, y = 0;
        ASSERT_TRUE(MarkerCentre(frame, &x, &y)) << "path time " << pathTime;
        const float distance = std::hypot(x - expected.x, y - expected.y);
        worst = std::max(worst, distance);
        EXPECT_LE(distance, 2.0f) << "path time " << pathTime;
        if (frames % 60 == 0 && saved < 5) WritePng(frame, "camera_flight_" + std::to_string(++saved));
        g_now += 16;
        pathTime += float(clock.Elapsed()) * 0.01f;
        clock.Reset();
        ++frames;
    }
    std::printf("flight: %d frames, marker at most %.2f pixels from the software evaluation\n", frames, worst);
    for (int k = 0; k < kPathKeys; k += 3) {
        std::vector<DWORD> frame;
        drawAt(float(k), &frame);
        EXPECT_EQ(frame[static_cast<size_t>(kHeight / 2) * kWidth + kWidth / 2] & 0xFFFF, 0u) << "key " << k;
        EXPECT_GE((frame[static_cast<size_t>(kHeight / 2) * kWidth + kWidth / 2] >> 16) & 0xFF, 60u) << "key " << k;
    }
    SetClockSource(nullptr);
    EXPECT_GT(frames, 240);
    g_occlusionBoxMesh.ReleaseGeometry();
}

}  // namespace
