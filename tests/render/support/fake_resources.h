// Test doubles of the device's resources for the engine's buffer, geometry and query code: a
// device (a FakeDevice) whose vertex and index buffers keep their bytes in memory and whose
// occlusion queries answer what the test scripts, with failures to order. Buffers start out
// filled with 0xCD, as Direct3D leaves a new buffer undefined: code that relies on zeros it did
// not write shows up. Locks are checked as Direct3D checks them (one at a time, inside the
// buffer). Resources count their references and delete themselves on the last Release; `live`
// counts those not yet deleted.
#pragma once

#include "tests/render/support/fake_device.h"

#include <d3d9.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <type_traits>
#include <vector>

namespace rh::test {

// The IUnknown and IDirect3DResource9 part shared by the fakes.
template <typename Interface>
class FakeResource : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        if (object != nullptr) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override {
        if (device != nullptr) *device = nullptr;
        return D3DERR_INVALIDCALL;
    }

    ULONG refs = 1;

protected:
    virtual ~FakeResource() = default;
};

// A vertex or index buffer of `length` bytes in memory.
template <typename Interface, typename Desc>
class FakeBuffer final : public FakeResource<Interface> {
public:
    FakeBuffer(UINT length, DWORD usage, D3DPOOL pool, D3DFORMAT format, DWORD fvf)
        : bytes(length, 0xCD), usage(usage), pool(pool), format(format), fvf(fvf) {
        ++live;
    }
    static inline int live = 0;

    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override {
        return std::is_same_v<Interface, IDirect3DVertexBuffer9> ? D3DRTYPE_VERTEXBUFFER : D3DRTYPE_INDEXBUFFER;
    }
    HRESULT STDMETHODCALLTYPE Lock(UINT offset, UINT size, void** data, DWORD flags) override {
        ++locks;
        lastLockFlags = flags;
        if (data == nullptr || locked || offset > bytes.size()) return D3DERR_INVALIDCALL;
        if (size == 0) size = static_cast<UINT>(bytes.size()) - offset;
        if (size > bytes.size() - offset) return D3DERR_INVALIDCALL;
        if (failLocks) return D3DERR_INVALIDCALL;
        locked = true;
        *data = bytes.data() + offset;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE Unlock() override {
        if (!locked) return D3DERR_INVALIDCALL;
        locked = false;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDesc(Desc* desc) override {
        if (desc == nullptr) return D3DERR_INVALIDCALL;
        *desc = Desc{};
        desc->Format = format;
        desc->Type = GetType();
        desc->Usage = usage;
        desc->Pool = pool;
        desc->Size = static_cast<UINT>(bytes.size());
        return D3D_OK;
    }

    std::vector<uint8_t> bytes;
    DWORD usage;
    D3DPOOL pool;
    D3DFORMAT format;
    DWORD fvf;
    bool locked = false;
    bool failLocks = false;
    int locks = 0;
    DWORD lastLockFlags = 0;

private:
    ~FakeBuffer() override { --live; }
};

using FakeVertexBuffer = FakeBuffer<IDirect3DVertexBuffer9, D3DVERTEXBUFFER_DESC>;
using FakeIndexBuffer = FakeBuffer<IDirect3DIndexBuffer9, D3DINDEXBUFFER_DESC>;

// An occlusion query that answers from `script`: GetData gives S_FALSE while script->ready is
// false, else S_OK and script->pixels; script->issueAnswer is what Issue answers.
struct QueryScript {
    bool ready = true;
    DWORD pixels = 0;
    HRESULT issueAnswer = D3D_OK;
    int begins = 0;
    int ends = 0;
    int getDataCalls = 0;
};

class FakeQuery final : public FakeResource<IDirect3DQuery9> {
public:
    explicit FakeQuery(QueryScript* script) : script_(script) { ++live; }
    static inline int live = 0;

    D3DQUERYTYPE STDMETHODCALLTYPE GetType() override { return D3DQUERYTYPE_OCCLUSION; }
    DWORD STDMETHODCALLTYPE GetDataSize() override { return sizeof(DWORD); }
    HRESULT STDMETHODCALLTYPE Issue(DWORD flags) override {
        if (flags == D3DISSUE_BEGIN) ++script_->begins;
        if (flags == D3DISSUE_END) ++script_->ends;
        return script_->issueAnswer;
    }
    HRESULT STDMETHODCALLTYPE GetData(void* data, DWORD size, DWORD) override {
        ++script_->getDataCalls;
        if (!script_->ready) return S_FALSE;
        if (data != nullptr && size >= sizeof(DWORD)) std::memcpy(data, &script_->pixels, sizeof(DWORD));
        return S_OK;
    }

private:
    ~FakeQuery() override { --live; }
    QueryScript* script_;
};

// What a draw call was given.
struct DrawRecord {
    bool indexed = false;
    D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST;
    UINT start = 0;  // start vertex or start index
    UINT numVertices = 0;
    UINT primitives = 0;
};

// A FakeDevice whose buffers and queries are real objects. `refuseBuffer` (when set) is asked
// before each buffer creation with the length and answers whether to refuse it with
// D3DERR_OUTOFVIDEOMEMORY; `supportQueries` false makes CreateQuery answer D3DERR_NOTAVAILABLE.
class ResourceDevice : public FakeDevice {
public:
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9** buffer, HANDLE*) override {
        ++bufferCreations;
        if (buffer == nullptr || length == 0) return D3DERR_INVALIDCALL;
        *buffer = nullptr;
        if (refuseBuffer && refuseBuffer(length)) return D3DERR_OUTOFVIDEOMEMORY;
        auto* made = new FakeVertexBuffer(length, usage, pool, D3DFMT_VERTEXDATA, fvf);
        made->failLocks = failLocks;
        lastVertexBuffer = made;
        *buffer = made;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                                IDirect3DIndexBuffer9** buffer, HANDLE*) override {
        ++bufferCreations;
        if (buffer == nullptr || length == 0) return D3DERR_INVALIDCALL;
        if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
        *buffer = nullptr;
        if (refuseBuffer && refuseBuffer(length)) return D3DERR_OUTOFVIDEOMEMORY;
        auto* made = new FakeIndexBuffer(length, usage, pool, format, 0);
        made->failLocks = failLocks;
        lastIndexBuffer = made;
        *buffer = made;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateQuery(D3DQUERYTYPE type, IDirect3DQuery9** query) override {
        ++queryCreations;
        if (!supportQueries || type != D3DQUERYTYPE_OCCLUSION) return D3DERR_NOTAVAILABLE;
        if (query == nullptr) return D3D_OK;
        *query = new FakeQuery(&queryScript);
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset,
                                              UINT stride) override {
        if (stream >= 8) return D3DERR_INVALIDCALL;
        streams[stream] = buffer;
        streamOffsets[stream] = offset;
        streamStrides[stream] = stride;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE SetIndices(IDirect3DIndexBuffer9* buffer) override {
        indices = buffer;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT count) override {
        draws.push_back(DrawRecord{false, type, startVertex, 0, count});
        return drawAnswer;
    }
    HRESULT STDMETHODCALLTYPE DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT, UINT, UINT numVertices,
                                                   UINT startIndex, UINT count) override {
        draws.push_back(DrawRecord{true, type, startIndex, numVertices, count});
        return drawAnswer;
    }

    std::function<bool(UINT length)> refuseBuffer;
    // Buffers made from now on refuse every lock.
    bool failLocks = false;
    int bufferCreations = 0;
    FakeVertexBuffer* lastVertexBuffer = nullptr;
    FakeIndexBuffer* lastIndexBuffer = nullptr;
    bool supportQueries = true;
    int queryCreations = 0;
    QueryScript queryScript;
    IDirect3DVertexBuffer9* streams[8] = {};
    UINT streamOffsets[8] = {};
    UINT streamStrides[8] = {};
    IDirect3DIndexBuffer9* indices = nullptr;
    std::vector<DrawRecord> draws;
    HRESULT drawAnswer = D3D_OK;
};

}  // namespace rh::test
