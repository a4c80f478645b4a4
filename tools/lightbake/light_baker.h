// The light-map baker: a ray tracer over a bounding-volume hierarchy of a scene's triangles
// that bakes, for each texel of a mesh's light-map chart, the light arriving there at night:
// point lamps and rectangular area lights (lit windows) with shadows, a distant moon of some
// angular size sampled over its disc for soft shadows, and sky light occluded over a short
// range so that corners and the ground beside walls darken. Texels on an emitting pane take
// the pane's own light. Each texel is computed alone from its own fixed sample pattern, so
// the result is the same whatever the number of threads.
#pragma once

#include "tools/texturemake/picture_files.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace rh::lightbake {

struct V3 {
    float x = 0, y = 0, z = 0;
};

struct Triangle {
    V3 a, b, c;
};

// Light from a small sphere: colour * power * cos / d^2 within `range`.
struct PointLight {
    V3 position;
    float radius = 1.0f;
    V3 colour;
    float power = 1.0f;
    float range = 300.0f;
};

// A rectangle corner + s * edgeU + t * edgeV (s, t in [0, 1]) shining to the side its normal
// (edgeU x edgeV, normalised) points at, with `radiance` per unit area, within `range`.
struct AreaLight {
    V3 corner, edgeU, edgeV;
    V3 colour;
    float radiance = 1.0f;
    float range = 150.0f;
};

// A surface patch whose texels take `light` instead of what falls on them: window panes, lit
// or dark. The patch is a rectangle like an area light's, matched within `depth` of its plane.
struct Pane {
    V3 corner, edgeU, edgeV;
    V3 light;
    float depth = 0.5f;
};

// The moon: light from the direction `toward` (unit), spread over a disc of angular radius
// `radius` radians.
struct DistantLight {
    V3 toward{0, 1, 0};
    float radius = 0.03f;
    V3 colour;
    int samples = 8;
};

// Light from the whole upper sky, cosine-weighted; a ray blocked within `range` takes its share.
struct SkyLight {
    V3 colour;
    float range = 60.0f;
    int samples = 8;
};

struct Lighting {
    std::vector<PointLight> points;
    int pointSamples = 2;  // per lamp; four times as many within 25 radii of it
    std::vector<AreaLight> areas;
    // Stratified points per side of an area light near it (within 2.5 times the square root
    // of its area); one point further off.
    int areaSamples = 2;
    std::vector<Pane> panes;
    DistantLight moon;
    SkyLight sky;
    V3 floor;  // added everywhere, so that nothing is black
};

// The triangles in a hierarchy of boxes, for occlusion queries.
class Bvh {
public:
    explicit Bvh(std::vector<Triangle> triangles);
    ~Bvh();
    Bvh(const Bvh&) = delete;
    Bvh& operator=(const Bvh&) = delete;
    // Whether any triangle crosses the ray origin + t * direction for t in (0, distance).
    bool Occluded(V3 origin, V3 direction, float distance) const;
    size_t triangleCount() const;
    // The highest point of any triangle: rays rising past it can hit nothing more.
    float top() const;

    // The nearest triangle the ray crosses for t in (0, distance): its index in the list the
    // hierarchy was made from, t and the barycentric weights of its second and third corners.
    struct Hit {
        uint32_t triangle = 0;
        float t = 0, u = 0, v = 0;
    };
    bool Intersect(V3 origin, V3 direction, float distance, Hit* hit) const;

private:
    struct Data;
    std::unique_ptr<Data> data_;
};

// One mesh's chart: vertices with their light-map coordinates in [0, 1]; triangles by index.
struct ChartVertex {
    V3 position;
    V3 normal;
    float u = 0, v = 0;
};
struct Chart {
    std::vector<ChartVertex> vertices;
    std::vector<uint32_t> indices;
};

// The baker: the scene's triangles in a hierarchy and the lights, with what every texel's
// lighting needs worked out once.
class Baker {
public:
    Baker(std::vector<Triangle> triangles, Lighting lighting);
    ~Baker();
    Baker(const Baker&) = delete;
    Baker& operator=(const Baker&) = delete;

    // The light at a point with this (unit) normal, in linear units (1.0 leaves the colour
    // texture as it is); `seed` picks the point's sample pattern.
    V3 LightAt(V3 position, V3 normal, uint32_t seed) const;

    // The chart's light map of size x size texels, drawn modulate 2x (128 is light 1.0, a soft
    // shoulder above 1.5): each triangle's texels (by their centres) get the light at the
    // matching point, smoothed over their neighbours in the same chart (covered texels that
    // touch; the layout leaves gutters between charts) that are alike on or off a pane. Every
    // other texel takes its nearest chart texel's value, so that filtering and the smaller mip
    // levels do not pull in anything else; a map with no covered texel is neutral. Opaque.
    // `threads` only divides the work.
    rh::texturemake::Picture Bake(const Chart& chart, int size, uint32_t seed, int threads) const;

    const Bvh& bvh() const { return bvh_; }
    const Lighting& lighting() const { return lighting_; }
    // Whether the point lies on one of the lighting's panes.
    bool OnPane(V3 position) const;

private:
    const Pane* PaneAt(V3 position) const;
    V3 LightOffPanes(V3 position, V3 normal, uint32_t seed) const;
    struct Prepared;
    Bvh bvh_;
    Lighting lighting_;
    std::unique_ptr<Prepared> prepared_;
};

// How many threads the process may run at once (its CPU affinity), at least 1.
int AvailableThreads();

}  // namespace rh::lightbake
