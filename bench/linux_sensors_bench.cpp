// What the Linux sensor back ends cost on the watched machine (40 temperatures, 8 fans, 2 slow
// channels, a battery):
// - RequestSide: one snapshot's hardware-monitor sample and battery lookup, which only take the
//   latest values (CPU of the requesting thread);
// - RefreshPass: one pass of the lanes over every due file, what being watched costs each
//   second;
// - FirstSnapshotWithSlowChips: a fresh monitor's first sample while four channels take 30 ms a
//   read (the two of the firmware chip, and two of a chip nobody knows to be slow).

#include "backends/linux/hwmon/hwmon_hardware_monitor.h"
#include "backends/linux/sysfs_registry.h"
#include "watched_machine.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <thread>

namespace brivane {
namespace {

using namespace platform::linux_backend;

class ManualClock final : public platform::UptimeClock {
public:
    double uptime() const override { return now_.load(); }
    void advance(double seconds) { now_.store(now_.load() + seconds); }

private:
    std::atomic<double> now_{1000};
};

// Files reading "slow <n>" take 30 ms.
ssize_t slowPread(int fd, void* buffer, std::size_t size, off_t offset) {
    const ssize_t got = ::pread(fd, buffer, size, offset);
    if (got > 5 && std::memcmp(buffer, "slow ", 5) == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        std::memmove(buffer, static_cast<char*>(buffer) + 5, static_cast<std::size_t>(got) - 5);
        return got - 5;
    }
    return got;
}

void RequestSide(benchmark::State& state) {
    testing::TempDir sys("brivane-bench");
    bench::addWatchedMachine(sys);
    HwmonHardwareMonitor monitor(sys.path());
    SysfsRegistry registry(sys.path());
    for (auto _ : state) {
        const auto& sample = monitor.sample();
        const auto battery = registry.firstEntry("AppleSmartBattery");
        benchmark::DoNotOptimize(battery->numberProperty("Temperature"));
        benchmark::DoNotOptimize(battery->numberProperty("Voltage"));
        benchmark::DoNotOptimize(sample.temperatures.data());
    }
    state.counters["temperatures"] = static_cast<double>(monitor.sample().temperatures.size());
    state.counters["fans"] = static_cast<double>(monitor.sample().fans.size());
}
BENCHMARK(RequestSide)->Unit(benchmark::kMicrosecond);

void RefreshPass(benchmark::State& state) {
    testing::TempDir sys("brivane-bench");
    bench::addWatchedMachine(sys);
    const auto clock = std::make_shared<ManualClock>();
    SensorPoller::Setup setup{.clock = clock, .background = false};
    setup.timing.rediscoverEvery = 0;
    HwmonHardwareMonitor monitor(sys.path(), setup);
    SysfsRegistry registry(sys.path(), setup);
    for (auto _ : state) {
        clock->advance(2); // every channel is due, the slow ones too
        monitor.sample();
        registry.firstEntry("AppleSmartBattery");
        monitor.step();
        registry.step();
    }
}
BENCHMARK(RefreshPass)->Unit(benchmark::kMicrosecond);

void FirstSnapshotWithSlowChips(benchmark::State& state) {
    testing::TempDir sys("brivane-bench");
    bench::addWatchedMachine(sys);
    sys.write("devices/platform/dell_smm_hwmon/hwmon/hwmon7/temp1_input", "slow 41000\n");
    sys.write("devices/platform/dell_smm_hwmon/hwmon/hwmon7/temp2_input", "slow 43000\n");
    testing::addHwmonChip(sys, {"hwmon8", "platform/unknown.0",
                                "name=unknown;temp1_input=slow 40000;temp2_input=slow 40000"});
    std::size_t shown = 0;
    for (auto _ : state) {
        HwmonHardwareMonitor monitor(sys.path(), {.pread = slowPread});
        const auto began = std::chrono::steady_clock::now();
        shown = monitor.sample().temperatures.size();
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
    }
    state.counters["shown"] = static_cast<double>(shown);
}
BENCHMARK(FirstSnapshotWithSlowChips)
    ->UseManualTime()
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace brivane
