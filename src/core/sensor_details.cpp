#include "core/sensor_details.h"

#include "formats/sensor_snapshot_fields.h"
#include "platform/sensor_kinds.h"

namespace brivane {
namespace {

using Detail = SensorSnapshot::SensorDetail;

// The document's limits and flags are the vocabulary's, in its order and under its words.
constexpr bool sameWords() {
    static_assert(sensorLimitMembers.size() == platform::sensorLimitCount &&
                  sensorAlarmMembers.size() == platform::sensorAlarmCount);
    for (std::size_t i = 0; i < sensorLimitMembers.size(); ++i) {
        if (keyOf(sensorLimitMembers[i]) != platform::sensorLimitWords[i]) {
            return false;
        }
    }
    for (std::size_t i = 0; i < sensorAlarmMembers.size(); ++i) {
        if (keyOf(sensorAlarmMembers[i]) != platform::sensorAlarmWords[i]) {
            return false;
        }
    }
    return true;
}
static_assert(sameWords());

} // namespace

std::optional<std::vector<Detail>>
sensorDetails(const std::vector<platform::MonitorSensor>& sensors) {
    if (sensors.empty()) {
        return std::nullopt;
    }
    std::vector<Detail> details(sensors.size());
    for (std::size_t s = 0; s < sensors.size(); ++s) {
        const platform::MonitorSensor& sensor = sensors[s];
        const platform::SensorKindInfo& kind = platform::infoOf(sensor.kind);
        Detail& detail = details[s];
        detail.key = sensor.key;
        detail.type = kind.type;
        if (!kind.unit.empty()) {
            detail.unit = std::string(kind.unit);
        }
        detail.value = sensor.value;
        for (std::size_t i = 0; i < sensorLimitMembers.size(); ++i) {
            detail.*sensorLimitMembers[i] = sensor.limits[i];
        }
        for (std::size_t i = 0; i < sensorAlarmMembers.size(); ++i) {
            if (sensor.alarms[i]) {
                if (!detail.alarms) {
                    detail.alarms = SensorSnapshot::SensorAlarms{}; // clang refuses emplace()
                }
                (*detail.alarms).*sensorAlarmMembers[i] = sensor.alarms[i];
            }
        }
        detail.fault = sensor.fault;
    }
    return details;
}

} // namespace brivane
