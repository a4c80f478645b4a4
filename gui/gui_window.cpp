#include "gui/gui_window.h"

#include "core/debug/debug_trace.h"
#include "core/object/style_registry.h"
#include "core/script/script_node.h"
#include "core/text/string.h"
#include "gui/delegate.h"
#include "gui/gui_root.h"
#include "gui/timer_manager.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace {

int32_t Saturate(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// The overlap of two size-form rectangles; false when they are apart (touching edges
// overlap with zero extent). Computed in 64 bits: positions are not bounded.
bool Overlap(const Rect& a, const Rect& b, Rect& out) {
    const int64_t left = std::max<int64_t>(a.left, b.left);
    const int64_t top = std::max<int64_t>(a.top, b.top);
    const int64_t right = std::min<int64_t>(int64_t{a.left} + a.right, int64_t{b.left} + b.right);
    const int64_t bottom =
        std::min<int64_t>(int64_t{a.top} + a.bottom, int64_t{b.top} + b.bottom);
    if (right < left || bottom < top) return false;
    out = Rect(Saturate(left), Saturate(top), Saturate(right - left), Saturate(bottom - top));
    return true;
}

// A layout number: the whole text must be a number; out-of-range values saturate.
int32_t ReadInt(const ScriptNode* node) {
    if (node == nullptr || node->value.length() == 0 || !IsNumber(node->value)) return 0;
    return TruncateToInt(node->AsDouble());
}

float ReadFloat(const ScriptNode* node, float fallback) {
    if (node == nullptr || node->value.length() == 0 || !IsNumber(node->value)) return fallback;
    const double v = node->AsDouble();
    if (std::isnan(v)) return 0.0f;
    if (v > 3.0e38) return 3.0e38f;
    if (v < -3.0e38) return -3.0e38f;
    return static_cast<float>(v);
}

// Anchor and align names; an unknown name counts as X1.
int32_t AnchorIndex(const String& name) {
    static const char* const kNames[] = {"X1", "Y1", "X2", "Y2", "W1", "H1", "W2", "H2"};
    for (int32_t i = 0; i < 8; ++i) {
        if (CompareStrings(name, String(kNames[i])) == 0) return i;
    }
    return 0;
}

// Removes and frees a child of a script node.
void EraseChild(ScriptNode* node, const char* key) {
    ScriptNode* child = node->Child(key);
    if (child != nullptr) delete node->Erase(child->name);
}

}  // namespace

void WindowProperties::AttachStyle(PropertyNode* style) {
    if (style == nullptr || styles_.FindNode(style) != nullptr) return;
    styles_.Insert(style, 1);
    if (!takeOverStyleKeys) return;
    auto* child = style->first();
    for (int32_t i = 0; i < style->count(); ++i, child = child->next) {
        providers_.Insert(child->key, style, 1);
    }
}

bool WindowProperties::GetInt32(const String& name, int32_t& out) const {
    const PropertyNode* child = node_.Child(name);
    if (child == nullptr) return false;
    const Int32Value* value = child->ValueAs<Int32Value>();
    if (value == nullptr) return false;
    out = value->value;
    return true;
}

GuiWindow::GuiWindow() = default;

GuiWindow::~GuiWindow() {
    Detach();
    g_guiRoot.WindowDestroyed(this);
    pendingAnchors_.DeleteAll();
}

bool GuiWindow::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<GuiWindow, AnchorLayout, GuiLayerItem, RefCounted>(this, id, out);
}

bool GuiWindow::OnDepthChanged() {
    RequestUpdate(true, true);
    return true;
}

bool GuiWindow::OnBlockMoved(BufferBlock* /*block*/) {
    RequestOwnUpdate();
    return true;
}

// ---- tree and visibility ----

GuiDepthLayer& GuiWindow::HomeLayer() {
    if (layer() != nullptr) return *layer();
    return parent_ != nullptr ? parent_->childLayer_ : static_cast<GuiDepthLayer&>(g_guiRoot);
}

void GuiWindow::Unplace() {
    if (IsPlaced()) layer()->Remove(this);
    HideKeepingShown();
}

