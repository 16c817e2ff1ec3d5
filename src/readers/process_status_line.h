#pragma once

#include "formats/cpu_details_snapshot.h"

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace brivane {

// One line of the process-status tool ("pid cpu-percent name") as a reading: a pid of at
// least 1, a finite non-negative percentage and the rest of the line, inner and trailing
// blanks included, as the name. Takes arbitrary bytes; invalid UTF-8 in the name becomes
// U+FFFD. Nothing for a line that does not fit.
std::optional<CPUDetailsSnapshot::ProcessReading> parseProcessStatusLine(std::string_view line);

// The tool's whole output: split at every Unicode line break, empty lines dropped, lines
// parsed in order until `limit` readings were found.
std::vector<CPUDetailsSnapshot::ProcessReading> parseProcessStatusOutput(std::string_view output,
                                                                         std::size_t limit);

} // namespace brivane
