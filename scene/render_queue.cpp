#include "scene/render_queue.h"

#include "core/types/argb_color.h"
#include "render/app_framework.h"
#include "render/camera_view.h"
#include "render/renderable.h"
#include "render/state_cache.h"
#include "scene/scene_node.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>
#include <algorithm>

OcclusionBoxMesh g_occlusionBoxMesh;

namespace {

constexpr size_t kBlockItems = 256;

template <typename Map, typename Key>
auto ListFor(Map& map, const Key& key) {
    auto* node = map.GetOrInsert(key);
    if (node->value == nullptr) node->value = new std::remove_pointer_t<decltype(node->value)>;
    return node->value;
}

template <typename Map, typename Visit>
void ForEachList(Map& map, Visit visit) {
    auto* node = map.first();
    for (int32_t i = 0; i < map.count(); ++i, node = node->next) visit(*node->value);
}

}  // namespace

RenderQueue::RenderQueue(const CameraView* camera) : camera_(camera) {}

RenderQueue::~RenderQueue() {
    Clear();
    for (void* block : blocks_) ::operator delete(block);
    for (Entry* block : entryBlocks_) delete[] block;
}

void* RenderQueue::NextSlot() {
    const size_t block = used_ / kBlockItems;
    if (block == blocks_.size()) blocks_.push_back(::operator new(kBlockItems * sizeof(RenderItem)));
    void* slot = static_cast<RenderItem*>(blocks_[block]) + used_ % kBlockItems;
    ++used_;
    return slot;
}

RenderQueue::Entry* RenderQueue::NextEntry() {
    const size_t block = entriesUsed_ / kBlockItems;
    if (block == entryBlocks_.size()) entryBlocks_.push_back(new Entry[kBlockItems]);
    Entry* entry = entryBlocks_[block] + entriesUsed_ % kBlockItems;
    ++entriesUsed_;
    return entry;
}

RenderItem* RenderQueue::NewItem() {
    lastNew_ = ::new (NextSlot()) RenderItem;
    return lastNew_;
}

bool RenderQueue::OwnsItem(const RenderItem* item) const {
    for (void* block : blocks_) {
        auto* first = static_cast<const RenderItem*>(block);
        if (item >= first && item < first + kBlockItems) return true;
    }
    return false;
}

void RenderQueue::DestroyItem(RenderItem* item) {
    // Items of the queue's storage are destroyed with the storage's slots.
    if (!OwnsItem(item)) delete item;
}

namespace {

float Distance(const Vec3& eye, const Vec3& centre) {
    const float d = Vec3Length(Vec3{eye.x - centre.x, eye.y - centre.y, eye.z - centre.z});
    // A NaN key would break the order of every later item.
    return std::isfinite(d) ? d : FLT_MAX;
}

}  // namespace

float RenderQueue::ItemDistance(const RenderItem& item) {
    return Distance(item.context.eye, item.context.worldBox.centre);
}

void RenderQueue::File(Entry* entry, int32_t passFlags, LitEffectMaterial* effectOverride, const Vec3& eye) {
    ++itemCount_;
    MultiMaterial* material = entry->material;
    if (material != nullptr && material->IsTransparent()) {
        transparent_.push_back(Filed{Distance(eye, entry->worldBox.centre), entry});
        ordered_ = false;
        return;
    }
    if ((passFlags & 0x40) != 0 && material != nullptr) {
        LitEffectMaterial* effect = effectOverride != nullptr ? effectOverride : material->FirstEffectMaterial();
        if (effect != nullptr) {
            ListFor(effectGroups_, effect)->push_back(entry);
        } else {
            ListFor(textureGroups_, material->sub(0).maps[kDiffuseMap].texture)->push_back(entry);
        }
        return;
    }
    opaque_.push_back(Filed{Distance(eye, entry->worldBox.centre), entry});
    ordered_ = false;
}

void RenderQueue::AddToRenderQueue(RenderItem* item) {
    if (item == nullptr) return;
    if (item != lastNew_ && !OwnsItem(item)) ++foreignItems_;
    lastNew_ = nullptr;
    Entry* entry = NextEntry();
    entry->worldBox = item->context.worldBox;
    entry->drawOrder = item->drawOrder;
    entry->occlusionTested = item->occlusionTested;
    entry->node = item->node;
    entry->attachment = item->attachment;
    entry->material = item->material;
    entry->item = item;
    entry->shared = nullptr;
    entry->lights = nullptr;
    File(entry, item->context.passFlags, item->context.effectOverride, item->context.eye);
}

