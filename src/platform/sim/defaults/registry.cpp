#include "platform/sim/sim_registry.h"

namespace brivane::platform {

std::shared_ptr<Registry> makeDefaultRegistry() {
    return sim::makeSimLaptopRegistry();
}

} // namespace brivane::platform
