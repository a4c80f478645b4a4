// Anchor layout: one rectangle (x, y, width, height, relative to the parent's client area)
// computed from anchors. Each edge may be tied to an edge of another layout (a sibling, the
// parent's client area, a skin tile) with an offset; the size may be fixed, a share of the
// free room between the anchors, or measured between two other layouts. When a layout's
// rectangle changes, every layout anchored to it is recalculated.
//
// Anchors, also used as align values (the edge of the target an anchor attaches to):
//   0 X1 (left edge), 1 Y1 (top edge), 2 X2 (right edge), 3 Y2 (bottom edge),
//   4 W1, 5 H1, 6 W2, 7 H2 (the two layouts a width or height is measured between).
// An align naming a size anchor (W1..H2) is read as the matching edge of its axis: W1 as X1,
// H1 as Y1, W2 as X2, H2 as Y2 (the align taken modulo 4). Any align is thus an edge.
#pragma once

#include "core/containers/linked_list.h"
#include "core/object/ref_counted.h"
#include "core/text/string.h"
#include "core/types/point_rect.h"

#include <cstdint>

// Truncates toward zero, saturating at the int32 range; NaN gives 0. Every computed
// coordinate goes through it: converting an out-of-range float to int is undefined.
int32_t TruncateToInt(double value);

class AnchorLayout : public virtual RefCounted {
public:
    enum Anchor : int32_t { kX1 = 0, kY1, kX2, kY2, kW1, kH1, kW2, kH2, kAnchorCount };

    // How a size is given: size = b + k x (share of the free room), or b alone when k is 0.
    struct SizeSpec {
        float b = 0.0f;
        float k = 1.0f;
    };
    // An anchor offset: b pixels inset from the target edge, k its share of the free room (for
    // a size offset: the factor applied to the measured size).
    struct Offset {
        float b = 0.0f;
        float k = 0.0f;
    };

    AnchorLayout() = default;
    AnchorLayout(const AnchorLayout&) = delete;
    AnchorLayout& operator=(const AnchorLayout&) = delete;
    // Leaves the dependants list of every anchor target, and clears every anchor that other
    // layouts still hold to this one (they keep their rectangles), so nothing points here
    // afterwards.
    ~AnchorLayout() override;

    bool QueryInterface(int32_t id, void** out) override;

    // Stores the rectangle and propagates the components that changed to the dependants.
    virtual void SetRect(int32_t x, int32_t y, int32_t width, int32_t height);
    // The rectangle in size form (left = x, top = y, right = width, bottom = height). The name
    // (a part such as the client area) is ignored here.
    virtual void GetRect(Rect& out, const String& name) const;
    // Recomputes the chosen axes from the anchors and propagates what changed. A layout that
    // is being recalculated returns at once, which ends cycles of anchors.
    virtual void Recalculate(bool horizontal, bool vertical);

    // Anchor index 0..3 (others are ignored): attaches it to `target`'s edge `align` with the
    // offset. This layout joins the target's dependants once; a target that no anchor holds
    // any more loses this layout from its list.
    void SetAnchor(AnchorLayout* target, int32_t align, float offsetB, float offsetK,
                   int32_t index);
    // The width is measured between target1's edge align1 and target2's edge align2 when both
    // are set; the offset is the W offset. SetHeightAnchors: the same for H1/H2.
    void SetWidthAnchors(AnchorLayout* target1, int32_t align1, AnchorLayout* target2,
                         int32_t align2, float offsetB, float offsetK);
    void SetHeightAnchors(AnchorLayout* target1, int32_t align1, AnchorLayout* target2,
                          int32_t align2, float offsetB, float offsetK);
    // Clears one anchor (W1 also clears W2, H1 also H2). The target keeps this layout among
    // its dependants while another anchor still holds it.
    void ClearAnchor(int32_t index);
    void SetWidthSpec(float b, float k) { widthSpec_ = {b, k}; }
    void SetHeightSpec(float b, float k) { heightSpec_ = {b, k}; }
    // The layout this one is positioned in; anchors to it read its client area at (0, 0).
    void SetParent(AnchorLayout* parent) { parent_ = parent; }
    // Takes every occurrence of `layout` out of the dependants list.
    void RemoveDependant(AnchorLayout* layout);
    // Points anchor `index` (0..7) at `target`, keeping its align and offset.
    void RetargetAnchor(int32_t index, AnchorLayout* target);
    // Clears every anchor that holds `target` without touching any dependants list: for a
    // target that has already let this layout go.
    void ClearAnchorsTo(const AnchorLayout* target);

    const Rect& rect() const { return rect_; }
    AnchorLayout* target(int32_t index) const { return target_[index]; }
    int32_t align(int32_t index) const { return align_[index]; }
    // Index 0..3 the position anchors, 4 the W offset, 5 the H offset.
    const Offset& offset(int32_t index) const { return offset_[index]; }
    const SizeSpec& widthSpec() const { return widthSpec_; }
    const SizeSpec& heightSpec() const { return heightSpec_; }
    AnchorLayout* layoutParent() const { return parent_; }
    const String& clientName() const { return clientName_; }
    // The layouts anchored to this one, each listed once.
    const LinkedList<AnchorLayout*>& dependants() const { return dependants_; }
    // Every occurrence of `layout` among the dependants (1 when the lists are consistent).
    int32_t DependantCount(AnchorLayout* layout) const;

protected:
    // The layout recalculation itself, without what a derived Recalculate adds.
    void RecalculateLayout(bool horizontal, bool vertical);
    // Tells each dependant of the components that changed (see the .cpp for the rules).
    void PropagateChanges(bool x, bool y, bool width, bool height);
    // Stores the rectangle without any propagation (for derived SetRect overrides).
    void StoreRect(int32_t x, int32_t y, int32_t width, int32_t height) {
        rect_ = Rect(x, y, width, height);
    }

private:
    // Solves one axis into `out` (x and width, or y and height).
    void SolveAxis(bool horizontal, Rect& out) const;
    // The rectangle an anchor's target offers: the parent's client area at (0, 0), another
    // layout's rectangle, or this layout's own when there is no target.
    Rect TargetRect(const AnchorLayout* target) const;
    // Points anchor `index` at `target`, keeping the dependants lists in step.
    void AttachAnchor(int32_t index, AnchorLayout* target);
    // Takes this layout off `target`'s dependants when no anchor holds `target` any more.
    void LeaveIfUnused(AnchorLayout* target);

    Rect rect_;
    SizeSpec widthSpec_;
    SizeSpec heightSpec_;
    int32_t align_[kAnchorCount] = {};
    Offset offset_[6];
    bool recalculating_ = false;
    LinkedList<AnchorLayout*> dependants_;
    String clientName_ = "client";
    AnchorLayout* parent_ = nullptr;
    AnchorLayout* target_[kAnchorCount] = {};
};
