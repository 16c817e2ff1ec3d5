#include "backends/posix/system/epoll_event_loop.h"
#include "support/interruptions.h"

#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <sys/socket.h>

namespace brivane::platform::posix {
namespace {

using namespace std::chrono_literals;

// Our end of a connected pair, readable at once when `readable`; the other end is returned too.
std::pair<FileDescriptor, FileDescriptor> socketPair(bool readable) {
    int ends[2] = {-1, -1};
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends), 0);
    if (readable) {
        EXPECT_EQ(::send(ends[1], "x", 1, 0), 1);
    }
    return {FileDescriptor(ends[0]), FileDescriptor(ends[1])};
}

// Two handles readable in one turn: whichever handler runs first unwatches and closes the
// other and watches a fresh socket under the same number. The event already collected for the
// closed one reaches neither its handler nor the newcomer's.
TEST(EpollEventLoop, AHandleRemovedInATurnGetsNoEventOfThatTurn) {
    EpollEventLoop loop;
    std::pair<FileDescriptor, FileDescriptor> pairs[] = {socketPair(true), socketPair(true)};
    int calls = 0;
    bool newcomerCalled = false;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(loop.watch(pairs[i].first.get(), EventLoop::readable, [&, i](unsigned) {
            ++calls;
            loop.runAt(std::chrono::steady_clock::now(), [&] { loop.stop(); });
            const int other = pairs[1 - i].first.get();
            loop.unwatch(other);
            pairs[1 - i] = socketPair(false); // made before the old pair is closed
            EXPECT_EQ(::dup3(pairs[1 - i].first.get(), other, O_CLOEXEC), other);
            pairs[1 - i].first.reset(other);
            loop.watch(other, EventLoop::readable, [&](unsigned) { newcomerCalled = true; });
        }));
    }
    loop.run();
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(newcomerCalled);
}

// Asleep with nothing to do, the loop is not ended by a signal that interrupts its wait; a wake
// from another thread runs the wake handler on the loop's thread, and a timer that handler
// posts runs when due.
TEST(EpollEventLoop, AnInterruptedLoopWakesFromAnotherThreadAndRunsWhatItPosts) {
    const testing::Interrupter interrupter;
    EpollEventLoop loop;
    std::optional<pid_t> wokenOn;
    loop.setWakeHandler([&] {
        wokenOn = testing::Interrupter::currentThread();
        loop.runAt(std::chrono::steady_clock::now() + 20ms, [&] { loop.stop(); });
    });
    std::promise<pid_t> loopThread;
    auto running = std::async(std::launch::async, [&] {
        loopThread.set_value(testing::Interrupter::currentThread());
        loop.run();
    });
    const pid_t thread = loopThread.get_future().get();
    EXPECT_TRUE(interrupter.interruptAsleep(thread));
    loop.wake();
    if (running.wait_for(10s) != std::future_status::ready) {
        ADD_FAILURE() << "the posted timer did not stop the loop";
        loop.stop();
    }
    EXPECT_EQ(wokenOn, thread);
}

} // namespace
} // namespace brivane::platform::posix
