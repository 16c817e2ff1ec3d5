#pragma once

// `brivane-sensors record`: asks the agent for a snapshot every interval, on the wall clock's
// multiples of it (10:00:00, 10:00:10, …, so the agent can expect each request), and keeps every
// reading in the history. A reading that is absent, a snapshot the agent did not give, and a
// machine that slept are gaps: nothing is stored for them. Problems are said once, when they
// begin and when they end.

#include "history_files.h"
#include "history_store.h"
#include "recorder_clock.h"
#include "sensors-common/snapshot_sharing.h"
#include "snapshot_observer.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brivane::cli {

inline constexpr std::int64_t defaultRecordIntervalMs = 10000;

struct RecorderSetup {
    HistoryFiles files;
    std::int64_t intervalMs = defaultRecordIntervalMs;
    HistoryTiers tiers{};
    // A file of a newer version is looked at again this often, in case that version is gone.
    std::int64_t retryNewerMs = 10 * msPerMinute;
    std::function<void(std::string_view line)> say; // standard error when unset
};

class Recorder {
public:
    using Fetch = std::function<FetchedSnapshot()>;

    Recorder(RecorderSetup setup, Fetch fetch, RecorderClock& clock,
             std::vector<SnapshotObserver*> observers = {});

    // Takes the lock and opens the history; false when recording cannot start (said why), with
    // `heldByAnother` set when another recorder holds the lock.
    bool start(bool& heldByAnother);
    // Samples until asked to stop.
    void run();
    // One sample now (what run() does each interval).
    void sample();

    HistoryStore* store() { return store_ ? &*store_ : nullptr; }

private:
    void say(const std::string& line);
    void open(std::int64_t nowMs);
    void store(const SensorSnapshot& snapshot, std::int64_t timeMs);

    RecorderSetup setup_;
    Fetch fetch_;
    RecorderClock& clock_;
    std::vector<SnapshotObserver*> observers_;
    std::optional<RecorderLock> lock_;
    std::optional<HistoryStore> store_;
    std::optional<std::int64_t> retryAt_; // when a paused file is looked at again
    bool full_ = false;
    std::string failing_; // the write problem said last
    std::string silence_; // why the agent did not answer, as said last
};

// The recorder as `brivane-sensors record` runs it, with the agent of `options`; the exit status.
int runRecorder(const CliOptions& options);

} // namespace brivane::cli
