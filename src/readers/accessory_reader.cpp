#include "readers/accessory_reader.h"

#include "readers/process_utf8.h"

#include <utility>

namespace brivane {

AccessoryPowerReader::AccessoryPowerReader(std::shared_ptr<platform::ToolRunner> runner,
                                           std::shared_ptr<const platform::UptimeClock> clock)
    : runner_(std::move(runner)), clock_(std::move(clock)) {}

platform::ToolRun AccessoryPowerReader::toolRun() {
    platform::ToolRun run;
    run.path = "/usr/bin/pmset";
    run.arguments = {"-g", "accps", "-xml"};
    run.environment = platform::ToolEnvironment::inherited();
    run.timeLimit = 2.0;
    run.qos = platform::WatchdogQoS::utility;
    return run;
}

std::vector<SensorSnapshot::AccessoryReading> readAccessories(platform::ToolRunner& runner) {
    const auto result = runner.run(AccessoryPowerReader::toolRun());
    if (!result.succeeded()) {
        return {};
    }
    return SensorSnapshot::AccessoryReading::parse(decodeUTF8Replacing(result.output));
}

const std::vector<SensorSnapshot::AccessoryReading>& AccessoryPowerReader::accessories() {
    const double now = clock_->uptime();
    if (now < nextAccessoryRead_) {
        return accessoryReadings_;
    }
    // Set before the run, so that a failed run also waits a full interval.
    nextAccessoryRead_ = now + interval;

    accessoryReadings_ = readAccessories(*runner_);
    return accessoryReadings_;
}

} // namespace brivane
