#include "backends/posix/shared/ioreport_delta.h"

namespace brivane::platform {

namespace {

std::int64_t difference(std::int64_t newer, std::int64_t older) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(newer) -
                                     static_cast<std::uint64_t>(older));
}

// Samples of one subscription list their channels in the same order, so the same position
// is tried first.
const IOReportChannel* counterpart(const IOReportChannelList& older, std::size_t position,
                                   std::uint64_t id) {
    if (position < older.size() && older[position].channelID == id)
        return &older[position];
    for (const IOReportChannel& channel : older)
        if (channel.channelID == id)
            return &channel;
    return nullptr;
}

bool sameStates(const IOReportChannel& a, const IOReportChannel& b) {
    if (a.declaredStateCount != b.declaredStateCount || a.states.size() != b.states.size())
        return false;
    for (std::size_t i = 0; i < a.states.size(); ++i)
        if (a.states[i].name != b.states[i].name)
            return false;
    return true;
}

} // namespace

IOReportChannelList subtractSamples(const IOReportSample& older, const IOReportSample& newer) {
    IOReportChannelList changes;
    changes.reserve(newer.channels.size());
    for (std::size_t i = 0; i < newer.channels.size(); ++i) {
        const IOReportChannel& current = newer.channels[i];
        const IOReportChannel* before = counterpart(older.channels, i, current.channelID);
        if (!before || !sameStates(*before, current))
            continue;
        IOReportChannel& change = changes.emplace_back(current);
        change.count = difference(current.count, before->count);
        for (std::size_t s = 0; s < change.states.size(); ++s)
            change.states[s].residency =
                difference(current.states[s].residency, before->states[s].residency);
    }
    return changes;
}

} // namespace brivane::platform