void GuiWindow::HideKeepingShown() {
    // Hide clears the shown flags of the whole subtree; they come back as they were.
    std::vector<std::pair<GuiWindow*, bool>> flags;
    std::vector<GuiWindow*> todo{this};
    while (!todo.empty()) {
        GuiWindow* w = todo.back();
        todo.pop_back();
        flags.emplace_back(w, w->shown_);
        auto* node = w->children_.first();
        for (int32_t i = 0; i < w->children_.count(); ++i, node = node->next) {
            todo.push_back(node->key);
        }
    }
    Hide();
    for (const auto& [w, shown] : flags) w->shown_ = shown;
}

void GuiWindow::TraceNoRoomOnce() {
    if (noRoomTraced_) return;
    noRoomTraced_ = true;
    DebugTrace("GUI window does not fit in its depth layer\n");
}

void GuiWindow::AddChild(GuiWindow* child, bool anchorToParent) {
    if (child == nullptr || child->parent_ == this) return;
    // A window cannot become a child of itself or of one of its own descendants.
    for (GuiWindow* w = this; w != nullptr; w = w->parent_) {
        if (w == child) return;
    }
    if (child->parent_ != nullptr) {
        child->parent_->RemoveChild(child);
    } else {
        child->Unplace();
    }
    if (children_.count() > 0) children_.SetCursor(children_.first()->prev);
    children_.Insert(child, 1);
    child->parent_ = this;
    child->SetParent(this);
    sinks().AddIfAbsent(child);
    UpdateDepthRange();
    if (!childLayer_.Insert(child)) TraceNoRoomOnce();
    if (anchorToParent) {
        child->SetAnchor(this, kX1, 0.0f, 0.0f, kX1);
        child->SetAnchor(this, kY1, 0.0f, 0.0f, kY1);
        child->ClearAnchor(kX2);
        child->ClearAnchor(kY2);
    }
}

void GuiWindow::RemoveChild(GuiWindow* child) {
    if (child == nullptr || child->parent_ != this) return;
    sinks().RemoveAll(child);
    children_.Erase(child);
    child->Unplace();
    if (focusedChild_ == child) focusedChild_ = nullptr;
    child->parent_ = nullptr;
    child->SetParent(nullptr);
    // Slots the child held would be pointed at a window later on its behalf.
    DropPendingAnchors(child);
    UpdateDepthRange();
}

void GuiWindow::Show() {
    shown_ = true;
    if (!IsPlaced()) {
        bool placed;
        if (parent_ != nullptr) {
            UpdateDepthRange();
            placed = IsPlaced() || parent_->childLayer_.Insert(this);
        } else {
            placed = g_guiRoot.Insert(this);
        }
        if (!placed) TraceNoRoomOnce();
    }
    auto* node = children_.first();
    for (int32_t i = 0; i < children_.count(); ++i, node = node->next) node->key->Show();
    RequestOwnUpdate();
}

void GuiWindow::Hide() {
    shown_ = false;
    auto* node = children_.first();
    for (int32_t i = 0; i < children_.count(); ++i, node = node->next) node->key->Hide();
    RequestUpdate(false, false);
    if (focused_) KillFocus();
    for (int32_t i = 0; i < kAnchorCount; ++i) ClearAnchor(i);
    while (dependants().count() > 0) {
        AnchorLayout* dependant = dependants().first()->element;
        RemoveDependant(dependant);
        if (GuiWindow* window = QueryAs<GuiWindow>(dependant)) {
            window->OnWindowRemoved(this);
        } else {
            dependant->ClearAnchorsTo(this);
        }
    }
}

void GuiWindow::SetVisible(bool visible) {
    visible_ = visible;
    if (visible) {
        RequestUpdate(true, true);
    } else {
        HideKeepingShown();
    }
}

void GuiWindow::Detach() {
    Unplace();
    RequestUpdate(false, false);
    if (parent_ != nullptr) parent_->RemoveChild(this);
    while (children_.count() > 0) RemoveChild(children_.first()->key);
    KillFocus();
    // A focus change may have queued an event for this window; it must not outlive it.
    g_guiRoot.ForgetWindow(this);
}

GuiWindow* GuiWindow::FindChild(const String& name) const {
    auto* node = children_.first();
    for (int32_t i = 0; i < children_.count(); ++i, node = node->next) {
        if (CompareStrings(node->key->name_, name) == 0) return node->key;
    }
    return nullptr;
}

