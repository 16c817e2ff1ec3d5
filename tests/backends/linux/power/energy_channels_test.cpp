#include "backends/linux/gpu/card_activity.h"
#include "backends/linux/power/energy_counters.h"
#include "backends/linux/sysfs_ioreport_source.h"
#include "readers/energy_power_reader.h"
#include "support/sysfs_fixture.h"

#include <gtest/gtest.h>

namespace brivane::platform::linux_backend {
namespace {

using testing::TempDir;

std::vector<std::string> channelNames(const std::optional<IOReportChannelList>& channels) {
    std::vector<std::string> names;
    for (const auto& channel : channels.value_or(IOReportChannelList{}))
        names.push_back(channel.name.value_or("?"));
    return names;
}

// Lanes that a test steps; the first look at the channels wakes them.
std::shared_ptr<SysfsIOReportSource> steppedSource(const TempDir& sys,
                                                   const std::shared_ptr<ManualUptimeClock>& clock,
                                                   posix::KeptValue::Pread pread = ::pread) {
    auto source = std::make_shared<SysfsIOReportSource>(
        sys.path(), pread, "/proc", CpuSampling{},
        SensorPoller::Setup{.clock = clock, .background = false});
    source->copyChannelsInGroup("Energy Model", std::nullopt);
    source->step();
    return source;
}

TEST(EnergyCounters, ZoneNamesAndWraps) {
    EXPECT_EQ(parsePowercapZoneDirectory("intel-rapl:a")->package, 10u);
    EXPECT_EQ(parsePowercapZoneDirectory("intel-rapl:1:1f")->subzone, 31u);
    for (const char* foreign : {"intel-rapl-mmio:0", "intel-rapl:", "intel-rapl:0:", "dtpm"})
        EXPECT_FALSE(parsePowercapZoneDirectory(foreign)) << foreign;
    EXPECT_EQ(powercapDomain("package-1\n"), PowercapDomain::package);
    EXPECT_EQ(powercapDomain("package-\n"), PowercapDomain::other);
    EXPECT_EQ(counterAdvance(900, 100, 1000), 200u);
    EXPECT_EQ(counterAdvance(900, 100, 0), 0u);     // reset without a known range
    EXPECT_EQ(counterAdvance(2000, 100, 1000), 0u); // beyond its own range: nonsense
}

void writeZone(const TempDir& sys, const std::string& zone, const std::string& name,
               const std::string& energy, const std::string& range = "1000000") {
    const std::string directory = "devices/virtual/powercap/intel-rapl/" + zone;
    sys.write(directory + "/name", name + "\n");
    sys.write(directory + "/energy_uj", energy + "\n");
    sys.write(directory + "/max_energy_range_uj", range + "\n");
    sys.symlink("class/powercap/" + zone, "../../" + directory);
}

// hwmon energy counters (Documentation/hwmon/sysfs-interface.rst: energy[1-*]_input, µJ): an
// xe card's "card" and "pkg" counters, an ina238 monitor's unlabelled one.
TEST(SysfsIOReportSource, EnergyChannelsFromReadableCounters) {
    struct Case {
        const char* what;
        const char* secondPackage; // its energy_uj; "!13": root-only, as on current kernels
        bool graphicsHwmon;
        bool powercap;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"packages and uncore", "10", false, true, {"CPU Energy", "GPU Energy", "ina238/energy1"}},
        {"a package unreadable", "!13", false, true, {"GPU Energy", "ina238/energy1"}},
        {"graphics hwmon beside the uncore",
         "10",
         true,
         true,
         {"CPU Energy", "GPU Energy", "ina238/energy1", "xe/card", "xe/pkg"}},
        {"xe only", "10", true, false, {"GPU Energy", "ina238/energy1", "xe/card", "xe/pkg"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir sys;
        sys.makeDirectory("class/powercap");
        if (c.powercap) {
            writeZone(sys, "intel-rapl:0", "package-0", "10");
            writeZone(sys, "intel-rapl:1", "package-1", c.secondPackage);
            writeZone(sys, "intel-rapl:0:0", "core", "10");
            writeZone(sys, "intel-rapl:0:1", "uncore", "10");
            writeZone(sys, "intel-rapl:a", "psys", "10");
            writeZone(sys, "intel-rapl-mmio:0", "package-0", "10");
        }
        sys.writeFiles("class/hwmon/hwmon0", "name=ina238;energy1_input=5;energy2_input=!13");
        sys.write("class/hwmon/hwmon1/name", "coretemp\n");
        if (c.graphicsHwmon)
            sys.writeFiles("class/hwmon/hwmon2", "name=xe;energy1_input=5;energy1_label=card;"
                                                 "energy2_input=7;energy2_label=pkg");
        const auto source =
            steppedSource(sys, std::make_shared<ManualUptimeClock>(), testing::scriptedPread);
        EXPECT_EQ(channelNames(source->copyChannelsInGroup("Energy Model", std::nullopt)), c.names);
    }
    TempDir none;
    EXPECT_FALSE(steppedSource(none, std::make_shared<ManualUptimeClock>())
                     ->copyChannelsInGroup("Energy Model", {}));
}

TEST(SysfsIOReportSource, EnergyPowerAcrossAWrap) {
    TempDir sys;
    writeZone(sys, "intel-rapl:0", "package-0", "900000");
    writeZone(sys, "intel-rapl:1", "package-1", "0");
    writeZone(sys, "intel-rapl:0:1", "uncore", "0");
    sys.writeFiles("class/hwmon/hwmon0", "name=ina238;energy1_input=1000000");
    auto clock = std::make_shared<ManualUptimeClock>();
    const auto source = steppedSource(sys, clock);
    EnergyPowerReader reader(source, clock);
    EXPECT_TRUE(reader.read().empty());

    // Package 0 wrapped: 100000 to its range and 400000 after; package 1 spent 500000.
    sys.write("devices/virtual/powercap/intel-rapl/intel-rapl:0/energy_uj", "400000\n");
    sys.write("devices/virtual/powercap/intel-rapl/intel-rapl:1/energy_uj", "500000\n");
    sys.write("devices/virtual/powercap/intel-rapl/intel-rapl:0:1/energy_uj", "250000\n");
    sys.write("class/hwmon/hwmon0/energy1_input", "1500000\n");
    clock->advance(1);
    source->step();
    auto readings = reader.read();
    ASSERT_EQ(readings.size(), 3u);
    EXPECT_EQ(readings[2], (SensorSnapshot::Reading{"ina238/energy1", 0.5}));
    EXPECT_EQ(readings[0].key, "CPUModelPower");
    EXPECT_DOUBLE_EQ(readings[0].value, 1.0);
    EXPECT_EQ(readings[1].key, "GPUModelPower");
    EXPECT_DOUBLE_EQ(readings[1].value, 0.25);
}

// Two discrete cards: each card's own power is listed, and the GPU's is the busiest card's (not
// the one drawing most), not their sum.
TEST(SysfsIOReportSource, GPUPowerOfTheBusiestOfTwoCards) {
    TempDir sys;
    const std::string i915 = "pci0000:00/0000:00:01.0/0000:03:00.0";
    const std::string xe = "pci0000:00/0000:00:01.1/0000:04:00.0";
    testing::addHwmonChip(sys, {"hwmon0", i915, "name=i915;energy1_input=0"});
    testing::addHwmonChip(sys, {"hwmon1", xe, "name=xe;energy1_label=card;energy1_input=0"});
    const auto cards = std::make_shared<CardActivity>();
    const auto clock = std::make_shared<ManualUptimeClock>();
    const auto source = std::make_shared<SysfsIOReportSource>(
        sys.path(), ::pread, "/proc", CpuSampling{},
        SensorPoller::Setup{.clock = clock, .cards = cards, .background = false});
    source->copyChannelsInGroup("Energy Model", std::nullopt);
    source->step();
    EnergyPowerReader reader(source, clock);
    reader.read();
    sys.write("devices/" + i915 + "/hwmon/hwmon0/energy1_input", "60000000");
    sys.write("devices/" + xe + "/hwmon/hwmon1/energy1_input", "90000000");
    cards->note("0000:03:00.0", 97);
    cards->note("0000:04:00.0", 20);
    clock->advance(1);
    source->step();
    EXPECT_EQ(reader.read(),
              (std::vector<SensorSnapshot::Reading>{{"GPUModelPower", 60},
                                                    {"i915@0000:03:00.0/energy1", 60},
                                                    {"xe@0000:04:00.0/card", 90}}));
}

// The reader sets up once: set up before the lanes' first discovery finished, it still reads
// what that discovery finds.
TEST(SysfsIOReportSource, EnergyFoundAfterTheReaderSetUpIsRead) {
    TempDir sys;
    writeZone(sys, "intel-rapl:0", "package-0", "1000000");
    auto clock = std::make_shared<ManualUptimeClock>();
    const auto source = std::make_shared<SysfsIOReportSource>(
        sys.path(), ::pread, "/proc", CpuSampling{},
        SensorPoller::Setup{.clock = clock, .background = false});
    EnergyPowerReader reader(source, clock);
    std::vector<SensorSnapshot::Reading> readings;
    for (const char* counter : {"1000000", "2000000", "4000000"}) {
        sys.write("devices/virtual/powercap/intel-rapl/intel-rapl:0/energy_uj", counter);
        readings = reader.read();
        clock->advance(1);
        source->step();
    }
    EXPECT_EQ(readings, (std::vector<SensorSnapshot::Reading>{{"CPUModelPower", 1.0}}));
}

// The energy counters of every hwmon node, named as the other sensors of their chips are: an
// unnamed node by its node, a repeated name by its address, a power supply's twin included.
TEST(SysfsIOReportSource, EnergyCountersOfEveryHwmonNode) {
    TempDir sys;
    testing::addHwmonChip(
        sys, {"hwmon0", "pci0000:00/0000:00:15.0/i2c-1/1-0040", "name=ina238;energy1_input=1"});
    testing::addHwmonChip(sys, {"hwmon1", "pci0000:00/0000:00:15.0/i2c-1/1-0041",
                                "name=ina238;energy1_input=1;energy1_label= rail \n"});
    testing::addHwmonChip(sys, {"hwmon2", "platform/BAT0/power_supply/BAT0",
                                "name=BAT0;energy3_input=1;energy10_input=1"});
    testing::addHwmonChip(sys, {"hwmon3", "platform/x.0", "energy1_input=1;energyx_input=1"});
    testing::addHwmonChip(sys, {"hwmon4", "pci0000:00/0000:00:02.0",
                                "name=i915;energy2_input=1;energy5_input=1;energy5_label=pkg"});
    testing::addHwmonChip(sys, {"hwmon5", "platform/coretemp.0", "name=coretemp;temp1_input=1"});
    const auto source =
        steppedSource(sys, std::make_shared<ManualUptimeClock>(), testing::scriptedPread);
    EXPECT_EQ(channelNames(source->copyChannelsInGroup("Energy Model", std::nullopt)),
              (std::vector<std::string>{"GPU Energy", "ina238@1-0040/energy1", "ina238@1-0041/rail",
                                        "BAT0/energy3", "BAT0/energy10", "hwmon3/energy1",
                                        "i915@0000:00:02.0/energy2", "i915@0000:00:02.0/pkg"}));
}

} // namespace
} // namespace brivane::platform::linux_backend
