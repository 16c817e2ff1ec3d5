// The Linux sensor reads of one snapshot over a generated sysfs tree (40 temperatures, 4 fans
// with their maxima, a battery): files kept open and re-read with pread, against the same files
// opened, read and closed for every value.

#include "platform/linux/hwmon_hardware_monitor.h"
#include "platform/linux/sysfs_registry.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <stdlib.h>

namespace brivane {
namespace {

namespace fs = std::filesystem;
using namespace platform::linux_backend;
using platform::host::RootedDirectory;

class GeneratedTree {
public:
    GeneratedTree() {
        std::string pattern = (fs::temp_directory_path() / "brivane-bench-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data()) ? pattern : "";
        chip("hwmon0", "platform/coretemp.0", "coretemp", 20, 0);
        chip("hwmon1", "platform/nct6775.656", "nct6775", 20, 4);
        const std::string battery = "devices/LNXSYSTM:00/PNP0C0A:00/power_supply/BAT0";
        write(battery + "/type", "Battery\n");
        write(battery + "/temp", "305\n");
        write(battery + "/voltage_now", "12600000\n");
        link("class/power_supply/BAT0", "../../" + battery);
    }
    ~GeneratedTree() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    const std::string& root() const { return root_; }

private:
    void write(const std::string& relative, const std::string& text) {
        fs::create_directories(fs::path(root_ + "/" + relative).parent_path());
        std::ofstream(root_ + "/" + relative) << text;
    }
    void link(const std::string& relative, const std::string& target) {
        fs::create_directories(fs::path(root_ + "/" + relative).parent_path());
        fs::create_symlink(target, root_ + "/" + relative);
    }
    void chip(const std::string& node, const std::string& device, const std::string& name,
              int temperatures, int fans) {
        const std::string folder = "devices/" + device + "/hwmon/" + node;
        write(folder + "/name", name + "\n");
        for (int i = 1; i <= temperatures; ++i) {
            write(folder + "/temp" + std::to_string(i) + "_label", "Core " + std::to_string(i));
            write(folder + "/temp" + std::to_string(i) + "_input", std::to_string(40000 + i));
        }
        for (int i = 1; i <= fans; ++i) {
            write(folder + "/fan" + std::to_string(i) + "_input", std::to_string(1000 + i));
            write(folder + "/fan" + std::to_string(i) + "_max", "6000\n");
        }
        link("class/hwmon/" + node, "../../" + folder);
    }

    std::string root_;
};

void KeptDescriptors(benchmark::State& state) {
    const GeneratedTree tree;
    HwmonHardwareMonitor monitor(tree.root());
    SysfsRegistry registry(tree.root());
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
BENCHMARK(KeptDescriptors)->Unit(benchmark::kMicrosecond);

// The same values read as simple readers do: open, read, close, per value.
void OpenReadClosePerValue(benchmark::State& state) {
    const GeneratedTree tree;
    const RootedDirectory sys(tree.root());
    std::vector<std::string> temperatures, fans;
    for (const auto& chip : listHwmonChips(sys)) {
        for (const auto& channel : chip.channels) {
            (channel.kind == SensorKind::temperature ? temperatures : fans)
                .push_back(channel.input);
            if (!channel.maximum.empty()) {
                fans.push_back(channel.maximum);
            }
        }
    }
    const std::string battery = "class/power_supply/BAT0/";
    const std::string batteryFiles[] = {battery + "temp", battery + "voltage_now"};
    platform::MonitorSample sample;
    for (auto _ : state) {
        sample.temperatures.clear();
        sample.fans.clear();
        for (const auto& file : temperatures) {
            if (const auto value = sys.readInteger(file.c_str()).value) {
                sample.temperatures.push_back({file, static_cast<double>(*value) / 1000});
            }
        }
        for (const auto& file : fans) {
            if (const auto value = sys.readInteger(file.c_str()).value) {
                sample.fans.push_back({0, file, static_cast<double>(*value), std::nullopt});
            }
        }
        for (const auto& file : batteryFiles) {
            benchmark::DoNotOptimize(sys.readInteger(file.c_str()).value);
        }
        benchmark::DoNotOptimize(sample.temperatures.data());
    }
    state.counters["temperatures"] = static_cast<double>(sample.temperatures.size());
    state.counters["fans"] = static_cast<double>(sample.fans.size() / 2);
}
BENCHMARK(OpenReadClosePerValue)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace brivane
