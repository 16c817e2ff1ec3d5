#include "history_report.h"

#include "history_time.h"
#include "platform/sensor_kinds.h"
#include "sensors-cli/text_table.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fnmatch.h>
#include <nlohmann/json.hpp>

namespace brivane::cli {
namespace {

std::string shownText(std::optional<float> value, std::string_view unit, bool utf8) {
    if (!value) {
        return "-";
    }
    const double shown = shownValue(*value, unit);
    const int decimals = unit == "rpm" || unit == "" || std::abs(shown) >= 1000 ? 0
                         : unit == "volts" || unit == "amperes"                 ? 2
                                                                                : 1;
    return formatNumber(shown, decimals) + unitSuffix(unit, utf8);
}

// RFC 4180: a field with a comma, quote or line break goes in quotes, its quotes doubled.
std::string csvField(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + '"';
}

// A float as JSON shows it: its shortest form, not the double it widens to (35.2135, not
// 35.213497161865234).
double tidy(float value) {
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::strtod(std::string(text, end).c_str(), nullptr);
}

std::string csvNumber(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.7g", static_cast<double>(value));
    return text;
}

} // namespace

std::vector<const HistorySeries*> pickSeries(const std::vector<HistorySeries>& all,
                                             const std::vector<std::string>& patterns,
                                             std::vector<std::string>& unmatched) {
    std::vector<const HistorySeries*> picked;
    std::vector<bool> used(patterns.size(), false);
    for (const auto& series : all) {
        bool match = patterns.empty();
        for (std::size_t i = 0; i < patterns.size(); ++i) {
            if (::fnmatch(patterns[i].c_str(), series.name.c_str(), 0) == 0) {
                match = used[i] = true;
            }
        }
        if (match) {
            picked.push_back(&series);
        }
    }
    for (std::size_t i = 0; i < patterns.size(); ++i) {
        if (!used[i]) {
            unmatched.push_back(patterns[i]);
        }
    }
    return picked;
}

void summarise(SeriesReport& report) {
    double total = 0, weight = 0;
    for (const auto& point : report.points) {
        report.minimum = std::min(report.minimum.value_or(point.minimum), point.minimum);
        report.maximum = std::max(report.maximum.value_or(point.maximum), point.maximum);
        total += static_cast<double>(point.average) * static_cast<double>(point.weight);
        weight += static_cast<double>(point.weight);
    }
    if (!report.points.empty()) {
        report.average = static_cast<float>(total / weight);
        report.last = report.points.back().average;
        report.lastTime = report.points.back().time;
    }
}

double shownValue(double value, std::string_view unit) {
    return unit == "ratio" ? value * 100 : value;
}

std::string unitSuffix(std::string_view unit, bool utf8) {
    constexpr std::pair<std::string_view, std::string_view> symbols[] = {
        {"celsius", "°C"}, {"rpm", " RPM"}, {"volts", " V"},   {"amperes", " A"}, {"watts", " W"},
        {"joules", " J"},  {"ratio", " %"}, {"seconds", " s"}, {"hertz", " Hz"},  {"bytes", " B"}};
    for (const auto& [word, symbol] : symbols) {
        if (unit == word) {
            return word == "celsius" ? (utf8 ? " °C" : " C") : std::string(symbol);
        }
    }
    return unit.empty() ? std::string() : " " + std::string(unit);
}

std::string historyTable(const HistoryReport& report, bool utf8) {
    using Align = TextTable::Align;
    TextTable table({{"Sensor"},
                     {"Kind"},
                     {"Minimum", Align::right},
                     {"Average", Align::right},
                     {"Maximum", Align::right},
                     {"Last", Align::right}},
                    utf8);
    for (const auto& row : report.series) {
        const auto& unit = row.series->unit;
        table.addRow({row.series->name, row.series->kind, shownText(row.minimum, unit, utf8),
                      shownText(row.average, unit, utf8), shownText(row.maximum, unit, utf8),
                      shownText(row.last, unit, utf8)});
    }
    return table.render();
}

std::string historyJson(const HistoryReport& report) {
    using Json = nlohmann::ordered_json;
    Json sensors = Json::array();
    for (const auto& row : report.series) {
        Json limits = Json::object();
        for (std::size_t i = 0; i < row.series->marks.limits.size(); ++i) {
            if (const auto limit = row.series->marks.limits[i]) {
                limits[std::string(platform::sensorLimitWords[i])] = tidy(*limit);
            }
        }
        Json points = Json::array();
        for (const auto& point : row.points) {
            points.push_back({{"time", utcText(point.time)},
                              {"minimum", tidy(point.minimum)},
                              {"average", tidy(point.average)},
                              {"maximum", tidy(point.maximum)}});
        }
        Json sensor = {
            {"name", row.series->name}, {"kind", row.series->kind}, {"unit", row.series->unit}};
        const auto put = [&sensor](const char* key, std::optional<float> value) {
            sensor[key] = value ? Json(tidy(*value)) : Json(nullptr);
        };
        put("minimum", row.minimum);
        put("average", row.average);
        put("maximum", row.maximum);
        put("last", row.last);
        sensor["lastTime"] = row.last ? Json(utcText(row.lastTime)) : Json(nullptr);
        sensor["limits"] = std::move(limits);
        sensor["points"] = std::move(points);
        sensors.push_back(std::move(sensor));
    }
    const Json document = {{"time", utcText(report.nowMs)},
                           {"since", utcText(report.sinceMs)},
                           {"until", utcText(report.untilMs)},
                           {"sensors", std::move(sensors)}};
    return document.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

std::string historyCsv(const HistoryReport& report) {
    std::string text = "time,sensor,kind,unit,minimum,average,maximum\r\n";
    for (const auto& row : report.series) {
        const std::string series = csvField(row.series->name) + "," + csvField(row.series->kind) +
                                   "," + csvField(row.series->unit) + ",";
        for (const auto& point : row.points) {
            text += utcText(point.time) + "," + series + csvNumber(point.minimum) + "," +
                    csvNumber(point.average) + "," + csvNumber(point.maximum) + "\r\n";
        }
    }
    return text;
}

} // namespace brivane::cli
