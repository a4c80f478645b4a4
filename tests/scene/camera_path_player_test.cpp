// The camera path player: the view it builds from its tracks, its time range, and a path
// written as a camera-path file, read back through the data-file reader and flown at the
// saver's rate on the test clock, against the software evaluation of the same keys.
#include "scene/camera_path_player.h"

#include "core/time/clock.h"
#include "core/time/clock_source.h"
#include "tests/scene/support/camera_path_file.h"
#include "tests/scene/support/circle_path.h"
#include "tests/scene/track_oracle.h"
#include "tests/support/scratch_dir.h"
#include "tools/zwfwrite/zwf_writer.h"

#include <d3dx9math.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using circle_path::Turn;

TypedMatrix LookAt(Vec3 eye, Vec3 direction, Vec3 up) {
    const D3DXVECTOR3 e(ToD3DVector(eye)), at(ToD3DVector(Vec3Add(eye, direction))), u(ToD3DVector(up));
    D3DXMATRIX v;
    D3DXMatrixLookAtLH(&v, &e, &at, &u);
    TypedMatrix m;
    CopyFromD3DX(v, m);
    return m;
}

void ExpectVec3Near(Vec3 a, Vec3 b, float tolerance, const char* what) {
    EXPECT_NEAR(a.x, b.x, tolerance) << what;
    EXPECT_NEAR(a.y, b.y, tolerance) << what;
    EXPECT_NEAR(a.z, b.z, tolerance) << what;
}

void ExpectMatricesNear(const TypedMatrix& a, const TypedMatrix& b, float tolerance) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(a.m[i], b.m[i], tolerance) << i;
}

TEST(CameraPathPlayerTest, TracksTurnIntoEyeDirectionAndUp) {
    struct Case {
        const char* what;
        bool positionKey;
        bool rotationKey;
        D3DXQUATERNION rotation;
        Vec3 direction, up;
    };
    const Case cases[] = {
        {"empty tracks: the position kept, looking along +z with +y up", false, false, {}, {0, 0, 1}, {0, 1, 0}},
        {"the identity quaternion", true, true, D3DXQUATERNION(0, 0, 0, 1), {0, 0, 1}, {0, 1, 0}},
        {"a quarter turn about +y looks along +x", true, true, Turn(0, 1, 0, 1.5707964f), {1, 0, 0}, {0, 1, 0}},
        {"a quarter turn about +x looks down -y", false, true, Turn(1, 0, 0, 1.5707964f), {0, -1, 0}, {0, 0, 1}},
    };
    for (const Case& c : cases) {
        CameraPathPlayer player;
        player.SetPosition(Vec3{1, 2, 3});
        if (c.positionKey) player.GetPositionTrack().AddKey(TrackKey::Vector(0, Vec3{4, 5, 6}));
        if (c.rotationKey) player.GetRotationTrack().AddKey(TrackKey::Rotation(0, c.rotation));
        TypedMatrix view;
        EXPECT_TRUE(player.GetMatrix(0.5f, view)) << c.what;
        const Vec3 eye = c.positionKey ? Vec3{4, 5, 6} : Vec3{1, 2, 3};
        ExpectVec3Near(player.GetPosition(), eye, 0, c.what);
        ExpectVec3Near(player.GetDirection(), c.direction, 1e-6f, c.what);
        ExpectVec3Near(player.GetUp(), c.up, 1e-6f, c.what);
        ExpectMatricesNear(view, LookAt(eye, c.direction, c.up), 1e-5f);
    }
}

