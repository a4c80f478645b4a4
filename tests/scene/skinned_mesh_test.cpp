// Skinned meshes on the real layer: the positions and normals written into the drawn vertex
// buffer against closed-form linear blend skinning, the bytes around them kept, binding by
// bone name, skins that do not fit their mesh, and a bent strip drawn and looked at.
#include "scene/skinned_mesh_node.h"

#include "render/geometry.h"
#include "render/hardware_buffer.h"
#include "render/material.h"
#include "render/mesh_data.h"

#include "tests/render/support/layer_app.h"

#include <gtest/gtest.h>

#include <strings.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using rh::test::LayerApp;
namespace layer = rh::d3d9::testing;

constexpr D3DVERTEXELEMENT9 kRestLayout[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

struct RestVertex {
    float p[3];
    float n[3];
    float uv[2];
};

// Rotation by `degrees` about z, scaled by s, then moved by t: a general affine bone matrix.
TypedMatrix Bone(float degrees, float s, float tx, float ty, float tz) {
    const float a = degrees * 3.14159265f / 180.0f;
    TypedMatrix m;
    const float rows[16] = {s * std::cos(a), s * std::sin(a), 0, 0, -s * std::sin(a), s * std::cos(a), 0, 0,
                            0, 0, s, 0, tx, ty, tz, 1};
    std::memcpy(m.m, rows, sizeof rows);
    m.kind = kMatrixGeneral;
    return m;
}

// Scene nodes are found by name without regard to case.
struct NoCase {
    bool operator()(const std::string& a, const std::string& b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

struct Expected {
    double p[3];
    double n[3];
};

// Linear blend skinning in doubles, as written down: P = sum w (p M), N = normalize(sum w (n M3)).
Expected ClosedForm(const RestVertex& v, const std::vector<SkinWeight>& records, const std::vector<TypedMatrix>& bones) {
    Expected e{{0, 0, 0}, {0, 0, 0}};
    for (const SkinWeight& r : records) {
        const float* m = bones[size_t(r.bone)].m;
        for (int c = 0; c < 3; ++c) {
            e.p[c] += r.weight * (double(v.p[0]) * m[c] + double(v.p[1]) * m[4 + c] + double(v.p[2]) * m[8 + c] + m[12 + c]);
            e.n[c] += r.weight * (double(v.n[0]) * m[c] + double(v.n[1]) * m[4 + c] + double(v.n[2]) * m[8 + c]);
        }
    }
    const double length = std::sqrt(e.n[0] * e.n[0] + e.n[1] * e.n[1] + e.n[2] * e.n[2]);
    for (double& c : e.n) c = length > 0 ? c / length : 0.0;
    return e;
}

class SkinnedMeshTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(app_.Open(kWidth, kHeight)); }

    // Mesh data of these vertices (triangles in order) and a skin of these records per vertex.
    void MakeMesh(const std::vector<RestVertex>& vertices, const std::vector<std::vector<SkinWeight>>& records) {
        VertexFormat format;
        format.SetFromElements(kRestLayout);
        ASSERT_TRUE(mesh_.vertices.Allocate(int32_t(vertices.size()), format));
        std::memcpy(mesh_.vertices.stream(0), vertices.data(), vertices.size() * sizeof(RestVertex));
        const int32_t indexCount = int32_t(vertices.size() / 3 * 3);
        ASSERT_TRUE(mesh_.indices.Allocate(indexCount, 2));
        for (int32_t i = 0; i < indexCount; ++i) {
            const uint16_t index = uint16_t(i);
            std::memcpy(mesh_.indices.data() + 2 * i, &index, 2);
        }
        skin_.firstWeight.clear();
        skin_.weightCount.clear();
        skin_.weights.clear();
        for (const auto& list : records) {
            skin_.firstWeight.push_back(int32_t(skin_.weights.size()));
            skin_.weightCount.push_back(int32_t(list.size()));
            skin_.weights.insert(skin_.weights.end(), list.begin(), list.end());
        }
        skin_.boneNames.Resize(0);
        skin_.boneNames.At(0) = "Root";
        skin_.boneNames.At(1) = "Tip";
        node_.SetMeshData(&mesh_, &skin_);
        // As the loader gives skinned meshes: dynamic vertex buffers.
        ASSERT_TRUE(node_.GetGeometryDesc().InitFromMeshData(mesh_, nullptr, true));
        material_.SetRenderContext(&context_);
    }

    bool Bind() {
        return node_.BindBoneMatrices([this](const String& name) -> const TypedMatrix* {
            auto found = named_.find(name.Text());
            return found != named_.end() ? found->second : nullptr;
        });
    }

    // The vertices of the drawn geometry as GL holds them.
    std::vector<RestVertex> Drawn() {
        Geometry* geometry = node_.GetGeometry().Get();
        EXPECT_NE(geometry, nullptr);
        if (geometry == nullptr) return {};
        HardwareBuffer* buffer = geometry->streamBuffer(0);
        EXPECT_EQ(buffer->GetStride(), int32_t(sizeof(RestVertex)));
        std::vector<BYTE> bytes;
        EXPECT_TRUE(layer::ReadBufferObject(buffer->GetVertexBuffer(), &bytes));
        const size_t offset = size_t(buffer->FirstBlock()->offset());
        std::vector<RestVertex> out(size_t(mesh_.vertices.count()));
        EXPECT_GE(bytes.size(), offset + out.size() * sizeof(RestVertex));
        if (bytes.size() >= offset + out.size() * sizeof(RestVertex)) {
            std::memcpy(out.data(), bytes.data() + offset, out.size() * sizeof(RestVertex));
        }
        return out;
    }

    static constexpr int kWidth = 160;
    static constexpr int kHeight = 120;
    LayerApp app_;
    MeshData mesh_;
    SkinInfo skin_;
    SkinnedMeshNode node_;
    MultiMaterial material_;
    RenderContext context_;
    std::vector<TypedMatrix> bones_ = {Bone(30.0f, 1.0f, 10.0f, 20.0f, 0.1f), Bone(-90.0f, 2.0f, 5.0f, -3.0f, 0.2f)};
    std::map<std::string, const TypedMatrix*, NoCase> named_ = {{"root", &bones_[0]}, {"TIP", &bones_[1]}};
};

TEST_F(SkinnedMeshTest, WrittenVerticesFollowTheClosedFormEveryDraw) {
    const struct {
        const char* what;
        RestVertex vertex;
        std::vector<SkinWeight> records;
    } cases[] = {
        {"one record of weight 1 follows its bone", {{1, 2, 3}, {0, 0, 1}, {0.25f, 0.5f}}, {{0, 1.0f}}},
        {"two halves on one bone: the transformed point", {{-4, 1, 0.5f}, {1, 0, 0}, {1, 1}}, {{1, 0.5f}, {1, 0.5f}}},
        {"two whole weights on one bone: twice the point", {{-4, 1, 0.5f}, {0, 1, 0}, {0, 0}}, {{1, 1.0f}, {1, 1.0f}}},
        {"a blend of both bones", {{3, -2, 7}, {0.6f, 0.8f, 0}, {0.5f, 0.5f}}, {{0, 0.25f}, {1, 0.75f}}},
        {"no records: the origin", {{9, 9, 9}, {0, 0, 1}, {0.75f, 0.125f}}, {}},
        {"weights that do not sum to one stay as they are", {{2, 0, 0}, {1, 0, 0}, {0.5f, 0}}, {{0, 0.3f}, {1, 0.3f}}},
    };
    std::vector<RestVertex> vertices;
    std::vector<std::vector<SkinWeight>> records;
    for (const auto& c : cases) {
        vertices.push_back(c.vertex);
        records.push_back(c.records);
    }
    MakeMesh(vertices, records);
    ASSERT_TRUE(Bind());

    for (int pose = 0; pose < 2; ++pose) {
        SCOPED_TRACE(pose);
        if (pose == 1) {
            // The bones are followed by pointer: a moved bone moves the next draw.
            bones_[0] = Bone(-75.0f, 0.5f, -6.0f, 2.0f, 0.3f);
            bones_[1] = Bone(120.0f, 1.5f, 0.0f, 4.0f, 0.0f);
        }
        app_.StartFrame();
        ASSERT_TRUE(g_device->BeginScene() == D3D_OK);
        EXPECT_TRUE(node_.Render(&material_).Succeeded());
        g_device->EndScene();
        const std::vector<RestVertex> drawn = Drawn();
        ASSERT_EQ(drawn.size(), vertices.size());
        for (size_t i = 0; i < vertices.size(); ++i) {
            SCOPED_TRACE(cases[i].what);
            const Expected e = ClosedForm(vertices[i], records[i], bones_);
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(drawn[i].p[c], e.p[c], 1e-4 * (1.0 + std::abs(e.p[c])));
                EXPECT_NEAR(drawn[i].n[c], e.n[c], 1e-5);
            }
            // The bytes around positions and normals keep the uploaded texture coordinates.
            EXPECT_EQ(std::memcmp(drawn[i].uv, vertices[i].uv, sizeof drawn[i].uv), 0);
        }
    }
    // One record of weight 1 is exactly the bone's transform of the rest point.
    const RestVertex& v = vertices[0];
    const float* m = bones_[0].m;
    const std::vector<RestVertex> drawn = Drawn();
    EXPECT_FLOAT_EQ(drawn[0].p[0], v.p[0] * m[0] + v.p[1] * m[4] + v.p[2] * m[8] + m[12]);
}

