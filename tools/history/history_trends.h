#pragma once

// The small trend `watch` draws beside each reading: the last ten minutes of the series from
// the history, a block character per minute (▁ to █, a blank for a gap), scaled to the
// series' own range. Only where a recorder keeps a history; the database is read at most once
// per recorder interval, so a frame costs nothing more than a lookup.

#include "history_reader.h"
#include "sensors-cli/view_model.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

namespace brivane::cli {

class HistoryTrends {
public:
    // nullopt when this user keeps no history of this machine (nothing opened, nothing said).
    static std::optional<HistoryTrends> open();
    static std::optional<HistoryTrends> openFile(const std::string& path);

    // A "Trend" column beside each row whose sensor the history has.
    void annotate(DocumentView& view, std::int64_t nowMs);

    // The series' trend over the ten minutes before nowMs; empty when it has none.
    std::string sparkline(const std::string& name, std::int64_t nowMs);

private:
    explicit HistoryTrends(std::string path) : path_(std::move(path)) {}
    void refresh(std::int64_t nowMs);

    std::string path_;
    std::optional<HistoryReader> reader_;
    std::int64_t readAt_ = 0; // when the lines were drawn
    std::unordered_map<std::string, std::string> lines_;
};

} // namespace brivane::cli
