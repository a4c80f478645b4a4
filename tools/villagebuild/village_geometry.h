// The village's geometry: ground, timber-and-plaster houses with snow on their roofs and a
// chimney each, a church with a tower and a cobbled square with a well, fences, firs, bushes in the gardens, small yard things
// behind the big houses ("~" names: drawn only when a test of their box finds them in sight)
// and lamp posts, as meshes in the layout the scene files carry
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
    float lightUv[2];  // light map, inside [0, 1]: charts of faces in one plane, see LayOutCharts
};
static_assert(sizeof(Vertex) == 40, "the scene files' vertex layout");

// One drawable: a name unique in the village, the material it draws with and its triangles.
// Parts of bumped materials also carry, per vertex, the directions in which the colour
// texture's u and v grow along the surface (tangent and binormal, unit length, across the
// normal); every part has them, only those parts write them.
struct MeshPart {
    std::string name;
    // "Plaster", "PlasterOchre", "PlasterRose", "Timber", "TimberDark", "FenceWood", "Snow",
    // "Needles" (with a band of bark for the trunks), "Stone" and "Cobbles" (both bumped),
    // "Iron", "Foliage" (cut-out leaves, seen from both sides)
    std::string material;
    std::vector<Vertex> vertices;
    std::vector<uint32_t> indices;
    std::vector<Vec3f> tangents;
    std::vector<Vec3f> binormals;
    int lightMapSize = 0;  // the light map's side in texels, which the charts were laid out for
};

// Whether a material's parts are drawn with a height map (the 72-byte vertex layout).
bool IsBumped(const std::string& material);

// Every part of the village, in a fixed order.
std::vector<MeshPart> BuildVillage(uint32_t seed);
// The seed of the saver's village, for the builder and the pictures drawn from it.
inline constexpr uint32_t kVillageSeed = 20261211;

// The snow's height over the ground plane: flat (0) within kFlatHalfSize of the origin on both
// axes, where the houses stand and the flights run, rising beyond to gentle hills of at most
// kHillHeight under the firs. Never below 0.
inline constexpr float kFlatHalfSize = 700.0f;
inline constexpr float kHillHeight = 30.0f;
float GroundHeight(float x, float z);

// Where the street lamps shine from: the heads of the lamp posts BuildVillage places.
std::vector<Vec3f> LampPositions();

}  // namespace rh::villagebuild
