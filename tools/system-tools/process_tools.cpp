#include "process_tools.h"

#include "process_listing.h"

#include <algorithm>
#include <ctime>
#include <thread>
#include <unistd.h>

namespace brivane::system_tools {

namespace {

unsigned onlineCpus() {
    const long count = ::sysconf(_SC_NPROCESSORS_ONLN);
    return count > 0 ? static_cast<unsigned>(count) : 1u;
}

std::string wallClock() {
    char text[32];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
    return text;
}

} // namespace

std::string processStatusOutput(const ProcessCpuSampler& sampler, std::chrono::nanoseconds window,
                                std::int32_t ownPid) {
    const CpuTimeSample first = sampler.sample();
    std::this_thread::sleep_for(window);
    const CpuTimeSample second = sampler.sample();
    std::string out;
    out.reserve(second.processes.size() * 32);
    for (const ProcessCpuUse& use : recentCpuUse(first, second, ownPid, onlineCpus())) {
        // A process that ended meanwhile has no name any more and is left out.
        if (auto name = sampler.name(use.pid))
            appendProcessStatusLine(out, use.pid, use.percent, lineSafeName(*name));
    }
    return out;
}

std::string processMonitorOutput(const ProcessCpuSampler& sampler, int samples,
                                 std::chrono::nanoseconds interval, std::size_t limit,
                                 std::int32_t ownPid) {
    std::string out;
    CpuTimeSample previous = sampler.sample();
    std::vector<MonitorRow> rows;
    for (int index = 0; index < samples; ++index) {
        rows.clear();
        std::size_t processCount = previous.processes.size();
        if (index == 0) {
            for (const ProcessCpuTime& process : previous.processes) {
                if (rows.size() == limit)
                    break;
                auto name = process.pid == ownPid ? std::nullopt : sampler.name(process.pid);
                if (name)
                    rows.push_back({process.pid, lineSafeName(*name), 0.0});
            }
        } else {
            std::this_thread::sleep_for(interval);
            CpuTimeSample current = sampler.sample();
            // Measured power (a battery's draw, RAPL) exists only on some machines and some of
            // the time; scaling by it would change the column's unit with the charger.
            for (const ProcessCpuUse& use : recentCpuUse(previous, current, ownPid, onlineCpus())) {
                if (rows.size() == limit)
                    break;
                if (auto name = sampler.name(use.pid))
                    rows.push_back({use.pid, lineSafeName(*name), use.percent});
            }
            processCount = current.processes.size();
            previous = std::move(current);
        }
        appendMonitorSample(out, rows, processCount, wallClock());
    }
    return out;
}

} // namespace brivane::system_tools
