#pragma once

#include "formats/sensor_snapshot.h"
#include "ipc/sensor_client.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace brivane::cli {

// What one request for a snapshot gave.
struct FetchedSnapshot {
    enum class Failure { none, unreachable, noData };

    std::optional<SensorSnapshot> snapshot;
    Failure failure = Failure::none;
    std::string problem; // why there is no snapshot, for a person
};

// Asks the agent at one endpoint for snapshots over a kept connection, so a scrape does not pay
// for a new connection and its admission each time. A connection that fails is dropped; when a
// kept one turns out dead (the agent restarted), the request is sent once more on a new one.
class AgentSnapshots {
public:
    AgentSnapshots(std::string endpoint, int timeoutMs)
        : endpoint_(std::move(endpoint)), timeoutMs_(timeoutMs) {}

    FetchedSnapshot fetch();

private:
    std::string endpoint_;
    int timeoutMs_;
    std::unique_ptr<ipc::SensorClient> client_;
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
