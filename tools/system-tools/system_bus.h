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
#include <string_view>
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

    // The properties of every UPower device that answered.
    std::vector<BusProperties> upowerDevices();
    std::optional<ManagedObjects> bluezObjects();
    // What UDisks2 knows of the drive behind /dev/<kernelName>, SMART attributes included.
    std::optional<DriveFacts> udisksDrive(std::string_view kernelName);

private:
    struct Connection;
    explicit SystemBus(std::unique_ptr<Connection> connection);
    std::unique_ptr<Connection> connection_;
};

} // namespace brivane::system_tools
