#include "backends/linux/hwmon/hwmon_hardware_monitor.h"
#include "backends/linux/polling/poller_test_support.h"
#include "backends/linux/sysfs_ioreport_source.h"
#include "backends/linux/sysfs_registry.h"
#include "readers/energy_power_reader.h"
#include "smc/smc_test_support.h"
#include "support/child_process.h"
#include "support/sysfs_fixture.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>

namespace brivane::platform::linux_backend {
namespace {

using testing::addHwmonChip;
using testing::CapturedLines;

// Firmware-backed chips go to the slow lane by name, a channel once slow stays there and is read
// no more than 2 % of the time, a cached chip is never read faster than its cache, and nothing
// is read once nobody has asked for 10 s.
TEST(SensorPoller, ReadsAtEachDriversPaceAndOnlyWhileClientsAsk) {
    testing::TempDir sys;
    addHwmonChip(sys, {"hwmon0", "platform/dell_smm_hwmon", "name=dell_smm;temp1_input=smm 45000"});
    addHwmonChip(sys, {"hwmon1", "platform/nct6775.656", "name=nct6798;temp1_input=30000"});
    addHwmonChip(sys, {"hwmon2", "platform/coretemp.0", "name=coretemp;temp1_input=smm 50000"});
    const auto clock = std::make_shared<ManualUptimeClock>();
    clockOfReads = clock.get();
    boardReads = 0;
    smmReads = 0;
    HwmonHardwareMonitor monitor(sys.path(), manual(clock));
    std::vector<int> boardReadsAt;
    for (int tick = 0; tick < 40; ++tick) { // half seconds; a client asks for the first 5 s
        if (tick < 10) {
            monitor.sample();
        }
        monitor.step();
        boardReadsAt.push_back(boardReads.load());
        clock->advance(0.5);
    }
    for (std::size_t tick = 3; tick < boardReadsAt.size(); ++tick) {
        EXPECT_LE(boardReadsAt[tick] - boardReadsAt[tick - 3], 1) << "at tick " << tick;
    }
    EXPECT_GE(boardReadsAt[28], 6);
    EXPECT_EQ(boardReadsAt[29], boardReadsAt.back());
    EXPECT_EQ(smmReads, 2); // each once: their half-second reads are due again after 25 s
    monitor.sample();
    monitor.step();
    EXPECT_EQ(temperaturesOf(monitor.sample()),
              (Found{{"coretemp/temp1", 50}, {"dell_smm/temp1", 45}, {"nct6798/temp1", 30}}));
}

TEST(SensorPoller, ChipsThatComeAndGoAreFoundWhileClientsAsk) {
    testing::TempDir sys;
    addHwmonChip(sys, {"hwmon0", "platform/coretemp.0", "name=coretemp;temp1_input=40000"});
    int events[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_DGRAM, 0, events), 0);
    posix::FileDescriptor sender(events[0]);
    const auto clock = std::make_shared<ManualUptimeClock>();
    auto setup = manual(clock, testing::scriptedPread);
    setup.openUevents = [receiver = events[1]] { return posix::FileDescriptor(receiver); };
    HwmonHardwareMonitor monitor(sys.path(), setup);
    const auto keys = [&] {
        monitor.sample();
        monitor.step();
        std::vector<std::string> found;
        for (const auto& t : monitor.sample().temperatures) {
            found.emplace_back(t.key);
        }
        return found;
    };
    EXPECT_EQ(keys(), std::vector<std::string>{"coretemp/temp1"});

    // A USB cooler: found on the kernel's event, not on every snapshot.
    addHwmonChip(sys, {"hwmon1", "pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/0003:1E71:2007.0003",
                       "name=kraken3;temp1_label=Coolant temp;temp1_input=31000"});
    EXPECT_EQ(keys().size(), 1u);
    const char event[] = "add@/devices/x/hwmon/hwmon1\0ACTION=add\0SUBSYSTEM=hwmon";
    ASSERT_EQ(::send(sender.get(), event, sizeof event, 0), static_cast<ssize_t>(sizeof event));
    EXPECT_EQ(keys(), (std::vector<std::string>{"coretemp/temp1", "kraken3@1-4:1.0/Coolant temp"}));

