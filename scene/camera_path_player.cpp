#include "scene/camera_path_player.h"

#include <d3dx9math.h>

namespace {

Vec3 TransformCoord(Vec3 v, const D3DXMATRIX& m) {
    const D3DXVECTOR3 in(ToD3DVector(v));
    D3DXVECTOR3 out;
    D3DXVec3TransformCoord(&out, &in, &m);
    return FromD3DVector(out);
}

}  // namespace

bool CameraPathPlayer::GetMatrix(float time, TypedMatrix& out) {
    Vec3 position = GetPosition();
    position_.Evaluate(time, position);
    D3DXQUATERNION rotation(0.0f, 0.0f, 0.0f, 1.0f);
    rotation_.Evaluate(time, rotation);
    D3DXMATRIX r;
    D3DXMatrixRotationQuaternion(&r, &rotation);
    SetOrientation(TransformCoord(Vec3{0.0f, 0.0f, 1.0f}, r), TransformCoord(Vec3{0.0f, 1.0f, 0.0f}, r));
    SetPosition(position);
    ComposeTransform(out);
    return true;
}

bool CameraPathPlayer::GetTimeRange(TimeRange& range) {
    TimeRange positions;
    if (!position_.GetTimeRange(positions)) return rotation_.GetTimeRange(range);
    TimeRange rotations;
    range = rotation_.GetTimeRange(rotations) ? UniteRanges(positions, rotations) : positions;
    return true;
}

void CameraPathPlayer::ComposeTransform(TypedMatrix& out) {
    if (dirty_) {
        Vec3 scale;
        GetScale(scale);
        D3DXMATRIX s;
        D3DXMatrixScaling(&s, scale.x, scale.y, scale.z);
        TypedMatrix scaling;
        CopyFromD3DX(s, scaling);
        scaling.kind = kMatrixScale;

        const Vec3 position = GetPosition();
        const D3DXVECTOR3 eye(ToD3DVector(position));
        const D3DXVECTOR3 at(ToD3DVector(Vec3Add(position, GetDirection())));
        const D3DXVECTOR3 up(ToD3DVector(GetUp()));
        D3DXMATRIX v;
        D3DXMatrixLookAtLH(&v, &eye, &at, &up);
        TypedMatrix view;
        CopyFromD3DX(v, view);

        TypedMatrix base;
        GetBaseMatrix(base);
        cached_ = MultiplyMatrices(MultiplyMatrices(base, scaling), view);
        dirty_ = false;
    }
    out = cached_;
}
