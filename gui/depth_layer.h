// Depth layers: an integer range of depth values shared out among the items placed in it, with
// equal gaps between them so that a new item can usually be placed by moving only a few of its
// neighbours. Every GUI window is a layer item: top-level windows live in the GUI root's layer
// (10000..1), and each window owns a layer for its children whose range is its own span.
//
// Smaller depth is nearer the viewer. An item of span s at depth d occupies d - s + 1 .. d.
// One thread, like the rest of the GUI.
#pragma once

#include "core/containers/linked_list.h"
#include "core/object/ref_counted.h"

#include <cstdint>

class GuiDepthLayer;
class GuiWindow;

// One entry of a depth layer. Only the layer changes the depth, the span of a placed item and
// the placement; the item is told of every new depth through OnDepthChanged.
class GuiLayerItem : public virtual RefCounted {
public:
    // Depth 0, span 1, not placed.
    GuiLayerItem() = default;
    GuiLayerItem(const GuiLayerItem&) = delete;
    GuiLayerItem& operator=(const GuiLayerItem&) = delete;

    // The object that owns the item (a window answers itself); null for helper items that
    // belong to no window.
    virtual GuiWindow* GetWindow() = 0;
    // Leaves its layer (GuiDepthLayer::Remove) when placed.
    ~GuiLayerItem() override;
    // Called after the layer gave the item a new depth. False stops the redistribution in
    // progress: the items not yet visited keep their old depths, which may leave ranges
    // overlapping. True here.
    virtual bool OnDepthChanged();

    // Answers the GuiLayerItem id with this part; derived classes answer their own ids first.
    bool QueryInterface(int32_t id, void** out) override;

    // The near end of the item's range in its layer; 0 before the first placement, -1 after
    // removal from a layer.
    int32_t depth() const { return depth_; }
    // How many depth values the item occupies (0 is allowed: a marker that takes no room).
    int32_t span() const { return span_; }
    // The layer holding the item, or null.
    GuiDepthLayer* layer() const { return layer_; }
    bool IsPlaced() const { return layer_ != nullptr && node_ != nullptr; }

private:
    friend class GuiDepthLayer;

    int32_t depth_ = 0;
    int32_t span_ = 1;
    GuiDepthLayer* layer_ = nullptr;
    LinkedList<GuiLayerItem*>::Node* node_ = nullptr;
};

// A range low..high of depths and the items placed in it, in increasing depth. In the root's
// layer the first item is the front-most; a window's child layer holds depths relative to the
// window, which the window subtracts from its own, so there the first item is the back-most.
// The layer does not own its items. Failures change nothing unless said otherwise.
// OnDepthChanged must not place or remove items of the layer that is telling it.
class GuiDepthLayer {
public:
    // An empty layer with no room (low 0, high -1); its owner sets the range before use.
    GuiDepthLayer() = default;
    // An empty layer of the range low..high.
    GuiDepthLayer(int32_t low, int32_t high) : high_(high), low_(low) {}
    GuiDepthLayer(const GuiDepthLayer&) = delete;
    GuiDepthLayer& operator=(const GuiDepthLayer&) = delete;
    // Unplaces every item still in the layer (their depths stay as they were), so that none
    // is left pointing at a freed layer.
    virtual ~GuiDepthLayer();

    // Places `item` in front of the current first item (InsertBefore the first). Into an empty
    // layer the item goes alone and the layer is spread evenly. False when the free room is
    // smaller than the item's span, or when the item is null or already placed.
    bool Insert(GuiLayerItem* item);
    // Places `item` directly in front of `ref`, which must be placed in this layer. The room
    // is gathered from ref towards larger depths and, when still short, from ref's predecessor
    // towards smaller ones; the new item and the items of the walked stretch (ref always among
    // them) are spread over it with equal gaps. Items outside the stretch keep their depths.
    // False when the room is short, `item` is null or placed, or `ref` is not in this layer.
    // When an OnDepthChanged answers false the walk stops there and the result is false; the
    // new item may then already be placed (IsPlaced tells).
    bool InsertBefore(GuiLayerItem* item, GuiLayerItem* ref);
    // Takes `item` out of this layer: used shrinks by its span, the other items keep their
    // depths, and the item ends unplaced with depth -1. An unplaced item just gets depth -1;
    // an item of another layer is left alone.
    void Remove(GuiLayerItem* item);
    // Spreads all items over the whole range with equal gaps, front-most first. False when an
    // OnDepthChanged answered false (later items keep their depths).
    bool SpreadEvenly();
    // Puts the items next to each other, front-most first: from low up, or with `toHigh` so
    // that the last item ends exactly at high. False as SpreadEvenly.
    bool Pack(bool toHigh);
    // Gives `item` the span n (n >= 0). An unplaced item just takes it. A placed one is
    // re-inserted at its place in the list with the new span (through a marker item of span 0
    // put in front of it); the answer is that of the re-insertion. When that fails the item
    // is left unplaced with the new span (a window whose subtree does not fit stays hidden);
    // the layer traces the first such failure. False for n < 0 or an item placed in another
    // layer.
    bool SetSpan(GuiLayerItem* item, int32_t n);

    // The range. Owners change it only when they re-pack or re-spread the layer afterwards.
    void SetRange(int32_t low, int32_t high) {
        low_ = low;
        high_ = high;
    }
    int32_t high() const { return high_; }
    int32_t low() const { return low_; }
    // The sum of the spans of the placed items.
    int32_t used() const { return used_; }
    // The items in increasing depth; walk count() steps from first(). The cursor rests on the
    // first item between operations.
    const LinkedList<GuiLayerItem*>& items() const { return items_; }

private:
    // Links `item` into the list right in front of `before` (null: at the end of an empty
    // list) and makes this layer its layer.
    void Link(GuiLayerItem* item, LinkedList<GuiLayerItem*>::Node* before);

    int32_t high_ = -1;
    int32_t low_ = 0;
    LinkedList<GuiLayerItem*> items_;
    int32_t used_ = 0;
    // A span change that left its item out has been traced (once per layer).
    bool tracedNoRoom_ = false;
};
