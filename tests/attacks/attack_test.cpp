// Programs of the agent's own user attack the simulated agent over its real socket; each test
// checks what a well-behaved client sees meanwhile and what the agent costs.

#include "support/staged_agent.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace brivane::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Sanitizers slow the agent down and add shadow memory to what it allocates.
#if defined(__SANITIZE_THREAD__)
constexpr int slowdown = 10;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int slowdown = 4;
#else
constexpr int slowdown = 1;
#endif
constexpr long memoryFactor = slowdown > 1 ? 8 : 1;
// A snapshot's round trip while the agent is under attack. A stalled event loop (a blocked
// open, an executable hashed on the loop, a queue full of others' work) takes far longer.
constexpr double latencyBoundMs = 250.0 * slowdown;

class Attack : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(agent_ = staged_.startAgent(10s)); }

    // argv of the attack client (or of its copy `program`) against the agent's endpoint.
    std::vector<std::string> client(std::vector<std::string> arguments,
                                    const std::string& program = "brivane-attack-client") {
        arguments.insert(arguments.begin() + 1, staged_.endpoint());
        arguments.insert(arguments.begin(), staged_.path(program));
        return arguments;
    }

    std::unique_ptr<ChildProcess> launch(const std::vector<std::string>& argv) {
        return std::make_unique<ChildProcess>(staged_.asAgentUser(argv), staged_.environment(),
                                              staged_.scratch());
    }

    void expectServedPromptly(long watchMs, const std::string& kind = "snapshot",
                              double boundMs = latencyBoundMs) {
        const auto watched = staged_.run(client({"watch", std::to_string(watchMs), kind}));
        ASSERT_EQ(watched.status, 0) << watched.output;
        EXPECT_LT(std::stod(watched.output.substr(watched.output.find(' '))), boundMs)
            << watched.output;
    }

    long residentKiB() {
        std::ifstream status("/proc/" + std::to_string(agent_->pid()) + "/statm");
        long size = 0, resident = -1;
        status >> size >> resident;
        return resident * (::sysconf(_SC_PAGESIZE) / 1024);
    }

    StagedAgent staged_{{.bundle = BRIVANE_ATTACK_BUNDLE,
                         .executables = {BRIVANE_ATTACK_CLI, BRIVANE_ATTACK_CLIENT}}};
    ChildProcess* agent_ = nullptr;
};

TEST_F(Attack, ASignatureFileThatBlocksOrAHugeExecutableStallsNobody) {
    const auto program = staged_.path("intruder"); // an unsigned copy of the client
    fs::copy_file(staged_.path("brivane-attack-client"), program);
    ASSERT_EQ(::chown(program.c_str(), staged_.uid(), -1), 0); // so it can touch itself
    for (const bool fifo : {true, false}) {
        SCOPED_TRACE(fifo ? "FIFO as the signature file" : "huge executable");
        fs::remove(program + ".sig");
        if (fifo) {
            ASSERT_EQ(::mkfifo((program + ".sig").c_str(), 0644), 0);
        } else { // a real signature, but of another executable, on a 200 MiB one
            fs::copy_file(staged_.path("brivane-attack-client.sig"), program + ".sig");
            fs::resize_file(program, 200u << 20);
        }
        auto attacker = launch(client({"intrude", "2000"}, "intruder"));
        std::this_thread::sleep_for(300ms);
        expectServedPromptly(1000);
        EXPECT_EQ(attacker->waitForExit(20s), 0); // and never admitted
    }
}

