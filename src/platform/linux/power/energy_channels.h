#pragma once

#include "platform/linux/sysfs_channel_group.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// "Energy Model", unit "uJ": "CPU Energy", the sum of the RAPL package zones; "GPU Energy", the
// uncore zones or else the first energy counter of graphics hwmon chips; and every other
// readable hwmon energy counter as a channel "<chip>/<label>" ("energyN" without a label). A
// counter the user cannot read leaves its channel out. Samples hold counters unwrapped by the
// subscription (each at its own wrap range), so a delta is a plain difference.
class EnergyChannels final : public SysfsChannelGroup {
public:
    EnergyChannels(const host::RootedDirectory& sys, host::KeptValue::Pread pread);

    bool names(std::string_view group, std::optional<std::string_view> subgroup) const override;
    std::optional<IOReportChannelList> discover() override;
    std::unique_ptr<GroupReader> subscribe(const IOReportChannelList& wanted,
                                           std::size_t& kept) override;

    // How a channel is read: counters summed, each with its wrap range (0 when unknown).
    struct Plan {
        IOReportChannel description;
        std::vector<std::string> counterFiles;
        std::vector<std::uint64_t> ranges;
    };

private:
    bool readable(const std::string& relative) const;
    // The steps of discover(): the RAPL zones, a plan summing some, the hwmon counters.
    struct Zones {
        std::vector<std::string> packages, uncores;
    };
    Zones raplZones() const;
    std::optional<Plan> zonesPlan(std::uint64_t id, const char* name,
                                  const std::vector<std::string>& zones) const;
    std::vector<unsigned> readableEnergyIndices(const std::string& chip) const;
    void hwmonCounters(bool gpuFound, std::vector<Plan>& counters,
                       std::vector<std::string>& graphicsCounters) const;

    const host::RootedDirectory& sys_;
    host::KeptValue::Pread pread_;
    std::mutex mutex_;
    std::map<std::uint64_t, Plan> plans_;
};

} // namespace brivane::platform::linux_backend
