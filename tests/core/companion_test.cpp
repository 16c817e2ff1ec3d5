#include "backends/sim/canned_outputs.h"
#include "backends/sim/scripted_tool_runner.h"
#include "backends/sim/sim_ioreport_machine.h"
#include "backends/sim/sim_process_table.h"
#include "backends/sim/sim_registry.h"
#include "backends/sim/sim_smc.h"
#include "base/main_queue.h"
#include "core/reply_rule.h"
#include "core/sensor_companion.h"
#include "core/turn_queue.h"
#include "formats/document_codec.h"
#include "platform/file_mapper.h"
#include "platform/os_version.h"
#include "platform/workspace.h"
#include "support/child_process.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <mutex>
#include <set>
#include <sys/resource.h>

namespace brivane::testing {
namespace {

// Every manifest fetch fails at once, so a check ends "failed" without any network.
class OfflineTransfer final : public platform::Transfer {
public:
    OfflineTransfer(std::shared_ptr<base::SerialQueue> queue, std::atomic<int>& fetches)
        : queue_(std::move(queue)), fetches_(fetches) {}

    void fetch(const std::string&, std::size_t,
               std::function<void(platform::DataTransferResult)> completion) override {
        ++fetches_;
        queue_->async([completion = std::move(completion)] { completion({"offline", {}, {}}); });
    }
    void download(const std::string&, std::int64_t,
                  std::function<void(platform::DownloadTransferResult)> completion) override {
        queue_->async([completion = std::move(completion)] { completion({"offline", {}, {}}); });
    }

private:
    std::shared_ptr<base::SerialQueue> queue_;
    std::atomic<int>& fetches_;
};

// An SMC whose values are set by the test. Like the real one, an all-zero value is absent
// unless the caller allows zero. Set values only while no request is in flight.
class ScriptedSMC final : public SMC {
public:
    ScriptedSMC() : SMC(std::make_shared<platform::sim::SimSMC>(), [](std::string_view) {}) {}

    std::optional<double> getValue(std::string_view key, bool allowZero) override {
        readKeys.emplace(key);
        const auto found = values.find(key);
        if (found == values.end() || (found->second == 0 && !allowZero))
            return std::nullopt;
        return found->second;
    }
    std::optional<std::string> getStringValue(std::string_view key) override {
        const auto found = names.find(key);
        return found == names.end() ? std::nullopt : std::optional<std::string>(found->second);
    }
    std::vector<std::string> getAllKeys() override {
        ++enumerations;
        return indexOrder;
    }

    std::vector<std::string> indexOrder;
    std::map<std::string, double, std::less<>> values;
    std::map<std::string, std::string, std::less<>> names;
    std::atomic<int> enumerations{0};
    std::set<std::string, std::less<>> readKeys;
};

// A SensorCompanion wired to simulated parts that each test sets up by hand.
struct CompanionHarness {
    CompanionHarness() {
        // Tools the harness does not script fail to launch, as on a machine without them.
        scripted->failLaunch("/usr/bin/pmset", {"-g", "accps", "-xml"});
    }

    std::unique_ptr<SensorCompanion> make() {
        SensorCompanion::Dependencies dependencies;
        dependencies.reader = smc;

        CompanionUpdater::Dependencies updaterParts;
        updaterParts.makeTransfer = [this](std::shared_ptr<base::SerialQueue> queue) {
            return std::make_unique<OfflineTransfer>(std::move(queue), manifestFetches);
        };
        updaterParts.toolRunner = tools;
        updaterParts.workspace = platform::makeDefaultWorkspace();
        updaterParts.osVersion = platform::makeDefaultOperatingSystemVersionSource();
        updaterParts.bundleInfo = std::make_shared<platform::StaticBundleInfo>(bundleStrings);
        updaterParts.fileMapper = platform::makeDefaultFileMapper();
        updaterParts.mainQueue = &base::mainQueue();
        dependencies.updater = std::make_shared<CompanionUpdater>(std::move(updaterParts));

        const auto ioreport = platform::sim::makeSimulatedMacIOReport(clock);
        dependencies.processReader =
            std::make_shared<ProcessDetailsReader>(processes, tools, clock);
        dependencies.energyPowerReader = std::make_shared<EnergyPowerReader>(ioreport, clock);
        dependencies.makeCPUReader = [this, ioreport] {
            ++cpuReadersMade;
            return std::make_unique<CPUDetailsReader>(ioreport, tools, clock, processes);
        };
        dependencies.registry = registry;
        dependencies.bundleInfo = std::make_shared<platform::StaticBundleInfo>(bundleStrings);
        dependencies.toolRunner = tools;
        dependencies.clock = clock;
        dependencies.processTable = processes;
        dependencies.hardwareMonitor = monitor;
        return std::make_unique<SensorCompanion>(std::move(dependencies));
    }

