#include "platform/uptime_clock.h"

#include <gtest/gtest.h>

namespace brivane::platform {
namespace {

TEST(UptimeClock, DefaultClockIsMonotonicAndSinceBoot) {
    const auto clock = makeDefaultUptimeClock();
    const double first = clock->uptime();
    const double second = clock->uptime();
    EXPECT_GT(first, 0.0);
    EXPECT_GE(second, first);
}

} // namespace
} // namespace brivane::platform
