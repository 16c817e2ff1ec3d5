#pragma once

#include <csignal>
#include <sys/types.h>

namespace brivane::testing {

// Interrupts blocking calls on purpose: while it lives, SIGUSR1 has a handler installed without
// SA_RESTART, so a call it interrupts fails with EINTR instead of being restarted.
class Interrupter {
public:
    Interrupter();
    ~Interrupter();
    Interrupter(const Interrupter&) = delete;
    Interrupter& operator=(const Interrupter&) = delete;

    // Waits until thread `thread` sleeps in a blocking call, then signals it and waits until its
    // handler ran; false when either did not happen within 10 s.
    bool interruptAsleep(pid_t thread) const;

private:
    struct sigaction previous_ {};
};

// The calling thread's id, for interruptAsleep.
pid_t currentThread();

} // namespace brivane::testing
