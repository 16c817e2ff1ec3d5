#include "backends/linux/gpu/drm_fdinfo.h"

#include "backends/posix/kernel_files/sysfs_reading.h"

#include <limits>

namespace brivane::platform::linux_backend {

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

// "<n>", "<n> <unit>": the number and its unit word.
std::optional<std::pair<std::uint64_t, std::string_view>> numberAndUnit(std::string_view value) {
    const auto space = value.find(' ');
    const auto number = posix::parseUnsigned(value.substr(0, space));
    if (!number)
        return std::nullopt;
    return std::pair{*number, space == std::string_view::npos ? std::string_view{}
                                                              : trimmed(value.substr(space + 1))};
}

std::optional<std::uint64_t> bytes(std::string_view value) {
    const auto parsed = numberAndUnit(value);
    if (!parsed)
        return std::nullopt;
    const auto [number, unit] = *parsed;
    const std::uint64_t scale = unit.empty()    ? 1
                                : unit == "KiB" ? 1024
                                : unit == "MiB" ? 1 << 20
                                                : 0;
    if (scale == 0 || number > std::numeric_limits<std::uint64_t>::max() / scale)
        return std::nullopt;
    return number * scale;
}

std::optional<std::uint64_t> sum(std::optional<std::uint64_t> total, std::uint64_t more) {
    const std::uint64_t base = total.value_or(0);
    return base > std::numeric_limits<std::uint64_t>::max() - more ? std::nullopt
                                                                   : std::optional(base + more);
}

} // namespace

std::optional<DrmClientUsage> parseDrmFdinfo(std::string_view text) {
    DrmClientUsage usage;
    std::map<std::string, std::uint64_t> busy, capacity;
    std::optional<std::uint64_t> legacyMemory;
    std::size_t keys = 0;
    while (!text.empty()) {
        const auto end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        const auto colon = line.find(':');
        if (colon == std::string_view::npos || !line.starts_with("drm-"))
            continue;
        const std::string_view key = line.substr(4, colon - 4);
        const std::string_view value = trimmed(line.substr(colon + 1));
        const auto suffix = [&](std::string_view prefix) -> std::optional<std::string> {
            if (!key.starts_with(prefix) || key.size() == prefix.size())
                return std::nullopt;
            return std::string(key.substr(prefix.size()));
        };
        if (++keys > 4 * maximumDrmKeys)
            return std::nullopt;
        if (key == "driver") {
            if (value.empty())
                return std::nullopt;
            usage.driver = std::string(value);
        } else if (key == "pdev") {
            usage.pciAddress = std::string(value);
        } else if (key == "client-id") {
            usage.clientId = posix::parseUnsigned(value);
            if (!usage.clientId)
                return std::nullopt;
        } else if (auto engine = suffix("engine-capacity-")) {
            const auto count = posix::parseUnsigned(value);
            if (!count || *count == 0)
                return std::nullopt;
            capacity[*engine] = *count;
        } else if (auto engine = suffix("engine-")) {
            const auto parsed = numberAndUnit(value);
            if (!parsed || parsed->second != "ns")
                return std::nullopt;
            busy[*engine] = parsed->first;
        } else if (auto engine = suffix("total-cycles-")) {
            const auto count = posix::parseUnsigned(value);
            if (!count)
                return std::nullopt;
            usage.totalCycles[*engine] = *count;
        } else if (auto engine = suffix("cycles-")) {
            const auto count = posix::parseUnsigned(value);
            if (!count)
                return std::nullopt;
            usage.cycles[*engine] = *count;
        } else if (auto region = suffix("total-")) {
            const auto size = bytes(value);
            if (!size || !(usage.totalBytes = sum(usage.totalBytes, *size)))
                return std::nullopt;
        } else if (auto region = suffix("resident-")) {
            const auto size = bytes(value);
            if (!size || !(usage.residentBytes = sum(usage.residentBytes, *size)))
                return std::nullopt;
        } else if (auto region = suffix("memory-")) {
            const auto size = bytes(value);
            if (!size || !(legacyMemory = sum(legacyMemory, *size)))
                return std::nullopt;
        }
        if (busy.size() > maximumDrmKeys || capacity.size() > maximumDrmKeys ||
            usage.cycles.size() > maximumDrmKeys || usage.totalCycles.size() > maximumDrmKeys)
            return std::nullopt;
    }
    if (usage.driver.empty())
        return std::nullopt;
    for (const auto& [engine, nanoseconds] : busy) {
        const auto found = capacity.find(engine);
        usage.engineNanoseconds[engine] =
            static_cast<double>(nanoseconds) /
            static_cast<double>(found == capacity.end() ? 1 : found->second);
    }
    if (!usage.residentBytes)
        usage.residentBytes = legacyMemory;
    return usage;
}

} // namespace brivane::platform::linux_backend
