#include "backends/linux/cpu/cpu_state_channels.h"

#include "backends/linux/cpu/cpu_state_discovery.h"

#include <algorithm>

namespace brivane::platform::linux_backend {

namespace {

constexpr std::string_view cpuGroup = "CPU Stats";
constexpr std::string_view cpuSubgroup = "CPU Core Performance States";

} // namespace

CpuStateChannels::CpuStateChannels(const posix::RootedDirectory& sys,
                                   const posix::RootedDirectory& proc,
                                   posix::KeptValue::Pread pread, CpuSampling sampling)
    : sys_(sys), proc_(proc), pread_(pread), sampling_(sampling) {}

bool CpuStateChannels::names(std::string_view group,
                             std::optional<std::string_view> subgroup) const {
    return group == cpuGroup && (!subgroup || *subgroup == cpuSubgroup);
}

std::optional<IOReportChannelList> CpuStateChannels::discover() {
    std::vector<CpuStatePlan> plans = discoverCpuStatePlans(sys_, proc_, pread_);
    IOReportChannelList channels;
    std::lock_guard lock(mutex_);
    for (CpuStatePlan& plan : plans) {
        channels.push_back(plan.description);
        plans_.insert_or_assign(plan.description.channelID, std::move(plan));
    }
    if (channels.empty())
        return std::nullopt;
    return channels;
}

std::unique_ptr<GroupReader> CpuStateChannels::subscribe(const IOReportChannelList& wanted,
                                                         std::size_t& kept) {
    std::vector<CpuStatePlan> plans;
    std::lock_guard lock(mutex_);
    for (const IOReportChannel& want : wanted) {
        const auto found = plans_.find(want.channelID);
        if (found == plans_.end() ||
            std::any_of(plans.begin(), plans.end(), [&](const CpuStatePlan& plan) {
                return plan.description.channelID == want.channelID;
            }))
            continue;
        plans.push_back(found->second);
    }
    if (plans.empty())
        return nullptr;
    return std::make_unique<CpuStateReader>(sys_, proc_, std::move(plans), pread_, kept, sampling_);
}

} // namespace brivane::platform::linux_backend
