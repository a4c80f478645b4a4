// GUI windows: the base of every on-screen GUI element. A window has a rectangle kept by its
// anchor layout (relative to the parent's client area, which is the whole parent rectangle
// here), a place in a depth layer (top-level windows in the GUI root's, children in their
// parent's child layer), a parent and children, focus, shown and visible flags, an opacity,
// a bag of named properties with attached styles, and update requests that run through the
// GUI root's timers. Windows never draw directly: OnUpdate rebuilds what the root draws.
//
// A parent does not own its children: removing a child only detaches it, and whoever created
// a window deletes it. One thread, like the rest of the GUI.
#pragma once

#include "core/containers/linked_list.h"
#include "core/containers/ordered_map.h"
#include "core/object/property_node.h"
#include "core/text/string.h"
#include "core/types/point_rect.h"
#include "gui/anchor_layout.h"
#include "gui/depth_layer.h"
#include "gui/gui_event.h"
#include "render/hardware_buffer.h"

#include <cstdint>

class ScriptNode;
class TimerEntry;

// A window's named properties and the styles attached to them.
class WindowProperties {
public:
    WindowProperties() = default;
    WindowProperties(const WindowProperties&) = delete;
    WindowProperties& operator=(const WindowProperties&) = delete;

    // Attaches a style (owned by the style registry) unless already attached. With
    // takeOverStyleKeys set, each key of the style is recorded as provided by it.
    void AttachStyle(PropertyNode* style);
    // True and `out` = the value when the property `name` holds an integer stored with
    // SetInt32 (the kind LoadLayout writes).
    bool GetInt32(const String& name, int32_t& out) const;

    PropertyNode& node() { return node_; }
    const PropertyNode& node() const { return node_; }
    const OrderedSet<PropertyNode*>& styles() const { return styles_; }
    // The style that provides a key (when keys are taken over), or null.
    PropertyNode* ProviderOf(const String& key) const { return providers_.ValueRef(key); }
    // Off by default: nothing in the program sets it, and the style keys are then only read
    // through the style set.
    bool takeOverStyleKeys = false;

private:
    PropertyNode node_;
    OrderedSet<PropertyNode*> styles_;
    OrderedMap<String, PropertyNode*, StringCompareNoCase> providers_;
};

