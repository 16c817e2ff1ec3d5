#include "readers/process_details_reader.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <unistd.h>

namespace brivane {
namespace {

TEST(ProcessDetailsReaderOnThisMachine, RanksOtherProcessesByMemory) {
    ProcessDetailsReader reader(platform::makeDefaultProcessTable(), nullptr,
                                platform::makeDefaultUptimeClock());
    ProcessDetailsSnapshot snapshot = reader.read(ProcessDetailsKind::memory);
    EXPECT_EQ(snapshot.helperUID, getuid());
    EXPECT_EQ(snapshot.helperEffectiveUID, geteuid());
    ASSERT_FALSE(snapshot.ranked.empty()); // at least whoever started this test
    EXPECT_LE(snapshot.ranked.size(), 128u);
    for (const auto& reading : snapshot.ranked) {
        EXPECT_NE(reading.pid, getpid());
        EXPECT_FALSE(reading.name.empty());
        EXPECT_GT(reading.usage, 0.0);
    }
    EXPECT_TRUE(std::is_sorted(snapshot.ranked.begin(), snapshot.ranked.end(),
                               [](const auto& a, const auto& b) { return a.usage > b.usage; }));
    EXPECT_TRUE(reader.read(ProcessDetailsKind::storage).storage.empty()); // baseline only
}

} // namespace
} // namespace brivane
