// Conformance of vertex and index buffers: creation, descriptions, locks (random operations
// against a model of the bytes), what reaches GL, pools across Reset and references.

#include "tests/platform/d3d9_draw_support.h"

#include "platform/d3d9/d3d9_testing.h"

#include <d3d9.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

using d3d9_test::kScreenFvf;
using d3d9_test::RefCount;
using d3d9_test::ScreenVertex;

class BufferTest : public d3d9_test::DrawTest {
protected:
    // Both kinds through one door: the vertex or index buffer as a resource, locked and
    // unlocked through its own interface.
    struct AnyBuffer {
        IDirect3DVertexBuffer9* vertices = nullptr;
        IDirect3DIndexBuffer9* indices = nullptr;
        HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags) const {
            return vertices != nullptr ? vertices->Lock(offset, size, data, flags) : indices->Lock(offset, size, data, flags);
        }
        HRESULT Unlock() const { return vertices != nullptr ? vertices->Unlock() : indices->Unlock(); }
        IDirect3DResource9* resource() const {
            return vertices != nullptr ? static_cast<IDirect3DResource9*>(vertices) : indices;
        }
    };

    // What GL holds of the buffer.
    std::vector<BYTE> GlBytes(const AnyBuffer& buffer) {
        std::vector<BYTE> bytes;
        EXPECT_TRUE(rh::d3d9::testing::ReadBufferObject(buffer.resource(), &bytes));
        return bytes;
    }
    // What a read-only lock of the whole buffer shows.
    std::vector<BYTE> LockedBytes(const AnyBuffer& buffer, size_t length) {
        void* p = nullptr;
        EXPECT_EQ(buffer.Lock(0, 0, &p, D3DLOCK_READONLY), D3D_OK);
        std::vector<BYTE> bytes(length);
        if (p != nullptr) std::memcpy(bytes.data(), p, length);
        EXPECT_EQ(buffer.Unlock(), D3D_OK);
        return bytes;
    }
};

