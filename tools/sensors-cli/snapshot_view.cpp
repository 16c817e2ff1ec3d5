#include "snapshot_view.h"

#include "platform/snapshot_keys.h"
#include "sensor_detail_cells.h"
#include "sensors-common/optional_list.h"
#include "sensors-common/sensor_catalogue.h"
#include "sensors-common/snapshot_walk.h"
#include "view_cells.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace brivane::cli {
namespace {

using namespace cells;
using Align = TextTable::Align;
using platform::SensorKind;

// SMC temperature keys are four characters starting with T; other sources use longer names.
bool isSmcTemperatureKey(const std::string& key) {
    return key.size() == 4 && key[0] == 'T';
}

// Fans and the SMC power keys come only from the SMC, so a snapshot without any of them nor an
// SMC temperature was made on a machine without one.
bool showsAnSmc(const SensorSnapshot& snapshot) {
    const auto& power = orEmpty(snapshot.power);
    return !snapshot.fans.empty() ||
           std::any_of(power.begin(), power.end(),
                       [](const auto& reading) {
                           return platform::snapshot_key::isSmcPower(reading.key);
                       }) ||
           std::any_of(snapshot.temperatures.begin(), snapshot.temperatures.end(),
                       [](const auto& reading) { return isSmcTemperatureKey(reading.key); });
}

// A section of inputs whose rows go in group order, document order within a group; keys the
// catalogue does not know come last.
struct GroupedSection {
    ViewSection section;
    std::vector<std::pair<SensorGroup, ViewRow>> rows{};

    // The first cells of a row of an input: its key, the catalogue's name and group.
    ViewRow& add(const Series& series) {
        const auto description = describeSensor(series.name, series.kind);
        const SensorGroup group = description ? description->group : SensorGroup::other;
        return rows
            .emplace_back(group, ViewRow{{text(std::string(series.name)),
                                          description ? text(description->name) : ViewCell{},
                                          text(std::string(groupName(group)))}})
            .second;
    }
    ViewSection take() && {
        std::stable_sort(rows.begin(), rows.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [group, row] : rows) {
            section.rows.push_back(std::move(row));
        }
        hideEmptyLimits(section);
        return std::move(section);
    }
};

// A section of a kind only the sensors member carries, laid out as the temperatures.
struct KindSection {
    Quantity quantity;
    GroupedSection rows;
};

class SnapshotSections {
public:
    SnapshotSections(const SensorSnapshot& snapshot, const ViewOptions& view)
        : celsius_(quantityOf(SensorKind::temperature, view.utf8)),
          rpm_(quantityOf(SensorKind::fan, view.utf8, true)),
          watts_(quantityOf(SensorKind::power, view.utf8)) {
        temperatures_.section = {"temperatures",
                                 "Temperatures",
                                 {{"sensor", "sensor"},
                                  {"name", "name"},
                                  {"group", "group"},
                                  {"celsius", celsius_.symbol, Align::right}},
                                 {},
                                 showsAnSmc(snapshot)
                                     ? "no sensor gave a plausible temperature"
                                     : "no SMC and no other temperature sensor on this machine"};
        std::ranges::move(detailColumns(celsius_, {"hot", ""}),
                          std::back_inserter(temperatures_.section.columns));
        // Linux fills the SMC's power keys from other chips too: only its temperature keys
        // tell that a fanless machine's SMC was asked.
        const bool smcAsked =
            std::any_of(snapshot.temperatures.begin(), snapshot.temperatures.end(),
                        [](const auto& reading) { return isSmcTemperatureKey(reading.key); });
        fans_ = {"fans",
                 "Fans",
                 {{"id", "fan", Align::right},
                  {"name", "name"},
                  {"rpm", "rpm", Align::right},
                  {"maximumRpm", "max", Align::right}},
                 {},
                 smcAsked ? "the SMC reports no fans" : "this machine reports no fans"};
        std::ranges::move(detailColumns(rpm_, {"marks", ""}), std::back_inserter(fans_.columns));
        power_ = {"power",
                  "Power",
                  {{"source", "source"}, {"value", "value", Align::right}, {"unit", "unit"}},
                  {},
                  "no SMC power keys, energy counters or battery voltage on this machine"};
        std::ranges::move(detailColumns(watts_, {"marks", ""}), std::back_inserter(power_.columns));
        for (const auto& kind : platform::sensorKinds) {
            if (!kind.listed && !kind.view.section.empty()) {
                kinds_[static_cast<std::size_t>(kind.kind)] = kindSection(kind, view);
            }
        }
    }

