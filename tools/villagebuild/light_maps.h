// The village's light maps, baked by the light-map baker (tools/lightbake) over all of the
// village's geometry: warm pools under the street lamps, lit windows (most of them; some dark)
// painted on the house walls and spilling their light onto the snow in front, cool moonlight
// from where the city's moon stands with soft shadows, and a little sky light that darkens in
// corners. The maps are drawn modulate 2x, so 128 is neutral (light 1.0).
#pragma once

#include "tools/lightbake/chart_layout.h"
#include "tools/lightbake/light_baker.h"
#include "tools/texturemake/picture_files.h"
#include "tools/villagebuild/village_geometry.h"

#include <memory>
#include <string>
#include <vector>

namespace rh::villagebuild {

// The direction towards the moon (unit): where the city's moon plane stands, seen from the
// village.
Vec3f TowardMoon();

class VillageLightMaps {
public:
    VillageLightMaps(const std::vector<MeshPart>& parts, const std::vector<Vec3f>& lamps);

    // The light arriving at a point with this (unit) normal, in linear units (1.0 leaves the
    // colour texture as it is); `seed` picks the point's sample pattern.
    Vec3f LightAt(Vec3f position, Vec3f normal, uint32_t seed = 1) const;

    // The part's light map, LightMapSize(part) square. `threads` only divides the work.
    rh::texturemake::Picture Bake(const MeshPart& part, int threads) const;

    const rh::lightbake::Lighting& lighting() const { return baker_->lighting(); }
    int litWindows() const { return litWindows_; }
    int darkWindows() const { return darkWindows_; }

private:
    std::unique_ptr<rh::lightbake::Baker> baker_;
    int litWindows_ = 0;
    int darkWindows_ = 0;
};

// How a part's light-map charts are laid out, by its name: the density wanted (world units
// per texel: finest on walls, for their windows, and on the village's ground tiles, for the
// lamps' and windows' pools; coarser on the ground among the firs; coarsest on the firs, seen
// from afar, whose maps stay at 32 texels), maps from 32 to 256 texels.
rh::lightbake::LayoutRules LightChartRules(const std::string& partName);

// The part's light-map size: what its charts were laid out for.
int LightMapSize(const MeshPart& part);

}  // namespace rh::villagebuild