const RenderQueue::WalkShared* RenderQueue::BeginWalk(const CameraView& camera, int32_t passFlags, float passTime,
                                                      LitEffectMaterial* effectOverride) {
    WalkShared& shared = walks_.emplace_back();
    shared.context.SetCamera(camera);
    shared.context.passFlags = passFlags;
    shared.context.passTime = passTime;
    shared.context.effectOverride = effectOverride;
    return &shared;
}

LightSet* RenderQueue::FileWalkItem(const WalkItem& item, bool withLights) {
    Entry* entry = NextEntry();
    entry->worldBox = item.worldBox;
    entry->drawOrder = item.drawOrder;
    entry->occlusionTested = item.occlusionTested;
    entry->node = item.node;
    entry->attachment = item.attachment;
    entry->material = item.material;
    entry->item = nullptr;
    entry->shared = item.shared;
    entry->defaultWorld = item.world == nullptr;
    if (item.world != nullptr) entry->world = *item.world;
    entry->lights = withLights ? &lightSets_.emplace_back() : nullptr;
    entry->ambient = item.ambient;
    const RenderContext& shared = item.shared->context;
    File(entry, shared.passFlags, shared.effectOverride, shared.eye);
    return entry->lights;
}

namespace {

// A float's bits as an unsigned key in the float's order (-0 as +0; distances are never NaN).
uint32_t OrderKey(float value) {
    if (value == 0.0f) value = 0.0f;
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x80000000u) != 0 ? ~bits : bits | 0x80000000u;
}

}  // namespace

void RenderQueue::SortByDistance(DistanceList& list, DistanceList& scratch) {
    const size_t n = list.size();
    if (n < 2) return;
    if (n <= 32) {
        // Insertion: stable, and quickest for few items.
        for (size_t i = 1; i < n; ++i) {
            const Filed f = list[i];
            size_t at = i;
            while (at > 0 && f.distance < list[at - 1].distance) {
                list[at] = list[at - 1];
                --at;
            }
            list[at] = f;
        }
        return;
    }
    // Least significant byte first, each pass stable: the order of a stable sort by distance
    // without its comparisons. A byte every key shares needs no pass.
    uint32_t counts[4][256] = {};
    for (const Filed& f : list) {
        const uint32_t key = OrderKey(f.distance);
        for (int b = 0; b < 4; ++b) ++counts[b][(key >> (8 * b)) & 0xFF];
    }
    scratch.resize(n);
    DistanceList* from = &list;
    DistanceList* to = &scratch;
    for (int b = 0; b < 4; ++b) {
        uint32_t* count = counts[b];
        const int shift = 8 * b;
        if (count[(OrderKey((*from)[0].distance) >> shift) & 0xFF] == n) continue;
        uint32_t sum = 0;
        for (int d = 0; d < 256; ++d) {
            const uint32_t c = count[d];
            count[d] = sum;
            sum += c;
        }
        Filed* out = to->data();
        for (const Filed& f : *from) out[count[(OrderKey(f.distance) >> shift) & 0xFF]++] = f;
        std::swap(from, to);
    }
    if (from != &list) list.swap(scratch);
}

void RenderQueue::Order() {
    if (ordered_) return;
    SortByDistance(opaque_, scratch_);
    SortByDistance(transparent_, scratch_);
    ordered_ = true;
}

FlagWord RenderQueue::DrawEntry(Entry* entry) {
    if (entry->attachment == nullptr || entry->material == nullptr) return FlagWord(true);
    RenderContext* context = nullptr;
    if (entry->item != nullptr) {
        context = &entry->item->context;
    } else {
        // The context the walk would have given the item: a new one, filled as the walk fills it.
        context = &walkContext_;
        context->~RenderContext();
        ::new (context) RenderContext;
        const RenderContext& shared = entry->shared->context;
        context->worldBox = entry->worldBox;
        context->effectOverride = shared.effectOverride;
        if (!entry->defaultWorld) context->world = entry->world;
        context->passFlags = shared.passFlags;
        context->passTime = shared.passTime;
        context->view = shared.view;
        context->projection = shared.projection;
        context->viewProjection = shared.viewProjection;
        context->eye = shared.eye;
        if (entry->lights != nullptr) {
            context->lights = *entry->lights;
        } else {
            context->lights.ambient = entry->ambient;
        }
    }
    // The item's context lives only as long as the queue holds the item: the material gets its
    // own pointer back, so that nothing is left pointing at a freed item.
    RenderContext* before = entry->material->renderContext();
    entry->material->SetRenderContext(context);
    const FlagWord result = entry->attachment->Render(entry->material);
    entry->material->SetRenderContext(before);
    return result;
}

