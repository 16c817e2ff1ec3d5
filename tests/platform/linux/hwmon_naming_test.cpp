#include "platform/linux/hwmon_naming.h"

#include <gtest/gtest.h>

namespace brivane::platform::linux_backend {
namespace {

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

} // namespace
} // namespace brivane::platform::linux_backend
