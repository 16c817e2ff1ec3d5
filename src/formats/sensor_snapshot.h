#pragma once

// The sensor snapshot document. Records are plain values; JSON keys equal the field names and
// fields are declared in the order a writer emits them. Each record's one list of keys, read by
// both the encoder and the decoder, is in formats/sensor_snapshot_fields.h.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane {

struct SensorSnapshot {
    // One named numeric value: a temperature, a power figure or a voltage.
    struct Reading {
        std::string key{};
        double value = 0;

        bool operator==(const Reading&) const = default;
    };

    struct FanReading {
        std::int64_t id = 0;
        std::optional<std::string> name{};
        double rpm = 0;
        std::optional<double> maximumRPM{};
        // Beyond the original document (readers ignore unknown keys): the speed the fan is kept
        // at or above, where its controller reports one.
        std::optional<double> minimumRPM{};

        bool operator==(const FanReading&) const = default;
    };

    // Utilisations as fractions from 0 to 1.
    struct GraphicsReading {
        double utilization = 0;
        std::optional<double> renderer{};
        std::optional<double> tiler{};

        bool operator==(const GraphicsReading&) const = default;
    };

    struct AccessoryReading {
        std::string name{};
        std::optional<std::string> part{};
        double level = 0;

        // The accessory sources in the power-management tool's output, in its order.
        static std::vector<AccessoryReading> parse(std::string_view output);

        // What a snapshot carries at most: a device may report a name of any length, and a
        // bus any number of devices.
        static constexpr std::size_t maxNameBytes = 128;
        static constexpr std::size_t maxCount = 64;

        bool operator==(const AccessoryReading&) const = default;
    };

    // The machine's batteries taken together. Decoders of documents without it (and of those
    // written before it existed) ignore the unknown member, so it travels as an optional one.
    struct BatteryReading {
        double level = 0;                    // charge, a fraction from 0 to 1
        std::optional<std::string> state{};  // "charging", "discharging", "full", "notCharging"
        std::optional<double> power{};       // watts into or out of the batteries, ≥ 0
        std::optional<double> timeToEmpty{}; // seconds, while discharging
        std::optional<double> timeToFull{};  // seconds, while charging
        std::optional<double> health{};      // full charge capacity over design capacity
        std::optional<std::int64_t> cycleCount{};

        bool operator==(const BatteryReading&) const = default;
    };

    // The version the companion writes, and the protocol version a release must declare.
    static constexpr std::int64_t schemaVersion = 2;

    // Document versions readable with these definitions.
    static constexpr bool supports(std::int64_t version) { return version == 1 || version == 2; }

    std::int64_t version = schemaVersion;
    std::vector<Reading> temperatures{};
    std::vector<FanReading> fans{};
    std::uint32_t helperUID = 0;
    std::uint32_t helperEffectiveUID = 0;
    std::optional<std::vector<Reading>> power{};
    std::optional<GraphicsReading> graphics{};
    std::optional<std::vector<AccessoryReading>> accessories{};
    std::optional<bool> supportsProcessDetails{};
    std::optional<bool> supportsStorageHealth{};
    std::optional<bool> supportsManagement{};
    std::optional<std::string> companionVersion{};
    std::optional<BatteryReading> battery{};
    // Beyond the original document (readers ignore unknown keys): the energy counters behind
    // CPUModelPower and GPUModelPower ("CPUEnergy", "GPUEnergy"), in joules counted since the
    // agent started; absent until a counter has moved.
    std::optional<std::vector<Reading>> energy{};
    // Beyond the original document too: the sensor back ends whose reads can hang, each up
    // unless a hung read keeps some of its sensors out of reach; absent where none can.
    struct SourceState {
        std::string name;
        bool up = true;

        bool operator==(const SourceState&) const = default;
    };
    std::optional<std::vector<SourceState>> sources{};
    // Beyond the original document too: per back end of `sources`, its files not read for now
    // because they kept failing (each looked at again now and then, and read once it answers).
    struct RetiredFiles {
        std::string name;
        std::int64_t files = 0;

