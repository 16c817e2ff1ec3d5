// The stand-ins as the readers run them, against mocked bus services. The machine's own /sys is
// read too, so accessory checks look only at the mocks' devices and disk checks use whatever
// whole disk this machine names disk0.
#include "formats/sensor_snapshot.h"
#include "formats/storage_health.h"
#include "support/child_process.h"
#include "support/mock_system_bus.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <set>

namespace brivane {
namespace {

using testing::CommandResult;
using testing::MockSystemBus;
using testing::runCommand;
using AccessoryReading = SensorSnapshot::AccessoryReading;

const std::string tools = BRIVANE_SYSTEM_TOOLS;
const std::string services = BRIVANE_MOCK_SERVICES;

class MockBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto reason = MockSystemBus::unavailableReason(); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
    }

    // The stand-in with the given arguments, on the bus at address.
    CommandResult tool(const std::string& address, std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), tools);
        return runCommand(arguments, {"DBUS_SYSTEM_BUS_ADDRESS=" + address}, scratch / "out",
                          std::chrono::seconds(5));
    }

    testing::TempDir scratch;
    const std::string noBus = "unix:path=" + (scratch / "none");
};

constexpr const char* upowerDevices = R"({"devices": {
  "mouse": {"Type": ["u", 5], "PowerSupply": ["b", false], "Percentage": ["d", 64.0],
            "Model": ["s", "MX Mouse"], "Serial": ["s", "aa:bb:cc:dd:ee:01"],
            "IsPresent": ["b", true], "State": ["u", 2]},
  "keyboard": {"Type": ["u", 6], "PowerSupply": ["b", false], "Percentage": ["d", 50.0],
               "Model": ["s", "K380"], "IsPresent": ["b", false]},
  "pen": {"Type": ["u", 13], "PowerSupply": ["b", false], "Percentage": ["s", "high"],
          "Model": ["s", "Stylus"]},
  "phones": {"Type": ["u", 19], "PowerSupply": ["b", false], "Percentage": ["d", 30.0]},
  "laptop": {"Type": ["u", 2], "PowerSupply": ["b", true], "Percentage": ["d", 90.0],
             "Model": ["s", "Laptop"]}}})";
constexpr const char* bluezDevices = R"({"devices": [
  {"address": "11:22:33:44:55:66", "alias": "Buds", "battery": 80},
  {"address": "AA:BB:CC:DD:EE:01", "alias": "MX Mouse BT", "battery": 64},
  {"address": "11:22:33:44:55:77", "alias": "Speaker"}]})";
const std::set<std::string> mockNames{"MX Mouse", "K380",        "Stylus", "Headphones",
                                      "Laptop",   "MX Mouse BT", "Buds",   "Speaker"};

std::vector<AccessoryReading> mockReadings(const std::string& output) {
    auto readings = AccessoryReading::parse(output);
    std::erase_if(readings, [](const auto& r) { return !mockNames.contains(r.name); });
    return readings;
}

TEST_F(MockBusTest, PowerToolListsEachAccessoryOnceFromUPowerAndBlueZ) {
    struct Case {
        const char* name;
        const char* upower; // nullptr: no UPower on the bus
        std::vector<AccessoryReading> expected;
        bool bus = true;
    };
    const std::vector<Case> cases = {
        // The keyboard is not present, the pen's level has the wrong type, the laptop battery
        // is the machine's own; the BlueZ mouse is UPower's mouse by its address.
        {"both",
         upowerDevices,
         {{"MX Mouse", std::nullopt, 0.64},
          {"Headphones", std::nullopt, 0.30},
          {"Buds", std::nullopt, 0.80}}},
        {"bluez only",
         nullptr,
         {{"Buds", std::nullopt, 0.80}, {"MX Mouse BT", std::nullopt, 0.64}}},
        {"upower never answers",
         R"({"hang": true})",
         {{"Buds", std::nullopt, 0.80}, {"MX Mouse BT", std::nullopt, 0.64}}},
        {"no bus at all", nullptr, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MockSystemBus bus;
        ASSERT_TRUE(!c.bus ||
                    bus.startService(services + "/bluez_devices.py", "org.bluez", bluezDevices));
        if (c.upower) {
            ASSERT_TRUE(bus.startService(services + "/upower_devices.py", "org.freedesktop.UPower",
                                         c.upower));
        }
        const auto started = std::chrono::steady_clock::now();
        const auto result = tool(c.bus ? bus.address() : noBus, {"pmset", "-g", "accps", "-xml"});
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1900));
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(mockReadings(result.output), c.expected);
    }
}

// The UDisks2 drive behind this machine's disk0, as an ATA disk or a drive without SMART (the
// NVMe controller is the end-to-end test's).
TEST_F(MockBusTest, DiskToolGivesTheStorageReaderTheDrivesSmartFigures) {
    for (const char* unknown : {"disk99", "disk0s1", "disk00", "sda"}) {
        const auto result = tool(noBus, {"diskutil", "info", "-plist", unknown});
        EXPECT_TRUE(result.status != 0 && result.output.empty()) << unknown;
    }
    const auto list = tool(noBus, {"diskutil", "list"});
    ASSERT_EQ(list.status, 0);
    if (!list.output.starts_with("disk0\t")) {
        GTEST_SKIP() << "this machine has no whole disk";
    }
    const auto kernelName = list.output.substr(6, list.output.find_first_of("\t\n", 6) - 6);

    struct Case {
        const char* name;
        std::string drive;
        std::optional<StorageHealthReading> expected;
    };
    const std::vector<Case> cases = {
        {"ata",
         R"("ata": {"SmartSupported": ["b", true], "SmartEnabled": ["b", true],
                    "SmartUpdated": ["t", 1700000000], "SmartTemperature": ["d", 308.15],
                    "SmartPowerOnSeconds": ["t", 7300]},
            "attributes": [[12, "power-cycle-count", 77, 1],
                           [241, "total-lbas-written", 2000000, 3]])",
         StorageHealthReading{35, {}, {}, 1024000000, 77, 2, {}, {}, {}, {}}},
        {"no smart", R"("drive": {"Model": ["s", "Plain Disk"]})", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MockSystemBus bus;
        const std::string parameters =
            R"({"drives": [{"name": "d", "block": ")" + kernelName + R"(", )" + c.drive + "}]}";
        ASSERT_TRUE(bus.startService(services + "/udisks_drives.py", "org.freedesktop.UDisks2",
                                     parameters));
        const auto result = tool(bus.address(), {"diskutil", "info", "-plist", "disk0"});
        ASSERT_EQ(result.status, 0);
        auto reading = StorageHealthReading::parse(result.output, "disk0");
        if (!c.expected && reading) {
            // An NVMe disk here may still report its hwmon temperature.
            reading->temperature.reset();
            EXPECT_EQ(*reading, StorageHealthReading{});
        } else {
            EXPECT_EQ(reading, c.expected);
        }
    }
}

} // namespace
} // namespace brivane
