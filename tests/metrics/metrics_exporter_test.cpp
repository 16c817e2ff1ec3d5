#include "formats/document_codec.h"
#include "http_get.h"
#include "ipc/ipc_test_support.h"
#include "metrics_exporter.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace brivane::cli {
namespace {

namespace fs = std::filesystem;
using testing::FakeService;
using testing::ServedListener;

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

TEST(MetricsExporter, FollowsTheAgentAcrossRestartsAndAnswersUpZeroWhileItIsDown) {
    testing::TempDir directory;
    const auto endpoint = directory / "endpoint";
    ServedExporter served(endpoint);
    auto service = std::make_shared<FakeService>();
    service->immediate = snapshotNaming("Mouse");
    std::unique_ptr<ServedListener> agent;
    // A restart between two scrapes leaves the exporter's kept connection dead; the next
    // scrape must reach the new agent all the same.
    for (const bool runs : {false, true, true, false, true}) {
        SCOPED_TRACE(::testing::Message() << "step with the agent " << (runs ? "up" : "down"));
        agent.reset();
        fs::remove(endpoint);
        if (runs) {
            agent = std::make_unique<ServedListener>(service);
            directory.symlink("endpoint", agent->path());
        }
        const auto body = served.scrape();
        EXPECT_NE(body.find(runs ? "\nbrivane_up 1\n" : "\nbrivane_up 0\n"), std::string::npos)
            << body;
        EXPECT_EQ(body.find("Mouse") != std::string::npos, runs);
    }
    EXPECT_EQ(service->callCount(), 3u);
}

TEST(MetricsExporter, ScrapesThatArriveDuringARequestShareIt) {
    auto service = std::make_shared<FakeService>();
    ServedListener agent(service);
    ServedExporter served(agent.path());
    const auto begun = MetricsExporter::requestsBegun();
    std::vector<std::string> bodies(20);
    std::vector<std::thread> scrapes;
    for (auto& body : bodies) {
        scrapes.emplace_back([&] { body = served.scrape(); });
    }
    // The agent holds its answer until all twenty have arrived.
    ASSERT_TRUE(service->waitForCalls(1));
    for (int i = 0; i < 500 && MetricsExporter::requestsBegun() - begun < bodies.size(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    service->takeReply(0)(snapshotNaming("Mouse \"Pro\"\\2\n"));
    for (auto& scrape : scrapes) {
        scrape.join();
    }
    for (const auto& body : bodies) {
        EXPECT_NE(body.find(R"(brivane_accessory_battery_ratio{name="Mouse \"Pro\"\\2\n"} 0.5)"),
                  std::string::npos)
            << body;
    }
    EXPECT_EQ(service->callCount(), 1u);

    // A later scrape asks afresh; an answer without data is brivane_up 0.
    std::thread later([&] { bodies[0] = served.scrape(); });
    ASSERT_TRUE(service->waitForCalls(2));
    service->takeReply(1)(std::nullopt);
    later.join();
    EXPECT_NE(bodies[0].find("\nbrivane_up 0\n"), std::string::npos) << bodies[0];
}

} // namespace
} // namespace brivane::cli
