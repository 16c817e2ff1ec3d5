#include "backends/linux/polling/sensor_poller.h"

#include "backends/linux/polling/sensor_lanes.h"
#include "backends/posix/system/monotonic_uptime_clock.h"

#include <algorithm>
#include <poll.h>
#include <unistd.h>

namespace brivane::platform::linux_backend {
namespace {

using State = SensorPoller::State;

// Whether the kernel has told of devices since the fast lane last looked; does not block.
bool eventsWaiting(const State& s) {
    pollfd events{s.uevents.get(), POLLIN, 0};
    return s.uevents.valid() && ::poll(&events, 1, 0) > 0;
}

// Starts reading after a rest: values older than their pace allows are forgotten, the lanes
// run, and requests until the first pass wait no longer than firstWait from now.
void activate(const std::shared_ptr<State>& state, double now) {
    State& s = *state;
    s.active = true;
    s.readNow = {true, true};
    if (s.channels) {
        for (const auto& channel : s.channels->all()) {
            channel->expire(*s.context, now);
        }
    }
    s.awaitAfter = s.passes;
    s.awaitUntil = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(s.timing().firstWait));
    if (s.setup.background) {
        startLanes(state);
        s.wake.notify_all();
        wakeSlowLane(s);
    }
}

// Sets a hung device aside: its files are not read until the read returns.
void setAside(State& s, const std::string& device) {
    s.stuckDevices.insert(device);
    if (s.channels) {
        for (const auto& channel : s.channels->all()) {
            if (channel->device() == device) {
                channel->markStuck();
            }
        }
    }
}

// Reads side by side that have run past stuckAfter: their devices are set aside together, in
// one line.
void leaveStuckProbes(State& s, double now) {
    std::vector<std::string> files;
    for (const auto& run : s.probes) {
        if (run->abandoned || !run->reading || now - run->since <= s.timing().stuckAfter) {
            continue;
        }
        run->abandoned = true; // its thread ends when the read returns
        setAside(s, std::string(run->channel->device()));
        files.push_back(run->channel->relative());
    }
    if (files.empty()) {
        return;
    }
    std::sort(files.begin(), files.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b; // thermal_zone2 before 10
    });
    const auto seconds = std::to_string(static_cast<int>(s.timing().stuckAfter));
    if (files.size() == 1) {
        report(s, "Sensor file " + files.front() + " did not answer within " + seconds +
                      " s; its device is not read until it answers.");
        return;
    }
    std::string some;
    for (std::size_t i = 0; i < std::min<std::size_t>(files.size(), 3); ++i) {
        some += (i > 0 ? ", " : "") + files[i];
    }
    report(s, "Sensor files of " + std::to_string(files.size()) + " devices (" + some +
                  (files.size() > 3 ? ", …" : "") + ") did not answer within " + seconds +
                  " s; they are not read until they answer.");
}

// A read that has run past stuckAfter keeps its thread; the lane goes on without it, and
// without its device: one thread is left per hung device, not one per file.
void leaveStuckReads(State& s, double now) {
    leaveStuckProbes(s, now);
    for (auto& lane : s.lanes) {
        LaneRun& run = *lane.run;
        if (!run.reading || now - run.since <= s.timing().stuckAfter) {
            continue;
        }
        const auto seconds = std::to_string(static_cast<int>(s.timing().stuckAfter));
        std::string line;
        if (run.channel) {
            setAside(s, std::string(run.channel->device()));
            run.channel->markStuck();
            ++s.era; // the channels it trusted are read side by side until they answer again
            line = "Sensor file " + run.channel->relative() + " did not answer within " + seconds +
                   " s; its device is not read until it answers.";
        } else {
            run.hung = std::string(deviceOf(run.path));
            s.walkHung = run.hung;
            s.rediscover = true; // at once, passing over that device
            line = "Looking for " + s.setup.name + " sensors, " +
                   (run.path.empty() ? std::string("a folder") : run.path) +
                   " did not answer within " + seconds + " s; " +
                   (run.hung.empty() ? std::string("the others") : "the devices but " + run.hung) +
                   " are looked for again.";
        }
        report(s, line);
        run.abandoned = true;
        if (lane.thread.joinable()) {
            lane.thread.detach(); // blocked in the kernel; it ends when the read returns
        }
        lane.running = false;
        lane.run = std::make_shared<LaneRun>();
    }
}

} // namespace

void report(const State& s, std::string_view line) {
    if (s.setup.report) {
        s.setup.report(line);
        return;
    }
    std::string text(line);
    text += '\n';
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, text.data(), text.size());
}

SensorPoller::SensorPoller(const std::string& root, Discover discover, Setup setup)
    : state_(std::make_shared<State>()) {
    auto context = std::make_shared<ChannelContext>();
    context->root = posix::RootedDirectory(root);
    context->timing = setup.timing;
    context->clock = setup.clock ? setup.clock : std::make_shared<posix::MonotonicUptimeClock>();
    context->pread = setup.pread;
    context->keptLimit = setup.keptLimit;
    state_->troubles = FileTroubles(
        {.firstLook = setup.timing.rediscoverEvery > 0 ? setup.timing.rediscoverEvery : 30});
    state_->context = std::move(context);
    state_->discover = std::move(discover);
    state_->setup = std::move(setup);
    if (state_->setup.demand) {
        state_->setup.demand->join(*this);
    }
}

