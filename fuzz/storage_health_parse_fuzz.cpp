// Disk utility output of any shape must parse without crashing, and a reading must stay within
// the documented ranges. The first byte picks the disk name asked for.
#include "formats/storage_health.h"
#include "readers/storage_health_reader.h" // parses the disk tool's description

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool withinOrAbsent(const std::optional<std::int64_t>& value, std::int64_t low, std::int64_t high) {
    return !value || (*value >= low && *value <= high);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view device = (data[0] & 1) != 0 ? "disk0" : "disk3s1";
    const std::string_view output(reinterpret_cast<const char*>(data) + 1, size - 1);
    const auto reading = brivane::StorageHealthReading::parse(output, device);
    if (!reading) {
        return 0;
    }
    require(reading->temperature || reading->life || reading->totalRead || reading->totalWritten ||
            reading->powerCycles || reading->powerOnHours);
    require(withinOrAbsent(reading->temperature, -100, 200));
    require(withinOrAbsent(reading->life, 0, 100));
    require(withinOrAbsent(reading->availableSpare, 0, 100));
    require(withinOrAbsent(reading->spareThreshold, 0, 100));
    require(withinOrAbsent(reading->totalRead, 512000, INT64_MAX));
    require(withinOrAbsent(reading->totalWritten, 512000, INT64_MAX));
    for (const auto& counter : {reading->powerCycles, reading->powerOnHours,
                                reading->unsafeShutdowns, reading->mediaErrors}) {
        require(withinOrAbsent(counter, 0, INT64_MAX));
    }
    return 0;
}
