#include "recorder.h"

#include "recorded_readings.h"
#include "sensors-cli/terminal_text.h"

#include <cstdio>

namespace brivane::cli {
namespace {

std::string minutesText(std::int64_t ms) {
    const std::int64_t minutes = (ms + 30000) / 60000;
    return minutes < 120 ? std::to_string(minutes) + " min"
                         : std::to_string((minutes + 30) / 60) + " h";
}

} // namespace

Recorder::Recorder(RecorderSetup setup, Fetch fetch, RecorderClock& clock,
                   std::vector<SnapshotObserver*> observers)
    : setup_(std::move(setup)), fetch_(std::move(fetch)), clock_(clock),
      observers_(std::move(observers)) {}

void Recorder::say(const std::string& line) {
    if (setup_.say) {
        setup_.say(line);
        return;
    }
    const std::string text = "brivane-sensors record: " + terminalSafe(line) + "\n";
    // Standard error is unbuffered and the last place to tell of anything: a failed write there
    // has nowhere left to be reported.
    (void)std::fwrite(text.data(), 1, text.size(), stderr);
}

bool Recorder::start(bool& heldByAnother) {
    heldByAnother = false;
    std::string problem;
    if (!makeFolder(setup_.files.folder, problem)) {
        say(problem);
        return false;
    }
    std::optional<std::int64_t> holder;
    switch (RecorderLock::take(setup_.files.lock, lock_, holder, problem)) {
    case RecorderLock::Outcome::held:
        break;
    case RecorderLock::Outcome::heldByAnother:
        heldByAnother = true;
        say("another recorder" + (holder ? " (pid " + std::to_string(*holder) + ")" : "") +
            " records into " + setup_.files.database + "; this one ends");
        return false;
    case RecorderLock::Outcome::failed:
        say(problem);
        return false;
    }
    const std::int64_t now = clock_.nowMs();
    open(now);
    return store_.has_value() || retryAt_.has_value();
}

void Recorder::open(std::int64_t nowMs) {
    auto opened = HistoryStore::open(setup_.files.database, nowMs, setup_.tiers);
    for (const auto& line : opened.said) {
        say(line);
    }
    retryAt_.reset();
    if (opened.outcome == HistoryStore::Opening::ready) {
        store_ = std::move(opened.store);
    } else if (opened.outcome == HistoryStore::Opening::newer) {
        retryAt_ = nowMs + setup_.retryNewerMs;
    }
}

void Recorder::run() {
    while (true) {
        const std::int64_t now = clock_.nowMs();
        const std::int64_t next = (now / setup_.intervalMs + 1) * setup_.intervalMs;
        const auto woke = clock_.waitUntil(next);
        if (woke == RecorderClock::Woke::stop) {
            return;
        }
        if (woke == RecorderClock::Woke::reload) {
            for (auto* observer : observers_) {
                observer->reload();
            }
            continue;
        }
        if (woke == RecorderClock::Woke::due) {
            sample();
        }
    }
}

void Recorder::sample() {
    const std::int64_t slept = clock_.sleptMs();
    if (slept > setup_.intervalMs) {
        say("the machine slept for " + minutesText(slept) + ": a gap in the history");
    }
    const std::int64_t time = clock_.nowMs();
    if (!store_ && retryAt_ && time >= *retryAt_) {
        open(time);
    }
    FetchedSnapshot fetched = fetch_();
    if (!fetched.snapshot) {
        if (fetched.problem != silence_) {
            say("no snapshot from the agent (" + fetched.problem + "): gaps until it answers");
            silence_ = fetched.problem;
        }
        for (auto* observer : observers_) {
            observer->unanswered(time, fetched.problem, store());
        }
        return;
    }
    if (!silence_.empty()) {
        say("the agent answers again");
        silence_.clear();
    }
    store(*fetched.snapshot, time);
    for (auto* observer : observers_) {
        observer->observe(*fetched.snapshot, time, full_ ? nullptr : store());
    }
}

void Recorder::store(const SensorSnapshot& snapshot, std::int64_t timeMs) {
    if (!store_) {
        return;
    }
    const auto outcome = store_->record(recordedReadings(snapshot), timeMs, setup_.intervalMs);
    switch (outcome.written) {
    case HistoryStore::Written::stored:
        if (full_ || !failing_.empty()) {
            say("recording resumes");
        }
        full_ = false;
        failing_.clear();
        return;
    case HistoryStore::Written::full:
        if (!full_) {
            say("the disk holding " + setup_.files.database +
                " is full: recording pauses until there is space");
            full_ = true;
        }
        return;
    case HistoryStore::Written::failed:
        if (outcome.problem != failing_) {
            say("cannot write " + setup_.files.database + ": " + outcome.problem +
                "; trying again at the next sample");
            failing_ = outcome.problem;
        }
        return;
    case HistoryStore::Written::damaged:
        say(setup_.files.database + " turned out damaged (" + outcome.problem + ")");
        store_.reset();
        open(timeMs);
        return;
    }
}

} // namespace brivane::cli
