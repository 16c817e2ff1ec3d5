#pragma once

#include "platform/hardware_monitor.h"
#include "platform/linux/hwmon_tree.h"
#include "platform/linux/sensor_channels.h"

#include <optional>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// Every hwmon chip but the Apple SMC's (which the SMC transport serves), read from sysfs
// directly. Temperatures are keyed "<chip>/<label>" and fans named "<chip>/<label>" alike, the chip
// made unique by uniqueChipNames() and a channel without a label going by its stem ("temp1").
// Sensors are found on the first sample and kept; their files stay open.
class HwmonHardwareMonitor final : public HardwareMonitor {
public:
    explicit HwmonHardwareMonitor(std::string sysRoot = "/sys", SensorTiming timing = {},
                                  host::KeptValue::Pread pread = ::pread);

    const MonitorSample& sample() override;

private:
    struct Temperature {
        std::string key;
        std::size_t channel = 0;
    };
    struct Fan {
        int index = 0;
        std::string name;
        std::size_t channel = 0;
        std::optional<std::size_t> maximum;
    };
    void discover();

    SensorChannels channels_;
    bool discovered_ = false;
    std::vector<Temperature> temperatures_;
    std::vector<Fan> fans_;
    MonitorSample sample_;
};

} // namespace brivane::platform::linux_backend
