// Speed of frustum culling: every node of every frame runs the box test, and the camera view
// recomputes its matrices and planes once per frame.
#include <benchmark/benchmark.h>

#include <algorithm>
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

// The positive and negative corner of each plane: at most twelve corner tests per box.
void BM_ClassifyBoxesAgainstFrustum(benchmark::State& state) {
    const Scene& scene = TheScene();
    const FrustumPlane* planes = scene.view.GetFrustumPlanes();
    int counts[6] = {};
    for (auto _ : state) {
        int local[6] = {};
        for (const BoundingBox& box : scene.boxes) {
            ++local[ClassifyBoxAgainstFrustum(box, planes)];
        }
        benchmark::DoNotOptimize(local);
        std::copy(local, local + 6, counts);
    }
    ReportCodes(state, counts);
}
BENCHMARK(BM_ClassifyBoxesAgainstFrustum);

// For comparison: all eight corners against every plane, the test the corner indices save.
void BM_ClassifyBoxesAllCorners(benchmark::State& state) {
    const Scene& scene = TheScene();
    const FrustumPlane* planes = scene.view.GetFrustumPlanes();
    int counts[6] = {};
    for (auto _ : state) {
        int local[6] = {};
        for (const BoundingBox& box : scene.boxes) {
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
            ++local[result];
        }
        benchmark::DoNotOptimize(local);
        std::copy(local, local + 6, counts);
    }
    ReportCodes(state, counts);
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
