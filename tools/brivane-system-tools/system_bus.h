#pragma once

// Queries of UPower, BlueZ and UDisks2 on the system bus (DBUS_SYSTEM_BUS_ADDRESS when set).
// Every call is bounded and shares one deadline; any failure (no bus, no service, timeout, a
// reply of another shape) makes that answer absent.

#include "bus_values.h"
#include "disk_description.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brivane::system_tools {

class SystemBus {
public:
    using Clock = std::chrono::steady_clock;

    // Nothing when the bus cannot be reached.
    static std::unique_ptr<SystemBus> connect(std::chrono::milliseconds perCall,
                                              Clock::time_point deadline);
    ~SystemBus();

    std::optional<std::vector<std::string>> upowerDevicePaths();
    std::optional<BusProperties> allProperties(const std::string& service, const std::string& path,
                                               const std::string& interface);
    std::optional<ManagedObjects> managedObjects(const std::string& service,
                                                 const std::string& path);
    std::optional<BusProperties> nvmeSmartAttributes(const std::string& drivePath);
    std::optional<std::vector<AtaAttribute>> ataSmartAttributes(const std::string& drivePath);

private:
    struct Connection;
    explicit SystemBus(std::unique_ptr<Connection> connection);
    std::unique_ptr<Connection> connection_;
};

} // namespace brivane::system_tools
