// The camera path player flying over a drawn scene on the real layer: coloured boxes drawn as
// meshes around a red marker box, seen through a player filled from a camera-path file written
// by the data-file writer and read back through the engine's reader, advanced at the saver's
// rate of 0.01 path units per millisecond on the test clock. At every key time the marker
// covers the screen centre; in every frame the centre of the marker's pixels lies within
// 2 pixels of where the software evaluation of the same keys (GLM's curves, look-at and
// perspective) projects the marker's centre.
//
// With RH_SCENE_TEST_IMAGES naming a folder, a few frames are written there as PNG.
#include "scene/camera_path_player.h"

#include "core/time/clock.h"
#include "core/time/clock_source.h"
#include "render/camera_view.h"
#include "render/material.h"
#include "tests/render/support/layer_app.h"
#include "tests/scene/support/box_scene.h"
#include "tests/scene/support/camera_path_file.h"
#include "tests/scene/support/circle_path.h"
#include "tests/scene/track_oracle.h"
#include "tests/support/png_file.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr float kFieldOfView = 0.7853982f;
constexpr float kNear = 1.0f, kFar = 1000.0f;
using box_scene::Box;
using box_scene::kMarkerRed;

// The village in miniature: a dark ground, eight blocks on a ring of radius 15 low enough that
// the camera's line of sight (8 above the marker at radius 30) passes over them, and the
// marker, a red cube of side 1 at the origin.
std::vector<std::unique_ptr<Box>> BuildScene() {
    std::vector<std::unique_ptr<Box>> boxes;
    auto add = [&](Vec3 centre, Vec3 half, DWORD colour, bool shade) {
        boxes.push_back(box_scene::MakeBox(centre, half, colour, shade));
    };
    add(Vec3{0, -0.6f, 0}, Vec3{40, 0.1f, 40}, 0xFF283038u, false);
    const DWORD colours[8] = {0xFF4080E0u, 0xFF40C060u, 0xFFE0C040u, 0xFF9060D0u,
                              0xFF40C0C0u, 0xFFC0C0C0u, 0xFF6070A0u, 0xFF80A040u};
    for (int i = 0; i < 8; ++i) {
        const float a = 2 * 3.14159265f * (float(i) + 0.5f) / 8;
        const float h = 0.6f + 0.15f * float(i % 3);
        add(Vec3{15 * std::cos(a), -0.5f + h, 15 * std::sin(a)}, Vec3{1.5f, h, 1.5f}, colours[i], true);
    }
    add(Vec3{0, 0, 0}, Vec3{0.5f, 0.5f, 0.5f}, kMarkerRed, false);
    return boxes;
}

uint32_t g_now = 0;
uint32_t TestClock() { return g_now; }

TEST(CameraFlightApp, TheMarkerIsWhereTheSoftwareEvaluationPutsIt) {
    rh::testing::ScratchDir dir("rh_flight");
    const circle_path::PathFile file = circle_path::Write(dir.Path("c01.cam"));
    CameraPathPlayer player;
    ASSERT_TRUE(LoadCameraPathFile(file.path, player));

    rh::test::LayerApp app;
    ASSERT_TRUE(app.Open(kWidth, kHeight));
    InvalidateStateCache();
    std::vector<std::unique_ptr<Box>> boxes = BuildScene();

    CameraView camera;
    camera.SetProjection(kNear, kFar, kFieldOfView, float(kWidth) / float(kHeight));
    RenderContext context;
    MultiMaterial material;
    material.sub(0).vertexColor = true;
    material.SetRenderContext(&context);

    const track_oracle::Screen screen{float(kWidth), float(kHeight), kFieldOfView, kNear, kFar};
    const std::string pictures = rh::testing::PictureFolder("RH_SCENE_TEST_IMAGES");

    g_now = 5000;
    SetClockSource(&TestClock);
    IntervalTimer clock;
    float pathTime = 0;
    double worst = 0;
    int frames = 0;
    int nextKey = 0;
    while (nextKey < circle_path::kKeys && !::testing::Test::HasFatalFailure()) {
        // Each key time is flown through exactly once as well, for the centre check; the flight
        // ends with the last key.
        const bool atKey = pathTime >= float(nextKey);
        const float time = atKey ? float(nextKey) : pathTime;

        TypedMatrix view;
        ASSERT_TRUE(player.GetMatrix(time, view));
        context.view = view;
        context.projection = camera.GetProjectionMatrix();
        context.viewProjection = MultiplyMatrices(view, context.projection);
        context.eye = player.GetPosition();

        app.PumpMessages();
        ASSERT_TRUE(app.CheckDevice());
        g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF101828u, 1.0f, 0);
        ASSERT_EQ(g_device->BeginScene(), D3D_OK);
        for (auto& box : boxes) {
            context.world = IdentityMatrix();
            ASSERT_TRUE(box->mesh.Render(&material).Succeeded());
        }
        ASSERT_EQ(g_device->EndScene(), D3D_OK);
        const std::vector<DWORD> frame = app.ReadFrame();
        g_device->Present(nullptr, nullptr, nullptr, nullptr);

        const box_scene::Blob marker = box_scene::FindMarker(frame, kWidth, kHeight);
        ASSERT_GT(marker.count, 100) << "the marker is on screen at path time " << time;
        const glm::vec2 expected =
            track_oracle::ProjectOnPath(file.positions, file.rotations, time, glm::vec3(0), glm::vec3(0), screen);
        const double distance = std::hypot(marker.x - expected.x, marker.y - expected.y);
        worst = std::max(worst, distance);
        EXPECT_LE(distance, 2.0) << "path time " << time << ": marker at (" << marker.x << ", " << marker.y
                                 << "), expected (" << expected.x << ", " << expected.y << ")";
        if (atKey) {
            EXPECT_LE(std::hypot(marker.x - kWidth / 2.0, marker.y - kHeight / 2.0), 2.0) << "key " << nextKey;
            const DWORD centre = frame[size_t(kHeight / 2) * kWidth + kWidth / 2];
            EXPECT_EQ(centre & 0xFFFFFFu, kMarkerRed & 0xFFFFFFu) << "the marker covers the centre at key " << nextKey;
            if (!pictures.empty() && nextKey % 10 == 0) {
                EXPECT_TRUE(rh::testing::WritePngFile(pictures + "/flight-key" + std::to_string(nextKey) + ".png",
                                                      kWidth, kHeight, frame));
            }
            ++nextKey;
            continue;  // the same path time again, now as a frame between keys
        }
        g_now += 16;
        pathTime += float(clock.Elapsed()) * 0.01f;
        clock.Reset();
        ++frames;
    }
    SetClockSource(nullptr);
    EXPECT_EQ(nextKey, circle_path::kKeys);
    EXPECT_GT(frames, 240);
    RecordProperty("worst_pixel_distance", std::to_string(worst));
}

}  // namespace
