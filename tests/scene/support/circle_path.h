// A camera path for tests and demonstrations: 40 keys one path unit apart on a circle of
// radius 30, 8 above a marker at the origin, each rotation looking at the marker; written as a
// camera-path file with the data-file writer (keys shuffled, media-style names "pos0", "rot0",
// root size slack), so that readers meet what the path maker writes.
#pragma once

#include "scene/key_track.h"

#include <d3dx9math.h>

#include <string>
#include <vector>

namespace circle_path {

constexpr int kKeys = 40;
constexpr float kRadius = 30, kHeight = 8;

// A turn of `angle` radians about the unit axis (x, y, z).
D3DXQUATERNION Turn(float x, float y, float z, float angle);
// The eye of key k.
Vec3 EyeAt(int k);
// Pitch about x (positive looks down), then yaw about y, so that (0, 0, 1) turns onto the
// direction from the eye to the origin.
D3DXQUATERNION LookingAtOrigin(Vec3 eye);

struct PathFile {
    std::vector<TrackKey> positions, rotations;  // in time order
    std::string path;
};

// Writes the path to `path`; the keys as written. A failed write is a test failure.
PathFile Write(const std::string& path);

}  // namespace circle_path
