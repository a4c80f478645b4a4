#include "render/geometry_buffer_cache.h"
#include "core/init_order.h"

#include <climits>

GeometryBufferCache g_geometryBufferCache RH_INIT_ORDER(RH_INIT_GEOMETRY_CACHE);

namespace {

int32_t IndexBytes(D3DFORMAT format) { return format == D3DFMT_INDEX16 ? 2 : 4; }

// Each side's flags are honoured: the stored description's alone would hand a dynamic request
// (system memory, locked with DISCARD) a static geometry, as a static description flags no pool.
bool BothMatch(const BufferDesc& stored, const BufferDesc& wanted) {
    return BufferDesc::Matches(stored, wanted) && BufferDesc::Matches(wanted, stored);
}

bool Matches(const GeometryDesc& stored, const GeometryDesc& wanted) {
    if (!stored.format.Equals(wanted.format)) return false;
    for (int32_t s = 0; s < wanted.format.streamCount() && s < kMaxVertexStreams; ++s) {
        if (!BothMatch(stored.streams[s], wanted.streams[s])) return false;
    }
    return BothMatch(stored.indices, wanted.indices);
}

}  // namespace

GeometryBufferCache::~GeometryBufferCache() {
    // The geometries outlive the cache in their holders' hands: they must not tell a cache that
    // is gone.
    while (entries_.count() > 0) {
        Entry* entry = entries_.cursor()->value;
        entry->words.object->SetDestroyListener(nullptr);
        Forget(entries_.cursor()->key);
    }
}

GeometryBufferCache::Entry* GeometryBufferCache::Find(const Geometry* geometry) const {
    if (geometry == nullptr) return nullptr;
    RefCounted* identity = const_cast<Geometry*>(geometry);
    Entry* entry = nullptr;
    entries_.Find(identity, entry);
    return entry;
}

SharedRef<Geometry> GeometryBufferCache::FindEntry(const GeometryDesc& desc, const MeshData* source) {
    auto* sourceNode = sources_.GetOrInsert(source);
    if (sourceNode->value == nullptr) sourceNode->value = new LinkedList<GeometryWords>;
    LinkedList<GeometryWords>& made = *sourceNode->value;

    // From the one made last, then round from the oldest.
    auto* node = made.cursor();
    for (int32_t i = 0; i < made.count(); ++i, node = node->next) {
        const Entry* entry = Find(node->element.object);
        if (entry != nullptr && Matches(entry->desc, desc)) return SharedRef<Geometry>::FromWords(node->element);
    }

    SharedRef<Geometry> geometry(new Geometry(desc.format));
    geometry.Get()->SetDestroyListener(this);
    auto* entry = new Entry;
    entry->words = geometry.Words();
    entry->source = source;
    entry->desc = desc;
    entries_.Insert(geometry.Get(), entry, 1);
    made.SetCursor(made.first()->prev);
    made.Append(entry->words);
    return geometry;
}

int32_t GeometryBufferCache::EntryBytes(const Geometry* geometry) const {
    const Entry* entry = Find(geometry);
    if (entry == nullptr || entry->source == nullptr) return -1;
    const int64_t bytes =
        static_cast<int64_t>(entry->desc.format.totalStride()) * entry->source->vertices.count() +
        static_cast<int64_t>(IndexBytes(entry->desc.indices.indexFormat)) * entry->source->indices.count();
    return bytes < 0 || bytes > INT_MAX ? -1 : static_cast<int32_t>(bytes);
}

bool GeometryBufferCache::UploadGeometry(const SharedRef<Geometry>& shared) {
    Geometry* geometry = shared.Get();
    Entry* entry = Find(geometry);
    if (entry == nullptr) return false;
    if (geometry->streamBuffer(0) != nullptr) return true;

    const MeshData* source = entry->source;
    const int32_t bytes = EntryBytes(geometry);
    if (source == nullptr || source->vertices.count() <= 0 || bytes <= 0 || bytes > INT_MAX - used_) return false;
    // A geometry above the whole budget is uploaded all the same.
    EvictUntilFree(bytes);

    if (!geometry->CreateBuffers(&entry->desc)) return false;
    bool filled = true;
    auto place = [&](GrowableBuffer* buffer, int32_t count, int32_t unit) {
        if (!filled) return;
        if (unit <= 0 || count > INT_MAX / unit) {
            filled = false;
            return;
        }
        BufferBlock* block = buffer->AllocateBlock(count * unit, 0, this);
        if (block == nullptr) {
            filled = false;
            return;
        }
        block->SetValue(1);
        entry->blocks.Append(block);
        blocks_.Insert(block, source, 1);
        filled = OnBlockMoved(block);
    };
    for (int32_t s = 0; s < geometry->format().streamCount(); ++s) {
        place(geometry->streamBuffer(s), source->vertices.count(), geometry->streamBuffer(s)->GetStride());
    }
    if (geometry->indexBuffer() != nullptr && source->indices.count() > 0) {
        place(geometry->indexBuffer(), source->indices.count(), IndexBytes(geometry->indexBuffer()->GetIndexFormat()));
    }
    if (!filled) {
        // Half a geometry would count as uploaded and draw without its indices: none of it stays.
        Drop(entry);
        return false;
    }

    used_ += bytes;
    entry->uploadedBytes = bytes;
    entry->evicted = false;
    uploadOrder_.SetCursor(uploadOrder_.first()->prev);
    uploadOrder_.Append(entry->words);
    return true;
}

