#pragma once

#include "platform/os_version.h"

#include <string_view>

namespace brivane::platform::linux_backend {

// The distribution's VERSION_ID from os-release content ("12", "22.04", quoted or not),
// padded with zeros to three numbers. Absent or non-numeric parts count as 0.
OperatingSystemVersion parseOSReleaseVersion(std::string_view osRelease);

// Reads /etc/os-release, falling back to /usr/lib/os-release. This is the distribution's
// version, the closest thing Linux has to the platform's system version; the kernel release
// says nothing about what a release package needs.
class OSReleaseVersionSource final : public OperatingSystemVersionSource {
public:
    OperatingSystemVersion version() const override;
};

} // namespace brivane::platform::linux_backend
