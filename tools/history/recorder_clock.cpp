#include "recorder_clock.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace brivane::cli {
namespace {

std::int64_t millisecondsOf(clockid_t clock) {
    timespec now{};
    ::clock_gettime(clock, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::int64_t asleepNow() {
    return millisecondsOf(CLOCK_BOOTTIME) - millisecondsOf(CLOCK_MONOTONIC);
}

} // namespace

SystemRecorderClock::SystemRecorderClock()
    : timer_(::timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC)), asleep_(asleepNow()) {
    sigset_t stops;
    sigemptyset(&stops);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&stops, signal);
    }
    ::pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    signals_.reset(::signalfd(-1, &stops, SFD_CLOEXEC));
}

std::int64_t SystemRecorderClock::nowMs() {
    return millisecondsOf(CLOCK_REALTIME);
}

RecorderClock::Woke SystemRecorderClock::waitUntil(std::int64_t wallMs) {
    itimerspec due{};
    due.it_value.tv_sec = wallMs / 1000;
    due.it_value.tv_nsec = (wallMs % 1000) * 1000000;
    if (::timerfd_settime(timer_.get(), TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &due,
                          nullptr) != 0) {
        return Woke::changed;
    }
    pollfd watched[] = {{timer_.get(), POLLIN, 0}, {signals_.get(), POLLIN, 0}};
    while (::poll(watched, 2, -1) < 0) {
        if (errno != EINTR) {
            return Woke::stop;
        }
    }
    if ((watched[1].revents & POLLIN) != 0) {
        signalfd_siginfo signal{};
        const bool read = ::read(signals_.get(), &signal, sizeof signal) == sizeof signal;
        return read && signal.ssi_signo == SIGHUP ? Woke::reload : Woke::stop;
    }
    std::uint64_t expirations = 0;
    if (::read(timer_.get(), &expirations, sizeof expirations) < 0 && errno == ECANCELED) {
        return Woke::changed;
    }
    return Woke::due;
}

std::int64_t SystemRecorderClock::sleptMs() {
    const std::int64_t now = asleepNow();
    const std::int64_t slept = now - asleep_;
    asleep_ = now;
    return slept;
}

} // namespace brivane::cli