// A client verified before whose executable sits on a file system that stops answering open()
// holds up neither the connections already served nor new clients: the serving thread opens no
// file for a client, known or not.
TEST_F(Attack, AKnownClientOnAStalledFileSystemStallsNobody) {
    if (!StagedAgent::isRoot() || !fs::exists("/dev/fuse") ||
        std::system("/usr/bin/python3 -c 'import fusepy' 2>/dev/null") != 0) {
        GTEST_SKIP() << "needs root, /dev/fuse and python3-fusepy";
    }
    const auto folder = staged_.path("remote");
    const auto mounted = staged_.path("mounted");
    fs::create_directories(folder);
    fs::create_directories(mounted);
    for (const char* file : {"brivane-attack-client", "brivane-attack-client.sig"}) {
        fs::copy_file(staged_.path(file), folder + "/" + file);
    }
    ChildProcess fileSystem({"/usr/bin/python3", BRIVANE_STALLING_FS, folder, mounted}, {},
                            staged_.scratch());
    ASSERT_TRUE(pollUntil(5s, [&] { return fs::exists(mounted + "/brivane-attack-client"); }));
    const std::string stalled = folder + "/.stalled";
    auto known = launch(client({"reconnect", "3000"}, "mounted/brivane-attack-client"));
    std::this_thread::sleep_for(500ms); // verified, then known: its next connection stalls
    ASSERT_TRUE(std::ofstream(stalled).good()) << "cannot create " << stalled;
    std::this_thread::sleep_for(300ms);
    const auto output = staged_.scratch();
    ChildProcess newcomers(staged_.asAgentUser(client({"reconnect", "1500"})),
                           staged_.environment(), output);
    expectServedPromptly(1500);
    EXPECT_EQ(newcomers.waitForExit(10s), 0);
    const auto shown = readFile(output);
    fs::remove(stalled);
    ::umount2(mounted.c_str(), MNT_DETACH);
    known->waitForExit(15s);
    EXPECT_LT(std::stod(shown.substr(shown.find(' '))), latencyBoundMs) << shown;
}

TEST_F(Attack, CrowdsOfConnectionsNeitherDelayOthersNorSwellTheAgent) {
    const struct {
        const char* connections;
        const char* requests; // held unread by each; 0: idle after one answered request
        long growthKiB;       // what the shared budgets allow; idle ones cost about 1 KiB each
    } cases[] = {{"300", "2000", 64 << 10}, {"2000", "0", 16 << 10}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.connections) + " connections, " + c.requests + " requests");
        if (&c != cases) { // a fresh agent: freed memory is not always given back
            agent_->kill(SIGTERM);
            ASSERT_EQ(agent_->waitForExit(5s * slowdown), 0);
            ASSERT_TRUE(agent_ = staged_.startAgent(10s));
        }
        const auto descriptors = agent_->openDescriptors().value_or(0) + std::stoul(c.connections);
        const long before = residentKiB();
        auto crowd = launch(client({"crowd", c.connections, c.requests, "4000"}));
        pollUntil(20s, [&] { return agent_->openDescriptors().value_or(0) >= descriptors; });
        std::this_thread::sleep_for(1s); // replies pile up
        expectServedPromptly(500);
        const long after = residentKiB();
        std::cout << c.connections << " connections: agent resident memory " << before << " -> "
                  << after << " KiB\n";
        EXPECT_LT(after - before, c.growthKiB * memoryFactor);
        EXPECT_EQ(crowd->waitForExit(30s), 0);
    }
}

// Slow work piled up by others, abandoned on closed connections or kept in flight, delays a
// polite client's request by about one run (tens of milliseconds here).
TEST_F(Attack, PiledUpOrAbandonedSlowWorkDelaysAPoliteClientByAboutOneRun) {
    ASSERT_EQ(staged_.run(client({"crowd", "50", "32", "0", "cpu"})).status, 0);
    auto holders = launch(client({"crowd", "16", "32", "3000", "cpu"}));
    std::this_thread::sleep_for(500ms);
    expectServedPromptly(1500, "cpu", 1000.0 * slowdown);
    EXPECT_EQ(holders->waitForExit(30s), 0);
}

