#pragma once

// The alerts of one recorder: its rules (reloaded when the file changes or on request, the last
// good ones kept when the file turns bad), their evaluation over each answer of the agent, and
// each firing and recovery delivered: a line in the journal always, a desktop notification
// (updating the firing one in place on recovery) and the rule's command when it has one, and
// the episode in the store so a restart fires nothing twice.

#include "alert_command.h"
#include "alert_evaluator.h"
#include "alert_store.h"
#include "desktop_notifier.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brivane::cli {

class AlertEngine {
public:
    struct Outlets {
        AlertStore* store = nullptr;
        Notifier* notifier = nullptr;                             // none: no desktop notifications
        AlertCommandRunner* commands = nullptr;                   // none: no commands
        std::function<void(std::string_view, AlertSeverity)> log; // a line, for the journal
    };

    // The rules of ruleFile (the shipped ones when it is bad from the start, which the log
    // says); `interval` is the recorder's, frames further apart are a gap.
    AlertEngine(std::filesystem::path ruleFile, Outlets outlets, double interval);

    // Takes up the alerts the store keeps firing (a previous run's): they fire no second time.
    // The constructor does it; again before the first observation when the store changed.
    void restore();

    // Reads the rule file again when it changed since it was last read (its time, size or
    // identity), or always when forced (SIGHUP).
    void reload(bool force = false);

    // One answer of the agent (or its silence) and the disks' latest health.
    void observe(const AlertFrame& frame);

    const AlertEvaluator& evaluator() const { return evaluator_; }

private:
    struct FileStamp {
        std::filesystem::file_time_type time{};
        std::uintmax_t size = 0;
        bool exists = false;
        bool operator==(const FileStamp&) const = default;
    };
    FileStamp stamp() const;
    void deliver(const AlertTransition& event);

    std::filesystem::path ruleFile_;
    Outlets outlets_;
    AlertEvaluator evaluator_;
    std::optional<FileStamp> loaded_;
    // Of each firing alert: the desktop's id of its notification (0 for none) and its title,
    // which the recovery repeats even when the rule has gone since.
    struct Shown {
        std::uint32_t notification = 0;
        std::string title;
    };
    std::map<std::pair<std::string, std::string>, Shown> shown_;
    std::string notifierProblem_;
};

// The frame of one answer: the snapshot's readings (none when the agent did not answer), the
// disks' and the agent's.
AlertFrame alertFrame(double time, const SensorSnapshot* snapshot, const DiskHealthList& disks);

// Writes a line to standard error as the journal takes it: escaped for a terminal, with the
// severity's syslog prefix when standard error is the journal's stream.
void writeJournalLine(std::string_view line, AlertSeverity severity);

} // namespace brivane::cli
