#include "readers/accessory_reader.h"

#include "base/utf8.h"

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
    using Reading = SensorSnapshot::AccessoryReading;
    const auto result = runner.run(accessoryToolRun());
    if (!result.succeeded()) {
        return {};
    }
    auto readings = Reading::parse(base::utf8::replacingInvalid(result.output));
    // The list is kept and sent with every snapshot: bound what one tool run can make of it.
    if (readings.size() > Reading::maxCount) {
        readings.resize(Reading::maxCount);
    }
    const auto cap = [](std::string& text) {
        text.resize(base::utf8::truncated(text, Reading::maxNameBytes).size());
    };
    for (auto& reading : readings) {
        cap(reading.name);
        if (reading.part) {
            cap(*reading.part);
        }
    }
    return readings;
}

} // namespace brivane
