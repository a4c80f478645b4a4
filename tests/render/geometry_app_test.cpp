// The geometry path as the saver uses it, on the real layer: an application on AppFramework
// draws a hundred meshes with D3DCOLOR vertices from MeshData through a GeometryBufferCache to
// Geometry::DrawGeometry, each with its own world transform, in a 10 x 10 grid of cells. Their
// index counts lie on both sides of 32,767 (16- and 32-bit buffers) and half of them are
// converted to the fixed-function render layout on upload. Each cell's inner area is read back.
// Two 10,000,000-byte geometries then evict each other (and the grid's oldest uploads); a
// forced loss and reset refills every uploaded block once and the next frame equals the last;
// a hundred loss cycles leave every count where it was.
//
// Runs offscreen, and again under a real X server when one is there. With RIMEHOLT_FRAME_DIR
// set, the frames are also written there as PPM files.
#include "render/geometry_buffer_cache.h"

#include "tests/render/support/layer_app.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using rh::test::LayerApp;
using rh::test::Rgb;
namespace layer = rh::d3d9::testing;

constexpr int kColumns = 10;
constexpr int kRows = 10;
constexpr int kCellWidth = 40;
constexpr int kCellHeight = 30;
constexpr int kGridHeight = kRows * kCellHeight;
// Below the grid, a strip where the two large geometries show.
constexpr int kWidth = kColumns * kCellWidth;
constexpr int kHeight = kGridHeight + 40;
constexpr int kMeshes = kColumns * kRows;

constexpr D3DVERTEXELEMENT9 kPositionColour[] = {
    {0, 0, D3DDECLTYPE_FLOAT3, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
    {0, 12, D3DDECLTYPE_D3DCOLOR, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_COLOR, 0},
    D3DDECL_END(),
};

// Refills are recorded in the order the buffers ask for them.
class RecordingCache : public GeometryBufferCache {
public:
    bool OnBlockMoved(BufferBlock* block) override {
        refills.push_back(block);
        return GeometryBufferCache::OnBlockMoved(block);
    }
    std::vector<BufferBlock*> refills;
};

DWORD MeshColour(int i) {
    const DWORD r = 40 + (i * 37) % 200, g = 40 + (i * 91) % 200, b = 40 + (i * 53) % 200;
    return 0xFF000000u | r << 16 | g << 8 | b;
}

// A rectangle of width x height split into n x n squares (two triangles each) at depth 0.5, all
// vertices of one colour: 6n^2 indices of the given width.
void MakeGrid(MeshData* mesh, float width, float height, int n, DWORD colour, int indexWidth) {
    VertexFormat format;
    format.SetFromElements(kPositionColour);
    const int side = n + 1;
    ASSERT_TRUE(mesh->vertices.Allocate(side * side, format));
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            const float p[3] = {width * x / n, height * y / n, 0.5f};
            uint8_t* at = mesh->vertices.stream(0) + (y * side + x) * 16;
            std::memcpy(at, p, 12);
            std::memcpy(at + 12, &colour, 4);
        }
    }
    ASSERT_TRUE(mesh->indices.Allocate(6 * n * n, indexWidth));
    int k = 0;
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const uint32_t a = y * side + x, b = a + 1, c = a + side, d = c + 1;
            for (uint32_t index : {a, b, d, a, d, c}) std::memcpy(mesh->indices.data() + indexWidth * k++, &index, indexWidth);
        }
    }
}

// 625,000 vertices of 16 bytes without indices: exactly 10,000,000 bytes. The first two
// triangles cover the rectangle; the rest are points (no area, nothing drawn).
void MakeLarge(MeshData* mesh, float left, float top, float right, float bottom, DWORD colour) {
    VertexFormat format;
    format.SetFromElements(kPositionColour);
    ASSERT_TRUE(mesh->vertices.Allocate(625000, format));
    const float corners[6][2] = {{left, top}, {right, top}, {right, bottom}, {left, top}, {right, bottom}, {left, bottom}};
    for (int v = 0; v < 625000; ++v) {
        const float p[3] = {v < 6 ? corners[v][0] : left, v < 6 ? corners[v][1] : top, 0.5f};
        std::memcpy(mesh->vertices.stream(0) + v * 16, p, 12);
        std::memcpy(mesh->vertices.stream(0) + v * 16 + 12, &colour, 4);
    }
}

