#include "backends/posix/system/unix_socket.h"
#include "ipc/connection.h"

#include <array>
#include <gtest/gtest.h>
#include <sys/socket.h>

namespace brivane::ipc {
namespace {

using platform::posix::FileDescriptor;

// Requests arrive as the client's writes cut them: two pipelined frames fed one byte at a time
// are each dispatched once, when their last byte is read, and a frame cut short by the client
// going away closes the connection without being dispatched.
TEST(Connection, FramesSplitAtEveryByteAreEachDispatchedOnce) {
    std::string frames;
    appendRequestFrame(frames, 1, Selector::processDetails, "memory");
    const std::size_t firstEnd = frames.size();
    appendRequestFrame(frames, 2, Selector::snapshot, std::nullopt);
    int ends[2] = {-1, -1};
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends), 0);
    FileDescriptor client(ends[1]);
    Connection connection(
        std::make_unique<platform::posix::UnixStreamSocket>(FileDescriptor(ends[0])),
        std::make_shared<ConnectionBudget>(), [] {});
    std::vector<std::uint32_t> dispatched;
    const auto dispatch = [&](Request request) { dispatched.push_back(request.id); };
    std::array<char, 4096> scratch{};
    std::uint64_t round = 0; // each read in a round of its own, as the loop does
    for (std::size_t sent = 1; sent <= frames.size(); ++sent) {
        ASSERT_EQ(::send(client.get(), frames.data() + sent - 1, 1, 0), 1);
        ASSERT_EQ(connection.readRequests(dispatch, scratch, ++round),
                  Connection::ReadOutcome::open);
        ASSERT_EQ(dispatched.size(), (sent >= firstEnd) + (sent == frames.size())) << sent;
    }
    EXPECT_EQ(dispatched, (std::vector<std::uint32_t>{1, 2}));

    std::string cut;
    appendRequestFrame(cut, 3, Selector::snapshot, std::nullopt);
    ASSERT_EQ(::send(client.get(), cut.data(), cut.size() / 2, 0),
              static_cast<ssize_t>(cut.size() / 2));
    client.reset();
    // The half frame is one readable event, the end of the stream the next.
    EXPECT_EQ(connection.readRequests(dispatch, scratch, ++round), Connection::ReadOutcome::open);
    EXPECT_EQ(connection.readRequests(dispatch, scratch, ++round), Connection::ReadOutcome::close);
    EXPECT_EQ(dispatched.size(), 2u);
}

} // namespace
} // namespace brivane::ipc
