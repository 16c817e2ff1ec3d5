#include "history_command.h"

#include "history_files.h"
#include "history_reader.h"
#include "history_report.h"
#include "history_svg.h"
#include "history_time.h"
#include "sensors-cli/terminal.h"
#include "sensors-cli/terminal_text.h"
#include "terminal_plot.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sys/ioctl.h>
#include <unistd.h>

namespace brivane::cli {
namespace {

constexpr std::int64_t defaultSpanMs = 24LL * 3600 * 1000;
// More lines than this in one plot are a tangle.
constexpr std::size_t seriesPerPlot = 6;

// Whether everything printed so far reached standard output; finished() reports it once.
bool outputWhole = true;

void print(std::string_view text) {
    outputWhole = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && outputWhole;
}

// An answer that did not reach the output is not one (a full disk, a closed pipe).
int finished() {
    if (!outputWhole || std::fflush(stdout) != 0) {
        printProblem("history: output not written");
        return notWritten;
    }
    return answered;
}

std::size_t terminalWidth() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    const char* value = std::getenv("COLUMNS");
    const std::string_view columns = value ? value : "";
    std::size_t width = 0;
    const auto [end, error] =
        std::from_chars(columns.data(), columns.data() + columns.size(), width);
    const bool whole = error == std::errc{} && end == columns.data() + columns.size();
    return whole && width >= 40 && width <= 1000 ? width : 80;
}

std::int64_t wallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The picked series in groups of one unit, each of at most seriesPerPlot; `left` counts those
// left out.
std::vector<std::vector<const SeriesReport*>> plotGroups(const HistoryReport& report,
                                                         std::size_t& left) {
    std::map<std::string, std::vector<const SeriesReport*>> byUnit;
    std::vector<std::string> order;
    for (const auto& row : report.series) {
        if (row.points.empty()) {
            continue;
        }
        auto& group = byUnit[row.series->unit];
        if (group.empty()) {
            order.push_back(row.series->unit);
        }
        if (group.size() < seriesPerPlot) {
            group.push_back(&row);
        } else {
            ++left;
        }
    }
    std::vector<std::vector<const SeriesReport*>> groups;
    for (const auto& unit : order) {
        groups.push_back(byUnit[unit]);
    }
    return groups;
}

} // namespace

int runHistory(const CliOptions& options) {
    const std::int64_t now = wallClockMs();
    std::string problem;
    const auto since = options.since ? parseHistoryTime(*options.since, now, problem)
                                     : std::optional(now - defaultSpanMs);
    const auto until =
        options.until ? parseHistoryTime(*options.until, now, problem) : std::optional(now);
    if (!since || !until) {
        printProblem("history: " + problem);
        return usage;
    }
    if (*since >= *until) {
        printProblem("history: --since " + localText(*since, true) + " is not before --until " +
                     localText(*until, true));
        return usage;
    }
    const auto files = historyFiles(problem);
    auto reader = files ? HistoryReader::open(files->database, problem) : std::nullopt;
    if (!reader) {
        printProblem("history: " + problem +
                     "; the recorder keeps it once turned on: systemctl --user enable --now "
                     "brivane-sensors-record.service");
        return noData;
    }
    std::vector<std::string> unmatched;
    const auto picked = pickSeries(reader->series(), options.sensors, unmatched);
    for (const auto& pattern : unmatched) {
        printProblem("history: no sensor in the history matches \"" + pattern + "\"");
    }
    if (picked.empty()) {
        return noData;
    }
    std::vector<std::int64_t> ids;
    for (const auto* series : picked) {
        ids.push_back(series->id);
    }
    auto points = reader->read(ids, *since, *until, now);
    if (!points) {
        printProblem("history: cannot read " + files->database + ": " + reader->lastError());
        return noData;
    }
    HistoryReport report{*since, *until, now, {}};
    for (std::size_t i = 0; i < picked.size(); ++i) {
        report.series.push_back({picked[i], std::move((*points)[i]), {}, {}, {}, {}, 0});
        summarise(report.series.back());
    }
    if (options.plotFile) {
        std::ofstream out(*options.plotFile, std::ios::binary | std::ios::trunc);
        out << historySvg(report);
        out.close();
        if (!out) {
            printProblem("history: cannot write " + *options.plotFile);
            return notWritten;
        }
    }
    if (options.json) {
        print(historyJson(report));
        return finished();
    }
    if (options.csv) {
        print(historyCsv(report));
        return finished();
    }
    const auto terminal = describeTerminal(STDOUT_FILENO);
    print(localText(*since, true) + " to " + localText(*until, true) + "\n");
    print(historyTable(report, terminal.utf8));
    if (options.sensors.empty()) {
        print("\nName sensors to plot them, as in: brivane-sensors history '" +
              terminalSafe(report.series.front().series->name) + "'\n");
        return finished();
    }
    PlotLook look{terminalWidth(), 12, terminal.utf8, !terminal.hotOn.empty()};
    std::size_t left = 0;
    for (const auto& group : plotGroups(report, left)) {
        print("\n" + terminalPlot(group, *since, *until, look));
    }
    if (left > 0) {
        print("\n(" + std::to_string(left) + " more not plotted: name fewer sensors)\n");
    }
    return finished();
}

} // namespace brivane::cli
