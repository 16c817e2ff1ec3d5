#pragma once

#include "base/serial_queue.h"
#include "ipc/sensor_service_protocol.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace brivane {

// A serial work queue of the service that shares its time out fairly. Clients take turns: each
// client with waiting work gets one run before any gets a second, and a client's own requests
// keep their order. Waiting work with the same non-empty key is done once, for every request
// that asked for it, at the earliest turn of any of them. Work that nobody waits for any more
// (its connections have gone) is dropped before it runs; a run already started finishes.
class TurnQueue {
public:
    using Work = std::function<void(const ipc::ServiceReply& reply)>;

    explicit TurnQueue(std::string label,
                       base::ThreadPriority priority = base::ThreadPriority::normal);
    // Answers what still waits with no data, without running it; the running item finishes.
    ~TurnQueue();

    TurnQueue(const TurnQueue&) = delete;
    TurnQueue& operator=(const TurnQueue&) = delete;

    const std::string& label() const { return queue_.label(); }

    void async(ipc::ServiceReply reply, std::string key, Work work);

    // Runs work at once on the calling thread when nothing of this queue runs or waits and
    // quick() agrees (asked while the queue is held, so it may read the queue's state); else
    // queues it as async with no key. Short work then costs no hand-off to the worker, and the
    // queue still runs one item at a time, in turn.
    void runHereOrAsync(ipc::ServiceReply reply, Work work, const std::function<bool()>& quick);

    // Requests held by waiting work (answered or dropped ones leave at once or at the next
    // sweep); for tests.
    std::size_t waitingRequests();

private:
    struct Job {
        std::string key;
        Work work;
        std::vector<ipc::ServiceReply> replies;
        bool taken = false;
    };

    void runNext();
    std::shared_ptr<Job> takeNextLocked(std::vector<ipc::ServiceReply>& dropped);
    void enlistLocked(std::uint64_t client, const std::shared_ptr<Job>& job);
    void retireLocked(Job& job, std::vector<ipc::ServiceReply>& dropped);
    bool dropUnwantedLocked(Job& job, std::vector<ipc::ServiceReply>& dropped);
    void sweepLocked(std::vector<ipc::ServiceReply>& dropped);

    std::mutex mutex_;
    std::unordered_map<std::string, std::shared_ptr<Job>> waitingByKey_;
    // Each client's waiting work in its order; a merged job stands in every asker's line.
    std::unordered_map<std::uint64_t, std::deque<std::shared_ptr<Job>>> lines_;
    std::deque<std::uint64_t> rotation_; // the clients of lines_, next turn first
    std::size_t held_ = 0;               // replies in waiting jobs
    std::size_t sweepAbove_;
    bool scheduled_ = false;
    bool closing_ = false;
    base::SerialQueue queue_; // last: its worker stops before the rest goes
};

} // namespace brivane
