#include "ipc/ipc_test_support.h"
#include "sensors-cli/terminal_text.h"
#include "support/child_process.h"

#include <gtest/gtest.h>

namespace brivane::cli {
namespace {

TEST(TerminalText, ControlsAndBidirectionalOverridesBecomeEscapes) {
    const std::pair<std::string, std::string> cases[] = {
        {"café 42 °C", "café 42 °C"},
        {"\x1b]0;PWNED\a\x1b[2J", R"(\x1b]0;PWNED\x07\x1b[2J)"},
        {"a\nb\tc\x7f", R"(a\x0ab\x09c\x7f)"},
        {"\u009b2J \u202ecba \u2066", R"(\u009b2J \u202ecba \u2066)"},
        {"\xFF\xE2\x82 end", R"(\xff\xe2\x82 end)"},
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(terminalSafe(text), shown);
    }
    EXPECT_EQ(terminalSafeJson("{\"a\":\"\xC2\x9B\x7f\"}\n"), "{\"a\":\"\\u009b\\u007f\"}\n");
    EXPECT_EQ(terminalSafeJson("{\"a\":\"\x1b[2J\"}"), std::nullopt);
    EXPECT_EQ(terminalSafeJson("{\"a\":\"\xFF\"}"), std::nullopt);
}

// The real client, asked by a hostile agent or about a hostile process: no byte of it acts on
// the terminal, in any view, watch, --json, --raw or an error, and a document that does not
// decode is an error, never shown.
TEST(TerminalText, HostileTextReachesTheTerminalOnlyAsEscapes) {
    const std::string pwned = "\x1b]0;PWNED\a\x1b[2J";
    const std::string escaped = R"(\x1b]0;PWNED\x07\x1b[2J)";
    const std::string processes =
        R"({"ranked":[{"pid":4242,"name":"\u001b]0;PWNED\u0007\u001b[2J","usage":1048576}],)"
        R"("storage":[],"helperUID":1,"helperEffectiveUID":1})";
    const std::string label = R"({"version":2,"temperatures":[{"key":"nct6775/CPU\nFAN",)"
                              R"("value":41}],"fans":[],"helperUID":1,"helperEffectiveUID":1})";
    const std::string raw = "{\"key\":\"" + pwned + "\"}";
    auto service = std::make_shared<testing::FakeService>();
    testing::ServedListener served(service);
    testing::TempDir scratch;
    const std::string endpoint = "--endpoint " + served.path() + " ";
    const struct Case {
        std::string arguments;
        std::optional<std::string> document;
        int status;
        std::string shown;
    } cases[] = {
        {endpoint + "processes memory", processes, 0, escaped},
        {endpoint + "--json processes memory", processes, 0, R"(\u001b]0;PWNED\u0007\u001b[2J)"},
        {endpoint + "snapshot", label, 0, R"(nct6775/CPU\x0aFAN)"},
        {endpoint + "--raw snapshot", "{\"key\":\"\u009b2J\"}", 0, R"({"key":"\u009b2J"})"},
        {endpoint + "--raw snapshot", raw, 3, "the agent's answer is not a JSON document"},
        {endpoint + "snapshot", raw, 3, "the agent's answer to snapshot did not decode"},
        {"timeout -s INT --preserve-status 2 $0 " + endpoint +
             "watch --interval 0.2 processes memory",
         processes, 0, escaped},
        {"--endpoint '/nonexistent/" + pwned + "'", {}, 1, "/nonexistent/" + escaped},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        service->answerAtOnce(c.document);
        const std::string command =
            c.arguments.starts_with("timeout") ? c.arguments : "$0 " + c.arguments;
        const auto run = testing::runCommand({"sh", "-c", command + " 2>&1", BRIVANE_SENSORS_CLI},
                                             {"PATH=/usr/bin:/bin"}, scratch / "output");
        EXPECT_EQ(run.status, c.status) << run.output;
        EXPECT_NE(run.output.find(c.shown), std::string::npos) << run.output;
        for (const std::string acting : {"\x1b", "\a", "\xC2\x9B", "\nFAN"}) {
            EXPECT_EQ(run.output.find(acting), std::string::npos) << run.output;
        }
    }
}

} // namespace
} // namespace brivane::cli
