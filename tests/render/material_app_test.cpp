// Materials, meshes and lights on the real layer: a lit quad from MeshData drawn through a Mesh
// with a material combined from "Diffuse" and "LightMap" sub-materials (one pass, the light map
// modulated twice on coordinate set 1), under a point and a directional light applied through
// the light slots, with vertex range fog, alpha test and blending over the cleared background.
// The large flat areas read back match the published fixed-function formulas, evaluated here
// in double precision, within 2 per channel. A quad whose alpha is below the reference leaves
// the background, and a pre-transformed quad is drawn without fog and leaves fog switched on.
//
// With RH_MATERIAL_TEST_IMAGES naming a folder, the frame is written there as
// materials-app.png.
#include "render/camera_view.h"
#include "render/geometry_buffer_cache.h"
#include "render/light.h"
#include "render/material.h"
#include "render/mesh.h"
#include "render/mesh_data.h"
#include "render/texture.h"

#include "tests/platform/ffp_oracle.h"
#include "tests/render/support/layer_app.h"
#include "tests/support/png_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using rh::test::LayerApp;
using rh::test::Rgb;

constexpr int kWidth = 256;
constexpr int kHeight = 192;

constexpr DWORD kBackground = 0xFF204060u;
constexpr DWORD kDiffuseTexel = 0xC0C08040u;   // alpha 0xC0: passes the reference 0x80
constexpr DWORD kFadedTexel = 0x40C08040u;     // alpha 0x40: fails it
constexpr DWORD kLightMapTexel = 0xFF6080A0u;  // blue doubles past 1 and clamps
constexpr DWORD kFogColour = 0xFFFFFFFFu;
constexpr float kFogStart = 5.0f;
constexpr float kFogEnd = 20.0f;
constexpr DWORD kQuadColour = 0xFF30C050u;

constexpr D3DVERTEXELEMENT9 kLitElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    {0, 32, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 1},
    D3DDECL_END(),
};

constexpr D3DVERTEXELEMENT9 kScreenElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
    {0, 16, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    D3DDECL_END(),
};

DWORD FloatBits(float f) {
    DWORD bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// A quad of 2 x 2 units in the z = 0 plane facing -z (towards the camera), both texture sets
// spanning it.
std::unique_ptr<MeshData> QuadData() {
    auto data = std::make_unique<MeshData>();
    VertexFormat format;
    format.SetFromElements(kLitElements);
    EXPECT_TRUE(data->vertices.Allocate(4, format));
    for (int v = 0; v < 4; ++v) {
        const float x = (v & 1) ? 2.0f : -2.0f;
        const float y = (v & 2) ? -2.0f : 2.0f;
        const float vertex[10] = {x, y, 0.0f, 0.0f, 0.0f, -1.0f, float(v & 1), float(v >> 1), float(v & 1),
                                  float(v >> 1)};
        std::memcpy(data->vertices.stream(0) + 40 * v, vertex, sizeof vertex);
    }
    EXPECT_TRUE(data->indices.Allocate(6, 2));
    const uint16_t indices[6] = {0, 1, 2, 2, 1, 3};
    std::memcpy(data->indices.data(), indices, sizeof indices);
    data->ComputeBounds();
    return data;
}

// A 4 x 4 texture of one A8R8G8B8 colour.
std::unique_ptr<Texture> UniformTexture(DWORD colour) {
    auto texture = std::make_unique<Texture>();
    EXPECT_TRUE(texture->CreateEmpty(0, 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, false, false));
    D3DLOCKED_RECT locked{};
    if (texture->LockLevel(0, 0, &locked)) {
        for (int y = 0; y < 4; ++y) {
            auto* row = reinterpret_cast<DWORD*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch);
            for (int x = 0; x < 4; ++x) row[x] = colour;
        }
        texture->UnlockLevel(0);
    }
    return texture;
}

// The pre-transformed quad's vertices, written into its buffer block whenever the block moves.
class ScreenQuad : public BufferBlockUser {
public:
    bool OnBlockMoved(BufferBlock* block) override { return Write(block); }

