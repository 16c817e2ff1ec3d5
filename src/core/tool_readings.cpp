#include "core/sensor_companion.h"
#include "readers/accessory_reader.h"
#include "readers/storage_health_reader.h"

namespace brivane {

std::vector<SensorSnapshot::AccessoryReading> SensorCompanion::runAccessoryTool() {
    return readAccessories(*toolRunner_);
}

std::optional<StorageHealthReading> SensorCompanion::readStorageHealth(const std::string& name) {
    return brivane::readStorageHealth(*toolRunner_, name);
}

} // namespace brivane
