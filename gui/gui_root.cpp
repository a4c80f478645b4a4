#include "gui/gui_root.h"

#include "gui/gui_window.h"
#include "render/geometry.h"
#include "render/material.h"
#include "render/mesh.h"

#include <d3dx9math.h>

#include <climits>
#include <cstring>

float g_guiFieldOfView = 1.5707964f;

GuiRoot g_guiRoot;

GuiRoot::GuiRoot() : GuiDepthLayer(1, 10000) {}

GuiRoot::~GuiRoot() {
    for (WindowGroups& entry : windowGroups_) {
        for (Group& g : entry.groups) delete g.mesh;
    }
}

namespace {

GuiWindow* TopLevelOf(GuiWindow* window) {
    while (window != nullptr && window->parent() != nullptr) window = window->parent();
    return window;
}

// The sort key of a window's mesh; a mesh without "z" goes before every mesh with one.
int64_t SortKey(const Mesh* mesh) {
    int z = 0;
    if (!mesh->properties().GetInt("z", z)) return int64_t{INT_MIN} - 1;
    return z;
}

bool NoAlphaCombine(const Mesh* mesh) {
    return mesh->properties().Child("NoAlphaCombine") != nullptr;
}

}  // namespace

GuiRoot::WindowGroups* GuiRoot::FindWindowGroups(const GuiWindow* window) {
    for (WindowGroups& entry : windowGroups_) {
        if (entry.window == window) return &entry;
    }
    return nullptr;
}

int32_t GuiRoot::WindowGroupCount(const GuiWindow* window) const {
    for (const WindowGroups& entry : windowGroups_) {
        if (entry.window == window) return static_cast<int32_t>(entry.groups.size());
    }
    return 0;
}

FlagWord GuiRoot::DrawGroup(const Group& group) { return group.mesh->Render(group.material); }

Mesh* GuiRoot::CreateRenderGroup(GuiWindow* window, const GeometryDesc& desc,
                                 MultiMaterial* material) {
    if (material == nullptr) return nullptr;
    Mesh* mesh = nullptr;
    if (!material->HasAlpha(-1)) {
        mesh = groups_.AcquireMesh(desc, material, true);
    } else {
        mesh = new Mesh();
        mesh->GetGeometryDesc() = desc;
        if (!mesh->CreateGeometry(&mesh->GetGeometryDesc())) {
            delete mesh;
            return nullptr;
        }
        GuiWindow* top = TopLevelOf(window);
        WindowGroups* entry = FindWindowGroups(top);
        if (entry == nullptr) {
            windowGroups_.push_back(WindowGroups{top, {}});
            entry = &windowGroups_.back();
        }
        entry->groups.push_back(Group{mesh, material});
    }
    if (mesh != nullptr && material->renderContext() != nullptr) {
        TypedMatrix& projection = material->renderContext()->projection;
        D3DXMATRIX m;
        D3DXMatrixPerspectiveFovLH(&m, g_guiFieldOfView, 1.0f, nearPlane_, farPlane_);
        std::memcpy(projection.m, &m, sizeof(projection.m));
        projection.kind = kMatrixGeneral;
        projection.valid = 1;
    }
    return mesh;
}

void GuiRoot::ReleaseRenderGroup(GuiWindow* window, Mesh* mesh, MultiMaterial* material) {
    if (mesh == nullptr) return;
    groups_.ReleaseMesh(mesh, material);
    // Where the window's top-level ancestor files it, else wherever it is filed.
    WindowGroups* first = FindWindowGroups(TopLevelOf(window));
    for (size_t pass = 0; pass < 2; ++pass) {
        for (size_t e = 0; e < windowGroups_.size(); ++e) {
            WindowGroups& entry = windowGroups_[e];
            if ((pass == 0) != (&entry == first)) continue;
            for (size_t i = 0; i < entry.groups.size(); ++i) {
                if (entry.groups[i].mesh != mesh) continue;
                entry.groups.erase(entry.groups.begin() + static_cast<ptrdiff_t>(i));
                delete mesh;
                if (entry.groups.empty()) windowGroups_.erase(windowGroups_.begin() + static_cast<ptrdiff_t>(e));
                return;
            }
        }
    }
}

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
    result.Combine(groups_.Render(nullptr));
    // A window that has become a child since it filed meshes: they move to its top-level
    // window's entry and draw there.
    for (size_t e = 0; e < windowGroups_.size();) {
        GuiWindow* filedUnder = windowGroups_[e].window;
        if (filedUnder == nullptr || filedUnder->parent() == nullptr) {
            ++e;
            continue;
        }
        GuiWindow* top = TopLevelOf(filedUnder);
        std::vector<Group> moved = std::move(windowGroups_[e].groups);
        windowGroups_.erase(windowGroups_.begin() + static_cast<ptrdiff_t>(e));
        WindowGroups* entry = FindWindowGroups(top);
        if (entry == nullptr) {
            windowGroups_.push_back(WindowGroups{top, {}});
            entry = &windowGroups_.back();
        }
        entry->groups.insert(entry->groups.end(), moved.begin(), moved.end());
        e = 0;
    }
    // The top-level windows, back-most first (the layer lists them front-most first).
    const auto& list = items();
    std::vector<GuiWindow*> tops;
    auto* node = list.first();
    for (int32_t i = 0; i < list.count(); ++i, node = node->next) {
        if (GuiWindow* w = node->element->GetWindow()) tops.push_back(w);
    }
    for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
        WindowGroups* entry = FindWindowGroups(*it);
        if (entry == nullptr) continue;
        // Neighbour swaps only while the earlier one is greater: equal keys keep their order.
        std::vector<Group>& groups = entry->groups;
        for (size_t i = 1; i < groups.size(); ++i) {
            for (size_t j = i; j > 0 && SortKey(groups[j - 1].mesh) > SortKey(groups[j].mesh); --j) {
                std::swap(groups[j - 1], groups[j]);
            }
        }
        for (const Group& g : groups) {
            if (!NoAlphaCombine(g.mesh)) result.Combine(DrawGroup(g));
        }
    }
    for (GuiWindow* w : tops) {
        WindowGroups* entry = FindWindowGroups(w);
        if (entry == nullptr) continue;
        for (auto g = entry->groups.rbegin(); g != entry->groups.rend(); ++g) {
            if (NoAlphaCombine(g->mesh)) result.Combine(DrawGroup(*g));
        }
    }
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

void GuiRoot::WindowDestroyed(GuiWindow* window) {
    // Meshes filed under a destroyed window stay until their holders give them back,
    // but no longer under its address, which a new window may get.
    if (WindowGroups* entry = FindWindowGroups(window)) {
        WindowGroups* orphans = FindWindowGroups(nullptr);
        if (orphans == nullptr) {
            entry->window = nullptr;
        } else {
            orphans->groups.insert(orphans->groups.end(), entry->groups.begin(), entry->groups.end());
            windowGroups_.erase(windowGroups_.begin() + (entry - windowGroups_.data()));
        }
    }
}
