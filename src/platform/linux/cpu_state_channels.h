#pragma once

#include "platform/linux/sysfs_channel_group.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// "CPU Stats" / "CPU Core Performance States": one state channel per online CPU with a cpufreq
// stats table, named by cluster kind and CPU number ("ECPU3", "PCPU0"). Its states are the
// policy's frequencies in ascending order ("1800 MHz"), then "IDLE" with the CPU's cpuidle
// time when it has idle states. Residencies are microseconds.
class CpuStateChannels final : public SysfsChannelGroup {
public:
    CpuStateChannels(const host::RootedDirectory& sys, host::KeptValue::Pread pread);

    bool names(std::string_view group, std::optional<std::string_view> subgroup) const override;
    std::optional<IOReportChannelList> discover() override;
    std::unique_ptr<GroupReader> subscribe(const IOReportChannelList& wanted,
                                           std::size_t& kept) override;

    // How a channel is read: the policy's time_in_state, its frequencies (kHz, ascending) and
    // the CPU's cpuidle stateN/time files.
    struct Plan {
        IOReportChannel description;
        std::string frequencyFile;
        std::vector<std::uint64_t> kiloHertz;
        std::vector<std::string> idleFiles;
    };

private:
    const host::RootedDirectory& sys_;
    host::KeptValue::Pread pread_;
    std::mutex mutex_;
    std::map<std::uint64_t, Plan> plans_;
};

} // namespace brivane::platform::linux_backend
