// Geometry and the geometry buffer cache on a test-double device whose buffers keep their
// bytes: what reaches the draw calls, the byte budget and its eviction order, matching of
// requests to cached geometries, refills after a reset, failed uploads and destruction.
#include "render/geometry_buffer_cache.h"

#include "core/settings/frame_stats.h"
#include "tests/render/support/fake_framework.h"
#include "tests/render/support/fake_resources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

namespace {

using rh::test::FakeFramework;
using rh::test::FakeIndexBuffer;
using rh::test::FakeVertexBuffer;
using rh::test::ResourceDevice;

constexpr D3DVERTEXELEMENT9 kPositionColour[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    D3DDECL_END(),
};

// A mesh of `vertices` position-and-colour vertices (16 bytes each; vertex v at (v, 2v, 3v) with
// colour 0xFF000000 + v) and `indices` indices of the given width (index i names i % vertices).
std::unique_ptr<MeshData> MakeMesh(int32_t vertices, int32_t indices, int32_t width = 2) {
    auto mesh = std::make_unique<MeshData>();
    VertexFormat format;
    format.SetFromElements(kPositionColour);
    EXPECT_TRUE(mesh->vertices.Allocate(vertices, format));
    for (int32_t v = 0; v < vertices; ++v) {
        const float p[3] = {1.0f * v, 2.0f * v, 3.0f * v};
        const DWORD colour = 0xFF000000u + static_cast<DWORD>(v);
        std::memcpy(mesh->vertices.stream(0) + 16 * v, p, 12);
        std::memcpy(mesh->vertices.stream(0) + 16 * v + 12, &colour, 4);
    }
    EXPECT_TRUE(mesh->indices.Allocate(indices, width));
    for (int32_t i = 0; i < indices; ++i) {
        const uint32_t index = static_cast<uint32_t>(i % vertices);
        std::memcpy(mesh->indices.data() + width * i, &index, static_cast<size_t>(width));
    }
    return mesh;
}

GeometryDesc DescFor(const MeshData& mesh, bool dynamic = false, const VertexFormat* format = nullptr) {
    GeometryDesc desc;
    EXPECT_TRUE(desc.InitFromMeshData(mesh, format, dynamic));
    return desc;
}

const std::vector<uint8_t>& VertexBytes(const Geometry& g, int stream = 0) {
    return static_cast<FakeVertexBuffer*>(g.streamBuffer(stream)->GetVertexBuffer())->bytes;
}

const std::vector<uint8_t>& IndexBytes(const Geometry& g) {
    return static_cast<FakeIndexBuffer*>(g.indexBuffer()->GetIndexBuffer())->bytes;
}

class GeometryTest : public ::testing::Test {
protected:
    GeometryTest() {
        g_frameStats.ClearFrameCounters();
        g_frameStats.enabled = true;
    }
    ~GeometryTest() override { g_frameStats.ClearFrameCounters(); }

    int Triangles() const { return g_frameStats.Read(FrameStats::kFrameSlot, kStatTriangles); }

