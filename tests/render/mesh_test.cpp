// Meshes on a recording device with a fake effect material: which path draws each
// sub-material, the geometries built per vertex layout and reused, passes that fail to begin,
// hidden meshes, and fog around pre-transformed geometry.
#include "render/mesh.h"

#include "render/geometry_buffer_cache.h"
#include "render/light.h"
#include "render/lit_effect_material.h"
#include "render/material.h"
#include "render/mesh_data.h"
#include "render/state_cache.h"
#include "tests/render/support/fake_framework.h"
#include "tests/render/support/fake_resources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using rh::test::DeviceCall;
using rh::test::FakeFramework;
using rh::test::ResourceDevice;

constexpr D3DVERTEXELEMENT9 kSourceElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

// What an effect's vertex shader might read: the source's elements and a tangent.
constexpr D3DVERTEXELEMENT9 kEffectElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    {0, 32, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TANGENT, 0},
    D3DDECL_END(),
};

constexpr D3DVERTEXELEMENT9 kPreTransformedElements[] = {
    {0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITIONT, 0},
    {0, 16, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    D3DDECL_END(),
};

VertexFormat FormatOf(const D3DVERTEXELEMENT9* elements) {
    VertexFormat format;
    format.SetFromElements(elements);
    return format;
}

// An effect material that records what meshes ask of it. BeginMaterialPass answers from
// `failPass` (-1: none fails) and notes whether fog was on.
class RecordingEffect : public LitEffectMaterial {
public:
    explicit RecordingEffect(ResourceDevice* device) : device_(device) {}

    bool PrepareObject(MultiMaterial* material, int32_t sub, int32_t* out) override {
        prepared.push_back(sub);
        *out = passes;
        return LitEffectMaterial::PrepareObject(material, sub, out) && prepareAnswer;
    }
    bool BeginMaterialPass(int32_t pass) override {
        begun.push_back(pass);
        fogAtPass.push_back(device_->renderStates[D3DRS_FOGENABLE]);
        return pass != failPass;
    }
    bool EndMaterialPasses() override {
        ++ended;
        return LitEffectMaterial::EndMaterialPasses();
    }
    VertexFormat VertexElements() const override { return FormatOf(kEffectElements); }

    int32_t passes = 1;
    int32_t failPass = -1;
    bool prepareAnswer = true;
    std::vector<int32_t> prepared;
    std::vector<int32_t> begun;
    std::vector<DWORD> fogAtPass;
    int ended = 0;

private:
    ResourceDevice* device_;
};

class MeshTest : public ::testing::Test {
protected:
    MeshTest() {
        InvalidateStateCache();
        data.vertices.Allocate(4, FormatOf(kSourceElements));
        std::memset(data.vertices.stream(0), 0, 4 * 32);
        for (int v = 0; v < 4; ++v) {
            const float p[3] = {static_cast<float>(v & 1), static_cast<float>(v >> 1), 1.0f};
            std::memcpy(data.vertices.stream(0) + 32 * v, p, sizeof p);
        }
        data.indices.Allocate(6, 2);
        const uint16_t quad[6] = {0, 1, 2, 2, 1, 3};
        std::memcpy(data.indices.data(), quad, sizeof quad);
        EXPECT_TRUE(mesh->GetGeometryDesc().InitFromMeshData(data, nullptr, false));
        mesh->SetSourceLink(&data);
        material.SetRenderContext(&context);
    }
    ~MeshTest() override {
        mesh.reset();
        InvalidateStateCache();
    }

    int Draws() const { return static_cast<int>(device.draws.size()); }

    ResourceDevice device;
    FakeFramework framework{&device};
    MeshData data;
    RenderContext context;
    MultiMaterial material;
    RecordingEffect effect{&device};
    RecordingEffect other{&device};
    std::unique_ptr<Mesh> mesh = std::make_unique<Mesh>();
};

TEST_F(MeshTest, AHiddenMeshTouchesNothing) {
    mesh->Hide();
    material.sub(0).effectMaterial = &effect;
    device.ResetCounts();
    EXPECT_TRUE(mesh->Render(&material).Succeeded());
    EXPECT_EQ(device.TotalCalls(), 0);
    EXPECT_EQ(Draws(), 0);
    EXPECT_TRUE(effect.prepared.empty());
    EXPECT_EQ(mesh->layoutGeometries().count(), 0) << "not even a geometry is made";
}

TEST_F(MeshTest, WithoutRenderContextOrGeometryNothingIsDrawn) {
    material.SetRenderContext(nullptr);
    EXPECT_TRUE(mesh->Render(&material).Failed());
    EXPECT_TRUE(mesh->Render(nullptr).Failed());

    Mesh bare;
    material.SetRenderContext(&context);
    EXPECT_TRUE(bare.Render(&material).Failed()) << "no source and no explicit geometry";
    EXPECT_EQ(Draws(), 0);
}

TEST_F(MeshTest, TheOverrideDrawsEverySubMaterial) {
    material.SetCount(3);
    material.sub(1).effectMaterial = &other;
    context.effectOverride = &effect;
    effect.passes = 2;
    EXPECT_TRUE(mesh->Render(&material).Succeeded());
    EXPECT_EQ(effect.prepared, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(effect.begun, (std::vector<int32_t>{0, 1, 0, 1, 0, 1}));
    EXPECT_EQ(effect.ended, 3);
    EXPECT_TRUE(other.prepared.empty());
    EXPECT_EQ(Draws(), 6);
    EXPECT_EQ(device.Calls(DeviceCall::SetVertexShader), 0) << "no fixed-function draw";
}

// One geometry per vertex layout, built on first use and reused after.
TEST_F(MeshTest, EffectAndFixedFunctionDrawsBuildTwoGeometries) {
    const int32_t before = g_geometryBufferCache.geometryCount();
    material.sub(0).effectMaterial = &effect;
    ASSERT_TRUE(mesh->Render(&material).Succeeded());
    Geometry* effectGeometry = mesh->GetGeometry().Get();
    ASSERT_NE(effectGeometry, nullptr);
    EXPECT_TRUE(effectGeometry->format().Equals(FormatOf(kEffectElements)));

    material.sub(0).effectMaterial = nullptr;
    ASSERT_TRUE(mesh->Render(&material).Succeeded());
    Geometry* fixedGeometry = mesh->GetGeometry().Get();
    ASSERT_NE(fixedGeometry, nullptr);
    EXPECT_NE(fixedGeometry, effectGeometry);
    EXPECT_TRUE(fixedGeometry->format().Equals(data.RenderFormat()));
    EXPECT_EQ(mesh->layoutGeometries().count(), 2);
    EXPECT_EQ(g_geometryBufferCache.geometryCount(), before + 2);
    const int created = device.bufferCreations;

    for (int round = 0; round < 2; ++round) {
        material.sub(0).effectMaterial = &effect;
        ASSERT_TRUE(mesh->Render(&material).Succeeded());
        EXPECT_EQ(mesh->GetGeometry().Get(), effectGeometry);
        material.sub(0).effectMaterial = nullptr;
        ASSERT_TRUE(mesh->Render(&material).Succeeded());
        EXPECT_EQ(mesh->GetGeometry().Get(), fixedGeometry);
    }
    EXPECT_EQ(mesh->layoutGeometries().count(), 2);
    EXPECT_EQ(device.bufferCreations, created) << "the geometries and their buffers are reused";
    EXPECT_EQ(Draws(), 6);

    mesh.reset();
    EXPECT_EQ(g_geometryBufferCache.geometryCount(), before) << "the mesh held the last references";
}

// A pass that fails to begin has no program of its own: its draw is skipped, the others go on.
TEST_F(MeshTest, AFailedPassDrawsNothing) {
    material.sub(0).effectMaterial = &effect;
    effect.passes = 3;
    effect.failPass = 1;
    EXPECT_TRUE(mesh->Render(&material).Failed());
    EXPECT_EQ(effect.begun, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(Draws(), 2);
    EXPECT_EQ(effect.ended, 1);

    device.draws.clear();
    effect.failPass = -1;
    effect.prepareAnswer = false;
    EXPECT_TRUE(mesh->Render(&material).Failed());
    EXPECT_EQ(Draws(), 0) << "nothing is drawn with parameters that were not prepared";

    device.draws.clear();
    effect.prepareAnswer = true;
    effect.passes = 0;
    EXPECT_TRUE(mesh->Render(&material).Succeeded());
    EXPECT_EQ(Draws(), 1) << "no pass count means one pass";
}

TEST_F(MeshTest, FixedFunctionDrawsWithoutShadersAndWithTheLights) {
    material.SetCount(2);
    material.sub(0).lit = true;
    material.sub(1).lit = true;
    SharedRef<Light> light(new PointLight);
    context.lights.Add(light);
    device.vertexShader = reinterpret_cast<IDirect3DVertexShader9*>(uintptr_t{0x40});
    ASSERT_TRUE(mesh->Render(&material).Succeeded());
    EXPECT_EQ(device.vertexShader, nullptr);
    EXPECT_EQ(device.pixelShader, nullptr);
    EXPECT_EQ(Draws(), 2);
    EXPECT_EQ(device.Calls(DeviceCall::LightEnable), 1) << "the light set reaches the device once";
    EXPECT_EQ(device.renderStates[D3DRS_LIGHTING], 1u);
}

// Pre-transformed vertices are drawn without fog; fog is as it was afterwards.
TEST_F(MeshTest, PreTransformedGeometryDrawsWithoutFog) {
    Mesh quad;
    GeometryDesc desc;
    desc.format = FormatOf(kPreTransformedElements);
    desc.streams[0].format = desc.format;
    desc.streams[0].stride = 20;
    desc.streams[0].size = 4 * 20;
    ASSERT_TRUE(quad.CreateGeometry(&desc));
    material.sub(0).effectMaterial = &effect;
    for (DWORD fog : {1u, 0u}) {
        SCOPED_TRACE(fog);
        InvalidateStateCache();
        device.renderStates[D3DRS_FOGENABLE] = fog;
        effect.fogAtPass.clear();
        device.ResetCounts();
        quad.Render(&material);
        ASSERT_EQ(effect.fogAtPass.size(), 1u);
        EXPECT_EQ(effect.fogAtPass[0], 0u) << "fog is off while drawing";
        EXPECT_EQ(device.renderStates[D3DRS_FOGENABLE], fog) << "and as it was afterwards";
    }

    // The scene mesh is not pre-transformed: its fog stays on.
    InvalidateStateCache();
    device.renderStates[D3DRS_FOGENABLE] = 1;
    effect.fogAtPass.clear();
    ASSERT_TRUE(mesh->Render(&material).Succeeded());
    EXPECT_EQ(effect.fogAtPass, (std::vector<DWORD>{1}));
}

TEST_F(MeshTest, LayoutMapAndBounds) {
    Mesh explicitMesh;
    EXPECT_FALSE(explicitMesh.ComputeBounds());
    EXPECT_FALSE(explicitMesh.IsValid());

    data.ComputeBounds();
    ASSERT_TRUE(mesh->ComputeBounds());
    EXPECT_TRUE(mesh->IsValid());
    EXPECT_EQ(mesh->GetBox().size.x, 1.0f);

    SharedRef<Geometry> a(new Geometry);
    SharedRef<Geometry> b(new Geometry);
    const VertexFormat format = FormatOf(kEffectElements);
    explicitMesh.SetLayoutGeometry(format, a);
    explicitMesh.SetLayoutGeometry(format, b);
    EXPECT_EQ(explicitMesh.FindLayoutGeometry(format).Get(), b.Get()) << "an entry takes the new geometry";
    EXPECT_EQ(explicitMesh.FindLayoutGeometry(FormatOf(kSourceElements)).Get(), nullptr);
    EXPECT_EQ(*b.refs(), 2);

    void* part = nullptr;
    EXPECT_TRUE(explicitMesh.QueryInterface(TypeId<Mesh>::Get(), &part));
    EXPECT_EQ(part, &explicitMesh);
    EXPECT_TRUE(explicitMesh.QueryInterface(TypeId<Renderable>::Get(), &part));
    EXPECT_FALSE(explicitMesh.QueryInterface(TypeId<RefCounted>::Get(), &part));
}

}  // namespace
