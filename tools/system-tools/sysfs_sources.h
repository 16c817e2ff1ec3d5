#pragma once

// What sysfs tells the stand-ins without any bus: power supplies, block devices and a disk's
// size, kind, model and NVMe temperature. Rooted, so tests run them over fixture trees.

#include "backends/posix/kernel_files/sysfs_reading.h"
#include "disk_description.h"
#include "power_sources.h"

#include <string>
#include <vector>

namespace brivane::system_tools {

using platform::posix::RootedDirectory;

// Every entry of class/power_supply, by name.
std::vector<PowerSupplyEntry> powerSupplies(const RootedDirectory& sys);

// The entries of block/ (whole devices only; partitions live below them).
std::vector<std::string> blockDevices(const RootedDirectory& sys);

// Size, rotational flag, model and, for NVMe, the controller's "Composite" temperature.
DiskFacts sysfsDiskFacts(const RootedDirectory& sys, const std::string& kernelName);

} // namespace brivane::system_tools
