#pragma once

#include "platform/transfer.h"

#include <optional>
#include <string>
#include <string_view>

namespace brivane::platform::posix {

// What the transfer helper prints on its standard output: one line, then for a fetch the body.
//   "response <status> <final address>\n" <body bytes>
//   "error <description>\n"
struct TransferReport {
    std::optional<std::string> error;
    std::optional<TransferResponse> response;
    std::string body;
};

// The first line; line feeds inside the description or address become blanks.
std::string transferReportHead(const TransferReport& report);

// The report in a helper's output; nullopt when it is not one.
std::optional<TransferReport> parseTransferReport(std::string_view output);

} // namespace brivane::platform::posix