// The view is base x scaling x look-at; the orientation rows of a plain transform do not enter.
TEST(CameraPathPlayerTest, TheViewIsBaseTimesScaleTimesLookAt) {
    CameraPathPlayer player;
    player.GetPositionTrack().AddKey(TrackKey::Vector(0, Vec3{1, -2, 3}));
    player.GetRotationTrack().AddKey(TrackKey::Rotation(0, Turn(0.6f, 0, 0.8f, 0.7f)));
    TypedMatrix base;
    base.m[1] = 0.5f;
    base.m[12] = 2;
    base.kind = kMatrixGeneral;
    player.SetBaseMatrix(base);
    player.SetScale(2, 1, 0.5f);
    TypedMatrix view;
    ASSERT_TRUE(player.GetMatrix(0, view));

    D3DXMATRIX b, s, chain;
    CopyToD3DX(base, b);
    D3DXMatrixScaling(&s, 2, 1, 0.5f);
    D3DXMATRIX lookAt;
    CopyToD3DX(LookAt(player.GetPosition(), player.GetDirection(), player.GetUp()), lookAt);
    D3DXMatrixMultiply(&chain, &b, &s);
    D3DXMatrixMultiply(&chain, &chain, &lookAt);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(view.m[i], chain.m[i / 4][i % 4], 1e-5f) << i;

    TypedMatrix again;
    player.ComposeTransform(again);
    EXPECT_EQ(std::memcmp(again.m, view.m, sizeof view.m), 0) << "the cached view";
}

TEST(CameraPathPlayerTest, TheTimeRangeJoinsBothTracks) {
    CameraPathPlayer player;
    TimeRange range{-7, -7};
    EXPECT_FALSE(player.GetTimeRange(range));
    EXPECT_EQ(range.first, -7.0f) << "untouched";
    player.GetRotationTrack().AddKey(TrackKey::Rotation(2, D3DXQUATERNION(0, 0, 0, 1)));
    player.GetRotationTrack().AddKey(TrackKey::Rotation(9, D3DXQUATERNION(0, 0, 0, 1)));
    ASSERT_TRUE(player.GetTimeRange(range));
    EXPECT_EQ(range.first, 2.0f) << "only rotation keys: their range";
    EXPECT_EQ(range.last, 9.0f);
    player.GetPositionTrack().AddKey(TrackKey::Vector(4, Vec3{}));
    player.GetPositionTrack().AddKey(TrackKey::Vector(12, Vec3{}));
    ASSERT_TRUE(player.GetTimeRange(range));
    EXPECT_EQ(range.first, 2.0f) << "both: the union";
    EXPECT_EQ(range.last, 12.0f);
    player.GetRotationTrack().Clear();
    ASSERT_TRUE(player.GetTimeRange(range));
    EXPECT_EQ(range.first, 4.0f) << "only position keys";
}

// ---- A path from a file ---------------------------------------------------------------------

using circle_path::EyeAt;
using circle_path::PathFile;
constexpr int kPathKeys = circle_path::kKeys;

PathFile WritePath(const rh::testing::ScratchDir& dir) { return circle_path::Write(dir.Path("c01.cam")); }

TEST(CameraPathFileTest, KeysComeBackInTimeOrderInTheirTracks) {
    rh::testing::ScratchDir dir("rh_cam");
    const PathFile file = WritePath(dir);
    CameraPathPlayer player;
    player.GetPositionTrack().AddKey(TrackKey::Vector(100, Vec3{}));  // cleared by the load
    ASSERT_TRUE(LoadCameraPathFile(file.path, player));
    const auto& positions = player.GetPositionTrack().keys();
    const auto& rotations = player.GetRotationTrack().keys();
    ASSERT_EQ(positions.count(), kPathKeys);
    ASSERT_EQ(rotations.count(), kPathKeys);
    const auto* p = positions.first();
    const auto* r = rotations.first();
    for (int k = 0; k < kPathKeys; ++k, p = p->next, r = r->next) {
        EXPECT_EQ(std::memcmp(&p->value.key, &file.positions[k], sizeof(TrackKey)), 0) << k;
        EXPECT_EQ(std::memcmp(&r->value.key, &file.rotations[k], sizeof(TrackKey)), 0) << k;
    }
    TimeRange range;
    ASSERT_TRUE(player.GetTimeRange(range));
    EXPECT_EQ(range.first, 0.0f);
    EXPECT_EQ(range.last, float(kPathKeys - 1));

    EXPECT_FALSE(LoadCameraPathFile(dir.Path("missing.cam"), player));
    EXPECT_EQ(positions.count(), 0) << "a missing file leaves both tracks empty";
    EXPECT_FALSE(player.GetTimeRange(range));
}

