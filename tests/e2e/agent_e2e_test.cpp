// The simulated agent's bundle and the CLI as real processes over the real socket, and real
// consumers of the CLI's metrics. Framing and malformed input are covered in tests/ipc and
// tests/attacks, the exporter's HTTP in tests/metrics_exporter.

#include "e2e/http_get.h"
#include "formats/document_codec.h"
#include "support/staged_agent.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <pwd.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace brivane::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class SimAgentEndToEnd : public ::testing::Test {
protected:
    StagedAgent staged{{.bundle = BRIVANE_E2E_BUNDLE,
                        .executables = {BRIVANE_E2E_CLI, BRIVANE_E2E_EXPORTER, BRIVANE_E2E_RECORDER,
                                        BRIVANE_E2E_BARE_AGENT, BRIVANE_E2E_PRELOAD}}};
};

// Outside its bundle (no team identifier) or as root the agent does not start; started in
// the bundle, it answers every kind of request of its user's CLI and nothing to other users.
TEST_F(SimAgentEndToEnd, StartsOnlyInItsBundleAndAnswersOnlyItsUser) {
    const auto bare = staged.path(fs::path(BRIVANE_E2E_BARE_AGENT).filename());
    EXPECT_EQ(staged.run({bare, "--agent"}).status, 2);
    if (StagedAgent::isRoot()) {
        EXPECT_EQ(runCommand({staged.agentExecutable(), "--agent"}, staged.environment(),
                             staged.scratch())
                      .status,
                  2);
    }
    EXPECT_FALSE(fs::exists(staged.endpoint()));

    const auto* agent = staged.startAgent();
    ASSERT_TRUE(agent);
    // Transfers run in a helper: the long-running agent maps no network library.
    const auto mapped = readFile("/proc/" + std::to_string(agent->pid()) + "/maps");
    for (const char* library : {"libcurl", "libssl", "libnghttp", "libgnutls"}) {
        EXPECT_EQ(mapped.find(library), std::string::npos) << library;
    }
    const auto snapshot = staged.cli({"--raw", "snapshot"});
    ASSERT_EQ(snapshot.status, 0);
    const auto document = decodeSensorSnapshot(snapshot.output);
    ASSERT_TRUE(document.has_value()) << snapshot.output;
    EXPECT_EQ(document->helperUID, staged.uid());
    EXPECT_FALSE(document->temperatures.empty());
    EXPECT_TRUE(document->graphics && document->companionVersion);
    // The demo's card fills its rows: named and addressed.
    ASSERT_TRUE(document->gpus && document->gpus->size() == 1);
    EXPECT_TRUE(document->gpus->front().card && document->gpus->front().pciAddress);
    // The exit status each request gives, then the request.
    for (const char* line :
         {"0 cpu", "0 processes memory", "0 processes gpu", "0 storage disk0", "5 storage disk9",
          "2 processes Memory", "0 storage /dev/disk0", "3 storage disk0s"}) {
        std::istringstream words(line);
        int status = -1;
        words >> status;
        const auto shown = staged.cli({std::istream_iterator<std::string>(words), {}});
        EXPECT_EQ(shown.status, status) << line;
        EXPECT_EQ(shown.output.find("did not decode"), std::string::npos) << shown.output;
    }
    if (StagedAgent::isRoot()) { // the agent runs as "nobody": root is another user
        const auto other = runCommand(
            {staged.path("brivane-sensors"), "--endpoint", staged.endpoint(), "snapshot"},
            staged.environment(), staged.scratch());
        EXPECT_EQ(other.status, 1) << other.output;
    }
}

// A package upgrade replaces the executable under a running agent. The client says so instead of
// warning of a stranger, the old agent answers and ends by itself, and the new file serves.
TEST_F(SimAgentEndToEnd, AnAgentWhoseExecutableIsReplacedMakesWayForTheNewOne) {
    auto* agent = staged.startAgent();
    ASSERT_TRUE(agent);
    const auto executable = staged.agentExecutable();
    fs::copy_file(executable, executable + ".new"); // renamed over the old, as packages are
    fs::rename(executable + ".new", executable);
    const auto shown = staged.run({"sh", "-c", "\"$0\" --endpoint \"$1\" snapshot 2>&1",
                                   staged.path("brivane-sensors"), staged.endpoint()});
    EXPECT_EQ(shown.status, 1);
    if (StagedAgent::isRoot()) { // otherwise the stage is the agent user's own, and suspect
        EXPECT_EQ(shown.output, "brivane-sensors: the sensor agent was upgraded; it restarts on "
                                "the next request\n");
    }
    EXPECT_EQ(agent->waitForExit(5s), 0);
    ASSERT_TRUE(staged.startAgent());
    EXPECT_EQ(staged.cli({"cpu"}).status, 0);
}

