#include "backends/posix/system/epoll_event_loop.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace brivane::platform::posix {
namespace {

constexpr int batchSize = 64;
constexpr std::uint64_t wakeToken = ~std::uint64_t{0};
constexpr std::uint64_t signalToken = wakeToken - 1;

std::uint32_t epollMask(unsigned interest) {
    std::uint32_t mask = 0;
    if (interest & EventLoop::readable) {
        mask |= EPOLLIN;
    }
    if (interest & EventLoop::writable) {
        mask |= EPOLLOUT;
    }
    return mask;
}

sigset_t terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        sigaddset(&set, signal);
    }
    return set;
}

} // namespace

bool blockTerminationSignals() {
    const sigset_t set = terminationSignals();
    return ::pthread_sigmask(SIG_BLOCK, &set, nullptr) == 0;
}

EpollEventLoop::EpollEventLoop()
    : epoll_(::epoll_create1(EPOLL_CLOEXEC)), wakeEvent_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = wakeToken;
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wakeEvent_.get(), &event);
}

bool EpollEventLoop::watch(int handle, unsigned interest, Handler handler) {
    // Generations tell a reused descriptor number from the one whose events are still queued.
    const std::uint32_t generation = nextGeneration_++;
    epoll_event event{};
    event.events = epollMask(interest);
    event.data.u64 = std::uint64_t{generation} << 32 | static_cast<std::uint32_t>(handle);
    if (::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, handle, &event) != 0) {
        return false;
    }
    watches_[handle] = {generation, interest, std::make_shared<Handler>(std::move(handler))};
    return true;
}

void EpollEventLoop::change(int handle, unsigned interest) {
    const auto found = watches_.find(handle);
    if (found == watches_.end() || found->second.interest == interest) {
        return;
    }
    found->second.interest = interest;
    epoll_event event{};
    event.events = epollMask(interest);
    event.data.u64 =
        std::uint64_t{found->second.generation} << 32 | static_cast<std::uint32_t>(handle);
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_MOD, handle, &event);
}

void EpollEventLoop::unwatch(int handle) {
    if (watches_.erase(handle) > 0) {
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, handle, nullptr);
    }
}

void EpollEventLoop::run() {
    epoll_event events[batchSize];
    while (!stopped_.load()) {
        const int ready = ::epoll_wait(epoll_.get(), events, batchSize, msUntilNextTimer());
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        ++round_;
        for (int i = 0; i < ready && !stopped_.load(); ++i) {
            dispatch(events[i].data.u64, events[i].events);
        }
        runDueTimers();
    }
}

int EpollEventLoop::msUntilNextTimer() const {
    if (timers_.empty()) {
        return -1;
    }
    const auto next = std::min_element(timers_.begin(), timers_.end(), [](auto& a, auto& b) {
                          return a.when < b.when;
                      })->when;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(next - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 60'000));
}

void EpollEventLoop::runDueTimers() {
    const auto now = std::chrono::steady_clock::now();
    std::vector<std::function<void()>> due;
    std::erase_if(timers_, [&](Timer& timer) {
        if (timer.when > now) {
            return false;
        }
        due.push_back(std::move(timer.task));
        return true;
    });
    for (auto& task : due) {
        task();
    }
}

void EpollEventLoop::runAt(std::chrono::steady_clock::time_point when, std::function<void()> task) {
    timers_.push_back({when, std::move(task)});
}

bool EpollEventLoop::handleTermination(std::function<void()> handler) {
    // A log line to a pipe whose reader has gone must not end the agent; the write fails.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, nullptr);
    // Signals that came while they were held are pending and arrive through the signalfd.
    const sigset_t set = terminationSignals();
    if (!blockTerminationSignals()) {
        return false;
    }
    signals_ = FileDescriptor(::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = signalToken;
    if (!signals_.valid() ||
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, signals_.get(), &event) != 0) {
        ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        signals_ = FileDescriptor();
        return false;
    }
    terminationHandler_ = std::move(handler);
    return true;
}

void EpollEventLoop::dispatch(std::uint64_t token, std::uint32_t events) {
    if (token == signalToken) {
        signalfd_siginfo info;
        while (::read(signals_.get(), &info, sizeof info) == sizeof info) {
        }
        if (terminationHandler_) {
            terminationHandler_();
        }
        return;
    }
    if (token == wakeToken) {
        std::uint64_t count;
        while (::read(wakeEvent_.get(), &count, sizeof count) == sizeof count) {
        }
        if (wakeHandler_) {
            wakeHandler_();
        }
        return;
    }
    const int handle = static_cast<int>(token & 0xFFFFFFFF);
    const auto found = watches_.find(handle);
    if (found == watches_.end() || found->second.generation != token >> 32) {
        return;
    }
    unsigned mask = 0;
    if (events & (EPOLLIN | EPOLLPRI)) {
        mask |= readable;
    }
    if (events & EPOLLOUT) {
        mask |= writable;
    }
    if (events & (EPOLLHUP | EPOLLERR)) {
        mask |= hangUp;
    }
    // Keep the handler alive even if it unwatches its own handle.
    const auto handler = found->second.handler;
    (*handler)(mask);
}

void EpollEventLoop::stop() {
    stopped_.store(true);
    wake();
}

void EpollEventLoop::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeEvent_.get(), &one, sizeof one);
}

void EpollEventLoop::setWakeHandler(std::function<void()> handler) {
    wakeHandler_ = std::move(handler);
}

} // namespace brivane::platform::posix
