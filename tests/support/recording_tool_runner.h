#pragma once

#include "platform/tool_runner.h"

#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace brivane::testing {

// Answers a run with the result given for its path in `results`, else with `result`, and records
// the runs it was asked for; runs may come from any thread.
class RecordingToolRunner final : public platform::ToolRunner {
public:
    platform::ToolResult result{std::nullopt, 0, ""};
    std::map<std::string, platform::ToolResult> results;
    std::vector<platform::ToolRun> runs;
    platform::ToolResult run(const platform::ToolRun& run) override {
        const std::lock_guard lock(mutex_);
        runs.push_back(run);
        const auto found = results.find(run.path);
        return found == results.end() ? result : found->second;
    }
    std::size_t count() {
        const std::lock_guard lock(mutex_);
        return runs.size();
    }

private:
    std::mutex mutex_;
};

// A tool that could not start, one that failed and one that was killed, each having printed
// `output`: none may be read.
inline std::vector<platform::ToolResult> failedRuns(const std::string& output) {
    return {{"no such file", 0, output}, {std::nullopt, 1, output}, {std::nullopt, 15, output}};
}

inline void expectRun(const platform::ToolRun& run, const platform::ToolRun& expected) {
    EXPECT_EQ(run.path, expected.path);
    EXPECT_EQ(run.arguments, expected.arguments);
    EXPECT_EQ(run.environment.policy, expected.environment.policy);
    EXPECT_EQ(run.environment.variables, expected.environment.variables);
    EXPECT_EQ(run.timeLimit, expected.timeLimit);
    EXPECT_EQ(run.qos, expected.qos);
}

} // namespace brivane::testing