// A loopback server that takes one connection and never answers, as a stalled download
// server (or proxy) would. It prints its port, "connected", and "released" once the other side
// lets go.
constexpr const char* stalledServer = R"(import socket
server = socket.create_server(("127.0.0.1", 0))
print(server.getsockname()[1], flush=True)
connection, _ = server.accept()
print("connected", flush=True)
while connection.recv(4096):
    pass
print("released", flush=True)
)";

// A stop cancels an update check stuck on a server that does not answer: the agent exits
// within its grace, leaving neither its endpoint nor the transfer behind. A killed agent's
// helper ends with it, and the download folders a killed one left are swept at start.
TEST(SimAgentStop, EndsATransferInProgressAndExitsWithinTheGrace) {
    for (const int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal);
        TempDir scratch;
        ChildProcess server({"python3", "-c", stalledServer}, pathEnvironment(), scratch / "out");
        const auto printed = [&](const char* word) {
            return readFile(scratch / "out").find(word) != std::string::npos;
        };
        ASSERT_TRUE(pollUntil(10s, [&] { return printed("\n"); })); // the port
        const auto port = std::to_string(std::stoi(readFile(scratch / "out")));
        StagedAgent staged({.bundle = BRIVANE_E2E_BUNDLE,
                            .executables = {BRIVANE_E2E_CLI},
                            .environment = {"https_proxy=http://127.0.0.1:" + port}});
        const fs::path left =
            staged.path("home/.cache/dev.qorva.brivane.SensorCompanion/Downloads/download-Ab12Cd");
        fs::create_directories(left);
        for (auto made = left; made != staged.path("home"); made = made.parent_path()) {
            ASSERT_EQ(::chown(made.c_str(), staged.uid(), -1), 0);
        }
        auto* agent = staged.startAgent();
        ASSERT_TRUE(agent);
        ChildProcess check(staged.asAgentUser({staged.path("brivane-sensors"), "--endpoint",
                                               staged.endpoint(), "manage", "checkForUpdates"}),
                           staged.environment(), staged.scratch());
        ASSERT_TRUE(pollUntil(10s, [&] { return printed("connected"); }));
        EXPECT_FALSE(fs::exists(left));
        const auto stopping = std::chrono::steady_clock::now();
        agent->kill(signal);
        if (signal == SIGTERM) {
            EXPECT_EQ(agent->waitForExit(10s), 0);
            EXPECT_LT(std::chrono::steady_clock::now() - stopping, 2500ms);
            EXPECT_FALSE(fs::exists(staged.endpoint()));
        }
        EXPECT_TRUE(pollUntil(2s, [&] { return printed("released"); }));
    }
}

// node_exporter's textfile collector reads the file of `metrics`, and `export` serves the same
// series over HTTP.
// An agent made to load a library from outside the system's folders still answers, and its
// clients say so: the CLI in one line on standard error, the metrics in a gauge.
TEST_F(SimAgentEndToEnd, AnAgentMadeToLoadForeignCodeIsReportedByItsClients) {
    const auto preload = staged.path(fs::path(BRIVANE_E2E_PRELOAD).filename());
    auto& agent =
        staged.launch({"env", "LD_PRELOAD=" + preload, "ASAN_OPTIONS=verify_asan_link_order=0",
                       staged.agentExecutable(), "--agent"});
    ASSERT_TRUE(waitForEndpoint(staged.endpoint(), 10s, &agent));
    const std::string bothClients = "\"$0\" --endpoint \"$1\" snapshot 2>&1 >/dev/null; "
                                    "\"$0\" --endpoint \"$1\" metrics 2>/dev/null";
    const auto seen =
        staged.run({"sh", "-c", bothClients, staged.path("brivane-sensors"), staged.endpoint()});
    EXPECT_NE(seen.output.find(") was started with LD_PRELOAD and maps " + preload +
                               " from outside the system's library folders"),
              std::string::npos)
        << seen.output;
    EXPECT_NE(seen.output.find(std::string("\nbrivane_agent_loader_altered{user=\"") +
                               ::getpwuid(staged.uid())->pw_name + "\"} 1\n"),
              std::string::npos);
}

