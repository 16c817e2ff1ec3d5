#pragma once

#include <functional>
#include <string_view>

namespace brivane {

// Where the SMC layer reports failures: one call per line, without the line feed.
using SMCLineSink = std::function<void(std::string_view line)>;

// Writes each line to standard output and flushes, one write per line so that lines from
// several threads do not interleave.
SMCLineSink standardOutputLineSink();

} // namespace brivane
