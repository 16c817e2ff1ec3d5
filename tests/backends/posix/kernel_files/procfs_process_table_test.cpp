#include "backends/posix/kernel_files/procfs_process_table.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <unistd.h>

namespace brivane::platform::posix {
namespace {

// The start time counts fields from the last parenthesis; anonymous pages never wrap below
// zero; io needs both storage counters.
TEST(ProcFileParsing, StatStatmAndIo) {
    const std::string tail = " S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 123456 99 100\n";
    for (const std::string& stat :
         {"42 (bash)" + tail, "42 (a) b (c d))" + tail, "42 (x)\n" + tail}) {
        EXPECT_EQ(parseStatStartTime(stat), 123456u) << stat;
    }
    for (const std::string& cut :
         {std::string("42 bash S 1 2 3"), std::string("42 (bash) S 1 2 3 4 5"),
          "42 (bash)" + tail.substr(0, 44), std::string()}) {
        EXPECT_FALSE(parseStatStartTime(cut)) << cut;
    }
    EXPECT_EQ(parseStatmAnonymousPages("5000 1200 200 10 0 900 0\n"), 1000u);
    EXPECT_EQ(parseStatmAnonymousPages("10 5 9 0 0 0 0"), 0u);
    EXPECT_FALSE(parseStatmAnonymousPages("10 5"));
    EXPECT_FALSE(parseStatmAnonymousPages("10 x 1"));
    const auto counters =
        parseProcIo("rchar: 100\nwchar: 200\nsyscr: 3\nsyscw: 4\nread_bytes: 4096\n"
                    "write_bytes: 8192\ncancelled_write_bytes: 0\n");
    ASSERT_TRUE(counters);
    EXPECT_EQ(std::pair(counters->readBytes, counters->writeBytes),
              (std::pair<uint64_t, uint64_t>(4096, 8192)));
    for (const char* io :
         {"rchar: 100\nwchar: 200\nread_bytes: 1\n", "wchar: x\nread_bytes: 1\n", ""}) {
        EXPECT_FALSE(parseProcIo(io)) << io;
    }
}

TEST(ProcfsProcessTable, SeesThisProcess) {
    ProcfsProcessTable table("/proc");
    EXPECT_EQ(table.ownPid(), static_cast<int32_t>(getpid()));
    auto pids = table.allPids();
    EXPECT_NE(std::find(pids.begin(), pids.end(), table.ownPid()), pids.end());

    const auto usage = table.resourceUsage(table.ownPid());
    ASSERT_TRUE(usage);
    EXPECT_GT(usage->startedAt, 0u);
    EXPECT_GT(usage->footprint, 0u);
    EXPECT_EQ(table.name(table.ownPid()), "backends_tests");
    for (int32_t pid : {0, -1, std::numeric_limits<int32_t>::max()}) {
        EXPECT_FALSE(table.resourceUsage(pid)) << pid;
        EXPECT_FALSE(table.name(pid)) << pid;
    }
}

TEST(ProcfsProcessTable, ReadsAFixtureTree) {
    testing::TempDir proc;
    proc.write("7/stat", "7 (worker) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 900 99\n");
    proc.write("7/statm", "50 30 10 0 0 0 0\n");
    proc.write("7/io", "wchar: 5\nread_bytes: 6\nwrite_bytes: 11\n");
    // Another user's process: no io, still a footprint.
    proc.write("9/stat", "9 (other) S 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 901 99\n");
    proc.write("9/statm", "50 40 10 0 0 0 0\n");
    proc.write("7/comm", "worker\n");
    proc.write("8/comm", "gone\n"); // no stat: no usage
    proc.makeDirectory("sys");
    proc.makeDirectory("4294967296");
    proc.symlink("self", "7");
    ProcfsProcessTable table(proc.path());

    auto pids = table.allPids();
    std::sort(pids.begin(), pids.end());
    EXPECT_EQ(pids, (std::vector<int32_t>{7, 8, 9}));
    auto usage = table.resourceUsage(7);
    ASSERT_TRUE(usage);
    EXPECT_EQ(usage->startedAt, 900u);
    EXPECT_EQ(usage->footprint, 20u * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)));
    EXPECT_EQ(usage->diskBytesRead, 6u);
    EXPECT_EQ(usage->logicalBytesWritten, 11u);
    auto other = table.resourceUsage(9);
    ASSERT_TRUE(other);
    EXPECT_EQ(other->footprint, 30u * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)));
    EXPECT_EQ(other->diskBytesRead + other->logicalBytesWritten, 0u);
    EXPECT_NE(other->startedAt, 901u); // storage sees it as another incarnation
    EXPECT_EQ(table.name(7), "worker");
    EXPECT_FALSE(table.resourceUsage(8));
}

} // namespace
} // namespace brivane::platform::posix
