#include "tools/lightbake/chart_layout.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace rh::lightbake {

namespace {

V3 operator-(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator*(V3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
float Dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 Cross(V3 a, V3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
float Length(V3 a) { return std::sqrt(Dot(a, a)); }

constexpr int kCell = kLayoutCell;
// Faces are one plane within these (unit normals' dot product; distance along the normal).
constexpr float kSameNormal = 0.9999f;
constexpr float kSamePlane = 0.01f;
// Corners closer than this are one point.
constexpr float kSamePoint = 1e-3f;

int RoundUp(int n, int to) { return (n + to - 1) / to * to; }

// Union-find over the faces, each set a chart.
struct Sets {
    std::vector<uint32_t> parent;
    explicit Sets(size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0u); }
    uint32_t Find(uint32_t i) {
        while (parent[i] != i) i = parent[i] = parent[parent[i]];
        return i;
    }
    // The smaller index stays the root: the charts come out in the order of their first faces.
    void Join(uint32_t a, uint32_t b) {
        a = Find(a), b = Find(b);
        if (a != b) parent[std::max(a, b)] = std::min(a, b);
    }
};

bool Touch(const LayoutFace& a, const LayoutFace& b) {
    for (const V3& p : a.corners) {
        for (const V3& q : b.corners) {
            const V3 d = p - q;
            if (std::abs(d.x) < kSamePoint && std::abs(d.y) < kSamePoint && std::abs(d.z) < kSamePoint) return true;
        }
    }
    return false;
}

// One chart: its faces, the plane frame it is flattened in and its extent there (world units).
struct Island {
    std::vector<uint32_t> faces;
    V3 axisU, axisV;
    float minU = 0, minV = 0, extentU = 0, extentV = 0;
    // Placement at the density tried: the chart's texels and its block's corner.
    int width = 0, height = 0, blockWidth = 0, blockHeight = 0, x = 0, y = 0;
};

// The frame that gives the chart its smallest box: u along one of its faces' edges (the first
// of the smallest), v across it in the plane; u the longer side.
void Flatten(const std::vector<LayoutFace>& faces, bool heightField, Island* chart) {
    const V3 first = faces[chart->faces.front()].normal;
    const V3 normal = heightField && first.y > 0.0f ? V3{0, 1, 0} : first;
    float best = -1.0f;
    for (uint32_t f : chart->faces) {
        const std::vector<V3>& corners = faces[f].corners;
        for (size_t k = 0; k < corners.size(); ++k) {
            V3 edge = corners[(k + 1) % corners.size()] - corners[k];
            edge = edge - normal * Dot(edge, normal);
            const float length = Length(edge);
            if (length < kSamePoint) continue;
            const V3 u = edge * (1.0f / length);
            const V3 v = Cross(normal, u);
            float lo[2] = {1e30f, 1e30f}, hi[2] = {-1e30f, -1e30f};
            for (uint32_t g : chart->faces) {
                for (const V3& p : faces[g].corners) {
                    const float pu = Dot(p, u), pv = Dot(p, v);
                    lo[0] = std::min(lo[0], pu), hi[0] = std::max(hi[0], pu);
                    lo[1] = std::min(lo[1], pv), hi[1] = std::max(hi[1], pv);
                }
            }
            const float area = (hi[0] - lo[0]) * (hi[1] - lo[1]);
            if (best >= 0.0f && area >= best * 0.999f) continue;
            best = area;
            chart->axisU = u;
            chart->axisV = v;
            chart->minU = lo[0];
            chart->minV = lo[1];
            chart->extentU = hi[0] - lo[0];
            chart->extentV = hi[1] - lo[1];
        }
    }
    if (best < 0.0f) {
        // No edge of any length: a point. One texel.
        chart->axisU = {1, 0, 0};
        chart->axisV = {0, 0, 1};
        return;
    }
    if (chart->extentV > chart->extentU) {
        std::swap(chart->axisU, chart->axisV);
        std::swap(chart->minU, chart->minV);
        std::swap(chart->extentU, chart->extentV);
    }
}

// Shelves, tallest blocks first: whether every chart's block fits a size x size map.
bool Pack(std::vector<Island>& charts, const std::vector<uint32_t>& order, int size) {
    int x = 0, y = 0, shelf = 0;
    for (uint32_t c : order) {
        Island& chart = charts[c];
        if (chart.blockWidth > size) return false;
        if (x + chart.blockWidth > size) {
            x = 0;
            y += shelf;
            shelf = 0;
        }
        if (y + chart.blockHeight > size) return false;
        chart.x = x;
        chart.y = y;
        x += chart.blockWidth;
        shelf = std::max(shelf, chart.blockHeight);
    }
    return true;
}

}  // namespace

Layout LayOutCharts(const std::vector<LayoutFace>& faces, const LayoutRules& rules) {
    const uint32_t n = uint32_t(faces.size());
    Sets sets(n);
    std::vector<float> offsets(n);
    for (uint32_t i = 0; i < n; ++i) offsets[i] = faces[i].corners.empty() ? 0.0f : Dot(faces[i].normal, faces[i].corners[0]);
    for (uint32_t i = 0; i < n; ++i) {
        if (faces[i].corners.size() < 3) continue;
        for (uint32_t j = i + 1; j < n; ++j) {
            if (faces[j].corners.size() < 3 || sets.Find(i) == sets.Find(j)) continue;
            if (rules.heightField) {
                if (faces[i].normal.y <= 0.0f || faces[j].normal.y <= 0.0f) continue;
            } else {
                if (Dot(faces[i].normal, faces[j].normal) < kSameNormal) continue;
                if (std::abs(offsets[i] - offsets[j]) > kSamePlane) continue;
            }
            if (Touch(faces[i], faces[j])) sets.Join(i, j);
        }
    }

    Layout layout;
    layout.chart.resize(n);
    std::vector<Island> charts;
    std::vector<int> chartOfRoot(n, -1);
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t root = sets.Find(i);
        if (chartOfRoot[root] < 0) {
            chartOfRoot[root] = int(charts.size());
            charts.emplace_back();
        }
        layout.chart[i] = uint32_t(chartOfRoot[root]);
        charts[size_t(chartOfRoot[root])].faces.push_back(i);
    }
    layout.chartCount = int(charts.size());
    for (Island& chart : charts) {
        if (faces[chart.faces.front()].corners.size() >= 3) Flatten(faces, rules.heightField, &chart);
    }

    // The density wanted, in the smallest map that holds it; else coarser, in the largest.
    const int padding = std::max(0, rules.padding);
    float unit = std::max(rules.unitsPerTexel, 1e-4f);
    int size = std::max(rules.minSize, kCell);
    std::vector<uint32_t> order(charts.size());
    for (int attempt = 0;; ++attempt) {
        for (Island& chart : charts) {
            // Texel centres on both edges and at most `unit` apart between.
            chart.width = 1 + int(std::ceil(chart.extentU / unit - 1e-3f));
            chart.height = 1 + int(std::ceil(chart.extentV / unit - 1e-3f));
            chart.blockWidth = RoundUp(chart.width + 2 * padding, kCell);
            chart.blockHeight = RoundUp(chart.height + 2 * padding, kCell);
        }
        std::iota(order.begin(), order.end(), 0u);
        std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
            if (charts[a].blockHeight != charts[b].blockHeight) return charts[a].blockHeight > charts[b].blockHeight;
            return charts[a].blockWidth > charts[b].blockWidth;
        });
        if (Pack(charts, order, size)) break;
        if (size < rules.maxSize) {
            size *= 2;
        } else if (attempt < 1000) {
            unit *= 1.02f;
        } else {
            return Layout{};  // more charts than the largest map has blocks for
        }
    }
    layout.size = size;
    layout.unitsPerTexel = unit;

    // Each chart's box from the centre of its first texel to the centre of its last, so that
    // a chart's edge texels hold the light on the edge itself: where two charts (or two parts)
    // meet, filtering on either side reaches the same value at the shared edge.
    layout.uv.resize(n);
    const float scale = 1.0f / float(size);
    for (const Island& chart : charts) {
        const float left = float(chart.x + padding) + 0.5f, top = float(chart.y + padding) + 0.5f;
        const float su = chart.extentU > 0 ? float(chart.width - 1) / chart.extentU : 0.0f;
        const float sv = chart.extentV > 0 ? float(chart.height - 1) / chart.extentV : 0.0f;
        for (uint32_t f : chart.faces) {
            for (const V3& p : faces[f].corners) {
                const float tu = std::clamp((Dot(p, chart.axisU) - chart.minU) * su, 0.0f, float(chart.width - 1));
                const float tv = std::clamp((Dot(p, chart.axisV) - chart.minV) * sv, 0.0f, float(chart.height - 1));
                layout.uv[f].push_back({(left + tu) * scale, (top + tv) * scale});
            }
        }
    }
    return layout;
}

}  // namespace rh::lightbake
