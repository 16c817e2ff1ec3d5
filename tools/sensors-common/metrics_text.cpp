#include "metrics_text.h"

#include "optional_list.h"
#include "platform/sensor_kinds.h"
#include "platform/snapshot_keys.h"
#include "smc_key_catalogue.h"
#include "snapshot_walk.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <unordered_map>
#include <unordered_set>

namespace brivane::cli {
namespace {

using Labels = MetricFamily::Labels;
using Detail = SensorSnapshot::SensorDetail;
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

// The chip and the sensor a reading's key names: "<chip>/<sensor>" from the hardware monitors
// (the chip part never holds a slash), else the battery, the energy counters or an SMC key.
// SMC keys the catalogue knows carry its name as `label`.
Labels origin(std::string_view key) {
    if (const auto slash = key.find('/'); slash != std::string::npos) {
        Labels labels;
        labels.reserve(4); // room for the alarms' type and kind
        labels.emplace_back("chip", key.substr(0, slash));
        labels.emplace_back("sensor", key.substr(slash + 1));
        return labels;
    }
    if (key.starts_with("Battery")) {
        return {{"chip", "battery"}, {"sensor", std::string(key)}};
    }
    if (key == snapshot_key::cpuEnergy || key == snapshot_key::gpuEnergy) {
        return {{"chip", "energy_model"}, {"sensor", std::string(key)}};
    }
    Labels labels{{"chip", "smc"}, {"sensor", std::string(key)}};
    if (const auto described = describeSmcKey(key)) {
        labels.push_back({"label", described->name});
    }
    return labels;
}

// A fan by its name, never by its position in the list: "<chip>/<label>" from the hardware
// monitors, else an SMC fan by its descriptor's name or, without one, its key ("F0").
Labels fanOrigin(std::string_view name) {
    if (name.find('/') != std::string_view::npos) {
        return origin(name);
    }
    return {{"chip", "smc"}, {"sensor", std::string(name)}};
}

// The families of a snapshot's readings in the order they are served, each series of the walk
// sampled into those of its figure.
class ReadingFamilies {
public:
    explicit ReadingFamilies(Families& families);

    void companion(const std::optional<std::string>& version) {
        if (version) {
            Families::sample(*info_, {{"version", *version}}, 1);
        }
    }

    void add(const Series& series) {
        namespace key = platform::snapshot_key;
        switch (series.figure) {
        case Figure::temperature:
            return Families::sample(*temperatures_, origin(series.name), *series.value);
        case Figure::fan: {
            auto labels = fanOrigin(series.name);
            if (series.fan->maximumRPM) {
                Families::sample(*maxima_, labels, *series.fan->maximumRPM);
            }
            // A minimum without a `sensors` entry (an SMC fan's) joins the entries' family.
            const auto* detail = series.detail();
            const auto minimum = platform::SensorLimit::min;
            if (series.fan->minimumRPM && !(detail && detail->min)) {
                Families::sample(*kinds_[static_cast<std::size_t>(platform::SensorKind::fan)]
                                      .limits[static_cast<std::size_t>(minimum)],
                                 labels, *series.fan->minimumRPM);
            }
            return Families::sample(*speeds_, std::move(labels), *series.value);
        }
        case Figure::power:
            if (series.name == key::batteryVoltage) {
                return Families::sample(*voltage_, {}, *series.value);
            }
            if (series.name != key::cpuModelPower && series.name != key::gpuModelPower) {
                Families::sample(*power_, origin(series.name), *series.value);
            }
            return;
        case Figure::graphics:
            return Families::sample(*graphics_, {{"unit", std::string(series.part)}},
                                    *series.value);
        case Figure::accessory:
            return Families::sample(
                *accessories_,
                withOptional({{"name", series.accessory->name}}, "part", series.accessory->part),
                *series.value);
        case Figure::batteryLevel:
            return Families::sample(*batteryLevel_, {}, *series.value);
        case Figure::batteryState:
            return Families::sample(*batteryState_, {{"state", std::string(series.text)}}, 1);
        case Figure::batteryPower:
            return Families::sample(*batteryPower_, {}, *series.value);
        case Figure::batteryTimeToEmpty:
            return Families::sample(*timeToEmpty_, {}, *series.value);
        case Figure::batteryTimeToFull:
            return Families::sample(*timeToFull_, {}, *series.value);
        case Figure::batteryHealth:
            return Families::sample(*health_, {}, *series.value);
        case Figure::batteryCycles:
            return Families::sample(*cycles_, {}, *series.value);
        case Figure::energy:
            return Families::sample(*energy_, origin(series.name), *series.value);
        case Figure::source:
            return Families::sample(*sources_, {{"source", std::string(series.text)}},
                                    *series.value);
        case Figure::retiredFiles:
            return Families::sample(*retired_, {{"source", std::string(series.text)}},
                                    *series.value);
        case Figure::sensor:
            return addSensor(series);
        case Figure::gpu:
            return addCard(series);
        }
    }

private:
    // A row of the families in the order they are served: a family of its own, or the place of
    // every sensor kind's families or every card part's.
    enum class Shape { gauge, counter, eachKind, eachCardPart };
    using enum Shape;
    struct FamilyRow {
        Shape shape;
        MetricFamily* ReadingFamilies::*member = nullptr;
        const char* name = nullptr;
        const char* help = nullptr;
    };
    static const FamilyRow familyRows[];

