#include "alert_readings.h"

#include "history/kind_words.h"
#include "platform/sensor_kinds.h"
#include "sensors-common/snapshot_walk.h"

#include <algorithm>

namespace brivane::cli {
namespace {

using platform::SensorKind;

// A temperature's key is "<chip>/<label>", a fan's name "<chip> <label>"; the SMC's keys and
// fans name no chip.
std::string chipOf(std::string_view name, std::optional<SensorKind> kind) {
    const std::size_t end = name.find(kind == SensorKind::fan ? ' ' : '/');
    return end == std::string_view::npos ? std::string() : std::string(name.substr(0, end));
}

bool isUpperLimit(AlertLimit limit) {
    return limit == AlertLimit::max || limit == AlertLimit::crit || limit == AlertLimit::emergency;
}

std::uint32_t bit(AlertFlag flag) {
    return 1u << static_cast<unsigned>(flag);
}

void readFlags(const SensorSnapshot::SensorDetail& detail, AlertReading& reading) {
    if (detail.alarms) {
        for (std::size_t i = 0; i < sensorAlarmMembers.size(); ++i) {
            // AlertFlag lists the alarms in SensorAlarm's order, then the fault.
            if (const auto& raised = (*detail.alarms).*sensorAlarmMembers[i]) {
                reading.flags |= 1u << i;
                reading.raised |= *raised ? 1u << i : 0;
            }
        }
    }
    if (detail.fault) {
        reading.flags |= bit(AlertFlag::fault);
        reading.raised |= *detail.fault ? bit(AlertFlag::fault) : 0;
    }
}

} // namespace

const std::vector<std::string_view>& alertKindWords() {
    static const std::vector<std::string_view> words = [] {
        std::vector<std::string_view> all;
        for (const auto& row : platform::sensorKinds) {
            all.push_back(row.type);
        }
        for (const auto word : {"battery", "graphics", "accessory", "source", "disk", "agent"}) {
            all.emplace_back(word);
        }
        return all;
    }();
    return words;
}

std::vector<AlertReading> alertReadings(const SensorSnapshot& snapshot) {
    static_assert(static_cast<std::size_t>(AlertFlag::fault) == platform::sensorAlarmCount);
    std::vector<AlertReading> readings;
    walkSnapshot(snapshot, [&](const Series& series) {
        // A back end's count of files it no longer reads is about the agent, not the machine.
        if (series.listedElsewhere() || series.figure == Figure::batteryState ||
            series.figure == Figure::retiredFiles ||
            (series.figure == Figure::gpu && series.part == "state")) {
            return;
        }
        AlertReading reading;
        reading.name = std::string(series.name);
        reading.kind = std::string(kindWord(series, KindWords::ruled));
        reading.unit = std::string(series.unit);
        reading.value = series.value;
        if (series.kind) {
            reading.chip = chipOf(series.name, series.kind);
        }
        for (std::size_t i = 0; i < reading.limits.size(); ++i) {
            auto limit = series.limit(static_cast<platform::SensorLimit>(i));
            if (limit && series.kind == SensorKind::temperature &&
                isUpperLimit(static_cast<AlertLimit>(i)) && !(*limit > 30 && *limit < 150)) {
                limit.reset();
            }
            reading.limits[i] = limit;
        }
        if (const auto* detail = series.detail()) {
            readFlags(*detail, reading);
        }
        readings.push_back(std::move(reading));
    });
    return readings;
}

std::vector<AlertReading> diskReadings(const DiskHealth& disk) {
    const auto degrees = [](const std::optional<std::int64_t>& value) {
        return value ? std::optional(static_cast<double>(*value)) : std::nullopt;
    };
    const StorageHealthReading& health = disk.reading;
    AlertReading reading;
    reading.name = "disk/" + disk.disk;
    reading.kind = "disk";
    reading.unit = "celsius";
    reading.value = degrees(health.temperature);
    reading.limits[static_cast<std::size_t>(AlertLimit::max)] = degrees(health.maxTemperature);
    reading.limits[static_cast<std::size_t>(AlertLimit::crit)] =
        degrees(health.criticalTemperature);
    if (health.smartFailing) {
        reading.flags |= bit(AlertFlag::fault);
        reading.raised |= *health.smartFailing ? bit(AlertFlag::fault) : 0;
    }
    if (health.criticalWarning) {
        reading.flags |= bit(AlertFlag::alarm);
        reading.raised |= *health.criticalWarning != 0 ? bit(AlertFlag::alarm) : 0;
    }
    std::vector<AlertReading> readings{reading};
    const auto share = [&](std::string_view part, std::optional<double> value) {
        AlertReading figure;
        figure.name = reading.name + "/" + std::string(part);
        figure.kind = "disk";
        figure.unit = "ratio";
        figure.value = value;
        readings.push_back(std::move(figure));
        return &readings.back();
    };
    const auto percent = [](const std::optional<std::int64_t>& value) {
        return value ? std::optional(static_cast<double>(*value) / 100) : std::nullopt;
    };
    if (health.availableSpare) {
        share("spare", percent(health.availableSpare))
            ->limits[static_cast<std::size_t>(AlertLimit::min)] = percent(health.spareThreshold);
    }
    if (health.life) {
        // The drive counts the life it has left, and may count on past its rating.
        share("life-used", std::min(1.0, std::max(0.0, 1 - *percent(health.life))));
    }
    return readings;
}

AlertReading agentReading(bool answered) {
    AlertReading reading;
    reading.name = "agent";
    reading.kind = "agent";
    reading.value = answered ? 1 : 0;
    return reading;
}

} // namespace brivane::cli
