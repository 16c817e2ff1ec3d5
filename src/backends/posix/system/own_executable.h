#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace brivane::platform::posix {

// The executable this process runs, as /proc/self/exe named it at construction, by path and by
// device and inode.
class OwnExecutable {
public:
    OwnExecutable();

    // Whether the file at the path is gone or another file than the one this process runs.
    bool replaced() const;

private:
    struct Identity {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
    };
    std::string path_;
    std::optional<Identity> running_;
};

} // namespace brivane::platform::posix
