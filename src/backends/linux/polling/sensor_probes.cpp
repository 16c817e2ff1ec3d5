// Reading devices side by side: a lane that reads channels one after another waits once per
// hung device, and values of healthy ones expire meanwhile. Channels that have not answered
// since the last hung read are read here instead, on a few threads of their own, so that any
// number of hung devices cost one wait together.

#include "backends/linux/polling/sensor_lanes.h"
#include "base/thread_naming_hook.h"

#include <algorithm>
#include <map>

namespace brivane::platform::linux_backend {
namespace {

using State = SensorPoller::State;
using Channels = std::vector<std::shared_ptr<SensorChannel>>;

// Threads reading at once, besides those waiting on a suspect read.
constexpr std::size_t kWidth = 16;

struct Batch {
    std::vector<Channels> devices;
    std::size_t taken = 0; // devices handed out so far
    double pass = 0;
    std::uint64_t era = 0;
    bool gone = false;
    bool slowed = false;
    std::vector<std::shared_ptr<LaneRun>> runs;
};

// One thread: takes devices and reads their channels until none is left, or until the lane has
// stopped waiting for it (its read was suspect) or left it behind (its read hung). The thread
// holds its own copies of the three pointers for as long as this runs.
void readDevices(const std::shared_ptr<State>& state, const std::shared_ptr<Batch>& batch,
                 const std::shared_ptr<LaneRun>& run) {
    State& s = *state;
    base::setCurrentThreadName(s.setup.name + "-side");
    Lock lock(s.mutex);
    while (!s.stop && !run->suspect && !run->abandoned && batch->taken < batch->devices.size()) {
        const Channels& device = batch->devices[batch->taken++];
        for (const auto& channel : device) {
            if (s.stop || run->suspect || run->abandoned) {
                break;
            }
            if (s.passedOver(channel->device())) {
                channel->markStuck();
                continue;
            }
            if (s.awaited.contains(channel->device())) {
                break; // another thread still waits on this device
            }
            s.awaited.emplace(channel->device());
            run->reading = true;
            run->since = s.now();
            run->began = std::chrono::steady_clock::now();
            run->channel = channel;
            lock.unlock();
            const posix::Outcome outcome = channel->refresh(*s.context, batch->pass, false);
            lock.lock();
            run->reading = false;
            run->channel.reset();
            s.awaited.erase(std::string(channel->device()));
            if (run->abandoned) {
                s.answered.emplace(channel->device()); // the read that hung has returned
                break;
            }
            if (s.stop) {
                break; // the poller has gone: its report may have gone with it
            }
            channel->prove(batch->era);
            batch->slowed = batch->slowed || channel->slow();
            batch->gone = noteOutcome(s, *channel, outcome) || batch->gone;
        }
    }
    run->done = true;
    std::erase(s.probes, run);
    s.probed.notify_all();
}

} // namespace

void readSideBySide(State& s, const LaneRun& lane, const Channels& channels, double pass,
                    bool& gone, bool& slowed) {
    auto batch = std::make_shared<Batch>();
    batch->pass = pass;
    {
        std::map<std::string_view, std::size_t> byDevice;
        for (const auto& channel : channels) {
            const auto [entry, added] = byDevice.try_emplace(channel->device(), byDevice.size());
            if (added) {
                batch->devices.emplace_back();
            }
            batch->devices[entry->second].push_back(channel);
        }
    }
    const auto state = s.shared_from_this();
    Lock lock(s.mutex);
    batch->era = s.era;
    const auto suspectAfter = std::chrono::duration<double>(s.timing().suspectAfter);
    const auto start = [&] {
        auto run = std::make_shared<LaneRun>();
        batch->runs.push_back(run);
        s.probes.push_back(run);
        std::thread(readDevices, state, batch, std::move(run)).detach();
    };
    while (!s.stop && !lane.abandoned) {
        const auto now = std::chrono::steady_clock::now();
        std::size_t working = 0;
        for (const auto& run : batch->runs) {
            if (run->done || run->suspect) {
                continue;
            }
            if (run->reading && now - run->began >= suspectAfter) {
                run->suspect = true; // it goes on alone; another thread takes its place
                continue;
            }
            ++working;
        }
        const std::size_t left = batch->devices.size() - batch->taken;
        if (left == 0 && working == 0) {
            break;
        }
        for (std::size_t more = std::min(kWidth - std::min(kWidth, working), left); more > 0;
             --more) {
            start();
        }
        s.probed.wait_for(lock, suspectAfter);
    }
    gone = gone || batch->gone;
    slowed = slowed || batch->slowed;
}

} // namespace brivane::platform::linux_backend
