#include "plot_scale.h"

#include "platform/sensor_kinds.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace brivane::cli {

PlotScale plotScale(const std::vector<const SeriesReport*>& series) {
    PlotScale scale;
    bool any = false;
    double low = 0, high = 0;
    for (const auto* row : series) {
        for (const auto& point : row->points) {
            const double minimum = shownValue(point.minimum, row->series->unit);
            const double maximum = shownValue(point.maximum, row->series->unit);
            low = any ? std::min(low, minimum) : minimum;
            high = any ? std::max(high, maximum) : maximum;
            any = true;
        }
    }
    if (!any) {
        return scale;
    }
    const double reach = std::max(high - low, std::max(std::abs(high) * 0.1, 1.0));
    using platform::SensorLimit;
    for (const auto* row : series) {
        for (std::size_t i = 0; i < row->series->marks.limits.size(); ++i) {
            const auto limit = row->series->marks.limits[i];
            const auto which = static_cast<SensorLimit>(i);
            if (!limit || which == SensorLimit::target) {
                continue;
            }
            const double value = shownValue(*limit, row->series->unit);
            if (value < low - reach || value > high + reach) {
                continue;
            }
            const bool known = std::any_of(scale.limits.begin(), scale.limits.end(),
                                           [&](const PlotLimit& l) { return l.value == value; });
            if (!known) {
                scale.limits.push_back({value, std::string(platform::sensorLimitWords[i]),
                                        which == SensorLimit::crit || which == SensorLimit::lcrit ||
                                            which == SensorLimit::emergency});
            }
            low = std::min(low, value);
            high = std::max(high, value);
        }
    }
    const double pad = std::max((high - low) * 0.05, std::max(std::abs(high) * 0.01, 0.5));
    scale.low = low - pad;
    scale.high = high + pad;
    const double span = scale.high - scale.low;
    scale.decimals = span >= 20 ? 0 : span >= 2 ? 1 : 2;
    return scale;
}

std::vector<TimeTick> timeTicks(std::int64_t sinceMs, std::int64_t untilMs, std::size_t slots) {
    constexpr std::int64_t steps[] = {60,     300,     600,     900,     1800,  3600,
                                      7200,   10800,   21600,   43200,   86400, 172800,
                                      604800, 2419200, 7257600, 31536000};
    const std::int64_t seconds = std::max<std::int64_t>((untilMs - sinceMs) / 1000, 1);
    std::int64_t step = steps[std::size(steps) - 1];
    for (const std::int64_t candidate : steps) {
        if (seconds / candidate <= static_cast<std::int64_t>(std::max<std::size_t>(slots, 1))) {
            step = candidate;
            break;
        }
    }
    std::tm fields{};
    const std::time_t start = static_cast<std::time_t>(sinceMs / 1000);
    ::localtime_r(&start, &fields);
    const std::int64_t offset = fields.tm_gmtoff;
    const char* format = step >= 86400 ? "%b %d" : seconds > 86400 ? "%a %H:%M" : "%H:%M";
    std::vector<TimeTick> ticks;
    std::int64_t tick = ((sinceMs / 1000 + offset + step - 1) / step) * step - offset;
    for (; tick * 1000 <= untilMs; tick += step) {
        const std::time_t at = static_cast<std::time_t>(tick);
        char label[32] = "";
        if (::localtime_r(&at, &fields)) {
            std::strftime(label, sizeof label, format, &fields);
        }
        ticks.push_back({tick * 1000, label});
    }
    return ticks;
}

} // namespace brivane::cli
