#pragma once

// The alerts' episodes in the recorder's history database: what fires now (alert_state), with
// what its notification said and the desktop's id for it, so a restarted recorder neither
// notifies twice nor loses the notification its recovery replaces; and an event per firing and
// recovery (alert_events) for `brivane-sensors alerts`. While the recorder has no database (a
// file of a newer version, a full disk) the episodes are kept in memory.

#include "alert_store.h"
#include "history/history_store.h"

#include <optional>
#include <string>
#include <vector>

namespace brivane::cli {

class DatabaseAlertStore final : public AlertStore {
public:
    // The database of the recorder's current sample; null while it has none.
    void use(HistoryStore* store) { store_ = store; }

    std::vector<AlertEpisode> firingEpisodes() override;
    void episodeFired(const AlertEpisode& episode) override;
    void episodeRecovered(const FiringAlert& alert, double at,
                          const std::string& recovery) override;

private:
    HistoryStore* store_ = nullptr;
    MemoryAlertStore memory_;
};

// A firing episode as its alert_state row keeps it, and back; nothing for a row this version
// cannot read.
AlertState alertStateOf(const AlertEpisode& episode);
std::optional<AlertEpisode> episodeOf(const AlertState& state);

} // namespace brivane::cli
