#pragma once

#include "formats/sensor_snapshot.h"
#include "platform/tool_runner.h"
#include "platform/uptime_clock.h"

#include <memory>
#include <vector>

namespace brivane {

// One run of the power-management tool turned into readings; empty when the run fails.
std::vector<SensorSnapshot::AccessoryReading> readAccessories(platform::ToolRunner& runner);

// Battery levels of attached accessories from the power-management tool, run at most once
// per interval; between runs the list of the last run is answered without any work.
class AccessoryPowerReader {
public:
    static constexpr double interval = 30.0; // seconds of uptime

    AccessoryPowerReader(std::shared_ptr<platform::ToolRunner> runner,
                         std::shared_ptr<const platform::UptimeClock> clock);

    // The power-management tool's list of power sources as XML property lists.
    static platform::ToolRun toolRun();

    // Never fails: a failed run gives, and keeps until the next run, an empty list.
    const std::vector<SensorSnapshot::AccessoryReading>& accessories();

    double nextAccessoryRead() const { return nextAccessoryRead_; }

private:
    std::shared_ptr<platform::ToolRunner> runner_;
    std::shared_ptr<const platform::UptimeClock> clock_;
    std::vector<SensorSnapshot::AccessoryReading> accessoryReadings_;
    double nextAccessoryRead_ = 0;
};

} // namespace brivane
