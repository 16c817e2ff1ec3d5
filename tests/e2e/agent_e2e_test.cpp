// The simulated agent's bundle and the CLI as real processes over the real socket, and a real
// consumer of the CLI's metrics. Framing, pipelining and malformed input are covered
// in-process (tests/ipc) and under attack (tests/attacks); the exporter's HTTP in tests/metrics.

#include "e2e/http_get.h"
#include "formats/document_codec.h"
#include "support/staged_agent.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace brivane::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class SimAgentEndToEnd : public ::testing::Test {
protected:
    StagedAgent staged{
        {.bundle = BRIVANE_E2E_BUNDLE,
         .executables = {BRIVANE_E2E_CLI, BRIVANE_E2E_EXPORTER, BRIVANE_E2E_BARE_AGENT}}};
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

    ASSERT_TRUE(staged.startAgent());
    const auto snapshot = staged.cli({"--raw", "snapshot"});
    ASSERT_EQ(snapshot.status, 0);
    const auto document = decodeSensorSnapshot(snapshot.output);
    ASSERT_TRUE(document.has_value()) << snapshot.output;
    EXPECT_EQ(document->helperUID, staged.uid());
    EXPECT_FALSE(document->temperatures.empty());
    EXPECT_TRUE(document->graphics && document->companionVersion);
    // The exit status each request gives, then the request.
    for (const char* line :
         {"0 cpu", "0 processes memory", "0 processes storage", "0 storage disk0",
          "5 storage disk9", "2 processes Memory", "0 storage /dev/disk0",
          "2 manage checkForUpdate", "3 storage disk0s"}) {
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

// 127.0.0.1 with a port that was free a moment ago.
std::string freeLoopbackAddress() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
}

// node_exporter's textfile collector reads the file of `metrics`, and `export` serves the same
// series over HTTP.
TEST_F(SimAgentEndToEnd, MetricsReachTheirConsumers) {
    ASSERT_TRUE(staged.startAgent());
    const auto home = staged.path("home");
    ASSERT_EQ(staged.cli({"metrics", "--output", home + "/brivane.prom"}).status, 0);
    const auto collector = "http://" + freeLoopbackAddress();
    const auto exporter = "http://" + freeLoopbackAddress();
    const std::pair<std::string, std::vector<std::string>> servers[] = {
        {collector,
         {"prometheus-node-exporter", "--collector.disable-defaults", "--collector.textfile",
          "--collector.textfile.directory=" + home, "--web.listen-address=" + collector.substr(7)}},
        {exporter,
         {staged.path("brivane-sensors"), "export", "--endpoint", staged.endpoint(), "--listen",
          exporter.substr(7)}},
    };
    std::vector<std::unique_ptr<ChildProcess>> running;
    for (const auto& [url, argv] : servers) {
        SCOPED_TRACE(argv.front());
        running.push_back(std::make_unique<ChildProcess>(staged.asAgentUser(argv),
                                                         staged.environment(), staged.scratch()));
        std::string page;
        pollUntil(30s, [&] {
            return (page = httpGet(url + "/metrics")).find("brivane_up 1") != std::string::npos;
        });
        for (const char* line :
             {"brivane_up 1", R"(brivane_fan_max_speed_rpm{fan="1",name="Right side"} 6241)",
              R"(brivane_accessory_battery_ratio{name="Studio Buds",part="Case"} 0.45)"}) {
            EXPECT_NE(page.find(std::string("\n") + line + "\n"), std::string::npos) << line;
        }
    }
    EXPECT_NE(httpGet(collector + "/metrics").find("\nnode_textfile_scrape_error 0\n"),
              std::string::npos);
    // The collector does check: a malformed file is reported.
    std::ofstream(home + "/broken.prom") << "brivane_broken{sensor=\"open} 1\n";
    EXPECT_NE(httpGet(collector + "/metrics").find("\nnode_textfile_scrape_error 1\n"),
              std::string::npos);

    // A real Prometheus scrapes `export` and answers a query with the reading.
    const auto prometheus = freeLoopbackAddress();
    std::ofstream(home + "/prometheus.yml")
        << "global: {scrape_interval: 1s}\nscrape_configs: [{job_name: brivane, static_configs: "
        << "[{targets: ['" << exporter.substr(7) << "']}]}]\n";
    running.push_back(std::make_unique<ChildProcess>(
        staged.asAgentUser({"prometheus", "--config.file=" + home + "/prometheus.yml",
                            "--storage.tsdb.path=" + home + "/tsdb",
                            "--web.listen-address=" + prometheus}),
        staged.environment(), staged.scratch()));
    const auto query =
        "http://" + prometheus + "/api/v1/query?query=brivane_fan_max_speed_rpm%7Bfan%3D%221%22%7D";
    std::string answer;
    pollUntil(30s,
              [&] { return (answer = httpGet(query)).find(R"("6241")") != std::string::npos; });
    EXPECT_NE(answer.find(R"("name":"Right side"},"value":)"), std::string::npos) << answer;
}

} // namespace
} // namespace brivane::testing
