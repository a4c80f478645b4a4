// The render queue: the scene walk files its visible items here and the application flushes
// them once the walk is over. Opaque items of a pass that asks for state grouping go into
// groups by effect material or diffuse texture; other opaque items and the transparent items
// go into maps by their distance from the eye. A flush draws the groups, then the opaque items
// nearest first with each occlusion-tested item placed in front of the items its box overlaps
// (a node hidden in the last frame is drawn as a box proxy inside its query, so that it comes
// back when it becomes visible), then the transparent items far to near, a smaller draw order
// going first among overlapping items. One queue lives for one frame.
#pragma once

#include "core/containers/ordered_map.h"
#include "core/types/flag_word.h"
#include "render/hardware_buffer.h"
#include "render/material.h"
#include "render/mesh.h"

#include <cstdint>
#include <deque>
#include <vector>

class CameraView;
class LitEffectMaterial;
class Renderable;
class SceneNode;
class Texture;
struct RenderItem;

class RenderQueue {
public:
    // Empty buckets; the proxies are drawn with the camera's matrices.
    explicit RenderQueue(const CameraView* camera);
    RenderQueue(const RenderQueue&) = delete;
    RenderQueue& operator=(const RenderQueue&) = delete;
    ~RenderQueue();

    // A new, cleared item in the queue's own storage, to be filed with AddToRenderQueue. The
    // storage is kept from one Clear to the next, so a frame's items cost no allocation.
    RenderItem* NewItem();
    // Files the item (from NewItem or from new); the queue owns it from now on. The queue reads
    // the item's box, draw order, flags, node, attachment and material when it is filed.
    void AddToRenderQueue(RenderItem* item);

    // The scene walk files its items without making them: it tells the queue once per walk
    // what every item of the walk shares, then files each item's own part. The item is made
    // when it is drawn, with the context the walk would have given it: the shared part (the
    // camera, the pass's flags and time, the effect override), the item's box and world matrix
    // (the default one for an attachment that is no mesh) and its lights. A flush draws it
    // like a filed item; Clear destroys it like one.
    struct WalkShared {
        RenderContext context;
    };
    const WalkShared* BeginWalk(const CameraView& camera, int32_t passFlags, float passTime,
                                LitEffectMaterial* effectOverride);
    struct WalkItem {
        const WalkShared* shared = nullptr;
        bool occlusionTested = false;
        int32_t drawOrder = 0;
        SceneNode* node = nullptr;
        Renderable* attachment = nullptr;
        MultiMaterial* material = nullptr;
        BoundingBox worldBox;
        // Null: the default world matrix of a new context.
        const TypedMatrix* world = nullptr;
        // The item's light set when it has no lights: the ambient colour alone.
        ArgbColor ambient;
    };
    // Files the item. With lights, the answer is the item's empty light set, kept by the queue,
    // for the walk to fill; without, the item has the ambient colour and no lights.
    LightSet* FileWalkItem(const WalkItem& item, bool withLights);

    // Puts the items of the two distance maps into their order: by distance, items of equal
    // distance in filing order, as a map of lists keyed by distance holds them. Flush does it
    // first; nothing to do when nothing was filed since.
    void Order();
    // Draws everything filed; the success of every draw combined. The items stay filed.
    FlagWord Flush();
    // Destroys every item and empties the buckets.
    void Clear();

    int32_t itemCount() const { return itemCount_; }

    // The distance an item is filed under: from the eye to its box's centre; a distance that
    // is not a finite number becomes the largest finite float.
    static float ItemDistance(const RenderItem& item);

private:
    // One filed draw as the flush reads it: what orders and groups it, and either the item
    // filed or, for an item of the walk, what its context is made from when it is drawn.
    struct Entry {
        BoundingBox worldBox;
        int32_t drawOrder = 0;
        bool occlusionTested = false;
        bool defaultWorld = true;
        SceneNode* node = nullptr;
        Renderable* attachment = nullptr;
        MultiMaterial* material = nullptr;
        // The item filed; null for an item of the walk.
        RenderItem* item = nullptr;
        const WalkShared* shared = nullptr;
        LightSet* lights = nullptr;
        ArgbColor ambient;
        TypedMatrix world;
    };
    using EntryList = std::vector<Entry*>;
    // The distance maps are kept as arrays in filing order and sorted, stably, when flushed: a
    // bucket is then a run of equal distances in filing order, as a map of lists would hold it,
    // without an allocation per item.
    struct Filed {
        float distance;
        Entry* entry;
    };
    using DistanceList = std::vector<Filed>;
    using EffectGroups = OrderedMap<LitEffectMaterial*, EntryList*>;
    using TextureGroups = OrderedMap<Texture*, EntryList*>;

