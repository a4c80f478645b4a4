// Light-map charts: faces in one plane that touch share a chart and their shared corners one
// light-map point (no seam); the density decides the map's size up to the largest, past which
// it grows coarser; every village part's charts lie inside their map in whole cells that no
// other chart touches; and a bake keeps each chart's light to itself at its edges and in the
// smaller mip levels.
#include "tools/lightbake/chart_layout.h"
#include "tools/lightbake/light_baker.h"
#include "tools/villagebuild/light_maps.h"
#include "tools/villagebuild/village_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace lb = rh::lightbake;
using lb::V3;

V3 Sub(V3 a, V3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
float Dot(V3 a, V3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

lb::LayoutFace Quad(V3 a, V3 b, V3 c, V3 d, V3 normal) { return {{a, b, c, d}, normal}; }

// A wall in the plane z = 0 from x 0 to 40, y 0 to 20; its gable on top; the floor before it.
const lb::LayoutFace kWall = Quad({0, 0, 0}, {0, 20, 0}, {40, 20, 0}, {40, 0, 0}, {0, 0, -1});
const lb::LayoutFace kGable{{{0, 20, 0}, {20, 30, 0}, {40, 20, 0}}, {0, 0, -1}};
const lb::LayoutFace kFarWall = Quad({100, 0, 0}, {100, 20, 0}, {140, 20, 0}, {140, 0, 0}, {0, 0, -1});
const lb::LayoutFace kFloor = Quad({0, 0, 0}, {0, 0, -30}, {40, 0, -30}, {40, 0, 0}, {0, 1, 0});

TEST(ChartLayout, FacesInOnePlaneThatTouchShareAChart) {
    const struct {
        const char* what;
        lb::LayoutFace second;
        bool shared;
    } cases[] = {
        {"a wall and its gable", kGable, true},
        {"two walls in one plane, apart", kFarWall, false},
        {"a wall and the floor at its foot", kFloor, false},
    };
    lb::LayoutRules rules;
    rules.unitsPerTexel = 1.0f;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const lb::Layout layout = lb::LayOutCharts({kWall, c.second}, rules);
        ASSERT_EQ(layout.uv.size(), 2u);
        EXPECT_EQ(layout.chart[0] == layout.chart[1], c.shared);
        EXPECT_EQ(layout.chartCount, c.shared ? 1 : 2);
        // Corners the faces share: one point of the map when the chart is shared, else apart.
        for (size_t i = 0; i < kWall.corners.size(); ++i) {
            for (size_t j = 0; j < c.second.corners.size(); ++j) {
                const V3 p = kWall.corners[i], q = c.second.corners[j];
                if (p.x != q.x || p.y != q.y || p.z != q.z) continue;
                const float du = layout.uv[0][i][0] - layout.uv[1][j][0], dv = layout.uv[0][i][1] - layout.uv[1][j][1];
                if (c.shared) {
                    EXPECT_NEAR(std::hypot(du, dv), 0.0f, 1e-6f);
                } else {
                    EXPECT_GE(std::hypot(du, dv) * float(layout.size), 2.0f * float(rules.padding));
                }
            }
        }
    }
}

// A ground with relief: cells at different slopes that touch make one chart, laid flat along
// y, their shared corners one point of the map; a wall standing on it stays apart.
TEST(ChartLayout, AHeightFieldsCellsShareAChartWhateverTheirSlopes) {
    const lb::LayoutFace flat = Quad({0, 0, 0}, {0, 0, 10}, {10, 0, 10}, {10, 0, 0}, {0, 1, 0});
    const float n = 1.0f / std::sqrt(1.0f + 0.09f);
    const lb::LayoutFace rising = Quad({10, 0, 0}, {10, 0, 10}, {20, 3, 10}, {20, 3, 0}, {-0.3f * n, n, 0});
    const lb::LayoutFace wall = Quad({0, 0, 0}, {0, 5, 0}, {10, 5, 0}, {10, 0, 0}, {0, 0, -1});
    lb::LayoutRules rules;
    rules.unitsPerTexel = 1.0f;
    rules.heightField = true;
    const lb::Layout layout = lb::LayOutCharts({flat, rising, wall}, rules);
    EXPECT_EQ(layout.chart[0], layout.chart[1]);
    EXPECT_NE(layout.chart[0], layout.chart[2]);
    // The shared edge: corners 3 and 2 of the flat cell are corners 0 and 1 of the rising one.
    for (const auto& [a, b] : {std::pair{3, 0}, {2, 1}}) {
        EXPECT_NEAR(layout.uv[0][size_t(a)][0], layout.uv[1][size_t(b)][0], 1e-6f);
        EXPECT_NEAR(layout.uv[0][size_t(a)][1], layout.uv[1][size_t(b)][1], 1e-6f);
    }
    rules.heightField = false;
    EXPECT_NE(lb::LayOutCharts({flat, rising}, rules).chart[1], 0u) << "in planes apart otherwise";
}

TEST(ChartLayout, TheDensityDecidesTheMapSizeUpToTheLargest) {
    const struct {
        float side;  // of one square face, in world units, at one unit a texel wanted
        int size;
        bool coarser;
    } cases[] = {
        {10, 32, false},     // far smaller than the smallest map
        {100, 128, false},   // 101 texel centres and the padding
        {123, 128, false},   // 124 texel centres (one on each edge) and the padding: just fits
        {124, 256, false},   // just does not
        {600, 256, true},    // too big for the largest map: coarser
    };
    lb::LayoutRules rules;
    rules.unitsPerTexel = 1.0f;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.side);
        const float s = c.side;
        const lb::Layout layout = lb::LayOutCharts({Quad({0, 0, 0}, {0, 0, s}, {s, 0, s}, {s, 0, 0}, {0, 1, 0})}, rules);
        EXPECT_EQ(layout.size, c.size);
        if (c.coarser) {
            EXPECT_GT(layout.unitsPerTexel, 1.0f);
            // No coarser than the map needs: the chart fills most of it.
            EXPECT_GT(s / layout.unitsPerTexel, 0.9f * float(layout.size - 2 * rules.padding));
        } else {
            EXPECT_EQ(layout.unitsPerTexel, 1.0f);
        }
        // The face's corners on texel centres, its texels at most a unit apart.
        float lo = 1, hi = 0;
        for (const auto& uv : layout.uv[0]) {
            for (float t : uv) {
                const float texels = t * float(layout.size) - 0.5f;
                EXPECT_NEAR(texels, std::round(texels), 1e-3f);
                lo = std::min(lo, t), hi = std::max(hi, t);
            }
        }
        EXPECT_NEAR((hi - lo) * float(layout.size), std::ceil(s / layout.unitsPerTexel - 1e-3f), 1e-3f);
    }
}

