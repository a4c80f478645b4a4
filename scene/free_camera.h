// A camera path player that the user can also steer: the mouse buttons fly forward and back,
// A and D move sideways, W and S up and down, Z returns to the origin, and with Shift held the
// mouse yaws and pitches the view, with Control it rolls it. One step per Update call: the
// movement is per call, not scaled by elapsed time (in the saver every steering key ends the
// run anyway).
#pragma once

#include "core/types/point_rect.h"
#include "render/app_framework.h"
#include "render/input_manager.h"
#include "scene/camera_path_player.h"

// The DirectInput key codes the camera reads.
constexpr uint32_t kDikLeftShift = 42;
constexpr uint32_t kDikLeftControl = 29;
constexpr uint32_t kDikA = 30;
constexpr uint32_t kDikD = 32;
constexpr uint32_t kDikW = 17;
constexpr uint32_t kDikS = 31;
constexpr uint32_t kDikZ = 44;

// Answers RefCounted's type query only. A message listener while attached, to hear focus
// changes; destruction unregisters it.
class FreeCamera : public CameraPathPlayer, public MessageListener {
public:
    // Turn angles per pixel of cursor movement, before the turn factor.
    static constexpr float kYawPerPixel = 0.00625f;
    static constexpr float kPitchPerPixel = 0.01f;

    // Not attached: Update does nothing. Move speed 1, turn factor 0.3.
    FreeCamera() = default;
    // Releases the last cursor; the listener unregisters as it goes.
    ~FreeCamera() override = default;

    // Registers the listener with the framework and steers from `input` (not owned; it must
    // outlive the camera's use of it) with the given distance per update and angle scale.
    void AttachInput(InputManager* input, float moveSpeed, float turnFactor);
    // One step of steering; nothing without an input manager or while it lacks the focus.
    // The cursor's movement since the previous step turns the view only with Shift or Control
    // held and only by at least one pixel on an axis; the first step after attaching or after
    // a focus change has no movement.
    void Update();

    // A gained or lost focus forgets the last cursor, so the next step starts a new movement
    // instead of jumping. Answers 1 for every message.
    LRESULT OnWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) override;

    float moveSpeed() const { return moveSpeed_; }
    float turnFactor() const { return turnFactor_; }
    bool HasLastCursor() const { return hasLastCursor_; }

private:
    InputManager* input_ = nullptr;
    float moveSpeed_ = 1.0f;
    float turnFactor_ = 0.3f;
    // The cursor seen at the previous step, while hasLastCursor_.
    Point lastCursor_;
    bool hasLastCursor_ = false;
};
