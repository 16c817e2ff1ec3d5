#include "ipc/connection.h"
#include "ipc_test_support.h"
#include "platform/main_queue.h"

#include <future>
#include <unistd.h>

namespace brivane::testing {
namespace {

using ipc::Selector;
using ipc::SensorClient;
using Status = SensorClient::Status;

constexpr int waitMs = 5000;

std::unique_ptr<platform::StreamSocket> rawConnection(const std::string& path) {
    std::string problem;
    auto socket = platform::makeDefaultEndpoints()->connect(path, problem, waitMs);
    EXPECT_TRUE(socket) << problem;
    return socket;
}

void writeAll(platform::StreamSocket& socket, std::string_view bytes) {
    while (!bytes.empty()) {
        const auto result = socket.write(bytes.data(), bytes.size());
        if (result.status == platform::IoStatus::wouldBlock) {
            socket.waitWritable(waitMs);
            continue;
        }
        ASSERT_EQ(result.status, platform::IoStatus::ok);
        bytes.remove_prefix(result.bytes);
    }
}

// True when the agent closed the connection without sending anything.
bool closedWithoutAByte(platform::StreamSocket& socket) {
    char byte;
    if (!socket.waitReadable(waitMs)) {
        return false;
    }
    return socket.read(&byte, 1).status == platform::IoStatus::closed;
}

// A listener serving a fake service that holds every reply until the test answers it.
class ListenerBehaviour : public ::testing::Test {
protected:
    std::shared_ptr<FakeService> service = std::make_shared<FakeService>();
    ServedListener served{service};
};

// Replies go out in completion order, matched by id; a reply given twice goes once, and one
// dropped unanswered goes as "no data".
TEST_F(ListenerBehaviour, PipelinedRequestsAreEachAnsweredOnceInCompletionOrder) {
    auto client = served.client();
    const auto first = client->send(Selector::snapshot, std::nullopt);
    const auto second = client->send(Selector::processDetails, "memory");
    const auto third = client->send(Selector::storageHealth, "disk0s1");
    const auto fourth = client->send(Selector::manage, ""); // present, though empty
    ASSERT_TRUE(service->waitForCalls(4));
    EXPECT_EQ(service->call(1).selector, "processes");
    EXPECT_EQ(service->call(1).argument, "memory");
    EXPECT_EQ(service->call(2).argument, "disk0s1");
    EXPECT_EQ(service->call(3).argument, std::string());

    auto reply = service->takeReply(2);
    reply(std::string("third"));
    reply(std::string("again"));
    service->takeReply(0)(std::string()); // empty data is still data
    service->takeReply(3) = nullptr;
    service->takeReply(1)(std::string("second"));

    const std::vector<ipc::Reply> expected = {
        {*third, "third"}, {*first, std::string()}, {*fourth, std::nullopt}, {*second, "second"}};
    for (const auto& want : expected) {
        auto outcome = client->receive(waitMs);
        ASSERT_EQ(outcome.status, Status::replied);
        EXPECT_EQ(outcome.reply, want);
    }
    EXPECT_EQ(client->receive(200).status, Status::timedOut);
}

std::string frame(std::string body) {
    const auto size = static_cast<std::uint32_t>(body.size());
    return std::string{static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                       static_cast<char>(size >> 8), static_cast<char>(size)} +
           body;
}

TEST_F(ListenerBehaviour, AMalformedFrameClosesOnlyItsOwnConnection) {
    const std::vector<std::pair<const char*, std::string>> malformed = {
        {"oversized", std::string("\0\1\0\1", 4)},
        {"invalid UTF-8", frame(std::string("\0\0\0\1\x0dmanage:reply:\1\xff", 20))},
        {"truncated body", frame(std::string("\0\0\0\1\x30", 5))},
    };
    service->immediate = std::string("{}");
    auto bystander = served.client();

    for (const auto& [name, bytes] : malformed) {
        auto offender = rawConnection(served.path());
        writeAll(*offender, bytes);
        EXPECT_TRUE(closedWithoutAByte(*offender)) << name;
        auto outcome = bystander->call(Selector::snapshot, std::nullopt, waitMs);
        EXPECT_EQ(outcome.status, Status::replied) << name;
    }
    EXPECT_EQ(service->callCount(), malformed.size());
}

TEST_F(ListenerBehaviour, AVanishedClientsReplyIsDroppedAndNothingIsLeftBehind) {
    {
        auto client = served.client();
        ASSERT_TRUE(client->send(Selector::storageHealth, "disk0"));
        ASSERT_TRUE(service->waitForCalls(1));
        ASSERT_TRUE(served.waitForConnections(1));
    }
    ASSERT_TRUE(served.waitForConnections(0));
    service->takeReply(0)(std::string("nobody listens")); // must not crash or leak

    service->immediate = std::string("ok");
    auto next = served.client();
    auto outcome = next->call(Selector::snapshot, std::nullopt, waitMs);
    ASSERT_EQ(outcome.status, Status::replied);
    EXPECT_EQ(outcome.reply.document, "ok");
}

TEST(Listener, RefusedPeersAreClosedBeforeAnyRequestIsRead) {
    auto service = std::make_shared<FakeService>();
    std::optional<PeerInfo> seen;
    std::mutex seenMutex;
    ServedListener served(service, [&](const PeerInfo& peer) {
        std::lock_guard lock(seenMutex);
        seen = peer;
        return false;
    });
    auto peer = rawConnection(served.path());
    std::string request;
    ipc::appendRequestFrame(request, 1, Selector::snapshot, std::nullopt);
    writeAll(*peer, request);
    EXPECT_TRUE(closedWithoutAByte(*peer));
    EXPECT_EQ(service->callCount(), 0u);

    std::lock_guard lock(seenMutex);
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->pid, ::getpid());
    EXPECT_EQ(seen->uid, ::getuid());
}

TEST_F(ListenerBehaviour, RunLoopDrainsTheMainQueue) {
    std::promise<std::thread::id> ranOn;
    std::thread poster(
        [&] { platform::mainQueue().async([&] { ranOn.set_value(std::this_thread::get_id()); }); });
    poster.join();
    auto future = ranOn.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_NE(future.get(), std::this_thread::get_id());
}

} // namespace
} // namespace brivane::testing
