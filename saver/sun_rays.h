// A fan of soft light wedges around a sun point that lies at a fixed distance from the eye,
// against the sunlight direction, rebuilt every time it is drawn. Each wedge is a flat triangle
// pair parallel to the screen: the ray's colour at the sun point, transparent black at its two
// base corners and its tip; its angle and length sway over time.
//
// The owner fills the rays, the direction and the distance directly; the ray count is fixed by
// the first draw.
#pragma once

#include "core/containers/dyn_array.h"
#include "core/math/vec3.h"
#include "core/time/clock.h"
#include "core/types/argb_color.h"
#include "render/mesh.h"

struct SunRayParams {
    float length = 0.0f;
    // Half the width of the base, across the ray at the sun point.
    float halfWidth = 0.0f;
    // Radians in the screen plane: 0 along the camera's left, pi / 2 up.
    float baseAngle = 0.0f;
    // Angle sway: phase in turns, rate in radians per millisecond, amplitude in radians.
    float anglePhase = 0.0f;
    float angleRate = 0.0f;
    float angleAmplitude = 0.0f;
    // Length sway: phase in turns, rate in radians per millisecond, relative amplitude.
    float lengthPhase = 0.0f;
    float lengthRate = 0.0f;
    float lengthAmplitude = 0.0f;
    ArgbColor colour;
};
static_assert(sizeof(SunRayParams) == 52, "thirteen floats");

class SunRays : public Mesh {
public:
    // The sway's timer starts now; no rays.
    SunRays() : rays(0, 10) {}
    ~SunRays() override = default;

    // Six vertices per ray (triangles B1-P-T and P-B2-T) written into a block of a dynamic
    // system-memory buffer locked with discard, in world coordinates, then drawn with the
    // material. False without a render context or rays at the first draw, or when the
    // geometry cannot be made, a block cannot be taken (more rays than at the first draw) or
    // locked, or the draw fails.
    FlagWord Render(MultiMaterial* material) override;

    // The time base of the sway; never reset.
    IntervalTimer timer;
    // Sunlight direction: the sun point is the eye minus distance times direction.
    Vec3 direction{0.0f, 0.0f, 0.0f};
    float distance = 0.0f;
    DynArray<SunRayParams> rays;
};
