#pragma once

#include "backends/linux/polling/sensor_poller.h"
#include "platform/registry.h"

#include <string>

namespace brivane::platform::linux_backend {

// The two registry classes the companion reads, from sysfs:
// - "AppleSmartBattery": the power supplies of type Battery whose scope is System (no scope
//   file means System) taken together, with "Temperature" in hundredths of a degree (from
//   `temp`, tenths), "Voltage" in millivolts (from `voltage_now`, microvolts) of the one that
//   powers the machine, and the battery properties of platform/battery_properties.h;
// - "IOAccelerator": one entry per graphics card that tells how busy it is (drm_cards.h),
//   busiest first, "IOClass" its driver and "PerformanceStatistics" holding "Device
//   Utilization %" once the card has given a figure.
// Every other class has no entries. Every card listed reports graphics, whatever its driver.
// The batteries' files are read by a SensorPoller, so a lookup never waits on a battery gauge;
// batteries and cards are looked for again as they come and go.
class SysfsRegistry final : public Registry {
public:
    explicit SysfsRegistry(std::string sysRoot = "/sys", SensorPoller::Setup setup = {},
                           std::string nvmlLibrary = "libnvidia-ml.so.1");

    std::unique_ptr<RegistryEntry> firstEntry(std::string_view className) override;
    std::unique_ptr<RegistryIterator> matchingEntries(std::string_view className) override;
    bool isGraphicsAcceleratorClass(std::string_view ioClass) const override;

    // Without background lanes (tests): runs what is due now.
    void step() { poller_.step(); }

private:
    struct Catalog;
    CatalogPoller<Catalog> poller_;
};

} // namespace brivane::platform::linux_backend
