#pragma once

// The inside of a SensorPoller, shared by its lanes (sensor_lanes.cpp) and the requests
// (sensor_poller.cpp).

#include "backends/linux/polling/file_troubles.h"
#include "backends/linux/polling/sensor_poller.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace brivane::platform::linux_backend {

inline constexpr double kNever = std::numeric_limits<double>::infinity();
inline constexpr int kFast = 0;
inline constexpr int kSlow = 1;

// What one lane thread is doing, so that a request can tell a stuck read from a busy lane.
struct LaneRun {
    bool reading = false;
    double since = 0;
    std::shared_ptr<SensorChannel> channel; // null while discovering
    std::string path;                       // while discovering: the file last opened
    std::string hung;                       // the device of the read it was left behind in
    bool abandoned = false;                 // a fresh lane took over
    // A thread reading devices side by side: since when its read waits, in real time, and
    // whether the lane has stopped waiting for it.
    std::chrono::steady_clock::time_point began{};
    bool suspect = false;
    bool done = false;
};

// The requests' times, and their period while they come steadily, clearly slower than the
// refresh: the lanes then read once before each expected request instead of every refresh.
class Cadence {
public:
    // Notes a request (one within half a refresh of the last is the same snapshot's). False when
    // it breaks a learnt cadence: the fast lane's values are not `fresh` from a pass for it.
    bool note(double at, double refresh, bool fresh);
    std::optional<double> period() const { return period_; }
    double expected() const { return expected_; }
    void forget() { period_.reset(); }

private:
    static constexpr std::size_t kTimes = 4; // three intervals agree before the lanes trust them
    std::array<double, kTimes> times_{};
    std::size_t count_ = 0;
    std::optional<double> period_;
    double expected_ = 0;
};

// How long a lane's passes take: the longest over the last few minutes, so that a pass reading a
// rarely due slow chip is remembered between its turns and a one-off stall is forgotten.
class PassLength {
public:
    void note(double took, double now);
    double longest() const { return std::max(current_, previous_); }

private:
    static constexpr double kWindow = 300;
    double current_ = 0;
    double previous_ = 0;
    double since_ = 0;
};

struct SensorPoller::State : std::enable_shared_from_this<SensorPoller::State> {
    std::shared_ptr<const ChannelContext> context;
    Discover discover;
    Setup setup;

    std::mutex mutex;
    std::condition_variable wake;      // the fast lane: a request after a rest, events, stop
    std::condition_variable slowWake;  // the slow lane: the same, when it has work; work moved
    std::condition_variable refreshed; // requests waiting for a fast pass
    std::condition_variable exited;    // the destructor waiting for the lanes
    std::condition_variable probed;    // a lane waiting for the reads it set side by side
    bool stop = false;
    bool active = false;
    double lastDemand = 0;
    Cadence cadence;                // of the clients' requests, when steady
    std::array<PassLength, 2> took; // each lane's passes
    // The expected request each lane last read for, while the lanes pace to a cadence.
    std::array<double, 2> readFor{-1, -1};
    std::array<double, 2> pacedAt{}; // when that pass began
    std::array<bool, 2> readNow{};   // a request after a rest: a pass at once, cadence or not
    std::uint64_t passes = 0;
    std::uint64_t awaitAfter = 0;                     // requests wait for a pass after this one,
    std::chrono::steady_clock::time_point awaitUntil; // but not beyond this
    bool discovered = false;
    bool rediscover = false;
    // Devices whose read hung: not read, and passed over by discovery, until that read returns
    // (`answered`) and a timed walk follows.
    std::set<std::string, std::less<>> stuckDevices;
    std::set<std::string, std::less<>> answered;
    // The device a walk left behind was reading, passed over until that walk returns.
    std::optional<std::string> walkHung;
    // Devices a thread reading side by side still waits on: nobody else reads them meanwhile.
    std::set<std::string, std::less<>> awaited;
    // Files whose reads fail for good, retired when they keep failing.
    FileTroubles troubles;
    // Channels that answered in this era are read by their lane; a lane left behind in a hung
    // read starts the next, so that the others are read side by side before the lane trusts
    // them again.
    std::uint64_t era = 1;
    std::vector<std::shared_ptr<LaneRun>> probes; // the threads reading side by side
    bool relist = false; // compare the class folders' listing now, as the timer does
    double lastDiscovery = 0;
    std::string listing; // of the class folders, at the last discovery
    std::shared_ptr<ChannelSet> channels;
    Catalog catalog;
    bool ueventsOpened = false;
    posix::FileDescriptor uevents;

    struct Lane {
        std::shared_ptr<LaneRun> run = std::make_shared<LaneRun>();
        std::thread thread;
        bool running = false;
    };
    std::array<Lane, 2> lanes;

    double now() const { return context->clock->uptime(); }
    bool passedOver(std::string_view device) const {
        return stuckDevices.contains(device) || (walkHung && *walkHung == device);
    }
    // Read by nobody for now: hung, or waited on by a thread reading side by side.
    bool unreachable(std::string_view device) const {
        return passedOver(device) || awaited.contains(device);
    }
    const SensorTiming& timing() const { return context->timing; }
};

using Lock = std::unique_lock<std::mutex>;

// One line to the poller's report (standard error when it has none).
void report(const SensorPoller::State& s, std::string_view line);
// Notes a completed read's outcome for its file: retires one that keeps failing. Holds the
// lock; true when a discovery is due.
bool noteOutcome(SensorPoller::State& s, SensorChannel& channel, posix::Outcome outcome);
// Reads the unproven channels of the fast lane side by side (sensor_probes.cpp): on a few
// threads of their own, a device per thread at a time, and returns once each has been read or
// has waited past suspectAfter; leaveStuckReads sets those aside together once they pass
// stuckAfter. Called without the lock.
void readSideBySide(SensorPoller::State& s, const LaneRun& lane,
                    const std::vector<std::shared_ptr<SensorChannel>>& channels, double pass,
                    bool& gone, bool& slowed);

// Whether the slow lane has channels to read. Holds the lock.
bool hasSlowWork(const SensorPoller::State& s);
// Wakes the slow lane when it has channels to read; with none it sleeps until one moves there,
// so that a back end without slow sensors costs no wake-up of it. Holds the lock.
void wakeSlowLane(SensorPoller::State& s);
// Starts the lanes that are not running.
void startLanes(const std::shared_ptr<SensorPoller::State>& state);
// One turn of a lane: what is due now; when the next is due. Hold the lock on entry and exit.
double fastTurn(SensorPoller::State& s, LaneRun& run, Lock& lock);
double slowTurn(SensorPoller::State& s, LaneRun& run, Lock& lock);

// Whether a lane paced to its clients' cadence reads now (`read`), waits until `until`
// (`wait`), or follows the refresh as without a cadence (`no`: none, or its client missed a
// request). Holds the lock.
enum class Paced { no, read, wait };
Paced pacedTurn(SensorPoller::State& s, int lane, double now, double& until);
// One turn of a lane, paced or not, timed for the lead its paced passes need; when the next
// turn is due without a cadence. Holds the lock on entry and exit.
double laneTurn(SensorPoller::State& s, LaneRun& run, int lane, Paced paced, Lock& lock);

} // namespace brivane::platform::linux_backend