    struct KindFamilies {
        MetricFamily* value = nullptr; // null: its values are served elsewhere or not at all
        std::array<MetricFamily*, platform::sensorLimitCount> limits{};
    };

    void addKindFamilies(Families& families, const platform::SensorKindInfo& kind) {
        const auto& metrics = kind.metrics;
        const std::string unit(kind.unit), noun(metrics.noun), words(metrics.unitWords);
        const std::string prefix = "brivane_" + std::string(metrics.stem) + "_";
        KindFamilies& own = kinds_[static_cast<std::size_t>(kind.kind)];
        if (metrics.value == platform::MetricsValue::gauge) {
            own.value = &families.add(prefix + unit, "Reading of a " + noun + " in " + words + ".");
        } else if (metrics.value == platform::MetricsValue::counter) {
            own.value = energy_;
        }
        for (std::size_t l = 0; l < platform::sensorLimitCount; ++l) {
            if (metrics.limits.has(static_cast<platform::SensorLimit>(l))) {
                const std::string word(platform::sensorLimitWords[l]);
                own.limits[l] = &families.add(prefix + word + "_" + unit,
                                              "The " + word + " limit its driver reports for a " +
                                                  noun + ", in " + words + ".");
            }
        }
    }

    // Voltages, currents and the like, the limits each kind has series for, and every alarm
    // and fault flag as 0 or 1, named by chip and sensor as the other readings are. A type of
    // a newer agent has its flags only.
    void addSensor(const Series& series) {
        const Detail& detail = *series.entry;
        const Labels labels = origin(series.name);
        if (series.kind) {
            const KindFamilies& own = kinds_[static_cast<std::size_t>(*series.kind)];
            if (own.value && series.value) {
                Families::sample(*own.value, labels, *series.value);
            }
            for (std::size_t l = 0; l < platform::sensorLimitCount; ++l) {
                if (own.limits[l] && detail.*sensorLimitMembers[l]) {
                    Families::sample(*own.limits[l], labels, *(detail.*sensorLimitMembers[l]));
                }
            }
        }
        const auto flag = [&](std::string_view kind, bool raised) {
            Labels flagged;
            flagged.reserve(labels.size() + 2);
            flagged = labels;
            flagged.emplace_back("type", detail.type);
            flagged.emplace_back("kind", kind);
            Families::sample(*alarms_, std::move(flagged), raised ? 1 : 0);
        };
        for (std::size_t a = 0; a < platform::sensorAlarmCount; ++a) {
            if (detail.alarms && (*detail.alarms).*sensorAlarmMembers[a]) {
                flag(platform::sensorAlarmWords[a], *((*detail.alarms).*sensorAlarmMembers[a]));
            }
        }
        if (detail.fault) {
            flag("fault", *detail.fault);
        }
    }

    // A card's figure, named by the card, its PCI address and its driver where it has them; a
    // state the card does not tell is left out.
    void addCard(const Series& series) {
        const auto& card = *series.gpu;
        const auto family = std::find_if(cards_.begin(), cards_.end(),
                                         [&](const auto& own) { return own.first == series.part; });
        if (!series.value || family == cards_.end()) {
            return;
        }
        Labels labels =
            withOptional(withOptional({}, "card", card.card), "pci_address", card.pciAddress);
        Families::sample(*family->second, withOptional(std::move(labels), "driver", card.driver),
                         *series.value);
    }

    // The walk's parts of a card, each with its family.
    struct CardFamilyName {
        std::string_view part;
        const char* name;
        const char* help;
    };
    static constexpr std::array<CardFamilyName, 6> cardFamilyNames = {{
        {"state", "brivane_gpu_card_asleep",
         "1 while a graphics card is runtime-suspended (asleep), 0 while it is awake."},
        {"utilization", "brivane_gpu_card_utilization_ratio",
         "Busy share of a graphics card, 0 to 1."},
        {"memoryUsed", "brivane_gpu_card_memory_used_bytes",
         "Bytes of a graphics card's own memory in use."},
        {"memoryTotal", "brivane_gpu_card_memory_total_bytes",
         "Bytes of a graphics card's own memory."},
        {"power", "brivane_gpu_card_power_watts", "Power a graphics card draws, in watts."},
        {"temperature", "brivane_gpu_card_temperature_celsius",
         "Temperature of a graphics card in degrees Celsius."},
    }};