void GuiWindow::ReserveOwnSlots(int32_t n) {
    ownSlots_ = n;
    UpdateDepthRange();
}

// ---- updates ----

void GuiWindow::RequestOwnUpdate() {
    if (!shown_ || !visible_ || !IsPlaced() || pendingUpdate_ != nullptr) return;
    pendingUpdate_ = g_guiRoot.timers().CreateTimer(Delegate::Create(this, &GuiWindow::OnUpdate),
                                                    0, false, -1);
}

void GuiWindow::RequestUpdate(bool on, bool recursive) {
    if (on) {
        RequestOwnUpdate();
    } else {
        delete pendingUpdate_;
        pendingUpdate_ = nullptr;
    }
    if (!recursive) return;
    auto* node = children_.first();
    for (int32_t i = 0; i < children_.count(); ++i, node = node->next) {
        node->key->RequestUpdate(on, true);
    }
}

bool GuiWindow::CancelUpdate() {
    delete pendingUpdate_;
    pendingUpdate_ = nullptr;
    return true;
}

bool GuiWindow::OnUpdate() { return CancelUpdate(); }

void GuiWindow::OnEvent(GuiEvent /*event*/) {}

// ---- focus ----

bool GuiWindow::SetFocus() {
    focused_ = true;
    if (parent_ == nullptr) {
        g_guiRoot.SetFocusWindow(this);
    } else if (parent_->focusedChild_ != this) {
        if (GuiWindow* old = parent_->focusedChild_) {
            old->focused_ = false;
            old->HandleEvent(GuiEvent(GuiEventType::kFocusLost));
        }
        parent_->focusedChild_ = this;
        HandleEvent(GuiEvent(GuiEventType::kFocusGained));
    }
    return true;
}

void GuiWindow::KillFocus() {
    if (!focused_) return;
    focused_ = false;
    HandleEvent(GuiEvent(GuiEventType::kFocusLost));
    if (parent_ == nullptr) {
        // Only this window's own focus is given up, not one another window has taken since.
        if (g_guiRoot.focusWindow() == this) g_guiRoot.SetFocusWindow(nullptr);
    } else if (parent_->focusedChild_ == this) {
        parent_->focusedChild_ = nullptr;
    }
}

// ---- anchors ----

void GuiWindow::OnWindowRemoved(GuiWindow* removed) {
    if (removed == nullptr) return;
    AnchorLayout* gone = removed;
    RemoveDependant(gone);
    for (int32_t i = 0; i < kAnchorCount; ++i) {
        if (target(i) != gone) continue;
        if ((i == kX1 || i == kY1) && parent_ != nullptr && parent_ != removed) {
            SetAnchor(parent_, i, 0.0f, 0.0f, i);
        } else {
            ClearAnchor(i);
        }
    }
    removed->RemoveDependant(this);
}

void GuiWindow::DropPendingAnchors(GuiWindow* window) {
    auto* node = pendingAnchors_.first();
    const int32_t count = pendingAnchors_.count();
    std::vector<String> emptied;
    for (int32_t i = 0; i < count; ++i, node = node->next) {
        LinkedList<AnchorSlot>* slots = node->value;
        for (int32_t index = 0; index < kAnchorCount; ++index) {
            slots->RemoveAll(AnchorSlot{window, index});
        }
        if (slots->count() == 0) emptied.push_back(node->key);
    }
    for (const String& name : emptied) delete pendingAnchors_.Erase(name);
}

int32_t GuiWindow::PendingAnchorCount(const String& name) const {
    const LinkedList<AnchorSlot>* slots = pendingAnchors_.ValueRef(name);
    return slots != nullptr ? slots->count() : 0;
}

// ---- geometry ----

void GuiWindow::SetSize(int32_t width, int32_t height) {
    SetRect(rect().left, rect().top, width, height);
}

void GuiWindow::SetPosition(int32_t x, int32_t y) { SetRect(x, y, rect().right, rect().bottom); }

