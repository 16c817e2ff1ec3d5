// Cost of one SMC read on the snapshot path, through the simulated user client.
#include "backends/sim/sim_smc.h"
#include "smc/smc.h"

#include <benchmark/benchmark.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using brivane::SMC;
using brivane::platform::sim::simKey;
using brivane::platform::sim::SimSMC;

void discardLine(std::string_view) {}

void BM_GetValueCachedKey(benchmark::State& state) {
    auto sim = std::make_shared<SimSMC>(std::vector{simKey("TC0P", "flt ", {0, 0, 0x34, 0x42})});
    SMC smc(sim, discardLine);
    smc.getValue("TC0P");
    for (auto _ : state) {
        const auto value = smc.getValue("TC0P");
        if (!value) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_GetValueCachedKey);

// Each iteration reads a key never read before; a fresh connection is opened (untimed) once
// every key of the table has been read.
void BM_GetValueFirstRead(benchmark::State& state) {
    constexpr int kKeys = 4096;
    std::vector<std::string> names;
    std::vector<brivane::platform::sim::SimSMCKey> keys;
    for (int i = 0; i < kKeys; ++i) {
        std::string name = "T";
        for (int digit = 0, rest = i; digit < 3; ++digit, rest /= 26) {
            name.push_back(static_cast<char>('A' + rest % 26));
        }
        keys.push_back(simKey(name, "sp78", {0x2D, 0x80}));
        names.push_back(std::move(name));
    }
    auto sim = std::make_shared<SimSMC>(std::move(keys));
    auto smc = std::make_unique<SMC>(sim, discardLine);
    int next = 0;
    for (auto _ : state) {
        if (next == kKeys) {
            state.PauseTiming();
            smc.reset();
            smc = std::make_unique<SMC>(sim, discardLine);
            next = 0;
            state.ResumeTiming();
        }
        const auto value = smc->getValue(names[next++]);
        if (!value) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(value);
    }
}
BENCHMARK(BM_GetValueFirstRead);

} // namespace
