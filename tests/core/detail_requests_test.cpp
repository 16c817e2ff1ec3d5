#include "core/companion_harness.h"
#include "core/reply_rule.h"
#include "core/turn_queue.h"
#include "formats/document_codec.h"
#include "platform/sim/canned_outputs.h"
#include "support/child_process.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <limits>
#include <mutex>
#include <sys/resource.h>

namespace brivane::testing {
namespace {

using namespace std::chrono_literals;

class DetailRequests : public ::testing::Test {
public:
    CompanionHarness harness;
    std::unique_ptr<SensorCompanion> service = harness.make();
};

TEST_F(DetailRequests, ArgumentsNotMatchingExactlyAreRefusedAtOnceAndRunNothing) {
    using Send = void (SensorCompanion::*)(std::string, BrivaneSensorSnapshotXPC::Reply);
    struct Case {
        Send send;
        std::vector<std::string> refused;
    };
    const Case cases[] = {
        {&SensorCompanion::processDetails,
         {"Memory", "ENERGY", " storage", "memory ", "", "energy\n", "cpu",
          std::string("memory\0", 7)}},
        {&SensorCompanion::storageHealth,
         {"disk", "disk0s", "disk1234567", "disk0s1s2s3s4", "disk0s1234567", "/dev/disk0",
          "disk0\n", "disk0 ", "-disk0", "Disk0", "disk\xd9\xa1", "", std::string("disk0\0", 6)}},
        {&SensorCompanion::manage,
         {"check", "checkforupdates", "CheckForUpdates", "installUpdate ", "install", ""}},
    };
    for (const auto& c : cases) {
        for (const auto& argument : c.refused) {
            SCOPED_TRACE('"' + argument + '"');
            auto reply = ask([&](auto answer) { (service.get()->*c.send)(argument, answer); });
            ASSERT_EQ(reply.wait_for(0s), std::future_status::ready);
            EXPECT_EQ(reply.get(), std::nullopt);
        }
    }
    EXPECT_EQ(harness.scripted->totalCalls(), 0u);
    EXPECT_EQ(harness.manifestFetches, 0);
}

TEST_F(DetailRequests, ExactArgumentsAreAnsweredAndTheCPUReaderIsMadeOnFirstUse) {
    EXPECT_EQ(harness.cpuReadersMade, 0);
    for (int request = 0; request < 2; ++request) {
        const auto data = answer([&](auto reply) { service->cpuDetailsWithReply(reply); });
        EXPECT_TRUE(decodeCPUDetailsSnapshot(data.value_or("")).has_value());
    }
    EXPECT_EQ(harness.cpuReadersMade, 1);
    for (const std::string kind : {"memory", "storage", "energy"}) {
        const auto data = answer([&](auto reply) { service->processDetails(kind, reply); });
        const auto document = decodeProcessDetailsSnapshot(data.value_or(""));
        ASSERT_TRUE(document.has_value()) << kind;
        EXPECT_EQ(document->helperUID, 501u);
    }

    harness.scripted->answer("/usr/sbin/diskutil", {"info", "-plist", "disk0"}, 0,
                             platform::sim::cannedDiskutilOutput("disk0"));
    const auto known = answer([&](auto reply) { service->storageHealth("disk0", reply); });
    const auto health = decodeStorageHealthSnapshot(known.value_or(""));
    EXPECT_TRUE(health && health->reading) << known.value_or("no reply");
    for (const std::string disk : {"disk1", "disk12s3", "disk3s1s2s3", "disk123456s123456"}) {
        // None of these disks can be read here, so only the two user ids are left.
        EXPECT_EQ(answer([&](auto reply) { service->storageHealth(disk, reply); }),
                  R"({"helperUID":501,"helperEffectiveUID":501})");
    }

    const auto data = answer([&](auto reply) { service->manage("checkForUpdates", reply); });
    const auto update = decodeSensorCompanionUpdate(data.value_or(""));
    ASSERT_TRUE(update.has_value()) << data.value_or("no reply");
    EXPECT_EQ(update->state, SensorCompanionUpdate::State::failed);
    EXPECT_EQ(harness.manifestFetches, 1);
}

// Notes the nice value of the thread that runs each tool (read `nice` once every reply is in);
// runs of a gated tool wait for release().
class ToolSpy final : public platform::ToolRunner {
public:
    ToolSpy(std::shared_ptr<platform::ToolRunner> inner, std::set<std::string> gated)
        : inner_(std::move(inner)), gated_(std::move(gated)) {}

