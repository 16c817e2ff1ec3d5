#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace brivane::platform {

// The user's desktop: where per-user caches live and how a file is opened with the
// application the system associates with it.
class Workspace {
public:
    virtual ~Workspace() = default;
    // Absent when the user has no usable home.
    virtual std::optional<std::string> userCachesDirectory() const = 0;
    // Hands the file to its application without waiting for it. `done` runs exactly once, on
    // any thread and possibly before open returns, with whether the handover succeeded.
    virtual void open(const std::string& file, std::function<void(bool opened)> done) = 0;
};

std::shared_ptr<Workspace> makeDefaultWorkspace();

} // namespace brivane::platform
