// What a scrape of the watched machine (bench/watched_machine.h) costs the exporter once the
// agent's document has arrived: decoding it and formatting its metrics, with the document's
// `sensors` member (limits, rails, alarms) and without it. The member may add at most 30 %.
// Beside it, what the client's snapshot view costs for the same document: its tables for a
// person and its JSON for scripts.

#include "backends/linux/hwmon/hwmon_hardware_monitor.h"
#include "core/sensor_details.h"
#include "formats/document_codec.h"
#include "sensors-cli/document_view.h"
#include "sensors-common/metrics_text.h"
#include "watched_machine.h"

#include <benchmark/benchmark.h>

namespace brivane {
namespace {

// The document the agent sends for the watched machine, as the assembly fills it from the
// monitors (the SMC and the other back ends have nothing there).
std::string watchedDocument(bool withSensors) {
    testing::TempDir sys("brivane-bench");
    bench::addWatchedMachine(sys);
    platform::linux_backend::HwmonHardwareMonitor monitor(sys.path());
    const auto& sample = monitor.sample();
    SensorSnapshot snapshot;
    for (const auto& temperature : sample.temperatures) {
        snapshot.temperatures.push_back({std::string(temperature.key), temperature.celsius});
    }
    snapshot.temperatures.push_back({"BatteryTemperature", 30.5});
    for (const auto& fan : sample.fans) {
        snapshot.fans.push_back({fan.index, std::string(fan.name), fan.rpm, fan.maximumRPM});
    }
    snapshot.power.emplace();
    for (const auto& power : sample.power) {
        snapshot.power->push_back({std::string(power.key), power.watts});
    }
    snapshot.power->push_back({"BatteryVoltage", 12.6});
    snapshot.supportsProcessDetails = snapshot.supportsStorageHealth = true;
    snapshot.supportsManagement = true;
    snapshot.companionVersion = "1.4.0";
    if (withSensors) {
        snapshot.sensors = sensorDetails(sample.sensors);
    }
    return encode(snapshot);
}

void ScrapeFormatting(benchmark::State& state) {
    const std::string document = watchedDocument(state.range(0) != 0);
    std::size_t body = 0;
    for (auto _ : state) {
        const auto snapshot = decodeSensorSnapshot(document);
        const std::string text = cli::exposition(cli::metricFamilies(&*snapshot, 0.001));
        body = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["document"] = static_cast<double>(document.size());
    state.counters["body"] = static_cast<double>(body);
}
BENCHMARK(ScrapeFormatting)->ArgName("sensors")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void SnapshotView(benchmark::State& state) {
    const std::string document = watchedDocument(state.range(0) != 0);
    std::size_t shown = 0;
    for (auto _ : state) {
        const auto view = cli::viewDocument(ipc::Selector::snapshot, std::nullopt, document);
        const std::string text = cli::renderText(*view) + cli::renderJson(*view, "snapshot");
        shown = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["shown"] = static_cast<double>(shown);
}
BENCHMARK(SnapshotView)->ArgName("sensors")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace brivane
