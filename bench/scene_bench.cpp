// The scene walk against what a caller would write without it, interleaved in one run:
//  - Walk: 1000 static box nodes in 50 groups walked into a render queue (nothing drawn), against
//    a flat loop over the same precomputed world boxes that runs ClassifyBoxAgainstFrustum and
//    files the visible ones into a std::multimap by distance. Time per visible node. Both give
//    the visible items in distance order: the queue orders its items when it is flushed, so the
//    walk's time includes RenderQueue::Order. Before timing, the items a flush draws are
//    checked against the multimap: the same items, in the flush's order of the same buckets.
//  - Frame: 500 visible boxes drawn through the walk and a flush, against a loop calling
//    Mesh::Render on the same meshes with the same materials.
//  - Occluded frame: the same 500 boxes, 80 % of them behind a wall in "~" groups of 20 (a group
//    node's box and 19 children), with occlusion on, against the plain loop drawing all 500.
// Ratios are walk / peer: median, min and max over interleaved repetitions (the walk against
// the flat loop in thread processor time).
#include "bench/bench_device.h"
#include "bench/raw_gl.h"
#include "core/settings/frame_stats.h"
#include "platform/d3d9/d3d9_testing.h"
#include "render/app_framework.h"
#include "render/camera_view.h"
#include "render/state_cache.h"
#include "scene/render_queue.h"
#include "scene/scene_node.h"
#include "tests/scene/support/box_mesh.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using rh::test::BoxMesh;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Report(benchmark::State& state, const std::vector<double>& ratios, const char* prefix = "ratio") {
    state.counters[std::string(prefix) + "_median"] = Median(ratios);
    state.counters[std::string(prefix) + "_min"] = *std::min_element(ratios.begin(), ratios.end());
    state.counters[std::string(prefix) + "_max"] = *std::max_element(ratios.begin(), ratios.end());
}

// This thread's processor time: steadier than real time on a shared machine.
template <typename F>
double ThreadNs(F&& f, int iterations) {
    timespec a{}, b{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
    for (int i = 0; i < iterations; ++i) f();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
    return (static_cast<double>(b.tv_sec - a.tv_sec) * 1e9 + static_cast<double>(b.tv_nsec - a.tv_nsec)) / iterations;
}

template <typename F>
double TimeNs(F&& f, int iterations) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < iterations; ++i) f();
    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    return took.count() / iterations;
}

// ---------------------------------------------------------------------------------------------
// The walk alone

// Draws nothing; logs itself when a log is given.
class NullRenderable : public Renderable {
public:
    NullRenderable() {
        box_.size = Vec3{1, 1, 1};
        valid_ = true;
    }
    FlagWord Render(MultiMaterial*) override {
        if (log != nullptr) log->push_back(this);
        return FlagWord(true);
    }
    static std::vector<const void*>* log;
};
std::vector<const void*>* NullRenderable::log = nullptr;

struct WalkScene {
    SceneNode root;
    RenderPass pass;
    std::vector<BoundingBox> worldBoxes;  // of the leaves, for the flat loop
    std::vector<void*> payloads;

    WalkScene() {
        pass.SetProjection(1.0f, 1000.0f, 1.0f, 1.33f);
        pass.SetView(Vec3{0, 20, -120}, Vec3{0, -0.1f, 1}, Vec3{0, 1, 0});
        for (int g = 0; g < 50; ++g) {
            auto* group = new SceneNode;
            group->SetName(String(("g" + std::to_string(g)).c_str()));
            const Vec3 at{static_cast<float>((g % 10) * 30 - 135), 0, static_cast<float>((g / 10) * 30)};
            group->GetNodeTransform(true).SetPosition(at);
            root.AddChild(group);
            for (int i = 0; i < 20; ++i) {
                auto* leaf = new SceneNode;
                leaf->SetName(String(("l" + std::to_string(i)).c_str()));
                const Vec3 local{static_cast<float>(i % 5) * 4, static_cast<float>(i / 5) * 3, 0};
                leaf->GetNodeTransform(true).SetPosition(local);
                auto* attachment = new NullRenderable;
                leaf->SetAttachment(attachment);
                group->AddChild(leaf);
                BoundingBox box;
                box.centre = Vec3{at.x + local.x, at.y + local.y, at.z + local.z};
                box.size = Vec3{1, 1, 1};
                worldBoxes.push_back(box);
                payloads.push_back(attachment);
            }
        }
    }
};

// The walk and the ordering of its items (without it the filing is unordered; a flush does it).
int WalkOnce(WalkScene& s, RenderQueue& queue, bool order = true) {
    s.pass.renderQueue = &queue;
    s.root.Draw(s.pass);
    if (order) queue.Order();
    const int n = queue.itemCount();
    queue.Clear();
    return n;
}

