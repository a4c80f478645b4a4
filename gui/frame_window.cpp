#include "gui/frame_window.h"

#include "core/script/script_node.h"
#include "core/text/string.h"

#include <windows.h>

#include <algorithm>

namespace {

int32_t Saturate(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

int64_t Clamp64(int64_t v, int64_t lo, int64_t hi) {
    // A maximum below the minimum gives the minimum, as the window's own clamping does.
    return std::max(lo, std::min(v, hi));
}

// A size-form rectangle clipped to (0, 0, w, h); false when nothing is left.
bool ClipToWindow(int64_t left, int64_t top, int64_t width, int64_t height, int64_t w, int64_t h,
                  Rect& out) {
    const int64_t l = std::max<int64_t>(left, 0);
    const int64_t t = std::max<int64_t>(top, 0);
    const int64_t r = std::min(left + width, w);
    const int64_t b = std::min(top + height, h);
    if (r < l || b < t) return false;
    out = Rect(Saturate(l), Saturate(t), Saturate(r - l), Saturate(b - t));
    return true;
}

// A layout flag: present, its integer value (0 unless a number); the key is removed.
// Absent: 0.
bool ReadFlag(ScriptNode* node, const char* key) {
    ScriptNode* child = node->Child(key);
    if (child == nullptr) return false;
    bool value = false;
    if (child->value.length() > 0 && IsNumber(child->value)) {
        value = TruncateToInt(child->AsDouble()) != 0;
    }
    delete node->Erase(child->name);
    return value;
}

}  // namespace

int32_t FrameWindow::CursorIdForZone(int32_t zone) {
    switch (zone) {
        case kTopLeft:
        case kBottomRight:
            return 32642;  // IDC_SIZENWSE
        case kTopRight:
        case kBottomLeft:
            return 32643;  // IDC_SIZENESW
        case kTop:
        case kBottom:
            return 32645;  // IDC_SIZENS
        case kRight:
        case kLeft:
            return 32644;  // IDC_SIZEWE
        default:
            return 32512;  // IDC_ARROW
    }
}

void FrameWindow::ShowZoneCursor(int32_t zone) {
    SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(CursorIdForZone(zone))));
}

int32_t FrameWindow::HitZone(int32_t x, int32_t y) {
    const int64_t w = rect().right;
    const int64_t h = rect().bottom;
    if (resizable_) {
        struct Candidate {
            int64_t left, top, width, height;
            int32_t zone;
        };
        // Corners before edges, so a corner wins where the edges overlap.
        const Candidate candidates[] = {
            {w - kBorder, h - kBorder, kBorder, kBorder, kBottomRight},
            {0, h - kBorder, kBorder, kBorder, kBottomLeft},
            {0, 0, kBorder, kBorder, kTopLeft},
            {w - kBorder, 0, kBorder, kBorder, kTopRight},
            {0, h - kBorder, w, kBorder, kBottom},
            {0, 0, kBorder, h, kLeft},
            {w - kBorder, 0, kBorder, h, kRight},
            {0, 0, w, kBorder, kTop},
        };
        for (const Candidate& c : candidates) {
            Rect clipped;
            if (!ClipToWindow(c.left, c.top, c.width, c.height, w, h, clipped)) continue;
            if (TestPointInRect(clipped, x, y, true) != 4) return c.zone;
        }
    }
    if (movable_ && moveArea_.right > 0 && moveArea_.bottom > 0 &&
        TestPointInRect(moveArea_, x, y, true) != 4) {
        return kMove;
    }
    return kNone;
}

void FrameWindow::SetResizable(bool value) {
    resizable_ = value;
    if (!value) resizing_ = false;
}

void FrameWindow::SetMovable(bool value) {
    movable_ = value;
    if (!value) moving_ = false;
}

void FrameWindow::LoadLayout(ScriptNode* node) {
    if (node == nullptr) return;
    SetResizable(ReadFlag(node, "Resizable"));
    SetMovable(ReadFlag(node, "Movable"));
    GuiWindow::LoadLayout(node);
}

