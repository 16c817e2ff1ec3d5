// Any bytes as a kernel CPU list ("0-3,8,10-11"): an accepted list is ascending, distinct and
// bounded, and printed back as single numbers it parses to itself.
#include "backends/linux/cpu/cpu_topology.h"

#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace brivane::platform::linux_backend;
    const auto cpus = parseCpuList(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!cpus)
        return 0;
    std::string printed;
    for (std::size_t i = 0; i < cpus->size(); ++i) {
        const int cpu = (*cpus)[i];
        if (cpu < 0 || cpu > maximumCpuNumber || (i > 0 && (*cpus)[i - 1] >= cpu))
            std::abort();
        printed += (i ? "," : "") + std::to_string(cpu);
    }
    if (parseCpuList(printed) != cpus)
        std::abort();
    return 0;
}
