#include "platform/linux/process_sampling.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <ctime>
#include <limits>
#include <unistd.h>

namespace brivane::platform::linux_backend {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

std::string_view nextField(std::string_view& rest) {
    std::size_t start = 0;
    while (start < rest.size() && isBlank(rest[start]))
        ++start;
    std::size_t end = start;
    while (end < rest.size() && !isBlank(rest[end]))
        ++end;
    const std::string_view field = rest.substr(start, end - start);
    rest.remove_prefix(end);
    return field;
}

std::optional<std::uint64_t> counterField(std::string_view text) {
    std::uint64_t value = 0;
    if (text.empty())
        return std::nullopt;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// "<pid>/<leaf>" relative to the /proc root, in a fixed buffer.
struct PidPath {
    std::array<char, 32> text{};

    PidPath(std::int32_t pid, std::string_view leaf) {
        auto [end, ec] = std::to_chars(text.data(), text.data() + 12, pid);
        (void)ec;
        *end++ = '/';
        for (char c : leaf)
            *end++ = c;
        *end = '\0';
    }
    const char* c_str() const { return text.data(); }
};

std::uint64_t monotonicNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000'000u +
           static_cast<std::uint64_t>(now.tv_nsec);
}

} // namespace

std::optional<std::uint64_t> parseSchedstatRunTime(std::string_view schedstat) {
    std::string_view rest = schedstat;
    const auto runTime = counterField(nextField(rest));
    // A cut or foreign line has no second field.
    if (!runTime || nextField(rest).empty())
        return std::nullopt;
    return runTime;
}

std::optional<std::uint64_t> parseStatCpuTicks(std::string_view stat) {
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos)
        return std::nullopt;
    std::string_view rest = stat.substr(close + 1);
    // Field 3 (state) is the first after the name; utime and stime are fields 14 and 15.
    for (int field = 3; field < 14; ++field) {
        if (nextField(rest).empty())
            return std::nullopt;
    }
    const auto user = counterField(nextField(rest));
    const auto system = counterField(nextField(rest));
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
    std::array<char, 128> schedstat;
    if (auto text = proc_.readHead(PidPath(pid, "schedstat").c_str(), schedstat)) {
        if (auto runTime = parseSchedstatRunTime(*text))
            return runTime;
    }
    std::array<char, 1024> stat;
    auto text = proc_.readHead(PidPath(pid, "stat").c_str(), stat);
    auto ticks = text ? parseStatCpuTicks(*text) : std::nullopt;
    if (!ticks)
        return std::nullopt;
    return *ticks * nanosecondsPerTick_;
}

CpuTimeSample ProcessCpuSampler::sample() const {
    CpuTimeSample sample;
    const std::uint64_t start = monotonicNanoseconds();
    std::vector<std::int32_t> pids;
    pids.reserve(1024);
    proc_.forEachEntry(".", [&](std::string_view name) {
        std::int32_t pid = 0;
        auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
        if (ec == std::errc{} && end == name.data() + name.size() && pid > 0)
            pids.push_back(pid);
    });
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
    std::array<char, 64> buffer;
    auto comm = proc_.readHead(PidPath(pid, "comm").c_str(), buffer);
    if (!comm)
        return std::nullopt;
    std::string_view text = withoutNewline(*comm);
    if (text.empty())
        return std::nullopt;
    return std::string(text);
}

} // namespace brivane::platform::linux_backend
