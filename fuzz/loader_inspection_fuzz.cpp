// Any bytes as a process's environment and maps: only loader variables are named, each once,
// and only paths from outside the library folders, each once.
#include "backends/posix/kernel_files/loader_inspection.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace brivane::platform::posix;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto variables = loaderVariablesIn(bytes);
    for (const auto& name : variables) {
        if (std::count(variables.begin(), variables.end(), name) != 1 ||
            std::find(loaderVariables.begin(), loaderVariables.end(), name) ==
                loaderVariables.end())
            std::abort();
    }
    const auto objects = foreignObjectsIn(bytes, "/opt/agent");
    for (const auto& path : objects) {
        if (std::count(objects.begin(), objects.end(), path) != 1 || path.front() != '/' ||
            path.starts_with("/usr/lib/") || path == "/opt/agent" ||
            path.find('\n') != std::string::npos)
            std::abort();
    }
    return 0;
}