TEST_F(BufferTest, CreationChecksItsArgumentsAndGetDescAnswersThem) {
    struct Case {
        const char* what;
        bool index;
        UINT length;
        DWORD usage;
        DWORD fvfOrFormat;
        D3DPOOL pool;
        bool sharedHandle;
        HRESULT expected;
    };
    const Case cases[] = {
        {"vertex, FVF 0", false, 1, 0, 0, D3DPOOL_DEFAULT, false, D3D_OK},
        {"vertex, FVF with room for one vertex", false, 12, D3DUSAGE_WRITEONLY, D3DFVF_XYZ, D3DPOOL_MANAGED, false,
         D3D_OK},
        {"vertex, dynamic, default pool", false, 4096, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, 0, D3DPOOL_DEFAULT, false,
         D3D_OK},
        {"vertex, system memory", false, 64, 0, 0, D3DPOOL_SYSTEMMEM, false, D3D_OK},
        {"vertex, no room for one FVF vertex", false, 11, 0, D3DFVF_XYZ, D3DPOOL_MANAGED, false, D3DERR_INVALIDCALL},
        {"vertex, an FVF no declaration expresses", false, 64, 0, 0xFFFFFFFF, D3DPOOL_MANAGED, false,
         D3DERR_INVALIDCALL},
        {"vertex, length 0", false, 0, 0, 0, D3DPOOL_MANAGED, false, D3DERR_INVALIDCALL},
        {"vertex, scratch pool", false, 64, 0, 0, D3DPOOL_SCRATCH, false, D3DERR_INVALIDCALL},
        {"vertex, unknown pool", false, 64, 0, 0, static_cast<D3DPOOL>(7), false, D3DERR_INVALIDCALL},
        {"vertex, dynamic and managed", false, 64, D3DUSAGE_DYNAMIC, 0, D3DPOOL_MANAGED, false, D3DERR_INVALIDCALL},
        {"vertex, a texture's usage", false, 64, D3DUSAGE_RENDERTARGET, 0, D3DPOOL_DEFAULT, false, D3DERR_INVALIDCALL},
        {"vertex, a shared handle", false, 64, 0, 0, D3DPOOL_DEFAULT, true, D3DERR_INVALIDCALL},
        {"index, 16-bit", true, 6, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED, false, D3D_OK},
        {"index, 32-bit, dynamic", true, 12, D3DUSAGE_DYNAMIC, D3DFMT_INDEX32, D3DPOOL_DEFAULT, false, D3D_OK},
        {"index, not an index format", true, 12, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, false, D3DERR_INVALIDCALL},
        {"index, length 0", true, 0, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, false, D3DERR_INVALIDCALL},
        {"index, scratch pool", true, 12, 0, D3DFMT_INDEX16, D3DPOOL_SCRATCH, false, D3DERR_INVALIDCALL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HANDLE handle = nullptr;
        HANDLE* shared = c.sharedHandle ? &handle : nullptr;
        if (c.index) {
            IDirect3DIndexBuffer9* buffer = reinterpret_cast<IDirect3DIndexBuffer9*>(1);
            ASSERT_EQ(device_->CreateIndexBuffer(c.length, c.usage, static_cast<D3DFORMAT>(c.fvfOrFormat), c.pool,
                                                 &buffer, shared),
                      c.expected);
            if (c.expected != D3D_OK) {
                EXPECT_EQ(buffer, nullptr);
                continue;
            }
            D3DINDEXBUFFER_DESC desc{};
            ASSERT_EQ(buffer->GetDesc(&desc), D3D_OK);
            EXPECT_EQ(desc.Format, static_cast<D3DFORMAT>(c.fvfOrFormat));
            EXPECT_EQ(desc.Type, D3DRTYPE_INDEXBUFFER);
            EXPECT_EQ(desc.Usage, c.usage);
            EXPECT_EQ(desc.Pool, c.pool);
            EXPECT_EQ(desc.Size, c.length);
            EXPECT_EQ(buffer->GetType(), D3DRTYPE_INDEXBUFFER);
            EXPECT_EQ(buffer->GetDesc(nullptr), D3DERR_INVALIDCALL);
            EXPECT_EQ(buffer->Release(), 0u);
        } else {
            IDirect3DVertexBuffer9* buffer = reinterpret_cast<IDirect3DVertexBuffer9*>(1);
            ASSERT_EQ(device_->CreateVertexBuffer(c.length, c.usage, c.fvfOrFormat, c.pool, &buffer, shared), c.expected);
            if (c.expected != D3D_OK) {
                EXPECT_EQ(buffer, nullptr);
                continue;
            }
            D3DVERTEXBUFFER_DESC desc{};
            ASSERT_EQ(buffer->GetDesc(&desc), D3D_OK);
            EXPECT_EQ(desc.Format, D3DFMT_VERTEXDATA);
            EXPECT_EQ(desc.Type, D3DRTYPE_VERTEXBUFFER);
            EXPECT_EQ(desc.Usage, c.usage);
            EXPECT_EQ(desc.Pool, c.pool);
            EXPECT_EQ(desc.Size, c.length);
            EXPECT_EQ(desc.FVF, c.fvfOrFormat);
            EXPECT_EQ(buffer->GetType(), D3DRTYPE_VERTEXBUFFER);
            EXPECT_EQ(buffer->Release(), 0u);
        }
    }
    EXPECT_EQ(device_->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, nullptr, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->CreateIndexBuffer(64, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, nullptr, nullptr), D3DERR_INVALIDCALL);
}

TEST_F(BufferTest, LocksCheckTheirRangeAndFlags) {
    IDirect3DVertexBuffer9* dynamic = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(100, D3DUSAGE_DYNAMIC, 0, D3DPOOL_DEFAULT, &dynamic, nullptr), D3D_OK);
    owned_.push_back(dynamic);
    IDirect3DVertexBuffer9* fixed = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(100, 0, 0, D3DPOOL_MANAGED, &fixed, nullptr), D3D_OK);
    owned_.push_back(fixed);
    struct Case {
        const char* what;
        IDirect3DVertexBuffer9* buffer;
        UINT offset;
        UINT size;
        DWORD flags;
        HRESULT expected;
        UINT pointerOffset;  // where the pointer points, from the start of the buffer
    };
    const Case cases[] = {
        {"all of it", fixed, 0, 0, 0, D3D_OK, 0},
        {"a range: the pointer is its start", fixed, 40, 20, 0, D3D_OK, 40},
        {"size 0 from an offset: to the end", fixed, 60, 0, 0, D3D_OK, 60},
        {"the last byte", fixed, 99, 1, 0, D3D_OK, 99},
        {"nothing at the very end", fixed, 100, 0, 0, D3D_OK, 100},
        {"read-only", fixed, 0, 10, D3DLOCK_READONLY, D3D_OK, 0},
        {"a range past the end", fixed, 90, 20, 0, D3DERR_INVALIDCALL, 0},
        {"an offset past the end", fixed, 101, 0, 0, D3DERR_INVALIDCALL, 0},
        {"a size that wraps around", fixed, 50, 0xFFFFFFF0u, 0, D3DERR_INVALIDCALL, 0},
        {"DISCARD on a static buffer", fixed, 0, 0, D3DLOCK_DISCARD, D3DERR_INVALIDCALL, 0},
        {"NOOVERWRITE on a static buffer", fixed, 0, 0, D3DLOCK_NOOVERWRITE, D3DERR_INVALIDCALL, 0},
        {"DISCARD on a dynamic buffer", dynamic, 0, 0, D3DLOCK_DISCARD, D3D_OK, 0},
        {"NOOVERWRITE on a dynamic buffer", dynamic, 10, 10, D3DLOCK_NOOVERWRITE, D3D_OK, 10},
        {"DISCARD with READONLY", dynamic, 0, 0, D3DLOCK_DISCARD | D3DLOCK_READONLY, D3DERR_INVALIDCALL, 0},
        {"an unknown flag", fixed, 0, 0, 0x1, D3DERR_INVALIDCALL, 0},
    };
    // The static buffer's bytes are their own offsets: its locks work on copies read back from
    // GL, so where a lock points shows in what it reads there.
    void* base = nullptr;
    ASSERT_EQ(fixed->Lock(0, 0, &base, 0), D3D_OK);
    for (int i = 0; i < 100; ++i) static_cast<BYTE*>(base)[i] = static_cast<BYTE>(i);
    ASSERT_EQ(fixed->Unlock(), D3D_OK);
    void* dynamicBase = nullptr;
    ASSERT_EQ(dynamic->Lock(0, 0, &dynamicBase, 0), D3D_OK);
    ASSERT_EQ(dynamic->Unlock(), D3D_OK);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        void* p = reinterpret_cast<void*>(1);
        ASSERT_EQ(c.buffer->Lock(c.offset, c.size, &p, c.flags), c.expected);
        if (c.expected != D3D_OK) {
            EXPECT_EQ(p, nullptr);
            EXPECT_EQ(c.buffer->Unlock(), D3DERR_INVALIDCALL) << "nothing was locked";
            continue;
        }
        ASSERT_NE(p, nullptr);
        if (c.buffer == dynamic) {
            EXPECT_EQ(static_cast<const BYTE*>(p), static_cast<const BYTE*>(dynamicBase) + c.pointerOffset);
        } else if (c.pointerOffset < 100) {
            EXPECT_EQ(*static_cast<const BYTE*>(p), c.pointerOffset) << "the byte the pointer shows";
        }
        void* again = nullptr;
        EXPECT_EQ(c.buffer->Lock(0, 0, &again, 0), D3DERR_INVALIDCALL) << "one lock at a time";
        EXPECT_EQ(c.buffer->Unlock(), D3D_OK);
    }
    EXPECT_EQ(fixed->Lock(0, 0, nullptr, 0), D3DERR_INVALIDCALL);
}

