#include "support/sysfs_fixture.h"

namespace brivane::testing {
namespace {

void writeAll(const TempDir& sys, const std::string& folder, const Files& files) {
    sys.makeDirectory(folder);
    for (const auto& [name, contents] : files) {
        sys.write(folder + "/" + name, contents);
    }
}

} // namespace

void addHwmonChip(const TempDir& sys, const FixtureChip& chip) {
    const std::string device = "devices/" + chip.device;
    const std::string node = device + (chip.classParent ? "/" : "/hwmon/") + chip.node;
    writeAll(sys, chip.filesInDevice ? device : node, chip.files);
    sys.makeDirectory(node);
    sys.symlink(node + "/device", chip.classParent ? ".." : "../..");
    sys.symlink("class/hwmon/" + chip.node, "../../" + node);
}

void addPowerSupply(const TempDir& sys, const std::string& name, const std::string& device,
                    const Files& files) {
    const std::string folder = "devices/" + device + "/power_supply/" + name;
    writeAll(sys, folder, files);
    sys.symlink("class/power_supply/" + name, "../../" + folder);
}

void addDrmCard(const TempDir& sys, const std::string& card, const std::string& device,
                const Files& deviceFiles) {
    const std::string folder = "devices/" + device + "/drm/" + card;
    writeAll(sys, "devices/" + device, deviceFiles);
    sys.makeDirectory(folder);
    sys.symlink(folder + "/device", "../..");
    sys.symlink("class/drm/" + card, "../../" + folder);
}

void addLinuxLaptop(const TempDir& sys) {
    addHwmonChip(sys, {"hwmon2",
                       "platform/applesmc.768",
                       {{"name", "applesmc\n"},
                        {"temp1_label", "TC0P\n"},
                        {"temp1_input", "45250\n"},
                        {"temp2_label", "TB0T\n"},
                        {"temp2_input", "-127000\n"},
                        {"temp3_label", "TA0P\n"},
                        {"temp3_input", "0\n"},
                        {"fan1_label", "Left side\n"},
                        {"fan1_input", "1200\n"},
                        {"fan1_min", "1000\n"},
                        {"fan1_max", "6000\n"},
                        {"fan2_label", "Right side\n"},
                        {"fan2_input", ""}},
                       true});
    addHwmonChip(sys, {"hwmon0",
                       "platform/coretemp.0",
                       {{"name", "coretemp\n"},
                        {"temp2_label", "Core 0\n"},
                        {"temp2_input", "50000\n"},
                        {"temp3_label", "Core 1\n"},
                        {"temp3_input", "150000\n"}}});
    addHwmonChip(sys, {"hwmon1",
                       "platform/thinkpad_hwmon",
                       {{"name", "thinkpad\n"}, {"fan1_input", "2900\n"}, {"fan1_max", "0\n"}}});
    addPowerSupply(sys, "BAT0", "LNXSYSTM:00/PNP0C0A:00",
                   {{"type", "Battery\n"}, {"temp", "305\n"}, {"voltage_now", "12600000\n"}});
    addDrmCard(sys, "card0", "pci0000:00/0000:00:08.1/0000:c1:00.0",
               {{"uevent", "DRIVER=amdgpu\n"}, {"gpu_busy_percent", "37\n"}});
}

} // namespace brivane::testing
