#include "document_view.h"

#include "formats/document_codec.h"
#include "platform/snapshot_keys.h"
#include "sensor_detail_cells.h"
#include "sensors-common/optional_list.h"
#include "sensors-common/sensor_catalogue.h"

#include <algorithm>
#include <iterator>
#include <numeric>

namespace brivane::cli {
namespace {

using Align = TextTable::Align;
using platform::SensorKind;
namespace snapshot_key = platform::snapshot_key;

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
                       [](const auto& reading) { return snapshot_key::isSmcPower(reading.key); }) ||
           std::any_of(snapshot.temperatures.begin(), snapshot.temperatures.end(),
                       [](const auto& reading) { return isSmcTemperatureKey(reading.key); });
}

std::string unitOfPowerKey(const std::string& key) {
    return key == snapshot_key::batteryVoltage ? "V" : "W";
}

// Cells: text as shown, value as given.
ViewCell text(std::string value) {
    return {value, std::move(value)};
}
ViewCell text(const char* value) {
    return text(std::string(value));
}
ViewCell text(const std::optional<std::string>& value) {
    return value ? text(*value) : ViewCell{};
}
ViewCell number(double value, int decimals) {
    return {formatNumber(value, decimals), value};
}
ViewCell integer(std::int64_t value) {
    return {std::to_string(value), value};
}
ViewCell bytes(double value) {
    return {formatBytes(value), value};
}

// "7 h 05 min" from seconds.
std::string duration(double seconds) {
    const auto minutes = static_cast<long long>(seconds / 60 + 0.5);
    const std::string rest = std::to_string(minutes % 60);
    return std::to_string(minutes / 60) + " h " + (rest.size() < 2 ? "0" : "") + rest + " min";
}

// A table of figures: name, value with its unit, and the unit alone for scripts.
ViewSection figures(std::string key, std::string title, std::string whyEmpty) {
    return {std::move(key),
            std::move(title),
            {{"figure", "figure"}, {"value", "value", Align::right}, {"unit", "unit", {}, false}},
            {},
            std::move(whyEmpty)};
}
void addFigure(ViewSection& section, std::string name, ViewValue value, std::string shown,
               std::string unit) {
    section.rows.push_back({{text(std::move(name)),
                             {std::move(shown), std::move(value)},
                             unit.empty() ? ViewCell{} : text(std::move(unit))}});
}
void addNumber(ViewSection& section, std::string name, double value, int decimals,
               std::string unit) {
    auto shown = formatNumber(value, decimals) + (unit.empty() ? "" : " " + unit);
    addFigure(section, std::move(name), value, std::move(shown), std::move(unit));
}

ViewSection battery(const std::optional<SensorSnapshot::BatteryReading>& battery) {
    auto section = figures("battery", "Battery", "no battery on this machine");
    if (!battery) {
        return section;
    }
    addNumber(section, "level", battery->level * 100, 0, "%");
    if (battery->state) {
        addFigure(section, "state", *battery->state, *battery->state, "");
    }
    if (battery->power) {
        addNumber(section, "power", *battery->power, 2, "W");
    }
    if (battery->timeToEmpty) {
        addFigure(section, "time to empty", *battery->timeToEmpty, duration(*battery->timeToEmpty),
                  "s");
    }
    if (battery->timeToFull) {
        addFigure(section, "time to full", *battery->timeToFull, duration(*battery->timeToFull),
                  "s");
    }
    if (battery->health) {
        addNumber(section, "health", *battery->health * 100, 0, "%");
    }
    if (battery->cycleCount) {
        addFigure(section, "cycles", *battery->cycleCount, std::to_string(*battery->cycleCount),
                  "");
    }
    return section;
}

std::string celsius(const ViewOptions& view) {
    return view.utf8 ? "°C" : "C";
}

// How many rows of a ranking the view shows; the rest is counted as omitted.
std::size_t shownRows(std::size_t total, const ViewOptions& view, ViewSection& section) {
    const auto shown = std::min(total, view.rows.value_or(total));
    section.omitted = total - shown;
    return shown;
}

