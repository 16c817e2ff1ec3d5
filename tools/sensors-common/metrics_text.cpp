#include "metrics_text.h"

#include "optional_list.h"
#include "platform/sensor_kinds.h"
#include "platform/snapshot_keys.h"
#include "smc_key_catalogue.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <unordered_map>
#include <unordered_set>

namespace brivane::cli {
namespace {

using Labels = MetricFamily::Labels;
namespace snapshot_key = platform::snapshot_key;

class Families {
public:
    // The reference stays valid while more families are added.
    MetricFamily& add(std::string name, std::string help) {
        families_.push_back({std::move(name), std::move(help), false, {}});
        return families_.back();
    }
    MetricFamily& addCounter(const char* name, const char* help) {
        families_.push_back({name, help, true, {}});
        return families_.back();
    }

    static void sample(MetricFamily& family, Labels labels, double value) {
        family.samples.push_back({std::move(labels), value});
    }

    std::vector<MetricFamily> take() && {
        std::vector<MetricFamily> kept;
        kept.reserve(families_.size());
        for (auto& family : families_) {
            if (!family.samples.empty()) {
                makeLabelSetsUnique(family);
                kept.push_back(std::move(family));
            }
        }
        return kept;
    }

private:
    static std::string joined(const Labels& labels) {
        std::string text;
        for (const auto& [name, value] : labels) {
            text.append(name).append(1, '\0').append(value).append(1, '\1');
        }
        return text;
    }

    // A hash of a label set; equal sets hash equally.
    static std::size_t hashed(const Labels& labels) {
        std::size_t hash = labels.size();
        for (const auto& [name, value] : labels) {
            for (const std::string_view part : {std::string_view(name), std::string_view(value)}) {
                hash = hash * 1000003 ^ std::hash<std::string_view>()(part);
            }
        }
        return hash;
    }

    // Whether two samples may share a label set: only then is the full pass below needed.
    static bool mayRepeat(const std::vector<MetricFamily::Sample>& samples) {
        std::vector<std::size_t> hashes;
        hashes.reserve(samples.size());
        for (const auto& sample : samples) {
            hashes.push_back(hashed(sample.labels));
        }
        std::sort(hashes.begin(), hashes.end());
        return std::adjacent_find(hashes.begin(), hashes.end()) != hashes.end();
    }

    // Two accessories of the same name, or two sensors that report under one key, would give
    // the same series twice, which consumers reject for the whole scrape. Later ones get " #2",
    // " #3", … on their sensor label (else their first); a series without labels keeps its
    // first value. Each label set remembers its next number, so this stays linear.
    static void makeLabelSetsUnique(MetricFamily& family) {
        auto& samples = family.samples;
        if (samples.front().labels.empty()) {
            samples.resize(1);
            return;
        }
        if (!mayRepeat(samples)) {
            return;
        }
        std::unordered_set<std::string> taken;
        std::unordered_map<std::string, int> nextNumber;
        for (auto& sample : samples) {
            auto& labels = sample.labels;
            auto original = joined(labels);
            if (taken.insert(original).second) {
                continue;
            }
            const auto sensor = std::find_if(labels.begin(), labels.end(), [](const auto& label) {
                return label.first == "sensor";
            });
            auto& value = (sensor == labels.end() ? labels.front() : *sensor).second;
            const std::string base = value;
            int& number = nextNumber.try_emplace(std::move(original), 2).first->second;
            do {
                value = base + " #" + std::to_string(number++);
            } while (!taken.insert(joined(labels)).second);
        }
    }

