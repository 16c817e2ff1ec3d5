#include "view_cells.h"

#include <cmath>

namespace brivane::cli::cells {

ViewCell text(std::string value) {
    return {value, std::move(value)};
}
ViewCell text(const char* value) {
    return text(std::string(value));
}
ViewCell text(const std::optional<std::string>& value) {
    return value ? text(*value) : ViewCell{};
}
ViewCell number(double value, int decimals) {
    return {formatNumber(value, decimals), value};
}
ViewCell integer(std::int64_t value) {
    return {std::to_string(value), value};
}
ViewCell bytes(double value) {
    return {formatBytes(value), value};
}

std::string duration(double seconds) {
    const long long minutes = std::llround(seconds / 60);
    const std::string rest = std::to_string(minutes % 60);
    return std::to_string(minutes / 60) + " h " + (rest.size() < 2 ? "0" : "") + rest + " min";
}

ViewSection figures(std::string key, std::string title, std::string whyEmpty) {
    using Align = TextTable::Align;
    return {std::move(key),
            std::move(title),
            {{"figure", "figure"}, {"value", "value", Align::right}, {"unit", "unit", {}, false}},
            {},
            std::move(whyEmpty)};
}
void addFigure(ViewSection& section, std::string name, ViewValue value, std::string shown,
               std::string unit) {
    section.rows.push_back({{text(std::move(name)),
                             {std::move(shown), std::move(value)},
                             unit.empty() ? ViewCell{} : text(std::move(unit))}});
}
void addNumber(ViewSection& section, std::string name, double value, int decimals,
               std::string unit) {
    auto shown = formatNumber(value, decimals) + (unit.empty() ? "" : " " + unit);
    addFigure(section, std::move(name), value, std::move(shown), std::move(unit));
}

} // namespace brivane::cli::cells