class GuiWindow : public GuiLayerItem,
                  public AnchorLayout,
                  public BufferBlockUser,
                  public GuiEventSink {
public:
    // An anchor of a child window waiting, under a window name, for that window to appear.
    struct AnchorSlot {
        GuiWindow* window = nullptr;
        int32_t index = 0;
        bool operator==(const AnchorSlot& other) const {
            return window == other.window && index == other.index;
        }
    };

    // Depth 0, span 1, unplaced, hidden (shown 0) but visible, not focused, opacity 1,
    // one own slot, rectangle (0, 0, 0, 0), no parent, no children, no pending update.
    GuiWindow();
    // Detach, then the members; the layout part leaves every dependants list.
    ~GuiWindow() override;

    bool QueryInterface(int32_t id, void** out) override;

    // GuiLayerItem.
    GuiWindow* GetWindow() override { return this; }
    // Requests an update of the window and its children; true.
    bool OnDepthChanged() override;

    // Reads a layout description: "WindowFrame", "Windows", "Styles" and integer properties.
    // Every key it reads is removed from `node`. Never fails: malformed parts are skipped or
    // read as 0.
    virtual void LoadLayout(ScriptNode* node);
    virtual void SetSize(int32_t width, int32_t height);
    // True when (x, y) lies inside or on the edge of the clipped screen rectangle; a window
    // lying wholly outside its parent is never hit.
    virtual bool HitTest(int32_t x, int32_t y);
    virtual void Hide();
    // shown and visible.
    virtual bool IsShown() const { return shown_ && visible_; }
    virtual void SetOpacity(float opacity) { opacity_ = opacity; }
    virtual void SetAlphaMode(int32_t mode) { alphaMode_ = mode; }
    virtual bool SetFocus();
    virtual void KillFocus();
    // A window this one is anchored to went away (hidden or gone): X1 and Y1 fall back to the
    // parent, the other anchors to it are cleared.
    virtual void OnWindowRemoved(GuiWindow* removed);
    // Runs when a requested update fires; the base cancels the request. Derived windows do
    // their work and then cancel.
    virtual bool OnUpdate();
    // The base has no effect.
    virtual void OnEvent(GuiEvent event);

    // AnchorLayout: clamps the size into [minSize, maxSize], propagates, and requests updates
    // of the children whose screen rectangle changed and of this window.
    void SetRect(int32_t x, int32_t y, int32_t width, int32_t height) override;
    // The layout's recalculation, then an update of the window and its children.
    void Recalculate(bool horizontal, bool vertical) override;
    // BufferBlockUser: the window's vertices must be rewritten; requests its update.
    bool OnBlockMoved(BufferBlock* block) override;

    // Tree and visibility.
    void AddChild(GuiWindow* child, bool anchorToParent);
    void RemoveChild(GuiWindow* child);
    void Show();
    void SetVisible(bool visible);
    // Out of its layer, hidden (shown flag kept), away from its parent and its children, out
    // of focus, and with no event left queued for it.
    void Detach();
    GuiWindow* FindChild(const String& name) const;
    void ReserveOwnSlots(int32_t n);

    // Updates.
    void RequestUpdate(bool on, bool recursive);
    bool CancelUpdate();

    // Geometry; rectangles are x, y, width, height.
    Point GetPosition() const { return Point(rect().left, rect().top); }
    Point GetSize() const { return Point(rect().right, rect().bottom); }
    void SetPosition(int32_t x, int32_t y);
    // The screen rectangle and its part inside the parents' client areas. False (and an
    // empty clipped rectangle at the unclipped origin) when nothing of it is inside.
    bool ScreenRect(Rect& unclipped, Rect& clipped) const;
    // The same for the client area.
    bool ClientScreenRect(Rect& unclipped, Rect& clipped) const;
    Point ClientToScreen(int32_t x, int32_t y) const;
    Point ScreenToClient(int32_t x, int32_t y) const;
    // 4 outside, 2 on an edge, 3 inside. With rectIsSize false the rectangle is left, top,
    // right, bottom.
    static int32_t TestPointInRect(const Rect& rect, int32_t x, int32_t y, bool rectIsSize);

    // Depths along the parent chain (a child's depth is relative to its parent's span).
    int32_t AbsoluteDepth() const;
    int32_t FrontDepth() const { return AbsoluteDepth() - ownSlots_ + 1; }
    int32_t DepthBelowTop() const;
    int32_t BackDepthBelowTop() const { return DepthBelowTop() + ownSlots_ - 1; }
    int32_t SubtreeSlots() const;
    void UpdateDepthRange();

    // State.
    const String& name() const { return name_; }
    void SetName(const String& name) { name_ = name; }
    GuiWindow* parent() const { return parent_; }
    GuiWindow* focusedChild() const { return focusedChild_; }
    const OrderedSet<GuiWindow*>& children() const { return children_; }
    const GuiDepthLayer& childLayer() const { return childLayer_; }
    WindowProperties& properties() { return properties_; }
    bool shown() const { return shown_; }
    bool visible() const { return visible_; }
    bool focused() const { return focused_; }
    bool HasPendingUpdate() const { return pendingUpdate_ != nullptr; }
    int32_t ownSlots() const { return ownSlots_; }
    float opacity() const { return opacity_; }
    int32_t alphaMode() const { return alphaMode_; }
    Point minSize() const { return minSize_; }
    Point maxSize() const { return maxSize_; }
    void SetMinSize(Point size) { minSize_ = size; }
    void SetMaxSize(Point size) { maxSize_ = size; }
    // How many anchor slots wait for a window of that name.
    int32_t PendingAnchorCount(const String& name) const;

private:
    // Requests an update of this window alone, under RequestUpdate's conditions.
    void RequestOwnUpdate();
    // Takes the window out of its layer and hides it, keeping its shown flag.
    void Unplace();
    // Hides the window keeping the shown flags of its whole subtree.
    void HideKeepingShown();
    // The client screen rectangle this window would have with `client` as its own client
    // rectangle (used to compare a child's place before and after a change).
    bool ClientScreenRectWith(const Rect& client, Rect& unclipped, Rect& clipped) const;
    // A child's screen rectangles inside the parent client rectangles given.
    static bool ChildScreenRect(const Rect& child, const Rect& origin, const Rect& clip,
                                bool parentInside, Rect& unclipped, Rect& clipped);
    // Drops the anchor slots that `window` holds (it is going away).
    void DropPendingAnchors(GuiWindow* window);
    // The layer the window is (or would be) placed in.
    GuiDepthLayer& HomeLayer();
    void LoadWindowFrame(ScriptNode* node);
    void LoadChildLayouts(ScriptNode* node);
    void LoadStyles(ScriptNode* node);
    // A window left unplaced for want of room says so once; it gets no updates from then on.
    void TraceNoRoomOnce();

    WindowProperties properties_;
    GuiDepthLayer childLayer_;
    String name_;
    Point minSize_{1, 1};
    Point maxSize_{2000, 2000};
    int32_t ownSlots_ = 1;
    bool focused_ = false;
    bool visible_ = true;
    bool shown_ = false;
    TimerEntry* pendingUpdate_ = nullptr;
    int32_t alphaMode_ = 0;
    float opacity_ = 1.0f;
    GuiWindow* parent_ = nullptr;
    GuiWindow* focusedChild_ = nullptr;
    OrderedSet<GuiWindow*> children_;
    OrderedMap<String, LinkedList<AnchorSlot>*, StringCompare> pendingAnchors_;
    bool noRoomTraced_ = false;
};
