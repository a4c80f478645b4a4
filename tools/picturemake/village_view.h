// The village drawn by the light-map baker's ray tracer, not through a GL driver, so the bytes
// of the pictures made from it do not depend on one: the saver's night as its light maps, sky
// box, fog, moon and lamp glows show it, seen from a camera.
#pragma once

#include "tools/picturemake/pictures.h"

namespace picturemake {

struct ViewCamera {
    float eye[3];
    float target[3];
    float fovY;  // vertical, radians
};

// The village from `camera`, width x height, opaque.
Image RenderVillage(int width, int height, const ViewCamera& camera);

}  // namespace picturemake