void FrameWindow::Hide() {
    zone_ = kNone;
    resizing_ = false;
    moving_ = false;
    GuiWindow::Hide();
}

void FrameWindow::SendDrag(GuiEventType type) {
    Broadcast(GuiEvent::Drag(type, name(), this, moving_, resizing_));
}

void FrameWindow::ResizeTo(Point p) {
    const Point local = ScreenToClient(p.x, p.y);
    // Left and top edges follow the pointer in the coordinates the rectangle is kept in: the
    // parent's client area (the screen for a top-level window).
    const Point inParent = parent() != nullptr ? parent()->ScreenToClient(p.x, p.y) : p;
    const int64_t minW = minSize().x, maxW = maxSize().x;
    const int64_t minH = minSize().y, maxH = maxSize().y;
    int64_t x = rect().left, y = rect().top, w = rect().right, h = rect().bottom;
    const int32_t z = zone_;
    if (z == kTopRight || z == kRight || z == kBottomRight) {
        w = Clamp64(int64_t{local.x} + 1, minW, maxW);
    }
    if ((z == kTopLeft || z == kBottomLeft || z == kLeft) && local.x < w - minW) {
        const int64_t right = x + w;
        w = Clamp64(w + x - inParent.x, minW, maxW);
        // When a limit stops the drag the right edge stays where it was.
        x = right - w;
    }
    if (z == kBottomRight || z == kBottom || z == kBottomLeft) {
        h = Clamp64(int64_t{local.y} + 1, minH, maxH);
    }
    if ((z == kTopLeft || z == kTop || z == kTopRight) && local.y < h - minH) {
        const int64_t bottom = y + h;
        h = Clamp64(h + y - inParent.y, minH, maxH);
        y = bottom - h;
    }
    SetRect(Saturate(x), Saturate(y), Saturate(w), Saturate(h));
}

bool FrameWindow::HandleEvent(GuiEvent event) {
    if (resizable_ || movable_) {
        const Point p = event.Position();
        const Point local = ScreenToClient(p.x, p.y);
        const GuiEventType type = event.type();
        if (IsHoverEvent(event)) {
            if (resizing_) {
                ResizeTo(p);
                RequestUpdate(true, true);
                SendDrag(GuiEventType::kDragged);
            } else if (moving_) {
                SetRect(Saturate(int64_t{rect().left} + p.x - lastPointer_.x),
                        Saturate(int64_t{rect().top} + p.y - lastPointer_.y), rect().right,
                        rect().bottom);
                lastPointer_ = p;
                RequestUpdate(true, true);
                SendDrag(GuiEventType::kDragged);
            } else if (type == GuiEventType::kPointerLeft) {
                if (zone_ != kNone) {
                    zone_ = kNone;
                    ShowZoneCursor(kNone);
                }
            } else if ((event.flags() & GuiEvent::kPointerOutside) == 0) {
                zone_ = HitZone(local.x, local.y);
                ShowZoneCursor(zone_);
            }
        } else if (type == GuiEventType::kLeftButtonDown) {
            zone_ = HitZone(local.x, local.y);
            if (zone_ == kMove && movable_) {
                moving_ = true;
                lastPointer_ = p;
            } else if (zone_ != kNone && zone_ != kMove && resizable_) {
                resizing_ = true;
            }
            if (moving_ || resizing_) {
                SetFocus();
                SendDrag(GuiEventType::kDragStarted);
                ShowZoneCursor(zone_);
            }
        } else if (type == GuiEventType::kLeftButtonUp) {
            if (moving_ || resizing_) SendDrag(GuiEventType::kDragEnded);
            moving_ = false;
            resizing_ = false;
            zone_ = HitZone(local.x, local.y);
            ShowZoneCursor(zone_);
        }
    }
    GuiEventSink::HandleEvent(event);
    return true;
}
