#pragma once

#include "platform/linux/drm_cards.h"
#include "platform/linux/sensor_channels.h"
#include "platform/linux/system_batteries.h"
#include "platform/registry.h"

#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// The two registry classes the companion reads, from sysfs:
// - "AppleSmartBattery": the power supplies of type Battery whose scope is System (no scope
//   file means System) taken together, with "Temperature" in hundredths of a degree (from
//   `temp`, tenths), "Voltage" in millivolts (from `voltage_now`, microvolts) of the one that
//   powers the machine, and the battery properties of platform/battery_properties.h;
// - "IOAccelerator": one entry per graphics card that tells how busy it is (drm_cards.h),
//   busiest first, "IOClass" its driver and "PerformanceStatistics" holding "Device
//   Utilization %" once the card has given a figure.
// Both are found on the first lookup and kept; every other class has no entries. Every card
// listed reports graphics, whatever its driver.
class SysfsRegistry final : public Registry {
public:
    explicit SysfsRegistry(std::string sysRoot = "/sys", SensorTiming timing = {},
                           host::KeptValue::Pread pread = ::pread,
                           std::string nvmlLibrary = "libnvidia-ml.so.1");

    std::unique_ptr<RegistryEntry> firstEntry(std::string_view className) override;
    std::unique_ptr<RegistryIterator> matchingEntries(std::string_view className) override;
    bool isGraphicsAcceleratorClass(std::string_view ioClass) const override;

private:
    void discover();

    SensorChannels channels_;
    std::once_flag discovered_;
    SystemBatteries batteries_;
    DrmCards cards_;
};

} // namespace brivane::platform::linux_backend
