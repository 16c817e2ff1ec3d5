#pragma once

// The two stand-ins' outputs, from sysfs and, when given, the system bus.

#include "sysfs_sources.h"
#include "system_bus.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace brivane::system_tools {

// Each bus call may take this long, and all of them together end well within the 2 s the
// readers give a tool.
constexpr std::chrono::milliseconds busCallLimit{500};
constexpr std::chrono::milliseconds busBudget{1500};

// "-g accps -xml": the machine's battery, then the accessories of UPower, BlueZ and
// power_supply in that order of preference, each device once.
std::string powerSourcesReport(const RootedDirectory& sys, SystemBus* bus);

// "info -plist <name>", or nothing for a name that is no disk here. healthLogs holds the files
// brivane-nvme-health writes, one per NVMe controller.
std::optional<std::string> diskInfoReport(const RootedDirectory& sys, SystemBus* bus,
                                          std::string_view name,
                                          const RootedDirectory& healthLogs = {});

// Where brivane-nvme-health writes, and the disk tool reads, the controllers' health logs.
constexpr const char* nvmeHealthFolder = "/run/brivane-nvme-health";

// "list": one line per disk, "diskN", a tab, the kernel name.
std::string diskListReport(const RootedDirectory& sys);

} // namespace brivane::system_tools