// The average colour of a rectangle of a frame read back whole.
Rgb Average(const std::vector<DWORD>& frame, const RECT& r) {
    if (frame.size() != size_t(kWidth) * kHeight) return {-1, -1, -1};
    int64_t sum[3] = {0, 0, 0};
    for (LONG y = r.top; y < r.bottom; ++y) {
        for (LONG x = r.left; x < r.right; ++x) {
            const DWORD p = frame[size_t(y) * kWidth + x];
            sum[0] += p >> 16 & 0xFF;
            sum[1] += p >> 8 & 0xFF;
            sum[2] += p & 0xFF;
        }
    }
    const int64_t n = int64_t(r.right - r.left) * (r.bottom - r.top);
    return {int(sum[0] / n), int(sum[1] / n), int(sum[2] / n)};
}

class GeometryApp {
public:
    explicit GeometryApp(RecordingCache* cache) : cache_(cache) {}

    void Build() {
        const VertexFormat* renderLayout = nullptr;
        for (int i = 0; i < kMeshes; ++i) {
            auto mesh = std::make_unique<MeshData>();
            // Three kinds: a plain quad, and grids just below and just above 32,767 indices.
            const int kind = i % 3;
            const int n = kind == 0 ? 1 : (kind == 1 ? 73 : 74);
            MakeGrid(mesh.get(), kCellWidth - 4.0f, kCellHeight - 4.0f, n, MeshColour(i), (i / 3) % 2 == 0 ? 2 : 4);
            render_[i] = mesh->RenderFormat();
            renderLayout = (i / 3) % 2 == 1 ? &render_[i] : nullptr;
            GeometryDesc desc;
            ASSERT_TRUE(desc.InitFromMeshData(*mesh, renderLayout, false));
            ASSERT_EQ(desc.indices.indexFormat, mesh->indices.count() > 32767 ? D3DFMT_INDEX32 : D3DFMT_INDEX16);
            geometries_[i] = cache_->FindEntry(desc, mesh.get());
            meshes_[i] = std::move(mesh);
        }
        const DWORD colours[2] = {0xFFE0E0E0, 0xFF2040FF};
        for (int i = 0; i < 2; ++i) {
            large_[i] = std::make_unique<MeshData>();
            MakeLarge(large_[i].get(), 10.0f + 200 * i, kGridHeight + 5.0f, 190.0f + 200 * i, kGridHeight + 35.0f,
                      colours[i]);
            GeometryDesc desc;
            ASSERT_TRUE(desc.InitFromMeshData(*large_[i], nullptr, false));
            largeGeometry_[i] = cache_->FindEntry(desc, large_[i].get());
        }
    }

    // Uploads (when evicted) and draws with its world transform: the cell's corner.
    bool DrawMesh(int i) {
        if (!cache_->UploadGeometry(geometries_[i])) return false;
        const float x = float(i % kColumns * kCellWidth + 2), y = float(i / kColumns * kCellHeight + 2);
        const float world[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, 0, 1};
        StateCache::SetTransform(D3DTS_WORLD, world);
        return geometries_[i].Get()->DrawGeometry();
    }
    bool DrawLarge(int i) {
        if (!cache_->UploadGeometry(largeGeometry_[i])) return false;
        const float identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
        StateCache::SetTransform(D3DTS_WORLD, identity);
        return largeGeometry_[i].Get()->DrawGeometry();
    }

    // One frame: the grid (when asked) and the large geometries asked for. The back buffer as
    // read before Present; empty when the device is lost.
    std::vector<DWORD> Frame(LayerApp& app, bool grid, std::initializer_list<int> large) {
        app.PumpMessages();
        if (!app.CheckDevice()) return {};
        const bool lost = g_device->TestCooperativeLevel() != D3D_OK;
        app.StartFrame();
        g_device->BeginScene();
        int drawn = 0;
        if (grid) {
            for (int i = 0; i < kMeshes; ++i) drawn += DrawMesh(i) ? 1 : 0;
        }
        for (int i : large) drawn += DrawLarge(i) ? 1 : 0;
        g_device->EndScene();
        if (!lost) {
            EXPECT_EQ(drawn, (grid ? kMeshes : 0) + static_cast<int>(large.size())) << "every draw succeeds";
        }
        std::vector<DWORD> pixels = lost ? std::vector<DWORD>() : app.ReadFrame();
        g_device->Present(nullptr, nullptr, nullptr, nullptr);
        return pixels;
    }

