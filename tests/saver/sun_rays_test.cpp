// The sun-ray fan on the real layer: the vertices of the locked block against the formulas
// (still rays at their base angle and length, the sun point kept at its distance from the eye,
// the order B1, P, T, P, B2, T), and the fan drawn additively: light along each ray from the
// sun point and none between the wedges.

#include "saver/sun_rays.h"

#include "core/time/clock_source.h"
#include "render/geometry.h"
#include "render/hardware_buffer.h"
#include "render/material.h"
#include "tests/render/support/layer_app.h"
#include "tests/support/png_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using rh::test::LayerApp;
namespace layer = rh::d3d9::testing;

uint32_t g_now = 50000;
uint32_t TestClock() { return g_now; }

struct RayVertex {
    float x, y, z;
    DWORD colour;
};

constexpr int kWidth = 200;
constexpr int kHeight = 200;
constexpr float kPi = 3.14159265f;

class SunRaysTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_now = 50000;
        SetClockSource(&TestClock);
        ASSERT_TRUE(app_.Open(kWidth, kHeight));
        material_.SetRenderContext(&context_);
        // The camera at the origin looking along +z, 90 degrees: S is -x, U is +y.
        context_.view = IdentityMatrix();
        TypedMatrix projection;
        const float zn = 1.0f, zf = 1000.0f;
        const float rows[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, zf / (zf - zn), 1, 0, 0, -zn * zf / (zf - zn), 0};
        std::memcpy(projection.m, rows, sizeof rows);
        projection.kind = kMatrixGeneral;
        context_.projection = projection;
        SubMaterial& sub = material_.sub(0);
        sub.zEnable = 0;
        sub.zWrite = 0;
        sub.cullMode = D3DCULL_NONE;
        sub.vertexColor = true;
        sub.blendEnable = true;
        sub.srcBlend = D3DBLEND_ONE;
        sub.destBlend = D3DBLEND_ONE;
    }
    void TearDown() override { SetClockSource(nullptr); }

    static SunRayParams Still(float angle, float length, float halfWidth) {
        SunRayParams ray;
        ray.length = length;
        ray.halfWidth = halfWidth;
        ray.baseAngle = angle;
        ray.angleRate = 0.003f;
        ray.lengthRate = 0.002f;
        ray.colour = ArgbColor(1.0f, 1.0f, 1.0f, 1.0f);
        return ray;
    }
    FlagWord Draw(SunRays& rays) {
        app_.StartFrame();
        EXPECT_TRUE(g_device->BeginScene() == D3D_OK);
        FlagWord ok = rays.Render(&material_);
        g_device->EndScene();
        return ok;
    }
    std::vector<RayVertex> Written(SunRays& rays) {
        std::vector<BYTE> bytes;
        GrowableBuffer* buffer = rays.GetGeometry().Get()->streamBuffer(0);
        EXPECT_TRUE(layer::ReadBufferObject(buffer->GetVertexBuffer(), &bytes));
        std::vector<RayVertex> out(static_cast<size_t>(rays.rays.count()) * 6);
        if (bytes.size() >= out.size() * sizeof(RayVertex)) std::memcpy(out.data(), bytes.data(), out.size() * 16);
        return out;
    }

    LayerApp app_;
    MultiMaterial material_;
    RenderContext context_;
};

void ExpectAt(const RayVertex& v, float x, float y, float z, DWORD colour) {
    EXPECT_NEAR(v.x, x, 1e-4);
    EXPECT_NEAR(v.y, y, 1e-4);
    EXPECT_NEAR(v.z, z, 1e-4);
    EXPECT_EQ(v.colour, colour);
}

