#include "metrics_commands.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace brivane::cli {
namespace {

namespace fs = std::filesystem;
using Action = CliOptions::Action;

TEST(MetricsCommands, CommandLines) {
    struct Case {
        std::vector<std::string> arguments;
        std::optional<Action> action; // nullopt: a usage error
        const char* fileOrAddress;
    };
    const Case cases[] = {
        {{"--output", "a.prom", "metrics"}, Action::metrics, "a.prom"},
        {{"export", "--listen=[::1]:9"}, Action::exportMetrics, "[::1]:9"},
        {{"export", "--output", "a.prom"}, std::nullopt, ""},
        {{"snapshot", "--listen=127.0.0.1:1"}, std::nullopt, ""},
        {{"metrics", "--output"}, std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        const auto parsed = parseCommandLine(c.arguments, "T");
        ASSERT_EQ(parsed.options.has_value(), c.action.has_value()) << parsed.error;
        if (parsed.options) {
            EXPECT_EQ(parsed.options->action, *c.action);
            EXPECT_EQ(parsed.options->output.value_or(parsed.options->listen.value_or("")),
                      c.fileOrAddress);
        }
    }
}

// A textfile left with old readings would keep reporting them after the agent stopped.
TEST(MetricsCommands, AnUnreachableAgentStillReplacesTheFileWhole) {
    testing::TempDir directory;
    directory.write("brivane.prom", "brivane_up 1\nbrivane_temperature_celsius 40\n", 0600);
    CliOptions options;
    options.action = Action::metrics;
    options.endpoint = directory / "no-agent";
    options.output = directory / "brivane.prom";
    EXPECT_EQ(runMetricsRequest(options), 1);

    std::stringstream text;
    text << std::ifstream(*options.output).rdbuf();
    EXPECT_NE(text.str().find("\nbrivane_up 0\n"), std::string::npos) << text.str();
    EXPECT_EQ(text.str().find("celsius"), std::string::npos) << text.str();
    EXPECT_EQ(fs::status(*options.output).permissions(), fs::perms(0644));
    EXPECT_EQ(std::distance(fs::directory_iterator(directory.path()), fs::directory_iterator()), 1);

    options.output = directory / "missing/brivane.prom";
    EXPECT_EQ(runMetricsRequest(options), 4);
}

} // namespace
} // namespace brivane::cli
