#include "platform/linux/sensor_poller.h"

#include "platform/host/monotonic_uptime_clock.h"
#include "platform/linux/uevent.h"
#include "platform/thread_name.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace brivane::platform::linux_backend {
namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();
constexpr int kFast = 0;
constexpr int kSlow = 1;

// What one lane thread is doing, so that a request can tell a stuck read from a busy lane.
struct LaneRun {
    bool reading = false;
    double since = 0;
    std::shared_ptr<SensorChannel> channel; // null while discovering
    bool abandoned = false;                 // a fresh lane took over
};

void writeToStandardError(std::string_view line) {
    std::string text(line);
    text += '\n';
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, text.data(), text.size());
}

} // namespace

struct SensorPoller::State {
    std::shared_ptr<const ChannelContext> context;
    Discover discover;
    Setup setup;

    std::mutex mutex;
    std::condition_variable wake;      // the lanes: a request after a rest, work moved, stop
    std::condition_variable refreshed; // requests waiting for a fast pass
    std::condition_variable exited;    // the destructor waiting for the lanes
    bool stop = false;
    bool active = false;
    double lastDemand = 0;
    std::uint64_t passes = 0;
    bool discovered = false;
    bool rediscover = false;
    bool discoveryStuck = false;
    double lastDiscovery = 0;
    std::shared_ptr<ChannelSet> channels;
    Catalog catalog;
    bool ueventsOpened = false;
    host::FileDescriptor uevents;

    struct Lane {
        std::shared_ptr<LaneRun> run = std::make_shared<LaneRun>();
        std::thread thread;
        bool running = false;
    };
    std::array<Lane, 2> lanes;

    double now() const { return context->clock->uptime(); }
    const SensorTiming& timing() const { return context->timing; }
};

namespace {

using State = SensorPoller::State;
using Lock = std::unique_lock<std::mutex>;
using Catalog = SensorPoller::Catalog;
using Report = SensorPoller::Report;

// Reads the lane's due channels; the time the next one falls due. Called without the lock.
double readDue(State& s, LaneRun& run, const ChannelSet& set, int lane, bool& gone, bool& slowed) {
    double next = kNever;
    for (const auto& channel : set.all()) {
        if (channel->stuck() || channel->slow() != (lane == kSlow)) {
            continue;
        }
        if (channel->due() <= s.now()) {
            {
                const std::lock_guard lock(s.mutex);
                if (run.abandoned || s.stop) {
                    return next;
                }
                run.reading = true;
                run.since = s.now();
                run.channel = channel;
            }
            gone = channel->refresh(*s.context) == host::Outcome::gone || gone;
            slowed = slowed || (lane == kFast && channel->slow());
            const std::lock_guard lock(s.mutex);
            run.reading = false;
            run.channel.reset();
        }
        if (!channel->stuck() && channel->slow() == (lane == kSlow)) {
            next = std::min(next, channel->due());
        }
    }
    return next;
}

// Discovery when due, then a pass over the fast channels. Holds the lock on entry and exit.
double fastTurn(State& s, LaneRun& run, Lock& lock) {
    const double now = s.now();
    const SensorTiming& timing = s.timing();
    const bool watching = !s.setup.ueventSubsystems.empty();
    if (watching && !s.ueventsOpened) {
        s.ueventsOpened = true;
        s.uevents = s.setup.openUevents ? s.setup.openUevents() : openUeventSocket();
    }
    if (s.uevents.valid()) {
        const int socket = s.uevents.get();
        lock.unlock();
        const bool changed = drainUevents(socket, s.setup.ueventSubsystems);
        lock.lock();
        s.rediscover = s.rediscover || changed;
    }
    const bool timer =
        timing.rediscoverEvery > 0 && now - s.lastDiscovery >= timing.rediscoverEvery;
    if ((!s.discovered || s.rediscover || timer) && !s.discoveryStuck) {
        auto set = std::make_shared<ChannelSet>(s.context, s.channels);
        run.reading = true;
        run.since = now;
        lock.unlock();
        Catalog catalog = s.discover(set);
        set->forgetPrevious();
        lock.lock();
        run.reading = false;
        if (run.abandoned) {
            return kNever;
        }
        s.channels = std::move(set);
        s.catalog = std::move(catalog);
        s.discovered = true;
        s.rediscover = false;
        s.lastDiscovery = now;
        s.wake.notify_all(); // the slow lane has a new set
    }
    const auto set = s.channels;
    lock.unlock();
    bool gone = false;
    bool slowed = false;
    double next = set ? readDue(s, run, *set, kFast, gone, slowed) : kNever;
    lock.lock();
    if (run.abandoned) {
        return kNever;
    }
    ++s.passes;
    s.refreshed.notify_all();
    if (slowed) {
        s.wake.notify_all(); // the slow lane has new work
    }
    s.rediscover = s.rediscover || gone;
    if (gone || watching) {
        next = std::min(next, now + timing.refresh);
    }
    if (timing.rediscoverEvery > 0 && !s.discoveryStuck) {
        next = std::min(next, s.lastDiscovery + timing.rediscoverEvery);
    }
    return next;
}

double slowTurn(State& s, LaneRun& run, Lock& lock) {
    const auto set = s.channels;
    lock.unlock();
    bool gone = false;
    bool slowed = false;
    const double next = set ? readDue(s, run, *set, kSlow, gone, slowed) : kNever;
    lock.lock();
    s.rediscover = s.rediscover || gone;
    return next;
}

void runLane(std::shared_ptr<State> state, int lane, std::shared_ptr<LaneRun> run) {
    State& s = *state;
    setCurrentThreadName(s.setup.name + (lane == kFast ? "-read" : "-slow"));
    Lock lock(s.mutex);
    while (!s.stop && !run->abandoned) {
        if (!s.active) {
            s.wake.wait(lock);
            continue;
        }
        if (lane == kFast && s.now() - s.lastDemand >= s.timing().idleAfter) {
            s.active = false; // nobody asks: no reads, no timers, no wake-ups
            continue;
        }
        double next = lane == kFast ? fastTurn(s, *run, lock) : slowTurn(s, *run, lock);
        if (s.stop || run->abandoned) {
            break;
        }
        const double now = s.now();
        if (lane == kFast) {
            next = std::min(next, s.lastDemand + s.timing().idleAfter);
        }
        if (next == kNever) {
            s.wake.wait(lock);
        } else if (next > now) {
            s.wake.wait_for(lock, std::chrono::duration<double>(next - now));
        }
    }
    if (!run->abandoned) {
        s.lanes[static_cast<std::size_t>(lane)].running = false;
        s.exited.notify_all();
    }
}

void startLanes(const std::shared_ptr<State>& state) {
    for (int lane : {kFast, kSlow}) {
        auto& entry = state->lanes[static_cast<std::size_t>(lane)];
        if (!entry.running) {
            entry.running = true;
            entry.thread = std::thread(runLane, state, lane, entry.run);
        }
    }
}

// A read that has run past stuckAfter keeps its thread; the lane goes on without both.
void leaveStuckReads(State& s, double now) {
    for (auto& lane : s.lanes) {
        LaneRun& run = *lane.run;
        if (!run.reading || now - run.since <= s.timing().stuckAfter) {
            continue;
        }
        const auto seconds = std::to_string(static_cast<int>(s.timing().stuckAfter));
        const Report& report = s.setup.report;
        std::string line;
        if (run.channel) {
            run.channel->markStuck();
            line = "Sensor file " + run.channel->relative() + " did not answer within " + seconds +
                   " s; it is no longer read.";
        } else {
            s.discoveryStuck = true;
            line = "Looking for " + s.setup.name + " sensors did not finish within " + seconds +
                   " s; those found before are still read.";
        }
        (report ? report : Report(writeToStandardError))(line);
        run.abandoned = true;
        if (lane.thread.joinable()) {
            lane.thread.detach(); // blocked in the kernel; it ends when the read returns
        }
        lane.running = false;
        lane.run = std::make_shared<LaneRun>();
    }
}

} // namespace