    ResourceDevice device;
    FakeFramework framework{&device};
    GeometryBufferCache cache;
};

TEST_F(GeometryTest, DrawsTheUsedSpansAndReportsTheDraw) {
    auto mesh = MakeMesh(30, 60);
    struct Row {
        const char* name;
        bool indexed;
        D3DPRIMITIVETYPE type;
        HRESULT answer;
        bool result;
        UINT primitives;
    };
    const Row rows[] = {
        {"indexed triangles", true, D3DPT_TRIANGLELIST, D3D_OK, true, 20},
        {"a triangle strip from the vertices", false, D3DPT_TRIANGLESTRIP, D3D_OK, true, 28},
        {"a draw the device refuses", true, D3DPT_TRIANGLELIST, D3DERR_INVALIDCALL, false, 20},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        g_frameStats.ClearFrameCounters();
        device.draws.clear();
        device.drawAnswer = r.answer;
        GeometryDesc desc = DescFor(*mesh);
        desc.primitiveType = r.type;
        if (!r.indexed) desc.indices.size = 0;
        Geometry geometry;
        ASSERT_TRUE(geometry.CreateBuffers(&desc));
        EXPECT_EQ(geometry.indexBuffer() != nullptr, r.indexed);
        ASSERT_NE(geometry.streamBuffer(0)->AllocateBlock(30 * 16, 0, nullptr), nullptr);
        if (r.indexed) {
            ASSERT_NE(geometry.indexBuffer()->AllocateBlock(60 * 2, 0, nullptr), nullptr);
        }

        EXPECT_EQ(geometry.DrawGeometry(), r.result);
        ASSERT_EQ(device.draws.size(), 1u);
        const rh::test::DrawRecord& draw = device.draws[0];
        EXPECT_EQ(draw.indexed, r.indexed);
        EXPECT_EQ(draw.type, r.type);
        EXPECT_EQ(draw.primitives, r.primitives);
        EXPECT_EQ(draw.start, 0u);
        if (r.indexed) {
            EXPECT_EQ(draw.numVertices, 30u);
        }
        EXPECT_EQ(device.streams[0], geometry.streamBuffer(0)->GetVertexBuffer());
        EXPECT_EQ(device.streamStrides[0], 16u);
        EXPECT_EQ(Triangles(), r.result ? static_cast<int>(r.primitives) : 0) << "only drawn primitives count";
    }
    device.drawAnswer = D3D_OK;
}

TEST_F(GeometryTest, NothingMissingIsDrawn) {
    auto mesh = MakeMesh(30, 0);
    GeometryDesc desc = DescFor(*mesh);
    Geometry geometry;
    EXPECT_FALSE(geometry.DrawGeometry()) << "no buffers";
    ASSERT_TRUE(geometry.CreateBuffers(&desc));
    EXPECT_TRUE(geometry.DrawGeometry()) << "an empty span draws nothing";
    EXPECT_TRUE(device.draws.empty());

    BufferBlock* block = geometry.streamBuffer(0)->AllocateBlock(30 * 16, 0, nullptr);
    ASSERT_NE(block, nullptr);
    // Growth whose two creations both fail leaves the blocks without device memory.
    device.refuseBuffer = [](UINT) { return true; };
    EXPECT_EQ(geometry.streamBuffer(0)->AllocateBlock(16, 0, nullptr), nullptr);
    EXPECT_FALSE(geometry.DrawGeometry());
    EXPECT_TRUE(device.draws.empty()) << "nothing reaches the device";
    device.refuseBuffer = nullptr;
    ASSERT_TRUE(framework.Reset());
    EXPECT_TRUE(geometry.DrawGeometry()) << "the restore brings the device buffer back";
    EXPECT_EQ(device.draws.size(), 1u);
}

TEST_F(GeometryTest, AFailedCreationKeepsNoBuffers) {
    auto mesh = MakeMesh(10, 30);
    GeometryDesc desc = DescFor(*mesh);
    Geometry geometry;
    device.refuseBuffer = [](UINT length) { return length == 30 * 2; };  // the index buffer
    EXPECT_FALSE(geometry.CreateBuffers(&desc));
    EXPECT_EQ(geometry.streamBuffer(0), nullptr) << "the stream made before the failure is released";
    EXPECT_EQ(FakeVertexBuffer::live, 0);
}

TEST_F(GeometryTest, UploadFillsFromTheSourceInTheRequestedLayout) {
    auto mesh = MakeMesh(5, 9, 4);
    // A two-stream layout: colours in stream 0, positions in stream 1.
    const D3DVERTEXELEMENT9 split[] = {
        {0, 0, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
        {1, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        D3DDECL_END(),
    };
    VertexFormat format;
    format.SetFromElements(split);
    SharedRef<Geometry> geometry = cache.FindEntry(DescFor(*mesh, false, &format), mesh.get());
    ASSERT_NE(geometry.Get(), nullptr);
    EXPECT_EQ(*geometry.refs(), 1) << "the cache keeps no count";
    EXPECT_TRUE(cache.IsEvicted(geometry.Get())) << "no buffers yet";
    ASSERT_TRUE(cache.UploadGeometry(geometry));
    EXPECT_FALSE(cache.IsEvicted(geometry.Get()));
    EXPECT_EQ(cache.usedBytes(), 5 * 16 + 9 * 2);

    auto check = [&] {
        const std::vector<uint8_t>& colours = VertexBytes(*geometry.Get(), 0);
        const std::vector<uint8_t>& positions = VertexBytes(*geometry.Get(), 1);
        ASSERT_EQ(colours.size(), 20u);
        ASSERT_EQ(positions.size(), 60u);
        for (int v = 0; v < 5; ++v) {
            DWORD colour;
            float p[3];
            std::memcpy(&colour, colours.data() + 4 * v, 4);
            std::memcpy(p, positions.data() + 12 * v, 12);
            EXPECT_EQ(colour, 0xFF000000u + v);
            EXPECT_EQ(p[2], 3.0f * v);
        }
        const std::vector<uint8_t>& indices = IndexBytes(*geometry.Get());
        ASSERT_EQ(indices.size(), 18u) << "9 indices of 32 bits become 16-bit";
        for (int i = 0; i < 9; ++i) {
            uint16_t index;
            std::memcpy(&index, indices.data() + 2 * i, 2);
            EXPECT_EQ(index, i % 5);
        }
    };
    check();
    // A loss and reset: every buffer is made again (0xCD) and refilled from the source.
    ASSERT_TRUE(framework.Reset());
    check();
    EXPECT_TRUE(cache.UploadGeometry(geometry)) << "already uploaded";
    EXPECT_EQ(cache.UploadCount(), 1);
}

TEST_F(GeometryTest, TwoLargeGeometriesEvictEachOther) {
    // 625,000 vertices of 16 bytes: 10,000,000 bytes each.
    auto first = MakeMesh(625000, 0);
    auto second = MakeMesh(625000, 0);
    SharedRef<Geometry> a = cache.FindEntry(DescFor(*first), first.get());
    SharedRef<Geometry> b = cache.FindEntry(DescFor(*second), second.get());
    EXPECT_EQ(cache.EntryBytes(a.Get()), 10000000);

    ASSERT_TRUE(cache.UploadGeometry(a));
    ASSERT_TRUE(cache.UploadGeometry(b));
    EXPECT_TRUE(cache.IsEvicted(a.Get()));
    EXPECT_EQ(a.Get()->streamBuffer(0), nullptr) << "the first one's buffers are gone";
    EXPECT_EQ(cache.usedBytes(), 10000000);
    EXPECT_EQ(cache.UploadedAt(0), b.Get());

    ASSERT_TRUE(cache.UploadGeometry(a)) << "drawing the first again uploads it again";
    EXPECT_TRUE(cache.IsEvicted(b.Get()));
    EXPECT_EQ(cache.UploadCount(), 1);
    EXPECT_EQ(cache.usedBytes(), 10000000);
    EXPECT_EQ(FakeVertexBuffer::live, 1);

    // Above the whole budget: uploaded without evicting anything.
    auto huge = MakeMesh(1100000, 0);
    SharedRef<Geometry> c = cache.FindEntry(DescFor(*huge), huge.get());
    EXPECT_FALSE(cache.EvictUntilFree(cache.EntryBytes(c.Get())));
    ASSERT_TRUE(cache.UploadGeometry(c));
    EXPECT_FALSE(cache.IsEvicted(a.Get()));
    EXPECT_EQ(cache.usedBytes(), 10000000 + 17600000);
    EXPECT_GT(cache.usedBytes(), cache.budget());
}

TEST_F(GeometryTest, RequestsMatchCachedGeometries) {
    auto mesh = MakeMesh(10, 30);
    SharedRef<Geometry> stat = cache.FindEntry(DescFor(*mesh, false), mesh.get());
    SharedRef<Geometry> again = cache.FindEntry(DescFor(*mesh, false), mesh.get());
    EXPECT_EQ(again.Get(), stat.Get());
    EXPECT_EQ(*stat.refs(), 2) << "a found geometry comes with a new counted reference";

    SharedRef<Geometry> dynamic = cache.FindEntry(DescFor(*mesh, true), mesh.get());
    EXPECT_NE(dynamic.Get(), stat.Get()) << "a dynamic request differs in pool";
    EXPECT_EQ(cache.FindEntry(DescFor(*mesh, true), mesh.get()).Get(), dynamic.Get());

    const VertexFormat render = mesh->RenderFormat();
    EXPECT_NE(cache.FindEntry(DescFor(*mesh, false, &render), mesh.get()).Get(), stat.Get()) << "another layout";
    auto other = MakeMesh(10, 30);
    EXPECT_NE(cache.FindEntry(DescFor(*other), other.get()).Get(), stat.Get()) << "another source";
    EXPECT_EQ(cache.geometryCount(), 2) << "the temporaries died and were forgotten";

    ASSERT_TRUE(cache.UploadGeometry(dynamic));
    EXPECT_EQ(static_cast<FakeVertexBuffer*>(dynamic.Get()->streamBuffer(0)->GetVertexBuffer())->pool,
              D3DPOOL_SYSTEMMEM);
    EXPECT_EQ(dynamic.Get()->streamBuffer(0)->GetUsage(), static_cast<DWORD>(D3DUSAGE_DYNAMIC));
    EXPECT_EQ(device.lastVertexBuffer->lastLockFlags, static_cast<DWORD>(D3DLOCK_DISCARD));
    SharedRef<Geometry> foreign(new Geometry);
    EXPECT_FALSE(cache.UploadGeometry(foreign)) << "not the cache's";
}

// A failed upload keeps nothing: a half-made geometry would count as uploaded and draw without
// its index buffer.
TEST_F(GeometryTest, AFailedUploadKeepsNoBuffers) {
    auto mesh = MakeMesh(10, 30);
    SharedRef<Geometry> geometry = cache.FindEntry(DescFor(*mesh), mesh.get());
    struct Row {
        const char* name;
        std::function<void()> breakIt;
    };
    const Row rows[] = {
        {"the index buffer is refused", [&] { device.refuseBuffer = [](UINT length) { return length == 60; }; }},
        {"the fill cannot lock", [&] {
             device.refuseBuffer = nullptr;
             device.failLocks = true;
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        r.breakIt();
        EXPECT_FALSE(cache.UploadGeometry(geometry));
        device.failLocks = false;
        EXPECT_EQ(geometry.Get()->streamBuffer(0), nullptr);
        EXPECT_EQ(geometry.Get()->indexBuffer(), nullptr);
        EXPECT_EQ(cache.usedBytes(), 0);
        EXPECT_EQ(cache.UploadCount(), 0);
        EXPECT_EQ(FakeVertexBuffer::live + FakeIndexBuffer::live, 0);
    }
    device.refuseBuffer = nullptr;
    ASSERT_TRUE(cache.UploadGeometry(geometry));
    EXPECT_NE(geometry.Get()->indexBuffer(), nullptr);
}

TEST_F(GeometryTest, DestroyedGeometriesAreForgottenWithTheirBytes) {
    auto mesh = MakeMesh(100, 300);
    {
        SharedRef<Geometry> geometry = cache.FindEntry(DescFor(*mesh), mesh.get());
        ASSERT_TRUE(cache.UploadGeometry(geometry));
        EXPECT_EQ(cache.usedBytes(), 100 * 16 + 300 * 2);
        EXPECT_EQ(cache.geometryCount(), 1);
    }
    EXPECT_EQ(cache.geometryCount(), 0);
    EXPECT_EQ(cache.UploadCount(), 0);
    EXPECT_EQ(cache.usedBytes(), 0) << "the budget does not shrink with every mesh ever drawn";
    EXPECT_EQ(FakeVertexBuffer::live + FakeIndexBuffer::live, 0);

    // A geometry that outlives its cache no longer tells it.
    SharedRef<Geometry> survivor;
    {
        GeometryBufferCache shortLived;
        survivor = shortLived.FindEntry(DescFor(*mesh), mesh.get());
        ASSERT_TRUE(shortLived.UploadGeometry(survivor));
    }
    EXPECT_NE(survivor.Get()->streamBuffer(0), nullptr) << "its buffers stay with it";
    survivor.Release();
    EXPECT_EQ(FakeVertexBuffer::live, 0);
}

TEST_F(GeometryTest, EvictAndUploadAgain) {
    auto mesh = MakeMesh(10, 30);
    SharedRef<Geometry> a = cache.FindEntry(DescFor(*mesh), mesh.get());
    SharedRef<Geometry> b = cache.FindEntry(DescFor(*mesh, true), mesh.get());
    ASSERT_TRUE(cache.UploadGeometry(a));
    ASSERT_TRUE(cache.UploadGeometry(b));
    cache.Evict(a);
    EXPECT_EQ(cache.UploadCount(), 1) << "an evicted geometry leaves the upload order";
    EXPECT_EQ(cache.usedBytes(), 220);
    cache.Evict(a);
    EXPECT_EQ(cache.usedBytes(), 220) << "evicting twice takes nothing more";
    ASSERT_TRUE(cache.UploadGeometry(a));
    EXPECT_EQ(cache.UploadedAt(0), b.Get());
    EXPECT_EQ(cache.UploadedAt(1), a.Get()) << "the newest upload at the end";
    EXPECT_EQ(cache.UploadCount(), 2);
}

}  // namespace
