#include "backends/linux/hwmon/unset_limits.h"

#include <algorithm>

namespace brivane::platform::linux_backend {

RawLimits withoutUnsetLimits(std::string_view driver, SensorKind kind, RawLimits limits) {
    using Match = UnsetLimitRule::Match;
    const bool anyLimit = std::any_of(limits.begin(), limits.end(),
                                      [](const auto& limit) { return limit.has_value(); });
    const bool everyZero =
        anyLimit && std::all_of(limits.begin(), limits.end(),
                                [](const auto& limit) { return !limit || *limit == 0; });
    for (const auto& rule : unsetLimitRules) {
        if (rule.kind != kind || (!rule.driver.empty() && rule.driver != driver)) {
            continue;
        }
        for (auto& limit : limits) {
            const bool unset = limit && (rule.match == Match::equal     ? *limit == rule.raw
                                         : rule.match == Match::atLeast ? *limit >= rule.raw
                                                                        : everyZero);
            if (unset) {
                limit.reset();
            }
        }
    }
    return limits;
}

} // namespace brivane::platform::linux_backend
