#include "platform/host/spawn_tool_runner.h"
#include "process_listing.h"
#include "process_tools.h"
#include "readers/process_details_reader.h"
#include "readers/process_status_line.h"
#include "support/sysfs_fixture.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace brivane::system_tools {
namespace {

using testing::TempDir;

TEST(RecentCpuUse, DeltasOverTheWindowBusiestFirst) {
    const CpuTimeSample older{{{1, 100}, {2, 50'000'000}, {3, 0}, {9, 1'000}}, 1'000'000'000};
    // 1: +50 ms; 2: counter went back (pid reused): its 30 ms all count; 4: new, 50 ms;
    // 5: new with more than two CPUs could run; 9: excluded.
    const CpuTimeSample newer{
        {{1, 50'000'100}, {2, 30'000'000}, {3, 0}, {4, 50'000'000}, {5, 900'000'000}, {9, 1}},
        1'100'000'000};
    const auto uses = recentCpuUse(older, newer, 9, 2);
    const std::pair<std::int32_t, double> expected[] = {
        {5, 200.0}, {1, 50.0}, {4, 50.0}, {2, 30.0}, {3, 0.0}};
    ASSERT_EQ(uses.size(), std::size(expected));
    for (std::size_t i = 0; i < uses.size(); ++i) {
        EXPECT_EQ(uses[i].pid, expected[i].first) << i;
        EXPECT_DOUBLE_EQ(uses[i].percent, expected[i].second) << i;
    }
    EXPECT_TRUE(recentCpuUse(newer, newer, 0, 2).empty());
}

// Names reach the reader as the kernel's bytes, whatever the locale; only what would break the
// line apart is replaced.
TEST(ProcessStatusLines, NamesSurviveTheReadersLineRule) {
    struct Case {
        const char* name;
        const char* shown;
    };
    const Case cases[] = {
        {"Web Content", "Web Content"},
        {"na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC", "na\xC3\xAFve \xE6\x97\xA5\xE6\x9C\xAC"},
        {"evil\n1 99.0 forged", "evil?1 99.0 forged"},
        {"tab\there\r", "tab?here?"},
        {"line\xE2\x80\xA8sep\xC2\x85x", "line?sep?x"},
        {"trailing ", "trailing "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string out;
        appendProcessStatusLine(out, 4242, 12.5, lineSafeName(c.name));
        const auto readings = parseProcessStatusOutput(out, 128);
        ASSERT_EQ(readings.size(), 1u);
        EXPECT_EQ(readings[0].name, c.shown);
    }
}

void writeProcess(const TempDir& proc, int pid, const std::string& name, const char* schedstat) {
    const std::string base = std::to_string(pid) + "/";
    proc.write(base + "comm", name + "\n");
    proc.write(base + "stat", std::to_string(pid) + " (" + name +
                                  ") S 1 2 3 4 5 6 7 8 9 10 25 15 13 14 15 16 17 18 900 99\n");
    if (schedstat)
        proc.write(base + "schedstat", schedstat);
}

// Over a fixture /proc: schedstat where there is one, else stat's ticks; the stand-ins' own
// pid left out; lines the readers accept.
TEST(ProcessStandIns, OverAFixtureProc) {
    TempDir proc;
    writeProcess(proc, 10, "worker", "123456789 0 4\n");
    writeProcess(proc, 11, "no schedstat", nullptr);
    writeProcess(proc, 12, "self", "1 0 1\n");
    proc.makeDirectory("sys");
    const ProcessCpuSampler sampler(proc.path());

    const CpuTimeSample sample = sampler.sample();
    ASSERT_EQ(sample.processes.size(), 3u);
    EXPECT_EQ(sample.processes[0].nanoseconds, 123456789u);
    EXPECT_EQ(sample.processes[1].nanoseconds,
              40 * (1'000'000'000u / static_cast<std::uint64_t>(sysconf(_SC_CLK_TCK))));

    const auto status = parseProcessStatusOutput(
        processStatusOutput(sampler, std::chrono::milliseconds(1), 12), 128);
    ASSERT_EQ(status.size(), 2u);
    EXPECT_EQ(status[0].pid, 10);
    EXPECT_EQ(status[1].name, "no schedstat");

    const std::string monitor =
        processMonitorOutput(sampler, 2, std::chrono::milliseconds(1), 1, 12);
    EXPECT_EQ(std::count(monitor.begin(), monitor.end(), '\n'), 10);
    const auto energy = ProcessDetailsReader::parseEnergy(monitor, {});
    ASSERT_EQ(energy.size(), 1u);
    EXPECT_EQ(energy[0].pid, 10);
}

// The real thing: a busy child shows up near the top, the tool leaves itself out, and every
// line passes the reader's line rule.
TEST(ProcessStandIns, LiveProcessStatus) {
    const pid_t busy = fork();
    ASSERT_GE(busy, 0);
    if (busy == 0) {
        for (;;)
            asm volatile("" ::: "memory"); // spins without being optimised away
    }
    usleep(100'000);
    platform::host::SpawnToolRunner runner;
    platform::ToolRun run;
    run.path = BRIVANE_SYSTEM_TOOLS;
    run.arguments = {"ps", "-A", "-c", "-r", "-o", "pid=,pcpu=,comm="};
    run.environment = platform::ToolEnvironment::exactly({{"LC_ALL", "C"}});
    const platform::ToolResult result = runner.run(run);
    kill(busy, SIGKILL);
    waitpid(busy, nullptr, 0);
    ASSERT_TRUE(result.succeeded());

    const auto readings = parseProcessStatusOutput(result.output, 1 << 20);
    EXPECT_EQ(std::ssize(readings), std::count(result.output.begin(), result.output.end(), '\n'));
    std::vector<std::int64_t> pids;
    for (const auto& reading : readings)
        pids.push_back(reading.pid);
    EXPECT_EQ(std::find(pids.begin(), pids.end(), result.processIdentifier), pids.end());
    EXPECT_LT(std::find(pids.begin(), pids.end(), busy) - pids.begin(), 10) << result.output;
}

} // namespace
} // namespace brivane::system_tools
