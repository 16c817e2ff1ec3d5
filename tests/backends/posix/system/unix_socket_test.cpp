#include "backends/posix/system/unix_socket.h"
#include "support/interruptions.h"

#include <csignal>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>

namespace brivane::platform::posix {
namespace {

// Our end of a connected pair as the back end wraps it, and the other end as it is.
std::pair<std::unique_ptr<UnixStreamSocket>, FileDescriptor> connected(bool blocking,
                                                                       bool senders = false) {
    int ends[2] = {-1, -1};
    const int type = SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK);
    EXPECT_EQ(::socketpair(AF_UNIX, type, 0, ends), 0);
    for (const int option : {SO_SNDBUF, SO_RCVBUF}) {
        const int bytes = 4096;
        ::setsockopt(ends[0], SOL_SOCKET, option, &bytes, sizeof bytes);
        ::setsockopt(ends[1], SOL_SOCKET, option, &bytes, sizeof bytes);
    }
    return {std::make_unique<UnixStreamSocket>(FileDescriptor(ends[0]), senders),
            FileDescriptor(ends[1])};
}

// A full socket takes part of a write, then nothing: the counts say exactly what went out, for
// one buffer and for a head and a tail written together.
TEST(UnixStreamSocket, PartialWritesCountWhatWentOut) {
    std::string data(1 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>(i * 7 % 251);
    }
    for (const bool parts : {false, true}) {
        SCOPED_TRACE(parts ? "head and tail" : "one buffer");
        auto [ours, theirs] = connected(false);
        std::string received;
        std::size_t sent = 0;
        int partial = 0;
        char buffer[65536];
        while (received.size() < data.size()) {
            const auto rest = std::string_view(data).substr(sent);
            const auto half = rest.size() / 2;
            const auto result = parts ? ours->writeParts(rest.substr(0, half), rest.substr(half))
                                      : ours->write(rest.data(), rest.size());
            ASSERT_TRUE(result.status == IoStatus::ok || result.status == IoStatus::wouldBlock);
            sent += result.bytes;
            partial += result.status == IoStatus::ok && result.bytes < rest.size();
            const auto got = ::recv(theirs.get(), buffer, sizeof buffer, MSG_DONTWAIT);
            received.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        }
        EXPECT_TRUE(received == data);
        EXPECT_GT(partial, 0);
    }
}

// A peer gone, politely, with our bytes unread (ECONNRESET) or half-way through a frame: reads
// give what arrived and then closed, writes closed (EPIPE), and no SIGPIPE ends the process.
TEST(UnixStreamSocket, APeerThatVanishesReadsAndWritesAsClosed) {
    struct sigaction fatal {};
    struct sigaction previous {};
    fatal.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &fatal, &previous);
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"", ""}, {"unread", ""}, {"", std::string_view("\0\0\0\x10part", 8)}};
    for (const auto& [oursUnread, theirs] : cases) {
        for (const bool senders : {false, true}) {
            SCOPED_TRACE(std::string(oursUnread) + (senders ? " noting senders" : ""));
            auto [ours, peer] = connected(false, senders);
            ASSERT_EQ(ours->write(oursUnread.data(), oursUnread.size()).status, IoStatus::ok);
            ASSERT_EQ(::send(peer.get(), theirs.data(), theirs.size(), 0),
                      static_cast<ssize_t>(theirs.size()));
            peer.reset();
            char buffer[64];
            auto read = ours->read(buffer, sizeof buffer);
            if (!theirs.empty()) {
                EXPECT_EQ(std::string_view(buffer, read.bytes), theirs);
                read = ours->read(buffer, sizeof buffer);
            }
            EXPECT_EQ(read.status, IoStatus::closed);
            EXPECT_EQ(ours->write("y", 1).status, IoStatus::closed);
            EXPECT_EQ(ours->writeParts("head", "tail").status, IoStatus::closed);
        }
    }
    ::sigaction(SIGPIPE, &previous, nullptr);
}

// A signal whose handler asks for no restart interrupts a blocking read, wait or write (to a
// full socket), which goes on waiting and then delivers instead of failing.
TEST(UnixStreamSocket, InterruptedBlockingCallsCarryOn) {
    const testing::Interrupter interrupter;
    for (const std::string_view call : {"read", "wait", "write"}) {
        SCOPED_TRACE(call);
        auto [ours, theirs] = connected(true);
        while (call == "write" && ::send(ours->handle(), "x", 1, MSG_DONTWAIT) == 1) {
        }
        std::promise<pid_t> thread;
        // Captured by name: clang cannot capture a structured binding yet.
        auto done = std::async(std::launch::async, [&, &ours = ours] {
            thread.set_value(testing::Interrupter::currentThread());
            char byte = 'y';
            return call == "wait"
                       ? ours->waitReadable(60'000)
                       : (call == "read" ? ours->read(&byte, 1) : ours->write(&byte, 1)).status ==
                             IoStatus::ok;
        });
        EXPECT_TRUE(interrupter.interruptAsleep(thread.get_future().get()));
        char buffer[1 << 16];
        EXPECT_GT(call == "write" ? ::recv(theirs.get(), buffer, sizeof buffer, 0)
                                  : ::send(theirs.get(), "x", 1, 0),
                  0);
        EXPECT_TRUE(done.get());
    }
}

} // namespace
} // namespace brivane::platform::posix
