#include "history_svg.h"

#include "history_time.h"
#include "plot_scale.h"
#include "sensors-cli/text_table.h"

#include <cmath>
#include <cstdio>
#include <map>

namespace brivane::cli {
namespace {

constexpr int pictureWidth = 960;
constexpr int panelHeight = 300;
constexpr int left = 70, right = 20, top = 40, legendLine = 18;
constexpr const char* palette[] = {"#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e",
                                   "#17becf", "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22"};

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// The length of the well-formed UTF-8 sequence at `at`, 0 when there is none.
std::size_t sequenceAt(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const std::size_t length = lead < 0x80             ? 1
                               : (lead & 0xE0) == 0xC0 ? 2
                               : (lead & 0xF0) == 0xE0 ? 3
                               : (lead & 0xF8) == 0xF0 ? 4
                                                       : 0;
    if (length == 0 || at + length > text.size() || (length == 2 && lead < 0xC2)) {
        return 0;
    }
    std::uint32_t code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool invalid =
        (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF || code == 0xFFFE || code == 0xFFFF;
    return overlong || invalid ? 0 : length;
}

} // namespace

std::string xmlEscaped(std::string_view text) {
    std::string escaped;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = sequenceAt(text, at);
        const char c = text[at];
        if (length == 0 || (length == 1 && static_cast<unsigned char>(c) < 0x20 && c != '\t')) {
            escaped += "\xEF\xBF\xBD";
            at += std::max<std::size_t>(length, 1);
            continue;
        }
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&apos;";
            break;
        default:
            escaped.append(text.substr(at, length));
        }
        at += length;
    }
    return escaped;
}

