// Boxes for the drawing tests of the scene: a box mesh of one colour with its faces shaded apart,
// and the centre of a marker's pixels in a frame read back.
#pragma once

#include "render/mesh.h"
#include "render/mesh_data.h"

#include <d3d9.h>

#include <memory>
#include <vector>

namespace box_scene {

// The colour of markers: pure red, which no shaded face of another colour gives.
constexpr DWORD kMarkerRed = 0xFFFF0000u;

// Position and D3DCOLOR vertices of a box of the given half sizes round `centre`, clockwise
// seen from outside; with `shade` the faces darken by different amounts so edges show.
std::unique_ptr<MeshData> BoxData(Vec3 centre, Vec3 half, DWORD colour, bool shade);

// A box mesh drawing its own data.
struct Box {
    std::unique_ptr<MeshData> data;
    Mesh mesh;
};
std::unique_ptr<Box> MakeBox(Vec3 centre, Vec3 half, DWORD colour, bool shade);

// The centre of the marker-red pixels of a width x height frame (0xAARRGGBB, top row first), in
// pixels from the top-left corner, and their count.
struct Blob {
    double x = 0, y = 0;
    int count = 0;
};
Blob FindMarker(const std::vector<DWORD>& frame, int width, int height);

}  // namespace box_scene
