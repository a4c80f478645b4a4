// The editable transform of a scene node or camera: a base matrix, a scale, an orientation
// given by a direction and an up vector, and a position, composed on demand into one cached
// matrix that is rebuilt only after a change. Scene traversal reads every node's transform
// every frame, so an unchanged transform costs one matrix copy.
#pragma once

#include "core/math/typed_matrix.h"
#include "core/math/vec3.h"
#include "scene/transform_source.h"

// Each part of a transform yields its own factor as a source of its own: the time is ignored
// and the answer is always true.
class TransformPart : public TransformSource {
public:
    bool GetMatrix(float time, TypedMatrix& out) override;
    // The same factor, without a time or an answer.
    virtual void WriteMatrix(TypedMatrix& out) const = 0;
};

// A copy of the base matrix with its kind and valid flag.
class BaseMatrixPart : public TransformPart {
public:
    void WriteMatrix(TypedMatrix& out) const override;
    TypedMatrix matrix;  // the identity
};

// The scaling matrix of the three factors: kind 5, valid 1.
class ScalePart : public TransformPart {
public:
    void WriteMatrix(TypedMatrix& out) const override;
    Vec3 scale{1.0f, 1.0f, 1.0f};
};

// BuildOrientationMatrix(origin, direction, up): kind 0.
class OrientationPart : public TransformPart {
public:
    void WriteMatrix(TypedMatrix& out) const override;
    Vec3 direction{0.0f, 0.0f, 1.0f};
    Vec3 up{0.0f, 1.0f, 0.0f};
};

// The translation by the position: kind 6, valid 1.
class PositionPart : public TransformPart {
public:
    void WriteMatrix(TypedMatrix& out) const override;
    Vec3 position{0.0f, 0.0f, 0.0f};
};

// Answers RefCounted's type query only. The setters store the values as given (direction and
// up are neither normalised nor made perpendicular; the orientation matrix normalises them when
// it is built) and mark the cache stale, even when the value is unchanged.
class NodeTransform : public TransformSource {
public:
    // Scale (1, 1, 1), base the identity, position (0, 0, 0), direction (0, 0, 1), up
    // (0, 1, 0); nothing composed yet.
    NodeTransform() = default;

    // The composed matrix; the time is ignored and the answer is true.
    bool GetMatrix(float time, TypedMatrix& out) override;

    // The matrix that maps a local point p to p x base x scale x orientation + position: the
    // base applies first, then the scale along the local axes, the orientation and the
    // position. Composed only when a setter ran since the last composition; otherwise a copy of
    // the cached result. A base of kind 7 makes the cache the scaled orientation matrix itself.
    virtual void ComposeTransform(TypedMatrix& out);

    // Back to the defaults.
    void Reset();

    void GetBaseMatrix(TypedMatrix& out) const { out = base_.matrix; }
    void SetBaseMatrix(TypedMatrix base);
    void GetScale(Vec3& out) const { out = scale_.scale; }
    void SetScale(float sx, float sy, float sz);
    void GetOrientation(Vec3& direction, Vec3& up) const;
    void SetOrientation(Vec3 direction, Vec3 up);
    Vec3 GetDirection() const { return orientation_.direction; }
    void SetDirection(Vec3 direction);
    Vec3 GetUp() const { return orientation_.up; }
    void SetUp(Vec3 up);
    Vec3 GetPosition() const { return position_.position; }
    // Returns the address of the stored position, valid as long as the transform.
    Vec3* SetPosition(Vec3 position);

    // The parts as sources of their own factors.
    TransformPart& GetBasePart() { return base_; }
    TransformPart& GetScalePart() { return scale_; }
    TransformPart& GetOrientationPart() { return orientation_; }
    TransformPart& GetPositionPart() { return position_; }

protected:
    // For a derived composition: true while the cache is stale; composing clears it.
    bool dirty_ = true;
    // The last composed result: kind 0, valid 0 until the first composition.
    TypedMatrix cached_{{}, kMatrixGeneral, 0};

private:
    BaseMatrixPart base_;
    ScalePart scale_;
    OrientationPart orientation_;
    PositionPart position_;
};
