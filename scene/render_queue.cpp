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

OcclusionBoxMesh g_occlusionBoxMesh;

namespace {

void DeleteItems(RenderQueue::ItemList* list) {
    while (list->count() > 0) delete list->Pop();
    delete list;
}

template <typename Map>
void DeleteBuckets(Map& map) {
    auto* node = map.first();
    for (int32_t i = 0; i < map.count(); ++i, node = node->next) DeleteItems(node->value);
    map.Clear();
}

template <typename Map, typename Key>
RenderQueue::ItemList* ListFor(Map& map, const Key& key) {
    auto* node = map.GetOrInsert(key);
    if (node->value == nullptr) node->value = new RenderQueue::ItemList;
    return node->value;
}

template <typename Visit>
void ForEachItem(const RenderQueue::ItemList& list, Visit visit) {
    auto* node = list.first();
    for (int32_t i = 0; i < list.count(); ++i, node = node->next) visit(node->element);
}

}  // namespace

RenderQueue::RenderQueue(const CameraView* camera) : camera_(camera) {}

RenderQueue::~RenderQueue() { Clear(); }

float RenderQueue::ItemDistance(const RenderItem& item) {
    const Vec3& eye = item.context.eye;
    const Vec3& centre = item.context.worldBox.centre;
    const float d = Vec3Length(Vec3{eye.x - centre.x, eye.y - centre.y, eye.z - centre.z});
    // A NaN key would break the map's order for every later item.
    return std::isfinite(d) ? d : FLT_MAX;
}

void RenderQueue::FileByDistance(DistanceMap& map, RenderItem* item) {
    ListFor(map, ItemDistance(*item))->Append(item);
}

void RenderQueue::AddToRenderQueue(RenderItem* item) {
    if (item == nullptr) return;
    ++itemCount_;
    MultiMaterial* material = item->material;
    if (material != nullptr && material->IsTransparent()) {
        FileByDistance(transparent_, item);
        return;
    }
    if ((item->context.passFlags & 0x40) != 0 && material != nullptr) {
        LitEffectMaterial* effect = item->context.effectOverride != nullptr ? item->context.effectOverride
                                                                            : material->FirstEffectMaterial();
        if (effect != nullptr) {
            ListFor(effectGroups_, effect)->Append(item);
        } else {
            ListFor(textureGroups_, material->sub(0).maps[kDiffuseMap].texture)->Append(item);
        }
        return;
    }
    FileByDistance(opaque_, item);
}

FlagWord RenderQueue::DrawItem(RenderItem* item) {
    if (item->attachment == nullptr || item->material == nullptr) return FlagWord(true);
    // The item's context lives only as long as the queue holds the item: the material gets its
    // own pointer back, so that nothing is left pointing at a freed item.
    RenderContext* before = item->material->renderContext();
    item->material->SetRenderContext(&item->context);
    const FlagWord result = item->attachment->Render(item->material);
    item->material->SetRenderContext(before);
    return result;
}

FlagWord RenderQueue::DrawProxy(RenderItem* item) {
    FlagWord result(true);
    DWORD colorWrites = 0xF;
    const bool known = StateCache::GetRenderState(D3DRS_COLORWRITEENABLE, &colorWrites);
    StateCache::SetRenderState(D3DRS_COLORWRITEENABLE, 0);
    const BoundingBox& box = item->context.worldBox;
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

FlagWord RenderQueue::DrawList(const std::vector<RenderItem*>& list) {
    FlagWord result(true);
    for (RenderItem* item : list) {
        if (!item->occlusionTested || item->node == nullptr) {
            result.Combine(DrawItem(item));
            continue;
        }
        OcclusionQuery& query = item->node->GetOcclusionQuery();
        query.Begin();
        if (item->attachment == nullptr) {
            result.Combine(DrawProxy(item));
        } else {
            result.Combine(DrawItem(item));
        }
        query.End();
    }
    return result;
}

FlagWord RenderQueue::Flush() {
    FlagWord result(true);

    // State groups: one effect material, or one diffuse texture, after another.
    {
        auto* group = effectGroups_.first();
        for (int32_t i = 0; i < effectGroups_.count(); ++i, group = group->next) {
            ForEachItem(*group->value, [&](RenderItem* item) { result.Combine(DrawItem(item)); });
        }
        auto* textures = textureGroups_.first();
        for (int32_t i = 0; i < textureGroups_.count(); ++i, textures = textures->next) {
            ForEachItem(*textures->value, [&](RenderItem* item) { result.Combine(DrawItem(item)); });
        }
    }

    // Opaque: the nearest bucket first, then from the farthest down to the second; an
    // occlusion-tested item goes in front of the run of items at the tail that its box overlaps.
    drawList_.clear();
    bool anyProxy = false;
    auto place = [&](RenderItem* item) {
        if (!item->occlusionTested) {
            drawList_.push_back(item);
            return;
        }
        if (item->attachment == nullptr) anyProxy = true;
        size_t at = drawList_.size();
        while (at > 0 && drawList_[at - 1]->context.worldBox.Overlaps(item->context.worldBox) == kBoxesOverlap) --at;
        drawList_.insert(drawList_.begin() + static_cast<std::ptrdiff_t>(at), item);
    };
    if (opaque_.count() > 0) {
        auto* nearest = opaque_.first();
        ForEachItem(*nearest->value, place);
        auto* bucket = nearest->prev;  // the farthest
        for (int32_t i = 1; i < opaque_.count(); ++i, bucket = bucket->prev) ForEachItem(*bucket->value, place);
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
    drawList_.clear();
    if (transparent_.count() > 0) {
        auto* bucket = transparent_.first()->prev;  // the farthest
        for (int32_t i = 0; i < transparent_.count(); ++i, bucket = bucket->prev) {
            ForEachItem(*bucket->value, [&](RenderItem* item) {
                size_t at = drawList_.size();
                while (at > 0 && drawList_[at - 1]->drawOrder > item->drawOrder &&
                       drawList_[at - 1]->context.worldBox.Overlaps(item->context.worldBox) == kBoxesOverlap) {
                    --at;
                }
                drawList_.insert(drawList_.begin() + static_cast<std::ptrdiff_t>(at), item);
            });
        }
    }
    result.Combine(DrawList(drawList_));
    drawList_.clear();
    return result;
}

void RenderQueue::Clear() {
    DeleteBuckets(effectGroups_);
    DeleteBuckets(textureGroups_);
    DeleteBuckets(opaque_);
    DeleteBuckets(transparent_);
    itemCount_ = 0;
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
    if (block_ != nullptr && device_ == g_device) return true;
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