TEST_F(SunRaysTest, StillRaysPointAlongTheirBaseAnglesFromTheSunPoint) {
    SunRays rays;
    rays.direction = Vec3{0.0f, -1.0f, 0.0f};
    rays.distance = 150.0f;
    rays.rays.At(0) = Still(0.0f, 40.0f, 2.0f);
    rays.rays.At(1) = Still(kPi / 2, 30.0f, 1.0f);
    context_.eye = Vec3{10.0f, 5.0f, 3.0f};
    for (int frame = 0; frame < 2; ++frame) {
        g_now += 777;  // zero amplitudes: time changes nothing
        EXPECT_NE(Draw(rays).value, 0);
        std::vector<RayVertex> v = Written(rays);
        ASSERT_EQ(v.size(), 12u);
        // P = eye + 150 up. Ray 0 along S = -x, its base across along U; ray 1 along U, its
        // base across along -S = +x.
        const float px = 10.0f, py = 155.0f, pz = 3.0f;
        ExpectAt(v[0], px, py + 2.0f, pz, 0);
        ExpectAt(v[1], px, py, pz, 0xFFFFFFFF);
        ExpectAt(v[2], px - 40.0f, py, pz, 0);
        ExpectAt(v[3], px, py, pz, 0xFFFFFFFF);
        ExpectAt(v[4], px, py - 2.0f, pz, 0);
        ExpectAt(v[5], px - 40.0f, py, pz, 0);
        ExpectAt(v[6], px + 1.0f, py, pz, 0);
        ExpectAt(v[8], px, py + 30.0f, pz, 0);
        ExpectAt(v[10], px - 1.0f, py, pz, 0);
    }
    // The sway follows the timer: a = sin(2 pi phase + t rate) amplitude + base.
    rays.rays.At(0).angleAmplitude = 0.5f;
    rays.rays.At(0).lengthAmplitude = 0.25f;
    const float t = static_cast<float>(rays.timer.Elapsed());
    EXPECT_NE(Draw(rays).value, 0);
    std::vector<RayVertex> v = Written(rays);
    const float a = std::sin(t * 0.003f) * 0.5f;
    const float length = (std::sin(t * 0.002f) * 0.25f + 1.0f) * 40.0f;
    ExpectAt(v[2], 10.0f - length * std::cos(a), 155.0f + length * std::sin(a), 3.0f, 0);
}

TEST_F(SunRaysTest, AdditiveFanLightsTheRaysAndNothingBetween) {
    SunRays rays;
    rays.direction = Vec3{0.0f, 0.0f, -1.0f};
    rays.distance = 100.0f;  // the sun point in the middle of the picture
    for (int i = 0; i < 4; ++i) rays.rays.At(i) = Still(i * kPi / 2, 80.0f, 6.0f);
    EXPECT_NE(Draw(rays).value, 0);
    std::vector<DWORD> frame = app_.ReadFrame();
    std::string folder = rh::testing::PictureFolder("RIMEHOLT_FRAME_DIR");
    if (!folder.empty()) {
        rh::testing::WritePngFile(folder + "/sun_rays.png", kWidth, kHeight, std::vector<uint32_t>(frame.begin(), frame.end()));
    }
    auto level = [&](int x, int y) { return static_cast<int>((frame[static_cast<size_t>(y) * kWidth + x] >> 8) & 0xFF); };
    const int c = kWidth / 2;
    // Along each ray, a third of the way out (80 units at 100 ahead is 80 pixels): lit.
    for (auto [dx, dy] : {std::pair{-1, 0}, std::pair{1, 0}, std::pair{0, -1}, std::pair{0, 1}}) {
        EXPECT_GT(level(c + dx * 25, c + dy * 25), 60) << dx << "," << dy;
    }
    // Between the wedges, on the diagonals: dark.
    for (auto [dx, dy] : {std::pair{-1, -1}, std::pair{1, 1}, std::pair{1, -1}, std::pair{-1, 1}}) {
        EXPECT_EQ(level(c + dx * 20, c + dy * 20), 0) << dx << "," << dy;
    }
    EXPECT_GT(level(c, c), 200);

    // More rays than at the first draw cannot get their block: nothing is drawn.
    rays.rays.At(4) = Still(1.0f, 10.0f, 1.0f);
    EXPECT_EQ(Draw(rays).value, 0);
    // No rays at the first draw: no geometry.
    SunRays empty;
    EXPECT_EQ(Draw(empty).value, 0);
}

}  // namespace
