// Conformance of D3DX meshes: D3DXCreateMesh's checks and accessors, the buffer locks, the
// device reference, and OptimizeInplace for the vertex cache: the same triangles with their
// winding, vertices renumbered by first use with the remap new[i] = old[remap[i]], adjacency
// as three neighbouring faces per face, and a cache miss ratio as good as a reference
// optimiser's (the Debian package meshoptimizer, linked into this test only).
//
// Every cache figure here is the average number of vertices fetched per triangle through a
// first-in-first-out cache of 16 vertices (meshopt_analyzeVertexCache with that size).

#include "tests/platform/d3d9_test_support.h"

#include <d3d9.h>
#include <d3dx9mesh.h>
#include <windows.h>

#include <gtest/gtest.h>
#include <meshoptimizer.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using d3d9_test::RefCount;

constexpr DWORD kNoFace = 0xFFFFFFFFu;
constexpr unsigned kFifoSize = 16;

// Position at 0, a D3DCOLOR at 12: 16 bytes. The colour of vertex i holds i, so that vertices
// can be followed through a reordering.
constexpr D3DVERTEXELEMENT9 kTaggedVertex[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    D3DDECL_END()};
constexpr DWORD kTaggedStride = 16;
constexpr DWORD kTagOffset = 12;

struct Triangles {
    std::vector<uint32_t> indices;
    uint32_t vertexCount = 0;
    size_t FaceCount() const { return indices.size() / 3; }
};

// A square grid of n x n cells, each two triangles, row by row: the order a modeller or a
// generator writes.
Triangles Grid(uint32_t n) {
    Triangles t;
    t.vertexCount = (n + 1) * (n + 1);
    for (uint32_t y = 0; y < n; ++y) {
        for (uint32_t x = 0; x < n; ++x) {
            const uint32_t a = y * (n + 1) + x, b = a + 1, c = a + n + 1, d = c + 1;
            t.indices.insert(t.indices.end(), {a, b, c, b, d, c});
        }
    }
    return t;
}

// A grid whose cells are cut along either diagonal at random: vertices of 4 to 8 faces.
Triangles CutGrid(uint32_t n, uint32_t seed) {
    std::mt19937 random(seed);
    Triangles t;
    t.vertexCount = (n + 1) * (n + 1);
    for (uint32_t y = 0; y < n; ++y) {
        for (uint32_t x = 0; x < n; ++x) {
            const uint32_t a = y * (n + 1) + x, b = a + 1, c = a + n + 1, d = c + 1;
            if ((random() & 1) != 0) {
                t.indices.insert(t.indices.end(), {a, b, c, b, d, c});
            } else {
                t.indices.insert(t.indices.end(), {a, b, d, a, d, c});
            }
        }
    }
    return t;
}

// A closed tube of rings x segments cells, with each end closed by a fan around one vertex.
Triangles Cylinder(uint32_t segments, uint32_t rings) {
    Triangles t;
    t.vertexCount = (rings + 1) * segments + 2;
    for (uint32_t r = 0; r < rings; ++r) {
        for (uint32_t s = 0; s < segments; ++s) {
            const uint32_t a = r * segments + s, b = r * segments + (s + 1) % segments;
            t.indices.insert(t.indices.end(), {a, a + segments, b, b, a + segments, b + segments});
        }
    }
    const uint32_t top = (rings + 1) * segments, bottom = top + 1;
    for (uint32_t s = 0; s < segments; ++s) {
        t.indices.insert(t.indices.end(), {top, s, (s + 1) % segments});
        t.indices.insert(t.indices.end(), {bottom, rings * segments + (s + 1) % segments, rings * segments + s});
    }
    return t;
}

// The same triangles with faces and vertex numbers both in a random order: the worst input.
Triangles Shuffled(const Triangles& in, uint32_t seed) {
    std::mt19937 random(seed);
    auto permutation = [&](uint32_t n) {
        std::vector<uint32_t> p(n);
        for (uint32_t i = 0; i < n; ++i) p[i] = i;
        for (uint32_t i = n; i > 1; --i) std::swap(p[i - 1], p[random() % i]);
        return p;
    };
    const std::vector<uint32_t> faces = permutation(static_cast<uint32_t>(in.FaceCount()));
    const std::vector<uint32_t> vertices = permutation(in.vertexCount);
    Triangles out;
    out.vertexCount = in.vertexCount;
    for (uint32_t f : faces) {
        for (int k = 0; k < 3; ++k) out.indices.push_back(vertices[in.indices[3 * f + k]]);
    }
    return out;
}

