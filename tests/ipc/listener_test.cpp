#include "ipc/connection.h"
#include "ipc_test_support.h"
#include "platform/main_queue.h"
#include "platform/serial_queue.h"

#include <atomic>
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

TEST_F(ListenerBehaviour, PipelinedRepliesComeInCompletionOrderMatchedById) {
    auto client = served.client();

    const auto first = client->send(Selector::snapshot, std::nullopt);
    const auto second = client->send(Selector::processDetails, "memory");
    const auto third = client->send(Selector::storageHealth, "disk0s1");
    ASSERT_TRUE(first && second && third);
    ASSERT_TRUE(service->waitForCalls(3));
    EXPECT_EQ(service->call(1).selector, "processes");
    EXPECT_EQ(service->call(1).argument, "memory");
    EXPECT_EQ(service->call(2).argument, "disk0s1");

    service->takeReply(2)(std::string("third"));
    service->takeReply(0)(std::nullopt);
    service->takeReply(1)(std::string("second"));

    auto arrived = client->receive(waitMs);
    ASSERT_EQ(arrived.status, Status::replied);
    EXPECT_EQ(arrived.reply.id, *third);
    EXPECT_EQ(arrived.reply.document, "third");

    auto two = client->await(*second, waitMs);
    ASSERT_EQ(two.status, Status::replied);
    EXPECT_EQ(two.reply.document, "second");
    auto one = client->await(*first, waitMs);
    ASSERT_EQ(one.status, Status::replied);
    EXPECT_FALSE(one.reply.document); // no data stays no data
}

TEST_F(ListenerBehaviour, EachRequestIsAnsweredExactlyOnce) {
    auto client = served.client();

    const auto twice = client->send(Selector::cpuDetails, std::nullopt);
    const auto dropped = client->send(Selector::manage, "checkForUpdates");
    const auto later = client->send(Selector::snapshot, std::nullopt);
    ASSERT_TRUE(service->waitForCalls(3));

    auto reply = service->takeReply(0);
    reply(std::string("once"));
    reply(std::string("again"));     // ignored
    service->takeReply(1) = nullptr; // dropped unanswered: becomes "no data"
    service->takeReply(2)(std::string("later"));

    std::vector<ipc::Reply> replies;
    for (int i = 0; i < 3; ++i) {
        auto outcome = client->receive(waitMs);
        ASSERT_EQ(outcome.status, Status::replied);
        replies.push_back(outcome.reply);
    }
    EXPECT_EQ(replies[0], (ipc::Reply{*twice, "once"}));
    EXPECT_EQ(replies[1], (ipc::Reply{*dropped, std::nullopt}));
    EXPECT_EQ(replies[2], (ipc::Reply{*later, "later"}));
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
        {"unknown selector", frame(std::string("\0\0\0\1\x05hello\0", 11))},
        {"argument missing", frame(std::string("\0\0\0\1\x0dmanage:reply:\0", 19))},
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

TEST_F(ListenerBehaviour, StopsReadingAtItsLimitOfRequestsInFlight) {
    auto client = served.client();

    constexpr std::size_t sent = ipc::maximumRequestsInFlight + 44;
    for (std::size_t i = 0; i < sent; ++i) {
        ASSERT_TRUE(client->send(Selector::snapshot, std::nullopt));
    }
    ASSERT_TRUE(service->waitForCalls(ipc::maximumRequestsInFlight));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(service->callCount(), ipc::maximumRequestsInFlight);

    service->takeReply(0)(std::string("0"));
    ASSERT_TRUE(service->waitForCalls(ipc::maximumRequestsInFlight + 1));

    std::size_t answered = 1;
    while (answered < sent) {
        ASSERT_TRUE(service->waitForCalls(answered + 1));
        service->takeReply(answered)(std::to_string(answered));
        ++answered;
    }
    for (std::size_t i = 0; i < sent; ++i) {
        auto outcome = client->receive(waitMs);
        ASSERT_EQ(outcome.status, Status::replied);
        EXPECT_EQ(outcome.reply.document, std::to_string(outcome.reply.id - 1));
    }
}

TEST_F(ListenerBehaviour, AClientThatStopsReadingBlocksNeitherWorkNorOthers) {
    auto stalled = served.client();
    auto other = served.client();

    constexpr std::size_t requests = ipc::maximumRequestsInFlight;
    for (std::size_t i = 0; i < requests; ++i) {
        ASSERT_TRUE(stalled->send(Selector::snapshot, std::nullopt));
    }
    ASSERT_TRUE(service->waitForCalls(requests));

    // 1 MiB of replies is far more than the socket holds: every reply must still return at once.
    platform::SerialQueue worker("test.ipc.worker");
    std::atomic<std::size_t> delivered{0};
    for (std::size_t i = 0; i < requests; ++i) {
        worker.async([reply = service->takeReply(i), &delivered] {
            reply(std::string(32 * 1024, 'x'));
            ++delivered;
        });
    }
    for (int i = 0; i < 500 && delivered < requests; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(delivered.load(), requests);

    const auto id = other->send(Selector::cpuDetails, std::nullopt);
    ASSERT_TRUE(service->waitForCalls(requests + 1));
    service->takeReply(requests)(std::string("fine"));
    auto outcome = other->await(*id, waitMs);
    ASSERT_EQ(outcome.status, Status::replied);
    EXPECT_EQ(outcome.reply.document, "fine");
    worker.sync([] {}); // every reply returned, and nothing outlives what it refers to
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
