#include "platform/linux/hwmon_naming.h"

#include <gtest/gtest.h>

namespace brivane::platform::linux_backend {
namespace {

// Malformed names are in the fuzz seeds, which check that a parsed name has its own stem.
TEST(HwmonNaming, ReadsOnlyIndexedAttributesOfTheSensorFamilies) {
    struct Case {
        std::string_view file;
        std::optional<SensorKind> kind;
        unsigned index;
        std::string_view item;
    };
    const Case cases[] = {
        {"temp12_input", SensorKind::temperature, 12, "input"},
        {"fan1_max", SensorKind::fan, 1, "max"},
        {"power2_average", SensorKind::power, 2, "average"},
        {"temp1_", std::nullopt, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto parsed = parseAttributeName(c.file);
        ASSERT_EQ(parsed.has_value(), c.kind.has_value());
        if (parsed) {
            EXPECT_EQ(parsed->kind, *c.kind);
            EXPECT_EQ(parsed->index, c.index);
            EXPECT_EQ(parsed->item, c.item);
        }
    }
}

TEST(HwmonNaming, ChipNamesAreUniqueAndIndependentOfNodeNumbers) {
    struct Case {
        std::string_view what;
        std::vector<ChipIdentity> chips;
        std::vector<std::string> names;
    };
    const std::string platform = "../../devices/platform/";
    const Case cases[] = {
        {"distinct names stay bare",
         {{"coretemp", platform + "coretemp.0/hwmon/hwmon2", "hwmon2"},
          {"nvme", "../../devices/pci0000:00/0000:3d:00.0/nvme/nvme0/hwmon1", "hwmon1"}},
         {"coretemp", "nvme"}},
        {"one name twice takes the devices",
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(uniqueChipNames(c.chips), c.names);
    }
}

} // namespace
} // namespace brivane::platform::linux_backend
