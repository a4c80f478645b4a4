#include "gui/anchor_layout.h"

#include <cmath>
#include <vector>

int32_t TruncateToInt(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(value);
}

namespace {

// Aligns are edges of the target; the size-anchor names stand for the edge of their axis.
int32_t EdgeOf(int32_t align) { return align & 3; }

}  // namespace

AnchorLayout::~AnchorLayout() {
    for (int32_t i = 0; i < kAnchorCount; ++i) {
        if (target_[i] != nullptr) target_[i]->RemoveDependant(this);
        target_[i] = nullptr;
    }
    // Layouts still anchored here would read a freed rectangle at their next recalculation.
    while (dependants_.count() > 0) {
        AnchorLayout* dependant = dependants_.first()->element;
        dependants_.RemoveAll(dependant);
        dependant->ClearAnchorsTo(this);
    }
}

bool AnchorLayout::QueryInterface(int32_t id, void** out) {
    return AnswerQuery<AnchorLayout, RefCounted>(this, id, out);
}

void AnchorLayout::SetRect(int32_t x, int32_t y, int32_t width, int32_t height) {
    const Rect old = rect_;
    StoreRect(x, y, width, height);
    PropagateChanges(old.left != x, old.top != y, old.right != width, old.bottom != height);
}

void AnchorLayout::GetRect(Rect& out, const String& /*name*/) const { out = rect_; }

void AnchorLayout::Recalculate(bool horizontal, bool vertical) {
    RecalculateLayout(horizontal, vertical);
}

void AnchorLayout::RecalculateLayout(bool horizontal, bool vertical) {
    if (recalculating_) return;
    recalculating_ = true;
    const Rect old = rect_;
    if (horizontal) SolveAxis(true, rect_);
    if (vertical) SolveAxis(false, rect_);
    PropagateChanges(old.left != rect_.left, old.top != rect_.top, old.right != rect_.right,
                     old.bottom != rect_.bottom);
    recalculating_ = false;
}

Rect AnchorLayout::TargetRect(const AnchorLayout* target) const {
    if (target == nullptr) return rect_;
    Rect r;
    if (target == parent_) {
        target->GetRect(r, clientName_);
        r.left = 0;
        r.top = 0;
    } else {
        r = target->rect_;
    }
    return r;
}

void AnchorLayout::SolveAxis(bool horizontal, Rect& out) const {
    const int32_t startAnchor = horizontal ? kX1 : kY1;
    const int32_t endAnchor = horizontal ? kX2 : kY2;
    const int32_t size1 = horizontal ? kW1 : kH1;
    const int32_t size2 = horizontal ? kW2 : kH2;
    const int32_t sizeOffset = horizontal ? 4 : 5;
    const SizeSpec& rule = horizontal ? widthSpec_ : heightSpec_;
    // The edge numbers of this axis and the rectangle components they read.
    const int32_t startEdge = horizontal ? kX1 : kY1;
    const int32_t endEdge = horizontal ? kX2 : kY2;
    const int32_t pos = horizontal ? 0 : 1;   // Rect component of the position
    const int32_t ext = horizontal ? 2 : 3;   // Rect component of the extent

    const auto edgeValue = [&](const Rect& r, int32_t edge) -> double {
        const double p = r.Component(pos);
        return edge == startEdge ? p : p + static_cast<double>(r.Component(ext));
    };

    const Rect t1 = TargetRect(target_[startAnchor]);
    const Rect t2 = TargetRect(target_[endAnchor]);
    const int32_t align1 = target_[startAnchor] ? EdgeOf(align_[startAnchor]) : startEdge;
    const int32_t align2 = target_[endAnchor] ? EdgeOf(align_[endAnchor]) : endEdge;

    float base = rule.b;
    float factor = rule.k;
    float v;
    float w;
    if (align1 == startEdge || align1 == endEdge) {
        v = static_cast<float>(edgeValue(t1, align1));
        w = static_cast<float>(edgeValue(t2, align2 == startEdge ? startEdge : endEdge));
        if (target_[size1] != nullptr && target_[size2] != nullptr) {
            const Rect s1 = TargetRect(target_[size1]);
            const Rect s2 = TargetRect(target_[size2]);
            const int32_t a1 = EdgeOf(align_[size1]);
            const int32_t a2 = EdgeOf(align_[size2]);
            factor = 0.0f;
            if (a1 == startEdge || a1 == endEdge) {
                const double to = edgeValue(s2, a2 == startEdge ? startEdge : endEdge);
                base = static_cast<float>(to - edgeValue(s1, a1));
            }
            base = base * offset_[sizeOffset].k + offset_[sizeOffset].b;
        }
    } else {
        // An edge of the other axis: the start and end collapse onto the axis flag.
        v = w = horizontal ? 1.0f : 0.0f;
    }

    const float b1 = offset_[startAnchor].b;
    const float k1 = offset_[startAnchor].k;
    const float b2 = offset_[endAnchor].b;
    const float k2 = offset_[endAnchor].k;
    float start;
    float size;
    if (factor != 0.0f) {
        const float free = (w - v) - (b2 + base + b1);
        const float total = factor + k1 + k2;
        if (total == 0.0f) {
            start = v + b1;
            size = base;
        } else {
            start = v + b1 + free * k1 / total;
            size = base + free * factor / total;
        }
    } else if (target_[startAnchor] != nullptr) {
        start = v + b1;
        size = base;
    } else {
        const float end = w - b2;
        start = end - base;
        size = base;
    }
    out.Component(pos) = TruncateToInt(start);
    out.Component(ext) = TruncateToInt(size);
}

