#pragma once

#include "platform/ioreport_source.h"

namespace brivane::platform {

// The per-channel differences from `older` to `newer`, in `newer`'s order. A channel gives a
// delta only when `older` holds it too (matched by channelID) with the same states: a channel
// that is new, or whose state list changed (a policy that gained or lost a frequency), gives
// nothing this time, because its cumulative values are no difference of anything. Counts and
// residencies are subtracted modulo 2^64, as the platform's unsigned counters wrap.
IOReportChannelList subtractSamples(const IOReportSample& older, const IOReportSample& newer);

} // namespace brivane::platform
