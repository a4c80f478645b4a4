// The night sky box's six faces: deep blue at the zenith to a haze of the fog's colour at the
// horizon, with seeded stars that fade out towards the horizon. Every texel is computed from
// the direction it shows, so the faces meet without seams whatever their order, and the
// stars are points on the sphere splatted into every face that sees them.
#pragma once

#include "tools/texturemake/picture_files.h"

#include <string>
#include <utility>
#include <vector>

namespace rh::texturemake {

constexpr int kSkyFaceSize = 512;
// Where the sky box's quads start in their pictures: half a texel of a face in from each edge.
// Texture addressing offers no clamp, so sampling at the very edge would blend in the opposite
// side of the picture; the picture's outermost half texels are then never reached.
constexpr float kSkyInset = 0.5f / float(kSkyFaceSize);

// The faces in the sky box's order, each with the world directions of its picture: a texel at
// face coordinates s (left to right) and t (top to bottom), both in [-1, 1] over the part of
// the picture the box shows, looks along forward + s * across + t * down.
struct SkyFace {
    const char* name;  // "skyfront" ... "skydown"
    float forward[3];
    float across[3];
    float down[3];
};
const std::vector<SkyFace>& SkyFaces();

// The sky's colour without stars along a direction (need not be unit length), 0..255 each.
void SkyColour(const float direction[3], float rgb[3]);

// The six face pictures, kSkyFaceSize square, by member name ("Media/skybox/skyfront.jpg").
// `inset` is the texture coordinate at which the box's faces start (and 1 - inset where they
// end), so that the shown part of each picture spans its face exactly.
std::vector<std::pair<std::string, Picture>> SkyPictures(float inset);

}  // namespace rh::texturemake
