#include "process_listing.h"

#include <algorithm>
#include <cstdio>

namespace brivane::system_tools {

std::vector<ProcessCpuUse> recentCpuUse(const CpuTimeSample& older, const CpuTimeSample& newer,
                                        std::int32_t excludedPid, unsigned cpuCount) {
    std::vector<ProcessCpuUse> uses;
    if (newer.takenAt <= older.takenAt)
        return uses;
    const double window = static_cast<double>(newer.takenAt - older.takenAt);
    const double ceiling = 100.0 * std::max(1u, cpuCount);
    uses.reserve(newer.processes.size());
    auto before = older.processes.begin();
    for (const ProcessCpuTime& now : newer.processes) {
        if (now.pid == excludedPid)
            continue;
        while (before != older.processes.end() && before->pid < now.pid)
            ++before;
        std::uint64_t ran = now.nanoseconds;
        if (before != older.processes.end() && before->pid == now.pid &&
            before->nanoseconds <= now.nanoseconds)
            ran = now.nanoseconds - before->nanoseconds;
        uses.push_back({now.pid, std::min(ceiling, 100.0 * static_cast<double>(ran) / window)});
    }
    std::stable_sort(uses.begin(), uses.end(),
                     [](const auto& a, const auto& b) { return a.percent > b.percent; });
    return uses;
}

void appendProcessStatusLine(std::string& out, std::int32_t pid, double percent,
                             std::string_view name) {
    char numbers[48];
    const int length = std::snprintf(numbers, sizeof numbers, "%5d %4.1f ", pid, percent);
    out.append(numbers, static_cast<std::size_t>(std::max(0, length)));
    out.append(name);
    out.push_back('\n');
}

void appendMonitorSample(std::string& out, const std::vector<MonitorRow>& rows,
                         std::size_t processCount, std::string_view wallClock) {
    char line[64];
    std::snprintf(line, sizeof line, "Processes: %zu total\n", processCount);
    out += line;
    out.append(wallClock);
    out += "\n\nPID    COMMAND          POWER \n";
    for (const MonitorRow& row : rows) {
        std::snprintf(line, sizeof line, "%-6d ", row.pid);
        out += line;
        out += row.name;
        const std::size_t padding = row.name.size() < 16 ? 16 - row.name.size() : 0;
        out.append(padding + 1, ' ');
        std::snprintf(line, sizeof line, "%.1f \n", row.power);
        out += line;
    }
}

} // namespace brivane::system_tools
