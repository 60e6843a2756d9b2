// Raid-map JSON and vault costs. Baselines in the same run: copying the bytes of one map
// file (for decoding and encoding), and reading the vault's files without decoding them
// (for loading the vault). Everything happens in a temporary folder.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "creator/ugc/OruUGCRaidMapRecordV1175.h"
#include "creator/ugc/OruUGCVaultStorageV1175.h"

using namespace vantry::creator;
namespace fs = std::filesystem;

namespace {

constexpr int kVaultMaps = 100;

struct Fixture {
    fs::path dir;
    std::string pretty;
    OruUGCRaidMapRecordV1175 map;

    Fixture() {
        std::string pattern = (fs::temp_directory_path() / "vantry-ugc-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) std::abort();
        dir = pattern;
        map = OruUGCVaultStorageV1175::flagshipRaidPacks().front();
        pretty = encodeRaidMapPretty(map);
        for (int i = 0; i < kVaultMaps; ++i) {
            auto m = map;
            m.id = "map_" + std::to_string(i);
            m.createdISO = "2026-01-01T00:00:" + std::to_string(10 + i % 50) + "Z";
            OruUGCVaultStorageV1175::saveLocally(m, dir / "vault");
        }
    }
    ~Fixture() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_CopyMapBytes_Baseline(benchmark::State& state) {
    const std::string& src = fixture().pretty;
    for (auto _ : state) {
        std::string copy = src;
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}

void BM_DecodeMap(benchmark::State& state) {
    const std::string& src = fixture().pretty;
    for (auto _ : state) {
        auto m = decodeRaidMap(src);
        benchmark::DoNotOptimize(m);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}

void BM_EncodeMapPretty(benchmark::State& state) {
    const auto& m = fixture().map;
    for (auto _ : state) {
        auto text = encodeRaidMapPretty(m);
        benchmark::DoNotOptimize(text.data());
    }
}

void BM_ReadVaultFiles_Baseline(benchmark::State& state) {
    const fs::path vault = fixture().dir / "vault";
    for (auto _ : state) {
        std::size_t total = 0;
        for (const auto& e : fs::directory_iterator(vault)) {
            std::ifstream in(e.path(), std::ios::binary);
            std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            total += bytes.size();
        }
        benchmark::DoNotOptimize(total);
    }
    state.counters["maps"] = kVaultMaps;
}

void BM_LoadLocalVault(benchmark::State& state) {
    const fs::path vault = fixture().dir / "vault";
    for (auto _ : state) {
        auto maps = OruUGCVaultStorageV1175::loadLocalVault(vault);
        if (maps.size() != kVaultMaps) state.SkipWithError("vault did not load");
        benchmark::DoNotOptimize(maps.data());
    }
    state.counters["maps"] = kVaultMaps;
}

}  // namespace

BENCHMARK(BM_CopyMapBytes_Baseline);
BENCHMARK(BM_DecodeMap);
BENCHMARK(BM_EncodeMapPretty);
BENCHMARK(BM_ReadVaultFiles_Baseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LoadLocalVault)->Unit(benchmark::kMicrosecond);
