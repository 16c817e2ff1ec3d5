#include "recorded_readings.h"

#include "kind_words.h"
#include "sensors-common/snapshot_walk.h"

#include <set>
#include <utility>

namespace brivane::cli {
namespace {

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
        reading.kind = kindWord(series, KindWords::stored);
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
