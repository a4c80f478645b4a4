// Light-map charts: the faces of one mesh laid out in its square light map. Faces that lie in
// one plane and touch make one chart (a wall and its gable, a ground tile's cells), so light
// runs on across their shared edges without a seam; every chart keeps the same texel density
// (world units per texel) and its own aspect, runs from the centre of its first texel to the
// centre of its last (its edge texels hold the light on its edges, so that two charts meeting
// at an edge, in one part or in two, filter to the same light there), and stands in a block
// of whole 4 x 4 texel cells with a gutter round it, so that bilinear filtering and the texels
// of the first two smaller mip levels over a chart never mix two charts' light.
#pragma once

#include "tools/lightbake/light_baker.h"

#include <array>
#include <vector>

namespace rh::lightbake {

// Charts stand in blocks of whole cells of this many texels a side (cells counted from the
// map's corner): no cell holds two charts.
inline constexpr int kLayoutCell = 4;

// A convex face: its corners in order round its edge (3 or more) and its unit normal.
struct LayoutFace {
    std::vector<V3> corners;
    V3 normal;
};

struct LayoutRules {
    // The density wanted: world units per texel. The layout makes it coarser only when the
    // charts do not fit the largest map at it.
    float unitsPerTexel = 4.0f;
    int minSize = 32;   // power of two
    int maxSize = 256;  // power of two
    // Empty texels round every chart (its gutter is twice this towards the next chart).
    int padding = 2;
    // Faces seen from above, a ground with relief: faces that touch and face up make one chart
    // whatever their slopes, laid flat along y (gentle slopes stretch its texels a little).
    bool heightField = false;
};

struct Layout {
    int size = 0;               // the map's side in texels, a power of two
    float unitsPerTexel = 0.0f;  // the density reached
    // Per face, per corner: light-map coordinates in [0, 1] (u across, v down the map).
    std::vector<std::vector<std::array<float, 2>>> uv;
    // Per face: the chart it went into.
    std::vector<uint32_t> chart;
    int chartCount = 0;
};

// Lays the faces out: the smallest map from minSize up that holds every chart at the wanted
// density, or the largest at the finest density that fits. The same faces always give the
// same layout. A face with fewer than three corners gets a chart of one texel.
Layout LayOutCharts(const std::vector<LayoutFace>& faces, const LayoutRules& rules);

}  // namespace rh::lightbake
