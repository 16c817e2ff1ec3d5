// The Linux agent with its system-tool stand-in on a mocked bus, over a fixture /sys with an
// NVMe, an ATA and a virtual disk: the mouse shows among the snapshot's accessories and each
// drive's SMART figures in "storage diskN".
#include "support/mock_system_bus.h"
#include "support/staged_agent.h"

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
    staged.sysTree().makeDirectory("class/power_supply");
    for (const char* disk : {"nvme0n1", "sda", "vda"}) {
        staged.sysTree().write("block/" + std::string(disk) + "/size", "1000215216\n");
    }
    ASSERT_TRUE(staged.startAgent());

    const auto snapshot = staged.cli({"--raw", "snapshot"});
    ASSERT_EQ(snapshot.status, 0) << snapshot.output;
    const auto document = nlohmann::json::parse(snapshot.output, nullptr, false);
    ASSERT_TRUE(document.contains("accessories")) << snapshot.output;
    EXPECT_EQ(document["accessories"],
              nlohmann::json::parse(R"([{"name": "MX Mouse", "level": 0.64}])"));

    const std::pair<const char*, const char*> readings[] = {
        {"disk0", R"({"temperature": 37, "life": 97, "totalRead": 512000000,
            "totalWritten": 1024000000, "powerCycles": 412, "powerOnHours": 2871,
            "availableSpare": 100, "spareThreshold": 10, "unsafeShutdowns": 17,
            "mediaErrors": 0})"},
        {"disk1", R"({"temperature": 35, "totalWritten": 1024000000, "powerCycles": 77,
            "powerOnHours": 2})"},
        {"disk2", "null"}, // no SMART: no reading
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
