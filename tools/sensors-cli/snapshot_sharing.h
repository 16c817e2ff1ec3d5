#pragma once

#include "formats/sensor_snapshot.h"
#include "ipc/sensor_client.h"

#include <condition_variable>
#include <cstdint>
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

// Lets concurrent scrapes share one request: a caller that arrives while a request is in flight
// waits for its result instead of sending another, so the agent never sees more than one.
class SharedSnapshot {
public:
    using Fetch = std::function<FetchedSnapshot()>;

    explicit SharedSnapshot(Fetch fetch) : fetch_(std::move(fetch)) {}

    std::shared_ptr<const FetchedSnapshot> get();

    // Callers waiting for the request in flight.
    std::size_t waiting() const;

private:
    Fetch fetch_;
    mutable std::mutex mutex_;
    std::condition_variable finished_;
    bool inFlight_ = false;
    std::uint64_t generation_ = 0;
    std::size_t waiting_ = 0;
    std::shared_ptr<const FetchedSnapshot> latest_;
};

} // namespace brivane::cli
