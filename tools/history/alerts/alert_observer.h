#pragma once

// The alerts as the recorder runs them: told of every snapshot it asked for (and of every time
// the agent did not answer), they test the rules and deliver each firing and recovery, keeping
// the episodes in the recorder's database.

#include "alert_engine.h"
#include "database_alert_store.h"
#include "history/snapshot_observer.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

namespace brivane::cli {

class AlertObserver final : public SnapshotObserver {
public:
    // The disks' latest health, asked at every snapshot; none when not watched.
    using Disks = std::function<std::shared_ptr<const DiskHealthList>()>;

    // Outlets' store is the observer's own (the recorder's database).
    AlertObserver(std::filesystem::path ruleFile, AlertEngine::Outlets outlets,
                  std::int64_t intervalMs, Disks disks = {});

    void observe(const SensorSnapshot& snapshot, std::int64_t timeMs, HistoryStore* store) override;
    void unanswered(std::int64_t timeMs, std::string_view why, HistoryStore* store) override;
    void reload() override;

    const AlertEngine& engine() const { return engine_; }

private:
    void begin(HistoryStore* store);

    Disks disks_;
    DatabaseAlertStore store_;
    AlertEngine engine_;
    bool restored_ = false;
};

} // namespace brivane::cli
