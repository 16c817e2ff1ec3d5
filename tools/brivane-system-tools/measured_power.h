#pragma once

#include "platform/linux/sysfs_ioreport_source.h"

#include <memory>
#include <optional>
#include <string>

namespace brivane::system_tools {

// The machine's power over an interval, for the process monitor's estimate: the RAPL package
// energy spent between start() and watts() where the user may read it, else the battery's
// discharge power at the end; nothing on a machine with neither.
class MeasuredPower {
public:
    explicit MeasuredPower(const std::string& sysRoot);
    ~MeasuredPower();

    // Begins an interval (the first call also finds the counters).
    void start();
    // The mean power since the last start().
    std::optional<double> watts();

private:
    platform::host::RootedDirectory sys_;
    platform::linux_backend::SysfsIOReportSource source_;
    std::unique_ptr<platform::IOReportSubscription> subscription_;
    platform::IOReportChannelList channels_;
    std::optional<platform::IOReportSample> first_;
    double startedAt_ = 0;
    bool setUp_ = false;
};

// Discharge power in watts of the machine's battery (type Battery, scope System or none) from a
// power_supply directory listing: power_now, else current_now x voltage_now. Nothing unless it
// is discharging.
std::optional<double> batteryDischargeWatts(const platform::host::RootedDirectory& sys);

} // namespace brivane::system_tools
