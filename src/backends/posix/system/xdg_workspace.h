#pragma once

#include "platform/workspace.h"

#include <string>
#include <vector>

namespace brivane::platform::posix {

// The freedesktop workspace: caches under $XDG_CACHE_HOME (when absolute) or ~/.cache, and
// files opened with xdg-open. The opener runs detached, in a session of its own with no
// captured output, so whatever it starts outlives the agent's limits. A missing opener, one
// that cannot start or one that exits non-zero counts as not opened; one still running at
// openTimeLimit is left alone and counts as opened (it is showing the file).
class XdgWorkspace final : public Workspace {
public:
    // Fixed places only: a PATH entry must not decide what runs with a downloaded file.
    static inline const std::vector<std::string> defaultOpeners{
        "/usr/bin/xdg-open", "/usr/local/bin/xdg-open", "/bin/xdg-open"};
    static constexpr double openTimeLimit = 15.0;

    explicit XdgWorkspace(std::vector<std::string> openers = defaultOpeners,
                          double timeLimit = openTimeLimit)
        : openers_(std::move(openers)), timeLimit_(timeLimit) {}

    std::optional<std::string> userCachesDirectory() const override;
    void open(const std::string& file, std::function<void(bool opened)> done) override;

private:
    std::vector<std::string> openers_;
    double timeLimit_;
};

} // namespace brivane::platform::posix
