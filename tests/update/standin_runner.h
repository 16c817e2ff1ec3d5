#pragma once

#include "platform/linux/tool_runner_linux.h"
#include "update/updater_fakes.h"

#include <map>

namespace brivane::testing {

// The real Linux runner, with the package and policy tools replaced by the given programs
// (the first word is the executable, the rest is put before the requested arguments).
class RedirectingToolRunner final : public platform::ToolRunner {
public:
    explicit RedirectingToolRunner(std::map<std::string, std::vector<std::string>> replacements)
        : replacements_(std::move(replacements)) {}

    platform::ToolResult run(const platform::ToolRun& request) override {
        platform::ToolRun local = request;
        if (const auto found = replacements_.find(request.path); found != replacements_.end()) {
            local.path = found->second.front();
            local.arguments.insert(local.arguments.begin(), found->second.begin() + 1,
                                   found->second.end());
        }
        return platform::linux_backend::LinuxToolRunner::spawn(local);
    }

private:
    std::map<std::string, std::vector<std::string>> replacements_;
};

} // namespace brivane::testing
