#include "alert_engine.h"

#include "alert_message.h"
#include "rule_file.h"
#include "sensors-cli/terminal_text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace brivane::cli {
namespace {

AlertRules initialRules(const std::filesystem::path& file,
                        const std::function<void(std::string_view, AlertSeverity)>& log) {
    auto loaded = loadRuleFile(file);
    if (loaded.rules) {
        return *loaded.rules;
    }
    log(loaded.problem + "; the shipped alert rules apply until it is mended",
        AlertSeverity::warning);
    return *parseRuleFile("").rules;
}

std::vector<FiringAlert> firingOf(const std::vector<AlertEpisode>& episodes) {
    std::vector<FiringAlert> firing;
    for (const auto& episode : episodes) {
        firing.push_back(episode.alert);
    }
    return firing;
}

} // namespace

AlertEngine::AlertEngine(std::filesystem::path ruleFile, Outlets outlets, double interval)
    : ruleFile_(std::move(ruleFile)), outlets_(std::move(outlets)),
      evaluator_(initialRules(ruleFile_, outlets_.log),
                 std::max(AlertEvaluator::defaultMaxGap, 3 * interval)) {
    loaded_ = stamp();
    restore();
}

void AlertEngine::restore() {
    const auto episodes = outlets_.store->firingEpisodes();
    evaluator_.restore(firingOf(episodes));
    shown_.clear();
    for (const auto& episode : episodes) {
        shown_[{episode.alert.rule, episode.alert.reading}] = {episode.notification, episode.title};
    }
}

AlertEngine::FileStamp AlertEngine::stamp() const {
    FileStamp stamp;
    std::error_code error;
    stamp.time = std::filesystem::last_write_time(ruleFile_, error);
    if (!error) {
        stamp.exists = true;
        stamp.size = std::filesystem::file_size(ruleFile_, error);
    }
    return stamp;
}

void AlertEngine::reload(bool force) {
    const FileStamp now = stamp();
    if (!force && loaded_ == now) {
        return;
    }
    // Kept even when the file is bad: the same bad file is not reported every interval.
    loaded_ = now;
    auto loaded = loadRuleFile(ruleFile_);
    if (!loaded.rules) {
        outlets_.log(loaded.problem + "; the alert rules in use stay", AlertSeverity::warning);
        return;
    }
    evaluator_.setRules(std::move(*loaded.rules));
    outlets_.log("alert rules read from " + ruleFile_.string(), AlertSeverity::info);
}

void AlertEngine::observe(const AlertFrame& frame) {
    reload();
    for (const auto& event : evaluator_.evaluate(frame)) {
        deliver(event);
    }
}

void AlertEngine::deliver(const AlertTransition& event) {
    const auto& rules = evaluator_.rules().rules;
    const auto found = std::find_if(rules.begin(), rules.end(),
                                    [&](const AlertRule& rule) { return rule.name == event.rule; });
    const AlertRule* rule = found == rules.end() ? nullptr : &*found;
    AlertMessage message = alertMessage(event);
    const bool firing = event.change == AlertTransition::Change::firing;
    const std::pair<std::string, std::string> key{event.rule, event.reading};
    const Shown before = firing ? Shown{} : shown_[key];
    if (!firing && !before.title.empty()) {
        message.title = "Recovered: " + before.title;
    }
    outlets_.log(journalLine(event, message), firing ? event.severity : AlertSeverity::info);

    std::uint32_t notification = 0;
    if (outlets_.notifier && (!rule || rule->notify)) {
        Notification note{message, event.severity, !firing, before.notification};
        if (const auto id = outlets_.notifier->notify(note)) {
            notification = *id;
            notifierProblem_.clear();
        } else if (const auto problem = outlets_.notifier->problem(); problem != notifierProblem_) {
            // Said once, not for every alert while the desktop has no notification server.
            notifierProblem_ = problem;
            outlets_.log(problem, AlertSeverity::info);
        }
    }

    const FiringAlert alert{event.rule, event.reading, event.since, event.threshold, event.raised};
    if (firing) {
        shown_[key] = {notification, message.title};
        outlets_.store->episodeFired(
            {alert, event.severity, message.title, message.body, notification, {}, {}});
    } else {
        shown_.erase(key);
        outlets_.store->episodeRecovered(alert, event.time, message.body);
    }

    if (outlets_.commands && rule && !rule->exec.empty()) {
        outlets_.commands->run(
            {rule->exec, rule->execTimeoutSeconds, alertEnvironment(event, message)});
    }
}

AlertFrame alertFrame(double time, const SensorSnapshot* snapshot, const DiskHealthList& disks) {
    AlertFrame frame;
    frame.time = time;
    frame.agentAnswered = snapshot != nullptr;
    if (snapshot) {
        frame.readings = alertReadings(*snapshot);
    }
    for (const auto& disk : disks) {
        for (auto& reading : diskReadings(disk)) {
            frame.readings.push_back(std::move(reading));
        }
    }
    frame.readings.push_back(agentReading(snapshot != nullptr));
    return frame;
}

void writeJournalLine(std::string_view line, AlertSeverity severity) {
    // JOURNAL_STREAM holds "<device>:<inode>" of the stream systemd connected; standard error
    // may have been redirected since.
    bool journal = false;
    if (const char* stream = std::getenv("JOURNAL_STREAM")) {
        struct stat status {};
        if (::fstat(2, &status) == 0) {
            journal = std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino) == stream;
        }
    }
    std::string text;
    if (journal) {
        // sd-daemon's prefixes: 2 critical, 4 warning, 6 informational.
        text = severity == AlertSeverity::critical  ? "<2>"
               : severity == AlertSeverity::warning ? "<4>"
                                                    : "<6>";
    }
    text += terminalSafe(line);
    text += '\n';
    // A problem line that cannot be written has nowhere else to go.
    (void)std::fwrite(text.data(), 1, text.size(), stderr);
    (void)std::fflush(stderr);
}

} // namespace brivane::cli