// Whether a flush of the walk's queue draws what the multimap holds, in the flush's order of
// the multimap's buckets: the nearest first, then from the farthest down to the second, each
// bucket in filing order.
bool SameOutput(WalkScene& s, RenderQueue& queue, std::multimap<float, void*>& filed) {
    std::vector<const void*> drawn;
    NullRenderable::log = &drawn;
    s.pass.renderQueue = &queue;
    s.root.Draw(s.pass);
    queue.Flush();
    queue.Clear();
    NullRenderable::log = nullptr;

    const Vec3 eye = s.pass.GetEye();
    for (size_t i = 0; i < s.worldBoxes.size(); ++i) {
        const BoundingBox& box = s.worldBoxes[i];
        if (ClassifyBoxAgainstFrustum(box, s.pass) == kBoxOutside) continue;
        const Vec3 d{eye.x - box.centre.x, eye.y - box.centre.y, eye.z - box.centre.z};
        filed.emplace(Vec3Length(d), s.payloads[i]);
    }
    std::vector<std::vector<const void*>> buckets;
    for (auto it = filed.begin(); it != filed.end(); it = filed.upper_bound(it->first)) {
        buckets.emplace_back();
        for (auto [first, last] = filed.equal_range(it->first); first != last; ++first) buckets.back().push_back(first->second);
    }
    filed.clear();
    std::vector<const void*> expected;
    for (size_t k = 0; k < buckets.size(); ++k) {
        const auto& bucket = buckets[k == 0 ? 0 : buckets.size() - k];
        expected.insert(expected.end(), bucket.begin(), bucket.end());
    }
    return drawn == expected;
}

int FlatOnce(WalkScene& s, std::multimap<float, void*>& filed) {
    const Vec3 eye = s.pass.GetEye();
    for (size_t i = 0; i < s.worldBoxes.size(); ++i) {
        const BoundingBox& box = s.worldBoxes[i];
        if (ClassifyBoxAgainstFrustum(box, s.pass) == kBoxOutside) continue;
        const Vec3 d{eye.x - box.centre.x, eye.y - box.centre.y, eye.z - box.centre.z};
        filed.emplace(Vec3Length(d), s.payloads[i]);
    }
    const int n = static_cast<int>(filed.size());
    filed.clear();
    return n;
}

void BM_WalkAgainstFlatLoop(benchmark::State& state) {
    g_frameStats.enabled = true;
    WalkScene scene;
    RenderQueue queue(&scene.pass);
    std::multimap<float, void*> filed;
    const int visible = WalkOnce(scene, queue);
    if (visible != FlatOnce(scene, filed) || !SameOutput(scene, queue, filed)) {
        state.SkipWithError("the walk and the loop disagree on what is visible or on its order");
        return;
    }
    // Also the walk without ordering its items, to show what the ordering costs.
    std::vector<double> ratios, unorderedRatios, walkNs, flatNs, unorderedNs;
    for (auto _ : state) {
        for (int rep = 0; rep < 41; ++rep) {
            double w = 0, f = 0, u = 0;
            auto walk = [&] { w = ThreadNs([&] { WalkOnce(scene, queue); }, 100); };
            auto flat = [&] { f = ThreadNs([&] { FlatOnce(scene, filed); }, 100); };
            auto unordered = [&] { u = ThreadNs([&] { WalkOnce(scene, queue, false); }, 100); };
            switch (rep % 3) {
                case 0: walk(); flat(); unordered(); break;
                case 1: flat(); unordered(); walk(); break;
                default: unordered(); walk(); flat(); break;
            }
            ratios.push_back(w / f);
            unorderedRatios.push_back(u / f);
            walkNs.push_back(w / visible);
            flatNs.push_back(f / visible);
            unorderedNs.push_back(u / visible);
        }
    }
    Report(state, ratios);
    Report(state, unorderedRatios, "unordered_ratio");
    state.counters["walk_ns_per_visible"] = Median(walkNs);
    state.counters["flat_ns_per_visible"] = Median(flatNs);
    state.counters["unordered_ns_per_visible"] = Median(unorderedNs);
    state.counters["visible"] = visible;
}
BENCHMARK(BM_WalkAgainstFlatLoop)->Iterations(1)->Unit(benchmark::kMillisecond);

