#include "support/interruptions.h"

#include "support/child_process.h"

#include <atomic>
#include <fstream>
#include <string>
#include <sys/syscall.h>
#include <unistd.h>

namespace brivane::testing {
namespace {

std::atomic<int> handled{0};

void count(int) {
    ++handled;
}

// The thread's scheduling state: 'S' while it sleeps in a blocking call.
char stateOf(pid_t thread) {
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto end = text.rfind(") ");
    return end == std::string::npos ? '?' : text[end + 2];
}

} // namespace

Interrupter::Interrupter() {
    struct sigaction action {};
    action.sa_handler = count;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGUSR1, &action, &previous_);
}

Interrupter::~Interrupter() {
    ::sigaction(SIGUSR1, &previous_, nullptr);
}

bool Interrupter::interruptAsleep(pid_t thread) const {
    using std::chrono::seconds;
    if (!pollUntil(seconds(10), [&] { return stateOf(thread) == 'S'; })) {
        return false;
    }
    const int before = handled;
    return ::syscall(SYS_tgkill, ::getpid(), thread, SIGUSR1) == 0 &&
           pollUntil(seconds(10), [&] { return handled > before; });
}

pid_t currentThread() {
    return static_cast<pid_t>(::syscall(SYS_gettid));
}

} // namespace brivane::testing
