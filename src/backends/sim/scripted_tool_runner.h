#pragma once

#include "platform/tool_runner.h"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brivane::platform::sim {

// Answers tool runs from a table of canned results keyed by path and argument vector. Runs it
// does not know go to the fallback runner when there is one, else fail to launch. Safe to use
// from several threads.
class ScriptedToolRunner final : public ToolRunner {
public:
    explicit ScriptedToolRunner(std::shared_ptr<ToolRunner> fallback = nullptr);

    // The tool exits with `status` after printing `output`.
    void answer(const std::string& path, const std::vector<std::string>& arguments, int status,
                std::string output);
    // The tool's result is made afresh on every run.
    void respond(const std::string& path, const std::vector<std::string>& arguments,
                 std::function<ToolResult()> respond);
    // The tool cannot be started.
    void failLaunch(const std::string& path, const std::vector<std::string>& arguments,
                    std::string error = "No such file or directory");

    ToolResult run(const ToolRun& run) override;
    void stop() override {
        if (fallback_) {
            fallback_->stop();
        }
    }

    // Runs of this path and argument vector so far, answered or not.
    std::size_t calls(const std::string& path, const std::vector<std::string>& arguments) const;
    std::size_t totalCalls() const;
    std::optional<ToolRun> lastRun() const;

private:
    using Key = std::pair<std::string, std::vector<std::string>>;

    std::shared_ptr<ToolRunner> fallback_;
    mutable std::mutex mutex_;
    std::map<Key, std::function<ToolResult()>> answers_;
    std::map<Key, std::size_t> calls_;
    std::size_t totalCalls_ = 0;
    std::optional<ToolRun> lastRun_;
};

} // namespace brivane::platform::sim