    void* NextSlot();
    Entry* NextEntry();
    bool OwnsItem(const RenderItem* item) const;
    void File(Entry* entry, int32_t passFlags, LitEffectMaterial* effectOverride, const Vec3& eye);
    static void SortByDistance(DistanceList& list, DistanceList& scratch);
    FlagWord DrawEntry(Entry* entry);
    FlagWord DrawList(const std::vector<Entry*>& list);
    FlagWord DrawProxy(Entry* entry);
    void DestroyItem(RenderItem* item);

    const CameraView* camera_;
    EffectGroups effectGroups_;
    TextureGroups textureGroups_;
    DistanceList opaque_;
    DistanceList transparent_;
    int32_t itemCount_ = 0;
    // Nothing was filed since the last Order.
    bool ordered_ = true;
    // Items filed that NewItem did not make (made with new): Clear deletes them.
    int32_t foreignItems_ = 0;
    // The last item NewItem made: an item is mostly filed as soon as it is made.
    RenderItem* lastNew_ = nullptr;
    // Reused by every flush.
    DistanceList scratch_;
    std::vector<Entry*> drawList_;
    std::vector<size_t> runStarts_;
    RenderContext proxyContext_;
    // The context an item of the walk is drawn with, made again for each of them.
    RenderContext walkContext_;
    // Storage of NewItem: blocks of raw item slots, the first `used_` of them constructed.
    std::vector<void*> blocks_;
    size_t used_ = 0;
    // Storage of the entries, kept like the items'.
    std::vector<Entry*> entryBlocks_;
    size_t entriesUsed_ = 0;
    // What the walks since the last Clear share, and the light sets of their items.
    std::deque<WalkShared> walks_;
    std::deque<LightSet> lightSets_;
};

// The unit cube drawn for occlusion proxies: 36 vertices of position and colour (the
// fixed-function format 0x42) in one buffer, made on first use, every face wound clockwise seen
// from outside, and a material that leaves the depth buffer alone. One process-wide object; its
// buffer is the device's: whoever closes the device calls ReleaseGeometry first (a geometry left
// over from another device is made again on its next use).
class OcclusionBoxMesh : public BufferBlockUser {
public:
    static constexpr int32_t kVertexCount = 36;
    static constexpr int32_t kStride = 16;

    OcclusionBoxMesh() = default;
    OcclusionBoxMesh(const OcclusionBoxMesh&) = delete;
    OcclusionBoxMesh& operator=(const OcclusionBoxMesh&) = delete;
    ~OcclusionBoxMesh() { ReleaseGeometry(); }

    // Makes and fills the geometry unless it exists for the current device; false when that
    // fails (no device).
    bool EnsureGeometry();
    // Drops the geometry and its buffer.
    void ReleaseGeometry();
    // Writes the 36 vertices into the block; false when it cannot be locked.
    virtual bool FillVertices(BufferBlock* block);
    // The buffer moved the block or the device was reset: the vertices are written again.
    bool OnBlockMoved(BufferBlock* block) override { return FillVertices(block); }

    // The vertices FillVertices writes: x, y, z, colour words.
    static void WriteVertices(void* out);

    Mesh& mesh() { return mesh_; }
    MultiMaterial& material() { return material_; }

private:
    Mesh mesh_;
    MultiMaterial material_;
    BufferBlock* block_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
};

extern OcclusionBoxMesh g_occlusionBoxMesh;
