#include "backends/linux/polling/sensor_lanes.h"

#include "backends/linux/polling/uevent.h"
#include "base/thread_naming_hook.h"

#include <algorithm>
#include <sys/prctl.h>

namespace brivane::platform::linux_backend {
namespace {

using State = SensorPoller::State;
using Catalog = SensorPoller::Catalog;

// What the class folders hold: entry names and where they link to.
std::string listingOf(const posix::RootedDirectory& root, const std::vector<std::string>& folders) {
    std::string listing;
    for (const auto& folder : folders) {
        for (const auto& entry : root.list(folder.c_str())) {
            listing += entry;
            listing += root.linkTarget((folder + "/" + entry).c_str()).value_or("");
            listing += '\n';
        }
    }
    return listing;
}

// Marks one channel as read by the lane; false when the lane was left behind or stops. Holds
// the lock.
bool beginRead(State& s, LaneRun& run, const std::shared_ptr<SensorChannel>& channel) {
    if (run.abandoned || s.stop) {
        return false;
    }
    run.reading = true;
    run.since = s.now();
    run.channel = channel;
    return true;
}

// After a read: false when the lane was left behind meanwhile. Holds the lock.
bool endRead(State& s, LaneRun& run, const SensorChannel& channel) {
    run.reading = false;
    run.channel.reset();
    if (run.abandoned) {
        s.answered.emplace(channel.device()); // the read that hung has returned
        return false;
    }
    return true;
}

// A retired file is read once more when its look is due; false when the lane was left behind.
// Called without the lock.
bool lookAgainWhenDue(State& s, LaneRun& run, const std::shared_ptr<SensorChannel>& channel,
                      double now, bool& gone) {
    {
        const std::lock_guard lock(s.mutex);
        if (!s.troubles.lookDue(channel->relative(), now) || s.unreachable(channel->device())) {
            return true;
        }
        if (!beginRead(s, run, channel)) {
            return false;
        }
    }
    const bool answered = channel->lookAgain(*s.context) == posix::Outcome::value;
    const std::lock_guard lock(s.mutex);
    if (!endRead(s, run, *channel)) {
        return false;
    }
    s.troubles.lookedAgain(channel->relative(), answered, now);
    if (answered) {
        report(s, "Sensor file " + channel->relative() + " answers again.");
        if (channel->gone()) {
            gone = true; // its descriptor is the old node's: the walk opens it anew
        } else {
            channel->reinstate();
        }
    }
    return true;
}

// Reads the lane's due channels; the time the next one falls due. Called without the lock.
double readDue(State& s, LaneRun& run, const ChannelSet& set, int lane, bool& gone, bool& slowed) {
    double next = kNever;
    // Channels falling due within a tenth of a refresh are read in this pass: one wake-up.
    const double pass = s.now();
    const double horizon = pass + s.timing().refresh / 10;
    std::uint64_t era = 0;
    {
        const std::lock_guard lock(s.mutex);
        era = s.era;
    }
    std::vector<std::shared_ptr<SensorChannel>> unproven;
    for (const auto& channel : set.all()) {
        if (channel->stuck() || channel->slow() != (lane == kSlow)) {
            continue;
        }
        if (channel->retired()) {
            if (!lookAgainWhenDue(s, run, channel, pass, gone)) {
                return next;
            }
            continue;
        }
        if (channel->due() <= horizon) {
            if (lane == kFast && !channel->isProbe() && !channel->provenIn(era)) {
                unproven.push_back(channel);
                continue;
            }
            {
                const std::lock_guard lock(s.mutex);
                if (s.passedOver(channel->device())) {
                    channel->markStuck(); // a file of a device whose read hung
                    continue;
                }
                if (s.awaited.contains(channel->device())) {
                    continue;
                }
                if (!beginRead(s, run, channel)) {
                    return next;
                }
            }
            const posix::Outcome outcome = channel->refresh(*s.context, pass);
            slowed = slowed || (lane == kFast && channel->slow());
            const std::lock_guard lock(s.mutex);
            if (!endRead(s, run, *channel)) {
                return next;
            }
            channel->prove(era);
            gone = noteOutcome(s, *channel, outcome) || gone;
        }
        if (!channel->skipped() && channel->slow() == (lane == kSlow)) {
            next = std::min(next, channel->due());
        }
    }
    if (!unproven.empty()) {
        readSideBySide(s, run, unproven, pass, gone, slowed);
        for (const auto& channel : unproven) {
            if (!channel->skipped() && !channel->slow()) {
                next = std::min(next, channel->due());
            }
        }
    }
    return next;
}

// Devices whose hung read has returned are read again from the next walk on (not at once, so
// that a file that is merely very slow costs a thread a round, not a loop). Holds the lock; true
// when there were any.
bool readmitAnswered(State& s) {
    if (s.answered.empty()) {
        return false;
    }
    for (const std::string& device : s.answered) {
        s.stuckDevices.erase(device);
    }
    if (s.channels) {
        for (const auto& channel : s.channels->all()) {
            if (s.answered.contains(channel->device())) {
                channel->unstick();
            }
        }
    }
    s.answered.clear();
    return true;
}

// Told of each file a walk opens: notes it for the stuck check, and passes over devices whose
// read hung.
struct WatchedWalk {
    State& s;
    LaneRun& run;
};

bool watchWalk(void* context, const char* relative) {
    auto& walk = *static_cast<WatchedWalk*>(context);
    const std::lock_guard lock(walk.s.mutex);
    if (walk.s.passedOver(deviceOf(relative))) {
        return false;
    }
    walk.run.since = walk.s.now();
    walk.run.path = relative;
    return true;
}

// Discovery, when it has never run, something came or went, or the timer finds the class
// folders' listing changed. Holds the lock on entry and exit; false when the lane was left
// behind meanwhile (its walk then only clears the way for the next one).
bool discoverWhenDue(State& s, LaneRun& run, Lock& lock, double now) {
    const double every = s.timing().rediscoverEvery;
    const bool timer = (every > 0 && now - s.lastDiscovery >= every) || s.relist;
    if (s.discovered && !s.rediscover && !timer) {
        return true;
    }
    s.relist = false;
    const bool known = !readmitAnswered(s) && s.discovered && !s.rediscover;
    s.rediscover = false; // a file gone from here on asks for another discovery
    auto set = std::make_shared<ChannelSet>(s.context, s.channels);
    run.reading = true;
    run.since = now;
    run.path.clear();
    lock.unlock();
    std::string listing;
    Catalog catalog;
    {
        WatchedWalk walk{s, run};
        const posix::ScopedOpenWatch watch(watchWalk, &walk);
        listing = listingOf(s.context->root, s.setup.classFolders);
        if (!known || listing != s.listing) {
            catalog = s.discover(set);
            set->forgetPrevious();
        }
    }
    lock.lock();
    run.reading = false;
    if (run.abandoned) {
        // The read that hung returned: the timer's next walk looks at its device again (not at
        // once, so that a file that is merely very slow costs a thread a round, not a loop).
        if (s.walkHung == run.hung) {
            s.walkHung.reset();
        }
        s.listing.clear();
        return false;
    }
    s.lastDiscovery = now;
    if (!catalog) {
        return true; // nothing came or went
    }
    if (listing != s.listing) {
        s.troubles.forgetAll(); // the machine changed: every file deserves another look
    }
    std::set<std::string, std::less<>> paths;
    for (const auto& channel : set->all()) {
        paths.insert(channel->relative());
    }
    s.troubles.keepOnly(paths);
    for (const auto& channel : set->all()) {
        if (s.troubles.retired(channel->relative())) {
            channel->retire(); // a fresh channel of a file that keeps failing
        } else {
            channel->reinstate();
        }
    }
    s.listing = std::move(listing);
    s.channels = std::move(set);
    s.catalog = std::move(catalog);
    s.discovered = true;
    wakeSlowLane(s);          // it has a new set
    s.refreshed.notify_all(); // a back end opening waits for it
    return true;
}

} // namespace

// Discovery when due, then a pass over the fast channels.
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
        const UeventNews news = drainUevents(socket, s.setup.ueventSubsystems);
        lock.lock();
        // Events lost in a storm: the class folders' listing tells whether anything came or went.
        const bool listed = !s.setup.classFolders.empty();
        s.rediscover =
            s.rediscover || news == UeventNews::devices || (news == UeventNews::lost && !listed);
        s.relist = s.relist || news == UeventNews::lost;
    }
    if (!discoverWhenDue(s, run, lock, now)) {
        return kNever;
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
        s.slowWake.notify_all(); // the slow lane has new work
    }
    s.rediscover = s.rediscover || gone;
    // The kernel's events wait for the next pass, or for a request that sees them waiting: a
    // back end with nothing to read costs no timer.
    if (gone) {
        next = std::min(next, now + timing.refresh);
    }
    if (timing.rediscoverEvery > 0) {
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

bool noteOutcome(State& s, SensorChannel& channel, posix::Outcome outcome) {
    switch (s.troubles.note(channel.relative(), outcome, s.now())) {
    case FileTroubles::Step::none:
        return false;
    case FileTroubles::Step::lookForIt:
        return true;
    case FileTroubles::Step::retire:
        channel.retire();
        report(s, "Sensor file " + channel.relative() + " keeps failing (" +
                      (outcome == posix::Outcome::gone ? "the file or its device is gone"
                                                       : "reading it is not permitted") +
                      "); it is looked at again now and then, and read again once it answers.");
        return false;
    }
    return false;
}

namespace {

void runLane(const std::shared_ptr<State>& state, int lane, const std::shared_ptr<LaneRun>& run) {
    State& s = *state;
    std::condition_variable& wake = lane == kFast ? s.wake : s.slowWake;
    base::setCurrentThreadName(s.setup.name + (lane == kFast ? "-read" : "-slow"));
    // A pass a twentieth of a refresh late is as fresh: the kernel may fold the lanes' timers
    // into one wake-up of the machine.
    ::prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(s.timing().refresh / 20 * 1e9));
    Lock lock(s.mutex);
    bool read = false; // since the last rest
    while (!s.stop && !run->abandoned) {
        if (!s.active) {
            if (lane == kSlow && read && s.setup.resting) {
                read = false;
                lock.unlock();
                s.setup.resting();
                lock.lock();
                continue;
            }
            wake.wait(lock);
            continue;
        }
        read = true;
        double until = 0;
        const Paced paced = pacedTurn(s, lane, s.now(), until);
        if (paced == Paced::wait) {
            if (until == kNever) {
                wake.wait(lock);
            } else {
                wake.wait_for(lock, std::chrono::duration<double>(until - s.now()));
            }
            continue;
        }
        if (lane == kFast && paced == Paced::no && s.now() - s.lastDemand >= s.timing().idleAfter) {
            s.active = false; // nobody asks: no reads, no timers, no wake-ups
            wakeSlowLane(s);  // it parks now, not at its next read
            continue;
        }
        double next = laneTurn(s, *run, lane, paced, lock);
        if (s.stop || run->abandoned) {
            break;
        }
        if (s.cadence.period()) {
            continue; // paced: it sleeps until the next expected request
        }
        const double now = s.now();
        if (lane == kFast) {
            next = std::min(next, s.lastDemand + s.timing().idleAfter);
        }
        if (next == kNever) {
            wake.wait(lock);
        } else if (next > now) {
            wake.wait_for(lock, std::chrono::duration<double>(next - now));
        }
    }
    if (!run->abandoned) {
        s.lanes[static_cast<std::size_t>(lane)].running = false;
        s.exited.notify_all();
    }
}

} // namespace

bool hasSlowWork(const State& s) {
    return s.channels && std::ranges::any_of(s.channels->all(), [](const auto& channel) {
               return channel->slow() && !channel->skipped();
           });
}

void wakeSlowLane(State& s) {
    if (hasSlowWork(s)) {
        s.slowWake.notify_all();
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

} // namespace brivane::platform::linux_backend
