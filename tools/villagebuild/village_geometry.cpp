#include "tools/villagebuild/village_geometry.h"

#include "tools/lightbake/chart_layout.h"
#include "tools/villagebuild/light_maps.h"
#include "tools/villageplan/village_plan.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace rh::villagebuild {

namespace {

constexpr float kPi = 3.14159265358979f;

Vec3f operator+(Vec3f a, Vec3f b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3f operator-(Vec3f a, Vec3f b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3f operator*(Vec3f a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float Dot(Vec3f a, Vec3f b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3f Cross(Vec3f a, Vec3f b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Length(Vec3f a) { return std::sqrt(Dot(a, a)); }
Vec3f Normalize(Vec3f a) {
    const float l = Length(a);
    return l > 0.0f ? a * (1.0f / l) : Vec3f{0, 1, 0};
}

// splitmix64: a fixed, portable sequence (the standard library's distributions are not).
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    float Uniform(float lo, float hi) { return lo + (hi - lo) * float(Next() >> 40) / float(1ull << 24); }
    int Below(int n) { return int(Next() % uint64_t(n)); }

private:
    uint64_t state_;
};

float Smooth(float edge0, float edge1, float x) {
    const float t = std::clamp((x - edge0) / (edge1 - edge0), 0.0f, 1.0f);
    return t * t * (3.0f - 2.0f * t);
}

// The cobbled square west of the church nave, on the ground plane.
constexpr float kSquareX0 = 56.0f, kSquareX1 = 104.0f, kSquareZ0 = -244.0f, kSquareZ1 = -56.0f;

// Collects the faces of one part, then lays their light-map charts out (LightChartRules).
class PartBuilder {
public:
    PartBuilder(std::string name, std::string material, float textureScale)
        : scale_(textureScale) {
        part_.name = std::move(name);
        part_.material = std::move(material);
    }

    // A convex face of 3 or 4 corners in order round its edge. It is turned so that its front
    // (clockwise seen from the front) faces along `outward`.
    void Face(std::vector<Vec3f> corners, Vec3f outward) {
        Vec3f n = Cross(corners[1] - corners[0], corners[2] - corners[0]);
        if (Dot(n, outward) < 0.0f) {
            std::reverse(corners.begin(), corners.end());
            n = n * -1.0f;
        }
        faces_.push_back({std::move(corners), Normalize(n), false, {}, band_});
    }

    // Faces added from now on span exactly [lo, hi] of the colour texture's v (u still repeats
    // along the face): for textures that hold two surfaces in bands, such as needles and the
    // snow lying on them. lo == hi turns banding off.
    void Band(float lo, float hi) { band_ = {lo, hi}; }

    // A picture card: a quad whose colour texture spans the whole picture once, u along the
    // first edge (corner 0 to 1) and v down from corner 0's top edge (corner 1 to 2 runs down).
    void Card(const std::vector<Vec3f>& corners, Vec3f outward) {
        Face(corners, outward);
        Face_& face = faces_.back();
        face.card = true;
        face.cardCorners = corners;
    }

    // A box of the given extent, all six faces (or without the bottom, or the top: a face
    // nothing can see still takes its room in the light map).
    void Box(Vec3f lo, Vec3f hi, bool bottom = false, bool top = true) {
        const Vec3f c = (lo + hi) * 0.5f;
        const Vec3f p[8] = {{lo.x, lo.y, lo.z}, {hi.x, lo.y, lo.z}, {hi.x, lo.y, hi.z}, {lo.x, lo.y, hi.z},
                            {lo.x, hi.y, lo.z}, {hi.x, hi.y, lo.z}, {hi.x, hi.y, hi.z}, {lo.x, hi.y, hi.z}};
        const int quads[6][4] = {{0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}, {4, 5, 6, 7}, {0, 3, 2, 1}};
        for (int q = 0; q < (bottom ? 6 : 5); ++q) {
            if (q == 4 && !top) continue;
            std::vector<Vec3f> face = {p[quads[q][0]], p[quads[q][1]], p[quads[q][2]], p[quads[q][3]]};
            const Vec3f centre = (face[0] + face[2]) * 0.5f;
            Face(face, centre - c);
        }
    }

    // A cone (or, with a top radius, a frustum) of `sides` sides round the vertical axis.
    void Cone(Vec3f base, float radius, float height, int sides, float topRadius = 0.0f) {
        const Vec3f axisTop = base + Vec3f{0, height, 0};
        for (int i = 0; i < sides; ++i) {
            const float a0 = 2.0f * kPi * float(i) / float(sides), a1 = 2.0f * kPi * float(i + 1) / float(sides);
            const Vec3f d0{std::cos(a0), 0, std::sin(a0)}, d1{std::cos(a1), 0, std::sin(a1)};
            const Vec3f out = Normalize(d0 + d1) + Vec3f{0, radius / std::max(height, 1e-3f), 0};
            if (topRadius > 0.0f) {
                Face({base + d0 * radius, axisTop + d0 * topRadius, axisTop + d1 * topRadius, base + d1 * radius}, out);
            } else {
                Face({base + d0 * radius, axisTop, base + d1 * radius}, out);
            }
            Face({base, base + d1 * radius, base + d0 * radius}, Vec3f{0, -1, 0});
        }
    }

    MeshPart Finish() {
        std::vector<rh::lightbake::LayoutFace> layoutFaces;
        layoutFaces.reserve(faces_.size());
        for (const Face_& face : faces_) {
            rh::lightbake::LayoutFace& out = layoutFaces.emplace_back();
            for (const Vec3f& p : face.corners) out.corners.push_back({p.x, p.y, p.z});
            out.normal = {face.normal.x, face.normal.y, face.normal.z};
        }
        const rh::lightbake::Layout layout = rh::lightbake::LayOutCharts(layoutFaces, LightChartRules(part_.name));
        if (layout.size == 0) {
            std::fprintf(stderr, "villagebuild: %s: too many light-map charts\n", part_.name.c_str());
            std::abort();
        }
        part_.lightMapSize = layout.size;
        for (size_t f = 0; f < faces_.size(); ++f) {
            const Face_& face = faces_[f];
            // Colour texture: planar along the face's first edge and its normal's cross.
            const Vec3f e0 = Normalize(face.corners[1] - face.corners[0]);
            const Vec3f e1 = Cross(face.normal, e0);
            const uint32_t first = uint32_t(part_.vertices.size());
            float vLo = 1e30f, vHi = -1e30f;
            for (const Vec3f& p : face.corners) {
                vLo = std::min(vLo, Dot(p - face.corners[0], e0));
                vHi = std::max(vHi, Dot(p - face.corners[0], e0));
            }
            for (size_t k = 0; k < face.corners.size(); ++k) {
                const Vec3f p = face.corners[k];
                Vertex v{};
                v.position = p;
                v.normal = face.normal;
                v.uv[0] = Dot(p - face.corners[0], e1) / scale_;
                v.uv[1] = Dot(p - face.corners[0], e0) / scale_;
                if (face.band[1] != face.band[0] && vHi > vLo) {
                    const float along = (Dot(p - face.corners[0], e0) - vLo) / (vHi - vLo);
                    v.uv[1] = face.band[0] + along * (face.band[1] - face.band[0]);
                }
                Vec3f tangent = e1, binormal = e0;
                if (face.card) {
                    // The card's own corners (the face may have been turned round).
                    const std::vector<Vec3f>& c = face.cardCorners;
                    const Vec3f across = c[1] - c[0], down = c[2] - c[1];
                    v.uv[0] = Dot(p - c[0], across) / Dot(across, across);
                    v.uv[1] = Dot(p - c[0], down) / Dot(down, down);
                    tangent = Normalize(across);
                    binormal = Normalize(down);
                }
                v.lightUv[0] = layout.uv[f][k][0];
                v.lightUv[1] = layout.uv[f][k][1];
                part_.vertices.push_back(v);
                part_.tangents.push_back(tangent);
                part_.binormals.push_back(binormal);
            }
            for (size_t k = 1; k + 1 < face.corners.size(); ++k) {
                part_.indices.insert(part_.indices.end(), {first, first + uint32_t(k), first + uint32_t(k) + 1});
            }
        }
        return std::move(part_);
    }

private:
    struct Face_ {
        std::vector<Vec3f> corners;
        Vec3f normal;
        bool card;
        std::vector<Vec3f> cardCorners;
        std::array<float, 2> band;
    };
    MeshPart part_;
    std::vector<Face_> faces_;
    float scale_;
    std::array<float, 2> band_{0.0f, 0.0f};
};

std::string Numbered(const char* stem, int n, const char* suffix = "") {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s%02d%s", stem, n, suffix);
    return buffer;
}

// A footprint on the ground, kept free of other things.
struct Footprint {
    float x0, z0, x1, z1;
    bool Overlaps(float x, float z, float margin) const {
        return x > x0 - margin && x < x1 + margin && z > z0 - margin && z < z1 + margin;
    }
};

// The plaster and timber colours a house may have: one style, varied from house to house.
const char* const kPlasters[] = {"Plaster", "Plaster", "PlasterOchre", "PlasterRose"};
const char* const kTimbers[] = {"Timber", "Timber", "TimberDark"};

// A timber-framed house filling its plan box: plaster walls, timber posts and beams, a door
// towards the nearer lane, a snow-covered gable roof whose ridge runs along the longer side and a
// chimney beside the ridge, its pitch, the house's colours and the chimney's place picked by `n`. Everything, the roof's eaves included, stays
// inside the box, as the camera flights are planned against the boxes.
void House(std::vector<MeshPart>& parts, int n, const village::Building& b) {
    Random look(0x40C5E000ull + uint64_t(n));
    const bool ridgeAlongX = b.halfX >= b.halfZ;
    const float o = 4.0f, t = 1.75f;
    const float cx = b.centreX, cz = b.centreZ;
    const float x0 = cx - b.halfX + o, x1 = cx + b.halfX - o, z0 = cz - b.halfZ + o, z1 = cz + b.halfZ - o;
    const float pitch = look.Uniform(0.32f, 0.62f);
    // The chimney rises this far over the ridge, and reaches the box's top.
    const float chimneyRise = 5.0f;
    const float roof = std::min(2.0f * (ridgeAlongX ? b.halfZ : b.halfX) * pitch, b.height * 0.45f);
    const float h = b.height - chimneyRise - roof;
    const char* const plaster = kPlasters[look.Below(int(std::size(kPlasters)))];
    const char* const timber = kTimbers[look.Below(int(std::size(kTimbers)))];
    PartBuilder walls(Numbered("House", n, "Walls"), plaster, 20.0f);
    walls.Box({x0, 0, z0}, {x1, h, z1}, false, false);  // the roof covers the top
    // Gable ends up to the ridge.
    if (ridgeAlongX) {
        walls.Face({{x0, h, z0}, {x0, h + roof, cz}, {x0, h, z1}}, {-1, 0, 0});
        walls.Face({{x1, h, z1}, {x1, h + roof, cz}, {x1, h, z0}}, {1, 0, 0});
    } else {
        walls.Face({{x0, h, z0}, {cx, h + roof, z0}, {x1, h, z0}}, {0, 0, -1});
        walls.Face({{x1, h, z1}, {cx, h + roof, z1}, {x0, h, z1}}, {0, 0, 1});
    }

    // The roof's frame: along the ridge (s) and across it (t), turned to the house's orientation.
    const float e = h - 1.5f, k = 1.2f, top = h + roof;
    const float s0 = (ridgeAlongX ? x0 : z0) - o, s1 = (ridgeAlongX ? x1 : z1) + o;
    const float wall[2] = {ridgeAlongX ? z0 : x0, ridgeAlongX ? z1 : x1};
    const float mid = ridgeAlongX ? cz : cx;
    auto at = [ridgeAlongX](float along, float y, float across) {
        return ridgeAlongX ? Vec3f{along, y, across} : Vec3f{across, y, along};
    };
    PartBuilder roofs(Numbered("House", n, "Roof"), "Snow", 30.0f);

    // A plastered chimney through one slope beside the ridge, a quarter of the way in from
    // either gable, up to the box's top under a cap of snow. It starts below the slope's face,
    // inside the roof, so no gap shows on its downhill side.
    {
        const float half = 3.0f, gap = 2.5f, cap = 1.0f;
        const float inset = look.Uniform(0.2f, 0.32f);
        const float along = look.Below(2) == 0 ? s0 + o + (s1 - s0 - 2 * o) * inset : s1 - o - (s1 - s0 - 2 * o) * inset;
        const float sign = look.Below(2) == 0 ? -1.0f : 1.0f;
        const float near = mid + sign * gap, far = mid + sign * (gap + 2 * half);
        const float eave = wall[sign < 0 ? 0 : 1] + sign * o;
        const float rise = (top - e) / std::abs(mid - eave);
        const float foot = top - rise * (gap + 2 * half) - 1.5f;
        const Vec3f a = at(along - half, foot, std::min(near, far)), c = at(along + half, b.height - cap, std::max(near, far));
        walls.Box({std::min(a.x, c.x), foot, std::min(a.z, c.z)}, {std::max(a.x, c.x), b.height - cap, std::max(a.z, c.z)},
                  false, false);
        const float lip = 0.6f;
        roofs.Box({std::min(a.x, c.x) - lip, b.height - cap, std::min(a.z, c.z) - lip},
                  {std::max(a.x, c.x) + lip, b.height, std::max(a.z, c.z) + lip}, true, true);
    }
    parts.push_back(walls.Finish());

    PartBuilder beams(Numbered("House", n, "Beams"), timber, 10.0f);
    for (float x : {x0, x1}) {
        for (float z : {z0, z1}) beams.Box({x - t, 0, z - t}, {x + t, h, z + t});
    }
    // The door, in the middle of the wall towards the nearer lane (the windows sit either side
    // of the middle), up to just under the mid beam.
    {
        const float laneX = std::round(cx / village::kLaneSpacing) * village::kLaneSpacing;
        const float laneZ = std::round(cz / village::kLaneSpacing) * village::kLaneSpacing;
        const float doorHalf = 4.0f, doorTop = std::min(16.0f, h * 0.5f - 0.5f), d = 0.9f;
        if (std::abs(cz - laneZ) <= std::abs(cx - laneX)) {
            const float z = laneZ < cz ? z0 : z1;
            beams.Box({cx - doorHalf, 0, z - d}, {cx + doorHalf, doorTop, z + d});
        } else {
            const float x = laneX < cx ? x0 : x1;
            beams.Box({x - d, 0, cz - doorHalf}, {x + d, doorTop, cz + doorHalf});
        }
    }
    // A sill and a mid beam round the walls.
    for (float y : {0.0f, h * 0.5f, h - t}) {
        beams.Box({x0 - t, y, z0 - t}, {x1 + t, y + t, z0 + t});
        beams.Box({x0 - t, y, z1 - t}, {x1 + t, y + t, z1 + t});
        beams.Box({x0 - t, y, z0 - t}, {x0 + t, y + t, z1 + t});
        beams.Box({x1 - t, y, z0 - t}, {x1 + t, y + t, z1 + t});
    }

    // The roof: a slab of snow of thickness k on boards, overhanging the walls by o all round.
    for (int side = 0; side < 2; ++side) {
        const float sign = side == 0 ? -1.0f : 1.0f;
        const float eave = wall[side] + sign * o;
        // Height of the roof's upper face over a line across the ridge.
        const float rise = (top - e) / std::abs(mid - eave);
        const float atWall = e + rise * o;
        const Vec3f out = at(0.0f, 0.0f, sign), up{0, 1, 0};
        const Vec3f slope = Normalize(up + out * rise);
        roofs.Face({at(s0, e, eave), at(s0, top, mid), at(s1, top, mid), at(s1, e, eave)}, slope);
        // The snow's edge along the eave and up the two verges.
        roofs.Face({at(s0, e - k, eave), at(s0, e, eave), at(s1, e, eave), at(s1, e - k, eave)}, out);
        for (float end : {s0, s1}) {
            roofs.Face({at(end, e - k, eave), at(end, top - k, mid), at(end, top, mid), at(end, e, eave)},
                       at(end == s0 ? -1.0f : 1.0f, 0.0f, 0.0f));
        }
        // The boards under the overhang: over the eave, and over each gable's verge.
        const Vec3f under = slope * -1.0f;
        const float gable[2] = {s0 + o, s1 - o};
        beams.Face({at(gable[0], e - k, eave), at(gable[1], e - k, eave), at(gable[1], atWall - k, wall[side]),
                    at(gable[0], atWall - k, wall[side])},
                   under);
        beams.Face({at(s0, e - k, eave), at(gable[0], e - k, eave), at(gable[0], top - k, mid), at(s0, top - k, mid)}, under);
        beams.Face({at(gable[1], e - k, eave), at(s1, e - k, eave), at(s1, top - k, mid), at(gable[1], top - k, mid)}, under);
    }
    parts.push_back(beams.Finish());
    parts.push_back(roofs.Finish());
}

// The church on its two plan boxes: the nave (ridge along its longer side) and the tower with
// its spire, which reaches the tower box's height.
void Church(std::vector<MeshPart>& parts, const village::Building& nave, const village::Building& tower) {
    const bool alongX = nave.halfX >= nave.halfZ;
    const float roof = std::min(2.0f * (alongX ? nave.halfZ : nave.halfX) * 0.5f, nave.height * 0.4f);
    const float h = nave.height - roof;
    const float x0 = nave.centreX - nave.halfX, x1 = nave.centreX + nave.halfX;
    const float z0 = nave.centreZ - nave.halfZ, z1 = nave.centreZ + nave.halfZ;
    const float cx = nave.centreX, cz = nave.centreZ;
    PartBuilder stone("ChurchWalls", "Stone", 25.0f);
    stone.Box({x0, 0, z0}, {x1, h, z1}, false, false);  // the roof covers the top
    if (alongX) {
        stone.Face({{x0, h, z0}, {x0, h + roof, cz}, {x0, h, z1}}, {-1, 0, 0});
        stone.Face({{x1, h, z1}, {x1, h + roof, cz}, {x1, h, z0}}, {1, 0, 0});
    } else {
        stone.Face({{x0, h, z0}, {cx, h + roof, z0}, {x1, h, z0}}, {0, 0, -1});
        stone.Face({{x1, h, z1}, {cx, h + roof, z1}, {x0, h, z1}}, {0, 0, 1});
    }
    const float tx0 = tower.centreX - tower.halfX, tx1 = tower.centreX + tower.halfX;
    const float tz0 = tower.centreZ - tower.halfZ, tz1 = tower.centreZ + tower.halfZ;
    const float th = tower.height * 0.72f;
    parts.push_back(stone.Finish());
    // The tower apart from the nave, so that each has a whole light map for its windows.
    PartBuilder towerStone("ChurchTowerWalls", "Stone", 25.0f);
    towerStone.Box({tx0, 0, tz0}, {tx1, th, tz1}, false, false);  // the spire covers the top
    parts.push_back(towerStone.Finish());

    PartBuilder roofs("ChurchRoof", "Snow", 30.0f);
    if (alongX) {
        roofs.Face({{x0, h - 1.5f, z0}, {x0, h + roof, cz}, {x1, h + roof, cz}, {x1, h - 1.5f, z0}}, {0, 1, -1});
        roofs.Face({{x1, h - 1.5f, z1}, {x1, h + roof, cz}, {x0, h + roof, cz}, {x0, h - 1.5f, z1}}, {0, 1, 1});
    } else {
        roofs.Face({{x0, h - 1.5f, z1}, {cx, h + roof, z1}, {cx, h + roof, z0}, {x0, h - 1.5f, z0}}, {-1, 1, 0});
        roofs.Face({{x1, h - 1.5f, z0}, {cx, h + roof, z0}, {cx, h + roof, z1}, {x1, h - 1.5f, z1}}, {1, 1, 0});
    }
    parts.push_back(roofs.Finish());

    PartBuilder spire("ChurchSpire", "Iron", 20.0f);
    const Vec3f top{(tx0 + tx1) / 2, tower.height, (tz0 + tz1) / 2};
    const Vec3f c[4] = {{tx0, th, tz0}, {tx1, th, tz0}, {tx1, th, tz1}, {tx0, th, tz1}};
    for (int i = 0; i < 4; ++i) {
        const Vec3f mid = (c[i] + c[(i + 1) % 4]) * 0.5f;
        spire.Face({c[i], top, c[(i + 1) % 4]}, mid - Vec3f{top.x, th, top.z});
    }
    parts.push_back(spire.Finish());
}

// The needles texture holds bare needles in its band round v = 0 (it wraps), bark round
// v = 0.25 and needles under lying snow round v = 0.5: the tiers take the first, the trunk the
// second, the snow on the tiers the third, so that a fir is one part. A village has more firs
// than anything else, and each part is a draw call in every view that sees it.
constexpr std::array<float, 2> kNeedlesBand{-0.15f, 0.15f};
constexpr std::array<float, 2> kBarkBand{0.22f, 0.28f};
constexpr std::array<float, 2> kNeedlesSnowBand{0.42f, 0.58f};

// A fir of three tiers on a trunk standing on the ground at `ground`, snow lying on each
// tier's upper part down to a ragged edge, so that a green skirt shows below it.
void Fir(std::vector<MeshPart>& parts, int n, float x, float z, float ground, float height, Random& random) {
    PartBuilder crown(Numbered("Fir", n, ""), "Needles", 15.0f);
    crown.Band(kBarkBand[0], kBarkBand[1]);
    crown.Cone({x, ground, z}, height * 0.04f, height * 0.3f, 6, height * 0.03f);
    constexpr int kSides = 9;
    for (int tier = 0; tier < 3; ++tier) {
        const float base = ground + height * (0.2f + 0.25f * float(tier));
        const float radius = height * (0.32f - 0.08f * float(tier));
        const float rise = ground + height - base - height * 0.05f * float(2 - tier);
        crown.Band(kNeedlesBand[0], kNeedlesBand[1]);
        crown.Cone({x, base, z}, radius, rise, kSides);
        // The snow: a cone a little outside the tier's, from just above its tip down to between
        // 70% and 88% of the way to its rim, side by side.
        crown.Band(kNeedlesSnowBand[0], kNeedlesSnowBand[1]);
        const Vec3f apex{x, base + rise + 0.4f, z};
        float reach[kSides];
        for (float& r : reach) r = random.Uniform(0.7f, 0.88f);
        for (int i = 0; i < kSides; ++i) {
            const float a0 = 2.0f * kPi * float(i) / float(kSides), a1 = 2.0f * kPi * float(i + 1) / float(kSides);
            const Vec3f d0{std::cos(a0), 0, std::sin(a0)}, d1{std::cos(a1), 0, std::sin(a1)};
            const Vec3f rim0 = Vec3f{x, base, z} + d0 * (radius * 1.05f), rim1 = Vec3f{x, base, z} + d1 * (radius * 1.05f);
            const Vec3f low0 = apex + (rim0 - apex) * reach[i], low1 = apex + (rim1 - apex) * reach[(i + 1) % kSides];
            crown.Face({low0, apex, low1}, Normalize(d0 + d1) + Vec3f{0, radius / std::max(rise, 1e-3f), 0});
        }
    }
    parts.push_back(crown.Finish());
}

// A fence round a garden: posts every few units and two rails on each side but the front.
void Fence(std::vector<MeshPart>& parts, int n, const Footprint& garden) {
    PartBuilder fence(Numbered("Fence", n), "FenceWood", 10.0f);
    const float t = 0.6f, h = 6.5f;
    auto side = [&](Vec3f a, Vec3f b) {
        const float length = Length(b - a);
        const int posts = std::max(2, int(length / 12.5f) + 1);
        for (int i = 0; i < posts; ++i) {
            const Vec3f p = a + (b - a) * (float(i) / float(posts - 1));
            fence.Box({p.x - t, 0, p.z - t}, {p.x + t, h, p.z + t});
        }
        const Vec3f lo{std::min(a.x, b.x) - t * 0.5f, 0, std::min(a.z, b.z) - t * 0.5f};
        const Vec3f hi{std::max(a.x, b.x) + t * 0.5f, 0, std::max(a.z, b.z) + t * 0.5f};
        for (float y : {2.25f, 5.0f}) fence.Box({lo.x, y, lo.z}, {hi.x, y + 0.6f, hi.z});
    };
    side({garden.x0, 0, garden.z1}, {garden.x1, 0, garden.z1});
    side({garden.x0, 0, garden.z0}, {garden.x0, 0, garden.z1});
    side({garden.x1, 0, garden.z0}, {garden.x1, 0, garden.z1});
    parts.push_back(fence.Finish());
}

void LampPost(std::vector<MeshPart>& parts, int n, float x, float z) {
    PartBuilder post(Numbered("Post", n), "Iron", 5.0f);
    post.Box({x - 0.6f, 0, z - 0.6f}, {x + 0.6f, 21.0f, z + 0.6f});
    // An open lantern: a base plate and a cap with the light between them, so that the lamp's
    // glow (two units across, at 22.75) is seen from every side.
    post.Box({x - 1.2f, 21.0f, z - 1.2f}, {x + 1.2f, 21.4f, z + 1.2f});
    post.Box({x - 1.75f, 24.2f, z - 1.75f}, {x + 1.75f, 24.8f, z + 1.75f});
    parts.push_back(post.Finish());
}

// A bush in a garden: three picture cards crossing at its middle, turned by the seed.
void Bush(std::vector<MeshPart>& parts, int n, float x, float z, float size, float turn) {
    PartBuilder bush(Numbered("Bush", n), "Foliage", size);
    for (int i = 0; i < 3; ++i) {
        const float a = turn + kPi * float(i) / 3.0f;
        const Vec3f d{std::cos(a) * size * 0.5f, 0, std::sin(a) * size * 0.5f};
        const Vec3f base{x, 0, z}, top{x, size * 0.8f, z};
        bush.Card({top - d, top + d, base + d, base - d}, Vec3f{-d.z, 0, d.x});
    }
    parts.push_back(bush.Finish());
}

// The cobbled square west of the church nave, just above the ground: the village's bumped part.
void ChurchSquare(std::vector<MeshPart>& parts) {
    PartBuilder square("Square", "Cobbles", 20.0f);
    const float x0 = kSquareX0, x1 = kSquareX1, z0 = kSquareZ0, z1 = kSquareZ1, y = 0.25f;
    const int along = 8;
    const float step = (z1 - z0) / float(along);
    for (int i = 0; i < along; ++i) {
        const float a = z0 + step * float(i), b = a + step;
        square.Face({{x0, y, a}, {x0, y, b}, {x1, y, b}, {x1, y, a}}, {0, 1, 0});
    }
    parts.push_back(square.Finish());
}

// A well on the square, between the lane and the church: a round stone wall with snow on its rim
// and fallen in, and a little snow-covered roof on two timber posts with the winding beam
// between them. The flights along the lane pass it at eye height.
void Well(std::vector<MeshPart>& parts) {
    const Vec3f c{(kSquareX0 + kSquareX1) * 0.5f, 0.25f, (kSquareZ0 + kSquareZ1) * 0.5f};
    const float outer = 7.5f, inner = 5.9f, wallTop = 8.0f, rim = 0.8f;
    const int sides = 12;
    PartBuilder stone("WellStone", "Stone", 25.0f);
    PartBuilder snow("WellSnow", "Snow", 30.0f);
    const Vec3f up{0, 1, 0};
    const Vec3f floor = c + up * 2.0f;
    for (int i = 0; i < sides; ++i) {
        const float a0 = 2.0f * kPi * float(i) / float(sides), a1 = 2.0f * kPi * float(i + 1) / float(sides);
        const Vec3f d0{std::cos(a0), 0, std::sin(a0)}, d1{std::cos(a1), 0, std::sin(a1)};
        const Vec3f out = Normalize(d0 + d1);
        const Vec3f o0 = c + d0 * outer, o1 = c + d1 * outer, i0 = c + d0 * inner, i1 = c + d1 * inner;
        const Vec3f h = up * wallTop;
        stone.Face({o0, o0 + h, o1 + h, o1}, out);
        stone.Face({i0, i1, i1 + h, i0 + h}, out * -1.0f);
        // The snow on the rim, heaped a little over its middle, and lying on the well's floor.
        const Vec3f m0 = c + d0 * ((outer + inner) * 0.5f) + up * (wallTop + rim);
        const Vec3f m1 = c + d1 * ((outer + inner) * 0.5f) + up * (wallTop + rim);
        snow.Face({o0 + h, m0, m1, o1 + h}, out + up * 2.0f);
        snow.Face({m0, i0 + h, i1 + h, m1}, up * 2.0f - out);
        snow.Face({floor, floor + d1 * inner, floor + d0 * inner}, up);
    }
    parts.push_back(stone.Finish());

    // Two posts beside the wall, the beam between them, and the roof along x over them.
    PartBuilder wood("WellWood", "Timber", 10.0f);
    const float post = 0.8f, postX = outer + post + 0.3f, ridge = 27.0f, eaveY = 21.0f;
    const float roofHalfX = postX + 3.0f, roofHalfZ = 9.5f, k = 0.8f;
    for (float sx : {-1.0f, 1.0f}) {
        wood.Box({c.x + sx * postX - post, 0, c.z - post}, {c.x + sx * postX + post, ridge - k, c.z + post});
    }
    wood.Box({c.x - postX, 15.0f, c.z - 0.7f}, {c.x + postX, 16.4f, c.z + 0.7f}, true);
    const float xs[2] = {c.x - roofHalfX, c.x + roofHalfX};
    for (float sz : {-1.0f, 1.0f}) {
        const Vec3f eave0{xs[0], eaveY, c.z + sz * roofHalfZ}, eave1{xs[1], eaveY, c.z + sz * roofHalfZ};
        const Vec3f ridge0{xs[0], ridge, c.z}, ridge1{xs[1], ridge, c.z};
        const Vec3f slope = Normalize(Vec3f{0, roofHalfZ, sz * (ridge - eaveY)});
        snow.Face({eave0, ridge0, ridge1, eave1}, slope);
        snow.Face({eave0 - up * k, eave0, eave1, eave1 - up * k}, Vec3f{0, 0, sz});
        for (int end = 0; end < 2; ++end) {
            const Vec3f e = end == 0 ? eave0 : eave1, r = end == 0 ? ridge0 : ridge1;
            snow.Face({e - up * k, r - up * k, r, e}, Vec3f{end == 0 ? -1.0f : 1.0f, 0, 0});
        }
        wood.Face({eave0 - up * k, ridge0 - up * k, ridge1 - up * k, eave1 - up * k}, slope * -1.0f);
    }
    parts.push_back(wood.Finish());
    parts.push_back(snow.Finish());
}

// Small things in the yards (woodpiles), each tucked behind one of the tallest houses, on its
// side away from the nearest lane along x, where the house hides it from that lane: named "~"
// so that it is drawn only when a test of its box finds it in sight.
void YardThings(std::vector<MeshPart>& parts, const std::vector<Footprint>& gardens) {
    const auto buildings = village::Buildings();
    int n = 0;
    constexpr int kThings = 6;  // a few
    for (size_t i = 0; i + 2 < buildings.size() && n < kThings; ++i) {
        const village::Building& house = buildings[i];
        if (house.height < 85.0f) continue;
        // The block's middle: the houses stand 60 units from it on both axes.
        const float bx = std::round((house.centreX - 150.0f) / 300.0f) * 300.0f + 150.0f;
        const float bz = std::round((house.centreZ - 150.0f) / 300.0f) * 300.0f + 150.0f;
        const float sz = bz > house.centreZ ? 1.0f : -1.0f;
        const float x = house.centreX + (house.halfX - 9.0f) * (bx > house.centreX ? 1.0f : -1.0f);
        const float z = house.centreZ + sz * (house.halfZ + 7.0f);
        const float hx = 5.0f, hz = 3.0f, h = 5.0f;
        bool clear = true;
        for (const village::Building& b : buildings) {
            clear = clear && !(x - hx < b.centreX + b.halfX + 1 && x + hx > b.centreX - b.halfX - 1 &&
                               z - hz < b.centreZ + b.halfZ + 1 && z + hz > b.centreZ - b.halfZ - 1);
        }
        for (const Footprint& g : gardens) clear = clear && !g.Overlaps(x, z, std::max(hx, hz) + 1.0f);
        if (!clear) continue;
        PartBuilder pile(Numbered("~Woodpile", ++n), "Timber", 4.0f);
        // Logs stacked in three layers, each a little shorter.
        for (int layer = 0; layer < 3; ++layer) {
            const float inset = 0.6f * float(layer);
            pile.Box({x - hx + inset, h / 3 * float(layer), z - hz + inset}, {x + hx - inset, h / 3 * float(layer + 1), z + hz - inset},
                     layer == 0);
        }
        parts.push_back(pile.Finish());
    }
}

// The ground in tiles, each its own part with its own light map: a light map has at most 256
// texels a side, and one map over the whole ground would spread them too thin for the lamps'
// and windows' pools. Four tiles where the village stands and round them, among the firs,
// four strips, coarser, in two parts ("GroundFar"): every part is a draw call, and the views
// over the roofs see them all.
void Ground(std::vector<MeshPart>& parts) {
    // Cells small enough that the fog, worked out at the corners, bends smoothly over them.
    const float half = 1500.0f, step = 2.0f * half / 32.0f, inner = 750.0f;
    auto at = [](float x, float z) { return Vec3f{x, GroundHeight(x, z), z}; };
    int tiles = 0, farTiles = 0;
    auto tile = [&](PartBuilder& ground, float tx0, float tz0, float tx1, float tz1) {
        auto rectangle = [&](float x0, float x1, float z0, float z1) {
            if (x1 > x0 && z1 > z0) ground.Face({at(x0, z0), at(x0, z1), at(x1, z1), at(x1, z0)}, {0, 1, 0});
        };
        const int cellsX = int(std::lround((tx1 - tx0) / step)), cellsZ = int(std::lround((tz1 - tz0) / step));
        for (int i = 0; i < cellsX; ++i) {
            for (int j = 0; j < cellsZ; ++j) {
                const float x0 = tx0 + step * float(i), z0 = tz0 + step * float(j);
                const float x1 = x0 + step, z1 = z0 + step;
                // No snow under the square. Its cobbles draw in two passes, the first pushed
                // back by a depth bias that, at the distances the square is seen from, amounts
                // to units of distance, far more than the quarter unit it stands above the
                // ground: snow beneath would hide the cobbles and leave only the light map's
                // pass on the snow.
                if (x1 <= kSquareX0 || x0 >= kSquareX1 || z1 <= kSquareZ0 || z0 >= kSquareZ1) {
                    rectangle(x0, x1, z0, z1);
                    continue;
                }
                const float hx0 = std::max(x0, kSquareX0), hx1 = std::min(x1, kSquareX1);
                rectangle(x0, hx0, z0, z1);
                rectangle(hx1, x1, z0, z1);
                rectangle(hx0, hx1, z0, std::max(z0, kSquareZ0));
                rectangle(hx0, hx1, std::min(z1, kSquareZ1), z1);
            }
        }
    };
    for (float x : {-inner, 0.0f}) {
        for (float z : {-inner, 0.0f}) {
            PartBuilder ground(Numbered("Ground", ++tiles), "Snow", 8.0f);
            tile(ground, x, z, x + inner, z + inner);
            parts.push_back(ground.Finish());
        }
    }
    // The strips on opposite sides share a part (two charts in its map).
    for (bool alongX : {true, false}) {
        PartBuilder ground(Numbered("GroundFar", ++farTiles), "Snow", 8.0f);
        for (float side : {-1.0f, 1.0f}) {
            const float a = side < 0 ? -half : inner, b = side < 0 ? -inner : half;
            if (alongX) {
                tile(ground, -half, a, half, b);
            } else {
                tile(ground, a, -inner, b, inner);
            }
        }
        parts.push_back(ground.Finish());
    }
}

}  // namespace

bool IsBumped(const std::string& material) { return material == "Cobbles" || material == "Stone"; }

static_assert(kFlatHalfSize >= village::kVillageHalfSize, "the flights keep to flat ground");

float GroundHeight(float x, float z) {
    const float rise = Smooth(kFlatHalfSize, kFlatHalfSize + 250.0f, std::max(std::abs(x), std::abs(z)));
    if (rise <= 0.0f) return 0.0f;
    // Two long swells and a shorter one across them: in [0, 1].
    const float swell = 0.5f + 0.3f * std::sin(x * 0.004f + 1.3f) * std::cos(z * 0.0035f - 0.7f) +
                        0.2f * std::sin((x + z) * 0.009f + 0.4f);
    return rise * kHillHeight * swell;
}

std::vector<Vec3f> LampPositions() {
    // Beside the two middle lanes, just outside their open strips, in the gaps between the
    // houses of a block (the blocks' middles), alternating sides.
    std::vector<Vec3f> lamps;
    const float off = village::kLaneClearance + 5.0f;
    int k = 0;
    for (float along : {-450.0f, -150.0f, 150.0f, 450.0f}) {
        for (float side : {-1.0f, 1.0f}) {
            const float s = (k++ % 2 == 0) ? side : -side;
            lamps.push_back({along, 22.75f, s * off});
            lamps.push_back({s * off, 22.75f, along});
        }
    }
    return lamps;
}

std::vector<MeshPart> BuildVillage(uint32_t seed) {
    Random random(seed);
    std::vector<MeshPart> parts;
    Ground(parts);

    // Every building stands on its plan box: the houses first, then the nave and the tower.
    const auto buildings = village::Buildings();
    const size_t houseCount = buildings.size() - 2;
    for (size_t i = 0; i < houseCount; ++i) House(parts, int(i) + 1, buildings[i]);
    Church(parts, buildings[houseCount], buildings[houseCount + 1]);

    ChurchSquare(parts);
    Well(parts);

    // A fenced garden in the middle of every block that has room (between its four houses),
    // with bushes inside its corners.
    std::vector<Footprint> gardens;
    int fences = 0, bushes = 0;
    Random bushRandom(uint64_t(seed) ^ 0xB0B5ull);  // its own, so that the firs stay where they were
    for (int bx = 0; bx < 4; ++bx) {
        for (int bz = 0; bz < 4; ++bz) {
            const float cx = -450.0f + 300.0f * float(bx), cz = -450.0f + 300.0f * float(bz);
            const Footprint garden{cx - 14, cz - 14, cx + 14, cz + 14};
            bool clear = true;
            for (const village::Building& b : buildings) {
                clear = clear && !(garden.x0 < b.centreX + b.halfX + 2 && garden.x1 > b.centreX - b.halfX - 2 &&
                                   garden.z0 < b.centreZ + b.halfZ + 2 && garden.z1 > b.centreZ - b.halfZ - 2);
            }
            if (!clear) continue;
            Fence(parts, ++fences, garden);
            gardens.push_back(garden);
            for (float dx : {-8.0f, 8.0f}) {
                for (float dz : {-8.0f, 8.0f}) {
                    if (bushRandom.Below(3) == 0) continue;
                    Bush(parts, ++bushes, cx + dx, cz + dz, bushRandom.Uniform(10.0f, 15.0f), bushRandom.Uniform(0.0f, kPi));
                }
            }
        }
    }
    YardThings(parts, gardens);

    // Lamp posts beside the lanes.
    int posts = 0;
    for (const Vec3f& lamp : LampPositions()) LampPost(parts, ++posts, lamp.x, lamp.z);

    // Firs in a ring round the village, outside the outer lanes' open strips, so that no fir
    // stands in a lane or a flight.
    int firs = 0;
    const float inner = village::kVillageHalfSize + 20.0f;
    Random snowRandom(uint64_t(seed) ^ 0x5709ull);  // its own, so that the firs stay where they were
    for (int attempt = 0; attempt < 4000 && firs < 140; ++attempt) {
        const float x = random.Uniform(-1400.0f, 1400.0f), z = random.Uniform(-1400.0f, 1400.0f);
        if (std::max(std::abs(x), std::abs(z)) < inner) continue;
        // Sunk a unit into the slope, so no gap shows under the trunk's downhill side.
        const float ground = std::max(0.0f, GroundHeight(x, z) - 1.0f);
        Fir(parts, ++firs, x, z, ground, random.Uniform(45.0f, 90.0f), snowRandom);
    }
    return parts;
}

}  // namespace rh::villagebuild
