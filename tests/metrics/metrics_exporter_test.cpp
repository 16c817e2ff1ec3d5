#include "formats/document_codec.h"
#include "http_get.h"
#include "ipc/ipc_test_support.h"
#include "metrics_exporter.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

namespace brivane::cli {
namespace {

using testing::FakeService;
using testing::httpGet;
using testing::ServedListener;

std::string snapshotDocument(const std::string& accessory) {
    SensorSnapshot snapshot;
    snapshot.temperatures = {{"TC0P", 41}};
    snapshot.accessories = {{{accessory, std::nullopt, 0.5}}};
    return encode(snapshot);
}

// An exporter on a free loopback port that asks the agent at endpoint.
struct ServedExporter {
    explicit ServedExporter(const std::string& endpoint) {
        auto agent = std::make_shared<AgentSnapshots>(endpoint, 5000);
        std::string problem;
        exporter = MetricsExporter::start(
            *parseListenAddress("127.0.0.1:0"), [agent] { return agent->fetch(); }, problem);
        EXPECT_TRUE(exporter) << problem;
    }

    testing::HttpAnswer scrape() const {
        return httpGet("http://127.0.0.1:" + std::to_string(exporter->port()) + "/metrics");
    }

    std::unique_ptr<MetricsExporter> exporter;
};

bool has(const testing::HttpAnswer& answer, const std::string& line) {
    return answer.body.find("\n" + line + "\n") != std::string::npos;
}

TEST(MetricsExporter, FollowsTheAgentAcrossRestartsAndAnswersUpZeroWhileItIsDown) {
    testing::TempDir directory;
    const auto endpoint = directory / "endpoint";
    ServedExporter served(endpoint);
    std::unique_ptr<ServedListener> agent;
    auto service = std::make_shared<FakeService>();
    service->immediate = snapshotDocument("Mouse");

    // Each step: (re)start or stop the agent, then scrape. A restart between two scrapes
    // leaves the exporter's kept connection dead; the scrape must still reach the new agent.
    struct Step {
        const char* what;
        bool agentRuns;
    };
    const Step steps[] = {{"down from the start", false},
                          {"started", true},
                          {"restarted", true},
                          {"stopped", false},
                          {"started again", true}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        agent.reset();
        std::filesystem::remove(endpoint);
        if (step.agentRuns) {
            agent = std::make_unique<ServedListener>(service);
            directory.symlink("endpoint", agent->path());
        }
        const auto answer = served.scrape();
        EXPECT_EQ(answer.status, 200);
        EXPECT_TRUE(has(answer, step.agentRuns ? "brivane_up 1" : "brivane_up 0")) << answer.body;
        EXPECT_EQ(has(answer, R"(brivane_temperature_celsius{sensor="TC0P"} 41)"), step.agentRuns);
    }
    EXPECT_EQ(service->callCount(), 3u);
}

TEST(MetricsExporter, ConcurrentScrapesShareOneSnapshotRequest) {
    auto service = std::make_shared<FakeService>();
    ServedListener agent(service);
    ServedExporter served(agent.path());

    constexpr std::size_t scrapes = 20;
    const auto begunBefore = MetricsExporter::requestsBegun();
    std::vector<testing::HttpAnswer> answers(scrapes);
    std::vector<std::thread> threads;
    for (auto& answer : answers) {
        threads.emplace_back([&] { answer = served.scrape(); });
    }
    // Hold the agent's answer until every scrape has arrived.
    ASSERT_TRUE(service->waitForCalls(1));
    for (int i = 0; i < 500 && MetricsExporter::requestsBegun() - begunBefore < scrapes; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(MetricsExporter::requestsBegun() - begunBefore, scrapes);
    service->takeReply(0)(snapshotDocument("Mouse \"Pro\"\\2\n"));
    for (auto& thread : threads) {
        thread.join();
    }
    for (const auto& answer : answers) {
        EXPECT_EQ(answer.status, 200);
        EXPECT_TRUE(
            has(answer, R"(brivane_accessory_battery_ratio{name="Mouse \"Pro\"\\2\n"} 0.5)"))
            << answer.body;
    }
    EXPECT_EQ(service->callCount(), 1u);

    // The next scrape asks afresh; an agent that sends no data leaves brivane_up 0.
    std::thread later([&] { answers[0] = served.scrape(); });
    ASSERT_TRUE(service->waitForCalls(2));
    service->takeReply(1)(std::nullopt);
    later.join();
    EXPECT_EQ(answers[0].status, 200);
    EXPECT_TRUE(has(answers[0], "brivane_up 0")) << answers[0].body;
}

TEST(MetricsExporter, AnAddressInUseIsReported) {
    ServedExporter first("/nonexistent");
    std::string problem;
    const auto second = MetricsExporter::start(
        *parseListenAddress("127.0.0.1:" + std::to_string(first.exporter->port())),
        [] { return FetchedSnapshot{}; }, problem);
    EXPECT_FALSE(second);
    EXPECT_FALSE(problem.empty());
}

} // namespace
} // namespace brivane::cli
