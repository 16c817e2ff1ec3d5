#include "snapshot_walk.h"

#include "optional_list.h"
#include "platform/snapshot_keys.h"

#include <array>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace brivane::cli {

using platform::SensorKind;
using Detail = SensorSnapshot::SensorDetail;

// The `sensors` entries of the kinds listed in members of their own, by kind and key; the
// first entry of a key wins. Indexed on the first lookup.
class ListedDetails {
public:
    ListedDetails(const std::vector<Detail>& details,
                  const std::vector<std::optional<SensorKind>>& kinds)
        : details_(details), kinds_(kinds) {}

    const Detail* find(SensorKind kind, std::string_view key) const {
        if (!indexed_) {
            for (std::size_t i = 0; i < details_.size(); ++i) {
                if (kinds_[i] && platform::infoOf(*kinds_[i]).listed) {
                    byKey_[index(*kinds_[i])].emplace(details_[i].key, &details_[i]);
                }
            }
            indexed_ = true;
        }
        const auto& byKey = byKey_[index(kind)];
        const auto found = byKey.find(key);
        return found == byKey.end() ? nullptr : found->second;
    }

private:
    static std::size_t index(SensorKind kind) { return static_cast<std::size_t>(kind); }

    const std::vector<Detail>& details_;
    const std::vector<std::optional<SensorKind>>& kinds_;
    mutable bool indexed_ = false;
    mutable std::array<std::unordered_map<std::string_view, const Detail*>,
                       platform::sensorKindCount>
        byKey_;
};

namespace {

// A series of a hardware input; its `sensors` entry is looked for among listed's.
Series input(Figure figure, std::string_view name, SensorKind kind, double value,
             const ListedDetails* details = nullptr,
             std::optional<SensorKind> listed = std::nullopt) {
    const auto& row = platform::infoOf(kind);
    Series series;
    series.figure = figure;
    series.name = name;
    series.kind = kind;
    series.type = row.type;
    series.unit = row.unit;
    series.value = value;
    series.listedDetails = details;
    series.listedKind = listed;
    return series;
}

// A series of a figure without a key.
Series figure(Figure figure, std::string_view name, std::string_view unit,
              std::optional<double> value) {
    Series series;
    series.figure = figure;
    series.name = name;
    series.unit = unit;
    series.value = value;
    return series;
}

void walkBattery(const SensorSnapshot::BatteryReading& battery,
                 const std::function<void(const Series&)>& visit) {
    visit(figure(Figure::batteryLevel, "battery/level", "ratio", battery.level));
    if (battery.state) {
        auto state = figure(Figure::batteryState, "battery/state", "", std::nullopt);
        state.text = *battery.state;
        visit(state);
    }
    const auto optional = [&](Figure which, std::string_view name, std::string_view unit,
                              std::optional<double> value) {
        if (value) {
            visit(figure(which, name, unit, value));
        }
    };
    optional(Figure::batteryPower, "battery/power", "watts", battery.power);
    optional(Figure::batteryTimeToEmpty, "battery/timeToEmpty", "seconds", battery.timeToEmpty);
    optional(Figure::batteryTimeToFull, "battery/timeToFull", "seconds", battery.timeToFull);
    optional(Figure::batteryHealth, "battery/health", "ratio", battery.health);
    if (battery.cycleCount) {
        visit(figure(Figure::batteryCycles, "battery/cycleCount", "cycles",
                     static_cast<double>(*battery.cycleCount)));
    }
}

// A card's state ("asleep", "awake": 1 or 0; a gap when it does not say), then its figures.
void walkCard(const SensorSnapshot::GpuReading& card,
              const std::function<void(const Series&)>& visit) {
    const std::string id = "gpu/" + card.pciAddress.value_or(card.card.value_or(card.driver)) + "/";
    std::string name;
    const auto yield = [&](std::string_view part, std::optional<SensorKind> kind,
                           std::string_view unit, std::optional<double> value) {
        name = id + std::string(part);
        Series series = kind ? input(Figure::gpu, name, *kind, value.value_or(0))
                             : figure(Figure::gpu, name, unit, value);
        series.value = value;
        series.part = part;
        series.gpu = &card;
        if (part == "state" && card.asleep) {
            series.text = *card.asleep ? "asleep" : "awake";
        }
        visit(series);
    };
    const auto bytes = [](const std::optional<std::int64_t>& value) {
        return value ? std::optional(static_cast<double>(*value)) : std::nullopt;
    };
    yield("state", std::nullopt, "",
          card.asleep ? std::optional<double>(*card.asleep ? 1 : 0) : std::nullopt);
    const std::tuple<std::string_view, std::optional<SensorKind>, std::string_view,
                     std::optional<double>>
        figures[] = {{"utilization", std::nullopt, "ratio", card.utilization},
                     {"memoryUsed", std::nullopt, "bytes", bytes(card.memoryUsed)},
                     {"memoryTotal", std::nullopt, "bytes", bytes(card.memoryTotal)},
                     {"power", SensorKind::power, "", card.power},
                     {"temperature", SensorKind::temperature, "", card.temperature}};
    for (const auto& [part, kind, unit, value] : figures) {
        if (value) {
            yield(part, kind, unit, value);
        }
    }
}

} // namespace