SensorPoller::~SensorPoller() {
    if (state_->setup.demand) {
        state_->setup.demand->leave(*this);
    }
    State& s = *state_;
    Lock lock(s.mutex);
    s.stop = true;
    s.wake.notify_all();
    s.slowWake.notify_all();
    s.refreshed.notify_all();
    s.probed.notify_all();
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

const posix::RootedDirectory& SensorPoller::root() const {
    return state_->context->root;
}

const SensorTiming& SensorPoller::timing() const {
    return state_->context->timing;
}

SensorPoller::Catalog SensorPoller::currentCatalog(std::optional<double> discoveryPatience) {
    State& s = *state_;
    const double now = s.now();
    Lock lock(s.mutex);
    const bool paced = s.cadence.period().has_value();
    // Fresh: read for this request, recently enough that no fast value has expired.
    const bool fresh = s.readFor[kFast] == s.cadence.expected() &&
                       now - s.pacedAt[kFast] <= 2 * s.timing().refresh;
    const bool onCadence = s.cadence.note(now, s.timing().refresh, fresh);
    s.lastDemand = now;
    leaveStuckReads(s, now);
    if (!s.active) {
        activate(state_, now);
        if (s.setup.demand) {
            lock.unlock(); // the others' locks are never taken under this one
            s.setup.demand->wakeOthers(*this, now);
            lock.lock();
        }
    } else if (!onCadence) {
        activate(state_, now); // values paced for another time: read now, as after a rest
    } else if (s.setup.background) {
        startLanes(state_); // after a stuck lane was left behind
        if (eventsWaiting(s) || (paced && !s.cadence.period())) {
            // A device came or went: the fast lane looks, not this request. Or the cadence
            // wavered: the lanes read at the refresh again.
            s.wake.notify_all();
            wakeSlowLane(s);
        }
    }
    if (s.setup.background) {
        if (discoveryPatience) {
            s.refreshed.wait_for(lock, std::chrono::duration<double>(*discoveryPatience),
                                 [&] { return s.catalog || s.stop; });
        } else if (s.passes == s.awaitAfter) {
            // Until a pass since waking ended or its deadline passed, values may be a rest old.
            s.refreshed.wait_until(lock, s.awaitUntil,
                                   [&] { return s.passes != s.awaitAfter || s.stop; });
        }
    }
    // A lane held up by a hung device must not pass old values off as current ones.
    if (s.channels) {
        const double at = s.now();
        for (const auto& channel : s.channels->all()) {
            channel->expire(*s.context, at);
        }
    }
    return s.catalog;
}

const std::string& SensorPoller::name() const {
    return state_->setup.name;
}

MonitorSource SensorPoller::source() {
    State& s = *state_;
    const Lock lock(s.mutex);
    leaveStuckReads(s, s.now()); // a back end nobody else asks still tells of a hung read
    if (s.active && s.setup.background) {
        startLanes(state_);
    }
    return {s.setup.name, s.stuckDevices.empty() && !s.walkHung, s.troubles.retiredCount()};
}

void SensorPoller::wakeWithOthers(double now) {
    State& s = *state_;
    const Lock lock(s.mutex);
    if (!s.active) {
        s.lastDemand = now;
        activate(state_, now);
    }
}

void SharedDemand::join(SensorPoller& poller) {
    const std::lock_guard lock(mutex_);
    pollers_.push_back(&poller);
}

void SharedDemand::leave(SensorPoller& poller) {
    const std::lock_guard lock(mutex_);
    std::erase(pollers_, &poller);
}

std::vector<MonitorSource> SharedDemand::sources() {
    const std::lock_guard lock(mutex_);
    std::vector<MonitorSource> sources;
    for (SensorPoller* poller : pollers_) {
        sources.push_back(poller->source());
    }
    return sources;
}

std::shared_ptr<SharedDemand> SharedDemand::agents() {
    static const auto demand = std::make_shared<SharedDemand>();
    return demand;
}

void SharedDemand::wakeOthers(SensorPoller& woken, double now) {
    const std::lock_guard lock(mutex_);
    for (SensorPoller* poller : pollers_) {
        if (poller != &woken) {
            poller->wakeWithOthers(now);
        }
    }
}

void SensorPoller::step() {
    State& s = *state_;
    Lock lock(s.mutex);
    double until = 0;
    const Paced fast = s.active ? pacedTurn(s, kFast, s.now(), until) : Paced::no;
    if (!s.active || (fast == Paced::no && s.now() - s.lastDemand >= s.timing().idleAfter)) {
        const bool stopping = s.active;
        s.active = false;
        if (stopping && s.setup.resting) {
            lock.unlock();
            s.setup.resting();
        }
        return;
    }
    if (fast != Paced::wait) {
        laneTurn(s, *s.lanes[kFast].run, kFast, fast, lock);
    }
    const Paced slow = pacedTurn(s, kSlow, s.now(), until);
    if (slow != Paced::wait) {
        laneTurn(s, *s.lanes[kSlow].run, kSlow, slow, lock);
    }
}

} // namespace brivane::platform::linux_backend