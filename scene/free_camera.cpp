#include "scene/free_camera.h"

#include "core/math/typed_matrix.h"

#include <d3dx9math.h>

#include <cmath>

namespace {

Vec3 TransformCoord(Vec3 v, const D3DXMATRIX& m) {
    const D3DXVECTOR3 in(ToD3DVector(v));
    D3DXVECTOR3 out;
    D3DXVec3TransformCoord(&out, &in, &m);
    return FromD3DVector(out);
}

Vec3 TransformCoord(Vec3 v, const TypedMatrix& m) {
    D3DXMATRIX d;
    CopyToD3DX(m, d);
    return TransformCoord(v, d);
}

}  // namespace

void FreeCamera::AttachInput(InputManager* input, float moveSpeed, float turnFactor) {
    AddMessageListener(this);
    input_ = input;
    moveSpeed_ = moveSpeed;
    turnFactor_ = turnFactor;
}

void FreeCamera::Update() {
    if (input_ == nullptr || !input_->HasFocus()) return;
    const bool look = input_->IsKeyDown(kDikLeftShift) || input_->IsKeyDown(kDikLeftControl);

    const Point cursor = input_->GetCursorPosition();
    Point delta;
    if (hasLastCursor_) delta = PointDifference(cursor, lastCursor_);
    lastCursor_ = cursor;
    hasLastCursor_ = true;
    const float dx = look ? static_cast<float>(delta.x) : 0.0f;
    const float dy = look ? static_cast<float>(delta.y) : 0.0f;

    Vec3 direction, up;
    GetOrientation(direction, up);
    Vec3 position = GetPosition();
    const Vec3 forward = Vec3Normalize(direction);
    // up x forward is the right-hand side in a left-handed frame; this is its opposite.
    const Vec3 left = Vec3Normalize(Vec3Cross(direction, up));
    const Vec3 upward = Vec3Normalize(up);
    const float speed = moveSpeed_;
    const struct {
        bool down;
        Vec3 axis;
        float sign;
    } moves[] = {
        {input_->IsLeftButtonDown(), forward, 1.0f}, {input_->IsRightButtonDown(), forward, -1.0f},
        {input_->IsKeyDown(kDikA), left, 1.0f},      {input_->IsKeyDown(kDikD), left, -1.0f},
        {input_->IsKeyDown(kDikW), upward, 1.0f},    {input_->IsKeyDown(kDikS), upward, -1.0f},
    };
    for (const auto& move : moves) {
        if (move.down) position = Vec3Add(position, Vec3Scale(move.axis, move.sign * speed));
    }
    if (input_->IsKeyDown(kDikZ)) position = Vec3{0.0f, 0.0f, 0.0f};
    SetPosition(position);

    if (!(std::fabs(dx) >= 1.0f || std::fabs(dy) >= 1.0f)) return;
    // The turns are about the camera's own axes: built in its frame, then carried out by it.
    TypedMatrix frame;
    BuildOrientationMatrix(frame, Vec3{0.0f, 0.0f, 0.0f}, direction, up);
    if (input_->IsKeyDown(kDikLeftControl)) {
        const float roll = -(dx * kYawPerPixel * turnFactor_);
        D3DXMATRIX rz;
        D3DXMatrixRotationZ(&rz, roll);
        up = TransformCoord(TransformCoord(Vec3{0.0f, 1.0f, 0.0f}, rz), frame);
    } else {
        D3DXMATRIX rx, ry;
        D3DXMatrixRotationX(&rx, dy * kPitchPerPixel * turnFactor_);
        D3DXMatrixRotationY(&ry, dx * kYawPerPixel * turnFactor_);
        direction = TransformCoord(TransformCoord(TransformCoord(Vec3{0.0f, 0.0f, 1.0f}, rx), ry), frame);
        up = TransformCoord(TransformCoord(Vec3{0.0f, 1.0f, 0.0f}, rx), frame);
    }
    SetOrientation(direction, up);
}

LRESULT FreeCamera::OnWindowMessage(HWND, UINT msg, WPARAM, LPARAM) {
    if (msg == WM_SETFOCUS || msg == WM_KILLFOCUS) hasLastCursor_ = false;
    return 1;
}
