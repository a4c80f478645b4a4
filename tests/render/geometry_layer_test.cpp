// Occlusion queries, geometry draws and the D3DX round trip on the real layer (SDL offscreen,
// OpenGL through Mesa). Query results are held back with the layer's hook, as llvmpipe has them
// at once.
#include "render/geometry_buffer_cache.h"
#include "render/occlusion_query.h"

#include "tests/render/support/layer_app.h"

#include <d3dx9mesh.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

namespace {

using rh::test::LayerApp;
using rh::test::Rgb;
using State = OcclusionQuery::State;
namespace layer = rh::d3d9::testing;

constexpr D3DVERTEXELEMENT9 kPositionColour[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    D3DDECL_END(),
};

struct Vertex {
    float x, y, z;
    DWORD colour;
};

// A rectangle from (left, top) to (right, bottom) in pixels at depth z: two triangles.
void MakeRectangle(MeshData* mesh, float left, float top, float right, float bottom, float z, DWORD colour,
                   int32_t indexWidth = 2) {
    VertexFormat format;
    format.SetFromElements(kPositionColour);
    ASSERT_TRUE(mesh->vertices.Allocate(4, format));
    const Vertex corners[4] = {{left, top, z, colour}, {right, top, z, colour}, {right, bottom, z, colour},
                               {left, bottom, z, colour}};
    std::memcpy(mesh->vertices.stream(0), corners, sizeof(corners));
    ASSERT_TRUE(mesh->indices.Allocate(6, indexWidth));
    const uint32_t order[6] = {0, 1, 2, 0, 2, 3};
    for (int i = 0; i < 6; ++i) std::memcpy(mesh->indices.data() + i * indexWidth, &order[i], indexWidth);
}

// Asks as a frame loop would, one question per frame, for a bounded number of frames.
bool AwaitResult(OcclusionQuery& query, uint32_t* pixels) {
    for (int frame = 0; frame < 10000; ++frame) {
        if (query.GetResult(pixels)) return true;
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    return false;
}

class GeometryLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(app.Open(kWidth, kHeight));
        layer::HoldQueryResults(false);
    }
    void TearDown() override { layer::HoldQueryResults(false); }

    SharedRef<Geometry> Upload(const MeshData& mesh) {
        GeometryDesc desc;
        EXPECT_TRUE(desc.InitFromMeshData(mesh, nullptr, false));
        SharedRef<Geometry> geometry = cache.FindEntry(desc, &mesh);
        EXPECT_TRUE(cache.UploadGeometry(geometry));
        return geometry;
    }

    static constexpr int kWidth = 160;
    static constexpr int kHeight = 120;
    LayerApp app;
    GeometryBufferCache cache;
};

