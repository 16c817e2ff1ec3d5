#pragma once

// What a view shows, apart from how: the tables a person reads and the JSON a script reads are
// both written from one DocumentView, so the two cannot drift apart.

#include "text_table.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace brivane::cli {

// A cell's value for scripts, in the unit its column's key names; nothing leaves it out.
using ViewValue =
    std::variant<std::monostate, std::string, double, std::int64_t, bool, std::vector<std::string>>;

struct ViewCell {
    std::string text{}; // as a person reads it
    ViewValue value{};
};

struct ViewColumn {
    std::string key{};   // the member of each JSON row
    std::string title{}; // the table's header
    TextTable::Align align = TextTable::Align::left;
    bool shown = true;       // false: in the JSON rows only
    bool movesBelow = false; // TextTable::Column::movesBelow
};

struct ViewRow {
    std::vector<ViewCell> cells{}; // one per column
    bool marked = false;           // hot, or an alarm or fault raised
};

struct ViewSection {
    std::string key{};   // stable name for scripts
    std::string title{}; // none: the table stands alone
    std::vector<ViewColumn> columns{};
    std::vector<ViewRow> rows{};
    std::string whyEmpty{};  // said when there are no rows
    std::size_t omitted = 0; // rows the document holds beyond those shown
};

struct ViewField {
    std::string key{}, label{};
    ViewCell cell{};
    bool shown = true; // false: in the JSON view only
};

struct DocumentView {
    std::string heading{};
    std::optional<std::uint32_t> uid{}, effectiveUid{}; // who answered
    std::vector<ViewSection> sections{};
    std::vector<ViewField> fields{}; // after the sections
};

// The tables, marked rows wrapped in markOn and markOff.
std::string renderText(const DocumentView& view, bool utf8 = true, std::string_view markOn = {},
                       std::string_view markOff = {});

// Version of the JSON view's layout; raised only when a member changes meaning or goes away.
constexpr int jsonViewFormat = 1;

// {"format":1,"request":…,"time":…,"heading":…,"helperUID":…,"helperEffectiveUID":…,
//  "sections":[{"name":…,"title":…,"rows":[{…}],"none":…,"omittedRows":…}], fields…}
// "time" is when the answer came (answeredMs, ms since the epoch), in UTC to the millisecond
// ("2026-03-01T22:00:10.125Z"), so a script's log needs no clock of its own.
std::string renderJson(const DocumentView& view, std::string_view request,
                       std::optional<std::int64_t> answeredMs = std::nullopt);

// A section's rows as a JSON array of objects, one member per column with a value.
std::string renderJsonRows(const ViewSection& section);

} // namespace brivane::cli
