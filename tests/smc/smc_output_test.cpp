#include "smc/smc_output.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brivane::testing {
namespace {

TEST(RepeatLimitedLines, ShowsEachLineOnceThenAtMostEveryTenMinutesWithItsRepeats) {
    struct Step {
        double at; // seconds of uptime
        std::string_view line;
        std::optional<std::string_view> shown;
    };
    const std::string_view fnum = "Error read(FNum): (ipc/send) invalid destination port";
    const std::string_view pstr = "Error read(PSTR): (ipc/send) invalid destination port";
    const Step steps[] = {
        {0, fnum, fnum},
        {0, pstr, pstr},
        {1, fnum, std::nullopt},
        {599, fnum, std::nullopt},
        {600, fnum,
         "Error read(FNum): (ipc/send) invalid destination port"
         " (repeated 2 times since last shown)"},
        {600, pstr, pstr},
        {1300, fnum, fnum},
    };
    auto clock = std::make_shared<platform::ManualUptimeClock>(0);
    std::vector<std::string> shown;
    const auto sink =
        repeatLimitedLineSink([&](std::string_view line) { shown.emplace_back(line); }, clock);
    for (const auto& step : steps) {
        SCOPED_TRACE(step.at);
        clock->set(step.at);
        shown.clear();
        sink(step.line);
        EXPECT_EQ(shown, step.shown ? std::vector<std::string>{std::string(*step.shown)}
                                    : std::vector<std::string>{});
    }
}

} // namespace
} // namespace brivane::testing
