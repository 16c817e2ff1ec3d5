// The snapshot path as the service runs it on every poll: assembly against the simulated
// laptop (SMC, registry, energy counters, kept accessory list), encoding and the reply.

#include "backends/sim/canned_outputs.h"
#include "backends/sim/scripted_tool_runner.h"
#include "backends/sim/sim_ioreport_machine.h"
#include "backends/sim/sim_process_table.h"
#include "backends/sim/sim_registry.h"
#include "backends/sim/sim_smc_laptop.h"
#include "base/main_queue.h"
#include "core/sensor_companion.h"
#include "platform/file_mapper.h"
#include "platform/os_version.h"
#include "platform/workspace.h"

#include <benchmark/benchmark.h>
#include <condition_variable>
#include <mutex>

namespace brivane {
namespace {

std::unique_ptr<SensorCompanion> simulatedCompanion() {
    const auto clock = platform::makeDefaultUptimeClock();
    auto tools = std::make_shared<platform::sim::ScriptedToolRunner>();
    tools->answer("/usr/bin/pmset", {"-g", "accps", "-xml"}, 0, platform::sim::cannedPmsetOutput());
    const auto processes = std::make_shared<platform::sim::SimProcessTable>();
    const auto ioreport = platform::sim::makeSimulatedMacIOReport(clock);

    SensorCompanion::Dependencies parts;
    parts.reader = std::make_shared<SMC>(platform::sim::makeSimulatedLaptopSMC(clock),
                                         [](std::string_view) {});
    parts.updater = std::make_shared<CompanionUpdater>();
    parts.processReader = std::make_shared<ProcessDetailsReader>(processes, tools, clock);
    parts.energyPowerReader = std::make_shared<EnergyPowerReader>(ioreport, clock);
    parts.makeCPUReader = [=] {
        return std::make_unique<CPUDetailsReader>(ioreport, tools, clock, processes);
    };
    parts.registry = platform::sim::makeSimLaptopRegistry();
    parts.bundleInfo = std::make_shared<platform::StaticBundleInfo>(
        std::map<std::string, std::string, std::less<>>{{"CFBundleShortVersionString", "1.0.0"}});
    parts.toolRunner = tools;
    parts.clock = clock;
    parts.processTable = processes;
    return std::make_unique<SensorCompanion>(std::move(parts));
}

// One request and its reply, waited for on the calling thread.
std::size_t snapshotOnce(SensorCompanion& service) {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<std::size_t> size;
    service.snapshotWithReply([&](std::optional<std::string> data) {
        const std::lock_guard lock(mutex);
        size = data ? data->size() : 0;
        done.notify_one();
    });
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return size.has_value(); });
    return *size;
}

void BM_SnapshotRequest(benchmark::State& state) {
    const auto service = simulatedCompanion();
    snapshotOnce(*service); // key discovery and the first accessory run happen once
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = snapshotOnce(*service);
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["document_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_SnapshotRequest)->Unit(benchmark::kMicrosecond);

void BM_FirstSnapshotWithKeyDiscovery(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto service = simulatedCompanion();
        state.ResumeTiming();
        benchmark::DoNotOptimize(snapshotOnce(*service));
        state.PauseTiming();
        service.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstSnapshotWithKeyDiscovery)->Unit(benchmark::kMicrosecond)->Iterations(50);

} // namespace
} // namespace brivane
