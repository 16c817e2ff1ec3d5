#include "platform/linux/hwmon/hwmon_hardware_monitor.h"
#include "platform/linux/sysfs_ioreport_source.h"
#include "platform/linux/sysfs_registry.h"
#include "readers/energy_power_reader.h"
#include "smc/smc_test_support.h"
#include "support/child_process.h"
#include "support/sysfs_fixture.h"

#include <gtest/gtest.h>
#include <thread>

namespace brivane::platform::linux_backend {
namespace {

using namespace std::chrono_literals;
using testing::addHwmonChip;
using testing::CapturedLines;

std::optional<double> temperature(HardwareMonitor& monitor, std::string_view key) {
    for (const auto& t : monitor.sample().temperatures) {
        if (t.key == key) {
            return t.celsius;
        }
    }
    return std::nullopt;
}

// A hwmon input, a card file, an energy counter and the NVIDIA library each take 5 s: every
// look a snapshot takes stays under 100 ms, a chip with 20 hung inputs costs one report (one
// thread), and the other chip's value stays current.
TEST(SensorLanes, HungReadsHoldNoSnapshot) {
    testing::TempDir sys;
    std::string hung = "name=coretemp";
    for (int input = 1; input <= 20; ++input) {
        hung += ";temp" + std::to_string(input) + "_input=hang 40000";
    }
    addHwmonChip(sys, {"hwmon0", "platform/coretemp.0", hung});
    addHwmonChip(sys, {"hwmon1", "pci0000:00/0000:00:18.3", "name=k10temp;temp1_input=31000"});
    addHwmonChip(sys, {"hwmon2", "platform/ina.0", "name=ina238;energy1_input=hang 5"});
    testing::addGraphicsCard(sys, 0, "0000:03:00.0", "amdgpu", "gpu_busy_percent=hang 50");
    testing::addGraphicsCard(sys, 1, "0000:02:00.0", "nvidia", "");
    CapturedLines reported;
    SensorPoller::Setup setup{.pread = testing::scriptedPread,
                              .report = reported.sink(),
                              .demand = std::make_shared<SharedDemand>()};
    setup.timing.stuckAfter = 1;
    setup.timing.slowRead = 1; // a busy test machine makes no other file slow
    HwmonHardwareMonitor monitor(sys.path(), setup);
    SysfsRegistry registry(sys.path(), setup, BRIVANE_TEST_FAKE_NVML);
    EnergyPowerReader energy(std::make_shared<SysfsIOReportSource>(
                                 sys.path(), testing::scriptedPread, "/proc", CpuSampling{}, setup),
                             std::make_shared<ManualUptimeClock>());
    for (int round = 0; round < 25; ++round) {
        if (round == 15) {
            sys.write("devices/pci0000:00/0000:00:18.3/hwmon/hwmon1/temp1_input", "32000\n");
        }
        const auto began = std::chrono::steady_clock::now();
        monitor.sample();
        registry.matchingEntries("IOAccelerator")->next();
        registry.firstEntry("AppleSmartBattery");
        energy.read();
        EXPECT_LT(std::chrono::steady_clock::now() - began, 100ms) << "round " << round;
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(temperature(monitor, "k10temp@0000:00:18.3/temp1"), 32);
    EXPECT_EQ(temperature(monitor, "coretemp/temp2"), std::nullopt);
    const auto& sources = monitor.sample().sources;
    EXPECT_NE(std::find_if(sources.begin(), sources.end(),
                           [](const auto& source) { return source.name == "hwmon" && !source.up; }),
              sources.end());
    std::vector<std::string> lines = reported.take();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const auto& line) { return line.find("hwmon0") != line.npos; }),
              1);
}

// A walk held up by one chip is left behind: the others are found at once, the chip again when
// its read returns, and a chip added later on the timer.
TEST(SensorLanes, DiscoveryRecoversFromAHungWalk) {
    testing::TempDir sys;
    addHwmonChip(sys, {"hwmon0", "platform/a.0", "name=a"});
    addHwmonChip(sys, {"hwmon1", "platform/b.0", "name=b"});
    std::atomic<int> walks{0};
    using Names = std::vector<std::string>;
    SensorPoller::Setup setup{.classFolders = {"class/hwmon"}, .report = [](std::string_view) {}};
    setup.timing.stuckAfter = 0.3;
    setup.timing.rediscoverEvery = 1;
    CatalogPoller<Names> poller(
        sys.path(),
        [&walks](const std::shared_ptr<ChannelSet>& set) {
            const bool first = walks++ == 0;
            auto names = std::make_shared<Names>();
            for (const auto& node : set->root().list("class/hwmon")) {
                if (const auto name =
                        set->root().readText(("class/hwmon/" + node + "/name").c_str())) {
                    names->emplace_back(host::withoutNewline(*name));
                    if (first && node == "hwmon0") {
                        std::this_thread::sleep_for(1500ms); // a read that hangs, once
                    }
                }
            }
            return std::shared_ptr<const Names>(std::move(names));
        },
        setup);
    const auto found = [&](const Names& names) {
        return testing::pollUntil(5s, [&] {
            const auto current = poller.current();
            return current && *current == names;
        });
    };
    EXPECT_TRUE(found({"b"}));
    EXPECT_FALSE(poller.up());
    EXPECT_TRUE(found({"a", "b"}));
    EXPECT_TRUE(poller.up());
    addHwmonChip(sys, {"hwmon2", "platform/c.0", "name=c"});
    EXPECT_TRUE(found({"a", "b", "c"}));
}

// A file that keeps failing is looked for again once, then left alone; one the user may not
// read is not looked for at all.
TEST(SensorLanes, FailingFilesAreRetired) {
    static std::atomic<int> failingReads{0};
    const auto counting = +[](int fd, void* buffer, std::size_t size, off_t offset) -> ssize_t {
        char first = 0;
        if (::pread(fd, &first, 1, 0) == 1 && first == '!') {
            ++failingReads;
        }
        return testing::scriptedPread(fd, buffer, size, offset);
    };
    testing::TempDir sys;
    addHwmonChip(sys, {"hwmon0", "platform/coretemp.0",
                       "name=coretemp;temp1_input=40000;temp2_input=!19;temp3_input=!13"});
    const auto clock = std::make_shared<ManualUptimeClock>();
    HwmonHardwareMonitor monitor(sys.path(),
                                 {.clock = clock, .pread = counting, .background = false});
    for (int pass = 0; pass < 10; ++pass) {
        monitor.sample();
        monitor.step();
        clock->advance(1);
    }
    EXPECT_EQ(failingReads, 3); // ENODEV twice, EACCES once
    EXPECT_EQ(temperature(monitor, "coretemp/temp1"), 40);
}

} // namespace
} // namespace brivane::platform::linux_backend
