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
#include "gui/timer_manager.h"
#include "render/input_manager.h"

#include <cstdint>

class GuiWindow;

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
    // Runs the timers (every pending window update); the combined success of the frame's work.
    FlagWord Draw();

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
    int32_t QueuedCount() const { return queue_.count(); }

    TimerManager& timers() { return timers_; }
    float nearPlane() const { return nearPlane_; }
    float farPlane() const { return farPlane_; }

private:
    void Enqueue(const GuiEvent& event, GuiWindow* window);

    TimerManager timers_;
    GuiWindow* focusWindow_ = nullptr;
    float nearPlane_ = 1.0f;
    float farPlane_ = 1000.0f;
    LinkedList<Delivery> queue_;
};

// Constructed before main and destroyed at exit.
extern GuiRoot g_guiRoot;
