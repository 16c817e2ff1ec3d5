#include "process_sampling.h"

#include "backends/posix/kernel_files/proc_fields.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <unistd.h>

namespace brivane::system_tools {

namespace {

std::uint64_t monotonicNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

} // namespace

std::optional<std::uint64_t> parseSchedstatRunTime(std::string_view schedstat) {
    std::string_view rest = schedstat;
    const auto runTime = platform::posix::parseUnsigned(platform::posix::nextField(rest));
    // A cut or foreign line has no second field.
    if (!runTime || platform::posix::nextField(rest).empty())
        return std::nullopt;
    return runTime;
}

std::optional<std::uint64_t> parseStatCpuTicks(std::string_view stat) {
    // utime and stime are fields 14 and 15.
    auto rest = platform::posix::statFieldsFrom(stat, 14);
    if (!rest)
        return std::nullopt;
    const auto user = platform::posix::parseUnsigned(platform::posix::nextField(*rest));
    const auto system = platform::posix::parseUnsigned(platform::posix::nextField(*rest));
    if (!user || !system || *system > std::numeric_limits<std::uint64_t>::max() - *user)
        return std::nullopt;
    return *user + *system;
}

ProcessCpuSampler::ProcessCpuSampler(const std::string& procRoot) : proc_(procRoot) {
    const long ticks = ::sysconf(_SC_CLK_TCK);
    if (ticks > 0)
        nanosecondsPerTick_ = 1'000'000'000u / static_cast<std::uint64_t>(ticks);
}

std::optional<std::uint64_t> ProcessCpuSampler::cpuTime(std::int32_t pid) const {
    if (auto runTime = readParsed<128>(proc_, pid, "schedstat", parseSchedstatRunTime))
        return runTime;
    const auto ticks = readParsed<1024>(proc_, pid, "stat", parseStatCpuTicks);
    if (!ticks)
        return std::nullopt;
    return *ticks * nanosecondsPerTick_;
}

CpuTimeSample ProcessCpuSampler::sample() const {
    CpuTimeSample sample;
    const std::uint64_t start = monotonicNanoseconds();
    std::vector<std::int32_t> pids = processIds(proc_);
    std::sort(pids.begin(), pids.end());
    sample.processes.reserve(pids.size());
    for (std::int32_t pid : pids) {
        if (auto time = cpuTime(pid))
            sample.processes.push_back({pid, *time});
    }
    // The middle of the pass stands for the moment of the sample.
    sample.takenAt = start + (monotonicNanoseconds() - start) / 2;
    return sample;
}

std::optional<std::string> ProcessCpuSampler::name(std::int32_t pid) const {
    return readParsed<64>(proc_, pid, "comm", platform::posix::commandName);
}

} // namespace brivane::system_tools