    void add(const Series& series) {
        switch (series.figure) {
        case Figure::temperature: {
            // Hot ones are marked in words too, as colour may be off.
            const bool hot = *series.value >= hotCelsius;
            ViewRow& row = temperatures_.add(series);
            row.cells.push_back(number(*series.value, 1));
            addDetailCells(row, series.detail(), celsius_, hot, hot);
            return;
        }
        case Figure::fan: {
            // A Linux fan's fan*_max is its limit too.
            const auto maximum = series.limit(platform::SensorLimit::max);
            ViewRow row{{integer(series.fan->id), text(series.fan->name), number(*series.value, 0),
                         maximum ? number(*maximum, 0) : ViewCell{}}};
            // An SMC fan has no `sensors` entry: its own minimum stands in for one.
            SensorSnapshot::SensorDetail own;
            const auto* detail = series.detail();
            if (!detail && series.fan->minimumRPM) {
                own.min = series.fan->minimumRPM;
                detail = &own;
            }
            addDetailCells(row, detail, rpm_, false, {});
            fans_.rows.push_back(std::move(row));
            return;
        }
        case Figure::power: {
            ViewRow row{{text(std::string(series.name)), number(*series.value, 2),
                         text(std::string(platform::infoOf(*series.kind).view.symbol))}};
            addDetailCells(row, series.detail(), watts_, false, {});
            power_.rows.push_back(std::move(row));
            return;
        }
        case Figure::graphics:
            graphics_.rows.push_back(
                {{text(std::string(series.part)), number(*series.value * 100, 1)}});
            return;
        case Figure::accessory:
            accessories_.rows.push_back(
                {{text(series.accessory->name), text(series.accessory->part),
                  number(*series.value * 100, 0)}});
            return;
        case Figure::batteryLevel:
            return addNumber(battery_, "level", *series.value * 100, 0, "%");
        case Figure::batteryState:
            return addFigure(battery_, "state", std::string(series.text), std::string(series.text),
                             "");
        case Figure::batteryPower:
            return addNumber(battery_, "power", *series.value, 2, "W");
        case Figure::batteryTimeToEmpty:
            return addFigure(battery_, "time to empty", *series.value, duration(*series.value),
                             "s");
        case Figure::batteryTimeToFull:
            return addFigure(battery_, "time to full", *series.value, duration(*series.value), "s");
        case Figure::batteryHealth:
            return addNumber(battery_, "health", *series.value * 100, 0, "%");
        case Figure::batteryCycles: {
            const auto cycles = static_cast<std::int64_t>(*series.value);
            return addFigure(battery_, "cycles", cycles, std::to_string(cycles), "");
        }
        case Figure::energy:
        case Figure::source:
        case Figure::retiredFiles:
            return; // for the metrics (tests/sensors_cli/snapshot_walk_test.cpp says why)
        case Figure::sensor:
            return addSensor(series);
        case Figure::gpu:
            if (series.part == "state") {
                addCard(*series.gpu);
            }
            return; // the card's row shows its figures
        }
    }

    void into(DocumentView& out) && {
        out.sections.push_back(std::move(temperatures_).take());
        hideEmptyLimits(fans_);
        out.sections.push_back(std::move(fans_));
        hideEmptyLimits(power_);
        out.sections.push_back(std::move(power_));
        out.sections.push_back(std::move(battery_));
        out.sections.push_back(std::move(graphics_));
        if (!cards_.rows.empty()) {
            out.sections.push_back(std::move(cards_));
        }
        out.sections.push_back(std::move(accessories_));
        // After the document's own sections, so that theirs keep their places in the JSON view.
        for (const auto& kind : platform::sensorKinds) {
            auto& section = kinds_[static_cast<std::size_t>(kind.kind)];
            if (section && !section->rows.rows.empty()) {
                out.sections.push_back(std::move(section->rows).take());
            }
        }
    }

private:
    static KindSection kindSection(const platform::SensorKindInfo& kind, const ViewOptions& view) {
        KindSection own{quantityOf(kind.kind, view.utf8),
                        {{std::string(kind.view.section),
                          std::string(kind.view.heading),
                          {{"sensor", "sensor"}, {"name", "name"}, {"group", "group"}}}}};
        auto& columns = own.rows.section.columns;
        if (!own.quantity.valueKey.empty()) {
            columns.push_back({own.quantity.valueKey, own.quantity.symbol, Align::right});
        }
        std::ranges::move(detailColumns(own.quantity, {"marks", ""}), std::back_inserter(columns));
        return own;
    }