    // Every cell's inner area has its mesh's colour.
    static void CheckGrid(const std::vector<DWORD>& frame, const char* when) {
        SCOPED_TRACE(when);
        for (int i = 0; i < kMeshes; ++i) {
            const int x = i % kColumns * kCellWidth, y = i / kColumns * kCellHeight;
            const Rgb seen = Average(frame, RECT{x + 5, y + 5, x + kCellWidth - 5, y + kCellHeight - 5});
            const DWORD c = MeshColour(i);
            EXPECT_NEAR(seen.r, int(c >> 16 & 0xFF), 1) << "mesh " << i;
            EXPECT_NEAR(seen.g, int(c >> 8 & 0xFF), 1) << "mesh " << i;
            EXPECT_NEAR(seen.b, int(c & 0xFF), 1) << "mesh " << i;
            const Rgb gap = Average(frame, RECT{x, y, x + 1, y + kCellHeight});
            EXPECT_EQ(gap.r + gap.g + gap.b, 0) << "nothing between the cells, left of mesh " << i;
        }
    }

    // The large geometry's strip: its colour when shown, else black.
    static Rgb Strip(const std::vector<DWORD>& frame, int i) {
        return Average(frame, RECT{20 + 200 * i, kGridHeight + 10, 180 + 200 * i, kGridHeight + 30});
    }

    Geometry* mesh(int i) const { return geometries_[i].Get(); }
    Geometry* large(int i) const { return largeGeometry_[i].Get(); }

private:
    RecordingCache* cache_;
    std::unique_ptr<MeshData> meshes_[kMeshes];
    VertexFormat render_[kMeshes];
    SharedRef<Geometry> geometries_[kMeshes];
    std::unique_ptr<MeshData> large_[2];
    SharedRef<Geometry> largeGeometry_[2];
};

void SaveFrame(const std::vector<DWORD>& pixels, const std::string& name) {
    const char* dir = std::getenv("RIMEHOLT_FRAME_DIR");
    if (dir == nullptr || *dir == '\0' || pixels.size() != size_t(kWidth) * kHeight) return;
    const std::string path = std::string(dir) + "/" + name + ".ppm";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    std::fprintf(file, "P6\n%d %d\n255\n", kWidth, kHeight);
    for (DWORD p : pixels) {
        const unsigned char rgb[3] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)};
        std::fwrite(rgb, 1, 3, file);
    }
    std::fclose(file);
}

// The blocks of every buffer the geometry holds.
void CollectBlocks(const Geometry& g, std::multiset<BufferBlock*>* out) {
    auto add = [&](const HardwareBuffer* buffer) {
        if (buffer == nullptr) return;
        for (BufferBlock* b = buffer->FirstBlock(); b != nullptr; b = b->next()) {
            if (!b->IsFree()) out->insert(b);
        }
    };
    for (int s = 0; s < g.format().streamCount(); ++s) add(g.streamBuffer(s));
    add(g.indexBuffer());
}

