#pragma once

#include "support/child_process.h"

#include <atomic>
#include <csignal>
#include <fstream>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace brivane::testing {

// Interrupts blocking calls on purpose: while it lives, SIGUSR1 has a handler installed without
// SA_RESTART, so a call it interrupts fails with EINTR instead of being restarted.
class Interrupter {
public:
    Interrupter() {
        struct sigaction action {};
        action.sa_handler = [](int) { ++handled; };
        ::sigaction(SIGUSR1, &action, &previous_);
    }
    ~Interrupter() { ::sigaction(SIGUSR1, &previous_, nullptr); }
    Interrupter(const Interrupter&) = delete;
    Interrupter& operator=(const Interrupter&) = delete;

    // Waits until `thread` sleeps in a blocking call ('S' in its stat), then signals it and
    // waits for its handler to run; false when either did not happen within 10 s.
    bool interruptAsleep(pid_t thread) const {
        const auto asleep = [thread] {
            std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
            const std::string text((std::istreambuf_iterator<char>(stat)), {});
            return text.size() > text.rfind(") ") + 2 && text[text.rfind(") ") + 2] == 'S';
        };
        const int before = handled;
        return pollUntil(std::chrono::seconds(10), asleep) &&
               ::syscall(SYS_tgkill, ::getpid(), thread, SIGUSR1) == 0 &&
               pollUntil(std::chrono::seconds(10), [before] { return handled > before; });
    }

    // The calling thread's id, for interruptAsleep.
    static pid_t currentThread() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

private:
    static inline std::atomic<int> handled{0};
    struct sigaction previous_ {};
};

} // namespace brivane::testing
