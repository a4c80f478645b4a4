// Speed of frustum culling: every node of every frame runs the box test, and the camera view
// recomputes its matrices and planes once per frame. The peer of the box test is the
// centre-and-extent test.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "core/bounds/frustum.h"
#include "render/camera_view.h"

namespace {

constexpr int kBoxCount = 100000;

// A camera at the origin looking along a slanted direction, with boxes scattered through a
// cube around it so that roughly a quarter is visible, some cross a plane and most are outside.
struct Scene {
    CameraView view;
    std::vector<BoundingBox> boxes;

    Scene() {
        view.SetProjection(1, 1000, 1.0471976f, 4.0f / 3.0f);
        view.SetView(Vec3{0, 0, 0}, Vec3{0.3f, -0.2f, 1}, Vec3{0, 1, 0});
        std::mt19937 rng(5);
        std::uniform_real_distribution<float> position(-600, 600);
        std::uniform_real_distribution<float> size(0.5f, 40);
        boxes.resize(kBoxCount);
        for (BoundingBox& box : boxes) {
            box.centre = Vec3{position(rng), position(rng), position(rng) + 400};
            box.size = Vec3{size(rng), size(rng), size(rng)};
        }
    }
};

const Scene& TheScene() {
    static const Scene scene;
    return scene;
}

void ReportCodes(benchmark::State& state, const int (&counts)[6]) {
    state.counters["inside"] = counts[kBoxInside];
    state.counters["crossing"] = counts[kBoxCrossing];
    state.counters["outside"] = counts[kBoxOutside];
    state.SetItemsProcessed(state.iterations() * kBoxCount);
}

// Classifies every box of the scene per iteration with classify(box).
template <typename Classify>
void ClassifyScene(benchmark::State& state, Classify classify) {
    const Scene& scene = TheScene();
    int counts[6] = {};
    for (auto _ : state) {
        int local[6] = {};
        for (const BoundingBox& box : scene.boxes) {
            ++local[classify(box)];
        }
        benchmark::DoNotOptimize(local);
        std::copy(local, local + 6, counts);
    }
    ReportCodes(state, counts);
}

// The engine's test as culling runs it: the planes packed once per frame, the positive and
// negative corner of all six planes tested four planes at a time.
void BM_ClassifyBoxesAgainstFrustum(benchmark::State& state) {
    const PackedFrustum& frustum = TheScene().view.GetPackedFrustum();
    ClassifyScene(state, [&frustum](const BoundingBox& box) { return ClassifyBoxAgainstFrustum(box, frustum); });
}
BENCHMARK(BM_ClassifyBoxesAgainstFrustum);

// The peer: each plane against the box's centre and its half-size projected on the normal,
// |a| hx + |b| hy + |c| hz, stopping at the first plane the box is wholly behind. It answers
// these boxes as the engine does, though not every box: it rounds differently at ties.
void BM_ClassifyBoxesCentreAndExtent(benchmark::State& state) {
    const FrustumPlane* planes = TheScene().view.GetFrustumPlanes();
    ClassifyScene(state, [planes](const BoundingBox& box) {
        const float hx = box.size.x / 2, hy = box.size.y / 2, hz = box.size.z / 2;
        int32_t result = kBoxInside;
        for (int k = 0; k < kFrustumPlaneCount; ++k) {
            const FrustumPlane& p = planes[k];
            const float distance = p.a * box.centre.x + p.b * box.centre.y + p.c * box.centre.z + p.d;
            const float extent = std::fabs(p.a) * hx + std::fabs(p.b) * hy + std::fabs(p.c) * hz;
            if (distance + extent < 0) return kBoxOutside;
            if (distance - extent < 0) result = kBoxCrossing;
        }
        return result;
    });
}
BENCHMARK(BM_ClassifyBoxesCentreAndExtent);

// For comparison: the engine's test on the plane records, one plane after another (at most
// twelve corner tests per box), as a single box is tested without packing.
void BM_ClassifyBoxesAgainstPlaneRecords(benchmark::State& state) {
    const FrustumPlane* planes = TheScene().view.GetFrustumPlanes();
    ClassifyScene(state, [planes](const BoundingBox& box) { return ClassifyBoxAgainstFrustum(box, planes); });
}
BENCHMARK(BM_ClassifyBoxesAgainstPlaneRecords);

// For comparison: all eight corners against every plane, the test the corner indices save.
void BM_ClassifyBoxesAllCorners(benchmark::State& state) {
    const FrustumPlane* planes = TheScene().view.GetFrustumPlanes();
    ClassifyScene(state, [planes](const BoundingBox& box) {
        int32_t result = kBoxInside;
        for (int k = 0; k < kFrustumPlaneCount && result != kBoxOutside; ++k) {
            const FrustumPlane& p = planes[k];
            int behind = 0;
            for (int corner = 0; corner < 8; ++corner) {
                const Vec3 c = box.Corner(corner);
                behind += p.a * c.x + p.b * c.y + p.c * c.z < -p.d ? 1 : 0;
            }
            result = behind == 8 ? kBoxOutside : behind > 0 ? kBoxCrossing : result;
        }
        return result;
    });
}
BENCHMARK(BM_ClassifyBoxesAllCorners);

// One frame's recompute: the eye moves, the planes are read.
void BM_CameraViewRecompute(benchmark::State& state) {
    CameraView view;
    float z = 0;
    for (auto _ : state) {
        z += 0.01f;
        view.SetEye(Vec3{0, 0, z});
        benchmark::DoNotOptimize(view.GetFrustumPlanes());
    }
}
BENCHMARK(BM_CameraViewRecompute);

}  // namespace

BENCHMARK_MAIN();
