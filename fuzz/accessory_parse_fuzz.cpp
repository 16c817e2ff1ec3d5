// Power-management output of any shape must parse without crashing, and every reading must
// keep its promises: a non-empty name and a level between 0 and 1.
#include "formats/sensor_snapshot.h"
#include "readers/accessory_reader.h" // parses the power tool's accessory list

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view output(reinterpret_cast<const char*>(data), size);
    for (const auto& reading : brivane::SensorSnapshot::AccessoryReading::parse(output)) {
        if (reading.name.empty() || !(reading.level >= 0.0 && reading.level <= 1.0)) {
            std::abort();
        }
    }
    return 0;
}