    bool Write(BufferBlock* block) {
        struct Vertex {
            float x, y, z, rhw;
            DWORD colour;
        };
        Vertex vertices[6];
        const float corners[4][2] = {{199.5f, 9.5f}, {249.5f, 9.5f}, {199.5f, 59.5f}, {249.5f, 59.5f}};
        const int order[6] = {0, 1, 2, 2, 1, 3};
        for (int i = 0; i < 6; ++i) {
            vertices[i] = Vertex{corners[order[i]][0], corners[order[i]][1], 0.5f, 1.0f, kQuadColour};
        }
        void* data = nullptr;
        if (!block->Lock(0, &data)) return false;
        std::memcpy(data, vertices, sizeof vertices);
        return block->Unlock();
    }
};

// The stages the combined material must give: the diffuse texture times the lit colour, then
// the light map modulated twice; alpha from both textures.
std::vector<ffp_oracle::Stage> ExpectedStages() {
    std::vector<ffp_oracle::Stage> stages(2);
    stages[0].colorOp = D3DTOP_MODULATE;
    stages[0].colorArg1 = D3DTA_TEXTURE;
    stages[0].colorArg2 = D3DTA_DIFFUSE;
    stages[0].alphaOp = D3DTOP_SELECTARG1;
    stages[0].alphaArg1 = D3DTA_TEXTURE;
    stages[0].texture = ffp_oracle::FromArgb(kDiffuseTexel);
    stages[1].colorOp = D3DTOP_MODULATE2X;
    stages[1].colorArg1 = D3DTA_CURRENT;
    stages[1].colorArg2 = D3DTA_TEXTURE;
    stages[1].alphaOp = D3DTOP_MODULATE;
    stages[1].alphaArg1 = D3DTA_CURRENT;
    stages[1].alphaArg2 = D3DTA_TEXTURE;
    stages[1].texture = ffp_oracle::FromArgb(kLightMapTexel);
    return stages;
}

// The expected colour of the lit quad from the oracle: lighting at a corner (all four alike:
// both lights and the eye lie on the quad's axis), the two stages, linear range fog and the
// blend over the background. The camera looks along +z from (0, 0, -10), so camera space is
// world space moved 10 along z.
DWORD ExpectedLitQuad(DWORD ambient, D3DLIGHT9 point, D3DLIGHT9 directional) {
    ffp_oracle::LightingInput in;
    in.position = ffp_oracle::Vec3{2.0, 2.0, 10.0};
    in.normal = ffp_oracle::Vec3{0.0, 0.0, -1.0};
    // The material's default colours.
    in.diffuse = in.ambient = in.specular = ffp_oracle::Colour{1.0, 1.0, 1.0, 1.0};
    in.emissive = ffp_oracle::Colour{};
    in.power = 16.0;
    in.globalAmbient = ffp_oracle::FromArgb(ambient);
    point.Position.z += 10.0f;
    in.lights = {point, directional};
    in.localViewer = false;
    const ffp_oracle::LitColours lit = ffp_oracle::LightVertex(in);
    const ffp_oracle::Colour stages =
        ffp_oracle::Cascade(ExpectedStages(), lit.diffuse, lit.specular, ffp_oracle::Colour{1.0, 1.0, 1.0, 1.0});
    const double distance = std::sqrt(2.0 * 2.0 + 2.0 * 2.0 + 10.0 * 10.0);
    const double f = ffp_oracle::FogFactor(D3DFOG_LINEAR, kFogStart, kFogEnd, 0.0, distance);
    const ffp_oracle::Colour fogged = ffp_oracle::ApplyFog(stages, f, ffp_oracle::FromArgb(kFogColour));
    const ffp_oracle::Colour background = ffp_oracle::FromArgb(kBackground);
    const double a = fogged.a;
    const ffp_oracle::Colour blended{a * fogged.r + (1 - a) * background.r, a * fogged.g + (1 - a) * background.g,
                                     a * fogged.b + (1 - a) * background.b, 1.0};
    return ffp_oracle::ToRgb(blended);
}

DWORD StageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type) {
    DWORD value = 0xFFFFFFFFu;
    g_device->GetTextureStageState(stage, type, &value);
    return value;
}

