// SkinnedMeshNode::SkinVertices on 20,000 vertices with two weight records each, written into
// a dynamic vertex buffer of our layer, against a plain loop of the same formula over float
// arrays into memory (no lock, no upload). Run interleaved:
//   rh_skinning_bench --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true
#include "tests/render/support/layer_app.h"

#include "render/material.h"
#include "render/mesh_data.h"
#include "scene/skinned_mesh_node.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int32_t kVertices = 20000;

constexpr D3DVERTEXELEMENT9 kLayout[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
    {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
    D3DDECL_END(),
};

TypedMatrix Bone(float degrees, float tx) {
    const float a = degrees * 3.14159265f / 180.0f;
    TypedMatrix m;
    const float rows[16] = {std::cos(a), std::sin(a), 0, 0, -std::sin(a), std::cos(a), 0, 0, 0, 0, 1, 0, tx, 1, 2, 1};
    std::memcpy(m.m, rows, sizeof rows);
    m.kind = kMatrixGeneral;
    return m;
}

// The same rest pose and skin for both sides.
struct Scene {
    std::vector<float> positions, normals;  // three floats a vertex
    SkinInfo skin;
    TypedMatrix bones[2] = {Bone(20.0f, 1.0f), Bone(-35.0f, -2.0f)};

    Scene() {
        std::mt19937 random(7);
        std::uniform_real_distribution<float> coordinate(-100.0f, 100.0f);
        std::uniform_real_distribution<float> share(0.0f, 1.0f);
        for (int32_t v = 0; v < kVertices; ++v) {
            for (int c = 0; c < 3; ++c) positions.push_back(coordinate(random));
            normals.insert(normals.end(), {0.0f, 0.6f, 0.8f});
            const float w = share(random);
            skin.firstWeight.push_back(2 * v);
            skin.weightCount.push_back(2);
            skin.weights.push_back({0, w});
            skin.weights.push_back({1, 1.0f - w});
        }
        skin.boneNames.At(0) = "A";
        skin.boneNames.At(1) = "B";
    }
};

Scene& TheScene() {
    static Scene scene;
    return scene;
}

void BM_SkinVertices(benchmark::State& state) {
    // The framework, so that device resources (the buffers) are made and restored as in the
    // program.
    rh::test::LayerApp app;
    if (!app.Open(64, 64)) {
        state.SkipWithError("no device");
        return;
    }
    Scene& scene = TheScene();
    {
        MeshData mesh;
        VertexFormat format;
        format.SetFromElements(kLayout);
        mesh.vertices.Allocate(kVertices, format);
        for (int32_t v = 0; v < kVertices; ++v) {
            std::memcpy(mesh.vertices.stream(0) + 32 * v, &scene.positions[size_t(3 * v)], 12);
            std::memcpy(mesh.vertices.stream(0) + 32 * v + 12, &scene.normals[size_t(3 * v)], 12);
        }
        const int32_t indexCount = kVertices / 3 * 3;
        mesh.indices.Allocate(indexCount, 2);
        for (int32_t i = 0; i < indexCount; ++i) {
            const uint16_t index = uint16_t(i);
            std::memcpy(mesh.indices.data() + 2 * i, &index, 2);
        }
        SkinnedMeshNode node;
        node.SetMeshData(&mesh, &scene.skin);
        node.GetGeometryDesc().InitFromMeshData(mesh, nullptr, true);
        node.BindBoneMatrices([&](const String& name) { return &scene.bones[name.Text()[0] == 'A' ? 0 : 1]; });
        RenderContext context;
        MultiMaterial material;
        material.SetRenderContext(&context);
        node.Render(&material);  // makes the drawn layout's geometry current
        for (auto _ : state) {
            if (!node.SkinVertices(&material)) {
                state.SkipWithError("skinning failed");
                break;
            }
        }
    }
    state.SetItemsProcessed(state.iterations() * kVertices);
}

void BM_PeerPlainLoop(benchmark::State& state) {
    Scene& scene = TheScene();
    std::vector<float> out(size_t(kVertices) * 8, 0.0f);
    const float* const mats[2] = {scene.bones[0].m, scene.bones[1].m};
    for (auto _ : state) {
        const float* p = scene.positions.data();
        const float* n = scene.normals.data();
        float* o = out.data();
        for (int32_t v = 0; v < kVertices; ++v, p += 3, n += 3, o += 8) {
            float P[3] = {0, 0, 0}, N[3] = {0, 0, 0};
            const SkinWeight* r = &scene.skin.weights[size_t(scene.skin.firstWeight[size_t(v)])];
            for (int32_t k = 0; k < scene.skin.weightCount[size_t(v)]; ++k) {
                const float* m = mats[r[k].bone];
                const float w = r[k].weight;
                const float h = p[0] * m[3] + p[1] * m[7] + p[2] * m[11] + m[15];
                for (int c = 0; c < 3; ++c) {
                    P[c] += w * (p[0] * m[c] + p[1] * m[4 + c] + p[2] * m[8 + c] + m[12 + c]) / h;
                    N[c] += w * (n[0] * m[c] + n[1] * m[4 + c] + n[2] * m[8 + c]);
                }
            }
            const float length2 = N[0] * N[0] + N[1] * N[1] + N[2] * N[2];
            const float inv = length2 > 0.0f ? 1.0f / std::sqrt(length2) : 0.0f;
            o[0] = P[0], o[1] = P[1], o[2] = P[2];
            o[3] = N[0] * inv, o[4] = N[1] * inv, o[5] = N[2] * inv;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kVertices);
}

BENCHMARK(BM_SkinVertices)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PeerPlainLoop)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
