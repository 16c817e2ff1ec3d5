#pragma once

#include "platform/linux/sensor_channels.h"
#include "platform/registry.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// The two registry classes the companion reads, from sysfs:
// - "AppleSmartBattery": the first power supply of type Battery whose scope is System (no
//   scope file means System), with "Temperature" in hundredths of a degree (from `temp`,
//   tenths) and "Voltage" in millivolts (from `voltage_now`, microvolts);
// - "IOAccelerator": one entry per DRM card with a `gpu_busy_percent`, "IOClass" its driver
//   and "PerformanceStatistics" holding "Device Utilization %".
// Both are found on the first lookup and kept; every other class has no entries. Every card
// listed reports graphics, whatever its driver.
class SysfsRegistry final : public Registry {
public:
    explicit SysfsRegistry(std::string sysRoot = "/sys", SensorTiming timing = {},
                           host::KeptValue::Pread pread = ::pread);

    std::unique_ptr<RegistryEntry> firstEntry(std::string_view className) override;
    std::unique_ptr<RegistryIterator> matchingEntries(std::string_view className) override;
    bool isGraphicsAcceleratorClass(std::string_view ioClass) const override;

    struct Battery {
        std::optional<std::size_t> temperature;
        std::optional<std::size_t> voltage;
    };
    struct Card {
        std::string driver;
        std::size_t busy = 0;
    };

private:
    void discover();

    SensorChannels channels_;
    std::once_flag discovered_;
    std::optional<Battery> battery_;
    std::vector<Card> cards_;
};

} // namespace brivane::platform::linux_backend
