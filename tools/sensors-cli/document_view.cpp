#include "document_view.h"

#include "formats/document_codec.h"
#include "snapshot_view.h"
#include "view_cells.h"

#include <algorithm>
#include <numeric>

namespace brivane::cli {
namespace {

using namespace cells;
using Align = TextTable::Align;

std::string celsius(const ViewOptions& view) {
    return view.utf8 ? "°C" : "C";
}

// How many rows of a ranking the view shows; the rest is counted as omitted.
std::size_t shownRows(std::size_t total, const ViewOptions& view, ViewSection& section) {
    const auto shown = std::min(total, view.rows.value_or(total));
    section.omitted = total - shown;
    return shown;
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

// "12.5 s" under an hour, "7 h 05 min" from there on.
std::string seconds(double value) {
    return value < 3600 ? formatNumber(value, 1) + " s" : duration(value);
}

// Each cluster kind's idle states with the time its CPUs spent there and their share of it.
ViewSection idleStates(const decltype(CPUDetailsSnapshot::idleStates)& kinds) {
    ViewSection section{"idleStates",
                        "Idle states (C-states) since the CPUs came up, summed over each "
                        "cluster's CPUs; the package's own need root and are not shown",
                        {{"cluster", "cluster"},
                         {"state", "state"},
                         {"seconds", "time", Align::right},
                         {"sharePercent", "share %", Align::right}},
                        {},
                        "no idle states the agent may read on this machine"};
    if (!kinds)
        return section;
    for (const auto& [kind, states] : *kinds) {
        double total = 0;
        for (const auto& state : states)
            total += state.seconds;
        for (std::size_t i = 0; i < states.size(); ++i) {
            section.rows.push_back({{{i == 0 ? kind : "", kind},
                                     text(states[i].name),
                                     {seconds(states[i].seconds), states[i].seconds},
                                     number(total > 0 ? states[i].seconds / total * 100 : 0, 1)}});
        }
    }
    return section;
}

// Thermal throttling per cluster kind's cores and per package.
ViewSection throttling(const std::optional<CPUDetailsSnapshot::Throttling>& counted) {
    ViewSection section{
        "throttling",
        "Thermal throttling since boot",
        {{"scope", "scope"}, {"events", "events", Align::right}, {"seconds", "time", Align::right}},
        {},
        "the processor does not count it (Intel processors do)"};
    const auto add = [&](std::string scope, const CPUDetailsSnapshot::ThrottleCount& count) {
        section.rows.push_back(
            {{text(std::move(scope)), integer(count.events),
              count.seconds ? ViewCell{seconds(*count.seconds), *count.seconds} : ViewCell{}}});
    };
    if (counted) {
        for (const auto& [kind, count] : counted->cores)
            add(kind + " cores", count);
        for (const auto& [package, count] : counted->packages)
            add("package " + package, count);
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
    out.sections.push_back(idleStates(details.idleStates));
    out.sections.push_back(throttling(details.throttling));
    return out;
}

// "over the last 6.0 s", from the interval the agent measured over when it says.
std::string storageWindow(const std::optional<double>& seconds) {
    return seconds ? "over the last " + formatNumber(*seconds, 1) + " s"
                   : "since the previous request";
}

// "card1 (0000:03:00.0)", or what of it is known.
std::string cardName(const ProcessDetailsSnapshot::GpuReading::Card& card) {
    if (card.card.empty())
        return card.pciAddress.empty() ? "?" : card.pciAddress;
    return card.pciAddress.empty() ? card.card : card.card + " (" + card.pciAddress + ")";
}

// One row per process and card, the process named on its first: each card's busiest engine
// class, every class's share and the memory the process holds there.
ViewSection gpuTable(const ProcessDetailsSnapshot& details, const ViewOptions& view) {
    const std::string window = storageWindow(details.gpuInterval);
    ViewSection table{"gpu",
                      "Graphics card use " + window + ", busiest first (your own processes)",
                      {{"pid", "pid", Align::right},
                       {"process", "process"},
                       {"card", "card"},
                       {"busyPercent", "busy %", Align::right},
                       {"engines", "engines (%)"},
                       {"memoryBytes", "memory", Align::right}},
                      {},
                      "none of your processes uses a graphics card whose driver tells"};
    static const std::vector<ProcessDetailsSnapshot::GpuReading> none;
    const auto& ranked = details.gpu ? *details.gpu : none;
    for (std::size_t i = 0; i < shownRows(ranked.size(), view, table); ++i) {
        const auto& process = ranked[i];
        for (std::size_t c = 0; c < process.cards.size(); ++c) {
            const auto& card = process.cards[c];
            double busiest = 0;
            std::string engines;
            std::vector<std::string> listed;
            for (const auto& [engine, percent] : card.enginePercent) {
                busiest = std::max(busiest, percent);
                engines += (engines.empty() ? "" : ", ") + engine + " " + formatNumber(percent, 1);
                listed.push_back(engine + " " + formatNumber(percent, 1));
            }
            table.rows.push_back(
                {{c == 0 ? integer(process.pid) : ViewCell{"", process.pid},
                  c == 0 ? text(process.name) : ViewCell{"", process.name},
                  text(cardName(card)),
                  card.enginePercent.empty() ? ViewCell{} : number(busiest, 1),
                  {engines, std::move(listed)},
                  card.memoryBytes ? bytes(static_cast<double>(*card.memoryBytes)) : ViewCell{}}});
        }
    }
    return table;
}

DocumentView processesView(const ProcessDetailsSnapshot& details, const std::string& kind,
                           const ViewOptions& view) {
    DocumentView out{"Processes by " + kind, details.helperUID, details.helperEffectiveUID};
    if (kind == "gpu") {
        out.sections.push_back(gpuTable(details, view));
        if (details.gpuInterval)
            out.fields.push_back(
                {"intervalSeconds", "interval", {{}, *details.gpuInterval}, false});
        return out;
    }
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