// Many separate small tubes: the optimiser meets a dead end at the end of each.
Triangles Tubes(uint32_t count) {
    Triangles t;
    for (uint32_t i = 0; i < count; ++i) {
        const Triangles tube = Cylinder(8, 3);
        for (uint32_t index : tube.indices) t.indices.push_back(index + t.vertexCount);
        t.vertexCount += tube.vertexCount;
    }
    return t;
}

float Acmr(const std::vector<uint32_t>& indices, uint32_t vertexCount) {
    return meshopt_analyzeVertexCache(indices.data(), indices.size(), vertexCount, kFifoSize, 0, 0).acmr;
}

// Each face's corners rotated so that the smallest index leads: the same triangle with the
// same winding gives the same triple.
std::vector<std::array<uint32_t, 3>> WoundTriangles(const std::vector<uint32_t>& indices) {
    std::vector<std::array<uint32_t, 3>> out;
    for (size_t f = 0; f < indices.size() / 3; ++f) {
        const uint32_t* c = &indices[3 * f];
        const int lead = static_cast<int>(std::min_element(c, c + 3) - c);
        out.push_back({c[lead], c[(lead + 1) % 3], c[(lead + 2) % 3]});
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Adjacency by its definition, by brute force: for each face in order and each of its edges
// still unpaired, the first later face with an unpaired edge over the same two vertices.
std::vector<DWORD> BruteForceAdjacency(const std::vector<uint32_t>& indices) {
    const size_t faces = indices.size() / 3;
    std::vector<DWORD> adjacency(indices.size(), kNoFace);
    auto degenerate = [&](size_t f) {
        const uint32_t* c = &indices[3 * f];
        return c[0] == c[1] || c[1] == c[2] || c[0] == c[2];
    };
    auto edge = [&](size_t f, int k) {
        uint32_t a = indices[3 * f + k], b = indices[3 * f + (k + 1) % 3];
        return std::make_pair(std::min(a, b), std::max(a, b));
    };
    for (size_t f = 0; f < faces; ++f) {
        if (degenerate(f)) continue;
        for (int k = 0; k < 3; ++k) {
            if (adjacency[3 * f + k] != kNoFace) continue;
            for (size_t g = f + 1; g < faces && adjacency[3 * f + k] == kNoFace; ++g) {
                if (degenerate(g)) continue;
                for (int j = 0; j < 3; ++j) {
                    if (adjacency[3 * g + j] == kNoFace && edge(g, j) == edge(f, k)) {
                        adjacency[3 * f + k] = static_cast<DWORD>(g);
                        adjacency[3 * g + j] = static_cast<DWORD>(f);
                        break;
                    }
                }
            }
        }
    }
    return adjacency;
}

class MeshTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        d3d_ = Direct3DCreate9(D3D_SDK_VERSION);
        ASSERT_NE(d3d_, nullptr);
        window_ = new d3d9_test::TestWindow(64, 64);
        D3DPRESENT_PARAMETERS pp = d3d9_test::WindowedParameters();
        ASSERT_EQ(d3d_->CreateDevice(0, D3DDEVTYPE_HAL, window_->hwnd(), D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp,
                                     &device_),
                  D3D_OK);
    }
    static void TearDownTestSuite() {
        if (device_ != nullptr) { EXPECT_EQ(device_->Release(), 0u) << "a mesh kept the device"; }
        delete window_;
        if (d3d_ != nullptr) d3d_->Release();
        device_ = nullptr;
        window_ = nullptr;
        d3d_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(device_, nullptr); }

    // A mesh of t with tagged vertices; null (after a failed assertion) on failure.
    static ID3DXMesh* MakeMesh(const Triangles& t, DWORD options) {
        ID3DXMesh* mesh = nullptr;
        EXPECT_EQ(D3DXCreateMesh(static_cast<DWORD>(t.FaceCount()), t.vertexCount, options, kTaggedVertex, device_,
                                 &mesh),
                  D3D_OK);
        if (mesh == nullptr) return nullptr;
        void* data = nullptr;
        EXPECT_EQ(mesh->LockVertexBuffer(D3DLOCK_DISCARD, &data), D3D_OK);
        auto* bytes = static_cast<BYTE*>(data);
        for (uint32_t v = 0; v < t.vertexCount; ++v) {
            const float position[3] = {static_cast<float>(v), 0.5f, -1.0f};
            std::memcpy(bytes + v * kTaggedStride, position, sizeof position);
            std::memcpy(bytes + v * kTaggedStride + kTagOffset, &v, 4);
        }
        EXPECT_EQ(mesh->UnlockVertexBuffer(), D3D_OK);
        EXPECT_EQ(mesh->LockIndexBuffer(D3DLOCK_DISCARD, &data), D3D_OK);
        for (size_t i = 0; i < t.indices.size(); ++i) {
            if ((options & D3DXMESH_32BIT) != 0) {
                static_cast<uint32_t*>(data)[i] = t.indices[i];
            } else {
                static_cast<uint16_t*>(data)[i] = static_cast<uint16_t>(t.indices[i]);
            }
        }
        EXPECT_EQ(mesh->UnlockIndexBuffer(), D3D_OK);
        return mesh;
    }

    static std::vector<uint32_t> Indices(ID3DXMesh* mesh) {
        void* data = nullptr;
        EXPECT_EQ(mesh->LockIndexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
        std::vector<uint32_t> out(mesh->GetNumFaces() * 3);
        for (size_t i = 0; i < out.size(); ++i) {
            out[i] = (mesh->GetOptions() & D3DXMESH_32BIT) != 0 ? static_cast<uint32_t*>(data)[i]
                                                              : static_cast<uint16_t*>(data)[i];
        }
        EXPECT_EQ(mesh->UnlockIndexBuffer(), D3D_OK);
        return out;
    }

    // Each vertex's tag (its number when the mesh was made) and its position's x, which
    // must agree: the whole vertex moved, not just a part.
    static std::vector<uint32_t> Tags(ID3DXMesh* mesh) {
        void* data = nullptr;
        EXPECT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
        std::vector<uint32_t> out(mesh->GetNumVertices());
        const auto* bytes = static_cast<const BYTE*>(data);
        for (size_t v = 0; v < out.size(); ++v) {
            float x;
            std::memcpy(&x, bytes + v * kTaggedStride, 4);
            std::memcpy(&out[v], bytes + v * kTaggedStride + kTagOffset, 4);
            EXPECT_EQ(x, static_cast<float>(out[v])) << "vertex " << v;
        }
        EXPECT_EQ(mesh->UnlockVertexBuffer(), D3D_OK);
        return out;
    }

    // What one OptimizeInplace call gave back.
    struct Optimised {
        std::vector<uint32_t> indices;
        std::vector<uint32_t> tags;
        std::vector<DWORD> adjacency;
        std::vector<DWORD> faceRemap;
        std::vector<DWORD> vertexRemap;
    };

    static Optimised Optimise(const Triangles& t, DWORD options) {
        Optimised out;
        ID3DXMesh* mesh = MakeMesh(t, options);
        if (mesh == nullptr) return out;
        std::vector<DWORD> adjacencyIn(t.indices.size(), kNoFace);
        out.adjacency.assign(t.indices.size(), 0x5A5A5A5A);
        out.faceRemap.assign(t.FaceCount(), 0x5A5A5A5A);
        ID3DXBuffer* remap = nullptr;
        EXPECT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_VERTEXCACHE, adjacencyIn.data(), out.adjacency.data(),
                                        out.faceRemap.data(), &remap),
                  D3D_OK);
        if (remap != nullptr) {
            EXPECT_EQ(remap->GetBufferSize(), t.vertexCount * sizeof(DWORD));
            const auto* words = static_cast<const DWORD*>(remap->GetBufferPointer());
            out.vertexRemap.assign(words, words + remap->GetBufferSize() / sizeof(DWORD));
            EXPECT_EQ(remap->Release(), 0u);
        }
        EXPECT_EQ(mesh->GetNumFaces(), t.FaceCount());
        EXPECT_EQ(mesh->GetNumVertices(), t.vertexCount);
        out.indices = Indices(mesh);
        out.tags = Tags(mesh);
        EXPECT_EQ(mesh->Release(), 0u);
        return out;
    }

    static IDirect3D9* d3d_;
    static d3d9_test::TestWindow* window_;
    static IDirect3DDevice9* device_;
};