bool GeometryBufferCache::EvictUntilFree(int32_t bytes) {
    if (bytes > budget_) return false;
    while (budget_ - used_ < bytes && uploadOrder_.count() > 0) {
        Entry* oldest = Find(uploadOrder_.first()->element.object);
        if (oldest == nullptr) {
            uploadOrder_.SetCursor(uploadOrder_.first());
            uploadOrder_.Pop();
            continue;
        }
        Drop(oldest);
        oldest->evicted = true;
    }
    return true;
}

void GeometryBufferCache::Evict(const SharedRef<Geometry>& geometry) {
    Entry* entry = Find(geometry.Get());
    if (entry == nullptr || geometry.Get()->streamBuffer(0) == nullptr) return;
    Drop(entry);
    entry->evicted = true;
}

void GeometryBufferCache::Drop(Entry* entry) {
    while (entry->blocks.count() > 0) blocks_.Erase(entry->blocks.Pop());
    entry->words.object->ReleaseBuffers();
    used_ -= entry->uploadedBytes;
    entry->uploadedBytes = 0;
    uploadOrder_.RemoveAll(entry->words);
}

bool GeometryBufferCache::OnBlockMoved(BufferBlock* block) {
    const MeshData* source = nullptr;
    if (blocks_.Find(block, source) == nullptr || source == nullptr) return true;
    return Fill(block, source);
}

bool GeometryBufferCache::Fill(BufferBlock* block, const MeshData* source) {
    HardwareBuffer* buffer = block->owner();
    if (buffer == nullptr) return false;
    const DWORD flags = (buffer->GetUsage() & D3DUSAGE_DYNAMIC) != 0 ? D3DLOCK_DISCARD : 0;
    void* data = nullptr;
    if (!block->Lock(flags, &data)) return false;
    bool copied = false;
    if (buffer->kind() == BufferKind::Vertex) {
        VertexStreams target;
        target.data[0] = static_cast<uint8_t*>(data);
        target.strides[0] = buffer->GetStride();
        target.count = target.strides[0] > 0 ? block->size() / target.strides[0] : 0;
        target.format = &buffer->GetVertexFormat();
        copied = CopyVertices(target, source->vertices.Streams());
    } else {
        const int32_t width = IndexBytes(buffer->GetIndexFormat());
        const IndexStream target{static_cast<uint8_t*>(data), block->size() / width, width};
        copied = CopyIndices(target, source->indices.Stream());
    }
    return block->Unlock() && copied;
}

void GeometryBufferCache::OnDestroyed(RefCounted* object) { Forget(object); }

void GeometryBufferCache::Forget(RefCounted* identity) {
    Entry* entry = entries_.Erase(identity);
    if (entry == nullptr) return;
    while (entry->blocks.count() > 0) blocks_.Erase(entry->blocks.Pop());
    // Its buffers went with it: so do its bytes, or the budget would shrink with every mesh
    // that was ever drawn and released.
    used_ -= entry->uploadedBytes;
    uploadOrder_.RemoveAll(entry->words);
    LinkedList<GeometryWords>* made = sources_.ValueRef(entry->source);
    if (made != nullptr) {
        made->RemoveAll(entry->words);
        if (made->count() == 0) {
            sources_.Erase(entry->source);
            delete made;
        }
    }
    delete entry;
}

bool GeometryBufferCache::IsEvicted(const Geometry* geometry) const {
    const Entry* entry = Find(geometry);
    return entry == nullptr || entry->evicted;
}

Geometry* GeometryBufferCache::UploadedAt(int32_t index) const {
    if (index < 0 || index >= uploadOrder_.count()) return nullptr;
    auto* node = uploadOrder_.first();
    for (int32_t i = 0; i < index; ++i) node = node->next;
    return node->element.object;
}
