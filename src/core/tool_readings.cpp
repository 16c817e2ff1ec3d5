#include "core/sensor_companion.h"

namespace brivane {

std::vector<SensorSnapshot::AccessoryReading> SensorCompanion::runAccessoryTool() {
    platform::ToolRun run;
    run.path = "/usr/bin/pmset";
    run.arguments = {"-g", "accps", "-xml"};
    const auto result = toolRunner_->run(run);
    if (!result.succeeded()) {
        return {};
    }
    return {};
}

std::optional<StorageHealthReading> SensorCompanion::readStorageHealth(const std::string&) {
    return std::nullopt;
}

} // namespace brivane
