#pragma once

#include "agent_connection.h"
#include "formats/storage_health.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brivane::base {
class SerialQueue;
}

namespace brivane::cli {

// One disk's figures as the agent's disk tool last read them.
struct DiskHealth {
    std::string disk; // its kernel name ("nvme0n1")
    StorageHealthReading reading;

    bool operator==(const DiskHealth&) const = default;
};
using DiskHealthList = std::vector<DiskHealth>;

// Asks the agent for the health of every whole disk under a sysfs root, disk by disk, until
// stop says so; a disk whose figures the agent's disk tool reads gives one entry.
DiskHealthList askDiskHealth(AgentConnection& connection, const std::string& sysRoot,
                             const std::function<bool()>& stop = {});

// The disks' health for a textfile run: the figures kept in cacheFile when they are younger than
// a minute, else asked anew and kept there (readable by this user only).
DiskHealthList keptDiskHealth(AgentConnection& connection, const std::string& cacheFile,
                              const std::string& sysRoot = "/sys");

// The health of every disk under a sysfs root, asked of the agent disk by disk on a thread of
// its own, never on the caller's: the agent runs its disk tool for each, which reads UDisks2's
// cached figures and so never wakes a sleeping disk. A round starts at most once per interval,
// when the figures are asked for and none is running; until it ends, the last round's figures
// are served.
class DiskHealthWatch {
public:
    DiskHealthWatch(AgentConnection connection, std::string sysRoot = "/sys",
                    std::chrono::steady_clock::duration interval = std::chrono::minutes(1));
    ~DiskHealthWatch();
    DiskHealthWatch(const DiskHealthWatch&) = delete;
    DiskHealthWatch& operator=(const DiskHealthWatch&) = delete;

    // The last round's figures (empty before the first ends); starts a round when due.
    std::shared_ptr<const DiskHealthList> latest();

private:
    void round();

    AgentConnection connection_; // used on queue_ only
    std::string sysRoot_;
    std::chrono::steady_clock::duration interval_;
    std::mutex mutex_;
    std::shared_ptr<const DiskHealthList> latest_;
    std::optional<std::chrono::steady_clock::time_point> started_;
    bool running_ = false;
    std::atomic<bool> stopping_{false};
    std::unique_ptr<base::SerialQueue> queue_; // last: its worker ends before the rest goes
};

} // namespace brivane::cli