TEST_F(SkinnedMeshTest, UnboundOrUnfitSkinsNeverDraw) {
    const RestVertex v{{1, 2, 3}, {0, 0, 1}, {0, 0}};
    MakeMesh({v, v, v}, {{{0, 1.0f}}, {{1, 1.0f}}, {}});
    // Before binding nothing is skinned or drawn.
    layer::ResetDrawCallCount(g_device);
    EXPECT_FALSE(node_.Render(&material_).Succeeded());
    EXPECT_EQ(layer::DrawCallCount(g_device), 0u);

    // A missing bone name fails the binding and leaves no bones.
    named_.erase("TIP");
    EXPECT_FALSE(Bind());
    EXPECT_EQ(node_.boneMatrices().count(), 0);
    EXPECT_FALSE(node_.Render(&material_).Succeeded());
    EXPECT_EQ(layer::DrawCallCount(g_device), 0u);
    named_["Tip"] = &bones_[1];
    ASSERT_TRUE(Bind());
    EXPECT_EQ(node_.boneMatrices().items()[0], &bones_[0]);
    EXPECT_EQ(node_.boneMatrices().items()[1], &bones_[1]);

    // Skins from files that would read outside their arrays or name no bone.
    const struct {
        const char* what;
        void (*spoil)(SkinInfo&);
    } unfit[] = {
        {"bone index past the names", [](SkinInfo& s) { s.weights[1].bone = 2; }},
        {"negative bone index", [](SkinInfo& s) { s.weights[0].bone = -1; }},
        {"records past the end", [](SkinInfo& s) { s.firstWeight[1] = 2; }},
        {"negative first record", [](SkinInfo& s) { s.firstWeight[0] = -1; }},
        {"negative count", [](SkinInfo& s) { s.weightCount[2] = -1; }},
        {"weight not finite", [](SkinInfo& s) { s.weights[0].weight = NAN; }},
        {"fewer entries than vertices", [](SkinInfo& s) { s.firstWeight.pop_back(); }},
    };
    for (const auto& u : unfit) {
        SCOPED_TRACE(u.what);
        const SkinInfo good = skin_;
        u.spoil(skin_);
        EXPECT_FALSE(skin_.Fits(3));
        ASSERT_TRUE(Bind());
        layer::ResetDrawCallCount(g_device);
        EXPECT_FALSE(node_.Render(&material_).Succeeded());
        EXPECT_EQ(layer::DrawCallCount(g_device), 0u);
        skin_ = good;
    }
    ASSERT_TRUE(Bind());
    EXPECT_TRUE(node_.Render(&material_).Succeeded());
    void* answer = nullptr;
    EXPECT_TRUE(node_.QueryInterface(TypeId<Mesh>::Get(), &answer));
    EXPECT_EQ(answer, static_cast<Mesh*>(&node_));
    EXPECT_FALSE(node_.QueryInterface(TypeId<Geometry>::Get(), &answer));
}

