#include "health_log.h"

#include <array>
#include <charconv>
#include <limits>
#include <utility>

namespace brivane::system_tools {
namespace {

using Member = std::uint64_t NvmeHealthLog::*;

// The file's keys, in the order they are written.
constexpr std::array<std::pair<std::string_view, Member>, 13> keys{{
    {"read_at", &NvmeHealthLog::readAt},
    {"critical_warning", &NvmeHealthLog::criticalWarning},
    {"temperature_kelvin", &NvmeHealthLog::temperatureKelvin},
    {"available_spare", &NvmeHealthLog::availableSpare},
    {"available_spare_threshold", &NvmeHealthLog::spareThreshold},
    {"percentage_used", &NvmeHealthLog::percentageUsed},
    {"data_units_read", &NvmeHealthLog::dataUnitsRead},
    {"data_units_written", &NvmeHealthLog::dataUnitsWritten},
    {"power_cycles", &NvmeHealthLog::powerCycles},
    {"power_on_hours", &NvmeHealthLog::powerOnHours},
    {"unsafe_shutdowns", &NvmeHealthLog::unsafeShutdowns},
    {"media_errors", &NvmeHealthLog::mediaErrors},
    {"error_log_entries", &NvmeHealthLog::errorLogEntries},
}};

std::uint64_t little(std::span<const std::uint8_t> bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = bytes.size(); i-- > 0;) {
        value = value << 8 | bytes[i];
    }
    return value;
}

// A 128-bit little-endian counter at offset.
std::uint64_t counter(std::span<const std::uint8_t, nvmeHealthLogBytes> page, std::size_t offset) {
    if (little(page.subspan(offset + 8, 8)) != 0) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return little(page.subspan(offset, 8));
}

} // namespace

NvmeHealthLog decodeHealthLog(std::span<const std::uint8_t, nvmeHealthLogBytes> page,
                              std::uint64_t readAt) {
    NvmeHealthLog log;
    log.readAt = readAt;
    log.criticalWarning = page[0];
    log.temperatureKelvin = little(page.subspan(1, 2));
    log.availableSpare = page[3];
    log.spareThreshold = page[4];
    log.percentageUsed = page[5];
    log.dataUnitsRead = counter(page, 32);
    log.dataUnitsWritten = counter(page, 48);
    log.powerCycles = counter(page, 112);
    log.powerOnHours = counter(page, 128);
    log.unsafeShutdowns = counter(page, 144);
    log.mediaErrors = counter(page, 160);
    log.errorLogEntries = counter(page, 176);
    return log;
}

std::string formatHealthFile(const NvmeHealthLog& log) {
    std::string text;
    for (const auto& [key, member] : keys) {
        text.append(key).append(1, ' ').append(std::to_string(log.*member)).append(1, '\n');
    }
    return text;
}

std::optional<NvmeHealthLog> parseHealthFile(std::string_view text) {
    if (text.size() > healthFileLimit) {
        return std::nullopt;
    }
    NvmeHealthLog log;
    std::array<bool, keys.size()> seen{};
    while (!text.empty()) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos) {
            return std::nullopt; // a file cut short
        }
        const auto line = text.substr(0, end);
        text.remove_prefix(end + 1);
        const auto blank = line.find(' ');
        if (blank == std::string_view::npos) {
            return std::nullopt;
        }
        const auto key = line.substr(0, blank);
        const auto digits = line.substr(blank + 1);
        std::size_t index = 0;
        while (index < keys.size() && keys[index].first != key) {
            ++index;
        }
        std::uint64_t value = 0;
        const auto [rest, error] =
            std::from_chars(digits.data(), digits.data() + digits.size(), value);
        if (index == keys.size() || seen[index] || digits.empty() || error != std::errc() ||
            rest != digits.data() + digits.size()) {
            return std::nullopt;
        }
        seen[index] = true;
        log.*keys[index].second = value;
    }
    for (const bool found : seen) {
        if (!found) {
            return std::nullopt;
        }
    }
    return log;
}

} // namespace brivane::system_tools