// Linear growth: the walk alone over trees of 250 to 4000 leaves in view.
void BM_WalkScaling(benchmark::State& state) {
    const int groups = static_cast<int>(state.range(0));
    SceneNode root;
    RenderPass pass;
    pass.SetProjection(1.0f, 5000.0f, 1.0f, 1.33f);
    pass.SetView(Vec3{0, 0, -100}, Vec3{0, 0, 1}, Vec3{0, 1, 0});
    for (int g = 0; g < groups; ++g) {
        auto* group = new SceneNode;
        group->SetName(String(("g" + std::to_string(g)).c_str()));
        group->GetNodeTransform(true).SetPosition(Vec3{static_cast<float>(g % 20) * 5 - 50, 0, static_cast<float>(g)});
        root.AddChild(group);
        for (int i = 0; i < 20; ++i) {
            auto* leaf = new SceneNode;
            leaf->SetName(String(("l" + std::to_string(i)).c_str()));
            leaf->GetNodeTransform(true).SetPosition(Vec3{0, static_cast<float>(i) * 0.1f, 0});
            leaf->SetAttachment(new NullRenderable);
            group->AddChild(leaf);
        }
    }
    RenderQueue queue(&pass);
    pass.renderQueue = &queue;
    int visible = 0;
    for (auto _ : state) {
        root.Draw(pass);
        queue.Order();
        visible = queue.itemCount();
        queue.Clear();
    }
    state.counters["visible"] = visible;
    state.counters["ns_per_visible"] =
        benchmark::Counter(static_cast<double>(visible), benchmark::Counter::kIsIterationInvariantRate |
                                                             benchmark::Counter::kInvert);
}
BENCHMARK(BM_WalkScaling)->Arg(12)->Arg(50)->Arg(200)->Unit(benchmark::kMicrosecond);

// ---------------------------------------------------------------------------------------------
// Frames on the layer

class BenchApp : public AppFramework {
public:
    ~BenchApp() override {
        g_occlusionBoxMesh.ReleaseGeometry();
        ReleaseDevice();
        if (window_ != nullptr) DestroyWindow(window_);
    }
    bool Open(int width, int height) {
        setenv("SDL_VIDEODRIVER", "offscreen", 0);
        WNDCLASSA wc{};
        wc.lpfnWndProc = bench::BenchWindowProc;
        wc.lpszClassName = "SceneBench";
        RegisterClassA(&wc);
        window_ = CreateWindowExA(0, wc.lpszClassName, "scene bench", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                                  nullptr, nullptr, nullptr, nullptr);
        if (window_ == nullptr || !Create(nullptr, window_)) return false;
        DeviceSettings request = WindowedSettings();
        request.presentInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
        SetDeviceSettings(request);
        return RecreateDevice(false) && g_device != nullptr;
    }

private:
    HWND window_ = nullptr;
};

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// 500 boxes in 25 groups of 20 and a wall. With `hidden`, 20 of the groups stand behind the wall
// as "~" groups (the group node draws one box, its 19 children the rest); otherwise all 25 are
// in front of it.
struct BoxScene {
    SceneNode root;
    RenderPass pass;
    std::vector<Mesh*> meshes;  // every box and the wall, for the plain loop
    std::vector<SceneNode*> nodes;
    bool ok = true;

    SceneNode* Box(const std::string& name, uint32_t colour, Vec3 at, Vec3 scale) {
        auto* node = new SceneNode;
        node->SetName(String(name.c_str()));
        if (name[0] == '~') node->flags().Set(kNodeOcclusionTested);
        auto* mesh = new BoxMesh(colour);
        ok = ok && mesh->Create();
        node->SetAttachment(mesh);
        node->GetNodeTransform(true).SetPosition(at);
        node->GetObjectTransform(true).SetScale(scale.x, scale.y, scale.z);
        meshes.push_back(mesh);
        nodes.push_back(node);
        return node;
    }

    explicit BoxScene(bool hidden) {
        pass.SetProjection(1.0f, 500.0f, 1.0f, float(kWidth) / kHeight);
        pass.SetView(Vec3{0, 10, -60}, Vec3{0, -0.1f, 1}, Vec3{0, 1, 0});
        // The queue draws its nearest item first and the others from the farthest down, so the
        // wall must be the nearest item to hide anything: with `hidden` the visible groups stand
        // beside it, further off.
        root.AddChild(Box("wall", 0xFF808080, Vec3{0, 10, 20}, Vec3{hidden ? 60.0f : 120.0f, 40, 1}));
        for (int g = 0; g < 25; ++g) {
            const bool behind = hidden && g < 20;
            float x = static_cast<float>(g % 5) * 12 - 24;
            float z = behind ? 40.0f + static_cast<float>(g / 5) * 12 : static_cast<float>(g / 5) * 3 - 10;
            if (hidden && !behind) {
                x = (g % 2 == 0 ? 40.0f : -48.0f);
                z = 30.0f + static_cast<float>(g - 20) * 4;
            }
            const std::string name = (behind ? "~g" : "g") + std::to_string(g);
            SceneNode* group = Box(name, 0xFF4080C0, Vec3{x, 0, z}, Vec3{1, 1, 1});
            for (int i = 1; i < 20; ++i) {
                const Vec3 at{static_cast<float>(i % 5) * 2 - 4, static_cast<float>(i / 5) * 2, 0};
                group->AddChild(Box("b" + std::to_string(i), 0xFFC08040, at, Vec3{1.5f, 1.5f, 1.5f}));
            }
            root.AddChild(group);
        }
        // The walk computes every world matrix once; the plain loop reuses them.
        RenderQueue queue(&pass);
        pass.renderQueue = &queue;
        pass.flags = kPassNoOcclusion | kPassNoFrustum;
        root.Draw(pass);
        pass.flags = 0;
        pass.renderQueue = nullptr;
    }
};

