// The device's light table: any index, the default light, the limit of enabled lights, and
// the shader bindings that leave the fixed-function pipeline in charge.

#include "tests/platform/d3d9_draw_support.h"

#include <cstring>

namespace d3d9_test {
namespace {

using LightTest = DrawTest;

D3DLIGHT9 PointLight(float x, float y, float z) {
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_POINT;
    light.Diffuse = D3DCOLORVALUE{0.5f, 0.25f, 1.0f, 1.0f};
    light.Position = D3DVECTOR{x, y, z};
    light.Range = 100.0f;
    light.Attenuation0 = 1.0f;
    return light;
}

bool SameLight(const D3DLIGHT9& a, const D3DLIGHT9& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST_F(LightTest, LightsAtAnyIndexReadBackAsSet) {
    // The engine's slot pool uses indices up to 100; the table grows to any index.
    for (DWORD index : {0u, 7u, 100u, 5000u}) {
        D3DLIGHT9 set = PointLight(static_cast<float>(index), 2.0f, 3.0f);
        ASSERT_EQ(device_->SetLight(index, &set), D3D_OK) << index;
        D3DLIGHT9 got{};
        ASSERT_EQ(device_->GetLight(index, &got), D3D_OK) << index;
        EXPECT_TRUE(SameLight(set, got)) << index;
        BOOL on = TRUE;
        ASSERT_EQ(device_->GetLightEnable(index, &on), D3D_OK);
        EXPECT_EQ(on, FALSE) << "a light set but never enabled is off";
    }
    D3DLIGHT9 got{};
    EXPECT_EQ(device_->GetLight(1, &got), D3DERR_INVALIDCALL) << "never set";
    BOOL on = FALSE;
    EXPECT_EQ(device_->GetLightEnable(1, &on), D3DERR_INVALIDCALL);
}

TEST_F(LightTest, RefusesWhatNoLightCanBe) {
    D3DLIGHT9 light = PointLight(0, 0, 0);
    EXPECT_EQ(device_->SetLight(0, nullptr), D3DERR_INVALIDCALL);
    light.Type = static_cast<D3DLIGHTTYPE>(4);
    EXPECT_EQ(device_->SetLight(0, &light), D3DERR_INVALIDCALL);
    light.Type = static_cast<D3DLIGHTTYPE>(0);
    EXPECT_EQ(device_->SetLight(0, &light), D3DERR_INVALIDCALL);
    light = PointLight(0, 0, 0);
    light.Range = -1.0f;
    EXPECT_EQ(device_->SetLight(0, &light), D3DERR_INVALIDCALL);
    D3DLIGHT9 got{};
    EXPECT_EQ(device_->GetLight(0, &got), D3DERR_INVALIDCALL) << "a refused light is not stored";
    EXPECT_EQ(device_->GetLight(0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->GetLightEnable(0, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(LightTest, EnablingAnIndexNeverSetMakesTheDefaultLight) {
    ASSERT_EQ(device_->LightEnable(42, TRUE), D3D_OK);
    D3DLIGHT9 got{};
    ASSERT_EQ(device_->GetLight(42, &got), D3D_OK);
    D3DLIGHT9 expected{};
    expected.Type = D3DLIGHT_DIRECTIONAL;
    expected.Diffuse = D3DCOLORVALUE{1.0f, 1.0f, 1.0f, 0.0f};
    expected.Direction = D3DVECTOR{0.0f, 0.0f, 1.0f};
    EXPECT_TRUE(SameLight(got, expected));
    BOOL on = FALSE;
    ASSERT_EQ(device_->GetLightEnable(42, &on), D3D_OK);
    EXPECT_EQ(on, TRUE);
    // Switching off an index never set also makes it.
    ASSERT_EQ(device_->LightEnable(43, FALSE), D3D_OK);
    EXPECT_EQ(device_->GetLight(43, &got), D3D_OK);
    EXPECT_TRUE(SameLight(got, expected));
}

TEST_F(LightTest, AtMostMaxActiveLightsAreEnabled) {
    D3DCAPS9 caps{};
    ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);
    ASSERT_EQ(caps.MaxActiveLights, 8u);
    for (DWORD i = 0; i < 8; ++i) ASSERT_EQ(device_->LightEnable(i * 10, TRUE), D3D_OK) << i;
    // Enabling an enabled light again is no new light.
    EXPECT_EQ(device_->LightEnable(30, TRUE), D3D_OK);
    EXPECT_EQ(device_->LightEnable(100, TRUE), D3DERR_INVALIDCALL);
    BOOL on = TRUE;
    ASSERT_EQ(device_->GetLightEnable(100, &on), D3D_OK) << "the refused light was still made";
    EXPECT_EQ(on, FALSE) << "and left off";
    // One off makes room for one.
    ASSERT_EQ(device_->LightEnable(30, FALSE), D3D_OK);
    EXPECT_EQ(device_->LightEnable(100, TRUE), D3D_OK);
    EXPECT_EQ(device_->LightEnable(101, TRUE), D3DERR_INVALIDCALL);
}

TEST_F(LightTest, ResetEmptiesTheTable) {
    D3DLIGHT9 light = PointLight(1, 2, 3);
    ASSERT_EQ(device_->SetLight(3, &light), D3D_OK);
    ASSERT_EQ(device_->LightEnable(3, TRUE), D3D_OK);
    D3DPRESENT_PARAMETERS pp = WindowedParameters();
    ASSERT_EQ(device_->Reset(&pp), D3D_OK);
    D3DLIGHT9 got{};
    EXPECT_EQ(device_->GetLight(3, &got), D3DERR_INVALIDCALL);
}

TEST_F(LightTest, NullShadersSelectTheFixedFunctionPipeline) {
    EXPECT_EQ(device_->SetVertexShader(nullptr), D3D_OK);
    EXPECT_EQ(device_->SetPixelShader(nullptr), D3D_OK);
    IDirect3DVertexShader9* vs = reinterpret_cast<IDirect3DVertexShader9*>(1);
    IDirect3DPixelShader9* ps = reinterpret_cast<IDirect3DPixelShader9*>(1);
    ASSERT_EQ(device_->GetVertexShader(&vs), D3D_OK);
    ASSERT_EQ(device_->GetPixelShader(&ps), D3D_OK);
    EXPECT_EQ(vs, nullptr);
    EXPECT_EQ(ps, nullptr);
    EXPECT_EQ(device_->GetVertexShader(nullptr), D3DERR_INVALIDCALL);
    // The fixed function still draws.
    ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0), D3D_OK);
    ASSERT_EQ(DrawScreenQuad(0, 0, kWidth, kHeight, 0.5f, 0xFF20C040), D3D_OK);
    EXPECT_EQ(Pixel(kWidth / 2, kHeight / 2), 0x20C040u);
}

TEST_F(LightTest, CapsOfferTheFixedFunctionPipeline) {
    D3DCAPS9 caps{};
    ASSERT_EQ(device_->GetDeviceCaps(&caps), D3D_OK);
    EXPECT_EQ(caps.MaxTextureBlendStages, 8u);
    for (DWORD op = D3DTOP_DISABLE; op <= D3DTOP_LERP; ++op) {
        bool offered = (caps.TextureOpCaps & (1u << (op - 1))) != 0;
        bool left = op == D3DTOP_PREMODULATE || op == D3DTOP_BUMPENVMAP || op == D3DTOP_BUMPENVMAPLUMINANCE;
        EXPECT_EQ(offered, !left) << "operation " << op;
    }
    EXPECT_EQ(caps.TextureOpCaps >> D3DTOP_LERP, 0u);
    const DWORD fog = D3DPRASTERCAPS_FOGVERTEX | D3DPRASTERCAPS_FOGTABLE | D3DPRASTERCAPS_FOGRANGE;
    EXPECT_EQ(caps.RasterCaps & fog, fog);
    const DWORD vertex = D3DVTXPCAPS_TEXGEN | D3DVTXPCAPS_TEXGEN_SPHEREMAP | D3DVTXPCAPS_DIRECTIONALLIGHTS |
                         D3DVTXPCAPS_POSITIONALLIGHTS | D3DVTXPCAPS_LOCALVIEWER | D3DVTXPCAPS_MATERIALSOURCE7;
    EXPECT_EQ(caps.VertexProcessingCaps & vertex, vertex);
}

}  // namespace
}  // namespace d3d9_test
