#include "view_model.h"

#include "formats/json_writer.h"
#include "terminal_text.h"

#include <cstdio>
#include <ctime>

namespace brivane::cli {
namespace {

std::string utcMilliseconds(std::int64_t ms) {
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm fields{};
    char text[40] = "";
    if (::gmtime_r(&seconds, &fields)) {
        const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &fields);
        std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(ms % 1000));
    }
    return text;
}

std::string identity(const DocumentView& view) {
    if (!view.uid) {
        return {};
    }
    const auto effective = view.effectiveUid.value_or(*view.uid);
    return ", answered by uid " + std::to_string(*view.uid) +
           (effective == *view.uid ? std::string()
                                   : " (effective " + std::to_string(effective) + ")");
}

std::string renderSection(const ViewSection& section, bool utf8, std::string_view markOn,
                          std::string_view markOff) {
    std::vector<TextTable::Column> columns;
    for (const auto& column : section.columns) {
        if (column.shown) {
            columns.push_back({column.title, column.align, column.movesBelow});
        }
    }
    TextTable table(std::move(columns), utf8);
    for (const auto& row : section.rows) {
        std::vector<std::string> cells;
        cells.reserve(row.cells.size());
        for (std::size_t i = 0; i < row.cells.size() && i < section.columns.size(); ++i) {
            if (section.columns[i].shown) {
                cells.push_back(row.cells[i].text);
            }
        }
        table.addRow(std::move(cells), row.marked);
    }
    std::string out = section.title.empty() ? "" : terminalSafe(section.title) + "\n";
    if (table.empty()) {
        out += "  (none" + (section.whyEmpty.empty() ? "" : ": " + terminalSafe(section.whyEmpty)) +
               ")\n";
    } else {
        out += table.render(markOn, markOff);
    }
    if (section.omitted > 0) {
        out += std::string("  ") + (utf8 ? "…" : "...") + " and " +
               std::to_string(section.omitted) + " more (-n N or --all shows them)\n";
    }
    return section.title.empty() ? out : out + "\n";
}

void writeValue(JsonWriter& writer, const ViewValue& value) {
    std::visit(
        [&](const auto& v) {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<V, std::string>) {
                writer.string(v);
            } else if constexpr (std::is_same_v<V, double>) {
                writer.number(v);
            } else if constexpr (std::is_same_v<V, std::int64_t>) {
                writer.integer(v);
            } else if constexpr (std::is_same_v<V, bool>) {
                writer.boolean(v);
            } else if constexpr (std::is_same_v<V, std::vector<std::string>>) {
                writer.beginArray();
                for (const auto& text : v) {
                    writer.string(text);
                }
                writer.endArray();
            }
        },
        value);
}

void writeRows(JsonWriter& writer, const ViewSection& section) {
    writer.beginArray();
    for (const auto& row : section.rows) {
        writer.beginObject();
        for (std::size_t i = 0; i < row.cells.size() && i < section.columns.size(); ++i) {
            if (!std::holds_alternative<std::monostate>(row.cells[i].value)) {
                writer.key(section.columns[i].key);
                writeValue(writer, row.cells[i].value);
            }
        }
        writer.endObject();
    }
    writer.endArray();
}

} // namespace

std::string renderText(const DocumentView& view, bool utf8, std::string_view markOn,
                       std::string_view markOff) {
    std::string out;
    if (!view.heading.empty()) {
        out = terminalSafe(view.heading) + identity(view) + "\n" +
              (view.sections.empty() ? "" : "\n");
    }
    for (const auto& section : view.sections) {
        out += renderSection(section, utf8, markOn, markOff);
    }
    // Fields under a heading alone are its details; after tables they stand on their own.
    const std::string indent = view.sections.empty() ? "  " : "";
    for (const auto& field : view.fields) {
        if (field.shown) {
            out += indent + terminalSafe(field.label) + ": " + terminalSafe(field.cell.text) + "\n";
        }
    }
    return out;
}

std::string renderJson(const DocumentView& view, std::string_view request,
                       std::optional<std::int64_t> answeredMs) {
    std::string out;
    JsonWriter writer(out);
    writer.beginObject();
    writer.key("format");
    writer.integer(jsonViewFormat);
    writer.key("request");
    writer.string(request);
    if (answeredMs) {
        writer.key("time");
        writer.string(utcMilliseconds(*answeredMs));
    }
    if (!view.heading.empty()) {
        writer.key("heading");
        writer.string(view.heading);
    }
    if (view.uid) {
        writer.key("helperUID");
        writer.unsignedInteger(*view.uid);
        writer.key("helperEffectiveUID");
        writer.unsignedInteger(view.effectiveUid.value_or(*view.uid));
    }
    writer.key("sections");
    writer.beginArray();
    for (const auto& section : view.sections) {
        writer.beginObject();
        writer.key("name");
        writer.string(section.key);
        if (!section.title.empty()) {
            writer.key("title");
            writer.string(section.title);
        }
        writer.key("rows");
        writeRows(writer, section);
        if (section.rows.empty() && !section.whyEmpty.empty()) {
            writer.key("none");
            writer.string(section.whyEmpty);
        }
        if (section.omitted > 0) {
            writer.key("omittedRows");
            writer.unsignedInteger(section.omitted);
        }
        writer.endObject();
    }
    writer.endArray();
    for (const auto& field : view.fields) {
        if (!std::holds_alternative<std::monostate>(field.cell.value)) {
            writer.key(field.key);
            writeValue(writer, field.cell.value);
        }
    }
    writer.endObject();
    return out + "\n";
}

std::string renderJsonRows(const ViewSection& section) {
    std::string out;
    JsonWriter writer(out);
    writeRows(writer, section);
    return out + "\n";
}

} // namespace brivane::cli
