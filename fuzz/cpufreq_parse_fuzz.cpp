// Any bytes as a cpufreq stats/time_in_state file: an accepted table is non-empty, bounded and
// strictly ascending in frequency, and every state gets a name.
#include "backends/linux/cpu/cpufreq_parsing.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace brivane::platform::linux_backend;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto table = parseTimeInState(text);
    if (!table)
        return 0;
    if (table->empty() || table->size() > maximumFrequencies)
        std::abort();
    for (std::size_t i = 0; i < table->size(); ++i) {
        if (i > 0 && (*table)[i - 1].kiloHertz >= (*table)[i].kiloHertz)
            std::abort();
        if (frequencyStateName((*table)[i].kiloHertz).size() < 5)
            std::abort();
    }
    return 0;
}
