#include "backends/sim/scripted_tool_runner.h"

namespace brivane::platform::sim {

ScriptedToolRunner::ScriptedToolRunner(std::shared_ptr<ToolRunner> fallback)
    : fallback_(std::move(fallback)) {}

void ScriptedToolRunner::answer(const std::string& path, const std::vector<std::string>& arguments,
                                int status, std::string output) {
    ToolResult result;
    result.terminationStatus = status;
    result.output = std::move(output);
    respond(path, arguments, [result = std::move(result)] { return result; });
}

void ScriptedToolRunner::respond(const std::string& path, const std::vector<std::string>& arguments,
                                 std::function<ToolResult()> respond) {
    const std::lock_guard lock(mutex_);
    answers_[{path, arguments}] = std::move(respond);
}

void ScriptedToolRunner::failLaunch(const std::string& path,
                                    const std::vector<std::string>& arguments, std::string error) {
    ToolResult result;
    result.launchError = std::move(error);
    respond(path, arguments, [result = std::move(result)] { return result; });
}

ToolResult ScriptedToolRunner::run(const ToolRun& run) {
    std::function<ToolResult()> canned;
    {
        const std::lock_guard lock(mutex_);
        Key key{run.path, run.arguments};
        ++calls_[key];
        ++totalCalls_;
        lastRun_ = run;
        if (const auto found = answers_.find(key); found != answers_.end()) {
            canned = found->second;
        }
    }
    if (canned) {
        return canned();
    }
    if (fallback_) {
        return fallback_->run(run);
    }
    ToolResult missing;
    missing.launchError = "No such file or directory";
    return missing;
}

std::size_t ScriptedToolRunner::calls(const std::string& path,
                                      const std::vector<std::string>& arguments) const {
    const std::lock_guard lock(mutex_);
    const auto found = calls_.find({path, arguments});
    return found == calls_.end() ? 0 : found->second;
}

std::size_t ScriptedToolRunner::totalCalls() const {
    const std::lock_guard lock(mutex_);
    return totalCalls_;
}

std::optional<ToolRun> ScriptedToolRunner::lastRun() const {
    const std::lock_guard lock(mutex_);
    return lastRun_;
}

} // namespace brivane::platform::sim
