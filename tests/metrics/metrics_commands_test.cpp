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

std::string contentsOf(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(MetricsCommands, CommandLines) {
    struct Case {
        std::vector<std::string> arguments;
        std::optional<Action> action; // nullopt: a usage error
        std::string output;
        std::string listen;
    };
    const Case cases[] = {
        {{"metrics"}, Action::metrics, "", ""},
        {{"--output", "a.prom", "metrics"}, Action::metrics, "a.prom", ""},
        {{"metrics", "--output=b.prom", "--timeout", "2"}, Action::metrics, "b.prom", ""},
        {{"export"}, Action::exportMetrics, "", ""},
        {{"export", "--listen", "[::1]:9"}, Action::exportMetrics, "", "[::1]:9"},
        {{"snapshot"}, Action::request, "", ""},
        {{"export", "--output", "a.prom"}, std::nullopt, "", ""},
        {{"metrics", "--listen=127.0.0.1:1"}, std::nullopt, "", ""},
        {{"snapshot", "--output", "a.prom"}, std::nullopt, "", ""},
        {{"metrics", "--output"}, std::nullopt, "", ""},
        {{"metrics", "extra"}, std::nullopt, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.front() + " " + c.arguments.back());
        const auto parsed = parseCommandLine(c.arguments, "T");
        ASSERT_EQ(parsed.options.has_value(), c.action.has_value()) << parsed.error;
        if (parsed.options) {
            EXPECT_EQ(parsed.options->action, *c.action);
            EXPECT_EQ(parsed.options->output.value_or(""), c.output);
            EXPECT_EQ(parsed.options->listen.value_or(""), c.listen);
        }
    }
}

TEST(MetricsCommands, TheFileIsReplacedWholeAndNothingIsLeftBeside) {
    testing::TempDir directory;
    const auto path = directory / "brivane.prom";
    std::string problem;
    for (const char* text : {"first\n", "second, longer than the first\n"}) {
        ASSERT_TRUE(writeFileAtomically(path, text, problem)) << problem;
        EXPECT_EQ(contentsOf(path), text);
    }
    EXPECT_EQ(fs::status(path).permissions(), fs::perms(0644));
    EXPECT_EQ(std::distance(fs::directory_iterator(directory.path()), fs::directory_iterator()), 1);

    EXPECT_FALSE(writeFileAtomically(directory / "missing/brivane.prom", "x", problem));
    EXPECT_FALSE(problem.empty());
}

TEST(MetricsCommands, AnUnreachableAgentStillReplacesTheFile) {
    testing::TempDir directory;
    const auto path = directory / "brivane.prom";
    directory.write("brivane.prom", "brivane_up 1\nbrivane_temperature_celsius{sensor=\"T\"} 40\n");
    CliOptions options;
    options.action = Action::metrics;
    options.endpoint = directory / "no-agent";
    options.output = path;
    EXPECT_EQ(runMetricsRequest(options), 1);
    const auto text = contentsOf(path);
    EXPECT_NE(text.find("\nbrivane_up 0\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("temperature"), std::string::npos) << text;

    options.output = directory / "missing/brivane.prom";
    EXPECT_EQ(runMetricsRequest(options), 4);
}

} // namespace
} // namespace brivane::cli
