// The GUI root: the one global object that ties the GUI windows to the frame. It is the depth
// layer of the top-level windows (10000 at the back .. 1 at the front), owns the GUI timers,
// keeps the focused top-level window and the queue of events waiting for delivery, and maps
// window depths to depth-buffer values. Draw runs the timers (and with them every pending
// window update) once per frame.
#pragma once

#include "core/containers/linked_list.h"
#include "core/types/flag_word.h"
#include "gui/depth_layer.h"
#include "gui/gui_event.h"
#include "gui/render_group.h"
#include "gui/timer_manager.h"
#include "render/input_manager.h"

#include <cstdint>
#include <vector>

class GuiWindow;
class Mesh;
class MultiMaterial;
struct GeometryDesc;

// The field of view of the render groups' projection.
extern float g_guiFieldOfView;

class GuiRoot : public GuiDepthLayer, public InputListener {
public:
    // A queued event and the window it goes to.
    struct Delivery {
        GuiEvent event;
        GuiWindow* target = nullptr;
        // Deliveries are told apart by target only; used to drop a window's deliveries.
        bool operator==(const Delivery& other) const { return target == other.target; }
    };

    // The range 1..10000, planes 1 and 1000, no focus window, nothing queued.
    GuiRoot();
    GuiRoot(const GuiRoot&) = delete;
    GuiRoot& operator=(const GuiRoot&) = delete;
    ~GuiRoot() override;

    // The depth-buffer value of a depth: the root's low depth gives 0, its high depth 1, as a
    // point at the matching view distance between the planes would under a perspective
    // projection.
    float DepthToZ(int32_t depth) const;
    // Runs the timers (every pending window update), then draws: the shared opaque meshes, the
    // other meshes of each top-level window from the back-most window to the front-most,
    // each window's sorted by their integer property "z" (ascending; a mesh without one comes
    // before those with one), and last the meshes with the property "NoAlphaCombine", from
    // the front-most window to the back-most and each window's in reverse order. The combined
    // success of every draw.
    FlagWord Draw();

    // A mesh for a window's geometry: opaque materials share a mesh through the render group
    // set, others get a mesh of their own filed under the window's top-level ancestor. The
    // material's render context (when it has one) gets the perspective projection of the
    // planes. Null when the geometry cannot be made.
    Mesh* CreateRenderGroup(GuiWindow* window, const GeometryDesc& desc, MultiMaterial* material);
    // Gives a mesh back (with the material it was asked for with, when the holder knows it):
    // a shared one loses that holder, an own one is deleted wherever it is filed (its window
    // may have moved to another top-level window since). Nothing for null.
    void ReleaseRenderGroup(GuiWindow* window, Mesh* mesh, MultiMaterial* material = nullptr);
    RenderGroupSet& groups() { return groups_; }
    // How many own meshes are filed under a top-level window (its entry, when it has one).
    int32_t WindowGroupCount(const GuiWindow* window) const;

    // When `window` is not the focus window: the old one gets a queued focus-lost event, the
    // new one (when set) a queued focus-gained event.
    void SetFocusWindow(GuiWindow* window);
    GuiWindow* focusWindow() const { return focusWindow_; }

    // Queues `event` for `window` and routes copies down its shown children: pointer events
    // by the positions of the payload, key events along the focused children.
    void PostEvent(GuiWindow* window, const GuiEvent& event);
    // Hands every queued event, oldest first (also those queued meanwhile), to its target's
    // HandleEvent; true when every one answered true (and when nothing was queued).
    bool DispatchEvents();
    // Turns an input event into a GUI event and routes it: a button to the front-most shown
    // top-level window under the pointer, a move as left/moved/entered to the windows it
    // leaves and enters; the focus window gets what no window took (pointer events with the
    // outside bit). Then everything queued is dispatched.
    void OnInputEvent(InputEventKind kind, int32_t x, int32_t y, int32_t prevX, int32_t prevY, int32_t dx,
                      int32_t dy, int32_t key) override;

    // A window going away: its queued deliveries are dropped and it stops being the focus
    // window (without an event).
    void ForgetWindow(GuiWindow* window);
    // A window being destroyed: own meshes filed under it stay until given back, filed under
    // no window (never drawn).
    void WindowDestroyed(GuiWindow* window);
    int32_t QueuedCount() const { return queue_.count(); }

    TimerManager& timers() { return timers_; }
    float nearPlane() const { return nearPlane_; }
    float farPlane() const { return farPlane_; }

private:
    void Enqueue(const GuiEvent& event, GuiWindow* window);

    struct Group {
        Mesh* mesh;
        MultiMaterial* material;
    };
    // The own meshes of one top-level window (null: meshes whose window went away while
    // others still held them; never drawn, freed when given back).
    struct WindowGroups {
        GuiWindow* window;
        std::vector<Group> groups;
    };
    WindowGroups* FindWindowGroups(const GuiWindow* window);
    FlagWord DrawGroup(const Group& group);

    TimerManager timers_;
    RenderGroupSet groups_;
    std::vector<WindowGroups> windowGroups_;
    GuiWindow* focusWindow_ = nullptr;
    float nearPlane_ = 1.0f;
    float farPlane_ = 1000.0f;
    LinkedList<Delivery> queue_;
};

// Constructed before main and destroyed at exit.
extern GuiRoot g_guiRoot;
