#include "platform/sim/sim_process_table.h"
#include "readers/process_details_reader.h"
#include "support/recording_tool_runner.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace brivane {
namespace {

using platform::ManualUptimeClock;
using platform::ProcessResourceUsage;
using platform::sim::SimProcess;
using platform::sim::SimProcessTable;
using Reading = CPUDetailsSnapshot::ProcessReading;
using Rates = std::vector<ProcessDetailsSnapshot::StorageReading>;

constexpr int32_t ownPid = 4242;

class ProcessDetailsReaderTest : public ::testing::Test {
protected:
    std::shared_ptr<SimProcessTable> table = std::make_shared<SimProcessTable>(ownPid, 501, 0);
    std::shared_ptr<testing::RecordingToolRunner> tools =
        std::make_shared<testing::RecordingToolRunner>();
    std::shared_ptr<ManualUptimeClock> clock = std::make_shared<ManualUptimeClock>(1000.0);
    ProcessDetailsReader reader{table, tools, clock};

    void add(int32_t pid, std::optional<std::string> name, uint64_t footprint = 4096,
             uint64_t startedAt = 7) {
        table->set(pid,
                   SimProcess{std::move(name), ProcessResourceUsage{startedAt, footprint, 0, 0}});
    }
    Rates storageAfter(double seconds) {
        clock->advance(seconds);
        return reader.read(ProcessDetailsKind::storage).storage;
    }
};

TEST_F(ProcessDetailsReaderTest, MemoryRanksByFootprintSkippingZeroSelfAndUnnamed) {
    add(10, "small", 100);
    add(11, "large", 900);
    add(12, "idle", 0);
    add(13, std::nullopt, 5000);
    add(ownPid, "companion", 99999);
    table->set(14, SimProcess{"unreadable", std::nullopt});
    add(20, "caf\xC3!", 10);
    add(21, std::string(40, 'n'), 5);
    const std::vector<Reading> ranked = {{11, "large", 900},
                                         {10, "small", 100},
                                         {20, "caf\xEF\xBF\xBD!", 10},
                                         {21, std::string(32, 'n'), 5}};
    EXPECT_EQ(reader.read(ProcessDetailsKind::memory),
              (ProcessDetailsSnapshot{ranked, {}, 501, 0}));
}

TEST_F(ProcessDetailsReaderTest, ListsStopAt128NamedProcesses) {
    for (int32_t pid = 1; pid <= 200; ++pid)
        add(pid, pid % 2 ? std::optional<std::string>("p") : std::nullopt, 1000 + pid);
    auto ranked = reader.read(ProcessDetailsKind::memory).ranked;
    ASSERT_EQ(ranked.size(), 100u); // only 100 have names
    for (int32_t pid = 201; pid <= 400; ++pid)
        add(pid, "q", 1000 + pid);
    ranked = reader.read(ProcessDetailsKind::memory).ranked;
    ASSERT_EQ(ranked.size(), 128u);
    EXPECT_EQ(ranked.front().pid, 400);
}

TEST_F(ProcessDetailsReaderTest, StorageRatesOverTheWindowWithACacheWhenTooSoon) {
    add(30, "reader");
    add(31, "trickle");
    add(32, "quiet");
    EXPECT_TRUE(storageAfter(0).empty()); // first request only sets the baseline
    table->addTraffic(30, 3000, 0);
    table->addTraffic(31, 1, 0);
    const Rates first{{30, "reader", 1500, 0}, {31, "trickle", 0, 0}};
    EXPECT_EQ(storageAfter(2.0), first);
    table->addTraffic(30, 2000, 0);
    EXPECT_EQ(storageAfter(0.2), first);
    // Measured from the baseline 1.0 s back, not from the cached answer 0.8 s back.
    EXPECT_EQ(storageAfter(0.8), (Rates{{30, "reader", 2000, 0}}));

    // The window's limits count; a longer gap starts over.
    for (double seconds : {0.5, 5.0}) {
        table->addTraffic(30, 100, 0);
        EXPECT_EQ(storageAfter(seconds).size(), 1u) << seconds;
    }
    table->addTraffic(30, 100, 0);
    EXPECT_TRUE(storageAfter(10.0).empty());
    EXPECT_TRUE(storageAfter(0.1).empty()); // the emptied cache is served
    table->addTraffic(30, 100, 0);
    EXPECT_EQ(storageAfter(0.9).size(), 1u);

    table->setListingFails(true);
    EXPECT_TRUE(storageAfter(1.0).empty());
    EXPECT_TRUE(reader.read(ProcessDetailsKind::memory).ranked.empty());
    table->setListingFails(false);
    table->addTraffic(30, 10, 0);
    EXPECT_TRUE(storageAfter(1.0).empty()); // a failed listing leaves no baseline
}

TEST_F(ProcessDetailsReaderTest, StorageOrderSaturationAndSkippedProcesses) {
    add(40, "reborn", 1, 100);
    add(41, "shrunk");
    add(42, "steady");
    add(ownPid, "companion");
    table->set(41, SimProcess{"shrunk", ProcessResourceUsage{7, 1, 500, 500}});
    table->set(60, SimProcess{"flood", ProcessResourceUsage{7, 1, 0, 0}});
    struct Traffic {
        int32_t pid;
        uint64_t read, write;
    };
    const std::vector<Traffic> traffic = {
        {50, 100, 10}, {51, 10, 100}, {52, 100, 20}, {53, 5, 300}, {54, 20, 100}, {49, 20, 100},
    };
    for (const auto& t : traffic)
        add(t.pid, "p");
    storageAfter(0);
    for (const auto& t : traffic)
        table->addTraffic(t.pid, t.read, t.write);
    add(40, "reborn", 1, 200);
    table->addTraffic(40, 10, 10);
    table->set(41, SimProcess{"shrunk", ProcessResourceUsage{7, 1, 400, 900}});
    table->addTraffic(42, 10, 0);
    table->addTraffic(ownPid, 10, 0);
    table->addTraffic(60, std::numeric_limits<uint64_t>::max(), 1);
    const auto most = std::numeric_limits<int64_t>::max();
    EXPECT_EQ(storageAfter(0.5), (Rates{{60, "flood", most, 2},
                                        {53, "p", 10, 600},
                                        {49, "p", 40, 200},
                                        {52, "p", 200, 40},
                                        {54, "p", 40, 200},
                                        {50, "p", 200, 20},
                                        {51, "p", 20, 200},
                                        {42, "steady", 20, 0}}));
}

TEST_F(ProcessDetailsReaderTest, EnergyRunsTheMonitorLeavesItselfOutAndAFailedRunGivesNothing) {
    tools->result.terminationStatus = 0;
    tools->result.processIdentifier = 77;
    tools->result.output = "PID COMMAND POWER\n1 a 1.0\nPID COMMAND POWER\n77 top 9.0\n"
                           "4242 companion 8.0\n88 bad\xFFname 2.5\n";
    EXPECT_EQ(reader.read(ProcessDetailsKind::energy).ranked,
              (std::vector<Reading>{{88, "bad\xEF\xBF\xBDname", 2.5}}));
    ASSERT_EQ(tools->runs.size(), 1u);
    testing::expectRun(tools->runs[0], {"/usr/bin/top",
                                        {"-o", "power", "-l", "2", "-s", "1", "-n", "130", "-stats",
                                         "pid,command,power"},
                                        platform::ToolEnvironment::exactly({{"LC_ALL", "C"}}),
                                        3.0,
                                        platform::WatchdogQoS::utility});

    for (const auto& failure : testing::failedRuns("PID\nPID\n88 x 1.0\n")) {
        tools->result = failure;
        EXPECT_TRUE(reader.read(ProcessDetailsKind::energy).ranked.empty())
            << failure.terminationStatus;
    }
}

// The monitor's log of two samples, ending with the lines of the second.
std::vector<Reading> parseSecondSample(const std::string& lines,
                                       const std::unordered_set<int32_t>& excluded = {}) {
    return ProcessDetailsReader::parseEnergy(
        "Processes: 412 total, 3 running, 409 sleeping, 2011 threads\n"
        "Load Avg: 1.52, 1.61, 1.70\n\n"
        "PID    COMMAND          POWER\n"
        "501    display_server   0.0\n"
        "Processes: 412 total, 2 running, 410 sleeping, 2010 threads\n"
        "Load Avg: 1.48, 1.60, 1.70\n"
        "  PID    COMMAND          POWER \n" +
            lines,
        excluded);
}

TEST(ParseEnergy, ReadsOnlyTheSampleAfterTheSecondHeaderLessExcludedPidsUpTo128) {
    EXPECT_EQ(parseSecondSample("88   Photo  Library   Helper   12.3\n\n1  init 0.0\n"),
              (std::vector<Reading>{{88, "Photo Library Helper", 12.3}, {1, "init", 0.0}}));
    // "PIDS" or a header further in the line is not a header.
    for (const char* output :
         {"PID COMMAND POWER\n88 a 1.0\n", "PIDS\nx PID\nPID COMMAND POWER\n88 a 1.0\n"}) {
        EXPECT_TRUE(ProcessDetailsReader::parseEnergy(output, {}).empty()) << output;
    }
    // Excluded pids are left out; order is kept up to 128 readings.
    std::string sample;
    for (int pid = 1; pid <= 140; ++pid)
        sample += std::to_string(pid) + " p " + std::to_string(pid % 3) + "\n";
    const auto readings = parseSecondSample(sample, {2, 5});
    ASSERT_EQ(readings.size(), 128u);
    EXPECT_EQ(std::vector(readings.begin(), readings.begin() + 4),
              (std::vector<Reading>{{1, "p", 1}, {3, "p", 0}, {4, "p", 1}, {6, "p", 0}}));
    EXPECT_EQ(readings.back().pid, 130);
}

TEST(ParseEnergy, IgnoresLinesThatBreakTheRules) {
    for (const char* line : {"+7 signed 1.0", "7 name 1e2", "7\tname\t2.0\r", "7 name -0.0"}) {
        const auto readings = parseSecondSample(line + std::string("\n"));
        ASSERT_EQ(readings.size(), 1u) << line;
        EXPECT_FALSE(std::signbit(readings[0].usage)) << "negative zero is plain zero";
    }
    for (const char* line :
         {"88 12.3", "0 kernel_task 5.0", "7a name 1.0", "7 name -1.0", "7 name nan", "7 name 1.5x",
          "99999999999999999999 name 1.0", "7\tname\r"}) {
        EXPECT_TRUE(parseSecondSample(line + std::string("\n")).empty()) << line;
    }
}

} // namespace
} // namespace brivane
