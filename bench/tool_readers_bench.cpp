#include "backends/posix/system/spawn_tool_runner.h"
#include "backends/sim/canned_outputs.h"
#include "formats/sensor_snapshot.h"
#include "formats/storage_health.h"
#include "readers/accessory_reader.h"      // parses the power tool's accessory list
#include "readers/storage_health_reader.h" // parses the disk tool's description

#include <benchmark/benchmark.h>

namespace {

using brivane::SensorSnapshot;
using brivane::StorageHealthReading;

void BM_AccessoryParse(benchmark::State& state) {
    const auto output = brivane::platform::sim::cannedPmsetOutput();
    for (auto _ : state) {
        benchmark::DoNotOptimize(SensorSnapshot::AccessoryReading::parse(output));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * output.size()));
}
BENCHMARK(BM_AccessoryParse);

void BM_StorageHealthParse(benchmark::State& state) {
    const auto output = brivane::platform::sim::cannedDiskutilOutput("disk0");
    for (auto _ : state) {
        benchmark::DoNotOptimize(StorageHealthReading::parse(output, "disk0"));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * output.size()));
}
BENCHMARK(BM_StorageHealthParse);

// Start, capture and reap one short-lived child: the floor of every tool-backed reading.
void BM_ToolRunTrue(benchmark::State& state) {
    brivane::platform::posix::SpawnToolRunner runner;
    brivane::platform::ToolRun run;
    run.path = "/bin/true";
    for (auto _ : state) {
        benchmark::DoNotOptimize(runner.run(run));
    }
}
BENCHMARK(BM_ToolRunTrue)->Unit(benchmark::kMicrosecond);

} // namespace