std::string historySvg(const HistoryReport& report) {
    // A panel per unit, in the order the units first come.
    std::vector<std::vector<const SeriesReport*>> panels;
    std::map<std::string, std::size_t> panelOf;
    for (const auto& row : report.series) {
        if (row.points.empty()) {
            continue;
        }
        const auto [found, added] = panelOf.emplace(row.series->unit, panels.size());
        if (added) {
            panels.emplace_back();
        }
        panels[found->second].push_back(&row);
    }
    std::vector<int> heights;
    int height = top;
    for (const auto& panel : panels) {
        heights.push_back(panelHeight + static_cast<int>(panel.size()) * legendLine + 40);
        height += heights.back();
    }
    height = std::max(height + 10, 120);
    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                      std::to_string(pictureWidth) + "\" height=\"" + std::to_string(height) +
                      "\" viewBox=\"0 0 " + std::to_string(pictureWidth) + " " +
                      std::to_string(height) +
                      "\" font-family=\"sans-serif\" font-size=\"12\">\n"
                      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + std::to_string(left) + "\" y=\"24\" font-size=\"15\">" +
           xmlEscaped("Sensor history, " + localText(report.sinceMs, true) + " to " +
                      localText(report.untilMs, true)) +
           "</text>\n";
    if (panels.empty()) {
        svg +=
            "<text x=\"" + std::to_string(left) + "\" y=\"60\">No readings in this time.</text>\n";
    }
    const double plotWidth = pictureWidth - left - right;
    const double span = static_cast<double>(report.untilMs - report.sinceMs);
    int y0 = top;
    std::size_t colour = 0;
    for (std::size_t p = 0; p < panels.size(); ++p) {
        const auto& panel = panels[p];
        const auto scale = plotScale(panel);
        const std::string& unit = panel.front()->series->unit;
        const double plotTop = y0 + 10, plotHeight = panelHeight - 40;
        const auto xOf = [&](std::int64_t time) {
            return left + static_cast<double>(time - report.sinceMs) / span * plotWidth;
        };
        const auto yOf = [&](double shown) {
            return plotTop + (scale.high - shown) / (scale.high - scale.low) * plotHeight;
        };
        svg += "<g class=\"panel\">\n";
        // Value axis: five labelled lines.
        for (int i = 0; i <= 4; ++i) {
            const double value = scale.low + (scale.high - scale.low) * i / 4;
            const std::string y = number(yOf(value));
            svg += "<line x1=\"" + std::to_string(left) + "\" x2=\"" + number(left + plotWidth) +
                   "\" y1=\"" + y + "\" y2=\"" + y + "\" stroke=\"#e0e0e0\"/>\n<text x=\"" +
                   std::to_string(left - 6) + "\" y=\"" + y + "\" dy=\"4\" text-anchor=\"end\">" +
                   xmlEscaped(formatNumber(value, scale.decimals)) + "</text>\n";
        }
        svg += "<text x=\"12\" y=\"" + number(plotTop + plotHeight / 2) +
               "\" transform=\"rotate(-90 12 " + number(plotTop + plotHeight / 2) +
               ")\" text-anchor=\"middle\">" + xmlEscaped(unit) + "</text>\n";
        // Time axis.
        const double axisY = plotTop + plotHeight;
        svg += "<line x1=\"" + std::to_string(left) + "\" x2=\"" + number(left + plotWidth) +
               "\" y1=\"" + number(axisY) + "\" y2=\"" + number(axisY) +
               "\" stroke=\"black\"/>\n<line x1=\"" + std::to_string(left) + "\" x2=\"" +
               std::to_string(left) + "\" y1=\"" + number(plotTop) + "\" y2=\"" + number(axisY) +
               "\" stroke=\"black\"/>\n";
        for (const auto& tick : timeTicks(report.sinceMs, report.untilMs, 10)) {
            const std::string x = number(xOf(tick.time));
            svg += "<line x1=\"" + x + "\" x2=\"" + x + "\" y1=\"" + number(axisY) + "\" y2=\"" +
                   number(axisY + 5) + "\" stroke=\"black\"/>\n<text x=\"" + x + "\" y=\"" +
                   number(axisY + 18) + "\" text-anchor=\"middle\">" + xmlEscaped(tick.label) +
                   "</text>\n";
        }
        for (const auto& limit : scale.limits) {
            const std::string y = number(yOf(limit.value));
            svg += "<line class=\"limit\" x1=\"" + std::to_string(left) + "\" x2=\"" +
                   number(left + plotWidth) + "\" y1=\"" + y + "\" y2=\"" + y + "\" stroke=\"" +
                   (limit.critical ? "#d00000" : "#e0a000") +
                   "\" stroke-dasharray=\"6 4\"/>\n<text x=\"" + number(left + plotWidth - 4) +
                   "\" y=\"" + y + "\" dy=\"-3\" text-anchor=\"end\">" +
                   xmlEscaped(limit.word + " " + formatNumber(limit.value, scale.decimals) +
                              unitSuffix(unit, true)) +
                   "</text>\n";
        }
        double legendY = axisY + 40;
        for (const auto* row : panel) {
            const char* stroke = palette[colour++ % std::size(palette)];
            svg += "<g class=\"series\" data-name=\"" + xmlEscaped(row->series->name) + "\">\n";
            // The average as a line; where minutes or hours sum samples up, their minimum and
            // maximum as a pale band around it.
            std::string line;
            std::vector<std::string> upper, lower;
            bool spread = false;
            const auto flush = [&] {
                if (spread) {
                    std::string band;
                    for (const auto& at : upper) {
                        band += at + " ";
                    }
                    for (auto at = lower.rbegin(); at != lower.rend(); ++at) {
                        band += *at + " ";
                    }
                    band.pop_back();
                    svg += "<polygon class=\"band\" fill=\"" + std::string(stroke) +
                           "\" fill-opacity=\"0.2\" stroke=\"none\" points=\"" + band + "\"/>\n";
                }
                if (!line.empty()) {
                    svg += "<polyline fill=\"none\" stroke=\"" + std::string(stroke) +
                           "\" stroke-width=\"1.5\" points=\"" + line + "\"/>\n";
                }
                line.clear();
                upper.clear();
                lower.clear();
                spread = false;
            };
            const auto at = [&](const HistoryPoint& point, float value) {
                return number(xOf(point.time + point.span / 2)) + "," +
                       number(yOf(shownValue(value, row->series->unit)));
            };
            for (std::size_t i = 0; i < row->points.size(); ++i) {
                const auto& point = row->points[i];
                if (i > 0 && gapBetween(row->points[i - 1], point)) {
                    flush();
                }
                line += (line.empty() ? "" : " ") + at(point, point.average);
                upper.push_back(at(point, point.maximum));
                lower.push_back(at(point, point.minimum));
                spread = spread || point.minimum != point.maximum;
            }
            flush();
            svg += "<rect x=\"" + std::to_string(left) + "\" y=\"" + number(legendY - 10) +
                   "\" width=\"14\" height=\"4\" fill=\"" + stroke + "\"/>\n<text x=\"" +
                   std::to_string(left + 20) + "\" y=\"" + number(legendY - 5) + "\">" +
                   xmlEscaped(row->series->name + " (" + row->series->kind + ")") +
                   "</text>\n</g>\n";
            legendY += legendLine;
        }
        svg += "</g>\n";
        y0 += heights[p];
    }
    svg += "</svg>\n";
    return svg;
}

} // namespace brivane::cli
