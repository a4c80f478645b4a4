// Vertex and index buffers: GL buffer objects, written range by range as locks end. Index
// buffers and dynamic or system-memory vertex buffers keep a CPU copy of every byte; a static
// vertex buffer's bytes live in GL alone, and a lock works on a copy of its range read back
// from GL. Private to platform/d3d9.
#pragma once

#include "platform/d3d9/device_child.h"

#include <d3d9.h>

#include <SDL_opengl.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rh::d3d9 {

class Device;

// Whether usage, pool and size make a valid buffer of length bytes; what both creators check.
bool ValidBufferCreation(UINT length, DWORD usage, D3DPOOL pool);

// What the two kinds of buffer share: the bytes, the GL object and the lock.
class BufferStore {
public:
    // The locked range, half-open.
    struct Range {
        UINT begin = 0;
        UINT end = 0;
    };

    // target: GL_ARRAY_BUFFER or GL_ELEMENT_ARRAY_BUFFER. keepCopy: the CPU copy of every
    // byte stays for the buffer's life; otherwise GL alone holds the bytes between locks.
    BufferStore(Device* device, GLenum target, DWORD usage, bool keepCopy);
    ~BufferStore();
    // Makes the GL object, length bytes of zeros, and the CPU copy when one is kept (always
    // when GL cannot be reached); false when memory runs out.
    bool Allocate(UINT length);
    BufferStore(const BufferStore&) = delete;
    BufferStore& operator=(const BufferStore&) = delete;

    HRESULT Lock(UINT offset, UINT size, void** data, DWORD flags);
    // Ends the lock: the range it covered and whether it was read-only; false when no lock
    // is open.
    bool EndLock(Range* range, bool* readOnly);
    // Copies [begin, end) of the CPU bytes (the whole copy's, or the ended lock's) into the
    // GL object.
    void Upload(Range range);
    // After a lock has ended and its range went to GL: a buffer without a kept copy lets the
    // lock's copy go.
    void ReleaseLockCopy();

    // Every byte of the buffer on the CPU; null for a buffer whose bytes GL alone holds.
    const uint8_t* bytes() const { return copyKept_ ? bytes_.data() : nullptr; }
    UINT length() const { return length_; }
    GLuint name() const { return name_; }
    // The bytes the CPU holds for the buffer now: the kept copy, or a lock's range.
    size_t cpuBytes() const { return bytes_.capacity(); }

private:
    Device* device_;
    GLenum target_;
    DWORD usage_;
    bool keepCopy_;
    bool copyKept_ = true;  // decided by Allocate: keepCopy_, or GL could not be reached
    GLuint name_ = 0;       // 0 when GL could not be reached (the window was gone)
    UINT length_ = 0;
    // The kept copy (from byte 0); without one, during a lock, the locked range from
    // bytesBegin_ on, else empty.
    std::vector<uint8_t> bytes_;
    UINT bytesBegin_ = 0;
    bool locked_ = false;
    bool readOnly_ = false;
    Range lockedRange_;
};

// Counts a D3DPOOL_DEFAULT buffer as alive on its device while the program holds it.
class DefaultPoolCount {
public:
    DefaultPoolCount(Device* device, D3DPOOL pool);
    ~DefaultPoolCount() { Set(false); }
    DefaultPoolCount(const DefaultPoolCount&) = delete;
    DefaultPoolCount& operator=(const DefaultPoolCount&) = delete;
    void Set(bool counted);

private:
    Device* device_;
    bool defaultPool_;
    bool counted_ = false;
};

class VertexBuffer final
    : public DeviceChild<IDirect3DVertexBuffer9, IID_IDirect3DResource9, IID_IDirect3DVertexBuffer9> {
public:
    // Arguments were validated.
    VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool);

    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override { return ShareDevice(device); }
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT STDMETHODCALLTYPE Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Unlock() override;
    HRESULT STDMETHODCALLTYPE GetDesc(D3DVERTEXBUFFER_DESC* desc) override;

    // After construction; false when memory runs out (the caller releases the buffer).
    bool Allocate() { return store_.Allocate(desc_.Size); }
    const BufferStore& store() const { return store_; }

private:
    void ProgramHoldChanged(bool held) override { count_.Set(held); }

    BufferStore store_;
    D3DVERTEXBUFFER_DESC desc_;
    DefaultPoolCount count_;
};

class IndexBuffer final
    : public DeviceChild<IDirect3DIndexBuffer9, IID_IDirect3DResource9, IID_IDirect3DIndexBuffer9> {
public:
    // Arguments were validated; format is D3DFMT_INDEX16 or D3DFMT_INDEX32.
    IndexBuffer(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool);

    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override { return ShareDevice(device); }
    D3DRESOURCETYPE STDMETHODCALLTYPE GetType() override { return D3DRTYPE_INDEXBUFFER; }
    HRESULT STDMETHODCALLTYPE Lock(UINT offset, UINT size, void** data, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE Unlock() override;
    HRESULT STDMETHODCALLTYPE GetDesc(D3DINDEXBUFFER_DESC* desc) override;

    // After construction; false when memory runs out (the caller releases the buffer).
    bool Allocate();
    const BufferStore& store() const { return store_; }
    UINT indexSize() const { return indexSize_; }
    // Whole indices the buffer holds.
    UINT indexCount() const { return store_.length() / indexSize_; }
    GLenum glType() const { return indexSize_ == 2 ? GL_UNSIGNED_SHORT : GL_UNSIGNED_INT; }
    // The smallest and largest of the count indices from first on; first + count must not
    // pass indexCount() and count must not be 0. A draw checks its vertex range with them.
    // Outside locks GL holds exactly the CPU copy these read.
    void IndexRange(UINT first, UINT count, uint32_t* smallest, uint32_t* largest) const;
    // The count indices from first on plus base (which IndexRange showed to be at least 0).
    std::vector<uint32_t> Rebased(UINT first, UINT count, int32_t base) const;

private:
    // Indices per summarised chunk: a draw's range check reads at most two partial chunks
    // index by index and the whole chunks from their summaries.
    static constexpr UINT kChunk = 64;

    void ProgramHoldChanged(bool held) override { count_.Set(held); }
    uint32_t IndexAt(UINT i) const;
    void Summarise(UINT firstChunk, UINT endChunk);

    BufferStore store_;
    D3DINDEXBUFFER_DESC desc_;
    UINT indexSize_;
    std::vector<uint32_t> chunkMin_, chunkMax_;
    DefaultPoolCount count_;
};

}  // namespace rh::d3d9