FlagWord RenderQueue::DrawProxy(Entry* entry) {
    FlagWord result(true);
    DWORD colorWrites = 0xF;
    const bool known = StateCache::GetRenderState(D3DRS_COLORWRITEENABLE, &colorWrites);
    StateCache::SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    const BoundingBox& box = entry->worldBox;
    TypedMatrix& world = proxyContext_.world;
    world = TypedMatrix{};
    world.At(0, 0) = box.size.x;
    world.At(1, 1) = box.size.y;
    world.At(2, 2) = box.size.z;
    world.At(3, 0) = box.centre.x;
    world.At(3, 1) = box.centre.y;
    world.At(3, 2) = box.centre.z;
    world.kind = kMatrixNoRotation;
    world.valid = 1;
    result.Combine(g_occlusionBoxMesh.mesh().Render(&g_occlusionBoxMesh.material()));
    if (known) StateCache::SetRenderState(D3DRS_COLORWRITEENABLE, colorWrites);
    return result;
}

FlagWord RenderQueue::DrawList(const std::vector<Entry*>& list) {
    FlagWord result(true);
    for (Entry* entry : list) {
        if (!entry->occlusionTested || entry->node == nullptr) {
            result.Combine(DrawEntry(entry));
            continue;
        }
        OcclusionQuery& query = entry->node->GetOcclusionQuery();
        query.Begin();
        if (entry->attachment == nullptr) {
            result.Combine(DrawProxy(entry));
        } else {
            result.Combine(DrawEntry(entry));
        }
        query.End();
    }
    return result;
}

FlagWord RenderQueue::Flush() {
    FlagWord result(true);

    // State groups: one effect material, or one diffuse texture, after another.
    auto drawGroup = [&](const EntryList& list) {
        for (Entry* entry : list) result.Combine(DrawEntry(entry));
    };
    ForEachList(effectGroups_, drawGroup);
    ForEachList(textureGroups_, drawGroup);

    // The buckets: runs of equal distance, nearest first.
    auto findRuns = [this](const DistanceList& list) {
        runStarts_.clear();
        for (size_t i = 0; i < list.size(); ++i) {
            if (i == 0 || list[i].distance != list[i - 1].distance) runStarts_.push_back(i);
        }
        runStarts_.push_back(list.size());
    };

    // Opaque: the nearest bucket first, then from the farthest down to the second; an
    // occlusion-tested item goes in front of the run of items at the tail that its box overlaps.
    Order();
    findRuns(opaque_);
    drawList_.clear();
    bool anyProxy = false;
    auto place = [&](Entry* entry) {
        if (!entry->occlusionTested) {
            drawList_.push_back(entry);
            return;
        }
        if (entry->attachment == nullptr) anyProxy = true;
        size_t at = drawList_.size();
        while (at > 0 && drawList_[at - 1]->worldBox.Overlaps(entry->worldBox) == kBoxesOverlap) --at;
        drawList_.insert(drawList_.begin() + static_cast<std::ptrdiff_t>(at), entry);
    };
    const size_t buckets = runStarts_.size() - 1;
    for (size_t k = 0; k < buckets; ++k) {
        const size_t bucket = k == 0 ? 0 : buckets - k;
        for (size_t i = runStarts_[bucket]; i < runStarts_[bucket + 1]; ++i) place(opaque_[i].entry);
    }

    if (anyProxy) {
        g_occlusionBoxMesh.EnsureGeometry();
        if (camera_ != nullptr) proxyContext_.SetCamera(*camera_);
        g_occlusionBoxMesh.material().SetRenderContext(&proxyContext_);
    }
    result.Combine(DrawList(drawList_));
    if (anyProxy) g_occlusionBoxMesh.material().SetRenderContext(nullptr);

    // Transparent: far to near, except that an item goes before the overlapping items of a
    // greater draw order.
    Order();
    findRuns(transparent_);
    drawList_.clear();
    for (size_t bucket = runStarts_.size() - 1; bucket-- > 0;) {
        for (size_t i = runStarts_[bucket]; i < runStarts_[bucket + 1]; ++i) {
            Entry* entry = transparent_[i].entry;
            size_t at = drawList_.size();
            while (at > 0 && drawList_[at - 1]->drawOrder > entry->drawOrder &&
                   drawList_[at - 1]->worldBox.Overlaps(entry->worldBox) == kBoxesOverlap) {
                --at;
            }
            drawList_.insert(drawList_.begin() + static_cast<std::ptrdiff_t>(at), entry);
        }
    }
    result.Combine(DrawList(drawList_));
    drawList_.clear();
    return result;
}

