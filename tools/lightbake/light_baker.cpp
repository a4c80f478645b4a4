#include "tools/lightbake/light_baker.h"

#include "tools/lightbake/chart_layout.h"

#include <sched.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <numeric>
#include <thread>
#include <unordered_map>

namespace rh::lightbake {

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kGoldenAngle = 2.39996323f;
// Within this many times the square root of an area light's area, its light changes fast
// enough to take more samples.
constexpr float kNearArea = 2.5f;
// Within this many radii of a lamp, likewise.
constexpr float kNearPoint = 25.0f;
// Rays start this far off their surface, so that they do not hit it again.
constexpr float kLift = 0.08f;

V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator*(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float Dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 Cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Length(V3 a) { return std::sqrt(Dot(a, a)); }
V3 Normalize(V3 a) {
    const float l = Length(a);
    return l > 0 ? a * (1.0f / l) : V3{0, 1, 0};
}
float Axis(V3 a, int axis) { return axis == 0 ? a.x : axis == 1 ? a.y : a.z; }

// Two unit vectors making a right-handed frame with n.
void Frame(V3 n, V3* u, V3* w) {
    const V3 helper = std::abs(n.y) < 0.9f ? V3{0, 1, 0} : V3{1, 0, 0};
    *u = Normalize(Cross(helper, n));
    *w = Cross(n, *u);
}

// A small integer hash and the [0, 1) values drawn from it.
uint32_t Mix(uint32_t h) {
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    h ^= h >> 15;
    h *= 0x846CA68Bu;
    h ^= h >> 16;
    return h;
}
struct Random {
    uint32_t state;
    float Next() {
        state = Mix(state + 0x9E3779B9u);
        return float(state >> 8) / float(1u << 24);
    }
};

struct Box {
    V3 lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
    void Add(V3 p) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
};

struct Node {
    Box box;
    uint32_t first = 0;  // leaf: first triangle; inner: the right child (the left is next)
    uint32_t count = 0;  // triangles of a leaf, 0 for an inner node
};

// Where the ray origin + t * direction meets the triangle from either side (Moller-Trumbore):
// t (with the hit's barycentric u and v), or a negative number when it misses.
float HitDistance(const Triangle& t, V3 origin, V3 direction, float* uOut = nullptr, float* vOut = nullptr) {
    const V3 e1 = t.b - t.a, e2 = t.c - t.a;
    const V3 p = Cross(direction, e2);
    const float det = Dot(e1, p);
    if (std::abs(det) < 1e-12f) return -1.0f;
    const float inv = 1.0f / det;
    const V3 s = origin - t.a;
    const float u = Dot(s, p) * inv;
    if (u < 0.0f || u > 1.0f) return -1.0f;
    const V3 q = Cross(s, e1);
    const float v = Dot(direction, q) * inv;
    if (v < 0.0f || u + v > 1.0f) return -1.0f;
    if (uOut != nullptr) *uOut = u;
    if (vOut != nullptr) *vOut = v;
    return Dot(e2, q) * inv;
}

}  // namespace

struct Bvh::Data {
    std::vector<Triangle> triangles;
    std::vector<uint32_t> original;  // each triangle's index in the list given
    std::vector<Node> nodes;

