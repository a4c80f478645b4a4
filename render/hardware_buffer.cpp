#include "render/hardware_buffer.h"

#include "core/bounds/bounding_box.h"

#include <climits>
#include <cstring>

namespace {

// A position is three floats at the start of each vertex.
constexpr int32_t kPositionBytes = 12;

}  // namespace

// ---- BufferDesc -------------------------------------------------------------------------------

bool BufferDesc::Matches(const BufferDesc& a, const BufferDesc& b) {
    if (a.kind != b.kind) return false;
    if (a.kind == BufferKind::Vertex) {
        if (!a.format.Equals(b.format)) return false;
    } else if (a.kind == BufferKind::Index) {
        if ((a.flags & kBufferIndexFormatMatches) != 0 && a.indexFormat != b.indexFormat) return false;
    }
    if ((a.flags & kBufferPoolGiven) != 0 && a.pool != b.pool) return false;
    if ((a.flags & kBufferUsageGiven) != 0 && a.usage != b.usage) return false;
    return true;
}

// ---- BufferBlock ------------------------------------------------------------------------------

void BufferBlock::Free() {
    if (owner_ != nullptr) owner_->FreeBlock(this);
}

bool BufferBlock::Lock(DWORD flags, void** data) {
    return owner_ != nullptr && owner_->LockRange(offset_, size_, flags, data);
}

bool BufferBlock::Unlock() { return owner_ != nullptr && owner_->UnlockRange(); }

bool BufferBlock::Clear() { return owner_ == nullptr || owner_->FillRange(offset_, size_, 0); }

bool BufferBlock::ComputeBounds() {
    BoundingBox box;
    valid_ = owner_ != nullptr && owner_->ComputeRangeBounds(offset_, size_, &box);
    if (valid_) box_ = box;
    return valid_;
}

// ---- HardwareBuffer: creation and the device buffer -------------------------------------------

HardwareBuffer::~HardwareBuffer() { Release(); }

bool HardwareBuffer::CreateVertexBuffer(int32_t size, DWORD usage, const VertexFormat& format, int32_t stride,
                                        D3DPOOL pool) {
    return Create(BufferKind::Vertex, size, usage, format, stride, D3DFMT_INDEX16, pool);
}

bool HardwareBuffer::CreateIndexBuffer(int32_t size, DWORD usage, D3DFORMAT indexFormat, D3DPOOL pool) {
    return Create(BufferKind::Index, size, usage, VertexFormat(), 0, indexFormat, pool);
}

bool HardwareBuffer::Create(BufferKind kind, int32_t size, DWORD usage, const VertexFormat& format, int32_t stride,
                            D3DFORMAT indexFormat, D3DPOOL pool) {
    Release();
    desc_ = EmptyDesc();
    if (!RegisterDeviceResource(this)) return false;
    if (size < 0 || stride < 0) return false;

    desc_.kind = kind;
    desc_.size = size;
    desc_.usage = usage;
    desc_.pool = pool;
    if (kind == BufferKind::Vertex) {
        desc_.format = format;
        desc_.stride = stride;
    } else {
        desc_.indexFormat = indexFormat;
    }
    freeBytes_ = size;
    // An empty buffer has no blocks at all: a block of 0 bytes would be handed out for nothing.
    if (size > 0) first_ = new BufferBlock(this, 0, size);
    spanStart_ = spanLength_ = 0;
    return OnDeviceRestore();
}

void HardwareBuffer::Release() {
    ReleaseDeviceBuffer();
    DeleteBlocks();
    desc_.size = 0;
    freeBytes_ = 0;
    spanStart_ = spanLength_ = 0;
}

void HardwareBuffer::DeleteBlocks() {
    BufferBlock* block = first_;
    while (block != nullptr) {
        BufferBlock* next = block->next_;
        delete block;
        block = next;
    }
    first_ = nullptr;
}

