#pragma once

// JSON encoding and decoding of the documents that cross the service boundary.
//
// Encoding: keys in declaration order, absent optionals omitted (never null), compact. It fails
// only on a non-finite double; then the result is empty (the string form) or false with `out`
// cleared (the buffer form, which reuses the caller's allocation). Never a partial document.
//
// Decoding never throws. A document is rejected as a whole when it is not a JSON object, nests
// deeper than maxDecodingDepth, misses a required key, or holds a value of the wrong type in any
// known key. Missing and null optionals are absent; unknown keys are ignored. Integer fields take
// JSON numbers whose value is integral and fits the field: 3, 3.0 and 3e0 all read as 3, while
// 3.5, -1 for an unsigned field and anything beyond the field's range are rejected. A number
// written with a fraction or exponent is taken for an integer only below 2^53 in magnitude,
// where a double still names one integer exactly. A double field takes any JSON number. The
// snapshot's version is not checked here: callers ask SensorSnapshot::supports.

#include "formats/companion_update.h"
#include "formats/cpu_details_snapshot.h"
#include "formats/process_details_snapshot.h"
#include "formats/sensor_snapshot.h"
#include "formats/storage_health.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace brivane {

inline constexpr std::size_t maxDecodingDepth = 64;

bool encode(const SensorSnapshot& snapshot, std::string& out);
bool encode(const CPUDetailsSnapshot& snapshot, std::string& out);
bool encode(const ProcessDetailsSnapshot& snapshot, std::string& out);
bool encode(const StorageHealthSnapshot& snapshot, std::string& out);
bool encode(const SensorCompanionUpdate& update, std::string& out);

std::string encode(const SensorSnapshot& snapshot);
std::string encode(const CPUDetailsSnapshot& snapshot);
std::string encode(const ProcessDetailsSnapshot& snapshot);
std::string encode(const StorageHealthSnapshot& snapshot);
std::string encode(const SensorCompanionUpdate& update);

std::optional<SensorSnapshot> decodeSensorSnapshot(std::string_view json);
std::optional<CPUDetailsSnapshot> decodeCPUDetailsSnapshot(std::string_view json);
std::optional<ProcessDetailsSnapshot> decodeProcessDetailsSnapshot(std::string_view json);
std::optional<StorageHealthSnapshot> decodeStorageHealthSnapshot(std::string_view json);
std::optional<SensorCompanionUpdate> decodeSensorCompanionUpdate(std::string_view json);

} // namespace brivane
