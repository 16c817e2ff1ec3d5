#include "backends/posix/kernel_files/line_safe_name.h"
#include "backends/sim/canned_outputs.h"
#include "platform/process_table.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace brivane::platform::sim {
namespace {

// Built from a process table (the host's, so that the pids it reports exist).
struct SampledProcess {
    int32_t pid;
    std::string name;
    double power;
};

constexpr std::size_t processesPerSample = 130;

// A stable, plausible power figure per pid: most processes idle, a few busy.
double simulatedPower(int32_t pid) {
    uint32_t mixed = static_cast<uint32_t>(pid) * 2654435761u;
    uint32_t bucket = mixed >> 24;
    if (bucket < 160)
        return 0.0;
    return static_cast<double>((mixed >> 8) % 400) / 10.0;
}

std::string header(int total, const char* clock, const char* load) {
    char text[1024];
    std::snprintf(text, sizeof text,
                  "Processes: %d total, 3 running, %d sleeping, %d threads \n"
                  "2026/01/01 %s\n"
                  "Load Avg: %s \n"
                  "CPU usage: 6.81%% user, 5.42%% sys, 87.76%% idle \n"
                  "SharedLibs: 412M resident, 81M data, 39M linkedit.\n"
                  "MemRegions: 180212 total, 6120M resident, 301M private, 2405M shared.\n"
                  "PhysMem: 15G used (2108M wired, 1203M compressor), 894M unused.\n"
                  "VM: 231T vsize, 4880M framework vsize, 0(0) swapins, 0(0) swapouts.\n"
                  "Networks: packets: 1920331/2011M in, 1022340/410M out.\n"
                  "Disks: 3412094/61G read, 1893401/44G written.\n"
                  "\n"
                  "PID    COMMAND          POWER \n",
                  total, total - 3, total * 4, clock, load);
    return text;
}

void appendSample(std::string& out, const std::vector<SampledProcess>& processes, bool settled) {
    char line[128];
    for (const SampledProcess& process : processes) {
        // The first sample has no interval behind it, so the monitor prints zeros.
        std::snprintf(line, sizeof line, "%-6d %-16.16s %.1f \n", process.pid, process.name.c_str(),
                      settled ? process.power : 0.0);
        out += line;
    }
}

} // namespace

std::string cannedTopOutput(const ProcessTable& table) {
    std::vector<SampledProcess> processes;
    for (int32_t pid : table.allPids()) {
        if (auto name = table.name(pid))
            processes.push_back({pid, posix::lineSafeName(*name), simulatedPower(pid)});
    }
    std::sort(processes.begin(), processes.end(), [](const auto& a, const auto& b) {
        return a.power != b.power ? a.power > b.power : a.pid < b.pid;
    });
    const int total = static_cast<int>(processes.size());
    if (processes.size() > processesPerSample)
        processes.resize(processesPerSample);

    std::string out = header(total, "10:41:07", "1.92, 2.14, 2.30");
    std::vector<SampledProcess> byPid = processes;
    std::sort(byPid.begin(), byPid.end(),
              [](const auto& a, const auto& b) { return a.pid < b.pid; });
    appendSample(out, byPid, false);
    out += header(total, "10:41:08", "1.92, 2.14, 2.30");
    appendSample(out, processes, true);
    return out;
}

} // namespace brivane::platform::sim
