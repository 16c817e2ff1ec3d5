#pragma once

// This machine's disks as the agent's disk tool names them (disk0, disk1, … in the order of
// disk_names.h), so that a user can name a disk by its kernel name or device path.

#include "backends/posix/kernel_files/sysfs_reading.h"
#include "view_model.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::cli {

struct DiskEntry {
    std::string name;       // "disk0", what the agent's storage request takes
    std::string kernelName; // "nvme0n1"
    std::string model;      // empty when the kernel names none
};

// The whole disks under sys (a sysfs root), in naming order.
std::vector<DiskEntry> listDisks(const platform::posix::RootedDirectory& sys);

// The agent's name for a disk typed as its agent name, its kernel name or /dev/<kernel name>;
// nothing when no listed disk answers to it.
std::optional<std::string> agentDiskName(std::string_view typed,
                                         const std::vector<DiskEntry>& disks);

// The list as a view of one untitled table: disk, device, model.
DocumentView diskListView(const std::vector<DiskEntry>& disks);
// Its text: the table, or a line saying there is none.
std::string renderDiskList(const std::vector<DiskEntry>& disks);

} // namespace brivane::cli
