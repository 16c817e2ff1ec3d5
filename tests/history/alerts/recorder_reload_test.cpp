#include "history/recorder_clock.h"

#include <csignal>
#include <gtest/gtest.h>

namespace brivane::cli {
namespace {

TEST(RecorderReload, SighupWakesTheRecorderToReloadAndTermToStop) {
    SystemRecorderClock clock;
    const std::int64_t later = clock.nowMs() + 60000;
    ::raise(SIGHUP);
    EXPECT_EQ(clock.waitUntil(later), RecorderClock::Woke::reload);
    ::raise(SIGTERM);
    EXPECT_EQ(clock.waitUntil(later), RecorderClock::Woke::stop);
}

} // namespace
} // namespace brivane::cli
