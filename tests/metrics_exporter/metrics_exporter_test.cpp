#include "backends/posix/system/file_descriptor.h"
#include "ipc/ipc_test_support.h"
#include "metrics-exporter/process_owner.h"
#include "served_exporter.h"
#include "support/child_process.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace brivane::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

TEST(ListenAddress, TakesAnIpAddressAndAPort) {
    const std::pair<std::string_view, const char*> cases[] = {
        {"127.1.2.3:9464", "127.1.2.3:9464 loopback"},
        {"localhost:9464", "127.0.0.1:9464 loopback"},
        {"0.0.0.0:9464", "0.0.0.0:9464"},
        {"[::1]:9464", "[::1]:9464 loopback"},
        {"[0:0::1]:1", "[::1]:1 loopback"},
        {"[::ffff:127.0.0.2]:1", "[::ffff:127.0.0.2]:1 loopback"},
        {"[::]:9464", "[::]:9464"},
        {"[fe80::1]:9464", "[fe80::1]:9464"},
    };
    for (const auto& [text, parsed] : cases) {
        const auto address = parseListenAddress(text);
        ASSERT_TRUE(address) << text;
        EXPECT_EQ(address->text() + (address->loopback ? " loopback" : ""), parsed);
    }
    for (const auto text :
         {"[::1]"sv, "127.0.0.1\0x:9464"sv, "9464"sv, "127.0.0.1:65536"sv, "127.0.0.1:+1"sv,
          "::1:9464"sv, "example.org:9464"sv, "[::1\0]:1"sv, "[127.0.0.1]:1"sv, "[]:1"sv}) {
        EXPECT_FALSE(parseListenAddress(text)) << text;
    }
}

using testing::ServedExporter;
using testing::snapshotNaming;

