#include "ipc/sensor_client.h"
#include "support/staged_agent.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#include <unordered_map>

namespace brivane::testing {
namespace {

using ipc::Selector;
using ipc::SensorClient;

constexpr std::size_t clientCount = 32;
constexpr std::size_t requestsPerClient = 2000;
constexpr int replyTimeoutMs = 30000;

struct Kind {
    Selector selector;
    std::optional<std::string> argument;
    const char* mark; // text every document of this kind holds; nullptr: no data expected
    int weight;
};

// Requests that run system tools hold their queue for a long time each, so they are rare;
// the rest is snapshots and arguments the service refuses at once.
const std::vector<Kind> mix = {
    {Selector::snapshot, std::nullopt, "\"temperatures\"", 740},
    {Selector::cpuDetails, std::nullopt, "\"residencies\"", 3},
    {Selector::processDetails, "memory", "\"ranked\"", 3},
    {Selector::processDetails, "storage", "\"storage\"", 2},
    {Selector::storageHealth, "disk0", "\"helperUID\"", 2},
    {Selector::processDetails, "Memory", nullptr, 90},
    {Selector::storageHealth, "/dev/disk0", nullptr, 80},
    {Selector::manage, "check", nullptr, 80},
};

struct Tally {
    std::atomic<std::size_t> answered{0};
    std::atomic<std::size_t> abandoned{0};
    std::atomic<std::size_t> wrong{0};
    std::atomic<std::size_t> lost{0};
};

// One client: pipelined batches, answers checked against what was asked, and now and then a
// connection dropped with requests still in flight.
void runClient(const std::string& endpoint, unsigned seed, Tally& tally) {
    std::mt19937 random(seed);
    std::vector<int> weights;
    for (const auto& kind : mix) {
        weights.push_back(kind.weight);
    }
    std::discrete_distribution<std::size_t> kindOf(weights.begin(), weights.end());
    std::uniform_int_distribution<int> batchSize(1, 16);
    std::uniform_int_distribution<int> percent(0, 99);

    std::size_t sent = 0;
    while (sent < requestsPerClient) {
        std::string problem;
        auto client = SensorClient::connect(endpoint, problem);
        if (!client) {
            ++tally.lost;
            return;
        }
        bool dropped = false;
        while (!dropped && sent < requestsPerClient) {
            std::unordered_map<std::uint32_t, const Kind*> pending;
            const int batch = batchSize(random);
            for (int i = 0; i < batch && sent < requestsPerClient; ++i, ++sent) {
                const Kind& kind = mix[kindOf(random)];
                const auto id = client->send(kind.selector, kind.argument);
                if (!id) {
                    ++tally.lost;
                    return;
                }
                pending.emplace(*id, &kind);
            }
            if (percent(random) < 3) {
                tally.abandoned += pending.size();
                dropped = true; // vanish with the batch in flight
                break;
            }
            while (!pending.empty()) {
                auto outcome = client->receive(replyTimeoutMs);
                if (outcome.status != SensorClient::Status::replied) {
                    tally.lost += pending.size();
                    return;
                }
                const auto found = pending.find(outcome.reply.id);
                if (found == pending.end()) {
                    ++tally.wrong; // duplicate or unknown id
                    continue;
                }
                const Kind& kind = *found->second;
                const auto& document = outcome.reply.document;
                const bool fits = kind.mark
                                      ? document && document->find(kind.mark) != std::string::npos
                                      : !document;
                if (!fits) {
                    ++tally.wrong;
                }
                ++tally.answered;
                pending.erase(found);
            }
        }
    }
}

std::size_t waitForDescriptors(const ChildProcess& agent, std::size_t baseline) {
    std::size_t now = 0;
    for (int i = 0; i < 250; ++i) {
        now = agent.openDescriptors().value_or(0);
        if (now <= baseline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return now;
}

// The bundle staged beside this executable when it runs as the agent's user, else the built one.
std::string bundlePath() {
    const auto beside = std::filesystem::canonical("/proc/self/exe").parent_path() / "app";
    return std::filesystem::exists(beside) ? beside.string() : BRIVANE_SIM_BUNDLE;
}

TEST(Load, ManyClientsWithRandomDisconnectsAreEachAnsweredExactlyOnce) {
    if (!std::filesystem::exists(bundlePath())) {
        GTEST_SKIP() << "the simulated bundle is not built";
    }
    if (StagedAgent::isRoot()) {
        // The agent refuses root and answers only its own user: run this test as that user.
        StagedAgent staged({.bundle = bundlePath(), .executables = {"/proc/self/exe"}});
        const auto inner = staged.run({staged.path("load_tests"), "--gtest_filter=Load.*"},
                                      std::chrono::minutes(14));
        EXPECT_EQ(inner.status, 0) << inner.output;
        EXPECT_NE(inner.output.find("[  PASSED  ] 1 test"), std::string::npos) << inner.output;
        return;
    }

    StagedAgent staged({.bundle = bundlePath()});
    const std::string endpoint = staged.endpoint();
    ChildProcess* agent = staged.startAgent();
    ASSERT_TRUE(agent) << "the agent did not start serving";
    std::string problem;
    auto warmUp = SensorClient::connect(endpoint, problem);
    ASSERT_TRUE(warmUp) << problem;
    // Every reader sets up what it keeps before the baseline is taken.
    for (const auto& kind : mix) {
        ASSERT_EQ(warmUp->call(kind.selector, kind.argument, replyTimeoutMs).status,
                  SensorClient::Status::replied);
    }
    warmUp.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto baseline = agent->openDescriptors();
    ASSERT_TRUE(baseline);

    Tally tally;
    std::vector<std::thread> clients;
    for (std::size_t c = 0; c < clientCount; ++c) {
        clients.emplace_back(
            [&, c] { runClient(endpoint, static_cast<unsigned>(1000 + c), tally); });
    }
    for (auto& client : clients) {
        client.join();
    }

    EXPECT_EQ(tally.wrong.load(), 0u);
    EXPECT_EQ(tally.lost.load(), 0u);
    EXPECT_EQ(tally.answered + tally.abandoned, clientCount * requestsPerClient);
    EXPECT_TRUE(agent->running());
    EXPECT_LE(waitForDescriptors(*agent, *baseline), *baseline);

    auto after = SensorClient::connect(endpoint, problem);
    ASSERT_TRUE(after) << problem;
    EXPECT_TRUE(after->call(Selector::snapshot, std::nullopt, replyTimeoutMs).reply.document);
}

} // namespace
} // namespace brivane::testing
