#pragma once

#include "backends/posix/kernel_files/sysfs_reading.h"

#include <optional>
#include <string>

namespace brivane::platform::linux_backend {

// A text attribute of a power supply directory ("type", "status"), without its line feed and
// surrounding blanks; absent when missing or empty.
std::optional<std::string> supplyAttribute(const posix::RootedDirectory& sys,
                                           const std::string& supply, const char* leaf);

// Whether the power supply directory (e.g. "class/power_supply/BAT0") is the machine's own
// battery: type Battery, scope System or none. A peripheral's battery has scope Device.
bool isSystemBattery(const posix::RootedDirectory& sys, const std::string& supply);

} // namespace brivane::platform::linux_backend
