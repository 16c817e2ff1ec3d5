#include "platform/linux/hwmon_hardware_monitor.h"
#include "platform/linux/hwmon_smc_transport.h"
#include "platform/linux/sysfs_registry.h"
#include "smc/smc_test_support.h"
#include "support/sysfs_fixture.h"

#include <gtest/gtest.h>
#include <thread>

namespace brivane::platform::linux_backend {
namespace {

using namespace std::chrono_literals;
using testing::addHwmonChip;
using testing::addPowerSupply;
using testing::CapturedLines;
using testing::scriptedPread;

TEST(LinuxSMC, AnswersTheIntelMacDriversKeysAsTheSMCWould) {
    testing::TempDir sys;
    testing::addLinuxLaptop(sys);
    CapturedLines printed;
    SMC smc(std::make_shared<HwmonSMCTransport>(sys.path()), printed.sink());

    EXPECT_EQ(smc.getAllKeys(),
              (std::vector<std::string>{"#KEY", "F0Ac", "F0ID", "F0Mn", "F0Mx", "F1Ac", "F1ID",
                                        "FNum", "TA0P", "TB0T", "TC0P"}));
    struct Case {
        std::string_view key;
        std::optional<double> value;
    };
    const Case cases[] = {{"TC0P", 45.25},       {"TB0T", -127}, {"FNum", 2},
                          {"F0Mn", 1000},        {"TA0P", 0},    {"F1Ac", std::nullopt},
                          {"F2Ac", std::nullopt}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(smc.getValue(c.key, true), c.value);
    }
    // An empty file is a sensor error, not an unknown key.
    EXPECT_EQ(printed.take(),
              std::vector<std::string>{"Error read(F1Ac): (iokit/common) general error"});
}

TEST(LinuxSMC, MapsTheAppleSiliconDriversLabelsToKeysInWatts) {
    testing::TempDir sys;
    addHwmonChip(sys, {"hwmon0", "platform/soc/23e400000.smc/macsmc-hwmon",
                       "name=macsmc_hwmon;power1_label=Total System Power;power1_input=12500000;"
                       "power2_label=Mystery Rail;power2_input=1000000;"
                       "temp1_label=Battery Hotspot;temp1_input=30500;fan1_label=Fan;"
                       "fan1_input=0"});
    CapturedLines printed;
    SMC smc(std::make_shared<HwmonSMCTransport>(sys.path()), printed.sink());

    EXPECT_EQ(smc.getAllKeys(),
              (std::vector<std::string>{"#KEY", "F0Ac", "F0ID", "FNum", "PSTR", "TB0T"}));
    EXPECT_EQ(smc.getValue("PSTR", true), 12.5);
    EXPECT_EQ(smc.getValue("TB0T"), 30.5);
    EXPECT_EQ(smc.getValue("F0Ac", true), 0);
    EXPECT_EQ(smc.getStringValue("F0ID"), "Fan");
    EXPECT_TRUE(printed.take().empty());
}

TEST(LinuxSMC, WithoutAnSMCChipThereIsNoService) {
    testing::TempDir sys;
    addHwmonChip(sys, {"hwmon0", "platform/coretemp.0", "name=coretemp"});
    CapturedLines printed;
    SMC smc(std::make_shared<HwmonSMCTransport>(sys.path()), printed.sink());
    EXPECT_TRUE(smc.getAllKeys().empty());
    EXPECT_EQ(printed.take().front(), "Error IOIteratorNext(): (os/kern) successful");
}

TEST(HwmonHardwareMonitor, KeysEveryOtherChipStablyAndSkipsWhatCannotBeRead) {
    testing::TempDir sys;
    testing::addLinuxLaptop(sys);
    addHwmonChip(sys, {"hwmon3", "platform/coretemp.1",
                       "name=coretemp;temp2_label=Core 0;temp2_input=52000"});
    addHwmonChip(sys, {"hwmon4", "virtual/thermal/thermal_zone0",
                       "name=acpitz;temp1_input=27800;temp2_input=127000;temp3_input=30000;"
                       "temp3_fault=1",
                       false, true});
    const std::string nvme = "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0";
    addHwmonChip(sys, {"hwmon5", nvme,
                       "name=nvme;temp1_label=Composite;temp1_input=38850;temp2_label=Composite;"
                       "temp2_input=!61",
                       false, true});

    // Never slow, so a changed file shows on the next sample.
    HwmonHardwareMonitor monitor(sys.path(), SensorTiming{1h, 1s}, scriptedPread);
    using Found = std::vector<std::pair<std::string, double>>;
    const auto temperatures = [&] {
        Found found;
        for (const auto& t : monitor.sample().temperatures) {
            found.emplace_back(t.key, t.celsius);
        }
        return found;
    };
    // The SMC chip is left to the SMC; the range test is the snapshot's, not the monitor's.
    EXPECT_EQ(temperatures(), (Found{{"coretemp@coretemp.0/Core 0", 50},
                                     {"coretemp@coretemp.0/Core 1", 150},
                                     {"coretemp@coretemp.1/Core 0", 52},
                                     {"acpitz/temp1", 27.8},
                                     {"nvme/Composite", 38.85}}));

    // A failed read costs the sensor one snapshot, not its place; a repeated label its stem.
    sys.write("devices/" + nvme + "/hwmon5/temp2_input", "40000\n");
    EXPECT_EQ(temperatures().back(), (std::pair<std::string, double>{"nvme/temp2", 40}));
}

TEST(SensorChannels, SlowSensorsAreReadInTheBackgroundAndFilesPastTheLimitPerRead) {
    testing::TempDir sys;
    sys.write("fast", "42000\n");
    sys.write("slow", "slow 41000\n");
    sys.write("unkept", "44000\n");
    SensorChannels channels(sys.path(), SensorTiming{15ms, 10ms}, scriptedPread, 2);
    const auto fast = channels.add("fast");
    const auto slow = channels.add("slow");
    EXPECT_FALSE(channels.add("missing"));
    const auto unkept = channels.add("unkept"); // past the limit of files kept open
    channels.start();
    EXPECT_FALSE(channels.isSlow(*fast));
    EXPECT_TRUE(channels.isSlow(*slow));
    EXPECT_EQ(channels.value(*slow), 41000);

    sys.write("slow", "slow 43000\n");
    sys.write("unkept", "45000\n");
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (channels.value(*slow) != 43000 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(channels.value(*slow), 43000);
    EXPECT_EQ(channels.value(*unkept), 45000);
}

// A peripheral's battery or an adapter is no system battery; one without a scope is.
TEST(SysfsRegistry, FindsTheSystemBatteryPassingOverPeripheralsAndAdapters) {
    testing::TempDir sys;
    addPowerSupply(sys, "hidpp_battery_0", "usb1/hidpp", "type=Battery;scope=Device;temp=250");
    addPowerSupply(sys, "ADP1", "platform/ADP1", "type=Mains");
    EXPECT_EQ(SysfsRegistry(sys.path()).firstEntry("AppleSmartBattery"), nullptr);

    addPowerSupply(sys, "macsmc-battery", "platform/macsmc-battery",
                   "type=Battery;scope=System;temp=305;voltage_now=12600500;model_name=\xff\xfe");
    SysfsRegistry registry(sys.path());
    const auto battery = registry.firstEntry("AppleSmartBattery");
    ASSERT_NE(battery, nullptr);
    EXPECT_EQ(battery->numberProperty("Temperature"), 3050);
    EXPECT_EQ(battery->numberProperty("Voltage"), 12600.5);

    testing::TempDir bare;
    addPowerSupply(bare, "BAT0", "platform/BAT0", "type=Battery;voltage_now=11000000");
    SysfsRegistry bareRegistry(bare.path());
    const auto unscoped = bareRegistry.firstEntry("AppleSmartBattery");
    ASSERT_NE(unscoped, nullptr);
    EXPECT_EQ(unscoped->numberProperty("Temperature"), std::nullopt);
}

} // namespace
} // namespace brivane::platform::linux_backend
