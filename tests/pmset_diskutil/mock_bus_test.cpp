// The power tool stand-in as the reader runs it, against mocked bus services. The machine's own
// /sys is read too, so the checks look only at the mocks' devices.
#include "formats/sensor_snapshot.h"
#include "support/child_process.h"
#include "support/mock_system_bus.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <set>

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

} // namespace
} // namespace brivane::testing
