#pragma once

// `history --plot FILE.svg`: the picked series as a picture, a panel per unit with value and
// local-time axes, the limits as dashed lines and a legend. Every text from the history (names,
// units) is XML-escaped; bytes XML cannot hold (controls, broken UTF-8) become U+FFFD.

#include "history_report.h"

#include <string>
#include <string_view>

namespace brivane::cli {

std::string historySvg(const HistoryReport& report);

// Text as XML character data or an attribute value.
std::string xmlEscaped(std::string_view text);

} // namespace brivane::cli
