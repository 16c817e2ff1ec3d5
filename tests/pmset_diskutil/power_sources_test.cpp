#include "formats/sensor_snapshot.h"
#include "power_sources.h"
#include "reports.h"
#include "support/sysfs_fixture.h"

#include <gtest/gtest.h>

namespace brivane::system_tools {
namespace {

using AccessoryReading = SensorSnapshot::AccessoryReading;

std::vector<AccessoryReading> readBack(const std::vector<PowerSourceFacts>& accessories) {
    return AccessoryReading::parse(powerSourceDocuments(std::nullopt, accessories));
}

// Whatever bytes a device reports as its name, the reader gets one well-formed source.
TEST(PowerSourceText, AnyNameBytesGiveOneReadableSource) {
    struct Case {
        std::string name;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"Keys & <Mouse>", "Keys & <Mouse>"},
        {"<?xml version=\"1.0\"?>", "<?xml version=\"1.0\"?>"},
        {"Caf\xc3\xa9 \xf0\x9f\x8e\xa7", "Caf\xc3\xa9 \xf0\x9f\x8e\xa7"},
        {"bad\xff\xc3", "bad\xef\xbf\xbd\xef\xbf\xbd"},
        {"ctl\x01\x1b\x7f", "ctl\xef\xbf\xbd\xef\xbf\xbd\x7f"},
        {"sur\xed\xa0\x80", "sur\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd"},
        {std::string("nul\0end", 7), "nul\xef\xbf\xbd"
                                     "end"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(readBack({{c.name, 50.0, true, false, "id", {}}}),
                  (std::vector<AccessoryReading>{{c.expected, std::nullopt, 0.5}}));
    }
}

// One device reported by UPower, BlueZ and power_supply under the same address (in three
// spellings) or serial number is listed once, as the preferred source has it.
TEST(MergeAccessories, ListsADeviceOnceUnderItsAddressOrSerial) {
    const auto upower = [](const char* model, const char* key, const char* value) {
        return *upowerAccessory(
            {{"PowerSupply", false}, {"Model", std::string(model)}, {key, std::string(value)}});
    };
    const auto sysfs = [](const char* name, const char* model, const char* serial) {
        return *powerSupplyAccessory({name, "Battery", "Device", "", model, serial, 50, {}});
    };
    const auto merged = mergeAccessories({
        {upower("UPower mouse", "NativePath", "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01"),
         upower("UPower keyboard", "Serial", "4082-abcd")},
        {*bluezAccessory(
             {{"Alias", std::string("BlueZ mouse")}, {"Address", std::string("aa:bb:cc:dd:ee:01")}},
             {}),
         *bluezAccessory({{"Address", std::string("11:22:33:44:55:66")}}, {})},
        {sysfs("hid-AA:BB:CC:DD:EE:01-battery", "HID mouse", ""),
         sysfs("hidpp_battery_3", "K", "4082-ABCD"),
         sysfs("ps-controller-battery-11:22:33:44:55:66", "Pad", "")},
    });
    std::vector<std::string> names;
    for (const auto& facts : merged) {
        names.push_back(facts.name + " " + facts.identifier);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"UPower mouse AA:BB:CC:DD:EE:01",
                                               "UPower keyboard 4082-abcd",
                                               "11:22:33:44:55:66 11:22:33:44:55:66"}));
}

// Without any bus: the machine's battery first, then the peripherals' own supplies.
TEST(PowerSupplyTree, BatteryThenPeripheralsWithoutABus) {
    testing::TempDir sys;
    const auto supply = [&](const std::string& name, const testing::Files& files) {
        testing::addPowerSupply(sys, name, "platform/" + name, files);
    };
    supply("BAT0", "type=Battery;capacity=87;status=Charging");
    supply("AC", "type=Mains;online=1");
    supply("hid-11:22:33:44:55:66-battery",
           "type=Battery;scope=Device;capacity=40;model_name=Keyb\xff;status=Discharging");
    supply("hidpp_battery_0",
           "type=Battery;scope=Device;capacity=90;model_name=MX;serial_number=4082-1a2b");
    supply("hidpp_battery_1", "type=Battery;scope=Device;present=0;capacity=10;model_name=Gone");

    const auto output = powerSourcesReport(RootedDirectory(sys.path()), nullptr);
    EXPECT_TRUE(output.starts_with("<?xml")) << output;
    EXPECT_NE(output.find("<string>InternalBattery</string>"), std::string::npos);
    EXPECT_LT(output.find("<integer>87</integer>"), output.find("Accessory Source"));
    EXPECT_EQ(AccessoryReading::parse(output),
              (std::vector<AccessoryReading>{{"Keyb\xef\xbf\xbd", std::nullopt, 0.4},
                                             {"MX", std::nullopt, 0.9}}));
}

} // namespace
} // namespace brivane::system_tools
