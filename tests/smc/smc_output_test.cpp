#include "smc/smc_output.h"

#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace brivane::testing {
namespace {

TEST(RepeatLimitedLines, ShowsEachLineOnceThenAtMostEveryTenMinutesWithItsRepeats) {
    auto clock = std::make_shared<platform::ManualUptimeClock>(0);
    std::vector<std::string> shown;
    const auto sink =
        repeatLimitedLineSink([&](std::string_view line) { shown.emplace_back(line); }, clock);
    const std::string fnum = "Error read(FNum): (ipc/send) invalid destination port";
    const std::string pstr = "Error read(PSTR): (ipc/send) invalid destination port";
    const std::pair<double, std::string> steps[] = {
        {0, fnum}, {0, pstr}, {1, fnum}, {599, fnum}, {600, fnum}, {600, pstr}, {1300, fnum}};
    for (const auto& [uptime, line] : steps) {
        clock->set(uptime);
        sink(line);
    }
    EXPECT_EQ(shown, (std::vector<std::string>{
                         fnum, pstr, fnum + " (repeated 2 times since last shown)", pstr, fnum}));
}

} // namespace
} // namespace brivane::testing
