#pragma once

// What follows a reading in the views: its limits, the marks of raised alarms and faults, and
// for scripts each limit and flag, from the snapshot's sensors member.

#include "formats/sensor_snapshot.h"
#include "platform/sensor_kinds.h"
#include "view_model.h"

#include <string>
#include <string_view>
#include <vector>

namespace brivane::cli {

using Detail = SensorSnapshot::SensorDetail;

// How a section shows a kind's figures.
struct Quantity {
    platform::SensorKind kind;
    std::string valueKey; // of the JSON member holding the value: "volts"
    std::string jsonUnit; // of the JSON members holding the limits: "Volts" in "maxVolts"
    std::string symbol;   // after a limit: "V"
    int decimals = 1;
    bool maxInColumn = false; // the section has a column of its own for it
};
// As the kind's row says, its symbol without a degree sign where UTF-8 is off.
Quantity quantityOf(platform::SensorKind kind, bool utf8, bool maxInColumn = false);

// What follows a reading's value: its limits (below the row when the table is too wide for
// 80 columns), the marks (the given column: "HOT", "ALARM (crit)", "FAULT"), then for scripts
// the alarm and fault flags and each limit, as "critCelsius".
std::vector<ViewColumn> detailColumns(const Quantity& quantity, ViewColumn marks);
// The cells of detailColumns() for a reading, which has no details on a machine without the
// member; marks start with "HOT" for a hot one.
void addDetailCells(ViewRow& row, const Detail* detail, const Quantity& quantity, bool hot,
                    ViewValue marksValue);
// The limits column shows only where some row has limits, so a machine without them keeps
// its tables as they were.
void hideEmptyLimits(ViewSection& section);

} // namespace brivane::cli
