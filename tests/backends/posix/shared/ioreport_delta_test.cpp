#include "backends/posix/shared/ioreport_delta.h"

#include <gtest/gtest.h>
#include <limits>

namespace brivane::platform {
namespace {

IOReportChannel channel(std::uint64_t id, std::int64_t count, std::vector<std::int64_t> states) {
    IOReportChannel made;
    made.channelID = id;
    made.count = count;
    for (std::int64_t residency : states)
        made.states.push_back({"S" + std::to_string(made.states.size()), residency});
    made.declaredStateCount = static_cast<std::int32_t>(made.states.size());
    return made;
}

struct Change {
    std::uint64_t id;
    std::int64_t count;
    std::vector<std::int64_t> states;
    bool operator==(const Change&) const = default;
};

std::vector<Change> changes(const IOReportChannelList& delta) {
    std::vector<Change> out;
    for (const IOReportChannel& c : delta) {
        Change change{c.channelID, c.count, {}};
        for (const IOReportState& state : c.states)
            change.states.push_back(state.residency);
        out.push_back(change);
    }
    return out;
}

TEST(SubtractSamples, ChannelsWithTheSameStatesOnly) {
    constexpr std::int64_t top = std::numeric_limits<std::int64_t>::max();
    IOReportChannel renamed = channel(5, 0, {10});
    renamed.states[0].name = "other";
    struct Case {
        const char* what;
        IOReportChannelList older, newer;
        std::vector<Change> expected;
    };
    const Case cases[] = {
        {"differences",
         {channel(1, 10, {}), channel(2, 0, {5, 7})},
         {channel(1, 25, {}), channel(2, 0, {8, 7})},
         {{1, 15, {}}, {2, 0, {3, 0}}}},
        {"matched by id, in the newer order",
         {channel(2, 0, {1}), channel(1, 1, {})},
         {channel(1, 4, {}), channel(2, 0, {6})},
         {{1, 3, {}}, {2, 0, {5}}}},
        {"a counter that wrapped",
         {channel(1, top, {})},
         {channel(1, std::numeric_limits<std::int64_t>::min(), {})},
         {{1, 1, {}}}},
        {"new channel: nothing", {channel(1, 1, {})}, {channel(3, 9, {1})}, {}},
        {"a state gained: nothing, never the raw values",
         {channel(4, 0, {1, 2})},
         {channel(4, 0, {3, 4, 500})},
         {}},
        {"a state renamed: nothing", {channel(5, 0, {1})}, {renamed}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(changes(subtractSamples({c.older}, {c.newer})), c.expected);
    }
}

} // namespace
} // namespace brivane::platform
