#pragma once

#include <string_view>

namespace brivane {

// Whether the signature tool's output names a leaf that is an installer certificate of the
// team: a line that, trimmed, begins with "1. Developer ID Installer:" and that, untrimmed,
// ends with "(<team>)". Trailing blanks after the parenthesis therefore disqualify a line.
bool hasInstallerCertificateLine(std::string_view output, std::string_view team);

bool isValidUTF8(std::string_view text);

} // namespace brivane
