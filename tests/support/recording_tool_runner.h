#pragma once

#include "platform/tool_runner.h"

#include <gtest/gtest.h>
#include <vector>

namespace brivane::testing {

// Answers every run with `result` and records the runs it was asked for.
class RecordingToolRunner final : public platform::ToolRunner {
public:
    platform::ToolResult result{std::nullopt, 0, ""};
    std::vector<platform::ToolRun> runs;
    platform::ToolResult run(const platform::ToolRun& run) override {
        runs.push_back(run);
        return result;
    }
};

inline void expectRun(const platform::ToolRun& run, const platform::ToolRun& expected) {
    EXPECT_EQ(run.path, expected.path);
    EXPECT_EQ(run.arguments, expected.arguments);
    EXPECT_EQ(run.environment.policy, expected.environment.policy);
    EXPECT_EQ(run.environment.variables, expected.environment.variables);
    EXPECT_EQ(run.timeLimit, expected.timeLimit);
    EXPECT_EQ(run.qos, expected.qos);
}

} // namespace brivane::testing
