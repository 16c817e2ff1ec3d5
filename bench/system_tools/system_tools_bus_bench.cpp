// One run of the power tool stand-in with five UPower devices, and one of the disk tool for an
// NVMe drive, each started the way the agent starts them, against mock services on a private
// bus.
#include "backends/posix/system/spawn_tool_runner.h"
#include "support/mock_system_bus.h"
#include "support/temp_dir.h"

#include <benchmark/benchmark.h>
#include <memory>

namespace {

using brivane::platform::ToolEnvironment;
using brivane::platform::ToolRun;
using brivane::platform::posix::SpawnToolRunner;
using brivane::testing::MockSystemBus;

const std::string tools = BRIVANE_SYSTEM_TOOLS;
const std::string services = BRIVANE_MOCK_SERVICES;

constexpr const char* fiveDevices = R"({"devices": {
  "mouse": {"Type": ["u", 5], "PowerSupply": ["b", false], "Percentage": ["d", 64.0],
            "Model": ["s", "Mouse"], "Serial": ["s", "aa:bb:cc:dd:ee:01"]},
  "keyboard": {"Type": ["u", 6], "PowerSupply": ["b", false], "Percentage": ["d", 50.0],
               "Model": ["s", "Keyboard"], "Serial": ["s", "aa:bb:cc:dd:ee:02"]},
  "headset": {"Type": ["u", 17], "PowerSupply": ["b", false], "Percentage": ["d", 80.0]},
  "pad": {"Type": ["u", 12], "PowerSupply": ["b", false], "Percentage": ["d", 20.0]},
  "pen": {"Type": ["u", 13], "PowerSupply": ["b", false], "Percentage": ["d", 90.0]}}})";

ToolRun standIn(const MockSystemBus& bus, std::vector<std::string> arguments) {
    return ToolRun{tools, std::move(arguments),
                   ToolEnvironment::inheritedWith({{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}})};
}

void run(benchmark::State& state, const ToolRun& toolRun) {
    for (auto _ : state) {
        const auto result = SpawnToolRunner::spawn(toolRun);
        if (!result.succeeded() || result.output.empty()) {
            state.SkipWithError("the stand-in failed");
            break;
        }
    }
}

void BM_PmsetFiveUPowerDevices(benchmark::State& state) {
    MockSystemBus bus;
    if (!bus.startService(services + "/upower_devices.py", "org.freedesktop.UPower", fiveDevices)) {
        state.SkipWithError("no mock bus");
        return;
    }
    run(state, standIn(bus, {"pmset", "-g", "accps", "-xml"}));
}
BENCHMARK(BM_PmsetFiveUPowerDevices)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DiskutilNvmeDrive(benchmark::State& state) {
    const auto list =
        SpawnToolRunner::spawn(ToolRun{tools, {"diskutil", "list"}, ToolEnvironment::inherited()});
    const auto tab = list.output.find('\t');
    if (!list.output.starts_with("disk0\t")) {
        state.SkipWithError("no whole disk here");
        return;
    }
    const auto kernelName =
        list.output.substr(tab + 1, list.output.find_first_of("\t\n", tab + 1) - tab - 1);
    MockSystemBus bus;
    const std::string drives = R"({"drives": [{"name": "d", "block": ")" + kernelName + R"(",
        "nvme": {"SmartTemperature": ["q", 310], "SmartPowerOnHours": ["t", 2871]},
        "attributes": {"percent_used": ["y", 3], "total_data_read": ["t", 512000000],
                       "power_cycles": ["t", 412]}}]})";
    if (!bus.startService(services + "/udisks_drives.py", "org.freedesktop.UDisks2", drives)) {
        state.SkipWithError("no mock bus");
        return;
    }
    run(state, standIn(bus, {"diskutil", "info", "-plist", "disk0"}));
}
BENCHMARK(BM_DiskutilNvmeDrive)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
