#include "core/turn_queue.h"

#include <algorithm>
#include <utility>

namespace brivane {
namespace {

// Abandoned requests are swept out once the held ones double, so they cost memory in
// proportion to the live ones at most.
constexpr std::size_t smallestSweep = 64;

} // namespace

TurnQueue::TurnQueue(std::string label, base::ThreadPriority priority)
    : sweepAbove_(smallestSweep), queue_(std::move(label), priority) {}

TurnQueue::~TurnQueue() {
    std::vector<ipc::ServiceReply> unanswered;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        for (auto& [client, line] : lines_) {
            for (auto& job : line) {
                if (!job->taken) {
                    retireLocked(*job, unanswered);
                }
            }
        }
        lines_.clear();
        rotation_.clear();
    }
    for (auto& reply : unanswered) {
        reply(std::nullopt);
    }
}

void TurnQueue::async(ipc::ServiceReply reply, std::string key, Work work) {
    std::vector<ipc::ServiceReply> dropped;
    std::unique_lock lock(mutex_);
    if (closing_) {
        lock.unlock();
        reply(std::nullopt);
        return;
    }
    const std::uint64_t client = reply.client();
    std::shared_ptr<Job> job;
    if (const auto waiting = key.empty() ? waitingByKey_.end() : waitingByKey_.find(key);
        waiting != waitingByKey_.end()) {
        job = waiting->second;
        job->replies.push_back(std::move(reply));
    } else {
        job = std::make_shared<Job>(Job{std::move(key), std::move(work), {std::move(reply)}});
        if (!job->key.empty()) {
            waitingByKey_.emplace(job->key, job);
        }
    }
    ++held_;
    enlistLocked(client, job);
    if (held_ > sweepAbove_) {
        sweepLocked(dropped);
    }
    const bool schedule = !std::exchange(scheduled_, true);
    lock.unlock(); // dropped replies answer (to nobody) outside the lock
    if (schedule) {
        // Outside the lock: the worker takes it first thing, and would wake only to wait for it.
        queue_.async([this] { runNext(); });
    }
}

void TurnQueue::runHereOrAsync(ipc::ServiceReply reply, Work work,
                               const std::function<bool()>& quick) {
    bool held = false;
    {
        std::lock_guard lock(mutex_);
        // Not scheduled means nothing runs and nothing waits.
        held = !closing_ && !scheduled_;
        scheduled_ = scheduled_ || held; // held here as by a run on the worker
    }
    const bool here = held && quick();
    if (here) {
        work(reply);
    }
    if (held) {
        // Work that came meanwhile goes on on the worker.
        std::lock_guard lock(mutex_);
        if (rotation_.empty() || closing_) {
            scheduled_ = false;
        } else {
            queue_.async([this] { runNext(); });
        }
    }
    if (!here) {
        async(std::move(reply), {}, std::move(work));
    }
}

std::size_t TurnQueue::waitingRequests() {
    std::lock_guard lock(mutex_);
    return held_;
}

void TurnQueue::runNext() {
    std::vector<ipc::ServiceReply> dropped;
    std::shared_ptr<Job> job;
    {
        std::lock_guard lock(mutex_);
        job = takeNextLocked(dropped);
        if (!job) {
            scheduled_ = false;
            return;
        }
    }
    dropped.clear();
    job->work(ipc::ServiceReply::all(std::move(job->replies)));
    job.reset();
    std::lock_guard lock(mutex_);
    if (rotation_.empty() || closing_) {
        scheduled_ = false;
    } else {
        queue_.async([this] { runNext(); });
    }
}

std::shared_ptr<TurnQueue::Job> TurnQueue::takeNextLocked(std::vector<ipc::ServiceReply>& dropped) {
    while (!rotation_.empty()) {
        const std::uint64_t client = rotation_.front();
        rotation_.pop_front();
        auto& line = lines_[client];
        std::shared_ptr<Job> next;
        while (!line.empty() && !next) {
            auto candidate = std::move(line.front());
            line.pop_front();
            if (!candidate->taken && dropUnwantedLocked(*candidate, dropped)) {
                next = std::move(candidate);
            }
        }
        if (line.empty()) {
            lines_.erase(client);
        } else {
            rotation_.push_back(client);
        }
        if (next) {
            held_ -= next->replies.size();
            next->taken = true;
            if (!next->key.empty()) {
                waitingByKey_.erase(next->key);
            }
            return next;
        }
    }
    return nullptr;
}

void TurnQueue::enlistLocked(std::uint64_t client, const std::shared_ptr<Job>& job) {
    const auto [line, added] = lines_.try_emplace(client);
    if (added) {
        rotation_.push_back(client);
    }
    // A merged job keeps its earliest place in each line; a later entry of it is skipped.
    if (line->second.empty() || line->second.back() != job) {
        line->second.push_back(job);
    }
}

// Takes a waiting job out for good, its replies into `into`.
void TurnQueue::retireLocked(Job& job, std::vector<ipc::ServiceReply>& into) {
    held_ -= job.replies.size();
    for (auto& reply : job.replies) {
        into.push_back(std::move(reply));
    }
    job.replies.clear();
    job.taken = true;
    if (!job.key.empty()) {
        waitingByKey_.erase(job.key);
    }
}

// Leaves only the replies somebody waits for; false (and the job retired) when none is left.
bool TurnQueue::dropUnwantedLocked(Job& job, std::vector<ipc::ServiceReply>& dropped) {
    const auto unwanted = std::stable_partition(job.replies.begin(), job.replies.end(),
                                                [](const auto& reply) { return reply.isWanted(); });
    held_ -= static_cast<std::size_t>(job.replies.end() - unwanted);
    std::move(unwanted, job.replies.end(), std::back_inserter(dropped));
    job.replies.erase(unwanted, job.replies.end());
    if (job.replies.empty()) {
        retireLocked(job, dropped);
        return false;
    }
    return true;
}

void TurnQueue::sweepLocked(std::vector<ipc::ServiceReply>& dropped) {
    for (auto line = lines_.begin(); line != lines_.end();) {
        std::erase_if(line->second, [&](const std::shared_ptr<Job>& job) {
            return job->taken || !dropUnwantedLocked(*job, dropped);
        });
        line = line->second.empty() ? lines_.erase(line) : std::next(line);
    }
    std::erase_if(rotation_, [&](std::uint64_t client) { return !lines_.contains(client); });
    sweepAbove_ = std::max(smallestSweep, 2 * held_);
}

} // namespace brivane