TEST_F(BufferTest, RandomLocksAgainstAModelOfTheBytes) {
    // Random writes, read-only looks and refused locks on dynamic and static vertex buffers
    // and on 16- and 32-bit index buffers, against a model of every byte. After each step: a
    // read-only lock shows the model, GL holds the model, a static vertex buffer's bytes are
    // GL's alone (its locks work on copies read back from GL), and for indices an indexed
    // draw over a random range is accepted exactly when the model says its vertices exist.
    const UINT vertexCount = 40;
    std::vector<ScreenVertex> quad(vertexCount, ScreenVertex{0.0f, 0.0f, 0.5f, 1.0f, 0xFF000000});
    IDirect3DVertexBuffer9* drawVertices = Vertices(quad, kScreenFvf);
    device_->SetFVF(kScreenFvf);
    device_->SetStreamSource(0, drawVertices, 0, sizeof(ScreenVertex));

    struct Subject {
        const char* what;
        UINT length;
        UINT indexSize;  // 0: a vertex buffer
        DWORD usage;
        D3DPOOL pool;
    };
    const Subject subjects[] = {
        {"dynamic vertex buffer", 1000, 0, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY, D3DPOOL_DEFAULT},
        {"static vertex buffer", 1000, 0, D3DUSAGE_WRITEONLY, D3DPOOL_DEFAULT},
        {"managed vertex buffer", 997, 0, 0, D3DPOOL_MANAGED},
        {"16-bit indices", 998, 2, D3DUSAGE_DYNAMIC, D3DPOOL_DEFAULT},
        {"32-bit indices", 2000, 4, D3DUSAGE_DYNAMIC, D3DPOOL_DEFAULT},
    };
    std::mt19937 random(20240614);
    for (const Subject& subject : subjects) {
        SCOPED_TRACE(subject.what);
        const bool dynamic = (subject.usage & D3DUSAGE_DYNAMIC) != 0;
        AnyBuffer buffer;
        if (subject.indexSize == 0) {
            ASSERT_EQ(device_->CreateVertexBuffer(subject.length, subject.usage, 0, subject.pool, &buffer.vertices,
                                                  nullptr),
                      D3D_OK);
            owned_.push_back(buffer.vertices);
        } else {
            D3DFORMAT format = subject.indexSize == 2 ? D3DFMT_INDEX16 : D3DFMT_INDEX32;
            ASSERT_EQ(device_->CreateIndexBuffer(subject.length, subject.usage, format, subject.pool, &buffer.indices,
                                                 nullptr),
                      D3D_OK);
            owned_.push_back(buffer.indices);
            device_->SetIndices(buffer.indices);
        }
        std::vector<BYTE> model(subject.length, 0);  // a new buffer holds zeros
        auto pick = [&](UINT below) { return std::uniform_int_distribution<UINT>(0, below - 1)(random); };
        for (int step = 0; step < 300; ++step) {
            SCOPED_TRACE(step);
            const UINT op = pick(10);
            UINT offset = pick(subject.length);
            UINT size = pick(subject.length - offset + 1);  // 0 locks to the end
            if (subject.indexSize != 0) offset -= offset % subject.indexSize;
            const UINT end = size == 0 ? subject.length : std::min(offset + size, subject.length);
            void* p = nullptr;
            if (op < 6) {
                // A write: random bytes, or for indices mostly vertex numbers near the buffer's size.
                // DISCARD and NOOVERWRITE belong to dynamic buffers.
                const DWORD flags = op < 2 || !dynamic ? 0 : op < 4 ? D3DLOCK_DISCARD : D3DLOCK_NOOVERWRITE;
                ASSERT_EQ(buffer.Lock(offset, size, &p, flags), D3D_OK);
                auto* bytes = static_cast<BYTE*>(p);
                for (UINT i = offset; i < end; ++i) {
                    BYTE value = static_cast<BYTE>(pick(256));
                    if (subject.indexSize != 0) {
                        const UINT within = (i - offset) % subject.indexSize;
                        value = within == 0 ? static_cast<BYTE>(pick(vertexCount + 3)) : 0;
                    }
                    bytes[i - offset] = value;
                    model[i] = value;
                }
                ASSERT_EQ(buffer.Unlock(), D3D_OK);
            } else if (op < 8) {
                ASSERT_EQ(buffer.Lock(offset, size, &p, D3DLOCK_READONLY), D3D_OK);
                EXPECT_EQ(std::memcmp(p, model.data() + offset, end - offset), 0) << "the locked range";
                ASSERT_EQ(buffer.Unlock(), D3D_OK);
            } else if (op == 8) {
                EXPECT_EQ(buffer.Lock(offset, subject.length - offset + 1, &p, 0), D3DERR_INVALIDCALL);
                EXPECT_EQ(buffer.Unlock(), D3DERR_INVALIDCALL);
            } else {
                ASSERT_EQ(buffer.Lock(offset, size, &p, 0), D3D_OK);
                EXPECT_EQ(buffer.Lock(0, 0, &p, 0), D3DERR_INVALIDCALL);
                ASSERT_EQ(buffer.Unlock(), D3D_OK);  // wrote nothing
            }
            ASSERT_EQ(LockedBytes(buffer, subject.length), model) << "what a lock shows";
            ASSERT_EQ(GlBytes(buffer), model) << "what GL holds";
            if (subject.indexSize == 0 && !dynamic) {
                EXPECT_EQ(rh::d3d9::testing::BufferCpuBytes(buffer.resource()), 0u) << "a CPU copy outside locks";
            }
            if (subject.indexSize != 0) {
                const UINT indexCount = subject.length / subject.indexSize;
                const UINT first = pick(indexCount);
                const UINT count = 1 + pick(std::min<UINT>(indexCount - first, 12));
                const INT base = static_cast<INT>(pick(5)) - 2;
                int64_t lo = INT64_MAX;
                int64_t hi = INT64_MIN;
                for (UINT i = first; i < first + count; ++i) {
                    uint32_t value = 0;
                    std::memcpy(&value, model.data() + size_t{i} * subject.indexSize, subject.indexSize);
                    lo = std::min<int64_t>(lo, value);
                    hi = std::max<int64_t>(hi, value);
                }
                const bool inside = base + lo >= 0 && base + hi < vertexCount;
                EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_POINTLIST, base, 0, vertexCount, first, count),
                          inside ? D3D_OK : D3DERR_INVALIDCALL)
                    << "indices " << first << "+" << count << " (" << lo << "-" << hi << ") base " << base;
            }
        }
    }
}

