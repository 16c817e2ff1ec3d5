#include "metrics_text.h"

#include "optional_list.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>

namespace brivane::cli {
namespace {

using Labels = MetricFamily::Labels;

class Families {
public:
    // The reference stays valid while more families are added.
    MetricFamily& add(const char* name, const char* help) {
        families_.push_back({name, help, false, {}});
        return families_.back();
    }

    static void sample(MetricFamily& family, Labels labels, double value) {
        family.samples.push_back({std::move(labels), value});
    }

    std::vector<MetricFamily> take() && {
        std::vector<MetricFamily> kept;
        for (auto& family : families_) {
            if (!family.samples.empty()) {
                makeLabelSetsUnique(family);
                kept.push_back(std::move(family));
            }
        }
        return kept;
    }

private:
    // Two accessories of the same name, or two sensors that report under one key, would give
    // the same series twice, which consumers reject for the whole scrape. Later ones get " #2",
    // " #3", … on their first label; a series without labels keeps its first value.
    static void makeLabelSetsUnique(MetricFamily& family) {
        auto& metrics = family.samples;
        for (std::size_t i = 1; i < metrics.size(); ++i) {
            auto& labels = metrics[i].labels;
            if (labels.empty()) {
                metrics.resize(1);
                return;
            }
            const std::string original = labels.front().second;
            auto taken = [&] {
                return std::any_of(
                    metrics.begin(), metrics.begin() + static_cast<long>(i),
                    [&](const MetricFamily::Sample& other) { return other.labels == labels; });
            };
            for (int n = 2; taken(); ++n) {
                labels.front().second = original + " #" + std::to_string(n);
            }
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

void addReadings(Families& families, const SensorSnapshot& snapshot) {
    auto& info = families.add("brivane_companion_info",
                              "The answering companion's version, as a label; the value is 1.");
    if (snapshot.companionVersion) {
        Families::sample(info, {{"version", *snapshot.companionVersion}}, 1);
    }

    auto& temperatures =
        families.add("brivane_temperature_celsius", "Temperature of a sensor in degrees Celsius.");
    for (const auto& reading : snapshot.temperatures) {
        Families::sample(temperatures, {{"sensor", reading.key}}, reading.value);
    }

    auto& speeds =
        families.add("brivane_fan_speed_rpm", "Current speed of a fan in revolutions per minute.");
    auto& maxima = families.add("brivane_fan_max_speed_rpm",
                                "Maximum speed of a fan in revolutions per minute.");
    for (const auto& fan : snapshot.fans) {
        auto labels = withOptional({{"fan", std::to_string(fan.id)}}, "name", fan.name);
        if (fan.maximumRPM) {
            Families::sample(maxima, labels, *fan.maximumRPM);
        }
        Families::sample(speeds, std::move(labels), fan.rpm);
    }

    auto& power = families.add("brivane_power_watts", "Power drawn by a source in watts.");
    auto& voltage = families.add("brivane_battery_voltage_volts", "Battery voltage in volts.");
    for (const auto& reading : orEmpty(snapshot.power)) {
        if (reading.key == "BatteryVoltage") {
            Families::sample(voltage, {}, reading.value);
        } else {
            Families::sample(power, {{"source", reading.key}}, reading.value);
        }
    }

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
}

} // namespace

std::vector<MetricFamily> metricFamilies(const SensorSnapshot* snapshot, double scrapeSeconds) {
    Families families;
    Families::sample(families.add("brivane_up", "1 when the agent answered this scrape with a "
                                                "snapshot, 0 when it could not be reached or "
                                                "sent none."),
                     {}, snapshot ? 1 : 0);
    Families::sample(families.add("brivane_scrape_duration_seconds",
                                  "Time this scrape took to get the snapshot from the agent."),
                     {}, scrapeSeconds);
    if (snapshot) {
        addReadings(families, *snapshot);
    }
    return std::move(families).take();
}

namespace {

// Backslash and line feed always; the double quote only inside label values.
void appendEscaped(std::string& out, std::string_view text, bool quote) {
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
    std::string out;
    for (const auto& family : families) {
        out += "# HELP " + family.name + " ";
        appendEscaped(out, family.help, false);
        out += "\n# TYPE " + family.name + (family.counter ? " counter\n" : " gauge\n");
        for (const auto& sample : family.samples) {
            out += family.name;
            for (std::size_t i = 0; i < sample.labels.size(); ++i) {
                out += i == 0 ? "{" : ",";
                out += sample.labels[i].first + "=\"";
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