void ExpectNear(const Rgb& got, const Rgb& want, int tolerance, const char* what) {
    EXPECT_LE(std::abs(got.r - want.r), tolerance) << what << ": red " << got.r << " want " << want.r;
    EXPECT_LE(std::abs(got.g - want.g), tolerance) << what << ": green " << got.g << " want " << want.g;
    EXPECT_LE(std::abs(got.b - want.b), tolerance) << what << ": blue " << got.b << " want " << want.b;
}

TEST(MaterialApp, LitFoggedTwoStageMeshAndAPreTransformedQuad) {
    LayerApp app;
    ASSERT_TRUE(app.Open(kWidth, kHeight));
    InvalidateStateCache();

    // Textures and materials.
    std::unique_ptr<Texture> diffuse = UniformTexture(kDiffuseTexel);
    std::unique_ptr<Texture> faded = UniformTexture(kFadedTexel);
    std::unique_ptr<Texture> lightMap = UniformTexture(kLightMapTexel);

    RenderContext context;
    CameraView camera;
    camera.SetProjection(1.0f, 100.0f, 1.0471976f, float(kWidth) / float(kHeight));
    camera.SetView(Vec3{0.0f, 0.0f, -10.0f}, Vec3{0.0f, 0.0f, 1.0f}, Vec3{0.0f, 1.0f, 0.0f});
    context.SetCamera(camera);
    context.world = IdentityMatrix();

    auto combined = [&](Texture* base) {
        MultiMaterial material;
        material.SetCount(2);
        material.sub(0).name = "Diffuse";
        material.sub(0).lit = true;
        material.sub(0).alphaRef = 0x80;
        material.sub(0).maps[kDiffuseMap].texture = base;
        material.sub(1).name = "LightMap";
        material.sub(1).maps[kDiffuseMap].texture = lightMap.get();
        material.BuildStageCombination();
        material.SetRenderContext(&context);
        return material;
    };
    MultiMaterial litMaterial = combined(diffuse.get());
    MultiMaterial fadedMaterial = combined(faded.get());
    ASSERT_EQ(litMaterial.count(), 1);
    EXPECT_EQ(litMaterial.sub(0).stages[1].colorOp, D3DTOP_MODULATE2X);
    EXPECT_EQ(litMaterial.sub(0).stages[1].texCoordIndex, 1u);

    MultiMaterial screenMaterial;
    screenMaterial.sub(0).vertexColor = true;
    screenMaterial.SetRenderContext(&context);

    // Lights.
    auto* point = new PointLight;
    point->SetPosition(Vec3{0.0f, 0.0f, -4.0f});
    point->SetDiffuse(ArgbColor(1.0f, 0.6f, 0.5f, 0.4f));
    point->SetAttenuation(1.0f, 0.1f, 0.0f);
    point->SetRange(100.0f);
    auto* sun = new DirLight;
    sun->SetDirection(Vec3{0.0f, 0.0f, 1.0f});
    sun->SetDiffuse(ArgbColor(1.0f, 0.3f, 0.3f, 0.3f));
    SharedRef<Light> pointRef(point);
    SharedRef<Light> sunRef(sun);
    context.lights.ambient = ArgbColor(1.0f, 0.1f, 0.1f, 0.1f);
    context.lights.Add(pointRef);
    context.lights.Add(sunRef);

    // Meshes.
    std::unique_ptr<MeshData> data = QuadData();
    Mesh lit;
    lit.SetSourceLink(data.get());
    ASSERT_TRUE(lit.GetGeometryDesc().InitFromMeshData(*data, nullptr, false));

    Mesh screen;
    GeometryDesc screenDesc;
    screenDesc.format.SetFromElements(kScreenElements);
    screenDesc.streams[0].format = screenDesc.format;
    screenDesc.streams[0].stride = 20;
    screenDesc.streams[0].size = 6 * 20;
    ASSERT_TRUE(screen.CreateGeometry(&screenDesc));
    ScreenQuad quad;
    BufferBlock* block = screen.GetGeometry().Get()->streamBuffer(0)->AllocateBlock(6 * 20, 0, &quad);
    ASSERT_NE(block, nullptr);
    ASSERT_TRUE(quad.Write(block));

    // Fog as the saver sets it: vertex linear range fog.
    StateCache::SetRenderState(D3DRS_FOGENABLE, 1);
    StateCache::SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
    StateCache::SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
    StateCache::SetRenderState(D3DRS_RANGEFOGENABLE, 1);
    StateCache::SetRenderState(D3DRS_FOGSTART, FloatBits(kFogStart));
    StateCache::SetRenderState(D3DRS_FOGEND, FloatBits(kFogEnd));
    StateCache::SetRenderState(D3DRS_FOGCOLOR, kFogColour);

    app.PumpMessages();
    ASSERT_TRUE(app.CheckDevice());
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBackground, 1.0f, 0);
    ASSERT_EQ(g_device->BeginScene(), D3D_OK);
    context.world = IdentityMatrix();
    EXPECT_TRUE(lit.Render(&litMaterial).Succeeded());
    // The faded quad to the left: its alpha fails the test, nothing of it is drawn.
    context.world = IdentityMatrix();
    context.world.At(3, 0) = -5.0f;
    context.world.kind = kMatrixTranslation;
    EXPECT_TRUE(lit.Render(&fadedMaterial).Succeeded());
    // What the lit quad's stages were: the oracle is given the same.
    const std::vector<ffp_oracle::Stage> expectedStages = ExpectedStages();
    for (DWORD stage = 0; stage < 2; ++stage) {
        const ffp_oracle::Stage& want = expectedStages[stage];
        EXPECT_EQ(StageState(stage, D3DTSS_COLOROP), want.colorOp) << "stage " << stage;
        EXPECT_EQ(StageState(stage, D3DTSS_COLORARG1), want.colorArg1) << "stage " << stage;
        EXPECT_EQ(StageState(stage, D3DTSS_COLORARG2), want.colorArg2) << "stage " << stage;
        EXPECT_EQ(StageState(stage, D3DTSS_ALPHAOP), want.alphaOp) << "stage " << stage;
        EXPECT_EQ(StageState(stage, D3DTSS_ALPHAARG1), want.alphaArg1) << "stage " << stage;
    }
    EXPECT_EQ(StageState(1, D3DTSS_TEXCOORDINDEX), 1u);
    EXPECT_TRUE(screen.Render(&screenMaterial).Succeeded());
    DWORD fog = 0;
    EXPECT_EQ(g_device->GetRenderState(D3DRS_FOGENABLE, &fog), D3D_OK);
    EXPECT_EQ(fog, 1u) << "the pre-transformed quad leaves fog as it found it";
    EXPECT_EQ(g_device->EndScene(), D3D_OK);

    const std::vector<DWORD> frame = app.ReadFrame();
    rh::testing::SavePicture("RH_MATERIAL_TEST_IMAGES", "materials-app", kWidth, kHeight, frame);

    // The lit quad covers about 66 x 66 pixels around the centre; read its middle.
    const DWORD expected = ExpectedLitQuad(context.lights.ambient.ToARGB(), point->record(), sun->record());
    const Rgb want{int((expected >> 16) & 0xFF), int((expected >> 8) & 0xFF), int(expected & 0xFF)};
    ExpectNear(LayerApp::Average(RECT{108, 76, 148, 116}), want, 2, "lit, fogged, blended quad");
    const Rgb background{0x20, 0x40, 0x60};
    ExpectNear(LayerApp::Average(RECT{30, 86, 60, 106}), background, 0, "alpha-tested quad");
    ExpectNear(LayerApp::Average(RECT{10, 10, 40, 40}), background, 0, "background");
    ExpectNear(LayerApp::Average(RECT{210, 20, 240, 50}), Rgb{0x30, 0xC0, 0x50}, 2, "pre-transformed quad, no fog");
    g_device->Present(nullptr, nullptr, nullptr, nullptr);

    // The light set again: only what changed reaches the device (nothing).
    EXPECT_EQ(g_lightSlotManager.enabledLights().count(), 2);
}

}  // namespace