TEST_F(BufferTest, IndicesWrittenThroughAReadOnlyLockStillReachTheChecks) {
    // Against the lock's word, but what GL holds and what the draws check must stay one.
    IDirect3DVertexBuffer9* vertices = Vertices(std::vector<ScreenVertex>(4, ScreenVertex{}), kScreenFvf);
    IDirect3DIndexBuffer9* indices = Indices(std::vector<uint16_t>{0, 1, 2, 3});
    device_->SetFVF(kScreenFvf);
    device_->SetStreamSource(0, vertices, 0, sizeof(ScreenVertex));
    device_->SetIndices(indices);
    void* p = nullptr;
    ASSERT_EQ(indices->Lock(0, 2, &p, D3DLOCK_READONLY), D3D_OK);
    static_cast<uint16_t*>(p)[0] = 9;
    ASSERT_EQ(indices->Unlock(), D3D_OK);
    std::vector<BYTE> held;
    ASSERT_TRUE(rh::d3d9::testing::ReadBufferObject(indices, &held));
    EXPECT_EQ(held[0], 9);
    EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_POINTLIST, 0, 0, 4, 0, 4), D3DERR_INVALIDCALL);
    EXPECT_EQ(device_->DrawIndexedPrimitive(D3DPT_POINTLIST, 0, 0, 4, 1, 3), D3D_OK) << "index 9 not drawn";
}

