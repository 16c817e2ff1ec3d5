#pragma once

#include "platform/transfer.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brivane::system_tools {

// For tests only: reach the fixed HTTPS addresses on a local server without changing them.
struct CurlTestRouting {
    std::optional<std::string> caFile;  // trust this CA bundle instead of the system's
    std::vector<std::string> connectTo; // "HOST:PORT:CONNECT-TO-HOST:CONNECT-TO-PORT" entries
};

// libcurl transfers for the agent's transfer helper, HTTPS only (redirects too). The request
// time-out is an idle limit (no byte for that long fails), the resource time-out bounds the
// whole transfer. Nothing is stored: no cookie engine, no netrc, no HSTS or alt-svc cache.

// The body, cut at bodyLimit + 1 bytes (the transfer stops there).
platform::DataTransferResult curlFetch(const std::string& url, std::size_t bodyLimit,
                                       const platform::TransferConfiguration& configuration,
                                       const CurlTestRouting& routing = {});

// The body into a new file at `file` (never an existing one); cancelled once the announced
// total or the bytes received exceed maximumBytes, before any byte past it is stored. On
// success the result names the file.
platform::DownloadTransferResult curlDownload(const std::string& url, const std::string& file,
                                              std::int64_t maximumBytes,
                                              const platform::TransferConfiguration& configuration,
                                              const CurlTestRouting& routing = {});

} // namespace brivane::system_tools
