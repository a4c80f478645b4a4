// The village's geometry: ground, timber-and-plaster houses with snow on their roofs, a church
// with a tower, fences, firs and lamp posts, as meshes in the layout the scene files carry
// (position, normal, colour-texture coordinates, light-map coordinates; 40 bytes a vertex).
// Laid out from a fixed seed with our own generator, so the same program always builds the
// same village. Units: y up, the ground at y = 0, the village within about 1500 units of the
// origin; front faces wind clockwise seen from outside, as Direct3D culls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rh::villagebuild {

struct Vec3f {
    float x, y, z;
};

struct Vertex {
    Vec3f position;
    Vec3f normal;
    float uv[2];       // colour texture, repeating
    float lightUv[2];  // light map, inside [0, 1], one cell per face
};
static_assert(sizeof(Vertex) == 40, "the scene files' vertex layout");

// One drawable: a name unique in the village, the material it draws with and its triangles.
struct MeshPart {
    std::string name;
    std::string material;  // "Plaster", "Timber", "Snow", "Bark", "Needles", "Stone", "Iron"
    std::vector<Vertex> vertices;
    std::vector<uint32_t> indices;
};

// Every part of the village, in a fixed order.
std::vector<MeshPart> BuildVillage(uint32_t seed);
// The seed of the saver's village, for the builder and the pictures drawn from it.
inline constexpr uint32_t kVillageSeed = 20261211;

// Where the street lamps shine from: the heads of the lamp posts BuildVillage places.
std::vector<Vec3f> LampPositions();

}  // namespace rh::villagebuild