bool HardwareBuffer::CreateDeviceBuffer() {
    if (g_device == nullptr || desc_.kind == BufferKind::None) return false;
    if (desc_.size == 0) return true;
    const UINT length = static_cast<UINT>(desc_.size);
    if (desc_.kind == BufferKind::Vertex) {
        IDirect3DVertexBuffer9* buffer = nullptr;
        const HRESULT hr = g_device->CreateVertexBuffer(length, desc_.usage, desc_.format.StreamFVF(0), desc_.pool,
                                                        &buffer, nullptr);
        if (hr != D3D_OK || buffer == nullptr) return false;
        vertexBuffer_ = buffer;
    } else {
        IDirect3DIndexBuffer9* buffer = nullptr;
        const HRESULT hr = g_device->CreateIndexBuffer(length, desc_.usage, desc_.indexFormat, desc_.pool, &buffer,
                                                       nullptr);
        if (hr != D3D_OK || buffer == nullptr) return false;
        indexBuffer_ = buffer;
    }
    return true;
}

void HardwareBuffer::ReleaseDeviceBuffer() {
    if (vertexBuffer_ != nullptr) {
        vertexBuffer_->Release();
        vertexBuffer_ = nullptr;
    }
    if (indexBuffer_ != nullptr) {
        indexBuffer_->Release();
        indexBuffer_ = nullptr;
    }
}

bool HardwareBuffer::OnDeviceRestore() {
    // Registered before it was ever created: nothing to restore is no failure, and answering
    // false would fail the framework's whole restore.
    if (desc_.kind == BufferKind::None) return true;
    OnDeviceLost();
    if (!CreateDeviceBuffer()) return false;
    return CompactBuffer(true);
}

bool HardwareBuffer::OnDeviceLost() {
    ReleaseDeviceBuffer();
    return true;
}

IDirect3DVertexBuffer9* HardwareBuffer::GetVertexBuffer() const {
    return desc_.kind == BufferKind::Vertex ? vertexBuffer_ : nullptr;
}

IDirect3DIndexBuffer9* HardwareBuffer::GetIndexBuffer() const {
    return desc_.kind == BufferKind::Index ? indexBuffer_ : nullptr;
}

bool HardwareBuffer::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<HardwareBuffer, RefCounted>(this, id, out);
}

// ---- Locking ----------------------------------------------------------------------------------

bool HardwareBuffer::LockRange(int32_t offset, int32_t size, DWORD flags, void** data) {
    if (data == nullptr || offset < 0 || size <= 0 || offset > desc_.size - size) return false;
    void* locked = nullptr;
    HRESULT hr = D3DERR_INVALIDCALL;
    if (vertexBuffer_ != nullptr) {
        hr = vertexBuffer_->Lock(static_cast<UINT>(offset), static_cast<UINT>(size), &locked, flags);
    } else if (indexBuffer_ != nullptr) {
        hr = indexBuffer_->Lock(static_cast<UINT>(offset), static_cast<UINT>(size), &locked, flags);
    }
    if (hr != D3D_OK || locked == nullptr) return false;
    *data = locked;
    return true;
}

bool HardwareBuffer::UnlockRange() {
    if (vertexBuffer_ != nullptr) return vertexBuffer_->Unlock() == D3D_OK;
    if (indexBuffer_ != nullptr) return indexBuffer_->Unlock() == D3D_OK;
    return false;
}

bool HardwareBuffer::FillRange(int32_t offset, int32_t size, uint8_t value) {
    // Blocks of a dynamic buffer share it with draws in flight: writing over a freed range must
    // not wait for them, and nothing reads it.
    const DWORD flags = desc_.usage == D3DUSAGE_DYNAMIC ? D3DLOCK_NOOVERWRITE : 0;
    void* data = nullptr;
    if (!LockRange(offset, size, flags, &data)) return false;
    std::memset(data, value, static_cast<size_t>(size));
    return UnlockRange();
}

// ---- Allocation -------------------------------------------------------------------------------

BufferBlock* HardwareBuffer::UsedFrom(BufferBlock* block) {
    while (block != nullptr && block->free_) block = block->next_;
    return block;
}