SensorGroup groupOf(const std::optional<SmcKeyDescription>& description) {
    return description ? description->group : SensorGroup::other;
}

// Rows of inputs by group, the catalogue's name beside each, document order within a group;
// keys the catalogue does not know come last.
template <class Item, class Key>
std::vector<std::pair<const Item*, std::optional<SmcKeyDescription>>>
byGroup(const std::vector<Item>& items, Key key) {
    std::vector<std::pair<const Item*, std::optional<SmcKeyDescription>>> rows;
    for (const auto& item : items) {
        rows.emplace_back(&item, describeSensor(key(item)));
    }
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
        return groupOf(a.second) < groupOf(b.second);
    });
    return rows;
}

// The first cells of a row of an input: its key, the catalogue's name and group.
std::vector<ViewCell> named(const std::string& key,
                            const std::optional<SmcKeyDescription>& description) {
    return {text(key), description ? text(description->name) : ViewCell{},
            text(std::string(groupName(groupOf(description))))};
}

// Hot ones are marked in words too, as colour may be off.
ViewSection temperatures(const SensorSnapshot& snapshot, bool smc, const ViewOptions& view) {
    const Quantity quantity = quantityOf(SensorKind::temperature, view.utf8);
    ViewSection section{"temperatures",
                        "Temperatures",
                        {{"sensor", "sensor"},
                         {"name", "name"},
                         {"group", "group"},
                         {"celsius", celsius(view), Align::right}},
                        {},
                        smc ? "no sensor gave a plausible temperature"
                            : "no SMC and no other temperature sensor on this machine"};
    std::ranges::move(detailColumns(quantity, {"hot", ""}), std::back_inserter(section.columns));
    const auto details = detailsOf(snapshot, quantity.kind);
    for (const auto& [reading, description] :
         byGroup(snapshot.temperatures, [](const auto& r) { return r.key; })) {
        const bool hot = reading->value >= hotCelsius;
        ViewRow row{named(reading->key, description)};
        row.cells.push_back(number(reading->value, 1));
        addDetailCells(row, detailFor(details, reading->key), quantity, hot, hot);
        section.rows.push_back(std::move(row));
    }
    hideEmptyLimits(section);
    return section;
}

// Inputs only the sensors member carries, one section per kind, laid out as the temperatures.
void addDetailSection(DocumentView& out, const SensorSnapshot& snapshot,
                      const platform::SensorKindInfo& kind, const ViewOptions& view) {
    const Quantity quantity = quantityOf(kind.kind, view.utf8);
    ViewSection section{std::string(kind.view.section),
                        std::string(kind.view.heading),
                        {{"sensor", "sensor"}, {"name", "name"}, {"group", "group"}}};
    if (!quantity.valueKey.empty()) {
        section.columns.push_back({quantity.valueKey, quantity.symbol, Align::right});
    }
    std::ranges::move(detailColumns(quantity, {"marks", ""}), std::back_inserter(section.columns));
    for (const auto& [detail, description] :
         byGroup(orEmpty(snapshot.sensors), [](const Detail& d) { return d.key; })) {
        if (detail->type != kind.type) {
            continue;
        }
        ViewRow row{named(detail->key, description)};
        if (!quantity.valueKey.empty()) {
            row.cells.push_back(detail->value ? number(*detail->value, quantity.decimals)
                                              : ViewCell{});
        }
        addDetailCells(row, detail, quantity, false, {});
        section.rows.push_back(std::move(row));
    }
    hideEmptyLimits(section);
    if (!section.rows.empty()) {
        out.sections.push_back(std::move(section));
    }
}

