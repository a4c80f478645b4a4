// Vertex and index buffers.

#include "platform/d3d9/buffers.h"

#include "platform/d3d9/d3d9_local.h"
#include "platform/d3d9/d3d9_testing.h"
#include "platform/d3d9/gl.h"
#include "platform/d3d9/vertex_input.h"

#include <d3dx9mesh.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace rh::d3d9 {
namespace {

// Test hook (d3d9_testing.h): the bytes of every buffer with a GL object.
uint64_t liveBufferBytes = 0;

// The usages a buffer may have: WRITEONLY, SOFTWAREPROCESSING, DONOTCLIP, POINTS, RTPATCHES
// (0x80), NPATCHES (0x100) and DYNAMIC.
constexpr DWORD kBufferUsages = D3DUSAGE_WRITEONLY | D3DUSAGE_SOFTWAREPROCESSING | D3DUSAGE_DONOTCLIP |
                                D3DUSAGE_POINTS | 0x80 | 0x100 | D3DUSAGE_DYNAMIC;
constexpr DWORD kLockFlags = D3DLOCK_READONLY | D3DLOCK_NOSYSLOCK | D3DLOCK_NOOVERWRITE | D3DLOCK_DISCARD;

// The bytes one vertex of an FVF code takes; 0 for a code no declaration expresses.
UINT FvfVertexSize(DWORD fvf) {
    D3DVERTEXELEMENT9 elements[MAX_FVF_DECL_SIZE];
    if (D3DXDeclaratorFromFVF(fvf, elements) != D3D_OK) return 0;
    UINT size = 0;
    for (const D3DVERTEXELEMENT9* e = elements; e->Stream != 0xFF; ++e) {
        const DeclTypeInfo* type = FindDeclType(e->Type, true);
        size = std::max<UINT>(size, e->Offset + (type != nullptr ? type->bytes : 4));
    }
    return size;
}

HRESULT OutOfMemory(D3DPOOL pool) { return pool == D3DPOOL_DEFAULT ? D3DERR_OUTOFVIDEOMEMORY : E_OUTOFMEMORY; }

// Widens [*lo, *hi] to the Index values [from, to) of bytes. Plain locals and memcpy loads, so
// that the compiler can vectorise the loop.
template <typename Index>
void Widen(const uint8_t* bytes, UINT from, UINT to, uint32_t* lo, uint32_t* hi) {
    uint32_t l = *lo;
    uint32_t h = *hi;
    for (UINT i = from; i < to; ++i) {
        Index value;
        std::memcpy(&value, bytes + size_t{i} * sizeof(Index), sizeof value);
        l = value < l ? value : l;
        h = value > h ? value : h;
    }
    *lo = l;
    *hi = h;
}

// The smallest and largest of indices [first, end) of a buffer of Index values: index by index
// up to a chunk boundary, whole chunks from their summaries, then the rest.
template <typename Index>
void ScanRange(const uint8_t* bytes, UINT first, UINT end, UINT chunk, const uint32_t* chunkMin,
               const uint32_t* chunkMax, uint32_t* smallest, uint32_t* largest) {
    uint32_t lo = UINT32_MAX;
    uint32_t hi = 0;
    UINT i = std::min(end, (first + chunk - 1) / chunk * chunk);
    Widen<Index>(bytes, first, i, &lo, &hi);
    for (; i + chunk <= end; i += chunk) {
        lo = std::min(lo, chunkMin[i / chunk]);
        hi = std::max(hi, chunkMax[i / chunk]);
    }
    Widen<Index>(bytes, i, end, &lo, &hi);
    *smallest = lo;
    *largest = hi;
}

}  // namespace

bool ValidBufferCreation(UINT length, DWORD usage, D3DPOOL pool) {
    if (length == 0 || (usage & ~kBufferUsages) != 0) return false;
    // Scratch memory cannot hold buffers; a managed buffer cannot be dynamic.
    if (pool != D3DPOOL_DEFAULT && pool != D3DPOOL_MANAGED && pool != D3DPOOL_SYSTEMMEM) return false;
    return !(pool == D3DPOOL_MANAGED && (usage & D3DUSAGE_DYNAMIC) != 0);
}

