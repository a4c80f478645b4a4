// Device vertex and index buffers shared by many users. A HardwareBuffer owns one Direct3D
// buffer and hands out byte ranges of it (BufferBlocks) by best fit; freed ranges merge with free
// neighbours; compaction squeezes the holes out, after which every moved block's user rewrites
// its bytes. The buffer keeps a "used span" from the lowest used byte to the end of the highest
// used block, so that one draw can cover every user of the buffer: holes inside the span are
// kept zero-filled so that such a draw draws nothing from them.
//
// As device resources the buffers re-create their device buffer after every reset and ask
// every user to refill its block, in block order, so D3DPOOL_DEFAULT buffers survive a loss.
// A GrowableBuffer enlarges its device buffer when an allocation does not fit.
//
// Sizes are bytes in int; negative sizes, empty blocks and sizes that would overflow an int are
// refused. Single thread.
#pragma once

#include "core/bounds/bounds_provider.h"
#include "core/object/ref_counted.h"
#include "render/app_framework.h"
#include "render/vertex_format.h"

#include <d3d9.h>

#include <cstdint>

enum class BufferKind : int32_t {
    None = 0,  // a HardwareBuffer before it is created
    Vertex = 1,
    Index = 2,
};

// BufferDesc::flags: which fields a description gives and which must match.
constexpr int32_t kBufferPoolGiven = 0x1;            // and must match
constexpr int32_t kBufferIndexFormatMatches = 0x2;
constexpr int32_t kBufferGrowthGiven = 0x4;
constexpr int32_t kBufferSizeGiven = 0x8;
constexpr int32_t kBufferUsageGiven = 0x10;          // and must match
// Set by the geometry code on its stream and index descriptions; no buffer operation reads it.
constexpr int32_t kBufferGeometryMark = 0x80;

constexpr int32_t kDefaultGrowthStep = 4096;

// How to make a buffer; copied by value.
struct BufferDesc {
    BufferKind kind = BufferKind::Vertex;
    VertexFormat format;  // vertex buffers
    int32_t stride = 0;   // bytes per vertex
    D3DFORMAT indexFormat = D3DFMT_INDEX16;
    D3DPOOL pool = D3DPOOL_DEFAULT;
    int32_t size = 0;
    int32_t growthStep = kDefaultGrowthStep;  // bytes a growable buffer adds at least
    DWORD usage = 0;
    // A block freed inside the used span is zero-filled.
    bool clearFreedBlocks = true;
    int32_t flags = 0;

    // Whether a buffer made from b can stand in for one asked for by a (a is the stored or
    // wanted one whose flags decide): same kind; vertex buffers equal formats; index buffers
    // equal index formats when a has kBufferIndexFormatMatches; equal pools when a has
    // kBufferPoolGiven; equal usages when a has kBufferUsageGiven. Stride, size and growth are
    // not compared.
    static bool Matches(const BufferDesc& a, const BufferDesc& b);
};

class HardwareBuffer;
class BufferBlock;

// The object whose data a block holds.
class BufferBlockUser {
public:
    // The block's range moved, or the device buffer under it was re-created: its bytes are no
    // longer the user's. The user writes its data at the block's current offset, at once or
    // before it next draws, and answers whether that worked. It must not allocate or free
    // blocks of the same buffer from here.
    virtual bool OnBlockMoved(BufferBlock* block) = 0;

protected:
    ~BufferBlockUser() = default;
};

// A byte range of a HardwareBuffer; made and deleted only by its buffer. Blocks form a doubly
// linked list ordered by offset that covers the buffer without gaps.
class BufferBlock : public BoundsProvider {
public:
    // Returns the block to its owner; nothing when detached. The block must not be used
    // afterwards (it may have been merged away).
    void Free();
    // Locks exactly the block's range of the owner's device buffer; true on S_OK. False, with
    // *data untouched, without an owner or device buffer.
    bool Lock(DWORD flags, void** data);
    bool Unlock();
    // Zero-fills the range through the owner; true when detached.
    bool Clear();
    // The box of the block's vertices, read back from the device buffer: only for vertex
    // buffers with a device buffer, a stride of at least one position (12 bytes) and a usage
    // without D3DUSAGE_WRITEONLY. Otherwise the box is marked invalid and the answer is false.
    bool ComputeBounds() override;

