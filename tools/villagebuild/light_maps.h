// Version 1 light maps of the village: per part, every face's light-map cell lit by the
// street lamps (warm pools with inverse-square falloff), a cool moon and an ambient term,
// without shadows. The maps are drawn modulate 2x, so 128 is neutral (light 1.0).
#pragma once

#include "tools/texturemake/picture_files.h"
#include "tools/villagebuild/village_geometry.h"

#include <vector>

namespace rh::villagebuild {

// The light arriving at a point with this normal, in linear units (1.0 leaves the colour
// texture as it is).
Vec3f LightAt(Vec3f position, Vec3f normal, const std::vector<Vec3f>& lamps);

// The part's light map of size x size texels: each triangle's texels (by their centres) get
// the light at the matching point of the triangle; texels round the cells take their
// neighbours' values so that filtering at cell edges does not pull in black. Opaque.
rh::texturemake::Picture BakeLightMap(const MeshPart& part, const std::vector<Vec3f>& lamps, int size);

// The light-map size for a part: more texels for parts with more faces, a power of two from 32
// to 1024.
int LightMapSize(const MeshPart& part);

}  // namespace rh::villagebuild
