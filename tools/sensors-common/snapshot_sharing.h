#pragma once

#include "agent_connection.h"
#include "disk_health.h"
#include "formats/cpu_details_snapshot.h"
#include "formats/sensor_snapshot.h"
#include "metrics_text.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brivane::cli {

// What one request for a snapshot gave.
struct FetchedSnapshot {
    std::optional<SensorSnapshot> snapshot;
    ExitStatus status = answered;         // answered, unreachable or noData
    std::string problem;                  // why there is no snapshot, for a person
    std::vector<ProcessEnergy> busiest{}; // the latest energy ranking, when one is kept
    // What the agent that answered was made to load, when the client could look.
    std::optional<AgentConnection::AgentLoader> loader{};
    // The disks' figures, when the client watches them (disk_health.h).
    std::shared_ptr<const DiskHealthList> disks{};
    // Whether the machine-wide service carries the machine's readings (machine_collection.h).
    bool machineElsewhere = false;
    // The latest CPU details, when the client counts the CPUs' idle states and throttling.
    std::shared_ptr<const CPUDetailsSnapshot> cpu{};

    std::optional<bool> loaderAltered() const {
        return loader ? std::optional(loader->findings.altered()) : std::nullopt;
    }
};

// Asks the agent for snapshots over a kept connection, and with rankEnergy also for its
// energy ranking of processes, at most once a minute (a ranking samples the processes for a
// while) and within what the snapshot left of the timeout.
class AgentSnapshots {
public:
    explicit AgentSnapshots(AgentConnection connection, bool rankEnergy = false)
        : connection_(std::move(connection)), rankEnergy_(rankEnergy) {}
    AgentSnapshots(std::string endpoint, int timeoutMs, bool rankEnergy = false)
        : connection_(std::move(endpoint), timeoutMs), rankEnergy_(rankEnergy) {}

    FetchedSnapshot fetch();

    // Also asks for the CPU details, for their idle-state and throttle counters, at most once a
    // rankingInterval (a request runs the process-status tool) and within what the snapshot
    // left of the timeout; between two the last is served.
    void countCpus() { countCpus_ = true; }

    // Ranks only the processes counted says yes to (by pid), before they are summed by name.
    void rankOnly(std::function<bool(std::int64_t pid)> counted) { counted_ = std::move(counted); }

    static constexpr auto rankingInterval = std::chrono::seconds(60);
    static constexpr std::size_t rankedNames = 10;

private:
    void rank(std::chrono::steady_clock::time_point deadline);
    void askCpuDetails(std::chrono::steady_clock::time_point deadline);

    AgentConnection connection_;
    bool rankEnergy_;
    std::optional<std::chrono::steady_clock::time_point> rankedAt_;
    std::vector<ProcessEnergy> busiest_;
    std::function<bool(std::int64_t)> counted_;
    bool countCpus_ = false;
    std::optional<std::chrono::steady_clock::time_point> cpuAskedAt_;
    std::shared_ptr<const CPUDetailsSnapshot> cpu_;
};

} // namespace brivane::cli