// Only the exact bytes "pos" make a position key: "Pos", "position" and "rot" are rotations.
TEST(CameraPathFileTest, OnlyTheTypeNamePosMakesAPositionKey) {
    rh::testing::ScratchDir dir("rh_cam");
    rh::zwf::Node root = rh::zwf::Node::Compound("root");
    const char* types[] = {"pos", "Pos", "position", "rot", "anything"};
    for (int i = 0; i < 5; ++i) {
        root.AddChild(rh::zwf::Node::Leaf("k" + std::to_string(i), types[i],
                                          rh::zwf::PackTrackKey(float(i), 0, 0, 0, 1)));
    }
    std::string error;
    ASSERT_TRUE(rh::zwf::WriteFile(dir.Path("types.cam"), root, {}, {}, &error)) << error;
    CameraPathPlayer player;
    ASSERT_TRUE(LoadCameraPathFile(dir.Path("types.cam"), player));
    EXPECT_EQ(player.GetPositionTrack().keys().count(), 1);
    EXPECT_EQ(player.GetRotationTrack().keys().count(), 4);
}

uint32_t g_now = 0;
uint32_t TestClock() { return g_now; }

// The path flown at the saver's rate, 0.01 path units per millisecond, in frames of 16 ms on
// the test clock. At every key time the eye is the key's and the marker sits at the centre of
// the screen; between keys the marker is where the software evaluation of the same keys (GLM's
// curves, look-at and perspective) puts it.
TEST(CameraPathFileTest, TheFlownPathMatchesTheSoftwareEvaluation) {
    rh::testing::ScratchDir dir("rh_cam");
    const PathFile file = WritePath(dir);
    CameraPathPlayer player;
    ASSERT_TRUE(LoadCameraPathFile(file.path, player));
    const track_oracle::Screen screen{640, 480, 0.7853982f, 1, 1000};
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, screen.fieldOfView, screen.width / screen.height, screen.nearPlane,
                               screen.farPlane);

    auto projectOrigin = [&](const TypedMatrix& view) {
        D3DXMATRIX v, vp;
        CopyToD3DX(view, v);
        D3DXMatrixMultiply(&vp, &v, &projection);
        const D3DXVECTOR3 origin(0, 0, 0);
        D3DXVECTOR3 ndc;
        D3DXVec3TransformCoord(&ndc, &origin, &vp);
        return glm::vec2((ndc.x + 1) / 2 * screen.width, (1 - ndc.y) / 2 * screen.height);
    };

    g_now = 5000;
    SetClockSource(&TestClock);
    IntervalTimer clock;
    float pathTime = 0;
    float worst = 0;
    int frames = 0;
    while (pathTime <= float(kPathKeys - 1)) {
        TypedMatrix view;
        ASSERT_TRUE(player.GetMatrix(pathTime, view));
        const glm::vec2 at = projectOrigin(view);
        const glm::vec2 expected = track_oracle::ProjectOnPath(file.positions, file.rotations, pathTime,
                                                               glm::vec3(0), glm::vec3(0), screen);
        worst = std::max(worst, glm::length(at - expected));
        ASSERT_LT(glm::length(at - expected), 0.01f) << "path time " << pathTime;
        g_now += 16;
        pathTime += float(clock.Elapsed()) * 0.01f;
        clock.Reset();
        ++frames;
    }
    SetClockSource(nullptr);
    EXPECT_GT(frames, 240);
    RecordProperty("worst_pixel_distance", std::to_string(worst));

    for (int k = 0; k < kPathKeys; ++k) {
        TypedMatrix view;
        ASSERT_TRUE(player.GetMatrix(float(k), view));
        ExpectVec3Near(player.GetPosition(), EyeAt(k), 0, "the key's eye exactly");
        const glm::vec2 at = projectOrigin(view);
        EXPECT_NEAR(at.x, screen.width / 2, 1e-3f) << "key " << k;
        EXPECT_NEAR(at.y, screen.height / 2, 1e-3f) << "key " << k;
    }
}

}  // namespace
