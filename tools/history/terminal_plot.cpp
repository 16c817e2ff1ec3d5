#include "terminal_plot.h"

#include "plot_scale.h"
#include "sensors-cli/terminal_text.h"
#include "sensors-cli/text_table.h"

#include <algorithm>
#include <cmath>

namespace brivane::cli {
namespace {

constexpr const char* colours[] = {"\x1b[36m", "\x1b[35m", "\x1b[32m",
                                   "\x1b[34m", "\x1b[33m", "\x1b[37m"};
constexpr const char* colourOff = "\x1b[0m";
constexpr const char* criticalColour = "\x1b[31m";
constexpr const char* limitColour = "\x1b[33m";

// A canvas of character cells, each 2×4 dots (braille) or one ('*').
class Canvas {
public:
    Canvas(std::size_t columns, std::size_t rows, bool braille)
        : columns_(columns), rows_(rows), braille_(braille), dots_(columns * rows, 0),
          owner_(columns * rows, -1) {}

    std::size_t width() const { return columns_ * (braille_ ? 2 : 1); }
    std::size_t height() const { return rows_ * (braille_ ? 4 : 1); }

    // Dot (x, y), y counted from the top.
    void set(std::size_t x, std::size_t y, int series) {
        if (x >= width() || y >= height()) {
            return;
        }
        const std::size_t cx = braille_ ? x / 2 : x, cy = braille_ ? y / 4 : y;
        static constexpr std::uint8_t bits[4][2] = {
            {0x01, 0x08}, {0x02, 0x10}, {0x04, 0x20}, {0x40, 0x80}};
        dots_[cy * columns_ + cx] |= braille_ ? bits[y % 4][x % 2] : 1;
        owner_[cy * columns_ + cx] = series;
    }
    void column(std::size_t x, std::size_t fromY, std::size_t toY, int series) {
        for (std::size_t y = std::min(fromY, toY); y <= std::max(fromY, toY); ++y) {
            set(x, y, series);
        }
    }

    std::uint8_t dots(std::size_t cx, std::size_t cy) const { return dots_[cy * columns_ + cx]; }
    int owner(std::size_t cx, std::size_t cy) const { return owner_[cy * columns_ + cx]; }

