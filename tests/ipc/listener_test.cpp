#include "backends/posix/system/unix_endpoints.h"
#include "backends/posix/system/unix_socket.h"
#include "base/main_queue.h"
#include "ipc/connection.h"
#include "ipc_test_support.h"

#include <atomic>
#include <fcntl.h>
#include <future>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace brivane::testing {
namespace {

using ipc::Selector;
using Status = ipc::SensorClient::Status;

constexpr int waitMs = 5000;

// Sends bytes on a connection of its own; true when the listener then closes it without
// having sent a byte (a reset counts as closing, as unread bytes make it one).
bool closedWithoutAByteAfter(const std::string& path, const std::string& bytes) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, {}};
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const timeval limit{waitMs / 1000, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    char byte;
    // A peer refused at once may be closed before the bytes go: the send then fails the same way.
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    const auto sent = connected ? ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) : 0;
    const auto got = sent == ssize_t(bytes.size()) ? ::recv(fd, &byte, 1, 0) : sent < 0 ? -1 : 1;
    const bool closed = got == 0 || (got < 0 && (errno == ECONNRESET || errno == EPIPE));
    ::close(fd);
    return closed;
}

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
    std::vector<FakeService::Call> calls;
    std::string requests;
    for (std::size_t i = 0; i < 4; ++i) {
        requests += calls.emplace_back(service->take(i)).request + " ";
    }
    EXPECT_EQ(requests, "snapshot processes:memory storage:disk0s1 manage: ");
    calls[2].reply(std::string("third"));
    calls[2].reply(std::string("again"));
    calls[0].reply(std::string()); // empty data is still data
    calls[3].reply = nullptr;
    calls[1].reply(std::string("second"));
    for (const auto& want : std::vector<ipc::Reply>{
             {*third, "third"}, {*first, ""}, {*fourth, std::nullopt}, {*second, "second"}}) {
        auto outcome = client->receive(waitMs);
        ASSERT_EQ(outcome.status, Status::replied);
        EXPECT_EQ(outcome.reply, want);
    }
    EXPECT_EQ(client->receive(200).status, Status::timedOut);
}

// A connection that pipelines without pause is served requestsPerTurn requests a round of the
// loop: a request of another connection is taken up after at most three of its turns (the round
// under way, the one that accepts a new connection and the one that reads it), not after
// everything it sent.
TEST_F(ListenerBehaviour, APipeliningConnectionGetsOneTurnAtATime) {
    service->answerAtOnce(std::string("{}"));
    auto greedy = served.client();
    std::atomic<bool> stop{false};
    std::thread pipelining([&] {
        while (!stop) {
            for (int request = 0; request < 512; ++request) {
                greedy->send(Selector::snapshot, std::nullopt);
            }
            while (greedy->receive(0).status == Status::replied) {
            }
        }
    });
    ASSERT_TRUE(service->waitForCalls(4000));
    auto kept = served.client();
    std::size_t worst = 0;
    for (int round = 0; round < 10; ++round) {
        auto fresh = round % 2 == 0 ? served.client() : nullptr;
        const std::size_t before = service->callCount();
        ASSERT_EQ((fresh ? fresh : kept)->call(Selector::cpuDetails, std::nullopt, waitMs).status,
                  Status::replied);
        std::size_t at = before;
        while (service->take(at).request != "cpu") {
            ++at;
        }
        worst = std::max(worst, at - before);
    }
    stop = true;
    pipelining.join();
    EXPECT_LE(worst, 3 * ipc::requestsPerTurn);
}

// Of the requests read from a connection at once, only one may be built on the serving thread;
// the others wait their turns on a queue behind other clients'. The next read has a turn again.
TEST_F(ListenerBehaviour, OneRequestOfAConnectionsReadMayRunOnTheServingThread) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{AF_UNIX, {}};
    served.path().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    constexpr std::size_t batch = 8;
    std::vector<FakeService::Call> calls;
    for (std::uint32_t read = 0; read < 2; ++read) {
        std::string frames;
        for (std::uint32_t id = 1; id <= batch; ++id) {
            ipc::appendRequestFrame(frames, read * batch + id, Selector::snapshot, std::nullopt);
        }
        ASSERT_EQ(::send(fd, frames.data(), frames.size(), 0), ssize_t(frames.size()));
        ASSERT_TRUE(service->waitForCalls(calls.size() + batch));
        std::size_t mayRunHere = 0;
        while (calls.size() < service->callCount()) {
            mayRunHere += calls.emplace_back(service->take(calls.size())).reply.mayRunHere();
        }
        EXPECT_EQ(mayRunHere, 1u) << "read " << read;
    }
    ::close(fd);
}

TEST_F(ListenerBehaviour, AMalformedFrameClosesOnlyItsOwnConnection) {
    const std::pair<const char*, std::string> malformed[] = {
        {"oversized", std::string("\0\1\0\1", 4)},
        {"invalid UTF-8", std::string("\0\0\0\x14\0\0\0\1\x0dmanage:reply:\1\xff", 24)},
    };
    service->answerAtOnce(std::string("{}"));
    auto bystander = served.client();
    for (const auto& [name, bytes] : malformed) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(closedWithoutAByteAfter(served.path(), bytes));
        EXPECT_EQ(bystander->call(Selector::snapshot, std::nullopt, waitMs).status,
                  Status::replied);
    }
    EXPECT_EQ(service->callCount(), std::size(malformed));
}

