// Frame windows: GUI windows the user resizes by dragging their borders and corners with the
// left button, and moves by dragging their move area when movable. The frame shows the system
// sizing cursors over its border zones and tells its children about drags (drag started,
// dragged, ended) with the payload {moving, resizing}.
#pragma once

#include "core/types/point_rect.h"
#include "gui/gui_window.h"

#include <cstdint>

class FrameWindow : public GuiWindow {
public:
    // Where the pointer is, clockwise from the top-left corner; kMove is the move area.
    enum Zone : int32_t {
        kNone = 0,
        kTopLeft = 1,
        kTop = 2,
        kTopRight = 3,
        kRight = 4,
        kBottomRight = 5,
        kBottom = 6,
        kBottomLeft = 7,
        kLeft = 8,
        kMove = 9,
    };
    // The border zones are this many pixels wide.
    static constexpr int32_t kBorder = 4;

    // Resizable and movable, no move area, idle.
    FrameWindow() = default;
    ~FrameWindow() override = default;

    // The zone of a window-local point: the border rectangles (each clipped to the window)
    // when resizable, then the move area when movable; kNone elsewhere.
    virtual int32_t HitZone(int32_t x, int32_t y);
    // False also ends a resize in progress.
    void SetResizable(bool value);
    // False also ends a move in progress.
    void SetMovable(bool value);
    // The window-local rectangle (x, y, width, height) that moves a movable window. Empty by
    // default: no point moves the window, so a drag inside (selecting text, say) stays the
    // child's.
    void SetMoveArea(const Rect& area) { moveArea_ = area; }

    // "Resizable" and "Movable" (absent: 0), then the window's own layout keys.
    void LoadLayout(ScriptNode* node) override;
    // Ends any drag and forgets the zone, then hides.
    void Hide() override;
    // Resizing and moving by the left button, cursors per zone; always true.
    bool HandleEvent(GuiEvent event) override;

    bool resizable() const { return resizable_; }
    bool movable() const { return movable_; }
    bool resizing() const { return resizing_; }
    bool moving() const { return moving_; }
    int32_t zone() const { return zone_; }
    const Rect& moveArea() const { return moveArea_; }

    // The system cursor id (IDC_*) shown over a zone.
    static int32_t CursorIdForZone(int32_t zone);

private:
    // Sets the cursor of a zone.
    static void ShowZoneCursor(int32_t zone);
    // Resizes by the pointer p (screen) in the zone being dragged.
    void ResizeTo(Point p);
    void SendDrag(GuiEventType type);

    bool resizable_ = true;
    bool movable_ = true;
    int32_t zone_ = kNone;
    bool resizing_ = false;
    bool moving_ = false;
    Point lastPointer_;
    Rect moveArea_;
};