    std::shared_ptr<ScriptedSMC> smc = std::make_shared<ScriptedSMC>();
    std::shared_ptr<platform::sim::SimRegistry> registry =
        std::make_shared<platform::sim::SimRegistry>();
    std::shared_ptr<platform::ManualUptimeClock> clock =
        std::make_shared<platform::ManualUptimeClock>();
    std::shared_ptr<platform::sim::ScriptedToolRunner> scripted =
        std::make_shared<platform::sim::ScriptedToolRunner>();
    // The runner the service uses; tests may wrap `scripted` before calling make().
    std::shared_ptr<platform::ToolRunner> tools = scripted;
    std::shared_ptr<platform::sim::SimProcessTable> processes =
        std::make_shared<platform::sim::SimProcessTable>(4242, 501, 501);
    std::map<std::string, std::string, std::less<>> bundleStrings;
    std::shared_ptr<platform::HardwareMonitor> monitor; // none when null
    std::atomic<int> cpuReadersMade{0};
    std::atomic<int> manifestFetches{0};
};

// Sends one request and waits (bounded) for its reply.
using Request = std::function<void(ipc::BrivaneSensorSnapshotXPC::Reply)>;
constexpr auto replyLimit = std::chrono::seconds(10);

std::future<std::optional<std::string>> ask(const Request& request) {
    auto promise = std::make_shared<std::promise<std::optional<std::string>>>();
    auto future = promise->get_future();
    request([promise](std::optional<std::string> data) { promise->set_value(std::move(data)); });
    return future;
}

std::optional<std::string> answer(const Request& request) {
    auto future = ask(request);
    if (future.wait_for(replyLimit) != std::future_status::ready) {
        ADD_FAILURE() << "no reply within the limit";
        return std::nullopt;
    }
    return future.get();
}

using namespace std::chrono_literals;

class DetailRequests : public ::testing::Test {
public:
    CompanionHarness harness;
    std::unique_ptr<SensorCompanion> service = harness.make();
};

TEST_F(DetailRequests, ArgumentsNotMatchingExactlyAreRefusedAtOnceAndRunNothing) {
    using Send = void (SensorCompanion::*)(std::string, ipc::BrivaneSensorSnapshotXPC::Reply);
    const struct Case {
        Send send;
        std::vector<std::string> refused;
    } cases[] = {
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
struct Asker final : ipc::ServiceReply::Destination {
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
                    [this](const ipc::ServiceReply&) { released.get_future().wait(); });
    }
    void release() { released.set_value(); }
    std::shared_ptr<Asker> ask(std::uint64_t client, std::string key, std::string name,
                               const std::atomic<bool>* gone = nullptr) {
        auto asker = std::make_shared<Asker>(client, gone);
        queue.async(ipc::ServiceReply(asker), std::move(key),
                    [this, name](const ipc::ServiceReply& reply) {
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
                    [&](const ipc::ServiceReply&) { passed.set_value(); });
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

// Quick work runs on the asking thread only while the queue is idle; else it takes its turn.
TEST_F(Turns, QuickWorkRunsOnTheAskingThreadOnlyWhileTheQueueIsIdle) {
    const auto asker = std::this_thread::get_id();
    const auto runHere = [&](std::string name, bool quick) {
        queue.runHereOrAsync([](std::optional<std::string>) {},
                             [&, name](const ipc::ServiceReply&) {
                                 std::lock_guard lock(mutex);
                                 runs.push_back(
                                     name + (std::this_thread::get_id() == asker ? " here" : ""));
                             },
                             [quick] { return quick; });
    };
    runHere("idle", true);
    runHere("slow", false);
    hold();
    ask(1, "", "waiting");
    runHere("busy", true);
    release();
    EXPECT_EQ(ranRuns(), (std::vector<std::string>{"idle here", "slow", "waiting", "busy"}));
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

using platform::RegistryDictionary;
using platform::sim::SimProperties;
using Reading = SensorSnapshot::Reading;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double infinity = std::numeric_limits<double>::infinity();

class SnapshotAssembly : public ::testing::Test {
public:
    std::optional<std::string> snapshotBytes() {
        if (!service)
            service = harness.make();
        return answer([this](auto reply) { service->snapshotWithReply(std::move(reply)); });
    }

    SensorSnapshot snapshot() {
        const auto bytes = snapshotBytes();
        const auto decoded = decodeSensorSnapshot(bytes.value_or(""));
        EXPECT_TRUE(decoded.has_value()) << bytes.value_or("no reply");
        return decoded.value_or(SensorSnapshot{});
    }

    // A new service over an empty registry, for the next case of a table.
    void restart() {
        harness.registry = std::make_shared<platform::sim::SimRegistry>();
        service.reset();
    }

    void addBattery(std::optional<double> temperature, std::optional<double> voltage) {
        SimProperties properties;
        if (temperature)
            properties["Temperature"] = *temperature;
        if (voltage)
            properties["Voltage"] = *voltage;
        harness.registry->add("AppleSmartBattery", std::move(properties));
    }

    CompanionHarness harness;
    std::unique_ptr<SensorCompanion> service;
};

TEST_F(SnapshotAssembly, WritesTheSmallestDocumentExactly) {
    addBattery(3050, std::nullopt);
    harness.smc->values = {{"FNum", 1}, {"F0Ac", 1200}};
    harness.processes = std::make_shared<platform::sim::SimProcessTable>(1, 4294967295u, 7);
    EXPECT_EQ(snapshotBytes(),
              R"({"version":2,"temperatures":[{"key":"BatteryTemperature","value":30.5}],)"
              R"("fans":[{"id":0,"rpm":1200}],"helperUID":4294967295,"helperEffectiveUID":7,)"
              R"("power":[],"accessories":[],"supportsProcessDetails":true,)"
              R"("supportsStorageHealth":true,"supportsManagement":true})");
}

TEST_F(SnapshotAssembly, TemperaturesAreTKeysInCharacterOrderStrictlyBetweenZeroAnd150) {
    harness.smc->indexOrder = {"Tp01", "TC0P", "tA00", "PSTR", "Ta0P",
                               "T0x1", "TK1",  "TK2",  "TK5",  "TK6"};
    harness.smc->values = {{"Tp01", 40},    {"TC0P", 0.01},   {"tA00", 40}, {"PSTR", 40},
                           {"Ta0P", 149.9}, {"T0x1", 40},     {"TK1", 0},   {"TK2", 150},
                           {"TK5", nan},    {"TK6", infinity}};
    EXPECT_EQ(snapshot().temperatures,
              (std::vector<Reading>{{"T0x1", 40}, {"TC0P", 0.01}, {"Ta0P", 149.9}, {"Tp01", 40}}));
    EXPECT_FALSE(harness.smc->readKeys.contains("tA00"));
}

TEST_F(SnapshotAssembly, KeyDiscoveryRunsOnceAndAnEmptyResultIsKept) {
    EXPECT_TRUE(snapshot().temperatures.empty());
    harness.smc->indexOrder = {"TC0P"};
    harness.smc->values["TC0P"] = 50;
    EXPECT_TRUE(snapshot().temperatures.empty());
    EXPECT_EQ(harness.smc->enumerations, 1);
}

TEST_F(SnapshotAssembly, BatteryFiguresPassTheirRangesAndTakeTheirPlaces) {
    struct Case {
        std::optional<double> temperature, voltage, celsius, volts;
    };
    const std::optional<double> absent;
    const Case cases[] = {{3050, 1000, 30.5, 1.0},        {0, 30000, absent, 30.0},
                          {10001, 999, absent, absent},   {1, 30001, 0.01, absent},
                          {10000, absent, 100.0, absent}, {nan, nan, absent, absent}};
    harness.smc->indexOrder = {"TC0P"};
    harness.smc->values = {{"TC0P", 45}, {"PSTR", 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        restart();
        addBattery(c.temperature, c.voltage);
        std::vector<Reading> temperatures = {{"TC0P", 45}};
        if (c.celsius)
            temperatures.push_back({"BatteryTemperature", *c.celsius});
        std::vector<Reading> power = {{"PSTR", 12}};
        if (c.volts)
            power.push_back({"BatteryVoltage", *c.volts});
        const auto result = snapshot();
        EXPECT_EQ(result.temperatures, temperatures);
        EXPECT_EQ(result.power, power);
    }
}

TEST_F(SnapshotAssembly, FanCountIsTruncatedAndBoundedToTen) {
    const std::vector<std::pair<std::optional<double>, std::size_t>> cases = {
        {2.7, 2}, {10, 10}, {10.5, 0}, {0.5, 0}, {nan, 0}, {std::nullopt, 0}};
    for (int fan = 0; fan < 12; ++fan)
        harness.smc->values["F" + std::to_string(fan) + "Ac"] = 1000 + fan;
    for (const auto& [count, expected] : cases) {
        SCOPED_TRACE(count.value_or(-1));
        service.reset();
        harness.smc->values.erase("FNum");
        if (count)
            harness.smc->values["FNum"] = *count;
        const auto fans = snapshot().fans;
        ASSERT_EQ(fans.size(), expected);
        for (std::size_t index = 0; index < fans.size(); ++index)
            EXPECT_EQ(fans[index].id, static_cast<std::int64_t>(index));
    }
}

TEST_F(SnapshotAssembly, FansKeepTheirIndicesAndOptionalFields) {
    harness.smc->values = {{"FNum", 5},    {"F0Ac", 0},    {"F1Ac", -3},   {"F2Ac", infinity},
                           {"F3Ac", 2400}, {"F3Mx", 5900}, {"F4Ac", 1800}, {"F4Mx", nan}};
    harness.smc->names = {{"F0ID", ""}, {"F3ID", "Left"}};
    // A bad maximum must not cost the whole snapshot.
    const std::vector<SensorSnapshot::FanReading> expected = {
        {0, std::nullopt, 0, std::nullopt},
        {3, "Left", 2400, 5900},
        {4, std::nullopt, 1800, std::nullopt},
    };
    EXPECT_EQ(snapshot().fans, expected);
}

TEST_F(SnapshotAssembly, PowerListsSMCKeysThenEnergyThenBatteryVoltage) {
    addBattery(std::nullopt, 12600);
    harness.smc->values = {{"PSTR", 0},  {"PCPC", 1000}, {"PG0R", 1000.5},
                           {"PMTR", -1}, {"PPBR", 7.25}, {"PXXX", 3}};
    snapshot();
    harness.clock->advance(1.0);
    const auto power = snapshot().power.value();

    ASSERT_GT(power.size(), 4u) << "the energy readings of the second sample are missing";
    EXPECT_EQ(std::vector<Reading>(power.begin(), power.begin() + 3),
              (std::vector<Reading>{{"PSTR", 0}, {"PCPC", 1000}, {"PPBR", 7.25}}));
    EXPECT_EQ(power.back(), (Reading{"BatteryVoltage", 12.6}));
    for (std::size_t index = 3; index + 1 < power.size(); ++index) {
        EXPECT_TRUE(power[index].key == "CPUModelPower" || power[index].key == "GPUModelPower")
            << power[index].key;
    }
}

TEST_F(SnapshotAssembly, MonitorPowerFollowsTheEnergyReadingsAndFillsTheirKeyOnlyWhenFree) {
    struct Monitor final : platform::HardwareMonitor {
        const platform::MonitorSample& sample() override { return figures; }
        platform::MonitorSample figures{{},
                                        {},
                                        {{"a/PPT", 19, "GPUModelPower"},
                                         {"b/PPT", 5, "GPUModelPower"},
                                         {"c/PPT", 1000.5, "CPUModelPower"}}};
    };
    harness.monitor = std::make_shared<Monitor>();
    EXPECT_EQ(snapshot().power,
              (std::vector<Reading>{{"a/PPT", 19}, {"GPUModelPower", 19}, {"b/PPT", 5}}));
    harness.clock->advance(1.0);
    const auto power = snapshot().power.value();
    ASSERT_EQ(power.size(), 4u) << "CPU and GPU energy, then the two figures";
    EXPECT_EQ(power[1].key, "GPUModelPower");
    EXPECT_EQ(power[2], (Reading{"a/PPT", 19}));
}

TEST_F(SnapshotAssembly, GraphicsComesFromTheFirstUsableAGXAccelerator) {
    using Graphics = SensorSnapshot::GraphicsReading;
    const auto accelerator = [](std::string ioClass, RegistryDictionary statistics) {
        return SimProperties{{"IOClass", ioClass}, {"PerformanceStatistics", statistics}};
    };
    const struct Case {
        const char* name;
        std::vector<SimProperties> accelerators;
        std::optional<Graphics> expected;
    } cases[] = {
        {"other classes are ignored",
         {accelerator("IOFramebuffer", {{"Device Utilization %", 90.0}}),
          accelerator("AGXAcceleratorG13X", {{"Device Utilization %", 25.0},
                                             {"Renderer Utilization %", 20.0},
                                             {"Tiler Utilization %", 5.0}})},
         Graphics{0.25, 0.2, 0.05}},
        {"out-of-range device utilisation falls back to activity",
         {accelerator("MyAgxThing", {{"Device Utilization %", 150.0},
                                     {"GPU Activity(%)", 40.0},
                                     {"Renderer Utilization %", 101.0}})},
         Graphics{0.4, std::nullopt, std::nullopt}},
        {"an accelerator without utilisation is passed over",
         {accelerator("AGXFirst", {{"Device Utilization %", std::string("busy")}}),
          {{"IOClass", std::string("AGXPlain")}, {"PerformanceStatistics", 3.0}},
          accelerator("AGXSecond", {{"GPU Activity(%)", 0.0}}),
          accelerator("AGXThird", {{"GPU Activity(%)", 70.0}})},
         Graphics{0.0, std::nullopt, std::nullopt}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        restart();
        for (const auto& properties : c.accelerators)
            harness.registry->add("IOAccelerator", properties);
        EXPECT_EQ(snapshot().graphics, c.expected);
    }
    harness.registry->failLookups("IOAccelerator");
    service.reset();
    EXPECT_EQ(snapshot().graphics, std::nullopt);
}

// Every card in PCI-address order, whatever order the registry gives (busiest first on Linux);
// `graphics` stays the first usable one. A sleeping card is idle and shows nothing unread, and
// figures outside what a card can show are left out.
TEST_F(SnapshotAssembly, EveryCardIsListedInAddressOrderAndTheBusiestStaysInGraphics) {
    using Gpu = SensorSnapshot::GpuReading;
    const auto card = [](std::string driver, std::string address, double asleep,
                         RegistryDictionary statistics) {
        return SimProperties{{"IOClass", driver},
                             {"CardName", "card" + address.substr(6, 1)},
                             {"PCIAddress", address},
                             {"Asleep", asleep},
                             {"PerformanceStatistics", statistics}};
    };
    restart();
    auto& registry = *harness.registry;
    registry.add("IOAccelerator", card("AGX nvidia", "0000:01:00.0", 0,
                                       {{"Device Utilization %", 42.0},
                                        {"In use system memory", 1073741824.0},
                                        {"Total system memory", 8589934592.0},
                                        {"Power (W)", 35.5},
                                        {"Temperature (C)", 51.0}}));
    registry.add("IOAccelerator", card("AGX i915", "0000:00:02.0", 0,
                                       {{"Device Utilization %", 12.0},
                                        {"In use system memory", 9e9},
                                        {"Total system memory", 1e9},
                                        {"Temperature (C)", 200.0}}));
    registry.add("IOAccelerator", card("AGX amdgpu", "0000:03:00.0", 1,
                                       {{"Device Utilization %", 0.0}, {"Power (W)", 9.0}}));
    registry.add("IOAccelerator", {{"IOClass", std::string("simpledrm")}}); // no AGX: no card
    registry.add("IOAccelerator", {{"IOClass", std::string("AGX")}});
    const auto result = snapshot();
    EXPECT_EQ(result.graphics, (SensorSnapshot::GraphicsReading{0.42, {}, {}}));
    EXPECT_EQ(result.gpus,
              (std::vector<Gpu>{
                  {"card0", "0000:00:02.0", "AGX i915", false, 0.12, {}, 1000000000, {}, {}},
                  {"card1", "0000:01:00.0", "AGX nvidia", false, 0.42, 1073741824, 8589934592, 35.5,
                   51.0},
                  {"card3", "0000:03:00.0", "AGX amdgpu", true, 0.0, {}, {}, {}, {}},
                  {{}, {}, "AGX", {}, {}, {}, {}, {}, {}}}));
}

TEST_F(SnapshotAssembly, AccessoryToolRunsAtMostEveryThirtySecondsAndAFailedRunEmptiesTheList) {
    const std::string pmset = "/usr/bin/pmset";
    const std::vector<std::string> arguments = {"-g", "accps", "-xml"};
    const auto answerWith = [&](int status) {
        harness.scripted->answer(pmset, arguments, status, platform::sim::cannedPmsetOutput());
    };
    const std::vector<SensorSnapshot::AccessoryReading> none;
    answerWith(0);
    const auto first = snapshot().accessories.value();
    EXPECT_FALSE(first.empty());

    // The tool's exit status from now on and the seconds to advance; then the list and the runs.
    const struct Step {
        int status;
        double advance;
        const std::vector<SensorSnapshot::AccessoryReading>& accessories;
        std::size_t runs;
    } steps[] = {{1, 29.9, first, 1}, {1, 0.1, none, 2}, {0, 29.9, none, 2}, {0, 0.1, first, 3}};
    for (const auto& step : steps) {
        SCOPED_TRACE(step.runs);
        answerWith(step.status);
        harness.clock->advance(step.advance);
        EXPECT_EQ(snapshot().accessories, step.accessories);
        EXPECT_EQ(harness.scripted->calls(pmset, arguments), step.runs);
    }
}

} // namespace
} // namespace brivane::testing