    std::string glyph(std::size_t cx, std::size_t cy) const {
        const std::uint8_t d = dots(cx, cy);
        if (!braille_) {
            return d ? "*" : " ";
        }
        const unsigned code = 0x2800u + d;
        return {static_cast<char>(0xE0 | (code >> 12)),
                static_cast<char>(0x80 | ((code >> 6) & 0x3F)),
                static_cast<char>(0x80 | (code & 0x3F))};
    }

private:
    std::size_t columns_, rows_;
    bool braille_;
    std::vector<std::uint8_t> dots_;
    std::vector<int> owner_;
};

std::string padLeft(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

} // namespace

std::string terminalPlot(const std::vector<const SeriesReport*>& series, std::int64_t sinceMs,
                         std::int64_t untilMs, const PlotLook& look) {
    if (series.empty() || untilMs <= sinceMs) {
        return {};
    }
    const auto scale = plotScale(series);
    const std::string unit = unitSuffix(series.front()->series->unit, look.utf8);
    const auto label = [&](double value) { return formatNumber(value, scale.decimals); };
    const std::size_t rows = std::max<std::size_t>(look.height, 3);
    const auto rowValue = [&](std::size_t row) {
        return scale.high - (scale.high - scale.low) * (static_cast<double>(row) + 0.5) /
                                static_cast<double>(rows);
    };
    const std::size_t margin =
        std::max({label(scale.high).size(), label(scale.low).size(), label(rowValue(0)).size(),
                  label(rowValue(rows - 1)).size()}) +
        1;
    const std::size_t columns = look.width > margin + 21 ? look.width - margin - 1 : 20;
    Canvas canvas(columns, rows, look.utf8);
    const double xScale =
        static_cast<double>(canvas.width()) / static_cast<double>(untilMs - sinceMs);
    const auto xOf = [&](std::int64_t time) {
        return static_cast<std::size_t>(
            std::clamp(static_cast<double>(time - sinceMs) * xScale, 0.0, canvas.width() - 1.0));
    };
    const auto yOf = [&](double shown) {
        const double fraction = (scale.high - shown) / (scale.high - scale.low);
        return static_cast<std::size_t>(
            std::clamp(fraction * canvas.height(), 0.0, canvas.height() - 1.0));
    };
    for (std::size_t k = 0; k < series.size(); ++k) {
        const auto& points = series[k]->points;
        const auto& word = series[k]->series->unit;
        const int owner = static_cast<int>(k);
        for (std::size_t i = 0; i < points.size(); ++i) {
            const auto& point = points[i];
            const std::size_t x = xOf(point.time + point.span / 2);
            canvas.column(x, yOf(shownValue(point.minimum, word)),
                          yOf(shownValue(point.maximum, word)), owner);
            if (i == 0 || gapBetween(points[i - 1], point)) {
                continue;
            }
            // Joined to the point before: a line through the columns between.
            const auto& before = points[i - 1];
            const std::size_t x0 = xOf(before.time + before.span / 2);
            const double y0 = shownValue(before.average, word),
                         y1 = shownValue(point.average, word);
            std::size_t lastY = yOf(y0);
            for (std::size_t at = x0 + 1; at <= x; ++at) {
                const double t = x == x0 ? 1.0 : double(at - x0) / double(x - x0);
                const std::size_t y = yOf(y0 + (y1 - y0) * t);
                canvas.column(at, lastY, y, owner);
                lastY = y;
            }
        }
    }
    // Which limit, if any, runs through each row.
    std::vector<const PlotLimit*> limitRow(rows, nullptr);
    for (const auto& limit : scale.limits) {
        const std::size_t row = yOf(limit.value) / (look.utf8 ? 4 : 1);
        if (!limitRow[row] || limit.critical) {
            limitRow[row] = &limit;
        }
    }
    const auto paint = [&](std::string& line, const char* colour, const std::string& text) {
        if (look.colour) {
            line += colour;
            line += text;
            line += colourOff;
        } else {
            line += text;
        }
    };
    std::string text;
    for (std::size_t row = 0; row < rows; ++row) {
        const bool labelled = row == 0 || row == rows - 1 || row == rows / 2;
        text += padLeft(labelled ? label(rowValue(row)) : "", margin - 1);
        text += look.utf8 ? (labelled ? "┤" : "│") : "|";
        for (std::size_t cx = 0; cx < columns; ++cx) {
            if (canvas.dots(cx, row) != 0) {
                paint(text, colours[canvas.owner(cx, row) % std::size(colours)],
                      canvas.glyph(cx, row));
            } else if (const auto* limit = limitRow[row]) {
                paint(text, limit->critical ? criticalColour : limitColour, look.utf8 ? "╌" : "-");
            } else {
                text += ' ';
            }
        }
        text += '\n';
    }
    text += std::string(margin - 1, ' ') + (look.utf8 ? "└" : "+");
    const auto ticks = timeTicks(sinceMs, untilMs, columns / 12);
    std::string axis(columns, ' ');
    std::string labels(columns + margin + 8, ' ');
    for (const auto& tick : ticks) {
        const std::size_t at = xOf(tick.time) / (look.utf8 ? 2 : 1);
        if (at < columns) {
            axis[at] = '+';
        }
        const std::size_t start = margin + at - std::min(at, tick.label.size() / 2);
        if (start + tick.label.size() <= labels.size()) {
            labels.replace(start, tick.label.size(), tick.label);
        }
    }
    for (const char c : axis) {
        text += c == '+' ? (look.utf8 ? "┬" : "+") : (look.utf8 ? "─" : "-");
    }
    text += '\n';
    while (!labels.empty() && labels.back() == ' ') {
        labels.pop_back();
    }
    text += labels + '\n';
    // The legend: each series in its colour, then the limits.
    std::string legend = std::string(margin, ' ');
    for (std::size_t k = 0; k < series.size(); ++k) {
        paint(legend, colours[k % std::size(colours)], look.utf8 ? "⣿" : "*");
        legend += " " + terminalSafe(series[k]->series->name) + "  ";
    }
    for (const auto& limit : scale.limits) {
        paint(legend, limit.critical ? criticalColour : limitColour, look.utf8 ? "╌" : "-");
        legend += " " + limit.word + " " + label(limit.value) + unit + "  ";
    }
    while (!legend.empty() && legend.back() == ' ') {
        legend.pop_back();
    }
    text += legend + '\n';
    return text;
}

} // namespace brivane::cli
