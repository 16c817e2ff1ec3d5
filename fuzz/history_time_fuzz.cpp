// `history --since` and `--until` as a user may type them: any text either fails with a reason
// or gives a time no further than a century from now.

#include "history/history_time.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    constexpr std::int64_t now = 1772323200000; // 2026-03-01
    constexpr std::int64_t century = 101LL * 366 * 24 * 3600 * 1000;
    std::string problem;
    const auto time = brivane::cli::parseHistoryTime(text, now, problem);
    if (time ? (*time < now - century || *time > now + century) : problem.empty()) {
        std::abort();
    }
    if (time) {
        (void)brivane::cli::utcText(*time);
        (void)brivane::cli::localText(*time, true);
    }
    return 0;
}
