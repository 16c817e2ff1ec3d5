#pragma once

#include "platform/tool_runner.h"

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

} // namespace brivane::testing