    uint32_t Build(std::vector<uint32_t>& order, uint32_t first, uint32_t count, const std::vector<V3>& centres) {
        const uint32_t index = uint32_t(nodes.size());
        nodes.push_back({});
        Box box, centreBox;
        for (uint32_t i = first; i < first + count; ++i) {
            const Triangle& t = triangles[order[i]];
            box.Add(t.a);
            box.Add(t.b);
            box.Add(t.c);
            centreBox.Add(centres[order[i]]);
        }
        nodes[index].box = box;
        if (count <= 4) {
            nodes[index].first = first;
            nodes[index].count = count;
            return index;
        }
        // Split at the median along the centres' longest extent (ties by index: one order).
        const V3 extent = centreBox.hi - centreBox.lo;
        const int axis = extent.x >= extent.y && extent.x >= extent.z ? 0 : extent.y >= extent.z ? 1 : 2;
        const uint32_t half = count / 2;
        std::nth_element(order.begin() + first, order.begin() + first + half, order.begin() + first + count,
                         [&](uint32_t a, uint32_t b) {
                             const float ca = Axis(centres[a], axis), cb = Axis(centres[b], axis);
                             return ca < cb || (ca == cb && a < b);
                         });
        Build(order, first, half, centres);
        const uint32_t right = Build(order, first + half, count - half, centres);
        nodes[index].first = right;
        nodes[index].count = 0;
        return index;
    }
};

Bvh::Bvh(std::vector<Triangle> triangles) : data_(new Data) {
    data_->triangles = std::move(triangles);
    const uint32_t n = uint32_t(data_->triangles.size());
    std::vector<V3> centres(n);
    for (uint32_t i = 0; i < n; ++i) {
        const Triangle& t = data_->triangles[i];
        centres[i] = (t.a + t.b + t.c) * (1.0f / 3.0f);
    }
    std::vector<uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    if (n > 0) data_->Build(order, 0, n, centres);
    // Leaves index the triangles directly: put them in the hierarchy's order.
    std::vector<Triangle> sorted(n);
    for (uint32_t i = 0; i < n; ++i) sorted[i] = data_->triangles[order[i]];
    data_->triangles = std::move(sorted);
    data_->original = std::move(order);
}

Bvh::~Bvh() = default;

size_t Bvh::triangleCount() const { return data_->triangles.size(); }

float Bvh::top() const { return data_->nodes.empty() ? 0.0f : data_->nodes[0].box.hi.y; }

bool Bvh::Occluded(V3 origin, V3 direction, float distance) const {
    const auto& nodes = data_->nodes;
    if (nodes.empty()) return false;
    const V3 inverse{1.0f / direction.x, 1.0f / direction.y, 1.0f / direction.z};
    std::array<uint32_t, 64> stack;
    int top = 0;
    stack[top++] = 0;
    while (top > 0) {
        const Node& node = nodes[stack[--top]];
        // Slab test against the box over (0, distance).
        float t0 = 0.0f, t1 = distance;
        bool miss = false;
        for (int axis = 0; axis < 3 && !miss; ++axis) {
            const float o = Axis(origin, axis), inv = Axis(inverse, axis);
            float near = (Axis(node.box.lo, axis) - o) * inv, far = (Axis(node.box.hi, axis) - o) * inv;
            if (near > far) std::swap(near, far);
            t0 = std::max(t0, near);
            t1 = std::min(t1, far);
            miss = t0 > t1;
        }
        if (miss) continue;
        if (node.count == 0) {
            const uint32_t self = uint32_t(&node - nodes.data());
            if (top + 2 > int(stack.size())) return false;  // deeper than any balanced tree here
            stack[top++] = node.first;
            stack[top++] = self + 1;
            continue;
        }
        for (uint32_t i = node.first; i < node.first + node.count; ++i) {
            const float hit = HitDistance(data_->triangles[i], origin, direction);
            if (hit > 1e-4f && hit < distance) return true;
        }
    }
    return false;
}

// Per pane and per area light, what every texel would otherwise work out again.
struct Baker::Prepared {
    struct PaneData {
        Box bounds;  // grown by the pane's depth
        V3 normal, u, v;  // u, v: the edges over their squared lengths
    };
    struct AreaData {
        V3 centre, normal;
        float size = 0;
    };
    std::vector<PaneData> panes;
    std::vector<AreaData> areas;
    // The panes by the cells of a grid over x and z that their bounds touch.
    static constexpr float kCell = 32.0f;
    std::unordered_map<int64_t, std::vector<uint32_t>> paneCells;
    // The area lights by the cells their range reaches, each cell's in the lights' order.
    std::unordered_map<int64_t, std::vector<uint32_t>> areaCells;
    static int64_t Key(int cx, int cz) { return (int64_t(cx) << 32) ^ int64_t(uint32_t(cz)); }
};

Baker::Baker(std::vector<Triangle> triangles, Lighting lighting)
    : bvh_(std::move(triangles)), lighting_(std::move(lighting)), prepared_(new Prepared) {
    for (const Pane& pane : lighting_.panes) {
        Prepared::PaneData d;
        d.normal = Normalize(Cross(pane.edgeU, pane.edgeV));
        d.u = pane.edgeU * (1.0f / Dot(pane.edgeU, pane.edgeU));
        d.v = pane.edgeV * (1.0f / Dot(pane.edgeV, pane.edgeV));
        for (V3 corner : {pane.corner, pane.corner + pane.edgeU, pane.corner + pane.edgeV,
                          pane.corner + pane.edgeU + pane.edgeV}) {
            d.bounds.Add(corner + d.normal * pane.depth);
            d.bounds.Add(corner - d.normal * pane.depth);
        }
        const int x0 = int(std::floor(d.bounds.lo.x / Prepared::kCell)), x1 = int(std::floor(d.bounds.hi.x / Prepared::kCell));
        const int z0 = int(std::floor(d.bounds.lo.z / Prepared::kCell)), z1 = int(std::floor(d.bounds.hi.z / Prepared::kCell));
        for (int cx = x0; cx <= x1; ++cx) {
            for (int cz = z0; cz <= z1; ++cz) {
                prepared_->paneCells[Prepared::Key(cx, cz)].push_back(uint32_t(prepared_->panes.size()));
            }
        }
        prepared_->panes.push_back(d);
    }
    for (const AreaLight& area : lighting_.areas) {
        const V3 cross = Cross(area.edgeU, area.edgeV);
        Prepared::AreaData d;
        d.size = Length(cross);
        d.normal = cross * (1.0f / d.size);
        d.centre = area.corner + (area.edgeU + area.edgeV) * 0.5f;
        const int x0 = int(std::floor((d.centre.x - area.range) / Prepared::kCell));
        const int x1 = int(std::floor((d.centre.x + area.range) / Prepared::kCell));
        const int z0 = int(std::floor((d.centre.z - area.range) / Prepared::kCell));
        const int z1 = int(std::floor((d.centre.z + area.range) / Prepared::kCell));
        for (int cx = x0; cx <= x1; ++cx) {
            for (int cz = z0; cz <= z1; ++cz) {
                prepared_->areaCells[Prepared::Key(cx, cz)].push_back(uint32_t(prepared_->areas.size()));
            }
        }
        prepared_->areas.push_back(d);
    }
}

Baker::~Baker() = default;

bool Bvh::Intersect(V3 origin, V3 direction, float distance, Hit* hit) const {
    const auto& nodes = data_->nodes;
    if (nodes.empty()) return false;
    const V3 inverse{1.0f / direction.x, 1.0f / direction.y, 1.0f / direction.z};
    std::array<uint32_t, 64> stack;
    int top = 0;
    stack[top++] = 0;
    bool found = false;
    float nearest = distance;
    while (top > 0) {
        const Node& node = nodes[stack[--top]];
        float t0 = 0.0f, t1 = nearest;
        bool miss = false;
        for (int axis = 0; axis < 3 && !miss; ++axis) {
            const float o = Axis(origin, axis), inv = Axis(inverse, axis);
            float near = (Axis(node.box.lo, axis) - o) * inv, far = (Axis(node.box.hi, axis) - o) * inv;
            if (near > far) std::swap(near, far);
            t0 = std::max(t0, near);
            t1 = std::min(t1, far);
            miss = t0 > t1;
        }
        if (miss) continue;
        if (node.count == 0) {
            const uint32_t self = uint32_t(&node - nodes.data());
            if (top + 2 > int(stack.size())) continue;
            stack[top++] = node.first;
            stack[top++] = self + 1;
            continue;
        }
        for (uint32_t i = node.first; i < node.first + node.count; ++i) {
            float u = 0.0f, v = 0.0f;
            const float at = HitDistance(data_->triangles[i], origin, direction, &u, &v);
            if (at > 1e-4f && at < nearest) {
                nearest = at;
                found = true;
                hit->triangle = data_->original[i];
                hit->t = at;
                hit->u = u;
                hit->v = v;
            }
        }
    }
    return found;
}

const Pane* Baker::PaneAt(V3 p) const {
    const auto cell = prepared_->paneCells.find(
        Prepared::Key(int(std::floor(p.x / Prepared::kCell)), int(std::floor(p.z / Prepared::kCell))));
    if (cell == prepared_->paneCells.end()) return nullptr;
    for (uint32_t i : cell->second) {
        const Prepared::PaneData& pd = prepared_->panes[i];
        if (p.x < pd.bounds.lo.x || p.y < pd.bounds.lo.y || p.z < pd.bounds.lo.z || p.x > pd.bounds.hi.x ||
            p.y > pd.bounds.hi.y || p.z > pd.bounds.hi.z) {
            continue;
        }
        const Pane& pane = lighting_.panes[i];
        const V3 d = p - pane.corner;
        if (std::abs(Dot(d, pd.normal)) > pane.depth) continue;
        const float s = Dot(d, pd.u), t = Dot(d, pd.v);
        if (s >= 0.0f && s <= 1.0f && t >= 0.0f && t <= 1.0f) return &pane;
    }
    return nullptr;
}

bool Baker::OnPane(V3 p) const { return PaneAt(p) != nullptr; }

V3 Baker::LightAt(V3 p, V3 n, uint32_t seed) const {
    if (const Pane* pane = PaneAt(p)) return pane->light;
    return LightOffPanes(p, n, seed);
}

V3 Baker::LightOffPanes(V3 p, V3 n, uint32_t seed) const {
    const Lighting& lighting = lighting_;
    const Bvh& bvh = bvh_;
    Random random{Mix(seed)};
    const V3 origin = p + n * kLift;
    V3 light = lighting.floor;
    V3 u, w;
    Frame(n, &u, &w);

    // Sky: cosine-weighted directions round the normal, turned by a per-point angle.
    if (lighting.sky.samples > 0) {
        const int count = lighting.sky.samples;
        const float turn = 2.0f * kPi * random.Next();
        int open = 0;
        for (int i = 0; i < count; ++i) {
            const float r = std::sqrt((float(i) + random.Next()) / float(count));
            const float a = turn + kGoldenAngle * float(i);
            const V3 d = Normalize(u * (r * std::cos(a)) + w * (r * std::sin(a)) + n * std::sqrt(std::max(0.0f, 1.0f - r * r)));
            if (d.y < -0.05f) continue;  // below the horizon: the ground, not the sky
            if (!bvh.Occluded(origin, d, lighting.sky.range)) ++open;
        }
        light = light + lighting.sky.colour * (float(open) / float(count));
    }

    // The moon: points of its disc, turned by a per-point angle.
    const DistantLight& moon = lighting.moon;
    const float facing = Dot(n, moon.toward);
    if (moon.samples > 0 && facing > 0.0f) {
        // A rising ray has nothing more to hit once it is above everything.
        const float reach = moon.toward.y > 0.01f ? std::max(1.0f, (bvh.top() - origin.y) / (moon.toward.y * 0.9f)) : 1e5f;
        V3 mu, mw;
        Frame(moon.toward, &mu, &mw);
        const float turn = 2.0f * kPi * random.Next();
        int open = 0;
        for (int i = 0; i < moon.samples; ++i) {
            const float r = moon.radius * std::sqrt((float(i) + 0.5f) / float(moon.samples));
            const float a = turn + kGoldenAngle * float(i);
            const V3 d = Normalize(moon.toward + mu * (r * std::cos(a)) + mw * (r * std::sin(a)));
            if (!bvh.Occluded(origin, d, reach)) ++open;
        }
        light = light + moon.colour * (facing * float(open) / float(moon.samples));
    }

    // Lamps: points on their spheres.
    for (const PointLight& lamp : lighting.points) {
        const V3 toLamp = lamp.position - p;
        const float d2 = Dot(toLamp, toLamp);
        if (d2 > lamp.range * lamp.range) continue;
        const float d = std::sqrt(d2);
        const float cosine = Dot(n, toLamp) / std::max(d, 1e-3f);
        if (cosine <= 0.0f) continue;
        // Close to the lamp, where what stands beside it (its own post) casts a shadow whose
        // edge the samples' grain would break up, four times the samples.
        const int samples = d < kNearPoint * lamp.radius ? 4 * lighting.pointSamples : lighting.pointSamples;
        int open = 0;
        for (int i = 0; i < samples; ++i) {
            const V3 jitter{random.Next() - 0.5f, random.Next() - 0.5f, random.Next() - 0.5f};
            const V3 target = lamp.position + jitter * (2.0f * lamp.radius);
            const V3 ray = target - origin;
            const float length = Length(ray);
            if (!bvh.Occluded(origin, ray * (1.0f / length), length - lamp.radius)) ++open;
        }
        // The range ends softly over its last fifth.
        const float edge = std::clamp((lamp.range - d) / (0.2f * lamp.range), 0.0f, 1.0f);
        const float s = lamp.power * cosine / (d2 + lamp.radius * lamp.radius) * edge * float(open) / float(samples);
        light = light + lamp.colour * s;
    }

    // Area lights: stratified points of their rectangles; close by, where their light changes
    // fast, areaSamples x areaSamples of them, further off one.
    const auto nearby = prepared_->areaCells.find(
        Prepared::Key(int(std::floor(p.x / Prepared::kCell)), int(std::floor(p.z / Prepared::kCell))));
    static const std::vector<uint32_t> kNone;
    for (uint32_t a : nearby != prepared_->areaCells.end() ? nearby->second : kNone) {
        const AreaLight& area = lighting.areas[a];
        const Prepared::AreaData& ad = prepared_->areas[a];
        const V3 toCentre = ad.centre - p;
        const float centre2 = Dot(toCentre, toCentre);
        if (centre2 > area.range * area.range) continue;
        if (Dot(ad.normal, p - area.corner) <= 0.0f) continue;  // behind the light
        const int k = centre2 < kNearArea * kNearArea * ad.size ? lighting.areaSamples : 1;
        float sum = 0.0f;
        for (int i = 0; i < k; ++i) {
            for (int j = 0; j < k; ++j) {
                const float s = (float(i) + random.Next()) / float(k), t = (float(j) + random.Next()) / float(k);
                const V3 target = area.corner + area.edgeU * s + area.edgeV * t;
                const V3 ray = target - origin;
                const float d2 = Dot(ray, ray);
                const float length = std::sqrt(d2);
                const V3 dir = ray * (1.0f / length);
                const float receive = Dot(n, dir), emit = -Dot(ad.normal, dir);
                if (receive <= 0.0f || emit <= 0.0f) continue;
                if (bvh.Occluded(origin, dir, length - 0.05f)) continue;
                sum += receive * emit / (d2 + 1.0f);
            }
        }
        const float edge = std::clamp((area.range - std::sqrt(centre2)) / (0.2f * area.range), 0.0f, 1.0f);
        light = light + area.colour * (area.radiance * ad.size * sum / float(k * k) * edge);
    }
    return light;
}

int AvailableThreads() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
    return std::max(1u, std::thread::hardware_concurrency());
}

