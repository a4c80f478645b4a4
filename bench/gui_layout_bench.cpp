// What anchor propagation costs: resizing a parent that n children are anchored to (both
// horizontal edges to the parent's), and moving the head of a chain of n siblings each hung
// on the previous one's right edge; both should grow linearly with n. Also a lattice whose
// layouts are each anchored to both layouts of the level before: a change reaches a layout
// once per path, but a recalculation that leaves its rectangle as it was goes no further, so
// the count of recalculations (reported, no target) shows how much of the paths' growth is
// left. The windows' variant adds clamping and the update requests of GUI windows.
#include "gui/anchor_layout.h"
#include "gui/gui_root.h"
#include "gui/gui_window.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace {

class CountingLayout : public AnchorLayout {
public:
    void Recalculate(bool horizontal, bool vertical) override {
        ++*calls;
        AnchorLayout::Recalculate(horizontal, vertical);
    }
    int64_t* calls = nullptr;
};

void BM_ResizeParentOfAnchoredChildren(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    AnchorLayout parent;
    parent.SetRect(0, 0, 800, 600);
    std::vector<std::unique_ptr<AnchorLayout>> children;
    for (int i = 0; i < n; ++i) {
        auto child = std::make_unique<AnchorLayout>();
        child->SetParent(&parent);
        child->SetAnchor(&parent, AnchorLayout::kX1, float(i % 50), 0, AnchorLayout::kX1);
        child->SetAnchor(&parent, AnchorLayout::kX2, 5, 0, AnchorLayout::kX2);
        children.push_back(std::move(child));
    }
    int width = 800;
    for (auto _ : state) {
        width = width == 800 ? 801 : 800;
        parent.SetRect(0, 0, width, 600);
        benchmark::DoNotOptimize(children.back()->rect().right);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ResizeParentOfAnchoredChildren)->Arg(250)->Arg(500)->Arg(1000)->Arg(2000);

void BM_MoveHeadOfSiblingChain(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    AnchorLayout parent;
    std::vector<std::unique_ptr<AnchorLayout>> chain;
    for (int i = 0; i < n; ++i) {
        auto layout = std::make_unique<AnchorLayout>();
        layout->SetParent(&parent);
        layout->SetWidthSpec(3, 0);
        if (i > 0) {
            layout->SetAnchor(chain.back().get(), AnchorLayout::kX2, 1, 0, AnchorLayout::kX1);
        }
        chain.push_back(std::move(layout));
    }
    int x = 0;
    for (auto _ : state) {
        x = x == 0 ? 1 : 0;
        chain.front()->SetRect(x, 0, 3, 3);
        benchmark::DoNotOptimize(chain.back()->rect().left);
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_MoveHeadOfSiblingChain)->Arg(250)->Arg(500)->Arg(1000)->Arg(2000);

// GUI windows: a shown top-level window whose n children are anchored to its edges; every
// resize requests the children's updates, and a GUI draw runs them.
void BM_ResizeWindowOfAnchoredChildren(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    GuiWindow parent;
    parent.SetRect(0, 0, 800, 600);
    std::vector<std::unique_ptr<GuiWindow>> children;
    for (int i = 0; i < n; ++i) {
        auto child = std::make_unique<GuiWindow>();
        parent.AddChild(child.get(), true);
        child->SetAnchor(&parent, AnchorLayout::kX2, 5, 0, AnchorLayout::kX2);
        children.push_back(std::move(child));
    }
    parent.Show();
    g_guiRoot.Draw();
    int width = 800;
    for (auto _ : state) {
        width = width == 800 ? 801 : 800;
        parent.SetRect(0, 0, width, 600);
        g_guiRoot.Draw();
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ResizeWindowOfAnchoredChildren)->Arg(250)->Arg(1000);

void BM_LatticeOfTwoParents(benchmark::State& state) {
    const int levels = static_cast<int>(state.range(0));
    int64_t calls = 0;
    AnchorLayout root;
    std::vector<std::unique_ptr<CountingLayout>> layouts;
    AnchorLayout* previous[2] = {&root, &root};
    for (int level = 0; level < levels; ++level) {
        AnchorLayout* current[2];
        for (int k = 0; k < 2; ++k) {
            auto layout = std::make_unique<CountingLayout>();
            layout->calls = &calls;
            layout->SetAnchor(previous[0], AnchorLayout::kX2, 1, 0, AnchorLayout::kX1);
            layout->SetAnchor(previous[1], AnchorLayout::kX2, float(k), 0, AnchorLayout::kX2);
            current[k] = layout.get();
            layouts.push_back(std::move(layout));
        }
        previous[0] = current[0];
        previous[1] = current[1];
    }
    int x = 0;
    for (auto _ : state) {
        x = x == 0 ? 1 : 0;
        calls = 0;
        root.SetRect(x, 0, 10, 10);
    }
    state.counters["recalculations"] = double(calls);
    state.counters["layouts"] = double(2 * levels);
}
BENCHMARK(BM_LatticeOfTwoParents)->Arg(4)->Arg(8)->Arg(12);

}  // namespace

BENCHMARK_MAIN();
