// The geometry buffer cache: per source mesh and requested layout one shared Geometry, whose
// device buffers it makes on demand and fills from the mesh's data (converting layouts and
// index widths), refills after every device reset, and drops, oldest upload first, to keep the
// uploaded bytes within a budget. A geometry lives as long as its users hold references to it;
// the cache itself holds only the references' plain words, counting nothing, and forgets a
// geometry when it is destroyed (the cache is every cached geometry's destroy listener).
//
// The source MeshData must outlive the geometries made for it: they are refilled from it.
// Single thread.
#pragma once

#include "core/containers/linked_list.h"
#include "core/containers/ordered_map.h"
#include "core/containers/shared_ref.h"
#include "core/object/ref_counted.h"
#include "render/geometry.h"
#include "render/hardware_buffer.h"
#include "render/mesh_data.h"

#include <cstdint>

class GeometryBufferCache : public BufferBlockUser, public virtual RefCounted {
public:
    static constexpr int32_t kDefaultBudget = 16384000;

    GeometryBufferCache() = default;
    GeometryBufferCache(const GeometryBufferCache&) = delete;
    GeometryBufferCache& operator=(const GeometryBufferCache&) = delete;
    // Forgets every geometry (they stop telling the cache of their destruction); the geometries
    // themselves and their buffers stay with their holders.
    ~GeometryBufferCache() override;

    // The source's geometry whose format equals the description's and whose stored stream and
    // index descriptions match the request's (BufferDesc::Matches both ways: what either side
    // flags must be equal), looked for from the one made last, then from the oldest on; a new
    // reference to it. Otherwise a
    // new geometry without buffers, whose only counted reference is the one returned.
    SharedRef<Geometry> FindEntry(const GeometryDesc& desc, const MeshData* source);

    // Gives the geometry its buffers filled from its source, evicting the oldest uploads until
    // its bytes fit the budget (a geometry larger than the whole budget is uploaded all the
    // same, evicting nothing). True at once when it has its buffers. False, with no buffers
    // left, for a geometry this cache did not make, a description that holds no vertices or
    // overflows, and when a buffer cannot be made, allocated or filled.
    bool UploadGeometry(const SharedRef<Geometry>& geometry);

    // The stored format's total stride x the source's vertex count + the index bytes (2 or 4
    // by the stored index format) x the source's index count; -1 for a geometry the cache did
    // not make or a total that overflows an int.
    int32_t EntryBytes(const Geometry* geometry) const;
    // Evicts the oldest uploads until bytes fit beside the used ones. False, evicting nothing,
    // when bytes exceed the whole budget.
    bool EvictUntilFree(int32_t bytes);
    // Drops the geometry's buffers (its blocks leave the cache first) and its bytes from the
    // used ones; it leaves the upload order. The geometry itself stays: the next upload makes
    // its buffers again. Nothing for a geometry without buffers.
    void Evict(const SharedRef<Geometry>& geometry);

    // Fills a block of a cache geometry's buffer from its source: the vertices converted into
    // the buffer's layout, or the indices into its width. True for a block the cache does not
    // know; false when the lock or the copy fails.
    bool OnBlockMoved(BufferBlock* block) override;
    // Forgets a destroyed geometry everywhere, its uploaded bytes included.
    void OnDestroyed(RefCounted* object) override;

    int32_t budget() const { return budget_; }
    void SetBudget(int32_t bytes) { budget_ = bytes; }
    int32_t usedBytes() const { return used_; }
    // Geometries alive that the cache made.
    int32_t geometryCount() const { return entries_.count(); }
    // Whether the geometry (of this cache) has been given up: never uploaded or evicted.
    bool IsEvicted(const Geometry* geometry) const;
    // The uploaded geometries, oldest first.
    int32_t UploadCount() const { return uploadOrder_.count(); }
    Geometry* UploadedAt(int32_t index) const;

private:
    using GeometryWords = SharedRefWords<Geometry>;
    struct Entry {
        GeometryWords words;
        const MeshData* source = nullptr;
        GeometryDesc desc;
        // The blocks of its buffers while uploaded.
        LinkedList<BufferBlock*> blocks;
        bool evicted = true;
        // What the upload added to the used bytes (taken back at eviction or destruction).
        int32_t uploadedBytes = 0;
    };

    Entry* Find(const Geometry* geometry) const;
    // Takes the geometry's blocks out of the block map, deletes its buffers and takes its bytes
    // back; it leaves the upload order.
    void Drop(Entry* entry);
    void Forget(RefCounted* identity);
    // The block's buffer's stride, format and the source's data as views for the copy.
    bool Fill(BufferBlock* block, const MeshData* source);

    int32_t budget_ = kDefaultBudget;
    int32_t used_ = 0;
    // Every live geometry the cache made, by its RefCounted part: that is all a destroy notice
    // carries.
    OrderedMap<RefCounted*, Entry*> entries_;
    // The uploaded geometries, oldest first.
    LinkedList<GeometryWords> uploadOrder_;
    // The geometries made per source; the cursor rests on the one made last.
    OrderedMap<const MeshData*, LinkedList<GeometryWords>*> sources_;
    // The block of every uploaded buffer, to its geometry's source.
    OrderedMap<BufferBlock*, const MeshData*> blocks_;
};

// The engine's one cache, constructed before the application and destroyed at exit.
extern GeometryBufferCache g_geometryBufferCache;