    MetricFamily *info_, *temperatures_, *speeds_, *maxima_, *power_, *voltage_, *energy_;
    std::vector<std::pair<std::string_view, MetricFamily*>> cards_;
    std::array<KindFamilies, platform::sensorKindCount> kinds_{};
    MetricFamily *alarms_, *graphics_, *accessories_;
    MetricFamily *batteryLevel_, *batteryState_, *batteryPower_, *timeToEmpty_, *timeToFull_,
        *health_, *cycles_;
    MetricFamily *sources_, *retired_;
};

const ReadingFamilies::FamilyRow ReadingFamilies::familyRows[] = {
    {gauge, &ReadingFamilies::info_, "brivane_companion_info",
     "The answering companion's version, as a label; the value is 1."},
    {gauge, &ReadingFamilies::temperatures_, "brivane_temperature_celsius",
     "Temperature of a sensor in degrees Celsius."},
    {gauge, &ReadingFamilies::speeds_, "brivane_fan_speed_rpm",
     "Current speed of a fan in revolutions per minute."},
    {gauge, &ReadingFamilies::maxima_, "brivane_fan_max_speed_rpm",
     "Maximum speed of a fan in revolutions per minute."},
    // The CPU and GPU model power averages over whatever window the last client left; their
    // energy counters give Prometheus the rate over its own.
    {gauge, &ReadingFamilies::power_, "brivane_power_watts", "Power drawn by a source in watts."},
    {gauge, &ReadingFamilies::voltage_, "brivane_battery_voltage_volts",
     "Battery voltage in volts."},
    {counter, &ReadingFamilies::energy_, "brivane_energy_joules_total",
     "Energy an energy counter moved by since the agent started, in joules."},
    {eachKind},
    {gauge, &ReadingFamilies::alarms_, "brivane_sensor_alarm",
     "1 while a sensor's alarm or fault flag is raised, else 0; "
     "`kind` names the limit (alarm: the channel's own)."},
    {gauge, &ReadingFamilies::graphics_, "brivane_gpu_utilization_ratio",
     "Busy share of the graphics processor or one of its units, 0 to 1."},
    {eachCardPart},
    {gauge, &ReadingFamilies::accessories_, "brivane_accessory_battery_ratio",
     "Charge level of an accessory's battery, 0 to 1."},
    {gauge, &ReadingFamilies::batteryLevel_, "brivane_battery_level_ratio",
     "Charge of the machine's batteries together, 0 to 1."},
    {gauge, &ReadingFamilies::batteryState_, "brivane_battery_state",
     "1 for the batteries' state: charging, discharging, full or notCharging."},
    {gauge, &ReadingFamilies::batteryPower_, "brivane_battery_power_watts",
     "Power into (charging) or out of (discharging) the batteries in watts."},
    {gauge, &ReadingFamilies::timeToEmpty_, "brivane_battery_time_to_empty_seconds",
     "Seconds until the batteries are empty."},
    {gauge, &ReadingFamilies::timeToFull_, "brivane_battery_time_to_full_seconds",
     "Seconds until the batteries are full."},
    {gauge, &ReadingFamilies::health_, "brivane_battery_health_ratio",
     "Full charge capacity over design capacity."},
    {gauge, &ReadingFamilies::cycles_, "brivane_battery_charge_cycles",
     "Charge cycles of the battery."},
    {gauge, &ReadingFamilies::sources_, "brivane_source_up",
     "1 when a sensor back end reads all it found, 0 while a hung read keeps some of its "
     "sensors out of reach."},
    {gauge, &ReadingFamilies::retired_, "brivane_source_retired_files",
     "Files of a sensor back end not read for now because they kept failing; each is looked "
     "at again now and then."},
};

ReadingFamilies::ReadingFamilies(Families& families) {
    for (const auto& row : familyRows) {
        switch (row.shape) {
        case Shape::gauge:
            this->*row.member = &families.add(row.name, row.help);
            break;
        case Shape::counter:
            this->*row.member = &families.addCounter(row.name, row.help);
            break;
        case Shape::eachKind:
            for (const auto& kind : platform::sensorKinds) {
                addKindFamilies(families, kind);
            }
            break;
        case Shape::eachCardPart:
            for (const auto& [part, name, help] : cardFamilyNames) {
                cards_.push_back({part, &families.add(name, help)});
            }
            break;
        }
    }
}

void addReadings(Families& families, const SensorSnapshot& snapshot) {
    ReadingFamilies readings(families);
    readings.companion(snapshot.companionVersion);
    walkSnapshot(snapshot, [&readings](const Series& series) { readings.add(series); });
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
