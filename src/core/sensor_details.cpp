#include "core/sensor_details.h"

#include <array>

namespace brivane {
namespace {

using Detail = SensorSnapshot::SensorDetail;
using Alarms = SensorSnapshot::SensorAlarms;

// In MonitorLimit and MonitorAlarm order.
constexpr std::array<std::optional<double> Detail::*, 7> limitFields = {
    &Detail::min,       &Detail::max,    &Detail::lcrit, &Detail::crit,
    &Detail::emergency, &Detail::target, &Detail::cap};
constexpr std::array<std::optional<bool> Alarms::*, 7> alarmFields = {
    &Alarms::alarm, &Alarms::min,       &Alarms::max, &Alarms::lcrit,
    &Alarms::crit,  &Alarms::emergency, &Alarms::cap};
// The loop below walks both with one index.
static_assert(limitFields.size() == static_cast<std::size_t>(platform::MonitorLimit::count) &&
              alarmFields.size() == static_cast<std::size_t>(platform::MonitorAlarm::count));

} // namespace

std::optional<std::vector<Detail>>
sensorDetails(const std::vector<platform::MonitorSensor>& sensors) {
    if (sensors.empty()) {
        return std::nullopt;
    }
    std::vector<Detail> details(sensors.size());
    for (std::size_t s = 0; s < sensors.size(); ++s) {
        const platform::MonitorSensor& sensor = sensors[s];
        Detail& detail = details[s];
        detail.key = sensor.key;
        detail.type = sensor.type;
        if (!sensor.unit.empty()) {
            detail.unit = std::string(sensor.unit);
        }
        detail.value = sensor.value;
        for (std::size_t i = 0; i < limitFields.size(); ++i) {
            detail.*limitFields[i] = sensor.limits[i];
            if (sensor.alarms[i]) {
                if (!detail.alarms) {
                    detail.alarms = SensorSnapshot::SensorAlarms{}; // clang refuses emplace()
                }
                (*detail.alarms).*alarmFields[i] = sensor.alarms[i];
            }
        }
        detail.fault = sensor.fault;
    }
    return details;
}

} // namespace brivane
