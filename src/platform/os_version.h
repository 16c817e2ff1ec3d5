#pragma once

#include <cstdint>
#include <memory>

namespace brivane::platform {

struct OperatingSystemVersion {
    std::int64_t major = 0;
    std::int64_t minor = 0;
    std::int64_t patch = 0;

    bool operator==(const OperatingSystemVersion&) const = default;
};

// The running system's version, compared with a release's minimum. On Linux this is the
// distribution's release (VERSION_ID of os-release, padded to three numbers), not the kernel's.
class OperatingSystemVersionSource {
public:
    virtual ~OperatingSystemVersionSource() = default;
    virtual OperatingSystemVersion version() const = 0;
};

std::shared_ptr<const OperatingSystemVersionSource> makeDefaultOperatingSystemVersionSource();

} // namespace brivane::platform
