// Crowd culler over 10,000 actors per frame, against a plain distance pass over the same actors.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "creator/thermal/OruCameraConeCrowdCullerV1300.h"

using namespace vantry::creator;
namespace culler = vantry::creator::OruCameraConeCrowdCullerV1300;

namespace {

struct Crowd {
    std::vector<CrowdVec2> positions;
    std::vector<bool> cloth;
};

const Crowd& crowd() {
    static const Crowd c = [] {
        Crowd out;
        std::mt19937 rng(7);
        std::uniform_real_distribution<float> coord(-40.0f, 40.0f);
        for (int i = 0; i < 10000; ++i) {
            out.positions.push_back({coord(rng), coord(rng)});
            out.cloth.push_back(i % 3 == 0);
        }
        return out;
    }();
    return c;
}

const OruThermalRenderProfileV1300& cool() {
    return OruThermalRenderProfileV1300::forTier(OruThermalTierV1300::coolNominal);
}

// Baseline: one pass measuring every actor's distance, the least any culler must do.
void BM_DistancePassBaseline(benchmark::State& state) {
    const auto& c = crowd();
    std::vector<float> dist(c.positions.size());
    for (auto _ : state) {
        for (std::size_t i = 0; i < c.positions.size(); ++i) {
            const float dx = c.positions[i].x - 1.0f, dy = c.positions[i].y + 2.0f;
            dist[i] = std::sqrt(dx * dx + dy * dy);
        }
        benchmark::DoNotOptimize(dist.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(c.positions.size()));
}
BENCHMARK(BM_DistancePassBaseline);

// Reference: the rules done the long way (stable sort of every actor, then one walk), to show what
// ordering only the visible slots saves.
void BM_FullSortReference10k(benchmark::State& state) {
    const auto& c = crowd();
    const auto& p = cool();
    const std::size_t n = c.positions.size();
    std::vector<float> dist(n);
    std::vector<std::uint8_t> inCone(n);
    std::vector<std::uint32_t> order(n);
    std::vector<OruCrowdCullDecisionV1300> out(n);
    const float fl = std::sqrt(0.3f * 0.3f + 1.0f);
    const CrowdVec2 fwd{0.3f / fl, 1.0f / fl};
    std::int64_t frame = 0;
    for (auto _ : state) {
        for (std::size_t i = 0; i < n; ++i) {
            const float dx = c.positions[i].x - 1.0f, dy = c.positions[i].y + 2.0f;
            const float d = std::sqrt(dx * dx + dy * dy);
            dist[i] = d;
            inCone[i] = d < 5.5f ||
                        (d <= p.actorCullDistanceMeters &&
                         fwd.x * (dx / std::max(d, 0.001f)) + fwd.y * (dy / std::max(d, 0.001f)) > -0.18f);
            order[i] = static_cast<std::uint32_t>(i);
        }
        std::stable_sort(order.begin(), order.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return dist[a] < dist[b]; });
        std::int64_t visible = 0, cloth = 0, hair = 0;
        for (const auto i : order) {
            out[i] = {false, false, false, false, dist[i]};
            if (!inCone[i] || visible >= p.maxVisibleActors) continue;
            const std::uint64_t slot = static_cast<std::uint64_t>(frame) + i;
            const bool step = dist[i] < 11 || (dist[i] < 19 ? (slot & 1) == 0 : (slot & 3) == 0);
            const bool co = step && dist[i] < 16 && c.cloth[i] && cloth < p.clothSimBudget;
            const bool ho = step && dist[i] < 14 && hair < p.hairSimBudget;
            cloth += co, hair += ho;
            out[i] = {true, step, co, ho, dist[i]};
            ++visible;
        }
        ++frame;
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}
BENCHMARK(BM_FullSortReference10k);

void BM_EvaluateCrowd10k(benchmark::State& state) {
    const auto& c = crowd();
    std::int64_t frame = 0;
    for (auto _ : state) {
        auto d = culler::evaluateCrowd(c.positions, c.cloth, {1.0f, -2.0f}, {0.3f, 1.0f}, cool(), frame++);
        benchmark::DoNotOptimize(d.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(c.positions.size()));
}
BENCHMARK(BM_EvaluateCrowd10k);

void BM_EvaluateCrowdInto10kWarm(benchmark::State& state) {
    const auto& c = crowd();
    std::vector<OruCrowdCullDecisionV1300> out;
    culler::CrowdCullScratch scratch;
    std::int64_t frame = 0;
    for (auto _ : state) {
        culler::evaluateCrowdInto(c.positions, c.cloth, {1.0f, -2.0f}, {0.3f, 1.0f}, cool(), frame++, out,
                                  scratch);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(c.positions.size()));
}
BENCHMARK(BM_EvaluateCrowdInto10kWarm);

}  // namespace