BufferBlock* HardwareBuffer::UsedBackFrom(BufferBlock* block) {
    while (block != nullptr && block->free_) block = block->previous_;
    return block;
}

BufferBlock* HardwareBuffer::AllocateBlock(int32_t size, int32_t value, BufferBlockUser* user) {
    if (size <= 0 || first_ == nullptr) return nullptr;
    BufferBlock* best = nullptr;
    for (BufferBlock* b = first_; b != nullptr; b = b->next_) {
        if (b->free_ && b->size_ >= size && (best == nullptr || b->size_ < best->size_)) best = b;
    }
    if (best == nullptr) return nullptr;

    BufferBlock* rest = nullptr;
    if (best->size_ > size) {
        rest = new BufferBlock(this, best->offset_ + size, best->size_ - size);
        rest->previous_ = best;
        rest->next_ = best->next_;
        if (best->next_ != nullptr) best->next_->previous_ = rest;
        best->next_ = rest;
        best->size_ = size;
    }
    best->value_ = value;
    best->user_ = user;
    best->owner_ = this;
    best->free_ = false;
    freeBytes_ -= size;

    const int32_t end = best->offset_ + size;
    if (spanLength_ == 0) {
        spanStart_ = best->offset_;
        spanLength_ = size;
    } else if (best->offset_ < spanStart_) {
        // Everything between this block and the old start is the rest of the block it came
        // from. It held whatever was freed there while it lay outside the span, and a draw of
        // the whole span would now draw it.
        const int32_t spanEnd = spanStart_ + spanLength_;
        spanStart_ = best->offset_;
        spanLength_ = spanEnd - spanStart_;
        if (rest != nullptr && desc_.clearFreedBlocks) FillRange(rest->offset_, rest->size_, 0);
    } else if (end > spanStart_ + spanLength_) {
        spanLength_ = end - spanStart_;
    }
    return best;
}

void HardwareBuffer::FreeBlock(BufferBlock* block) {
    if (block == nullptr || block->owner_ != this || block->free_) return;

    BufferBlock* before = UsedBackFrom(block->previous_);
    BufferBlock* after = UsedFrom(block->next_);
    if (before == nullptr && after == nullptr) {
        spanStart_ = spanLength_ = 0;
    } else if (before == nullptr) {
        const int32_t spanEnd = spanStart_ + spanLength_;
        spanStart_ = after->offset_;
        spanLength_ = spanEnd - spanStart_;
    } else if (after == nullptr) {
        spanLength_ = before->offset_ + before->size_ - spanStart_;
    } else if (desc_.clearFreedBlocks) {
        FillRange(block->offset_, block->size_, 0);
    }

    block->free_ = true;
    block->user_ = nullptr;
    block->value_ = 0;
    freeBytes_ += block->size_;

    if (BufferBlock* prev = block->previous_; prev != nullptr && prev->free_) {
        prev->size_ += block->size_;
        prev->next_ = block->next_;
        if (block->next_ != nullptr) block->next_->previous_ = prev;
        delete block;
        block = prev;
    }
    if (BufferBlock* next = block->next_; next != nullptr && next->free_) {
        block->size_ += next->size_;
        block->next_ = next->next_;
        if (next->next_ != nullptr) next->next_->previous_ = block;
        delete next;
    }
}

