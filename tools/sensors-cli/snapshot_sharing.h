#pragma once

#include "agent_connection.h"
#include "formats/sensor_snapshot.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace brivane::cli {

// What one request for a snapshot gave.
struct FetchedSnapshot {
    std::optional<SensorSnapshot> snapshot;
    ExitStatus status = answered; // answered, unreachable or noData
    std::string problem;          // why there is no snapshot, for a person
};

// Asks the agent for snapshots over a kept connection.
class AgentSnapshots {
public:
    explicit AgentSnapshots(AgentConnection connection) : connection_(std::move(connection)) {}
    AgentSnapshots(std::string endpoint, int timeoutMs)
        : connection_(std::move(endpoint), timeoutMs) {}

    FetchedSnapshot fetch();

private:
    AgentConnection connection_;
};

// Lets concurrent scrapes share one request. Requests are made one at a time, and a scrape that
// arrived before the latest request finished takes that request's result instead of sending
// another: the snapshot was taken while it waited. So the agent sees at most one request in
// flight and one per group of overlapping scrapes, and no scrape gets a snapshot that was
// complete before the scrape arrived.
class SharedSnapshot {
public:
    using Clock = std::chrono::steady_clock;
    using Fetch = std::function<FetchedSnapshot()>;

    explicit SharedSnapshot(Fetch fetch) : fetch_(std::move(fetch)) {}

    std::shared_ptr<const FetchedSnapshot> get(Clock::time_point arrival);

private:
    Fetch fetch_;
    std::mutex mutex_; // held across a request
    std::shared_ptr<const FetchedSnapshot> latest_;
    Clock::time_point latestFinished_;
};

} // namespace brivane::cli