// Connections to the exporter that send `opening`, if anything, and then nothing.
std::vector<platform::posix::FileDescriptor> hostileConnections(int port, int count,
                                                                std::string_view opening) {
    const sockaddr_in address{
        AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
    std::vector<platform::posix::FileDescriptor> fds;
    for (int i = 0; i < count; ++i) {
        const int fd =
            fds.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
                .get();
        if (fd < 0) {
            ADD_FAILURE() << std::strerror(errno);
            break;
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
            errno != EINPROGRESS) {
            ADD_FAILURE() << std::strerror(errno);
            break;
        }
        pollfd writable{fd, POLLOUT, 0};
        if (!opening.empty() && ::poll(&writable, 1, 1000) == 1) {
            ::send(fd, opening.data(), opening.size(), MSG_NOSIGNAL);
        }
    }
    return fds;
}

// Under a sanitizer every step takes longer.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr auto slack = 400ms;
#else
constexpr auto slack = 100ms;
#endif

// Idle and trickling connections each held one of 32 workers for 30 s, later 600 of them held
// 256 workers for 5 s each; a crowd of connections, even closed, stopped the exporter answering.
TEST(MetricsExporter, IdleTricklingAndAbandonedConnectionsLeaveRoomForScrapes) {
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
    if (::setrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur < 6000) {
        GTEST_SKIP() << "needs 6000 descriptors";
    }
    auto service = std::make_shared<testing::FakeService>();
    service->answerAtOnce(snapshotNaming("Mouse"));
    testing::ServedListener agent(service);
    ServedExporter served(agent.path());
    const int port = served.exporter->port();
    {
        const auto idle = hostileConnections(port, 400, "");
        const auto trickling = hostileConnections(port, 200, "GET /metrics HTTP/1.1\r\nHo");
        EXPECT_LT(served.timedScrape("\nbrivane_up 1\n"), 1s);
    }
    hostileConnections(port, 5000, ""); // closed at once
    EXPECT_LT(served.timedScrape("\nbrivane_up 1\n"), 100ms + slack);
}

// IPv6 addresses were refused: the server library was built without them.
TEST(MetricsExporter, ServesOverIpv6) {
    const platform::posix::FileDescriptor probe(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in6 loopback{AF_INET6, 0, 0, IN6ADDR_LOOPBACK_INIT, 0};
    if (::bind(probe.get(), reinterpret_cast<const sockaddr*>(&loopback), sizeof loopback) != 0) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    auto service = std::make_shared<testing::FakeService>();
    service->answerAtOnce(snapshotNaming("Mouse"));
    testing::ServedListener agent(service);
    ServedExporter served(agent.path(), 5000, {}, "[::1]:0");
    EXPECT_NE(testing::httpGet(served.url()).find("\nbrivane_up 1\n"), std::string::npos);
}

// Everything the exporter sends back on one connection until it closes it (3 s at most).
std::string conversation(int port, std::string_view request) {
    const auto fd = std::move(hostileConnections(port, 1, request).front());
    std::string reply;
    char buffer[4096];
    for (pollfd readable{fd.get(), POLLIN, 0}; ::poll(&readable, 1, 3000) == 1;) {
        const auto got = ::recv(fd.get(), buffer, sizeof buffer, 0);
        if (got <= 0) {
            return reply + "<closed>";
        }
        reply.append(buffer, static_cast<std::size_t>(got));
    }
    return reply;
}

// A length told twice or both ways let bytes of one request be served as another, and a NUL in
// the path was cut off, serving /metrics%00x as /metrics. Each is refused, and the connection
// closed with it. A 505 repeated the client's version text; "keep-alive, close" kept the
// connection open.
TEST(MetricsExporter, RefusesAmbiguousRequestsAndDropsSilentOnesAfterTwoSeconds) {
    testing::TempDir directory;
    ServedExporter served(directory / "no-agent");
    const int port = served.exporter->port();
    const std::string next = "GET / HTTP/1.1\r\nConnection: close\r\n\r\n";
    const std::tuple<std::string_view, int, bool> cases[] = {
        {"GET / HTTP/1.1\r\nContent-Length: 0\r\nContent-Length: 35\r\n\r\n", 400, false},
        {"GET / HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400,
         false},
        {"GET /metrics%00x HTTP/1.1\r\n\r\n", 400, false},
        {"GET / HTTP/1.1\r\nX: a\nY: b\r\n\r\n", 400, false},
        {"GET /<script> HTTP/9.9\r\n\r\n", 505, false},
        {"GET / HTTP/1.1\r\nConnection: keep-alive, close\r\n\r\n", 200, false},
        {"GET / HTTP/1.0\r\n\r\n", 200, false},
        {"POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 405, false},
        {"GET /%6Detrics HTTP/1.1\r\n\r\n", 200, true},
        {"GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n", 200, true},
    };
    for (const auto& [request, status, nextServed] : cases) {
        const auto reply = conversation(port, std::string(request) + next);
        EXPECT_TRUE(reply.starts_with("HTTP/1.1 " + std::to_string(status))) << reply;
        EXPECT_EQ(reply.find("HTTP/1.1 200", 1) != std::string::npos, nextServed) << reply;
        EXPECT_TRUE(reply.ends_with("<closed>")) << reply;
        // Nothing of the request comes back.
        EXPECT_EQ(reply.find("9.9"), std::string::npos) << reply;
        EXPECT_EQ(reply.find("script"), std::string::npos) << reply;
    }
    for (const auto opening : {""sv, "GET /metrics HTTP/1.1\r\nHo"sv}) {
        EXPECT_TRUE(conversation(port, opening).ends_with("<closed>")) << opening;
    }
}

// Past its descriptors the server library retried accept at once, spinning a core: at a limit
// of 64 it took 256 workers and a queue of 64 anyway. Sized to the limit, 100 silent
// connections cost it almost nothing, and a scrape is still answered.
TEST(MetricsExporter, ShortOfDescriptorsItWaitsInsteadOfSpinning) {
    testing::TempDir directory;
    const auto listen = testing::freeLoopbackAddress();
    testing::ChildProcess exporter({"/bin/sh", "-c", "ulimit -n 64 && exec \"$0\" \"$@\" 2>&1",
                                    BRIVANE_EXPORTER, "export", "--endpoint", directory / "none",
                                    "--listen", listen},
                                   {}, directory / "output");
    const int port = std::stoi(listen.substr(listen.find(':') + 1));
    const auto url = "http://" + listen + "/metrics";
    ASSERT_TRUE(testing::pollUntil(5s, [&] { return !testing::httpGet(url).starts_with("HTTP"); }));
    const auto cpuTicks = [&] { // utime + stime, the 14th and 15th fields
        std::ifstream stat("/proc/" + std::to_string(exporter.pid()) + "/stat");
        std::string skipped;
        long user = 0, system = 0;
        for (int field = 1; field < 14; ++field) {
            stat >> skipped;
        }
        return stat >> user >> system ? user + system : -1;
    };
    {
        const auto silent = hostileConnections(port, 100, "");
        const long before = cpuTicks();
        std::this_thread::sleep_for(2s);
        EXPECT_LT(cpuTicks() - before, ::sysconf(_SC_CLK_TCK) / 5);
    }
    EXPECT_NE(testing::httpGet(url).find("\nbrivane_up 0\n"), std::string::npos);
    // A second exporter on the port says so once and ends with a status of its own.
    const auto second =
        testing::runCommand({"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", BRIVANE_EXPORTER, "export",
                             "--endpoint", directory / "none", "--listen", listen},
                            {}, directory / "second");
    EXPECT_EQ(second.status, 7);
    EXPECT_EQ(second.output, "brivane-sensors: port " + std::to_string(port) +
                                 " is in use (by another user's exporter?); pass --listen\n");
}

// A scrape arriving while a request is in flight shares its answer: each scrape of forty loops
// spans the end of exactly one request to the frozen agent (never two: it costs one timeout; nor
// none: no answer older than the scrape), and the agent sees one request at a time. Told by the
// requests' own ends rather than by a scrape's time, which on a busy machine also holds the
// scheduling of forty threads.
TEST(MetricsExporter, AFrozenAgentCostsEveryScrapeAtMostOneTimeout) {
    using Clock = std::chrono::steady_clock;
    auto service = std::make_shared<testing::FakeService>(); // holds every reply
    testing::ServedListener agent(service);
    auto snapshots = std::make_shared<AgentSnapshots>(agent.path(), 1000);
    std::mutex mutex;
    std::vector<std::pair<Clock::time_point, Clock::time_point>> fetches, scrapes;
    const auto fetch = [&] {
        const auto start = Clock::now();
        auto fetched = snapshots->fetch();
        const std::lock_guard lock(mutex);
        fetches.emplace_back(start, Clock::now());
        return fetched;
    };
    std::string problem;
    const auto exporter =
        MetricsExporter::start({{*parseListenAddress("127.0.0.1:0")}, fetch, {}}, problem);
    ASSERT_TRUE(exporter) << problem;
    const auto url = "http://127.0.0.1:" + std::to_string(exporter->port()) + "/metrics";
    const auto end = Clock::now() + 2500ms;
    std::vector<std::thread> loops;
    for (int loop = 0; loop < 40; ++loop) {
        loops.emplace_back([&] {
            while (Clock::now() < end) {
                const auto sent = Clock::now();
                EXPECT_NE(testing::httpGet(url).find("\nbrivane_up 0\n"), std::string::npos);
                const std::lock_guard lock(mutex);
                scrapes.emplace_back(sent, Clock::now());
            }
        });
    }
    for (auto& loop : loops) {
        loop.join();
    }
    for (std::size_t i = 1; i < fetches.size(); ++i) {
        EXPECT_LE(fetches[i - 1].second, fetches[i].first);
    }
    for (const auto& [sent, answered] : scrapes) {
        EXPECT_EQ(std::count_if(fetches.begin(), fetches.end(),
                                [sent = sent, answered = answered](const auto& f) {
                                    return sent < f.second && f.second < answered;
                                }),
                  1);
    }
    EXPECT_LE(service->callCount(), 4u); // one request per timeout, not one per scrape
}

// Other users' processes are left out before names are summed (the exporter asks its own
// user's processes only, unless told otherwise).
TEST(MetricsExporter, KeepsTheBusiestProcessesByNameFromOneRankingAMinute) {
    auto service = std::make_shared<testing::FakeService>();
    testing::ServedListener agent(service);
    AgentSnapshots snapshots(agent.path(), 5000, true);
    snapshots.rankOnly([](std::int64_t pid) { return pid != 4; });
    ProcessDetailsSnapshot ranking;
    ranking.ranked = {{1, "tab", 2}, {2, "make", 3}, {3, "tab", 2.5}, {4, "prometheus", 9}};
    std::thread answers([&] {
        for (std::size_t call = 0; call < 3 && service->waitForCalls(call + 1); ++call) {
            service->take(call).reply(call == 1 ? encode(ranking) : snapshotNaming("Mouse"));
        }
    });
    const std::vector<ProcessEnergy> busiest{{"tab", 4.5}, {"make", 3}};
    EXPECT_EQ(snapshots.fetch().busiest, busiest);
    EXPECT_EQ(snapshots.fetch().busiest, busiest); // kept, not asked again
    answers.join();
    EXPECT_EQ(service->callCount(), 3u);
}

TEST(MetricsExporter, TellsItsOwnProcessesFromOtherUsersOnes) {
    EXPECT_TRUE(ownProcess(::getpid()));
    EXPECT_FALSE(ownProcess(0));
    testing::TempDir proc;
    proc.makeDirectory("7");
    if (::geteuid() == 0 && ::chown((proc / "7").c_str(), 65534, 65534) == 0) {
        EXPECT_FALSE(ownProcess(7, proc.path()));
    }
}

// An 8 MB document held 114 MB in the exporter; one past the clients' limit is not read.
TEST(MetricsExporter, AnswersUpZeroToADocumentPastTheLimit) {
    auto service = std::make_shared<testing::FakeService>();
    service->answerAtOnce(snapshotNaming(std::string(5 << 20, 'x')));
    testing::ServedListener agent(service);
    const ServedExporter served(agent.path());
    EXPECT_NE(served.scrape().find("\nbrivane_up 0\n"), std::string::npos);
}

// A restart between two scrapes leaves the exporter's kept connection dead; the next scrape
// must reach the new agent all the same.
TEST(MetricsExporter, FollowsTheAgentAcrossRestartsAndAnswersUpZeroWhileItIsDown) {
    testing::TempDir directory;
    const auto endpoint = directory / "endpoint";
    ServedExporter served(endpoint);
    auto service = std::make_shared<testing::FakeService>();
    service->answerAtOnce(snapshotNaming("Mouse"));
    std::unique_ptr<testing::ServedListener> agent;
    for (const bool runs : {false, true, true, false, true}) {
        agent.reset();
        fs::remove(endpoint);
        if (runs) {
            agent = std::make_unique<testing::ServedListener>(service);
            directory.symlink("endpoint", agent->path());
        }
        const auto body = served.scrape();
        EXPECT_NE(body.find(runs ? "\nbrivane_up 1\n" : "\nbrivane_up 0\n"), std::string::npos)
            << body;
        EXPECT_EQ(body.find("Mouse") != std::string::npos, runs) << body;
    }
    EXPECT_EQ(service->callCount(), 3u);
}

} // namespace
} // namespace brivane::cli