// A strip of quads along x, its right half tied to a bone that turns about the strip's middle:
// drawn, the strip bends upwards. Written to /tmp/rh-skinned-strip.ppm with RH_SKIN_TEST_IMAGES.
TEST_F(SkinnedMeshTest, ABentStripIsDrawnWhereItsBonesPutIt) {
    std::vector<RestVertex> vertices;
    std::vector<std::vector<SkinWeight>> records;
    const int kQuads = 8;
    auto corner = [&](int column, float y) {
        const float x = 20.0f + 10.0f * column;
        vertices.push_back(RestVertex{{x, y, 0.5f}, {0, 0, -1}, {0, 0}});
        // Left half on the root, right half on the tip, the middle column shared.
        if (column < kQuads / 2) records.push_back({{0, 1.0f}});
        else if (column == kQuads / 2) records.push_back({{0, 0.5f}, {1, 0.5f}});
        else records.push_back({{1, 1.0f}});
    };
    for (int q = 0; q < kQuads; ++q) {
        corner(q, 80.0f), corner(q + 1, 80.0f), corner(q, 90.0f);
        corner(q, 90.0f), corner(q + 1, 80.0f), corner(q + 1, 90.0f);
    }
    MakeMesh(vertices, records);
    // Root: the identity. Tip: a quarter turn about the strip's middle (x 60, y 85), so the
    // right half stands up from there (y decreases upwards on screen).
    bones_[0] = TypedMatrix();
    TypedMatrix toOrigin, turn, back;
    toOrigin.m[12] = -60.0f, toOrigin.m[13] = -85.0f, toOrigin.kind = kMatrixGeneral;
    turn = Bone(-90.0f, 1.0f, 0, 0, 0);
    back.m[12] = 60.0f, back.m[13] = 85.0f, back.kind = kMatrixGeneral;
    bones_[1] = MultiplyMatrices(MultiplyMatrices(toOrigin, turn), back);
    ASSERT_TRUE(Bind());

    app_.StartFrame();
    ASSERT_TRUE(g_device->BeginScene() == D3D_OK);
    EXPECT_TRUE(node_.Render(&material_).Succeeded());
    g_device->EndScene();
    const std::vector<DWORD> frame = app_.ReadFrame();
    if (std::getenv("RH_SKIN_TEST_IMAGES") != nullptr) {
        FILE* out = std::fopen("/tmp/rh-skinned-strip.ppm", "wb");
        if (out != nullptr) {
            std::fprintf(out, "P6 %d %d 255\n", kWidth, kHeight);
            for (DWORD p : frame) {
                const unsigned char rgb[3] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)};
                std::fwrite(rgb, 1, 3, out);
            }
            std::fclose(out);
        }
    }
    // The left half lies where it was; the right half stands up from the middle, and nothing
    // is left where it lay.
    EXPECT_GT(LayerApp::Average(RECT{22, 82, 55, 88}).g, 200);
    EXPECT_GT(LayerApp::Average(RECT{57, 50, 64, 78}).g, 150);
    EXPECT_LT(LayerApp::Average(RECT{72, 82, 98, 88}).g, 10);
}

}  // namespace
