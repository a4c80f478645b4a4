// The vertex-cache face order of our D3DX meshes against meshopt_optimizeVertexCache of the
// Debian package meshoptimizer, on a grid of 100,000 triangles written row by row; both
// produce the reordered index list. Then the whole ID3DXMesh::OptimizeInplace (face order,
// renumbering, vertex move and adjacency) on the same grid, for scale.
//
// Run with --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true so that the
// two sides share the machine's moods; compare per repetition.
#include <benchmark/benchmark.h>

#include "platform/d3dx9/vertex_cache.h"

#include <d3d9.h>
#include <d3dx9mesh.h>
#include <windows.h>

#include <meshoptimizer.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// 250 x 200 cells of two triangles.
struct Grid {
    static constexpr uint32_t kColumns = 250;
    static constexpr uint32_t kRows = 200;
    std::vector<uint32_t> indices;
    uint32_t vertexCount = (kColumns + 1) * (kRows + 1);

    Grid() {
        for (uint32_t y = 0; y < kRows; ++y) {
            for (uint32_t x = 0; x < kColumns; ++x) {
                const uint32_t a = y * (kColumns + 1) + x, b = a + 1, c = a + kColumns + 1, d = c + 1;
                indices.insert(indices.end(), {a, b, c, b, d, c});
            }
        }
    }
    size_t FaceCount() const { return indices.size() / 3; }
};

const Grid& TheGrid() {
    static const Grid grid;
    return grid;
}

void BM_OurFaceOrder(benchmark::State& state) {
    const Grid& grid = TheGrid();
    std::vector<uint32_t> order(grid.FaceCount());
    std::vector<uint32_t> out(grid.indices.size());
    for (auto _ : state) {
        rh::d3dx9::OrderFacesForVertexCache(grid.indices.data(), grid.FaceCount(), grid.vertexCount, order.data());
        for (size_t f = 0; f < order.size(); ++f) {
            std::memcpy(&out[3 * f], &grid.indices[3 * static_cast<size_t>(order[f])], 3 * sizeof(uint32_t));
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(grid.FaceCount()));
    state.counters["acmr16"] =
        meshopt_analyzeVertexCache(out.data(), out.size(), grid.vertexCount, 16, 0, 0).acmr;
}
BENCHMARK(BM_OurFaceOrder)->Unit(benchmark::kMillisecond);

void BM_MeshoptOptimizeVertexCache(benchmark::State& state) {
    const Grid& grid = TheGrid();
    std::vector<uint32_t> out(grid.indices.size());
    for (auto _ : state) {
        meshopt_optimizeVertexCache(out.data(), grid.indices.data(), grid.indices.size(), grid.vertexCount);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(grid.FaceCount()));
    state.counters["acmr16"] =
        meshopt_analyzeVertexCache(out.data(), out.size(), grid.vertexCount, 16, 0, 0).acmr;
}
BENCHMARK(BM_MeshoptOptimizeVertexCache)->Unit(benchmark::kMillisecond);

LRESULT CALLBACK BenchWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// D3DXCreateMesh needs a device, though the mesh stays in system memory.
struct Device {
    IDirect3D9* d3d = nullptr;
    HWND hwnd = nullptr;
    IDirect3DDevice9* device = nullptr;

    Device() {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        d3d = Direct3DCreate9(D3D_SDK_VERSION);
        WNDCLASSA wc{};
        wc.lpfnWndProc = BenchWindowProc;
        wc.lpszClassName = "MeshBench";
        RegisterClassA(&wc);
        hwnd = CreateWindowExA(0, "MeshBench", "bench", WS_POPUP | WS_VISIBLE, 0, 0, 64, 64, nullptr, nullptr, nullptr,
                               nullptr);
        if (d3d == nullptr || hwnd == nullptr) return;
        D3DPRESENT_PARAMETERS pp{};
        pp.Windowed = TRUE;
        pp.SwapEffect = D3DSWAPEFFECT_DISCARD;
        if (d3d->CreateDevice(0, D3DDEVTYPE_HAL, hwnd, D3DCREATE_HARDWARE_VERTEXPROCESSING, &pp, &device) != D3D_OK) {
            device = nullptr;
        }
    }
    ~Device() {
        if (device != nullptr) device->Release();
        if (hwnd != nullptr) DestroyWindow(hwnd);
        if (d3d != nullptr) d3d->Release();
    }
};

void BM_OptimizeInplace(benchmark::State& state) {
    Device device;
    if (device.device == nullptr) {
        state.SkipWithError("no Direct3D device");
        return;
    }
    const Grid& grid = TheGrid();
    // Position, normal and one texture set: 32 bytes, the engine's usual vertex.
    const D3DVERTEXELEMENT9 declaration[] = {
        {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
        {0, 12, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_NORMAL, 0},
        {0, 24, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
        D3DDECL_END()};
    ID3DXMesh* mesh = nullptr;
    if (D3DXCreateMesh(static_cast<DWORD>(grid.FaceCount()), grid.vertexCount,
                       D3DXMESH_SYSTEMMEM | D3DXMESH_DYNAMIC | D3DXMESH_32BIT, declaration, device.device,
                       &mesh) != D3D_OK) {
        state.SkipWithError("D3DXCreateMesh failed");
        return;
    }
    std::vector<DWORD> adjacency(grid.indices.size());
    for (auto _ : state) {
        state.PauseTiming();
        void* data = nullptr;
        mesh->LockIndexBuffer(D3DLOCK_DISCARD, &data);
        std::memcpy(data, grid.indices.data(), grid.indices.size() * sizeof(uint32_t));
        mesh->UnlockIndexBuffer();
        state.ResumeTiming();
        ID3DXBuffer* remap = nullptr;
        if (mesh->OptimizeInplace(D3DXMESHOPT_VERTEXCACHE, nullptr, adjacency.data(), nullptr, &remap) != D3D_OK) {
            state.SkipWithError("OptimizeInplace failed");
            break;
        }
        remap->Release();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(grid.FaceCount()));
    mesh->Release();
}
BENCHMARK(BM_OptimizeInplace)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
