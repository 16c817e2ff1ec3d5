#pragma once

// What the history keeps of a snapshot: each reading the client shows, by the name and kind it
// shows it under, with its value (absent: a gap) and its marks. Taken from the one walk over
// the snapshot, so a reading the walk yields is recorded without more work; a `sensors` entry
// that repeats a temperature, fan or power reading gives that reading its limits and alarms
// instead of a series of its own.

#include "formats/sensor_snapshot.h"
#include "history_codec.h"

#include <optional>
#include <string>
#include <vector>

namespace brivane::cli {

struct RecordedReading {
    std::string name;
    std::string kind; // the sensor kind's word, or the figure's: "battery", "graphics", …
    std::string unit; // the document's unit word; empty for a state in words
    std::optional<float> value;
    SeriesMarks marks;
};

// In the walk's order; a name and kind the snapshot repeats is taken once, the first.
std::vector<RecordedReading> recordedReadings(const SensorSnapshot& snapshot);

} // namespace brivane::cli