SensorPoller::SensorPoller(const std::string& root, Discover discover, Setup setup)
    : state_(std::make_shared<State>()) {
    auto context = std::make_shared<ChannelContext>();
    context->root = host::RootedDirectory(root);
    context->timing = setup.timing;
    context->clock = setup.clock ? setup.clock : std::make_shared<host::MonotonicUptimeClock>();
    context->pread = setup.pread;
    context->keptLimit = setup.keptLimit;
    state_->context = std::move(context);
    state_->discover = std::move(discover);
    state_->setup = std::move(setup);
}

SensorPoller::~SensorPoller() {
    State& s = *state_;
    Lock lock(s.mutex);
    s.stop = true;
    s.wake.notify_all();
    s.refreshed.notify_all();
    const auto limit = std::chrono::duration<double>(s.timing().stuckAfter);
    for (auto& lane : s.lanes) {
        if (!lane.thread.joinable()) {
            continue;
        }
        if (s.exited.wait_for(lock, limit, [&lane] { return !lane.running; })) {
            lock.unlock();
            lane.thread.join();
            lock.lock();
        } else {
            lane.thread.detach();
        }
    }
}

const host::RootedDirectory& SensorPoller::root() const {
    return state_->context->root;
}

const SensorTiming& SensorPoller::timing() const {
    return state_->context->timing;
}

SensorPoller::Catalog SensorPoller::currentCatalog(double patience) {
    State& s = *state_;
    const double now = s.now();
    Lock lock(s.mutex);
    s.lastDemand = now;
    leaveStuckReads(s, now);
    if (!s.active) {
        s.active = true;
        if (s.channels) {
            for (const auto& channel : s.channels->all()) {
                channel->expire(*s.context, now);
            }
        }
        if (s.setup.background) {
            startLanes(state_);
            s.wake.notify_all();
            const std::uint64_t target = s.passes + 1;
            const double wait = patience < 0 ? s.timing().firstWait : patience;
            s.refreshed.wait_for(lock, std::chrono::duration<double>(wait),
                                 [&] { return s.passes >= target || s.stop; });
        }
    } else if (s.setup.background) {
        startLanes(state_); // after a stuck lane was left behind
    }
    return s.catalog;
}

void SensorPoller::step() {
    State& s = *state_;
    Lock lock(s.mutex);
    if (!s.active || s.now() - s.lastDemand >= s.timing().idleAfter) {
        s.active = false;
        return;
    }
    fastTurn(s, *s.lanes[kFast].run, lock);
    slowTurn(s, *s.lanes[kSlow].run, lock);
}

} // namespace brivane::platform::linux_backend