namespace {

uint8_t Encode(float light) {
    // Linear to 1.5, then a soft shoulder towards 2 (255), so bright pools do not flatten.
    const float shaped = light <= 1.5f ? light : 1.5f + 0.5f * std::tanh((light - 1.5f) / 0.5f);
    return uint8_t(std::clamp(128.0f * shaped + 0.5f, 0.0f, 255.0f));
}

}  // namespace

rh::texturemake::Picture Baker::Bake(const Chart& chart, int size, uint32_t seed, int threads) const {
    rh::texturemake::Picture picture(size, size);
    // Where each texel lies: the point of its triangle under the texel's centre; else, for a
    // texel whose square a triangle still touches (its centre within half a diagonal of it),
    // the triangle's point nearest the centre, so that texel centres on a chart's edge (where
    // the layout puts them) and texels cut by a slanted edge hold the light at the edge.
    struct Sample {
        V3 position, normal;
        bool used = false;
        bool pane = false;  // on an emitting pane: kept sharp
    };
    std::vector<Sample> samples(size_t(size) * size_t(size));
    constexpr float kTouch = 0.7072f;
    std::vector<float> nearest(samples.size(), kTouch);
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t t = 0; t + 2 < chart.indices.size(); t += 3) {
            const ChartVertex& a = chart.vertices[chart.indices[t]];
            const ChartVertex& b = chart.vertices[chart.indices[t + 1]];
            const ChartVertex& c = chart.vertices[chart.indices[t + 2]];
            const float ax = a.u * size, ay = a.v * size, bx = b.u * size, by = b.v * size, cx = c.u * size, cy = c.v * size;
            const float area = (bx - ax) * (cy - ay) - (cx - ax) * (by - ay);
            if (std::abs(area) < 1e-9f) continue;
            const V3 normal = Normalize(a.normal + b.normal + c.normal);
            const int x0 = std::max(0, int(std::floor(std::min({ax, bx, cx}))) - 1);
            const int x1 = std::min(size - 1, int(std::ceil(std::max({ax, bx, cx}))) + 1);
            const int y0 = std::max(0, int(std::floor(std::min({ay, by, cy}))) - 1);
            const int y1 = std::min(size - 1, int(std::ceil(std::max({ay, by, cy}))) + 1);
            for (int y = y0; y <= y1; ++y) {
                for (int x = x0; x <= x1; ++x) {
                    const size_t i = size_t(y) * size_t(size) + size_t(x);
                    Sample& s = samples[i];
                    if (pass == 1 && s.used && nearest[i] == 0.0f) continue;
                    float px = float(x) + 0.5f, py = float(y) + 0.5f;
                    float wb = ((px - ax) * (cy - ay) - (cx - ax) * (py - ay)) / area;
                    float wc = ((bx - ax) * (py - ay) - (px - ax) * (by - ay)) / area;
                    float wa = 1.0f - wb - wc;
                    const bool inside = wa >= 0.0f && wb >= 0.0f && wc >= 0.0f;
                    if (pass == 0) {
                        if (!inside) continue;
                        nearest[i] = 0.0f;
                    } else {
                        if (inside) continue;
                        // The nearest point of the triangle's three edges.
                        const float corners[3][2] = {{ax, ay}, {bx, by}, {cx, cy}};
                        float best = nearest[i], bu = 0, bv = 0;
                        bool found = false;
                        for (int e = 0; e < 3; ++e) {
                            const float* p0 = corners[e];
                            const float* p1 = corners[(e + 1) % 3];
                            const float ex = p1[0] - p0[0], ey = p1[1] - p0[1];
                            const float length2 = ex * ex + ey * ey;
                            const float k = length2 > 0 ? std::clamp(((px - p0[0]) * ex + (py - p0[1]) * ey) / length2, 0.0f, 1.0f) : 0.0f;
                            const float qx = p0[0] + ex * k, qy = p0[1] + ey * k;
                            const float d = std::hypot(px - qx, py - qy);
                            if (d < best) {
                                best = d;
                                bu = qx;
                                bv = qy;
                                found = true;
                            }
                        }
                        if (!found) continue;
                        nearest[i] = best;
                        px = bu, py = bv;
                        wb = std::clamp(((px - ax) * (cy - ay) - (cx - ax) * (py - ay)) / area, 0.0f, 1.0f);
                        wc = std::clamp(((bx - ax) * (py - ay) - (px - ax) * (by - ay)) / area, 0.0f, 1.0f - wb);
                        wa = 1.0f - wb - wc;
                    }
                    s.position = a.position * wa + b.position * wb + c.position * wc;
                    s.normal = normal;
                    s.used = true;
                }
            }
        }
    }

    // The charts as the texels show them: runs of covered texels that touch (the layout keeps a
    // gutter between charts), so that smoothing runs across a chart's faces but not onto the next.
    std::vector<uint32_t> island(samples.size(), 0);
    {
        uint32_t next = 0;
        std::vector<size_t> stack;
        for (size_t start = 0; start < samples.size(); ++start) {
            if (!samples[start].used || island[start] != 0) continue;
            island[start] = ++next;
            stack.push_back(start);
            while (!stack.empty()) {
                const size_t i = stack.back();
                stack.pop_back();
                const int x = int(i % size_t(size)), y = int(i / size_t(size));
                for (int ny = std::max(0, y - 1); ny <= std::min(size - 1, y + 1); ++ny) {
                    for (int nx = std::max(0, x - 1); nx <= std::min(size - 1, x + 1); ++nx) {
                        const size_t j = size_t(ny) * size_t(size) + size_t(nx);
                        if (!samples[j].used || island[j] != 0) continue;
                        island[j] = next;
                        stack.push_back(j);
                    }
                }
            }
        }
    }

    // Rows shared out among the threads; each texel is its own work.
    std::vector<V3> lights(samples.size());
    std::atomic<int> nextRow{0};
    auto work = [&] {
        for (int y = nextRow++; y < size; y = nextRow++) {
            for (int x = 0; x < size; ++x) {
                const size_t i = size_t(y) * size_t(size) + size_t(x);
                if (!samples[i].used) continue;
                const uint32_t texelSeed = Mix(seed * 0x9E3779B1u ^ Mix(uint32_t(i)));
                const Pane* pane = PaneAt(samples[i].position);
                samples[i].pane = pane != nullptr;
                lights[i] = pane != nullptr ? pane->light : LightOffPanes(samples[i].position, samples[i].normal, texelSeed);
            }
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < std::max(1, threads); ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();

    // The sampling's grain smoothed: each texel the mean of itself and its eight neighbours on
    // the same chart (light does not leak from one chart onto the next), panes and what is
    // round them apart, so that windows keep their edges. A neighbour missing (past the
    // chart's edge) counts with its opposite as twice the texel itself, as if the light ran on
    // along the same slope, so that an edge texel keeps the light at the edge and two charts
    // meeting there agree.
    std::vector<uint8_t> filled(samples.size(), 0);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const size_t i = size_t(y) * size_t(size) + size_t(x);
            if (!samples[i].used) continue;
            auto alike = [&](int nx, int ny) -> const V3* {
                if (nx < 0 || ny < 0 || nx >= size || ny >= size) return nullptr;
                const size_t j = size_t(ny) * size_t(size) + size_t(nx);
                if (!samples[j].used || island[j] != island[i] || samples[j].pane != samples[i].pane) return nullptr;
                return &lights[j];
            };
            V3 sum = lights[i];
            for (const auto& [dx, dy] : {std::pair{1, 0}, {0, 1}, {1, 1}, {1, -1}}) {
                const V3* ahead = alike(x + dx, y + dy);
                const V3* behind = alike(x - dx, y - dy);
                sum = ahead != nullptr && behind != nullptr ? sum + *ahead + *behind : sum + lights[i] * 2.0f;
            }
            const V3 light = sum * (1.0f / 9.0f);
            uint8_t* texel = picture.At(x, y);
            texel[0] = Encode(light.x);
            texel[1] = Encode(light.y);
            texel[2] = Encode(light.z);
            texel[3] = 255;
            filled[i] = 1;
        }
    }

    // Empty texels take the values of the nearest chart texels, breadth first from the charts'
    // edges, so that bilinear filtering at a chart's edge and the smaller mip levels, which
    // average over the gutters, see the chart's own light. First within each of the layout's
    // cells (a cell holds at most one chart), so that a mip texel over a chart, up to the
    // cells' size, averages that chart alone; then the cells with no chart texel, from the
    // nearest.
    auto grow = [&](std::vector<size_t>& queue, int x0, int y0, int x1, int y1) {
        for (size_t head = 0; head < queue.size(); ++head) {
            const size_t i = queue[head];
            const int x = int(i % size_t(size)), y = int(i / size_t(size));
            for (const auto& [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
                const int nx = x + dx, ny = y + dy;
                if (nx < x0 || ny < y0 || nx >= x1 || ny >= y1) continue;
                const size_t j = size_t(ny) * size_t(size) + size_t(nx);
                if (filled[j]) continue;
                filled[j] = 1;
                std::copy_n(picture.At(x, y), 4, picture.At(nx, ny));
                queue.push_back(j);
            }
        }
    };
    std::vector<size_t> queue;
    queue.reserve(samples.size());
    for (int cy = 0; cy < size; cy += kLayoutCell) {
        for (int cx = 0; cx < size; cx += kLayoutCell) {
            const int x1 = std::min(size, cx + kLayoutCell), y1 = std::min(size, cy + kLayoutCell);
            queue.clear();
            for (int y = cy; y < y1; ++y) {
                for (int x = cx; x < x1; ++x) {
                    if (filled[size_t(y) * size_t(size) + size_t(x)]) queue.push_back(size_t(y) * size_t(size) + size_t(x));
                }
            }
            grow(queue, cx, cy, x1, y1);
        }
    }
    queue.clear();
    for (size_t i = 0; i < samples.size(); ++i) {
        if (filled[i]) queue.push_back(i);
    }
    grow(queue, 0, 0, size, size);
    // A chart without a texel: neutral.
    for (size_t i = 0; i < samples.size(); ++i) {
        if (filled[i]) continue;
        uint8_t* texel = picture.At(int(i % size_t(size)), int(i / size_t(size)));
        texel[0] = texel[1] = texel[2] = 128;
        texel[3] = 255;
    }
    return picture;
}

}  // namespace rh::lightbake
