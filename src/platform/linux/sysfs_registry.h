#pragma once

#include "platform/linux/sensor_poller.h"
#include "platform/registry.h"

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
// Every other class has no entries. Every card listed reports graphics, whatever its driver.
// The files are read by a SensorPoller, so a lookup never waits on a battery gauge; batteries
// and cards are looked for again as they come and go.
class SysfsRegistry final : public Registry {
public:
    explicit SysfsRegistry(std::string sysRoot = "/sys", SensorPoller::Setup setup = {});

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
    struct Catalog {
        std::shared_ptr<ChannelSet> channels;
        std::optional<Battery> battery;
        std::vector<Card> cards;
    };

    // Without background lanes (tests): runs what is due now.
    void step() { poller_.step(); }

private:
    SensorPoller poller_;
};

} // namespace brivane::platform::linux_backend
