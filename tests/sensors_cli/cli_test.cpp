#include "cli_options.h"
#include "document_view.h"
#include "ipc/ipc_test_support.h"
#include "support/child_process.h"

#include <gtest/gtest.h>
#include <iterator>
#include <sstream>

namespace brivane::cli {
namespace {

using ipc::Selector;

// The parsed options as "argument|team|endpoint|raw", a dash for what is absent.
std::string summary(const CliOptions& options) {
    return options.argument.value_or("-") + "|" + options.team + "|" +
           options.endpoint.value_or("-") + "|" + (options.raw ? "raw" : "-");
}

// A command line split at its spaces.
std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

TEST(SensorsCli, OptionsMayStandBeforeOrAfterTheRequest) {
    const struct {
        const char* line;
        Selector selector;
        const char* parsed;
    } cases[] = {
        {"snapshot", Selector::snapshot, "-|D|-|-"},
        {"--raw cpu", Selector::cpuDetails, "-|D|-|raw"},
        {"processes energy --team T1", Selector::processDetails, "energy|T1|-|-"},
        {"--endpoint=/run/x storage --raw disk0s2", Selector::storageHealth,
         "disk0s2|D|/run/x|raw"},
        {"manage --team=T2 checkForUpdates", Selector::manage, "checkForUpdates|T2|-|-"},
        // An argument is passed as typed, even one the agent will answer with no data.
        {"processes -- -memory", Selector::processDetails, "-memory|D|-|-"},
        {"watch", Selector::snapshot, "-|D|-|-"},
        {"watch processes -memory --raw", Selector::processDetails, "-memory|D|-|raw"},
        {"--interval=0.5 watch cpu", Selector::cpuDetails, "-|D|-|-"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const auto parsed = parseCommandLine(words(c.line), "D");
        ASSERT_TRUE(parsed.options) << parsed.error;
        EXPECT_EQ(parsed.options->selector, c.selector);
        EXPECT_EQ(summary(*parsed.options), c.parsed);
    }
    for (const char* line :
         {"", "--raw", "temperatures", "snapshot extra", "processes", "storage disk0 disk1",
          "--team", "--endpoint= snapshot", "--timeout 0 snapshot", "--timeout soon snapshot",
          "--verbose snapshot", "--interval 1 snapshot", "watch --interval 0.01",
          "watch snapshot extra", "watch manage installUpdate", "watch export"}) {
        const auto parsed = parseCommandLine(words(line), "D");
        EXPECT_FALSE(parsed.options || parsed.error.empty()) << "usage error expected: " << line;
    }
}

// An empty section tells why when the document shows it: fans and SMC power keys come only from
// an SMC; a level of 0.64 is 64 %.
TEST(SensorsCli, ViewsShowTheDocumentsAsTablesAndSayWhyASectionIsEmpty) {
    const std::string head = R"({"version":2,"helperUID":1,"helperEffectiveUID":1,)";
    const struct Case {
        const char* name;
        Selector selector;
        std::string document;
        std::vector<std::string> shown; // empty: the document is refused
    } cases[] = {
        {"snapshot",
         Selector::snapshot,
         head + R"("temperatures":[{"key":"TC0P","value":45.26}],"accessories":[],)"
                R"("fans":[{"id":0,"name":"Left","rpm":1200,"maximumRPM":5000}],)"
                R"("power":[{"key":"BatteryVoltage","value":12.5}],)"
                R"("supportsProcessDetails":true,"companionVersion":"1.0.0"})",
         {"1.0.0", "TC0P", "45.3", "Left", "1200", "5000", "BatteryVoltage", "12.50  V",
          "process details", "(none: no accessory reports a battery level)"}},
        {"no SMC, an accessory",
         Selector::snapshot,
         head + R"("temperatures":[],"fans":[],"power":[],)"
                R"("accessories":[{"name":"Mouse","level":0.64}],)"
                R"("battery":{"level":0.8,"state":"charging","timeToFull":4530}})",
         {"Battery", "level", "80 %", "charging", "1 h 16 min", "(none: no SMC on this machine)",
          "(none: no SMC and no other temperature sensor on this machine)",
          "(none: no graphics accelerator reports its utilisation)", "Mouse", " 64\n"}},
        {"SMC without fans",
         Selector::snapshot,
         head + R"("temperatures":[{"key":"TC0P","value":40}],"fans":[],)"
                R"("power":[{"key":"PSTR","value":5}]})",
         {"(none: the SMC reports no fans)"}},
        {"process memory",
         Selector::processDetails,
         head + R"("ranked":[{"pid":7,"name":"kernel","usage":1572864}],"storage":[]})",
         {"1.5 MiB"}},
        {"incomplete snapshot", Selector::snapshot, "{\"version\":2}", {}},
        {"not JSON", Selector::cpuDetails, "not json", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto view = renderDocument(c.selector, "memory", c.document);
        ASSERT_EQ(view.has_value(), !c.shown.empty());
        for (const auto& expected : c.shown) {
            EXPECT_NE(view->find(expected), std::string::npos) << expected << "\n" << *view;
        }
    }
}

// The CLI watches on a 40x120 pseudo-terminal and is interrupted two seconds later as Ctrl-C
// would: it redraws in place (or prints JSON lines) until then, and restores the terminal.
TEST(SensorsCliWatch, RedrawsUntilInterruptedAndRestoresTheTerminal) {
    const std::string document =
        R"({"version":2,"temperatures":[{"key":"TC0P","value":41}],"fans":[],"helperUID":1,)"
        R"("helperEffectiveUID":1})";
    auto service = std::make_shared<testing::FakeService>();
    service->immediate = document;
    testing::ServedListener served(service);
    testing::TempDir scratch;
    const struct Case {
        const char* name;
        std::string arguments;
        std::string frame; // once per frame
        std::string first; // what the output starts with
        std::string last;  // what it ends with
    } cases[] = {
        {"view", "--endpoint " + served.path() + " watch --interval 0.1", "TC0P",
         "\x1b[?1049h\x1b[?25l\x1b[?7l\x1b[H", "\x1b[J\x1b[?7h\x1b[?25h\x1b[?1049l"},
        {"JSON lines", "watch --raw --interval=0.1 --endpoint " + served.path(), document + "\r\n",
         document + "\r\n", document + "\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto watched = testing::runCommand(
            {"script", "-qec",
             "stty rows 40 cols 120 && exec timeout -s INT --preserve-status 2 " +
                 std::string(BRIVANE_SENSORS_CLI) + " " + c.arguments,
             "/dev/null"},
            {"PATH=/usr/bin:/bin"}, scratch / "output", std::chrono::seconds(20));
        EXPECT_EQ(watched.status, 0) << watched.output;
        EXPECT_TRUE(watched.output.starts_with(c.first) && watched.output.ends_with(c.last))
            << watched.output;
        std::size_t frames = 0;
        for (auto at = watched.output.find(c.frame); at != std::string::npos;
             at = watched.output.find(c.frame, at + 1)) {
            ++frames;
        }
        EXPECT_GE(frames, 3u) << watched.output;
    }
}

} // namespace
} // namespace brivane::cli
