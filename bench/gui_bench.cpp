// The GUI's timers and depth layers against the simple forms they replace.
//
// Timers: TimerManager::Update over 1,000 due update requests (period 0; each delegate deletes
// its own entry, as a window's OnUpdate does), against the same two passes over a std::multiset
// ordered by (fired, due, address); and Update over 10 or 10,000 armed entries of which none
// is due, which must cost about the same (pass 1 stops at the first entry).
//
// Depth layers: 1,000 windows shown one by one at random places of one layer (10000..1),
// against a layer that spreads every item evenly on each insertion. Counters: items told of a
// new depth per insertion (moves) and time per insertion.
//
// Run by hand, e.g. rh_gui_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include "core/time/clock.h"
#include "core/time/clock_source.h"
#include "gui/depth_layer.h"
#include "gui/timer_manager.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <set>
#include <vector>

namespace {

uint32_t g_now = 1000;
uint32_t BenchClock() { return g_now; }

struct ClockGuard {
    ClockGuard() { SetClockSource(&BenchClock); }
    ~ClockGuard() { SetClockSource(nullptr); }
};

// ---- Timers --------------------------------------------------------------------------------

// An update request: its delegate deletes the entry that calls it.
struct Request {
    TimerEntry* entry = nullptr;
    void OnUpdate() {
        delete entry;
        entry = nullptr;
    }
};

void BM_TimerUpdate_DueRequests(benchmark::State& state) {
    ClockGuard clock;
    const int n = static_cast<int>(state.range(0));
    TimerManager manager;
    std::vector<Request> requests(static_cast<size_t>(n));
    for (auto _ : state) {
        state.PauseTiming();
        for (Request& r : requests) r.entry = manager.CreateTimer(Delegate::Create(&r, &Request::OnUpdate), 0, false, -1);
        state.ResumeTiming();
        manager.Update();
    }
    if (manager.count() != 0) state.SkipWithError("requests left over");
    state.SetItemsProcessed(state.iterations() * n);
}

// The peer: the same entry fields and the same two passes over a std::multiset.
struct PeerEntry;
struct PeerOrder {
    bool operator()(const PeerEntry* a, const PeerEntry* b) const;
};
using PeerSet = std::multiset<PeerEntry*, PeerOrder>;

struct PeerEntry {
    Delegate* delegate = nullptr;
    PeerSet* owner = nullptr;
    PeerSet::iterator at;
    int64_t start = 0;
    int64_t period = 0;
    int64_t due = 0;
    int32_t repeat = -1;
    bool fired = false;
    ~PeerEntry();
};

bool PeerOrder::operator()(const PeerEntry* a, const PeerEntry* b) const {
    if (a->fired != b->fired) return a->fired;
    if (a->due != b->due) return a->due < b->due;
    return reinterpret_cast<uintptr_t>(a) < reinterpret_cast<uintptr_t>(b);
}

PeerEntry* g_peerFiring = nullptr;

PeerEntry::~PeerEntry() {
    owner->erase(at);
    if (g_peerFiring == this) g_peerFiring = nullptr;
    delete delegate;
}

struct PeerRequest {
    PeerEntry* entry = nullptr;
    void OnUpdate() {
        delete entry;
        entry = nullptr;
    }
};

void PeerUpdate(PeerSet& set) {
    const int64_t now = static_cast<int64_t>(ClockNow());
    for (auto it = set.begin(); it != set.end();) {
        PeerEntry* e = *it;
        if (e->fired) break;
        auto next = std::next(it);
        if (e->repeat == 0) {
            delete e;
            it = next;
            continue;
        }
        if (static_cast<int64_t>(ClockNow()) < e->due) break;
        set.erase(it);
        e->fired = true;
        e->at = set.insert(e);
        if (e->repeat > 0) --e->repeat;
        g_peerFiring = e;
        e->delegate->Invoke();
        if (g_peerFiring == e) e->start = now;
        g_peerFiring = nullptr;
        it = next;
    }
    for (auto it = set.begin(); it != set.end() && (*it)->fired;) {
        PeerEntry* e = *it;
        it = set.erase(it);
        e->fired = false;
        e->due = e->start + e->period;
        e->at = set.insert(e);
    }
}

void BM_TimerUpdate_DueRequests_Multiset(benchmark::State& state) {
    ClockGuard clock;
    const int n = static_cast<int>(state.range(0));
    PeerSet set;
    std::vector<PeerRequest> requests(static_cast<size_t>(n));
    for (auto _ : state) {
        state.PauseTiming();
        for (PeerRequest& r : requests) {
            r.entry = new PeerEntry;
            r.entry->delegate = Delegate::Create(&r, &PeerRequest::OnUpdate);
            r.entry->owner = &set;
            r.entry->start = static_cast<int64_t>(ClockNow());
            r.entry->due = r.entry->start;
            r.entry->at = set.insert(r.entry);
        }
        state.ResumeTiming();
        PeerUpdate(set);
    }
    if (!set.empty()) state.SkipWithError("requests left over");
    state.SetItemsProcessed(state.iterations() * n);
}

// Armed entries, none due: pass 1 looks at the first one only.
struct Idle {
    void Tick() {}
};

void BM_TimerUpdate_NoneDue(benchmark::State& state) {
    ClockGuard clock;
    const int n = static_cast<int>(state.range(0));
    TimerManager manager;
    Idle idle;
    std::vector<TimerEntry*> entries;
    std::mt19937 random(7);
    for (int i = 0; i < n; ++i) {
        entries.push_back(manager.CreateTimer(Delegate::Create(&idle, &Idle::Tick),
                                              1000 + static_cast<int32_t>(random() % 100000), false, -1));
    }
    for (auto _ : state) manager.Update();
    for (TimerEntry* e : entries) delete e;
}

BENCHMARK(BM_TimerUpdate_DueRequests)->Arg(1000);
BENCHMARK(BM_TimerUpdate_DueRequests_Multiset)->Arg(1000);
BENCHMARK(BM_TimerUpdate_NoneDue)->Arg(10)->Arg(10000);

// ---- Depth layers --------------------------------------------------------------------------

int64_t g_moves = 0;

class Window final : public GuiLayerItem {
public:
    int32_t peerDepth = 0;  // the depth the peer layer gives the window
    GuiWindow* GetWindow() override { return nullptr; }
    bool OnDepthChanged() override {
        ++g_moves;
        return true;
    }
};

constexpr int kWindows = 1000;

// Where each window goes: in front of the k-th of the windows already shown.
std::vector<uint32_t> Places() {
    std::mt19937 random(20261211u);
    std::vector<uint32_t> places;
    for (int i = 0; i < kWindows; ++i) places.push_back(static_cast<uint32_t>(random()));
    return places;
}

void BM_DepthLayer_ShowAtRandomPlaces(benchmark::State& state) {
    const std::vector<uint32_t> places = Places();
    int64_t moves = 0;
    for (auto _ : state) {
        state.PauseTiming();
        GuiDepthLayer layer(1, 10000);
        std::vector<Window> windows(kWindows);
        std::vector<GuiLayerItem*> shown;
        shown.reserve(kWindows);
        g_moves = 0;
        state.ResumeTiming();
        for (int i = 0; i < kWindows; ++i) {
            Window* w = &windows[static_cast<size_t>(i)];
            // The list order is kept beside the layer only to pick the reference.
            const size_t at = shown.empty() ? 0 : places[static_cast<size_t>(i)] % shown.size();
            const bool ok = shown.empty() ? layer.Insert(w) : layer.InsertBefore(w, shown[at]);
            benchmark::DoNotOptimize(ok);
            shown.insert(shown.begin() + static_cast<std::ptrdiff_t>(at), w);
        }
        state.PauseTiming();
        moves += g_moves;
        state.ResumeTiming();
    }
    state.counters["moves_per_insert"] =
        benchmark::Counter(static_cast<double>(moves) / static_cast<double>(state.iterations() * kWindows));
    state.SetItemsProcessed(state.iterations() * kWindows);
}

// The peer: the same list and depths, spread evenly over the whole range after every
// insertion, so every item is told of a new depth each time.
void BM_DepthLayer_SpreadOnEveryInsert(benchmark::State& state) {
    const std::vector<uint32_t> places = Places();
    int64_t moves = 0;
    for (auto _ : state) {
        state.PauseTiming();
        GuiDepthLayer layer(1, 10000);
        std::vector<Window> windows(kWindows);
        std::vector<GuiLayerItem*> shown;
        shown.reserve(kWindows);
        state.ResumeTiming();
        int64_t told = 0;
        for (int i = 0; i < kWindows; ++i) {
            Window* w = &windows[static_cast<size_t>(i)];
            const size_t at = shown.empty() ? 0 : places[static_cast<size_t>(i)] % shown.size();
            shown.insert(shown.begin() + static_cast<std::ptrdiff_t>(at), w);
            const int64_t n = static_cast<int64_t>(shown.size());
            const int64_t gap = (10000 - n - 1 + 1) / (n + 1);
            int64_t d = 1 + gap - 1;
            for (GuiLayerItem* item : shown) {
                d += 1;
                static_cast<Window*>(item)->peerDepth = static_cast<int32_t>(d);
                static_cast<Window*>(item)->OnDepthChanged();
                ++told;
                d += gap;
            }
        }
        moves += told;
    }
    state.counters["moves_per_insert"] =
        benchmark::Counter(static_cast<double>(moves) / static_cast<double>(state.iterations() * kWindows));
    state.SetItemsProcessed(state.iterations() * kWindows);
}

BENCHMARK(BM_DepthLayer_ShowAtRandomPlaces);
BENCHMARK(BM_DepthLayer_SpreadOnEveryInsert);

}  // namespace

BENCHMARK_MAIN();