    platform::ToolResult run(const platform::ToolRun& run) override {
        std::unique_lock lock(mutex_);
        nice[run.path] = ::getpriority(PRIO_PROCESS, 0);
        if (gated_.contains(run.path)) {
            entered_.insert(run.path);
            changed_.notify_all();
            changed_.wait_for(lock, replyLimit, [this] { return released_; });
        }
        lock.unlock();
        return inner_->run(run);
    }
    bool waitUntilEntered(const std::string& path) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 5s, [&] { return entered_.contains(path); });
    }
    void release() {
        const std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

    std::map<std::string, int> nice;

private:
    std::shared_ptr<platform::ToolRunner> inner_;
    std::set<std::string> gated_, entered_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
};

TEST(QueueAssignment, ASlowToolHoldsUpOnlyItsOwnQueueAndRankingsRunNicer) {
    CompanionHarness harness;
    const auto spy = std::make_shared<ToolSpy>(
        harness.scripted, std::set<std::string>{"/usr/bin/top", "/usr/bin/pmset"});
    harness.tools = spy;
    const auto service = harness.make();

    auto energy = ask([&](auto reply) { service->processDetails("energy", reply); });
    auto first = ask([&](auto reply) { service->snapshotWithReply(reply); });
    ASSERT_TRUE(spy->waitUntilEntered("/usr/bin/top"));
    ASSERT_TRUE(spy->waitUntilEntered("/usr/bin/pmset"));
    auto second = ask([&](auto reply) { service->snapshotWithReply(reply); });
    auto memory = ask([&](auto reply) { service->processDetails("memory", reply); });
    auto cpu = ask([&](auto reply) { service->cpuDetailsWithReply(reply); });
    auto storage = ask([&](auto reply) { service->storageHealth("disk0", reply); });
    for (auto* other : {&memory, &cpu, &storage})
        EXPECT_EQ(other->wait_for(5s), std::future_status::ready);
    // Snapshots are served one after the other.
    EXPECT_NE(second.wait_for(0s), std::future_status::ready);
    EXPECT_NE(energy.wait_for(0s), std::future_status::ready);

    spy->release();
    for (auto* held : {&energy, &first, &second})
        EXPECT_EQ(held->wait_for(5s), std::future_status::ready);
    const int own = ::getpriority(PRIO_PROCESS, 0);
    const int nicer = std::min(own + 10, 19);
    EXPECT_EQ(spy->nice, (std::map<std::string, int>{{"/usr/bin/pmset", own},
                                                     {"/bin/ps", own},
                                                     {"/usr/bin/top", nicer},
                                                     {"/usr/sbin/diskutil", nicer}}));
}

// At shutdown nobody is left to read these replies, and each ranking takes a second or more.
TEST(QueueAssignment, ReleasingTheServiceAnswersQueuedWorkWithoutRunningIt) {
    CompanionHarness harness;
    const auto spy =
        std::make_shared<ToolSpy>(harness.scripted, std::set<std::string>{"/usr/bin/top"});
    harness.tools = spy;
    auto service = harness.make();
    std::vector<std::future<std::optional<std::string>>> replies;
    for (int request = 0; request < 4; ++request) {
        replies.push_back(ask([&](auto reply) { service->processDetails("energy", reply); }));
        if (request == 0) { // the others wait while it runs
            ASSERT_TRUE(spy->waitUntilEntered("/usr/bin/top"));
        }
    }
    auto releasing = std::async(std::launch::async, [&] { service.reset(); });
    ASSERT_EQ(releasing.wait_for(200ms), std::future_status::timeout); // held by the running one
    spy->release();
    ASSERT_EQ(releasing.wait_for(5s), std::future_status::ready);

    EXPECT_TRUE(replies[0].get().has_value());
    for (std::size_t queued = 1; queued < replies.size(); ++queued) {
        ASSERT_EQ(replies[queued].wait_for(0s), std::future_status::ready);
        EXPECT_EQ(replies[queued].get(), std::nullopt);
    }
    EXPECT_EQ(harness.scripted->totalCalls(), 1u);
}

TEST(ReplyRule, ADocumentThatCannotBeEncodedIsAnsweredWithNoData) {
    CPUDetailsSnapshot document;
    document.residencies["PCPU"] = {0.25, std::numeric_limits<double>::infinity()};
    std::optional<std::string> data = "stale";
    replyWith([&](std::optional<std::string> answer) { data = std::move(answer); }, document);
    EXPECT_EQ(data, std::nullopt);
}

// A reply from a given client that records what it got, wanted until `gone`.
struct Asker final : ServiceReply::Destination {
    Asker(std::uint64_t from, const std::atomic<bool>* gone) : from(from), gone(gone) {}
    void send(std::optional<std::string> document) override { got.push_back(document); }
    bool isWanted() const override { return !gone || !*gone; }
    std::uint64_t client() const override { return from; }

