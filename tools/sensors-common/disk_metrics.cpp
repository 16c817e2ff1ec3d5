#include "disk_metrics.h"

#include <array>
#include <functional>

namespace brivane::cli {
namespace {

using Reading = StorageHealthReading;
using Figure = std::function<std::optional<double>(const Reading&)>;

struct DiskFamily {
    const char* name;
    const char* help;
    bool counter;
    Figure figure;
};

template <class T> std::optional<double> number(const std::optional<T>& value) {
    return value ? std::optional<double>(static_cast<double>(*value)) : std::nullopt;
}

Figure member(std::optional<std::int64_t> Reading::*field, double scale = 1) {
    return [field, scale](const Reading& reading) {
        const auto value = number(reading.*field);
        return value ? std::optional(*value * scale) : std::nullopt;
    };
}

// NVMe's critical warning bits, by the name their series carry.
constexpr std::array<const char*, 6> warningBits = {
    "spare", "temperature", "reliability", "read_only", "volatile_backup", "persistent_memory"};

const std::vector<DiskFamily>& families() {
    static const std::vector<DiskFamily> list = {
        {"brivane_disk_temperature_celsius", "Temperature the drive reports, in degrees Celsius.",
         false, member(&Reading::temperature)},
        {"brivane_disk_temperature_max_celsius",
         "The drive's own warning temperature, in degrees Celsius.", false,
         member(&Reading::maxTemperature)},
        {"brivane_disk_temperature_crit_celsius",
         "The drive's own critical temperature, in degrees Celsius.", false,
         member(&Reading::criticalTemperature)},
        {"brivane_disk_power_on_seconds_total", "Time the drive has been powered on, in seconds.",
         true, member(&Reading::powerOnHours, 3600)},
        {"brivane_disk_power_cycles_total", "Times the drive was powered on.", true,
         member(&Reading::powerCycles)},
        {"brivane_disk_unsafe_shutdowns_total", "Times the drive lost power unannounced.", true,
         member(&Reading::unsafeShutdowns)},
        {"brivane_disk_read_bytes_total", "Bytes read from the drive over its life.", true,
         member(&Reading::totalRead)},
        {"brivane_disk_written_bytes_total", "Bytes written to the drive over its life.", true,
         member(&Reading::totalWritten)},
        {"brivane_disk_life_used_ratio",
         "Share of the drive's rated life used, 0 to 1 (held at 1 past it).", false,
         [](const Reading& reading) {
             return reading.life ? std::optional((100.0 - static_cast<double>(*reading.life)) / 100)
                                 : std::nullopt;
         }},
        {"brivane_disk_available_spare_ratio", "Spare capacity left, 0 to 1.", false,
         member(&Reading::availableSpare, 0.01)},
        {"brivane_disk_available_spare_threshold_ratio",
         "Spare capacity below which the drive warns, 0 to 1.", false,
         member(&Reading::spareThreshold, 0.01)},
        {"brivane_disk_media_errors_total",
         "Media and data integrity errors the drive could not correct.", true,
         member(&Reading::mediaErrors)},
        {"brivane_disk_reallocated_sectors", "Sectors the drive has replaced with spares.", false,
         member(&Reading::reallocatedSectors)},
        {"brivane_disk_pending_sectors", "Sectors waiting to be replaced after a failed read.",
         false, member(&Reading::pendingSectors)},
        {"brivane_disk_uncorrectable_sectors", "Sectors the drive's offline scan could not read.",
         false, member(&Reading::uncorrectableSectors)},
        {"brivane_disk_smart_failing", "1 when the drive's own health verdict is failing, else 0.",
         false,
         [](const Reading& reading) {
             return reading.smartFailing ? std::optional(*reading.smartFailing ? 1.0 : 0.0)
                                         : std::nullopt;
         }},
        {"brivane_disk_smart_updated_timestamp_seconds",
         "When these figures were read from the drive, in seconds since 1970 (a sleeping drive's "
         "are read once it wakes).",
         false, member(&Reading::updated)},
    };
    return list;
}

MetricFamily::Labels labelsOf(const DiskHealth& disk) {
    MetricFamily::Labels labels{{"disk", disk.disk}};
    for (const auto& [name, value] :
         {std::pair{"model", &disk.reading.model}, std::pair{"serial", &disk.reading.serial}}) {
        if (*value) {
            labels.emplace_back(name, **value);
        }
    }
    return labels;
}

} // namespace

std::vector<MetricFamily> diskFamilies(const DiskHealthList& disks) {
    std::vector<MetricFamily> out;
    for (const auto& family : families()) {
        MetricFamily metric{family.name, family.help, family.counter, {}};
        for (const auto& disk : disks) {
            if (const auto value = family.figure(disk.reading)) {
                metric.samples.push_back({labelsOf(disk), *value});
            }
        }
        if (!metric.samples.empty()) {
            out.push_back(std::move(metric));
        }
    }
    MetricFamily warnings{"brivane_disk_critical_warning",
                          "1 while the drive raises a critical warning, else 0; `warning` names "
                          "it (spare below threshold, temperature, reliability, read_only, ...).",
                          false,
                          {}};
    for (const auto& disk : disks) {
        if (const auto bits = disk.reading.criticalWarning) {
            for (std::size_t bit = 0; bit < warningBits.size(); ++bit) {
                auto labels = labelsOf(disk);
                labels.emplace_back("warning", warningBits[bit]);
                warnings.samples.push_back(
                    {std::move(labels), (*bits >> bit & 1) != 0 ? 1.0 : 0.0});
            }
        }
    }
    if (!warnings.samples.empty()) {
        out.push_back(std::move(warnings));
    }
    return out;
}

} // namespace brivane::cli
