#include "backends/linux/hwmon/hwmon_tree.h"
#include "support/sysfs_fixture.h"

#include <gtest/gtest.h>

namespace brivane::platform::linux_backend {
namespace {

using testing::addHwmonChip;
using testing::FixtureChip;

// A chip as "name: stem input [label]" lines, one per channel, for comparing whole walks.
std::vector<std::string> described(const std::vector<HwmonChip>& chips) {
    std::vector<std::string> lines;
    for (const auto& chip : chips) {
        for (const auto& channel : chip.channels) {
            lines.push_back(chip.identity.name + ": " + attributeStem(channel.kind, channel.index) +
                            " " + channel.input +
                            (channel.label ? " [" + *channel.label + "]" : ""));
        }
    }
    return lines;
}

// Where real trees differ: old-style drivers, twins of power supplies, unnamed nodes, files
// in both folders, faulty and disabled inputs, power meters with only an average.
TEST(HwmonTree, ListsTheChipsAsEveryDriverLaysThemOut) {
    struct Case {
        const char* what;
        FixtureChip chip;
        std::vector<std::string> found;
    };
    const std::string node = "class/hwmon/hwmon0/";
    const Case cases[] = {
        {"inputs, labels trimmed",
         {"hwmon0", "platform/coretemp.0",
          "name=coretemp;temp2_input=1;temp1_input=2;temp1_label= Core 0 \n"},
         {"coretemp: temp1 " + node + "temp1_input [Core 0]",
          "coretemp: temp2 " + node + "temp2_input"}},
        {"old-style driver, name and files in the device",
         {"hwmon0", "platform/w83627hf.656", "name=w83627hf;fan1_input=900", true},
         {"w83627hf: fan1 " + node + "device/fan1_input"}},
        {"a power supply's twin",
         {"hwmon0", "platform/BAT0/power_supply/BAT0", "name=BAT0;temp1_input=1"},
         {}},
        {"no name anywhere", {"hwmon0", "platform/x.0", "temp1_input=1"}, {}},
        {"faulty, disabled and input-less channels",
         {"hwmon0", "platform/it87.2656",
          "name=it8688;temp1_input=1;temp1_fault=1;temp2_input=1;temp2_enable=0;temp3_max=9;"
          "temp4_input=1;temp4_enable=1;fan1_input=0;fan1_fault=0"},
         {"it8688: temp4 " + node + "temp4_input", "it8688: fan1 " + node + "fan1_input"}},
        {"a power meter with only an average",
         {"hwmon0", "platform/acpi_power",
          "name=power_meter;power1_average=5;power2_input=1;"
          "power2_average=2"},
         {"power_meter: power1 " + node + "power1_average",
          "power_meter: power2 " + node + "power2_input"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::TempDir sys;
        addHwmonChip(sys, c.chip);
        EXPECT_EQ(described(listHwmonChips(posix::RootedDirectory(sys.path()))), c.found);
    }
}

TEST(HwmonTree, TheNodesFileWinsAndUnwantedChipsAreNotWalked) {
    testing::TempDir sys;
    addHwmonChip(sys, {"hwmon0", "platform/nct6775.656", "name=nct6798;temp1_input=1"});
    sys.writeFiles("devices/platform/nct6775.656", "name=other;temp1_input=2;temp1_label=CPU");
    addHwmonChip(sys, {"hwmon1", "platform/applesmc.768", "name=applesmc;temp1_input=1"});
    addHwmonChip(sys, {"hwmon2", "platform/BAT0/power_supply/BAT0", "name=BAT0"});
    addHwmonChip(sys, {"hwmon3", "platform/x.0", "temp1_input=1"});
    const posix::RootedDirectory root(sys.path());
    EXPECT_EQ(
        described(listHwmonChips(root, [](std::string_view name) { return name != "applesmc"; })),
        (std::vector<std::string>{"nct6798: temp1 class/hwmon/hwmon0/temp1_input [CPU]"}));
    // The nodes themselves: every one, twins and the unnamed included.
    std::vector<std::string> nodes;
    for (const auto& found : listHwmonNodes(root)) {
        nodes.push_back(found.folder + "=" + found.identity.name);
    }
    EXPECT_EQ(nodes,
              (std::vector<std::string>{"class/hwmon/hwmon0=nct6798", "class/hwmon/hwmon1=applesmc",
                                        "class/hwmon/hwmon2=BAT0", "class/hwmon/hwmon3="}));
}

} // namespace
} // namespace brivane::platform::linux_backend
