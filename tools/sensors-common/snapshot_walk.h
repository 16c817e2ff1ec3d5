#pragma once

// The one walk over a snapshot's readings that every client of it takes: the CLI's view, the
// metrics text and anything that records readings as series. Each reading comes as a Series:
// its stable name (what the CLI shows in its first column, "k10temp/Tctl"), its kind, its
// unit, its value (absent: a gap in the series) and the `sensors` entry that carries its limits
// and flags. The document's other members (its version, who answered, what else the agent
// answers, the agent's version) are no readings: clients read them from the record.
//
// Adding a reading to the snapshot: give it a Figure (or fold it into an existing one) and
// yield it in walkSnapshot; each client's switch over Figure then fails to compile until it
// says what it does with it. The coverage test (tests/sensors_cli/snapshot_walk_test.cpp)
// changes every field of the document's field lists in turn and fails for one that changes
// neither the view nor the metrics, or only one of them, unless it is listed there as left out
// on purpose, with the reason.

#include "formats/sensor_snapshot.h"
#include "platform/sensor_kinds.h"

#include <functional>
#include <optional>
#include <string_view>

namespace brivane::cli {

// Which reading of the document a series is, in the order walkSnapshot yields them.
enum class Figure {
    temperature,        // temperatures[]
    fan,                // fans[]: its speed; the record carries its id, maximum and minimum
    power,              // power[]: watts, or volts for the battery's voltage
    graphics,           // graphics: `part` "device", "renderer" or "tiler"
    accessory,          // accessories[]: a level; the record carries its part
    batteryLevel,       // battery.level
    batteryState,       // battery.state, in `text`
    batteryPower,       // battery.power
    batteryTimeToEmpty, // battery.timeToEmpty
    batteryTimeToFull,  // battery.timeToFull
    batteryHealth,      // battery.health
    batteryCycles,      // battery.cycleCount
    energy,             // energy[]
    source,             // sources[]: 1 up, 0 down
    retiredFiles,       // retiredFiles[]: a back end's files not read for now
    sensor,             // sensors[]: every input of the hardware monitors
    gpu,                // gpus[]: a card's `part`, "state" first, always (the record carries
                        // the card), then "utilization", "memoryUsed", "memoryTotal", "power"
                        // and "temperature" where it has them
};

class ListedDetails; // the walk's index of the `sensors` member

struct Series {
    Figure figure = Figure::temperature;
    // Stable across snapshots: a reading's key, a fan's name ("F<id>" without one), and for
    // the figures without a key the member's path ("battery/level", "graphics/renderer",
    // "accessory/<name>[/<part>]", "source/<name>", "gpu/<PCI address, else card>/<part>").
    std::string_view name;
    // The kind of a hardware input; none for the other figures and for a `sensors` entry of a
    // kind this client does not know (a newer agent's), whose `type` is its document's word.
    std::optional<platform::SensorKind> kind;
    std::string_view type;
    std::string_view unit; // the document's unit word: "celsius", "volts", "ratio", "seconds"
    std::optional<double> value;
    std::string_view text; // a figure in words (the battery's or a card's state), a source's name
    std::string_view part; // of a graphics figure or an accessory
    const SensorSnapshot::FanReading* fan = nullptr;             // Figure::fan's record
    const SensorSnapshot::AccessoryReading* accessory = nullptr; // Figure::accessory's
    const SensorSnapshot::GpuReading* gpu = nullptr;             // Figure::gpu's

    // The `sensors` entry with the input's limits, alarms and fault, if any: the entry itself
    // for Figure::sensor, else the first of the same key and the member's kind, looked up on
    // the first call of the walk (a client that reads only the entries pays nothing for it).
    const SensorSnapshot::SensorDetail* detail() const;

    // Whether the reading's `sensors` entry repeats an input the document lists in a member of
    // its own (temperatures, fans, power), which is where its value is shown and recorded.
    bool listedElsewhere() const {
        return figure == Figure::sensor && kind && platform::infoOf(*kind).listed;
    }
    // A limit of the input, absent when its driver has none; a fan's maximum is its own, and
    // so is its minimum when no `sensors` entry has one.
    std::optional<double> limit(platform::SensorLimit which) const;

    // Set by the walk: the entry of Figure::sensor, the lookup of the others.
    const SensorSnapshot::SensorDetail* entry = nullptr;
    const ListedDetails* listedDetails = nullptr;
    std::optional<platform::SensorKind> listedKind; // whose entries hold this one's
};

// Calls visit once per reading of the snapshot, figure by figure in Figure's order, each in the
// document's order. The series' views stay valid during the call only.
void walkSnapshot(const SensorSnapshot& snapshot, const std::function<void(const Series&)>& visit);

} // namespace brivane::cli
