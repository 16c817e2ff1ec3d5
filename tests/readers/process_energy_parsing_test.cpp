#include "platform/sim/canned_outputs.h"
#include "readers/process_details_reader.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace brivane {
namespace {

using Reading = CPUDetailsSnapshot::ProcessReading;

const std::unordered_set<int32_t> none;

std::string twoSamples(const std::string& lastSample) {
    return "Processes: 412 total, 3 running, 409 sleeping, 2011 threads\n"
           "Load Avg: 1.52, 1.61, 1.70\n"
           "\n"
           "PID    COMMAND          POWER\n"
           "501    display_server   0.0\n"
           "Processes: 412 total, 2 running, 410 sleeping, 2010 threads\n"
           "Load Avg: 1.48, 1.60, 1.70\n"
           "  PID    COMMAND          POWER \n" +
           lastSample;
}

TEST(ParseEnergy, UsesOnlyTheLastSample) {
    auto readings = ProcessDetailsReader::parseEnergy(
        twoSamples("88   Photo  Library   Helper   12.3\n\n1  init 0.0\n"), none);
    EXPECT_EQ(readings,
              (std::vector<Reading>{{88, "Photo Library Helper", 12.3}, {1, "init", 0.0}}));
}

TEST(ParseEnergy, NeedsTwoHeaderLinesStartingWithPid) {
    for (const char* output :
         {"PID COMMAND POWER\n88 a 1.0\n", "PIDS\nx PID\nPID COMMAND POWER\n88 a 1.0\n"}) {
        EXPECT_TRUE(ProcessDetailsReader::parseEnergy(output, none).empty()) << output;
    }
}

TEST(ParseEnergy, IgnoresLinesThatBreakTheRules) {
    for (const char* line : {"+7 signed 1.0", "7 name 1e2", "7\tname\t2.0\r", "7 name -0.0"}) {
        const auto readings =
            ProcessDetailsReader::parseEnergy(twoSamples(line + std::string("\n")), none);
        ASSERT_EQ(readings.size(), 1u) << line;
        EXPECT_FALSE(std::signbit(readings[0].usage)) << "negative zero is plain zero";
    }
    for (const char* line :
         {"88 12.3", "88", "0 kernel_task 5.0", "-3 neg 1.0", "7a name 1.0", "+ name 1.0",
          "7 name -1.0", "7 name nan", "7 name inf", "7 name 1e999", "7 name 1.5x",
          "99999999999999999999 name 1.0", "7\tname\r"}) {
        EXPECT_TRUE(
            ProcessDetailsReader::parseEnergy(twoSamples(line + std::string("\n")), none).empty())
            << line;
    }
}

TEST(ParseEnergy, LeavesOutExcludedPidsAndKeepsOrderUpTo128) {
    std::string sample;
    for (int pid = 1; pid <= 140; ++pid)
        sample += std::to_string(pid) + " p " + std::to_string(pid % 3) + "\n";
    auto readings = ProcessDetailsReader::parseEnergy(twoSamples(sample), {2, 5});
    ASSERT_EQ(readings.size(), 128u);
    EXPECT_EQ(readings[0].pid, 1);
    EXPECT_EQ(readings[1].pid, 3);
    EXPECT_EQ(readings[3].pid, 6);
    EXPECT_EQ(readings.back().pid, 130);
}

} // namespace
} // namespace brivane