TEST_F(Attack, AStoppedAgentWithAFullBacklogTurnsNewcomersAwayInTime) {
    agent_->kill(SIGSTOP);
    sockaddr_un address{AF_UNIX, {}};
    staged_.endpoint().copy(address.sun_path, sizeof address.sun_path - 1);
    std::vector<int> queued;
    do {
        queued.push_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    } while (::connect(queued.back(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(staged_.launchAgent().waitForExit(5s), 2);
    EXPECT_EQ(staged_.cli({"--timeout", "1", "snapshot"}).status, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);

    agent_->kill(SIGCONT);
    for (const int fd : queued) {
        ::close(fd);
    }
    EXPECT_EQ(staged_.cli({"snapshot"}).status, 0);
}

// Terminated with requests in flight, the agent answers what it read, removes its socket and
// lock and exits 0.
TEST_F(Attack, PipelinedRequestsAreAnsweredHoweverLateTheClientReadsAndOnTermination) {
    auto result = staged_.run(client({"pipeline", "2000", "1500"}));
    EXPECT_EQ(result.status, 0) << result.output;
    result = staged_.run(client({"pipeline", "1000", "0", std::to_string(agent_->pid())}));
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(agent_->waitForExit(5s * slowdown), 0);
    EXPECT_FALSE(fs::exists(staged_.endpoint()));
    EXPECT_FALSE(fs::exists(staged_.endpoint() + ".lock"));
    EXPECT_TRUE(staged_.startAgent(10s));
}

// Whoever serves the endpoint in the agent's place, the CLI shows none of it.
TEST_F(Attack, AProcessImpersonatingTheAgentIsNotBelieved) {
    agent_->kill(SIGTERM);
    ASSERT_EQ(agent_->waitForExit(5s * slowdown), 0);
    // The second owns a user and pid namespace, which lets it name as the writer of its bytes
    // the genuine agent it ran there on the endpoint's socket: the connection's peer.
    for (const auto& scenario : {client({"impersonate", "10000"}),
                                 client({"forge", staged_.agentExecutable(), "10000"})}) {
        SCOPED_TRACE(scenario[1]);
        auto impostor = launch(scenario);
        ASSERT_TRUE(pollUntil(
            5s * slowdown, [&] { return fs::exists(staged_.endpoint()) || !impostor->running(); }));
        if (impostor->waitForExit(100ms) == 77) {
            std::cout << "skipped: no user namespaces here\n";
            continue;
        }
        for (const char* request : {"snapshot", "metrics"}) {
            const auto shown =
                staged_.run({"sh", "-c", "\"$0\" --endpoint \"$1\" --raw $2 2>&1",
                             staged_.path("brivane-sensors"), staged_.endpoint(), request});
            EXPECT_EQ(shown.status, 1) << shown.output;
            EXPECT_EQ(shown.output.find("99.5"), std::string::npos) << shown.output;
            EXPECT_NE(shown.output.find("not the signed sensor agent"), std::string::npos)
                << shown.output;
        }
        impostor.reset();
        fs::remove(staged_.endpoint());
    }
}

// A write to a pipe whose reader has gone must not kill the agent; a hang-up stops it cleanly.
TEST_F(Attack, SIGPIPEIsIgnoredAndSIGHUPStopsTheAgentLikeSIGTERM) {
    ASSERT_EQ(staged_.cli({"snapshot"}).status, 0); // past start-up, where signals are set
    agent_->kill(SIGPIPE);
    EXPECT_EQ(staged_.cli({"snapshot"}).status, 0);
    agent_->kill(SIGHUP);
    EXPECT_EQ(agent_->waitForExit(5s * slowdown), 0);
    EXPECT_FALSE(fs::exists(staged_.endpoint()));
    EXPECT_FALSE(fs::exists(staged_.endpoint() + ".lock"));
}

// Each request of every kind is answered once with its document, batches are abandoned now and
// then, and every connection closed gives its descriptor back.
TEST_F(Attack, ManyClientsWithRandomDisconnectsAreEachAnsweredExactlyOnce) {
    // Every reader sets up what it keeps before the baseline is taken.
    for (const auto& request : std::vector<std::vector<std::string>>{{"snapshot"},
                                                                     {"cpu"},
                                                                     {"processes", "memory"},
                                                                     {"processes", "storage"},
                                                                     {"storage", "disk0"}}) {
        ASSERT_EQ(staged_.cli(request).status, 0) << request.back();
    }
    std::this_thread::sleep_for(200ms);
    const auto baseline = agent_->openDescriptors();
    ASSERT_TRUE(baseline);
    std::vector<std::unique_ptr<ChildProcess>> clients;
    for (int seed = 1000; seed < 1016; ++seed) {
        clients.push_back(launch(client({"load", "500", std::to_string(seed)})));
    }
    for (auto& loader : clients) {
        EXPECT_EQ(loader->waitForExit(120s), 0) << "client " << loader->pid();
    }
    EXPECT_TRUE(pollUntil(5s * slowdown, [&] { return agent_->openDescriptors() <= baseline; }));
    EXPECT_EQ(staged_.cli({"snapshot"}).status, 0);
}

} // namespace
} // namespace brivane::testing