    std::deque<MetricFamily> families_;
};

Labels withOptional(Labels labels, const char* name, const std::optional<std::string>& value) {
    if (value && !value->empty()) {
        labels.push_back({name, *value});
    }
    return labels;
}

void batteryFamilies(Families& families, const SensorSnapshot::BatteryReading& battery) {
    Families::sample(families.add("brivane_battery_level_ratio",
                                  "Charge of the machine's batteries together, 0 to 1."),
                     {}, battery.level);
    if (battery.state) {
        Families::sample(families.add("brivane_battery_state",
                                      "1 for the batteries' state: charging, discharging, full "
                                      "or notCharging."),
                         {{"state", *battery.state}}, 1);
    }
    const auto optional = [&](const char* name, const char* help, std::optional<double> value) {
        if (value) {
            Families::sample(families.add(name, help), {}, *value);
        }
    };
    optional("brivane_battery_power_watts",
             "Power into (charging) or out of (discharging) the batteries in watts.",
             battery.power);
    optional("brivane_battery_time_to_empty_seconds", "Seconds until the batteries are empty.",
             battery.timeToEmpty);
    optional("brivane_battery_time_to_full_seconds", "Seconds until the batteries are full.",
             battery.timeToFull);
    optional("brivane_battery_health_ratio", "Full charge capacity over design capacity.",
             battery.health);
    if (battery.cycleCount) {
        optional("brivane_battery_charge_cycles", "Charge cycles of the battery.",
                 static_cast<double>(*battery.cycleCount));
    }
}

// The chip and the sensor a reading's key names: "<chip>/<sensor>" from the hardware monitors
// (the chip part never holds a slash), else the battery, the energy counters or an SMC key.
// SMC keys the catalogue knows carry its name as `label`.
Labels origin(const std::string& key) {
    if (const auto slash = key.find('/'); slash != std::string::npos) {
        Labels labels;
        labels.reserve(4); // room for the alarms' type and kind
        labels.emplace_back("chip", key.substr(0, slash));
        labels.emplace_back("sensor", key.substr(slash + 1));
        return labels;
    }
    if (key.starts_with("Battery")) {
        return {{"chip", "battery"}, {"sensor", key}};
    }
    if (key == snapshot_key::cpuEnergy || key == snapshot_key::gpuEnergy) {
        return {{"chip", "energy_model"}, {"sensor", key}};
    }
    Labels labels{{"chip", "smc"}, {"sensor", key}};
    if (const auto described = describeSmcKey(key)) {
        labels.push_back({"label", described->name});
    }
    return labels;
}

// A fan by its name, never by its position in the list: "<chip>/<label>" from the hardware
// monitors, else an SMC fan by its descriptor's name or, without one, its key ("F0").
Labels fanOrigin(const SensorSnapshot::FanReading& fan) {
    if (fan.name && fan.name->find('/') != std::string::npos) {
        return origin(*fan.name);
    }
    return {{"chip", "smc"},
            {"sensor", fan.name && !fan.name->empty() ? *fan.name : "F" + std::to_string(fan.id)}};
}

using Detail = SensorSnapshot::SensorDetail;

// Voltages, currents and humidities, the limits each kind has series for, and every alarm and
// fault flag as 0 or 1, named by chip and sensor as the other readings are. Energy counters of
// the monitors join the other energy counters. A type of a newer agent has its flags only.
void addDetails(Families& families, const std::vector<Detail>& details, MetricFamily& energy) {
    std::vector<Labels> origins; // split once: an input has a series in several families
    std::vector<std::optional<platform::SensorKind>> kinds;
    origins.reserve(details.size());
    kinds.reserve(details.size());
    for (const auto& detail : details) {
        origins.push_back(origin(detail.key));
        kinds.push_back(platform::sensorKindOfType(detail.type));
    }
    for (const platform::SensorKindInfo& kind : platform::sensorKinds) {
        const auto& metrics = kind.metrics;
        const std::string unit(kind.unit);
        const std::string prefix = "brivane_" + std::string(metrics.stem) + "_";
        const std::string noun(metrics.noun), words(metrics.unitWords);
        if (metrics.value == platform::MetricsValue::gauge) {
            auto& values =
                families.add(prefix + unit, "Reading of a " + noun + " in " + words + ".");
            for (std::size_t i = 0; i < details.size(); ++i) {
                if (kinds[i] == kind.kind && details[i].value) {
                    Families::sample(values, origins[i], *details[i].value);
                }
            }
        }
        for (std::size_t l = 0; l < platform::sensorLimitCount; ++l) {
            if (!metrics.limits.has(static_cast<platform::SensorLimit>(l))) {
                continue;
            }
            const std::string word(platform::sensorLimitWords[l]);
            auto& limits = families.add(prefix + word + "_" + unit,
                                        "The " + word + " limit its driver reports for a " + noun +
                                            ", in " + words + ".");
            for (std::size_t i = 0; i < details.size(); ++i) {
                if (kinds[i] == kind.kind && details[i].*sensorLimitMembers[l]) {
                    Families::sample(limits, origins[i], *(details[i].*sensorLimitMembers[l]));
                }
            }
        }
    }
    auto& alarms = families.add("brivane_sensor_alarm",
                                "1 while a sensor's alarm or fault flag is raised, else 0; "
                                "`kind` names the limit (alarm: the channel's own).");
    for (std::size_t i = 0; i < details.size(); ++i) {
        const Detail& detail = details[i];
        const auto flag = [&](std::string_view kind, bool raised) {
            Labels labels;
            labels.reserve(origins[i].size() + 2);
            labels = origins[i];
            labels.emplace_back("type", detail.type);
            labels.emplace_back("kind", kind);
            Families::sample(alarms, std::move(labels), raised ? 1 : 0);
        };
        if (kinds[i] &&
            platform::infoOf(*kinds[i]).metrics.value == platform::MetricsValue::counter &&
            detail.value) {
            Families::sample(energy, origins[i], *detail.value);
        }
        for (std::size_t a = 0; a < platform::sensorAlarmCount; ++a) {
            if (detail.alarms && (*detail.alarms).*sensorAlarmMembers[a]) {
                flag(platform::sensorAlarmWords[a], *((*detail.alarms).*sensorAlarmMembers[a]));
            }
        }
        if (detail.fault) {
            flag("fault", *detail.fault);
        }
    }
}

void addReadings(Families& families, const SensorSnapshot& snapshot) {
    auto& info = families.add("brivane_companion_info",
                              "The answering companion's version, as a label; the value is 1.");
    if (snapshot.companionVersion) {
        Families::sample(info, {{"version", *snapshot.companionVersion}}, 1);
    }

    auto& temperatures =
        families.add("brivane_temperature_celsius", "Temperature of a sensor in degrees Celsius.");
    for (const auto& reading : snapshot.temperatures) {
        Families::sample(temperatures, origin(reading.key), reading.value);
    }

    auto& speeds =
        families.add("brivane_fan_speed_rpm", "Current speed of a fan in revolutions per minute.");
    auto& maxima = families.add("brivane_fan_max_speed_rpm",
                                "Maximum speed of a fan in revolutions per minute.");
    for (const auto& fan : snapshot.fans) {
        auto labels = fanOrigin(fan);
        if (fan.maximumRPM) {
            Families::sample(maxima, labels, *fan.maximumRPM);
        }
        Families::sample(speeds, std::move(labels), fan.rpm);
    }

    // The CPU and GPU model power averages over whatever window the last client left; their
    // counters below give Prometheus the rate over its own.
    auto& power = families.add("brivane_power_watts", "Power drawn by a source in watts.");
    auto& voltage = families.add("brivane_battery_voltage_volts", "Battery voltage in volts.");
    for (const auto& reading : orEmpty(snapshot.power)) {
        if (reading.key == snapshot_key::batteryVoltage) {
            Families::sample(voltage, {}, reading.value);
        } else if (reading.key != snapshot_key::cpuModelPower &&
                   reading.key != snapshot_key::gpuModelPower) {
            Families::sample(power, origin(reading.key), reading.value);
        }
    }
    auto& energy = families.addCounter(
        "brivane_energy_joules_total",
        "Energy an energy counter moved by since the agent started, in joules.");
    for (const auto& reading : orEmpty(snapshot.energy)) {
        Families::sample(energy, origin(reading.key), reading.value);
    }
    addDetails(families, orEmpty(snapshot.sensors), energy);

    auto& graphics =
        families.add("brivane_gpu_utilization_ratio",
                     "Busy share of the graphics processor or one of its units, 0 to 1.");
    if (const auto& gpu = snapshot.graphics) {
        Families::sample(graphics, {{"unit", "device"}}, gpu->utilization);
        if (gpu->renderer) {
            Families::sample(graphics, {{"unit", "renderer"}}, *gpu->renderer);
        }
        if (gpu->tiler) {
            Families::sample(graphics, {{"unit", "tiler"}}, *gpu->tiler);
        }
    }

    auto& accessories = families.add("brivane_accessory_battery_ratio",
                                     "Charge level of an accessory's battery, 0 to 1.");
    for (const auto& accessory : orEmpty(snapshot.accessories)) {
        Families::sample(accessories,
                         withOptional({{"name", accessory.name}}, "part", accessory.part),
                         accessory.level);
    }

    if (const auto& battery = snapshot.battery) {
        batteryFamilies(families, *battery);
    }

    if (const auto& sources = snapshot.sources) {
        auto& up = families.add("brivane_source_up",
                                "1 when a sensor back end reads all it found, 0 while a hung read "
                                "keeps some of its sensors out of reach.");
        for (const auto& source : *sources) {
            Families::sample(up, {{"source", source.name}}, source.up ? 1 : 0);
        }
    }
}

} // namespace

std::vector<MetricFamily> metricFamilies(const SensorSnapshot* snapshot, double scrapeSeconds,
                                         const std::vector<ProcessEnergy>& busiest,
                                         std::optional<bool> agentLoaderAltered) {
    Families families;
    Families::sample(families.add("brivane_up", "1 when the agent answered this scrape with a "
                                                "snapshot, 0 when it could not be reached or "
                                                "sent none."),
                     {}, snapshot ? 1 : 0);
    Families::sample(families.add("brivane_scrape_duration_seconds",
                                  "Time this scrape took to get the snapshot from the agent."),
                     {}, scrapeSeconds);
    if (snapshot && agentLoaderAltered) {
        Families::sample(families.add("brivane_agent_loader_altered",
                                      "1 when the agent that answered was started with loader "
                                      "variables (LD_PRELOAD, LD_AUDIT, LD_LIBRARY_PATH, ...) or "
                                      "maps code from outside the system's library folders: "
                                      "whoever started it so can forge its readings."),
                         {}, *agentLoaderAltered ? 1 : 0);
    }
    if (snapshot) {
        addReadings(families, *snapshot);
        auto& processes = families.add(
            "brivane_process_energy_impact",
            "Energy impact of the busiest processes by name, from the agent's energy ranking "
            "(refreshed at most once a minute).");
        for (const auto& process : busiest) {
            Families::sample(processes, {{"name", process.name}}, process.impact);
        }
    }
    return std::move(families).take();
}

void labelEverySample(std::vector<MetricFamily>& families, const std::string& name,
                      const std::string& value) {
    for (auto& family : families) {
        for (auto& sample : family.samples) {
            sample.labels.insert(sample.labels.begin(), {name, value});
        }
    }
}

namespace {

// Backslash and line feed always; the double quote only inside label values.
void appendEscaped(std::string& out, std::string_view text, bool quote) {
    if (std::none_of(text.begin(), text.end(),
                     [quote](char c) { return c == '\\' || c == '\n' || (quote && c == '"'); })) {
        out.append(text);
        return;
    }
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (quote && c == '"') {
            out += "\\\"";
        } else {
            out += c;
        }
    }
}

void appendValue(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NaN";
    } else if (std::isinf(value)) {
        out += value > 0 ? "+Inf" : "-Inf";
    } else {
        char digits[32];
        const auto written = std::to_chars(digits, digits + sizeof digits, value);
        out.append(digits, written.ptr);
    }
}

} // namespace

std::string exposition(const std::vector<MetricFamily>& families) {
    std::size_t size = 0;
    for (const auto& family : families) {
        size += 2 * family.name.size() + family.help.size() + 32;
        for (const auto& sample : family.samples) {
            size += family.name.size() + 28;
            for (const auto& [name, value] : sample.labels) {
                size += name.size() + value.size() + 4;
            }
        }
    }
    std::string out;
    out.reserve(size);
    for (const auto& family : families) {
        out.append("# HELP ").append(family.name).append(1, ' ');
        appendEscaped(out, family.help, false);
        out.append("\n# TYPE ")
            .append(family.name)
            .append(family.counter ? " counter\n" : " gauge\n");
        for (const auto& sample : family.samples) {
            out += family.name;
            for (std::size_t i = 0; i < sample.labels.size(); ++i) {
                out += i == 0 ? '{' : ',';
                out.append(sample.labels[i].first).append("=\"");
                appendEscaped(out, sample.labels[i].second, true);
                out += '"';
            }
            out += sample.labels.empty() ? " " : "} ";
            appendValue(out, sample.value);
            out += '\n';
        }
    }
    return out;
}

} // namespace brivane::cli
