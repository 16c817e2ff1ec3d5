// The power and disk tool stand-ins against mocked bus services.
#include "formats/sensor_snapshot.h"
#include "formats/storage_health.h"
#include "platform/host/unix_endpoints.h"
#include "reports.h"
#include "support/child_process.h"
#include "support/mock_system_bus.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <signal.h>

namespace brivane::testing {
namespace {

using AccessoryReading = SensorSnapshot::AccessoryReading;

const std::string services = BRIVANE_MOCK_SERVICES;

struct MockBusTest : ::testing::Test {
    void SetUp() override {
        if (const auto reason = MockSystemBus::unavailableReason(); !reason.empty()) {
            GTEST_SKIP() << reason;
        }
    }
};

// Devices of UPower (the keyboard not present, the pad's level of the wrong type, the laptop's
// battery the machine's own) and BlueZ (its mouse is UPower's by address), and power_supply
// entries: a pen and a tablet that UPower lists under their NativePath, and a device that gives
// only a charge band.
constexpr const char* upowerDevices = R"({"devices": {
  "a_mouse": {"Type": ["u", 5], "PowerSupply": ["b", false], "Percentage": ["d", 64.0],
              "Model": ["s", "MX Mouse"], "Serial": ["s", "aa:bb:cc:dd:ee:01"]},
  "b_pen": {"Type": ["u", 13], "PowerSupply": ["b", false], "Percentage": ["d", 70.0],
            "NativePath": ["s", "hid-i2c-ELAN0001-battery"]},
  "c_pad": {"Type": ["u", 12], "PowerSupply": ["b", false], "Percentage": ["s", "high"]},
  "d_phones": {"Type": ["u", 19], "PowerSupply": ["b", false], "Percentage": ["d", 30.0]},
  "e_tablet": {"Type": ["u", 10], "PowerSupply": ["b", false], "Percentage": ["d", 40.0],
               "Model": ["s", "Intuos Pro"], "NativePath": ["s", "wacom_battery_0"]},
  "f_keyboard": {"Type": ["u", 6], "PowerSupply": ["b", false], "Percentage": ["d", 50.0],
                 "IsPresent": ["b", false]},
  "g_laptop": {"Type": ["u", 2], "PowerSupply": ["b", true], "Percentage": ["d", 90.0]}}})";
constexpr const char* bluezDevices = R"({"devices": [
  {"address": "11:22:33:44:55:66", "alias": "Buds", "battery": 80},
  {"address": "AA:BB:CC:DD:EE:01", "alias": "MX Mouse BT", "battery": 64},
  {"address": "11:22:33:44:55:77", "alias": "Speaker"}]})";

TEST_F(MockBusTest, PowerToolListsEachAccessoryOnceFromUPowerBlueZAndSysfs) {
    TempDir sys;
    sys.writeFiles("class/power_supply/hid-i2c-ELAN0001-battery",
                   "type=Battery;scope=Device;capacity=70");
    sys.writeFiles("class/power_supply/hidpp_battery_1",
                   "type=Battery;scope=Device;model_name=MX Keys;capacity_level=High");
    sys.writeFiles("class/power_supply/wacom_battery_0",
                   "type=Battery;scope=Device;model_name=Intuos;capacity=40");
    const AccessoryReading buds{"Buds", {}, 0.8}, keys{"MX Keys", {}, 0.85};
    const std::vector<AccessoryReading> sysfs = {
        {"hid-i2c-ELAN0001-battery", {}, 0.7}, keys, {"Intuos", {}, 0.4}};
    std::vector<AccessoryReading> bluez = {buds, {"MX Mouse BT", {}, 0.64}};
    bluez.insert(bluez.end(), sysfs.begin(), sysfs.end());
    struct Case {
        const char* name;
        const char* upower; // nullptr: no UPower on the bus
        std::vector<AccessoryReading> expected;
        bool bus = true;
    };
    const std::vector<Case> cases = {
        {"both",
         upowerDevices,
         {{"MX Mouse", {}, 0.64},
          {"Pen", {}, 0.7},
          {"Headphones", {}, 0.3},
          {"Intuos Pro", {}, 0.4},
          buds,
          keys}},
        {"bluez only", nullptr, bluez},
        {"upower never answers", R"({"hang": true})", bluez},
        {"no bus at all", nullptr, sysfs, false},
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
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", c.bus ? bus.address().c_str() : "unix:path=/none", 1);
        const auto started = std::chrono::steady_clock::now();
        const auto connection = system_tools::SystemBus::connect(system_tools::busCallLimit,
                                                                 started + system_tools::busBudget);
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        EXPECT_EQ(AccessoryReading::parse(system_tools::powerSourcesReport(
                      platform::host::RootedDirectory(sys.path()), connection.get())),
                  c.expected);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1900));
    }
}

