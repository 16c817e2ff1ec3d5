#include "backends/linux/power/power_supply.h"

#include "backends/linux/hwmon/hwmon_naming.h"

namespace brivane::platform::linux_backend {

std::optional<std::string> supplyAttribute(const posix::RootedDirectory& sys,
                                           const std::string& supply, const char* leaf) {
    const auto text = sys.readText((supply + "/" + leaf).c_str(), 256);
    return text ? cleanLabel(*text) : std::nullopt;
}

bool isSystemBattery(const posix::RootedDirectory& sys, const std::string& supply) {
    const auto scope = supplyAttribute(sys, supply, "scope");
    return supplyAttribute(sys, supply, "type") == "Battery" && (!scope || *scope == "System");
}

} // namespace brivane::platform::linux_backend
