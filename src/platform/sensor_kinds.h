#pragma once

// What each kind of sensor input is to every part of the companion, written once: the kinds as
// one enumeration that crosses the platform seam, and one row per kind that the hwmon back end
// (which files a channel has and how they scale), the snapshot's assembly (the `sensors`
// member's type and unit words), the client's views (section, heading, symbol, precision) and
// the metrics (family names, which limits get series) all read.
//
// Adding a kind: an enumerator at the end of SensorKind, one more in sensorKindCount, and its
// row in sensorKinds, placed where the views and the metrics should list it. Nothing else has
// to know it: hwmon files of the row's prefix are found, scaled and limited by it, the document
// carries its words, the client shows a section of it and the exporter a family for its values
// and one per limit the row names.
//
// Adding a limit or an alarm: an enumerator in SensorLimit or SensorAlarm with its word (the
// hwmon item and the JSON key are the same word), a member of SensorSnapshot::SensorDetail or
// SensorAlarms in formats/sensor_snapshot.h at the same place of sensorLimitMembers or
// sensorAlarmMembers, then the rows of the kinds that have it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>

namespace brivane::platform {

// In the order a hwmon chip's channels are listed, which is the order of the snapshot's
// `sensors` member: new kinds go last.
enum class SensorKind : std::uint8_t {
    temperature,
    fan,
    power,
    voltage,
    current,
    energy,
    humidity,
    intrusion,
    pwm,
};
inline constexpr std::size_t sensorKindCount = 9;

// A channel's limits, in its own unit, and its alarm flags ("alarm": the channel's own).
enum class SensorLimit : std::uint8_t { min, max, lcrit, crit, emergency, target, cap };
enum class SensorAlarm : std::uint8_t { alarm, min, max, lcrit, crit, emergency, cap };
inline constexpr std::size_t sensorLimitCount = 7;
inline constexpr std::size_t sensorAlarmCount = 7;

// Their words, as the JSON keys and hwmon's items name them ("temp1_crit", "temp1_crit_alarm").
inline constexpr std::array<std::string_view, sensorLimitCount> sensorLimitWords = {
    "min", "max", "lcrit", "crit", "emergency", "target", "cap"};
inline constexpr std::array<std::string_view, sensorAlarmCount> sensorAlarmWords = {
    "alarm", "min", "max", "lcrit", "crit", "emergency", "cap"};
inline constexpr std::array<std::string_view, sensorAlarmCount> hwmonAlarmItems = {
    "alarm", "min_alarm", "max_alarm", "lcrit_alarm", "crit_alarm", "emergency_alarm", "cap_alarm"};

constexpr std::string_view wordOf(SensorLimit limit) {
    return sensorLimitWords[static_cast<std::size_t>(limit)];
}
constexpr std::string_view wordOf(SensorAlarm alarm) {
    return sensorAlarmWords[static_cast<std::size_t>(alarm)];
}

// Where a view lists an input, in that order.
enum class SensorGroup {
    cpu,
    gpu,
    memory,
    storage,
    battery,
    power,
    wireless,
    mainboard,
    display,
    ambient,
    surface,
    other,
};

// A set of limits or alarms.
template <typename Item> class ItemSet {
public:
    constexpr ItemSet() = default;
    constexpr ItemSet(std::initializer_list<Item> items) {
        for (const Item item : items) {
            bits_ |= 1u << static_cast<unsigned>(item);
        }
    }
    constexpr bool has(Item item) const { return (bits_ >> static_cast<unsigned>(item) & 1u) != 0; }
    constexpr bool empty() const { return bits_ == 0; }

private:
    std::uint32_t bits_ = 0;
};
using LimitSet = ItemSet<SensorLimit>;
using AlarmSet = ItemSet<SensorAlarm>;

// How the metrics carry an input's value.
enum class MetricsValue {
    none,    // a kind the snapshot lists in a member of its own, or a bare flag
    gauge,   // brivane_<stem>_<unit>
    counter, // among brivane_energy_joules_total
};

struct SensorKindInfo {
    SensorKind kind;
    std::string_view type; // the `sensors` member's word for it
    std::string_view unit; // the unit of its values and limits there, none for a bare flag
    // Whether the snapshot lists its inputs in a member of their own (temperatures, fans, power),
    // where the views and the metrics show their values; the `sensors` entry adds the limits.
    bool listed = false;

    struct Hwmon {
        std::string_view prefix; // of its files: "temp1_input"
        bool fromZero = false;   // the first channel is number 0, not 1
        std::string_view item;   // holding the value; empty: the bare file ("pwm1")
        // Its files' units in `units` of `unit`: "in0_input" in millivolts, 1000 in one volt;
        // a duty cycle, 255 in 100 percent.
        double perUnit = 1;
        double units = 1;
        // Whether "_enable" 0 turns the channel off; a fan's control output at 0 runs the fan
        // at full speed instead.
        bool enableTurnsOff = true;
    } hwmon;
    LimitSet limits; // each read from "<prefix>N_<word>"
    AlarmSet alarms; // from "<prefix>N_<word>_alarm", the channel's own from "<prefix>N_alarm"
    bool fault = false;
    SensorGroup group = SensorGroup::other; // of an input on a chip no catalogue knows

    struct View {
        std::string_view section; // key of its section; empty: none of its own
        std::string_view heading;
        std::string_view symbol; // after a value or limit: "V"; a leading "°" only with UTF-8
        int decimals = 1;
    } view;