// The faces of a village part as its builder made them: each face's corners in a row, fanned
// from its first.
std::vector<std::vector<uint32_t>> FacesOf(const rh::villagebuild::MeshPart& part) {
    std::map<uint32_t, std::vector<uint32_t>> faces;
    for (size_t t = 0; t + 2 < part.indices.size(); t += 3) {
        auto& face = faces[part.indices[t]];
        if (face.empty()) face = {part.indices[t], part.indices[t + 1]};
        face.push_back(part.indices[t + 2]);
    }
    std::vector<std::vector<uint32_t>> out;
    for (auto& [first, corners] : faces) out.push_back(std::move(corners));
    return out;
}

// Every part: a map of 32 to 256 texels; its charts (faces whose texel boxes overlap or touch,
// grown by the padding) in cells of their own; the density alike over a part's big faces.
TEST(ChartLayout, VillagePartsKeepTheirChartsInCellsOfTheirOwn) {
    namespace vb = rh::villagebuild;
    const std::vector<vb::MeshPart> parts = vb::BuildVillage(vb::kVillageSeed);
    int ground = 0;
    for (const vb::MeshPart& part : parts) {
        SCOPED_TRACE(part.name);
        const int size = vb::LightMapSize(part);
        ASSERT_GE(size, 32);
        ASSERT_LE(size, 256);
        ASSERT_EQ(size & (size - 1), 0);
        const lb::LayoutRules rules = vb::LightChartRules(part.name);
        // Each face's texel box grown by the padding, and the cells it touches.
        std::map<int, std::set<size_t>> cellFaces;
        std::vector<std::array<int, 4>> boxes;
        float finest = 0, coarsest = 1e9f;
        for (const auto& face : FacesOf(part)) {
            float lo[2] = {1e9f, 1e9f}, hi[2] = {-1e9f, -1e9f};
            for (uint32_t i : face) {
                for (int a = 0; a < 2; ++a) {
                    const float t = part.vertices[i].lightUv[a] * float(size);
                    ASSERT_GE(t, 0.0f);
                    ASSERT_LE(t, float(size));
                    lo[a] = std::min(lo[a], t), hi[a] = std::max(hi[a], t);
                }
            }
            const int x0 = int(std::floor(lo[0] + 1e-3f)) - rules.padding, y0 = int(std::floor(lo[1] + 1e-3f)) - rules.padding;
            const int x1 = int(std::ceil(hi[0] - 1e-3f)) + rules.padding, y1 = int(std::ceil(hi[1] - 1e-3f)) + rules.padding;
            ASSERT_GE(x0, 0);
            ASSERT_GE(y0, 0);
            ASSERT_LE(x1, size);
            ASSERT_LE(y1, size);
            for (int cy = y0 / lb::kLayoutCell; cy <= (y1 - 1) / lb::kLayoutCell; ++cy) {
                for (int cx = x0 / lb::kLayoutCell; cx <= (x1 - 1) / lb::kLayoutCell; ++cx) {
                    cellFaces[cy * 1024 + cx].insert(boxes.size());
                }
            }
            boxes.push_back({x0, y0, x1, y1});
            // Texels per world unit along the face's first edge, on faces of ten texels or more.
            const V3 a{part.vertices[face[0]].position.x, part.vertices[face[0]].position.y, part.vertices[face[0]].position.z};
            const V3 b{part.vertices[face[1]].position.x, part.vertices[face[1]].position.y, part.vertices[face[1]].position.z};
            const float world = std::hypot(a.x - b.x, a.y - b.y, a.z - b.z);
            const float texels = std::hypot(part.vertices[face[0]].lightUv[0] - part.vertices[face[1]].lightUv[0],
                                            part.vertices[face[0]].lightUv[1] - part.vertices[face[1]].lightUv[1]) *
                                 float(size);
            if (texels >= 10.0f) {
                finest = std::max(finest, texels / world);
                coarsest = std::min(coarsest, texels / world);
            }
        }
        // Faces sharing a cell are one chart: their grown boxes overlap.
        for (const auto& [cell, faces] : cellFaces) {
            for (size_t f : faces) {
                bool joined = faces.size() == 1;
                for (size_t g : faces) {
                    if (g == f) continue;
                    const auto& p = boxes[f];
                    const auto& q = boxes[g];
                    joined = joined || (p[0] < q[2] && q[0] < p[2] && p[1] < q[3] && q[1] < p[3]);
                }
                EXPECT_TRUE(joined) << "cell " << cell % 1024 << ", " << cell / 1024 << " shared with another chart";
            }
        }
        if (finest > 0) {
            EXPECT_LT(finest / coarsest, 1.25f) << "one density over the part";
        }
        // The ground where the village stands: in tiles of the largest map, fine enough for the
        // pools of light.
        if (part.name.rfind("Ground", 0) == 0 && part.name.rfind("GroundFar", 0) != 0) {
            ++ground;
            EXPECT_EQ(size, 256);
            EXPECT_LE(1.0f / coarsest, 3.1f) << "units a texel on the ground";
        }
    }
    EXPECT_GT(ground, 1);
}

