#include "render/camera_view.h"

#include <d3dx9math.h>

namespace {

// Box corners by the signs of a plane's normal, indexed by (a < 0) * 4 + (b < 0) * 2 + (c < 0):
// the positive corner lies on the larger side of each axis whose component is not negative, so
// a zero component (and NaN) takes the larger side.
constexpr int32_t kCornersBySigns[8][2] = {
    {5, 3}, {1, 7}, {6, 0}, {2, 4}, {4, 2}, {0, 6}, {7, 1}, {3, 5},
};

// A column of a matrix, rows 0 to 3: one plane's a, b, c, d.
struct Column {
    float v[4];
};

Column ColumnOf(const TypedMatrix& m, int k) {
    return Column{{m.At(0, k), m.At(1, k), m.At(2, k), m.At(3, k)}};
}

Column operator+(const Column& p, const Column& q) {
    return Column{{p.v[0] + q.v[0], p.v[1] + q.v[1], p.v[2] + q.v[2], p.v[3] + q.v[3]}};
}

Column operator-(const Column& p, const Column& q) {
    return Column{{p.v[0] - q.v[0], p.v[1] - q.v[1], p.v[2] - q.v[2], p.v[3] - q.v[3]}};
}

FrustumPlane PlaneOf(const Column& column) {
    FrustumPlane plane;
    plane.a = column.v[0];
    plane.b = column.v[1];
    plane.c = column.v[2];
    plane.d = column.v[3];
    const int signs = (plane.a < 0 ? 4 : 0) + (plane.b < 0 ? 2 : 0) + (plane.c < 0 ? 1 : 0);
    plane.positiveCorner = kCornersBySigns[signs][0];
    plane.negativeCorner = kCornersBySigns[signs][1];
    return plane;
}

}  // namespace

void CameraView::SetProjection(float nearDistance, float farDistance, float fieldOfView,
                               float aspect) {
    near_ = nearDistance;
    far_ = farDistance;
    fieldOfView_ = fieldOfView;
    aspect_ = aspect;
    dirty_ = true;
}

void CameraView::SetView(const Vec3& eye, const Vec3& direction, const Vec3& up) {
    eye_ = eye;
    direction_ = direction;
    up_ = up;
    dirty_ = true;
}

void CameraView::SetEye(const Vec3& eye) {
    eye_ = eye;
    dirty_ = true;
}

TypedMatrix CameraView::GetProjectionMatrix() const {
    RecomputeIfDirty();
    return projection_;
}

TypedMatrix CameraView::GetViewMatrix() const {
    RecomputeIfDirty();
    return view_;
}

TypedMatrix CameraView::GetViewProjectionMatrix() const {
    RecomputeIfDirty();
    return viewProjection_;
}

const FrustumPlane* CameraView::GetFrustumPlanes() const {
    RecomputeIfDirty();
    return planes_;
}

const PackedFrustum& CameraView::GetPackedFrustum() const {
    RecomputeIfDirty();
    return packedPlanes_;
}

void CameraView::RecomputeIfDirty() const {
    if (!dirty_) {
        return;
    }

    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, fieldOfView_, aspect_, near_, far_);
    CopyFromD3DX(projection, projection_);

    const D3DXVECTOR3 eye(ToD3DVector(eye_));
    const D3DXVECTOR3 at(ToD3DVector(Vec3Add(eye_, direction_)));
    const D3DXVECTOR3 up(ToD3DVector(up_));
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    CopyFromD3DX(view, view_);

    // Both operands are general, so this is the full product; kind 0 as the others.
    viewProjection_ = MultiplyMatrices(view_, projection_);

    // Clip space keeps -w <= x <= w, -w <= y <= w and Direct3D's 0 <= z <= w.
    const Column x = ColumnOf(viewProjection_, 0);
    const Column y = ColumnOf(viewProjection_, 1);
    const Column z = ColumnOf(viewProjection_, 2);
    const Column w = ColumnOf(viewProjection_, 3);
    planes_[kFrustumLeft] = PlaneOf(w + x);
    planes_[kFrustumRight] = PlaneOf(w - x);
    planes_[kFrustumTop] = PlaneOf(w - y);
    planes_[kFrustumBottom] = PlaneOf(w + y);
    planes_[kFrustumNear] = PlaneOf(z);
    planes_[kFrustumFar] = PlaneOf(w - z);
    packedPlanes_ = PackFrustumPlanes(planes_);

    dirty_ = false;
}

int32_t ClassifyBoxAgainstFrustum(const BoundingBox& box, const CameraView& view) {
    return ClassifyBoxAgainstFrustum(box, view.GetPackedFrustum());
}
