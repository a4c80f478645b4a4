// The engine's point and vector: three floats in the order x, y, z.
#pragma once

struct Vec3 {
    float x;
    float y;
    float z;
};
