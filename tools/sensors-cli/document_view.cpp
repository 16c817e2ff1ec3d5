#include "document_view.h"

#include "formats/document_codec.h"
#include "optional_list.h"
#include "smc_key_catalogue.h"
#include "text_table.h"

#include <algorithm>
#include <numeric>

namespace brivane::cli {
namespace {

using Align = TextTable::Align;

// An empty section says why when the document lets us tell.
std::string section(const std::string& title, const TextTable& table,
                    std::string_view whyEmpty = {}, const ViewOptions& view = {},
                    const std::string& more = {}) {
    const std::string none =
        whyEmpty.empty() ? "  (none)\n" : "  (none: " + std::string(whyEmpty) + ")\n";
    return title + "\n" + (table.empty() ? none : table.render(view.hotOn, view.hotOff) + more) +
           "\n";
}

bool isSmcPowerKey(const std::string& key) {
    return key == "PSTR" || key == "PCPC" || key == "PG0R" || key == "PMTR" || key == "PPBR";
}

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
                       [](const auto& reading) { return isSmcPowerKey(reading.key); }) ||
           std::any_of(snapshot.temperatures.begin(), snapshot.temperatures.end(),
                       [](const auto& reading) { return isSmcTemperatureKey(reading.key); });
}

std::string identity(std::uint32_t uid, std::uint32_t euid) {
    return "answered by uid " + std::to_string(uid) +
           (uid == euid ? std::string() : " (effective " + std::to_string(euid) + ")") + "\n";
}

std::string unitOfPowerKey(const std::string& key) {
    return key == "BatteryVoltage" ? "V" : "W";
}

std::string celsius(const ViewOptions& view) {
    return view.utf8 ? "°C" : "C";
}

// The first rows of a ranking that the view shows, and a line for the rest.
std::size_t shownRows(std::size_t total, const ViewOptions& view) {
    return std::min(total, view.rows.value_or(total));
}
std::string moreRows(std::size_t total, const ViewOptions& view) {
    const auto shown = shownRows(total, view);
    if (shown == total) {
        return {};
    }
    return std::string("  ") + (view.utf8 ? "…" : "...") + " and " + std::to_string(total - shown) +
           " more (-n N or --all shows them)\n";
}

// SMC keys by group, the catalogue's name beside each, document order within a group; keys the
// catalogue does not know come last.
TextTable temperatureTable(const std::vector<SensorSnapshot::Reading>& readings,
                           const ViewOptions& view) {
    struct Row {
        const SensorSnapshot::Reading* reading;
        std::optional<SmcKeyDescription> description;
    };
    std::vector<Row> rows;
    for (const auto& reading : readings) {
        rows.push_back({&reading, describeSmcKey(reading.key)});
    }
    const auto group = [](const Row& row) {
        return row.description ? row.description->group : SensorGroup::other;
    };
    std::stable_sort(rows.begin(), rows.end(),
                     [&](const Row& a, const Row& b) { return group(a) < group(b); });
    TextTable table({{"sensor"}, {"name"}, {"group"}, {celsius(view), Align::right}});
    for (const auto& row : rows) {
        table.addRow({row.reading->key, row.description ? row.description->name : "",
                      std::string(groupName(group(row))), formatNumber(row.reading->value, 1)},
                     row.reading->value >= hotCelsius);
    }
    return table;
}

