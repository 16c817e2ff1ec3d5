#pragma once

#include "support/temp_dir.h"

#include <map>
#include <string>

namespace brivane::testing {

using Files = std::map<std::string, std::string>;

// A hwmon chip laid out as the kernel does: devices/<device>/hwmon/<node> (or
// devices/<device>/<node> for a chip whose parent has a class) with class/hwmon/<node> linking
// to it and <node>/device linking back. Old-style drivers keep their files, "name" included,
// in the device folder.
struct FixtureChip {
    std::string node;   // "hwmon0"
    std::string device; // under devices/, e.g. "platform/coretemp.0"
    Files files;        // "name" → "coretemp\n", "temp1_input" → "45000\n"
    bool filesInDevice = false;
    bool classParent = false; // no "hwmon/" folder between device and node
};
void addHwmonChip(const TempDir& sys, const FixtureChip& chip);

// class/power_supply/<name> linking into devices/<device>/power_supply/<name>.
void addPowerSupply(const TempDir& sys, const std::string& name, const std::string& device,
                    const Files& files);

// class/drm/<card> linking into devices/<device>/drm/<card>; deviceFiles land in the device.
void addDrmCard(const TempDir& sys, const std::string& card, const std::string& device,
                const Files& deviceFiles);

} // namespace brivane::testing
