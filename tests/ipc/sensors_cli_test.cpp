#include "cli_options.h"
#include "document_view.h"

#include <gtest/gtest.h>
#include <tuple>

namespace brivane::cli {
namespace {

using ipc::Selector;

// The parsed options as "argument|team|endpoint|raw", a dash for what is absent.
std::string summary(const CliOptions& options) {
    return options.argument.value_or("-") + "|" + options.team + "|" +
           options.endpoint.value_or("-") + "|" + (options.raw ? "raw" : "-");
}

TEST(SensorsCli, OptionsMayStandBeforeOrAfterTheRequest) {
    const std::vector<std::tuple<std::vector<std::string>, Selector, std::string>> cases = {
        {{"snapshot"}, Selector::snapshot, "-|D|-|-"},
        {{"--raw", "cpu"}, Selector::cpuDetails, "-|D|-|raw"},
        {{"processes", "energy", "--team", "T1"}, Selector::processDetails, "energy|T1|-|-"},
        {{"--endpoint=/run/x", "storage", "--raw", "disk0s2"},
         Selector::storageHealth,
         "disk0s2|D|/run/x|raw"},
        {{"manage", "--team=T2", "checkForUpdates"}, Selector::manage, "checkForUpdates|T2|-|-"},
        // An argument is passed as typed, even one the agent will answer with no data.
        {{"processes", "--", "-memory"}, Selector::processDetails, "-memory|D|-|-"},
    };
    for (const auto& [arguments, selector, expected] : cases) {
        const auto parsed = parseCommandLine(arguments, "D");
        ASSERT_TRUE(parsed.options) << arguments[0] << ": " << parsed.error;
        EXPECT_EQ(parsed.options->selector, selector) << expected;
        EXPECT_EQ(summary(*parsed.options), expected);
    }
}

TEST(SensorsCli, UsageErrorsAreReported) {
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"--raw"},
        {"temperatures"},
        {"snapshot", "extra"},
        {"processes"},
        {"storage", "disk0", "disk1"},
        {"--team"},
        {"--endpoint=", "snapshot"},
        {"--timeout", "0", "snapshot"},
        {"--timeout", "soon", "snapshot"},
        {"--verbose", "snapshot"},
    };
    for (const auto& arguments : wrong) {
        const auto parsed = parseCommandLine(arguments, "T");
        EXPECT_FALSE(parsed.options) << (arguments.empty() ? "(none)" : arguments[0]);
        EXPECT_FALSE(parsed.error.empty());
    }
}

TEST(SensorsCli, ViewsShowTheDocumentsAsTables) {
    const std::string snapshot =
        R"({"version":2,"temperatures":[{"key":"TC0P","value":45.26}],)"
        R"("fans":[{"id":0,"name":"Left","rpm":1200,"maximumRPM":5000}],"helperUID":501,)"
        R"("helperEffectiveUID":501,"power":[{"key":"BatteryVoltage","value":12.5}],)"
        R"("accessories":[],"supportsProcessDetails":true,"companionVersion":"1.0.0"})";
    const auto view = renderDocument(Selector::snapshot, std::nullopt, snapshot);
    ASSERT_TRUE(view);
    for (const char* expected : {"1.0.0", "TC0P", "45.3", "Left", "1200", "5000", "BatteryVoltage",
                                 "12.50  V", "process details", "(none)"}) {
        EXPECT_NE(view->find(expected), std::string::npos) << expected << "\n" << *view;
    }

    const auto memory =
        renderDocument(Selector::processDetails, "memory",
                       R"({"ranked":[{"pid":7,"name":"kernel","usage":1572864}],"storage":[],)"
                       R"("helperUID":1,"helperEffectiveUID":1})");
    ASSERT_TRUE(memory);
    EXPECT_NE(memory->find("1.5 MiB"), std::string::npos) << *memory;

    EXPECT_FALSE(renderDocument(Selector::snapshot, std::nullopt, "{\"version\":2}"));
    EXPECT_FALSE(renderDocument(Selector::cpuDetails, std::nullopt, "not json"));
}

} // namespace
} // namespace brivane::cli
