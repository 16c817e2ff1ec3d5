#pragma once

// Where the local alerts plug into the recorder: each observer is told of every snapshot the
// recorder asked for, after it was stored, and of every time the agent did not answer, on the
// recorder's one thread, in order. Time is the recorder's clock (ms since the epoch, UTC), so a
// time-warped test or bench drives the observers as it drives the history. `store` is null while
// nothing is recorded (a file of a newer version, a disk that is full keeps it); an observer
// that keeps state in the database (HistoryStore's alert state and events) writes it in
// transactions of its own. Observers must not block: the recorder's next sample waits for them.

#include "formats/sensor_snapshot.h"

#include <cstdint>
#include <string_view>

namespace brivane::cli {

class HistoryStore;

class SnapshotObserver {
public:
    virtual ~SnapshotObserver() = default;
    virtual void observe(const SensorSnapshot& snapshot, std::int64_t timeMs,
                         HistoryStore* store) = 0;
    virtual void unanswered(std::int64_t timeMs, std::string_view why, HistoryStore* store) = 0;
    // Asked to read its configuration again (SIGHUP), between samples.
    virtual void reload() {}
};

} // namespace brivane::cli
