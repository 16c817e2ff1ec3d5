#pragma once

#include "backends/linux/cpu/cpu_state_reader.h"
#include "backends/linux/polling/sysfs_channel_group.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace brivane::platform::linux_backend {

// "CPU Stats" / "CPU Core Performance States": one state channel per online CPU whose
// frequency can be known, named by cluster kind and CPU number ("ECPU3", "PCPU0"). Its states
// are frequencies in ascending order ("1800 MHz"), then "IDLE"; each frequency state holds the
// CPU's active time there, IDLE its idle time, in microseconds (cpu_state_reader.h). The
// frequencies are the policy's time_in_state table where it has one, else bins over the
// kind's frequency range. Nothing without /proc/stat.
class CpuStateChannels final : public SysfsChannelGroup {
public:
    CpuStateChannels(const posix::RootedDirectory& sys, const posix::RootedDirectory& proc,
                     posix::KeptValue::Pread pread, CpuSampling sampling);

    bool names(std::string_view group, std::optional<std::string_view> subgroup) const override;
    std::optional<IOReportChannelList> discover() override;
    std::unique_ptr<GroupReader> subscribe(const IOReportChannelList& wanted,
                                           std::size_t& kept) override;

private:
    const posix::RootedDirectory& sys_;
    const posix::RootedDirectory& proc_;
    posix::KeptValue::Pread pread_;
    CpuSampling sampling_;
    std::mutex mutex_;
    std::map<std::uint64_t, CpuStatePlan> plans_;
};

} // namespace brivane::platform::linux_backend