        bool operator==(const RetiredFiles&) const = default;
    };
    std::optional<std::vector<RetiredFiles>> retiredFiles{};
    // Beyond the original document too: every input of the machine's hardware monitors, of any
    // type, with the limits and alarm flags its driver has, in the input's unit. `key` is the
    // key or fan name the same input has above; voltages and the like appear only here.
    struct SensorAlarms {
        std::optional<bool> alarm{};
        std::optional<bool> min{};
        std::optional<bool> max{};
        std::optional<bool> lcrit{};
        std::optional<bool> crit{};
        std::optional<bool> emergency{};
        std::optional<bool> cap{};

        bool operator==(const SensorAlarms&) const = default;
    };
    struct SensorDetail {
        std::string key{};
        // Words of platform/sensor_kinds.h; a client takes a word it does not know for a kind
        // of a newer agent.
        std::string type{};                // "temperature", "fan", "voltage", "current", …
        std::optional<std::string> unit{}; // "celsius", "rpm", "volts", …; none for a flag
        std::optional<double> value{};     // none for a detector that only raises alarms
        std::optional<double> min{};
        std::optional<double> max{};
        std::optional<double> lcrit{};
        std::optional<double> crit{};
        std::optional<double> emergency{};
        std::optional<double> target{}; // a fan's
        std::optional<double> cap{};    // a power meter's
        std::optional<SensorAlarms> alarms{};
        std::optional<bool> fault{};

        bool operator==(const SensorDetail&) const = default;
    };
    std::optional<std::vector<SensorDetail>> sensors{};
    // Beyond the original document too: every graphics card, in the order of its PCI address
    // (cards without one after those, in the registry's order), with what its driver tells.
    // `graphics` above stays the busiest card's utilisation.
    struct GpuReading {
        std::optional<std::string> card{};         // the kernel's name: "card1"
        std::optional<std::string> pciAddress{};   // "0000:03:00.0", stable across boots
        std::string driver{};                      // "amdgpu", "i915", "xe", "nvidia", …
        std::optional<bool> asleep{};              // true while the card is runtime-suspended
        std::optional<double> utilization{};       // busy share, 0 to 1
        std::optional<std::int64_t> memoryUsed{};  // bytes of the card's memory in use
        std::optional<std::int64_t> memoryTotal{}; // bytes of the card's memory
        std::optional<double> power{};             // watts the card draws
        std::optional<double> temperature{};       // degrees Celsius

        bool operator==(const GpuReading&) const = default;
    };
    std::optional<std::vector<GpuReading>> gpus{};

    bool operator==(const SensorSnapshot&) const = default;
};

// A sensor's limits and flags in the order of platform::SensorLimit and platform::SensorAlarm,
// which is also their order in the document.
inline constexpr std::array<std::optional<double> SensorSnapshot::SensorDetail::*, 7>
    sensorLimitMembers = {
        &SensorSnapshot::SensorDetail::min,       &SensorSnapshot::SensorDetail::max,
        &SensorSnapshot::SensorDetail::lcrit,     &SensorSnapshot::SensorDetail::crit,
        &SensorSnapshot::SensorDetail::emergency, &SensorSnapshot::SensorDetail::target,
        &SensorSnapshot::SensorDetail::cap};
inline constexpr std::array<std::optional<bool> SensorSnapshot::SensorAlarms::*, 7>
    sensorAlarmMembers = {
        &SensorSnapshot::SensorAlarms::alarm, &SensorSnapshot::SensorAlarms::min,
        &SensorSnapshot::SensorAlarms::max,   &SensorSnapshot::SensorAlarms::lcrit,
        &SensorSnapshot::SensorAlarms::crit,  &SensorSnapshot::SensorAlarms::emergency,
        &SensorSnapshot::SensorAlarms::cap};

} // namespace brivane
