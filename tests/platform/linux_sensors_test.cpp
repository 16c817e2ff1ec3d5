#include "platform/linux/hardware_monitor_linux.h"
#include "platform/linux/registry_linux.h"
#include "platform/linux/smc_transport_linux.h"
#include "smc/smc.h"
#include "support/sysfs_fixture.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>

namespace brivane::platform::linux_backend {
namespace {

using namespace std::chrono_literals;
using testing::addDrmCard;
using testing::addHwmonChip;
using testing::addPowerSupply;
using testing::FixtureChip;

// Regular files never fail the way sysfs does: a file reading "!<errno>" fails its read with
// that error, and one reading "slow <text>" takes 3 ms to give <text>.
ssize_t scriptedPread(int fd, void* buffer, std::size_t size, off_t offset) {
    char text[64];
    const ssize_t got = ::pread(fd, text, sizeof text, 0);
    if (got > 1 && text[0] == '!') {
        errno = std::atoi(std::string(text + 1, static_cast<std::size_t>(got) - 1).c_str());
        return -1;
    }
    if (got >= 5 && std::memcmp(text, "slow ", 5) == 0) {
        std::this_thread::sleep_for(3ms);
        const auto length = std::min(static_cast<std::size_t>(got) - 5, size);
        std::memcpy(buffer, text + 5, length);
        return static_cast<ssize_t>(length);
    }
    return ::pread(fd, buffer, size, offset);
}

struct Lines {
    std::vector<std::string> lines;
    SMCLineSink sink() {
        return [this](std::string_view line) { lines.emplace_back(line); };
    }
};

// The Intel-Mac driver: files in the platform device, labels that are key names, fans from 1.
FixtureChip intelMacSMC() {
    return {"hwmon9",
            "platform/applesmc.768",
            {{"name", "applesmc\n"},
             {"temp1_label", "TC0P\n"},
             {"temp1_input", "45250\n"},
             {"temp2_label", "TB0T\n"},
             {"temp2_input", "-127000\n"},
             {"temp3_label", "Ts0S\n"},
             {"temp3_input", ""},
             {"fan1_label", "Left side  \n"},
             {"fan1_input", "1200\n"},
             {"fan1_min", "1000\n"},
             {"fan1_max", "6000\n"},
             {"fan2_label", "Right side\n"},
             {"fan2_input", "!5\n"},
             {"fan2_max", "6500\n"},
             {"key_count", "512\n"}},
            true};
}

TEST(LinuxSMC, AnswersTheIntelMacDriversKeysAsTheSMCWould) {
    testing::TempDir sys;
    addHwmonChip(sys, intelMacSMC());
    Lines printed;
    SMC smc(std::make_shared<LinuxSMCTransport>(sys.path(), SensorTiming{}, scriptedPread),
            printed.sink());

    EXPECT_EQ(smc.getAllKeys(),
              (std::vector<std::string>{"#KEY", "F0Ac", "F0ID", "F0Mn", "F0Mx", "F1Ac", "F1ID",
                                        "F1Mx", "FNum", "TB0T", "TC0P", "Ts0S"}));
    struct Case {
        std::string_view key;
        std::optional<double> value;
    };
    const Case cases[] = {
        {"TC0P", 45.25},        {"TB0T", -127},         {"FNum", 2},    {"F0Ac", 1200},
        {"F0Mn", 1000},         {"F0Mx", 6000},         {"F1Mx", 6500}, {"Ts0S", std::nullopt},
        {"F1Ac", std::nullopt}, {"F2Ac", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(smc.getValue(c.key, true), c.value);
    }
    EXPECT_EQ(smc.getStringValue("F0ID"), "Left side");
    EXPECT_EQ(smc.getStringValue("F1ID"), "Right side");
    // An empty file and a failing read are sensor errors, not unknown keys.
    EXPECT_EQ(printed.lines,
              (std::vector<std::string>{"Error read(Ts0S): (iokit/common) general error",
                                        "Error read(F1Ac): (iokit/common) general error"}));
}

TEST(LinuxSMC, MapsTheAppleSiliconDriversLabelsToKeysInWatts) {
    testing::TempDir sys;
    addHwmonChip(sys, {"hwmon0",
                       "platform/soc/23e400000.smc/macsmc-hwmon",
                       {{"name", "macsmc_hwmon\n"},
                        {"power1_label", "Total System Power\n"},
                        {"power1_input", "12500000\n"},
                        {"power2_label", "Mystery Rail\n"},
                        {"power2_input", "1000000\n"},
                        {"temp1_label", "Battery Hotspot\n"},
                        {"temp1_input", "30500\n"},
                        {"fan1_label", "Fan\n"},
                        {"fan1_input", "0\n"},
                        {"fan1_max", "5000\n"}}});
    Lines printed;
    SMC smc(std::make_shared<LinuxSMCTransport>(sys.path()), printed.sink());

    EXPECT_EQ(smc.getAllKeys(),
              (std::vector<std::string>{"#KEY", "F0Ac", "F0ID", "F0Mx", "FNum", "PSTR", "TB0T"}));
    EXPECT_EQ(smc.getValue("PSTR", true), 12.5);
    EXPECT_EQ(smc.getValue("TB0T"), 30.5);
    EXPECT_EQ(smc.getValue("F0Ac", true), 0);
    EXPECT_EQ(smc.getStringValue("F0ID"), "Fan");
    EXPECT_TRUE(printed.lines.empty());
}

TEST(LinuxSMC, WithoutAnSMCChipThereIsNoService) {
    testing::TempDir sys;
    addHwmonChip(sys, {"hwmon0", "platform/coretemp.0", {{"name", "coretemp\n"}}});
    Lines printed;
    SMC smc(std::make_shared<LinuxSMCTransport>(sys.path()), printed.sink());
    EXPECT_TRUE(smc.getAllKeys().empty());
    EXPECT_EQ(printed.lines.front(), "Error IOIteratorNext(): (os/kern) successful");
}

TEST(LinuxHardwareMonitor, KeysEveryOtherChipStablyAndSkipsWhatCannotBeRead) {
    testing::TempDir sys;
    for (const char* package : {"0", "1"}) {
        addHwmonChip(sys, {std::string("hwmon") + (package[0] == '0' ? "3" : "2"),
                           std::string("platform/coretemp.") + package,
                           {{"name", "coretemp\n"},
                            {"temp1_label", "Package id " + std::string(package) + "\n"},
                            {"temp1_input", "51000\n"},
                            {"temp2_label", "Core 0\n"},
                            {"temp2_input", "49000\n"}}});
    }
    addHwmonChip(sys, {"hwmon0",
                       "virtual/thermal/thermal_zone0",
                       {{"name", "acpitz\n"},
                        {"temp1_input", "27800\n"},
                        {"temp2_input", "127000\n"},
                        {"temp3_input", "30000\n"},
                        {"temp3_fault", "1\n"}},
                       false,
                       true});
    addHwmonChip(sys, {"hwmon1",
                       "pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0",
                       {{"name", "nvme\n"},
                        {"temp1_label", "Composite\n"},
                        {"temp1_input", "38850\n"},
                        {"temp2_label", "Sensor 1\n"},
                        {"temp2_input", "!61\n"}},
                       false,
                       true});
    addHwmonChip(sys, {"hwmon4",
                       "platform/thinkpad_hwmon",
                       {{"name", "thinkpad\n"},
                        {"fan1_input", "2900\n"},
                        {"fan1_max", "0\n"},
                        {"fan2_input", "0\n"},
                        {"fan2_max", "5500\n"}}});
    addHwmonChip(sys, intelMacSMC());

    LinuxHardwareMonitor monitor(sys.path(), SensorTiming{}, scriptedPread);
    const auto keys = [&] {
        std::vector<std::pair<std::string, double>> found;
        for (const auto& t : monitor.sample().temperatures) {
            found.emplace_back(t.key, t.celsius);
        }
        return found;
    };
    using Found = std::vector<std::pair<std::string, double>>;
    EXPECT_EQ(keys(), (Found{{"acpitz/temp1", 27.8},
                             {"nvme/Composite", 38.85},
                             {"coretemp@coretemp.1/Package id 1", 51},
                             {"coretemp@coretemp.1/Core 0", 49},
                             {"coretemp@coretemp.0/Package id 0", 51},
                             {"coretemp@coretemp.0/Core 0", 49}}));
    const auto& fans = monitor.sample().fans;
    ASSERT_EQ(fans.size(), 2u);
    EXPECT_EQ(fans[0].name, "thinkpad fan1");
    EXPECT_EQ(fans[0].rpm, 2900);
    EXPECT_EQ(fans[0].maximumRPM, std::nullopt);
    EXPECT_EQ(fans[1].index, 1);
    EXPECT_EQ(fans[1].rpm, 0);
    EXPECT_EQ(fans[1].maximumRPM, 5500);

    // A failed read costs that sensor one snapshot, not its place.
    sys.write("devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/hwmon1/temp2_input",
              "40000\n");
    EXPECT_EQ(keys()[2], (std::pair<std::string, double>{"nvme/Sensor 1", 40}));
}

TEST(SensorChannels, SlowSensorsAreReadInTheBackgroundAndServedTheirLatestValue) {
    testing::TempDir sys;
    sys.write("fast", "42000\n");
    sys.write("slow", "slow 41000\n");
    SensorChannels channels(SensorTiming{1ms, 10ms}, scriptedPread);
    const RootedDirectory root(sys.path());
    const auto fast = channels.add(root, "fast");
    const auto slow = channels.add(root, "slow");
    EXPECT_FALSE(channels.add(root, "missing"));
    channels.start();
    EXPECT_FALSE(channels.isSlow(*fast));
    EXPECT_TRUE(channels.isSlow(*slow));
    EXPECT_EQ(channels.value(*slow), 41000);

    sys.write("slow", "slow 43000\n");
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (channels.value(*slow) != 43000 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(channels.value(*slow), 43000);
}

TEST(LinuxRegistry, FindsTheSystemBatteryAndEveryCardWithAUtilisation) {
    struct Case {
        std::string_view what;
        std::map<std::string, testing::Files> supplies;
        std::optional<double> temperature;
        std::optional<double> voltage;
        bool battery;
    };
    const Case cases[] = {
        {"a peripheral's battery and the mains adapter are passed over",
         {{"hidpp_battery_0", {{"type", "Battery\n"}, {"scope", "Device\n"}, {"temp", "250\n"}}},
          {"ADP1", {{"type", "Mains\n"}}},
          {"macsmc-battery",
           {{"type", "Battery\n"},
            {"scope", "System\n"},
            {"temp", "305\n"},
            {"voltage_now", "12600000\n"},
            {"model_name", "\xff\xfe bat\n"}}}},
         3050,
         12600,
         true},
        {"no scope means System, no temp means voltage only",
         {{"BAT0", {{"type", "Battery\n"}, {"voltage_now", "11000500\n"}}}},
         std::nullopt,
         11000.5,
         true},
        {"no battery", {{"AC", {{"type", "Mains\n"}}}}, std::nullopt, std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing::TempDir sys;
        for (const auto& [name, files] : c.supplies) {
            addPowerSupply(sys, name, "platform/" + name, files);
        }
        LinuxRegistry registry(sys.path());
        const auto battery = registry.firstEntry("AppleSmartBattery");
        ASSERT_EQ(battery != nullptr, c.battery);
        if (battery) {
            EXPECT_EQ(battery->numberProperty("Temperature"), c.temperature);
            EXPECT_EQ(battery->numberProperty("Voltage"), c.voltage);
        }
        EXPECT_EQ(registry.firstEntry("IOAccelerator"), nullptr);
    }
}

TEST(LinuxRegistry, ListsCardsWithAUtilisationSourceAsAccelerators) {
    testing::TempDir sys;
    const std::string gpu = "pci0000:00/0000:00:01.0/0000:03:00.0";
    addDrmCard(sys, "card0", gpu,
               {{"uevent", "PCI_ID=1002:73BF\nDRIVER=amdgpu\n"}, {"gpu_busy_percent", "37\n"}});
    addDrmCard(sys, "card1", "pci0000:00/0000:00:02.0", {{"uevent", "DRIVER=i915\n"}});
    sys.symlink("class/drm/card0-DP-1", "../../devices/" + gpu + "/drm/card0/card0-DP-1");
    sys.symlink("class/drm/renderD128", "../../devices/" + gpu + "/drm/renderD128");

    LinuxRegistry registry(sys.path());
    const auto accelerators = registry.matchingEntries("IOAccelerator");
    ASSERT_NE(accelerators, nullptr);
    const auto card = accelerators->next();
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->stringProperty("IOClass"), "amdgpu");
    EXPECT_TRUE(registry.isGraphicsAcceleratorClass(*card->stringProperty("IOClass")));
    const auto* statistics = card->dictionaryProperty("PerformanceStatistics");
    ASSERT_NE(statistics, nullptr);
    EXPECT_EQ(statistics->at("Device Utilization %"), RegistryValue(37.0));
    EXPECT_EQ(accelerators->next(), nullptr);
}

} // namespace
} // namespace brivane::platform::linux_backend
