#include "gui/gui_root.h"
#include "core/init_order.h"

#include "gui/gui_window.h"

GuiRoot g_guiRoot RH_INIT_ORDER(RH_INIT_GUI_ROOT);

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

void GuiRoot::ForgetWindow(GuiWindow* window) {
    if (window == nullptr) return;
    Delivery key;
    key.target = window;
    queue_.RemoveAll(key);
    if (focusWindow_ == window) focusWindow_ = nullptr;
}
