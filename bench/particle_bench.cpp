// Particle updates without the draw: ParticleEmitter::UpdateParticles over 24,000 snowflakes
// (its linked list, playback check, step and expiry) against a plain loop over a std::vector
// of the same records doing the same step and expiry. Both run on a hand-driven clock, 20 ms
// per update. BM_UpdateAgainstVector interleaves the two (rounds of 20 updates each, the order
// swapped every round) and reports emitter / vector of the per-particle time: median, min and
// max over the rounds, and each side's nanoseconds per particle.

#include "core/time/clock_source.h"
#include "scene/particle_emitter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kParticles = 24000;
constexpr int kUpdates = 20;
constexpr int kRounds = 41;

uint32_t g_now = 1000;
uint32_t BenchClock() { return g_now; }

struct PlainParticle {
    Vec3 position;
    Vec3 velocity;
    int32_t life;
    int64_t birth;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void FillEmitter(ParticleEmitter& emitter) {
    emitter.particleLimit = kParticles;
    emitter.acceleration = Vec3{-0.00001f, -0.00003f, 0.0f};
    emitter.lastUpdate = g_now;
    std::srand(3);
    for (int i = 0; i < kParticles; ++i) {
        Particle p;
        p.position = Vec3{float(std::rand() % 600) - 300.0f, float(std::rand() % 100), float(std::rand() % 600)};
        p.velocity = Vec3{0.0f, -0.015f, 0.0f};
        p.life = 18000000;  // none expires during the run; the test is made every step
        p.birth = g_now;
        emitter.particles.Append(p);
    }
}

void BM_UpdateAgainstVector(benchmark::State& state) {
    SetClockSource(&BenchClock);
    g_particleTimeStep = 0.1f;
    ParticleEmitter emitter;
    FillEmitter(emitter);
    std::vector<PlainParticle> plain;
    plain.reserve(kParticles);
    for (auto* n = emitter.particles.first(); int(plain.size()) < kParticles; n = n->next) {
        plain.push_back({n->element.position, n->element.velocity, n->element.life, n->element.birth});
    }
    const Vec3 acceleration = emitter.acceleration;
    int64_t plainLast = g_now;

    auto runEmitter = [&] {
        for (int u = 0; u < kUpdates; ++u) {
            g_now += 20;
            benchmark::DoNotOptimize(emitter.UpdateParticles(nullptr));
        }
    };
    auto runPlain = [&] {
        for (int u = 0; u < kUpdates; ++u) {
            g_now += 20;
            const int64_t now = g_now;
            const float s = float(now - plainLast) * 1.0f * g_particleTimeStep;
            plainLast = now;
            const Vec3 gain = Vec3Scale(acceleration, s);
            for (size_t i = 0; i < plain.size();) {
                PlainParticle& p = plain[i];
                if (p.life >= 0 && now >= p.birth + p.life) {
                    p = plain.back();
                    plain.pop_back();
                    continue;
                }
                p.velocity = Vec3Add(p.velocity, gain);
                p.position = Vec3Add(p.position, Vec3Scale(p.velocity, s));
                ++i;
            }
            benchmark::DoNotOptimize(plain.data());
        }
    };
    auto time = [](auto& run) {
        auto start = std::chrono::steady_clock::now();
        run();
        return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() /
               (double(kUpdates) * kParticles);
    };
    std::vector<double> ratios, emitterNs, plainNs;
    for (auto _ : state) {
        ratios.clear();
        emitterNs.clear();
        plainNs.clear();
        for (int round = 0; round < kRounds; ++round) {
            double e, p;
            if (round % 2 == 0) {
                e = time(runEmitter);
                p = time(runPlain);
            } else {
                p = time(runPlain);
                e = time(runEmitter);
            }
            ratios.push_back(e / p);
            emitterNs.push_back(e);
            plainNs.push_back(p);
        }
    }
    state.counters["ratio_median"] = Median(ratios);
    state.counters["ratio_min"] = *std::min_element(ratios.begin(), ratios.end());
    state.counters["ratio_max"] = *std::max_element(ratios.begin(), ratios.end());
    state.counters["emitter_ns_per_particle"] = Median(emitterNs);
    state.counters["vector_ns_per_particle"] = Median(plainNs);
    state.counters["particles"] = emitter.particles.count();
    SetClockSource(nullptr);
}
BENCHMARK(BM_UpdateAgainstVector)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