TEST_F(BufferTest, DefaultPoolBuffersHeldByTheProgramStopResetOthersSurviveAndDraw) {
    struct Case {
        const char* what;
        D3DPOOL pool;
        DWORD usage;
        bool index;
        HRESULT resetWhileHeld;
    };
    const Case cases[] = {
        {"default vertex buffer", D3DPOOL_DEFAULT, D3DUSAGE_WRITEONLY, false, D3DERR_INVALIDCALL},
        {"default dynamic vertex buffer", D3DPOOL_DEFAULT, D3DUSAGE_DYNAMIC, false, D3DERR_INVALIDCALL},
        {"default index buffer", D3DPOOL_DEFAULT, 0, true, D3DERR_INVALIDCALL},
        {"managed vertex buffer", D3DPOOL_MANAGED, 0, false, D3D_OK},
        {"system-memory vertex buffer", D3DPOOL_SYSTEMMEM, 0, false, D3D_OK},
        {"managed index buffer", D3DPOOL_MANAGED, 0, true, D3D_OK},
    };
    const std::vector<ScreenVertex> quad = ScreenQuad(0.0f, 0.0f, kWidth, kHeight, 0.5f, 0xFF00FF00);
    const std::vector<uint16_t> strip = {0, 1, 2, 3};
    D3DPRESENT_PARAMETERS pp = d3d9_test::WindowedParameters();
    const RECT frame{0, 0, kWidth, kHeight};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        IDirect3DVertexBuffer9* vertices = nullptr;
        IDirect3DIndexBuffer9* indices = nullptr;
        const UINT bytes = c.index ? 8 : static_cast<UINT>(quad.size() * sizeof(ScreenVertex));
        if (c.index) {
            ASSERT_EQ(device_->CreateIndexBuffer(bytes, c.usage, D3DFMT_INDEX16, c.pool, &indices, nullptr), D3D_OK);
        } else {
            ASSERT_EQ(device_->CreateVertexBuffer(bytes, c.usage, kScreenFvf, c.pool, &vertices, nullptr), D3D_OK);
        }
        void* p = nullptr;
        if (c.index) {
            ASSERT_EQ(indices->Lock(0, 0, &p, 0), D3D_OK);
            std::memcpy(p, strip.data(), bytes);
            ASSERT_EQ(indices->Unlock(), D3D_OK);
        } else {
            ASSERT_EQ(vertices->Lock(0, 0, &p, 0), D3D_OK);
            std::memcpy(p, quad.data(), bytes);
            ASSERT_EQ(vertices->Unlock(), D3D_OK);
        }
        EXPECT_EQ(device_->Reset(&pp), c.resetWhileHeld);
        if (c.resetWhileHeld == D3D_OK) {
            // It survived the Reset with its contents, and draws.
            ASSERT_EQ(device_->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0), D3D_OK);
            device_->SetFVF(kScreenFvf);
            device_->SetStreamSource(0, c.index ? Vertices(quad, kScreenFvf) : vertices, 0, sizeof(ScreenVertex));
            device_->SetIndices(c.index ? indices : Indices(strip));
            ASSERT_EQ(device_->DrawIndexedPrimitive(D3DPT_TRIANGLESTRIP, 0, 0, 4, 0, 2), D3D_OK);
            EXPECT_EQ(Count(frame, 0x00FF00), kWidth * kHeight);
        } else {
            // Bound and released by the program: the device's own binding does not count.
            if (c.index) {
                device_->SetIndices(indices);
                EXPECT_EQ(indices->Release(), 0u);
            } else {
                device_->SetStreamSource(0, vertices, 0, sizeof(ScreenVertex));
                EXPECT_EQ(vertices->Release(), 0u);
            }
            // Taken back through Get*: held by the program again.
            IDirect3DVertexBuffer9* vertexAgain = nullptr;
            IDirect3DIndexBuffer9* indexAgain = nullptr;
            UINT offset = 0;
            UINT stride = 0;
            if (c.index) {
                ASSERT_EQ(device_->GetIndices(&indexAgain), D3D_OK);
            } else {
                ASSERT_EQ(device_->GetStreamSource(0, &vertexAgain, &offset, &stride), D3D_OK);
            }
            EXPECT_EQ(device_->Reset(&pp), D3DERR_INVALIDCALL) << "held again";
            if (c.index) {
                indexAgain->Release();
            } else {
                vertexAgain->Release();
            }
            vertices = nullptr;
            indices = nullptr;
        }
        EXPECT_EQ(device_->Reset(&pp), D3D_OK);
        if (vertices != nullptr) vertices->Release();
        if (indices != nullptr) indices->Release();
    }
}