void BeginFrame() {
    g_device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    g_device->BeginScene();
    StateCache::SetRenderState(D3DRS_ZENABLE, TRUE);
}

void EndFrame() {
    g_device->EndScene();
    g_device->Present(nullptr, nullptr, nullptr, nullptr);
}

void WalkFrame(BoxScene& s, int flags) {
    BeginFrame();
    RenderQueue queue(&s.pass);
    s.pass.renderQueue = &queue;
    s.pass.flags = flags;
    s.root.Draw(s.pass);
    queue.Flush();
    queue.Clear();
    s.pass.renderQueue = nullptr;
    EndFrame();
}

// The peer: every mesh with its node's material and world matrix, in tree order.
void PlainFrame(BoxScene& s, RenderContext& context) {
    BeginFrame();
    context.SetCamera(s.pass);
    for (size_t i = 0; i < s.meshes.size(); ++i) {
        MultiMaterial& material = s.nodes[i]->GetMaterial();
        context.world = s.nodes[i]->worldMatrix();
        material.SetRenderContext(&context);
        s.meshes[i]->Render(&material);
    }
    EndFrame();
}

void FrameRatio(benchmark::State& state, bool hidden) {
    BenchApp app;
    if (!app.Open(kWidth, kHeight)) {
        state.SkipWithError("no device");
        return;
    }
    InvalidateStateCache();
    g_frameStats.enabled = false;
    {
        BoxScene scene(hidden);
        if (!scene.ok) {
            state.SkipWithError("meshes not made");
            return;
        }
        RenderContext context;
        const int walkFlags = 0;  // occlusion on (it only acts on the "~" groups)
        for (int i = 0; i < 5; ++i) {
            g_frameStats.enabled = true;
            g_frameStats.ClearFrameCounters();
            rh::d3d9::testing::ResetDrawCallCount(g_device);
            WalkFrame(scene, walkFlags);
            const UINT walkDraws = rh::d3d9::testing::DrawCallCount(g_device);
            g_frameStats.enabled = false;
            rh::d3d9::testing::ResetDrawCallCount(g_device);
            PlainFrame(scene, context);
            state.counters["walk_draws"] = walkDraws;
            state.counters["plain_draws"] = rh::d3d9::testing::DrawCallCount(g_device);
            state.counters["occluded"] = g_frameStats.Read(FrameStats::kFrameSlot, String(kStatOccluded));
        }
        std::vector<double> ratios, cpuRatios, walkMs, plainMs;
        for (auto _ : state) {
            for (int rep = 0; rep < 15; ++rep) {
                double w = 0, p = 0, wc = 0, pc = 0;
                auto timeWalk = [&] {
                    const double c0 = bench::ProcessMs();
                    w = TimeNs([&] { WalkFrame(scene, walkFlags); }, 10) / 1e6;
                    wc = (bench::ProcessMs() - c0) / 10;
                };
                auto timePlain = [&] {
                    const double c0 = bench::ProcessMs();
                    p = TimeNs([&] { PlainFrame(scene, context); }, 10) / 1e6;
                    pc = (bench::ProcessMs() - c0) / 10;
                };
                if (rep % 2 == 0) {
                    timeWalk();
                    timePlain();
                } else {
                    timePlain();
                    timeWalk();
                }
                ratios.push_back(w / p);
                cpuRatios.push_back(wc / pc);
                walkMs.push_back(w);
                plainMs.push_back(p);
            }
        }
        Report(state, ratios);
        Report(state, cpuRatios, "cpu_ratio");
        state.counters["walk_ms"] = Median(walkMs);
        state.counters["plain_ms"] = Median(plainMs);
        for (SceneNode* n : scene.nodes) n->GetMaterial().SetRenderContext(nullptr);
    }
    g_frameStats.enabled = true;
}

void BM_FrameAgainstMeshLoop(benchmark::State& state) { FrameRatio(state, false); }
BENCHMARK(BM_FrameAgainstMeshLoop)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_OccludedFrameAgainstMeshLoop(benchmark::State& state) { FrameRatio(state, true); }
BENCHMARK(BM_OccludedFrameAgainstMeshLoop)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
