#include "text_table.h"

#include "terminal_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace brivane::cli {
namespace {

// Display width of UTF-8 text: one column per code point is close enough for names and units.
bool startsCodePoint(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
}
std::size_t displayWidth(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), startsCodePoint));
}

// The length in bytes of the first `columns` code points of the text.
std::size_t prefixBytes(std::string_view text, std::size_t columns) {
    std::size_t at = 0;
    for (std::size_t seen = 0; at < text.size(); ++at) {
        if (startsCodePoint(text[at]) && seen++ == columns) {
            break;
        }
    }
    return at;
}

} // namespace

TextTable::TextTable(std::vector<Column> columns, bool utf8)
    : columns_(std::move(columns)), utf8_(utf8) {
    for (auto& column : columns_) {
        column.title = terminalSafe(column.title);
    }
}

void TextTable::addRow(std::vector<std::string> cells, bool marked) {
    for (std::size_t i = 0; i < cells.size(); ++i) {
        cells[i] = terminalSafe(cells[i]);
        if (i < columns_.size() && !columns_[i].movesBelow &&
            displayWidth(cells[i]) > maxCellWidth) {
            const std::string_view ellipsis = utf8_ ? "…" : "...";
            cells[i].resize(prefixBytes(cells[i], maxCellWidth - displayWidth(ellipsis)));
            cells[i] += ellipsis;
        }
    }
    rows_.push_back(std::move(cells));
    marked_.push_back(marked);
}

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
    std::string line, under;
    auto emit = [&](const std::vector<std::string>& cells, bool marked, bool header) {
        line.assign("  ");
        under.clear();
        bool first = true;
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            const std::string_view cell = i < cells.size() ? cells[i] : std::string_view();
            if (!inLine(i)) {
                if (!header && !cell.empty()) {
                    const std::size_t indent = widths.size() > 1 ? 4 + widths[0] : 4;
                    under.append(indent, ' ').append(cell).append("\n");
                }
                continue;
            }
            const std::size_t padding = widths[i] - displayWidth(cell);
            line += first ? "" : "  ";
            first = false;
            if (columns_[i].align == Align::right) {
                line.append(padding, ' ').append(cell);
            } else {
                line.append(cell).append(padding, ' ');
            }
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        line.append("\n").append(under);
        if (marked && !markOn.empty()) {
            out.append(markOn).append(line, 0, line.size() - 1).append(markOff).append("\n");
        } else {
            out.append(line);
        }
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
