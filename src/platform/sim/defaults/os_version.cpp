#include "platform/os_version.h"

namespace brivane::platform {
namespace {

// The simulated laptop runs a current release of its system.
class SimulatedOSVersion final : public OperatingSystemVersionSource {
public:
    OperatingSystemVersion version() const override { return {14, 5, 0}; }
};

} // namespace

std::shared_ptr<const OperatingSystemVersionSource> makeDefaultOperatingSystemVersionSource() {
    return std::make_shared<SimulatedOSVersion>();
}

} // namespace brivane::platform
