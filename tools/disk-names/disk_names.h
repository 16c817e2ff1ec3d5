#pragma once

// The disk tool stand-in names the machine's whole disks disk0, disk1, …: NVMe namespaces first,
// then SATA/SCSI disks, then other whole disks (virtio, Xen, IDE, MMC), each group in kernel
// name order. Partitions, loop, RAM, zram, device-mapper, RAID and optical devices get no name.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::system_tools {

// The whole disks among the entries of /sys/block, in naming order.
std::vector<std::string> wholeDisks(std::vector<std::string> blockNames);

// 3 for "disk3"; nothing for anything else ("disk03", "disk3s1", "disk").
std::optional<std::size_t> diskNumber(std::string_view name);

// "diskN" for the Nth entry of a naming order.
std::string diskName(std::size_t number);

} // namespace brivane::system_tools