void RunApplication(const char* display) {
    SCOPED_TRACE(display);
    RecordingCache cache;
    LayerApp app;
    ASSERT_TRUE(app.Open(kWidth, kHeight));
    ASSERT_EQ(app.width(), kWidth);
    ASSERT_EQ(app.height(), kHeight);
    GeometryApp scene(&cache);
    ASSERT_NO_FATAL_FAILURE(scene.Build());

    // The grid alone: everything fits the budget.
    const std::vector<DWORD> first = scene.Frame(app, true, {});
    ASSERT_FALSE(first.empty());
    SaveFrame(first, std::string("grid-") + display);
    GeometryApp::CheckGrid(first, "first frame");
    EXPECT_EQ(GeometryApp::Strip(first, 0).r, 0) << "no large geometry yet";
    EXPECT_LT(cache.usedBytes(), cache.budget());
    EXPECT_EQ(cache.UploadCount(), kMeshes);

    // Two 10,000,000-byte geometries: each upload evicts from the oldest on, the other one too.
    EXPECT_EQ(cache.EntryBytes(scene.large(0)), 10000000);
    scene.Frame(app, false, {0});
    EXPECT_TRUE(cache.IsEvicted(scene.mesh(0))) << "the oldest upload went first";
    EXPECT_FALSE(cache.IsEvicted(scene.mesh(kMeshes - 1))) << "the newest stayed";
    EXPECT_LE(cache.usedBytes(), cache.budget());
    scene.Frame(app, false, {1});
    EXPECT_TRUE(cache.IsEvicted(scene.large(0)));
    EXPECT_EQ(scene.large(0)->streamBuffer(0), nullptr);
    const std::vector<DWORD> large = scene.Frame(app, false, {0});
    SaveFrame(large, std::string("large-") + display);
    EXPECT_TRUE(cache.IsEvicted(scene.large(1))) << "drawing the first again evicts the second";
    EXPECT_EQ(GeometryApp::Strip(large, 0).r, 0xE0);
    EXPECT_EQ(GeometryApp::Strip(large, 1).b, 0) << "the second is not drawn";
    EXPECT_EQ(Average(large, RECT{0, 0, kWidth, kGridHeight}).g, 0) << "nor the grid";

    // The grid again: its evicted meshes come back, pushing out the rest of the old uploads
    // and then the large geometry; afterwards the whole grid is uploaded.
    const std::vector<DWORD> before = scene.Frame(app, true, {});
    GeometryApp::CheckGrid(before, "after the evictions");
    SaveFrame(before, std::string("grid-again-") + display);
    EXPECT_EQ(before, first) << "the same frame";
    for (int i = 0; i < kMeshes; ++i) ASSERT_FALSE(cache.IsEvicted(scene.mesh(i))) << "mesh " << i;
    EXPECT_TRUE(cache.IsEvicted(scene.large(0)));
    const int32_t used = cache.usedBytes();

    // A forced loss: frames go on without effect; the reset refills every uploaded block once,
    // buffer by buffer, and the next frame (no uploads) equals the last.
    std::multiset<BufferBlock*> blocks;
    for (int i = 0; i < kMeshes; ++i) CollectBlocks(*scene.mesh(i), &blocks);
    ASSERT_EQ(blocks.size(), 2u * kMeshes) << "a vertex and an index block each";
    layer::ForceDeviceLoss(g_device, true);
    EXPECT_TRUE(scene.Frame(app, true, {}).empty());
    layer::ForceDeviceLoss(g_device, false);
    cache.refills.clear();
    const std::vector<DWORD> after = scene.Frame(app, true, {});
    EXPECT_EQ(std::multiset<BufferBlock*>(cache.refills.begin(), cache.refills.end()), blocks)
        << "every block once, and nothing else";
    EXPECT_EQ(cache.refills.size(), blocks.size());
    EXPECT_EQ(after, before) << "the frame after the reset equals the one before";
    EXPECT_EQ(cache.usedBytes(), used);

    // A hundred loss cycles: the same objects, the same bytes, the same frame.
    const ULONG references = LayerApp::DeviceReferences();
    const int32_t uploads = cache.UploadCount();
    for (int cycle = 1; cycle <= 100; ++cycle) {
        layer::ForceDeviceLoss(g_device, true);
        ASSERT_TRUE(app.CheckDevice());
        layer::ForceDeviceLoss(g_device, false);
        ASSERT_TRUE(app.CheckDevice()) << "reset " << cycle;
        if (cycle % 25 == 0) {
            EXPECT_EQ(scene.Frame(app, true, {}), before) << "cycle " << cycle;
        }
    }
    EXPECT_EQ(LayerApp::DeviceReferences(), references) << "no buffer or declaration leaked";
    EXPECT_EQ(cache.usedBytes(), used);
    EXPECT_EQ(cache.UploadCount(), uploads);
}

TEST(GeometryAppTest, HundredMeshesOffscreen) { RunApplication("offscreen"); }

// The same under a real X server (Xvfb in CI): SDL must choose its X11 driver, so the offscreen
// choice of the test environment is dropped before SDL starts.
TEST(GeometryAppTest, HundredMeshesOnX11) {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') GTEST_SKIP() << "no DISPLAY";
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0 && std::strcmp(SDL_GetCurrentVideoDriver(), "x11") != 0) {
        GTEST_SKIP() << "SDL already runs another video driver in this process; run this test alone";
    }
    unsetenv("SDL_VIDEODRIVER");
    RunApplication("x11");
}

}  // namespace
