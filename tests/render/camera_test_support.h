// Random cameras and clip-space reference values shared by the camera and frustum tests.
#pragma once

#include <d3dx9math.h>

#include <cmath>
#include <random>

#include "render/camera_view.h"

namespace camera_test {

struct Clip {
    float x, y, z, w;
};

// p (as (p, 1)) times the view-projection matrix: the clip coordinates of p.
inline Clip ClipOf(const CameraView& view, const Vec3& p) {
    D3DXMATRIX m;
    CopyToD3DX(view.GetViewProjectionMatrix(), m);
    const D3DXVECTOR4 in(p.x, p.y, p.z, 1);
    D3DXVECTOR4 out;
    D3DXVec4Transform(&out, &in, &m);
    return Clip{out.x, out.y, out.z, out.w};
}

// a p.x + b p.y + c p.z + d, in the form the box test uses.
inline float PlaneValue(const FrustumPlane& plane, const Vec3& p) {
    return plane.a * p.x + plane.b * p.y + plane.c * p.z + plane.d;
}

// Cameras anywhere, looking anywhere, with unnormalised direction and up vectors.
class RandomCameras {
public:
    explicit RandomCameras(unsigned seed) : rng_(seed) {}

    CameraView Next() {
        CameraView view;
        const float nearDistance = Uniform(0.1f, 5);
        view.SetProjection(nearDistance, nearDistance + Uniform(10, 500), Uniform(0.3f, 2.5f),
                           Uniform(0.5f, 2));
        const Vec3 direction = Direction(Uniform(0.2f, 5));
        Vec3 up = Direction(Uniform(0.2f, 5));
        while (Vec3Length(Vec3Cross(Vec3Normalize(direction), Vec3Normalize(up))) < 0.2f) {
            up = Direction(Uniform(0.2f, 5));
        }
        view.SetView(Vec3{Uniform(-50, 50), Uniform(-50, 50), Uniform(-50, 50)}, direction, up);
        return view;
    }

    float Uniform(float low, float high) {
        return std::uniform_real_distribution<float>(low, high)(rng_);
    }

    // A direction of the given length, uniform over the sphere.
    Vec3 Direction(float length) {
        std::normal_distribution<float> normal;
        Vec3 v{normal(rng_), normal(rng_), normal(rng_)};
        while (Vec3Length(v) < 1e-3f) {
            v = Vec3{normal(rng_), normal(rng_), normal(rng_)};
        }
        return Vec3Scale(Vec3Normalize(v), length);
    }

private:
    std::mt19937 rng_;
};

}  // namespace camera_test