IDirect3D9* MeshTest::d3d_ = nullptr;
d3d9_test::TestWindow* MeshTest::window_ = nullptr;
IDirect3DDevice9* MeshTest::device_ = nullptr;

TEST_F(MeshTest, CreationRefusesWhatNoMeshCanBe) {
    const D3DVERTEXELEMENT9 inStream1[] = {
        {1, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    const D3DVERTEXELEMENT9 empty[] = {D3DDECL_END()};
    const D3DVERTEXELEMENT9 unknownType[] = {
        {0, 0, 17, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0}, D3DDECL_END()};
    const D3DVERTEXELEMENT9 usageTwice[] = {
        {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        D3DDECL_END()};
    std::vector<D3DVERTEXELEMENT9> noEnd(MAXD3DDECLLENGTH + 1);
    for (size_t i = 0; i < noEnd.size(); ++i) {
        noEnd[i] = {0, static_cast<WORD>(4 * i), D3DDECLTYPE_FLOAT1, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD,
                    static_cast<BYTE>(i)};
    }
    struct Case {
        const char* name;
        DWORD faces, vertices, options;
        const D3DVERTEXELEMENT9* declaration;
        bool device;
    };
    const Case cases[] = {
        {"no faces", 0, 3, D3DXMESH_SYSTEMMEM, kTaggedVertex, true},
        {"no vertices", 1, 0, D3DXMESH_SYSTEMMEM, kTaggedVertex, true},
        {"no declaration", 1, 3, D3DXMESH_SYSTEMMEM, nullptr, true},
        {"no device", 1, 3, D3DXMESH_SYSTEMMEM, kTaggedVertex, false},
        {"an unknown option", 1, 3, D3DXMESH_SYSTEMMEM | 0x4, kTaggedVertex, true},
        {"16-bit indices for 65,537 vertices", 1, 65537, D3DXMESH_SYSTEMMEM, kTaggedVertex, true},
        {"an element outside stream 0", 1, 3, D3DXMESH_SYSTEMMEM, inStream1, true},
        {"no element", 1, 3, D3DXMESH_SYSTEMMEM, empty, true},
        {"an unknown type", 1, 3, D3DXMESH_SYSTEMMEM, unknownType, true},
        {"a usage given twice (the device refuses it)", 1, 3, D3DXMESH_SYSTEMMEM, usageTwice, true},
        {"no end marker", 1, 3, D3DXMESH_SYSTEMMEM, noEnd.data(), true},
        {"2 GiB of vertices", 1, 0x08000000, D3DXMESH_SYSTEMMEM | D3DXMESH_32BIT, kTaggedVertex, true},
        {"2 GiB of indices", 0x15555556, 3, D3DXMESH_SYSTEMMEM, kTaggedVertex, true},
    };
    const ULONG deviceRefs = RefCount(device_);
    for (const Case& c : cases) {
        ID3DXMesh* const sentinel = reinterpret_cast<ID3DXMesh*>(uintptr_t{0x5EB7});
        ID3DXMesh* mesh = sentinel;
        EXPECT_EQ(D3DXCreateMesh(c.faces, c.vertices, c.options, c.declaration, c.device ? device_ : nullptr, &mesh),
                  D3DERR_INVALIDCALL)
            << c.name;
        EXPECT_EQ(mesh, nullptr) << c.name;
    }
    EXPECT_EQ(D3DXCreateMesh(1, 3, D3DXMESH_SYSTEMMEM, kTaggedVertex, device_, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(RefCount(device_), deviceRefs);
}

TEST_F(MeshTest, AccessorsAnswerWhatTheMeshWasMadeWith) {
    // Elements out of offset order with a gap: the stride is the end of the furthest one.
    const D3DVERTEXELEMENT9 declaration[] = {
        {0, 20, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        {0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
        D3DDECL_END()};
    struct Case {
        DWORD faces, vertices, options;
    };
    const Case cases[] = {
        {2, 4, D3DXMESH_SYSTEMMEM | D3DXMESH_DYNAMIC},
        {40000, 70000, D3DXMESH_SYSTEMMEM | D3DXMESH_DYNAMIC | D3DXMESH_32BIT},
        {1, 65536, D3DXMESH_MANAGED},
        {7, 3, D3DXMESH_WRITEONLY | D3DXMESH_32BIT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("options " + std::to_string(c.options));
        ID3DXMesh* mesh = nullptr;
        ASSERT_EQ(D3DXCreateMesh(c.faces, c.vertices, c.options, declaration, device_, &mesh), D3D_OK);
        EXPECT_EQ(mesh->GetNumFaces(), c.faces);
        EXPECT_EQ(mesh->GetNumVertices(), c.vertices);
        EXPECT_EQ(mesh->GetOptions(), c.options);
        EXPECT_EQ(mesh->GetNumBytesPerVertex(), 28u);
        D3DVERTEXELEMENT9 out[MAX_FVF_DECL_SIZE];
        std::memset(out, 0x5A, sizeof out);
        ASSERT_EQ(mesh->GetDeclaration(out), D3D_OK);
        EXPECT_EQ(std::memcmp(out, declaration, sizeof declaration), 0);
        EXPECT_EQ(out[4].Stream, 0x5A5A) << "nothing is written past the end marker";
        EXPECT_EQ(mesh->GetDeclaration(nullptr), D3DERR_INVALIDCALL);
        EXPECT_EQ(mesh->Release(), 0u);
    }
}

TEST_F(MeshTest, AMeshHoldsItsDeviceUntilReleased) {
    const ULONG before = RefCount(device_);
    ID3DXMesh* mesh = nullptr;
    ASSERT_EQ(D3DXCreateMesh(1, 3, D3DXMESH_SYSTEMMEM, kTaggedVertex, device_, &mesh), D3D_OK);
    EXPECT_EQ(RefCount(device_), before + 1);
    EXPECT_EQ(mesh->AddRef(), 2u);
    EXPECT_EQ(mesh->Release(), 1u);
    EXPECT_EQ(RefCount(device_), before + 1);
    EXPECT_EQ(mesh->Release(), 0u);
    EXPECT_EQ(RefCount(device_), before);
}

TEST_F(MeshTest, LocksReachTheSameBytesEachTime) {
    ID3DXMesh* mesh = nullptr;
    ASSERT_EQ(D3DXCreateMesh(2, 4, D3DXMESH_SYSTEMMEM | D3DXMESH_DYNAMIC, kTaggedVertex, device_, &mesh), D3D_OK);
    void* data = nullptr;
    ASSERT_EQ(mesh->LockVertexBuffer(D3DLOCK_DISCARD, &data), D3D_OK);
    for (int i = 0; i < 4 * 16; ++i) static_cast<BYTE*>(data)[i] = static_cast<BYTE>(i * 7);
    void* nested = nullptr;
    EXPECT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, &nested), D3D_OK);
    EXPECT_EQ(nested, data);
    EXPECT_EQ(mesh->UnlockVertexBuffer(), D3D_OK);
    EXPECT_EQ(mesh->UnlockVertexBuffer(), D3D_OK);
    EXPECT_EQ(mesh->UnlockVertexBuffer(), D3DERR_INVALIDCALL) << "no lock left";
    ASSERT_EQ(mesh->LockIndexBuffer(D3DLOCK_DISCARD, &data), D3D_OK);
    const uint16_t indices[6] = {0, 1, 2, 2, 1, 3};  // 16-bit: six of them fill the buffer
    std::memcpy(data, indices, sizeof indices);
    EXPECT_EQ(mesh->UnlockIndexBuffer(), D3D_OK);
    EXPECT_EQ(mesh->UnlockIndexBuffer(), D3DERR_INVALIDCALL);

    ASSERT_EQ(mesh->LockVertexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    for (int i = 0; i < 4 * 16; ++i) ASSERT_EQ(static_cast<BYTE*>(data)[i], static_cast<BYTE>(i * 7)) << i;
    EXPECT_EQ(mesh->UnlockVertexBuffer(), D3D_OK);
    ASSERT_EQ(mesh->LockIndexBuffer(D3DLOCK_READONLY, &data), D3D_OK);
    EXPECT_EQ(std::memcmp(data, indices, sizeof indices), 0);
    EXPECT_EQ(mesh->UnlockIndexBuffer(), D3D_OK);
    EXPECT_EQ(mesh->LockVertexBuffer(0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(mesh->LockIndexBuffer(0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(mesh->Release(), 0u);
}

TEST_F(MeshTest, OptimizeInplaceRefusesAndLeavesTheMeshAsItWas) {
    Triangles bad = Grid(2);
    bad.indices[4] = bad.vertexCount;  // one past the last vertex
    struct Case {
        const char* name;
        const Triangles* triangles;
        DWORD flags;
        bool lockVertices, lockIndices;
    };
    const Triangles grid = Grid(2);
    const Case cases[] = {
        {"no flags", &grid, 0, false, false},
        {"a flag besides the vertex cache", &grid, D3DXMESHOPT_VERTEXCACHE | 0x08000000, false, false},
        {"vertices locked", &grid, D3DXMESHOPT_VERTEXCACHE, true, false},
        {"indices locked", &grid, D3DXMESHOPT_VERTEXCACHE, false, true},
        {"an index past the vertices", &bad, D3DXMESHOPT_VERTEXCACHE, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ID3DXMesh* mesh = MakeMesh(*c.triangles, D3DXMESH_SYSTEMMEM);
        ASSERT_NE(mesh, nullptr);
        void* locked = nullptr;
        if (c.lockVertices) { ASSERT_EQ(mesh->LockVertexBuffer(0, &locked), D3D_OK); }
        if (c.lockIndices) { ASSERT_EQ(mesh->LockIndexBuffer(0, &locked), D3D_OK); }
        std::vector<DWORD> adjacency(c.triangles->indices.size(), 0x5A5A5A5A);
        std::vector<DWORD> faceRemap(c.triangles->FaceCount(), 0x5A5A5A5A);
        ID3DXBuffer* const sentinel = reinterpret_cast<ID3DXBuffer*>(uintptr_t{0x5EB7});
        ID3DXBuffer* remap = sentinel;
        EXPECT_EQ(mesh->OptimizeInplace(c.flags, nullptr, adjacency.data(), faceRemap.data(), &remap),
                  D3DERR_INVALIDCALL);
        EXPECT_EQ(remap, nullptr);
        EXPECT_EQ(adjacency, std::vector<DWORD>(adjacency.size(), 0x5A5A5A5A));
        EXPECT_EQ(faceRemap, std::vector<DWORD>(faceRemap.size(), 0x5A5A5A5A));
        if (c.lockVertices) { EXPECT_EQ(mesh->UnlockVertexBuffer(), D3D_OK); }
        if (c.lockIndices) { EXPECT_EQ(mesh->UnlockIndexBuffer(), D3D_OK); }
        EXPECT_EQ(Indices(mesh), c.triangles->indices);
        std::vector<uint32_t> identity(c.triangles->vertexCount);
        for (uint32_t v = 0; v < identity.size(); ++v) identity[v] = v;
        EXPECT_EQ(Tags(mesh), identity);
        EXPECT_EQ(mesh->Release(), 0u);
    }
}

// The vertex remap by its definition: new[i] = old[remap[i]], numbers given by first use in
// the new face order, unused vertices last in their old order. Rows of one face fix the whole
// answer; the others are checked against the face order the call reported.
TEST_F(MeshTest, OptimizeInplaceNumbersVerticesByFirstUse) {
    struct Case {
        const char* name;
        Triangles triangles;
        DWORD options;
        std::vector<uint32_t> remapStart;   // the remap's first entries, where one face fixes them
        std::vector<uint32_t> indices;      // the new indices, likewise
    };
    const Case cases[] = {
        {"one face named backwards", {{2, 1, 0}, 3}, D3DXMESH_SYSTEMMEM, {2, 1, 0}, {0, 1, 2}},
        {"unused vertices last, in their old order", {{4, 1, 3}, 6}, D3DXMESH_SYSTEMMEM, {4, 1, 3, 0, 2, 5},
         {0, 1, 2}},
        {"a face naming a vertex twice", {{1, 1, 0}, 3}, D3DXMESH_SYSTEMMEM, {1, 0, 2}, {0, 0, 1}},
        {"16-bit indices up to 65,535", {{65535, 0, 40000}, 65536}, D3DXMESH_SYSTEMMEM, {65535, 0, 40000, 1, 2},
         {0, 1, 2}},
        {"32-bit indices past 65,535", {{69999, 5, 65536}, 70000}, D3DXMESH_SYSTEMMEM | D3DXMESH_32BIT,
         {69999, 5, 65536, 0, 1}, {0, 1, 2}},
        {"a grid with 16-bit indices", Grid(5), D3DXMESH_SYSTEMMEM, {}, {}},
        {"16-bit indices of more than 32,768 vertices", Grid(190), D3DXMESH_SYSTEMMEM, {}, {}},
        {"shuffled tubes with 32-bit indices", Shuffled(Tubes(6), 3), D3DXMESH_SYSTEMMEM | D3DXMESH_32BIT, {}, {}},
        {"a grid with a vertex no face uses", {Grid(3).indices, Grid(3).vertexCount + 1}, D3DXMESH_SYSTEMMEM, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Triangles& t = c.triangles;
        const Optimised out = Optimise(t, c.options);
        ASSERT_EQ(out.vertexRemap.size(), t.vertexCount);
        if (!c.remapStart.empty()) {
            EXPECT_TRUE(std::equal(c.remapStart.begin(), c.remapStart.end(), out.vertexRemap.begin()));
            EXPECT_EQ(out.indices, c.indices);
        }
        // The definition, from the reported face order.
        std::vector<uint32_t> expected;
        std::vector<bool> seen(t.vertexCount, false);
        for (DWORD f : out.faceRemap) {
            ASSERT_LT(f, t.FaceCount());
            for (int k = 0; k < 3; ++k) {
                const uint32_t v = t.indices[3 * f + k];
                if (!seen[v]) expected.push_back(v);
                seen[v] = true;
            }
        }
        for (uint32_t v = 0; v < t.vertexCount; ++v) {
            if (!seen[v]) expected.push_back(v);
        }
        EXPECT_EQ(out.vertexRemap, std::vector<DWORD>(expected.begin(), expected.end()));
        // new[i] = old[remap[i]] for the vertex data and for the indices.
        EXPECT_EQ(out.tags, std::vector<uint32_t>(out.vertexRemap.begin(), out.vertexRemap.end()));
        for (size_t f = 0; f < out.faceRemap.size(); ++f) {
            for (int k = 0; k < 3; ++k) {
                ASSERT_EQ(out.vertexRemap[out.indices[3 * f + k]], t.indices[3 * out.faceRemap[f] + k])
                    << "face " << f << " corner " << k;
            }
        }
    }
}

TEST_F(MeshTest, OptimizeInplaceOutputsAreOptional) {
    const Triangles t = Shuffled(Grid(6), 9);
    const Optimised full = Optimise(t, D3DXMESH_SYSTEMMEM);
    ID3DXMesh* mesh = MakeMesh(t, D3DXMESH_SYSTEMMEM);
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_VERTEXCACHE, nullptr, nullptr, nullptr, nullptr), D3D_OK);
    EXPECT_EQ(Indices(mesh), full.indices);
    EXPECT_EQ(Tags(mesh), full.tags);
    EXPECT_EQ(mesh->Release(), 0u);

    // The adjacency may come back in the array it came in.
    mesh = MakeMesh(t, D3DXMESH_SYSTEMMEM);
    ASSERT_NE(mesh, nullptr);
    std::vector<DWORD> adjacency = BruteForceAdjacency(t.indices);
    ASSERT_EQ(mesh->OptimizeInplace(D3DXMESHOPT_VERTEXCACHE, adjacency.data(), adjacency.data(), nullptr, nullptr),
              D3D_OK);
    EXPECT_EQ(adjacency, full.adjacency);
    EXPECT_EQ(mesh->Release(), 0u);
}

struct ShapeCase {
    const char* name;
    Triangles triangles;
};

std::vector<ShapeCase> Shapes() {
    Triangles nonManifold = Grid(2);
    nonManifold.indices.insert(nonManifold.indices.end(), {0, 1, 9, 1, 0, 10, 4, 4, 3});  // 3 faces on edge 0-1
    nonManifold.vertexCount = 11;
    return {
        {"grid", Grid(12)},
        {"cut grid", CutGrid(12, 5)},
        {"closed cylinder", Cylinder(16, 6)},
        {"shuffled tubes", Shuffled(Tubes(10), 4)},
        {"a single face", {{0, 1, 2}, 3}},
        {"an edge of three faces and a degenerate face", nonManifold},
    };
}

TEST_F(MeshTest, OptimizeInplaceKeepsEveryTriangleAndItsWinding) {
    for (const ShapeCase& shape : Shapes()) {
        SCOPED_TRACE(shape.name);
        const Triangles& t = shape.triangles;
        const Optimised out = Optimise(t, D3DXMESH_SYSTEMMEM);
        std::vector<uint32_t> oldNumbers;
        for (uint32_t index : out.indices) oldNumbers.push_back(out.tags.at(index));
        EXPECT_EQ(WoundTriangles(oldNumbers), WoundTriangles(t.indices));
        std::vector<DWORD> faces = out.faceRemap;
        std::sort(faces.begin(), faces.end());
        for (size_t f = 0; f < faces.size(); ++f) ASSERT_EQ(faces[f], f) << "the face remap is a permutation";
    }
}

TEST_F(MeshTest, OptimizeInplaceAdjacencyIsTheSharedEdges) {
    for (const ShapeCase& shape : Shapes()) {
        SCOPED_TRACE(shape.name);
        const Optimised out = Optimise(shape.triangles, D3DXMESH_SYSTEMMEM);
        EXPECT_EQ(out.adjacency, BruteForceAdjacency(out.indices));
        // Symmetric, over an edge of the same two vertices.
        for (size_t f = 0; f < out.indices.size() / 3; ++f) {
            for (int k = 0; k < 3; ++k) {
                const DWORD g = out.adjacency[3 * f + k];
                if (g == kNoFace) continue;
                ASSERT_LT(g, out.indices.size() / 3);
                int back = 0;
                for (int j = 0; j < 3; ++j) {
                    if (out.adjacency[3 * g + j] == f) ++back;
                }
                EXPECT_GE(back, 1) << "face " << f << " edge " << k;
            }
        }
    }
    // A closed surface has a neighbour over every edge.
    const Optimised closed = Optimise(Cylinder(16, 6), D3DXMESH_SYSTEMMEM);
    EXPECT_EQ(std::count(closed.adjacency.begin(), closed.adjacency.end(), kNoFace), 0);
    // Two faces over the edge of old vertices 1 and 2, written out: edge k runs from corner k
    // to corner k + 1, and only that edge names the other face.
    const Optimised pair = Optimise({{0, 1, 2, 2, 1, 3}, 4}, D3DXMESH_SYSTEMMEM);
    ASSERT_EQ(pair.indices.size(), 6u);
    for (DWORD f = 0; f < 2; ++f) {
        for (int k = 0; k < 3; ++k) {
            const uint32_t a = pair.tags[pair.indices[3 * f + k]], b = pair.tags[pair.indices[3 * f + (k + 1) % 3]];
            const bool shared = std::min(a, b) == 1 && std::max(a, b) == 2;
            EXPECT_EQ(pair.adjacency[3 * f + k], shared ? 1 - f : kNoFace) << "face " << f << " edge " << k;
        }
    }
}

TEST_F(MeshTest, OptimizeInplaceMissesTheCacheNoMoreThanTheReference) {
    const ShapeCase cases[] = {
        {"grid", Grid(40)},
        {"cut grid", CutGrid(40, 21)},
        {"closed cylinder", Cylinder(32, 24)},
        {"shuffled grid", Shuffled(Grid(40), 1)},
        {"shuffled cut grid", Shuffled(CutGrid(40, 9), 2)},
        {"shuffled tubes", Shuffled(Tubes(60), 7)},
    };
    for (const ShapeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Triangles& t = c.triangles;
        const Optimised out = Optimise(t, D3DXMESH_SYSTEMMEM);
        std::vector<uint32_t> reference(t.indices.size());
        meshopt_optimizeVertexCache(reference.data(), t.indices.data(), t.indices.size(), t.vertexCount);
        const float ours = Acmr(out.indices, t.vertexCount);
        const float input = Acmr(t.indices, t.vertexCount);
        const float theirs = Acmr(reference, t.vertexCount);
        EXPECT_LE(ours, input);
        EXPECT_LE(ours, theirs * 1.05f) << "ours " << ours << ", reference " << theirs;
        RecordProperty(std::string(c.name) + " acmr", std::to_string(ours) + " vs " + std::to_string(theirs));
    }
}

}  // namespace