// A 40 x 30 rectangle whose edges lie half a pixel before pixel centres covers 1200 pixels;
// behind a nearer one it covers none. The query's bracket on the layer, results held back.
TEST_F(GeometryLayerTest, OcclusionQueryCountsWhatAGeometryDraws) {
    ASSERT_TRUE(app.OcclusionQueriesEnabled());
    MeshData front, back;
    MakeRectangle(&front, 9.5f, 9.5f, 49.5f, 39.5f, 0.25f, 0xFFFF0000);
    MakeRectangle(&back, 9.5f, 9.5f, 49.5f, 39.5f, 0.75f, 0xFF00FF00, 4);
    SharedRef<Geometry> frontGeometry = Upload(front);
    SharedRef<Geometry> backGeometry = Upload(back);
    OcclusionQuery query;

    struct Row {
        const char* name;
        bool drawFrontFirst;
        uint32_t pixels;
    };
    const Row rows[] = {{"in the open", false, 1200}, {"behind a nearer rectangle", true, 0}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        app.StartFrame();
        ASSERT_EQ(g_device->BeginScene(), D3D_OK);
        if (r.drawFrontFirst) {
            ASSERT_TRUE(frontGeometry.Get()->DrawGeometry());
        }
        layer::HoldQueryResults(true);
        ASSERT_TRUE(query.Begin());
        ASSERT_TRUE(backGeometry.Get()->DrawGeometry());
        ASSERT_TRUE(query.End());
        g_device->EndScene();
        const Rgb inside = LayerApp::Average(RECT{12, 12, 47, 37});
        EXPECT_EQ(inside.r, r.drawFrontFirst ? 255 : 0);
        EXPECT_EQ(inside.g, r.drawFrontFirst ? 0 : 255);
        // The frame ends as every frame does; the result is asked for afterwards, as the scene
        // asks for it a frame later (the query never forces the device to flush).
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
        uint32_t pixels = 12345;
        for (int i = 0; i < 3; ++i) EXPECT_FALSE(query.GetResult(&pixels)) << "held back, try " << i;
        EXPECT_EQ(query.state(), State::Ended);
        EXPECT_EQ(pixels, 12345u) << "untouched while not ready";
        layer::HoldQueryResults(false);
        ASSERT_TRUE(AwaitResult(query, &pixels));
        EXPECT_EQ(pixels, r.pixels);
        EXPECT_FALSE(query.GetResult(&pixels)) << "once per bracket";
    }

    // Ended before a loss: the result is never read; after the reset only a new bracket counts.
    ASSERT_TRUE(query.Begin());
    ASSERT_TRUE(query.End());
    layer::ForceDeviceLoss(g_device, true);
    uint32_t pixels = 0;
    EXPECT_FALSE(query.GetResult(&pixels)) << "the device is lost";
    layer::ForceDeviceLoss(g_device, false);
    ASSERT_TRUE(app.CheckDevice());
    EXPECT_EQ(query.state(), State::Idle);
    EXPECT_FALSE(query.GetResult(&pixels));
    EXPECT_FALSE(query.End());
    app.StartFrame();
    g_device->BeginScene();
    ASSERT_TRUE(query.Begin());
    ASSERT_TRUE(backGeometry.Get()->DrawGeometry()) << "the cache refilled the geometry at the reset";
    ASSERT_TRUE(query.End());
    g_device->EndScene();
    g_device->Present(nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(AwaitResult(query, &pixels));
    EXPECT_EQ(pixels, 1200u);
}

TEST_F(GeometryLayerTest, QueriesUnsupportedByTheDriver) {
    layer::MakeQueriesUnsupported(true);
    ASSERT_TRUE(app.RecreateDevice(false));
    EXPECT_FALSE(app.OcclusionQueriesEnabled());
    OcclusionQuery query;
    EXPECT_FALSE(query.Begin());
    layer::MakeQueriesUnsupported(false);
    ASSERT_TRUE(app.RecreateDevice(false));
    EXPECT_TRUE(app.OcclusionQueriesEnabled());
}

// What the cache uploaded is what GL holds, also after a reset made every buffer again.
TEST_F(GeometryLayerTest, UploadedBytesReachGlAndComeBackAfterAReset) {
    MeshData mesh;
    MakeRectangle(&mesh, 0, 0, 10, 10, 0.5f, 0xFF123456, 4);
    const VertexFormat render = mesh.RenderFormat();
    GeometryDesc desc;
    ASSERT_TRUE(desc.InitFromMeshData(mesh, &render, true));
    SharedRef<Geometry> geometry = cache.FindEntry(desc, &mesh);
    ASSERT_TRUE(cache.UploadGeometry(geometry));
    auto gl = [&](HardwareBuffer* buffer) {
        std::vector<BYTE> bytes;
        IDirect3DResource9* resource = buffer->GetVertexBuffer();
        if (resource == nullptr) resource = buffer->GetIndexBuffer();
        EXPECT_TRUE(layer::ReadBufferObject(resource, &bytes));
        return bytes;
    };
    const std::vector<BYTE> vertices = gl(geometry.Get()->streamBuffer(0));
    const std::vector<BYTE> indices = gl(geometry.Get()->indexBuffer());
    ASSERT_EQ(vertices.size(), 4u * 28u) << "position, normal and colour";
    ASSERT_EQ(indices.size(), 12u) << "16-bit";
    DWORD colour;
    std::memcpy(&colour, vertices.data() + 28 * 2 + 24, 4);
    EXPECT_EQ(colour, 0xFF123456u);
    uint16_t third;
    std::memcpy(&third, indices.data() + 4, 2);
    EXPECT_EQ(third, 2);

    for (int cycle = 0; cycle < 3; ++cycle) {
        SCOPED_TRACE(cycle);
        ASSERT_TRUE(app.ResetNow());
        EXPECT_EQ(gl(geometry.Get()->streamBuffer(0)), vertices);
        EXPECT_EQ(gl(geometry.Get()->indexBuffer()), indices);
    }
}

// A small grid through D3DX: the same triangles come back, reordered for the cache, with
// adjacency of the right size and the skin arrays following their vertices.
TEST_F(GeometryLayerTest, VertexCacheOptimisationKeepsTheTriangles) {
    constexpr int kSide = 6;  // vertices per row
    MeshData mesh;
    VertexFormat format;
    format.SetFromElements(kPositionColour);
    ASSERT_TRUE(mesh.vertices.Allocate(kSide * kSide, format));
    std::vector<int32_t> offsets(kSide * kSide), counts(kSide * kSide);
    for (int v = 0; v < kSide * kSide; ++v) {
        const Vertex vertex{float(v % kSide), float(v / kSide), 0.5f, 0xFF000000u + v};
        std::memcpy(mesh.vertices.stream(0) + v * 16, &vertex, 16);
        offsets[v] = 1000 + v;
        counts[v] = v % 4;
    }
    const int faces = 2 * (kSide - 1) * (kSide - 1);
    ASSERT_TRUE(mesh.indices.Allocate(faces * 3, 2));
    std::vector<uint16_t> order;
    for (int y = 0; y + 1 < kSide; ++y) {
        for (int x = 0; x + 1 < kSide; ++x) {
            const uint16_t a = uint16_t(y * kSide + x), b = uint16_t(a + 1), c = uint16_t(a + kSide), d = uint16_t(c + 1);
            for (uint16_t i : {a, b, d, a, d, c}) order.push_back(i);
        }
    }
    std::memcpy(mesh.indices.data(), order.data(), order.size() * 2);

    // The triangles as sets of vertex colours (which name the original vertices), each rotated
    // to start at its smallest so winding is kept.
    auto triangles = [](const MeshData& m) {
        std::multiset<std::array<DWORD, 3>> out;
        for (int f = 0; f < m.indices.count() / 3; ++f) {
            std::array<DWORD, 3> t;
            for (int k = 0; k < 3; ++k) {
                uint32_t index = 0;
                std::memcpy(&index, m.indices.data() + (3 * f + k) * m.indices.bytesPerIndex(), m.indices.bytesPerIndex());
                std::memcpy(&t[k], m.vertices.stream(0) + index * 16 + 12, 4);
            }
            std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
            out.insert(t);
        }
        return out;
    };
    const auto before = triangles(mesh);
    EXPECT_FALSE(mesh.OptimizeForVertexCache(nullptr)) << "no adjacency";

    ID3DXMesh* d3dx = mesh.CreateD3DXMesh(D3DXMESH_SYSTEMMEM, true);
    ASSERT_NE(d3dx, nullptr);
    EXPECT_EQ(d3dx->GetNumFaces(), static_cast<DWORD>(faces));
    d3dx->Release();

    mesh.adjacency.Resize(faces * 3 * 4);
    std::memset(mesh.adjacency.Data(), 0xFF, static_cast<size_t>(faces) * 12);
    SkinArrays skin{offsets.data(), counts.data()};
    ASSERT_TRUE(mesh.OptimizeForVertexCache(&skin));
    EXPECT_EQ(triangles(mesh), before);
    EXPECT_EQ(mesh.vertices.count(), kSide * kSide);
    EXPECT_EQ(mesh.indices.bytesPerIndex(), 2);
    EXPECT_EQ(mesh.adjacency.Size(), faces * 12);
    for (int v = 0; v < kSide * kSide; ++v) {
        DWORD colour;
        std::memcpy(&colour, mesh.vertices.stream(0) + v * 16 + 12, 4);
        const int old = static_cast<int>(colour - 0xFF000000u);
        EXPECT_EQ(offsets[v], 1000 + old) << "vertex " << v;
        EXPECT_EQ(counts[v], old % 4);
    }
    // Adjacency: every edge's neighbour names this face back.
    const auto* adjacency = reinterpret_cast<const DWORD*>(mesh.adjacency.Data());
    for (int f = 0; f < faces; ++f) {
        for (int k = 0; k < 3; ++k) {
            const DWORD other = adjacency[3 * f + k];
            if (other == 0xFFFFFFFF) continue;
            ASSERT_LT(other, static_cast<DWORD>(faces));
            const DWORD* back = adjacency + 3 * other;
            EXPECT_TRUE(back[0] == DWORD(f) || back[1] == DWORD(f) || back[2] == DWORD(f));
        }
    }

    // An index count that is not a whole number of faces: the mesh takes whole faces only.
    MeshData ragged;
    MakeRectangle(&ragged, 0, 0, 1, 1, 0, 0, 4);
    ASSERT_TRUE(ragged.indices.Allocate(8, 4));
    ID3DXMesh* cut = ragged.CreateD3DXMesh(D3DXMESH_SYSTEMMEM | D3DXMESH_32BIT, true);
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(cut->GetNumFaces(), 2u);
    ASSERT_TRUE(ragged.CopyFromD3DXMesh(cut));
    EXPECT_EQ(ragged.indices.count(), 6);
    EXPECT_EQ(ragged.indices.bytesPerIndex(), 4);
    cut->Release();
}

}  // namespace
