// Speed of the ordered map against std::map: inserting, finding and erasing n distinct keys in
// random order, for integer keys and for short text keys.
#include "core/containers/ordered_map.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

// Three-way comparison of text keys, the way the engine's text keys compare.
struct CompareStdString {
    int operator()(const std::string& a, const std::string& b) const { return a.compare(b); }
};

template <typename K>
std::vector<K> MakeKeys(int n, unsigned seed);

template <>
std::vector<int> MakeKeys<int>(int n, unsigned seed) {
    std::vector<int> keys(n);
    for (int i = 0; i < n; ++i) keys[i] = i * 7 + 3;
    std::shuffle(keys.begin(), keys.end(), std::mt19937(seed));
    return keys;
}

// Names of 6 to 9 characters, like the engine's node, texture and effect names.
template <>
std::vector<std::string> MakeKeys<std::string>(int n, unsigned seed) {
    std::vector<std::string> keys;
    keys.reserve(n);
    for (int i = 0; i < n; ++i) {
        std::string s = "node_";
        for (unsigned v = static_cast<unsigned>(i) * 2654435761u % 1000003u; v; v /= 26) {
            s.push_back(static_cast<char>('a' + v % 26));
        }
        keys.push_back(s);
    }
    std::shuffle(keys.begin(), keys.end(), std::mt19937(seed));
    return keys;
}

template <typename K, typename Compare>
struct Ours {
    using Key = K;
    OrderedMap<K, int, Compare> map{false};
    void Insert(const K& k) { map.Insert(k, 1, 1); }
    bool Find(const K& k) const { return map.FindNode(k) != nullptr; }
    void Erase(const K& k) { map.Erase(k); }
};

template <typename K>
struct Std {
    using Key = K;
    std::map<K, int> map;
    void Insert(const K& k) { map.insert_or_assign(k, 1); }
    bool Find(const K& k) const { return map.find(k) != map.end(); }
    void Erase(const K& k) { map.erase(k); }
};

template <typename Map>
void BM_Insert(benchmark::State& state) {
    const auto keys = MakeKeys<typename Map::Key>(static_cast<int>(state.range(0)), 1);
    for (auto _ : state) {
        auto* m = new Map;
        for (const auto& k : keys) m->Insert(k);
        benchmark::DoNotOptimize(m);
        state.PauseTiming();
        delete m;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(keys.size()));
}

template <typename Map>
void BM_Find(benchmark::State& state) {
    const auto keys = MakeKeys<typename Map::Key>(static_cast<int>(state.range(0)), 1);
    const auto lookups = MakeKeys<typename Map::Key>(static_cast<int>(state.range(0)), 2);
    Map m;
    for (const auto& k : keys) m.Insert(k);
    for (auto _ : state) {
        int found = 0;
        for (const auto& k : lookups) found += m.Find(k);
        benchmark::DoNotOptimize(found);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(lookups.size()));
}

template <typename Map>
void BM_Erase(benchmark::State& state) {
    const auto keys = MakeKeys<typename Map::Key>(static_cast<int>(state.range(0)), 1);
    const auto order = MakeKeys<typename Map::Key>(static_cast<int>(state.range(0)), 3);
    for (auto _ : state) {
        state.PauseTiming();
        auto* m = new Map;
        for (const auto& k : keys) m->Insert(k);
        state.ResumeTiming();
        for (const auto& k : order) m->Erase(k);
        benchmark::DoNotOptimize(m);
        state.PauseTiming();
        delete m;
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(order.size()));
}

using OursInt = Ours<int, ThreeWayCompare<int>>;
using StdInt = Std<int>;
using OursText = Ours<std::string, CompareStdString>;
using StdText = Std<std::string>;

#define RH_MAP_BENCH(fn, map) \
    BENCHMARK_TEMPLATE(fn, map)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)

RH_MAP_BENCH(BM_Insert, OursInt);
RH_MAP_BENCH(BM_Insert, StdInt);
RH_MAP_BENCH(BM_Find, OursInt);
RH_MAP_BENCH(BM_Find, StdInt);
RH_MAP_BENCH(BM_Erase, OursInt);
RH_MAP_BENCH(BM_Erase, StdInt);
RH_MAP_BENCH(BM_Insert, OursText);
RH_MAP_BENCH(BM_Insert, StdText);
RH_MAP_BENCH(BM_Find, OursText);
RH_MAP_BENCH(BM_Find, StdText);
RH_MAP_BENCH(BM_Erase, OursText);
RH_MAP_BENCH(BM_Erase, StdText);

}  // namespace

BENCHMARK_MAIN();
