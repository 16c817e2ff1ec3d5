#include "history_trends.h"

#include "history_files.h"

#include <algorithm>
#include <sys/stat.h>

namespace brivane::cli {
namespace {

constexpr int trendMinutes = 10;
// The recorder's default interval: no new sample can come sooner.
constexpr std::int64_t refreshMs = 10000;
constexpr const char* blocks[] = {"▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};

bool exists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && status.st_size > 0;
}

} // namespace

std::optional<HistoryTrends> HistoryTrends::open() {
    std::string problem;
    const auto files = historyFiles(problem);
    return files ? openFile(files->database) : std::nullopt;
}

std::optional<HistoryTrends> HistoryTrends::openFile(const std::string& path) {
    if (!exists(path)) {
        return std::nullopt;
    }
    return HistoryTrends(path);
}

void HistoryTrends::refresh(std::int64_t nowMs) {
    if (readAt_ != 0 && nowMs - readAt_ < refreshMs && nowMs >= readAt_) {
        return;
    }
    readAt_ = nowMs;
    lines_.clear();
    if (!reader_) {
        std::string problem;
        reader_ = HistoryReader::open(path_, problem);
        if (!reader_) {
            return;
        }
    }
    const auto& series = reader_->series();
    std::vector<std::int64_t> ids;
    for (const auto& one : series) {
        ids.push_back(one.id);
    }
    const std::int64_t end = nowMs / msPerMinute * msPerMinute + msPerMinute;
    const std::int64_t start = end - trendMinutes * msPerMinute;
    // Samples only: ten minutes of them are few, and a minute's average is drawn from them.
    const auto points = reader_->read(ids, start, end, nowMs, {}, 1LL << 62);
    if (!points) {
        reader_.reset(); // read again from scratch next time: the file may have been replaced
        return;
    }
    for (std::size_t i = 0; i < series.size(); ++i) {
        std::array<double, trendMinutes> total{}, count{};
        for (const auto& point : (*points)[i]) {
            const auto slot = static_cast<std::size_t>((point.time - start) / msPerMinute);
            if (slot < trendMinutes) {
                total[slot] += point.average;
                count[slot] += 1;
            }
        }
        std::optional<double> low, high;
        for (int slot = 0; slot < trendMinutes; ++slot) {
            if (count[slot] > 0) {
                total[slot] /= count[slot];
                low = std::min(low.value_or(total[slot]), total[slot]);
                high = std::max(high.value_or(total[slot]), total[slot]);
            }
        }
        if (!low) {
            continue;
        }
        std::string line;
        for (int slot = 0; slot < trendMinutes; ++slot) {
            if (count[slot] == 0) {
                line += ' ';
                continue;
            }
            // A flat series sits low: a line of ▁ reads as "steady".
            const double fraction = *high > *low ? (total[slot] - *low) / (*high - *low) : 0;
            line += blocks[std::clamp(static_cast<int>(fraction * 7.999), 0, 7)];
        }
        lines_[series[i].name] = std::move(line);
    }
}

std::string HistoryTrends::sparkline(const std::string& name, std::int64_t nowMs) {
    refresh(nowMs);
    const auto found = lines_.find(name);
    return found == lines_.end() ? std::string() : found->second;
}

void HistoryTrends::annotate(DocumentView& view, std::int64_t nowMs) {
    refresh(nowMs);
    if (lines_.empty()) {
        return;
    }
    for (auto& section : view.sections) {
        const auto sensor =
            std::find_if(section.columns.begin(), section.columns.end(),
                         [](const ViewColumn& column) { return column.key == "sensor"; });
        if (sensor == section.columns.end()) {
            continue;
        }
        const auto at = static_cast<std::size_t>(sensor - section.columns.begin());
        bool any = false;
        std::vector<std::string> trends;
        for (const auto& row : section.rows) {
            const auto* name =
                at < row.cells.size() ? std::get_if<std::string>(&row.cells[at].value) : nullptr;
            const auto found = name ? lines_.find(*name) : lines_.end();
            trends.push_back(found == lines_.end() ? std::string() : found->second);
            any = any || found != lines_.end();
        }
        if (!any) {
            continue;
        }
        section.columns.push_back({"trend", "Last 10 min", TextTable::Align::left, true, false});
        for (std::size_t r = 0; r < section.rows.size(); ++r) {
            section.rows[r].cells.push_back({trends[r], trends[r]});
        }
    }
}

} // namespace brivane::cli
