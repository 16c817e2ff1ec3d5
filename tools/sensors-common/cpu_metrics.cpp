#include "cpu_metrics.h"

namespace brivane::cli {

std::vector<MetricFamily> cpuCounterFamilies(const CPUDetailsSnapshot& details) {
    MetricFamily idle{"brivane_cpu_idle_state_seconds_total",
                      "Time the CPUs of a cluster kind spent in an idle state (C-state) since "
                      "they came up, summed over them, in seconds.",
                      true,
                      {}};
    for (const auto& [kind, states] : details.idleStates.value_or(
             std::map<std::string, std::vector<CPUDetailsSnapshot::IdleState>, std::less<>>{})) {
        for (const auto& state : states)
            idle.samples.push_back({{{"cluster", kind}, {"state", state.name}}, state.seconds});
    }
    MetricFamily coreEvents{"brivane_cpu_core_throttles_total",
                            "Times a core of a cluster kind was throttled for heat since boot.",
                            true,
                            {}};
    MetricFamily coreTime{"brivane_cpu_core_throttled_seconds_total",
                          "Time the cores of a cluster kind were throttled for heat since boot, "
                          "summed over them, in seconds.",
                          true,
                          {}};
    MetricFamily packageEvents{"brivane_cpu_package_throttles_total",
                               "Times a processor package was throttled for heat since boot.",
                               true,
                               {}};
    MetricFamily packageTime{"brivane_cpu_package_throttled_seconds_total",
                             "Time a processor package was throttled for heat since boot, in "
                             "seconds.",
                             true,
                             {}};
    const auto add = [](MetricFamily& events, MetricFamily& time, MetricFamily::Labels labels,
                        const CPUDetailsSnapshot::ThrottleCount& count) {
        events.samples.push_back({labels, static_cast<double>(count.events)});
        if (count.seconds)
            time.samples.push_back({std::move(labels), *count.seconds});
    };
    if (details.throttling) {
        for (const auto& [kind, count] : details.throttling->cores)
            add(coreEvents, coreTime, {{"cluster", kind}}, count);
        for (const auto& [package, count] : details.throttling->packages)
            add(packageEvents, packageTime, {{"package", package}}, count);
    }
    std::vector<MetricFamily> out;
    for (auto* family : {&idle, &coreEvents, &coreTime, &packageEvents, &packageTime})
        if (!family->samples.empty())
            out.push_back(std::move(*family));
    return out;
}

} // namespace brivane::cli