    HardwareBuffer* owner() const { return owner_; }
    BufferBlockUser* user() const { return user_; }
    int32_t value() const { return value_; }
    void SetValue(int32_t value) { value_ = value; }
    bool IsFree() const { return free_; }
    int32_t offset() const { return offset_; }
    int32_t size() const { return size_; }
    BufferBlock* previous() const { return previous_; }
    BufferBlock* next() const { return next_; }

private:
    friend class HardwareBuffer;
    BufferBlock(HardwareBuffer* owner, int32_t offset, int32_t size)
        : owner_(owner), offset_(offset), size_(size) {}

    HardwareBuffer* owner_ = nullptr;
    BufferBlockUser* user_ = nullptr;
    int32_t value_ = 0;
    bool free_ = true;
    // Set by a compaction for the users it tells once the new layout stands.
    bool refill_ = false;
    int32_t offset_ = 0;
    int32_t size_ = 0;
    BufferBlock* previous_ = nullptr;
    BufferBlock* next_ = nullptr;
};

// Calling order: construct; CreateVertexBuffer or CreateIndexBuffer once a device exists;
// AllocateBlock / FreeBlock as users come and go; draw with the device buffer and the used
// span; destroy (the blocks go with the buffer).
class HardwareBuffer : public DeviceResource, public BoundsProvider, public virtual RefCounted {
public:
    // Empty (kind None), not registered.
    HardwareBuffer() = default;
    HardwareBuffer(const HardwareBuffer&) = delete;
    HardwareBuffer& operator=(const HardwareBuffer&) = delete;

    // A new device buffer: re-created and compacted with every user refilled. An empty buffer
    // (kind None) has nothing to restore and answers true; a failed creation answers false and
    // keeps the blocks without device memory until the next restore.
    bool OnDeviceRestore() override;
    // Releases the device buffer; the blocks and their users stay.
    bool OnDeviceLost() override;
    // Release, then the base unregisters.
    ~HardwareBuffer() override;

    // Lays the used blocks out from offset 0 in their order, dropping every free block, and
    // tells the user of each block whose offset changed (every used block's user when
    // refillAll) in block order. The rest of the buffer becomes one free block at the end.
    // The device buffer's bytes are not moved: the users rewrite theirs. The AND of the users'
    // answers (true when none was told).
    virtual bool CompactBuffer(bool refillAll);
    // The best-fitting free block (the smallest that holds size bytes, the first of equal
    // ones), split when larger, marked used for user with value. Null for size <= 0 or when
    // nothing fits. A block placed below the used span's start has its rest zero-filled, as
    // that rest now lies inside the span.
    virtual BufferBlock* AllocateBlock(int32_t size, int32_t value, BufferBlockUser* user);
    // Marks a used block of this buffer free, shrinking the span when it was the first or last
    // block of the span and zero-filling it when it lay inside, and merges it with free
    // neighbours. A free block, null or another buffer's block: nothing.
    virtual void FreeBlock(BufferBlock* block);

    // Releases whatever the buffer held, registers it and, with a device, makes a device
    // buffer of size bytes with one free block. False without a device (the buffer stays
    // registered and empty), for size < 0 or stride < 0, and when the device refuses the
    // buffer (the free block stays, without device memory).
    bool CreateVertexBuffer(int32_t size, DWORD usage, const VertexFormat& format, int32_t stride, D3DPOOL pool);
    bool CreateIndexBuffer(int32_t size, DWORD usage, D3DFORMAT indexFormat, D3DPOOL pool);
    // Device buffer released, every block deleted (blocks handed out must not be used any
    // more), size, free bytes and span 0. The buffer stays registered.
    void Release();

    // Locks [offset, offset + size) with D3DLOCK_NOOVERWRITE when the usage is exactly
    // D3DUSAGE_DYNAMIC (else no flag), sets every byte to value, unlocks. False without a device
    // buffer, for a range outside the buffer, and when the lock fails.
    bool FillRange(int32_t offset, int32_t size, uint8_t value);
    // Locks [offset, offset + size) of the device buffer; false (and *data untouched) without
    // one, for an empty range or one outside the buffer.
    bool LockRange(int32_t offset, int32_t size, DWORD flags, void** data);
    bool UnlockRange();

