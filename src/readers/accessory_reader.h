#pragma once

#include "formats/sensor_snapshot.h"
#include "platform/tool_runner.h"

#include <vector>

namespace brivane {

// One run of the power-management tool turned into readings; empty when the run fails. At most
// AccessoryReading::maxCount of them, names and parts cut to maxNameBytes.
std::vector<SensorSnapshot::AccessoryReading> readAccessories(platform::ToolRunner& runner);

} // namespace brivane