void GuiWindow::SetRect(int32_t x, int32_t y, int32_t width, int32_t height) {
    width = std::max(minSize_.x, std::min(width, maxSize_.x));
    height = std::max(minSize_.y, std::min(height, maxSize_.y));
    Rect oldClient;
    GetRect(oldClient, clientName());
    AnchorLayout::SetRect(x, y, width, height);
    if (children_.count() > 0) {
        Rect newClient;
        GetRect(newClient, clientName());
        Rect oldOrigin, oldClip, newOrigin, newClip;
        const bool oldIn = ClientScreenRectWith(oldClient, oldOrigin, oldClip);
        const bool newIn = ClientScreenRectWith(newClient, newOrigin, newClip);
        auto* node = children_.first();
        for (int32_t i = 0; i < children_.count(); ++i, node = node->next) {
            GuiWindow* child = node->key;
            if (child->pendingUpdate_ != nullptr) continue;
            Rect oldUnclipped, oldClipped, newUnclipped, newClipped;
            ChildScreenRect(child->rect(), oldOrigin, oldClip, oldIn, oldUnclipped, oldClipped);
            ChildScreenRect(child->rect(), newOrigin, newClip, newIn, newUnclipped, newClipped);
            if (RectsEqual(oldUnclipped, newUnclipped) && RectsEqual(oldClipped, newClipped)) {
                continue;
            }
            // Its subtree moved with it.
            if (child->IsShown() && child->IsPlaced()) child->RequestUpdate(true, true);
        }
    }
    RequestOwnUpdate();
}

void GuiWindow::Recalculate(bool horizontal, bool vertical) {
    RecalculateLayout(horizontal, vertical);
    RequestUpdate(true, true);
}

bool GuiWindow::ChildScreenRect(const Rect& child, const Rect& origin, const Rect& clip,
                                bool parentInside, Rect& unclipped, Rect& clipped) {
    unclipped = Rect(Saturate(int64_t{child.left} + origin.left),
                     Saturate(int64_t{child.top} + origin.top), child.right, child.bottom);
    if (parentInside && Overlap(unclipped, clip, clipped)) return true;
    clipped = Rect(unclipped.left, unclipped.top, 0, 0);
    return false;
}

bool GuiWindow::ClientScreenRectWith(const Rect& client, Rect& unclipped, Rect& clipped) const {
    if (parent_ == nullptr) {
        unclipped = clipped = client;
        return true;
    }
    Rect origin, clip;
    const bool inside = parent_->ClientScreenRect(origin, clip);
    return ChildScreenRect(client, origin, clip, inside, unclipped, clipped);
}

bool GuiWindow::ScreenRect(Rect& unclipped, Rect& clipped) const {
    return ClientScreenRectWith(rect(), unclipped, clipped);
}

bool GuiWindow::ClientScreenRect(Rect& unclipped, Rect& clipped) const {
    Rect client;
    GetRect(client, clientName());
    return ClientScreenRectWith(client, unclipped, clipped);
}

Point GuiWindow::ClientToScreen(int32_t x, int32_t y) const {
    Rect unclipped, clipped;
    ClientScreenRect(unclipped, clipped);
    return Point(Saturate(int64_t{x} + unclipped.left), Saturate(int64_t{y} + unclipped.top));
}

Point GuiWindow::ScreenToClient(int32_t x, int32_t y) const {
    Rect unclipped, clipped;
    ClientScreenRect(unclipped, clipped);
    return Point(Saturate(int64_t{x} - unclipped.left), Saturate(int64_t{y} - unclipped.top));
}

int32_t GuiWindow::TestPointInRect(const Rect& rect, int32_t x, int32_t y, bool rectIsSize) {
    int64_t width = rect.right;
    int64_t height = rect.bottom;
    if (!rectIsSize) {
        width = int64_t{rect.right} - rect.left;
        height = int64_t{rect.bottom} - rect.top;
    }
    const int64_t dx = int64_t{x} - rect.left;
    const int64_t dy = int64_t{y} - rect.top;
    if (dx < 0 || dx > width || dy < 0 || dy > height) return 4;
    if (dx == 0 || dx == width || dy == 0 || dy == height) return 2;
    return 3;
}

bool GuiWindow::HitTest(int32_t x, int32_t y) {
    Rect unclipped, clipped;
    if (!ScreenRect(unclipped, clipped)) return false;
    return TestPointInRect(clipped, x, y, true) != 4;
}