TEST_F(BufferTest, BuffersAreResourcesOfTheirDevice) {
    IDirect3DVertexBuffer9* vertices = nullptr;
    ASSERT_EQ(device_->CreateVertexBuffer(64, 0, 0, D3DPOOL_MANAGED, &vertices, nullptr), D3D_OK);
    EXPECT_EQ(RefCount(device_), 2u) << "a buffer holds its device";
    IDirect3DDevice9* owner = nullptr;
    ASSERT_EQ(vertices->GetDevice(&owner), D3D_OK);
    EXPECT_EQ(owner, device_);
    owner->Release();
    IDirect3DResource9* resource = nullptr;
    ASSERT_EQ(vertices->QueryInterface(IID_IDirect3DResource9, reinterpret_cast<void**>(&resource)), S_OK);
    EXPECT_EQ(resource->GetType(), D3DRTYPE_VERTEXBUFFER);
    resource->Release();
    IDirect3DIndexBuffer9* wrongKind = nullptr;
    EXPECT_EQ(vertices->QueryInterface(IID_IDirect3DIndexBuffer9, reinterpret_cast<void**>(&wrongKind)), E_NOINTERFACE);
    // An index buffer is no stream, a vertex buffer no index buffer.
    IDirect3DIndexBuffer9* indices = nullptr;
    ASSERT_EQ(device_->CreateIndexBuffer(64, 0, D3DFMT_INDEX16, D3DPOOL_MANAGED, &indices, nullptr), D3D_OK);
    EXPECT_EQ(vertices->Release(), 0u);
    EXPECT_EQ(indices->Release(), 0u);
    EXPECT_EQ(RefCount(device_), 1u);
}

}  // namespace
