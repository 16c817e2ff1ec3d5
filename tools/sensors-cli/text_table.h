#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::cli {

// A plain-text table: a header row, columns padded to their widest cell, numbers right-aligned.
class TextTable {
public:
    enum class Align { left, right };

    struct Column {
        std::string title;
        Align align = Align::left;
        // When the table would pass lineWidth, this column's cells go on a line of their own
        // below their row, under the second column, and its title is left out.
        bool movesBelow = false;
    };

    static constexpr std::size_t lineWidth = 80;
    // A cell in line is cut to this many columns, the last an ellipsis: one long name must not
    // pad every row of its column.
    static constexpr std::size_t maxCellWidth = 64;

    // Titles and cells are shown terminal-safe (terminal_text.h); utf8 picks the ellipsis.
    explicit TextTable(std::vector<Column> columns, bool utf8 = true);

    // A marked row is wrapped in the sequences render() is given (colour for hot sensors and
    // raised alarms).
    void addRow(std::vector<std::string> cells, bool marked = false);
    bool empty() const { return rows_.empty(); }

    // Each line indented by two blanks and ended by a line feed.
    std::string render(std::string_view markOn = {}, std::string_view markOff = {}) const;

private:
    std::vector<Column> columns_;
    std::vector<std::vector<std::string>> rows_;
    std::vector<bool> marked_;
    bool utf8_;
};

// Fixed-point text with the given number of decimals.
std::string formatNumber(double value, int decimals);
// 1536 -> "1.5 KiB"
std::string formatBytes(double bytes);

} // namespace brivane::cli
