#include "database_alert_store.h"

#include "rule_values.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace brivane::cli {
namespace {

constexpr std::string_view detailVersion = "1";

// One field per line: line feeds and backslashes in the texts escaped.
std::string escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            out += text[++i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

std::int64_t milliseconds(double seconds) {
    return std::llround(seconds * 1000);
}

std::optional<AlertSeverity> severityOf(std::string_view word) {
    for (const auto severity :
         {AlertSeverity::info, AlertSeverity::warning, AlertSeverity::critical}) {
        if (wordOf(severity) == word) {
            return severity;
        }
    }
    return std::nullopt;
}

template <typename Number> std::optional<Number> numberOf(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(value) || value < 0 ||
        value > 4294967295.0) {
        return std::nullopt;
    }
    return static_cast<Number>(value);
}

} // namespace

AlertState alertStateOf(const AlertEpisode& episode) {
    std::ostringstream detail;
    detail.precision(17);
    detail << detailVersion << '\n';
    if (episode.alert.threshold) {
        detail << *episode.alert.threshold;
    }
    detail << '\n'
           << episode.alert.raised << '\n'
           << wordOf(episode.severity) << '\n'
           << episode.notification << '\n'
           << escaped(episode.title) << '\n'
           << escaped(episode.body);
    return {episode.alert.rule, episode.alert.reading, "firing", milliseconds(episode.alert.since),
            detail.str()};
}

std::optional<AlertEpisode> episodeOf(const AlertState& state) {
    std::vector<std::string> fields;
    std::istringstream detail(state.detail);
    for (std::string line; std::getline(detail, line);) {
        fields.push_back(line);
    }
    if (state.state != "firing" || fields.size() < 6 || fields[0] != detailVersion) {
        return std::nullopt;
    }
    AlertEpisode episode;
    episode.alert.rule = state.rule;
    episode.alert.reading = state.subject;
    episode.alert.since = static_cast<double>(state.since) / 1000;
    if (!fields[1].empty()) {
        char* end = nullptr;
        const double threshold = std::strtod(fields[1].c_str(), &end);
        if (*end != '\0' || !std::isfinite(threshold)) {
            return std::nullopt;
        }
        episode.alert.threshold = threshold;
    }
    const auto raised = numberOf<std::uint32_t>(fields[2]);
    const auto severity = severityOf(fields[3]);
    const auto notification = numberOf<std::uint32_t>(fields[4]);
    if (!raised || !severity || !notification) {
        return std::nullopt;
    }
    episode.alert.raised = *raised;
    episode.severity = *severity;
    episode.notification = *notification;
    episode.title = unescaped(fields[5]);
    episode.body = fields.size() > 6 ? unescaped(fields[6]) : std::string();
    return episode;
}

std::vector<AlertEpisode> DatabaseAlertStore::firingEpisodes() {
    if (!store_) {
        return memory_.firingEpisodes();
    }
    std::vector<AlertEpisode> episodes;
    for (const auto& state : store_->alertStates()) {
        if (auto episode = episodeOf(state)) {
            episodes.push_back(std::move(*episode));
        }
    }
    return episodes;
}

void DatabaseAlertStore::episodeFired(const AlertEpisode& episode) {
    if (!store_) {
        memory_.episodeFired(episode);
        return;
    }
    store_->saveAlertState(alertStateOf(episode));
    store_->addAlertEvent({milliseconds(episode.alert.since), episode.alert.rule,
                           episode.alert.reading, "firing", std::nullopt,
                           episode.title + ": " + episode.body});
}

void DatabaseAlertStore::episodeRecovered(const FiringAlert& alert, double at,
                                          const std::string& recovery) {
    memory_.episodeRecovered(alert, at, recovery);
    if (!store_) {
        return;
    }
    store_->clearAlertState(alert.rule, alert.reading);
    store_->addAlertEvent(
        {milliseconds(at), alert.rule, alert.reading, "recovered", std::nullopt, recovery});
}

} // namespace brivane::cli
