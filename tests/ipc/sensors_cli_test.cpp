#include "cli_options.h"
#include "document_view.h"

#include <gtest/gtest.h>

namespace brivane::cli {
namespace {

using ipc::Selector;

// The parsed options as "argument|team|endpoint|raw", a dash for what is absent.
std::string summary(const CliOptions& options) {
    return options.argument.value_or("-") + "|" + options.team + "|" +
           options.endpoint.value_or("-") + "|" + (options.raw ? "raw" : "-");
}

TEST(SensorsCli, OptionsMayStandBeforeOrAfterTheRequest) {
    const struct {
        std::vector<std::string> arguments;
        Selector selector;
        const char* parsed; // nullptr: a usage error
    } cases[] = {
        {{"snapshot"}, Selector::snapshot, "-|D|-|-"},
        {{"--raw", "cpu"}, Selector::cpuDetails, "-|D|-|raw"},
        {{"processes", "energy", "--team", "T1"}, Selector::processDetails, "energy|T1|-|-"},
        {{"--endpoint=/run/x", "storage", "--raw", "disk0s2"},
         Selector::storageHealth,
         "disk0s2|D|/run/x|raw"},
        {{"manage", "--team=T2", "checkForUpdates"}, Selector::manage, "checkForUpdates|T2|-|-"},
        // An argument is passed as typed, even one the agent will answer with no data.
        {{"processes", "--", "-memory"}, Selector::processDetails, "-memory|D|-|-"},
        {{"watch"}, Selector::snapshot, "-|D|-|-"},
        {{"watch", "processes", "-memory", "--raw"}, Selector::processDetails, "-memory|D|-|raw"},
        {{"--interval=0.5", "watch", "cpu"}, Selector::cpuDetails, "-|D|-|-"},
        {{}, {}, nullptr},
        {{"--raw"}, {}, nullptr},
        {{"temperatures"}, {}, nullptr},
        {{"snapshot", "extra"}, {}, nullptr},
        {{"processes"}, {}, nullptr},
        {{"storage", "disk0", "disk1"}, {}, nullptr},
        {{"--team"}, {}, nullptr},
        {{"--endpoint=", "snapshot"}, {}, nullptr},
        {{"--timeout", "0", "snapshot"}, {}, nullptr},
        {{"--timeout", "soon", "snapshot"}, {}, nullptr},
        {{"--verbose", "snapshot"}, {}, nullptr},
        {{"--interval", "1", "snapshot"}, {}, nullptr},
        {{"watch", "--interval", "0.01"}, {}, nullptr},
        {{"watch", "snapshot", "extra"}, {}, nullptr},
        {{"watch", "manage", "installUpdate"}, {}, nullptr},
        {{"watch", "export"}, {}, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? "(none)" : c.arguments.back());
        const auto parsed = parseCommandLine(c.arguments, "D");
        ASSERT_EQ(parsed.options.has_value(), c.parsed != nullptr) << parsed.error;
        EXPECT_EQ(parsed.error.empty(), c.parsed != nullptr);
        if (parsed.options) {
            EXPECT_EQ(parsed.options->selector, c.selector);
            EXPECT_EQ(summary(*parsed.options), c.parsed);
        }
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
    for (const char* expected :
         {"1.0.0", "TC0P", "45.3", "Left", "1200", "5000", "BatteryVoltage", "12.50  V",
          "process details", "(none: no accessory reports a battery level)"}) {
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

// An empty section tells why when the document shows it: fans and SMC power keys come only from
// an SMC; a level of 0.64 is 64 %.
TEST(SensorsCli, EmptySectionsSayWhyAndLevelsArePercentages) {
    const std::string head = R"({"version":2,"helperUID":1,"helperEffectiveUID":1,)";
    const struct Case {
        const char* name;
        std::string document;
        std::vector<std::string> shown;
    } cases[] = {
        {"no SMC",
         head + R"("temperatures":[],"fans":[],"power":[]})",
         {"(none: no SMC on this machine)",
          "(none: no SMC and no other temperature sensor on this machine)",
          "(none: no graphics accelerator reports its utilisation)"}},
        {"SMC without fans",
         head + R"("temperatures":[{"key":"TC0P","value":40}],"fans":[],)"
                R"("power":[{"key":"PSTR","value":5}]})",
         {"(none: the SMC reports no fans)"}},
        {"accessory level",
         head + R"("temperatures":[],"fans":[],"accessories":[{"name":"Mouse","level":0.64}]})",
         {"Mouse", " 64\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto view = renderDocument(Selector::snapshot, std::nullopt, c.document);
        ASSERT_TRUE(view);
        for (const auto& expected : c.shown) {
            EXPECT_NE(view->find(expected), std::string::npos) << expected << "\n" << *view;
        }
    }
}

} // namespace
} // namespace brivane::cli
