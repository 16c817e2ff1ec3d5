#pragma once

#include "backends/posix/kernel_files/sysfs_reading.h"

#include <optional>
#include <string>
#include <vector>

namespace brivane::system_tools {

// The controllers of class/nvme under sys that answer now: live, and not runtime-suspended,
// which any command to them would end. Names as in /dev ("nvme0"), sorted.
std::vector<std::string> awakeNvmeControllers(const platform::posix::RootedDirectory& sys);

// The controller of an NVMe namespace's block device ("nvme0n1" -> "nvme0"), from its device
// link; nothing for a disk that is no NVMe namespace.
std::optional<std::string> nvmeControllerOf(const platform::posix::RootedDirectory& sys,
                                            const std::string& kernelName);

// Whether the PCI function below path (a folder under sys) is runtime-suspended: reading a
// hardware monitor behind it would wake it.
bool runtimeSuspended(const platform::posix::RootedDirectory& device);

} // namespace brivane::system_tools
