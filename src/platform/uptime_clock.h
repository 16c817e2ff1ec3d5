#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace brivane::platform {

// Seconds since boot, monotonic, not advancing while the machine sleeps. Every sampling
// window and cadence is measured with it.
class UptimeClock {
public:
    virtual ~UptimeClock() = default;
    virtual double uptime() const = 0;
    // Returns once the clock has moved on by at least `seconds`.
    virtual void wait(double seconds) const {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
};

// The platform's clock; defined by the back end the executable links.
std::shared_ptr<const UptimeClock> makeDefaultUptimeClock();

// A clock that tests and the simulated machine set by hand.
class ManualUptimeClock final : public UptimeClock {
public:
    explicit ManualUptimeClock(double start = 1000.0) : now_(start) {}
    double uptime() const override { return now_; }
    // Waiting on a hand-set clock moves it at once.
    void wait(double seconds) const override { now_ += seconds; }
    void set(double seconds) { now_ = seconds; }
    void advance(double seconds) { now_ += seconds; }

private:
    // Read by the workers of the queues under test while the test moves it.
    mutable std::atomic<double> now_;
};

} // namespace brivane::platform
