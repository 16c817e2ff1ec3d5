// Real consumers read what brivane-sensors writes about the simulated laptop: node_exporter's
// textfile collector reads the file of `metrics`, and a Prometheus server scrapes `export`.

#include "http_get.h"
#include "support/staged_agent.h"

#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace brivane::testing {
namespace {

using namespace std::chrono_literals;

std::string freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(fd);
    return std::to_string(ntohs(address.sin_port));
}

class MetricsEndToEnd : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(staged.startAgent()); }

    // A server run as the agent's user until the test ends.
    void serve(const std::vector<std::string>& argv) {
        servers.push_back(std::make_unique<ChildProcess>(staged.asAgentUser(argv),
                                                         staged.environment(), staged.scratch()));
    }

    // The body of url once it contains wanted, or the last one after 30 s.
    static std::string awaitBody(const std::string& url, const std::string& wanted) {
        std::string body;
        for (int i = 0; i < 150 && body.find(wanted) == std::string::npos; ++i) {
            std::this_thread::sleep_for(200ms);
            body = httpGet(url);
        }
        return body;
    }

    StagedAgent staged{{.bundle = BRIVANE_E2E_BUNDLE, .executables = {BRIVANE_E2E_CLI}}};
    const std::string home = staged.path("home");
    std::vector<std::unique_ptr<ChildProcess>> servers;
};

TEST_F(MetricsEndToEnd, NodeExporterReadsTheTextfileOfTheSimulatedLaptop) {
    ASSERT_EQ(staged.cli({"metrics", "--output", home + "/brivane.prom"}).status, 0);
    const std::string address = "127.0.0.1:" + freeLoopbackPort();
    const std::string url = "http://" + address + "/metrics";
    serve({"prometheus-node-exporter", "--collector.disable-defaults", "--collector.textfile",
           "--collector.textfile.directory=" + home, "--web.listen-address=" + address});
    const auto body = awaitBody(url, "node_textfile_scrape_error");
    for (const char* line : {
             "node_textfile_scrape_error 0",
             "brivane_up 1",
             R"(brivane_fan_max_speed_rpm{fan="1",name="Right side"} 6241)",
             "brivane_battery_voltage_volts 12.6",
             R"(brivane_gpu_utilization_ratio{unit="tiler"} 0.06)",
             R"(brivane_accessory_battery_ratio{name="Studio Buds",part="Case"} 0.45)",
         }) {
        EXPECT_NE(body.find(std::string("\n") + line + "\n"), std::string::npos) << line;
    }
    const std::string battery = "\nbrivane_temperature_celsius{sensor=\"TB0T\"} ";
    const auto found = body.find(battery);
    ASSERT_NE(found, std::string::npos) << body;
    EXPECT_NEAR(std::stod(body.substr(found + battery.size())), 30.5, 1.0);

    // The collector does check: a malformed file is reported.
    std::ofstream(home + "/broken.prom") << "brivane_broken{sensor=\"open} 1\n";
    EXPECT_NE(httpGet(url).find("\nnode_textfile_scrape_error 1\n"), std::string::npos);
}

TEST_F(MetricsEndToEnd, PrometheusScrapesTheExporter) {
    if (::access("/usr/bin/prometheus", X_OK) != 0) {
        GTEST_SKIP() << "Debian's prometheus package is not installed";
    }
    const std::string exporter = "127.0.0.1:" + freeLoopbackPort();
    const std::string prometheus = "127.0.0.1:" + freeLoopbackPort();
    serve({staged.path("brivane-sensors"), "export", "--endpoint", staged.endpoint(), "--listen",
           exporter});
    std::ofstream(home + "/prometheus.yml")
        << "global: {scrape_interval: 1s}\n"
           "scrape_configs: [{job_name: brivane, static_configs: [{targets: ['"
        << exporter << "']}]}]\n";
    serve({"prometheus", "--config.file=" + home + "/prometheus.yml",
           "--storage.tsdb.path=" + home + "/tsdb", "--web.listen-address=" + prometheus});
    const auto answer = awaitBody(
        "http://" + prometheus + "/api/v1/query?query=brivane_fan_max_speed_rpm%7Bfan%3D%221%22%7D",
        "\"6241\"");
    EXPECT_NE(answer.find(R"("name":"Right side")"), std::string::npos) << answer;
    EXPECT_NE(answer.find(R"("6241")"), std::string::npos) << answer;
}

} // namespace
} // namespace brivane::testing
