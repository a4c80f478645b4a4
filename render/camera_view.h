// The scene camera's projection and view, and what culling and the materials derive from them:
// the projection, view and view-projection matrices and the six frustum planes.
#pragma once

#include "core/bounds/frustum.h"
#include "core/math/typed_matrix.h"
#include "core/math/vec3.h"

#include <cstdint>

// A plain value. The setters only store and mark the derived data stale; the first derived read
// after a change recomputes everything once (Direct3D conventions: left-handed, row vectors,
// clip depth 0 at the near plane and 1 at the far plane).
class CameraView {
public:
    // Eye at the origin looking along +z with +y up; 60 degrees vertical field of view, aspect
    // 0.75, near 1, far 1000.
    CameraView() = default;

    // fieldOfView is vertical, in radians; aspect is width / height as the caller computes it.
    void SetProjection(float nearDistance, float farDistance, float fieldOfView, float aspect);
    // The camera at eye looking along direction. Both vectors are stored as given, not
    // normalised; up need not be perpendicular to direction but must not be parallel to it.
    void SetView(const Vec3& eye, const Vec3& direction, const Vec3& up);
    void SetEye(const Vec3& eye);

    // The stored values; these never recompute.
    Vec3 GetEye() const { return eye_; }
    Vec3 GetDirection() const { return direction_; }
    Vec3 GetUp() const { return up_; }
    float GetNear() const { return near_; }

    // Each is a general matrix (kind 0) and valid.
    TypedMatrix GetProjectionMatrix() const;
    TypedMatrix GetViewMatrix() const;
    // View times projection: a point is first viewed, then projected.
    TypedMatrix GetViewProjectionMatrix() const;
    // kFrustumPlaneCount records in FrustumPlaneIndex order, built from the view-projection
    // matrix so that a point is inside all six exactly when its clip coordinates satisfy
    // -w <= x <= w, -w <= y <= w and 0 <= z <= w. Owned by this view and valid until its next
    // setter call.
    const FrustumPlane* GetFrustumPlanes() const;
    // The same planes packed for testing many boxes; owned and valid as GetFrustumPlanes.
    const PackedFrustum& GetPackedFrustum() const;

private:
    void RecomputeIfDirty() const;

    // Derived from the values below; recomputed lazily, hence mutable.
    mutable TypedMatrix projection_;
    mutable TypedMatrix view_;
    mutable TypedMatrix viewProjection_;

    float near_ = 1.0f;
    float far_ = 1000.0f;
    float fieldOfView_ = 1.0471976f;  // 60 degrees
    float aspect_ = 0.75f;
    Vec3 eye_{0.0f, 0.0f, 0.0f};
    Vec3 direction_{0.0f, 0.0f, 1.0f};
    Vec3 up_{0.0f, 1.0f, 0.0f};

    mutable FrustumPlane planes_[kFrustumPlaneCount] = {};
    mutable PackedFrustum packedPlanes_ = {};
    mutable bool dirty_ = true;
};

// ClassifyBoxAgainstFrustum against the view's packed planes (recomputed first when stale).
int32_t ClassifyBoxAgainstFrustum(const BoundingBox& box, const CameraView& view);
