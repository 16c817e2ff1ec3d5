#pragma once

#include "platform/host/sysfs_reading.h"
#include "platform/ioreport_source.h"

#include <map>
#include <mutex>
#include <string>

namespace brivane::platform::linux_backend {

// The energy and CPU-state counters of a Linux machine, as the two channel groups the readers
// subscribe to:
//
// "CPU Stats" / "CPU Core Performance States": one state channel per online CPU with a cpufreq
// stats table, named by cluster kind and CPU number ("ECPU3", "PCPU0"). Its states are the
// policy's frequencies in ascending order ("1800 MHz"), then "IDLE" with the CPU's cpuidle
// time when it has idle states. Residencies are microseconds.
//
// "Energy Model": "CPU Energy", the sum of the RAPL package zones, and "GPU Energy", the
// uncore zones or else the energy counters of graphics hwmon chips; unit "uJ". A counter the
// user cannot read leaves its channel out, and a group with no channel is absent.
//
// Samples hold counters unwrapped by the subscription (each at its own wrap range), so a
// delta is a plain difference. Safe to share between threads.
class SysfsIOReportSource final : public IOReportSource {
public:
    // sysRoot: where sysfs is mounted ("/sys"). pread is replaceable so tests can make a
    // counter fail the way the kernel does.
    explicit SysfsIOReportSource(const std::string& sysRoot,
                                 host::KeptValue::Pread pread = ::pread);

    std::optional<IOReportChannelList>
    copyChannelsInGroup(std::string_view group, std::optional<std::string_view> subgroup) override;
    std::optional<IOReportChannelList>
    createMutableCopy(const IOReportChannelList& channels) override;
    IOReportSubscriptionResult createSubscription(const IOReportChannelList& channels) override;
    std::optional<IOReportSample> createSamples(const IOReportSubscription& subscription,
                                                const IOReportChannelList& channels) override;
    std::optional<IOReportDelta> createSamplesDelta(const IOReportSample& older,
                                                    const IOReportSample& newer) override;

    // How a discovered channel is read; public for the subscription's use.
    struct ChannelPlan {
        IOReportChannel description;
        // State channels: the policy's time_in_state, its frequencies (kHz, ascending) and the
        // CPU's cpuidle stateN/time files.
        std::string frequencyFile;
        std::vector<std::uint64_t> kiloHertz;
        std::vector<std::string> idleFiles;
        // Simple channels: counters summed, each with its wrap range (0 when unknown).
        std::vector<std::string> counterFiles;
        std::vector<std::uint64_t> ranges;
    };

private:
    std::vector<ChannelPlan> discoverCpuStates() const;
    std::vector<ChannelPlan> discoverEnergy() const;
    bool readable(const std::string& relative) const;

    host::RootedDirectory sys_;
    host::KeptValue::Pread pread_;
    mutable std::mutex mutex_;
    std::map<std::uint64_t, ChannelPlan> plans_;
};

} // namespace brivane::platform::linux_backend
