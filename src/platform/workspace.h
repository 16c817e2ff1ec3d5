#pragma once

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
    // Whether the file was handed to its application.
    virtual bool open(const std::string& file) = 0;
};

std::shared_ptr<Workspace> makeDefaultWorkspace();

} // namespace brivane::platform
