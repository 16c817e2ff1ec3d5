#pragma once

#include "formats/sensor_snapshot.h"
#include "platform/hardware_monitor.h"

#include <optional>
#include <vector>

namespace brivane {

// The monitors' inputs as the snapshot's `sensors` member; absent when they have none.
std::optional<std::vector<SensorSnapshot::SensorDetail>>
sensorDetails(const std::vector<platform::MonitorSensor>& sensors);

} // namespace brivane