const Detail* Series::detail() const {
    if (entry) {
        return entry;
    }
    return listedDetails && listedKind ? listedDetails->find(*listedKind, name) : nullptr;
}

std::optional<double> Series::limit(platform::SensorLimit which) const {
    if (which == platform::SensorLimit::max && fan && fan->maximumRPM) {
        return fan->maximumRPM;
    }
    const Detail* found = detail();
    const auto limit =
        found ? found->*sensorLimitMembers[static_cast<std::size_t>(which)] : std::nullopt;
    // An SMC fan has no `sensors` entry: its minimum is its own.
    return !limit && which == platform::SensorLimit::min && fan ? fan->minimumRPM : limit;
}

void walkSnapshot(const SensorSnapshot& snapshot, const std::function<void(const Series&)>& visit) {
    const auto& details = orEmpty(snapshot.sensors);
    std::vector<std::optional<SensorKind>> kinds;
    kinds.reserve(details.size());
    for (const auto& detail : details) {
        kinds.push_back(platform::sensorKindOfType(detail.type));
    }
    const ListedDetails listed(details, kinds);
    std::string name; // of a series without a key of its own

    for (const auto& reading : snapshot.temperatures) {
        visit(input(Figure::temperature, reading.key, SensorKind::temperature, reading.value,
                    &listed, SensorKind::temperature));
    }
    for (const auto& fan : snapshot.fans) {
        const bool named = fan.name && !fan.name->empty();
        if (!named) {
            name = "F" + std::to_string(fan.id);
        }
        auto series =
            input(Figure::fan, named ? std::string_view(*fan.name) : name, SensorKind::fan, fan.rpm,
                  &listed, named ? std::optional(SensorKind::fan) : std::nullopt);
        series.fan = &fan;
        visit(series);
    }
    for (const auto& reading : orEmpty(snapshot.power)) {
        const bool volts = reading.key == platform::snapshot_key::batteryVoltage;
        visit(input(Figure::power, reading.key, volts ? SensorKind::voltage : SensorKind::power,
                    reading.value, &listed, SensorKind::power));
    }
    if (const auto& graphics = snapshot.graphics) {
        const std::pair<std::string_view, std::optional<double>> units[] = {
            {"device", graphics->utilization},
            {"renderer", graphics->renderer},
            {"tiler", graphics->tiler}};
        for (const auto& [unit, value] : units) {
            if (value) {
                name = "graphics/" + std::string(unit);
                auto series = figure(Figure::graphics, name, "ratio", value);
                series.part = unit;
                visit(series);
            }
        }
    }
    for (const auto& accessory : orEmpty(snapshot.accessories)) {
        name = "accessory/" + accessory.name + (accessory.part ? "/" + *accessory.part : "");
        auto series = figure(Figure::accessory, name, "ratio", accessory.level);
        series.part = accessory.part ? std::string_view(*accessory.part) : std::string_view();
        series.accessory = &accessory;
        visit(series);
    }
    if (const auto& battery = snapshot.battery) {
        walkBattery(*battery, visit);
    }
    for (const auto& reading : orEmpty(snapshot.energy)) {
        visit(input(Figure::energy, reading.key, SensorKind::energy, reading.value));
    }
    for (const auto& source : orEmpty(snapshot.sources)) {
        name = "source/" + source.name;
        auto series = figure(Figure::source, name, "", source.up ? 1 : 0);
        series.text = source.name;
        visit(series);
    }
    for (const auto& retired : orEmpty(snapshot.retiredFiles)) {
        name = "retiredFiles/" + retired.name;
        auto series = figure(Figure::retiredFiles, name, "", static_cast<double>(retired.files));
        series.text = retired.name;
        visit(series);
    }
    for (std::size_t i = 0; i < details.size(); ++i) {
        const Detail& detail = details[i];
        Series series;
        series.figure = Figure::sensor;
        series.name = detail.key;
        series.kind = kinds[i];
        series.type = detail.type;
        series.unit = detail.unit ? std::string_view(*detail.unit) : std::string_view();
        series.value = detail.value;
        series.entry = &detail;
        visit(series);
    }
    for (const auto& card : orEmpty(snapshot.gpus)) {
        walkCard(card, visit);
    }
}

} // namespace brivane::cli
