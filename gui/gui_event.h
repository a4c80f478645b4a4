// The record that carries input and notifications to GUI windows, and the one-operation
// interface that receives it. Events are passed by value; a copy shares the payload block.
#pragma once

#include "core/containers/linked_list.h"
#include "core/containers/shared_ref.h"
#include "core/text/string.h"
#include "core/types/point_rect.h"
#include "render/input_manager.h"

#include <cstdint>

class GuiWindow;

// The event type codes. The numbers are the record's type field and are compared as ranges
// (IsPointerEvent), so they must not be renumbered.
enum class GuiEventType : int32_t {
    kNone = 0,  // input without a GUI meaning: pointer moves, characters, focus of the input layer
    kFocusGained = 1,
    kFocusLost = 2,
    kPointerEntered = 3,
    kPointerMoved = 4,
    kPointerLeft = 5,
    kLeftButtonDown = 6,
    kLeftButtonUp = 7,
    kLeftDoubleClick = 8,
    kRightButtonDown = 9,
    kRightButtonUp = 10,
    kRightDoubleClick = 11,
    kKeyDown = 12,
    kKeyUp = 13,
    kDragStarted = 14,
    kDragEnded = 15,
    kDragged = 16,  // moved or resized
};

// The shared data block of an event: key events hold the 4-byte key code, other events made
// from input the previous and the current pointer position (four ints, 16 bytes), drag events
// two bytes {moving, resizing}. Plain data; the last event that shares it frees it.
struct GuiEventPayload {
    int32_t size = 0;
    alignas(int32_t) uint8_t bytes[16] = {};
};

class GuiEvent {
public:
    // Bit of flags: the pointer is outside the receiving window (the focused window gets a
    // pointer event it would not otherwise get).
    static constexpr int32_t kPointerOutside = 1;

    // Empty name, no sender, type kNone, no flags, no payload.
    GuiEvent() = default;
    // A notification without payload (focus changes, pointer routing).
    explicit GuiEvent(GuiEventType type) : type_(type) {}

    // The event of an input event: kinds 0..5 become the button types 6..11, key down and up
    // (8, 9) the key types 12 and 13, every other kind kNone. Key events carry the key code,
    // all others the previous and the current position; the movement dx, dy is not carried.
    static GuiEvent FromInput(InputEventKind kind, int32_t x, int32_t y, int32_t prevX, int32_t prevY, int32_t dx,
                              int32_t dy, int32_t key);
    // A drag event of a frame window: its name, the window, and the payload {moving, resizing}.
    static GuiEvent Drag(GuiEventType type, const String& name, GuiWindow* sender, bool moving, bool resizing);

    const String& name() const { return name_; }
    // The window that raised the event (drag events), or null. An identity only: the window
    // may be gone by the time a queued event is read.
    GuiWindow* sender() const { return sender_; }
    GuiEventType type() const { return type_; }
    int32_t flags() const { return flags_; }
    void SetFlags(int32_t flags) { flags_ = flags; }
    // Routing passes an event on under another type (entered, moved, left); name, sender,
    // flags and the shared payload stay.
    void SetType(GuiEventType type) { type_ = type; }

    // The shared block, or an empty reference; copies of an event hold the same block.
    const SharedRef<GuiEventPayload>& payload() const { return payload_; }
    // Payload size in bytes: 0 without a payload.
    int32_t PayloadSize() const { return payload_.Get() != nullptr ? payload_.Get()->size : 0; }
    // The key code of a key event; 0 for events without the 4-byte block.
    int32_t KeyCode() const;
    // The positions of an event made from pointer input; (0, 0) without the 16-byte block.
    Point PreviousPosition() const;
    Point Position() const;
    // The drag flags; false without the 2-byte block.
    bool IsMoving() const;
    bool IsResizing() const;

private:
    void SetPayload(const void* bytes, int32_t size);

    String name_;
    GuiWindow* sender_ = nullptr;
    GuiEventType type_ = GuiEventType::kNone;
    int32_t flags_ = 0;
    SharedRef<GuiEventPayload> payload_;
};

// Key down and key up.
bool IsKeyEvent(const GuiEvent& event);
// Pointer entered, moved, left and the six button types.
bool IsPointerEvent(const GuiEvent& event);
// Pointer entered, moved and left.
bool IsHoverEvent(const GuiEvent& event);

// What receives events: every window, through one operation. A window also keeps the sinks of
// its children here, so that a frame can pass its own events on to them.
class GuiEventSink {
public:
    GuiEventSink() = default;
    GuiEventSink(const GuiEventSink&) = delete;
    GuiEventSink& operator=(const GuiEventSink&) = delete;

    // Receives a copy of the event. True when handled; this base ignores it and says true.
    virtual bool HandleEvent(GuiEvent event);

    // Hands a copy of `event` to every sink of the list, in list order (from first()); the
    // results are ignored. A sink must not change the list while it is being told.
    void Broadcast(const GuiEvent& event);

    LinkedList<GuiEventSink*>& sinks() { return sinks_; }
    const LinkedList<GuiEventSink*>& sinks() const { return sinks_; }

protected:
    ~GuiEventSink() = default;

private:
    LinkedList<GuiEventSink*> sinks_;
};