    // The box of the used span's vertices, under BufferBlock::ComputeBounds's conditions.
    bool ComputeBounds() override;
    // Answers its own id and RefCounted's.
    bool QueryInterface(int32_t id, void** out) override;

    // Null unless the kind is Vertex (or Index) and a device buffer exists.
    IDirect3DVertexBuffer9* GetVertexBuffer() const;
    IDirect3DIndexBuffer9* GetIndexBuffer() const;
    bool HasDeviceBuffer() const { return vertexBuffer_ != nullptr || indexBuffer_ != nullptr; }
    BufferBlock* FirstBlock() const { return first_; }
    // The used span: from the lowest used block's offset to the highest used block's end;
    // (0, 0) while nothing is used.
    void GetUsedSpan(int32_t* start, int32_t* length) const {
        *start = spanStart_;
        *length = spanLength_;
    }
    int32_t GetStride() const { return desc_.stride; }
    D3DFORMAT GetIndexFormat() const { return desc_.indexFormat; }
    const VertexFormat& GetVertexFormat() const { return desc_.format; }
    DWORD GetUsage() const { return desc_.usage; }
    D3DPOOL GetPool() const { return desc_.pool; }
    BufferKind kind() const { return desc_.kind; }
    int32_t size() const { return desc_.size; }
    int32_t freeBytes() const { return freeBytes_; }
    const BufferDesc& desc() const { return desc_; }

protected:
    // Makes the device buffer of the description's size; true and nothing made for size 0.
    // False without a device or kind, or when the device refuses.
    bool CreateDeviceBuffer();
    void ReleaseDeviceBuffer();
    // Resizes the description; only the growable buffer does this, between releasing and
    // re-creating its device buffer.
    void SetSize(int32_t size) { desc_.size = size; }

private:
    friend class BufferBlock;
    static BufferDesc EmptyDesc() {
        BufferDesc desc;
        desc.kind = BufferKind::None;
        return desc;
    }
    bool Create(BufferKind kind, int32_t size, DWORD usage, const VertexFormat& format, int32_t stride,
                D3DFORMAT indexFormat, D3DPOOL pool);
    void DeleteBlocks();
    bool ComputeRangeBounds(int32_t offset, int32_t size, BoundingBox* box);
    // The lowest used block at or after block / the highest at or before it; null for none.
    static BufferBlock* UsedFrom(BufferBlock* block);
    static BufferBlock* UsedBackFrom(BufferBlock* block);

    IDirect3DVertexBuffer9* vertexBuffer_ = nullptr;
    IDirect3DIndexBuffer9* indexBuffer_ = nullptr;
    // Kind None until created.
    BufferDesc desc_ = EmptyDesc();
    int32_t freeBytes_ = 0;
    BufferBlock* first_ = nullptr;
    int32_t spanStart_ = 0;
    int32_t spanLength_ = 0;
};

// A HardwareBuffer that grows its device buffer when an allocation does not fit.
class GrowableBuffer : public HardwareBuffer {
public:
    // The base allocation; when nothing fits, the device buffer is made again larger by
    // max(size, growth step) (retried at the old size when the larger one is refused), every
    // user is told to refill, and the allocation is tried again. Null when both creations fail
    // (the blocks then stay without device memory until a restore: drawing them must check for
    // the device buffer), when the grown size would overflow, or when refilling fails.
    BufferBlock* AllocateBlock(int32_t size, int32_t value, BufferBlockUser* user) override;

    // Creates the buffer from desc: size when kBufferSizeGiven (else 0), growth step when
    // kBufferGrowthGiven (else 4096), pool when kBufferPoolGiven (else D3DPOOL_DEFAULT), usage
    // when kBufferUsageGiven (else 0); kind Vertex with desc's format and stride, otherwise an
    // index buffer of desc's index format. The effective growth, usage, pool and size are
    // written back into desc. False as the base's creation fails, and for a growth step <= 0.
    bool Create(BufferDesc* desc);

    // Answers its own id, HardwareBuffer's and RefCounted's.
    bool QueryInterface(int32_t id, void** out) override;

    int32_t growthStep() const { return growthStep_; }

private:
    int32_t growthStep_ = kDefaultGrowthStep;
};