std::string renderSnapshot(const SensorSnapshot& snapshot, const ViewOptions& view) {
    std::string out = "Brivane Sensor Companion " + snapshot.companionVersion.value_or("?") +
                      " (document version " + std::to_string(snapshot.version) + "), " +
                      identity(snapshot.helperUID, snapshot.helperEffectiveUID) + "\n";

    const auto temperatures = temperatureTable(snapshot.temperatures, view);
    const bool smc = showsAnSmc(snapshot);
    out += section("Temperatures", temperatures,
                   smc ? "no sensor gave a plausible temperature"
                       : "no SMC and no other temperature sensor on this machine",
                   view);

    TextTable fans({{"fan", Align::right}, {"name"}, {"rpm", Align::right}, {"max", Align::right}});
    for (const auto& fan : snapshot.fans) {
        fans.addRow({std::to_string(fan.id), fan.name.value_or(""), formatNumber(fan.rpm, 0),
                     fan.maximumRPM ? formatNumber(*fan.maximumRPM, 0) : ""});
    }
    out += section("Fans", fans, smc ? "the SMC reports no fans" : "no SMC on this machine");

    TextTable power({{"source"}, {"value", Align::right}, {"unit"}});
    for (const auto& reading : orEmpty(snapshot.power)) {
        power.addRow({reading.key, formatNumber(reading.value, 2), unitOfPowerKey(reading.key)});
    }
    out += section("Power", power,
                   "no SMC power keys, energy counters or battery voltage on this machine");

    TextTable graphics({{"unit"}, {"busy %", Align::right}});
    if (snapshot.graphics) {
        graphics.addRow({"device", formatNumber(snapshot.graphics->utilization * 100, 1)});
        if (snapshot.graphics->renderer) {
            graphics.addRow({"renderer", formatNumber(*snapshot.graphics->renderer * 100, 1)});
        }
        if (snapshot.graphics->tiler) {
            graphics.addRow({"tiler", formatNumber(*snapshot.graphics->tiler * 100, 1)});
        }
    }
    out += section("Graphics", graphics, "no graphics accelerator reports its utilisation");

    TextTable accessories({{"accessory"}, {"part"}, {"level %", Align::right}});
    for (const auto& accessory : orEmpty(snapshot.accessories)) {
        accessories.addRow(
            {accessory.name, accessory.part.value_or(""), formatNumber(accessory.level * 100, 0)});
    }
    out += section("Accessories", accessories, "no accessory reports a battery level");

    std::string capabilities;
    auto add = [&](const std::optional<bool>& flag, const char* name) {
        if (flag.value_or(false)) {
            capabilities += capabilities.empty() ? name : std::string(", ") + name;
        }
    };
    add(snapshot.supportsProcessDetails, "process details");
    add(snapshot.supportsStorageHealth, "storage health");
    add(snapshot.supportsManagement, "management");
    out += "Answers also: " + (capabilities.empty() ? std::string("nothing else") : capabilities) +
           "\n";
    return out;
}

// Each cluster kind's active states with their share of its active time, named as this machine
// names them when it has as many states, else numbered.
TextTable residencyTable(const decltype(CPUDetailsSnapshot::residencies)& residencies,
                         const ViewOptions& view) {
    TextTable table({{"cluster"}, {"state"}, {"share %", Align::right}});
    for (const auto& [kind, values] : residencies) {
        const double total = std::accumulate(values.begin(), values.end(), 0.0);
        const auto named = view.stateNames.find(kind);
        for (std::size_t i = 0; i < values.size(); ++i) {
            const bool hasName =
                named != view.stateNames.end() && named->second.size() == values.size();
            table.addRow({i == 0 ? kind : "",
                          hasName ? named->second[i] : "P" + std::to_string(i + 1),
                          formatNumber(total > 0 ? values[i] / total * 100 : 0, 1)});
        }
    }
    return table;
}

std::string renderCpu(const CPUDetailsSnapshot& details, const ViewOptions& view) {
    std::string out =
        "CPU details, " + identity(details.helperUID, details.helperEffectiveUID) + "\n";
    TextTable processes({{"pid", Align::right}, {"process"}, {"cpu %", Align::right}});
    const auto shown = shownRows(details.processes.size(), view);
    for (std::size_t i = 0; i < shown; ++i) {
        const auto& process = details.processes[i];
        processes.addRow(
            {std::to_string(process.pid), process.name, formatNumber(process.usage, 1)});
    }
    out += section("Busiest processes", processes, "the process list could not be read", view,
                   moreRows(details.processes.size(), view));
    out += section("Performance-state residency since the previous request, as shares of each "
                   "cluster's active time",
                   residencyTable(details.residencies, view),
                   "no counters on this machine, or the first request, which only starts the count",
                   view);
    return out;
}

