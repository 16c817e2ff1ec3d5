#include "sensor_detail_cells.h"

#include <algorithm>
#include <array>

namespace brivane::cli {
namespace {

using Align = TextTable::Align;
using platform::SensorKind;

// A temperature's lower and upper limits are low and high, as sensors(1) calls them.
std::string limitLabel(std::string_view key, SensorKind kind) {
    if (kind == SensorKind::temperature && (key == "min" || key == "max")) {
        return key == "min" ? "low" : "high";
    }
    return key == "lcrit" ? "crit low" : std::string(key);
}

// Why an alarm is raised, in words; empty for a channel's own alarm, which says no more.
std::string alarmLabel(std::string_view key, SensorKind kind) {
    if (kind == SensorKind::intrusion) {
        return "chassis opened";
    }
    if (key == "alarm") {
        return "";
    }
    if (kind == SensorKind::voltage) {
        return key == "min" || key == "lcrit" ? "under-voltage" : "over-voltage";
    }
    return limitLabel(key, kind);
}

} // namespace

Quantity quantityOf(SensorKind kind, bool utf8, bool maxInColumn) {
    const auto& row = platform::infoOf(kind);
    std::string jsonUnit(row.unit);
    if (!jsonUnit.empty() && jsonUnit.front() >= 'a' && jsonUnit.front() <= 'z') {
        jsonUnit.front() = static_cast<char>(jsonUnit.front() - 'a' + 'A');
    }
    constexpr std::string_view degree = "°";
    std::string_view symbol = row.view.symbol;
    if (!utf8 && symbol.starts_with(degree)) {
        symbol.remove_prefix(degree.size());
    }
    return {kind,
            std::string(row.unit),
            std::move(jsonUnit),
            std::string(symbol),
            row.view.decimals,
            maxInColumn};
}

std::vector<ViewColumn> detailColumns(const Quantity& quantity, ViewColumn marks) {
    std::vector<ViewColumn> columns{{"limits", "limits", Align::left, true, true},
                                    std::move(marks),
                                    {"alarm", "", Align::left, false},
                                    {"alarms", "", Align::left, false},
                                    {"fault", "", Align::left, false}};
    for (const auto word : platform::sensorLimitWords) {
        columns.push_back({std::string(word) + quantity.jsonUnit, "", Align::left, false});
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
    for (std::size_t l = 0; l < platform::sensorLimitCount; ++l) {
        const auto word = platform::sensorLimitWords[l];
        const auto value = detail ? detail->*sensorLimitMembers[l] : std::nullopt;
        if (!value || (word == "max" && quantity.maxInColumn)) {
            values.emplace_back();
            continue;
        }
        shown += (shown.empty() ? "" : ", ") + limitLabel(word, quantity.kind) + " " +
                 formatNumber(*value, quantity.decimals) + " " + quantity.symbol;
        values.push_back({{}, *value});
    }
    if (detail && detail->alarms) {
        std::vector<std::string> raised, why;
        const auto note = [&](std::string_view key, const std::optional<bool>& flag) {
            const auto label = alarmLabel(key, quantity.kind);
            if (flag.value_or(false)) {
                raised.emplace_back(key);
                if (!label.empty() && std::find(why.begin(), why.end(), label) == why.end()) {
                    why.push_back(label);
                }
            }
        };
        for (std::size_t a = 0; a < platform::sensorAlarmCount; ++a) {
            note(platform::sensorAlarmWords[a], (*detail->alarms).*sensorAlarmMembers[a]);
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