void RenderQueue::Clear() {
    if (foreignItems_ > 0) {
        // Every entry made is filed: the filed items are those of the entries.
        for (size_t i = 0; i < entriesUsed_; ++i) {
            RenderItem* item = entryBlocks_[i / kBlockItems][i % kBlockItems].item;
            if (item != nullptr) DestroyItem(item);
        }
    }
    effectGroups_.DeleteAll();
    textureGroups_.DeleteAll();
    opaque_.clear();
    transparent_.clear();
    // Every item NewItem made, filed or not.
    for (size_t i = 0; i < used_; ++i) (static_cast<RenderItem*>(blocks_[i / kBlockItems]) + i % kBlockItems)->~RenderItem();
    used_ = 0;
    entriesUsed_ = 0;
    walks_.clear();
    lightSets_.clear();
    // The last item of a walk drawn leaves its lights in the context it was drawn with.
    walkContext_.lights.lights.Clear();
    itemCount_ = 0;
    ordered_ = true;
    foreignItems_ = 0;
    lastNew_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// OcclusionBoxMesh

void OcclusionBoxMesh::WriteVertices(void* out) {
    // Each face as two triangles, clockwise seen from outside; faces -z, +z, -x, +x, +y, -y.
    // Corners are given as sign triples.
    static const signed char kFaces[6][4][3] = {
        {{-1, -1, -1}, {-1, +1, -1}, {+1, +1, -1}, {+1, -1, -1}},  // -z, seen from -z
        {{+1, -1, +1}, {+1, +1, +1}, {-1, +1, +1}, {-1, -1, +1}},  // +z
        {{-1, -1, +1}, {-1, +1, +1}, {-1, +1, -1}, {-1, -1, -1}},  // -x
        {{+1, -1, -1}, {+1, +1, -1}, {+1, +1, +1}, {+1, -1, +1}},  // +x
        {{-1, +1, -1}, {-1, +1, +1}, {+1, +1, +1}, {+1, +1, -1}},  // +y
        {{-1, -1, +1}, {-1, -1, -1}, {+1, -1, -1}, {+1, -1, +1}},  // -y
    };
    static const int kCorners[6] = {0, 1, 2, 0, 2, 3};
    const DWORD colour = ArgbColor(1.0f, 1.0f, 1.0f, 1.0f).ToARGB();
    auto* bytes = static_cast<unsigned char*>(out);
    for (int face = 0; face < 6; ++face) {
        for (int k = 0; k < 6; ++k) {
            const signed char* c = kFaces[face][kCorners[k]];
            const float xyz[3] = {0.5f * c[0], 0.5f * c[1], 0.5f * c[2]};
            std::memcpy(bytes, xyz, sizeof xyz);
            std::memcpy(bytes + 12, &colour, sizeof colour);
            bytes += kStride;
        }
    }
}

bool OcclusionBoxMesh::FillVertices(BufferBlock* block) {
    void* data = nullptr;
    if (block == nullptr || !block->Lock(0, &data)) return false;
    WriteVertices(data);
    return block->Unlock();
}

bool OcclusionBoxMesh::EnsureGeometry() {
    // A geometry of another device (or of a framework that is gone, whose buffer is no longer
    // restored) is made again.
    if (block_ != nullptr && device_ == g_device) {
        GrowableBuffer* buffer = mesh_.GetGeometry().Get()->streamBuffer(0);
        if (buffer != nullptr && buffer->GetVertexBuffer() != nullptr) return true;
    }
    ReleaseGeometry();
    if (g_device == nullptr) return false;
    GeometryDesc desc;
    desc.primitiveType = D3DPT_TRIANGLELIST;
    if (!desc.format.SetFromFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE)) return false;
    desc.streams[0].format = desc.format;
    desc.streams[0].stride = kStride;
    desc.streams[0].size = kVertexCount * kStride;
    desc.streams[0].flags = kBufferUsageGiven;
    if (!mesh_.CreateGeometry(&desc)) return false;
    GrowableBuffer* buffer = mesh_.GetGeometry().Get()->streamBuffer(0);
    block_ = buffer != nullptr ? buffer->AllocateBlock(kVertexCount * kStride, 0, this) : nullptr;
    if (block_ == nullptr || !FillVertices(block_)) {
        ReleaseGeometry();
        return false;
    }
    device_ = g_device;
    material_ = MultiMaterial();
    material_.sub(0).zWrite = 0;
    return true;
}

void OcclusionBoxMesh::ReleaseGeometry() {
    // The block goes with its buffer.
    block_ = nullptr;
    device_ = nullptr;
    if (Geometry* geometry = mesh_.GetGeometry().Get()) geometry->ReleaseBuffers();
}
