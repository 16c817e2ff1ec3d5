#include "formats/sensor_snapshot.h"
#include "power_sources.h"

#include <gtest/gtest.h>

namespace brivane::system_tools {
namespace {

using AccessoryReading = SensorSnapshot::AccessoryReading;

TEST(PowerSourceText, AnyNameBytesGiveOneReadableSource) {
    const struct {
        std::string name;
        std::string expected;
    } cases[] = {
        {"Keys & <Mouse>", "Keys & <Mouse>"},
        {"<?xml version=\"1.0\"?>", "<?xml version=\"1.0\"?>"},
        {"Caf\xc3\xa9 \xf0\x9f\x8e\xa7", "Caf\xc3\xa9 \xf0\x9f\x8e\xa7"},
        {"bad\xff\xc3", "bad\xef\xbf\xbd\xef\xbf\xbd"},
        {"cut\xe2\x82", "cut\xef\xbf\xbd\xef\xbf\xbd"},     // each byte of a cut sequence
        {"tab\tnl\n\xef\xbf\xbe", "tab\tnl\n\xef\xbf\xbd"}, // U+FFFE: no XML character
        {std::string("nul\0end", 7), std::string("nul\xef\xbf\xbd") + "end"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        const auto output =
            powerSourceDocuments(std::nullopt, {{c.name, 50.0, true, false, "id", {}}});
        EXPECT_EQ(AccessoryReading::parse(output),
                  (std::vector<AccessoryReading>{{c.expected, std::nullopt, 0.5}}));
    }
}

// Names of any length from any number of devices: the reader gets at most maxCount sources,
// names cut between characters.
TEST(PowerSourceText, NamesAndCountAreBounded) {
    std::string name = "a";
    for (int i = 0; i < 100; ++i)
        name += "\xC3\xA9";
    const std::vector<PowerSourceFacts> many(AccessoryReading::maxCount + 1,
                                             {name, 50.0, true, false, name, {}});
    const auto readings = AccessoryReading::parse(powerSourceDocuments(std::nullopt, many));
    ASSERT_EQ(readings.size(), AccessoryReading::maxCount);
    EXPECT_EQ(readings.back().name, name.substr(0, AccessoryReading::maxNameBytes - 1));
}

// One device reported by UPower, BlueZ and power_supply under the same address (in three
// spellings), serial number or power_supply name is listed once, as the preferred source has it.
TEST(MergeAccessories, ListsADeviceOnceUnderItsAddressOrSerial) {
    const auto upower = [](const char* model, const char* key, const char* value) {
        return *upowerAccessory(
            {{"PowerSupply", false}, {"Model", std::string(model)}, {key, std::string(value)}});
    };
    const auto sysfs = [](const char* name, const char* model, const char* serial) {
        return *powerSupplyAccessory({name, "Battery", "Device", "", model, serial, 50, "", {}});
    };
    const auto merged = mergeAccessories({
        {upower("UPower mouse", "NativePath", "/org/bluez/hci0/dev_AA_BB_CC_DD_EE_01"),
         upower("UPower keyboard", "Serial", "4082-abcd"),
         upower("UPower tablet", "NativePath", "wacom_battery_0")},
        {*bluezAccessory(
             {{"Alias", std::string("BlueZ mouse")}, {"Address", std::string("aa:bb:cc:dd:ee:01")}},
             {}),
         *bluezAccessory({{"Address", std::string("11:22:33:44:55:66")}}, {})},
        {sysfs("hid-AA:BB:CC:DD:EE:01-battery", "HID mouse", ""),
         sysfs("hidpp_battery_3", "K", "4082-ABCD"),
         sysfs("ps-controller-battery-11:22:33:44:55:66", "Pad", ""),
         sysfs("wacom_battery_0", "Tablet", "")},
    });
    std::vector<std::string> names;
    for (const auto& facts : merged)
        names.push_back(facts.name + " " + facts.identifier);
    EXPECT_EQ(names, (std::vector<std::string>{
                         "UPower mouse AA:BB:CC:DD:EE:01", "UPower keyboard 4082-abcd",
                         "UPower tablet wacom_battery_0", "11:22:33:44:55:66 11:22:33:44:55:66"}));
}

} // namespace
} // namespace brivane::system_tools