DocumentView snapshotView(const SensorSnapshot& snapshot, const ViewOptions& view) {
    DocumentView out{"Brivane Sensor Companion " + snapshot.companionVersion.value_or("?") +
                         " (document version " + std::to_string(snapshot.version) + ")",
                     snapshot.helperUID, snapshot.helperEffectiveUID};
    const bool smc = showsAnSmc(snapshot);
    out.sections.push_back(temperatures(snapshot, smc, view));
    // Linux fills the SMC's power keys from other chips too: only its temperature keys tell
    // that a fanless machine's SMC was asked.
    const bool smcAsked =
        std::any_of(snapshot.temperatures.begin(), snapshot.temperatures.end(),
                    [](const auto& reading) { return isSmcTemperatureKey(reading.key); });

    const Quantity rpm = quantityOf(SensorKind::fan, view.utf8, true);
    ViewSection fans{"fans",
                     "Fans",
                     {{"id", "fan", Align::right},
                      {"name", "name"},
                      {"rpm", "rpm", Align::right},
                      {"maximumRpm", "max", Align::right}},
                     {},
                     smcAsked ? "the SMC reports no fans" : "this machine reports no fans"};
    std::ranges::move(detailColumns(rpm, {"marks", ""}), std::back_inserter(fans.columns));
    const auto fanDetails = detailsOf(snapshot, rpm.kind);
    for (const auto& fan : snapshot.fans) {
        const auto* detail = fan.name ? detailFor(fanDetails, *fan.name) : nullptr;
        // A Linux fan's fan*_max is its limit too. A pointer: GCC 12 takes a copied optional
        // for uninitialised.
        const double* maximum = fan.maximumRPM          ? &*fan.maximumRPM
                                : detail && detail->max ? &*detail->max
                                                        : nullptr;
        ViewRow row{{integer(fan.id), text(fan.name), number(fan.rpm, 0),
                     maximum ? number(*maximum, 0) : ViewCell{}}};
        addDetailCells(row, detail, rpm, false, {});
        fans.rows.push_back(std::move(row));
    }
    hideEmptyLimits(fans);
    out.sections.push_back(std::move(fans));

    const Quantity watts = quantityOf(SensorKind::power, view.utf8);
    ViewSection power{"power",
                      "Power",
                      {{"source", "source"}, {"value", "value", Align::right}, {"unit", "unit"}},
                      {},
                      "no SMC power keys, energy counters or battery voltage on this machine"};
    std::ranges::move(detailColumns(watts, {"marks", ""}), std::back_inserter(power.columns));
    const auto powerDetails = detailsOf(snapshot, watts.kind);
    for (const auto& reading : orEmpty(snapshot.power)) {
        ViewRow row{
            {text(reading.key), number(reading.value, 2), text(unitOfPowerKey(reading.key))}};
        addDetailCells(row, detailFor(powerDetails, reading.key), watts, false, {});
        power.rows.push_back(std::move(row));
    }
    hideEmptyLimits(power);
    out.sections.push_back(std::move(power));
    out.sections.push_back(battery(snapshot.battery));

    ViewSection graphics{"graphics",
                         "Graphics",
                         {{"unit", "unit"}, {"busyPercent", "busy %", Align::right}},
                         {},
                         "no graphics accelerator reports its utilisation"};
    if (const auto& g = snapshot.graphics) {
        graphics.rows.push_back({{text("device"), number(g->utilization * 100, 1)}});
        if (g->renderer) {
            graphics.rows.push_back({{text("renderer"), number(*g->renderer * 100, 1)}});
        }
        if (g->tiler) {
            graphics.rows.push_back({{text("tiler"), number(*g->tiler * 100, 1)}});
        }
    }
    out.sections.push_back(std::move(graphics));

    ViewSection accessories{
        "accessories",
        "Accessories",
        {{"accessory", "accessory"}, {"part", "part"}, {"levelPercent", "level %", Align::right}},
        {},
        "no accessory reports a battery level"};
    for (const auto& accessory : orEmpty(snapshot.accessories)) {
        accessories.rows.push_back(
            {{text(accessory.name), text(accessory.part), number(accessory.level * 100, 0)}});
    }
    out.sections.push_back(std::move(accessories));
    // After the document's own sections, so that theirs keep their places in the JSON view.
    for (const auto& kind : platform::sensorKinds) {
        if (!kind.listed && !kind.view.section.empty()) {
            addDetailSection(out, snapshot, kind, view);
        }
    }

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

// Each cluster kind's active states with their share of its active time, named as this machine
// names them when it has as many states, else numbered.
ViewSection residencies(const decltype(CPUDetailsSnapshot::residencies)& residencies,
                        const ViewOptions& view) {
    ViewSection section{
        "residencies",
        "Performance-state residency since the previous request, as shares of each cluster's "
        "active time",
        {{"cluster", "cluster"}, {"state", "state"}, {"sharePercent", "share %", Align::right}},
        {},
        "no counters on this machine, or the first request, which only starts the count"};
    for (const auto& [kind, values] : residencies) {
        const double total = std::accumulate(values.begin(), values.end(), 0.0);
        const auto named = view.stateNames.find(kind);
        for (std::size_t i = 0; i < values.size(); ++i) {
            const bool hasName =
                named != view.stateNames.end() && named->second.size() == values.size();
            section.rows.push_back({{{i == 0 ? kind : "", kind},
                                     text(hasName ? named->second[i] : "P" + std::to_string(i + 1)),
                                     number(total > 0 ? values[i] / total * 100 : 0, 1)}});
        }
    }
    return section;
}

DocumentView cpuView(const CPUDetailsSnapshot& details, const ViewOptions& view) {
    DocumentView out{"CPU details", details.helperUID, details.helperEffectiveUID};
    ViewSection processes{"processes",
                          "Busiest processes",
                          {{"pid", "pid", Align::right},
                           {"process", "process"},
                           {"cpuPercent", "cpu %", Align::right}},
                          {},
                          "the process list could not be read"};
    const auto shown = shownRows(details.processes.size(), view, processes);
    for (std::size_t i = 0; i < shown; ++i) {
        const auto& process = details.processes[i];
        processes.rows.push_back(
            {{integer(process.pid), text(process.name), number(process.usage, 1)}});
    }
    out.sections.push_back(std::move(processes));
    out.sections.push_back(residencies(details.residencies, view));
    return out;
}

// "over the last 6.0 s", from the interval the agent measured over when it says.
std::string storageWindow(const std::optional<double>& seconds) {
    return seconds ? "over the last " + formatNumber(*seconds, 1) + " s"
                   : "since the previous request";
}

DocumentView processesView(const ProcessDetailsSnapshot& details, const std::string& kind,
                           const ViewOptions& view) {
    DocumentView out{"Processes by " + kind, details.helperUID, details.helperEffectiveUID};
    if (kind == "storage") {
        const auto window = storageWindow(details.storageInterval);
        ViewSection table{"storage",
                          "Storage traffic per second " + window,
                          {{"pid", "pid", Align::right},
                           {"process", "process"},
                           {"readBytesPerSecond", "read/s", Align::right},
                           {"writtenBytesPerSecond", "written/s", Align::right}},
                          {},
                          "no process the agent may inspect read or wrote storage " + window};
        for (std::size_t i = 0; i < shownRows(details.storage.size(), view, table); ++i) {
            const auto& process = details.storage[i];
            table.rows.push_back({{integer(process.pid),
                                   text(process.name),
                                   {formatBytes(static_cast<double>(process.readBytesPerSecond)),
                                    process.readBytesPerSecond},
                                   {formatBytes(static_cast<double>(process.writeBytesPerSecond)),
                                    process.writeBytesPerSecond}}});
        }
        out.sections.push_back(std::move(table));
        if (details.storageInterval) {
            out.fields.push_back(
                {"intervalSeconds", "interval", {{}, *details.storageInterval}, false});
        }
        return out;
    }
    const bool memory = kind == "memory";
    ViewSection table{memory ? "memory" : "energy",
                      memory ? "Memory footprint (resident anonymous memory)"
                             : "Energy impact (a score from each process's share of the CPU; "
                               "higher drains more)",
                      {{"pid", "pid", Align::right},
                       {"process", "process"},
                       memory ? ViewColumn{"footprintBytes", "footprint (anon. RSS)", Align::right}
                              : ViewColumn{"energyImpact", "energy impact", Align::right}}};
    for (std::size_t i = 0; i < shownRows(details.ranked.size(), view, table); ++i) {
        const auto& process = details.ranked[i];
        table.rows.push_back({{integer(process.pid), text(process.name),
                               memory ? bytes(process.usage) : number(process.usage, 1)}});
    }
    out.sections.push_back(std::move(table));
    return out;
}

DocumentView storageView(const StorageHealthSnapshot& health, const std::string& disk,
                         const ViewOptions& view) {
    DocumentView out{"Storage health of " + disk, health.helperUID, health.helperEffectiveUID};
    auto section = figures("health", "SMART figures", "the disk reported no SMART figures");
    if (health.reading) {
        const auto& r = *health.reading;
        auto add = [&](const char* name, const std::optional<std::int64_t>& value,
                       const std::string& unit) {
            if (value) {
                addFigure(section, name, *value,
                          std::to_string(*value) + (unit.empty() ? "" : " " + unit),
                          unit == celsius(view) ? "°C" : unit);
            }
        };
        add("temperature", r.temperature, celsius(view));
        add("remaining life", r.life, "%");
        if (r.totalRead) {
            addFigure(section, "data read", *r.totalRead,
                      formatBytes(static_cast<double>(*r.totalRead)), "B");
        }
        if (r.totalWritten) {
            addFigure(section, "data written", *r.totalWritten,
                      formatBytes(static_cast<double>(*r.totalWritten)), "B");
        }
        add("power cycles", r.powerCycles, "");
        add("power-on hours", r.powerOnHours, "h");
        add("available spare", r.availableSpare, "%");
        add("spare threshold", r.spareThreshold, "%");
        add("unsafe shutdowns", r.unsafeShutdowns, "");
        add("media errors", r.mediaErrors, "");
    }
    out.sections.push_back(std::move(section));
    return out;
}

// A package's agent answers as failed; that is how it says the package manager updates it.
DocumentView updateView(const SensorCompanionUpdate& update) {
    const bool packaged = updatesComeFromThePackageManager(update);
    DocumentView out;
    out.heading = packaged ? "Updates come from the system's package manager: this companion was "
                             "installed by a distribution package and does not update itself."
                           : "Update: " + std::string(rawValue(update.state));
    out.fields.push_back({"state", "state", text(std::string(rawValue(update.state))), false});
    if (update.version) {
        out.fields.push_back({"version", "version", text(*update.version), !packaged});
    }
    if (update.message) {
        out.fields.push_back({"message", "message", text(*update.message), !packaged});
    }
    return out;
}

} // namespace

