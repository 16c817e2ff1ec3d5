#include "alert_store.h"

namespace brivane::cli {

std::vector<AlertEpisode> MemoryAlertStore::firingEpisodes() {
    std::vector<AlertEpisode> firing;
    for (const auto& episode : episodes_) {
        if (!episode.recoveredAt) {
            firing.push_back(episode);
        }
    }
    return firing;
}

void MemoryAlertStore::episodeFired(const AlertEpisode& episode) {
    episodes_.push_back(episode);
}

void MemoryAlertStore::episodeRecovered(const FiringAlert& alert, double at,
                                        const std::string& recovery) {
    for (auto& episode : episodes_) {
        if (!episode.recoveredAt && episode.alert.rule == alert.rule &&
            episode.alert.reading == alert.reading) {
            episode.recoveredAt = at;
            episode.recovery = recovery;
        }
    }
}

} // namespace brivane::cli
