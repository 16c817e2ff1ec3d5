#include "backends/linux/cpu/summed_counter_group.h"

#include <algorithm>

namespace brivane::platform::linux_backend {

namespace {

class SummedCounterReader final : public GroupReader {
public:
    SummedCounterReader(const posix::RootedDirectory& sys, std::vector<SummedChannel> channels)
        : sys_(sys), channels_(std::move(channels)) {
        for (const SummedChannel& channel : channels_)
            descriptions_.push_back(channel.description);
    }

    const IOReportChannelList& channels() const override { return descriptions_; }

    void sample(const IOReportChannelList& wanted, IOReportChannelList& out) override {
        for (const IOReportChannel& want : wanted) {
            const auto found =
                std::find_if(channels_.begin(), channels_.end(), [&](const SummedChannel& c) {
                    return c.description.channelID == want.channelID;
                });
            if (found == channels_.end())
                continue;
            if (auto values = read(*found))
                out.push_back(std::move(*values));
        }
    }

private:
    // A channel of which one file fails this time is left out of this sample: a sum without
    // one of its parts would look like a counter that went back.
    std::optional<IOReportChannel> read(const SummedChannel& channel) const {
        IOReportChannel values = channel.description;
        for (std::size_t i = 0; i < channel.sums.size(); ++i) {
            std::uint64_t sum = 0;
            for (const std::string& file : channel.sums[i]) {
                const auto counter = sys_.readCounter(file.c_str()).value;
                if (!counter)
                    return std::nullopt;
                sum += *counter; // wraps as the kernel's counters do; deltas are modulo 2^64
            }
            const auto value = static_cast<std::int64_t>(sum);
            if (values.states.empty())
                values.count = value;
            else if (i < values.states.size())
                values.states[i].residency = value;
        }
        return values;
    }

    const posix::RootedDirectory& sys_;
    std::vector<SummedChannel> channels_;
    IOReportChannelList descriptions_;
};

} // namespace

SummedCounterGroup::SummedCounterGroup(const posix::RootedDirectory& sys, std::string group,
                                       std::string subgroup, Discover discover)
    : sys_(sys), group_(std::move(group)), subgroup_(std::move(subgroup)),
      discover_(std::move(discover)) {}

bool SummedCounterGroup::names(std::string_view group,
                               std::optional<std::string_view> subgroup) const {
    return group == group_ && subgroup && *subgroup == subgroup_;
}

std::optional<IOReportChannelList> SummedCounterGroup::discover() {
    std::vector<SummedChannel> found = discover_(sys_);
    IOReportChannelList channels;
    std::lock_guard lock(mutex_);
    for (SummedChannel& channel : found) {
        channels.push_back(channel.description);
        found_.insert_or_assign(channel.description.channelID, std::move(channel));
    }
    if (channels.empty())
        return std::nullopt;
    return channels;
}

std::unique_ptr<GroupReader> SummedCounterGroup::subscribe(const IOReportChannelList& wanted,
                                                           std::size_t&) {
    std::vector<SummedChannel> chosen;
    std::lock_guard lock(mutex_);
    for (const IOReportChannel& want : wanted) {
        const auto found = found_.find(want.channelID);
        if (found == found_.end() ||
            std::any_of(chosen.begin(), chosen.end(), [&](const SummedChannel& channel) {
                return channel.description.channelID == want.channelID;
            }))
            continue;
        chosen.push_back(found->second);
    }
    if (chosen.empty())
        return nullptr;
    return std::make_unique<SummedCounterReader>(sys_, std::move(chosen));
}

} // namespace brivane::platform::linux_backend
