#pragma once

// The recorder's sense of time: the wall clock its samples are stamped with, and waiting for the
// next one. Behind an interface so that tests and benches warp time.

#include "backends/posix/system/file_descriptor.h"

#include <cstdint>

namespace brivane::cli {

class RecorderClock {
public:
    enum class Woke {
        due,     // the time came
        changed, // the wall clock was set meanwhile: work out the next time again
        stop,    // asked to stop (SIGTERM, SIGINT)
        reload,  // asked to read the configuration again (SIGHUP)
    };

    virtual ~RecorderClock() = default;
    virtual std::int64_t nowMs() = 0; // the wall clock, ms since the epoch (UTC)
    virtual Woke waitUntil(std::int64_t wallMs) = 0;
    // How long the machine slept (suspended) since the last call, in ms.
    virtual std::int64_t sleptMs() = 0;
};

// The machine's clocks: an absolute timer on the wall clock that the kernel cancels when the
// clock is set (so a step of the clock re-arms it instead of sleeping through it), fired at once
// on resume when its time passed during a suspend; stop signals through a descriptor of their
// own (SIGHUP among them, for a reload). The time slept is what CLOCK_BOOTTIME counted that
// CLOCK_MONOTONIC did not.
class SystemRecorderClock final : public RecorderClock {
public:
    SystemRecorderClock();
    std::int64_t nowMs() override;
    Woke waitUntil(std::int64_t wallMs) override;
    std::int64_t sleptMs() override;

private:
    platform::posix::FileDescriptor timer_, signals_;
    std::int64_t asleep_ = 0; // boot time minus monotonic time at the last look
};

} // namespace brivane::cli