// ---- BufferStore ----

BufferStore::BufferStore(Device* device, GLenum target, DWORD usage, bool keepCopy)
    : device_(device), target_(target), usage_(usage), keepCopy_(keepCopy) {}

bool BufferStore::Allocate(UINT length) {
    length_ = length;
    const bool reached = device_->MakeCurrent();
    copyKept_ = keepCopy_ || !reached;
    // Zeros for GL come from the kept copy, or from a block the buffer lets go at once.
    std::vector<uint8_t> zeros;
    try {
        (copyKept_ ? bytes_ : zeros).assign(length, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!reached) return true;  // no GL: the CPU copy alone, nothing draws
    gl.GenBuffers(1, &name_);
    GlCache& cache = device_->glCache();
    cache.BindBuffer(target_, name_);
    gl.BufferData(target_, static_cast<GLsizeiptr>(length), copyKept_ ? bytes_.data() : zeros.data(),
                  (usage_ & D3DUSAGE_DYNAMIC) != 0 ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
    if (gl.GetError() == GL_OUT_OF_MEMORY) {
        gl.DeleteBuffers(1, &name_);
        cache.ForgetBuffer(name_);
        name_ = 0;
        return false;
    }
    liveBufferBytes += length;
    return true;
}

BufferStore::~BufferStore() {
    if (name_ == 0) return;
    liveBufferBytes -= length_;
    if (!device_->MakeCurrent()) return;
    gl.DeleteBuffers(1, &name_);
    device_->glCache().ForgetBuffer(name_);
}

HRESULT BufferStore::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    if (data == nullptr) return D3DERR_INVALIDCALL;
    *data = nullptr;
    if (locked_ || (flags & ~kLockFlags) != 0) return D3DERR_INVALIDCALL;
    // DISCARD and NOOVERWRITE promise things about the GPU's use of a dynamic buffer only.
    if ((flags & (D3DLOCK_DISCARD | D3DLOCK_NOOVERWRITE)) != 0 && (usage_ & D3DUSAGE_DYNAMIC) == 0) {
        return D3DERR_INVALIDCALL;
    }
    if ((flags & D3DLOCK_READONLY) != 0 && (flags & D3DLOCK_DISCARD) != 0) return D3DERR_INVALIDCALL;
    UINT length = this->length();
    if (offset > length || size > length - offset) return D3DERR_INVALIDCALL;
    UINT end = size == 0 ? length : offset + size;
    if (!copyKept_) {
        // GL alone holds the bytes: the lock gets a copy of its range, read back, since the
        // program may read it or write only part of it. Static buffers are locked rarely
        // (mostly once, to fill them), and only vertex buffers come here, which draws never
        // write, so the read waits for no drawing. At least one byte, so that an empty lock
        // still has an address.
        try {
            bytes_.assign(std::max<UINT>(end - offset, 1), 0);
        } catch (const std::bad_alloc&) {
            return D3DERR_OUTOFVIDEOMEMORY;
        }
        bytesBegin_ = offset;
        if (end > offset && device_->MakeCurrent()) {
            device_->glCache().BindBuffer(target_, name_);
            gl.GetBufferSubData(target_, static_cast<GLintptr>(offset), static_cast<GLsizeiptr>(end - offset),
                                bytes_.data());
            CheckGlError("BufferStore::Lock");
        }
    }
    // DISCARD keeps every byte: Direct3D makes the rest undefined, but buffers shared by many
    // blocks rely on their neighbours staying, and the CPU copy costs nothing to keep. GL
    // orders the upload after the draws that read the old bytes.
    locked_ = true;
    readOnly_ = (flags & D3DLOCK_READONLY) != 0;
    lockedRange_ = Range{offset, end};
    *data = bytes_.data() + (offset - bytesBegin_);
    return D3D_OK;
}

bool BufferStore::EndLock(Range* range, bool* readOnly) {
    if (!locked_) return false;
    locked_ = false;
    *range = lockedRange_;
    *readOnly = readOnly_;
    return true;
}

void BufferStore::Upload(Range range) {
    if (range.begin >= range.end || name_ == 0 || !device_->MakeCurrent()) return;
    device_->glCache().BindBuffer(target_, name_);
    gl.BufferSubData(target_, static_cast<GLintptr>(range.begin), static_cast<GLsizeiptr>(range.end - range.begin),
                     bytes_.data() + (range.begin - bytesBegin_));
    CheckGlError("BufferStore::Upload");
}

void BufferStore::ReleaseLockCopy() {
    if (copyKept_ || locked_) return;
    std::vector<uint8_t>().swap(bytes_);
    bytesBegin_ = 0;
}

// ---- DefaultPoolCount ----

DefaultPoolCount::DefaultPoolCount(Device* device, D3DPOOL pool) : device_(device), defaultPool_(pool == D3DPOOL_DEFAULT) {
    Set(true);
}

void DefaultPoolCount::Set(bool counted) {
    if (!defaultPool_ || counted == counted_) return;
    counted_ = counted;
    if (counted) {
        device_->AddDefaultPoolResource();
    } else {
        device_->RemoveDefaultPoolResource();
    }
}

// ---- VertexBuffer ----

VertexBuffer::VertexBuffer(Device* device, UINT length, DWORD usage, DWORD fvf, D3DPOOL pool)
    : DeviceChild(device),
      // Draws read vertices from GL only: a static buffer's bytes need no CPU copy once GL has
      // them. A dynamic one is locked often, and system memory is the CPU's.
      store_(device, GL_ARRAY_BUFFER, usage, (usage & D3DUSAGE_DYNAMIC) != 0 || pool == D3DPOOL_SYSTEMMEM),
      desc_{D3DFMT_VERTEXDATA, D3DRTYPE_VERTEXBUFFER, usage, pool, length, fvf},
      count_(device, pool) {}

HRESULT STDMETHODCALLTYPE VertexBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    return store_.Lock(offset, size, data, flags);
}