    struct Metrics {
        MetricsValue value = MetricsValue::none;
        std::string_view stem;      // brivane_<stem>_<unit>, brivane_<stem>_<limit>_<unit>
        std::string_view noun;      // in the families' help: "Reading of a <noun> in …"
        std::string_view unitWords; // the unit in words there
        LimitSet limits;            // those with a family of their own
    } metrics;
};

// In the order the views and the metrics list the kinds.
inline constexpr std::array<SensorKindInfo, sensorKindCount> sensorKinds = [] {
    using L = SensorLimit;
    using A = SensorAlarm;
    using G = SensorGroup;
    using M = MetricsValue;
    return std::array<SensorKindInfo, sensorKindCount>{{
        {SensorKind::temperature,
         "temperature",
         "celsius",
         true,
         {"temp", false, "input", 1e3},
         {L::min, L::max, L::lcrit, L::crit, L::emergency},
         {A::alarm, A::min, A::max, A::lcrit, A::crit, A::emergency},
         true,
         G::other,
         {"temperatures", "Temperatures", "°C", 1},
         {M::none,
          "temperature",
          "temperature sensor",
          "degrees Celsius",
          {L::min, L::max, L::lcrit, L::crit, L::emergency}}},
        {SensorKind::fan,
         "fan",
         "rpm",
         true,
         {"fan", false, "input", 1},
         {L::min, L::max, L::target},
         {A::alarm, A::min, A::max},
         true,
         G::other,
         {"fans", "Fans", "rpm", 0},
         // The maximum is brivane_fan_max_speed_rpm.
         {M::none, "fan", "fan sensor", "revolutions per minute", {L::min, L::target}}},
        {SensorKind::voltage,
         "voltage",
         "volts",
         false,
         {"in", true, "input", 1e3},
         {L::min, L::max, L::lcrit, L::crit},
         {A::alarm, A::min, A::max, A::lcrit, A::crit},
         false,
         G::other,
         {"voltages", "Voltages", "V", 2},
         {M::gauge, "voltage", "voltage sensor", "volts", {L::min, L::max, L::lcrit, L::crit}}},
        {SensorKind::current,
         "current",
         "amperes",
         false,
         {"curr", false, "input", 1e3},
         {L::min, L::max, L::lcrit, L::crit},
         {A::alarm, A::min, A::max, A::lcrit, A::crit},
         false,
         G::other,
         {"currents", "Currents", "A", 2},
         {M::gauge, "current", "current sensor", "amperes", {L::min, L::max, L::lcrit, L::crit}}},
        {SensorKind::power,
         "power",
         "watts",
         true,
         {"power", false, "input", 1e6},
         {L::max, L::crit, L::cap},
         {A::alarm, A::max, A::crit, A::cap},
         false,
         G::other,
         {"power", "Power", "W", 2},
         {M::none, "power", "power sensor", "watts", {L::max, L::crit, L::cap}}},
        {SensorKind::energy,
         "energy",
         "joules",
         false,
         {"energy", false, "input", 1e6},
         {},
         {},
         false,
         G::other,
         {},
         {M::counter, "energy", "energy counter", "joules", {}}},
        {SensorKind::humidity,
         "humidity",
         "percent",
         false,
         {"humidity", false, "input", 1e3},
         {},
         {},
         false,
         G::other,
         {"humidity", "Humidity", "%", 1},
         {M::gauge, "humidity", "humidity sensor", "percent relative humidity", {}}},
        {SensorKind::intrusion,
         "intrusion",
         "",
         false,
         {"intrusion", true, "input", 1},
         {},
         {A::alarm},
         false,
         G::other,
         {"intrusion", "Chassis intrusion", "", 0},
         {}},
        // A fan's control output: its duty cycle, 255 at full speed.
        {SensorKind::pwm,
         "pwm",
         "percent",
         false,
         {"pwm", false, "", 255, 100, false},
         {},
         {},
         false,
         G::other,
         {"fanDuty", "Fan duty", "%", 0},
         {M::gauge, "fan_duty", "fan control output", "percent of full duty", {}}},
    }};
}();

// A kind's row.
constexpr const SensorKindInfo& infoOf(SensorKind kind) {
    constexpr auto rows = [] {
        std::array<std::size_t, sensorKindCount> at{};
        for (std::size_t i = 0; i < sensorKinds.size(); ++i) {
            at[static_cast<std::size_t>(sensorKinds[i].kind)] = i;
        }
        return at;
    }();
    return sensorKinds[rows[static_cast<std::size_t>(kind)]];
}

// The kind of a `sensors` entry's type word; none for a word of a newer agent.
constexpr std::optional<SensorKind> sensorKindOfType(std::string_view type) {
    for (const auto& row : sensorKinds) {
        if (row.type == type) {
            return row.kind;
        }
    }
    return std::nullopt;
}

// Every kind has one row, its words are its own, and its hwmon prefix is no other's.
constexpr bool eachKindOnce() {
    std::array<int, sensorKindCount> rows{};
    for (const auto& row : sensorKinds) {
        ++rows[static_cast<std::size_t>(row.kind)];
        for (const auto& other : sensorKinds) {
            if (&other != &row &&
                (other.type == row.type || other.hwmon.prefix == row.hwmon.prefix)) {
                return false;
            }
        }
    }
    for (const int count : rows) {
        if (count != 1) {
            return false;
        }
    }
    return true;
}
static_assert(eachKindOnce());

// The temperatures a snapshot keeps, in degrees Celsius: 0 and below is a sensor without a
// reading, 150 and above one that no part of a running machine reaches.
constexpr bool isPlausibleCelsius(double celsius) {
    return celsius > 0 && celsius < 150;
}

} // namespace brivane::platform