// The recorder runs for days: `record` checks the agent before it hands over, so that the
// recorder finds the verdict kept and never maps the cryptography library (4 MiB resident).
TEST_F(SimAgentEndToEnd, TheRecorderFindsTheAgentsVerdictKeptAndMapsNoCryptography) {
    ASSERT_NE(staged.startAgent(), nullptr);
    auto& recorder = staged.launch({staged.path("brivane-sensors"), "--endpoint", staged.endpoint(),
                                    "record", "--interval", "1"});
    const auto maps = [&] {
        std::ifstream file("/proc/" + std::to_string(recorder.pid()) + "/maps");
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    const fs::path history = staged.path("home/.local/state/brivane-sensors");
    ASSERT_TRUE(pollUntil(10s, [&] {
        return maps().find("libsqlite3") != std::string::npos && fs::exists(history) &&
               !fs::is_empty(history);
    }));
    std::this_thread::sleep_for(2500ms); // a few samples asked and stored
    ASSERT_TRUE(recorder.running());
    EXPECT_EQ(maps().find("libcrypto"), std::string::npos);
}

TEST_F(SimAgentEndToEnd, MetricsReachTheirConsumers) {
    ASSERT_TRUE(staged.startAgent());
    const auto home = staged.path("home");
    ASSERT_EQ(staged.cli({"metrics", "--output", home + "/brivane.prom"}).status, 0);
    const auto collector = freeLoopbackAddress(), exporter = freeLoopbackAddress();
    const auto prometheus = freeLoopbackAddress();
    std::ofstream(home + "/prometheus.yml")
        << "global: {scrape_interval: 1s}\nscrape_configs: [{job_name: brivane, static_configs: "
        << "[{targets: ['" << exporter << "']}]}]\n";
    // A real Prometheus scrapes `export`, which serves what `metrics` writes (its HTTP answers
    // are checked in-process).
    const std::vector<std::string> servers[] = {
        {"prometheus-node-exporter", "--collector.disable-defaults", "--collector.textfile",
         "--collector.textfile.directory=" + home, "--web.listen-address=" + collector},
        {staged.path("brivane-sensors"), "export", "--endpoint", staged.endpoint(), "--listen",
         exporter},
        {"prometheus", "--config.file=" + home + "/prometheus.yml",
         "--storage.tsdb.path=" + home + "/tsdb", "--web.listen-address=" + prometheus},
    };
    std::vector<std::unique_ptr<ChildProcess>> running;
    for (const auto& argv : servers) {
        running.push_back(std::make_unique<ChildProcess>(staged.asAgentUser(argv),
                                                         staged.environment(), staged.scratch()));
    }
    // Every series of the file names the user who wrote it.
    const auto user = std::string("user=\"") + ::getpwuid(staged.uid())->pw_name + '"';
    std::string page;
    pollUntil(30s, [&] {
        return (page = httpGet("http://" + collector + "/metrics")).find(user) != std::string::npos;
    });
    for (const auto& line :
         {"brivane_up{" + user + "} 1", "brivane_agent_loader_altered{" + user + "} 0",
          R"(brivane_fan_max_speed_rpm{chip="smc",sensor="Right side",)" + user + "} 6241",
          R"(brivane_accessory_battery_ratio{name="Studio Buds",part="Case",)" + user + "} 0.45",
          std::string("node_textfile_scrape_error 0")}) {
        EXPECT_NE(page.find(std::string("\n") + line + "\n"), std::string::npos) << line;
    }
    // Labels in a query: {chip="smc",sensor="Right side"}; the counter grows between scrapes.
    const auto query = "http://" + prometheus + "/api/v1/query?query=";
    std::string answer;
    pollUntil(30s, [&] {
        answer = httpGet(query + "brivane_fan_max_speed_rpm%7Bchip%3D%22smc%22%2C" +
                         "sensor%3D%22Right%20side%22%7D");
        return answer.find(R"("6241")") != std::string::npos;
    });
    EXPECT_NE(answer.find(R"("chip":"smc","instance")"), std::string::npos) << answer;
    const auto increase =
        query + "increase(brivane_energy_joules_total%7Bsensor%3D%22CPUEnergy%22%7D%5B1m%5D)%3E0";
    EXPECT_TRUE(pollUntil(30s, [&] {
        return (answer = httpGet(increase)).find(R"("sensor":"CPUEnergy")") != std::string::npos;
    })) << answer;
}

} // namespace
} // namespace brivane::testing
