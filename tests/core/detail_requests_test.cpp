#include "core/companion_harness.h"
#include "core/reply_rule.h"
#include "formats/document_codec.h"
#include "platform/sim/canned_outputs.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <mutex>
#include <sys/resource.h>

namespace brivane::testing {
namespace {

using namespace std::chrono_literals;

// Sends a request that must be refused, and checks the refusal came before the call returned.
void expectRefusedAtOnce(const Request& request, const std::string& argument) {
    bool replied = false;
    std::optional<std::string> data = "untouched";
    request([&](std::optional<std::string> answer) {
        replied = true;
        data = std::move(answer);
    });
    EXPECT_TRUE(replied) << '"' << argument << '"';
    EXPECT_EQ(data, std::nullopt) << '"' << argument << '"';
}

class DetailRequests : public ::testing::Test {
public:
    CompanionHarness harness;
    std::unique_ptr<SensorCompanion> service = harness.make();
};

TEST_F(DetailRequests, ProcessKindsMustMatchExactly) {
    const std::vector<std::string> kinds = {
        "Memory", "ENERGY",   " storage", "memory ",
        "",       "energy\n", "cpu",      std::string("memory\0", 7)};
    for (const auto& kind : kinds) {
        expectRefusedAtOnce([&](auto reply) { service->processDetails(kind, std::move(reply)); },
                            kind);
    }
    EXPECT_EQ(harness.scripted->totalCalls(), 0u);

    for (const std::string kind : {"memory", "storage", "energy"}) {
        const auto data =
            answer([&](auto reply) { service->processDetails(kind, std::move(reply)); });
        ASSERT_TRUE(data.has_value()) << kind;
        const auto document = decodeProcessDetailsSnapshot(*data);
        ASSERT_TRUE(document.has_value()) << kind;
        EXPECT_EQ(document->helperUID, 501u);
    }
}

TEST_F(DetailRequests, StorageHealthRunsOnlyForWholeDiskNames) {
    const std::vector<std::string> refused = {"disk",
                                              "disk0s",
                                              "disk1234567",
                                              "disk0s1s2s3s4",
                                              "disk0s1234567",
                                              "/dev/disk0",
                                              "disk0\n",
                                              "disk0 ",
                                              "-disk0",
                                              "Disk0",
                                              "disk\xd9\xa1",
                                              "",
                                              std::string("disk0\0", 6)};
    for (const auto& disk : refused) {
        expectRefusedAtOnce([&](auto reply) { service->storageHealth(disk, std::move(reply)); },
                            disk);
    }
    EXPECT_EQ(harness.scripted->totalCalls(), 0u);

    harness.scripted->answer("/usr/sbin/diskutil", {"info", "-plist", "disk0"}, 0,
                             platform::sim::cannedDiskutilOutput("disk0"));
    const auto known = answer([&](auto reply) { service->storageHealth("disk0", reply); });
    ASSERT_TRUE(known.has_value());
    EXPECT_TRUE(decodeStorageHealthSnapshot(*known).value().reading.has_value()) << *known;

    for (const std::string disk : {"disk1", "disk12s3", "disk3s1s2s3", "disk123456s123456"}) {
        const auto data =
            answer([&](auto reply) { service->storageHealth(disk, std::move(reply)); });
        ASSERT_TRUE(data.has_value()) << disk;
        // None of these disks can be read here, so only the two user ids are left.
        EXPECT_EQ(*data, R"({"helperUID":501,"helperEffectiveUID":501})");
    }
}

TEST_F(DetailRequests, ManagementCommandsMustMatchExactly) {
    for (const std::string command :
         {"check", "checkforupdates", "CheckForUpdates", "installUpdate ", "install", ""}) {
        expectRefusedAtOnce([&](auto reply) { service->manage(command, std::move(reply)); },
                            command);
    }
    EXPECT_EQ(harness.manifestFetches, 0);

    const auto data =
        answer([&](auto reply) { service->manage("checkForUpdates", std::move(reply)); });
    ASSERT_TRUE(data.has_value());
    const auto update = decodeSensorCompanionUpdate(*data);
    ASSERT_TRUE(update.has_value()) << *data;
    EXPECT_EQ(update->state, SensorCompanionUpdate::State::failed);
    EXPECT_EQ(harness.manifestFetches, 1);
}

TEST_F(DetailRequests, TheCPUReaderIsMadeOnFirstUseAndKept) {
    EXPECT_EQ(harness.cpuReadersMade, 0);
    for (int request = 0; request < 3; ++request) {
        const auto data = answer([&](auto reply) { service->cpuDetailsWithReply(reply); });
        ASSERT_TRUE(data.has_value());
        EXPECT_TRUE(decodeCPUDetailsSnapshot(*data).has_value()) << *data;
    }
    EXPECT_EQ(harness.cpuReadersMade, 1);
}

TEST(QueueAssignment, ASlowEnergyRankingHoldsUpNeitherSnapshotsNorOtherRankings) {
    CompanionHarness harness;
    const auto gate = std::make_shared<GatedToolRunner>(harness.scripted, "/usr/bin/top");
    harness.tools = gate;
    const auto service = harness.make();

    auto energy = ask([&](auto reply) { service->processDetails("energy", std::move(reply)); });
    ASSERT_TRUE(gate->waitUntilEntered(5s));
    auto snapshot = ask([&](auto reply) { service->snapshotWithReply(std::move(reply)); });
    auto memory = ask([&](auto reply) { service->processDetails("memory", std::move(reply)); });
    EXPECT_EQ(snapshot.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(memory.wait_for(5s), std::future_status::ready);
    EXPECT_NE(energy.wait_for(0s), std::future_status::ready);

    gate->release();
    EXPECT_EQ(energy.wait_for(5s), std::future_status::ready);
}

TEST(QueueAssignment, CPUDetailsAreAnsweredWhileASnapshotIsBeingAssembled) {
    CompanionHarness harness;
    const auto gate = std::make_shared<GatedToolRunner>(harness.scripted, "/usr/bin/pmset");
    harness.tools = gate;
    const auto service = harness.make();

    auto first = ask([&](auto reply) { service->snapshotWithReply(std::move(reply)); });
    ASSERT_TRUE(gate->waitUntilEntered(5s));
    auto second = ask([&](auto reply) { service->snapshotWithReply(std::move(reply)); });
    auto cpu = ask([&](auto reply) { service->cpuDetailsWithReply(std::move(reply)); });
    auto storage = ask([&](auto reply) { service->storageHealth("disk1", std::move(reply)); });
    EXPECT_EQ(cpu.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(storage.wait_for(5s), std::future_status::ready);
    // Snapshots are served one after the other.
    EXPECT_NE(second.wait_for(0s), std::future_status::ready);

    gate->release();
    EXPECT_EQ(first.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(second.wait_for(5s), std::future_status::ready);
}

// Records the nice value of the thread that runs each tool.
class NiceRecordingRunner final : public platform::ToolRunner {
public:
    explicit NiceRecordingRunner(std::shared_ptr<platform::ToolRunner> inner)
        : inner_(std::move(inner)) {}
    platform::ToolResult run(const platform::ToolRun& run) override {
        {
            std::lock_guard lock(mutex_);
            nice_[run.path] = ::getpriority(PRIO_PROCESS, 0);
        }
        return inner_->run(run);
    }
    std::optional<int> niceOf(const std::string& path) {
        std::lock_guard lock(mutex_);
        const auto found = nice_.find(path);
        return found == nice_.end() ? std::nullopt : std::optional<int>(found->second);
    }

private:
    std::shared_ptr<platform::ToolRunner> inner_;
    std::mutex mutex_;
    std::map<std::string, int> nice_;
};

TEST(QueueAssignment, RankingsAndStorageHealthRunNicerThanSnapshots) {
    CompanionHarness harness;
    const auto recorder = std::make_shared<NiceRecordingRunner>(harness.scripted);
    harness.tools = recorder;
    const auto service = harness.make();
    answer([&](auto reply) { service->snapshotWithReply(std::move(reply)); });
    answer([&](auto reply) { service->cpuDetailsWithReply(std::move(reply)); });
    answer([&](auto reply) { service->processDetails("energy", std::move(reply)); });
    answer([&](auto reply) { service->storageHealth("disk0", std::move(reply)); });

    const int own = ::getpriority(PRIO_PROCESS, 0);
    EXPECT_EQ(recorder->niceOf("/usr/bin/pmset"), own);
    EXPECT_EQ(recorder->niceOf("/bin/ps"), own);
    EXPECT_EQ(recorder->niceOf("/usr/bin/top"), std::min(own + 10, 19));
    EXPECT_EQ(recorder->niceOf("/usr/sbin/diskutil"), std::min(own + 10, 19));
}

TEST(QueueAssignment, ReleasingTheServiceStillAnswersQueuedWork) {
    CompanionHarness harness;
    auto service = harness.make();
    std::vector<std::future<std::optional<std::string>>> replies;
    for (int request = 0; request < 4; ++request) {
        replies.push_back(ask([&](auto reply) { service->snapshotWithReply(std::move(reply)); }));
        replies.push_back(
            ask([&](auto reply) { service->processDetails("storage", std::move(reply)); }));
    }
    service.reset();
    for (auto& reply : replies) {
        ASSERT_EQ(reply.wait_for(0s), std::future_status::ready);
        EXPECT_TRUE(reply.get().has_value());
    }
}

TEST(ReplyRule, ADocumentThatCannotBeEncodedIsAnsweredWithNoData) {
    CPUDetailsSnapshot document;
    document.processes.push_back({42, "kernel_task", 12.5});
    document.residencies["ECPU"] = {0.25};
    std::optional<std::string> data;
    replyWith([&](std::optional<std::string> answer) { data = std::move(answer); }, document);
    ASSERT_TRUE(data.has_value());
    EXPECT_EQ(decodeCPUDetailsSnapshot(*data), document);

    document.residencies["PCPU"] = {std::numeric_limits<double>::infinity()};
    data = "untouched";
    replyWith([&](std::optional<std::string> answer) { data = std::move(answer); }, document);
    EXPECT_EQ(data, std::nullopt);
}

} // namespace
} // namespace brivane::testing
