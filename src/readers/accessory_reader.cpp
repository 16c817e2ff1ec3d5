#include "readers/accessory_reader.h"

#include "formats/utf8.h"

namespace brivane {

namespace {

// The power-management tool's list of power sources as XML property lists.
platform::ToolRun accessoryToolRun() {
    platform::ToolRun run;
    run.path = "/usr/bin/pmset";
    run.arguments = {"-g", "accps", "-xml"};
    run.environment = platform::ToolEnvironment::inherited();
    run.timeLimit = 2.0;
    run.qos = platform::WatchdogQoS::utility;
    return run;
}

} // namespace

std::vector<SensorSnapshot::AccessoryReading> readAccessories(platform::ToolRunner& runner) {
    const auto result = runner.run(accessoryToolRun());
    if (!result.succeeded()) {
        return {};
    }
    return SensorSnapshot::AccessoryReading::parse(utf8::replacingInvalid(result.output));
}

} // namespace brivane
