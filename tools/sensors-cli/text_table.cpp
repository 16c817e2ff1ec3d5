#include "text_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace brivane::cli {
namespace {

// Display width of UTF-8 text: one column per code point is close enough for names and units.
std::size_t displayWidth(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

} // namespace

std::string TextTable::render(std::string_view markOn, std::string_view markOff) const {
    std::vector<std::size_t> widths;
    for (const auto& column : columns_) {
        widths.push_back(displayWidth(column.title));
    }
    for (const auto& row : rows_) {
        for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
            widths[i] = std::max(widths[i], displayWidth(row[i]));
        }
    }
    std::size_t total = 0;
    for (const auto width : widths) {
        total += 2 + width;
    }
    const bool below =
        total > lineWidth && std::any_of(columns_.begin(), columns_.end(),
                                         [](const Column& column) { return column.movesBelow; });
    const auto inLine = [&](std::size_t i) { return !(below && columns_[i].movesBelow); };
    std::string out;
    auto emit = [&](const std::vector<std::string>& cells, bool marked, bool header) {
        std::string line = "  ", under;
        bool first = true;
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            const std::string cell = i < cells.size() ? cells[i] : std::string();
            if (!inLine(i)) {
                if (!header && !cell.empty()) {
                    const std::size_t indent = widths.size() > 1 ? 4 + widths[0] : 4;
                    under += std::string(indent, ' ') + cell + "\n";
                }
                continue;
            }
            const std::string padding(widths[i] - displayWidth(cell), ' ');
            line += first ? "" : "  ";
            first = false;
            line += columns_[i].align == Align::right ? padding + cell : cell + padding;
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        line += "\n" + under;
        out += marked && !markOn.empty() ? std::string(markOn) + line.substr(0, line.size() - 1) +
                                               std::string(markOff) + "\n"
                                         : line;
    };
    std::vector<std::string> titles;
    for (const auto& column : columns_) {
        titles.push_back(column.title);
    }
    emit(titles, false, true);
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        emit(rows_[i], marked_[i], false);
    }
    return out;
}

std::string formatNumber(double value, int decimals) {
    if (!std::isfinite(value)) {
        return "-";
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string formatBytes(double bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    std::size_t unit = 0;
    while (std::fabs(bytes) >= 1024 && unit + 1 < std::size(units)) {
        bytes /= 1024;
        ++unit;
    }
    return formatNumber(bytes, unit == 0 ? 0 : 1) + " " + units[unit];
}

} // namespace brivane::cli
