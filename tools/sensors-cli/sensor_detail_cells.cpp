#include "sensor_detail_cells.h"

#include "sensors-common/optional_list.h"

#include <algorithm>
#include <array>

namespace brivane::cli {
namespace {

using Align = TextTable::Align;
using Alarms = SensorSnapshot::SensorAlarms;

// A limit as the sensors member names it, with the flag raised past it.
struct Limit {
    std::optional<double> Detail::*value;
    std::optional<bool> Alarms::*alarm; // null: the limit has none
    std::string_view key;
};
constexpr std::array<Limit, 7> limits{{{&Detail::min, &Alarms::min, "min"},
                                       {&Detail::max, &Alarms::max, "max"},
                                       {&Detail::lcrit, &Alarms::lcrit, "lcrit"},
                                       {&Detail::crit, &Alarms::crit, "crit"},
                                       {&Detail::emergency, &Alarms::emergency, "emergency"},
                                       {&Detail::target, nullptr, "target"},
                                       {&Detail::cap, &Alarms::cap, "cap"}}};

// A temperature's lower and upper limits are low and high, as sensors(1) calls them.
std::string limitLabel(std::string_view key, std::string_view type) {
    if (type == "temperature" && (key == "min" || key == "max")) {
        return key == "min" ? "low" : "high";
    }
    return key == "lcrit" ? "crit low" : std::string(key);
}

// Why an alarm is raised, in words; empty for a channel's own alarm, which says no more.
std::string alarmLabel(std::string_view key, std::string_view type) {
    if (type == "intrusion") {
        return "chassis opened";
    }
    if (key == "alarm") {
        return "";
    }
    if (type == "voltage") {
        return key == "min" || key == "lcrit" ? "under-voltage" : "over-voltage";
    }
    return limitLabel(key, type);
}

} // namespace

DetailsByKey detailsOf(const SensorSnapshot& snapshot, std::string_view type) {
    DetailsByKey found;
    for (const auto& detail : orEmpty(snapshot.sensors)) {
        if (detail.type == type) {
            found.emplace(detail.key, &detail);
        }
    }
    return found;
}
const Detail* detailFor(const DetailsByKey& details, std::string_view key) {
    const auto at = details.find(key);
    return at == details.end() ? nullptr : at->second;
}

std::vector<ViewColumn> detailColumns(const Quantity& quantity, ViewColumn marks) {
    std::vector<ViewColumn> columns{{"limits", "limits", Align::left, true, true},
                                    std::move(marks),
                                    {"alarm", "", Align::left, false},
                                    {"alarms", "", Align::left, false},
                                    {"fault", "", Align::left, false}};
    for (const auto& limit : limits) {
        columns.push_back({std::string(limit.key) + quantity.jsonUnit, "", Align::left, false});
    }
    return columns;
}

void addDetailCells(ViewRow& row, const Detail* detail, const Quantity& quantity, bool hot,
                    ViewValue marksValue) {
    std::vector<std::string> marks;
    if (hot) {
        marks.emplace_back("HOT");
    }
    std::string shown;
    ViewCell alarm, alarms, fault;
    std::vector<ViewCell> values;
    for (const auto& limit : limits) {
        const auto value = detail ? detail->*limit.value : std::nullopt;
        if (!value || (limit.key == "max" && quantity.maxInColumn)) {
            values.emplace_back();
            continue;
        }
        shown += (shown.empty() ? "" : ", ") + limitLabel(limit.key, quantity.type) + " " +
                 formatNumber(*value, quantity.decimals) + " " + quantity.symbol;
        values.push_back({{}, *value});
    }
    if (detail && detail->alarms) {
        std::vector<std::string> raised, why;
        const auto note = [&](std::string_view key, const std::optional<bool>& flag) {
            const auto label = alarmLabel(key, quantity.type);
            if (flag.value_or(false)) {
                raised.emplace_back(key);
                if (!label.empty() && std::find(why.begin(), why.end(), label) == why.end()) {
                    why.push_back(label);
                }
            }
        };
        note("alarm", detail->alarms->alarm);
        for (const auto& limit : limits) {
            if (limit.alarm) {
                note(limit.key, (*detail->alarms).*limit.alarm);
            }
        }
        if (!raised.empty()) {
            std::string reasons;
            for (const auto& reason : why) {
                reasons += (reasons.empty() ? " (" : ", ") + reason;
            }
            marks.push_back("ALARM" + reasons + (reasons.empty() ? "" : ")"));
        }
        alarm = {{}, !raised.empty()};
        alarms = {{}, std::move(raised)};
    }
    if (detail && detail->fault) {
        if (*detail->fault) {
            marks.emplace_back("FAULT");
        }
        fault = {{}, *detail->fault};
    }
    std::string marksText;
    for (const auto& mark : marks) {
        marksText += (marksText.empty() ? "" : " ") + mark;
    }
    row.marked = !marks.empty();
    row.cells.push_back({std::move(shown), {}});
    row.cells.push_back({std::move(marksText), std::move(marksValue)});
    row.cells.push_back(std::move(alarm));
    row.cells.push_back(std::move(alarms));
    row.cells.push_back(std::move(fault));
    row.cells.insert(row.cells.end(), values.begin(), values.end());
}

void hideEmptyLimits(ViewSection& section) {
    for (std::size_t i = 0; i < section.columns.size(); ++i) {
        if (section.columns[i].key == "limits") {
            section.columns[i].shown =
                std::any_of(section.rows.begin(), section.rows.end(),
                            [&](const ViewRow& row) { return !row.cells[i].text.empty(); });
        }
    }
}

} // namespace brivane::cli
