// Any bytes as a /proc/<pid>/fdinfo/<fd> text: an accepted one names its driver, keeps its
// engines and regions within bounds, and never gives a negative or unbounded busy time.
#include "backends/linux/gpu/drm_fdinfo.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace brivane::platform::linux_backend;
    const auto usage = parseDrmFdinfo(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!usage)
        return 0;
    if (usage->driver.empty() || usage->engineNanoseconds.size() > maximumDrmKeys ||
        usage->cycles.size() > maximumDrmKeys || usage->totalCycles.size() > maximumDrmKeys)
        std::abort();
    for (const auto& [engine, nanoseconds] : usage->engineNanoseconds)
        if (engine.empty() || !(nanoseconds >= 0))
            std::abort();
    return 0;
}
