// Mesh data and its conversions without a device: primitive counts, vertex copies between
// layouts, index copies between widths, the fixed-function render layout, the positions' box,
// point transforms and the geometry description made from a mesh.
#include "render/geometry.h"
#include "render/mesh_data.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

namespace {

constexpr D3DVERTEXELEMENT9 kEnd = D3DDECL_END();

VertexFormat Format(std::initializer_list<D3DVERTEXELEMENT9> elements) {
    std::vector<D3DVERTEXELEMENT9> list(elements);
    list.push_back(kEnd);
    VertexFormat format;
    format.SetFromElements(list.data());
    return format;
}

D3DVERTEXELEMENT9 Element(WORD stream, WORD offset, BYTE type, BYTE usage, BYTE index = 0) {
    return D3DVERTEXELEMENT9{stream, offset, type, D3DDECLMETHOD_DEFAULT, usage, index};
}

template <typename T>
T Read(const uint8_t* data, size_t offset) {
    T value;
    std::memcpy(&value, data + offset, sizeof(T));
    return value;
}

template <typename T>
void Write(uint8_t* data, size_t offset, T value) {
    std::memcpy(data + offset, &value, sizeof(T));
}

TEST(PrimitiveCountTest, PerPrimitiveType) {
    struct Row {
        D3DPRIMITIVETYPE type;
        int32_t elements;
        int32_t primitives;
    };
    const Row rows[] = {
        {D3DPT_POINTLIST, 7, 7},     {D3DPT_LINELIST, 7, 3},      {D3DPT_LINESTRIP, 7, 6},
        {D3DPT_TRIANGLELIST, 7, 2},  {D3DPT_TRIANGLESTRIP, 7, 5}, {D3DPT_TRIANGLEFAN, 7, 5},
        {static_cast<D3DPRIMITIVETYPE>(99), 7, 7},
        // Too few elements for one primitive is none, never a negative count.
        {D3DPT_LINESTRIP, 0, 0},     {D3DPT_TRIANGLESTRIP, 1, 0}, {D3DPT_TRIANGLEFAN, 2, 0},
        {D3DPT_POINTLIST, -3, 0},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(PrimitiveCount(r.type, r.elements), r.primitives) << r.type << " with " << r.elements;
    }
}

// Two source streams into one interleaved target: matching elements are copied, the rest of
// the target is left alone.
TEST(CopyVerticesTest, ElementsFindTheirCounterpartsAcrossStreams) {
    const VertexFormat from = Format({Element(0, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
                                      Element(1, 0, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR),
                                      Element(1, 4, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD),
                                      Element(1, 12, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL)});
    // Target: colour first, position, then TEXCOORD 0 in another type (not copied) and an
    // element the source lacks.
    const VertexFormat to = Format({Element(0, 0, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR),
                                    Element(0, 4, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
                                    Element(0, 16, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_TEXCOORD),
                                    Element(0, 28, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE)});
    ASSERT_EQ(from.stride(0), 12);
    ASSERT_EQ(from.stride(1), 24);
    ASSERT_EQ(to.stride(0), 32);

    VertexData source;
    ASSERT_TRUE(source.Allocate(3, from));
    for (int v = 0; v < 3; ++v) {
        Write(source.stream(0), v * 12 + 4, 10.0f * v + 1);
        Write<DWORD>(source.stream(1), v * 24, 0xFF000000u + v);
        Write(source.stream(1), v * 24 + 4, 5.0f);
    }
    std::vector<uint8_t> target(4 * 32, 0xEE);
    VertexStreams view;
    view.data[0] = target.data();
    view.count = 4;
    view.format = &to;
    view.strides[0] = 32;
    ASSERT_TRUE(CopyVertices(view, source.Streams()));
    for (int v = 0; v < 3; ++v) {
        SCOPED_TRACE(v);
        EXPECT_EQ(Read<DWORD>(target.data(), v * 32), 0xFF000000u + v);
        EXPECT_EQ(Read<float>(target.data(), v * 32 + 8), 10.0f * v + 1);
        EXPECT_EQ(target[v * 32 + 16], 0xEE) << "a texture coordinate of another type is not copied";
        EXPECT_EQ(target[v * 32 + 28], 0xEE) << "an element the source lacks is left alone";
    }
    EXPECT_EQ(target[3 * 32], 0xEE) << "the fourth vertex is not the source's";

    struct Row {
        const char* name;
        int32_t targetCount;
        bool nullStream;
        bool result;
    };
    const Row rows[] = {
        {"room for exactly the source", 3, false, true},
        {"room for fewer vertices than the source holds", 2, false, false},
        {"a stream without memory", 4, true, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<uint8_t> small(4 * 32, 0xEE);
        VertexStreams limited = view;
        limited.data[0] = r.nullStream ? nullptr : small.data();
        limited.count = r.targetCount;
        EXPECT_EQ(CopyVertices(limited, source.Streams()), r.result);
        if (!r.result) {
            EXPECT_EQ(small[0], 0xEE) << "nothing copied";
        }
    }
}

// Layouts read from files may name streams past 7 or lie past the stride their view gives:
// such elements are skipped rather than followed.
TEST(CopyVerticesTest, NoVerticesNeedNoMemory) {
    const VertexFormat format = Format({Element(0, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION)});
    VertexStreams empty;
    empty.format = &format;
    empty.strides[0] = 12;
    EXPECT_TRUE(CopyVertices(empty, empty));
}

TEST(CopyVerticesTest, ElementsOutsideTheirStreamAreSkipped) {
    const VertexFormat format = Format({Element(0, 0, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_POSITION),
                                        Element(9, 0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_NORMAL),
                                        Element(0, 4, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_COLOR)});
    std::vector<uint8_t> from(2 * 20, 1), to(2 * 20, 0);
    VertexStreams source;
    source.data[0] = from.data();
    source.count = 2;
    source.format = &format;
    source.strides[0] = 20;
    VertexStreams target = source;
    target.data[0] = to.data();
    target.strides[0] = 8;  // the colour would run past this stride
    target.count = 5;
    ASSERT_TRUE(CopyVertices(target, source));
    EXPECT_EQ(to[0], 1);
    EXPECT_EQ(to[8], 1) << "vertex 1's position at its stride";
    EXPECT_EQ(to[4], 0) << "the colour lies past the target's stride";
    EXPECT_EQ(to[16], 0);
}

TEST(CopyIndicesTest, WidthsWidenAndKeepTheLowBits) {
    const uint32_t wide[3] = {1, 65535, 70000};
    const uint16_t narrow[3] = {1, 65535, 7};
    struct Row {
        const char* name;
        int32_t fromWidth;
        int32_t toWidth;
        uint32_t expected[3];
    };
    const Row rows[] = {
        {"32 to 16 keeps the low 16 bits", 4, 2, {1, 65535, 70000 & 0xFFFF}},
        {"32 to 32", 4, 4, {1, 65535, 70000}},
        {"16 to 32 widens", 2, 4, {1, 65535, 7}},
        {"16 to 16", 2, 2, {1, 65535, 7}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        IndexStream source{reinterpret_cast<uint8_t*>(const_cast<uint32_t*>(r.fromWidth == 4 ? wide : nullptr)), 3,
                           r.fromWidth};
        if (r.fromWidth == 2) source.data = reinterpret_cast<uint8_t*>(const_cast<uint16_t*>(narrow));
        std::vector<uint8_t> out(3 * r.toWidth + 4, 0xAB);
        ASSERT_TRUE(CopyIndices(IndexStream{out.data(), 3, r.toWidth}, source));
        for (int i = 0; i < 3; ++i) {
            const uint32_t got = r.toWidth == 2 ? Read<uint16_t>(out.data(), 2 * i) : Read<uint32_t>(out.data(), 4 * i);
            EXPECT_EQ(got, r.expected[i]) << "index " << i;
        }
        EXPECT_EQ(out[3 * r.toWidth], 0xAB) << "nothing past the source's count";
    }

    uint8_t room[16] = {};
    const IndexStream source{reinterpret_cast<uint8_t*>(const_cast<uint32_t*>(wide)), 3, 4};
    EXPECT_FALSE(CopyIndices(IndexStream{room, 2, 4}, source)) << "too little room";
    EXPECT_FALSE(CopyIndices(IndexStream{room, 4, 3}, source)) << "a width of 3";
    EXPECT_FALSE(CopyIndices(IndexStream{nullptr, 4, 4}, source));
    EXPECT_FALSE(CopyIndices(IndexStream{room, 4, 4}, IndexStream{room, -1, 4}));
    EXPECT_TRUE(CopyIndices(IndexStream{nullptr, 0, 2}, IndexStream{nullptr, 0, 4})) << "nothing to copy";
}

TEST(MeshDataTest, RenderFormatKeepsTheElementsTheMeshHas) {
    struct Row {
        const char* name;
        bool colour, tex0, tex1;
        int32_t colourAt, tex0At, tex1At, stride;
    };
    const Row rows[] = {
        {"position and normal only", false, false, false, -1, -1, -1, 24},
        {"all three", true, true, true, 24, 28, 36, 44},
        {"TEXCOORD 1 alone", false, false, true, -1, -1, 24, 32},
        {"colour alone", true, false, false, 24, -1, -1, 28},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::vector<D3DVERTEXELEMENT9> own = {Element(0, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION)};
        // The mesh's own types do not matter; only which elements it has.
        if (r.tex1) own.push_back(Element(1, 0, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_TEXCOORD, 1));
        if (r.colour) own.push_back(Element(0, 12, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_COLOR));
        if (r.tex0) own.push_back(Element(0, 28, D3DDECLTYPE_FLOAT2, D3DDECLUSAGE_TEXCOORD));
        own.push_back(kEnd);
        VertexFormat format;
        format.SetFromElements(own.data());
        MeshData mesh;
        ASSERT_TRUE(mesh.vertices.Allocate(1, format));

        const VertexFormat render = mesh.RenderFormat();
        EXPECT_EQ(render.streamCount(), 1);
        EXPECT_EQ(render.stride(0), r.stride);
        EXPECT_EQ(render.element(render.FindElement(D3DDECLUSAGE_NORMAL, 0)).Offset, 12);
        const struct {
            BYTE usage, index;
            int32_t at;
            BYTE type;
        } expected[] = {{D3DDECLUSAGE_COLOR, 0, r.colourAt, D3DDECLTYPE_D3DCOLOR},
                        {D3DDECLUSAGE_TEXCOORD, 0, r.tex0At, D3DDECLTYPE_FLOAT2},
                        {D3DDECLUSAGE_TEXCOORD, 1, r.tex1At, D3DDECLTYPE_FLOAT2}};
        for (const auto& e : expected) {
            const int32_t found = render.FindElement(e.usage, e.index);
            if (e.at < 0) {
                EXPECT_EQ(found, -1);
                continue;
            }
            ASSERT_GE(found, 0);
            EXPECT_EQ(render.element(found).Offset, e.at);
            EXPECT_EQ(render.element(found).Type, e.type);
        }
    }
}

TEST(MeshDataTest, BoxOfThePositionsWhereverTheyLie) {
    MeshData mesh;
    EXPECT_FALSE(mesh.ComputeBounds()) << "no vertices";

    const VertexFormat format = Format({Element(0, 0, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR),
                                        Element(1, 0, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_PSIZE),
                                        Element(1, 4, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION)});
    ASSERT_TRUE(mesh.vertices.Allocate(2, format));
    const float points[2][3] = {{-1, 0, 4}, {3, 2, 8}};
    for (int v = 0; v < 2; ++v) std::memcpy(mesh.vertices.stream(1) + v * 16 + 4, points[v], 12);
    Write(mesh.vertices.stream(1), 0, 1000.0f);  // the point size before the position
    ASSERT_TRUE(mesh.ComputeBounds());
    ASSERT_TRUE(mesh.IsValid());
    EXPECT_FLOAT_EQ(mesh.GetBox().centre.x, 1.0f);
    EXPECT_FLOAT_EQ(mesh.GetBox().size.y, 2.0f);
    EXPECT_FLOAT_EQ(mesh.GetBox().size.z, 4.0f);

    struct Row {
        const char* name;
        VertexFormat format;
    };
    const Row rows[] = {
        {"no position", Format({Element(0, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_NORMAL)})},
        {"a position of one float", Format({Element(0, 0, D3DDECLTYPE_FLOAT1, D3DDECLUSAGE_POSITION)})},
        {"a packed position", Format({Element(0, 0, D3DDECLTYPE_SHORT4, D3DDECLUSAGE_POSITION)})},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        MeshData other;
        ASSERT_TRUE(other.vertices.Allocate(4, r.format));
        EXPECT_TRUE(other.ComputeBounds());
        EXPECT_FALSE(other.IsValid());
    }
}

TEST(MeshDataTest, AllocationRefusesNegativeAndOverflowingSizes) {
    const VertexFormat wide = Format({Element(0, 65000, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION)});
    VertexData vertices;
    EXPECT_FALSE(vertices.Allocate(-1, wide));
    EXPECT_FALSE(vertices.Allocate(40000, wide)) << "40000 x 65016 bytes overflow an int";
    EXPECT_EQ(vertices.count(), 0);
    EXPECT_EQ(vertices.stream(0), nullptr);
    ASSERT_TRUE(vertices.Allocate(2, wide));
    vertices.stream(0)[5] = 42;
    ASSERT_TRUE(vertices.Allocate(2, wide));
    EXPECT_EQ(vertices.stream(0)[5], 42) << "the same count and format keep the bytes";

    IndexData indices;
    EXPECT_FALSE(indices.Allocate(-1, 2));
    EXPECT_FALSE(indices.Allocate(10, 3));
    EXPECT_FALSE(indices.Allocate(INT_MAX / 2, 4));
    ASSERT_TRUE(indices.Allocate(10, 4));
    EXPECT_EQ(Read<uint32_t>(indices.data(), 36), 0u) << "zero-filled";
}

TEST(MeshDataTest, TransformPointsMovesOnlyThePositions) {
    float records[2][4] = {{1, 2, 3, 99}, {-1, 0, 5, 98}};
    D3DXMATRIX move(1, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1);
    ASSERT_TRUE(TransformPoints(records, 16, 2, move));
    EXPECT_FLOAT_EQ(records[0][0], 11);
    EXPECT_FLOAT_EQ(records[0][1], 24);
    EXPECT_FLOAT_EQ(records[1][2], 35);
    EXPECT_EQ(records[0][3], 99);
    EXPECT_EQ(records[1][3], 98);
    EXPECT_FALSE(TransformPoints(records, 8, 2, move)) << "a record shorter than a point";
    EXPECT_FALSE(TransformPoints(records, 16, -1, move));
    EXPECT_FLOAT_EQ(records[0][0], 11);
}

TEST(GeometryDescTest, IndexWidthFollowsIndexAndVertexCounts) {
    const VertexFormat format = Format({Element(0, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION)});
    struct Row {
        int32_t vertices;
        int32_t indices;
        D3DFORMAT width;
    };
    const Row rows[] = {
        {100, 40000, D3DFMT_INDEX32}, {100, 32767, D3DFMT_INDEX16}, {100, 32768, D3DFMT_INDEX32},
        // Few indices naming vertices past 65,535 need 32 bits too.
        {65537, 300, D3DFMT_INDEX32}, {65536, 300, D3DFMT_INDEX16}, {3, 0, D3DFMT_INDEX16},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.vertices << " vertices, " << r.indices << " indices");
        MeshData mesh;
        ASSERT_TRUE(mesh.vertices.Allocate(r.vertices, format));
        ASSERT_TRUE(mesh.indices.Allocate(r.indices, 4));
        GeometryDesc desc;
        ASSERT_TRUE(desc.InitFromMeshData(mesh, nullptr, false));
        EXPECT_EQ(desc.indices.indexFormat, r.width);
        EXPECT_EQ(desc.indices.kind, BufferKind::Index);
        EXPECT_EQ(desc.indices.flags, 0x0A);
        EXPECT_EQ(desc.indices.size, r.indices * (r.width == D3DFMT_INDEX16 ? 2 : 4));
        EXPECT_EQ(desc.streams[0].size, r.vertices * 12);
    }
}

TEST(GeometryDescTest, StreamsPoolsAndRefusals) {
    const VertexFormat twoStreams = Format({Element(0, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION),
                                            Element(1, 0, D3DDECLTYPE_D3DCOLOR, D3DDECLUSAGE_COLOR)});
    MeshData mesh;
    ASSERT_TRUE(mesh.vertices.Allocate(10, twoStreams));
    for (bool dynamic : {false, true}) {
        SCOPED_TRACE(dynamic ? "dynamic" : "static");
        GeometryDesc desc;
        ASSERT_TRUE(desc.InitFromMeshData(mesh, nullptr, dynamic));
        for (int s = 0; s < 2; ++s) {
            EXPECT_EQ(desc.streams[s].kind, BufferKind::Vertex);
            EXPECT_EQ(desc.streams[s].flags, dynamic ? 0x99 : 0x88);
            EXPECT_EQ(desc.streams[s].pool, dynamic ? D3DPOOL_SYSTEMMEM : D3DPOOL_DEFAULT);
            EXPECT_EQ(desc.streams[s].usage, dynamic ? static_cast<DWORD>(D3DUSAGE_DYNAMIC) : 0u);
            EXPECT_EQ(desc.streams[s].format.element(0).Stream, 0) << "renumbered to stream 0";
        }
        EXPECT_EQ(desc.streams[1].stride, 4);
        EXPECT_EQ(desc.streams[1].size, 40);
        EXPECT_EQ(desc.streams[2].flags, 0) << "past the stream count";

        const VertexFormat render = mesh.RenderFormat();
        ASSERT_TRUE(desc.SetVertexFormat(mesh, render));
        EXPECT_EQ(desc.streams[0].size, 10 * 28);
        EXPECT_EQ(desc.streams[0].flags, dynamic ? 0x99 : 0x88) << "flags stay";
    }

    GeometryDesc desc;
    MeshData empty;
    EXPECT_FALSE(desc.InitFromMeshData(empty, nullptr, false)) << "no vertices";
    const VertexFormat gap = Format({Element(1, 0, D3DDECLTYPE_FLOAT3, D3DDECLUSAGE_POSITION)});
    EXPECT_FALSE(desc.InitFromMeshData(mesh, &gap, false)) << "stream 0 of stride 0";
    MeshData many;
    ASSERT_TRUE(many.vertices.Allocate(40000, twoStreams));
    const VertexFormat huge = Format({Element(0, 65000, D3DDECLTYPE_FLOAT4, D3DDECLUSAGE_POSITION)});
    EXPECT_FALSE(desc.InitFromMeshData(many, &huge, false)) << "a stream size past an int";
}

}  // namespace
