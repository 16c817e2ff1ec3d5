#pragma once

// Where the alerts' episodes are kept: the recorder's database, so that an alert firing when
// the recorder stops fires no second time when it starts again, and `brivane-sensors alerts`
// can list what fired.

#include "alert_evaluator.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brivane::cli {

struct AlertEpisode {
    FiringAlert alert;
    AlertSeverity severity = AlertSeverity::warning;
    std::string title;
    std::string body;                  // what the firing said
    std::uint32_t notification = 0;    // the desktop's id of its notification, 0 for none
    std::optional<double> recoveredAt; // none while it fires
    std::string recovery;              // what the recovery said

    bool operator==(const AlertEpisode&) const = default;
};

class AlertStore {
public:
    virtual ~AlertStore() = default;
    // The episodes still firing. Calls never throw: a store that cannot answer answers empty.
    virtual std::vector<AlertEpisode> firingEpisodes() = 0;
    virtual void episodeFired(const AlertEpisode& episode) = 0;
    // The firing episode of alert.rule and alert.reading ends.
    virtual void episodeRecovered(const FiringAlert& alert, double at,
                                  const std::string& recovery) = 0;
};

// A store in memory, for tests and for a recorder without a database.
class MemoryAlertStore final : public AlertStore {
public:
    std::vector<AlertEpisode> firingEpisodes() override;
    void episodeFired(const AlertEpisode& episode) override;
    void episodeRecovered(const FiringAlert& alert, double at,
                          const std::string& recovery) override;

private:
    std::vector<AlertEpisode> episodes_; // oldest first
};

} // namespace brivane::cli