    std::uint64_t from;
    const std::atomic<bool>* gone;
    std::vector<std::optional<std::string>> got;
};

class Turns : public ::testing::Test {
protected:
    // Holds the queue busy until release().
    void hold() {
        queue.async([](std::optional<std::string>) {}, {},
                    [this](const ServiceReply&) { released.get_future().wait(); });
    }
    void release() { released.set_value(); }
    std::shared_ptr<Asker> ask(std::uint64_t client, std::string key, std::string name,
                               const std::atomic<bool>* gone = nullptr) {
        auto asker = std::make_shared<Asker>(client, gone);
        queue.async(ServiceReply(asker), std::move(key), [this, name](const ServiceReply& reply) {
            std::lock_guard lock(mutex);
            runs.push_back(name);
            reply(name);
        });
        return asker;
    }
    // What ran, once everything queued so far has had its turn.
    std::vector<std::string> ranRuns() {
        EXPECT_TRUE(pollUntil(5s, [&] { return queue.waitingRequests() == 0; }));
        std::promise<void> passed;
        queue.async([](std::optional<std::string>) {}, {},
                    [&](const ServiceReply&) { passed.set_value(); });
        EXPECT_EQ(passed.get_future().wait_for(5s), std::future_status::ready);
        std::lock_guard lock(mutex);
        return runs;
    }

    std::promise<void> released;
    std::mutex mutex;
    std::vector<std::string> runs;
    std::atomic<bool> gone{false};
    TurnQueue queue{"test.turns"};
};

// A client's backlog gives way after each run; its own order holds. Identical waiting work
// runs once, at the earliest turn of those who asked, and answers all of them.
TEST_F(Turns, ClientsTakeTurnsAndIdenticalWaitingWorkRunsOnce) {
    hold();
    for (const char* disk : {"a1", "a2", "a3", "a4"})
        ask(1, disk, disk);
    const auto shared = ask(2, "a4", "a4 for 2"); // joins client 1's fourth
    ask(3, "", "c1");
    ask(3, "", "c2");
    release();
    EXPECT_EQ(ranRuns(), (std::vector<std::string>{"a1", "a4", "c1", "a2", "c2", "a3"}));
    EXPECT_EQ(shared->got, (std::vector<std::optional<std::string>>{"a4"}));
}

// Work nobody waits for is not run; a run that started finishes for whoever still waits.
TEST_F(Turns, AbandonedWorkIsDroppedBeforeItRuns) {
    hold();
    const auto dropped = ask(1, "cpu", "cpu", &gone);
    const auto alone = ask(1, "disk0", "disk0", &gone);
    const auto kept = ask(2, "cpu", "cpu");
    gone = true;
    release();
    EXPECT_EQ(ranRuns(), std::vector<std::string>{"cpu"});
    EXPECT_TRUE(dropped->got.empty() && alone->got.empty());
    EXPECT_EQ(kept->got.size(), 1u);
}

// Connections that queue work and vanish cost memory only until the next sweep.
TEST_F(Turns, AbandonedRequestsDoNotPileUp) {
    hold();
    gone = true;
    for (int i = 0; i < 20000; ++i) {
        ask(static_cast<std::uint64_t>(i), "disk" + std::to_string(i), "x", &gone);
        ASSERT_LE(queue.waitingRequests(), 128u);
    }
    release();
    EXPECT_TRUE(ranRuns().empty());
}

} // namespace
} // namespace brivane::testing
