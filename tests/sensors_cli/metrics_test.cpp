#include "e2e/http_get.h"
#include "formats/document_codec.h"
#include "ipc/ipc_test_support.h"
#include "listen_address.h"
#include "metrics_commands.h"
#include "metrics_exporter.h"
#include "metrics_text.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace brivane::cli {
namespace {

namespace fs = std::filesystem;
using namespace std::literals;

// The sample lines of one scrape's text, without # HELP and # TYPE.
std::vector<std::string> samples(const SensorSnapshot* snapshot) {
    std::vector<std::string> lines;
    std::istringstream in(exposition(metricFamilies(snapshot, 0.25)));
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("#")) {
            lines.push_back(line);
        }
    }
    return lines;
}

TEST(MetricsText, EveryReadingIsOneSeriesWithItsUnitAndEscapedLabels) {
    SensorSnapshot snapshot;
    snapshot.temperatures = {{"TC0P", 45.5}, {"say \"hi\" C:\\ two\nlines", 30}};
    snapshot.fans = {{0, "Lüfter ✓", 1200, 5000}, {1, std::nullopt, 900, std::nullopt}};
    snapshot.power = {{{"PSTR", 9.5}, {"BatteryVoltage", 12.5}, {"BatteryVoltage", 12}}};
    snapshot.graphics = {{0.5, 0.25, std::nullopt}};
    snapshot.accessories = {
        {{"Mouse", std::nullopt, 0.5}, {"Mouse", std::nullopt, 0.25}, {"Buds", "Left", 0.75}}};
    snapshot.companionVersion = "1.2.3";
    const std::vector<std::string> expected = {
        "brivane_up 1",
        "brivane_scrape_duration_seconds 0.25",
        R"(brivane_companion_info{version="1.2.3"} 1)",
        R"(brivane_temperature_celsius{sensor="TC0P"} 45.5)",
        R"(brivane_temperature_celsius{sensor="say \"hi\" C:\\ two\nlines"} 30)",
        R"(brivane_fan_speed_rpm{fan="0",name="Lüfter ✓"} 1200)",
        R"(brivane_fan_speed_rpm{fan="1"} 900)",
        R"(brivane_fan_max_speed_rpm{fan="0",name="Lüfter ✓"} 5000)",
        R"(brivane_power_watts{source="PSTR"} 9.5)",
        "brivane_battery_voltage_volts 12.5",
        R"(brivane_gpu_utilization_ratio{unit="device"} 0.5)",
        R"(brivane_gpu_utilization_ratio{unit="renderer"} 0.25)",
        // A series twice in one scrape would make consumers reject the whole scrape.
        R"(brivane_accessory_battery_ratio{name="Mouse"} 0.5)",
        R"(brivane_accessory_battery_ratio{name="Mouse #2"} 0.25)",
        R"(brivane_accessory_battery_ratio{name="Buds",part="Left"} 0.75)",
    };
    EXPECT_EQ(samples(&snapshot), expected);

    EXPECT_EQ(samples(nullptr),
              (std::vector<std::string>{"brivane_up 0", "brivane_scrape_duration_seconds 0.25"}));
}

// A textfile left with old readings would keep reporting them after the agent stopped.
TEST(MetricsCommands, AnUnreachableAgentStillReplacesTheFileWhole) {
    testing::TempDir directory;
    directory.write("brivane.prom", "brivane_up 1\nbrivane_temperature_celsius 40\n", 0600);
    CliOptions options;
    options.action = CliOptions::Action::metrics;
    options.endpoint = directory / "no-agent";
    options.output = directory / "brivane.prom";
    EXPECT_EQ(runMetrics(options), 1);

    std::stringstream text;
    text << std::ifstream(*options.output).rdbuf();
    EXPECT_NE(text.str().find("\nbrivane_up 0\n"), std::string::npos) << text.str();
    EXPECT_EQ(text.str().find("celsius"), std::string::npos) << text.str();
    EXPECT_EQ(fs::status(*options.output).permissions(), fs::perms(0644));
    EXPECT_EQ(std::distance(fs::directory_iterator(directory.path()), fs::directory_iterator()), 1);

    options.output = directory / "missing/brivane.prom";
    EXPECT_EQ(runMetrics(options), 4);
}

