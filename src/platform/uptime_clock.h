#pragma once

#include <memory>

namespace brivane::platform {

// Seconds since boot, monotonic, not advancing while the machine sleeps. Every sampling
// window and cadence is measured with it.
class UptimeClock {
public:
    virtual ~UptimeClock() = default;
    virtual double uptime() const = 0;
};

// The platform's clock; defined by the back end the executable links.
std::shared_ptr<const UptimeClock> makeDefaultUptimeClock();

// A clock that tests and the simulated machine set by hand.
class ManualUptimeClock final : public UptimeClock {
public:
    explicit ManualUptimeClock(double start = 1000.0) : now_(start) {}
    double uptime() const override { return now_; }
    void set(double seconds) { now_ = seconds; }
    void advance(double seconds) { now_ += seconds; }

private:
    double now_;
};

} // namespace brivane::platform