bool HardwareBuffer::CompactBuffer(bool refillAll) {
    if (desc_.kind == BufferKind::None) return true;

    // Lay the used blocks out first and tell the users afterwards, so that a user locking its
    // block sees the final list.
    BufferBlock* last = nullptr;
    int32_t offset = 0;
    BufferBlock* block = first_;
    first_ = nullptr;
    while (block != nullptr) {
        BufferBlock* next = block->next_;
        if (block->free_) {
            delete block;
        } else {
            const bool moved = block->offset_ != offset;
            block->offset_ = offset;
            block->previous_ = last;
            block->next_ = nullptr;
            if (last != nullptr) {
                last->next_ = block;
            } else {
                first_ = block;
            }
            last = block;
            offset += block->size_;
            block->refill_ = refillAll || moved;
        }
        block = next;
    }
    freeBytes_ = desc_.size - offset;
    if (freeBytes_ > 0) {
        BufferBlock* rest = new BufferBlock(this, offset, freeBytes_);
        rest->previous_ = last;
        if (last != nullptr) {
            last->next_ = rest;
        } else {
            first_ = rest;
        }
    }
    spanStart_ = 0;
    spanLength_ = offset;

    bool all = true;
    for (BufferBlock* b = first_; b != nullptr; b = b->next_) {
        if (b->free_ || !b->refill_) continue;
        b->refill_ = false;
        if (b->user_ != nullptr) all = b->user_->OnBlockMoved(b) && all;
    }
    return all;
}

// ---- Bounds -----------------------------------------------------------------------------------

bool HardwareBuffer::ComputeRangeBounds(int32_t offset, int32_t size, BoundingBox* box) {
    if (desc_.kind != BufferKind::Vertex || vertexBuffer_ == nullptr || desc_.stride < kPositionBytes ||
        (desc_.usage & D3DUSAGE_WRITEONLY) != 0 || size <= 0) {
        return false;
    }
    void* data = nullptr;
    if (!LockRange(offset, size, D3DLOCK_READONLY, &data)) return false;
    *box = ComputeVertexBounds(data, static_cast<uint32_t>(desc_.stride), static_cast<uint32_t>(size / desc_.stride));
    UnlockRange();
    return true;
}

bool HardwareBuffer::ComputeBounds() {
    BoundingBox box;
    valid_ = ComputeRangeBounds(spanStart_, spanLength_, &box);
    if (valid_) box_ = box;
    return valid_;
}

// ---- GrowableBuffer ---------------------------------------------------------------------------

bool GrowableBuffer::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<GrowableBuffer, HardwareBuffer, RefCounted>(this, id, out);
}

bool GrowableBuffer::Create(BufferDesc* desc) {
    const int32_t size = (desc->flags & kBufferSizeGiven) != 0 ? desc->size : 0;
    const int32_t growth = (desc->flags & kBufferGrowthGiven) != 0 ? desc->growthStep : kDefaultGrowthStep;
    const D3DPOOL pool = (desc->flags & kBufferPoolGiven) != 0 ? desc->pool : D3DPOOL_DEFAULT;
    const DWORD usage = (desc->flags & kBufferUsageGiven) != 0 ? desc->usage : 0;
    if (growth <= 0) return false;
    growthStep_ = growth;
    const bool created = desc->kind == BufferKind::Vertex
                             ? CreateVertexBuffer(size, usage, desc->format, desc->stride, pool)
                             : CreateIndexBuffer(size, usage, desc->indexFormat, pool);
    if (!created) return false;
    desc->growthStep = growth;
    desc->usage = usage;
    desc->pool = pool;
    desc->size = size;
    return true;
}

BufferBlock* GrowableBuffer::AllocateBlock(int32_t size, int32_t value, BufferBlockUser* user) {
    if (size <= 0 || kind() == BufferKind::None) return nullptr;
    if (BufferBlock* block = HardwareBuffer::AllocateBlock(size, value, user)) return block;

    const int32_t oldSize = this->size();
    const int32_t growth = size > growthStep_ ? size : growthStep_;
    if (growth > INT_MAX - oldSize) return nullptr;
    ReleaseDeviceBuffer();
    SetSize(oldSize + growth);
    if (!CreateDeviceBuffer()) {
        SetSize(oldSize);
        if (!CreateDeviceBuffer()) return nullptr;
    }
    // The new device buffer holds nothing yet: every user writes its block again, and the new
    // room becomes one free block at the end.
    if (!CompactBuffer(true)) return nullptr;
    return HardwareBuffer::AllocateBlock(size, value, user);
}
