#include "gui/gui_root.h"

#include "gui/gui_window.h"

GuiRoot g_guiRoot;

GuiRoot::GuiRoot() : GuiDepthLayer(1, 10000) {}

GuiRoot::~GuiRoot() = default;

float GuiRoot::DepthToZ(int32_t depth) const {
    const float nearZ = nearPlane_;
    const float farZ = farPlane_;
    float d = 0.0f;
    if (high() != low()) {
        d = nearZ + static_cast<float>(depth - low()) / static_cast<float>(high() - low()) *
                        (farZ - nearZ);
    }
    return farZ / (farZ - nearZ) * (d - nearZ) / d;
}

FlagWord GuiRoot::Draw() {
    FlagWord result(true);
    timers_.Update();
    return result;
}

void GuiRoot::SetFocusWindow(GuiWindow* window) {
    if (window == focusWindow_) return;
    if (focusWindow_ != nullptr) PostEvent(focusWindow_, GuiEvent(GuiEventType::kFocusLost));
    if (window != nullptr) PostEvent(window, GuiEvent(GuiEventType::kFocusGained));
    focusWindow_ = window;
}

void GuiRoot::Enqueue(const GuiEvent& event, GuiWindow* window) {
    // Append at the end, whatever the cursor was left on.
    if (queue_.count() > 0) queue_.SetCursor(queue_.first()->prev);
    queue_.Append(Delivery{event, window});
}

void GuiRoot::PostEvent(GuiWindow* window, const GuiEvent& event) {
    if (window == nullptr) return;
    Enqueue(event, window);
    if (IsPointerEvent(event)) {
        const Point p0 = event.PreviousPosition();
        const Point p1 = event.Position();
        // Children in the order they were added; only the queue changes below, never the set.
        const auto& children = window->children();
        auto* node = children.first();
        const int32_t count = children.count();
        for (int32_t i = 0; i < count; ++i, node = node->next) {
            GuiWindow* child = node->key;
            if (!child->IsShown()) continue;
            GuiEvent routed = event;
            bool deliver = false;
            const bool isFocused = window->focusedChild() == child;
            switch (event.type()) {
                case GuiEventType::kPointerMoved: {
                    const bool in0 = child->HitTest(p0.x, p0.y);
                    const bool in1 = child->HitTest(p1.x, p1.y);
                    if (in0) {
                        routed.SetType(in1 ? GuiEventType::kPointerMoved
                                           : GuiEventType::kPointerLeft);
                        deliver = true;
                    } else if (in1) {
                        routed.SetType(GuiEventType::kPointerEntered);
                        deliver = true;
                    } else if (isFocused) {
                        routed.SetType(GuiEventType::kPointerMoved);
                        routed.SetFlags(routed.flags() | GuiEvent::kPointerOutside);
                        deliver = true;
                    }
                    break;
                }
                case GuiEventType::kPointerEntered:
                case GuiEventType::kPointerLeft: {
                    const Point p = event.type() == GuiEventType::kPointerEntered ? p1 : p0;
                    if (child->HitTest(p.x, p.y)) {
                        deliver = true;
                    } else if (isFocused) {
                        routed.SetType(GuiEventType::kPointerMoved);
                        deliver = true;
                    }
                    break;
                }
                default:  // the button types
                    deliver = child->HitTest(p1.x, p1.y);
                    break;
            }
            if (deliver) PostEvent(child, routed);
        }
    }
    if (IsKeyEvent(event) && window->focusedChild() != nullptr) {
        PostEvent(window->focusedChild(), event);
    }
}

bool GuiRoot::DispatchEvents() {
    bool result = true;
    while (queue_.count() > 0) {
        queue_.SetCursor(queue_.first());
        Delivery delivery = queue_.Pop();
        if (delivery.target != nullptr) {
            result = delivery.target->HandleEvent(delivery.event) && result;
        }
    }
    return result;
}

void GuiRoot::OnInputEvent(InputEventKind kind, int32_t x, int32_t y, int32_t prevX, int32_t prevY,
                           int32_t dx, int32_t dy, int32_t key) {
    GuiEvent event = GuiEvent::FromInput(kind, x, y, prevX, prevY, dx, dy, key);
    bool focusReached = false;
    // Front-most first; a window's handler runs only at dispatch, so the layer does not change
    // during the walk.
    const auto& list = items();
    if (IsButtonEventType(kind)) {
        auto* node = list.first();
        for (int32_t i = 0; i < list.count(); ++i, node = node->next) {
            GuiWindow* window = node->element->GetWindow();
            if (window == nullptr || !window->IsShown() || !window->HitTest(x, y)) continue;
            PostEvent(window, event);
            focusReached = window == focusWindow_;
            break;
        }
    } else if (kind == InputEventKind::kCursorMoved) {
        bool leaveDone = false;
        bool enterDone = false;
        auto* node = list.first();
        for (int32_t i = 0; i < list.count() && !(leaveDone && enterDone); ++i, node = node->next) {
            GuiWindow* window = node->element->GetWindow();
            if (window == nullptr || !window->IsShown()) continue;
            const bool wasIn = !leaveDone && window->HitTest(prevX, prevY);
            const bool isIn = !enterDone && window->HitTest(x, y);
            GuiEvent routed = event;
            bool post = false;
            if (!leaveDone && !enterDone && wasIn && isIn) {
                routed.SetType(GuiEventType::kPointerMoved);
                leaveDone = enterDone = true;
                post = true;
            } else {
                if (wasIn) {
                    routed.SetType(GuiEventType::kPointerLeft);
                    leaveDone = true;
                    post = true;
                }
                if (isIn) {
                    routed.SetType(GuiEventType::kPointerEntered);
                    enterDone = true;
                    post = true;
                }
            }
            if (post) {
                PostEvent(window, routed);
                if (window == focusWindow_) focusReached = true;
            }
        }
    }
    if (focusWindow_ != nullptr && !focusReached) {
        GuiEvent routed = event;
        if (kind == InputEventKind::kCursorMoved) {
            routed.SetType(GuiEventType::kPointerMoved);
            routed.SetFlags(routed.flags() | GuiEvent::kPointerOutside);
        } else if (IsButtonEventType(kind)) {
            routed.SetFlags(routed.flags() | GuiEvent::kPointerOutside);
        }
        PostEvent(focusWindow_, routed);
    }
    DispatchEvents();
}

void GuiRoot::ForgetWindow(GuiWindow* window) {
    if (window == nullptr) return;
    Delivery key;
    key.target = window;
    queue_.RemoveAll(key);
    if (focusWindow_ == window) focusWindow_ = nullptr;
}
