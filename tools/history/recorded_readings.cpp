#include "recorded_readings.h"

#include "sensors-common/snapshot_walk.h"

#include <set>
#include <utility>

namespace brivane::cli {
namespace {

// The kind word of a figure that is no hardware input.
std::string_view figureWord(Figure figure) {
    switch (figure) {
    case Figure::graphics:
        return "graphics";
    case Figure::accessory:
        return "accessory";
    case Figure::batteryLevel:
    case Figure::batteryState:
    case Figure::batteryPower:
    case Figure::batteryTimeToEmpty:
    case Figure::batteryTimeToFull:
    case Figure::batteryHealth:
    case Figure::batteryCycles:
        return "battery";
    case Figure::source:
        return "source";
    case Figure::retiredFiles:
        return "retired";
    case Figure::gpu:
        return "gpu";
    case Figure::temperature:
    case Figure::fan:
    case Figure::power:
    case Figure::energy:
    case Figure::sensor:
        break;
    }
    return "sensor";
}

SeriesMarks marksOf(const Series& series) {
    SeriesMarks marks;
    for (std::size_t i = 0; i < marks.limits.size(); ++i) {
        if (const auto limit = series.limit(static_cast<platform::SensorLimit>(i))) {
            marks.limits[i] = static_cast<float>(*limit);
        }
    }
    if (const auto* detail = series.detail()) {
        if (detail->alarms) {
            for (std::size_t i = 0; i < marks.alarms.size(); ++i) {
                marks.alarms[i] = (*detail->alarms).*sensorAlarmMembers[i];
            }
        }
        marks.fault = detail->fault;
    }
    if (series.figure == Figure::batteryState) {
        marks.text = std::string(series.text);
    }
    return marks;
}

} // namespace

std::vector<RecordedReading> recordedReadings(const SensorSnapshot& snapshot) {
    std::vector<RecordedReading> readings;
    std::set<std::pair<std::string, std::string>, std::less<>> seen;
    walkSnapshot(snapshot, [&](const Series& series) {
        if (series.listedElsewhere()) {
            return;
        }
        RecordedReading reading;
        reading.name = series.name;
        reading.kind = series.type.empty() ? figureWord(series.figure) : series.type;
        if (!seen.emplace(reading.name, reading.kind).second) {
            return;
        }
        reading.unit = series.unit;
        if (series.value) {
            reading.value = static_cast<float>(*series.value);
        }
        reading.marks = marksOf(series);
        readings.push_back(std::move(reading));
    });
    return readings;
}

} // namespace brivane::cli
