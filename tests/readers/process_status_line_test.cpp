#include "readers/process_status_line.h"

#include <cmath>
#include <gtest/gtest.h>

namespace brivane {
namespace {

using Reading = CPUDetailsSnapshot::ProcessReading;

TEST(ProcessStatusLineTest, SplitsIntoPidUsageAndTheRestAsName) {
    struct Case {
        const char* what;
        std::string line;
        std::optional<Reading> expected;
    };
    const Case cases[] = {
        {"padded columns, name with single inner blanks", "   312   12.5 Kite Render Helper",
         Reading{312, "Kite Render Helper", 12.5}},
        {"only one blank ends the usage", "7 0.0   spaced  name  ",
         Reading{7, "  spaced  name  ", 0.0}},
        {"tabs separate", "\t8\t1.25\tdaemon", Reading{8, "daemon", 1.25}},
        {"no-break and ideographic spaces separate",
         "9\xC2\xA0"
         "3\xE3\x80\x80name",
         Reading{9, "name", 3.0}},
        {"name made of one blank", "10 1.0  ", Reading{10, " ", 1.0}},
        {"invalid UTF-8 in the name is replaced", "3 1.0 a\xFF!",
         Reading{3, "a\xEF\xBF\xBD!", 1.0}},
        {"valid UTF-8 stays", "3 1.0 caf\xC3\xA9 \xF0\x9F\x98\x80",
         Reading{3, "caf\xC3\xA9 \xF0\x9F\x98\x80", 1.0}},
        {"invalid UTF-8 before the pid", "\xFF+3 1.0 name", std::nullopt},
        {"two fields", "312 12.5", std::nullopt},
        {"two fields and a trailing blank", "312 12.5 ", std::nullopt},
        {"one field", "   312", std::nullopt},
        {"blanks only", "   \t ", std::nullopt},
        {"empty", "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(parseProcessStatusLine(c.line), c.expected);
    }
}

TEST(ProcessStatusLineTest, PidIsAnIntegerOfAtLeastOneAndUsageAFiniteNonNegativeNumber) {
    const std::pair<const char*, std::int64_t> pids[] = {
        {"1", 1}, {"+42", 42}, {"007", 7}, {"9223372036854775807", 9223372036854775807}};
    for (const auto& [pid, expected] : pids) {
        EXPECT_EQ(parseProcessStatusLine(std::string(pid) + " 1.0 name"),
                  (Reading{expected, "name", 1.0}));
    }
    const std::pair<const char*, double> usages[] = {{"12.5", 12.5}, {"0", 0.0},  {"+2.5", 2.5},
                                                     {".5", 0.5},    {"5.", 5.0}, {"1e2", 100.0},
                                                     {"0x1p3", 8.0}, {"-0", 0.0}};
    for (const auto& [usage, expected] : usages) {
        SCOPED_TRACE(usage);
        const auto reading = parseProcessStatusLine(std::string("5 ") + usage + " name");
        ASSERT_TRUE(reading);
        EXPECT_EQ(reading->usage, expected);
        EXPECT_FALSE(std::signbit(reading->usage));
    }
    // The last pid is a fullwidth digit one.
    for (const char* pid : {"0", "-5", "-0", "+", "+-3", "12a", "1.0", "0x10",
                            "9223372036854775808", "\xEF\xBC\x91"}) {
        EXPECT_FALSE(parseProcessStatusLine(std::string(pid) + " 1.0 name")) << pid;
    }
    for (const char* usage : {"-0.1", "-1", "nan", "NaN", "inf", "infinity", "1e400", "--1", "+-1",
                              "1,5", "abc", "0x", "1e", "12.5%"}) {
        EXPECT_FALSE(parseProcessStatusLine(std::string("5 ") + usage + " name")) << usage;
    }
}

TEST(ProcessStatusOutputTest, SplitsAtEveryLineBreakAndDropsEmptyLines) {
    const std::string output = "1 1.0 lf\n"
                               "2 2.0 crlf\r\n"
                               "3 3.0 cr\r"
                               "4 4.0 vt\v"
                               "5 5.0 ff\f"
                               "6 6.0 nel\xC2\x85"
                               "7 7.0 ls\xE2\x80\xA8"
                               "8 8.0 ps\xE2\x80\xA9"
                               "\n\n\r\n"
                               "9 9.0 bad\xE2\xC2\x85"
                               "10 10.0 last";
    const auto readings = parseProcessStatusOutput(output, 128);
    const std::vector<Reading> expected{
        {1, "lf", 1.0},     {2, "crlf", 2.0}, {3, "cr", 3.0},
        {4, "vt", 4.0},     {5, "ff", 5.0},   {6, "nel", 6.0},
        {7, "ls", 7.0},     {8, "ps", 8.0},   {9, "bad\xEF\xBF\xBD", 9.0},
        {10, "last", 10.0},
    };
    EXPECT_EQ(readings, expected);
}

TEST(ProcessStatusOutputTest, CountsOnlyGoodLinesTowardsTheLimit) {
    std::string output;
    for (int i = 1; i <= 10; ++i)
        output += "0 1.0 zero pid\n" + std::to_string(i) + " 1.0 p\n";
    const auto readings = parseProcessStatusOutput(output, 4);
    ASSERT_EQ(readings.size(), 4u);
    EXPECT_EQ(readings.back().pid, 4);
    EXPECT_TRUE(parseProcessStatusOutput(output, 0).empty());
    EXPECT_TRUE(parseProcessStatusOutput("", 128).empty());
}

} // namespace
} // namespace brivane
