#pragma once

// Outputs of the macOS system tools as the simulated laptop prints them.

#include "platform/process_table.h"

#include <string>
#include <string_view>

namespace brivane::platform::sim {

// "/usr/bin/pmset -g accps -xml": one XML property list per power source.
std::string cannedPmsetOutput();
// "/usr/sbin/diskutil info -plist <device>": the description of a disk with SMART figures.
std::string cannedDiskutilOutput(std::string_view device);
// "/usr/bin/top" in logging mode, two samples sorted by power, of the table's processes.
std::string cannedTopOutput(const ProcessTable& table);

} // namespace brivane::platform::sim
