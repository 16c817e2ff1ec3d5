// Any bytes as a health file either give a log that writes back to the same bytes, or none;
// any 512 bytes decode to a log that survives its own file.
#include "nvme-health/health_log.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace brivane::system_tools;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto log = parseHealthFile(text)) {
        if (parseHealthFile(formatHealthFile(*log)) != log) {
            std::abort();
        }
    }
    std::array<std::uint8_t, nvmeHealthLogBytes> page{};
    std::memcpy(page.data(), data, std::min(size, page.size()));
    const auto log = decodeHealthLog(page, size);
    if (parseHealthFile(formatHealthFile(log)) != log) {
        std::abort();
    }
    return 0;
}
