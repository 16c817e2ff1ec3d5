// Any bytes as a cpuidle folder's entry and as a state's name file: an accepted entry is
// "state<N>" spelled one way within bounds, an accepted name 1 to 15 safe characters.
#include "backends/linux/cpu/cpuidle_parsing.h"

#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace brivane::platform::linux_backend;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto number = idleStateNumber(text)) {
        if (*number < 0 || *number >= maximumIdleStates ||
            text != "state" + std::to_string(*number))
            std::abort();
    }
    if (const auto name = idleStateName(text)) {
        if (name->empty() || name->size() > 15 ||
            name->find_first_of("\n\t\x1b") != std::string::npos || name->front() == ' ' ||
            name->back() == ' ')
            std::abort();
        if (text != *name && text != *name + "\n")
            std::abort();
    }
    return 0;
}
