#include "backends/linux/hwmon/hwmon_chip_traits.h"
#include "backends/linux/hwmon/hwmon_hardware_monitor.h"
#include "backends/linux/hwmon/hwmon_naming.h"
#include "backends/linux/hwmon/hwmon_smc_transport.h"
#include "backends/linux/polling/poller_test_support.h"
#include "smc/smc_test_support.h"
#include "support/sysfs_fixture.h"

#include <gtest/gtest.h>
#include <sstream>

namespace brivane::platform::linux_backend {
namespace {

using testing::addHwmonChip;
using testing::CapturedLines;

// Background lanes; the first request waits for the first pass, however slow the machine.
SensorPoller::Setup patient() {
    SensorPoller::Setup setup;
    setup.timing.firstWait = 10;
    return setup;
}

TEST(LinuxSMC, AnswersTheIntelMacDriversKeysAsTheSMCWould) {
    testing::TempDir sys;
    testing::addLinuxLaptop(sys);
    CapturedLines printed;
    SMC smc(std::make_shared<HwmonSMCTransport>(sys.path(), patient()), printed.sink());

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

// Dual-fan machines label their fans "Fan 1" and "Fan 2"; a channel the SMC table does not know
// goes to the hardware monitor (checked end to end).
TEST(LinuxSMC, DualFanAppleSiliconMacsShowBothFansAndLoseNoChannel) {
    testing::TempDir sys;
    testing::addAsahiMacBookPro(sys);
    CapturedLines printed;
    SMC smc(std::make_shared<HwmonSMCTransport>(sys.path(), patient()), printed.sink());
    EXPECT_EQ(smc.getAllKeys(),
              (std::vector<std::string>{"#KEY", "F0Ac", "F0ID", "F0Mn", "F0Mx", "F1Ac", "F1ID",
                                        "F1Mn", "F1Mx", "FNum", "PSTR", "TB0T", "TH0x"}));
    EXPECT_EQ(smc.getStringValue("F1ID"), "Fan 2");
    EXPECT_TRUE(printed.take().empty());
}

// Keys survive another boot's probe order: a chip is named by where it sits, never by hwmonN or
// by a class device's probe number, and a chip on a pluggable bus carries its address even
// alone, so adding a second drive does not rename the first.
TEST(HwmonNaming, ChipNamesAreUniqueAndHoldAcrossProbeOrders) {
    struct Case {
        std::string_view what;
        std::vector<ChipIdentity> chips;
        std::vector<std::string> names;
    };
    const std::string platform = "../../devices/platform/";
    const std::string pci = "../../devices/pci0000:00/0000:00:1d.0/";
    const Case cases[] = {
        {"board chips stay bare, a drive carries its PCI address",
         {{"coretemp", platform + "coretemp.0/hwmon/hwmon2", "hwmon2"},
          {"nvme", pci + "0000:3d:00.0/nvme/nvme0/hwmon1", "hwmon1"}},
         {"coretemp", "nvme@0000:3d:00.0"}},
        {"two drives are named by address whichever probed first",
         {{"nvme", pci + "0000:3e:00.0/nvme/nvme0/hwmon1", "hwmon1"},
          {"nvme", pci + "0000:3d:00.0/nvme/nvme1/hwmon2", "hwmon2"}},
         {"nvme@0000:3e:00.0", "nvme@0000:3d:00.0"}},
        {"one name twice on the board takes the devices",
         {{"coretemp", platform + "coretemp.1/hwmon/hwmon7", "hwmon7"},
          {"coretemp", platform + "coretemp.0/hwmon/hwmon3", "hwmon3"}},
         {"coretemp@coretemp.1", "coretemp@coretemp.0"}},
        {"two nodes on one device are told apart by path, not node number",
         {{"dell_smm", platform + "dell_smm_hwmon/hwmon/hwmon9", "hwmon9"},
          {"dell_smm", platform + "dell_smm_hwmon/hwmon/hwmon4", "hwmon4"}},
         {"dell_smm@dell_smm_hwmon#2", "dell_smm@dell_smm_hwmon"}},
        {"a chip without a device falls back to its node",
         {{"acpitz", "../../devices/virtual/hwmon/hwmon0", "hwmon0"},
          {"acpitz", "../../devices/virtual/thermal/thermal_zone1/hwmon5", "hwmon5"}},
         {"acpitz@hwmon0", "acpitz@thermal_zone1"}},
        {"a USB device is named by its port, not its HID instance; I2C and ACPI by address",
         {{"kraken3", pci + "usb1/1-4/1-4:1.0/0003:1E71:2007.0003/hwmon/hwmon6", "hwmon6"},
          {"jc42", pci + "i2c-0/0-0050/hwmon/hwmon3", "hwmon3"},
          {"jc42", pci + "i2c-0/0-0051/hwmon/hwmon4", "hwmon4"},
          {"power_meter", "../../devices/LNXSYSTM:00/ACPI000D:00/hwmon/hwmon8", "hwmon8"}},
         {"kraken3@1-4:1.0", "jc42@0-0050", "jc42@0-0051", "power_meter"}},
        {"behind a platform's PCIe bridge a drive is named by its PCI address too",
         {{"nvme",
           platform + "axi/1000110000.pcie/pci0001:00/0001:00:00.0/0001:01:00.0/nvme/nvme0/hwmon1",
           "hwmon1"},
          {"nvme",
           platform + "3c0800000.pcie/pci0002:00/0002:00:00.0/0002:01:00.0/nvme/nvme1/hwmon2",
           "hwmon2"}},
         {"nvme@0001:01:00.0", "nvme@0002:01:00.0"}},
        {"a name with '/' cannot pose as another chip's key",
         {{"a/b", platform + "a.0/hwmon/hwmon0", "hwmon0"},
          {"a%2Fb", platform + "b.0/hwmon/hwmon1", "hwmon1"}},
         {"a%2Fb", "a%252Fb"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(uniqueChipNames(c.chips), c.names);
    }
}

TEST(HwmonNaming, AppleSiliconFansAndPowerSupplyTwins) {
    EXPECT_EQ(appleSiliconKeyForLabel(SensorKind::fan, "Fan"), "F0");
    EXPECT_EQ(appleSiliconKeyForLabel(SensorKind::fan, "Fan 1"), "F0");
    EXPECT_EQ(appleSiliconKeyForLabel(SensorKind::fan, "Fan 2"), "F1");
    EXPECT_EQ(appleSiliconKeyForLabel(SensorKind::fan, "Fan 11"), std::nullopt);
    EXPECT_EQ(appleSiliconKeyForLabel(SensorKind::temperature, "Fan 2"), std::nullopt);
    EXPECT_TRUE(belongsToPowerSupply(
        "../../devices/platform/macsmc-battery/power_supply/macsmc-battery/hwmon1"));
    EXPECT_FALSE(belongsToPowerSupply("../../devices/platform/power_supply/hwmon/hwmon1"));
}

// Names hold whatever order the drivers probed in; an empty header, a fan reading 10^18 RPM and
// an unconnected input on the board chip are not sensors.
TEST(HwmonHardwareMonitor, DesktopBoardsGetStableNamesAndNoGhosts) {
    for (const bool reversed : {false, true}) {
        SCOPED_TRACE(reversed ? "probed in reverse" : "probed in order");
        testing::TempDir sys;
        testing::addDesktop(sys, reversed);
        HwmonHardwareMonitor monitor(sys.path(), manual(std::make_shared<ManualUptimeClock>()));
        monitor.sample();
        monitor.step();
        const auto& sample = monitor.sample();
        EXPECT_EQ(temperaturesOf(sample), (Found{{"amdgpu@0000:0b:00.0/edge", 45},
                                                 {"k10temp@0000:00:18.3/Tctl", 33},
                                                 {"nct6798/SYSTIN", 31},
                                                 {"nvme@0000:01:00.0/Composite", 38.85},
                                                 {"nvme@0000:04:00.0/Composite", 41.85}}));
        ASSERT_EQ(sample.fans.size(), 1u);
        EXPECT_EQ(sample.fans[0].name, "nct6798/fan1");
    }
}

// Zones no chip shows are read, by type and in zone-number order; not a zone with a hwmon node
// below it or a chip for its type, not the DPTF framework's fixed 20 °C, and not the package
// zone while coretemp reads the same sensor.
TEST(HwmonHardwareMonitor, ThermalZonesWithoutAHwmonTwinAreRead) {
    for (const bool coretemp : {true, false}) {
        SCOPED_TRACE(coretemp ? "with coretemp" : "without coretemp");
        testing::TempDir sys;
        for (const auto& [zone, files] : std::initializer_list<std::pair<int, std::string>>{
                 {0, "type=soc-thermal;temp=30000"},
                 {1, "type=soc-thermal;temp=31000"},
                 {2, "type=INT3400 Thermal;temp=20000"},
                 {3, "type=SEN1;temp=41000"},
                 {4, "type=x86_pkg_temp;temp=52000"},
                 {10, "type=SEN1;temp=39000"}}) {
            const std::string folder =
                "devices/virtual/thermal/thermal_zone" + std::to_string(zone);
            sys.writeFiles(folder, files);
            sys.symlink("class/thermal/thermal_zone" + std::to_string(zone), "../../" + folder);
        }
        addHwmonChip(sys, {"hwmon0", "virtual/thermal/thermal_zone0",
                           "name=soc_thermal;temp1_input=30000;temp2_input=31000", false, true});
        if (coretemp) {
            addHwmonChip(sys, {"hwmon1", "platform/coretemp.0",
                               "name=coretemp;temp1_label=Package id 0;temp1_input=52000"});
        }
        HwmonHardwareMonitor monitor(sys.path(), manual(std::make_shared<ManualUptimeClock>()));
        monitor.sample();
        monitor.step();
        Found expected{{"soc_thermal/temp1", 30},
                       {"soc_thermal/temp2", 31},
                       {"thermal_zone/SEN1", 41},
                       {"thermal_zone/SEN1 2", 39}};
        expected.insert(expected.begin() + (coretemp ? 0 : 3),
                        coretemp ? Found::value_type{"coretemp/Package id 0", 52}
                                 : Found::value_type{"thermal_zone/x86_pkg_temp", 52});
        EXPECT_EQ(temperaturesOf(monitor.sample()), expected);
    }
}

// "<key> <type> <value><unit> <limit>=<value>… !<alarm>=<0|1>…" per input of the sample.
std::vector<std::string> sensorsOf(const MonitorSample& sample) {
    std::vector<std::string> lines;
    for (const auto& sensor : sample.sensors) {
        std::ostringstream line;
        line << sensor.key << ' ' << infoOf(sensor.kind).type;
        if (sensor.value) {
            line << ' ' << *sensor.value << infoOf(sensor.kind).unit;
        }
        for (std::size_t i = 0; i < sensorLimitCount; ++i) {
            if (sensor.limits[i]) {
                line << ' ' << sensorLimitWords[i] << '=' << *sensor.limits[i];
            }
        }
        for (std::size_t i = 0; i < sensorAlarmCount; ++i) {
            if (sensor.alarms[i]) {
                line << " !" << sensorAlarmWords[i] << '=' << *sensor.alarms[i];
            }
        }
        lines.push_back(line.str());
    }
    return lines;
}

// Every input with its limits and flags, ghosts and empty headers left out as above, a flag
// or a limit without an input (a Pi's under-voltage, an Arc card's power limits, a voltage's
// maximum alone) included;
// limits are read once a minute.
TEST(HwmonHardwareMonitor, InputsOfEveryTypeWithLimitsAndAlarms) {
    testing::TempDir sys;
    testing::addDesktop(sys);
    addHwmonChip(sys, {"hwmon5", "platform/soc/soc:firmware/raspberrypi-hwmon",
                       "name=rpi_volt;in0_lcrit_alarm=1"});
    addHwmonChip(sys, {"hwmon6", "pci0000:00/0000:00:01.0/0000:03:00.0",
                       "name=i915;power1_max=190000000;power1_crit=400000000"});
    const auto clock = std::make_shared<ManualUptimeClock>();
    HwmonHardwareMonitor monitor(sys.path(), manual(clock));
    const auto tick = [&](int seconds) {
        for (int i = 0; i < seconds; ++i) {
            monitor.sample();
            monitor.step();
            clock->advance(1);
        }
        return sensorsOf(monitor.sample());
    };
    const std::string nct = "devices/platform/nct6775.656/hwmon/hwmon0/";
    EXPECT_EQ(tick(1), (std::vector<std::string>{
                           "amdgpu@0000:0b:00.0/edge temperature 45celsius",
                           "amdgpu@0000:0b:00.0/PPT power 19watts",
                           "i915@0000:03:00.0/power1 power max=190 crit=400",
                           "k10temp@0000:00:18.3/Tctl temperature 33celsius",
                           "nct6798/SYSTIN temperature 31celsius max=80 !alarm=0",
                           "nct6798/fan1 fan 1200rpm min=300 !alarm=0",
                           "nct6798/in0 voltage 1.104volts min=1.2 max=1.744 !alarm=1",
                           "nct6798/in1 voltage max=1", "nct6798/intrusion0 intrusion !alarm=1",
                           "nvme@0000:01:00.0/Composite temperature 38.85celsius",
                           "nvme@0000:04:00.0/Composite temperature 41.85celsius",
                           "rpi_volt/in0 voltage !lcrit=1"}));
    sys.writeFiles(nct, "in0_input=1300;in0_min=1000;in0_alarm=0");
    EXPECT_EQ(tick(30)[6], "nct6798/in0 voltage 1.3volts min=1.2 max=1.744 !alarm=0");
    EXPECT_EQ(tick(31)[6], "nct6798/in0 voltage 1.3volts min=1 max=1.744 !alarm=0");
}

// Judged on every snapshot: a floating input stays hidden, a cooling regulator comes back.
TEST(HwmonChipTraits, UnconnectedInputsAreJudgedOnEverySnapshot) {
    EXPECT_TRUE(isGhostTemperature(95, 45));
    EXPECT_TRUE(isGhostTemperature(95, 70, 95));  // the processor heats up, the input holds
    EXPECT_TRUE(isGhostTemperature(80, 50, 86));  // a regulator cooling, by less than 10 °C
    EXPECT_FALSE(isGhostTemperature(75, 50, 86)); // by 11 °C: a sensor after all
}

// A chip on a runtime-suspended PCI device is not read at all (a read would wake it) and shows
// nothing until the device resumes; of two cards the busiest's power is "GPUModelPower"; a label
// a chip repeats is numbered, not dropped.
TEST(HwmonHardwareMonitor, SuspendedCardsAreNotReadAndRepeatedLabelsAreKept) {
    testing::TempDir sys;
    const std::string card = "pci0000:00/0000:00:01.1/0000:03:00.0";
    addHwmonChip(sys, {"hwmon0", card,
                       "name=amdgpu;temp1_label=edge;temp1_input=45000;power1_label=PPT;"
                       "power1_average=19000000"});
    sys.write("devices/" + card + "/power/runtime_status", "suspended\n");
    addHwmonChip(sys, {"hwmon1", "pci0000:00/0000:00:01.2/0000:0b:00.0",
                       "name=amdgpu;power1_label=PPT;power1_average=30000000"});
    addHwmonChip(sys, {"hwmon2", "platform/dell_smm_hwmon",
                       "name=dell_smm;fan1_label=Processor Fan;fan1_input=2400;"
                       "fan2_label=Processor Fan;fan2_input=2600"});
    const auto clock = std::make_shared<ManualUptimeClock>();
    auto setup = manual(clock);
    setup.cards = std::make_shared<CardActivity>();
    setup.cards->note("0000:03:00.0", 97);
    HwmonHardwareMonitor monitor(sys.path(), setup);
    countedPath = "0000:03:00.0/hwmon";
    boardReads = 0;
    const auto pass = [&] {
        monitor.sample();
        monitor.step();
        clock->advance(1);
        return monitor.sample();
    };
    pass();
    const auto asleep = pass();
    EXPECT_EQ(boardReads, 0);
    EXPECT_TRUE(asleep.temperatures.empty());
    ASSERT_EQ(asleep.power.size(), 1u);
    EXPECT_EQ(asleep.power[0].alias, "GPUModelPower");
    countedPath = "nct6775";
    sys.write("devices/" + card + "/power/runtime_status", "active\n");
    pass();
    const auto resumed = pass();
    EXPECT_EQ(temperaturesOf(resumed), (Found{{"amdgpu@0000:03:00.0/edge", 45}}));
    ASSERT_EQ(resumed.power.size(), 2u);
    EXPECT_EQ(resumed.power[0].alias, "GPUModelPower"); // 97 % busy, though drawing less
    EXPECT_EQ(resumed.power[1].alias, "");
    ASSERT_EQ(resumed.fans.size(), 2u);
    EXPECT_EQ(resumed.fans[1].name, "dell_smm/Processor Fan 2");
}

} // namespace
} // namespace brivane::platform::linux_backend
