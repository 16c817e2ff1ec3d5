#pragma once

#include "platform/uptime_clock.h"

#include <functional>
#include <memory>
#include <string_view>

namespace brivane {

// Where the SMC layer reports failures: one call per line, without the line feed.
using SMCLineSink = std::function<void(std::string_view line)>;

// Writes each line to standard output and flushes, one write per line so that lines from
// several threads do not interleave.
SMCLineSink standardOutputLineSink();

// Seconds between two showings of the same line by a repeat-limited sink.
inline constexpr double kRepeatedLineInterval = 600;

// Passes each distinct line on the first time it comes, then at most once per `interval`
// seconds of `clock`; a line shown after repeats were held back ends in
// " (repeated N times since last shown)". A polled agent meets the same failure on every
// snapshot, and its log must not grow by the same line each time. Thread-safe.
SMCLineSink repeatLimitedLineSink(SMCLineSink inner,
                                  std::shared_ptr<const platform::UptimeClock> clock,
                                  double interval = kRepeatedLineInterval);

} // namespace brivane