TEST_F(ListenerBehaviour, RunLoopDrainsTheMainQueue) {
    std::promise<std::thread::id> ranOn;
    base::mainQueue().async([&] { ranOn.set_value(std::this_thread::get_id()); });
    auto future = ranOn.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_NE(future.get(), std::this_thread::get_id());
}

TEST(Listener, RefusedPeersAreClosedBeforeAnyRequestIsRead) {
    auto service = std::make_shared<FakeService>();
    std::promise<platform::PeerInfo> seen;
    ServedListener served(service, [&](const platform::PeerInfo& peer) {
        seen.set_value(peer);
        return false;
    });
    std::string request;
    ipc::appendRequestFrame(request, 1, Selector::snapshot, std::nullopt);
    EXPECT_TRUE(closedWithoutAByteAfter(served.path(), request));
    EXPECT_EQ(service->callCount(), 0u);
    auto peer = seen.get_future();
    ASSERT_EQ(peer.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const auto info = peer.get();
    EXPECT_EQ(info.pid, ::getpid());
    EXPECT_EQ(info.uid, ::getuid());
}

// A verdict already known decides alone; only an unknown peer reaches the admission hook.
TEST(Listener, KnownVerdictsSpareTheAdmissionHook) {
    using Verdict = platform::SignatureVerdict;
    const struct {
        Verdict known;
        bool served;
        int hookCalls;
    } cases[] = {{Verdict::Admitted{}, true, 0},
                 {Verdict::Refused{}, false, 0},
                 {Verdict::Unknown{}, true, 1}};
    for (const auto& c : cases) {
        auto service = std::make_shared<FakeService>();
        service->answerAtOnce(std::string("{}"));
        std::atomic<int> hookCalls{0};
        ServedListener served(
            service, [&](const platform::PeerInfo&) { return ++hookCalls > 0; },
            [&](const platform::PeerInfo&) { return c.known; });
        const auto outcome = served.client()->call(Selector::snapshot, std::nullopt, waitMs);
        EXPECT_EQ(outcome.status == Status::replied, c.served) << c.hookCalls;
        EXPECT_EQ(hookCalls.load(), c.hookCalls);
    }
}

TEST(RuntimeDirectory, PrefersAPrivateXdgDirectoryElseAFallbackOfItsOwn) {
    TempDir root;
    const auto uid = ::getuid();
    const auto fallback = root / ("brivane-" + std::to_string(uid));
    const auto resolve = [&](const char* xdg) {
        return platform::posix::resolveRuntimeDirectory(xdg, uid, root.path());
    };
    ::mkdir((root / "xdg").c_str(), 0700);
    ::mkdir((root / "shared").c_str(), 0755);
    EXPECT_EQ(resolve((root / "xdg").c_str()).path, root / "xdg");
    // Relative, shared, missing or unset: the fallback, made 0700.
    for (const auto& xdg : {std::string("xdg"), root / "shared", root / "missing"}) {
        EXPECT_EQ(resolve(xdg.c_str()).path, fallback) << xdg;
    }
    EXPECT_EQ(resolve(nullptr).path, fallback);
    struct stat info {};
    ASSERT_EQ(::lstat(fallback.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    // A fallback that others may read, or a symlink, is refused.
    ::chmod(fallback.c_str(), 0750);
    const auto refused = resolve(nullptr);
    EXPECT_FALSE(refused.path);
    EXPECT_NE(refused.problem.find("0700"), std::string::npos) << refused.problem;
    ::rmdir(fallback.c_str());
    ASSERT_EQ(::symlink((root / "xdg").c_str(), fallback.c_str()), 0);
    EXPECT_FALSE(resolve(nullptr).path);
}

// Only a stale socket no other agent is starting on is replaced; what is refused stays.
TEST(Endpoint, ReplacesAStaleSocketAndNothingElse) {
    TempDir root;
    const auto path = root / "service";
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0); // as a crashed agent leaves it
    sockaddr_un address{AF_UNIX, {}};
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(stale);
    {
        const auto starting = platform::posix::lockBeside(path); // another agent
        ASSERT_TRUE(starting.lock.valid());
        EXPECT_EQ(ipc::Listener::atPath(path).failure, ipc::ListenerFailure::alreadyServing);
    }
    EXPECT_EQ(::access(path.c_str(), F_OK), 0);
    auto live = ipc::Listener::atPath(path);
    ASSERT_TRUE(live.listener) << live.message;
    EXPECT_EQ(ipc::Listener::atPath(path).failure, ipc::ListenerFailure::alreadyServing);
    EXPECT_EQ(::access(path.c_str(), F_OK), 0);
    live.listener.reset();
    EXPECT_NE(::access(path.c_str(), F_OK), 0); // a listener takes its socket with it

    ::close(::open(path.c_str(), O_CREAT | O_WRONLY, 0600));
    EXPECT_EQ(ipc::Listener::atPath(path).failure, ipc::ListenerFailure::systemError);
    EXPECT_EQ(::access(path.c_str(), F_OK), 0);
}

TEST(Endpoint, ServiceNamesThatAreNotPlainFileNamesAreRefused) {
    for (const char* name : {"", ".", "..", "../escape", "team/.dev.qorva.brivane"}) {
        EXPECT_EQ(ipc::Listener::create(name).failure, ipc::ListenerFailure::systemError) << name;
    }
}

} // namespace
} // namespace brivane::testing
