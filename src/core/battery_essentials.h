#pragma once

#include "formats/sensor_snapshot.h"
#include "platform/registry.h"

#include <optional>

namespace brivane {

// The snapshot's battery member from the battery entry's properties, each figure kept only
// within its plausible range; nothing when the entry gives no level.
std::optional<SensorSnapshot::BatteryReading>
batteryEssentials(const platform::RegistryEntry& battery);

} // namespace brivane
