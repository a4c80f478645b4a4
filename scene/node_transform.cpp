#include "scene/node_transform.h"

#include <d3dx9math.h>

bool TransformPart::GetMatrix(float, TypedMatrix& out) {
    WriteMatrix(out);
    return true;
}

void BaseMatrixPart::WriteMatrix(TypedMatrix& out) const { out = matrix; }

void ScalePart::WriteMatrix(TypedMatrix& out) const {
    D3DXMATRIX m;
    D3DXMatrixScaling(&m, scale.x, scale.y, scale.z);
    CopyFromD3DX(m, out);
    out.kind = kMatrixScale;
}

void OrientationPart::WriteMatrix(TypedMatrix& out) const {
    BuildOrientationMatrix(out, Vec3{0.0f, 0.0f, 0.0f}, direction, up);
}

void PositionPart::WriteMatrix(TypedMatrix& out) const {
    D3DXMATRIX m;
    D3DXMatrixTranslation(&m, position.x, position.y, position.z);
    CopyFromD3DX(m, out);
    out.kind = kMatrixTranslation;
}

bool NodeTransform::GetMatrix(float, TypedMatrix& out) {
    ComposeTransform(out);
    return true;
}

void NodeTransform::ComposeTransform(TypedMatrix& out) {
    if (dirty_) {
        TypedMatrix oriented;
        BuildOrientationMatrix(oriented, position_.position, orientation_.direction, orientation_.up);
        oriented = ScaleMatrixRows(oriented, scale_.scale.x, scale_.scale.y, scale_.scale.z);
        cached_ = MultiplyMatrices(base_.matrix, oriented);
        dirty_ = false;
    }
    out = cached_;
}

void NodeTransform::Reset() {
    scale_.scale = Vec3{1.0f, 1.0f, 1.0f};
    base_.matrix = IdentityMatrix();
    position_.position = Vec3{0.0f, 0.0f, 0.0f};
    orientation_.direction = Vec3{0.0f, 0.0f, 1.0f};
    orientation_.up = Vec3{0.0f, 1.0f, 0.0f};
    dirty_ = true;
}

void NodeTransform::SetBaseMatrix(TypedMatrix base) {
    base_.matrix = base;
    dirty_ = true;
}

void NodeTransform::SetScale(float sx, float sy, float sz) {
    scale_.scale = Vec3{sx, sy, sz};
    dirty_ = true;
}

void NodeTransform::GetOrientation(Vec3& direction, Vec3& up) const {
    direction = orientation_.direction;
    up = orientation_.up;
}

void NodeTransform::SetOrientation(Vec3 direction, Vec3 up) {
    orientation_.direction = direction;
    orientation_.up = up;
    dirty_ = true;
}

void NodeTransform::SetDirection(Vec3 direction) {
    orientation_.direction = direction;
    dirty_ = true;
}

void NodeTransform::SetUp(Vec3 up) {
    orientation_.up = up;
    dirty_ = true;
}

Vec3* NodeTransform::SetPosition(Vec3 position) {
    position_.position = position;
    dirty_ = true;
    return &position_.position;
}