// ---- depths ----

int32_t GuiWindow::AbsoluteDepth() const {
    // Each window below the top level lies in its parent's span: its own content sits at the
    // back of its range (depth - span + 1 in the parent's layer), its children in front.
    int64_t sum = 0;
    const GuiWindow* w = this;
    for (; w->parent_ != nullptr; w = w->parent_) {
        sum += int64_t{w->depth()} - w->span() + 1;
    }
    return Saturate(int64_t{w->depth()} - sum);
}

int32_t GuiWindow::DepthBelowTop() const {
    const GuiWindow* top = this;
    while (top->parent_ != nullptr) top = top->parent_;
    return Saturate(int64_t{top->AbsoluteDepth()} - AbsoluteDepth());
}

int32_t GuiWindow::SubtreeSlots() const {
    int64_t n = ownSlots_;
    auto* node = children_.first();
    for (int32_t i = 0; i < children_.count(); ++i, node = node->next) {
        n += node->key->SubtreeSlots();
    }
    return Saturate(n);
}

void GuiWindow::UpdateDepthRange() {
    if (parent_ != nullptr) parent_->UpdateDepthRange();
    HomeLayer().SetSpan(this, SubtreeSlots());
    childLayer_.SetRange(ownSlots_, span() - 1);
    childLayer_.Pack(true);
    if (parent_ == nullptr) RequestUpdate(true, true);
}

// ---- layout descriptions ----

void GuiWindow::LoadLayout(ScriptNode* node) {
    if (node == nullptr) return;
    LoadWindowFrame(node);
    LoadChildLayouts(node);
    LoadStyles(node);
    // Every other key is an integer property.
    auto* child = node->first();
    for (int32_t i = 0; i < node->count(); ++i, child = child->next) {
        PropertyNode* property = properties_.node().Child(child->key);
        if (property == nullptr) {
            property = new PropertyNode();
            properties_.node().Insert(child->key, property, 1);
        }
        property->SetInt32(ReadInt(child->value));
    }
}

void GuiWindow::LoadWindowFrame(ScriptNode* node) {
    ScriptNode* frame = node->Child("WindowFrame");
    if (frame == nullptr) return;
    if (frame->kind == ScriptNode::kObject) {
        const int32_t x = ReadInt(frame->Child("x1"));
        const int32_t y = ReadInt(frame->Child("y1"));
        int32_t width = ReadInt(frame->Child("x2"));
        int32_t height = ReadInt(frame->Child("y2"));
        if (frame->Child("w") != nullptr) width = ReadInt(frame->Child("w"));
        if (frame->Child("h") != nullptr) height = ReadInt(frame->Child("h"));
        SetRect(x, y, width, height);
    }
    EraseChild(node, "WindowFrame");
}

namespace {

// A size: an integer n (fixed, k 0) or an object {b integer, k float (1.0)}; absent: (0, 1).
AnchorLayout::SizeSpec ReadSizeSpec(const ScriptNode* node) {
    AnchorLayout::SizeSpec size;
    if (node == nullptr) return size;
    if (node->kind == ScriptNode::kObject) {
        size.b = static_cast<float>(ReadInt(node->Child("b")));
        size.k = ReadFloat(node->Child("k"), 1.0f);
    } else {
        size.b = static_cast<float>(ReadInt(node));
        size.k = 0.0f;
    }
    return size;
}

// An offset: an integer b or an object {b integer, k float}. k defaults to 0 for an edge (no
// share of the free room) and to 1 for a size (the measured size taken whole).
AnchorLayout::Offset ReadOffset(const ScriptNode* node, float defaultK) {
    AnchorLayout::Offset offset{0.0f, defaultK};
    if (node == nullptr) return offset;
    if (node->kind == ScriptNode::kObject) {
        offset.b = static_cast<float>(ReadInt(node->Child("b")));
        offset.k = ReadFloat(node->Child("k"), defaultK);
    } else {
        offset.b = static_cast<float>(ReadInt(node));
    }
    return offset;
}

}  // namespace

