#include "backends/posix/system/unix_socket.h"
#include "support/interruptions.h"

#include <csignal>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>

namespace brivane::platform::posix {
namespace {

// Our end of a connected pair as the back end wraps it, and the other end as it is.
struct Pair {
    std::unique_ptr<UnixStreamSocket> ours;
    FileDescriptor theirs;
};

Pair connected(bool blocking, bool senders = false, int bufferBytes = 0) {
    int ends[2] = {-1, -1};
    const int type = SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK);
    EXPECT_EQ(::socketpair(AF_UNIX, type, 0, ends), 0);
    for (const int end : ends) {
        for (const int option : {SO_SNDBUF, SO_RCVBUF}) {
            if (bufferBytes > 0) {
                ::setsockopt(end, SOL_SOCKET, option, &bufferBytes, sizeof bufferBytes);
            }
        }
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
        auto [ours, theirs] = connected(false, false, 4096);
        std::string received;
        std::size_t sent = 0;
        int partial = 0;
        char buffer[65536];
        while (received.size() < data.size()) {
            const auto rest = std::string_view(data).substr(sent);
            const auto result = parts ? ours->writeParts(rest.substr(0, rest.size() / 2),
                                                         rest.substr(rest.size() / 2))
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
    const struct {
        const char* what;
        bool oursUnread;
        std::string_view theirs;
    } cases[] = {{"closed", false, ""},
                 {"closed with our bytes unread", true, ""},
                 {"closed mid-frame", false, std::string_view("\0\0\0\x10part", 8)}};
    for (const auto& c : cases) {
        for (const bool senders : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (senders ? ", noting senders" : ""));
            auto [ours, theirs] = connected(false, senders);
            if (c.oursUnread) {
                ASSERT_EQ(ours->write("x", 1).status, IoStatus::ok);
            }
            ASSERT_EQ(::send(theirs.get(), c.theirs.data(), c.theirs.size(), 0),
                      static_cast<ssize_t>(c.theirs.size()));
            theirs.reset();
            char buffer[64];
            auto read = ours->read(buffer, sizeof buffer);
            if (!c.theirs.empty()) {
                EXPECT_EQ(std::string_view(buffer, read.bytes), c.theirs);
                read = ours->read(buffer, sizeof buffer);
            }
            EXPECT_EQ(read.status, IoStatus::closed);
            EXPECT_EQ(ours->write("y", 1).status, IoStatus::closed);
            EXPECT_EQ(ours->writeParts("head", "tail").status, IoStatus::closed);
        }
    }
    ::sigaction(SIGPIPE, &previous, nullptr);
}

// A signal whose handler asks for no restart interrupts a blocking call, which goes on waiting
// and then delivers instead of failing.
TEST(UnixStreamSocket, InterruptedBlockingCallsCarryOn) {
    const testing::Interrupter interrupter;
    const auto fill = [](int fd) {
        while (::send(fd, "x", 1, MSG_DONTWAIT) == 1) {
        }
    };
    const auto drain = [](int fd) {
        char buffer[4096];
        while (::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
        }
    };
    const struct {
        const char* what;
        std::function<bool(UnixStreamSocket&)> call;
        std::function<void(int ours, int theirs)> before, unblock;
    } cases[] = {
        {"read",
         [](UnixStreamSocket& s) {
             char byte = 0;
             const auto read = s.read(&byte, 1);
             return read.status == IoStatus::ok && byte == 'x';
         },
         [](int, int) {}, [](int, int theirs) { ::send(theirs, "x", 1, 0); }},
        {"wait until readable", [](UnixStreamSocket& s) { return s.waitReadable(60'000); },
         [](int, int) {}, [](int, int theirs) { ::send(theirs, "x", 1, 0); }},
        {"write to a full socket",
         [](UnixStreamSocket& s) {
             const auto written = s.write("y", 1);
             return written.status == IoStatus::ok && written.bytes == 1;
         },
         [&](int ours, int) { fill(ours); }, [&](int, int theirs) { drain(theirs); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto [ours, theirs] = connected(true, false, 4096);
        c.before(ours->handle(), theirs.get());
        std::promise<pid_t> thread;
        auto done = std::async(std::launch::async, [&] {
            thread.set_value(testing::currentThread());
            return c.call(*ours);
        });
        EXPECT_TRUE(interrupter.interruptAsleep(thread.get_future().get()));
        c.unblock(ours->handle(), theirs.get());
        EXPECT_TRUE(done.get());
    }
}

} // namespace
} // namespace brivane::platform::posix