// Two parts side by side, each with its own map, under a lamp whose light falls off steeply
// across the edge they share: filtered at that edge, both maps give the same light (texel
// centres on the edge), though a texel's width away it changes a good deal.
TEST(ChartLayout, PartsThatMeetFilterToTheSameLightAtTheirEdge) {
    lb::Lighting lighting;
    lighting.floor = {0.05f, 0.05f, 0.05f};
    lighting.sky.samples = 0;
    lighting.moon.samples = 0;
    lighting.points.push_back({{0, 8, 10}, 0.001f, {1, 1, 1}, 1000.0f, 300.0f});
    lighting.pointSamples = 1;
    const lb::Baker baker({}, lighting);
    lb::LayoutRules rules;
    rules.unitsPerTexel = 2.0f;
    // Red at (u, v) in texels, filtered bilinearly as the texture units do.
    auto filtered = [](rh::texturemake::Picture& picture, int size, float u, float v) {
        const float x = u * float(size) - 0.5f, y = v * float(size) - 0.5f;
        const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
        const float fx = x - float(x0), fy = y - float(y0);
        auto at = [&](int px, int py) { return float(picture.At(std::clamp(px, 0, size - 1), std::clamp(py, 0, size - 1))[0]); };
        return (at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy) + (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy;
    };
    struct Part {
        lb::LayoutFace face;
        lb::Layout layout;
        rh::texturemake::Picture picture{1, 1};
        // Light-map coordinates of a point of the face, from its corners (a rectangle).
        std::array<float, 2> At(V3 p) const {
            const V3 o = face.corners[0], e1 = Sub(face.corners[1], o), e3 = Sub(face.corners[3], o);
            const float s = Dot(Sub(p, o), e1) / Dot(e1, e1), t = Dot(Sub(p, o), e3) / Dot(e3, e3);
            const auto& uv = layout.uv[0];
            return {uv[0][0] + (uv[1][0] - uv[0][0]) * s + (uv[3][0] - uv[0][0]) * t,
                    uv[0][1] + (uv[1][1] - uv[0][1]) * s + (uv[3][1] - uv[0][1]) * t};
        }
    };
    Part parts[2] = {{Quad({0, 0, 0}, {0, 0, 20}, {20, 0, 20}, {20, 0, 0}, {0, 1, 0}), {}},
                     {Quad({20, 0, 0}, {20, 0, 20}, {40, 0, 20}, {40, 0, 0}, {0, 1, 0}), {}}};
    for (Part& part : parts) {
        part.layout = lb::LayOutCharts({part.face}, rules);
        lb::Chart chart;
        for (size_t k = 0; k < 4; ++k) {
            chart.vertices.push_back({part.face.corners[k], part.face.normal, part.layout.uv[0][k][0], part.layout.uv[0][k][1]});
        }
        chart.indices = {0, 1, 2, 0, 2, 3};
        part.picture = baker.Bake(chart, part.layout.size, 3, 1);
    }
    for (float z : {1.0f, 7.0f, 10.0f, 13.0f, 19.0f}) {
        SCOPED_TRACE(z);
        const auto a = parts[0].At({20, 0, z}), b = parts[1].At({20, 0, z});
        const float left = filtered(parts[0].picture, parts[0].layout.size, a[0], a[1]);
        const float right = filtered(parts[1].picture, parts[1].layout.size, b[0], b[1]);
        EXPECT_NEAR(left, right, 1.5f);
        const auto c = parts[1].At({22, 0, z});
        EXPECT_GT(std::abs(filtered(parts[1].picture, parts[1].layout.size, c[0], c[1]) - right), 4.0f)
            << "a steep enough fall for a step to show";
    }
}

// Charts facing up in full moonlight (the moon overhead, nothing above) and one facing down
// (the floor light alone): after the bake, bilinear filtering one texel past the bright chart, and every
// texel of the next two mip levels over it, see only its own light.
TEST(ChartLayout, ABakeKeepsEachChartsLightAtItsEdgesAndInTheSmallerMipLevels) {
    lb::Lighting lighting;
    lighting.floor = {0.1f, 0.1f, 0.1f};
    lighting.sky.samples = 0;
    lighting.moon.toward = {0, 1, 0};
    lighting.moon.radius = 0.0f;
    lighting.moon.colour = {1.0f, 1.0f, 1.0f};
    const lb::Baker baker({}, lighting);
    const std::vector<lb::LayoutFace> faces = {
        Quad({0, 0, 0}, {0, 0, 13}, {13, 0, 13}, {13, 0, 0}, {0, 1, 0}),
        Quad({0, -5, 0}, {13, -5, 0}, {13, -5, 17}, {0, -5, 17}, {0, -1, 0}),
        Quad({20, 0, 0}, {20, 0, 7}, {27, 0, 7}, {27, 0, 0}, {0, 1, 0}),
    };
    lb::LayoutRules rules;
    rules.unitsPerTexel = 1.0f;
    const lb::Layout layout = lb::LayOutCharts(faces, rules);
    ASSERT_EQ(layout.chartCount, 3);
    lb::Chart chart;
    for (size_t f = 0; f < faces.size(); ++f) {
        const uint32_t first = uint32_t(chart.vertices.size());
        for (size_t k = 0; k < faces[f].corners.size(); ++k) {
            chart.vertices.push_back({faces[f].corners[k], faces[f].normal, layout.uv[f][k][0], layout.uv[f][k][1]});
        }
        chart.indices.insert(chart.indices.end(), {first, first + 1, first + 2, first, first + 2, first + 3});
    }
    const int size = layout.size;
    rh::texturemake::Picture picture = baker.Bake(chart, size, 1, 1);
    // Level 0's red channel, then two smaller levels, each texel the mean of four.
    std::vector<std::vector<float>> levels(1, std::vector<float>(size_t(size) * size_t(size)));
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) levels[0][size_t(y) * size_t(size) + size_t(x)] = picture.At(x, y)[0];
    }
    for (int level = 1, side = size / 2; level <= 2; ++level, side /= 2) {
        const std::vector<float>& above = levels.back();
        std::vector<float> next(size_t(side) * size_t(side));
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const auto at = [&](int dx, int dy) { return above[size_t(2 * y + dy) * size_t(2 * side) + size_t(2 * x + dx)]; };
                next[size_t(y) * size_t(side) + size_t(x)] = (at(0, 0) + at(1, 0) + at(0, 1) + at(1, 1)) / 4.0f;
            }
        }
        levels.push_back(std::move(next));
    }
    for (size_t f = 0; f < faces.size(); ++f) {
        SCOPED_TRACE(f);
        float lo[2] = {1e9f, 1e9f}, hi[2] = {-1e9f, -1e9f};
        for (const auto& uv : layout.uv[f]) {
            for (int a = 0; a < 2; ++a) lo[a] = std::min(lo[a], uv[a] * float(size)), hi[a] = std::max(hi[a], uv[a] * float(size));
        }
        // The chart's texels: from the one whose centre is its first corner to its last.
        const int cx0 = int(std::floor(lo[0])), cx1 = int(std::floor(hi[0]));
        const int cy0 = int(std::floor(lo[1])), cy1 = int(std::floor(hi[1]));
        const float own = levels[0][size_t(cy0) * size_t(size) + size_t(cx0)];
        // Level 0 one texel round the chart; levels 1 and 2 wherever they cover it.
        for (int level = 0; level <= 2; ++level) {
            const int side = size >> level;
            const int grow = level == 0 ? 1 : 0;
            const int x0 = (cx0 >> level) - grow, x1 = (cx1 >> level) + grow;
            const int y0 = (cy0 >> level) - grow, y1 = (cy1 >> level) + grow;
            for (int y = std::max(0, y0); y <= std::min(side - 1, y1); ++y) {
                for (int x = std::max(0, x0); x <= std::min(side - 1, x1); ++x) {
                    ASSERT_NEAR(levels[size_t(level)][size_t(y) * size_t(side) + size_t(x)], own, 1.0f)
                        << "level " << level << " at " << x << ", " << y;
                }
            }
        }
    }
    // The charts differ, or the test shows nothing.
    EXPECT_NE(picture.At(int(layout.uv[0][0][0] * float(size)), int(layout.uv[0][0][1] * float(size)))[0],
              picture.At(int(layout.uv[1][0][0] * float(size)), int(layout.uv[1][0][1] * float(size)))[0]);
}

}  // namespace
