// The power tool stand-in as the reader runs it, against mocked bus services. The machine's own
// /sys is read too, so the checks look only at the mocks' devices.
#include "formats/sensor_snapshot.h"
#include "platform/host/file_descriptor.h"
#include "reports.h"
#include "support/child_process.h"
#include "support/mock_system_bus.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <set>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>

namespace brivane::testing {
namespace {

using AccessoryReading = SensorSnapshot::AccessoryReading;

const std::string services = BRIVANE_MOCK_SERVICES;

// The keyboard is not present, the pen's level has the wrong type, the laptop battery is the
// machine's own; the BlueZ mouse is UPower's mouse by its address.
constexpr const char* upowerDevices = R"({"devices": {
  "mouse": {"Type": ["u", 5], "PowerSupply": ["b", false], "Percentage": ["d", 64.0],
            "Model": ["s", "MX Mouse"], "Serial": ["s", "aa:bb:cc:dd:ee:01"]},
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

TEST(MockBusTest, PowerToolListsEachAccessoryOnceFromUPowerAndBlueZ) {
    if (const auto reason = MockSystemBus::unavailableReason(); !reason.empty()) {
        GTEST_SKIP() << reason;
    }
    const AccessoryReading buds{"Buds", std::nullopt, 0.80};
    const AccessoryReading bluezMouse{"MX Mouse BT", std::nullopt, 0.64};
    struct Case {
        const char* name;
        const char* upower; // nullptr: no UPower on the bus
        std::vector<AccessoryReading> expected;
        bool bus = true;
    };
    const std::vector<Case> cases = {
        {"both",
         upowerDevices,
         {{"MX Mouse", std::nullopt, 0.64}, {"Headphones", std::nullopt, 0.30}, buds}},
        {"bluez only", nullptr, {buds, bluezMouse}},
        {"upower never answers", R"({"hang": true})", {buds, bluezMouse}},
        {"no bus at all", nullptr, {}, false},
    };
    TempDir scratch;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MockSystemBus bus;
        ASSERT_TRUE(!c.bus ||
                    bus.startService(services + "/bluez_devices.py", "org.bluez", bluezDevices));
        if (c.upower) {
            ASSERT_TRUE(bus.startService(services + "/upower_devices.py", "org.freedesktop.UPower",
                                         c.upower));
        }
        const auto address = c.bus ? bus.address() : "unix:path=" + (scratch / "none");
        const auto started = std::chrono::steady_clock::now();
        const auto result = runCommand({BRIVANE_SYSTEM_TOOLS, "pmset", "-g", "accps", "-xml"},
                                       {"DBUS_SYSTEM_BUS_ADDRESS=" + address}, scratch / "out",
                                       std::chrono::seconds(5));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1900));
        EXPECT_EQ(result.status, 0);
        auto readings = AccessoryReading::parse(result.output);
        std::erase_if(readings, [](const auto& r) { return !mockNames.contains(r.name); });
        EXPECT_EQ(readings, c.expected);
    }
}

// Pens and tablets have neither address nor serial: UPower's NativePath names their power_supply
// entry. A device that gives only a charge band is listed from sysfs, with or without UPower.
TEST(MockBusTest, PeripheralsWithAndWithoutUPower) {
    if (const auto reason = MockSystemBus::unavailableReason(); !reason.empty()) {
        GTEST_SKIP() << reason;
    }
    TempDir sys;
    sys.writeFiles("class/power_supply/hid-i2c-ELAN0001-battery",
                   "type=Battery;scope=Device;capacity=70");
    sys.writeFiles("class/power_supply/hidpp_battery_1",
                   "type=Battery;scope=Device;model_name=MX Keys;capacity_level=High");
    sys.writeFiles("class/power_supply/wacom_battery_0",
                   "type=Battery;scope=Device;model_name=Intuos;capacity=40");
    MockSystemBus bus;
    ASSERT_TRUE(bus.startService(services + "/upower_devices.py", "org.freedesktop.UPower",
                                 R"({"devices": {
      "pen": {"Type": ["u", 13], "PowerSupply": ["b", false], "Percentage": ["d", 70.0],
              "NativePath": ["s", "hid-i2c-ELAN0001-battery"]},
      "tablet": {"Type": ["u", 10], "PowerSupply": ["b", false], "Percentage": ["d", 40.0],
                 "Model": ["s", "Intuos Pro"], "NativePath": ["s", "wacom_battery_0"]}}})"));
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
    const auto upower = system_tools::SystemBus::connect(
        std::chrono::milliseconds(500), std::chrono::steady_clock::now() + std::chrono::seconds(2));
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    ASSERT_TRUE(upower);
    const AccessoryReading keys{"MX Keys", std::nullopt, 0.85};
    const std::pair<system_tools::SystemBus*, std::vector<AccessoryReading>> cases[] = {
        {upower.get(), {{"Pen", std::nullopt, 0.7}, {"Intuos Pro", std::nullopt, 0.4}, keys}},
        {nullptr, {{"hid-i2c-ELAN0001-battery", std::nullopt, 0.7}, keys, {"Intuos", {}, 0.4}}},
    };
    for (const auto& [source, expected] : cases) {
        SCOPED_TRACE(source ? "UPower" : "sysfs only");
        EXPECT_EQ(AccessoryReading::parse(system_tools::powerSourcesReport(
                      platform::host::RootedDirectory(sys.path()), source)),
                  expected);
    }
}

// A bus that never finishes the handshake (its daemon stopped, or a socket that nobody serves)
// costs each stand-in no more than its budget.
TEST(MockBusTest, StandInsEndInTimeOnASilentBus) {
    if (const auto reason = MockSystemBus::unavailableReason(); !reason.empty()) {
        GTEST_SKIP() << reason;
    }
    TempDir scratch;
    const platform::host::FileDescriptor silent(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un socketAddress{};
    socketAddress.sun_family = AF_UNIX;
    const std::string path = scratch / "silent";
    path.copy(socketAddress.sun_path, sizeof socketAddress.sun_path - 1);
    ASSERT_EQ(
        ::bind(silent.get(), reinterpret_cast<sockaddr*>(&socketAddress), sizeof socketAddress), 0);
    ASSERT_EQ(::listen(silent.get(), 8), 0);
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
