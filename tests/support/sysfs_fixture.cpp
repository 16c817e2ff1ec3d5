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

} // namespace brivane::testing