bool updatesComeFromThePackageManager(const SensorCompanionUpdate& update) {
    return update.state == SensorCompanionUpdate::State::failed &&
           update.message == SensorCompanionUpdate::selfUpdateOffMessage;
}

std::optional<DocumentView> viewDocument(ipc::Selector selector,
                                         const std::optional<std::string>& argument,
                                         std::string_view json, const ViewOptions& view) {
    switch (selector) {
    case ipc::Selector::snapshot:
        if (auto snapshot = decodeSensorSnapshot(json)) {
            return snapshotView(*snapshot, view);
        }
        break;
    case ipc::Selector::cpuDetails:
        if (auto details = decodeCPUDetailsSnapshot(json)) {
            return cpuView(*details, view);
        }
        break;
    case ipc::Selector::processDetails:
        if (auto details = decodeProcessDetailsSnapshot(json)) {
            return processesView(*details, argument.value_or(""), view);
        }
        break;
    case ipc::Selector::storageHealth:
        if (auto health = decodeStorageHealthSnapshot(json)) {
            return storageView(*health, argument.value_or(""), view);
        }
        break;
    case ipc::Selector::manage:
        if (auto update = decodeSensorCompanionUpdate(json)) {
            return updateView(*update);
        }
        break;
    }
    return std::nullopt;
}

std::optional<std::string> renderDocument(ipc::Selector selector,
                                          const std::optional<std::string>& argument,
                                          std::string_view json, const ViewOptions& view) {
    if (auto shown = viewDocument(selector, argument, json, view)) {
        return renderText(*shown, view.utf8, view.hotOn, view.hotOff);
    }
    return std::nullopt;
}

} // namespace brivane::cli