    // A card's row: a sleeping card says so and shows nothing it did not read.
    void addCard(const SensorSnapshot::GpuReading& card) {
        const bool asleep = card.asleep.value_or(false);
        const auto optional = [](const auto& value, auto cell) {
            return value ? cell(*value) : ViewCell{};
        };
        const auto shownBytes = [](std::int64_t value) {
            return bytes(static_cast<double>(value));
        };
        ViewRow row{{text(card.card), text(card.pciAddress), text(card.driver),
                     card.asleep ? text(asleep ? "asleep" : "awake") : ViewCell{},
                     optional(card.utilization, [](double v) { return number(v * 100, 1); }),
                     optional(card.memoryUsed, shownBytes), optional(card.memoryTotal, shownBytes),
                     optional(card.power, [](double v) { return number(v, 1); }),
                     optional(card.temperature, [](double v) { return number(v, 1); })}};
        cards_.rows.push_back(std::move(row));
    }

    // An input the other sections do not show, in the section of its kind; those of kinds of
    // newer agents have none.
    void addSensor(const Series& series) {
        if (!series.kind) {
            return;
        }
        auto& section = kinds_[static_cast<std::size_t>(*series.kind)];
        if (!section) {
            return;
        }
        ViewRow& row = section->rows.add(series);
        if (!section->quantity.valueKey.empty()) {
            row.cells.push_back(series.value ? number(*series.value, section->quantity.decimals)
                                             : ViewCell{});
        }
        addDetailCells(row, series.detail(), section->quantity, false, {});
    }

    Quantity celsius_, rpm_, watts_;
    GroupedSection temperatures_{};
    ViewSection fans_{}, power_{};
    ViewSection battery_ = figures("battery", "Battery", "no battery on this machine");
    ViewSection graphics_{"graphics",
                          "Graphics",
                          {{"unit", "unit"}, {"busyPercent", "busy %", Align::right}},
                          {},
                          "no graphics accelerator reports its utilisation"};
    ViewSection cards_{"graphicsCards",
                       "Graphics cards",
                       {{"card", "card"},
                        {"pciAddress", "address"},
                        {"driver", "driver"},
                        {"state", "state"},
                        {"busyPercent", "busy %", Align::right},
                        {"memoryUsedBytes", "memory used", Align::right},
                        {"memoryTotalBytes", "total", Align::right},
                        {"watts", "W", Align::right},
                        {"celsius", celsius_.symbol, Align::right}}};
    ViewSection accessories_{
        "accessories",
        "Accessories",
        {{"accessory", "accessory"}, {"part", "part"}, {"levelPercent", "level %", Align::right}},
        {},
        "no accessory reports a battery level"};
    std::array<std::optional<KindSection>, platform::sensorKindCount> kinds_{};
};

} // namespace

DocumentView snapshotView(const SensorSnapshot& snapshot, const ViewOptions& view) {
    DocumentView out{"Brivane Sensor Companion " + snapshot.companionVersion.value_or("?") +
                         " (document version " + std::to_string(snapshot.version) + ")",
                     snapshot.helperUID, snapshot.helperEffectiveUID};
    SnapshotSections sections(snapshot, view);
    walkSnapshot(snapshot, [&sections](const Series& series) { sections.add(series); });
    std::move(sections).into(out);

    std::vector<std::string> capabilities;
    auto add = [&](const std::optional<bool>& flag, const char* name) {
        if (flag.value_or(false)) {
            capabilities.emplace_back(name);
        }
    };
    add(snapshot.supportsProcessDetails, "process details");
    add(snapshot.supportsStorageHealth, "storage health");
    add(snapshot.supportsManagement, "management");
    std::string shown;
    for (const auto& name : capabilities) {
        shown += (shown.empty() ? "" : ", ") + name;
    }
    out.fields.push_back({"answersAlso",
                          "Answers also",
                          {shown.empty() ? "nothing else" : shown, std::move(capabilities)}});
    return out;
}

} // namespace brivane::cli
