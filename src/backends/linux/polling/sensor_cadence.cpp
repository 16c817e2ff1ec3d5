#include "backends/linux/polling/sensor_lanes.h"

#include <cmath>

namespace brivane::platform::linux_backend {
namespace {

using State = SensorPoller::State;

// How far a steady client's intervals may stray: its timer's jitter and the time its requests
// take, not another client's requests in between.
double slackOf(double period, double refresh) {
    return std::max(refresh / 2, period / 20);
}

// A lane reads this long before the expected request: its longest pass and a refresh, so that
// a request a refresh early finds the pass ended, and one a refresh late values read within two.
double leadOf(const State& s, int lane) {
    return s.took[static_cast<std::size_t>(lane)].longest() + s.timing().refresh;
}

} // namespace

bool Cadence::note(double at, double refresh, bool fresh) {
    if (count_ > 0 && at - times_[(count_ - 1) % kTimes] < refresh / 2) {
        return true; // the same snapshot
    }
    const bool onTime = !period_ || fresh;
    times_[count_ % kTimes] = at;
    ++count_;
    period_.reset();
    if (!onTime || count_ < kTimes) {
        return onTime; // learnt again from the next request on
    }
    const double oldest = times_[count_ % kTimes];
    const double period = (at - oldest) / (kTimes - 1);
    if (period < 3 * refresh) {
        return true;
    }
    for (std::size_t i = 1; i < kTimes; ++i) {
        const double interval = times_[(count_ + i) % kTimes] - times_[(count_ + i - 1) % kTimes];
        if (std::abs(interval - period) > slackOf(period, refresh)) {
            return true;
        }
    }
    period_ = period;
    expected_ = at + period;
    return true;
}

void PassLength::note(double took, double now) {
    if (now - since_ >= kWindow) {
        previous_ = current_;
        current_ = 0;
        since_ = now;
    }
    current_ = std::max(current_, took);
}

Paced pacedTurn(State& s, int lane, double now, double& until) {
    const auto period = s.cadence.period();
    if (!period) {
        return Paced::no;
    }
    const auto index = static_cast<std::size_t>(lane);
    if (s.readNow[index]) {
        return Paced::no;
    }
    if (lane == kSlow && !hasSlowWork(s)) {
        until = kNever; // woken when a channel turns slow
        return Paced::wait;
    }
    const double expected = s.cadence.expected();
    const double lead = leadOf(s, lane);
    if (s.readFor[static_cast<std::size_t>(lane)] != expected) {
        until = expected - lead;
        return now >= until ? Paced::read : Paced::wait;
    }
    // Read for the expected request: the next pass is one period on, if that request comes.
    until = expected + *period - lead;
    if (now < until) {
        return Paced::wait;
    }
    s.cadence.forget(); // it did not come: the refresh and the idle timer rule again
    return Paced::no;
}

double laneTurn(State& s, LaneRun& run, int lane, Paced paced, Lock& lock) {
    const double began = s.now();
    const double expected = s.cadence.expected();
    const double next = lane == kFast ? fastTurn(s, run, lock) : slowTurn(s, run, lock);
    if (run.abandoned || s.stop) {
        return next;
    }
    const double ended = s.now();
    s.took[static_cast<std::size_t>(lane)].note(ended - began, ended);

    const auto index = static_cast<std::size_t>(lane);
    s.readNow[index] = false;
    if (paced == Paced::read) {
        s.readFor[index] = expected;
        s.pacedAt[index] = began;
    }
    return next;
}

} // namespace brivane::platform::linux_backend