void GuiWindow::LoadChildLayouts(ScriptNode* node) {
    ScriptNode* windows = node->Child("Windows");
    if (windows == nullptr) return;
    if (windows->kind != ScriptNode::kText) {
        auto* entry = windows->first();
        for (int32_t e = 0; e < windows->count(); ++e, entry = entry->next) {
            ScriptNode* desc = entry->value;
            GuiWindow* window = FindChild(entry->key);
            if (window == nullptr) continue;

            // Anchors that waited for this name now have their window.
            LinkedList<AnchorSlot>* waiting = pendingAnchors_.Erase(entry->key);
            if (waiting != nullptr) {
                auto* slot = waiting->first();
                for (int32_t s = 0; s < waiting->count(); ++s, slot = slot->next) {
                    slot->element.window->RetargetAnchor(slot->element.index, window);
                }
                delete waiting;
            }

            const SizeSpec width = ReadSizeSpec(desc->Child("width"));
            const SizeSpec height = ReadSizeSpec(desc->Child("height"));
            AnchorLayout* targets[kAnchorCount] = {};
            int32_t aligns[kAnchorCount] = {};
            Offset offsets[kAnchorCount];
            const String* waitFor[kAnchorCount] = {};
            std::vector<String> names(kAnchorCount);
            if (ScriptNode* anchors = desc->Child("anchors");
                anchors != nullptr && anchors->kind != ScriptNode::kText) {
                auto* a = anchors->first();
                for (int32_t n = 0; n < anchors->count(); ++n, a = a->next) {
                    const int32_t index = AnchorIndex(a->key);
                    const ScriptNode* anchor = a->value;
                    targets[index] = nullptr;
                    waitFor[index] = nullptr;
                    if (const ScriptNode* target = anchor->Child("window")) {
                        if (CompareStrings(target->value, String("Parent")) == 0) {
                            targets[index] = this;
                        } else if (GuiWindow* found = FindChild(target->value)) {
                            targets[index] = found;
                        } else {
                            names[index] = target->value;
                            waitFor[index] = &names[index];
                        }
                    }
                    const ScriptNode* align = anchor->Child("align");
                    aligns[index] = align != nullptr ? AnchorIndex(align->value) : 0;
                    offsets[index] = ReadOffset(anchor->Child("offset"), index < kW1 ? 0.0f : 1.0f);
                }
            }

            // The window's anchors are set anew: older waiting slots of it are void.
            DropPendingAnchors(window);
            window->SetWidthSpec(width.b, width.k);
            window->SetHeightSpec(height.b, height.k);
            for (int32_t i = kX1; i <= kY2; ++i) {
                window->SetAnchor(targets[i], aligns[i], offsets[i].b, offsets[i].k, i);
            }
            // One offset per size pair: the W1 (H1) entry's; one under W2 or H2 is not used.
            window->SetWidthAnchors(targets[kW1], aligns[kW1], targets[kW2], aligns[kW2],
                                    offsets[kW1].b, offsets[kW1].k);
            window->SetHeightAnchors(targets[kH1], aligns[kH1], targets[kH2], aligns[kH2],
                                     offsets[kH1].b, offsets[kH1].k);
            for (int32_t i = 0; i < kAnchorCount; ++i) {
                if (waitFor[i] == nullptr) continue;
                LinkedList<AnchorSlot>*& slots = pendingAnchors_.GetOrInsert(*waitFor[i])->value;
                if (slots == nullptr) slots = new LinkedList<AnchorSlot>();
                slots->AddIfAbsent(AnchorSlot{window, i});
            }
        }
    }
    EraseChild(node, "Windows");
}

void GuiWindow::LoadStyles(ScriptNode* node) {
    ScriptNode* styles = node->Child("Styles");
    if (styles == nullptr) return;
    if (styles->kind == ScriptNode::kText) {
        if (styles->value.length() > 0) {
            properties_.AttachStyle(g_styleRegistry.GetOrCreateStyle(styles->value));
        }
    } else {
        auto* entry = styles->first();
        for (int32_t i = 0; i < styles->count(); ++i, entry = entry->next) {
            const ScriptNode* style = entry->value;
            if (style->kind != ScriptNode::kText || style->value.length() == 0) continue;
            properties_.AttachStyle(g_styleRegistry.GetOrCreateStyle(style->value));
        }
    }
    EraseChild(node, "Styles");
}