std::string renderProcesses(const ProcessDetailsSnapshot& details, const std::string& kind,
                            const ViewOptions& view) {
    std::string out = "Processes by " + kind + ", " +
                      identity(details.helperUID, details.helperEffectiveUID) + "\n";
    if (kind == "storage") {
        TextTable table({{"pid", Align::right},
                         {"process"},
                         {"read/s", Align::right},
                         {"written/s", Align::right}});
        for (std::size_t i = 0; i < shownRows(details.storage.size(), view); ++i) {
            const auto& process = details.storage[i];
            table.addRow({std::to_string(process.pid), process.name,
                          formatBytes(static_cast<double>(process.readBytesPerSecond)),
                          formatBytes(static_cast<double>(process.writeBytesPerSecond))});
        }
        return out + section("Storage traffic", table,
                             "no process the agent may inspect read or wrote storage since the "
                             "previous request, or the first request, which only starts the count",
                             view, moreRows(details.storage.size(), view));
    }
    const bool memory = kind == "memory";
    TextTable table({{"pid", Align::right},
                     {"process"},
                     {memory ? "footprint" : "energy impact", Align::right}});
    for (std::size_t i = 0; i < shownRows(details.ranked.size(), view); ++i) {
        const auto& process = details.ranked[i];
        table.addRow({std::to_string(process.pid), process.name,
                      memory ? formatBytes(process.usage) : formatNumber(process.usage, 1)});
    }
    return out + section(memory ? "Memory footprint"
                                : "Energy impact (a score from each process's share of the CPU; "
                                  "higher drains more)",
                         table, {}, view, moreRows(details.ranked.size(), view));
}

std::string renderStorage(const StorageHealthSnapshot& health, const std::string& disk,
                          const ViewOptions& view) {
    std::string out = "Storage health of " + disk + ", " +
                      identity(health.helperUID, health.helperEffectiveUID) + "\n";
    if (!health.reading) {
        return out + "  The disk reported no SMART figures.\n";
    }
    const auto& r = *health.reading;
    TextTable table({{"figure"}, {"value", Align::right}});
    auto add = [&](const char* name, const std::optional<std::int64_t>& value,
                   const std::string& unit) {
        if (value) {
            table.addRow({name, std::to_string(*value) + unit});
        }
    };
    add("temperature", r.temperature, " " + celsius(view));
    add("remaining life", r.life, " %");
    if (r.totalRead) {
        table.addRow({"data read", formatBytes(static_cast<double>(*r.totalRead))});
    }
    if (r.totalWritten) {
        table.addRow({"data written", formatBytes(static_cast<double>(*r.totalWritten))});
    }
    add("power cycles", r.powerCycles, "");
    add("power-on hours", r.powerOnHours, " h");
    add("available spare", r.availableSpare, " %");
    add("spare threshold", r.spareThreshold, " %");
    add("unsafe shutdowns", r.unsafeShutdowns, "");
    add("media errors", r.mediaErrors, "");
    return out + table.render();
}

std::string renderUpdate(const SensorCompanionUpdate& update) {
    std::string out = "Update: " + std::string(rawValue(update.state)) + "\n";
    if (update.version) {
        out += "  version: " + *update.version + "\n";
    }
    if (update.message) {
        out += "  message: " + *update.message + "\n";
    }
    return out;
}

} // namespace

std::optional<std::string> renderDocument(ipc::Selector selector,
                                          const std::optional<std::string>& argument,
                                          std::string_view json, const ViewOptions& view) {
    switch (selector) {
    case ipc::Selector::snapshot:
        if (auto snapshot = decodeSensorSnapshot(json)) {
            return renderSnapshot(*snapshot, view);
        }
        break;
    case ipc::Selector::cpuDetails:
        if (auto details = decodeCPUDetailsSnapshot(json)) {
            return renderCpu(*details, view);
        }
        break;
    case ipc::Selector::processDetails:
        if (auto details = decodeProcessDetailsSnapshot(json)) {
            return renderProcesses(*details, argument.value_or(""), view);
        }
        break;
    case ipc::Selector::storageHealth:
        if (auto health = decodeStorageHealthSnapshot(json)) {
            return renderStorage(*health, argument.value_or(""), view);
        }
        break;
    case ipc::Selector::manage:
        if (auto update = decodeSensorCompanionUpdate(json)) {
            return renderUpdate(*update);
        }
        break;
    }
    return std::nullopt;
}

} // namespace brivane::cli
