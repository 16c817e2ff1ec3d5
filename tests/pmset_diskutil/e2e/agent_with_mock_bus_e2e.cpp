// The Linux agent with its system-tool stand-in on a mocked bus, over a fixture /sys with power
// supplies and disks: the bus's mouse and the peripherals' own supplies show among the
// snapshot's accessories, and each drive's SMART figures in "storage diskN".
#include "support/mock_system_bus.h"
#include "support/staged_agent.h"
#include "support/sysfs_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace brivane::testing {
namespace {

const std::string services = BRIVANE_MOCK_SERVICES;

constexpr const char* mouse = R"({"devices": {"mouse": {"Type": ["u", 5],
    "PowerSupply": ["b", false], "Percentage": ["d", 64.0], "Model": ["s", "MX Mouse"],
    "IsPresent": ["b", true]}}})";
constexpr const char* drives = R"({"drives": [{"name": "nvme", "block": "nvme0n1",
    "drive": {"Model": ["s", "Fast SSD"]},
    "nvme": {"SmartTemperature": ["q", 310], "SmartPowerOnHours": ["t", 2871],
             "SmartCriticalWarning": ["u", 0], "SmartUpdated": ["t", 1700000000]},
    "attributes": {"avail_spare": ["y", 100], "spare_thresh": ["y", 10],
                   "percent_used": ["y", 3], "total_data_read": ["t", 512000000],
                   "total_data_written": ["t", 1024511999], "power_cycles": ["t", 412],
                   "unsafe_shutdowns": ["t", 17], "media_errors": ["t", 0]}},
  {"name": "ata", "block": "sda",
    "ata": {"SmartSupported": ["b", true], "SmartEnabled": ["b", true],
            "SmartUpdated": ["t", 1700000000], "SmartTemperature": ["d", 308.15],
            "SmartPowerOnSeconds": ["t", 7300]},
    "attributes": [[12, "power-cycle-count", 77, 1], [241, "total-lbas-written", 2000000, 3]]},
  {"name": "plain", "block": "vda", "drive": {"Model": ["s", "Plain Disk"]}}]})";

TEST(LinuxAgentWithMockBus, ReportsTheMouseAndEachDrivesSmartFigures) {
    if (const auto problem = StagedAgent::mountNamespaceProblem(); !problem.empty()) {
        GTEST_SKIP() << problem;
    }
    if (const auto reason = MockSystemBus::unavailableReason(); !reason.empty()) {
        GTEST_SKIP() << reason;
    }
    MockSystemBus bus;
    ASSERT_TRUE(bus.startService(services + "/upower_devices.py", "org.freedesktop.UPower", mouse));
    ASSERT_TRUE(
        bus.startService(services + "/udisks_drives.py", "org.freedesktop.UDisks2", drives));
    StagedAgent staged({.bundle = BRIVANE_E2E_LINUX_BUNDLE,
                        .executables = {BRIVANE_E2E_CLI},
                        .environment = {bus.environmentEntry()},
                        .bindSys = true});
    const TempDir& sys = staged.sysTree();
    // The machine's battery, mains, and two peripherals of which one is gone.
    addPowerSupply(sys, "BAT0", "platform/BAT0", "type=Battery;capacity=87;status=Charging");
    addPowerSupply(sys, "AC", "platform/AC", "type=Mains;online=1");
    addPowerSupply(sys, "hidpp_battery_0", "hid/0",
                   "type=Battery;scope=Device;capacity=90;model_name=MX;serial_number=4082-1a2b");
    addPowerSupply(sys, "hidpp_battery_1", "hid/1",
                   "type=Battery;scope=Device;present=0;capacity=10;model_name=Gone");
    // nvme1n1 is on no bus: its controller's hwmon temperature stands alone.
    sys.writeFiles("block", "nvme0n1/size=9;sda/size=9;vda/size=9;nvme1n1/size=9;"
                            "nvme1n1/device/hwmon3/name=nvme;"
                            "nvme1n1/device/hwmon3/temp1_label=Composite;"
                            "nvme1n1/device/hwmon3/temp1_input=36850");
    ASSERT_TRUE(staged.startAgent());

    const auto snapshot = staged.cli({"--raw", "snapshot"});
    ASSERT_EQ(snapshot.status, 0) << snapshot.output;
    const auto document = nlohmann::json::parse(snapshot.output, nullptr, false);
    ASSERT_TRUE(document.contains("accessories")) << snapshot.output;
    EXPECT_EQ(document["accessories"],
              nlohmann::json::parse(R"([{"name": "MX Mouse", "level": 0.64},
                                         {"name": "MX", "level": 0.9}])"));

    const std::pair<const char*, const char*> readings[] = {
        {"disk0", R"({"temperature": 37, "life": 97, "totalRead": 512000000,
            "totalWritten": 1024000000, "powerCycles": 412, "powerOnHours": 2871,
            "availableSpare": 100, "spareThreshold": 10, "unsafeShutdowns": 17,
            "mediaErrors": 0})"},
        {"disk1", R"({"temperature": 37})"},
        {"disk2", R"({"temperature": 35, "totalWritten": 1024000000, "powerCycles": 77,
            "powerOnHours": 2})"},
        {"disk3", "null"}, // no SMART: no reading
    };
    for (const auto& [disk, reading] : readings) {
        SCOPED_TRACE(disk);
        const auto storage = staged.cli({"--raw", "storage", disk});
        ASSERT_EQ(storage.status, 0) << storage.output;
        auto health = nlohmann::json::parse(storage.output, nullptr, false);
        ASSERT_TRUE(health.contains("helperUID")) << storage.output;
        EXPECT_EQ(health["reading"], nlohmann::json::parse(reading));
    }
}

} // namespace
} // namespace brivane::testing