void AnchorLayout::PropagateChanges(bool x, bool y, bool width, bool height) {
    if (!(x || y || width || height) || dependants_.count() == 0) return;
    // A dependant may change the list while it recalculates (anchoring or leaving); walk a copy.
    std::vector<AnchorLayout*> list;
    list.reserve(static_cast<size_t>(dependants_.count()));
    auto* node = dependants_.first();
    for (int32_t i = 0; i < dependants_.count(); ++i, node = node->next) {
        list.push_back(node->element);
    }
    for (AnchorLayout* d : list) {
        bool cx = x, cy = y, cw = width, ch = height;
        if (d->parent_ == this) {
            // The child reads the client area at (0, 0): a moved edge is a moved extent too.
            cx = cw = x || width;
            cy = ch = y || height;
        }
        bool horizontal = false;
        bool vertical = false;
        for (int32_t i = 0; i < kAnchorCount; ++i) {
            if (d->target_[i] != this) continue;
            // A start edge follows the position; an end edge (x + width) follows both.
            const int32_t edge = EdgeOf(d->align_[i]);
            const bool changed = edge == kX1   ? cx
                                 : edge == kY1 ? cy
                                 : edge == kX2 ? (cx || cw)
                                               : (cy || ch);
            if (!changed) continue;
            if (edge == kX1 || edge == kX2) {
                horizontal = true;
            } else {
                vertical = true;
            }
        }
        if (horizontal || vertical) d->Recalculate(horizontal, vertical);
    }
}

void AnchorLayout::AttachAnchor(int32_t index, AnchorLayout* target) {
    AnchorLayout* old = target_[index];
    target_[index] = target;
    if (target != nullptr && target != old && !target->dependants_.Contains(this)) {
        // Append at the end so that the list runs in the order the layouts anchored.
        if (target->dependants_.count() > 0) {
            target->dependants_.SetCursor(target->dependants_.first()->prev);
        }
        target->dependants_.Append(this);
    }
    if (old != nullptr && old != target) LeaveIfUnused(old);
}

void AnchorLayout::LeaveIfUnused(AnchorLayout* target) {
    for (AnchorLayout* t : target_) {
        if (t == target) return;
    }
    target->RemoveDependant(this);
}

void AnchorLayout::RetargetAnchor(int32_t index, AnchorLayout* target) {
    if (index >= 0 && index < kAnchorCount) AttachAnchor(index, target);
}

void AnchorLayout::ClearAnchorsTo(const AnchorLayout* target) {
    for (AnchorLayout*& t : target_) {
        if (t == target) t = nullptr;
    }
}

void AnchorLayout::SetAnchor(AnchorLayout* target, int32_t align, float offsetB, float offsetK,
                             int32_t index) {
    if (index < 0 || index > kY2) return;
    AttachAnchor(index, target);
    align_[index] = align;
    offset_[index] = {offsetB, offsetK};
}

void AnchorLayout::SetWidthAnchors(AnchorLayout* target1, int32_t align1, AnchorLayout* target2,
                                   int32_t align2, float offsetB, float offsetK) {
    AttachAnchor(kW1, target1);
    AttachAnchor(kW2, target2);
    align_[kW1] = align1;
    align_[kW2] = align2;
    offset_[4] = {offsetB, offsetK};
}

void AnchorLayout::SetHeightAnchors(AnchorLayout* target1, int32_t align1,
                                    AnchorLayout* target2, int32_t align2, float offsetB,
                                    float offsetK) {
    AttachAnchor(kH1, target1);
    AttachAnchor(kH2, target2);
    align_[kH1] = align1;
    align_[kH2] = align2;
    offset_[5] = {offsetB, offsetK};
}

void AnchorLayout::ClearAnchor(int32_t index) {
    if (index < 0 || index >= kAnchorCount) return;
    AttachAnchor(index, nullptr);
    if (index == kW1) AttachAnchor(kW2, nullptr);
    if (index == kH1) AttachAnchor(kH2, nullptr);
}

void AnchorLayout::RemoveDependant(AnchorLayout* layout) { dependants_.RemoveAll(layout); }

int32_t AnchorLayout::DependantCount(AnchorLayout* layout) const {
    int32_t n = 0;
    auto* node = dependants_.first();
    for (int32_t i = 0; i < dependants_.count(); ++i, node = node->next) {
        if (node->element == layout) ++n;
    }
    return n;
}