// A writer stopped while it replaces the file leaves the old file or the new one and nothing
// beside it; a target name of 255 bytes, the most a folder takes, can be written.
TEST(MetricsCommands, ReplacingTheOutputLeavesNothingBesideItAndTakesTheLongestNames) {
    testing::TempDir directory;
    const std::string target = directory / std::string(255, 'n');
    std::string problem;
    ASSERT_TRUE(writeFileAtomically(target, "first\n", problem)) << problem;
    const std::string text(4 << 20, 'x');
    std::minstd_rand random(21);
    for (int run = 0; run < 20; ++run) {
        const pid_t writer = ::fork();
        if (writer == 0) {
            for (std::string ignored;;) {
                writeFileAtomically(target, text, ignored);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 20000));
        ::kill(writer, SIGTERM);
        int status = 0;
        ::waitpid(writer, &status, 0);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(directory.path()), fs::directory_iterator()), 1);
}

TEST(ListenAddress, TakesAnIpAddressAndAPort) {
    const std::pair<std::string_view, const char*> cases[] = {
        {"127.1.2.3:9464", "127.1.2.3:9464 loopback"},
        {"localhost:9464", "127.0.0.1:9464 loopback"},
        {"0.0.0.0:9464", "0.0.0.0:9464"},
    };
    for (const auto& [text, parsed] : cases) {
        const auto address = parseListenAddress(text);
        ASSERT_TRUE(address) << text;
        EXPECT_EQ(address->text() + (address->loopback ? " loopback" : ""), parsed);
    }
    for (const auto text : {"[::1]:9464"sv, "127.0.0.1\0x:9464"sv, "9464"sv, "127.0.0.1:65536"sv,
                            "127.0.0.1:+1"sv, "::1:9464"sv, "example.org:9464"sv}) {
        EXPECT_FALSE(parseListenAddress(text)) << text;
    }
}

std::string snapshotNaming(const std::string& accessory) {
    SensorSnapshot snapshot;
    snapshot.accessories = {{{accessory, std::nullopt, 0.5}}};
    return encode(snapshot);
}

// An exporter on a free loopback port in front of the agent at endpoint.
struct ServedExporter {
    explicit ServedExporter(const std::string& endpoint) {
        auto agent = std::make_shared<AgentSnapshots>(endpoint, 5000);
        std::string problem;
        exporter = MetricsExporter::start(
            *parseListenAddress("127.0.0.1:0"), [agent] { return agent->fetch(); }, problem);
        EXPECT_TRUE(exporter) << problem;
    }
    std::string scrape() const {
        return testing::httpGet("http://127.0.0.1:" + std::to_string(exporter->port()) +
                                "/metrics");
    }
    std::unique_ptr<MetricsExporter> exporter;
};

// A restart between two scrapes leaves the exporter's kept connection dead; the next scrape
// must reach the new agent all the same.
TEST(MetricsExporter, FollowsTheAgentAcrossRestartsAndAnswersUpZeroWhileItIsDown) {
    testing::TempDir directory;
    const auto endpoint = directory / "endpoint";
    ServedExporter served(endpoint);
    auto service = std::make_shared<testing::FakeService>();
    service->immediate = snapshotNaming("Mouse");
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

// Twenty scrapes arrive while the agent holds its answer: they share one request.
TEST(MetricsExporter, ScrapesThatArriveDuringARequestShareIt) {
    auto service = std::make_shared<testing::FakeService>();
    testing::ServedListener agent(service);
    ServedExporter served(agent.path());
    const auto begun = MetricsExporter::requestsBegun();
    std::vector<std::string> bodies(20);
    std::vector<std::thread> scrapes;
    for (auto& body : bodies) {
        scrapes.emplace_back([&] { body = served.scrape(); });
    }
    ASSERT_TRUE(service->waitForCalls(1));
    testing::pollUntil(std::chrono::seconds(5),
                       [&] { return MetricsExporter::requestsBegun() - begun >= bodies.size(); });
    service->take(0).reply(snapshotNaming("Mouse \"Pro\"\\2\n"));
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        scrapes[i].join();
        EXPECT_NE(bodies[i].find(R"(ratio{name="Mouse \"Pro\"\\2\n"} 0.5)"), std::string::npos)
            << bodies[i];
    }
    // A later scrape asks afresh; an answer without data is brivane_up 0.
    std::thread later([&] { bodies[0] = served.scrape(); });
    ASSERT_TRUE(service->waitForCalls(2));
    service->take(1).reply(std::nullopt);
    later.join();
    EXPECT_NE(bodies[0].find("\nbrivane_up 0\n"), std::string::npos) << bodies[0];
}

} // namespace
} // namespace brivane::cli
