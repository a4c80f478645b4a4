#include "gui/depth_layer.h"

#include "core/debug/debug_trace.h"

namespace {

using Node = LinkedList<GuiLayerItem*>::Node;

// What SetSpan puts in front of an item while the item is re-inserted: it holds the item's
// place in the list and takes no room.
class PlaceMarker final : public GuiLayerItem {
public:
    GuiWindow* GetWindow() override { return nullptr; }
};

}  // namespace

GuiLayerItem::~GuiLayerItem() {
    if (layer_ != nullptr) layer_->Remove(this);
}

bool GuiLayerItem::OnDepthChanged() { return true; }

bool GuiLayerItem::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<GuiLayerItem>(this, id, out);
}

GuiDepthLayer::~GuiDepthLayer() {
    Node* node = items_.first();
    for (int32_t i = 0; i < items_.count(); ++i, node = node->next) {
        node->element->layer_ = nullptr;
        node->element->node_ = nullptr;
    }
    items_.Clear();
}

void GuiDepthLayer::Link(GuiLayerItem* item, Node* before) {
    if (before == nullptr) {
        items_.Append(item);
    } else {
        items_.SetCursor(before);
        items_.InsertBefore(item);
    }
    item->node_ = items_.cursor();
    item->layer_ = this;
    used_ += item->span_;
}

bool GuiDepthLayer::Insert(GuiLayerItem* item) {
    if (item == nullptr || item->IsPlaced()) return false;
    if (items_.count() > 0) return InsertBefore(item, items_.first()->element);
    if (static_cast<int64_t>(high_) - low_ - item->span_ + 1 < 0) return false;
    Link(item, nullptr);
    return SpreadEvenly();
}

bool GuiDepthLayer::InsertBefore(GuiLayerItem* item, GuiLayerItem* ref) {
    if (item == nullptr || item->IsPlaced() || ref == nullptr || ref->layer_ != this ||
        ref->node_ == nullptr) {
        return false;
    }
    Node* const first = items_.first();
    Node* const last = first->prev;
    const int64_t span = item->span_;
    // The free depths below an item: down to its predecessor's depth, or to low for the first.
    auto roomBelow = [&](const Node* c) -> int64_t {
        const int64_t bottom = c == first ? static_cast<int64_t>(low_) - 1 : c->prev->element->depth_;
        return c->element->depth_ - c->element->span_ - bottom;
    };

    // Room from ref towards larger depths; the room above the last item counts only when the
    // gaps below were not enough, so a roomy layer moves as few items as possible.
    int64_t room = 0;
    int32_t visits = 0;
    Node* lowest = ref->node_;
    for (Node* c = ref->node_;; c = c->next) {
        ++visits;
        room += roomBelow(c);
        if (room >= span) break;
        if (c == last) {
            room += static_cast<int64_t>(high_) - c->element->depth_;
            break;
        }
    }
    // Still short: the gaps in front of ref, nearest first, down to low.
    if (room < span && lowest != first) {
        for (Node* c = lowest->prev;; c = c->prev) {
            ++visits;
            lowest = c;
            room += roomBelow(c);
            if (room >= span || c == first) break;
        }
    }
    if (room < span) return false;

    // The new item and the walked stretch share the room with equal gaps; everything outside
    // the stretch keeps its depth.
    const int64_t gap = (room - span) / (visits + 2);
    int64_t d = lowest == first ? static_cast<int64_t>(low_) - 1 : lowest->prev->element->depth_;
    bool completed = true;
    Node* c = lowest;
    for (int32_t i = 0; i < visits && completed; ++i) {
        Node* const next = c->next;
        GuiLayerItem* const current = c->element;
        d += gap;
        if (current == ref) {
            d += span;
            item->depth_ = static_cast<int32_t>(d);
            Link(item, c);
            if (!item->OnDepthChanged()) {
                completed = false;
                break;
            }
            d += gap;
        }
        d += current->span_;
        current->depth_ = static_cast<int32_t>(d);
        completed = current->OnDepthChanged();
        c = next;
    }
    items_.SetCursor(items_.first());
    return completed;
}

void GuiDepthLayer::Remove(GuiLayerItem* item) {
    if (item == nullptr || (item->layer_ != nullptr && item->layer_ != this)) return;
    if (item->IsPlaced()) {
        items_.SetCursor(item->node_);
        items_.Take();
        items_.SetCursor(items_.first());
        used_ -= item->span_;
    }
    item->layer_ = nullptr;
    item->node_ = nullptr;
    item->depth_ = -1;
}

bool GuiDepthLayer::SpreadEvenly() {
    const int32_t n = items_.count();
    // Truncates toward zero, also when an over-full layer makes the room negative.
    const int64_t gap = (static_cast<int64_t>(high_) - used_ - low_ + 1) / (n + 1);
    int64_t d = low_ + gap - 1;
    Node* node = items_.first();
    for (int32_t i = 0; i < n; ++i, node = node->next) {
        d += node->element->span_;
        node->element->depth_ = static_cast<int32_t>(d);
        if (!node->element->OnDepthChanged()) return false;
        d += gap;
    }
    return true;
}

bool GuiDepthLayer::Pack(bool toHigh) {
    int64_t d = toHigh ? static_cast<int64_t>(high_) - used_ : static_cast<int64_t>(low_) - 1;
    Node* node = items_.first();
    for (int32_t i = 0; i < items_.count(); ++i, node = node->next) {
        d += node->element->span_;
        node->element->depth_ = static_cast<int32_t>(d);
        if (!node->element->OnDepthChanged()) return false;
    }
    return true;
}

bool GuiDepthLayer::SetSpan(GuiLayerItem* item, int32_t n) {
    if (item == nullptr || n < 0) return false;
    if (!item->IsPlaced()) {
        item->span_ = n;
        return true;
    }
    if (item->layer_ != this) return false;

    PlaceMarker marker;
    marker.span_ = 0;
    InsertBefore(&marker, item);  // span 0 always finds room; only OnDepthChanged can stop it
    if (!marker.IsPlaced()) return false;
    Remove(item);
    item->span_ = n;
    const bool placed = InsertBefore(item, &marker);
    Remove(&marker);
    if (!item->IsPlaced() && !tracedNoRoom_) {
        // Callers rely on the item staying out (a window whose subtree does not fit is not
        // shown), but that should not pass unnoticed; once is enough to find the layout.
        tracedNoRoom_ = true;
        DebugTrace("GUI depth layer: no room for an item's new span; the item stays unplaced\n");
    }
    return placed;
}