HRESULT STDMETHODCALLTYPE VertexBuffer::Unlock() {
    BufferStore::Range range;
    bool readOnly = false;
    if (!store_.EndLock(&range, &readOnly)) return D3DERR_INVALIDCALL;
    if (!readOnly) store_.Upload(range);
    store_.ReleaseLockCopy();
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE VertexBuffer::GetDesc(D3DVERTEXBUFFER_DESC* desc) {
    if (desc == nullptr) return D3DERR_INVALIDCALL;
    *desc = desc_;
    return D3D_OK;
}

// ---- IndexBuffer ----

IndexBuffer::IndexBuffer(Device* device, UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool)
    : DeviceChild(device),
      // The draws' checks read indices on the CPU.
      store_(device, GL_ELEMENT_ARRAY_BUFFER, usage, true),
      desc_{format, D3DRTYPE_INDEXBUFFER, usage, pool, length},
      indexSize_(format == D3DFMT_INDEX16 ? 2 : 4),
      count_(device, pool) {}

bool IndexBuffer::Allocate() {
    if (!store_.Allocate(desc_.Size)) return false;
    // Every index starts at 0.
    UINT chunks = (indexCount() + kChunk - 1) / kChunk;
    try {
        chunkMin_.assign(chunks, 0);
        chunkMax_.assign(chunks, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

HRESULT STDMETHODCALLTYPE IndexBuffer::Lock(UINT offset, UINT size, void** data, DWORD flags) {
    return store_.Lock(offset, size, data, flags);
}

HRESULT STDMETHODCALLTYPE IndexBuffer::Unlock() {
    BufferStore::Range range;
    bool readOnly = false;
    if (!store_.EndLock(&range, &readOnly)) return D3DERR_INVALIDCALL;
    if (range.begin >= range.end) return D3D_OK;
    // Even a read-only range goes up: the draws' checks read the CPU copy, so GL must hold
    // exactly that, whatever a program wrote against its lock.
    UINT chunkBytes = kChunk * indexSize_;
    Summarise(range.begin / chunkBytes,
              std::min<UINT>((range.end + chunkBytes - 1) / chunkBytes, static_cast<UINT>(chunkMin_.size())));
    store_.Upload(range);
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE IndexBuffer::GetDesc(D3DINDEXBUFFER_DESC* desc) {
    if (desc == nullptr) return D3DERR_INVALIDCALL;
    *desc = desc_;
    return D3D_OK;
}

uint32_t IndexBuffer::IndexAt(UINT i) const {
    const uint8_t* p = store_.bytes() + size_t{i} * indexSize_;
    if (indexSize_ == 2) {
        uint16_t value;
        std::memcpy(&value, p, sizeof value);
        return value;
    }
    uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

void IndexBuffer::Summarise(UINT firstChunk, UINT endChunk) {
    UINT count = indexCount();
    for (UINT c = firstChunk; c < endChunk; ++c) {
        uint32_t smallest = UINT32_MAX;
        uint32_t largest = 0;
        UINT from = c * kChunk;
        UINT to = std::min(count, from + kChunk);
        if (indexSize_ == 2) {
            Widen<uint16_t>(store_.bytes(), from, to, &smallest, &largest);
        } else {
            Widen<uint32_t>(store_.bytes(), from, to, &smallest, &largest);
        }
        chunkMin_[c] = smallest;
        chunkMax_[c] = largest;
    }
}

std::vector<uint32_t> IndexBuffer::Rebased(UINT first, UINT count, int32_t base) const {
    std::vector<uint32_t> rebased(count);
    for (UINT i = 0; i < count; ++i) rebased[i] = static_cast<uint32_t>(int64_t{IndexAt(first + i)} + base);
    return rebased;
}

void IndexBuffer::IndexRange(UINT first, UINT count, uint32_t* smallest, uint32_t* largest) const {
    if (indexSize_ == 2) {
        ScanRange<uint16_t>(store_.bytes(), first, first + count, kChunk, chunkMin_.data(), chunkMax_.data(), smallest,
                            largest);
    } else {
        ScanRange<uint32_t>(store_.bytes(), first, first + count, kChunk, chunkMin_.data(), chunkMax_.data(), smallest,
                            largest);
    }
}

// ---- The device's creators ----

HRESULT STDMETHODCALLTYPE Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                     IDirect3DVertexBuffer9** buffer, HANDLE* sharedHandle) {
    if (buffer == nullptr) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (sharedHandle != nullptr || !ValidBufferCreation(length, usage, pool)) return D3DERR_INVALIDCALL;
    // With an FVF code the buffer holds at least one such vertex.
    if (fvf != 0) {
        UINT vertex = FvfVertexSize(fvf);
        if (vertex == 0 || length < vertex) return D3DERR_INVALIDCALL;
    }
    auto* made = new VertexBuffer(this, length, usage, fvf, pool);
    if (!made->Allocate()) {
        made->Release();
        return OutOfMemory(pool);
    }
    *buffer = made;
    return D3D_OK;
}

HRESULT STDMETHODCALLTYPE Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                                    IDirect3DIndexBuffer9** buffer, HANDLE* sharedHandle) {
    if (buffer == nullptr) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (sharedHandle != nullptr || !ValidBufferCreation(length, usage, pool)) return D3DERR_INVALIDCALL;
    if (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32) return D3DERR_INVALIDCALL;
    auto* made = new IndexBuffer(this, length, usage, format, pool);
    if (!made->Allocate()) {
        made->Release();
        return OutOfMemory(pool);
    }
    *buffer = made;
    return D3D_OK;
}

namespace testing {

uint64_t LiveBufferBytes() { return liveBufferBytes; }

}  // namespace testing
}  // namespace rh::d3d9
