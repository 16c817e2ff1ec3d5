#pragma once

#include "platform/tool_runner.h"
#include "platform/workspace.h"

#include <memory>

namespace brivane::platform::linux_backend {

// The freedesktop workspace: caches under $XDG_CACHE_HOME (when absolute) or ~/.cache, and
// files opened with xdg-open. An opener that is missing, fails or has not returned within its
// limit counts as not opened.
class XdgWorkspace final : public Workspace {
public:
    explicit XdgWorkspace(std::shared_ptr<ToolRunner> runner) : runner_(std::move(runner)) {}

    std::optional<std::string> userCachesDirectory() const override;
    bool open(const std::string& file) override;

    static constexpr double openTimeLimit = 15.0;

private:
    std::shared_ptr<ToolRunner> runner_;
};

} // namespace brivane::platform::linux_backend