    // A driver probed again: its old node's kept file reads ENODEV (one refresh later), and the
    // pass after that finds the new node.
    sys.write("devices/platform/coretemp.0/hwmon/hwmon0/temp1_input", "!19\n");
    std::filesystem::remove(sys / "class/hwmon/hwmon0");
    addHwmonChip(sys, {"hwmon5", "platform/coretemp.0", "name=coretemp;temp1_input=41000"});
    for (int refresh = 0; refresh < 2; ++refresh) {
        clock->advance(1);
        keys();
    }
    EXPECT_EQ(temperaturesOf(monitor.sample()).front(), (Found::value_type{"coretemp/temp1", 41}));
}

// A FIFO planted in the tree cannot hold discovery; a read that blocks holds neither a request
// nor the other sensors, and is reported once; a slow chip never holds the first snapshot.
TEST(SensorPoller, ABlockingFileHoldsNeitherRequestsNorOtherSensors) {
    testing::TempDir sys;
    addHwmonChip(sys, {"hwmon0", "platform/coretemp.0", "name=coretemp;temp1_input=40000"});
    addHwmonChip(sys, {"hwmon1", "platform/it87.2656", "name=it8688;temp1_input=gate 41000"});
    addHwmonChip(sys, {"hwmon2", "platform/nct6775.656", "name=nct6798;temp1_input=32000"});
    addHwmonChip(sys, {"hwmon3", "platform/dell_smm_hwmon", "name=dell_smm;temp1_input=gate 1"});
    addHwmonChip(sys, {"hwmon4", "platform/pipe.0", "temp1_input=35000"});
    ASSERT_EQ(::mkfifo((sys / "devices/platform/pipe.0/hwmon/hwmon4/name").c_str(), 0644), 0);
    ASSERT_EQ(
        ::mkfifo((sys / "devices/platform/coretemp.0/hwmon/hwmon0/temp2_input").c_str(), 0644), 0);
    testing::addPowerSupply(sys, "BAT0", "platform/BAT0", "type=Battery;voltage_now=gate 1");
    CapturedLines reported;
    SensorPoller::Setup setup{.pread = timedPread};
    setup.timing.firstWait = 0.25; // the pass cannot end: a file on it blocks
    setup.timing.stuckAfter = 1;
    setup.timing.rediscoverEvery = 1;
    setup.report = reported.sink();
    HwmonHardwareMonitor monitor(sys.path(), setup);
    SysfsRegistry registry(sys.path(), setup);

    const auto shown = [&](std::size_t count) {
        return testing::pollUntil(std::chrono::seconds(10),
                                  [&] { return temperaturesOf(monitor.sample()).size() == count; });
    };
    EXPECT_TRUE(shown(1));
    EXPECT_EQ(temperaturesOf(monitor.sample()), (Found{{"coretemp/temp1", 40}}));
    const auto battery = registry.firstEntry("AppleSmartBattery");
    ASSERT_NE(battery, nullptr);
    EXPECT_EQ(battery->numberProperty("Voltage"), std::nullopt);
    EXPECT_TRUE(shown(2));
    EXPECT_EQ(temperaturesOf(monitor.sample()).back(), (Found::value_type{"nct6798/temp1", 32}));
    std::vector<std::string> lines; // the registry's stuck read is seen by its next lookup
    EXPECT_TRUE(testing::pollUntil(std::chrono::seconds(10), [&] {
        registry.firstEntry("AppleSmartBattery");
        for (auto& line : reported.take()) {
            lines.push_back(std::move(line));
        }
        return lines.size() >= 3;
    }));
    const std::string late = " did not answer within 1 s; its device is not read until it answers.";
    EXPECT_EQ(lines,
              (std::vector<std::string>{"Sensor file class/hwmon/hwmon1/temp1_input" + late,
                                        "Sensor file class/hwmon/hwmon3/temp1_input" + late,
                                        "Sensor file class/power_supply/BAT0/voltage_now" + late}));
    gate.set_value();
    EXPECT_TRUE(testing::pollUntil(std::chrono::seconds(10), [] { return readsAtTheGate == 0; }));
    EXPECT_TRUE(shown(4)); // the chips that answered at last, from the next timed walk on
}

// Under a sanitizer, starting the fresh lanes alone takes longer.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr std::chrono::milliseconds snapshotLimit{400};
#else
constexpr std::chrono::milliseconds snapshotLimit{100};
#endif

// A hwmon input, a card file, an energy counter and the NVIDIA library each take 5 s: the first
// snapshot waits for the lanes' first pass once for all back ends (one firstWait, not three),
// every later look stays under 100 ms, a chip with 20 hung inputs costs one report (one
// thread), and the other chip's value stays current. The first wait is long beside the time
// six lanes take to start on a busy machine, so that one deadline is told from three.
TEST(SensorPoller, HungReadsHoldNoSnapshot) {
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
    setup.timing.firstWait = 0.5;
    const std::chrono::duration<double> firstWait(setup.timing.firstWait);
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
        const auto took = std::chrono::steady_clock::now() - began;
        EXPECT_LT(took, round == 0 ? 2 * firstWait : snapshotLimit) << "round " << round;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(temperaturesOf(monitor.sample()), (Found{{"k10temp@0000:00:18.3/temp1", 32}}));
    ASSERT_FALSE(monitor.sample().sources.empty());
    EXPECT_EQ(monitor.sample().sources[0].name + (monitor.sample().sources[0].up ? "" : " down"),
              "hwmon down");
    const auto lines = reported.take();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const auto& line) { return line.find("hwmon0") != line.npos; }),
              1);
}

// A walk held up by one chip is left behind: the others are found at once, the chip again when
// its read returns, and a chip added later on the timer.
TEST(SensorPoller, DiscoveryRecoversFromAHungWalk) {
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
                    names->emplace_back(posix::withoutNewline(*name));
                    if (first && node == "hwmon0") {
                        std::this_thread::sleep_for(
                            std::chrono::milliseconds(1500)); // a read that hangs, once
                    }
                }
            }
            return std::shared_ptr<const Names>(std::move(names));
        },
        setup);
    const auto found = [&](const Names& names) {
        return testing::pollUntil(std::chrono::seconds(5), [&] {
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
TEST(SensorPoller, FailingFilesAreRetired) {
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
    EXPECT_EQ(temperaturesOf(monitor.sample()), (Found{{"coretemp/temp1", 40}}));
}

} // namespace
} // namespace brivane::platform::linux_backend