// UDisks2's NVMe and ATA drives, each by its block device.
const std::string udisksDrives = R"({"drives": [{"name": "nvme", "block": "nvme0n1",
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
  {"name": "plain", "block": "vda", "drive": {"Model": ["s", "Plain Disk )" +
                                 std::string(300, 'x') + R"("]}}]})";

// Disks are the whole disks of /sys/block in naming order, each with the SMART figures UDisks2
// has for it, else the NVMe controller's own temperature (not its "no reading" sentinel).
TEST_F(MockBusTest, DiskToolNamesTheWholeDisksAndReadsTheirSmartFigures) {
    TempDir sys;
    sys.writeFiles("block", "nvme0n1/size=9;sda/size=9;vda/size=9;loop0/size=9;sda/sda1/size=1");
    for (const auto& [disk, input] : {std::pair{"nvme1n1", "36850"}, {"nvme2n1", "127000"}}) {
        sys.writeFiles(std::string("block/") + disk + "/device/hwmon3",
                       std::string("name=nvme;temp1_label=Composite;temp1_input=") + input);
    }
    MockSystemBus bus;
    ASSERT_TRUE(
        bus.startService(services + "/udisks_drives.py", "org.freedesktop.UDisks2", udisksDrives));
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
    const auto connection = system_tools::SystemBus::connect(
        system_tools::busCallLimit, std::chrono::steady_clock::now() + system_tools::busBudget);
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    const platform::host::RootedDirectory root(sys.path());
    EXPECT_EQ(system_tools::diskListReport(root),
              "disk0\tnvme0n1\ndisk1\tnvme1n1\ndisk2\tnvme2n1\ndisk3\tsda\ndisk4\tvda\n");
    const std::pair<const char*, std::optional<StorageHealthReading>> disks[] = {
        {"disk0", StorageHealthReading{37, 97, 512000000, 1024000000, 412, 2871, 100, 10, 17, 0}},
        {"disk1", StorageHealthReading{.temperature = 37}},
        {"disk2", std::nullopt},
        {"disk3",
         StorageHealthReading{
             .temperature = 35, .totalWritten = 1024000000, .powerCycles = 77, .powerOnHours = 2}},
        {"disk4", std::nullopt}, // no SMART
    };
    for (const auto& [disk, expected] : disks) {
        SCOPED_TRACE(disk);
        const auto report = system_tools::diskInfoReport(root, connection.get(), disk);
        ASSERT_TRUE(report);
        EXPECT_EQ(StorageHealthReading::parse(*report, disk), expected);
    }
    // A model as long as the drive likes is kept to 256 bytes.
    EXPECT_NE(system_tools::diskInfoReport(root, connection.get(), "disk4")
                  ->find("Plain Disk " + std::string(245, 'x') + "<"),
              std::string::npos);
    for (const char* unknown : {"disk5", "disk0s1", "disk00", "sda"}) {
        EXPECT_EQ(system_tools::diskInfoReport(root, connection.get(), unknown), std::nullopt)
            << unknown;
    }
}

// A bus that never finishes the handshake (its daemon stopped, or a socket that nobody serves)
// costs each stand-in no more than its budget.
TEST_F(MockBusTest, StandInsEndInTimeOnASilentBus) {
    TempDir scratch;
    const std::string path = scratch / "silent";
    const auto silent = platform::host::listenUnix(path); // never accepts
    ASSERT_TRUE(silent.socket) << silent.message;
    MockSystemBus bus;
    bus.signalDaemon(SIGSTOP);
    for (const auto& address : {bus.address(), "unix:path=" + path}) {
        for (const auto& tool : {std::vector<std::string>{"pmset", "-g", "accps", "-xml"},
                                 std::vector<std::string>{"diskutil", "info", "-plist", "disk0"}}) {
            SCOPED_TRACE(address + " " + tool[0]);
            std::vector<std::string> command{BRIVANE_SYSTEM_TOOLS};
            command.insert(command.end(), tool.begin(), tool.end());
            const auto started = std::chrono::steady_clock::now();
            runCommand(command, {"DBUS_SYSTEM_BUS_ADDRESS=" + address}, scratch / "out",
                       std::chrono::seconds(3));
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1900));
        }
    }
    bus.signalDaemon(SIGCONT);
}

} // namespace
} // namespace brivane::testing
