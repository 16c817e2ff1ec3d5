// Power-management output of any shape must parse without crashing, and every reading must
// keep its promises: a non-empty name and a level between 0 and 1. The reader's list of the same
// output stays within its bounds: at most maxCount readings, names and parts valid UTF-8 of at
// most maxNameBytes.
#include "base/utf8.h"
#include "formats/sensor_snapshot.h"
#include "platform/tool_runner.h"
#include "readers/accessory_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

class OutputRunner final : public brivane::platform::ToolRunner {
public:
    explicit OutputRunner(std::string_view output) : output_(output) {}
    brivane::platform::ToolResult run(const brivane::platform::ToolRun&) override {
        return {std::nullopt, 0, std::string(output_)};
    }

private:
    std::string_view output_;
};

bool bounded(std::string_view text) {
    using Reading = brivane::SensorSnapshot::AccessoryReading;
    return text.size() <= Reading::maxNameBytes && brivane::base::utf8::isValid(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view output(reinterpret_cast<const char*>(data), size);
    for (const auto& reading : brivane::SensorSnapshot::AccessoryReading::parse(output)) {
        if (reading.name.empty() || !(reading.level >= 0.0 && reading.level <= 1.0)) {
            std::abort();
        }
    }
    OutputRunner runner(output);
    const auto readings = brivane::readAccessories(runner);
    if (readings.size() > brivane::SensorSnapshot::AccessoryReading::maxCount) {
        std::abort();
    }
    for (const auto& reading : readings) {
        if (!bounded(reading.name) || (reading.part && !bounded(*reading.part))) {
            std::abort();
        }
    }
    return 0;
}
