#pragma once

#include "backends/linux/cpu/cpu_state_reader.h"
#include "backends/linux/polling/sensor_poller.h"
#include "backends/linux/polling/sysfs_channel_group.h"
#include "backends/posix/kernel_files/sysfs_reading.h"
#include "platform/ioreport_source.h"

#include <array>
#include <memory>
#include <string>

namespace brivane::platform::linux_backend {

// The energy and CPU-state counters of a Linux machine, as the channel groups the readers
// subscribe to: "CPU Stats" / "CPU Core Performance States" (cpu_state_channels.h), "Energy
// Model" (energy_channels.h), and "CPU Stats" / "CPU Core Idle States" and "CPU Thermal
// Throttling" (cpu_idle_discovery.h). A group with no channel is absent. Safe to share between
// threads.
class SysfsIOReportSource final : public IOReportSource {
public:
    // sysRoot and procRoot: where sysfs and procfs are mounted. pread is replaceable so tests
    // can make a counter fail the way the kernel does.
    // The energy counters are read by lanes set up by `energy`; its pread is replaced by `pread`.
    explicit SysfsIOReportSource(const std::string& sysRoot,
                                 posix::KeptValue::Pread pread = ::pread,
                                 const std::string& procRoot = "/proc", CpuSampling sampling = {},
                                 SensorPoller::Setup energy = {});
    ~SysfsIOReportSource() override;

    std::optional<IOReportChannelList>
    copyChannelsInGroup(std::string_view group, std::optional<std::string_view> subgroup) override;
    std::optional<IOReportChannelList>
    createMutableCopy(const IOReportChannelList& channels) override;
    IOReportSubscriptionResult createSubscription(const IOReportChannelList& channels) override;
    std::optional<IOReportSample> createSamples(const IOReportSubscription& subscription,
                                                const IOReportChannelList& channels) override;
    std::optional<IOReportDelta> createSamplesDelta(const IOReportSample& older,
                                                    const IOReportSample& newer) override;

    // Without background lanes (tests): runs what is due now for the energy counters.
    void step();

private:
    posix::RootedDirectory sys_;
    posix::RootedDirectory proc_;
    std::array<std::unique_ptr<SysfsChannelGroup>, 4> groups_;
};

} // namespace brivane::platform::linux_backend
